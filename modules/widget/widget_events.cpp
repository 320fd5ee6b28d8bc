// The window procedure of "WndClass" windows and Widget.eventLoop.
#include <stdio.h>
#include "widget.h"
#include <commctrl.h>

namespace widget {

namespace {

const UINT TRAY_CALLBACK = WM_USER + 1;

// The window with a leave request in force (windows and their messages
// belong to the event context's one thread).
HWND trackedWindow;

const char *buttonName(UINT msg) {
    switch (msg) {
    case WM_LBUTTONDOWN: return "LEFT_DOWN";
    case WM_LBUTTONUP: return "LEFT_UP";
    case WM_RBUTTONDOWN: return "RIGHT_DOWN";
    case WM_RBUTTONUP: return "RIGHT_UP";
    case NIN_BALLOONUSERCLICK: return "LEFT_UP";
    }
    return 0;
}

// The event statement for a message, or an empty buffer when the message
// is not reported.
void formatEvent(char (&s)[256], HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    long window = (long)(intptr_t)hWnd;
    // Mouse coordinates: x as the unsigned low word (a pointer captured left
    // of the window reads 32768-65535), y as the signed high word.
    long mx = (long)(lParam & 0xFFFF);
    long my = (long)((int32_t)lParam >> 16);
    switch (msg) {
    case WM_DESTROY:
        if (trackedWindow == hWnd) trackedWindow = 0;
        snprintf(s, sizeof s, "Widget.onEvent({hWnd: %ld, msg: 'DESTROY'})", window);
        break;
    case WM_MOVE: {
        int x = (short)LOWORD(lParam), y = (short)HIWORD(lParam);
        // A minimised window is moved far off; that move is not reported.
        if (x >= -3000) snprintf(s, sizeof s, "Widget.onEvent({hWnd: %ld, msg: 'MOVE', x: %d, y: %d})", window, x, y);
        break;
    }
    case WM_SIZE:
        if (wParam == SIZE_MINIMIZED)
            snprintf(s, sizeof s, "Widget.onEvent({hWnd: %ld, msg: 'MINIMIZE'})", window);
        else
            snprintf(s, sizeof s, "Widget.onEvent({hWnd: %ld, msg: 'RESIZE', w: %d, h: %d})", window,
                     (int)LOWORD(lParam), (int)HIWORD(lParam));
        break;
    case WM_PAINT:
        snprintf(s, sizeof s, "Widget.onEvent({hWnd: %ld, msg: 'PAINT'})", window);
        break;
    case WM_CLOSE:
        snprintf(s, sizeof s, "Widget.onEvent({hWnd: %ld, msg: 'CLOSE'})", window);
        break;
    case WM_ERASEBKGND:
        snprintf(s, sizeof s, "Widget.onEvent({hWnd: %ld, msg: 'ERASE'})", window);
        break;
    case WM_COMMAND:
        if (HIWORD(wParam) == EN_CHANGE)
            snprintf(s, sizeof s, "Widget.onEvent({hWnd: %ld, msg: 'EDIT_CHANGE'})", (long)(intptr_t)lParam);
        else
            snprintf(s, sizeof s, "Widget.onEvent({hWnd: %ld, msg: 'COMMAND', id: %ld})", window,
                     (long)(int32_t)wParam);
        break;
    case WM_TIMER:
        snprintf(s, sizeof s, "Widget.onEvent({hWnd: %ld, msg: 'TIMER'})", window);
        break;
    case WM_MOUSEMOVE: {
        // Ask for one WM_MOUSELEAVE when the pointer leaves. A request stays
        // in force until that message comes, so it is renewed only when
        // none is in force for this window: asking again on every move costs
        // a round trip to the window server each time.
        if (trackedWindow != hWnd) {
            TRACKMOUSEEVENT tme = {};
            tme.cbSize = sizeof tme;
            tme.dwFlags = TME_LEAVE;
            tme.hwndTrack = hWnd;
            if (_TrackMouseEvent(&tme)) trackedWindow = hWnd;
        }
        snprintf(s, sizeof s, "Widget.onEvent({hWnd: %ld, msg: 'MOUSE_OVER', x: %ld, y: %ld})", window, mx, my);
        break;
    }
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
        snprintf(s, sizeof s, "Widget.onEvent({hWnd: %ld, msg: 'MOUSE_BUTTON', button: '%s', x: %ld, y: %ld})",
                 window, buttonName(msg), mx, my);
        break;
    case WM_MOUSELEAVE:
        if (trackedWindow == hWnd) trackedWindow = 0;  // the request is used up
        snprintf(s, sizeof s, "Widget.onEvent({hWnd: %ld, msg: 'MOUSE_OUT'})", window);
        break;
    case TRAY_CALLBACK: {
        const char *button = buttonName((UINT)lParam);
        if (button) snprintf(s, sizeof s, "Widget.onEvent({hWnd: %ld, msg: 'MOUSE_BUTTON', button: '%s'})", window, button);
        break;
    }
    }
}

}  // namespace

LRESULT CALLBACK windowProcedure(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    JSContext *cx = eventContext;
    // Windows made by another script thread than the one that owns the
    // event context get default processing: evaluating on that context from
    // this thread would corrupt it.
    if (!cx || GetCurrentThreadId() != eventThread) return DefWindowProcW(hWnd, msg, wParam, lParam);
    char statement[256] = {0};
    formatEvent(statement, hWnd, msg, wParam, lParam);
    if (!statement[0]) return DefWindowProcW(hWnd, msg, wParam, lParam);

    // The request nests when the native that caused the message still holds
    // it (create, destroy), and is the only one when the native suspended it
    // (eventLoop, show, refresh, ...). A failed evaluation (onEvent missing
    // or throwing) leaves the message to default processing, so windows
    // still paint and close while the script is broken.
    jsval result = JSVAL_FALSE;
    api->beginRequest(cx);
    if (!api->evaluateScript(cx, "Widget.onEvent", statement, &result)) result = JSVAL_FALSE;
    api->endRequest(cx);

    // The answer read as a boolean word without a type check: true, any
    // object, string, double, undefined and integers from 4 up (or negative)
    // mean handled; false, null and the integers 0 to 3 do not.
    bool handled = (result >> 3) != 0;
    if (handled) return 1;
    return DefWindowProcW(hWnd, msg, wParam, lParam);
}

JSBool eventLoop(JSContext *cx, JSObject *, uintN, jsval *, jsval *rval) {
    BOOL got;
    {
        // The window procedure begins its own request while this one waits.
        Kx4HeapReleased released(api, cx);
        MSG m;
        got = GetMessageW(&m, 0, 0, 0);
        if (got > 0) {
            TranslateMessage(&m);
            DispatchMessageW(&m);
        }
    }
    *rval = INT_TO_JSVAL(got);
    return JS_TRUE;
}

}  // namespace widget
