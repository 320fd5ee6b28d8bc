/* The serial exchange of the Serial benchmark in plain C, as the baseline:
 * a one-byte status query 'Q' and its 16-byte answer, n times.
 *
 *   kx4bench_serial_baseline.exe <port> <n> poll|block|idle
 *
 * poll   the kx4 algorithm without the engine: PurgeComm, WriteFile, then
 *        ClearCommError every millisecond (Sleep(1)) until 16 bytes wait,
 *        and ReadFile with the same timeouts as kx4com
 * block  what a C program would rather do: WriteFile, then one ReadFile
 *        that the driver completes when 16 bytes have arrived (total
 *        timeout 1 s, no interval timeout)
 * idle   n polls of an empty queue as a blocked read does them (1 ms
 *        sleeps), with the process's CPU time it took
 *
 * Prints one line per mode: median, mean, minimum and 90th percentile of the
 * exchange in microseconds, or wall and CPU time of the idle polling. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

static double ticksPerUs;

static double nowUs(void) {
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return (double)c.QuadPart / ticksPerUs;
}

static double cpuMs(void) {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    ULARGE_INTEGER k, u;
    k.LowPart = kernel.dwLowDateTime, k.HighPart = kernel.dwHighDateTime;
    u.LowPart = user.dwLowDateTime, u.HighPart = user.dwHighDateTime;
    return (double)(k.QuadPart + u.QuadPart) / 1e4;
}

static int byValue(const void *a, const void *b) {
    double x = *(const double *)a, y = *(const double *)b;
    return x < y ? -1 : x > y;
}

/* The port configured as kx4com configures it; `block` changes the read
 * timeouts only. */
static HANDLE openPort(const char *name, int block) {
    HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                           FILE_FLAG_WRITE_THROUGH, NULL);
    if (h == INVALID_HANDLE_VALUE) return h;
    COMMTIMEOUTS t;
    ZeroMemory(&t, sizeof t);
    GetCommTimeouts(h, &t);
    t.ReadIntervalTimeout = block ? 0 : MAXDWORD;
    t.ReadTotalTimeoutConstant = block ? 1000 : 1;
    SetCommTimeouts(h, &t);
    SetupComm(h, 1024, 1024);
    DCB dcb;
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    GetCommState(h, &dcb);
    dcb.BaudRate = 2400;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    SetCommState(h, &dcb);
    return h;
}

/* Polls like a blocked read: returns the bytes queued at the end. */
static DWORD pollFor(HANDLE h, DWORD count, int budget) {
    DWORD errors;
    COMSTAT status;
    ZeroMemory(&status, sizeof status);
    ClearCommError(h, &errors, &status);
    while (status.cbInQue < count && budget > 0) {
        Sleep(1);
        budget--;
        ClearCommError(h, &errors, &status);
    }
    return status.cbInQue;
}

static int exchange(HANDLE h, int block) {
    char answer[16];
    DWORD n = 0;
    if (!block) PurgeComm(h, PURGE_RXCLEAR);
    if (!WriteFile(h, "Q", 1, &n, NULL) || n != 1) return 0;
    if (!block && pollFor(h, 16, 16 * 15) < 16) return 0;
    n = 0;
    return ReadFile(h, answer, 16, &n, NULL) && n == 16 && (unsigned char)answer[0] == 0xFF;
}

int main(int argc, char **argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: %s <port> <n> poll|block|idle\n", argv[0]);
        return 2;
    }
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    ticksPerUs = (double)f.QuadPart / 1e6;
    const char *mode = argv[3];
    int n = atoi(argv[2]), block = !strcmp(mode, "block");
    HANDLE h = openPort(argv[1], block);
    if (h == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    if (!strcmp(mode, "idle")) {
        PurgeComm(h, PURGE_RXCLEAR);
        double c0 = cpuMs(), t0 = nowUs();
        pollFor(h, 1, n);
        double wall = (nowUs() - t0) / 1e3, cpu = cpuMs() - c0;
        printf("C, %d polls of an empty queue: %.0f ms wall, %.1f ms CPU (%.2f%% of a core), %.1f us CPU per poll\n",
               n, wall, cpu, 100 * cpu / wall, cpu * 1e3 / n);
        CloseHandle(h);
        return 0;
    }
    double *us = malloc(sizeof(double) * n);
    int failed = 0;
    exchange(h, block); /* warm-up */
    for (int i = 0; i < n; i++) {
        double t0 = nowUs();
        if (!exchange(h, block)) failed++;
        us[i] = nowUs() - t0;
    }
    qsort(us, n, sizeof *us, byValue);
    double sum = 0;
    for (int i = 0; i < n; i++) sum += us[i];
    printf("C %-5s %d exchanges: median %.0f us, mean %.0f us, min %.0f us, p90 %.0f us%s\n", mode, n, us[n / 2],
           sum / n, us[0], us[n * 9 / 10], failed ? " (some failed)" : "");
    CloseHandle(h);
    return failed != 0;
}
