/* One toast: the ToastImageAndText02 template filled with the image, the
 * title and the text, shown through a notifier for our identity. Each
 * step runs only when the one before succeeded; references are released
 * in reverse order of their making as the function returns. */
#include <windows.h>
#include <roapi.h>
#include <strsafe.h>
#include <winstring.h>

#include "notify.h"
#include "toast_api.h"
#include "toast_handler.h"

StringRef::StringRef(const wchar_t *text) {
    made = WindowsCreateStringReference(text, static_cast<UINT32>(lstrlenW(text)), &header, &value);
}

// A no-op for a reference; kept so that the pairing stays right if the
// string is ever made by copying.
StringRef::~StringRef() { WindowsDeleteString(value); }

template <class T> static HRESULT getFactory(const wchar_t *className, Ref<T> &factory) {
    StringRef name(className);
    if (FAILED(name.result())) return name.result();
    return RoGetActivationFactory(name.get(), __uuidof(T), factory.outVoid());
}

/* Gives a template node its value: a text node appended as its child
 * (the template's nodes are empty). */
static HRESULT setNodeValue(IXmlDocument *document, IXmlNode *node, const wchar_t *value) {
    StringRef string(value);
    if (FAILED(string.result())) return string.result();
    Ref<IXmlText> text;
    HRESULT hr = document->CreateTextNode(string.get(), text.out());
    if (FAILED(hr)) return hr;
    Ref<IXmlNode> textNode;
    hr = text->QueryInterface(__uuidof(IXmlNode), textNode.outVoid());
    if (FAILED(hr)) return hr;
    Ref<IXmlNode> appended;
    return node->AppendChild(textNode.get(), appended.out());
}

/* Element `index` of those named `tag`. A list answers a missing item with
 * success and null, so null counts as failure here. */
static HRESULT element(IXmlNodeList *list, UINT32 index, Ref<IXmlNode> &node) {
    HRESULT hr = list->Item(index, node.out());
    return SUCCEEDED(hr) && !node.get() ? E_FAIL : hr;
}

static HRESULT elements(IXmlDocument *document, const wchar_t *tag, Ref<IXmlNodeList> &list) {
    StringRef name(tag);
    if (FAILED(name.result())) return name.result();
    return document->GetElementsByTagName(name.get(), list.out());
}

static HRESULT setImageSource(IXmlDocument *document, const wchar_t *imagePath) {
    // The path goes in as given (no file: scheme, slashes unchanged), and
    // only if it fits a MAX_PATH buffer.
    wchar_t source[MAX_PATH] = L"";
    HRESULT hr = StringCchCatW(source, MAX_PATH, imagePath);
    if (FAILED(hr)) return hr;

    Ref<IXmlNodeList> images;
    hr = elements(document, L"image", images);
    if (FAILED(hr)) return hr;
    Ref<IXmlNode> image;
    hr = element(images.get(), 0, image);
    if (FAILED(hr)) return hr;
    Ref<IXmlNamedNodeMap> attributes;
    hr = image->get_Attributes(attributes.out());
    if (FAILED(hr)) return hr;
    if (!attributes.get()) return E_FAIL;
    StringRef srcName(L"src");
    if (FAILED(srcName.result())) return srcName.result();
    Ref<IXmlNode> src;
    hr = attributes->GetNamedItem(srcName.get(), src.out());
    if (FAILED(hr)) return hr;
    if (!src.get()) return E_FAIL;
    return setNodeValue(document, src.get(), source);
}

static HRESULT setTexts(IXmlDocument *document, const wchar_t *title, const wchar_t *text) {
    Ref<IXmlNodeList> lines;
    HRESULT hr = elements(document, L"text", lines);
    if (FAILED(hr)) return hr;
    UINT32 count = 0;
    hr = lines->get_Length(&count);
    if (FAILED(hr)) return hr;
    if (count < 2) return E_INVALIDARG;

    // A title that cannot be set still leaves a useful toast: only the
    // text decides.
    {
        Ref<IXmlNode> first;
        if (SUCCEEDED(element(lines.get(), 0, first))) setNodeValue(document, first.get(), title);
    }
    Ref<IXmlNode> second;
    hr = element(lines.get(), 1, second);
    if (FAILED(hr)) return hr;
    return setNodeValue(document, second.get(), text);
}

HRESULT showToast(const ToastRequest &request) {
    Ref<IToastNotificationManagerStatics> statics;
    HRESULT hr = getFactory(KX4_CLASS_TOAST_MANAGER, statics);
    if (FAILED(hr)) return hr;

    Ref<IXmlDocument> document;
    hr = statics->GetTemplateContent(ToastImageAndText02, document.out());
    if (FAILED(hr)) return hr;
    hr = setImageSource(document.get(), request.imagePath);
    if (FAILED(hr)) return hr;
    hr = setTexts(document.get(), request.title, request.text);
    if (FAILED(hr)) return hr;

    Ref<IToastNotifier> notifier;
    {
        StringRef appId(KX4_NOTIFY_APP_ID);
        if (FAILED(appId.result())) return appId.result();
        hr = statics->CreateToastNotifierWithId(appId.get(), notifier.out());
        if (FAILED(hr)) return hr;
    }

    Ref<IToastNotificationFactory> factory;
    hr = getFactory(KX4_CLASS_TOAST_NOTIFICATION, factory);
    if (FAILED(hr)) return hr;
    Ref<IToastNotification> toast;
    hr = factory->CreateToastNotification(document.get(), toast.out());
    if (FAILED(hr)) return hr;

    Ref<ToastEventHandler> handler(ToastEventHandler::create(request.mainWindow, request.statusWindow));
    if (!handler.get()) return E_OUTOFMEMORY;
    // The tokens are not kept: the handlers stay for the toast's lifetime.
    EventRegistrationToken token;
    hr = toast->add_Activated(static_cast<IToastActivatedHandler *>(handler.get()), &token);
    if (SUCCEEDED(hr)) hr = toast->add_Dismissed(static_cast<IToastDismissedHandler *>(handler.get()), &token);
    if (SUCCEEDED(hr)) hr = toast->add_Failed(static_cast<IToastFailedHandler *>(handler.get()), &token);
    if (FAILED(hr)) return hr;

    return notifier->Show(toast.get());
}
