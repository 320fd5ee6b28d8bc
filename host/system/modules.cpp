/* System.loadModule: a module is a DLL whose initModule gets the host table.
 * Problems are printed, not thrown: the result says whether it worked. */
#include <stdio.h>
#include <windows.h>

#include "system_object.h"

namespace kx4 {

static HostApi *const &api = systemApi;

JSBool systemLoadModule(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "System.loadModule(<path>)")) return JS_FALSE;
    // Both forms of the path are taken before anything is loaded: the
    // 8-bit one names the module in the messages.
    const jschar *path = api->valueToUCString(cx, argv[0]);
    const char *name = api->valueToString(cx, argv[0]);
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    HMODULE library;
    {
        // Loading runs the library's start-up code and may read it from a
        // slow disk or share: other script threads go on meanwhile.
        Kx4HeapReleased released(api, cx);
        library = LoadLibraryW(path);
    }
    *rval = JSVAL_TRUE;
    if (library) {
        InitModuleFn init = reinterpret_cast<InitModuleFn>(reinterpret_cast<void *>(GetProcAddress(library, "initModule")));
        if (init) {
            init(cx, api);
            return JS_TRUE;
        }
    } else {
        printf("Unable to load module '%s'\n", name);
    }
    // Also after a failed load: such a library prints both lines.
    printf("Unable to init module '%s'\n", name);
    fflush(stdout);
    *rval = JSVAL_FALSE;
    return JS_TRUE;
}

}  // namespace kx4
