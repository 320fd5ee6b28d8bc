/* Natives for the benchmark scripts (Bench.*), loaded with System.loadModule.
 * Like any module it sees the host only through HostApi. Timed natives keep
 * their times (ms) for Bench.lap(i), so that they can still return a value. */
#include <stdlib.h>
#include <string.h>
#include <windows.h>
#include <psapi.h>

#include "kx4.h"

static HostApi *api;
static double g_ticksPerMs;
static double g_lap[4];
static char *g_bytes, *g_copy;  // the byte-string data and a warm copy target
static size_t g_size;

static double nowMs() {
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) / g_ticksPerMs;
}

// Keeps the compiler from dropping a copy nobody reads.
static void keep(void *p) { __asm__ volatile("" : : "r"(p) : "memory"); }

static JSBool benchNow(JSContext *cx, JSObject *, uintN, jsval *, jsval *rval) {
    *rval = api->newNumber(cx, nowMs());
    return JS_TRUE;
}

static JSBool benchNop(JSContext *, JSObject *, uintN, jsval *, jsval *) { return JS_TRUE; }

static JSBool benchLap(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    int32_t i = kx4ArgInt32(api, cx, argc, argv, 0, 0);
    *rval = api->newNumber(cx, i >= 0 && i < 4 ? g_lap[i] : 0);
    return JS_TRUE;
}

// Bench.suspendResume(n): n suspend/resume pairs in a C loop; returns ms.
static JSBool benchSuspendResume(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    int32_t n = kx4ArgInt32(api, cx, argc, argv, 0, 0);
    double t0 = nowMs();
    for (int32_t i = 0; i < n; i++) api->resumeRequest(cx, api->suspendRequest(cx));
    *rval = api->newNumber(cx, nowMs() - t0);
    return JS_TRUE;
}

// Bench.fill(kind, size): "ascii" or "random" bytes for the string natives.
static JSBool benchFill(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 2, "Bench.fill(<kind>, <size>)")) return JS_FALSE;
    bool ascii = strcmp(api->valueToString(cx, argv[0]), "ascii") == 0;
    size_t size = static_cast<size_t>(kx4ValueToInt32(api, cx, argv[1]));
    free(g_bytes);
    free(g_copy);
    g_bytes = static_cast<char *>(malloc(size));
    g_copy = static_cast<char *>(malloc(size));
    g_size = g_bytes && g_copy ? size : 0;
    uint32_t x = 2463534242u;  // xorshift32
    for (size_t i = 0; i < g_size; i++) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        g_bytes[i] = static_cast<char>(ascii ? 'a' + i % 26 : x >> 24);
    }
    if (g_size) memcpy(g_copy, g_bytes, g_size);  // touch the target's pages
    *rval = BOOLEAN_TO_JSVAL(g_size == size);
    return JS_TRUE;
}

// The baselines of the string natives: the same bytes copied into warm
// memory, and into fresh memory (as the engine must).
static void timeCopies(double *warm, double *fresh) {
    double t0 = nowMs();
    memcpy(g_copy, g_bytes, g_size);
    keep(g_copy);
    double t1 = nowMs();
    char *block = static_cast<char *>(malloc(g_size));
    if (block) memcpy(block, g_bytes, g_size);
    keep(block);
    free(block);
    *warm = t1 - t0;
    *fresh = nowMs() - t1;
}

// Bench.toEngine(): the bytes as a script string (newStringN).
// Laps: newStringN, warm copy, fresh copy.
static JSBool benchToEngine(JSContext *cx, JSObject *, uintN, jsval *, jsval *rval) {
    double t0 = nowMs();
    jsval s = api->newStringN(cx, g_bytes, g_size);
    g_lap[0] = nowMs() - t0;
    timeCopies(&g_lap[1], &g_lap[2]);
    if (s == JSVAL_VOID) return JS_FALSE;  // the engine's error (heap full) is thrown
    *rval = s;
    return JS_TRUE;
}

// Bench.fromEngine(s): the bytes back (valueToString) and their count
// (valueStringLength: binary data has zero bytes). Answers whether the
// bytes came back unchanged. Laps: valueToString, valueStringLength, warm
// copy, fresh copy.
static JSBool benchFromEngine(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "Bench.fromEngine(<string>)")) return JS_FALSE;
    double t0 = nowMs();
    const char *bytes = api->valueToString(cx, argv[0]);
    double t1 = nowMs();
    size_t count = api->valueStringLength(cx, argv[0]);
    double t2 = nowMs();
    g_lap[0] = t1 - t0, g_lap[1] = t2 - t1;
    timeCopies(&g_lap[2], &g_lap[3]);
    *rval = BOOLEAN_TO_JSVAL(count == g_size && memcmp(bytes, g_bytes, count) == 0);
    return JS_TRUE;
}

// Bench.memory(): {peakWorkingSet, private} of this process, in MiB.
static JSBool benchMemory(JSContext *cx, JSObject *, uintN, jsval *, jsval *rval) {
    PROCESS_MEMORY_COUNTERS m = {sizeof m};
    JSObject *result = api->newObject(cx, 0);
    if (!result || !GetProcessMemoryInfo(GetCurrentProcess(), &m, sizeof m)) return JS_TRUE;
    kx4DefineResultNumber(api, cx, result, "peakWorkingSet", m.PeakWorkingSetSize / 1048576.0);
    kx4DefineResultNumber(api, cx, result, "private", m.PagefileUsage / 1048576.0);
    *rval = OBJECT_TO_JSVAL(result);
    return JS_TRUE;
}

static const JSFunctionSpec kBenchFunctions[] = {
    JS_FS("now", benchNow, 0),
    JS_FS("nop", benchNop, 0),
    JS_FS("lap", benchLap, 1),
    JS_FS("suspendResume", benchSuspendResume, 1),
    JS_FS("fill", benchFill, 2),
    JS_FS("toEngine", benchToEngine, 0),
    JS_FS("fromEngine", benchFromEngine, 1),
    JS_FS("memory", benchMemory, 0),
    JS_FS_END,
};

extern "C" KX4_MODULE_EXPORT void initModule(JSContext *cx, HostApi *hostApi) {
    api = hostApi;
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    g_ticksPerMs = static_cast<double>(f.QuadPart) / 1000.0;
    kx4DefineObject(api, cx, "Bench", kBenchFunctions);
}
