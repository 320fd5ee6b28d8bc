/* Script threads and mutexes. A script thread runs its text on a context of
 * its own that shares the global object; threads are detached. Mutexes are
 * the platform's (recursive, abandoned when their owner ends), known to
 * script by numbers of the host's own. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <map>

#include "engine.h"
#include "system_object.h"

namespace kx4 {

static HostApi *const &api = systemApi;

static DWORD WINAPI scriptThread(LPVOID parameter) {
    char *text = static_cast<char *>(parameter);
    evaluateOnNewContext("runThread", text);
    free(text);
    engineRelease();  // taken by createThread before the thread started
    return 0;
}

// Functions handed to createThread wait here until their thread takes them
// out: a new thread starts from text alone, and the engine keeps no source
// text of a function to hand over. The global property is made on first
// use, not enumerable, read-only and permanent; each function sits under a
// key of its own (counted under the heap lock, which natives hold; the
// count may wrap: a function is taken out as soon as its thread starts).
static const char kThreadFunctions[] = "__kx4ThreadFunctions";
static unsigned g_lastThreadFunction = 0;

static JSObject *threadFunctions(JSContext *cx) {
    JSObject *global = api->getGlobalObject(cx);
    jsval v = api->getPropertyValue(cx, global, kThreadFunctions);
    if (kx4IsObject(v)) return JSVAL_TO_OBJECT(v);
    JSObject *pins = api->newObject(cx, nullptr);
    if (!pins || !api->defineProperty(cx, global, kThreadFunctions, OBJECT_TO_JSVAL(pins), 0, 0,
                                      JSPROP_READONLY | JSPROP_PERMANENT))
        return nullptr;
    return pins;
}

// Evaluates a short host text on cx; its result, or undefined on failure
// (the error is pending then).
static jsval evaluateHostText(JSContext *cx, const char *text) {
    jsval result = JSVAL_VOID;
    if (!api->evaluateScript(cx, "System", text, &result)) return JSVAL_VOID;
    return result;
}

// Pins fn for a new thread under a new key, written into `key`. False when
// fn is not a function (then nothing is pinned) or could not be pinned
// (then an error is pending).
static bool pinThreadFunction(JSContext *cx, jsval fn, char *key, size_t size) {
    JSObject *pins = threadFunctions(cx);
    if (!pins) return false;
    snprintf(key, size, "f%u", ++g_lastThreadFunction);
    if (!api->defineProperty(cx, pins, key, fn, 0, 0, 0)) return false;
    char probe[128];
    snprintf(probe, sizeof probe, "typeof %s.%s == 'function' || !delete %s.%s", kThreadFunctions, key,
             kThreadFunctions, key);
    return evaluateHostText(cx, probe) == JSVAL_TRUE;
}

JSBool systemCreateThread(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "System.createThread(<function>)")) return JS_FALSE;
    // A function runs as it is, called by a text that takes it out of its
    // pin; anything else is program text.
    char key[32], call[160];
    bool function = kx4IsObject(argv[0]) && pinThreadFunction(cx, argv[0], key, sizeof key);
    if (function)
        snprintf(call, sizeof call, "(function (pins) { var f = pins.%s; delete pins.%s; f(); })(%s)", key, key,
                 kThreadFunctions);
    const char *source = function ? call : api->valueToString(cx, argv[0]);
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    size_t size = strlen(source) + 1;
    char *text = static_cast<char *>(malloc(size));
    DWORD id = 0;
    HANDLE thread = nullptr;
    if (text) {
        memcpy(text, source, size);
        // Counted before it starts, so teardown never frees the heap under it.
        engineRetain();
        Kx4HeapReleased released(api, cx);
        thread = CreateThread(nullptr, 0, scriptThread, text, 0, &id);
        if (thread) CloseHandle(thread);
    }
    if (!thread) {
        if (text) engineRelease();
        free(text);
        if (function) {
            // No thread will take the function out.
            char unpin[96];
            snprintf(unpin, sizeof unpin, "delete %s.%s", kThreadFunctions, key);
            evaluateHostText(cx, unpin);
        }
    }
    *rval = api->newNumber(cx, thread ? static_cast<double>(id) : -1.0);
    return JS_TRUE;
}

// The mutexes createMutex made, by the number script holds for each.
// Numbers count up from 1 and are never given twice, so a number kept after
// destroyMutex, or one a script made up (-1 and -2 would be the process and
// thread pseudo-handles), reaches no handle at all: a second destroyMutex
// cannot close what reused a handle value. Guarded by the heap lock: only
// natives use it, and they run holding the heap.
static std::map<int64_t, HANDLE> g_mutexes;
static int64_t g_lastMutex = 0;

// The mutex a script number names, or null. Only whole numbers that
// createMutex gave match; NaN and fractions match nothing.
static HANDLE findMutex(double number) {
    if (!(number >= 1 && number <= 9007199254740992.0) || number != static_cast<double>(static_cast<int64_t>(number)))
        return nullptr;
    auto it = g_mutexes.find(static_cast<int64_t>(number));
    return it == g_mutexes.end() ? nullptr : it->second;
}

JSBool systemCreateMutex(JSContext *cx, JSObject *, uintN, jsval *, jsval *rval) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, nullptr);
    double number = 0;  // none could be made
    if (mutex) {
        try {
            g_mutexes.emplace(g_lastMutex + 1, mutex);
            number = static_cast<double>(++g_lastMutex);
        } catch (...) {
            CloseHandle(mutex);
        }
    }
    *rval = api->newNumber(cx, number);
    return JS_TRUE;
}

JSBool systemDestroyMutex(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *) {
    if (!kx4RequireArgs(api, cx, argc, 1, "System.destroyMutex(<mutex>)")) return JS_FALSE;
    double number = api->valueToNumber(cx, argv[0]);
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    HANDLE mutex = findMutex(number);
    if (!mutex) return JS_TRUE;
    g_mutexes.erase(static_cast<int64_t>(number));
    // A thread waiting in lockMutex waits on a handle of its own, so the
    // mutex lives on for it.
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    return JS_TRUE;
}

JSBool systemLockMutex(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "System.lockMutex(<mutex>, [timeout])")) return JS_FALSE;
    double number = api->valueToNumber(cx, argv[0]);
    DWORD timeout = static_cast<DWORD>(kx4ArgInt32(api, cx, argc, argv, 1, -1));
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    *rval = INT_TO_JSVAL(0);
    HANDLE mutex = findMutex(number), own;
    if (!mutex || !DuplicateHandle(GetCurrentProcess(), mutex, GetCurrentProcess(), &own, 0, FALSE,
                                   DUPLICATE_SAME_ACCESS))
        return JS_TRUE;
    DWORD result;
    {
        Kx4HeapReleased released(api, cx);
        result = WaitForSingleObject(own, timeout);
        CloseHandle(own);
    }
    // Only a plain signalled wait counts; an abandoned mutex is owned now
    // but still reported as 0.
    *rval = INT_TO_JSVAL(result == WAIT_OBJECT_0 ? 1 : 0);
    return JS_TRUE;
}

JSBool systemUnlockMutex(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *) {
    if (!kx4RequireArgs(api, cx, argc, 1, "System.unlockMutex(<mutex>)")) return JS_FALSE;
    double number = api->valueToNumber(cx, argv[0]);
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    HANDLE mutex = findMutex(number);
    if (mutex) ReleaseMutex(mutex);
    return JS_TRUE;
}

}  // namespace kx4
