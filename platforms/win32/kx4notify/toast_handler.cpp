#include <new>

#include "toast_handler.h"

ToastEventHandler *ToastEventHandler::create(HWND mainWindow, HWND statusWindow) {
    void *memory = HeapAlloc(GetProcessHeap(), 0, sizeof(ToastEventHandler));
    return memory ? new (memory) ToastEventHandler(mainWindow, statusWindow) : nullptr;
}

ToastEventHandler::ToastEventHandler(HWND mainWindow, HWND statusWindow)
    : references(1), mainWindow(mainWindow), statusWindow(statusWindow) {}

HRESULT STDMETHODCALLTYPE ToastEventHandler::QueryInterface(REFIID iid, void **object) {
    if (!object) return E_POINTER;
    if (iid == __uuidof(IUnknown) || iid == __uuidof(IToastActivatedHandler)) {
        *object = static_cast<IToastActivatedHandler *>(this);
    } else if (iid == __uuidof(IToastDismissedHandler)) {
        *object = static_cast<IToastDismissedHandler *>(this);
    } else if (iid == __uuidof(IToastFailedHandler)) {
        *object = static_cast<IToastFailedHandler *>(this);
    } else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE ToastEventHandler::AddRef() { return InterlockedIncrement(&references); }

ULONG STDMETHODCALLTYPE ToastEventHandler::Release() {
    LONG left = InterlockedDecrement(&references);
    if (left == 0) {
        this->~ToastEventHandler();
        HeapFree(GetProcessHeap(), 0, this);
    }
    return left;
}

HRESULT ToastEventHandler::setStatus(const wchar_t *text) {
    return SendMessageW(statusWindow, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) ? S_OK : E_FAIL;
}

// Activated: the user clicked the toast; bring the main window forward.
HRESULT STDMETHODCALLTYPE ToastEventHandler::Invoke(IToastNotification *, IInspectable *) {
    if (!SetForegroundWindow(mainWindow)) return E_FAIL;
    return setStatus(L"The user clicked on the toast.");
}

HRESULT STDMETHODCALLTYPE ToastEventHandler::Invoke(IToastNotification *, IToastDismissedEventArgs *args) {
    if (!args) return E_POINTER;
    ToastDismissalReason reason;
    HRESULT hr = args->get_Reason(&reason);
    if (FAILED(hr)) return hr;
    const wchar_t *text;
    switch (reason) {
    case ToastDismissalReason_UserCanceled: text = L"The user dismissed this toast"; break;
    case ToastDismissalReason_ApplicationHidden:
        text = L"The application hid the toast using ToastNotifier.hide()";
        break;
    case ToastDismissalReason_TimedOut: text = L"The toast has timed out"; break;
    default: text = L"Toast not activated"; break;
    }
    return setStatus(text);
}

HRESULT STDMETHODCALLTYPE ToastEventHandler::Invoke(IToastNotification *, IToastFailedEventArgs *) {
    return setStatus(L"The toast encountered an error.");
}
