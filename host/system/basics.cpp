/* System basics: evaluation, sleeping, collection, exit and facts about the
 * process and the operating system. */
#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>
#include <pdh.h>

#include "engine.h"
#include "on_demand.h"
#include "system_object.h"

namespace kx4 {

static HostApi *const &api = systemApi;  // the System unit's table

JSBool systemEvaluate(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 2, "System.evaluate(<script file name>, <script source>)")) return JS_FALSE;
    const char *fileName = api->valueToString(cx, argv[0]);
    const char *source = api->valueToString(cx, argv[1]);
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    return api->evaluateScript(cx, fileName, source, rval);
}

JSBool systemSleep(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *) {
    if (!kx4RequireArgs(api, cx, argc, 1, "System.sleep(<msDelay>)")) return JS_FALSE;
    // Passed on as an unsigned count: -1 sleeps forever, 0 only yields.
    DWORD ms = static_cast<DWORD>(kx4ValueToInt32(api, cx, argv[0]));
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    Kx4HeapReleased released(api, cx);
    Sleep(ms);
    return JS_TRUE;
}

JSBool systemGc(JSContext *cx, JSObject *, uintN, jsval *, jsval *) {
    collectGarbage(cx);
    return JS_TRUE;
}

JSBool systemExit(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *) {
    int code = kx4ArgInt32(api, cx, argc, argv, 0, 0);
    // A code whose conversion threw is no code: the error goes to the caller.
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    fflush(stdout);
    exit(code);
}

// "Windows NT/6.01.01": family, major, minor, service-pack major.
static void systemName(char *out, size_t size) {
    OSVERSIONINFOEXW info;
    ZeroMemory(&info, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExW(reinterpret_cast<OSVERSIONINFOW *>(&info));
#pragma GCC diagnostic pop
    snprintf(out, size, "%s/%d.%02d.%02d", info.dwPlatformId == VER_PLATFORM_WIN32_NT ? "Windows NT" : "Windows 9X",
             static_cast<int>(info.dwMajorVersion), static_cast<int>(info.dwMinorVersion),
             static_cast<int>(info.wServicePackMajor));
}

JSBool systemGetSysName(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    char name[100];
    systemName(name, sizeof name);
    if (kx4HasArg(argc, argv, 0)) {
        const char *value = api->valueToString(cx, argv[0]);
        if (kx4ErrorPending(api, cx)) return JS_FALSE;
        *rval = BOOLEAN_TO_JSVAL(strstr(name, value) != nullptr);
    } else {
        *rval = api->newString(cx, name, nullptr);
    }
    return JS_TRUE;
}

JSBool systemGetLocale(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    // An empty name selects the user's default; an unknown one changes nothing.
    const char *name = kx4HasArg(argc, argv, 0) ? api->valueToString(cx, argv[0]) : "";
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    setlocale(LC_ALL, name);
    const char *now = setlocale(LC_ALL, nullptr);
    *rval = api->newString(cx, now ? now : "", nullptr);
    return JS_TRUE;
}

JSBool systemGetPID(JSContext *cx, JSObject *, uintN, jsval *, jsval *rval) {
    *rval = api->newNumber(cx, static_cast<double>(GetCurrentProcessId()));
    return JS_TRUE;
}

// The processor-load query, made by the first call that succeeds and kept
// for the life of the process; pdh.dll is loaded on that first call.
// Callers run with the heap released, so several threads may get here at
// once: g_loadLock guards every g_ variable below and every use of the
// query (a query is not made to be sampled by two threads at a time).
struct PdhFunctions {
    decltype(&PdhOpenQueryW) openQuery;
    decltype(&PdhLookupPerfNameByIndexW) lookupPerfNameByIndex;
    decltype(&PdhMakeCounterPathW) makeCounterPath;
    decltype(&PdhAddCounterW) addCounter;
    decltype(&PdhCollectQueryData) collectQueryData;
    decltype(&PdhGetFormattedCounterValue) getFormattedCounterValue;
};

static SRWLOCK g_loadLock = SRWLOCK_INIT;
static PdhFunctions g_pdh;                     // guarded by g_loadLock
static bool g_loadPrepared = false;            // guarded by g_loadLock
static PDH_HQUERY g_loadQuery = nullptr;       // guarded by g_loadLock
static PDH_HCOUNTER g_loadCounter = nullptr;   // guarded by g_loadLock

template <typename F>
static bool lookUp(const char *name, F *fn) {
    *fn = onDemand<F>(L"pdh.dll", name);
    return *fn != nullptr;
}

// Called with g_loadLock held.
static bool loadPdh() {
    if (g_pdh.getFormattedCounterValue) return true;
    PdhFunctions f;
    if (!lookUp("PdhOpenQueryW", &f.openQuery) || !lookUp("PdhLookupPerfNameByIndexW", &f.lookupPerfNameByIndex) ||
        !lookUp("PdhMakeCounterPathW", &f.makeCounterPath) || !lookUp("PdhAddCounterW", &f.addCounter) ||
        !lookUp("PdhCollectQueryData", &f.collectQueryData) ||
        !lookUp("PdhGetFormattedCounterValue", &f.getFormattedCounterValue))
        return false;
    g_pdh = f;
    return true;
}

// Called with g_loadLock held.
static void prepareLoadCounter() {
    const DWORD kProcessorObject = 238, kProcessorTime = 6;
    WCHAR object[2048], counter[2048], path[2048];
    DWORD size;
    if (!loadPdh()) return;
    if (!g_loadQuery && g_pdh.openQuery(nullptr, 0, &g_loadQuery) != ERROR_SUCCESS) {
        g_loadQuery = nullptr;
        return;
    }
    size = 2048;
    if (g_pdh.lookupPerfNameByIndex(nullptr, kProcessorObject, object, &size) != ERROR_SUCCESS) return;
    size = 2048;
    if (g_pdh.lookupPerfNameByIndex(nullptr, kProcessorTime, counter, &size) != ERROR_SUCCESS) return;
    PDH_COUNTER_PATH_ELEMENTS_W elements;
    ZeroMemory(&elements, sizeof elements);
    elements.szObjectName = object;
    elements.szInstanceName = const_cast<LPWSTR>(L"_Total");
    elements.dwInstanceIndex = static_cast<DWORD>(-1);
    elements.szCounterName = counter;
    size = 2048;
    if (g_pdh.makeCounterPath(&elements, path, &size, 0) != ERROR_SUCCESS) return;
    if (g_pdh.addCounter(g_loadQuery, path, 0, &g_loadCounter) != ERROR_SUCCESS) return;
    g_pdh.collectQueryData(g_loadQuery);
    Sleep(500);
    g_loadPrepared = true;
}

JSBool systemGetCPULoad(JSContext *cx, JSObject *, uintN, jsval *, jsval *rval) {
    bool ok = false;
    PDH_FMT_COUNTERVALUE value;
    {
        Kx4HeapReleased released(api, cx);
        AcquireSRWLockExclusive(&g_loadLock);
        if (!g_loadPrepared) prepareLoadCounter();
        if (g_loadPrepared) {
            g_pdh.collectQueryData(g_loadQuery);
            ok = g_pdh.getFormattedCounterValue(g_loadCounter, PDH_FMT_LONG, nullptr, &value) == ERROR_SUCCESS;
        }
        ReleaseSRWLockExclusive(&g_loadLock);
    }
    if (ok) *rval = api->newNumber(cx, static_cast<double>(value.longValue));
    return JS_TRUE;
}

}  // namespace kx4
