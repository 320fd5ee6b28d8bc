/* System.loadModule: a module is a DLL whose initModule gets the host table.
 * Problems are printed, not thrown: the result says whether it worked. */
#include <stdio.h>
#include <windows.h>

#include "system_object.h"

namespace kx4 {

static HostApi *const &api = systemApi;

JSBool systemLoadModule(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "System.loadModule(<path>)")) return JS_FALSE;
    *rval = JSVAL_TRUE;
    HMODULE library = LoadLibraryW(api->valueToUCString(cx, argv[0]));
    if (library) {
        InitModuleFn init = reinterpret_cast<InitModuleFn>(reinterpret_cast<void *>(GetProcAddress(library, "initModule")));
        if (init) {
            init(cx, api);
            return JS_TRUE;
        }
    } else {
        printf("Unable to load module '%s'\n", api->valueToString(cx, argv[0]));
    }
    // Also after a failed load: such a library prints both lines.
    printf("Unable to init module '%s'\n", api->valueToString(cx, argv[0]));
    fflush(stdout);
    *rval = JSVAL_FALSE;
    return JS_TRUE;
}

}  // namespace kx4
