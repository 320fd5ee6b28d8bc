/* The HostApi slots. Every slot is safe to call from module code: engine
 * errors are caught here (and left pending for the calling native), never
 * thrown through the caller. Values a slot hands out stay on the calling
 * context's value stack for the rest of the native call or request scope. */
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "byte_text.h"
#include "crash_guard.h"
#include "duktape_internals.h"
#include "engine.h"

namespace kx4 {

namespace {

const char kPropertyNameKey[] = DUK_HIDDEN_SYMBOL("kx4.name");
void *g_privateKeyString = nullptr;  // interned key, kept alive in the stash

void *objectPointer(JSObject *obj) { return static_cast<void *>(obj); }

bool reserve(JSContext *cx, int n) { return duk_check_stack(cx->duk, n) != 0; }

// Runs fn protected; on an engine error the error becomes the calling
// native's pending exception (or is reported). Leaves nrets values (on
// success) and returns whether fn succeeded.
bool protectedCall(JSContext *cx, duk_safe_call_function fn, void *udata, duk_idx_t nargs, duk_idx_t nrets) {
    // At least one result slot, or a failure would lose its error.
    duk_idx_t slots = nrets > 0 ? nrets : 1;
    if (duk_safe_call(cx->duk, fn, udata, nargs, slots) == DUK_EXEC_SUCCESS) {
        if (nrets == 0) duk_pop(cx->duk);
        return true;
    }
    // The error sits at -slots; drop the filler above it.
    if (slots > 1) duk_pop_n(cx->duk, slots - 1);
    leaveOrReportException(cx);
    return false;
}

// ---- Text out of the engine --------------------------------------------------

// The string at idx as 8-bit text. ASCII strings are handed out as they are
// stored; others are narrowed into scratch memory of the current scope. The
// engine's character count is the unit count unless the string holds
// characters beyond U+FFFF in four-byte form (only C code makes those), so
// it sizes the buffer and a second pass is needed only for such strings.
// The one place where engine strings become 8-bit or UTF-16 units: on
// failure (no memory) "" with count 0, an error pending, and the string
// remembered so that its length reads 0 too.
template <typename Unit, size_t (*decode)(const uint8_t *, size_t, Unit *, size_t)>
const Unit *decodedStringAt(JSContext *cx, duk_idx_t idx, size_t *count) {
    static const Unit kEmpty[1] = {0};
    size_t blen, clen;
    const unsigned char *data = kx4_duk_string_data(duk_get_heapptr(cx->duk, idx), &blen, &clen);
    void *string = duk_get_heapptr(cx->duk, idx);
    ScratchArena::Mark mark = cx->scratch.mark();
    Unit *out = static_cast<Unit *>(cx->scratch.alloc((clen + 1) * sizeof(Unit)));
    size_t units = out ? decode(data, blen, out, clen) : kTooSmall;
    if (units == kTooSmall) {
        cx->scratch.release(mark);
        units = internalUnitCount(data, blen);
        out = static_cast<Unit *>(cx->scratch.alloc((units + 1) * sizeof(Unit)));
        if (!out) {
            cx->failedText = string;
            setPendingError(cx, "out of memory");
            *count = 0;
            return kEmpty;
        }
        decode(data, blen, out, units);
    }
    if (cx->failedText == string) cx->failedText = nullptr;
    out[units] = 0;
    *count = units;
    return out;
}

// ASCII strings are their own 8-bit text: handed out as stored, no copy.
const char *bytesOfStringAt(JSContext *cx, duk_idx_t idx, size_t *count) {
    size_t blen, clen;
    const unsigned char *data = kx4_duk_string_data(duk_get_heapptr(cx->duk, idx), &blen, &clen);
    if (blen == clen) {
        *count = blen;
        return reinterpret_cast<const char *>(data);
    }
    return reinterpret_cast<const char *>(decodedStringAt<uint8_t, narrowInternal>(cx, idx, count));
}

const jschar *unitsOfStringAt(JSContext *cx, duk_idx_t idx) {
    size_t count;
    return reinterpret_cast<const jschar *>(decodedStringAt<uint16_t, internalToUtf16>(cx, idx, &count));
}

duk_ret_t toStringFn(duk_context *ctx, void *) {
    duk_to_string(ctx, -1);
    return 1;
}

// Pushes the string form of v; false (nothing pushed) when conversion threw.
bool pushStringOf(JSContext *cx, jsval v) {
    if (!reserve(cx, 4)) return false;
    pushWord(cx, v);
    if (duk_is_string(cx->duk, -1) && !duk_is_symbol(cx->duk, -1)) return true;
    return protectedCall(cx, toStringFn, nullptr, 1, 1);
}

const char *valueToString(JSContext *cx, jsval v) {
    cx = boundContext(cx);
    if (JSVAL_IS_STRING(v)) {
        size_t blen, clen;
        const unsigned char *data = kx4_duk_string_data(reinterpret_cast<void *>(v & ~(jsval)JSVAL_TAGMASK), &blen, &clen);
        if (blen == clen) return reinterpret_cast<const char *>(data);
    }
    if (!pushStringOf(cx, v)) return "";
    size_t count;
    return bytesOfStringAt(cx, -1, &count);
}

const jschar *valueToUCString(JSContext *cx, jsval v) {
    cx = boundContext(cx);
    static const jschar kEmpty[1] = {0};
    if (!pushStringOf(cx, v)) return kEmpty;
    return unitsOfStringAt(cx, -1);
}

size_t valueStringLength(JSContext *cx, jsval v) {
    cx = boundContext(cx);
    // The script's own .length: the engine keeps it with the string.
    if (!pushStringOf(cx, v)) return 0;
    size_t blen, clen;
    void *string = duk_get_heapptr(cx->duk, -1);
    kx4_duk_string_data(string, &blen, &clen);
    return string == cx->failedText ? 0 : clen;
}

duk_ret_t toNumberFn(duk_context *ctx, void *) {
    duk_to_number(ctx, -1);
    return 1;
}

double valueToNumber(JSContext *cx, jsval v) {
    cx = boundContext(cx);
    if (JSVAL_IS_INT(v)) return JSVAL_TO_INT(v);
    if (JSVAL_IS_DOUBLE(v)) return JSVAL_TO_DOUBLE(v);
    if (v == JSVAL_VOID) return NAN;
    if (v == JSVAL_NULL || v == JSVAL_FALSE) return 0;
    if (v == JSVAL_TRUE) return 1;
    if (!reserve(cx, 4)) return NAN;
    pushWord(cx, v);
    if (!protectedCall(cx, toNumberFn, nullptr, 1, 1)) return NAN;
    double d = duk_get_number(cx->duk, -1);
    duk_pop(cx->duk);
    return d;
}

// ---- Properties ----------------------------------------------------------------

struct NamedAccess {
    JSContext *cx;
    void *object;
    const char *name;
};

void pushPropertyName(duk_context *ctx, const char *name) { pushByteString(ctx, name, strlen(name)); }

duk_ret_t getPropertyFn(duk_context *ctx, void *udata) {
    NamedAccess *a = static_cast<NamedAccess *>(udata);
    duk_push_heapptr(ctx, a->object);
    pushPropertyName(ctx, a->name);
    duk_get_prop(ctx, -2);
    return 1;
}

jsval getPropertyValue(JSContext *cx, JSObject *obj, const char *name) {
    cx = boundContext(cx);
    // No object and no name: the SDK's question whether the running native
    // has an error pending (kx4ErrorPending).
    if (!obj && !name) return cx->hasPending ? JSVAL_TRUE : JSVAL_FALSE;
    if (!obj || !name || !reserve(cx, 4)) return JSVAL_VOID;
    NamedAccess a{cx, objectPointer(obj), name};
    if (!protectedCall(cx, getPropertyFn, &a, 0, 1)) return JSVAL_VOID;
    return wordAt(cx, -1);
}

double getPropertyNumber(JSContext *cx, JSObject *obj, const char *name, double def) {
    cx = boundContext(cx);
    jsval v = getPropertyValue(cx, obj, name);
    return v == JSVAL_VOID ? def : valueToNumber(cx, v);
}

const char *getPropertyString(JSContext *cx, JSObject *obj, const char *name, const char *def) {
    cx = boundContext(cx);
    jsval v = getPropertyValue(cx, obj, name);
    return v == JSVAL_VOID ? def : valueToString(cx, v);
}

const jschar *getPropertyUCString(JSContext *cx, JSObject *obj, const char *name, const jschar *def) {
    cx = boundContext(cx);
    jsval v = getPropertyValue(cx, obj, name);
    return v == JSVAL_VOID ? def : valueToUCString(cx, v);
}

// ---- Making values ---------------------------------------------------------------

struct Bytes {
    const char *data;
    size_t count;
};

duk_ret_t newByteStringFn(duk_context *ctx, void *udata) {
    Bytes *b = static_cast<Bytes *>(udata);
    pushByteString(ctx, b->data, b->count);
    return 1;
}

struct Units {
    const jschar *data;
    size_t count;
};

duk_ret_t newUnitStringFn(duk_context *ctx, void *udata) {
    Units *u = static_cast<Units *>(udata);
    const uint16_t *units = reinterpret_cast<const uint16_t *>(u->data);
    size_t length = utf16InternalLength(units, u->count);
    uint8_t *buf = static_cast<uint8_t *>(duk_push_fixed_buffer(ctx, length ? length : 1));
    utf16ToInternal(units, u->count, buf);
    duk_push_lstring(ctx, reinterpret_cast<const char *>(buf), length);
    duk_remove(ctx, -2);
    return 1;
}

jsval newStringN(JSContext *cx, const char *bytes, size_t count) {
    cx = boundContext(cx);
    if (!reserve(cx, 4)) return JSVAL_VOID;
    Bytes b{bytes ? bytes : "", bytes ? count : 0};
    if (!protectedCall(cx, newByteStringFn, &b, 0, 1)) return JSVAL_VOID;
    return wordAt(cx, -1);
}

jsval newString(JSContext *cx, const char *text, const jschar *utext) {
    cx = boundContext(cx);
    if (text) return newStringN(cx, text, strlen(text));
    if (!reserve(cx, 4)) return JSVAL_VOID;
    size_t n = 0;
    if (utext)
        while (utext[n]) n++;
    Units u{utext, n};
    if (!protectedCall(cx, newUnitStringFn, &u, 0, 1)) return JSVAL_VOID;
    return wordAt(cx, -1);
}

jsval newNumber(JSContext *cx, double d) { return numberWord(boundContext(cx), d); }

// ---- Evaluation ------------------------------------------------------------------

struct Evaluation {
    const char *fileName;
    const char *source;
};

duk_ret_t evaluateFn(duk_context *ctx, void *udata) {
    Evaluation *e = static_cast<Evaluation *>(udata);
    pushByteString(ctx, e->source, strlen(e->source));
    pushByteString(ctx, e->fileName, strlen(e->fileName));
    duk_compile(ctx, 0);
    duk_call(ctx, 0);
    return 1;
}

JSBool evaluateScript(JSContext *cx, const char *fileName, const char *source, jsval *rval) {
    cx = boundContext(cx);  // null: the main context
    if (!reserve(cx, 8)) return JS_FALSE;
    Evaluation e{fileName ? fileName : "", source ? source : ""};
    CrashGuard guard;
    enterCrashGuard(&guard, cx, e.source);
    bool ok = protectedCall(cx, evaluateFn, &e, 0, 1);
    leaveCrashGuard(&guard);
    if (!ok) return JS_FALSE;
    if (rval) *rval = wordAt(cx, -1);
    return JS_TRUE;
}

// ---- Objects and arrays ---------------------------------------------------------

struct Enumeration {
    void *object;
    duk_idx_t base;
};

duk_ret_t enumerateValuesFn(duk_context *ctx, void *udata) {
    Enumeration *e = static_cast<Enumeration *>(udata);
    // Results: one array of the values, in enumeration order.
    duk_push_array(ctx);
    duk_push_heapptr(ctx, e->object);
    duk_enum(ctx, -1, DUK_ENUM_OWN_PROPERTIES_ONLY);
    duk_uarridx_t i = 0;
    while (duk_next(ctx, -1, 1)) {  // [array obj enum key value]
        duk_put_prop_index(ctx, -5, i++);
        duk_pop(ctx);
    }
    duk_pop_2(ctx);
    return 1;
}

jsval *enumerateValues(JSContext *cx, JSObject *obj) {
    cx = boundContext(cx);
    if (!obj || !reserve(cx, 8)) return nullptr;
    Enumeration e{objectPointer(obj), 0};
    if (!protectedCall(cx, enumerateValuesFn, &e, 0, 1)) return nullptr;
    // The array keeps the values alive for the scope; the block holds words.
    duk_size_t count = duk_get_length(cx->duk, -1);
    jsval *block = static_cast<jsval *>(duk_alloc(cx->duk, (count + 1) * sizeof(jsval)));
    if (!block) {
        setPendingError(cx, "out of memory");
        return nullptr;
    }
    if (count > 100000 || !reserve(cx, static_cast<int>(count) + 4)) {
        // Each value needs a stack slot for the rest of the scope.
        duk_free(cx->duk, block);
        setPendingError(cx, "enumerateValues: too many properties");
        return nullptr;
    }
    duk_idx_t array = duk_get_top_index(cx->duk);
    for (duk_size_t i = 0; i < count; i++) {
        duk_get_prop_index(cx->duk, array, static_cast<duk_uarridx_t>(i));
        block[i] = wordAt(cx, -1);
    }
    block[count] = JSVAL_VOID;
    return block;
}

struct ObjectMaking {
    void *proto;
};

duk_ret_t newObjectFn(duk_context *ctx, void *udata) {
    ObjectMaking *m = static_cast<ObjectMaking *>(udata);
    duk_push_object(ctx);
    if (m->proto) {
        duk_push_heapptr(ctx, m->proto);
        duk_set_prototype(ctx, -2);
    }
    return 1;
}

JSObject *newObject(JSContext *cx, JSObject *proto) {
    cx = boundContext(cx);
    if (!reserve(cx, 4)) return nullptr;
    ObjectMaking m{objectPointer(proto)};
    if (!protectedCall(cx, newObjectFn, &m, 0, 1)) return nullptr;
    return reinterpret_cast<JSObject *>(duk_get_heapptr(cx->duk, -1));
}

JSObject *getGlobalObject(JSContext *cx) {
    cx = boundContext(cx);
    // The global object lives as long as the heap: nothing to keep alive.
    if (!reserve(cx, 1)) return nullptr;
    duk_push_global_object(cx->duk);
    void *global = duk_get_heapptr(cx->duk, -1);
    duk_pop(cx->duk);
    return static_cast<JSObject *>(global);
}

void *allocMemory(JSContext *cx, size_t size) {
    cx = boundContext(cx);
    void *p = duk_alloc(cx->duk, size ? size : 1);
    if (!p) setPendingError(cx, "out of memory");
    return p;
}

void freeMemory(JSContext *cx, void *p) { duk_free(boundContext(cx)->duk, p); }

struct ArrayMaking {
    JSContext *cx;
    intN length;
    const jsval *vector;
};

duk_ret_t newArrayFn(duk_context *ctx, void *udata) {
    ArrayMaking *m = static_cast<ArrayMaking *>(udata);
    duk_push_array(ctx);
    intN length = m->length > 0 ? m->length : 0;
    if (m->vector) {
        for (intN i = 0; i < length; i++) {
            duk_require_stack(ctx, 2);
            pushWord(m->cx, m->vector[i]);
            duk_put_prop_index(ctx, -2, static_cast<duk_uarridx_t>(i));
        }
    }
    duk_push_uint(ctx, static_cast<duk_uint_t>(length));
    duk_put_prop_string(ctx, -2, "length");
    return 1;
}

JSObject *newArray(JSContext *cx, intN length, const jsval *vector) {
    cx = boundContext(cx);
    if (!reserve(cx, 4)) return nullptr;
    ArrayMaking m{cx, length, vector};
    if (!protectedCall(cx, newArrayFn, &m, 0, 1)) return nullptr;
    return reinterpret_cast<JSObject *>(duk_get_heapptr(cx->duk, -1));
}

struct ElementAccess {
    JSContext *cx;
    void *object;
    int32_t index;
    jsval value;
};

duk_ret_t setElementFn(duk_context *ctx, void *udata) {
    ElementAccess *a = static_cast<ElementAccess *>(udata);
    duk_push_heapptr(ctx, a->object);
    pushWord(a->cx, a->value);
    duk_put_prop_index(ctx, -2, static_cast<duk_uarridx_t>(a->index));
    return 0;
}

JSBool setElement(JSContext *cx, JSObject *obj, int32_t index, jsval *vp) {
    cx = boundContext(cx);
    if (!obj || !vp || index < 0 || !reserve(cx, 4)) return JS_FALSE;
    ElementAccess a{cx, objectPointer(obj), index, *vp};
    return protectedCall(cx, setElementFn, &a, 0, 0);
}

duk_ret_t getElementFn(duk_context *ctx, void *udata) {
    ElementAccess *a = static_cast<ElementAccess *>(udata);
    duk_push_heapptr(ctx, a->object);
    duk_get_prop_index(ctx, -1, static_cast<duk_uarridx_t>(a->index));
    return 1;
}

JSBool getElement(JSContext *cx, JSObject *obj, int32_t index, jsval *vp) {
    cx = boundContext(cx);
    if (!obj || !vp || index < 0 || !reserve(cx, 4)) return JS_FALSE;
    ElementAccess a{cx, objectPointer(obj), index, JSVAL_VOID};
    if (!protectedCall(cx, getElementFn, &a, 0, 1)) return JS_FALSE;
    *vp = wordAt(cx, -1);
    return JS_TRUE;
}

JSBool getArrayLength(JSContext *cx, JSObject *obj, uint32_t *length) {
    cx = boundContext(cx);
    if (!obj || !length || !reserve(cx, 2)) return JS_FALSE;
    duk_push_heapptr(cx->duk, objectPointer(obj));
    bool isArray = duk_is_array(cx->duk, -1) != 0;
    if (isArray) *length = static_cast<uint32_t>(duk_get_length(cx->duk, -1));
    duk_pop(cx->duk);
    return isArray;
}

// ---- Property hooks ------------------------------------------------------------------

// A JSPropertyOp reached through an accessor function; the op and the
// property name ride on the function.
duk_ret_t propertyOpTrampoline(duk_context *ctx) {
    JSContext *cx = currentContext();
    if (!cx || cx->duk != ctx) return throwError(ctx, "property hook called outside its context");
    // The engine passes getters the key as an argument too: the function's
    // magic tells them apart.
    bool setter = duk_get_current_magic(ctx) == 1;
    duk_push_current_function(ctx);
    duk_get_prop_string(ctx, -1, DUK_HIDDEN_SYMBOL("kx4.op"));
    JSPropertyOp op = reinterpret_cast<JSPropertyOp>(duk_get_pointer(ctx, -1));
    duk_get_prop_string(ctx, -2, kPropertyNameKey);
    jsval id = wordAt(cx, -1);
    duk_push_this(ctx);
    JSObject *obj = reinterpret_cast<JSObject *>(duk_get_heapptr(ctx, -1));
    jsval v = setter ? wordAt(cx, 0) : JSVAL_VOID;
    NativeBracket bracket;
    enterNative(cx, &bracket, cx->scratch.mark());
    JSBool ok = op ? op(cx, obj, id, &v) : JS_TRUE;
    leaveNative(cx, bracket, ok, "property hook failed");
    pushWord(cx, v);
    cx->scratch.release(bracket.scratch);
    return setter ? 0 : 1;
}

void pushPropertyOp(JSContext *cx, JSPropertyOp op, duk_idx_t nameIdx, bool setter) {
    duk_context *ctx = cx->duk;
    nameIdx = duk_normalize_index(ctx, nameIdx);
    duk_push_c_function(ctx, propertyOpTrampoline, DUK_VARARGS);
    duk_set_magic(ctx, -1, setter ? 1 : 0);
    duk_push_pointer(ctx, reinterpret_cast<void *>(op));
    duk_put_prop_string(ctx, -2, DUK_HIDDEN_SYMBOL("kx4.op"));
    duk_dup(ctx, nameIdx);
    duk_put_prop_string(ctx, -2, kPropertyNameKey);
}

struct PropertyDefinition {
    JSContext *cx;
    void *object;
    const char *name;
    jsval value;
    JSPropertyOp getter;
    JSPropertyOp setter;
    uintN attrs;
};

// [... obj] with the definition's name: defines it on obj.
void defineOn(duk_context *ctx, duk_idx_t objIdx, const PropertyDefinition &d) {
    objIdx = duk_normalize_index(ctx, objIdx);
    pushPropertyName(ctx, d.name);
    duk_idx_t nameIdx = duk_get_top_index(ctx);
    duk_uint_t flags = DUK_DEFPROP_FORCE | DUK_DEFPROP_HAVE_ENUMERABLE | DUK_DEFPROP_HAVE_CONFIGURABLE;
    if (d.attrs & JSPROP_ENUMERATE) flags |= DUK_DEFPROP_ENUMERABLE;
    if (!(d.attrs & JSPROP_PERMANENT)) flags |= DUK_DEFPROP_CONFIGURABLE;
    if (d.getter || d.setter) {
        duk_dup(ctx, nameIdx);
        if (d.getter) {
            pushPropertyOp(d.cx, d.getter, nameIdx, false);
            flags |= DUK_DEFPROP_HAVE_GETTER;
        }
        if (d.setter && !(d.attrs & JSPROP_READONLY)) {
            pushPropertyOp(d.cx, d.setter, nameIdx, true);
            flags |= DUK_DEFPROP_HAVE_SETTER;
        }
    } else {
        duk_dup(ctx, nameIdx);
        pushWord(d.cx, d.value);
        flags |= DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_HAVE_WRITABLE;
        if (!(d.attrs & JSPROP_READONLY)) flags |= DUK_DEFPROP_WRITABLE;
    }
    duk_def_prop(ctx, objIdx, flags);
    duk_pop(ctx);  // name
}

duk_ret_t definePropertyFn(duk_context *ctx, void *udata) {
    PropertyDefinition *d = static_cast<PropertyDefinition *>(udata);
    duk_push_heapptr(ctx, d->object);
    defineOn(ctx, -1, *d);
    return 0;
}

JSBool defineProperty(JSContext *cx, JSObject *obj, const char *name, jsval v, JSPropertyOp getter,
                      JSPropertyOp setter, uintN attrs) {
    cx = boundContext(cx);
    if (!obj || !name || !reserve(cx, 8)) return JS_FALSE;
    PropertyDefinition d{cx, objectPointer(obj), name, v, getter, setter, attrs};
    return protectedCall(cx, definePropertyFn, &d, 0, 0);
}

void defineFunctionsOn(JSContext *cx, duk_idx_t objIdx, const JSFunctionSpec *fs) {
    duk_context *ctx = cx->duk;
    objIdx = duk_normalize_index(ctx, objIdx);
    for (; fs && fs->name; fs++) {
        pushPropertyName(ctx, fs->name);
        pushNativeFunction(cx, fs->name, fs->call, fs->nargs);
        duk_def_prop(ctx, objIdx, DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_SET_WRITABLE |
                                      DUK_DEFPROP_CLEAR_ENUMERABLE | DUK_DEFPROP_SET_CONFIGURABLE |
                                      DUK_DEFPROP_FORCE);
    }
}

void definePropertiesOn(JSContext *cx, duk_idx_t objIdx, const JSPropertySpec *ps) {
    for (; ps && ps->name; ps++) {
        PropertyDefinition d{cx, nullptr, ps->name, JSVAL_VOID, ps->getter, ps->setter, ps->flags};
        defineOn(cx->duk, objIdx, d);
    }
}

struct FunctionsDefinition {
    JSContext *cx;
    void *object;
    const JSFunctionSpec *fs;
};

duk_ret_t defineFunctionsFn(duk_context *ctx, void *udata) {
    FunctionsDefinition *d = static_cast<FunctionsDefinition *>(udata);
    duk_push_heapptr(ctx, d->object);
    defineFunctionsOn(d->cx, -1, d->fs);
    return 0;
}

JSBool defineFunctions(JSContext *cx, JSObject *obj, const JSFunctionSpec *fs) {
    cx = boundContext(cx);
    if (!obj || !reserve(cx, 8)) return JS_FALSE;
    FunctionsDefinition d{cx, objectPointer(obj), fs};
    return protectedCall(cx, defineFunctionsFn, &d, 0, 0);
}

// ---- Classes with private data -----------------------------------------------------

struct ClassDefinition {
    JSContext *cx;
    const char *name;
    JSNative constructor;
    uintN nargs;
    const JSPropertySpec *ps;
    const JSFunctionSpec *fs;
    const JSPropertySpec *staticPs;
    const JSFunctionSpec *staticFs;
    JSFinalizeOp finalize;
};

duk_ret_t defineClassFn(duk_context *ctx, void *udata) {
    ClassDefinition *c = static_cast<ClassDefinition *>(udata);
    JSContext *cx = c->cx;
    pushNativeFunction(cx, c->name, c->constructor, c->nargs, true);  // [F]
    duk_idx_t ctor = duk_get_top_index(ctx);
    duk_push_object(ctx);  // [F proto]
    duk_idx_t proto = duk_get_top_index(ctx);
    definePropertiesOn(cx, proto, c->ps);
    defineFunctionsOn(cx, proto, c->fs);
    duk_push_string(ctx, "constructor");
    duk_dup(ctx, ctor);
    duk_def_prop(ctx, proto, DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_SET_WRITABLE | DUK_DEFPROP_SET_CONFIGURABLE);
    duk_push_string(ctx, "prototype");
    duk_dup(ctx, proto);
    duk_def_prop(ctx, ctor, DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_CLEAR_WRITABLE | DUK_DEFPROP_CLEAR_ENUMERABLE |
                                DUK_DEFPROP_CLEAR_CONFIGURABLE | DUK_DEFPROP_FORCE);
    definePropertiesOn(cx, ctor, c->staticPs);
    defineFunctionsOn(cx, ctor, c->staticFs);
    if (c->finalize) {
        // Instances inherit the finalizer from the prototype.
        pushFinalizer(cx, c->finalize);
        duk_set_finalizer(ctx, proto);
    }
    duk_push_global_object(ctx);
    pushPropertyName(ctx, c->name);
    duk_dup(ctx, ctor);
    duk_def_prop(ctx, -3, DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_SET_WRITABLE | DUK_DEFPROP_SET_CONFIGURABLE);
    duk_pop(ctx);
    duk_remove(ctx, ctor);  // [proto]
    return 1;
}

JSObject *defineClass(JSContext *cx, const char *name, JSNative constructor, uintN nargs, const JSPropertySpec *ps,
                      const JSFunctionSpec *fs, const JSPropertySpec *staticPs, const JSFunctionSpec *staticFs,
                      JSFinalizeOp finalize) {
    cx = boundContext(cx);
    if (!name || !constructor || !reserve(cx, 16)) return nullptr;
    ClassDefinition c{cx, name, constructor, nargs, ps, fs, staticPs, staticFs, finalize};
    if (!protectedCall(cx, defineClassFn, &c, 0, 1)) return nullptr;
    return reinterpret_cast<JSObject *>(duk_get_heapptr(cx->duk, -1));
}

struct PrivateSetting {
    void *object;
    void *data;
};

duk_ret_t setPrivateFn(duk_context *ctx, void *udata) {
    PrivateSetting *s = static_cast<PrivateSetting *>(udata);
    duk_push_heapptr(ctx, s->object);
    duk_push_heapptr(ctx, g_privateKeyString);
    duk_push_pointer(ctx, s->data);
    duk_def_prop(ctx, -3, DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_SET_WRITABLE | DUK_DEFPROP_SET_CONFIGURABLE |
                              DUK_DEFPROP_FORCE);
    return 0;
}

JSBool setPrivate(JSContext *cx, JSObject *obj, void *data) {
    cx = boundContext(cx);
    if (!obj || !reserve(cx, 4)) return JS_FALSE;
    PrivateSetting s{objectPointer(obj), data};
    return protectedCall(cx, setPrivateFn, &s, 0, 0);
}

void *getPrivate(JSContext *cx, JSObject *obj) {
    cx = boundContext(cx);
    if (!obj || !g_privateKeyString) return nullptr;
    return kx4_duk_own_pointer(cx->duk, objectPointer(obj), g_privateKeyString);
}

void reportError(JSContext *cx, const char *format, ...) {
    cx = boundContext(cx);
    char buffer[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof buffer, format ? format : "", args);
    va_end(args);
    setPendingError(cx, buffer);
}

void beginRequestSlot(JSContext *cx) { beginRequest(cx); }
intN suspendRequestSlot(JSContext *cx) { return suspendRequest(cx); }
void resumeRequestSlot(JSContext *cx, intN depth) { resumeRequest(cx, depth); }
void endRequestSlot(JSContext *cx) { endRequest(cx); }

HostApi g_api = {
    getPropertyValue, valueToString, valueToUCString, valueStringLength, valueToNumber,
    getPropertyNumber, getPropertyString, getPropertyUCString, newString, newStringN,
    newNumber, evaluateScript, enumerateValues, defineClass, newObject,
    getGlobalObject, allocMemory, freeMemory, newArray, setElement,
    getElement, getArrayLength, defineProperty, defineFunctions, setPrivate,
    getPrivate, reportError, beginRequestSlot, suspendRequestSlot, resumeRequestSlot,
    endRequestSlot,
};

}  // namespace

HostApi *hostApi() { return &g_api; }

namespace {
struct UCPropertyDefinition {
    JSContext *cx;
    void *object;
    const jschar *name;
    jsval value;
    unsigned attrs;
};

duk_ret_t defineUCPropertyFn(duk_context *ctx, void *udata) {
    UCPropertyDefinition *d = static_cast<UCPropertyDefinition *>(udata);
    duk_push_heapptr(ctx, d->object);
    size_t n = 0;
    while (d->name[n]) n++;
    Units u{d->name, n};
    newUnitStringFn(ctx, &u);
    pushWord(d->cx, d->value);
    duk_uint_t flags = DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_FORCE | DUK_DEFPROP_HAVE_WRITABLE |
                       DUK_DEFPROP_HAVE_ENUMERABLE | DUK_DEFPROP_HAVE_CONFIGURABLE;
    if (d->attrs & JSPROP_ENUMERATE) flags |= DUK_DEFPROP_ENUMERABLE;
    if (!(d->attrs & JSPROP_READONLY)) flags |= DUK_DEFPROP_WRITABLE;
    if (!(d->attrs & JSPROP_PERMANENT)) flags |= DUK_DEFPROP_CONFIGURABLE;
    duk_def_prop(ctx, -3, flags);
    return 0;
}
}  // namespace

JSBool defineUCProperty(JSContext *cx, JSObject *obj, const jschar *name, jsval v, unsigned attrs) {
    if (!obj || !name || !reserve(cx, 8)) return JS_FALSE;
    UCPropertyDefinition d{cx, objectPointer(obj), name, v, attrs};
    return protectedCall(cx, defineUCPropertyFn, &d, 0, 0);
}

const char *valueToBytes(JSContext *cx, jsval v, size_t *count) {
    cx = boundContext(cx);
    *count = 0;
    if (!pushStringOf(cx, v)) return "";
    return bytesOfStringAt(cx, -1, count);
}

void collectGarbage(JSContext *cx) {
    // The second pass collects what finalizers of the first let go.
    duk_gc(cx->duk, 0);
    duk_gc(cx->duk, 0);
}

// Interns the private-data key once and keeps it alive in the stash, so
// getPrivate can look it up without touching a value stack. The key is a
// hidden symbol, which script can neither list nor normally make; its name
// also holds a part that differs in every process, so that a script that
// found a way to make hidden symbols still could not name it (and plant a
// pointer of its choosing as an object's record).
void internPrivateKey(duk_context *root, uint64_t unpredictable) {
    char key[64];
    snprintf(key, sizeof key, "%skx4.private.%016llx", DUK_HIDDEN_SYMBOL(""),
             static_cast<unsigned long long>(unpredictable));
    duk_push_heap_stash(root);
    duk_push_string(root, key);
    g_privateKeyString = duk_get_heapptr(root, -1);
    duk_put_prop_string(root, -2, "kx4.privateKey");
    duk_pop(root);
}

}  // namespace kx4
