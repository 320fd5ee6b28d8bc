/* System.controlService: installing, starting, stopping and removing a
 * Windows service from outside, and, inside a process the service control
 * manager (SCM) started, connecting to it and reporting the service's state.
 *
 * Control events reach the application as System.control('CONTROL_START')
 * (from the service main, on the thread the SCM makes for it) and
 * System.control('CONTROL_STOP') (from the control handler, on a thread of
 * the SCM's dispatcher). */
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "crash_guard.h"
#include "system_object.h"

namespace kx4 {

static HostApi *const &api = systemApi;

namespace {

const char kUsage[] = "System.controlService(<command>, <serviceConfig>)";

const DWORD kPollMs = 200;
// How long SERVICE_STOP waits for the stopped state (counted in polls), and
// SERVICE_START for the running one.
const int kWaitBudgetMs = 30000;

// One process serves one service: the status record and the handle the SCM
// gave at registration live as long as the process. The control handler
// (dispatcher) and CONTROL_START/CONTROL_STOP (script) run on different
// threads and all change them, so changes and reports go under the lock.
SRWLOCK g_statusLock = SRWLOCK_INIT;
SERVICE_STATUS g_status;  // dwCurrentState 0: not registered yet
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;

// The dispatcher keeps the table's name while it runs.
wchar_t g_dispatchName[257];

// Sets the state and reports it. Nothing moves a service back from stopped:
// a control that races with the final report must not revive it.
void reportState(DWORD state, DWORD controlsAccepted) {
    AcquireSRWLockExclusive(&g_statusLock);
    if (g_statusHandle && g_status.dwCurrentState != SERVICE_STOPPED) {
        g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
        g_status.dwCurrentState = state;
        g_status.dwControlsAccepted = controlsAccepted;
        g_status.dwWin32ExitCode = 0;
        g_status.dwServiceSpecificExitCode = 0;
        g_status.dwCheckPoint = 0;
        g_status.dwWaitHint = 0;
        SetServiceStatus(g_statusHandle, &g_status);
    }
    ReleaseSRWLockExclusive(&g_statusLock);
}

const DWORD kAcceptWhileRunning = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;

// The service main and the control handler run on threads that have no
// script context of their own (or, on the start-up thread, one suspended
// inside CONTROL_REGISTER), while the service main's script may still be
// running when the handler is called. Each evaluation therefore gets a
// context of its own on the shared global object (callSystemControl).
void WINAPI serviceMain(DWORD, LPWSTR *) {
    // In the application this evaluation runs the whole service life.
    callSystemControl("CONTROL_START", kControlStatement);
}

void WINAPI controlHandler(DWORD code) {
    bool stop = code == SERVICE_CONTROL_STOP;
    // Interrogate, shutdown and anything else only report running again.
    reportState(stop ? SERVICE_STOP_PENDING : SERVICE_RUNNING, kAcceptWhileRunning);
    if (stop) callSystemControl("CONTROL_STOP", kControlStatement);
}

// ---- Inside the service process ----------------------------------------------

void controlRegister(JSContext *cx, const jschar *name) {
    lstrcpynW(g_dispatchName, name, sizeof g_dispatchName / sizeof g_dispatchName[0]);
    SERVICE_TABLE_ENTRYW table[] = {{g_dispatchName, serviceMain}, {nullptr, nullptr}};
    Kx4HeapReleased released(api, cx);
    // Returns at once when the SCM did not start this process; otherwise
    // once the service has reported itself stopped.
    StartServiceCtrlDispatcherW(table);
}

void controlStart(JSContext *cx, const jschar *name) {
    Kx4HeapReleased released(api, cx);
    SERVICE_STATUS_HANDLE handle = RegisterServiceCtrlHandlerW(name, controlHandler);
    if (handle) {
        AcquireSRWLockExclusive(&g_statusLock);
        g_statusHandle = handle;
        ReleaseSRWLockExclusive(&g_statusLock);
        // No start-pending phase: the service reports running at once.
        reportState(SERVICE_RUNNING, kAcceptWhileRunning);
    }
}

void controlStop(JSContext *cx) {
    Kx4HeapReleased released(api, cx);
    // A stopped service ends quietly: no crash log from here on. Only a
    // service that registered stops: elsewhere (a script calling
    // CONTROL_STOP by mistake, a console program) crash logs stay on.
    // Switched off before the report: once stopped is reported the
    // dispatcher returns and the start-up thread runs on at once, while
    // this thread may still wait to take the heap back.
    AcquireSRWLockExclusive(&g_statusLock);
    if (g_statusHandle) setCoreDumpEnabled(false);
    ReleaseSRWLockExclusive(&g_statusLock);
    reportState(SERVICE_STOPPED, 0);
}

// ---- From outside: the SCM's service database --------------------------------

struct InstallConfig {
    const jschar *name;
    const jschar *commandLine;  // null: nothing is installed
    const jschar *displayName;
    const jschar *description;
    DWORD serviceType;
    DWORD startType;
    int32_t restartDelay;  // negative: no failure action
};

bool installService(SC_HANDLE scm, const InstallConfig &c) {
    // An empty display name is left to the SCM: the service name for a new
    // service, the old name for an existing one. (Passed on as an empty
    // text, some SCMs store it, and then no second service without a
    // display name can be installed: display names must be unique.)
    const jschar *displayName = c.displayName[0] ? c.displayName : nullptr;
    SC_HANDLE service = OpenServiceW(scm, c.name, SERVICE_ALL_ACCESS);
    if (!service) {
        service = CreateServiceW(scm, c.name, displayName, SERVICE_ALL_ACCESS, c.serviceType, c.startType,
                                 SERVICE_ERROR_NORMAL, c.commandLine, nullptr, nullptr, nullptr, nullptr, nullptr);
    } else if (!ChangeServiceConfigW(service, c.serviceType, c.startType, SERVICE_ERROR_NORMAL, c.commandLine,
                                     nullptr, nullptr, nullptr, nullptr, nullptr, displayName)) {
        CloseServiceHandle(service);
        service = nullptr;
    }
    CloseServiceHandle(scm);
    if (!service) return false;

    SERVICE_DESCRIPTIONW description;
    description.lpDescription = const_cast<LPWSTR>(c.description);
    ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &description);
    if (c.restartDelay >= 0) {
        SC_ACTION restart;
        restart.Type = SC_ACTION_RESTART;
        restart.Delay = static_cast<DWORD>(c.restartDelay);
        SERVICE_FAILURE_ACTIONSW actions;
        actions.dwResetPeriod = 86400;
        actions.lpRebootMsg = nullptr;
        actions.lpCommand = nullptr;
        actions.cActions = 1;
        actions.lpsaActions = &restart;
        ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &actions);
    }
    CloseServiceHandle(service);
    return true;
}

bool uninstallService(SC_HANDLE scm, const jschar *name) {
    bool ok = false;
    SC_HANDLE service = OpenServiceW(scm, name, DELETE);
    if (service) {
        ok = DeleteService(service) != 0;
        CloseServiceHandle(service);
    }
    CloseServiceHandle(scm);
    return ok;
}

// The SCM starts one service at a time and refuses a start meanwhile.
bool requestStart(SC_HANDLE service) {
    return StartServiceW(service, 0, nullptr) || GetLastError() != ERROR_SERVICE_DATABASE_LOCKED;
}

// True once the service reports running. Any other refusal of the start
// (already running, disabled, ...) is left to the state polls. The wait also
// ends, with false, when a status query fails, when the service reports
// stopped or stopping (it failed or ended while starting, or the start was
// refused because it is still stopping or cannot start: it will not run
// without another start), or when it has not got there within the budget
// (stuck starting).
bool startService(SC_HANDLE scm, const jschar *name) {
    bool ok = false;
    SC_HANDLE service = OpenServiceW(scm, name, SERVICE_START | SERVICE_QUERY_STATUS);
    if (service) {
        bool requested = requestStart(service);
        ok = true;
        // Real time, not polls: a repeated request may itself take a while.
        DWORD begin = GetTickCount();
        for (;;) {
            SERVICE_STATUS status;
            if (!QueryServiceStatus(service, &status)) ok = false;
            Sleep(kPollMs);
            if (!ok || status.dwCurrentState == SERVICE_RUNNING) break;
            if (GetTickCount() - begin >= static_cast<DWORD>(kWaitBudgetMs)) {
                ok = false;
                break;
            }
            if (!requested) {
                // The SCM was busy starting another service: ask again.
                requested = requestStart(service);
                continue;
            }
            if (status.dwCurrentState == SERVICE_STOPPED || status.dwCurrentState == SERVICE_STOP_PENDING) {
                ok = false;
                break;
            }
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(scm);
    return ok;
}

// True when the service stopped within the budget, or does not exist (or
// cannot be opened): nothing to stop.
bool stopService(SC_HANDLE scm, const jschar *name) {
    bool ok = true;
    SC_HANDLE service = OpenServiceW(scm, name, SERVICE_STOP | SERVICE_QUERY_STATUS);
    if (service) {
        SERVICE_STATUS status;
        ControlService(service, SERVICE_CONTROL_STOP, &status);  // a refusal is ignored
        int budget = kWaitBudgetMs;
        do {
            if (!QueryServiceStatus(service, &status)) ok = false;
            Sleep(kPollMs);
            budget -= kPollMs;
        } while (ok && status.dwCurrentState != SERVICE_STOPPED && budget > 0);
        if (budget <= 0) ok = false;
        CloseServiceHandle(service);
    }
    CloseServiceHandle(scm);
    return ok;
}

enum class Command { none, controlRegister, controlStart, controlStop, install, uninstall, start, stop };

Command commandOf(const char *text) {
    static const struct {
        const char *name;
        Command command;
    } kCommands[] = {
        {"CONTROL_REGISTER", Command::controlRegister},
        {"CONTROL_START", Command::controlStart},
        {"CONTROL_STOP", Command::controlStop},
        {"SERVICE_INSTALL", Command::install},
        {"SERVICE_UNINSTALL", Command::uninstall},
        {"SERVICE_START", Command::start},
        {"SERVICE_STOP", Command::stop},
    };
    for (const auto &c : kCommands)
        if (strcmp(text, c.name) == 0) return c.command;
    return Command::none;
}

}  // namespace

JSBool systemControlService(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 2, kUsage)) return JS_FALSE;
    JSObject *config = kx4ArgOptionRecord(api, cx, argc, argv, 1, "System", "serviceConfig", kUsage);
    if (!config) return JS_FALSE;
    // An unknown command reads nothing more; a command whose conversion
    // threw is unknown too, and its error goes to the caller.
    Command command = commandOf(api->valueToString(cx, argv[0]));
    if (command == Command::none) return kx4ErrorPending(api, cx) ? JS_FALSE : JS_TRUE;

    // Every field first, so that nothing is done with a field whose getter
    // or conversion threw. Wide texts live in the call's scratch memory
    // until it returns, so they stay valid while the heap is released.
    static const jschar kEmpty[] = {0};
    const jschar *name = api->getPropertyUCString(cx, config, "serviceName", kEmpty);
    InstallConfig install = {};
    if (command == Command::install) {
        install.name = name;
        install.commandLine = api->getPropertyUCString(cx, config, "commandLine", nullptr);
        // Without a command line nothing is installed and nothing more read.
        if (install.commandLine) {
            install.displayName = api->getPropertyUCString(cx, config, "displayName", kEmpty);
            int32_t interactive = kx4FieldInt32(api, cx, config, "interactive", 0);
            install.serviceType = SERVICE_WIN32_OWN_PROCESS | (static_cast<DWORD>(interactive) << 8);
            install.startType = kx4FieldInt32(api, cx, config, "manualStart", 0) ? SERVICE_DEMAND_START
                                                                                  : SERVICE_AUTO_START;
            install.description = api->getPropertyUCString(cx, config, "description", kEmpty);
            install.restartDelay = kx4FieldInt32(api, cx, config, "onErrorRestartDelay", -1);
        }
    }
    if (kx4ErrorPending(api, cx)) return JS_FALSE;

    switch (command) {
    case Command::controlRegister:
        controlRegister(cx, name);
        return JS_TRUE;
    case Command::controlStart:
        controlStart(cx, name);
        return JS_TRUE;
    case Command::controlStop:
        controlStop(cx);
        return JS_TRUE;
    default:
        break;
    }

    // The SCM first, as the classic host did: a process without the right
    // to open it learns so even for an install without a command line.
    bool opened, ok = false;
    {
        Kx4HeapReleased released(api, cx);
        SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        opened = scm != nullptr;
        if (opened && command == Command::install && !install.commandLine) {
            CloseServiceHandle(scm);
        } else if (opened) {
            switch (command) {
            case Command::install:
                ok = installService(scm, install);
                break;
            case Command::uninstall:
                ok = uninstallService(scm, name);
                break;
            case Command::start:
                ok = startService(scm, name);
                break;
            default:
                ok = stopService(scm, name);
                break;
            }
        }
    }
    if (!opened) {
        api->reportError(cx, "Unable to open Service Control Manager");
        return JS_FALSE;
    }
    if (command == Command::install && !install.commandLine) return JS_TRUE;  // nothing to install: undefined
    *rval = BOOLEAN_TO_JSVAL(ok);
    return JS_TRUE;
}

}  // namespace kx4
