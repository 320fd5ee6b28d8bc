/* The Start-menu shortcut that declares the program's application
 * identity, so that the system accepts toasts shown under it. */
#include <windows.h>
#include <objbase.h>
#include <propsys.h>
#include <psapi.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <shobjidl.h>
#include <strsafe.h>

#include "notify.h"

// System.AppUserModel.ID
static const PROPERTYKEY kAppUserModelId = {
    {0x9F4C2855, 0x9F79, 0x4B39, {0xA8, 0xD0, 0xE1, 0xD4, 0x2D, 0xE1, 0xD5, 0xF3}}, 5};

static HRESULT shortcutPath(const wchar_t *linkName, wchar_t (&path)[MAX_PATH]) {
    DWORD length = GetEnvironmentVariableW(L"APPDATA", path, MAX_PATH);
    // 0: unset or empty; MAX_PATH or more: the value alone does not fit.
    if (length == 0 || length >= MAX_PATH) return E_FAIL;
    HRESULT hr = StringCchCatW(path, MAX_PATH, L"\\Microsoft\\Windows\\Start Menu\\Programs\\");
    if (SUCCEEDED(hr)) hr = StringCchCatW(path, MAX_PATH, linkName);
    return hr;
}

HRESULT installShortcut(const wchar_t *linkName) {
    wchar_t path[MAX_PATH];
    HRESULT hr = shortcutPath(linkName, path);
    if (FAILED(hr)) return hr;
    // Whatever is there already (an older shortcut, something the user put
    // there) is left as it is.
    if (GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES) return S_FALSE;

    wchar_t exe[MAX_PATH];
    if (K32GetModuleFileNameExW(GetCurrentProcess(), nullptr, exe, MAX_PATH) == 0)
        return HRESULT_FROM_WIN32(GetLastError());

    Ref<IShellLinkW> link;
    hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.outVoid());
    if (FAILED(hr)) return hr;
    hr = link->SetPath(exe);
    if (SUCCEEDED(hr)) hr = link->SetArguments(L"");
    if (FAILED(hr)) return hr;

    Ref<IPropertyStore> store;
    hr = link->QueryInterface(IID_IPropertyStore, store.outVoid());
    if (FAILED(hr)) return hr;
    PROPVARIANT appId;
    PropVariantInit(&appId);
    appId.vt = VT_LPWSTR;
    hr = SHStrDupW(KX4_NOTIFY_APP_ID, &appId.pwszVal);
    if (SUCCEEDED(hr)) hr = store->SetValue(kAppUserModelId, appId);
    if (SUCCEEDED(hr)) hr = store->Commit();
    if (SUCCEEDED(hr)) {
        Ref<IPersistFile> file;
        hr = link->QueryInterface(IID_IPersistFile, file.outVoid());
        if (SUCCEEDED(hr)) hr = file->Save(path, TRUE);
    }
    PropVariantClear(&appId);
    return hr;
}
