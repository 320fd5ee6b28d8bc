/* kx4test.exe: starts exactly like kx4.exe, then evaluates the script files
 * named on its command line in order (instead of the packaged application).
 * The exit code is the scripts' System.exit code, or 3 when a file cannot be
 * read or ends with an uncaught exception. */
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

#include "engine.h"
#include "startup.h"

static int g_failed = 0;

static char *readWholeFile(const wchar_t *path) {
    FILE *f = _wfopen(path, L"rb");
    if (!f) return nullptr;
    fseek(f, 0, SEEK_END);
    long size = ftell(f);
    fseek(f, 0, SEEK_SET);
    char *text = static_cast<char *>(malloc(size > 0 ? size + 1 : 1));
    size_t got = text ? fread(text, 1, size > 0 ? size : 0, f) : 0;
    fclose(f);
    if (text) text[got] = 0;
    return text;
}

static void runScripts(JSContext *cx) {
    HostApi *api = kx4::hostApi();
    for (int i = 1; i < __argc; i++) {
        char name[MAX_PATH * 3];
        WideCharToMultiByte(CP_UTF8, 0, __wargv[i], -1, name, sizeof name, nullptr, nullptr);
        char *source = readWholeFile(__wargv[i]);
        if (!source) {
            printf("kx4test: cannot read '%s'\n", name);
            g_failed = 1;
            return;
        }
        jsval ignored;
        JSBool ok = api->evaluateScript(cx, name, source, &ignored);
        free(source);
        if (!ok) {
            g_failed = 1;
            return;
        }
    }
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    int code = kx4::runHost(runScripts);
    return g_failed ? 3 : code;
}
