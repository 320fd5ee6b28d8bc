/* kx4test.exe: starts exactly like kx4.exe, then evaluates the script files
 * named on its command line in order (instead of the packaged application).
 * The exit code is the scripts' System.exit code, or 3 when a file cannot be
 * read or ends with an uncaught exception.
 *
 * No test may really log off, shut down, restart or hibernate the machine:
 * the runner disarms ExitWindowsEx and SetSystemPowerState in its own process
 * before any script runs. A call that gets through prints
 * "kx4test: blocked <function>(<flags>)" and fails with ERROR_ACCESS_DENIED.
 * With KX4TEST_UNBUFFERED set, standard output is unbuffered, so that what a
 * script printed survives a hang and a kill. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "engine/engine.h"
#include "startup.h"

static int g_failed = 0;

static BOOL WINAPI blockedExitWindowsEx(UINT flags, DWORD) {
    printf("kx4test: blocked ExitWindowsEx(0x%X)\n", flags);
    fflush(stdout);
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

static BOOL WINAPI blockedSetSystemPowerState(BOOL suspend, BOOL force) {
    printf("kx4test: blocked SetSystemPowerState(%d, %d)\n", suspend, force);
    fflush(stdout);
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

// Overwrites the entry of library!name with a jump to `to`, so that every
// caller lands there, however it found the function (import table or
// GetProcAddress). Returns false when the function is missing.
static bool divert(const wchar_t *library, const char *name, void *to) {
    HMODULE module = LoadLibraryW(library);
    unsigned char *entry = module ? reinterpret_cast<unsigned char *>(GetProcAddress(module, name)) : nullptr;
    if (!entry) return false;
#if defined(_WIN64)
    unsigned char jump[12] = {0x48, 0xB8};  // mov rax, imm64; jmp rax
    memcpy(jump + 2, &to, sizeof to);
    jump[10] = 0xFF;
    jump[11] = 0xE0;
#else
    unsigned char jump[5] = {0xE9};  // jmp rel32
    int32_t rel = static_cast<int32_t>(reinterpret_cast<intptr_t>(to) - reinterpret_cast<intptr_t>(entry + 5));
    memcpy(jump + 1, &rel, sizeof rel);
#endif
    DWORD old;
    if (!VirtualProtect(entry, sizeof jump, PAGE_EXECUTE_READWRITE, &old)) return false;
    memcpy(entry, jump, sizeof jump);
    VirtualProtect(entry, sizeof jump, old, &old);
    FlushInstructionCache(GetCurrentProcess(), entry, sizeof jump);
    return true;
}

static void disarmShutdown() {
    bool ok = divert(L"user32.dll", "ExitWindowsEx", reinterpret_cast<void *>(blockedExitWindowsEx));
    ok = divert(L"kernel32.dll", "SetSystemPowerState", reinterpret_cast<void *>(blockedSetSystemPowerState)) && ok;
    if (!ok) {
        // Better no test at all than one that might really shut down.
        printf("kx4test: cannot disarm the shutdown functions\n");
        fflush(stdout);
        ExitProcess(4);
    }
}

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
    disarmShutdown();
    if (_wgetenv(L"KX4TEST_UNBUFFERED")) setvbuf(stdout, nullptr, _IONBF, 0);
    int code = kx4::runHost(runScripts);
    return g_failed ? 3 : code;
}
