/* kx4svcfault.dll: Fault.accessViolation() writes through an address no
 * page backs, so the tests can see whether the host writes a crash log. */
#include "kx4.h"

// Read at run time, so the compiler cannot turn the store into a trap
// instruction (that would be another exception than an access violation).
static volatile uintptr_t g_badAddress = 16;

static JSBool accessViolation(JSContext *, JSObject *, uintN, jsval *, jsval *) {
    *reinterpret_cast<volatile int *>(g_badAddress) = 1;
    return JS_TRUE;
}

static const JSFunctionSpec kFaultFunctions[] = {
    JS_FS("accessViolation", accessViolation, 0),
    JS_FS_END,
};

KX4_MODULE_INIT { kx4DefineObject(hostApi, cx, "Fault", kFaultFunctions); }
