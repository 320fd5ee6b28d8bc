/* kx4notify: shows one toast, or installs the Start-menu shortcut that
 * carries the identity its toasts are shown under. */
#ifndef KX4_NOTIFY_H
#define KX4_NOTIFY_H

#include <windows.h>
#include <hstring.h>

/* Shortcut and notifier carry the same identity: the system shows a
 * desktop program's toasts only for an identity some Start-menu shortcut
 * declares. */
#define KX4_NOTIFY_APP_ID L"PowerManagement.Alarm.Notifier"

/* The strings point into the argument vector; nothing is copied. */
struct ToastRequest {
    const wchar_t *imagePath;
    const wchar_t *title;
    const wchar_t *text;
    HWND mainWindow;
    HWND statusWindow;
};

/* Each returns the outcome of the first step that failed (S_OK when all
 * ran); the program's exit code does not depend on it. */
HRESULT showToast(const ToastRequest &request);
HRESULT installShortcut(const wchar_t *linkName);

/* A COM reference released when it goes out of scope. */
template <class T> class Ref {
public:
    Ref() = default;
    explicit Ref(T *object) : p(object) {}
    Ref(const Ref &) = delete;
    Ref &operator=(const Ref &) = delete;
    ~Ref() {
        if (p) p->Release();
    }
    T *operator->() const { return p; }
    T *get() const { return p; }
    /* For an out parameter; only ever used on an empty Ref. */
    T **out() { return &p; }
    void **outVoid() { return reinterpret_cast<void **>(&p); }

private:
    T *p = nullptr;
};

/* An HSTRING that refers to a null-terminated string without copying it;
 * the string must outlive this object. */
class StringRef {
public:
    explicit StringRef(const wchar_t *text);
    StringRef(const StringRef &) = delete;
    StringRef &operator=(const StringRef &) = delete;
    ~StringRef();
    HRESULT result() const { return made; }
    HSTRING get() const { return value; }

private:
    HSTRING_HEADER header;
    HSTRING value = nullptr;
    HRESULT made;
};

#endif
