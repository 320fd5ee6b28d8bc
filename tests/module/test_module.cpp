/* kx4testmod.dll: a module built only for the tests.
 *
 * It reaches the engine exactly as a real module does, through the HostApi
 * table handed to initModule, and includes nothing but kx4.h and system
 * headers. Its natives drive the slots from native code and hand what they
 * saw back to script, where the test scripts check it. Checks that only
 * native code can make (pointer identity, buffers kept across a collection)
 * come back as a list of problem texts: empty means fine.
 *
 * TestModule  plain object of natives (defined like System and Widget)
 * TestThing   class with a malloc'd private record and a counting finalizer
 */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "kx4.h"

static HostApi *api;  // this module's copy of the host table
static int g_inits;   // initModule calls

// ---- Small helpers ------------------------------------------------------------

// A list of problem texts that becomes a script array.
struct Problems {
    char text[16][160];
    int count;
};

static void problem(Problems *p, const char *format, ...) {
    if (p->count >= 16) return;
    va_list args;
    va_start(args, format);
    vsnprintf(p->text[p->count++], sizeof p->text[0], format, args);
    va_end(args);
}

static jsval problemsValue(JSContext *cx, const Problems *p) {
    jsval words[16];
    for (int i = 0; i < p->count; i++) words[i] = api->newString(cx, p->text[i], 0);
    JSObject *array = api->newArray(cx, p->count, words);
    return array ? OBJECT_TO_JSVAL(array) : JSVAL_VOID;
}

static JSObject *objectArg(uintN argc, jsval *argv, uintN i) {
    if (argc <= i || !JSVAL_IS_OBJECT(argv[i]) || argv[i] == JSVAL_NULL) return 0;
    return JSVAL_TO_OBJECT(argv[i]);
}

static char *copyText(const char *text) {
    size_t n = strlen(text) + 1;
    char *copy = (char *)malloc(n);
    if (copy) memcpy(copy, text, n);
    return copy;
}

// The 32-bit polynomial hash the scripts compute too: h = h * 31 + b mod 2^32.
static uint32_t hashBytes(const unsigned char *bytes, size_t count) {
    uint32_t h = 0;
    for (size_t i = 0; i < count; i++) h = h * 31u + bytes[i];
    return h;
}

// The byte generator the scripts reproduce: xorshift32, low byte.
static uint32_t nextRandom(uint32_t *state) {
    uint32_t x = *state;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    *state = x;
    return x;
}

static const char *tagName(jsval v) {
    if (v == JSVAL_VOID) return "void";
    if (v == JSVAL_NULL) return "null";
    if (JSVAL_IS_INT(v)) return "int";
    if (JSVAL_IS_DOUBLE(v)) return "double";
    if (JSVAL_IS_STRING(v)) return "string";
    if (v == JSVAL_TRUE || v == JSVAL_FALSE) return "boolean";
    if (JSVAL_IS_OBJECT(v)) return "object";
    return "bad word";
}

// ---- Values and text ------------------------------------------------------------

// newString with neither text.
static JSBool tmEmptyString(JSContext *cx, JSObject *, uintN, jsval *, jsval *rval) {
    *rval = api->newString(cx, 0, 0);
    return JS_TRUE;
}

// The word tag of the argument as natives see it.
static JSBool tmKindOf(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    *rval = api->newString(cx, tagName(argc > 0 ? argv[0] : JSVAL_VOID), 0);
    return JS_TRUE;
}

// The argument's number made again with newNumber: [value, word tag].
static JSBool tmNumber(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "TestModule.number(<value>)")) return JS_FALSE;
    jsval n = api->newNumber(cx, api->valueToNumber(cx, argv[0]));
    jsval pair[2] = {n, api->newString(cx, tagName(n), 0)};
    JSObject *array = api->newArray(cx, 2, pair);
    if (!array) return JS_FALSE;
    *rval = OBJECT_TO_JSVAL(array);
    return JS_TRUE;
}

// Numbers made natively from exact doubles (scripts cannot pass them in
// without the engine choosing the form first).
static const double kNumbers[] = {
    0, 1, -1, 1073741823, -1073741823, -1073741824, 1073741824, 2147483647, -2147483648.0,
    4294967296.0, 0.5, -2.75, 1e300, 5e-324,
};

static JSBool tmNumbers(JSContext *cx, JSObject *, uintN, jsval *, jsval *rval) {
    const int n = (int)(sizeof kNumbers / sizeof kNumbers[0]);
    jsval words[n + 4];
    for (int i = 0; i < n; i++) words[i] = api->newNumber(cx, kNumbers[i]);
    words[n] = api->newNumber(cx, -0.0);
    words[n + 1] = api->newNumber(cx, NAN);
    words[n + 2] = api->newNumber(cx, INFINITY);
    words[n + 3] = api->newNumber(cx, -INFINITY);
    JSObject *array = api->newArray(cx, n + 4, words);
    if (!array) return JS_FALSE;
    *rval = OBJECT_TO_JSVAL(array);
    return JS_TRUE;
}

// newStringN of an array of byte values.
static JSBool tmFromBytes(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    JSObject *source = objectArg(argc, argv, 0);
    uint32_t n = 0;
    if (!source || !api->getArrayLength(cx, source, &n)) {
        api->reportError(cx, KX4_FORMAT_ERROR, "TestModule.fromBytes(<array of bytes>)");
        return JS_FALSE;
    }
    char *bytes = (char *)malloc(n ? n : 1);
    if (!bytes) return JS_FALSE;
    for (uint32_t i = 0; i < n; i++) {
        jsval v = JSVAL_VOID;
        api->getElement(cx, source, (int32_t)i, &v);
        bytes[i] = (char)kx4ValueToInt32(api, cx, v);
    }
    *rval = api->newStringN(cx, bytes, n);
    free(bytes);
    return *rval != JSVAL_VOID;
}

// The argument's 8-bit text (valueStringLength bytes of valueToString) as an
// array of byte values.
static JSBool tmByteValues(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "TestModule.byteValues(<string>)")) return JS_FALSE;
    size_t n = api->valueStringLength(cx, argv[0]);
    const unsigned char *bytes = (const unsigned char *)api->valueToString(cx, argv[0]);
    JSObject *array = api->newArray(cx, 0, 0);
    if (!array) return JS_FALSE;
    for (size_t i = 0; i < n; i++) {
        jsval b = INT_TO_JSVAL(bytes[i]);
        if (!api->setElement(cx, array, (int32_t)i, &b)) return JS_FALSE;
    }
    *rval = OBJECT_TO_JSVAL(array);
    return JS_TRUE;
}

static JSBool tmLength(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "TestModule.length(<string>)")) return JS_FALSE;
    *rval = api->newNumber(cx, (double)api->valueStringLength(cx, argv[0]));
    return JS_TRUE;
}

// n pseudo-random bytes from a seed, as a string.
static JSBool tmRandomBytes(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 2, "TestModule.randomBytes(<count>, <seed>)")) return JS_FALSE;
    int32_t n = kx4ValueToInt32(api, cx, argv[0]);
    uint32_t state = (uint32_t)api->valueToNumber(cx, argv[1]);
    if (n < 0) n = 0;
    char *bytes = (char *)malloc(n ? n : 1);
    if (!bytes) return JS_FALSE;
    for (int32_t i = 0; i < n; i++) bytes[i] = (char)(nextRandom(&state) & 0xFF);
    *rval = api->newStringN(cx, bytes, (size_t)n);
    free(bytes);
    return *rval != JSVAL_VOID;
}

// [length, hash] of the argument's 8-bit text.
static JSBool tmHash(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "TestModule.hash(<string>)")) return JS_FALSE;
    size_t n = api->valueStringLength(cx, argv[0]);
    const unsigned char *bytes = (const unsigned char *)api->valueToString(cx, argv[0]);
    jsval pair[2] = {api->newNumber(cx, (double)n), api->newNumber(cx, (double)hashBytes(bytes, n))};
    JSObject *array = api->newArray(cx, 2, pair);
    if (!array) return JS_FALSE;
    *rval = OBJECT_TO_JSVAL(array);
    return JS_TRUE;
}

// A string of count copies of one byte (for strings too big for the heap).
static JSBool tmRepeatByte(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 2, "TestModule.repeatByte(<byte>, <count>)")) return JS_FALSE;
    int32_t b = kx4ValueToInt32(api, cx, argv[0]);
    int32_t n = kx4ValueToInt32(api, cx, argv[1]);
    if (n < 0) n = 0;
    char *bytes = (char *)malloc(n ? n : 1);
    if (!bytes) return JS_FALSE;
    memset(bytes, b, (size_t)n);
    *rval = api->newStringN(cx, bytes, (size_t)n);
    free(bytes);
    return *rval != JSVAL_VOID;  // out of memory leaves its error pending
}

// The argument's UTF-16 units (valueToUCString, valueStringLength of them).
static JSBool tmUnits(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "TestModule.units(<string>)")) return JS_FALSE;
    size_t n = api->valueStringLength(cx, argv[0]);
    const jschar *units = api->valueToUCString(cx, argv[0]);
    JSObject *array = api->newArray(cx, 0, 0);
    if (!array) return JS_FALSE;
    for (size_t i = 0; i < n; i++) {
        jsval u = INT_TO_JSVAL((uint16_t)units[i]);
        if (!api->setElement(cx, array, (int32_t)i, &u)) return JS_FALSE;
    }
    if (units[n] != 0) {
        api->reportError(cx, "TestModule.units: text not terminated after %d units", (int)n);
        return JS_FALSE;
    }
    *rval = OBJECT_TO_JSVAL(array);
    return JS_TRUE;
}

// newString(NULL, utext) from an array of UTF-16 units.
static JSBool tmFromUnits(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    JSObject *source = objectArg(argc, argv, 0);
    uint32_t n = 0;
    if (!source || !api->getArrayLength(cx, source, &n)) {
        api->reportError(cx, KX4_FORMAT_ERROR, "TestModule.fromUnits(<array of units>)");
        return JS_FALSE;
    }
    jschar *units = (jschar *)malloc((n + 1) * sizeof(jschar));
    if (!units) return JS_FALSE;
    for (uint32_t i = 0; i < n; i++) {
        jsval v = JSVAL_VOID;
        api->getElement(cx, source, (int32_t)i, &v);
        units[i] = (jschar)kx4ValueToInt32(api, cx, v);
    }
    units[n] = 0;
    *rval = api->newString(cx, 0, units);
    free(units);
    return *rval != JSVAL_VOID;
}

// ---- Properties -------------------------------------------------------------------

static JSBool tmProperty(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    JSObject *obj = objectArg(argc, argv, 0);
    if (!obj || argc < 2) {
        api->reportError(cx, KX4_FORMAT_ERROR, "TestModule.property(<object>, <name>)");
        return JS_FALSE;
    }
    *rval = api->getPropertyValue(cx, obj, api->valueToString(cx, argv[1]));
    return JS_TRUE;
}

static JSBool tmPropertyNumber(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    JSObject *obj = objectArg(argc, argv, 0);
    if (!obj || argc < 3) {
        api->reportError(cx, KX4_FORMAT_ERROR, "TestModule.propertyNumber(<object>, <name>, <default>)");
        return JS_FALSE;
    }
    double def = api->valueToNumber(cx, argv[2]);
    *rval = api->newNumber(cx, api->getPropertyNumber(cx, obj, api->valueToString(cx, argv[1]), def));
    return JS_TRUE;
}

// kx4ErrorPending after reading obj[name]: kept for lastPending(), since
// the read's own error (if any) is thrown when this native returns.
static JSBool g_lastPending = JS_FALSE;

static JSBool tmReadThenAskPending(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *) {
    JSObject *obj = objectArg(argc, argv, 0);
    g_lastPending = kx4ErrorPending(api, cx);  // nothing yet
    if (obj) api->getPropertyNumber(cx, obj, api->valueToString(cx, argv[1]), 0);
    g_lastPending = g_lastPending ? 2 : kx4ErrorPending(api, cx);
    return JS_TRUE;
}

static JSBool tmLastPending(JSContext *, JSObject *, uintN, jsval *, jsval *rval) {
    *rval = INT_TO_JSVAL(g_lastPending);
    return JS_TRUE;
}

// getPropertyString and getPropertyUCString with defaults of their own:
// {text, textIsDefault, utext, utextIsDefault}. "IsDefault" means the very
// pointer passed as default came back.
static const char kDefaultText[] = "default text";
static const jschar kDefaultUText[] = {'d', 'e', 'f', 'a', 'u', 'l', 't', ' ', 0x20AC, 0};

static JSBool tmPropertyStrings(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    JSObject *obj = objectArg(argc, argv, 0);
    if (!obj || argc < 2) {
        api->reportError(cx, KX4_FORMAT_ERROR, "TestModule.propertyStrings(<object>, <name>)");
        return JS_FALSE;
    }
    const char *name = api->valueToString(cx, argv[1]);
    const char *text = api->getPropertyString(cx, obj, name, kDefaultText);
    const jschar *utext = api->getPropertyUCString(cx, obj, name, kDefaultUText);
    JSObject *result = api->newObject(cx, 0);
    if (!result) return JS_FALSE;
    kx4DefineResult(api, cx, result, "text", api->newString(cx, text, 0));
    kx4DefineResultBool(api, cx, result, "textIsDefault", text == kDefaultText);
    kx4DefineResult(api, cx, result, "utext", api->newString(cx, 0, utext));
    kx4DefineResultBool(api, cx, result, "utextIsDefault", utext == kDefaultUText);
    *rval = OBJECT_TO_JSVAL(result);
    return JS_TRUE;
}

// The values of enumerateValues up to the terminator, and how many entries the
// block held before it.
static JSBool tmEnumerateValues(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    JSObject *obj = objectArg(argc, argv, 0);
    if (!obj) {
        api->reportError(cx, KX4_FORMAT_ERROR, "TestModule.enumerateValues(<object>)");
        return JS_FALSE;
    }
    jsval *block = api->enumerateValues(cx, obj);
    if (!block) return JS_FALSE;
    int n = 0;
    while (block[n] != JSVAL_VOID) n++;
    JSObject *array = api->newArray(cx, n, block);
    api->freeMemory(cx, block);
    if (!array) return JS_FALSE;
    *rval = OBJECT_TO_JSVAL(array);
    return JS_TRUE;
}

// defineProperty(obj, name, value, attrs).
static JSBool tmDefine(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    JSObject *obj = objectArg(argc, argv, 0);
    if (!obj || argc < 4) {
        api->reportError(cx, KX4_FORMAT_ERROR, "TestModule.define(<object>, <name>, <value>, <attrs>)");
        return JS_FALSE;
    }
    JSBool ok = api->defineProperty(cx, obj, api->valueToString(cx, argv[1]), argv[2], 0, 0,
                                    (uintN)kx4ValueToInt32(api, cx, argv[3]));
    *rval = BOOLEAN_TO_JSVAL(ok);
    return JS_TRUE;
}

// An accessor property backed by one native number: the getter reads it, the
// setter (when the property is not read-only) stores into it.
static double g_accessorStore = 0;
static int g_accessorReads = 0;

static JSBool accessorGet(JSContext *cx, JSObject *, jsval, jsval *vp) {
    g_accessorReads++;
    *vp = api->newNumber(cx, g_accessorStore);
    return JS_TRUE;
}

static JSBool accessorSet(JSContext *cx, JSObject *, jsval, jsval *vp) {
    double d = api->valueToNumber(cx, *vp);
    if (d < 0) {
        api->reportError(cx, "TestModule accessor: %g is negative", d);
        return JS_FALSE;
    }
    g_accessorStore = d;
    return JS_TRUE;
}

static JSBool tmDefineAccessor(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    JSObject *obj = objectArg(argc, argv, 0);
    if (!obj || argc < 3) {
        api->reportError(cx, KX4_FORMAT_ERROR, "TestModule.defineAccessor(<object>, <name>, <attrs>)");
        return JS_FALSE;
    }
    JSBool ok = api->defineProperty(cx, obj, api->valueToString(cx, argv[1]), JSVAL_VOID, accessorGet, accessorSet,
                                    (uintN)kx4ValueToInt32(api, cx, argv[2]));
    *rval = BOOLEAN_TO_JSVAL(ok);
    return JS_TRUE;
}

static JSBool tmAccessorReads(JSContext *cx, JSObject *, uintN, jsval *, jsval *rval) {
    *rval = api->newNumber(cx, g_accessorReads);
    return JS_TRUE;
}

// ---- Objects and arrays ------------------------------------------------------------

static JSBool tmNewObject(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    JSObject *obj = api->newObject(cx, objectArg(argc, argv, 0));
    if (!obj) return JS_FALSE;
    *rval = OBJECT_TO_JSVAL(obj);
    return JS_TRUE;
}

static JSBool tmGlobal(JSContext *cx, JSObject *, uintN, jsval *, jsval *rval) {
    *rval = OBJECT_TO_JSVAL(api->getGlobalObject(cx));
    return JS_TRUE;
}

// newArray(length, null).
static JSBool tmNewArray(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    JSObject *array = api->newArray(cx, kx4ArgInt32(api, cx, argc, argv, 0, 0), 0);
    if (!array) return JS_FALSE;
    *rval = OBJECT_TO_JSVAL(array);
    return JS_TRUE;
}

// getArrayLength, or false when the slot refuses the object.
static JSBool tmArrayLength(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    JSObject *obj = objectArg(argc, argv, 0);
    uint32_t n = 0;
    if (obj && api->getArrayLength(cx, obj, &n))
        *rval = api->newNumber(cx, n);
    else
        *rval = JSVAL_FALSE;
    return JS_TRUE;
}

// A copy of an array made with getArrayLength/getElement and newArray with a
// vector, then extended with setElement(length, extra).
static JSBool tmCopyArray(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    JSObject *source = objectArg(argc, argv, 0);
    uint32_t n = 0;
    if (!source || argc < 2 || !api->getArrayLength(cx, source, &n)) {
        api->reportError(cx, KX4_FORMAT_ERROR, "TestModule.copyArray(<array>, <extra>)");
        return JS_FALSE;
    }
    jsval *words = (jsval *)api->allocMemory(cx, (n + 1) * sizeof(jsval));
    if (!words) return JS_FALSE;
    for (uint32_t i = 0; i < n; i++) {
        if (!api->getElement(cx, source, (int32_t)i, &words[i])) {
            api->freeMemory(cx, words);
            return JS_FALSE;
        }
    }
    JSObject *copy = api->newArray(cx, (intN)n, words);
    api->freeMemory(cx, words);
    if (!copy) return JS_FALSE;
    jsval extra = argv[1];
    if (!api->setElement(cx, copy, (int32_t)n, &extra)) return JS_FALSE;
    *rval = OBJECT_TO_JSVAL(copy);
    return JS_TRUE;
}

// ---- Errors and evaluation -----------------------------------------------------------

// fail(message, [number]): reportError, then the native fails.
static JSBool tmFail(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *) {
    if (!kx4RequireArgs(api, cx, argc, 1, "TestModule.fail(<message>, [number])")) return JS_FALSE;
    const char *message = api->valueToString(cx, argv[0]);
    if (kx4HasArg(argc, argv, 1))
        api->reportError(cx, "%s #%d", message, kx4ValueToInt32(api, cx, argv[1]));
    else
        api->reportError(cx, "%s", message);
    return JS_FALSE;
}

// evaluate(source, [fileName]): evaluateScript from a native. Failure leaves
// the exception pending; returning false throws it to the caller.
static JSBool tmEvaluate(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "TestModule.evaluate(<source>, [fileName])")) return JS_FALSE;
    const char *source = api->valueToString(cx, argv[0]);
    const char *fileName = kx4HasArg(argc, argv, 1) ? api->valueToString(cx, argv[1]) : "nested";
    return api->evaluateScript(cx, fileName, source, rval);
}

// evaluateAndIgnore(source): a failed evaluation whose native still claims
// success; the host throws the exception all the same. Returns the value.
static JSBool tmEvaluateAndIgnore(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "TestModule.evaluateAndIgnore(<source>)")) return JS_FALSE;
    jsval result = JSVAL_VOID;
    if (api->evaluateScript(cx, "ignored", api->valueToString(cx, argv[0]), &result))
        *rval = result;
    else
        *rval = api->newString(cx, "failed", 0);
    return JS_TRUE;
}

// ---- Memory --------------------------------------------------------------------------

// alloc(size): allocMemory, write every byte, read them back, freeMemory.
static JSBool tmAlloc(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "TestModule.alloc(<size>)")) return JS_FALSE;
    double d = api->valueToNumber(cx, argv[0]);
    size_t size = d > 0 ? (size_t)d : 0;
    unsigned char *p = (unsigned char *)api->allocMemory(cx, size);
    if (!p) return JS_FALSE;  // the slot reported the error
    size_t usable = size ? size : 1;
    for (size_t i = 0; i < usable; i++) p[i] = (unsigned char)(i * 7);
    size_t bad = 0;
    for (size_t i = 0; i < usable; i++) bad += p[i] != (unsigned char)(i * 7);
    api->freeMemory(cx, p);
    *rval = BOOLEAN_TO_JSVAL(bad == 0);
    return JS_TRUE;
}

// ---- Lifetime of values across collections and requests ---------------------------

// Values that nothing but this native references, checked after a forced
// collection (and churn) inside the same native: [string, object, problems].
static JSBool tmKeepAcrossGc(JSContext *cx, JSObject *, uintN, jsval *, jsval *rval) {
    Problems p = {{}, 0};
    static const char kKept[] = "kept \xE9\xFF across a collection";
    jsval s = api->newString(cx, kKept, 0);
    jsval ascii = api->newStringN(cx, "plain ascii kept too", 20);
    JSObject *o = api->newObject(cx, 0);
    JSObject *inner = api->newObject(cx, 0);
    if (s == JSVAL_VOID || ascii == JSVAL_VOID || !o || !inner) return JS_FALSE;
    api->defineProperty(cx, inner, "deep", api->newString(cx, "inner value", 0), 0, 0, JSPROP_ENUMERATE);
    api->defineProperty(cx, o, "n", INT_TO_JSVAL(42), 0, 0, JSPROP_ENUMERATE);
    api->defineProperty(cx, o, "inner", OBJECT_TO_JSVAL(inner), 0, 0, JSPROP_ENUMERATE);
    jsval boxed = api->newNumber(cx, 2.5);
    const char *text = api->valueToString(cx, s);           // narrowed copy
    const char *asciiText = api->valueToString(cx, ascii);  // the engine's own bytes

    jsval ignored;
    if (!api->evaluateScript(cx, "keepAcrossGc",
                             "(function () {"
                             "  System.gc();"
                             "  var churn = [];"
                             "  for (var i = 0; i < 20000; i++) churn.push({i: i, s: 'churn ' + i});"
                             "  churn = null;"
                             "  System.gc();"
                             "})();",
                             &ignored))
        return JS_FALSE;

    if (strcmp(text, kKept) != 0) problem(&p, "text handed out before the collection changed");
    if (strcmp(asciiText, "plain ascii kept too") != 0) problem(&p, "ascii text changed");
    if (strcmp(api->valueToString(cx, s), kKept) != 0) problem(&p, "string changed");
    if (api->valueStringLength(cx, s) != strlen(kKept)) problem(&p, "string length changed");
    if (api->getPropertyNumber(cx, o, "n", -1) != 42) problem(&p, "object lost its number");
    if (strcmp(api->getPropertyString(cx, inner, "deep", "?"), "inner value") != 0) problem(&p, "inner object changed");
    if (!JSVAL_IS_DOUBLE(boxed) || JSVAL_TO_DOUBLE(boxed) != 2.5) problem(&p, "boxed double changed");

    jsval words[4] = {s, OBJECT_TO_JSVAL(o), ascii, problemsValue(cx, &p)};
    JSObject *array = api->newArray(cx, 4, words);
    if (!array) return JS_FALSE;
    *rval = OBJECT_TO_JSVAL(array);
    return JS_TRUE;
}

// The classic callback pattern of a window procedure: the native suspends its
// request (as an event loop does), then on the same thread and context
// begins a nested request, evaluates the script text it was given, ends the
// nested request and resumes. Values made before suspending must still be
// valid afterwards. With useKept the nested request names the context the
// module kept from initModule instead, as a module's callbacks do whatever
// thread they run on. Result: {ok, result, before, object, number, problems}.
static int g_nestSerial = 0;
static JSContext *g_keptContext;  // the context initModule got

static JSBool tmNestedRequest(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "TestModule.nestedRequest(<source>, [useKept])")) return JS_FALSE;
    JSContext *nestedCx = kx4HasArg(argc, argv, 1) && api->valueToNumber(cx, argv[1]) != 0 ? g_keptContext : cx;
    Problems p = {{}, 0};
    const char *source = api->valueToString(cx, argv[0]);
    char *sourceCopy = copyText(source);
    if (!sourceCopy) return JS_FALSE;

    char marker[64];
    snprintf(marker, sizeof marker, "made before suspending \xE9 %d", ++g_nestSerial);
    jsval before = api->newString(cx, marker, 0);
    JSObject *o = api->newObject(cx, 0);
    if (before == JSVAL_VOID || !o) {
        free(sourceCopy);
        return JS_FALSE;
    }
    api->defineProperty(cx, o, "marker", before, 0, 0, JSPROP_ENUMERATE);
    jsval number = api->newNumber(cx, 0.125);
    const char *beforeText = api->valueToString(cx, before);

    intN depth = api->suspendRequest(cx);
    api->beginRequest(nestedCx);
    jsval result = JSVAL_VOID;
    JSBool ok = api->evaluateScript(nestedCx, "nestedRequest", sourceCopy, &result);
    // The nested scope's values die at endRequest: keep a copy of the text.
    char *resultText = copyText(ok ? api->valueToString(nestedCx, result) : "");
    api->endRequest(nestedCx);
    api->resumeRequest(cx, depth);

    if (strcmp(beforeText, marker) != 0) problem(&p, "text handed out before suspending changed");
    if (strcmp(api->valueToString(cx, before), marker) != 0) problem(&p, "string made before suspending changed");
    if (strcmp(api->getPropertyString(cx, o, "marker", "?"), marker) != 0)
        problem(&p, "object made before suspending changed");
    if (!JSVAL_IS_DOUBLE(number) || JSVAL_TO_DOUBLE(number) != 0.125)
        problem(&p, "number made before suspending changed");
    if (strcmp(source, sourceCopy) != 0) problem(&p, "argument text handed out before suspending changed");
    free(sourceCopy);

    JSObject *out = api->newObject(cx, 0);
    if (!out) {
        free(resultText);
        return JS_FALSE;
    }
    kx4DefineResultBool(api, cx, out, "ok", ok);
    kx4DefineResult(api, cx, out, "result", api->newString(cx, resultText ? resultText : "", 0));
    kx4DefineResult(api, cx, out, "before", before);
    kx4DefineResult(api, cx, out, "object", OBJECT_TO_JSVAL(o));
    kx4DefineResult(api, cx, out, "number", number);
    kx4DefineResult(api, cx, out, "problems", problemsValue(cx, &p));
    free(resultText);
    *rval = OBJECT_TO_JSVAL(out);
    return JS_TRUE;
}

// holdSuspended(ms): makes values, suspends the request for ms milliseconds
// (other script threads run and may collect meanwhile), resumes and checks
// the values. Returns the problem list.
static JSBool tmHoldSuspended(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "TestModule.holdSuspended(<ms>)")) return JS_FALSE;
    Problems p = {{}, 0};
    DWORD ms = (DWORD)kx4ValueToInt32(api, cx, argv[0]);
    jsval s = api->newString(cx, "held \xFC while suspended", 0);
    JSObject *o = api->newObject(cx, 0);
    if (s == JSVAL_VOID || !o) return JS_FALSE;
    api->defineProperty(cx, o, "s", s, 0, 0, JSPROP_ENUMERATE);
    const char *text = api->valueToString(cx, s);

    intN depth = api->suspendRequest(cx);
    Sleep(ms);
    api->resumeRequest(cx, depth);

    if (strcmp(text, "held \xFC while suspended") != 0) problem(&p, "text changed while suspended");
    if (strcmp(api->getPropertyString(cx, o, "s", "?"), "held \xFC while suspended") != 0)
        problem(&p, "object changed while suspended");
    *rval = problemsValue(cx, &p);
    return JS_TRUE;
}

// requestInside(source): a request nested inside the native without
// suspending first (the native already holds the heap). An error in it stays
// pending for this native, which fails with it.
static JSBool tmRequestInside(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "TestModule.requestInside(<source>)")) return JS_FALSE;
    const char *source = api->valueToString(cx, argv[0]);
    api->beginRequest(cx);
    jsval result = JSVAL_VOID;
    JSBool ok = api->evaluateScript(cx, "requestInside", source, &result);
    char *text = ok ? copyText(api->valueToString(cx, result)) : 0;
    api->endRequest(cx);
    if (!ok) return JS_FALSE;
    *rval = api->newString(cx, text ? text : "", 0);
    free(text);
    return JS_TRUE;
}

// A platform thread that is not a script thread entering the engine, as the
// console control handler and a module's callbacks do: with the context
// initModule got (kept by the module), or with null (the main context).

struct ForeignCall {
    JSContext *cx;
    const char *source;
    JSBool ok;
    char *result;
};

static DWORD WINAPI foreignThread(LPVOID parameter) {
    ForeignCall *call = (ForeignCall *)parameter;
    api->beginRequest(call->cx);
    jsval result = JSVAL_VOID;
    call->ok = api->evaluateScript(call->cx, "foreignThread", call->source, &result);
    call->result = copyText(call->ok ? api->valueToString(call->cx, result) : "");
    api->endRequest(call->cx);
    return 0;
}

// callFromNativeThread(source, [useNull]): runs source on a new platform
// thread and waits for it with the request suspended. Returns the result as
// text, or false when the evaluation failed (the thread's error goes to the
// error reporter).
static JSBool tmCallFromNativeThread(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "TestModule.callFromNativeThread(<source>, [useNull])")) return JS_FALSE;
    ForeignCall call;
    call.cx = kx4HasArg(argc, argv, 1) && api->valueToNumber(cx, argv[1]) != 0 ? 0 : g_keptContext;
    call.source = copyText(api->valueToString(cx, argv[0]));
    call.ok = JS_FALSE;
    call.result = 0;
    if (!call.source) return JS_FALSE;
    intN depth = api->suspendRequest(cx);
    HANDLE thread = CreateThread(0, 0, foreignThread, &call, 0, 0);
    if (thread) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    api->resumeRequest(cx, depth);
    free((void *)call.source);
    if (!thread) {
        api->reportError(cx, "TestModule.callFromNativeThread: no thread");
        return JS_FALSE;
    }
    *rval = call.ok ? api->newString(cx, call.result ? call.result : "", 0) : JSVAL_FALSE;
    free(call.result);
    return JS_TRUE;
}

// ---- Process facts ---------------------------------------------------------------------

static JSBool tmCurrentDirectory(JSContext *cx, JSObject *, uintN, jsval *, jsval *rval) {
    WCHAR path[MAX_PATH + 1];
    DWORD n = GetCurrentDirectoryW(MAX_PATH + 1, path);
    if (n == 0 || n > MAX_PATH) path[0] = 0;
    *rval = api->newString(cx, 0, (const jschar *)path);
    return JS_TRUE;
}

// waitThread(id, ms): waits (request suspended) until the script thread with
// that id has ended. True when it ended (or was gone already).
static JSBool tmWaitThread(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 2, "TestModule.waitThread(<id>, <ms>)")) return JS_FALSE;
    DWORD id = (DWORD)api->valueToNumber(cx, argv[0]);
    DWORD ms = (DWORD)kx4ValueToInt32(api, cx, argv[1]);
    intN depth = api->suspendRequest(cx);
    HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, id);
    DWORD result = thread ? WaitForSingleObject(thread, ms) : WAIT_OBJECT_0;
    if (thread) CloseHandle(thread);
    api->resumeRequest(cx, depth);
    *rval = BOOLEAN_TO_JSVAL(result == WAIT_OBJECT_0);
    return JS_TRUE;
}

// crash(): writes through a bad pointer, an access violation for the crash
// guard to catch under whatever script called it.
static JSBool tmCrash(JSContext *, JSObject *, uintN, jsval *, jsval *) {
    volatile uintptr_t address = 0x10;  // volatile: the compiler cannot see the fault coming
    *(volatile int *)address = 1;
    return JS_TRUE;
}

static JSBool tmInitCount(JSContext *, JSObject *, uintN, jsval *, jsval *rval) {
    *rval = INT_TO_JSVAL(g_inits);
    return JS_TRUE;
}

// ---- TestThing: a class with private data ----------------------------------------------

struct ThingRecord {
    uint32_t magic;
    double value;
};
static const uint32_t kThingMagic = 0x7E57AB1E;

static int g_thingsMade = 0;
static int g_thingsFinalized = 0;       // finalized with their record
static int g_finalizedWithoutData = 0;  // prototype, or objects that only inherit
static int g_badRecords = 0;            // a record seen twice or overwritten
static bool g_traceFinalizer = false;

static JSBool thingConstruct(JSContext *cx, JSObject *obj, uintN argc, jsval *argv, jsval *) {
    ThingRecord *rec = (ThingRecord *)malloc(sizeof(ThingRecord));
    if (!rec) {
        api->reportError(cx, "TestThing: out of memory");
        return JS_FALSE;
    }
    rec->magic = kThingMagic;
    rec->value = kx4HasArg(argc, argv, 0) ? api->valueToNumber(cx, argv[0]) : 0;
    if (!api->setPrivate(cx, obj, rec)) {
        free(rec);
        return JS_FALSE;
    }
    g_thingsMade++;
    return JS_TRUE;
}

static void thingFinalize(JSContext *cx, JSObject *obj) {
    ThingRecord *rec = (ThingRecord *)api->getPrivate(cx, obj);
    if (!rec) {
        g_finalizedWithoutData++;
        if (g_traceFinalizer) printf("TestThing finalized without private data\n");
        return;
    }
    if (rec->magic != kThingMagic) {
        g_badRecords++;
        return;  // never free a record twice
    }
    rec->magic = 0;
    free(rec);
    g_thingsFinalized++;
    if (g_traceFinalizer) printf("TestThing finalized with private data\n");
}

static ThingRecord *thingOf(JSContext *cx, JSObject *obj) {
    ThingRecord *rec = (ThingRecord *)api->getPrivate(cx, obj);
    if (!rec) api->reportError(cx, "TestThing: no private data");
    return rec;
}

static JSBool thingValue(JSContext *cx, JSObject *obj, uintN, jsval *, jsval *rval) {
    ThingRecord *rec = thingOf(cx, obj);
    if (!rec) return JS_FALSE;
    *rval = api->newNumber(cx, rec->value);
    return JS_TRUE;
}

static JSBool thingSetValue(JSContext *cx, JSObject *obj, uintN argc, jsval *argv, jsval *) {
    if (!kx4RequireArgs(api, cx, argc, 1, "TestThing.setValue(<value>)")) return JS_FALSE;
    ThingRecord *rec = thingOf(cx, obj);
    if (!rec) return JS_FALSE;
    rec->value = api->valueToNumber(cx, argv[0]);
    return JS_TRUE;
}

static JSBool thingHasPrivate(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    JSObject *obj = objectArg(argc, argv, 0);
    *rval = BOOLEAN_TO_JSVAL(obj && api->getPrivate(cx, obj) != 0);
    return JS_TRUE;
}

// Instance property through a getter: the record's value doubled.
static JSBool thingDoubleGet(JSContext *cx, JSObject *obj, jsval, jsval *vp) {
    ThingRecord *rec = (ThingRecord *)api->getPrivate(cx, obj);
    *vp = rec ? api->newNumber(cx, rec->value * 2) : JSVAL_VOID;
    return JS_TRUE;
}

static JSBool thingKindGet(JSContext *cx, JSObject *, jsval, jsval *vp) {
    *vp = api->newString(cx, "test thing", 0);
    return JS_TRUE;
}

static JSBool thingCounts(JSContext *cx, JSObject *, uintN, jsval *, jsval *rval) {
    JSObject *counts = api->newObject(cx, 0);
    if (!counts) return JS_FALSE;
    kx4DefineResultNumber(api, cx, counts, "made", g_thingsMade);
    kx4DefineResultNumber(api, cx, counts, "finalized", g_thingsFinalized);
    kx4DefineResultNumber(api, cx, counts, "withoutData", g_finalizedWithoutData);
    kx4DefineResultNumber(api, cx, counts, "badRecords", g_badRecords);
    *rval = OBJECT_TO_JSVAL(counts);
    return JS_TRUE;
}

// trace(on): print a line per finalization (to see the ones at teardown).
static JSBool thingTrace(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *) {
    g_traceFinalizer = kx4HasArg(argc, argv, 0) && api->valueToNumber(cx, argv[0]) != 0;
    return JS_TRUE;
}

static const JSPropertySpec kThingProperties[] = {
    {"doubled", 0, JSPROP_ENUMERATE | JSPROP_READONLY, thingDoubleGet, 0},
    JS_PS_END,
};

static const JSFunctionSpec kThingFunctions[] = {
    JS_FS("value", thingValue, 0),
    JS_FS("setValue", thingSetValue, 1),
    JS_FS_END,
};

static const JSPropertySpec kThingStaticProperties[] = {
    {"kind", 0, JSPROP_READONLY, thingKindGet, 0},
    JS_PS_END,
};

static const JSFunctionSpec kThingStaticFunctions[] = {
    JS_FS("counts", thingCounts, 0),
    JS_FS("hasPrivate", thingHasPrivate, 1),
    JS_FS("trace", thingTrace, 1),
    JS_FS_END,
};

// ---- The module ---------------------------------------------------------------------------

static const JSFunctionSpec kTestModuleFunctions[] = {
    JS_FS("emptyString", tmEmptyString, 0),
    JS_FS("kindOf", tmKindOf, 1),
    JS_FS("number", tmNumber, 1),
    JS_FS("numbers", tmNumbers, 0),
    JS_FS("fromBytes", tmFromBytes, 1),
    JS_FS("byteValues", tmByteValues, 1),
    JS_FS("length", tmLength, 1),
    JS_FS("randomBytes", tmRandomBytes, 2),
    JS_FS("hash", tmHash, 1),
    JS_FS("repeatByte", tmRepeatByte, 2),
    JS_FS("units", tmUnits, 1),
    JS_FS("fromUnits", tmFromUnits, 1),
    JS_FS("property", tmProperty, 2),
    JS_FS("propertyNumber", tmPropertyNumber, 3),
    JS_FS("readThenAskPending", tmReadThenAskPending, 2),
    JS_FS("lastPending", tmLastPending, 0),
    JS_FS("propertyStrings", tmPropertyStrings, 2),
    JS_FS("enumerateValues", tmEnumerateValues, 1),
    JS_FS("define", tmDefine, 4),
    JS_FS("defineAccessor", tmDefineAccessor, 3),
    JS_FS("accessorReads", tmAccessorReads, 0),
    JS_FS("newObject", tmNewObject, 1),
    JS_FS("global", tmGlobal, 0),
    JS_FS("newArray", tmNewArray, 1),
    JS_FS("arrayLength", tmArrayLength, 1),
    JS_FS("copyArray", tmCopyArray, 2),
    JS_FS("fail", tmFail, 2),
    JS_FS("evaluate", tmEvaluate, 2),
    JS_FS("evaluateAndIgnore", tmEvaluateAndIgnore, 1),
    JS_FS("alloc", tmAlloc, 1),
    JS_FS("keepAcrossGc", tmKeepAcrossGc, 0),
    JS_FS("nestedRequest", tmNestedRequest, 2),
    JS_FS("holdSuspended", tmHoldSuspended, 1),
    JS_FS("requestInside", tmRequestInside, 1),
    JS_FS("callFromNativeThread", tmCallFromNativeThread, 2),
    JS_FS("currentDirectory", tmCurrentDirectory, 0),
    JS_FS("waitThread", tmWaitThread, 2),
    JS_FS("initCount", tmInitCount, 0),
    JS_FS("crash", tmCrash, 0),
    JS_FS_END,
};

KX4_MODULE_INIT {
    api = hostApi;
    g_inits++;
    g_keptContext = cx;
    kx4DefineObject(api, cx, "TestModule", kTestModuleFunctions);
    api->defineClass(cx, "TestThing", thingConstruct, 1, kThingProperties, kThingFunctions,
                     kThingStaticProperties, kThingStaticFunctions, thingFinalize);
}
