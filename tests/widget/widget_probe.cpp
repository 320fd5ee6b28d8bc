/* kx4widgetprobe.dll: what the Widget tests need from outside the module:
 * real input (SendInput), pixels read back from a window (BitBlt from its
 * DC), window facts (styles, class, fonts, menus) and the process's GDI and
 * USER object counts. Built from the SDK alone, like any module.
 *
 * Probe  plain object of natives; every argument is a number unless said.
 */
#include <windows.h>
#include <psapi.h>
#include <string.h>

#include "kx4.h"

static HostApi *api;

static HWND argWindow(JSContext *cx, uintN argc, jsval *argv, uintN i) {
    return argc > i ? (HWND)kx4ValueToHandle(api, cx, argv[i]) : 0;
}
static int32_t argInt(JSContext *cx, uintN argc, jsval *argv, uintN i) {
    return kx4ArgInt32(api, cx, argc, argv, i, 0);
}
static void put(JSContext *cx, JSObject *o, const char *name, double d) {
    kx4DefineResultNumber(api, cx, o, name, d);
}

// pixel(hWnd, x, y): the colour at client point (x, y) as 0xRRGGBB.
static JSBool probePixel(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    HWND w = argWindow(cx, argc, argv, 0);
    int x = argInt(cx, argc, argv, 1), y = argInt(cx, argc, argv, 2);
    HDC dc = GetDC(w);
    HDC mem = CreateCompatibleDC(dc);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = 1;
    bi.bmiHeader.biHeight = 1;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void *bits = 0;
    HBITMAP bmp = CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, 0, 0);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, 1, 1, dc, x, y, SRCCOPY);
    GdiFlush();
    uint32_t p = *(uint32_t *)bits & 0xFFFFFF;
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(w, dc);
    *rval = api->newNumber(cx, p);
    return JS_TRUE;
}

// box(hWnd, w, h, colour, tolerance): the bounding box [left, top, right,
// bottom] (inclusive) of the client pixels within `tolerance` of 0xRRGGBB
// in every channel, among the first w x h; [] when there are none.
static JSBool probeBox(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    HWND win = argWindow(cx, argc, argv, 0);
    int w = argInt(cx, argc, argv, 1), h = argInt(cx, argc, argv, 2);
    uint32_t colour = (uint32_t)argInt(cx, argc, argv, 3);
    int tol = argInt(cx, argc, argv, 4);
    if (w <= 0 || h <= 0 || w > 4096 || h > 4096) return JS_TRUE;
    HDC dc = GetDC(win);
    HDC mem = CreateCompatibleDC(dc);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void *bits = 0;
    HBITMAP bmp = CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, 0, 0);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, h, dc, 0, 0, SRCCOPY);
    GdiFlush();
    int box[4] = {w, h, -1, -1};
    const uint32_t *px = (const uint32_t *)bits;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            uint32_t p = px[y * w + x];
            bool match = true;
            for (int k = 0; k < 3; k++) {
                int a = (p >> (8 * k)) & 255, b = (colour >> (8 * k)) & 255;
                if (a - b > tol || b - a > tol) match = false;
            }
            if (!match) continue;
            if (x < box[0]) box[0] = x;
            if (y < box[1]) box[1] = y;
            if (x > box[2]) box[2] = x;
            if (y > box[3]) box[3] = y;
        }
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(win, dc);
    JSObject *a = api->newArray(cx, 0, 0);
    *rval = OBJECT_TO_JSVAL(a);
    if (box[2] < 0) return JS_TRUE;
    for (int i = 0; i < 4; i++) {
        jsval v = api->newNumber(cx, box[i]);
        api->setElement(cx, a, i, &v);
    }
    return JS_TRUE;
}

// marks(): [GDI, USER] handle-table positions of a fresh brush and a fresh
// window. Freed table entries are reused first, so the positions stay put
// while nothing leaks and climb when objects pile up; this measures leaks
// where GetGuiResources answers 0 (wine).
static JSBool probeMarks(JSContext *cx, JSObject *, uintN, jsval *, jsval *rval) {
    HBRUSH brush = CreateSolidBrush(0);
    HWND w = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, 0, 0, 0);
    jsval v[2] = {api->newNumber(cx, (double)((uintptr_t)brush & 0xFFFF)),
                  api->newNumber(cx, (double)((uintptr_t)w & 0xFFFF))};
    DeleteObject(brush);
    DestroyWindow(w);
    *rval = OBJECT_TO_JSVAL(api->newArray(cx, 2, v));
    return JS_TRUE;
}

// memory(): the process's private bytes (for the benchmarks).
static JSBool probeMemory(JSContext *cx, JSObject *, uintN, jsval *, jsval *rval) {
    PROCESS_MEMORY_COUNTERS_EX pmc = {};
    pmc.cb = sizeof pmc;
    GetProcessMemoryInfo(GetCurrentProcess(), (PROCESS_MEMORY_COUNTERS *)&pmc, sizeof pmc);
    *rval = api->newNumber(cx, (double)pmc.PrivateUsage);
    return JS_TRUE;
}

// gui(): [GDI objects, USER objects] of this process.
static JSBool probeGui(JSContext *cx, JSObject *, uintN, jsval *, jsval *rval) {
    jsval v[2] = {api->newNumber(cx, GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS)),
                  api->newNumber(cx, GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS))};
    *rval = OBJECT_TO_JSVAL(api->newArray(cx, 2, v));
    return JS_TRUE;
}

// post(hWnd, msg, wParam, lParam) and send(...): the message as given.
static JSBool probePost(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    HWND w = argWindow(cx, argc, argv, 0);
    UINT m = argInt(cx, argc, argv, 1);
    WPARAM wp = (WPARAM)(intptr_t)argInt(cx, argc, argv, 2);
    LPARAM lp = (LPARAM)(intptr_t)argInt(cx, argc, argv, 3);
    *rval = BOOLEAN_TO_JSVAL(PostMessageW(w, m, wp, lp));
    return JS_TRUE;
}
static JSBool probeSend(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    HWND w = argWindow(cx, argc, argv, 0);
    UINT m = argInt(cx, argc, argv, 1);
    WPARAM wp = (WPARAM)(intptr_t)argInt(cx, argc, argv, 2);
    LPARAM lp = (LPARAM)(intptr_t)argInt(cx, argc, argv, 3);
    LRESULT r;
    {
        // The window procedure begins its own request on this thread.
        Kx4HeapReleased released(api, cx);
        r = SendMessageW(w, m, wp, lp);
    }
    *rval = api->newNumber(cx, (double)r);
    return JS_TRUE;
}

// wait(ms): true when GetMessage would return a message at once, within
// ms. (Woken-up alone is not enough: sent messages and the display's own
// events wake a thread without leaving anything for GetMessage.)
static JSBool probeWait(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    DWORD ms = (DWORD)argInt(cx, argc, argv, 0);
    bool ready = false;
    {
        // Sent messages reach the window procedure here.
        Kx4HeapReleased released(api, cx);
        DWORD start = GetTickCount();
        MSG m;
        for (;;) {
            if (PeekMessageW(&m, 0, 0, 0, PM_NOREMOVE)) {
                ready = true;
                break;
            }
            DWORD spent = GetTickCount() - start;
            if (spent >= ms) break;
            MsgWaitForMultipleObjectsEx(0, 0, ms - spent, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        }
    }
    *rval = BOOLEAN_TO_JSVAL(ready);
    return JS_TRUE;
}

// info(hWnd): styles, class, text, visibility, window and client rectangles.
static JSBool probeInfo(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    HWND w = argWindow(cx, argc, argv, 0);
    JSObject *o = api->newObject(cx, 0);
    *rval = OBJECT_TO_JSVAL(o);
    put(cx, o, "exists", IsWindow(w));
    put(cx, o, "style", (double)(uint32_t)GetWindowLongW(w, GWL_STYLE));
    put(cx, o, "exStyle", (double)(uint32_t)GetWindowLongW(w, GWL_EXSTYLE));
    put(cx, o, "visible", IsWindowVisible(w) ? 1 : 0);
    put(cx, o, "parent", (double)(intptr_t)GetParent(w));
    wchar_t text[256] = {0};
    GetClassNameW(w, text, 256);
    kx4DefineResult(api, cx, o, "cls", api->newString(cx, 0, text));
    text[0] = 0;
    GetWindowTextW(w, text, 256);
    kx4DefineResult(api, cx, o, "text", api->newString(cx, 0, text));
    RECT r = {};
    GetWindowRect(w, &r);
    put(cx, o, "x", r.left);
    put(cx, o, "y", r.top);
    put(cx, o, "w", r.right - r.left);
    put(cx, o, "h", r.bottom - r.top);
    POINT p = {0, 0};
    ClientToScreen(w, &p);
    GetClientRect(w, &r);
    put(cx, o, "cx", p.x);
    put(cx, o, "cy", p.y);
    put(cx, o, "cw", r.right);
    put(cx, o, "ch", r.bottom);
    put(cx, o, "smallIcon", (double)(intptr_t)SendMessageW(w, WM_GETICON, ICON_SMALL, 0));
    put(cx, o, "bigIcon", (double)(intptr_t)SendMessageW(w, WM_GETICON, ICON_BIG, 0));
    return JS_TRUE;
}

// font(hWnd): the control's font {handle, height, weight, italic, face}.
static JSBool probeFont(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    HWND w = argWindow(cx, argc, argv, 0);
    HFONT f = (HFONT)SendMessageW(w, WM_GETFONT, 0, 0);
    LOGFONTW lf = {};
    if (!f || !GetObjectW(f, sizeof lf, &lf)) return JS_TRUE;
    JSObject *o = api->newObject(cx, 0);
    *rval = OBJECT_TO_JSVAL(o);
    put(cx, o, "handle", (double)(intptr_t)f);
    put(cx, o, "height", lf.lfHeight);
    put(cx, o, "weight", lf.lfWeight);
    put(cx, o, "italic", lf.lfItalic);
    kx4DefineResult(api, cx, o, "face", api->newString(cx, 0, lf.lfFaceName));
    return JS_TRUE;
}

// objectType(handle): GetObjectType, 0 once a GDI object is deleted.
static JSBool probeObjectType(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    *rval = api->newNumber(cx, GetObjectType((HGDIOBJ)kx4ValueToHandle(api, cx, argv[0])));
    return JS_TRUE;
}

// menu(hMenu): [{id, text, separator, isDefault}] of the menu's items.
static JSBool probeMenu(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    HMENU m = (HMENU)kx4ValueToHandle(api, cx, argv[0]);
    int n = GetMenuItemCount(m);
    if (n < 0) return JS_TRUE;
    UINT def = GetMenuDefaultItem(m, FALSE, 0);
    JSObject *a = api->newArray(cx, 0, 0);
    *rval = OBJECT_TO_JSVAL(a);
    for (int i = 0; i < n; i++) {
        wchar_t text[128] = {0};
        MENUITEMINFOW mi = {};
        mi.cbSize = sizeof mi;
        mi.fMask = MIIM_ID | MIIM_FTYPE | MIIM_STRING;
        mi.dwTypeData = text;
        mi.cch = 127;
        GetMenuItemInfoW(m, i, TRUE, &mi);
        JSObject *o = api->newObject(cx, 0);
        put(cx, o, "id", mi.wID);
        kx4DefineResult(api, cx, o, "text", api->newString(cx, 0, text));
        put(cx, o, "separator", (mi.fType & MFT_SEPARATOR) ? 1 : 0);
        put(cx, o, "isDefault", def == mi.wID ? 1 : 0);
        jsval v = OBJECT_TO_JSVAL(o);
        api->setElement(cx, a, i, &v);
    }
    return JS_TRUE;
}

// input(kind, a, b): real input through SendInput. kind is 'move' (to
// screen point a, b), 'ldown', 'lup', 'rdown', 'rup', or 'text' (a: string).
static JSBool probeInput(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    const char *kind = api->valueToString(cx, argv[0]);
    INPUT in[64];
    UINT n = 0;
    memset(in, 0, sizeof in);
    if (!strcmp(kind, "move")) {
        int x = argInt(cx, argc, argv, 1), y = argInt(cx, argc, argv, 2);
        int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
        in[0].type = INPUT_MOUSE;
        in[0].mi.dx = (x * 65536 + sw / 2) / sw;
        in[0].mi.dy = (y * 65536 + sh / 2) / sh;
        in[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
        n = 1;
    } else if (!strcmp(kind, "text")) {
        const jschar *t = api->valueToUCString(cx, argv[1]);
        for (; *t && n + 2 <= 64; t++) {
            in[n].type = INPUT_KEYBOARD;
            in[n].ki.wScan = *t;
            in[n].ki.dwFlags = KEYEVENTF_UNICODE;
            in[n + 1] = in[n];
            in[n + 1].ki.dwFlags |= KEYEVENTF_KEYUP;
            n += 2;
        }
    } else {
        DWORD f = !strcmp(kind, "ldown") ? MOUSEEVENTF_LEFTDOWN : !strcmp(kind, "lup") ? MOUSEEVENTF_LEFTUP
                : !strcmp(kind, "rdown") ? MOUSEEVENTF_RIGHTDOWN : !strcmp(kind, "rup") ? MOUSEEVENTF_RIGHTUP : 0;
        if (f) {
            in[0].type = INPUT_MOUSE;
            in[0].mi.dwFlags = f;
            n = 1;
        }
    }
    *rval = api->newNumber(cx, n ? SendInput(n, in, sizeof in[0]) : 0);
    return JS_TRUE;
}

// focus(hWnd): foreground to the top-level window, keyboard focus to hWnd.
static JSBool probeFocus(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    HWND w = argWindow(cx, argc, argv, 0);
    SetForegroundWindow(GetAncestor(w, GA_ROOT));
    *rval = BOOLEAN_TO_JSVAL(SetFocus(w) != 0 || GetFocus() == w);
    return JS_TRUE;
}

// showWindow(hWnd, cmd) and place(hWnd, x, y): plain window operations
// with the heap released (the window procedure runs during them).
static JSBool probeShowWindow(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *) {
    HWND w = argWindow(cx, argc, argv, 0);
    int cmd = argInt(cx, argc, argv, 1);
    Kx4HeapReleased released(api, cx);
    ShowWindow(w, cmd);
    return JS_TRUE;
}
static JSBool probePlace(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *) {
    HWND w = argWindow(cx, argc, argv, 0);
    int x = argInt(cx, argc, argv, 1), y = argInt(cx, argc, argv, 2);
    Kx4HeapReleased released(api, cx);
    SetWindowPos(w, 0, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    return JS_TRUE;
}

static JSBool probePostQuit(JSContext *, JSObject *, uintN, jsval *, jsval *) {
    PostQuitMessage(0);
    return JS_TRUE;
}

static const JSFunctionSpec probeFunctions[] = {
    JS_FS("pixel", probePixel, 3),       JS_FS("gui", probeGui, 0),
    JS_FS("post", probePost, 4),         JS_FS("send", probeSend, 4),
    JS_FS("wait", probeWait, 1),         JS_FS("info", probeInfo, 1),
    JS_FS("font", probeFont, 1),         JS_FS("objectType", probeObjectType, 1),
    JS_FS("menu", probeMenu, 1),         JS_FS("input", probeInput, 3),
    JS_FS("focus", probeFocus, 1),       JS_FS("showWindow", probeShowWindow, 2),
    JS_FS("place", probePlace, 3),       JS_FS("postQuit", probePostQuit, 0), JS_FS("box", probeBox, 5), JS_FS("marks", probeMarks, 0), JS_FS("memory", probeMemory, 0),
    JS_FS_END,
};

KX4_MODULE_INIT {
    api = hostApi;
    kx4DefineObject(api, cx, "Probe", probeFunctions);
}
