/* ToastEventHandler: receives a toast's Activated, Dismissed and Failed
 * events and reports them as a text on a status window. */
#ifndef KX4_TOAST_HANDLER_H
#define KX4_TOAST_HANDLER_H

#include <windows.h>

#include "toast_api.h"

/* One object behind three interfaces, in this order: the object begins
 * with the three interface pointers, then the reference count and the two
 * window handles. The second and third interfaces reach the shared
 * QueryInterface/AddRef/Release through the compiler's adjusting thunks.
 * Events may come on other threads; the count is the only shared state. */
class ToastEventHandler final : public IToastActivatedHandler,
                                public IToastDismissedHandler,
                                public IToastFailedHandler {
public:
    /* A new handler with one reference, the creator's; null when memory
     * is short. It lives on the process heap: the program uses no C++
     * runtime, which keeps its start as short as possible. */
    static ToastEventHandler *create(HWND mainWindow, HWND statusWindow);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE Invoke(IToastNotification *sender, IInspectable *args) override;
    HRESULT STDMETHODCALLTYPE Invoke(IToastNotification *sender, IToastDismissedEventArgs *args) override;
    HRESULT STDMETHODCALLTYPE Invoke(IToastNotification *sender, IToastFailedEventArgs *args) override;

private:
    ToastEventHandler(HWND mainWindow, HWND statusWindow);
    ~ToastEventHandler() = default;
    HRESULT setStatus(const wchar_t *text);

    LONG references;
    HWND mainWindow;
    HWND statusWindow;
};

#endif
