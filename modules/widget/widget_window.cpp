// Widget.init, create, destroy, show, setWindowTop and getProperty: the
// window class and the components.
#include <string.h>
#include "widget.h"
#include <commctrl.h>

namespace widget {

const wchar_t windowClassName[] = L"WndClass";

namespace {

const uintN READONLY_RESULT = JSPROP_ENUMERATE | JSPROP_READONLY;

// Subclass procedure of Edit and TextArea controls: deletes the control's
// font when the control goes away, so rebuilding a frame over months never
// piles up fonts. The control keeps its font for as long as it exists.
const UINT_PTR FONT_SUBCLASS_ID = 0x6B7834;  // "kx4"

LRESULT CALLBACK fontOwner(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                           DWORD_PTR font) {
    if (msg == WM_NCDESTROY) {
        RemoveWindowSubclass(hWnd, fontOwner, id);
        LRESULT r = DefSubclassProc(hWnd, msg, wParam, lParam);
        DeleteObject((HFONT)font);
        return r;
    }
    return DefSubclassProc(hWnd, msg, wParam, lParam);
}

enum Type { FRAME, DIALOG, COMPONENT, WEB, SYSTRAY, EDIT, TEXTAREA, POPUPMENU, MENUITEM, OTHER };

Type typeOf(const char *name) {
    static const char *const names[] = {"Frame", "Dialog", "Component", "Web", "Systray",
                                        "Edit", "TextArea", "PopupMenu", "MenuItem"};
    for (int i = 0; i < OTHER; ++i)
        if (strcmp(name, names[i]) == 0) return (Type)i;
    return OTHER;
}

}  // namespace

void registerWindowClass() {
    WNDCLASSW wc = {};
    wc.style = 0;  // no CS_DBLCLKS: a double click is two presses
    wc.lpfnWndProc = windowProcedure;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(0, (LPCWSTR)IDC_ARROW);
    wc.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    wc.lpszClassName = windowClassName;
    RegisterClassW(&wc);
}

HFONT makeFont(const wchar_t *face, int32_t size, const char *style) {
    return CreateFontW(-size, 0, 0, 0, hasLetter(style, 'B') ? FW_BOLD : FW_NORMAL,
                       hasLetter(style, 'I'), FALSE, FALSE, ANSI_CHARSET, 0, 0, PROOF_QUALITY, 0,
                       face);
}

void attachFont(HWND control, HFONT font) {
    if (!font) return;
    SendMessageW(control, WM_SETFONT, (WPARAM)font, FALSE);
    if (!SetWindowSubclass(control, fontOwner, FONT_SUBCLASS_ID, (DWORD_PTR)font)) DeleteObject(font);
}

JSBool init(JSContext *cx, JSObject *, uintN, jsval *, jsval *) {
    if (eventContext) return JS_TRUE;
    setEventContext(cx);
    registerWindowClass();
    return JS_TRUE;
}

JSBool create(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    const char *usage = "Widget.create(<cmp>)";
    if (!kx4RequireArgs(api, cx, argc, 1, usage)) return JS_FALSE;
    if (!eventContext) setEventContext(cx);
    JSObject *cmp;
    if (!componentArg(cx, argc, argv, usage, &cmp)) return JS_FALSE;

    // 1. Every property this type uses, before anything is created.
    Type type = typeOf(readText(cx, cmp, "type", "Frame"));
    const wchar_t *title = readUText(cx, cmp, "utitle", L"Title");
    HWND parent = (HWND)readHandle(cx, cmp, "hParent");
    HICON icon = (HICON)readHandle(cx, cmp, "hIcon");
    DWORD style = readInt(cx, cmp, "show", 1) ? WS_VISIBLE : 0;
    int32_t timer = readInt(cx, cmp, "timer", -1);
    const wchar_t *text = 0, *face = 0;
    const char *textStyle = "";
    int32_t textSize = 12, w = 0, h = 0, id = 0, defaultItem = 0;
    if (type == WEB) {
        readUText(cx, cmp, "url", 0);  // the page comes with the browser view
        w = readInt(cx, cmp, "w", 1000);
        h = readInt(cx, cmp, "h", 1000);
    } else if (type == EDIT || type == TEXTAREA) {
        text = readUText(cx, cmp, "utext", 0);
        face = readUText(cx, cmp, "textFont", L"Arial");
        textSize = readInt(cx, cmp, "textSize", 12);
        textStyle = readText(cx, cmp, "textStyle", "");
    } else if (type == MENUITEM) {
        id = readInt(cx, cmp, "id", 0);
        defaultItem = readInt(cx, cmp, "defaultItem", 0);
        text = readUText(cx, cmp, "utext", 0);
    }
    if (kx4ErrorPending(api, cx)) return JS_FALSE;

    // 2. Create. Messages sent during creation reach the window procedure,
    // which nests a request on the event context.
    HANDLE result = 0;
    const wchar_t *cls = windowClassName;
    DWORD exStyle = 0;
    const wchar_t *caption = 0;
    bool window = true;
    switch (type) {
    case FRAME:
        style |= WS_CAPTION | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | (icon ? WS_SYSMENU : 0);
        caption = title;
        break;
    case DIALOG:
        style |= WS_CAPTION | WS_MINIMIZEBOX | (icon ? WS_SYSMENU : 0);
        caption = title;
        break;
    case COMPONENT:
    case WEB:
        style |= WS_CHILD;
        break;
    case SYSTRAY:
        break;
    case EDIT:
        cls = L"EDIT";
        exStyle = WS_EX_CLIENTEDGE;
        style |= WS_CHILD | ES_AUTOHSCROLL;
        caption = text;
        break;
    case TEXTAREA:
        cls = L"EDIT";
        exStyle = WS_EX_CLIENTEDGE;
        style |= WS_CHILD | WS_VSCROLL | ES_READONLY | ES_MULTILINE;
        caption = text;
        break;
    default:
        window = false;
        break;
    }
    if (window) {
        // Systray windows are never visible, whatever `show` says.
        DWORD createStyle = type == SYSTRAY ? 0 : style;
        result = CreateWindowExW(exStyle, cls, caption, createStyle, 0, 0, w, h, parent, 0, instance, 0);
    } else if (type == POPUPMENU) {
        result = CreatePopupMenu();
    } else if (type == MENUITEM) {
        HMENU menu = (HMENU)parent;
        if (text && wcscmp(text, L"-") == 0) {
            AppendMenuW(menu, MF_SEPARATOR, id, text);
        } else {
            AppendMenuW(menu, MF_STRING | MF_DEFAULT, id, text);
            if (defaultItem) SetMenuDefaultItem(menu, id, FALSE);
        }
    }
    if (result && (type == FRAME || type == DIALOG) && icon) {
        SendMessageW((HWND)result, WM_SETICON, ICON_SMALL, (LPARAM)icon);
        SendMessageW((HWND)result, WM_SETICON, ICON_BIG, (LPARAM)icon);
    }
    if (result && type == WEB) UpdateWindow((HWND)result);
    if (result && (type == EDIT || type == TEXTAREA))
        attachFont((HWND)result, makeFont(face, textSize, textStyle));
    if (result && window && timer >= 0) SetTimer((HWND)result, 0, timer, 0);

    double handle = (double)(intptr_t)result;
    writeNumber(cx, cmp, "style", (double)(int32_t)style, READONLY_RESULT);
    writeNumber(cx, cmp, "hWnd", handle, READONLY_RESULT);
    *rval = api->newNumber(cx, handle);
    return JS_TRUE;
}

JSBool destroy(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *) {
    const char *usage = "Widget.destroy(<cmp>)";
    if (!kx4RequireArgs(api, cx, argc, 1, usage)) return JS_FALSE;
    if (argv[0] == JSVAL_VOID) return JS_FALSE;  // quietly, as before
    JSObject *cmp;
    if (!componentArg(cx, argc, argv, usage, &cmp)) return JS_FALSE;
    readText(cx, cmp, "type", "Frame");  // "Web" detaches its browser view first
    HWND hWnd = (HWND)readHandle(cx, cmp, "hWnd");
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    // The window's DESTROY event is evaluated inside DestroyWindow.
    if (hWnd) DestroyWindow(hWnd);
    writeValue(cx, cmp, "hWnd", JSVAL_VOID, READONLY_RESULT);
    return JS_TRUE;
}

JSBool show(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *) {
    const char *usage = "Widget.show(<cmp>, [show])";
    JSObject *cmp;
    if (!componentArg(cx, argc, argv, usage, &cmp)) return JS_FALSE;
    writeValue(cx, cmp, "show", argc > 1 ? argv[1] : JSVAL_VOID, JSPROP_ENUMERATE);
    HWND hWnd = (HWND)readHandle(cx, cmp, "hWnd");
    bool visible = readInt(cx, cmp, "show", 1) != 0;
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    {
        Kx4HeapReleased released(api, cx);
        ShowWindow(hWnd, visible ? SW_SHOW : SW_HIDE);
    }
    writeNumber(cx, cmp, "show", visible ? 1 : 0, JSPROP_ENUMERATE);
    return JS_TRUE;
}

JSBool setWindowTop(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *) {
    JSObject *cmp;
    if (!componentArg(cx, argc, argv, "Widget.setWindowTop(<cmp>)", &cmp)) return JS_FALSE;
    HWND hWnd = (HWND)readHandle(cx, cmp, "hWnd");
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    // Joining the foreground thread's input lets this window come to the
    // top even when another process owns the foreground.
    DWORD foreground = GetWindowThreadProcessId(GetForegroundWindow(), 0);
    DWORD self = GetCurrentThreadId();
    AttachThreadInput(self, foreground, TRUE);
    BringWindowToTop(hWnd);
    AttachThreadInput(self, foreground, FALSE);
    return JS_TRUE;
}

JSBool getProperty(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    const char *usage = "Widget.getProperty(<cmp>, <property>)";
    if (!kx4RequireArgs(api, cx, argc, 2, usage)) return JS_FALSE;
    JSObject *cmp;
    if (!componentArg(cx, argc, argv, usage, &cmp)) return JS_FALSE;
    const char *name = api->valueToString(cx, argv[1]);
    bool utext = name && strcmp(name, "utext") == 0;
    HWND hWnd = utext ? (HWND)readHandle(cx, cmp, "hWnd") : 0;
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    if (!utext) return JS_TRUE;
    int length = GetWindowTextLengthW(hWnd);
    if (length < 0) length = 0;
    wchar_t *buffer = (wchar_t *)api->allocMemory(cx, (size_t)(length + 1) * sizeof(wchar_t));
    if (!buffer) return JS_FALSE;
    buffer[0] = 0;
    {
        Kx4HeapReleased released(api, cx);
        GetWindowTextW(hWnd, buffer, length + 1);
    }
    jsval text = api->newString(cx, 0, buffer);
    api->freeMemory(cx, buffer);
    writeValue(cx, cmp, "utext", text, JSPROP_ENUMERATE);
    *rval = text;
    return JS_TRUE;
}

}  // namespace widget
