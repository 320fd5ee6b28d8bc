/* Linked into kx4notify_recording.exe: kx4notify's own objects plus this
 * file, which records what wine cannot show and fails what wine never
 * fails.
 *
 * The shell link. Wine's shell link accepts IPropertyStore::SetValue and Commit but
 * stores nothing (its property store is a stub, and no property block is
 * written into the .lnk file), so the identity cannot be read back from the
 * shortcut. This recorder watches the calls instead: before wWinMain runs
 * it points the program's import of CoCreateInstance at a wrapper that
 * creates the real shell link and replaces a few of its methods with
 * recorders that log the call and then pass it on. The shortcut file is
 * still written by wine's shell link.
 *
 * The runtime. RoUninitialize is logged; KX4_NOTIFY_FAULT makes one call
 * fail as a system could: "RoInitialize" (answers RPC_E_CHANGED_MODE, as
 * for a thread already in another apartment) or "CommandLineToArgvW"
 * (answers null). */
#include <windows.h>
#include <objbase.h>
#include <roapi.h>
#include <shellapi.h>
#include <propsys.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "test_log.h"

typedef HRESULT(WINAPI *RoInitializeFn)(RO_INIT_TYPE);
typedef void(WINAPI *RoUninitializeFn)();
typedef LPWSTR *(WINAPI *CommandLineToArgvWFn)(LPCWSTR, int *);
typedef HRESULT(WINAPI *CoCreateInstanceFn)(REFCLSID, IUnknown *, DWORD, REFIID, void **);
typedef HRESULT(STDMETHODCALLTYPE *SetStringFn)(void *, LPCWSTR);
typedef HRESULT(STDMETHODCALLTYPE *SetValueFn)(void *, REFPROPERTYKEY, REFPROPVARIANT);
typedef HRESULT(STDMETHODCALLTYPE *CommitFn)(void *);
typedef HRESULT(STDMETHODCALLTYPE *SaveFn)(void *, LPCOLESTR, BOOL);

static RoInitializeFn realRoInitialize;
static RoUninitializeFn realRoUninitialize;
static CommandLineToArgvWFn realCommandLineToArgvW;
static CoCreateInstanceFn realCoCreateInstance;
static SetStringFn realSetPath, realSetArguments;
static SetValueFn realSetValue;
static CommitFn realCommit;
static SaveFn realSave;

static std::string guid(const GUID &g) {
    wchar_t text[40];
    StringFromGUID2(g, text, 40);
    return utf8(text, wcslen(text));
}

static HRESULT STDMETHODCALLTYPE recordSetPath(void *self, LPCWSTR path) {
    HRESULT hr = realSetPath(self, path);
    logLine("SetPath " + quoted(path ? path : L"(null)") + " -> " + hex(hr));
    return hr;
}

static HRESULT STDMETHODCALLTYPE recordSetArguments(void *self, LPCWSTR args) {
    HRESULT hr = realSetArguments(self, args);
    logLine("SetArguments " + quoted(args ? args : L"(null)") + " -> " + hex(hr));
    return hr;
}

static HRESULT STDMETHODCALLTYPE recordSetValue(void *self, REFPROPERTYKEY key, REFPROPVARIANT value) {
    std::string shown = "vt=" + std::to_string(value.vt);
    if (value.vt == VT_LPWSTR) shown += " " + quoted(value.pwszVal ? value.pwszVal : L"(null)");
    HRESULT hr = realSetValue(self, key, value);
    logLine("SetValue " + guid(key.fmtid) + " " + std::to_string(key.pid) + " " + shown + " -> " + hex(hr));
    return hr;
}

static HRESULT STDMETHODCALLTYPE recordCommit(void *self) {
    HRESULT hr = realCommit(self);
    logLine("Commit -> " + hex(hr));
    return hr;
}

static HRESULT STDMETHODCALLTYPE recordSave(void *self, LPCOLESTR path, BOOL remember) {
    HRESULT hr = realSave(self, path, remember);
    logLine("Save " + quoted(path ? path : L"(null)") + " remember=" + std::to_string(remember) + " -> " + hex(hr));
    return hr;
}

/* Replaces slot `index` of the object's vtable (shared by every object of
 * its class in this process). */
template <class Fn> static void patch(void *object, int index, Fn hook, Fn *original) {
    void **vtable = *static_cast<void ***>(object);
    DWORD old;
    VirtualProtect(&vtable[index], sizeof(void *), PAGE_READWRITE, &old);
    if (vtable[index] != reinterpret_cast<void *>(hook)) {
        *original = reinterpret_cast<Fn>(vtable[index]);
        vtable[index] = reinterpret_cast<void *>(hook);
    }
    VirtualProtect(&vtable[index], sizeof(void *), old, &old);
}

static HRESULT WINAPI recordCoCreateInstance(REFCLSID clsid, IUnknown *outer, DWORD context, REFIID iid, void **out) {
    HRESULT hr = realCoCreateInstance(clsid, outer, context, iid, out);
    logLine("CoCreateInstance " + guid(clsid) + " context=" + std::to_string(context) + " iid=" + guid(iid) +
            " -> " + hex(hr));
    if (FAILED(hr) || clsid != CLSID_ShellLink) return hr;
    IUnknown *object = static_cast<IUnknown *>(*out);
    IShellLinkW *link = nullptr;
    IPropertyStore *store = nullptr;
    IPersistFile *file = nullptr;
    // Slots as the interfaces declare them: IShellLinkW SetArguments 11,
    // SetPath 20; IPropertyStore SetValue 6, Commit 7; IPersistFile Save 6.
    if (SUCCEEDED(object->QueryInterface(IID_IShellLinkW, reinterpret_cast<void **>(&link)))) {
        patch(link, 11, recordSetArguments, &realSetArguments);
        patch(link, 20, recordSetPath, &realSetPath);
        link->Release();
    }
    if (SUCCEEDED(object->QueryInterface(IID_IPropertyStore, reinterpret_cast<void **>(&store)))) {
        patch(store, 6, recordSetValue, &realSetValue);
        patch(store, 7, recordCommit, &realCommit);
        store->Release();
    }
    if (SUCCEEDED(object->QueryInterface(IID_IPersistFile, reinterpret_cast<void **>(&file)))) {
        patch(file, 6, recordSave, &realSave);
        file->Release();
    }
    return hr;
}

static bool fault(const char *name) {
    char which[64];
    DWORD n = GetEnvironmentVariableA("KX4_NOTIFY_FAULT", which, sizeof which);
    return n && n < sizeof which && strcmp(which, name) == 0;
}

static HRESULT WINAPI recordRoInitialize(RO_INIT_TYPE type) {
    if (fault("RoInitialize")) {
        logLine("RoInitialize " + std::to_string(type) + " -> failed on purpose");
        return RPC_E_CHANGED_MODE;
    }
    HRESULT hr = realRoInitialize(type);
    logLine("RoInitialize " + std::to_string(type) + " -> " + hex(hr));
    return hr;
}

static void WINAPI recordRoUninitialize() {
    logLine("RoUninitialize");
    realRoUninitialize();
}

static LPWSTR *WINAPI recordCommandLineToArgvW(LPCWSTR line, int *count) {
    if (fault("CommandLineToArgvW")) {
        logLine("CommandLineToArgvW -> failed on purpose");
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return realCommandLineToArgvW(line, count);
}

namespace {
struct InstallRecorder {
    InstallRecorder() {
        const struct {
            const char *dll, *name;
            void *hook, **original;
        } hooks[] = {
            {"ole32.dll", "CoCreateInstance", reinterpret_cast<void *>(recordCoCreateInstance),
             reinterpret_cast<void **>(&realCoCreateInstance)},
            {"api-ms-win-core-winrt-l1-1-0.dll", "RoInitialize", reinterpret_cast<void *>(recordRoInitialize),
             reinterpret_cast<void **>(&realRoInitialize)},
            {"api-ms-win-core-winrt-l1-1-0.dll", "RoUninitialize", reinterpret_cast<void *>(recordRoUninitialize),
             reinterpret_cast<void **>(&realRoUninitialize)},
            {"shell32.dll", "CommandLineToArgvW", reinterpret_cast<void *>(recordCommandLineToArgvW),
             reinterpret_cast<void **>(&realCommandLineToArgvW)},
        };
        for (const auto &h : hooks)
            if (!hookImport(h.dll, h.name, h.hook, h.original))
                logLine(std::string("recorder: ") + h.name + " is not imported");
    }
} installRecorder;
}  // namespace
