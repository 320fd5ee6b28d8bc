/* kx4procprobe.exe: the other side of the process tests. Started by the
 * script under test (System.exec, System.open), it reports through files,
 * written as UTF-8 "key=value" lines, what it was given and how it was
 * started:
 *
 *   write <file> [delayMs]          after delayMs, write: cwd, show (the
 *                                   start-up show state, or "default"
 *                                   when none was set), dacl (null, absent
 *                                   or list: the process object's DACL)
 *   await <started> <go> <done>     write <started>, wait until <go> exists,
 *                                   then write <done>; gives up after 30 s
 *                                   (exit 3, no <done>)
 *   verb <name> <target> [args...]  write <target>.<name> holding the args,
 *                                   joined by single spaces
 *   assoc <ext> <class> <verb>...   make files ending in <ext> open with
 *                                   "this probe verb <verb> %1 %*" for each
 *                                   listed verb (the first is the default)
 *   unassoc <ext> <class>           remove that again
 *   readlink <lnk> <file>           write the shortcut's path, args,
 *                                   description, iconPath, iconIndex and
 *                                   runas (its run-as-administrator flag)
 *   dismiss <pid> <seen> <go> <report>
 *                                   wait for a dialog box of process <pid>,
 *                                   write <seen>, wait until <go> exists,
 *                                   press the box's OK button and write
 *                                   <report>: title, text, and by=go (or
 *                                   by=timeout when <go> did not come within
 *                                   30 s: the box is closed all the same)
 *
 * Exit code 0 on success, 2 for a usage error, 3 when something failed. */
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <windows.h>
#include <aclapi.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

static std::string utf8(const std::wstring &w) {
    if (w.empty()) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &s[0], n, nullptr, nullptr);
    return s;
}

// Written to a temporary name and renamed, so that a reader that sees the
// file sees all of it.
static bool writeFile(const std::wstring &path, const std::string &text) {
    std::wstring temp = path + L".part";
    FILE *f = _wfopen(temp.c_str(), L"wb");
    if (!f) return false;
    bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = fclose(f) == 0 && ok;
    return ok && MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

static std::string line(const char *key, const std::wstring &value) { return std::string(key) + "=" + utf8(value) + "\n"; }

static std::string daclKind() {
    PSECURITY_DESCRIPTOR sd = nullptr;
    PACL dacl = nullptr;
    if (GetSecurityInfo(GetCurrentProcess(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                        nullptr, &sd) != ERROR_SUCCESS)
        return "unknown";
    BOOL present = FALSE, defaulted = FALSE;
    GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted);
    LocalFree(sd);
    return !present ? "absent" : dacl ? "list" : "null";
}

static int writeReport(const std::wstring &file, int delayMs) {
    if (delayMs > 0) Sleep(delayMs);
    WCHAR cwd[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, cwd);
    STARTUPINFOW si;
    GetStartupInfoW(&si);
    std::string show = (si.dwFlags & STARTF_USESHOWWINDOW) ? std::to_string(si.wShowWindow) : "default";
    return writeFile(file, line("cwd", cwd) + "show=" + show + "\ndacl=" + daclKind() + "\n") ? 0 : 3;
}

static bool exists(const std::wstring &path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

static int await(const std::wstring &started, const std::wstring &go, const std::wstring &done) {
    if (!writeFile(started, "started\n")) return 3;
    for (int waited = 0; !exists(go); waited += 10) {
        if (waited > 30000) return 3;
        Sleep(10);
    }
    return writeFile(done, "done\n") ? 0 : 3;
}

static int verb(int argc, wchar_t **argv) {
    std::wstring args;
    for (int i = 4; i < argc; i++) args += (i > 4 ? L" " : L"") + std::wstring(argv[i]);
    return writeFile(std::wstring(argv[3]) + L"." + argv[2], utf8(args)) ? 0 : 3;
}

static bool setValue(const std::wstring &key, const std::wstring &value) {
    HKEY h;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &h, nullptr)) return false;
    LONG rc = RegSetValueExW(h, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                             static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR)));
    RegCloseKey(h);
    return rc == ERROR_SUCCESS;
}

static int assoc(int argc, wchar_t **argv) {
    WCHAR self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring cls = argv[3];
    bool ok = setValue(argv[2], cls) && setValue(cls + L"\\shell", argv[4]);
    for (int i = 4; ok && i < argc; i++)
        ok = setValue(cls + L"\\shell\\" + argv[i] + L"\\command",
                      L"\"" + std::wstring(self) + L"\" verb " + argv[i] + L" \"%1\" %*");
    return ok ? 0 : 3;
}

static int unassoc(wchar_t **argv) {
    LONG a = RegDeleteTreeW(HKEY_CLASSES_ROOT, argv[2]);
    LONG b = RegDeleteTreeW(HKEY_CLASSES_ROOT, argv[3]);
    return a == ERROR_SUCCESS && b == ERROR_SUCCESS ? 0 : 3;
}

static int readLink(const std::wstring &lnk, const std::wstring &out) {
    CoInitialize(nullptr);
    IShellLinkW *link = nullptr;
    IPersistFile *file = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void **>(&link))))
        return 3;
    if (FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void **>(&file)))) return 3;
    if (FAILED(file->Load(lnk.c_str(), STGM_READ))) return 3;
    WCHAR path[MAX_PATH] = L"", args[1024] = L"", description[1024] = L"", icon[MAX_PATH] = L"";
    int iconIndex = 0;
    DWORD flags = 0;
    link->GetPath(path, MAX_PATH, nullptr, SLGP_RAWPATH);
    link->GetArguments(args, 1024);
    link->GetDescription(description, 1024);
    link->GetIconLocation(icon, MAX_PATH, &iconIndex);
    IShellLinkDataList *data = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IShellLinkDataList, reinterpret_cast<void **>(&data)))) {
        data->GetFlags(&flags);
        data->Release();
    }
    file->Release();
    link->Release();
    std::string text = line("path", path) + line("args", args) + line("description", description) +
                       line("iconPath", icon) + "iconIndex=" + std::to_string(iconIndex) +
                       "\nrunas=" + ((flags & SLDF_RUNAS_USER) ? "1" : "0") + "\n";
    return writeFile(out, text) ? 0 : 3;
}

struct DialogSearch {
    DWORD pid;
    HWND found;
};

static BOOL CALLBACK findDialog(HWND hwnd, LPARAM param) {
    DialogSearch *search = reinterpret_cast<DialogSearch *>(param);
    DWORD pid = 0;
    WCHAR cls[16];
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != search->pid || !IsWindowVisible(hwnd) || !GetClassNameW(hwnd, cls, 16) || wcscmp(cls, L"#32770"))
        return TRUE;
    search->found = hwnd;
    return FALSE;
}

static BOOL CALLBACK collectText(HWND hwnd, LPARAM param) {
    WCHAR cls[16], text[512];
    if (GetClassNameW(hwnd, cls, 16) && !_wcsicmp(cls, L"Static") && GetWindowTextW(hwnd, text, 512))
        *reinterpret_cast<std::wstring *>(param) += text;
    return TRUE;
}

static bool processAlive(DWORD pid) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!process) return false;
    bool alive = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return alive;
}

// Waits for the box as long as the script's process lives (a busy machine
// may be slow to show it), and presses OK until no box of that process is
// left: a box that stayed up would block the script's open for good.
static int dismiss(DWORD pid, const std::wstring &seen, const std::wstring &go, const std::wstring &report) {
    DialogSearch search = {pid, nullptr};
    for (;;) {
        EnumWindows(findDialog, reinterpret_cast<LPARAM>(&search));
        if (search.found) break;
        if (!processAlive(pid)) return 3;
        Sleep(10);
    }
    if (!writeFile(seen, "seen\n")) return 3;
    int waited = 0;
    while (!exists(go) && waited <= 30000) {
        Sleep(10);
        waited += 10;
    }
    WCHAR title[256] = L"";
    std::wstring text;
    GetWindowTextW(search.found, title, 256);
    EnumChildWindows(search.found, collectText, reinterpret_cast<LPARAM>(&text));
    bool byGo = exists(go);
    for (int quiet = 0; quiet < 100 && processAlive(pid);) {
        DialogSearch again = {pid, nullptr};
        EnumWindows(findDialog, reinterpret_cast<LPARAM>(&again));
        if (again.found) {
            PostMessageW(again.found, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            quiet = 0;
            Sleep(100);
        } else {
            quiet++;
            Sleep(10);
        }
    }
    return writeFile(report, line("title", title) + line("text", text) + (byGo ? "by=go\n" : "by=timeout\n"))
               ? 0
               : 3;
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"write" && (argc == 3 || argc == 4)) return writeReport(argv[2], argc == 4 ? _wtoi(argv[3]) : 0);
    if (mode == L"await" && argc == 5) return await(argv[2], argv[3], argv[4]);
    if (mode == L"verb" && argc >= 4) return verb(argc, argv);
    if (mode == L"assoc" && argc >= 5) return assoc(argc, argv);
    if (mode == L"unassoc" && argc == 4) return unassoc(argv);
    if (mode == L"readlink" && argc == 4) return readLink(argv[2], argv[3]);
    if (mode == L"dismiss" && argc == 6) return dismiss(wcstoul(argv[2], nullptr, 10), argv[3], argv[4], argv[5]);
    return 2;
}
