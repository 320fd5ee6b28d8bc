/* kx4svcprobe.exe: looks at a service through the service control manager
 * on the tests' behalf, independently of the host's own service code.
 *
 *   kx4svcprobe config <name>       the stored configuration, one field a line
 *   kx4svcprobe interrogate <name>  sends the interrogate control, then the state
 *   kx4svcprobe state <name>        the current state, or "missing"
 *
 * Exit code 0, or 2 for a usage error. */
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

static void printUtf8(const char *label, const wchar_t *text) {
    char buf[4096];
    if (!text) text = L"";
    WideCharToMultiByte(CP_UTF8, 0, text, -1, buf, sizeof buf, nullptr, nullptr);
    printf("%s %s\n", label, buf);
}

// Queries the variable-size records into a heap buffer; null on failure.
template <typename Query>
static BYTE *queried(Query query) {
    DWORD needed = 0;
    query(nullptr, 0, &needed);
    if (!needed) return nullptr;
    BYTE *buf = static_cast<BYTE *>(calloc(1, needed));
    if (buf && !query(buf, needed, &needed)) {
        free(buf);
        return nullptr;
    }
    return buf;
}

static void printConfig(SC_HANDLE service) {
    BYTE *buf = queried([&](BYTE *b, DWORD size, DWORD *needed) {
        return QueryServiceConfigW(service, reinterpret_cast<QUERY_SERVICE_CONFIGW *>(b), size, needed);
    });
    if (!buf) {
        printf("config error %lu\n", GetLastError());
        return;
    }
    const QUERY_SERVICE_CONFIGW *c = reinterpret_cast<QUERY_SERVICE_CONFIGW *>(buf);
    printf("type 0x%lx\n", c->dwServiceType);
    printf("start %lu\n", c->dwStartType);
    printf("error %lu\n", c->dwErrorControl);
    printUtf8("binary", c->lpBinaryPathName);
    printUtf8("display", c->lpDisplayName);
    printUtf8("account", c->lpServiceStartName);
    free(buf);

    buf = queried([&](BYTE *b, DWORD size, DWORD *needed) {
        return QueryServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, b, size, needed);
    });
    printUtf8("description", buf ? reinterpret_cast<SERVICE_DESCRIPTIONW *>(buf)->lpDescription : nullptr);
    free(buf);

    buf = queried([&](BYTE *b, DWORD size, DWORD *needed) {
        return QueryServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, b, size, needed);
    });
    const SERVICE_FAILURE_ACTIONSW *f = reinterpret_cast<SERVICE_FAILURE_ACTIONSW *>(buf);
    if (!f || f->cActions == 0) {
        printf("failure none\n");
    } else {
        printf("failure reset=%lu", f->dwResetPeriod);
        for (DWORD i = 0; i < f->cActions; i++)
            printf(" %s/%lu", f->lpsaActions[i].Type == SC_ACTION_RESTART ? "restart" : "other",
                   f->lpsaActions[i].Delay);
        printf("\n");
    }
    free(buf);
}

int wmain(int argc, wchar_t **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: kx4svcprobe config|interrogate|state <name>\n");
        return 2;
    }
    const wchar_t *command = argv[1], *name = argv[2];
    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!scm) {
        printf("scm error %lu\n", GetLastError());
        return 0;
    }
    SC_HANDLE service = OpenServiceW(scm, name, SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_INTERROGATE);
    if (!service) {
        printf("missing\n");
        CloseServiceHandle(scm);
        return 0;
    }
    SERVICE_STATUS status;
    if (!wcscmp(command, L"config")) {
        printConfig(service);
    } else if (!wcscmp(command, L"interrogate")) {
        if (ControlService(service, SERVICE_CONTROL_INTERROGATE, &status))
            printf("interrogate ok\n");
        else
            printf("interrogate error %lu\n", GetLastError());
    } else if (wcscmp(command, L"state")) {
        fprintf(stderr, "kx4svcprobe: unknown command\n");
        return 2;
    }
    if (wcscmp(command, L"config")) {
        if (QueryServiceStatus(service, &status))
            printf("state %lu accepts 0x%lx\n", status.dwCurrentState, status.dwControlsAccepted);
        else
            printf("state error %lu\n", GetLastError());
    }
    CloseServiceHandle(service);
    CloseServiceHandle(scm);
    return 0;
}
