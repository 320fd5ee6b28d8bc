/* Calling natives: the trampoline between the engine's calling convention
 * and JSNative, the pending exception a failing native leaves behind, and
 * the report of exceptions nobody caught. */
#include <stdio.h>
#include <string.h>

#include <mutex>
#include <vector>

#include "engine.h"
#include "error_report.h"

namespace kx4 {

namespace {

// Engine functions carry a 16-bit "magic" number; it indexes this registry
// of natives. Entries are added under the heap lock and never removed.
struct NativeEntry {
    JSNative native;
    unsigned nargs;
    bool constructor;
};
std::vector<NativeEntry> &g_natives = *new std::vector<NativeEntry>;  // never destroyed, see g_lock
const size_t kMaxNatives = 32767;

int registerNative(JSNative native, unsigned nargs, bool constructor) {
    for (size_t i = 0; i < g_natives.size(); i++) {
        const NativeEntry &e = g_natives[i];
        if (e.native == native && e.nargs == nargs && e.constructor == constructor) return static_cast<int>(i);
    }
    if (g_natives.size() >= kMaxNatives) return -1;
    g_natives.push_back({native, nargs, constructor});
    return static_cast<int>(g_natives.size() - 1);
}

JSObject *thisObject(JSContext *cx, bool construct, bool classConstructor) {
    duk_context *ctx = cx->duk;
    if (classConstructor && !construct) {
        // Called without new: the native still gets a fresh instance (never
        // the global object, whose private data it would set).
        duk_push_object(ctx);
        duk_push_current_function(ctx);
        duk_get_prop_string(ctx, -1, "prototype");
        if (duk_is_object(ctx, -1)) {
            duk_set_prototype(ctx, -3);
        } else {
            duk_pop(ctx);
        }
        duk_pop(ctx);
    } else if (!construct) {
        duk_push_this(ctx);
        if (duk_is_undefined(ctx, -1) || duk_is_null(ctx, -1)) {
            duk_pop(ctx);
            duk_push_global_object(ctx);
        } else if (!duk_is_object(ctx, -1)) {
            duk_to_object(ctx, -1);
        }
    } else {
        duk_push_this(ctx);
    }
    return reinterpret_cast<JSObject *>(duk_get_heapptr(ctx, -1));
}

duk_ret_t nativeTrampoline(duk_context *ctx) {
    JSContext *cx = currentContext();
    if (!cx || cx->duk != ctx) return throwError(ctx, "native called outside its context");
    const NativeEntry entry = g_natives[duk_get_current_magic(ctx)];
    duk_idx_t argc = duk_get_top(ctx);
    unsigned slots = static_cast<unsigned>(argc) > entry.nargs ? static_cast<unsigned>(argc) : entry.nargs;

    ScratchArena::Mark mark = cx->scratch.mark();
    jsval *argv = static_cast<jsval *>(cx->scratch.alloc((slots + 1) * sizeof(jsval)));
    if (!argv) return throwError(ctx, "out of memory");
    for (duk_idx_t i = 0; i < argc; i++) argv[i] = wordAt(cx, i);
    for (unsigned i = static_cast<unsigned>(argc); i < slots; i++) argv[i] = JSVAL_VOID;
    bool construct = duk_is_constructor_call(ctx) != 0;
    duk_require_stack(ctx, 8);
    JSObject *obj = thisObject(cx, construct, entry.constructor);

    NativeBracket bracket;
    enterNative(cx, &bracket, mark);
    jsval rval = JSVAL_VOID;
    JSBool ok = entry.native(cx, obj, static_cast<uintN>(argc), argv, &rval);
    leaveNative(cx, bracket, ok, "native function failed");
    if (construct && !(JSVAL_IS_OBJECT(rval) && rval != JSVAL_NULL)) {
        cx->scratch.release(mark);
        return 0;  // the instance the engine made (and the native filled)
    }
    if (entry.constructor && !construct && !(JSVAL_IS_OBJECT(rval) && rval != JSVAL_NULL))
        rval = reinterpret_cast<jsval>(obj);
    pushWord(cx, rval);
    cx->scratch.release(mark);
    return 1;
}

}  // namespace

void enterNative(JSContext *cx, NativeBracket *bracket, ScratchArena::Mark scratch) {
    bracket->savedHasPending = cx->hasPending;
    bracket->savedPendingIndex = cx->pendingIndex;
    bracket->scratch = scratch;
    cx->hasPending = false;
    cx->callDepth++;
}

void leaveNative(JSContext *cx, const NativeBracket &bracket, JSBool ok, const char *failure) {
    duk_context *ctx = cx->duk;
    cx->callDepth--;
    bool hasPending = cx->hasPending;
    duk_idx_t pendingIndex = cx->pendingIndex;
    cx->hasPending = bracket.savedHasPending;
    cx->pendingIndex = bracket.savedPendingIndex;
    duk_require_stack(ctx, 2);
    // An error left pending is thrown even when the native claims success:
    // a conversion that threw must never pass for a value.
    if (ok && !hasPending) return;
    cx->scratch.release(bracket.scratch);
    if (hasPending && pendingIndex < duk_get_top(ctx)) {
        duk_dup(ctx, pendingIndex);
        duk_throw(ctx);
    }
    throwError(ctx, failure);
}

void pushNativeFunction(JSContext *cx, const char *name, JSNative native, unsigned nargs, bool constructor) {
    duk_context *ctx = cx->duk;
    int magic = registerNative(native, nargs, constructor);
    if (magic < 0) throwError(ctx, "too many native functions");
    duk_push_c_function(ctx, nativeTrampoline, DUK_VARARGS);
    duk_set_magic(ctx, -1, magic);
    // The declared arity is the function's length; the real argument count
    // still reaches the native.
    duk_push_string(ctx, "length");
    duk_push_uint(ctx, nargs);
    duk_def_prop(ctx, -3, DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_FORCE);
    if (name) {
        duk_push_string(ctx, "name");
        pushByteString(ctx, name, strlen(name));
        duk_def_prop(ctx, -3, DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_FORCE);
    }
}

// Pushes the file name and line of the innermost script frame ([... file
// line]); false (nothing pushed) when no script is running.
static bool pushCallingScriptPlace(duk_context *ctx) {
    for (duk_int_t level = -1; level >= -64; level--) {
        duk_inspect_callstack_entry(ctx, level);
        if (duk_is_undefined(ctx, -1)) {
            duk_pop(ctx);
            return false;
        }
        duk_get_prop_string(ctx, -1, "function");
        bool native = duk_is_c_function(ctx, -1) || !duk_is_function(ctx, -1);
        if (!native) {
            duk_get_prop_string(ctx, -1, "fileName");  // [entry function file]
            duk_get_prop_string(ctx, -3, "lineNumber");  // [entry function file line]
            duk_remove(ctx, -3);
            duk_remove(ctx, -3);
            return true;
        }
        duk_pop_2(ctx);
    }
    return false;
}

// Errors get the file and line of the innermost script frame, the way an
// error raised by a native blames the script that called it.
static void blameCallingScript(duk_context *ctx, duk_idx_t error) {
    error = duk_normalize_index(ctx, error);
    if (!pushCallingScriptPlace(ctx)) return;
    duk_uint_t flags = DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_SET_WRITABLE | DUK_DEFPROP_SET_CONFIGURABLE |
                       DUK_DEFPROP_FORCE;
    duk_push_string(ctx, "lineNumber");
    duk_insert(ctx, -2);
    duk_def_prop(ctx, error, flags);
    duk_push_string(ctx, "fileName");
    duk_insert(ctx, -2);
    duk_def_prop(ctx, error, flags);
}

static duk_ret_t printReportFn(duk_context *ctx, void *udata) {
    const char *message = static_cast<const char *>(udata);
    ErrorReport report;
    std::string file;
    if (pushCallingScriptPlace(ctx)) {
        file = duk_safe_to_string(ctx, -2);
        report.fileName = file.c_str();
        report.lineNumber = duk_get_uint(ctx, -1);
        duk_pop_2(ctx);
    }
    // A report that does not stop the script: the message with its place.
    printErrorReport(message, report.fileName ? &report : nullptr);
    fflush(stdout);
    return 0;
}

void printReport(JSContext *cx, const char *message) {
    cx = boundContext(cx);
    if (!duk_check_stack(cx->duk, 8)) return;
    duk_safe_call(cx->duk, printReportFn, const_cast<char *>(message), 0, 1);
    duk_pop(cx->duk);
}

static duk_ret_t makeError(duk_context *ctx, void *udata) {
    const char *message = static_cast<const char *>(udata);
    duk_push_error_object(ctx, DUK_ERR_ERROR, "%s", "");
    duk_push_string(ctx, "message");
    pushByteString(ctx, message, strlen(message));
    duk_def_prop(ctx, -3, DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_SET_WRITABLE | DUK_DEFPROP_SET_CONFIGURABLE);
    blameCallingScript(ctx, -1);
    return 1;
}

duk_ret_t throwError(duk_context *ctx, const char *message) {
    duk_require_stack(ctx, 8);
    makeError(ctx, const_cast<char *>(message));
    return duk_throw(ctx);
}

void setPendingError(JSContext *cx, const char *message) {
    duk_context *ctx = cx->duk;
    bool inNative = !cx->scopes.empty() && cx->callDepth > cx->scopes.back().callBase;
    if (!inNative || !duk_check_stack(ctx, 8)) {
        printErrorReport(message, nullptr);
        fflush(stdout);
        return;
    }
    duk_safe_call(ctx, makeError, const_cast<char *>(message), 0, 1);
    cx->hasPending = true;
    cx->pendingIndex = duk_get_top_index(ctx);
}

void leaveOrReportException(JSContext *cx) {
    duk_context *ctx = cx->duk;
    bool inNative = !cx->scopes.empty() && cx->callDepth > cx->scopes.back().callBase;
    if (inNative) {
        cx->hasPending = true;
        cx->pendingIndex = duk_get_top_index(ctx);
        return;
    }
    reportUncaught(cx, -1);
    duk_pop(ctx);
}

// Pushes String(value), or a fixed text when even that throws.
static duk_ret_t safeToString(duk_context *ctx, void *) {
    duk_to_string(ctx, -1);
    return 1;
}

static duk_ret_t readErrorPlace(duk_context *ctx, void *) {
    // [error] -> [error fileName lineNumber]
    duk_get_prop_string(ctx, -1, "fileName");
    duk_to_string(ctx, -1);
    duk_get_prop_string(ctx, -2, "lineNumber");
    duk_to_uint(ctx, -1);
    return 2;
}

// An uncaught Error prints as "file:line Name: message"; any other value has
// no place and prints as "uncaught exception: value".
void reportUncaught(JSContext *cx, duk_idx_t idx) {
    duk_context *ctx = cx->duk;
    if (!duk_check_stack(ctx, 8)) return;
    idx = duk_normalize_index(ctx, idx);
    bool isError = duk_is_error(ctx, idx) != 0;
    duk_dup(ctx, idx);
    if (duk_safe_call(ctx, safeToString, nullptr, 1, 1) != DUK_EXEC_SUCCESS) {
        duk_pop(ctx);
        duk_push_string(ctx, "(exception that cannot be converted to text)");
    }
    const char *text = hostApi()->valueToString(cx, wordAt(cx, -1));
    if (!isError) {
        std::string message = std::string("uncaught exception: ") + text;
        printErrorReport(message.c_str(), nullptr);
    } else {
        duk_dup(ctx, idx);
        ErrorReport report;
        report.flags = kReportException;
        if (duk_safe_call(ctx, readErrorPlace, nullptr, 1, 2) == DUK_EXEC_SUCCESS) {
            report.fileName = hostApi()->valueToString(cx, wordAt(cx, -2));
            report.lineNumber = duk_get_uint(ctx, -1);
            printErrorReport(text, &report);
            duk_pop_2(ctx);
        } else {
            printErrorReport(text, &report);
            duk_pop(ctx);
        }
    }
    fflush(stdout);
    duk_pop(ctx);
}

}  // namespace kx4
