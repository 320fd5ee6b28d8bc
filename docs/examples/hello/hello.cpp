/* hello.dll - an example kx4 module.
 *
 * Defines two globals:
 *   Hello    a plain object: Hello.add(a, b), Hello.greet([name]),
 *            Hello.repeat({text, count, upper}), Hello.sum(array),
 *            Hello.info(), Hello.wait(ms)
 *   Counter  a class with private data:
 *            var c = new Counter([start], [step]);
 *            c.increment(), c.reset([value]), c.value (read/write),
 *            c.step (read-only), Counter.live()
 *
 * Build (x64; use i686-w64-mingw32-g++-posix for x86):
 *   x86_64-w64-mingw32-g++-posix -shared -static -O2 -Wall \
 *       -D_WIN32_WINNT=0x0601 -I<kx4>/include -o hello.dll hello.cpp
 */
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "kx4.h"

/* The host's table, kept for the life of the process. Every native reaches
 * the engine through it. */
static HostApi *api;

/* ---- Hello --------------------------------------------------------------- */

/* Hello.add(a, b): the sum of two numbers. */
static JSBool helloAdd(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 2, "Hello.add(<a>, <b>)")) return JS_FALSE;
    double a = api->valueToNumber(cx, argv[0]);
    double b = api->valueToNumber(cx, argv[1]);
    /* A valueOf that threw has left its error pending: act on nothing. */
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    *rval = api->newNumber(cx, a + b);
    return JS_TRUE;
}

/* Hello.greet([name]): "Hello, <name>!"; name defaults to "world". */
static JSBool helloGreet(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    const char *name = kx4HasArg(argc, argv, 0) ? api->valueToString(cx, argv[0]) : "world";
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    size_t size = strlen(name) + 9;
    char *text = (char *)api->allocMemory(cx, size);
    if (!text) return JS_FALSE; /* "out of memory" is pending */
    snprintf(text, size, "Hello, %s!", name);
    *rval = api->newString(cx, text, 0);
    api->freeMemory(cx, text);
    return JS_TRUE;
}

/* Hello.repeat({text, count, upper}): an option record read with defaults. */
static JSBool helloRepeat(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    JSObject *options = kx4ArgOptionRecord(api, cx, argc, argv, 0, "Hello", "options",
                                           "Hello.repeat(<options>)");
    if (!options) return JS_FALSE;
    const char *text = api->getPropertyString(cx, options, "text", "");
    int32_t count = kx4FieldInt32(api, cx, options, "count", 1);
    JSBool upper = kx4FieldBool(api, cx, options, "upper", JS_FALSE);
    if (kx4ErrorPending(api, cx)) return JS_FALSE; /* a getter threw */
    size_t length = strlen(text);
    if (count < 0 || (length && (size_t)count > (1u << 20) / length)) {
        api->reportError(cx, "Hello.repeat: count out of range");
        return JS_FALSE;
    }
    char *out = (char *)api->allocMemory(cx, length * count + 1);
    if (!out) return JS_FALSE;
    for (int32_t i = 0; i < count; i++) memcpy(out + i * length, text, length);
    if (upper)
        for (size_t i = 0; i < length * count; i++)
            if (out[i] >= 'a' && out[i] <= 'z') out[i] -= 32;
    *rval = api->newStringN(cx, out, length * count);
    api->freeMemory(cx, out);
    return JS_TRUE;
}

/* Hello.sum(array): the sum of the array's elements. */
static JSBool helloSum(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "Hello.sum(<array>)")) return JS_FALSE;
    uint32_t length;
    if (JSVAL_IS_PRIMITIVE(argv[0]) ||
        !api->getArrayLength(cx, JSVAL_TO_OBJECT(argv[0]), &length)) {
        api->reportError(cx, "Hello.sum: not an array");
        return JS_FALSE;
    }
    JSObject *array = JSVAL_TO_OBJECT(argv[0]);
    double sum = 0;
    for (uint32_t i = 0; i < length; i++) {
        jsval v;
        if (!api->getElement(cx, array, (int32_t)i, &v)) return JS_FALSE;
        sum += api->valueToNumber(cx, v);
        if (kx4ErrorPending(api, cx)) return JS_FALSE;
    }
    *rval = api->newNumber(cx, sum);
    return JS_TRUE;
}

/* Hello.info(): a result object with read-only, enumerable properties. */
static JSBool helloInfo(JSContext *cx, JSObject *, uintN, jsval *, jsval *rval) {
    JSObject *info = api->newObject(cx, 0);
    if (!info) return JS_FALSE;
    if (!kx4DefineResultString(api, cx, info, "name", "hello") ||
        !kx4DefineResultNumber(api, cx, info, "version", 1.5) ||
        !kx4DefineResultBool(api, cx, info, "x64", sizeof(void *) == 8))
        return JS_FALSE;
    *rval = OBJECT_TO_JSVAL(info);
    return JS_TRUE;
}

/* Hello.wait(ms): a blocking call. The heap is released around it so that
 * other script threads (and the garbage collector) can run. */
static JSBool helloWait(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *) {
    if (!kx4RequireArgs(api, cx, argc, 1, "Hello.wait(<ms>)")) return JS_FALSE;
    DWORD ms = (DWORD)kx4ValueToInt32(api, cx, argv[0]); /* read arguments first */
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    {
        Kx4HeapReleased released(api, cx);
        Sleep(ms); /* no HostApi call inside this block */
    }
    return JS_TRUE;
}

static const JSFunctionSpec helloFunctions[] = {
    JS_FS("add", helloAdd, 2),
    JS_FS("greet", helloGreet, 1),
    JS_FS("repeat", helloRepeat, 1),
    JS_FS("sum", helloSum, 1),
    JS_FS("info", helloInfo, 0),
    JS_FS("wait", helloWait, 1),
    JS_FS_END,
};

/* ---- Counter --------------------------------------------------------------- */

/* The class's tag: a Counter's record begins with a pointer to it, so that
 * a method called on another class's object (Counter.prototype.reset.call(
 * new File())) finds no record instead of someone else's. */
static const Kx4Class counterClass = {"Counter"};

struct CounterRecord {
    const Kx4Class *kx4Class; /* &counterClass, first */
    int32_t value;
    int32_t step;
};

/* Instances alive; touched only inside requests, so the heap lock guards it. */
static int32_t liveCounters = 0;

/* The record of `this` when it is a Counter, else null with `message`
 * reported. */
static CounterRecord *counterOf(JSContext *cx, JSObject *obj, const char *message) {
    return (CounterRecord *)kx4CheckPrivate(api, cx, obj, &counterClass, message);
}

/* new Counter([start], [step]) */
static JSBool counterConstruct(JSContext *cx, JSObject *obj, uintN argc, jsval *argv, jsval *) {
    /* Arguments first: nothing is allocated when a valueOf throws. */
    int32_t value = kx4ArgInt32(api, cx, argc, argv, 0, 0);
    int32_t step = kx4ArgInt32(api, cx, argc, argv, 1, 1);
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    /* kx4 always hands a constructor a fresh instance; a module written for
     * any host still refuses an object that already has a record. */
    if (api->getPrivate(cx, obj)) {
        api->reportError(cx, "Counter: use new Counter([start], [step])");
        return JS_FALSE;
    }
    CounterRecord *rec = (CounterRecord *)api->allocMemory(cx, sizeof *rec);
    if (!rec) return JS_FALSE;
    rec->kx4Class = &counterClass;
    rec->value = value;
    rec->step = step;
    if (!api->setPrivate(cx, obj, rec)) {
        api->freeMemory(cx, rec);
        return JS_FALSE;
    }
    liveCounters++;
    return JS_TRUE; /* *rval stays undefined: `new` gives the instance */
}

/* Runs for every collected instance, and once for Counter.prototype (which
 * has no record). Takes the record off the object before freeing it, so
 * nothing can reach a freed record; another class's object keeps its own. */
static void counterFinalize(JSContext *cx, JSObject *obj) {
    CounterRecord *rec = (CounterRecord *)kx4TakeClassPrivate(api, cx, obj, &counterClass);
    if (!rec) return;
    api->freeMemory(cx, rec);
    liveCounters--;
}

/* c.increment(): adds the step and returns the new value. */
static JSBool counterIncrement(JSContext *cx, JSObject *obj, uintN, jsval *, jsval *rval) {
    CounterRecord *rec = counterOf(cx, obj, "Counter.increment: not a Counter");
    if (!rec) return JS_FALSE;
    rec->value += rec->step;
    *rval = api->newNumber(cx, rec->value);
    return JS_TRUE;
}

/* c.reset([value]) */
/* The order of every native: convert the arguments, stop if that failed,
 * then look at the object (a valueOf may have changed it), then act. */
static JSBool counterReset(JSContext *cx, JSObject *obj, uintN argc, jsval *argv, jsval *) {
    int32_t value = kx4ArgInt32(api, cx, argc, argv, 0, 0);
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    CounterRecord *rec = counterOf(cx, obj, "Counter.reset: not a Counter");
    if (!rec) return JS_FALSE;
    rec->value = value;
    return JS_TRUE;
}

/* Property hooks: c.value (getter and setter), c.step (getter only). */
static JSBool counterGetValue(JSContext *cx, JSObject *obj, jsval, jsval *vp) {
    CounterRecord *rec = counterOf(cx, obj, "Counter.value: not a Counter");
    if (!rec) return JS_FALSE;
    *vp = api->newNumber(cx, rec->value);
    return JS_TRUE;
}

static JSBool counterSetValue(JSContext *cx, JSObject *obj, jsval, jsval *vp) {
    int32_t value = kx4ValueToInt32(api, cx, *vp);
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    CounterRecord *rec = counterOf(cx, obj, "Counter.value: not a Counter");
    if (!rec) return JS_FALSE;
    rec->value = value;
    return JS_TRUE;
}

static JSBool counterGetStep(JSContext *cx, JSObject *obj, jsval, jsval *vp) {
    CounterRecord *rec = counterOf(cx, obj, "Counter.step: not a Counter");
    if (!rec) return JS_FALSE;
    *vp = api->newNumber(cx, rec->step);
    return JS_TRUE;
}

/* Counter.live(): how many instances have not been finalized yet. */
static JSBool counterLive(JSContext *cx, JSObject *, uintN, jsval *, jsval *rval) {
    *rval = api->newNumber(cx, liveCounters);
    return JS_TRUE;
}

static const JSPropertySpec counterProperties[] = {
    {"value", 0, JSPROP_ENUMERATE, counterGetValue, counterSetValue},
    {"step", 0, JSPROP_ENUMERATE | JSPROP_READONLY, counterGetStep, 0},
    JS_PS_END,
};

static const JSFunctionSpec counterMethods[] = {
    JS_FS("increment", counterIncrement, 0),
    JS_FS("reset", counterReset, 1),
    JS_FS_END,
};

static const JSFunctionSpec counterStatics[] = {
    JS_FS("live", counterLive, 0),
    JS_FS_END,
};

/* ---- Entry ----------------------------------------------------------------- */

/* Called by System.loadModule inside the calling script's request. The macro
 * names the parameters cx and hostApi. */
KX4_MODULE_INIT {
    api = hostApi;
    if (!kx4DefineObject(api, cx, "Hello", helloFunctions)) return;
    api->defineClass(cx, "Counter", counterConstruct, 2, counterProperties, counterMethods, 0,
                     counterStatics, counterFinalize);
}
