/* System functions whose implementation has not landed in this build yet.
 * They exist with their arity so the function list is complete, check their
 * arguments like the real ones, and then fail with a clear error instead of
 * pretending to work. */
#include "system_object.h"

namespace kx4 {

static HostApi *const &api = systemApi;

static JSBool notAvailable(JSContext *cx, uintN argc, uintN needed, const char *usage, const char *name) {
    if (!kx4RequireArgs(api, cx, argc, needed, usage)) return JS_FALSE;
    api->reportError(cx, "%s: not available in this build", name);
    return JS_FALSE;
}

#define KX4_NOT_AVAILABLE(native, needed, usage, name)                                 \
    JSBool native(JSContext *cx, JSObject *, uintN argc, jsval *, jsval *) {            \
        return notAvailable(cx, argc, needed, usage, name);                            \
    }

KX4_NOT_AVAILABLE(systemExec, 1, "System.exec(<command>, [directory], [wait], [silent], [useExecV])", "System.exec")
KX4_NOT_AVAILABLE(systemOpen, 1, "System.open(<file>, [params], ['runas'])", "System.open")
KX4_NOT_AVAILABLE(systemGetAdminRights, 0, "System.getAdminRights()", "System.getAdminRights")
KX4_NOT_AVAILABLE(systemShutdown, 1, "System.shutdown(<params>)", "System.shutdown")
// The registry functions check their request record first: get and enum
// give the format error for no argument; all four report a missing or
// undefined record as "System: regRequest is undefined".
static JSBool registryNotAvailable(JSContext *cx, uintN argc, jsval *argv, uintN needed, const char *usage,
                                   const char *name) {
    if (!kx4RequireArgs(api, cx, argc, needed, usage)) return JS_FALSE;
    if (!kx4ArgOptionRecord(api, cx, argc, argv, 0, "System", "regRequest", usage)) return JS_FALSE;
    api->reportError(cx, "%s: not available in this build", name);
    return JS_FALSE;
}

#define KX4_REGISTRY_NOT_AVAILABLE(native, needed, usage, name)                        \
    JSBool native(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *) {        \
        return registryNotAvailable(cx, argc, argv, needed, usage, name);              \
    }

KX4_REGISTRY_NOT_AVAILABLE(systemGetRegistry, 1, "System.getRegistry(<regRequest>)", "System.getRegistry")
KX4_REGISTRY_NOT_AVAILABLE(systemEnumRegistry, 1, "System.enumRegistry(<regRequest>)", "System.enumRegistry")
KX4_REGISTRY_NOT_AVAILABLE(systemSetRegistry, 0, "System.setRegistry(<regRequest>)", "System.setRegistry")
KX4_REGISTRY_NOT_AVAILABLE(systemDelRegistry, 0, "System.delRegistry(<regRequest>)", "System.delRegistry")
KX4_NOT_AVAILABLE(systemControlService, 2, "System.controlService(<command>, <serviceConfig>)", "System.controlService")
KX4_NOT_AVAILABLE(systemCreateLink, 1, "System.createLink(<link>)", "System.createLink")
KX4_NOT_AVAILABLE(systemEnumProcesses, 0, "System.enumProcesses()", "System.enumProcesses")

}  // namespace kx4
