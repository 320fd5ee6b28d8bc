/* The Windows Runtime interfaces of toast notifications and of the XML
 * document a toast is made from, as the published interface definitions
 * give them (Windows.UI.Notifications, Windows.Data.Xml.Dom). MinGW-w64's
 * headers do not declare them.
 *
 * Every slot of each vtable is declared, in the published order, because
 * a method is reached by its position; slots this program never calls
 * keep their place with parameter types that only need to be pointers.
 * Methods use STDMETHODCALLTYPE like the system headers' own, so that an
 * x86 build calls and implements them with the system's convention. */
#ifndef KX4_TOAST_API_H
#define KX4_TOAST_API_H

#include <windows.h>
#include <eventtoken.h>
#include <hstring.h>
#include <inspectable.h>

/* Windows.UI.Notifications.ToastTemplateType: the template with one image
 * and two lines of text. */
enum ToastTemplateType { ToastImageAndText02 = 1 };

/* Windows.UI.Notifications.ToastDismissalReason */
enum ToastDismissalReason {
    ToastDismissalReason_UserCanceled = 0,
    ToastDismissalReason_ApplicationHidden = 1,
    ToastDismissalReason_TimedOut = 2,
};

/* Windows.Data.Xml.Dom.NodeType (only as a slot type here). */
typedef int XmlNodeType;

struct IXmlDocument;
struct IXmlNode;
struct IXmlNodeList;
struct IXmlNamedNodeMap;
struct IXmlText;
struct IToastNotification;
struct IToastNotifier;

MIDL_INTERFACE("1c741d59-2122-47d5-a856-83f3d4214875")
IXmlNode : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_NodeValue(IInspectable **value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_NodeValue(IInspectable *value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_NodeType(XmlNodeType *value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_NodeName(HSTRING *value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ParentNode(IXmlNode **value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ChildNodes(IXmlNodeList **value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_FirstChild(IXmlNode **value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_LastChild(IXmlNode **value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_PreviousSibling(IXmlNode **value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_NextSibling(IXmlNode **value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Attributes(IXmlNamedNodeMap **value) = 0;
    virtual HRESULT STDMETHODCALLTYPE HasChildNodes(boolean *value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_OwnerDocument(IXmlDocument **value) = 0;
    virtual HRESULT STDMETHODCALLTYPE InsertBefore(IXmlNode *newChild, IXmlNode *referenceChild, IXmlNode **inserted) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReplaceChild(IXmlNode *newChild, IXmlNode *referenceChild, IXmlNode **previous) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveChild(IXmlNode *childNode, IXmlNode **removed) = 0;
    virtual HRESULT STDMETHODCALLTYPE AppendChild(IXmlNode *newChild, IXmlNode **appended) = 0;
    virtual HRESULT STDMETHODCALLTYPE CloneNode(boolean deep, IXmlNode **newNode) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_NamespaceUri(IInspectable **value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_LocalName(IInspectable **value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Prefix(IInspectable **value) = 0;
    virtual HRESULT STDMETHODCALLTYPE Normalize() = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Prefix(IInspectable *value) = 0;
};
__CRT_UUID_DECL(IXmlNode, 0x1c741d59, 0x2122, 0x47d5, 0xa8, 0x56, 0x83, 0xf3, 0xd4, 0x21, 0x48, 0x75)

MIDL_INTERFACE("8c60ad77-83a4-4ec1-9c54-7ba429e13da6")
IXmlNodeList : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_Length(UINT32 *value) = 0;
    virtual HRESULT STDMETHODCALLTYPE Item(UINT32 index, IXmlNode **node) = 0;
};
__CRT_UUID_DECL(IXmlNodeList, 0x8c60ad77, 0x83a4, 0x4ec1, 0x9c, 0x54, 0x7b, 0xa4, 0x29, 0xe1, 0x3d, 0xa6)

MIDL_INTERFACE("b3a69eb0-aab0-4b82-a6fa-b1453f7c021b")
IXmlNamedNodeMap : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_Length(UINT32 *value) = 0;
    virtual HRESULT STDMETHODCALLTYPE Item(UINT32 index, IXmlNode **node) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNamedItem(HSTRING name, IXmlNode **node) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetNamedItem(IXmlNode *node, IXmlNode **previous) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveNamedItem(HSTRING name, IXmlNode **previous) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNamedItemNS(IInspectable *namespaceUri, HSTRING name, IXmlNode **node) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveNamedItemNS(IInspectable *namespaceUri, HSTRING name, IXmlNode **previous) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetNamedItemNS(IXmlNode *node, IXmlNode **previous) = 0;
};
__CRT_UUID_DECL(IXmlNamedNodeMap, 0xb3a69eb0, 0xaab0, 0x4b82, 0xa6, 0xfa, 0xb1, 0x45, 0x3f, 0x7c, 0x02, 0x1b)

/* IXmlText: its one method of its own. A text node answers IXmlNode too,
 * which is what AppendChild takes. */
MIDL_INTERFACE("f931a4cb-308d-4760-a1d5-43b67450ac7e")
IXmlText : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE SplitText(UINT32 offset, IXmlText **secondPart) = 0;
};
__CRT_UUID_DECL(IXmlText, 0xf931a4cb, 0x308d, 0x4760, 0xa1, 0xd5, 0x43, 0xb6, 0x74, 0x50, 0xac, 0x7e)

MIDL_INTERFACE("f7f3a506-1e87-42d6-bcfb-b8c809fa5494")
IXmlDocument : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_Doctype(IInspectable **value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Implementation(IInspectable **value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_DocumentElement(IInspectable **value) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateElement(HSTRING tagName, IInspectable **newElement) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateDocumentFragment(IInspectable **newFragment) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateTextNode(HSTRING data, IXmlText **newTextNode) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateComment(HSTRING data, IInspectable **newComment) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateProcessingInstruction(HSTRING target, HSTRING data, IInspectable **newInstruction) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateAttribute(HSTRING name, IInspectable **newAttribute) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateEntityReference(HSTRING name, IInspectable **newReference) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetElementsByTagName(HSTRING tagName, IXmlNodeList **elements) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateCDataSection(HSTRING data, IInspectable **newSection) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_DocumentUri(HSTRING *value) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateAttributeNS(IInspectable *namespaceUri, HSTRING qualifiedName, IInspectable **newAttribute) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateElementNS(IInspectable *namespaceUri, HSTRING qualifiedName, IInspectable **newElement) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetElementById(HSTRING elementId, IInspectable **element) = 0;
    virtual HRESULT STDMETHODCALLTYPE ImportNode(IXmlNode *node, boolean deep, IXmlNode **newNode) = 0;
};
__CRT_UUID_DECL(IXmlDocument, 0xf7f3a506, 0x1e87, 0x42d6, 0xbc, 0xfb, 0xb8, 0xc8, 0x09, 0xfa, 0x54, 0x94)

MIDL_INTERFACE("3f89d935-d9cb-4538-a0f0-ffe7659938f8")
IToastDismissedEventArgs : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_Reason(ToastDismissalReason *value) = 0;
};
__CRT_UUID_DECL(IToastDismissedEventArgs, 0x3f89d935, 0xd9cb, 0x4538, 0xa0, 0xf0, 0xff, 0xe7, 0x65, 0x99, 0x38, 0xf8)

MIDL_INTERFACE("35176862-cfd4-44f8-ad64-f500fd896c3b")
IToastFailedEventArgs : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_ErrorCode(HRESULT *value) = 0;
};
__CRT_UUID_DECL(IToastFailedEventArgs, 0x35176862, 0xcfd4, 0x44f8, 0xad, 0x64, 0xf5, 0x00, 0xfd, 0x89, 0x6c, 0x3b)

/* Windows.Foundation.TypedEventHandler<ToastNotification, IInspectable>:
 * the Activated event. */
MIDL_INTERFACE("ab54de2d-97d9-5528-b6ad-105afe156530")
IToastActivatedHandler : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Invoke(IToastNotification *sender, IInspectable *args) = 0;
};
__CRT_UUID_DECL(IToastActivatedHandler, 0xab54de2d, 0x97d9, 0x5528, 0xb6, 0xad, 0x10, 0x5a, 0xfe, 0x15, 0x65, 0x30)

/* TypedEventHandler<ToastNotification, ToastDismissedEventArgs>. */
MIDL_INTERFACE("61c2402f-0ed0-5a18-ab69-59f4aa99a368")
IToastDismissedHandler : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Invoke(IToastNotification *sender, IToastDismissedEventArgs *args) = 0;
};
__CRT_UUID_DECL(IToastDismissedHandler, 0x61c2402f, 0x0ed0, 0x5a18, 0xab, 0x69, 0x59, 0xf4, 0xaa, 0x99, 0xa3, 0x68)

/* TypedEventHandler<ToastNotification, ToastFailedEventArgs>. */
MIDL_INTERFACE("95e3e803-c969-5e3a-9753-ea2ad22a9a33")
IToastFailedHandler : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Invoke(IToastNotification *sender, IToastFailedEventArgs *args) = 0;
};
__CRT_UUID_DECL(IToastFailedHandler, 0x95e3e803, 0xc969, 0x5e3a, 0x97, 0x53, 0xea, 0x2a, 0xd2, 0x2a, 0x9a, 0x33)

MIDL_INTERFACE("997e2675-059e-4e60-8b06-1760917c8b80")
IToastNotification : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_Content(IXmlDocument **value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_ExpirationTime(IInspectable *value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ExpirationTime(IInspectable **value) = 0;
    virtual HRESULT STDMETHODCALLTYPE add_Dismissed(IToastDismissedHandler *handler, EventRegistrationToken *token) = 0;
    virtual HRESULT STDMETHODCALLTYPE remove_Dismissed(EventRegistrationToken token) = 0;
    virtual HRESULT STDMETHODCALLTYPE add_Activated(IToastActivatedHandler *handler, EventRegistrationToken *token) = 0;
    virtual HRESULT STDMETHODCALLTYPE remove_Activated(EventRegistrationToken token) = 0;
    virtual HRESULT STDMETHODCALLTYPE add_Failed(IToastFailedHandler *handler, EventRegistrationToken *token) = 0;
    virtual HRESULT STDMETHODCALLTYPE remove_Failed(EventRegistrationToken token) = 0;
};
__CRT_UUID_DECL(IToastNotification, 0x997e2675, 0x059e, 0x4e60, 0x8b, 0x06, 0x17, 0x60, 0x91, 0x7c, 0x8b, 0x80)

MIDL_INTERFACE("04124b20-82c6-4229-b109-fd9ed4662b53")
IToastNotificationFactory : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE CreateToastNotification(IXmlDocument *content, IToastNotification **value) = 0;
};
__CRT_UUID_DECL(IToastNotificationFactory, 0x04124b20, 0x82c6, 0x4229, 0xb1, 0x09, 0xfd, 0x9e, 0xd4, 0x66, 0x2b, 0x53)

MIDL_INTERFACE("75927b93-03f3-41ec-91d3-6e5bac1b38e7")
IToastNotifier : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE Show(IToastNotification *notification) = 0;
    virtual HRESULT STDMETHODCALLTYPE Hide(IToastNotification *notification) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Setting(int *value) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddToSchedule(IInspectable *scheduledToast) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveFromSchedule(IInspectable *scheduledToast) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetScheduledToastNotifications(IInspectable **value) = 0;
};
__CRT_UUID_DECL(IToastNotifier, 0x75927b93, 0x03f3, 0x41ec, 0x91, 0xd3, 0x6e, 0x5b, 0xac, 0x1b, 0x38, 0xe7)

MIDL_INTERFACE("50ac103f-d235-4598-bbef-98fe4d1a3ad4")
IToastNotificationManagerStatics : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE CreateToastNotifier(IToastNotifier **result) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateToastNotifierWithId(HSTRING applicationId, IToastNotifier **result) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTemplateContent(ToastTemplateType type, IXmlDocument **result) = 0;
};
__CRT_UUID_DECL(IToastNotificationManagerStatics, 0x50ac103f, 0xd235, 0x4598, 0xbb, 0xef, 0x98, 0xfe, 0x4d, 0x1a, 0x3a, 0xd4)

/* The activatable classes. */
#define KX4_CLASS_TOAST_MANAGER L"Windows.UI.Notifications.ToastNotificationManager"
#define KX4_CLASS_TOAST_NOTIFICATION L"Windows.UI.Notifications.ToastNotification"

#endif
