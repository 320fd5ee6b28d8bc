#include "engine.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>

#include <windows.h>

#include "byte_text.h"
#include "crash_guard.h"
#include "duktape_internals.h"
#include "heap_allocator.h"
#include "heap_lock.h"

namespace kx4 {

namespace {

// Never destroyed: System.exit runs exit handlers while script threads may
// still be inside the engine.
HeapLock &g_lock = *new HeapLock;
duk_context *g_root = nullptr;
JSContext *g_main = nullptr;
std::atomic<int> g_users{0};  // threads other than the main one using the heap
thread_local JSContext *t_current = nullptr;
thread_local char t_threadToken;        // its address identifies the thread
thread_local JSContext *t_guest = nullptr;  // this thread's context for kept contexts

// ---- Allocator: counts every block against the heap's limit (a refusal
// lets the engine collect and retry, then throw a catchable "alloc failed")
// and keeps freed blocks for reuse. The heap lock guards it.

// Large freed blocks kept for reuse, beyond what the heap holds in use.
const size_t kKeptLargeBlocks = 4u << 20;
HeapAllocator &g_heap = *new HeapAllocator(kHeapLimit, kKeptLargeBlocks);  // never destroyed, see g_lock

void *heapAlloc(void *, duk_size_t size) { return g_heap.alloc(size); }
void heapFree(void *, void *ptr) { g_heap.free(ptr); }
void *heapRealloc(void *, void *ptr, duk_size_t size) { return g_heap.realloc(ptr, size); }

void fatalError(void *, const char *msg) {
    fprintf(stdout, "kx4: fatal engine error: %s\n", msg ? msg : "");
    fflush(stdout);
    _Exit(1);
}

// Contexts stay reachable through the heap stash while they live, keyed by
// their address.
void stashKey(char *buf, size_t size, const JSContext *cx) {
    snprintf(buf, size, "kx4.context.%p", static_cast<const void *>(cx));
}

JSContext *newContextLocked() {
    JSContext *cx = new JSContext();
    cx->thread = &t_threadToken;
    duk_context *root = g_root;
    char key[64];
    stashKey(key, sizeof key, cx);
    duk_push_heap_stash(root);
    duk_push_thread(root);
    cx->duk = duk_get_context(root, -1);
    duk_put_prop_string(root, -2, key);
    duk_pop(root);
    return cx;
}

}  // namespace

// Called by the executor every few thousand instructions. When another
// thread waits and this one has held the heap for a while, hand it over.
extern "C" int kx4_exec_timeout_check(void *) {
    if (!g_lock.othersWaiting()) return 0;
    if (g_lock.heldFor() < std::chrono::milliseconds(10)) return 0;
    duk_context *running = kx4_duk_running_thread(g_root);
    if (!running) return 0;
    kx4_duk_set_interrupt_running(g_root, 0);
    duk_thread_state state;
    duk_suspend(running, &state);
    int depth = g_lock.releaseAll();
    g_lock.reacquire(depth);
    duk_resume(running, &state);
    kx4_duk_set_interrupt_running(g_root, 1);
    return 0;
}

void defineToSource(JSContext *cx);  // to_source.cpp

bool engineCreate() {
    if (g_root) return true;
    g_lock.enter();
    g_root = duk_create_heap(heapAlloc, heapRealloc, heapFree, nullptr, fatalError);
    if (!g_root) {
        g_lock.leave();
        return false;
    }
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    uint64_t unpredictable = static_cast<uint64_t>(counter.QuadPart) * 0x9E3779B97F4A7C15ull ^
                             (static_cast<uint64_t>(GetCurrentProcessId()) << 32) ^
                             reinterpret_cast<uintptr_t>(&counter);
    internPrivateKey(g_root, unpredictable);
    installCrashGuard();
    g_main = newContextLocked();
    g_lock.leave();
    beginRequest(g_main);
    defineToSource(g_main);
    // Every script context is an engine thread bound to one OS thread;
    // script coroutines would run natives on threads the host does not know.
    // (Coroutine support cannot be compiled out of the prebuilt sources.)
    // Duktape.fin would hand scripts the native finalizers, and let them
    // put one class's finalizer on any object.
    jsval ignored;
    // CBOR.decode makes strings of any bytes, hidden symbols among them,
    // which would let script reach the host's hidden properties.
    hostApi()->evaluateScript(g_main, "engine", "delete Duktape.Thread; delete Duktape.fin; delete CBOR;", &ignored);
    endRequest(g_main);
    return true;
}

bool engineDestroy() {
    if (!g_root) return true;
    g_lock.enter();
    // Checked under the lock: a thread that retains the heap later finds it
    // gone (contextCreate gives null) instead of using it half-freed.
    if (g_users.load() != 0) {
        g_lock.leave();
        return false;  // never free it under a live thread
    }
    // The finalizers of what is left run here, native ones included: a
    // fault in one ends the process like a fault in any evaluation, instead
    // of leaving it to the system's debugger.
    CrashGuard guard;
    // No log: the contexts it would read are being freed.
    enterCrashGuard(&guard, g_main, "teardown", false);
    duk_destroy_heap(g_root);
    leaveCrashGuard(&guard);
    g_root = nullptr;
    delete g_main;
    g_main = nullptr;
    g_heap.trim();
    g_lock.leave();
    return true;
}

JSContext *mainContext() { return g_main; }

void engineRetain() { g_users++; }
void engineRelease() { g_users--; }

JSContext *contextCreate() {
    g_lock.enter();
    JSContext *cx = g_root ? newContextLocked() : nullptr;
    g_lock.leave();
    return cx;
}

void contextDestroy(JSContext *cx) {
    if (!cx) return;
    g_lock.enter();
    char key[64];
    stashKey(key, sizeof key, cx);
    duk_push_heap_stash(g_root);
    duk_del_prop_string(g_root, -1, key);
    duk_pop(g_root);
    duk_gc(g_root, 0);
    g_lock.leave();
    delete cx;
}

void evaluateOnNewContext(const char *fileName, const char *text) {
    engineRetain();
    JSContext *cx = contextCreate();
    if (cx) {
        beginRequest(cx);
        jsval ignored;
        hostApi()->evaluateScript(cx, fileName, text, &ignored);
        endRequest(cx);
        CrashGuard guard;
        enterCrashGuard(&guard, cx, text, false);
        contextDestroy(cx);
        leaveCrashGuard(&guard);
    }
    engineRelease();
}

JSContext *currentContext() { return t_current; }

JSContext *boundContext(JSContext *cx) {
    if (!cx) cx = g_main;
    if (cx && cx->thread == &t_threadToken) return cx;
    if (t_current && t_current->thread == &t_threadToken) return t_current;
    if (!t_guest) t_guest = contextCreate();
    return t_guest ? t_guest : cx;
}

size_t heapBytesInUse() { return g_heap.bytesInUse(); }

// ---- Requests ---------------------------------------------------------------

void beginRequest(JSContext *cx) {
    cx = boundContext(cx);
    g_lock.enter();
    RequestScope scope;
    scope.previous = t_current;
    scope.resumedSuspended = false;
    if (cx->suspended) {
        // A callback on the thread that suspended this context (a window
        // procedure inside an event loop): run on it, suspend it again at
        // the matching endRequest.
        duk_resume(cx->duk, &cx->suspendState);
        cx->suspended = false;
        scope.resumedSuspended = true;
    }
    scope.stackTop = duk_get_top(cx->duk);
    // A request nested inside a native keeps that native's errors pending;
    // a fresh one, or a callback on a suspended context, starts a new level
    // whose uncaught errors go to the reporter.
    scope.callBase = (cx->scopes.empty() || scope.resumedSuspended) ? cx->callDepth : cx->scopes.back().callBase;
    scope.scratch = cx->scratch.mark();
    cx->scopes.push_back(scope);
    t_current = cx;
}

void endRequest(JSContext *cx) {
    cx = boundContext(cx);
    if (cx->scopes.empty()) return;
    RequestScope scope = cx->scopes.back();
    cx->scopes.pop_back();
    if (cx->hasPending && cx->pendingIndex >= scope.stackTop && cx->pendingIndex < duk_get_top(cx->duk)) {
        // An error left pending inside the scope outlives it: it belongs to
        // the native that will fail with it.
        duk_copy(cx->duk, cx->pendingIndex, scope.stackTop);
        cx->pendingIndex = scope.stackTop++;
    }
    if (duk_get_top(cx->duk) > scope.stackTop) duk_set_top(cx->duk, scope.stackTop);
    cx->scratch.release(scope.scratch);
    if (scope.resumedSuspended) {
        duk_suspend(cx->duk, &cx->suspendState);
        cx->suspended = true;
    }
    t_current = scope.previous;
    g_lock.leave();
}

int suspendRequest(JSContext *cx) {
    cx = boundContext(cx);
    duk_suspend(cx->duk, &cx->suspendState);
    cx->suspended = true;
    return g_lock.releaseAll();
}

void resumeRequest(JSContext *cx, int depth) {
    cx = boundContext(cx);
    g_lock.reacquire(depth);
    duk_resume(cx->duk, &cx->suspendState);
    cx->suspended = false;
    t_current = cx;
}

// ---- Finalizers ---------------------------------------------------------------

namespace {
// The engine runs finalizers on whatever engine thread collects. The
// finalizer gets a context of its own for that moment, so values it makes
// land on the collecting thread's stack and go when it returns.
duk_ret_t finalizeTrampoline(duk_context *ctx) {
    duk_push_current_function(ctx);
    duk_get_prop_string(ctx, -1, DUK_HIDDEN_SYMBOL("kx4.finalize"));
    JSFinalizeOp finalize = reinterpret_cast<JSFinalizeOp>(duk_get_pointer(ctx, -1));
    duk_pop_2(ctx);
    // Only the engine calls this, with the object being collected; refuse
    // anything else rather than read a string as an object.
    if (!finalize || !duk_is_object(ctx, 0)) return 0;
    JSObject *obj = reinterpret_cast<JSObject *>(duk_get_heapptr(ctx, 0));
    JSContext fcx;
    fcx.duk = ctx;
    fcx.thread = &t_threadToken;
    RequestScope scope{t_current, duk_get_top(ctx), 0, fcx.scratch.mark(), false};
    fcx.scopes.push_back(scope);
    t_current = &fcx;
    finalize(&fcx, obj);
    t_current = scope.previous;
    duk_set_top(ctx, scope.stackTop);
    return 0;
}
}  // namespace

void pushFinalizer(JSContext *cx, JSFinalizeOp finalize) {
    duk_context *ctx = cx->duk;
    duk_push_c_function(ctx, finalizeTrampoline, 2);
    duk_push_pointer(ctx, reinterpret_cast<void *>(finalize));
    duk_put_prop_string(ctx, -2, DUK_HIDDEN_SYMBOL("kx4.finalize"));
}

// ---- Values -----------------------------------------------------------------

jsval numberWord(JSContext *cx, double d) {
    if (d >= JSVAL_INT_MIN && d <= JSVAL_INT_MAX) {
        int32_t i = static_cast<int32_t>(d);
        if (static_cast<double>(i) == d && !(i == 0 && signbit(d))) return INT_TO_JSVAL(i);
    }
    double *box = static_cast<double *>(cx->scratch.alloc(sizeof(double)));
    if (!box) return JSVAL_VOID;
    *box = d;
    return reinterpret_cast<jsval>(box) | JSVAL_DOUBLE;
}

jsval wordAt(JSContext *cx, duk_idx_t idx) {
    duk_context *ctx = cx->duk;
    switch (duk_get_type(ctx, idx)) {
    case DUK_TYPE_NULL:
        return JSVAL_NULL;
    case DUK_TYPE_BOOLEAN:
        return duk_get_boolean(ctx, idx) ? JSVAL_TRUE : JSVAL_FALSE;
    case DUK_TYPE_NUMBER:
        return numberWord(cx, duk_get_number(ctx, idx));
    case DUK_TYPE_STRING: {
        void *h = duk_get_heapptr(ctx, idx);
        if (!kx4_duk_is_symbol_string(h)) return reinterpret_cast<jsval>(h) | JSVAL_STRING;
        duk_to_object(ctx, idx);
        return reinterpret_cast<jsval>(duk_get_heapptr(ctx, idx));
    }
    case DUK_TYPE_OBJECT:
        return reinterpret_cast<jsval>(duk_get_heapptr(ctx, idx));
    case DUK_TYPE_BUFFER:
    case DUK_TYPE_POINTER:
    case DUK_TYPE_LIGHTFUNC:
        duk_to_object(ctx, idx);
        return reinterpret_cast<jsval>(duk_get_heapptr(ctx, idx));
    default:
        return JSVAL_VOID;
    }
}

void pushWord(JSContext *cx, jsval v) {
    duk_context *ctx = cx->duk;
    if (v == JSVAL_VOID) {
        duk_push_undefined(ctx);
    } else if (v == JSVAL_NULL) {
        duk_push_null(ctx);
    } else if (v & JSVAL_INT) {
        duk_push_int(ctx, JSVAL_TO_INT(v));
    } else {
        switch (JSVAL_TAG(v)) {
        case JSVAL_DOUBLE:
            duk_push_number(ctx, JSVAL_TO_DOUBLE(v));
            break;
        case JSVAL_STRING:
            duk_push_heapptr(ctx, reinterpret_cast<void *>(v & ~static_cast<jsval>(JSVAL_TAGMASK)));
            break;
        case JSVAL_BOOLEAN:
            duk_push_boolean(ctx, v == JSVAL_TRUE);
            break;
        default:
            duk_push_heapptr(ctx, reinterpret_cast<void *>(v));
            break;
        }
    }
}

// ---- Text -------------------------------------------------------------------

namespace {
// Widening needs a temporary copy; a per-thread buffer cannot leak when the
// engine throws out of the push that uses it.
thread_local uint8_t *t_widenBuffer = nullptr;
thread_local size_t t_widenSize = 0;

uint8_t *widenBuffer(size_t size) {
    if (size > t_widenSize) {
        uint8_t *p = static_cast<uint8_t *>(realloc(t_widenBuffer, size));
        if (!p) return nullptr;
        t_widenBuffer = p;
        t_widenSize = size;
    }
    return t_widenBuffer;
}

void trimWidenBuffer() {
    if (t_widenSize > (1u << 20)) {
        free(t_widenBuffer);
        t_widenBuffer = nullptr;
        t_widenSize = 0;
    }
}
}  // namespace

void pushByteString(duk_context *ctx, const char *bytes, size_t count) {
    const uint8_t *in = reinterpret_cast<const uint8_t *>(bytes);
    size_t length = widenedLength(in, count);
    if (length == count) {  // ASCII is its own internal form
        duk_push_lstring(ctx, bytes, count);
        return;
    }
    uint8_t *out = widenBuffer(length + 1);
    if (!out) {
        duk_error(ctx, DUK_ERR_RANGE_ERROR, "out of memory");
        return;
    }
    widenBytes(in, count, out);
    duk_push_lstring(ctx, reinterpret_cast<const char *>(out), length);
    trimWidenBuffer();
}

}  // namespace kx4
