#include "crash_guard.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <windows.h>

#include <atomic>
#include <string>

#include "byte_text.h"
#include "duktape_internals.h"
#include "engine.h"

namespace kx4 {

namespace {

thread_local CrashGuard *t_guard = nullptr;
std::atomic<bool> g_coreDumpEnabled{true};

// The file name as the engine stores it, back to 8-bit text.
std::string narrowName(const char *file, size_t length) {
    const uint8_t *text = reinterpret_cast<const uint8_t *>(file);
    std::string out(internalUnitCount(text, length), '\0');
    narrowInternal(text, length, reinterpret_cast<uint8_t *>(&out[0]), out.size());
    return out;
}

void writeCrashLog(const CrashGuard *guard, DWORD code) {
    const char *file = nullptr;
    size_t fileLength = 0;
    long line = 0;
    if (!kx4_duk_innermost_script_place(guard->cx->duk, &file, &fileLength, &line)) return;
    std::string scriptFile = narrowName(file, fileLength);
    char stamp[32];
    time_t now = time(nullptr);
    strftime(stamp, sizeof stamp, "%Y%m%d_%H%M%S", localtime(&now));
    char name[260];
    snprintf(name, sizeof name, "core_dump_%s.log", stamp);
    FILE *log = fopen(name, "w");
    if (!log) return;
    fprintf(log, "Core exception (0x%08X) in '%s' from '%s' -> %ld\n", static_cast<unsigned>(code), guard->source,
            scriptFile.c_str(), line);
    // An address inside this writer's own stack frame.
    fprintf(log, "from (0x%08X)", static_cast<unsigned>(reinterpret_cast<uintptr_t>(&log)));
    fclose(log);
}

// Runs on the faulting thread before anything unwinds, so the engine's
// frames still describe where the script was.
LONG WINAPI crashFilter(EXCEPTION_POINTERS *info) {
    DWORD code = info->ExceptionRecord->ExceptionCode;
    CrashGuard *guard = t_guard;
    if (code != EXCEPTION_ACCESS_VIOLATION || !guard) return EXCEPTION_CONTINUE_SEARCH;
    t_guard = nullptr;  // a fault while writing the log must not recurse
    if (guard->writeLog && g_coreDumpEnabled.load()) writeCrashLog(guard, code);
    fflush(stdout);
    exit(1);
}

}  // namespace

void installCrashGuard() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    SetUnhandledExceptionFilter(crashFilter);
}

void enterCrashGuard(CrashGuard *guard, JSContext *cx, const char *source, bool writeLog) {
    guard->cx = cx;
    guard->source = source;
    guard->writeLog = writeLog;
    guard->outer = t_guard;
    t_guard = guard;
}

void leaveCrashGuard(CrashGuard *guard) { t_guard = guard->outer; }

void setCoreDumpEnabled(bool enabled) { g_coreDumpEnabled.store(enabled); }
bool coreDumpEnabled() { return g_coreDumpEnabled.load(); }

}  // namespace kx4
