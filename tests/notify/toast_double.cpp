/* kx4toastdouble.dll: a test double of the Windows Runtime toast classes
 * (Windows.UI.Notifications.ToastNotificationManager and ToastNotification),
 * registered in the test prefix as their server. It implements just what
 * kx4notify uses and writes every call, in order, to the file named by
 * KX4_NOTIFY_LOG, one UTF-8 line each; strings are JSON-quoted.
 *
 * KX4_TOAST_MODE, a comma-separated list, changes its behaviour:
 *   one-text      the template has a single text element
 *   no-image      the template has no image element
 *   fail-title    appending to the first text element fails
 *   fail-text     appending to the second text element fails
 *   invoke        Show calls the registered handlers (see invokeHandlers)
 *
 * For `invoke` the double replaces kx4notify's imports of
 * SetForegroundWindow and SendMessageW with recorders, so that calls that
 * reach no window (the program's handles are null) still show what was
 * sent; the recorders either pass the call on or answer as a window would. */
#include <string>
#include <vector>
#include <windows.h>
#include <activation.h>
#include <winstring.h>

#include "toast_api.h"

#include "test_log.h"

static bool mode(const char *flag) {
    char modes[256];
    if (!GetEnvironmentVariableA("KX4_TOAST_MODE", modes, sizeof modes)) return false;
    std::string all = std::string(",") + modes + ",";
    return all.find(std::string(",") + flag + ",") != std::string::npos;
}

static std::wstring fromHString(HSTRING s) {
    UINT32 n = 0;
    const wchar_t *raw = WindowsGetStringRawBuffer(s, &n);
    return std::wstring(raw, n);
}

// ------------------------------------------------------- object plumbing

/* Reference counting and IInspectable for the double's objects; `name`
 * is logged when the last reference goes. */
template <class Derived> class Counted {
public:
    ULONG addRef() { return InterlockedIncrement(&refs); }
    ULONG release(const char *name) {
        LONG left = InterlockedDecrement(&refs);
        if (left == 0) {
            if (name) logLine(std::string("released ") + name);
            delete static_cast<Derived *>(this);
        }
        return left;
    }
    virtual ~Counted() = default;

private:
    LONG refs = 1;
};

#define KX4_INSPECTABLE_STUBS                                                                              \
    HRESULT STDMETHODCALLTYPE GetIids(ULONG *count, IID **iids) override {                                  \
        *count = 0;                                                                                        \
        *iids = nullptr;                                                                                   \
        return S_OK;                                                                                       \
    }                                                                                                      \
    HRESULT STDMETHODCALLTYPE GetRuntimeClassName(HSTRING *name) override {                                 \
        *name = nullptr;                                                                                   \
        return E_NOTIMPL;                                                                                  \
    }                                                                                                      \
    HRESULT STDMETHODCALLTYPE GetTrustLevel(TrustLevel *level) override {                                   \
        *level = BaseTrust;                                                                                \
        return S_OK;                                                                                       \
    }

// --------------------------------------------------------------- the DOM

/* {0b6a3d8e-2f4c-4c1e-9d57-kx4 double node}: how the double recognises its
 * own nodes when one is handed back to it. */
static const GUID kDoubleNode = {0x0b6a3d8e, 0x2f4c, 0x4c1e, {0x9d, 0x57, 0x6b, 0x78, 0x34, 0x6e, 0x6f, 0x64}};

class Node;

class NodeList final : public IXmlNodeList, public Counted<NodeList> {
public:
    explicit NodeList(std::vector<Node *> items);
    ~NodeList() override;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IInspectable) || iid == __uuidof(IXmlNodeList)) {
            *out = static_cast<IXmlNodeList *>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return release(nullptr); }
    KX4_INSPECTABLE_STUBS
    HRESULT STDMETHODCALLTYPE get_Length(UINT32 *value) override;
    HRESULT STDMETHODCALLTYPE Item(UINT32 index, IXmlNode **node) override;

private:
    std::vector<Node *> items;
};

class AttributeMap;

/* An element, an attribute or a text node. */
class Node final : public IXmlNode, public IXmlText, public Counted<Node> {
public:
    enum Kind { Element, Attribute, Text };
    Node(Kind kind, std::wstring name, std::wstring label) : kind(kind), name(std::move(name)), label(std::move(label)) {}
    ~Node() override {
        for (Node *n : children) n->Release();
        for (Node *n : attributes) n->Release();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IInspectable) || iid == __uuidof(IXmlNode)) {
            *out = static_cast<IXmlNode *>(this);
        } else if (iid == __uuidof(IXmlText) && kind == Text) {
            *out = static_cast<IXmlText *>(this);
        } else if (iid == kDoubleNode) {
            *out = this;  // no reference: only compared and cast
            return S_OK;
        } else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return release(nullptr); }
    KX4_INSPECTABLE_STUBS

    HRESULT STDMETHODCALLTYPE get_NodeValue(IInspectable **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_NodeValue(IInspectable *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_NodeType(XmlNodeType *value) override {
        *value = kind == Element ? 1 : kind == Attribute ? 2 : 3;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_NodeName(HSTRING *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_ParentNode(IXmlNode **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_ChildNodes(IXmlNodeList **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_FirstChild(IXmlNode **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_LastChild(IXmlNode **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_PreviousSibling(IXmlNode **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_NextSibling(IXmlNode **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Attributes(IXmlNamedNodeMap **value) override;
    HRESULT STDMETHODCALLTYPE HasChildNodes(boolean *value) override {
        *value = !children.empty();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_OwnerDocument(IXmlDocument **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE InsertBefore(IXmlNode *, IXmlNode *, IXmlNode **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ReplaceChild(IXmlNode *, IXmlNode *, IXmlNode **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RemoveChild(IXmlNode *, IXmlNode **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AppendChild(IXmlNode *newChild, IXmlNode **appended) override {
        Node *child = nullptr;
        if (!newChild || FAILED(newChild->QueryInterface(kDoubleNode, reinterpret_cast<void **>(&child)))) {
            logLine("append foreign node to " + utf8(label.data(), label.size()));
            return E_INVALIDARG;
        }
        bool fail = (label == L"text#1" && mode("fail-title")) || (label == L"text#2" && mode("fail-text"));
        logLine("append " + quoted(child->name) + " to " + utf8(label.data(), label.size()) + (fail ? " failed" : ""));
        if (fail) return E_FAIL;
        child->AddRef();
        children.push_back(child);
        newChild->AddRef();
        *appended = newChild;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CloneNode(boolean, IXmlNode **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_NamespaceUri(IInspectable **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_LocalName(IInspectable **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Prefix(IInspectable **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Normalize() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_Prefix(IInspectable *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SplitText(UINT32, IXmlText **) override { return E_NOTIMPL; }

    Node *add(Node *child) {
        (child->kind == Attribute ? attributes : children).push_back(child);
        return child;
    }
    void collect(const std::wstring &tag, std::vector<Node *> &out) {
        if (kind == Element && name == tag) out.push_back(this);
        for (Node *n : children) n->collect(tag, out);
    }
    std::wstring xml() const {
        std::wstring out;
        if (kind == Text) return escape(name);
        out = L"<" + name;
        for (Node *a : attributes) {
            std::wstring value;
            for (Node *t : a->children) value += t->xml();
            out += L" " + a->name + L"=\"" + value + L"\"";
        }
        if (children.empty()) return out + L"/>";
        out += L">";
        for (Node *n : children) out += n->xml();
        return out + L"</" + name + L">";
    }

    const Kind kind;
    const std::wstring name;   // tag, attribute name, or a text node's data
    const std::wstring label;  // how the log names this node
    std::vector<Node *> attributes, children;

private:
    static std::wstring escape(const std::wstring &s) {
        std::wstring out;
        for (wchar_t c : s) {
            switch (c) {
            case L'&': out += L"&amp;"; break;
            case L'<': out += L"&lt;"; break;
            case L'>': out += L"&gt;"; break;
            case L'"': out += L"&quot;"; break;
            default: out += c;
            }
        }
        return out;
    }
};

NodeList::NodeList(std::vector<Node *> nodes) : items(std::move(nodes)) {
    for (Node *n : items) n->AddRef();
}
NodeList::~NodeList() {
    for (Node *n : items) n->Release();
}
HRESULT STDMETHODCALLTYPE NodeList::get_Length(UINT32 *value) {
    *value = static_cast<UINT32>(items.size());
    logLine("length " + std::to_string(items.size()));
    return S_OK;
}
HRESULT STDMETHODCALLTYPE NodeList::Item(UINT32 index, IXmlNode **node) {
    logLine("item " + std::to_string(index));
    // As the system's list does: an index past the end gives null.
    *node = nullptr;
    if (index < items.size()) {
        *node = static_cast<IXmlNode *>(items[index]);
        (*node)->AddRef();
    }
    return S_OK;
}

class AttributeMap final : public IXmlNamedNodeMap, public Counted<AttributeMap> {
public:
    explicit AttributeMap(Node *element) : element(element) { element->AddRef(); }
    ~AttributeMap() override { element->Release(); }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IInspectable) || iid == __uuidof(IXmlNamedNodeMap)) {
            *out = static_cast<IXmlNamedNodeMap *>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return release(nullptr); }
    KX4_INSPECTABLE_STUBS
    HRESULT STDMETHODCALLTYPE get_Length(UINT32 *value) override {
        *value = static_cast<UINT32>(element->attributes.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Item(UINT32, IXmlNode **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetNamedItem(HSTRING name, IXmlNode **node) override {
        std::wstring wanted = fromHString(name);
        logLine("named item " + quoted(wanted));
        *node = nullptr;
        for (Node *a : element->attributes) {
            if (a->name == wanted) {
                *node = static_cast<IXmlNode *>(a);
                a->AddRef();
            }
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetNamedItem(IXmlNode *, IXmlNode **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RemoveNamedItem(HSTRING, IXmlNode **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetNamedItemNS(IInspectable *, HSTRING, IXmlNode **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RemoveNamedItemNS(IInspectable *, HSTRING, IXmlNode **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetNamedItemNS(IXmlNode *, IXmlNode **) override { return E_NOTIMPL; }

private:
    Node *element;
};

HRESULT STDMETHODCALLTYPE Node::get_Attributes(IXmlNamedNodeMap **value) {
    logLine("attributes of " + utf8(label.data(), label.size()));
    *value = new AttributeMap(this);
    return S_OK;
}

class Document final : public IXmlDocument, public Counted<Document> {
public:
    /* The ToastImageAndText02 template:
     * <toast><visual><binding template="ToastImageAndText02">
     *   <image id="1" src=""/><text id="1"></text><text id="2"></text>
     * </binding></visual></toast> (minus what the mode leaves out). */
    Document() {
        root = new Node(Node::Element, L"toast", L"toast");
        Node *binding = root->add(new Node(Node::Element, L"visual", L"visual"))
                            ->add(new Node(Node::Element, L"binding", L"binding"));
        attribute(binding, L"template", L"ToastImageAndText02");
        if (!mode("no-image")) {
            Node *image = binding->add(new Node(Node::Element, L"image", L"image"));
            attribute(image, L"id", L"1");
            image->add(new Node(Node::Attribute, L"src", L"image@src"));
        }
        for (int i = 1; i <= (mode("one-text") ? 1 : 2); i++) {
            Node *text = binding->add(new Node(Node::Element, L"text", L"text#" + std::to_wstring(i)));
            attribute(text, L"id", std::to_wstring(i));
        }
    }
    ~Document() override { root->Release(); }
    std::wstring xml() const { return root->xml(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IInspectable) || iid == __uuidof(IXmlDocument)) {
            *out = static_cast<IXmlDocument *>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return release("document"); }
    KX4_INSPECTABLE_STUBS

    HRESULT STDMETHODCALLTYPE get_Doctype(IInspectable **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Implementation(IInspectable **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_DocumentElement(IInspectable **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateElement(HSTRING, IInspectable **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateDocumentFragment(IInspectable **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateTextNode(HSTRING data, IXmlText **node) override {
        std::wstring text = fromHString(data);
        logLine("create text " + quoted(text));
        *node = static_cast<IXmlText *>(new Node(Node::Text, text, L"text node"));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CreateComment(HSTRING, IInspectable **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateProcessingInstruction(HSTRING, HSTRING, IInspectable **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateAttribute(HSTRING, IInspectable **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateEntityReference(HSTRING, IInspectable **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetElementsByTagName(HSTRING tag, IXmlNodeList **elements) override {
        std::wstring name = fromHString(tag);
        logLine("elements " + quoted(name));
        std::vector<Node *> found;
        root->collect(name, found);
        *elements = new NodeList(found);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CreateCDataSection(HSTRING, IInspectable **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_DocumentUri(HSTRING *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateAttributeNS(IInspectable *, HSTRING, IInspectable **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateElementNS(IInspectable *, HSTRING, IInspectable **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetElementById(HSTRING, IInspectable **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ImportNode(IXmlNode *, boolean, IXmlNode **) override { return E_NOTIMPL; }

private:
    static void attribute(Node *element, const std::wstring &name, const std::wstring &value) {
        element->add(new Node(Node::Attribute, name, element->label + L"@" + name))
            ->add(new Node(Node::Text, value, L"text node"));
    }
    Node *root;
};

static Document *g_document;  // the last template handed out, for identity checks

// ------------------------------------------------------ the event sources

class DismissedArgs final : public IToastDismissedEventArgs, public Counted<DismissedArgs> {
public:
    DismissedArgs(int reason, HRESULT answer) : reason(reason), answer(answer) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IInspectable) || iid == __uuidof(IToastDismissedEventArgs)) {
            *out = static_cast<IToastDismissedEventArgs *>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return release(nullptr); }
    KX4_INSPECTABLE_STUBS
    HRESULT STDMETHODCALLTYPE get_Reason(ToastDismissalReason *value) override {
        *value = static_cast<ToastDismissalReason>(reason);
        return answer;
    }

private:
    int reason;
    HRESULT answer;
};

class FailedArgs final : public IToastFailedEventArgs, public Counted<FailedArgs> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IInspectable) || iid == __uuidof(IToastFailedEventArgs)) {
            *out = static_cast<IToastFailedEventArgs *>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return release(nullptr); }
    KX4_INSPECTABLE_STUBS
    HRESULT STDMETHODCALLTYPE get_ErrorCode(HRESULT *value) override {
        *value = E_FAIL;
        return S_OK;
    }
};

class Toast final : public IToastNotification, public Counted<Toast> {
public:
    explicit Toast(IXmlDocument *content) : content(content) { content->AddRef(); }
    ~Toast() override {
        // The event source lets go of its handlers last; the counts the
        // handler answers show whether kx4notify released its own one.
        if (activated) logLine("handler release " + std::to_string(activated->Release()));
        if (dismissed) logLine("handler release " + std::to_string(dismissed->Release()));
        if (failed) logLine("handler release " + std::to_string(failed->Release()));
        content->Release();
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IInspectable) || iid == __uuidof(IToastNotification)) {
            *out = static_cast<IToastNotification *>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return release("toast"); }
    KX4_INSPECTABLE_STUBS

    HRESULT STDMETHODCALLTYPE get_Content(IXmlDocument **value) override {
        content->AddRef();
        *value = content;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_ExpirationTime(IInspectable *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_ExpirationTime(IInspectable **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE add_Dismissed(IToastDismissedHandler *handler, EventRegistrationToken *token) override {
        return add("Dismissed", handler, dismissed, token);
    }
    HRESULT STDMETHODCALLTYPE remove_Dismissed(EventRegistrationToken) override { return remove("Dismissed"); }
    HRESULT STDMETHODCALLTYPE add_Activated(IToastActivatedHandler *handler, EventRegistrationToken *token) override {
        return add("Activated", handler, activated, token);
    }
    HRESULT STDMETHODCALLTYPE remove_Activated(EventRegistrationToken) override { return remove("Activated"); }
    HRESULT STDMETHODCALLTYPE add_Failed(IToastFailedHandler *handler, EventRegistrationToken *token) override {
        return add("Failed", handler, failed, token);
    }
    HRESULT STDMETHODCALLTYPE remove_Failed(EventRegistrationToken) override { return remove("Failed"); }

    IToastActivatedHandler *activated = nullptr;
    IToastDismissedHandler *dismissed = nullptr;
    IToastFailedHandler *failed = nullptr;

private:
    /* Logs which of the three interfaces the pointer is (by asking it for
     * each IID) and the count after the double's own AddRef. */
    template <class H> HRESULT add(const char *event, H *handler, H *&slot, EventRegistrationToken *token) {
        if (!handler) {
            logLine(std::string("add ") + event + " null");
            return E_INVALIDARG;
        }
        std::string as = "other";
        static const IID *const iids[] = {&__uuidof(IToastActivatedHandler), &__uuidof(IToastDismissedHandler),
                                          &__uuidof(IToastFailedHandler)};
        static const char *const names[] = {"Activated", "Dismissed", "Failed"};
        for (int i = 0; i < 3; i++) {
            void *p = nullptr;
            if (SUCCEEDED(handler->QueryInterface(*iids[i], &p))) {
                if (p == handler) as = names[i];
                static_cast<IUnknown *>(p)->Release();
            }
        }
        ULONG count = handler->AddRef();
        slot = handler;
        token->value = ++tokens;
        logLine(std::string("add ") + event + " handler=" + as + " count=" + std::to_string(count));
        return S_OK;
    }
    HRESULT remove(const char *event) {
        logLine(std::string("remove ") + event);
        return S_OK;
    }
    IXmlDocument *content;
    INT64 tokens = 0;
};

// ----------------------------------------------- user32 seen from inside

enum class Windows { PassOn, Present, ForegroundRefused };
static Windows g_windows = Windows::PassOn;
static BOOL(WINAPI *g_realSetForegroundWindow)(HWND);
static LRESULT(WINAPI *g_realSendMessageW)(HWND, UINT, WPARAM, LPARAM);

static BOOL WINAPI recordSetForegroundWindow(HWND window) {
    BOOL result = g_windows == Windows::PassOn ? g_realSetForegroundWindow(window)
                                               : g_windows == Windows::Present;
    logLine("SetForegroundWindow " + std::to_string(reinterpret_cast<UINT_PTR>(window)) + " -> " +
            std::to_string(result ? 1 : 0));
    return result;
}

static LRESULT WINAPI recordSendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = g_windows == Windows::PassOn ? g_realSendMessageW(window, message, wParam, lParam) : 1;
    std::string what = message == WM_SETTEXT ? "WM_SETTEXT " + quoted(reinterpret_cast<const wchar_t *>(lParam))
                                             : "message " + std::to_string(message);
    logLine("SendMessageW " + std::to_string(reinterpret_cast<UINT_PTR>(window)) + " " + what + " -> " +
            std::to_string(result ? 1 : 0));
    return result;
}

/* Calls each handler the way the system would, under each window state,
 * and logs what the handler answered and sent. Also checks the handler's
 * QueryInterface and its shared, interlocked count through every
 * interface. */
static void invokeHandlers(Toast *toast) {
    if (!toast->activated || !toast->dismissed || !toast->failed) {
        logLine("invoke: handlers missing");
        return;
    }
    if (!hookImport("user32.dll", "SetForegroundWindow", reinterpret_cast<void *>(recordSetForegroundWindow),
                    reinterpret_cast<void **>(&g_realSetForegroundWindow)) ||
        !hookImport("user32.dll", "SendMessageW", reinterpret_cast<void *>(recordSendMessageW),
                    reinterpret_cast<void **>(&g_realSendMessageW))) {
        logLine("invoke: user32 imports not found");
        return;
    }

    IUnknown *through[] = {toast->activated, toast->dismissed, toast->failed};
    const char *throughName[] = {"Activated", "Dismissed", "Failed"};
    struct {
        const char *name;
        IID iid;
    } asks[] = {{"IUnknown", __uuidof(IUnknown)},
                {"Activated", __uuidof(IToastActivatedHandler)},
                {"Dismissed", __uuidof(IToastDismissedHandler)},
                {"Failed", __uuidof(IToastFailedHandler)},
                {"IInspectable", __uuidof(IInspectable)},
                {"IAgileObject", {0x94ea2b94, 0xe9cc, 0x49e0, {0xc0, 0xff, 0xee, 0x64, 0xca, 0x8f, 0x5b, 0x90}}}};
    for (int t = 0; t < 3; t++) {
        for (auto &ask : asks) {
            void *p = reinterpret_cast<void *>(1);
            HRESULT hr = through[t]->QueryInterface(ask.iid, &p);
            std::string which = !p ? "null" : "?";
            for (int i = 0; i < 3; i++)
                if (p == through[i]) which = throughName[i];
            ULONG count = 0;
            if (SUCCEEDED(hr) && p) count = static_cast<IUnknown *>(p)->Release();
            logLine(std::string("qi via ") + throughName[t] + " " + ask.name + " -> " + hex(hr) + " " + which +
                    (SUCCEEDED(hr) ? " count=" + std::to_string(count) : ""));
        }
        ULONG up = through[t]->AddRef(), down = through[t]->Release();
        logLine(std::string("addref via ") + throughName[t] + " -> " + std::to_string(up) + " release -> " +
                std::to_string(down));
    }

    const struct {
        Windows state;
        const char *name;
    } states[] = {{Windows::PassOn, "null-windows"},
                  {Windows::Present, "windows"},
                  {Windows::ForegroundRefused, "foreground-refused"}};
    for (auto &state : states) {
        g_windows = state.state;
        logLine(std::string("windows ") + state.name);
        logLine("invoke Activated -> " + hex(toast->activated->Invoke(toast, nullptr)));
        for (int reason : {0, 1, 2, 3, -1}) {
            DismissedArgs *args = new DismissedArgs(reason, S_OK);
            logLine("invoke Dismissed reason=" + std::to_string(reason) + " -> " +
                    hex(toast->dismissed->Invoke(toast, args)));
            args->Release();
        }
        FailedArgs *failedArgs = new FailedArgs();
        logLine("invoke Failed -> " + hex(toast->failed->Invoke(toast, failedArgs)));
        failedArgs->Release();
    }
    // A reason that cannot be read: its error comes back unchanged and
    // nothing is sent.
    g_windows = Windows::Present;
    DismissedArgs *broken = new DismissedArgs(0, HRESULT_FROM_WIN32(ERROR_INVALID_STATE));
    logLine("invoke Dismissed unreadable -> " + hex(toast->dismissed->Invoke(toast, broken)));
    broken->Release();
    g_windows = Windows::PassOn;
}

class Notifier final : public IToastNotifier, public Counted<Notifier> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IInspectable) || iid == __uuidof(IToastNotifier)) {
            *out = static_cast<IToastNotifier *>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return release("notifier"); }
    KX4_INSPECTABLE_STUBS
    HRESULT STDMETHODCALLTYPE Show(IToastNotification *notification) override {
        Toast *toast = static_cast<Toast *>(notification);  // only ours are ever shown here
        IXmlDocument *content = nullptr;
        toast->get_Content(&content);
        logLine("show " + quoted(static_cast<Document *>(content)->xml()));
        content->Release();
        if (mode("invoke")) invokeHandlers(toast);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Hide(IToastNotification *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Setting(int *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AddToSchedule(IInspectable *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RemoveFromSchedule(IInspectable *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetScheduledToastNotifications(IInspectable **) override { return E_NOTIMPL; }
};

// ------------------------------------------------------------ factories

class ManagerStatics final : public IActivationFactory, public IToastNotificationManagerStatics,
                             public Counted<ManagerStatics> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IInspectable) || iid == __uuidof(IActivationFactory)) {
            *out = static_cast<IActivationFactory *>(this);
        } else if (iid == __uuidof(IToastNotificationManagerStatics)) {
            *out = static_cast<IToastNotificationManagerStatics *>(this);
        } else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return release("manager statics"); }
    KX4_INSPECTABLE_STUBS
    HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable **) override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE CreateToastNotifier(IToastNotifier **) override {
        logLine("notifier without identity");
        return E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE CreateToastNotifierWithId(HSTRING id, IToastNotifier **result) override {
        logLine("notifier " + quoted(fromHString(id)));
        *result = new Notifier();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTemplateContent(ToastTemplateType type, IXmlDocument **result) override {
        logLine("template " + std::to_string(static_cast<int>(type)));
        g_document = new Document();
        *result = g_document;
        return S_OK;
    }
};

class NotificationFactory final : public IActivationFactory, public IToastNotificationFactory,
                                  public Counted<NotificationFactory> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IInspectable) || iid == __uuidof(IActivationFactory)) {
            *out = static_cast<IActivationFactory *>(this);
        } else if (iid == __uuidof(IToastNotificationFactory)) {
            *out = static_cast<IToastNotificationFactory *>(this);
        } else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return release("toast factory"); }
    KX4_INSPECTABLE_STUBS
    HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateToastNotification(IXmlDocument *content, IToastNotification **value) override {
        bool ours = g_document && content == static_cast<IXmlDocument *>(g_document);
        logLine(std::string("toast from ") + (ours ? "the template" : "another document"));
        if (!ours) return E_INVALIDARG;
        *value = new Toast(content);
        return S_OK;
    }
};

extern "C" __declspec(dllexport) HRESULT WINAPI DllGetActivationFactory(HSTRING classId, IActivationFactory **factory) {
    std::wstring name = fromHString(classId);
    logLine("factory " + quoted(name));
    *factory = nullptr;
    if (name == KX4_CLASS_TOAST_MANAGER) {
        *factory = static_cast<IActivationFactory *>(new ManagerStatics());
        return S_OK;
    }
    if (name == KX4_CLASS_TOAST_NOTIFICATION) {
        *factory = static_cast<IActivationFactory *>(new NotificationFactory());
        return S_OK;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}
