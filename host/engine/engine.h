/* The engine adapter: kx4's classic engine model (runtime, contexts,
 * requests, value words) realised on one Duktape heap.
 *
 * - The heap is the runtime. Every context is a Duktape thread that shares the
 *   one global object and is used by one OS thread only.
 * - A request is ownership of the heap lock; suspending a request suspends the
 *   context and releases the lock entirely.
 * - Values handed out to natives stay on the value stack of the innermost
 *   native call or request scope of their context, so they live exactly as
 *   long as that scope.
 */
#ifndef KX4_ENGINE_H
#define KX4_ENGINE_H

#include <vector>

#include "duktape.h"
#include "kx4.h"
#include "scratch_arena.h"

namespace kx4 {

struct RequestScope {
    JSContext *previous;        // the context this thread ran before
    duk_idx_t stackTop;         // value stack top when the scope began
    int callBase;               // native calls below this scope
    ScratchArena::Mark scratch;
    bool resumedSuspended;      // the context was suspended when entered
};

}  // namespace kx4

struct JSContext {
    duk_context *duk = nullptr;
    const void *thread = nullptr;  // the OS thread the context belongs to
    bool suspended = false;
    duk_thread_state suspendState;
    int callDepth = 0;  // natives running on this context
    std::vector<kx4::RequestScope> scopes;
    kx4::ScratchArena scratch;
    // The exception a failing native leaves for its caller, as a value stack
    // index of that native's frame.
    bool hasPending = false;
    duk_idx_t pendingIndex = 0;
    // The string whose 8-bit text could not be made (no memory): its length
    // then reads 0 too, so a native pairing valueToString with
    // valueStringLength never reads past the "" it got.
    void *failedText = nullptr;
};

namespace kx4 {

// ==== engine.cpp: heap, contexts, requests, values, finalizers, text ====

// ---- Heap and contexts ----------------------------------------------------

// Creates the heap (32 MiB limit), the main context and the host's table.
// Returns false when the heap cannot be made.
bool engineCreate();
// Destroys the heap unless a thread other than the main one still uses it.
// Returns whether it did.
bool engineDestroy();
// Threads other than the main one hold the heap while they may use it.
void engineRetain();
void engineRelease();

JSContext *mainContext();

// A new context on the shared heap and global object, for another OS thread.
JSContext *contextCreate();
// Destroys a context made by contextCreate (collecting garbage, as the
// classic model does). The caller must not be inside a request on it.
void contextDestroy(JSContext *cx);

// Evaluates text on a context made for it on this OS thread and destroyed
// afterwards, inside a request: how script threads, console events and
// service callbacks (threads that may run beside the main context's user)
// enter the engine. Errors go to the reporter; the heap is held meanwhile,
// and a fault while the context goes ends the process without a crash log.
void evaluateOnNewContext(const char *fileName, const char *text);

// The context this OS thread is running script on, or null.
JSContext *currentContext();

// The context a call on cx really uses. A context belongs to one OS thread;
// a module callback on another thread that uses a context it kept (say the
// one initModule got) runs on that thread's own context instead, made on
// first use. Null means the main context.
JSContext *boundContext(JSContext *cx);

// Bytes the heap holds now, and its limit.
size_t heapBytesInUse();
const size_t kHeapLimit = 0x2000000;

// ---- Requests -------------------------------------------------------------

void beginRequest(JSContext *cx);
void endRequest(JSContext *cx);
int suspendRequest(JSContext *cx);
void resumeRequest(JSContext *cx, int depth);

// ---- Values ---------------------------------------------------------------

// The word for the value at idx (which stays on the stack). Symbols, buffers,
// pointers and lightfuncs are replaced in place by their object form.
jsval wordAt(JSContext *cx, duk_idx_t idx);
// Pushes the value a word stands for. The caller reserved the stack space.
void pushWord(JSContext *cx, jsval v);
// The word for a number (boxed in the scope's scratch memory unless it is a
// 31-bit integer); JSVAL_VOID when no memory is left.
jsval numberWord(JSContext *cx, double d);

// ---- Finalizers -----------------------------------------------------------

// Pushes the function the engine calls to finalize instances of a class.
void pushFinalizer(JSContext *cx, JSFinalizeOp finalize);

// ---- Text -----------------------------------------------------------------

// Pushes a string made from 8-bit text (count bytes).
void pushByteString(duk_context *ctx, const char *bytes, size_t count);

// ==== natives.cpp: calling natives, pending errors, reports ====

// Pushes a function object that calls the native. name may be null. A class
// constructor called without new still gets a fresh instance.
void pushNativeFunction(JSContext *cx, const char *name, JSNative native, unsigned nargs,
                        bool constructor = false);
// Brackets a native's own body (functions, constructors, property hooks):
// it gets a pending-error slot of its own and counts as running on cx.
// `scratch` is where its scratch memory (argument vector included) begins.
struct NativeBracket {
    bool savedHasPending;
    duk_idx_t savedPendingIndex;
    ScratchArena::Mark scratch;
};
void enterNative(JSContext *cx, NativeBracket *bracket, ScratchArena::Mark scratch);
// Ends the bracket. When the native failed or left an error pending,
// releases its scratch memory and throws the pending error, or an Error with
// `failure` when none is pending (so it returns only for a native that
// succeeded).
void leaveNative(JSContext *cx, const NativeBracket &bracket, JSBool ok, const char *failure);

// Throws an Error blamed on the calling script (not on host source files).
duk_ret_t throwError(duk_context *ctx, const char *message);
// Records an error for the running native (or reports it when no native is
// running on cx). message is 8-bit text.
void setPendingError(JSContext *cx, const char *message);
// Prints a report that does not fail the call (a native that goes on after
// a problem), with the calling script's file and line.
void printReport(JSContext *cx, const char *message);
// Moves the exception on the stack top into the pending slot when a native
// is running on cx, else reports it as uncaught and pops it.
void leaveOrReportException(JSContext *cx);
// Prints an uncaught exception value (at idx) with the host's reporter.
void reportUncaught(JSContext *cx, duk_idx_t idx);

// ==== host_api.cpp: the HostApi table, and what the host uses beside it ====

// The table every native unit and module gets.
HostApi *hostApi();
// Prepares getPrivate (called once when the heap is made); `unpredictable`
// goes into the key's name.
void internPrivateKey(duk_context *root, uint64_t unpredictable);

// Defines a property under a UTF-16 name (for names that 8-bit text cannot
// carry, such as environment variable names).
JSBool defineUCProperty(JSContext *cx, JSObject *obj, const jschar *name, jsval v, unsigned attrs);
// A value's string form as bytes (one per UTF-16 unit, low 8 bits) with
// their exact count; on failure "" with count 0 and an error pending.
const char *valueToBytes(JSContext *cx, jsval v, size_t *count);
// Forces a full garbage collection (finalizers included).
void collectGarbage(JSContext *cx);

}  // namespace kx4

#endif
