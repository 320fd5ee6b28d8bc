/* kx4notifyprobe.exe: the Windows side of the kx4notify tests. Prints
 * UTF-8 "key=value" lines on stdout.
 *
 *   readlink <lnk>                    the shortcut's target, arguments and
 *                                     AppUserModelID, read back through the
 *                                     shell link and its property store
 *   run <env>... -- <program> [args...]
 *                                     start the program with the variables
 *                                     changed (NAME=VALUE sets, possibly to
 *                                     the empty string; -NAME removes), wait,
 *                                     print exit=<code>
 *   register <dll>                    register the dll as the toast classes'
 *                                     server (HKLM ActivatableClassId)
 *   unregister <class>...             remove those classes' registrations
 *   appdata                           print APPDATA as this process sees it
 *
 * Exit code 0 on success, 2 for a usage error, 3 when something failed. */
#include <stdio.h>
#include <string>
#include <windows.h>
#include <objbase.h>
#include <propsys.h>
#include <shlobj.h>
#include <shobjidl.h>

static const wchar_t *const kToastClasses[] = {L"Windows.UI.Notifications.ToastNotificationManager",
                                               L"Windows.UI.Notifications.ToastNotification"};
static const wchar_t kClassRoot[] = L"Software\\Microsoft\\WindowsRuntime\\ActivatableClassId\\";

static std::string utf8(const std::wstring &w) {
    if (w.empty()) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &s[0], n, nullptr, nullptr);
    return s;
}

static void print(const std::string &key, const std::wstring &value) {
    std::string text = key + "=" + utf8(value) + "\n";
    DWORD written;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

static int readLink(const wchar_t *lnk) {
    // {9F4C2855-9F79-4B39-A8D0-E1D42DE1D5F3} 5: System.AppUserModel.ID
    static const PROPERTYKEY appIdKey = {
        {0x9F4C2855, 0x9F79, 0x4B39, {0xA8, 0xD0, 0xE1, 0xD4, 0x2D, 0xE1, 0xD5, 0xF3}}, 5};
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 3;
    IShellLinkW *link = nullptr;
    IPersistFile *file = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void **>(&link))))
        return 3;
    if (FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void **>(&file)))) return 3;
    if (FAILED(file->Load(lnk, STGM_READ))) return 3;
    WCHAR path[MAX_PATH] = L"", args[1024] = L"";
    link->GetPath(path, MAX_PATH, nullptr, SLGP_RAWPATH);
    link->GetArguments(args, 1024);
    print("path", path);
    print("args", args);
    IPropertyStore *store = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPropertyStore, reinterpret_cast<void **>(&store)))) {
        PROPVARIANT value;
        PropVariantInit(&value);
        if (SUCCEEDED(store->GetValue(appIdKey, &value))) {
            print("appIdType", std::to_wstring(value.vt));
            if (value.vt == VT_LPWSTR) print("appId", value.pwszVal);
            PropVariantClear(&value);
        }
        store->Release();
    } else {
        print("appIdType", L"no property store");
    }
    file->Release();
    link->Release();
    return 0;
}

/* One argument quoted so that CommandLineToArgvW gives it back unchanged. */
static std::wstring quote(const std::wstring &arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            backslashes++;
            continue;
        }
        out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(2 * backslashes, L'\\');
    return out + L"\"";
}

static int run(int argc, wchar_t **argv) {
    int i = 2;
    for (; i < argc && wcscmp(argv[i], L"--") != 0; i++) {
        std::wstring change = argv[i];
        if (change.size() > 1 && change[0] == L'-') {
            SetEnvironmentVariableW(change.c_str() + 1, nullptr);
            continue;
        }
        size_t eq = change.find(L'=');
        if (eq == std::wstring::npos || eq == 0) return 2;
        std::wstring name = change.substr(0, eq), value = change.substr(eq + 1);
        if (!SetEnvironmentVariableW(name.c_str(), value.c_str())) return 3;
    }
    if (++i >= argc) return 2;
    std::wstring line;
    for (int j = i; j < argc; j++) line += (j > i ? L" " : L"") + quote(argv[j]);
    STARTUPINFOW si = {sizeof si};
    PROCESS_INFORMATION pi;
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 3;
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    print("exit", std::to_wstring(code));
    return 0;
}

static int registerClasses(const wchar_t *dll) {
    for (const wchar_t *name : kToastClasses) {
        std::wstring key = std::wstring(kClassRoot) + name;
        DWORD bytes = static_cast<DWORD>((wcslen(dll) + 1) * sizeof(wchar_t));
        if (RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"DllPath", REG_SZ, dll, bytes) != ERROR_SUCCESS)
            return 3;
        DWORD zero = 0;  // in-process server, any apartment
        RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"ActivationType", REG_DWORD, &zero, sizeof zero);
        RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"Threading", REG_DWORD, &zero, sizeof zero);
    }
    return 0;
}

static int unregisterClasses(int argc, wchar_t **argv) {
    for (int i = 2; i < argc; i++) {
        std::wstring key = std::wstring(kClassRoot) + argv[i];
        LSTATUS status = RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return 3;
    }
    return 0;
}

int wmain(int argc, wchar_t **argv) {
    std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"readlink" && argc == 3) return readLink(argv[2]);
    if (command == L"run" && argc >= 4) return run(argc, argv);
    if (command == L"register" && argc == 3) return registerClasses(argv[2]);
    if (command == L"unregister" && argc >= 3) return unregisterClasses(argc, argv);
    if (command == L"appdata" && argc == 2) {
        wchar_t value[32768];
        DWORD n = GetEnvironmentVariableW(L"APPDATA", value, 32768);
        print("appdata", n ? value : L"");
        return 0;
    }
    fprintf(stderr, "usage: kx4notifyprobe readlink|run|register|unregister|appdata ...\n");
    return 2;
}
