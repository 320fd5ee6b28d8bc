/* sqlite_probe.dll, for the memory tests: what the process holds.
 *   Probe.handles()   the number of open handles of the process
 *   Probe.memory()    its private bytes, in MiB */
#include <windows.h>
#include <psapi.h>

#include "kx4.h"

static HostApi *api;

// Wine answers GetProcessHandleCount with 0, so the handle values are
// tried one by one (multiples of 4), up to a long run of unused ones.
static JSBool probeHandles(JSContext *cx, JSObject *, uintN, jsval *, jsval *rval) {
    DWORD count = 0, flags;
    uintptr_t lastUsed = 0;
    for (uintptr_t h = 4; h < lastUsed + 4 * 4096; h += 4) {
        if (GetHandleInformation(reinterpret_cast<HANDLE>(h), &flags)) {
            count++;
            lastUsed = h;
        }
    }
    *rval = api->newNumber(cx, count);
    return JS_TRUE;
}

static JSBool probeMemory(JSContext *cx, JSObject *, uintN, jsval *, jsval *rval) {
    PROCESS_MEMORY_COUNTERS m = {sizeof m};
    GetProcessMemoryInfo(GetCurrentProcess(), &m, sizeof m);
    *rval = api->newNumber(cx, m.PagefileUsage / 1048576.0);
    return JS_TRUE;
}

static const JSFunctionSpec probeFunctions[] = {
    JS_FS("handles", probeHandles, 0),
    JS_FS("memory", probeMemory, 0),
    JS_FS_END,
};

KX4_MODULE_INIT {
    api = hostApi;
    kx4DefineObject(api, cx, "Probe", probeFunctions);
}
