/* The baseline of the process benchmark (process_calls.js): the Win32 work
 * of System.exec with wait and of System.enumProcesses, done by a plain C
 * program n times in a row after one untimed call, timed with
 * QueryPerformanceCounter. The total in ms goes to <out file>, for the
 * script that runs this program (exit code 0; 2 for a usage error, 3 when a
 * call failed).
 *
 *   kx4bench_process_baseline exec <n> <program> <out file>
 *   kx4bench_process_baseline enum <n> - <out file>
 *
 * exec: start <program> as exec does (null-DACL process object, hidden
 * window) and wait for it to end. enum: list the process ids, enable the
 * debug privilege, and open each process for its first module's base name,
 * as enumProcesses does, without making any script object (and without
 * opening itself). */
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>
#include <windows.h>
#include <psapi.h>
#include <shellapi.h>

static double nowMs(void) {
    LARGE_INTEGER c, f;
    QueryPerformanceCounter(&c);
    QueryPerformanceFrequency(&f);
    return (double)c.QuadPart * 1000.0 / (double)f.QuadPart;
}

static int execWait(const wchar_t *program) {
    SECURITY_DESCRIPTOR sd;
    if (!InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) || !SetSecurityDescriptorDacl(&sd, TRUE, NULL, FALSE))
        return 0;
    SECURITY_ATTRIBUTES sa = {sizeof sa, &sd, FALSE};
    STARTUPINFOW si = {sizeof si};
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION pi;
    wchar_t *line = _wcsdup(program);
    BOOL ok = CreateProcessW(NULL, line, &sa, NULL, FALSE, 0, NULL, NULL, &si, &pi);
    free(line);
    if (!ok) return 0;
    WaitForSingleObject(pi.hProcess, INFINITE);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return 1;
}

static int enableDebugPrivilege(void) {
    HANDLE token;
    TOKEN_PRIVILEGES tp = {1};
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return 0;
    tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    int ok = LookupPrivilegeValueW(NULL, SE_DEBUG_NAME, &tp.Privileges[0].Luid);
    if (ok) {
        SetLastError(ERROR_SUCCESS);
        ok = AdjustTokenPrivileges(token, FALSE, &tp, 0, NULL, NULL) && GetLastError() == ERROR_SUCCESS;
    }
    CloseHandle(token);
    return ok;
}

/* Returns the number of processes named, or -1. */
static int enumerate(void) {
    DWORD capacity = 1024, bytes = 0, *ids;
    for (;;) {
        ids = malloc(capacity * sizeof(DWORD));
        if (!ids || !EnumProcesses(ids, capacity * sizeof(DWORD), &bytes)) return -1;
        if (bytes < capacity * sizeof(DWORD)) break;
        free(ids);
        capacity *= 2;
    }
    if (!enableDebugPrivilege()) return -1;
    int named = 0;
    for (DWORD i = 0; i < bytes / sizeof(DWORD); i++) {
        /* Itself: kx4 waits for this program meanwhile, so without it both
         * sides open the same processes. */
        if (!ids[i] || ids[i] == GetCurrentProcessId()) continue;
        HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ids[i]);
        if (!process) continue;
        wchar_t name[MAX_PATH] = L"";
        HMODULE first;
        DWORD needed;
        if (EnumProcessModules(process, &first, sizeof first, &needed) && GetModuleBaseNameW(process, first, name, MAX_PATH))
            named++;
        CloseHandle(process);
    }
    free(ids);
    return named;
}

/* A GUI program, as kx4 is: a console program would bring a console host
 * process along, one more process to list. */
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int show) {
    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    int n = argv && argc == 5 ? _wtoi(argv[2]) : 0;
    if (n < 1 || (wcscmp(argv[1], L"exec") && wcscmp(argv[1], L"enum"))) return 2;
    int exec = !wcscmp(argv[1], L"exec");
    /* One untimed call first: kx4 is warm when it is timed, this program
     * has just started. */
    if (exec ? !execWait(argv[3]) : enumerate() < 0) return 3;
    double t0 = nowMs();
    for (int i = 0; i < n; i++)
        if (exec ? !execWait(argv[3]) : enumerate() < 0) return 3;
    double ms = nowMs() - t0;
    FILE *out = _wfopen(argv[4], L"w");
    if (!out) return 3;
    fprintf(out, "%.3f\n", ms);
    return fclose(out) ? 3 : 0;
}
