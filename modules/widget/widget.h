// Shared state and helpers of kx4ui.dll. The module keeps no per-component
// state: everything is read from the component object at each call.
#ifndef KX4_WIDGET_H
#define KX4_WIDGET_H
#include <windows.h>
#include "kx4.h"

namespace widget {

extern HostApi *api;
extern HINSTANCE instance;
// Context the window procedure evaluates events in; set once by the first
// init or create, never changed afterwards.
extern JSContext *eventContext;
// The thread that set it: a context runs on one thread only.
extern DWORD eventThread;
void setEventContext(JSContext *cx);

extern const wchar_t windowClassName[];  // L"WndClass"

// Component property reads (numbers truncated to 32 bits, 8-bit and 16-bit
// texts), defaults as given. A null component reads as an empty one.
int32_t readInt(JSContext *cx, JSObject *cmp, const char *name, int32_t def);
HANDLE readHandle(JSContext *cx, JSObject *cmp, const char *name);
// 8-bit text, or `def` when undefined.
const char *readText(JSContext *cx, JSObject *cmp, const char *name, const char *def);
// 16-bit text, or `def` (possibly null) when undefined.
const wchar_t *readUText(JSContext *cx, JSObject *cmp, const char *name, const wchar_t *def);
bool hasLetter(const char *s, char c);

// The component argument: undefined (or missing) reports
// "Widget: Component is undefined". Anything that is not an object reads
// as an empty component (every property at its default).
bool componentArg(JSContext *cx, uintN argc, jsval *argv, const char *usage, JSObject **cmp);
bool writeNumber(JSContext *cx, JSObject *cmp, const char *name, double d, uintN attrs);
bool writeValue(JSContext *cx, JSObject *cmp, const char *name, jsval v, uintN attrs);

// The font of an Edit or TextArea: given to the control and deleted when
// the control goes away.
HFONT makeFont(const wchar_t *face, int32_t size, const char *style);
void attachFont(HWND control, HFONT font);

LRESULT CALLBACK windowProcedure(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
void registerWindowClass();

// Natives.
JSBool init(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool create(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool destroy(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool show(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool setWindowTop(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool getProperty(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool eventLoop(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool refresh(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool draw(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool resize(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool loadImage(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool loadIcon(JSContext *, JSObject *, uintN, jsval *, jsval *);

}  // namespace widget
#endif
