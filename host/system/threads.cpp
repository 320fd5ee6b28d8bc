/* Script threads and mutexes. A script thread runs its text on a context of
 * its own that shares the global object; threads are detached. Mutexes are
 * the platform's (recursive, abandoned when their owner ends). */
#include <stdlib.h>
#include <string.h>
#include <windows.h>

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

JSBool systemCreateThread(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "System.createThread(<function>)")) return JS_FALSE;
    const char *source = api->valueToString(cx, argv[0]);
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    size_t size = strlen(source) + 1;
    char *text = static_cast<char *>(malloc(size));
    if (!text) {
        *rval = api->newNumber(cx, -1);
        return JS_TRUE;
    }
    memcpy(text, source, size);
    // Counted before it starts, so teardown never frees the heap under it.
    engineRetain();
    intN depth = api->suspendRequest(cx);
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, scriptThread, text, 0, &id);
    if (thread) CloseHandle(thread);
    api->resumeRequest(cx, depth);
    if (!thread) {
        engineRelease();
        free(text);
    }
    *rval = api->newNumber(cx, thread ? static_cast<double>(id) : -1.0);
    return JS_TRUE;
}

static HANDLE mutexArg(JSContext *cx, jsval v) { return static_cast<HANDLE>(kx4ValueToHandle(api, cx, v)); }

JSBool systemCreateMutex(JSContext *cx, JSObject *, uintN, jsval *, jsval *rval) {
    *rval = kx4HandleToValue(api, cx, CreateMutexW(nullptr, FALSE, nullptr));
    return JS_TRUE;
}

JSBool systemDestroyMutex(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *) {
    if (!kx4RequireArgs(api, cx, argc, 1, "System.destroyMutex(<mutex>)")) return JS_FALSE;
    HANDLE mutex = mutexArg(cx, argv[0]);
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    return JS_TRUE;
}

JSBool systemLockMutex(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "System.lockMutex(<mutex>, [timeout])")) return JS_FALSE;
    DWORD timeout = static_cast<DWORD>(kx4ArgInt32(api, cx, argc, argv, 1, -1));
    HANDLE mutex = mutexArg(cx, argv[0]);
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    intN depth = api->suspendRequest(cx);
    DWORD result = WaitForSingleObject(mutex, timeout);
    api->resumeRequest(cx, depth);
    // Only a plain signalled wait counts; an abandoned mutex is owned now
    // but still reported as 0.
    *rval = INT_TO_JSVAL(result == WAIT_OBJECT_0 ? 1 : 0);
    return JS_TRUE;
}

JSBool systemUnlockMutex(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *) {
    if (!kx4RequireArgs(api, cx, argc, 1, "System.unlockMutex(<mutex>)")) return JS_FALSE;
    HANDLE mutex = mutexArg(cx, argv[0]);
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    ReleaseMutex(mutex);
    return JS_TRUE;
}

}  // namespace kx4
