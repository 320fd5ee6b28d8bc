/* Start-up benchmark: runs each command line many times, interleaved, from
 * this one process (so wine's own start-up is paid once, not per run), and
 * prints the median wall time and the peak memory of each, then the first
 * command against each of the others.
 *
 *   kx4bench_launch <runs> <name> <command line> [<name> <command line>]...
 *
 * Timed runs only start the child and wait for it. Memory is taken in
 * separate runs, at the child's exit: under wine, GetProcessMemoryInfo reads
 * the live process's /proc/<pid>/status and answers zeros once the child has
 * gone, and polling misses the last milliseconds, where a short program
 * does most of its work. PeakWorkingSetSize is then the kernel's peak
 * resident size; wine reports the private (anonymous) memory of that moment
 * as PeakPagefileUsage. */
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>
#include <windows.h>
#include <psapi.h>

enum { kMaxCommands = 8, kMemoryRuns = 5 };

typedef struct {
    const wchar_t *name, *line;
    double *ms;                                 /* one per timed run */
    double workingSet[kMemoryRuns], privateBytes[kMemoryRuns];
    DWORD exitCode;
} Command;

static double g_ticksPerMs;

static double nowMs(void) {
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return (double)c.QuadPart / g_ticksPerMs;
}

static HANDLE start(const Command *c, DWORD flags) {
    STARTUPINFOW si = {sizeof si};
    PROCESS_INFORMATION pi;
    wchar_t *line = _wcsdup(c->line); /* CreateProcessW may write to it */
    BOOL ok = CreateProcessW(NULL, line, NULL, NULL, FALSE, flags, NULL, NULL, &si, &pi);
    free(line);
    if (!ok) {
        fwprintf(stderr, L"cannot start %ls (error %lu)\n", c->line, GetLastError());
        exit(2);
    }
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

static void finish(Command *c, HANDLE process) {
    GetExitCodeProcess(process, &c->exitCode);
    CloseHandle(process);
}

static double timedRun(Command *c) {
    double t0 = nowMs();
    HANDLE process = start(c, 0);
    WaitForSingleObject(process, INFINITE);
    double ms = nowMs() - t0;
    finish(c, process);
    return ms;
}

static void setInstructionPointer(DWORD threadId, BYTE *address) {
    HANDLE thread = OpenThread(THREAD_GET_CONTEXT | THREAD_SET_CONTEXT, FALSE, threadId);
    CONTEXT context = {.ContextFlags = CONTEXT_CONTROL};
    GetThreadContext(thread, &context);
#ifdef _WIN64
    context.Rip = (DWORD64)address;
#else
    context.Eip = (DWORD)address;
#endif
    SetThreadContext(thread, &context);
    CloseHandle(thread);
}

/* Runs the child under the debugging API with a breakpoint where every
 * process exit passes (ntdll sits at the same address in every process),
 * and reads the counters there, while the process is still whole. */
static void memoryRun(Command *c, int run) {
    const double MiB = 1024.0 * 1024.0;
    BYTE *exitCall = (BYTE *)GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlExitUserProcess");
    BYTE original = 0, breakpoint = 0xCC;
    PROCESS_MEMORY_COUNTERS m = {sizeof m};
    HANDLE process = start(c, DEBUG_ONLY_THIS_PROCESS);
    for (;;) {
        DEBUG_EVENT e;
        DWORD status = DBG_CONTINUE;
        WaitForDebugEvent(&e, INFINITE);
        if (e.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT) {
            CloseHandle(e.u.CreateProcessInfo.hFile);
            if (ReadProcessMemory(process, exitCall, &original, 1, NULL))
                WriteProcessMemory(process, exitCall, &breakpoint, 1, NULL);
        } else if (e.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT) {
            CloseHandle(e.u.LoadDll.hFile);
        } else if (e.dwDebugEventCode == EXCEPTION_DEBUG_EVENT) {
            EXCEPTION_RECORD *x = &e.u.Exception.ExceptionRecord;
            if (x->ExceptionAddress == exitCall) {
                GetProcessMemoryInfo(process, &m, sizeof m);
                WriteProcessMemory(process, exitCall, &original, 1, NULL);
                setInstructionPointer(e.dwThreadId, exitCall);
            } else if (x->ExceptionCode != EXCEPTION_BREAKPOINT) {
                status = DBG_EXCEPTION_NOT_HANDLED;
            }
        }
        ContinueDebugEvent(e.dwProcessId, e.dwThreadId, status);
        if (e.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) break;
    }
    finish(c, process);
    c->workingSet[run] = m.PeakWorkingSetSize / MiB;
    c->privateBytes[run] = m.PeakPagefileUsage / MiB;
}

static int byValue(const void *a, const void *b) {
    double x = *(const double *)a, y = *(const double *)b;
    return (x > y) - (x < y);
}

static double median(double *values, int n) {
    qsort(values, n, sizeof *values, byValue);
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

int wmain(int argc, wchar_t **argv) {
    int runs = argc > 1 ? _wtoi(argv[1]) : 0;
    int count = (argc - 2) / 2;
    if (runs < 1 || count < 1 || count > kMaxCommands || argc % 2) {
        fwprintf(stderr, L"usage: kx4bench_launch <runs> <name> <command line> [<name> <command line>]...\n");
        return 2;
    }
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    g_ticksPerMs = f.QuadPart / 1000.0;

    Command commands[kMaxCommands] = {0};
    for (int i = 0; i < count; i++) {
        commands[i].name = argv[2 + 2 * i];
        commands[i].line = argv[3 + 2 * i];
        commands[i].ms = calloc(runs, sizeof(double));
    }
    for (int i = 0; i < count; i++) timedRun(&commands[i]); /* warm-up: caches, first loads */
    for (int r = 0; r < runs; r++)
        for (int i = 0; i < count; i++) commands[i].ms[r] = timedRun(&commands[i]);
    for (int r = 0; r < kMemoryRuns; r++)
        for (int i = 0; i < count; i++) memoryRun(&commands[i], r);

    double ms[kMaxCommands], best[kMaxCommands], ws[kMaxCommands], priv[kMaxCommands];
    wprintf(L"%d timed runs and %d memory runs of each, interleaved\n", runs, kMemoryRuns);
    wprintf(L"  %-10ls %14ls %10ls %14ls %12ls\n", L"program", L"median ms", L"min ms", L"peak WS MiB",
            L"private MiB");
    for (int i = 0; i < count; i++) {
        Command *c = &commands[i];
        ms[i] = median(c->ms, runs);
        best[i] = c->ms[0]; /* sorted by median() */
        ws[i] = median(c->workingSet, kMemoryRuns);
        priv[i] = median(c->privateBytes, kMemoryRuns);
        wprintf(L"  %-10ls %14.1f %10.1f %14.1f %12.1f", c->name, ms[i], best[i], ws[i], priv[i]);
        if (c->exitCode) wprintf(L"   (exit code %lu)", c->exitCode);
        wprintf(L"\n");
    }
    for (int i = 1; i < count; i++)
        wprintf(L"  %ls/%ls: time x%.2f (min x%.2f), peak working set %+.1f MiB, private %+.1f MiB\n",
                commands[0].name, commands[i].name, ms[0] / ms[i], best[0] / best[i], ws[0] - ws[i],
                priv[0] - priv[i]);
    return 0;
}
