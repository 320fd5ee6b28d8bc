/*
 * kx4.h - the kx4 module SDK.
 *
 * A module is a DLL with one export, initModule, which receives the host's
 * table of engine functions (HostApi). Everything a module does with script
 * values goes through that table; a module includes this header and nothing
 * of the host or of the engine.
 *
 * Values cross the table as jsval words. The encoding is fixed (modules test
 * tags directly):
 *
 *   object      the object's address, low 3 bits 0; null is 0
 *   integer     (i << 1) | 1 for a 31-bit signed i
 *   double      address of a boxed double | 2
 *   string      address of the engine string | 4
 *   boolean     false 0x6, true 0xE
 *   undefined   0x80000001 (sign-extended on 64-bit builds)
 *
 * Lifetime: every value a slot hands out stays valid until the native call
 * (or the beginRequest/endRequest scope) that received it returns. Keep a
 * value longer only by storing it in a script object.
 *
 * Text: "8-bit" texts are one byte per character (codes 0 to 255), never
 * UTF-8, so binary data survives a round trip through script strings.
 * UTF-16 texts are jschar arrays as the Windows wide-character API takes them.
 *
 * Natives must not unwind through the host: no C++ exception may leave a
 * native, and slots never longjmp into module code.
 */
#ifndef KX4_H
#define KX4_H

#include <stddef.h>
#include <stdint.h>
#include <stdarg.h>
#include <math.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Basic types --------------------------------------------------------- */

typedef intptr_t jsval;
typedef int JSBool;
typedef unsigned int uintN;
typedef int intN;
#if defined(_WIN32)
typedef wchar_t jschar; /* what the wide-character API takes */
#elif defined(__cplusplus)
typedef char16_t jschar;
#else
typedef uint16_t jschar;
#endif

typedef struct JSContext JSContext;
typedef struct JSObject JSObject;

#define JS_TRUE 1
#define JS_FALSE 0

/* ---- Value words --------------------------------------------------------- */

#define JSVAL_TAGMASK 0x7
#define JSVAL_OBJECT 0x0
#define JSVAL_INT 0x1
#define JSVAL_DOUBLE 0x2
#define JSVAL_STRING 0x4
#define JSVAL_BOOLEAN 0x6

#define JSVAL_NULL ((jsval)0)
#define JSVAL_VOID ((jsval)(int32_t)0x80000001)
#define JSVAL_FALSE ((jsval)0x6)
#define JSVAL_TRUE ((jsval)0xE)

#define JSVAL_INT_MAX ((int32_t)0x3FFFFFFF)
#define JSVAL_INT_MIN (-(int32_t)0x3FFFFFFF) /* -2^30 would collide with JSVAL_VOID */

#define JSVAL_TAG(v) ((int)((v) & JSVAL_TAGMASK))
#define JSVAL_IS_VOID(v) ((v) == JSVAL_VOID)
#define JSVAL_IS_NULL(v) ((v) == JSVAL_NULL)
#define JSVAL_IS_INT(v) (((v) & JSVAL_INT) && (v) != JSVAL_VOID)
#define JSVAL_IS_DOUBLE(v) (JSVAL_TAG(v) == JSVAL_DOUBLE)
#define JSVAL_IS_NUMBER(v) (JSVAL_IS_INT(v) || JSVAL_IS_DOUBLE(v))
#define JSVAL_IS_STRING(v) (JSVAL_TAG(v) == JSVAL_STRING)
#define JSVAL_IS_BOOLEAN(v) (JSVAL_TAG(v) == JSVAL_BOOLEAN)
#define JSVAL_IS_OBJECT(v) (JSVAL_TAG(v) == JSVAL_OBJECT) /* null included */
#define JSVAL_IS_PRIMITIVE(v) (!JSVAL_IS_OBJECT(v) || JSVAL_IS_NULL(v))

#define JSVAL_TO_INT(v) ((int32_t)((v) >> 1))
#define INT_TO_JSVAL(i) ((jsval)(((intptr_t)(int32_t)(i) << 1) | JSVAL_INT))
#define INT_FITS_IN_JSVAL(i) ((i) >= JSVAL_INT_MIN && (i) <= JSVAL_INT_MAX)
#define JSVAL_TO_DOUBLE(v) (*(const double *)((v) & ~(jsval)JSVAL_TAGMASK))
#define JSVAL_TO_OBJECT(v) ((JSObject *)((v) & ~(jsval)JSVAL_TAGMASK))
#define OBJECT_TO_JSVAL(o) ((jsval)(o))
#define JSVAL_TO_BOOLEAN(v) ((JSBool)((v) >> 3))
#define BOOLEAN_TO_JSVAL(b) ((b) ? JSVAL_TRUE : JSVAL_FALSE)

/* Attributes of defineProperty. */
#define JSPROP_ENUMERATE 0x01
#define JSPROP_READONLY 0x02
#define JSPROP_PERMANENT 0x04

/* ---- Natives and specs --------------------------------------------------- */

/* A native: (cx, this object, argument count, arguments, result slot).
 * argv holds at least the declared argument count (missing ones read as
 * JSVAL_VOID) and *rval is JSVAL_VOID on entry. Returning JS_FALSE fails the
 * call: the error recorded with reportError (or by a failed evaluateScript)
 * is thrown to the calling script. */
typedef JSBool (*JSNative)(JSContext *cx, JSObject *obj, uintN argc, jsval *argv, jsval *rval);

/* Called once per collected instance of a class; getPrivate may be null
 * (the class prototype is finalized too). */
typedef void (*JSFinalizeOp)(JSContext *cx, JSObject *obj);

/* Property hook: id is the property name as a string value; *vp the value. */
typedef JSBool (*JSPropertyOp)(JSContext *cx, JSObject *obj, jsval id, jsval *vp);

typedef struct JSFunctionSpec {
    const char *name; /* null ends a list */
    JSNative call;
    uint16_t nargs; /* declared arity: the function's length */
    uint16_t flags; /* 0 */
    uint32_t extra; /* 0 */
} JSFunctionSpec;

typedef struct JSPropertySpec {
    const char *name; /* null ends a list */
    int8_t tinyid;
    uint8_t flags; /* JSPROP_* */
    JSPropertyOp getter;
    JSPropertyOp setter;
} JSPropertySpec;

#define JS_FS(name, call, nargs) {name, call, nargs, 0, 0}
#define JS_FS_END {0, 0, 0, 0, 0}
#define JS_PS_END {0, 0, 0, 0, 0}

/* ---- The host's table ---------------------------------------------------- */

/* Slot order and argument order are a binary interface: the 31 slots are
 * frozen, in this order, with these arguments. The table never grows or
 * changes: a new need becomes an inline helper below, built on these slots
 * (kx4ErrorPending shows how a helper can ask the host something new through
 * an argument combination that no other call uses). */
typedef struct HostApi {
    jsval (*getPropertyValue)(JSContext *cx, JSObject *obj, const char *name);
    const char *(*valueToString)(JSContext *cx, jsval v);
    const jschar *(*valueToUCString)(JSContext *cx, jsval v);
    size_t (*valueStringLength)(JSContext *cx, jsval v);
    double (*valueToNumber)(JSContext *cx, jsval v);
    double (*getPropertyNumber)(JSContext *cx, JSObject *obj, const char *name, double def);
    const char *(*getPropertyString)(JSContext *cx, JSObject *obj, const char *name, const char *def);
    const jschar *(*getPropertyUCString)(JSContext *cx, JSObject *obj, const char *name, const jschar *def);
    jsval (*newString)(JSContext *cx, const char *text, const jschar *utext);
    jsval (*newStringN)(JSContext *cx, const char *bytes, size_t count);
    jsval (*newNumber)(JSContext *cx, double d);
    JSBool (*evaluateScript)(JSContext *cx, const char *fileName, const char *source, jsval *rval);
    jsval *(*enumerateValues)(JSContext *cx, JSObject *obj);
    JSObject *(*defineClass)(JSContext *cx, const char *name, JSNative constructor, uintN nargs,
                             const JSPropertySpec *ps, const JSFunctionSpec *fs,
                             const JSPropertySpec *staticPs, const JSFunctionSpec *staticFs,
                             JSFinalizeOp finalize);
    JSObject *(*newObject)(JSContext *cx, JSObject *proto);
    JSObject *(*getGlobalObject)(JSContext *cx);
    void *(*allocMemory)(JSContext *cx, size_t size);
    void (*freeMemory)(JSContext *cx, void *p);
    JSObject *(*newArray)(JSContext *cx, intN length, const jsval *vector);
    JSBool (*setElement)(JSContext *cx, JSObject *obj, int32_t index, jsval *vp);
    JSBool (*getElement)(JSContext *cx, JSObject *obj, int32_t index, jsval *vp);
    JSBool (*getArrayLength)(JSContext *cx, JSObject *obj, uint32_t *length);
    JSBool (*defineProperty)(JSContext *cx, JSObject *obj, const char *name, jsval v,
                             JSPropertyOp getter, JSPropertyOp setter, uintN attrs);
    JSBool (*defineFunctions)(JSContext *cx, JSObject *obj, const JSFunctionSpec *fs);
    JSBool (*setPrivate)(JSContext *cx, JSObject *obj, void *data);
    void *(*getPrivate)(JSContext *cx, JSObject *obj);
    void (*reportError)(JSContext *cx, const char *format, ...);
    void (*beginRequest)(JSContext *cx);
    intN (*suspendRequest)(JSContext *cx);
    void (*resumeRequest)(JSContext *cx, intN depth);
    void (*endRequest)(JSContext *cx);
} HostApi;

/* The one export of a module. The host calls it inside the request of the
 * script that called System.loadModule; the result is ignored. */
typedef void (*InitModuleFn)(JSContext *cx, HostApi *api);

#if defined(_WIN32)
#define KX4_MODULE_EXPORT __declspec(dllexport)
#else
#define KX4_MODULE_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
#define KX4_MODULE_INIT extern "C" KX4_MODULE_EXPORT void initModule(JSContext *cx, HostApi *hostApi)
#else
#define KX4_MODULE_INIT KX4_MODULE_EXPORT void initModule(JSContext *cx, HostApi *hostApi)
#endif

/* ---- Helpers every native needs ------------------------------------------ */

#define KX4_FORMAT_ERROR "Native function format error: %s"

/* Whether an error is pending in the running native: a conversion
 * (valueTo*, getProperty*) ran a toString, valueOf or getter that threw, or a
 * slot failed. The host throws a pending error when the native returns,
 * whatever it returns, so the native's only duty is not to act on the
 * values it got. Every native follows one order:
 *
 *   1. read and convert every argument and field;
 *   2. if (kx4ErrorPending(api, cx)) return JS_FALSE;
 *   3. check the object's class and state (kx4CheckPrivate);
 *   4. act.
 *
 * A conversion can run script, and that script can close or re-open the
 * very object the native works on, so state checked before step 1 means
 * nothing after it. (Asked through getPropertyValue with no object and no
 * name, which reads nothing otherwise.) */
static inline JSBool kx4ErrorPending(const HostApi *api, JSContext *cx) {
    return api->getPropertyValue(cx, 0, 0) == JSVAL_TRUE;
}

/* Mandatory arguments: reports the format error with the usage text when
 * fewer than `needed` arguments were passed. Use as
 *   if (!kx4RequireArgs(api, cx, argc, 1, "System.sleep(<msDelay>)")) return JS_FALSE; */
static inline JSBool kx4RequireArgs(const HostApi *api, JSContext *cx, uintN argc, uintN needed,
                                    const char *usage) {
    if (argc >= needed) return JS_TRUE;
    api->reportError(cx, KX4_FORMAT_ERROR, usage);
    return JS_FALSE;
}

/* Optional argument i is used only when it was passed and is not undefined. */
static inline JSBool kx4HasArg(uintN argc, const jsval *argv, uintN i) {
    return argc > i && argv[i] != JSVAL_VOID;
}

/* Numbers truncated toward zero to a 32-bit integer, wrapping modulo 2^32
 * as script's own ToInt32 does (so 4294967295 is -1); NaN and infinities
 * give 0. */
static inline int32_t kx4NumberToInt32(double d) {
    if (!(d == d) || d - d != 0) return 0;
    if (d >= -2147483648.0 && d < 2147483648.0) return (int32_t)d;
    double t = d < 0 ? -floor(-d) : floor(d);
    double m = fmod(t, 4294967296.0);
    if (m < 0) m += 4294967296.0;
    return (int32_t)(uint32_t)m;
}

static inline int32_t kx4ValueToInt32(const HostApi *api, JSContext *cx, jsval v) {
    if (JSVAL_IS_INT(v)) return JSVAL_TO_INT(v);
    return kx4NumberToInt32(api->valueToNumber(cx, v));
}

/* Optional integer argument with a default. */
static inline int32_t kx4ArgInt32(const HostApi *api, JSContext *cx, uintN argc, const jsval *argv,
                                  uintN i, int32_t def) {
    return kx4HasArg(argc, argv, i) ? kx4ValueToInt32(api, cx, argv[i]) : def;
}

/* Platform handles travel to script as numbers; a handle is pointer-sized. */
static inline void *kx4ValueToHandle(const HostApi *api, JSContext *cx, jsval v) {
    double d = JSVAL_IS_INT(v) ? (double)JSVAL_TO_INT(v) : api->valueToNumber(cx, v);
    if (!(d == d)) return 0;
    return (void *)(intptr_t)(int64_t)d;
}

static inline jsval kx4HandleToValue(const HostApi *api, JSContext *cx, const void *handle) {
    return api->newNumber(cx, (double)(intptr_t)handle);
}

/* Option records: the argument must be an object. An undefined record is
 * reported as "<objectName>: <paramName> is undefined"; any other non-object
 * gets the format error with the usage text. */
static inline JSObject *kx4ArgOptionRecord(const HostApi *api, JSContext *cx, uintN argc,
                                           const jsval *argv, uintN i, const char *objectName,
                                           const char *paramName, const char *usage) {
    if (argc <= i || argv[i] == JSVAL_VOID) {
        api->reportError(cx, "%s: %s is undefined", objectName, paramName);
        return 0;
    }
    if (!JSVAL_IS_OBJECT(argv[i]) || argv[i] == JSVAL_NULL) {
        api->reportError(cx, KX4_FORMAT_ERROR, usage);
        return 0;
    }
    return JSVAL_TO_OBJECT(argv[i]);
}

/* An object, not null and not a primitive. */
static inline JSBool kx4IsObject(jsval v) { return JSVAL_IS_OBJECT(v) && v != JSVAL_NULL; }

/* Lenient parameter objects: argument i as an object, or null when it is
 * missing or not an object (a primitive, null or undefined). The field
 * helpers and the getProperty* slots give their defaults for a null object,
 * so such an argument reads as an empty record. */
static inline JSObject *kx4ArgObject(uintN argc, const jsval *argv, uintN i) {
    if (argc <= i || JSVAL_IS_PRIMITIVE(argv[i])) return 0;
    return JSVAL_TO_OBJECT(argv[i]);
}

/* Option-record fields read with a default (undefined gives the default). */
static inline int32_t kx4FieldInt32(const HostApi *api, JSContext *cx, JSObject *rec,
                                    const char *name, int32_t def) {
    return kx4NumberToInt32(api->getPropertyNumber(cx, rec, name, (double)def));
}

static inline JSBool kx4FieldBool(const HostApi *api, JSContext *cx, JSObject *rec,
                                  const char *name, JSBool def) {
    jsval v = api->getPropertyValue(cx, rec, name);
    if (v == JSVAL_VOID) return def;
    if (JSVAL_IS_BOOLEAN(v)) return JSVAL_TO_BOOLEAN(v);
    double d = api->valueToNumber(cx, v);
    return d == d && d != 0;
}

/* A value as bytes, one per character, NULs included: the 8-bit text, and
 * its length in *length. A string gives all its characters. Any other value
 * is converted with String(v) and ends at its first NUL: each conversion
 * runs toString anew and may give another string, so the length of a second
 * conversion could exceed the text of the first. */
static inline const char *kx4ValueBytes(const HostApi *api, JSContext *cx, jsval v, size_t *length) {
    const char *bytes = api->valueToString(cx, v);
    *length = 0;
    if (JSVAL_IS_STRING(v)) {
        *length = api->valueStringLength(cx, v);
    } else {
        while (bytes[*length]) ++*length;
    }
    return bytes;
}

/* A field holding bytes (as kx4ValueBytes); undefined or missing gives ""
 * and 0. */
static inline const char *kx4FieldBytes(const HostApi *api, JSContext *cx, JSObject *rec,
                                        const char *name, size_t *length) {
    jsval v = api->getPropertyValue(cx, rec, name);
    if (v == JSVAL_VOID) {
        *length = 0;
        return "";
    }
    return kx4ValueBytes(api, cx, v, length);
}

/* ---- Classes: typed private data ----------------------------------------

   A script can call any class's method on any object
   (File.prototype.close.call(new Serial())) or swap an object's prototype,
   so the private data a native finds on `this` may belong to another class.
   Every class therefore has one static Kx4Class, and its private record
   begins with a pointer to it:

     static const Kx4Class portClass = {"Serial"};
     struct PortRecord { const Kx4Class *kx4Class; HANDLE handle; };

   Natives and the finalizer get the record only through these helpers,
   which return it for its own class alone (the model is Lua's
   luaL_checkudata). The finalizer clears the private data before it frees
   the record, so nothing can reach a freed record. */
typedef struct Kx4Class {
    const char *name;
} Kx4Class;

/* The record of obj when it belongs to cls, else null; reports nothing. */
static inline void *kx4GetClassPrivate(const HostApi *api, JSContext *cx, JSObject *obj, const Kx4Class *cls) {
    void *record = obj ? api->getPrivate(cx, obj) : 0;
    if (!record || *(const Kx4Class *const *)record != cls) return 0;
    return record;
}

/* The record of obj when it belongs to cls; otherwise reports `message`
 * (the class's own text, as "Serial.read: Serial not initialized") and
 * gives null. */
static inline void *kx4CheckPrivate(const HostApi *api, JSContext *cx, JSObject *obj, const Kx4Class *cls,
                                    const char *message) {
    void *record = kx4GetClassPrivate(api, cx, obj, cls);
    if (!record) api->reportError(cx, "%s", message);
    return record;
}

/* Detaches obj's record of class cls for its finalizer (or any native that
 * frees it): returns it and clears the private data, so a second call or a
 * later method finds nothing. */
static inline void *kx4TakeClassPrivate(const HostApi *api, JSContext *cx, JSObject *obj, const Kx4Class *cls) {
    void *record = kx4GetClassPrivate(api, cx, obj, cls);
    if (record) api->setPrivate(cx, obj, 0);
    return record;
}

/* Result properties are enumerable and read-only. */
#define KX4_RESULT_ATTRS (JSPROP_ENUMERATE | JSPROP_READONLY)

static inline JSBool kx4DefineResult(const HostApi *api, JSContext *cx, JSObject *obj,
                                     const char *name, jsval v) {
    return api->defineProperty(cx, obj, name, v, 0, 0, KX4_RESULT_ATTRS);
}

static inline JSBool kx4DefineResultNumber(const HostApi *api, JSContext *cx, JSObject *obj,
                                           const char *name, double d) {
    return kx4DefineResult(api, cx, obj, name, api->newNumber(cx, d));
}

static inline JSBool kx4DefineResultString(const HostApi *api, JSContext *cx, JSObject *obj,
                                           const char *name, const char *text) {
    return kx4DefineResult(api, cx, obj, name, api->newString(cx, text, 0));
}

static inline JSBool kx4DefineResultBool(const HostApi *api, JSContext *cx, JSObject *obj,
                                         const char *name, JSBool b) {
    return kx4DefineResult(api, cx, obj, name, BOOLEAN_TO_JSVAL(b));
}

/* Defines a plain script object holding natives on the global object, the
 * way System and Widget are made. Returns the object or null. */
static inline JSObject *kx4DefineObject(const HostApi *api, JSContext *cx, const char *name,
                                        const JSFunctionSpec *fs) {
    JSObject *obj = api->newObject(cx, 0);
    if (!obj) return 0;
    if (!api->defineFunctions(cx, obj, fs)) return 0;
    if (!api->defineProperty(cx, api->getGlobalObject(cx), name, OBJECT_TO_JSVAL(obj), 0, 0,
                             JSPROP_ENUMERATE))
        return 0;
    return obj;
}

#ifdef __cplusplus
}

/* Releases the heap for the rest of the enclosing block, so that other
 * script threads and the collector go on while this one waits on something
 * outside the process (console, disk, device, network, another process, a
 * dialog):
 *
 *   {
 *       Kx4HeapReleased released(api, cx);
 *       got = fread(buffer, 1, n, stream);
 *   }
 *
 * Inside the block no slot may be called. Texts a slot handed out to this
 * native stay where they are (the values are held by this native's call,
 * and the engine never moves a string), so a write may send them as they
 * are. An object's private record may be closed by another thread in the
 * meantime: take what the wait uses (a handle, a stream) out of the record
 * first, and keep the record from closing it while it is in use. */
class Kx4HeapReleased {
  public:
    Kx4HeapReleased(const HostApi *api, JSContext *cx) : api_(api), cx_(cx), depth_(api->suspendRequest(cx)) {}
    ~Kx4HeapReleased() { api_->resumeRequest(cx_, depth_); }
    Kx4HeapReleased(const Kx4HeapReleased &) = delete;
    Kx4HeapReleased &operator=(const Kx4HeapReleased &) = delete;

  private:
    const HostApi *api_;
    JSContext *cx_;
    intN depth_;
};
#endif

#endif /* KX4_H */
