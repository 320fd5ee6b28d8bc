/* The console: made on demand (the host is a GUI program), standard streams
 * bound to it unbuffered, and its control events passed to System.control. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "system_object.h"

namespace kx4 {

static HostApi *const &api = systemApi;

static const char *controlName(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
        return "CONTROL_STOP";
    case CTRL_LOGOFF_EVENT:
        return "CONTROL_LOGOFF";
    case CTRL_SHUTDOWN_EVENT:
        return "CONTROL_SHUTDOWN";
    default:
        return nullptr;
    }
}

// Runs on a thread the system makes for the event. The main thread may be
// running script on the main context, so the call gets a context of its own
// on the same global object (callSystemControl).
static BOOL WINAPI consoleControlHandler(DWORD event) {
    const char *name = controlName(event);
    if (name) callSystemControl(name, kControlExpression);
    return TRUE;
}

JSBool systemOpenConsole(JSContext *, JSObject *, uintN, jsval *, jsval *) {
    AllocConsole();  // a second call keeps the existing console
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(out, &info)) {
        COORD size = info.dwSize;
        size.Y = 500;
        SetConsoleScreenBufferSize(out, size);
    }
    if (freopen("CONOUT$", "w", stdout)) setvbuf(stdout, nullptr, _IONBF, 0);
    if (freopen("CONIN$", "r", stdin)) setvbuf(stdin, nullptr, _IONBF, 0);
    if (freopen("CONOUT$", "w", stderr)) setvbuf(stderr, nullptr, _IONBF, 0);
    SetConsoleCtrlHandler(consoleControlHandler, TRUE);
    return JS_TRUE;
}

JSBool systemPrint(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *) {
    if (!kx4RequireArgs(api, cx, argc, 1, "System.print(<msg>)")) return JS_FALSE;
    const char *text = api->valueToString(cx, argv[0]);
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    // Output may wait too: a console whose output is paused (a selection
    // in it), a pipe whose reader is slow.
    Kx4HeapReleased released(api, cx);
    puts(text);
    return JS_TRUE;
}

// Console reads wait for the user with the heap released, so other script
// threads go on meanwhile.
JSBool systemGetchar(JSContext *cx, JSObject *, uintN, jsval *, jsval *rval) {
    char c;
    {
        Kx4HeapReleased released(api, cx);
        c = static_cast<char>(getchar());  // end of input gives U+00FF
    }
    *rval = api->newStringN(cx, &c, 1);
    return JS_TRUE;
}

JSBool systemGetInput(JSContext *cx, JSObject *, uintN, jsval *, jsval *rval) {
    char line[256];
    {
        Kx4HeapReleased released(api, cx);
        if (!fgets(line, sizeof line, stdin)) line[0] = 0;
        if (!strchr(line, '\n')) {
            // The rest of a long line is discarded.
            int c;
            do c = getchar();
            while (c != '\n' && c != EOF);
        }
    }
    *rval = api->newString(cx, line, nullptr);
    return JS_TRUE;
}

}  // namespace kx4
