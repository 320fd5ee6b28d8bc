/* The crash guard around every evaluation: an access violation while a
 * script runs (in the engine or in a native it called) writes the crash log
 * "core_dump_<stamp>.log" naming the innermost script file and line, and
 * ends the process with exit code 1. */
#ifndef KX4_CRASH_GUARD_H
#define KX4_CRASH_GUARD_H

#include "kx4.h"

namespace kx4 {

// One guarded evaluation; guards nest (the innermost handles the fault).
struct CrashGuard {
    JSContext *cx;
    const char *source;  // the text being evaluated, written to the log
    bool writeLog;       // false: end the process without a log
    CrashGuard *outer;
};

// Installs the process's fault filter (once).
void installCrashGuard();
void enterCrashGuard(CrashGuard *guard, JSContext *cx, const char *source, bool writeLog = true);
void leaveCrashGuard(CrashGuard *guard);

// The crash log can be switched off (a stopped service); it starts on.
void setCoreDumpEnabled(bool enabled);
bool coreDumpEnabled();

}  // namespace kx4

#endif
