/* Clocks for the Serial benchmark script: SerialClock.now() is wall time
 * and SerialClock.cpu() this process's CPU time (user + kernel), both in
 * milliseconds as doubles. A module of its own, on the SDK header only. */
#include <windows.h>

#include "kx4.h"

static HostApi *api;
static double g_ticksPerMs;

static JSBool clockNow(JSContext *cx, JSObject *, uintN, jsval *, jsval *rval) {
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    *rval = api->newNumber(cx, static_cast<double>(c.QuadPart) / g_ticksPerMs);
    return JS_TRUE;
}

static JSBool clockCpu(JSContext *cx, JSObject *, uintN, jsval *, jsval *rval) {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    ULARGE_INTEGER k, u;
    k.LowPart = kernel.dwLowDateTime, k.HighPart = kernel.dwHighDateTime;
    u.LowPart = user.dwLowDateTime, u.HighPart = user.dwHighDateTime;
    *rval = api->newNumber(cx, static_cast<double>(k.QuadPart + u.QuadPart) / 1e4);
    return JS_TRUE;
}

static const JSFunctionSpec clockFunctions[] = {
    JS_FS("now", clockNow, 0),
    JS_FS("cpu", clockCpu, 0),
    JS_FS_END,
};

KX4_MODULE_INIT {
    api = hostApi;
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    g_ticksPerMs = static_cast<double>(f.QuadPart) / 1000.0;
    kx4DefineObject(api, cx, "SerialClock", clockFunctions);
}
