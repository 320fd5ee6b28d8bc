#include "startup.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#include <windows.h>

#include "engine.h"
#include "file/file_object.h"
#include "system/system_object.h"

namespace kx4 {

static const DWORD kPathUnits = 260;

// argv[0] becomes the executable's full path whatever the command line said,
// and relative paths start from the executable's folder.
static void placeProcess() {
    WCHAR path[kPathUnits];
    DWORD n = GetModuleFileNameW(nullptr, path, kPathUnits);
    if (n == 0 || n >= kPathUnits) return;
    WCHAR *copy = static_cast<WCHAR *>(calloc(kPathUnits, sizeof(WCHAR)));
    if (copy) {
        wcsncpy(copy, path, kPathUnits - 1);
        if (__argc > 0 && __wargv) __wargv[0] = copy;
    }
    WCHAR *slash = wcsrchr(path, L'\\');
    if (slash) {
        *slash = 0;
        _wchdir(path);
    }
}

static bool initEngine() {
    if (!engineCreate()) return false;
    JSContext *cx = mainContext();
    beginRequest(cx);
    bool ok = defineSystemObject(cx, hostApi()) && defineFileClass(cx, hostApi());
    endRequest(cx);
    return ok;
}

static void defineArgv(JSContext *cx, HostApi *api) {
    JSObject *array = api->newArray(cx, 0, nullptr);
    if (!array || !api->defineProperty(cx, api->getGlobalObject(cx), "argv", OBJECT_TO_JSVAL(array), nullptr,
                                       nullptr, 0))
        return;
    for (int i = 0; i < __argc; i++) {
        jsval arg = api->newString(cx, nullptr, __wargv[i]);
        if (arg == JSVAL_VOID) continue;  // leaves a hole
        char index[16];
        snprintf(index, sizeof index, "%d", i);
        api->defineProperty(cx, array, index, arg, nullptr, nullptr, JSPROP_ENUMERATE | JSPROP_READONLY);
    }
}

static void defineEnvp(JSContext *cx, HostApi *api) {
    if (!_wenviron) return;
    JSObject *envp = api->newObject(cx, nullptr);
    if (!envp || !api->defineProperty(cx, api->getGlobalObject(cx), "envp", OBJECT_TO_JSVAL(envp), nullptr,
                                      nullptr, 0))
        return;
    for (wchar_t **entry = _wenviron; *entry; entry++) {
        const wchar_t *equals = wcschr(*entry, L'=');
        if (!equals) continue;
        size_t length = static_cast<size_t>(equals - *entry);
        wchar_t *name = static_cast<wchar_t *>(malloc((length + 1) * sizeof(wchar_t)));
        if (!name) continue;
        // The initial locale upper-cases a to z and nothing else.
        for (size_t i = 0; i < length; i++) {
            wchar_t c = (*entry)[i];
            name[i] = (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c;
        }
        name[length] = 0;
        jsval value = api->newString(cx, nullptr, equals + 1);
        if (value != JSVAL_VOID) defineUCProperty(cx, envp, name, value, JSPROP_ENUMERATE | JSPROP_READONLY);
        free(name);
    }
}

int runHost(ApplicationRunner run) {
    placeProcess();
    if (!initEngine()) return 1;
    JSContext *cx = mainContext();
    HostApi *api = hostApi();
    beginRequest(cx);
    defineArgv(cx, api);
    defineEnvp(cx, api);
    run(cx);
    endRequest(cx);
    fflush(stdout);
    // Script threads that still run keep the heap: the process then ends
    // without freeing it under them.
    engineDestroy();
    return 0;
}

}  // namespace kx4
