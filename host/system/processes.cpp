/* Processes and the machine: exec, open, enumProcesses, shutdown,
 * getAdminRights and createLink. Each native converts all its arguments
 * first, acts only when none of the conversions threw, and makes the
 * operating-system calls with the heap released; text goes to Windows as
 * UTF-16. */
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#include <windows.h>
#include <objbase.h>
#include <objidl.h>
#include <psapi.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "shutdown_decision.h"
#include "on_demand.h"
#include "system_object.h"

namespace kx4 {

static HostApi *const &api = systemApi;

static_assert(kExitLogOff == EWX_LOGOFF && kExitShutdown == EWX_SHUTDOWN && kExitReboot == EWX_REBOOT &&
                  kExitForce == EWX_FORCE && kExitPowerOff == EWX_POWEROFF,
              "shutdown flags match ExitWindowsEx");
static_assert(sizeof(jschar) == sizeof(WCHAR), "script text is Windows text");

// An optional argument that names something (a folder, parameters): null
// counts as absent, as undefined does, so that exec(cmd, null, true) means
// "no folder" instead of a folder named "null".
static const WCHAR *optionalText(JSContext *cx, uintN argc, jsval *argv, uintN i) {
    if (!kx4HasArg(argc, argv, i) || argv[i] == JSVAL_NULL) return nullptr;
    return api->valueToUCString(cx, argv[i]);
}

// Enables or disables one privilege on the process token. Windows reports
// a privilege the account lacks only through the last error, after a call
// that "succeeded".
static bool setPrivilege(const WCHAR *name, bool enable) {
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return false;
    TOKEN_PRIVILEGES tp;
    tp.PrivilegeCount = 1;
    tp.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
    bool ok = LookupPrivilegeValueW(nullptr, name, &tp.Privileges[0].Luid);
    if (ok) {
        SetLastError(ERROR_SUCCESS);
        ok = AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr) && GetLastError() == ERROR_SUCCESS;
    }
    CloseHandle(token);
    return ok;
}

// ---- exec ------------------------------------------------------------------------

// Starts the command hidden, waiting for it to end when asked. No engine
// call in here.
static bool startProcess(const WCHAR *command, const WCHAR *directory, bool wait) {
    bool started = false;
    // CreateProcessW may write into the command line.
    WCHAR *line = _wcsdup(command);
    SECURITY_DESCRIPTOR sd;
    // A null DACL: anyone may open the new process (a service's child can
    // then be watched and stopped by the user's programs).
    if (line && InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) &&
        SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE)) {
        SECURITY_ATTRIBUTES sa = {sizeof sa, &sd, FALSE};
        STARTUPINFOW si;
        ZeroMemory(&si, sizeof si);
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESHOWWINDOW;
        si.wShowWindow = SW_HIDE;
        PROCESS_INFORMATION pi;
        started = CreateProcessW(nullptr, line, &sa, nullptr, FALSE, 0, nullptr, directory, &si, &pi);
        if (started) {
            if (wait) WaitForSingleObject(pi.hProcess, INFINITE);
            CloseHandle(pi.hThread);
            CloseHandle(pi.hProcess);
        }
    }
    free(line);
    return started;
}

JSBool systemExec(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "System.exec(<command>, [directory], [wait], [silent], [useExecV])"))
        return JS_FALSE;
    const WCHAR *command = api->valueToUCString(cx, argv[0]);
    const WCHAR *directory = optionalText(cx, argc, argv, 1);
    // Truncated toward zero, without wrapping: any magnitude of 1 or more waits.
    bool wait = false;
    if (kx4HasArg(argc, argv, 2)) {
        double d = api->valueToNumber(cx, argv[2]);
        wait = d >= 1 || d <= -1;
    }
    // Read for their conversions only: the window is always hidden and the
    // command is always one command line.
    for (uintN i = 3; i < 5; i++)
        if (kx4HasArg(argc, argv, i)) api->valueToNumber(cx, argv[i]);
    if (kx4ErrorPending(api, cx)) return JS_FALSE;

    bool started;
    {
        Kx4HeapReleased released(api, cx);
        started = startProcess(command, directory, wait);
    }
    *rval = BOOLEAN_TO_JSVAL(started);
    return JS_TRUE;
}

// ---- open ------------------------------------------------------------------------

JSBool systemOpen(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "System.open(<file>, [params], ['runas'])")) return JS_FALSE;
    SHELLEXECUTEINFOW info;
    ZeroMemory(&info, sizeof info);
    info.cbSize = sizeof info;
    // Any third argument but undefined asks for elevation; its value is not
    // looked at. Without it the file's default action applies.
    info.lpVerb = kx4HasArg(argc, argv, 2) ? L"runas" : nullptr;
    info.lpFile = api->valueToUCString(cx, argv[0]);
    info.lpParameters = optionalText(cx, argc, argv, 1);
    info.nShow = SW_SHOWNORMAL;
    if (kx4ErrorPending(api, cx)) return JS_FALSE;

    bool accepted;
    {
        Kx4HeapReleased released(api, cx);
        static const auto shellExecuteEx = onDemand<decltype(&ShellExecuteExW)>(L"shell32.dll", "ShellExecuteExW");
        accepted = shellExecuteEx && shellExecuteEx(&info);
    }
    *rval = BOOLEAN_TO_JSVAL(accepted);
    return JS_TRUE;
}

// ---- enumProcesses ---------------------------------------------------------------

struct ProcessEntry {
    DWORD pid;
    WCHAR name[MAX_PATH];
};

enum ListOutcome { kListed, kNoList, kNoDebugPrivilege, kNoMemory };

// The identifiers of all processes, however many: the buffer grows until
// the system's answer leaves room to spare.
static DWORD *processIds(DWORD *count) {
    DWORD capacity = 1024;
    for (;;) {
        DWORD *ids = static_cast<DWORD *>(malloc(capacity * sizeof(DWORD)));
        DWORD bytes = 0;
        if (!ids) return nullptr;
        if (!EnumProcesses(ids, capacity * sizeof(DWORD), &bytes)) {
            free(ids);
            return nullptr;
        }
        if (bytes < capacity * sizeof(DWORD) || capacity >= (1u << 22)) {
            *count = bytes / sizeof(DWORD);
            return ids;
        }
        free(ids);
        capacity *= 2;
    }
}

// Collects every process that can be opened, with its executable's base
// name (empty when its modules cannot be read). No engine call in here.
static ListOutcome listProcesses(ProcessEntry **entries, DWORD *count) {
    DWORD idCount = 0;
    DWORD *ids = processIds(&idCount);
    if (!ids) return kNoList;
    // So that processes of other users can be opened; it stays enabled.
    if (!setPrivilege(SE_DEBUG_NAME, true)) {
        free(ids);
        return kNoDebugPrivilege;
    }
    ProcessEntry *list = static_cast<ProcessEntry *>(malloc((idCount ? idCount : 1) * sizeof(ProcessEntry)));
    if (!list) {
        free(ids);
        return kNoMemory;
    }
    DWORD n = 0;
    for (DWORD i = 0; i < idCount; i++) {
        if (ids[i] == 0) continue;
        HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ids[i]);
        if (!process) continue;
        ProcessEntry &e = list[n++];
        e.pid = ids[i];
        e.name[0] = 0;
        HMODULE first;
        DWORD needed;
        if (EnumProcessModules(process, &first, sizeof first, &needed) &&
            !GetModuleBaseNameW(process, first, e.name, MAX_PATH))
            e.name[0] = 0;
        CloseHandle(process);
    }
    free(ids);
    *entries = list;
    *count = n;
    return kListed;
}

JSBool systemEnumProcesses(JSContext *cx, JSObject *, uintN, jsval *, jsval *rval) {
    ProcessEntry *entries = nullptr;
    DWORD count = 0;
    ListOutcome outcome;
    {
        Kx4HeapReleased released(api, cx);
        outcome = listProcesses(&entries, &count);
    }
    switch (outcome) {
    case kListed:
        break;
    case kNoList:
        api->reportError(cx, "Unable to enumerate processes");
        return JS_FALSE;
    case kNoDebugPrivilege:
        api->reportError(cx, "Unable to retrieve debug privilege");
        return JS_FALSE;
    case kNoMemory:
        api->reportError(cx, "out of memory");
        return JS_FALSE;
    }
    JSObject *list = api->newArray(cx, 0, nullptr);
    bool ok = list != nullptr;
    for (DWORD i = 0; ok && i < count; i++) {
        JSObject *entry = api->newObject(cx, nullptr);
        jsval v = OBJECT_TO_JSVAL(entry);
        ok = entry && kx4DefineResult(api, cx, entry, "name", api->newString(cx, nullptr, entries[i].name)) &&
             kx4DefineResultNumber(api, cx, entry, "pid", entries[i].pid) &&
             api->setElement(cx, list, static_cast<int32_t>(i), &v);
    }
    free(entries);
    if (!ok) return JS_FALSE;
    *rval = OBJECT_TO_JSVAL(list);
    return JS_TRUE;
}

// ---- shutdown --------------------------------------------------------------------

JSBool systemShutdown(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "System.shutdown(<params>)")) return JS_FALSE;
    // The whole text is searched, NUL characters included; a value that is
    // not a string is converted once (its toString may have side effects).
    const WCHAR *params = api->valueToUCString(cx, argv[0]);
    size_t length = JSVAL_IS_STRING(argv[0]) ? api->valueStringLength(cx, argv[0]) : wcslen(params);
    // A text whose conversion threw decides nothing: an empty one would
    // log the user off.
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    ShutdownDecision decision = decideShutdown(params, length);

    bool privileged, accepted = false;
    {
        Kx4HeapReleased released(api, cx);
        privileged = setPrivilege(SE_SHUTDOWN_NAME, true);
        if (privileged) {
            static const auto exitWindowsEx = onDemand<decltype(&ExitWindowsEx)>(L"user32.dll", "ExitWindowsEx");
            accepted = decision.hibernate ? SetSystemPowerState(FALSE, TRUE)
                                          : exitWindowsEx && exitWindowsEx(decision.exitFlags, 0);
            setPrivilege(SE_SHUTDOWN_NAME, false);
        }
    }
    if (!privileged) {
        api->reportError(cx, "Unable to retrieve shutdown privilege");
        return JS_FALSE;
    }
    *rval = BOOLEAN_TO_JSVAL(accepted);
    return JS_TRUE;
}

// ---- getAdminRights --------------------------------------------------------------

// Whether the token's groups hold the built-in Administrators group; only
// membership counts, not the group's attributes.
static bool inAdministrators(HANDLE token) {
    DWORD size = 0;
    GetTokenInformation(token, TokenGroups, nullptr, 0, &size);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return false;
    TOKEN_GROUPS *groups = static_cast<TOKEN_GROUPS *>(malloc(size));
    if (!groups) return false;
    bool member = false;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID admins = nullptr;
    if (GetTokenInformation(token, TokenGroups, groups, size, &size) &&
        AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                 &admins)) {
        for (DWORD i = 0; i < groups->GroupCount && !member; i++) member = EqualSid(groups->Groups[i].Sid, admins);
        FreeSid(admins);
    }
    free(groups);
    return member;
}

static bool adminRights() {
    HANDLE token;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) {
        if (GetLastError() != ERROR_NO_TOKEN) return false;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    }
    bool admin = inAdministrators(token);
    if (admin) {
        // A system without elevation cannot answer: membership decides then.
        TOKEN_ELEVATION elevation;
        elevation.TokenIsElevated = 1;
        DWORD size;
        GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
        admin = elevation.TokenIsElevated != 0;
    }
    CloseHandle(token);
    return admin;
}

JSBool systemGetAdminRights(JSContext *cx, JSObject *, uintN, jsval *, jsval *rval) {
    bool admin;
    {
        Kx4HeapReleased released(api, cx);
        admin = adminRights();
    }
    *rval = BOOLEAN_TO_JSVAL(admin);
    return JS_TRUE;
}

// ---- createLink ------------------------------------------------------------------

struct LinkDescription {
    const WCHAR *command, *params, *link, *description, *iconPath;
    int iconIndex, runas;
};

// Writes the shortcut; a property that is missing is left unset. Failures
// are not reported.
static void writeLink(const LinkDescription &d) {
    // COM stays initialised on this thread afterwards; a call that finds it
    // initialised already gives back the count it added.
    static const auto coInitialize = onDemand<decltype(&CoInitialize)>(L"ole32.dll", "CoInitialize");
    static const auto coUninitialize = onDemand<decltype(&CoUninitialize)>(L"ole32.dll", "CoUninitialize");
    static const auto coCreateInstance = onDemand<decltype(&CoCreateInstance)>(L"ole32.dll", "CoCreateInstance");
    if (!coInitialize || !coUninitialize || !coCreateInstance) return;
    HRESULT init = coInitialize(nullptr);
    if (init == S_FALSE) coUninitialize();
    IShellLinkW *link = nullptr;
    if (FAILED(coCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void **>(&link))))
        return;
    if (d.command) link->SetPath(d.command);
    if (d.params) link->SetArguments(d.params);
    if (d.description) link->SetDescription(d.description);
    if (d.iconPath) link->SetIconLocation(d.iconPath, d.iconIndex);
    if (d.runas > 0) {
        IShellLinkDataList *data = nullptr;
        if (SUCCEEDED(link->QueryInterface(IID_IShellLinkDataList, reinterpret_cast<void **>(&data)))) {
            DWORD flags = 0;
            if (SUCCEEDED(data->GetFlags(&flags)) && !(flags & SLDF_RUNAS_USER))
                data->SetFlags(flags | SLDF_RUNAS_USER);
            data->Release();
        }
    }
    IPersistFile *file = nullptr;
    if (d.link && SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void **>(&file)))) {
        file->Save(d.link, TRUE);
        file->Release();
    }
    link->Release();
}

// A text property of the link description; null is missing, like undefined.
static const WCHAR *fieldText(JSContext *cx, JSObject *obj, const char *name) {
    jsval v = api->getPropertyValue(cx, obj, name);
    return v == JSVAL_VOID || v == JSVAL_NULL ? nullptr : api->valueToUCString(cx, v);
}

JSBool systemCreateLink(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    static const char kUsage[] = "System.createLink(<link>)";
    if (!kx4RequireArgs(api, cx, argc, 1, kUsage)) return JS_FALSE;
    // Nothing to read properties from is a wrong call, not a failed write.
    if (!JSVAL_IS_OBJECT(argv[0]) || argv[0] == JSVAL_NULL) {
        api->reportError(cx, KX4_FORMAT_ERROR, kUsage);
        return JS_FALSE;
    }
    JSObject *obj = JSVAL_TO_OBJECT(argv[0]);
    LinkDescription d;
    d.command = fieldText(cx, obj, "command");
    d.params = fieldText(cx, obj, "params");
    d.link = fieldText(cx, obj, "link");
    d.description = fieldText(cx, obj, "description");
    d.iconPath = fieldText(cx, obj, "iconPath");
    d.iconIndex = kx4FieldInt32(api, cx, obj, "iconIndex", 0);
    d.runas = kx4FieldInt32(api, cx, obj, "runas", 0);
    if (kx4ErrorPending(api, cx)) return JS_FALSE;

    {
        Kx4HeapReleased released(api, cx);
        writeLink(d);
    }
    *rval = JSVAL_VOID;
    return JS_TRUE;
}

}  // namespace kx4
