// kx4ui.dll: the module entry and the Widget function table.
#include "widget.h"

namespace widget {

HostApi *api;
HINSTANCE instance;
JSContext *eventContext;
DWORD eventThread;

void setEventContext(JSContext *cx) {
    eventContext = cx;
    eventThread = GetCurrentThreadId();
}

namespace {

// Tray icon, menus, dialogs and sounds come in a later version of the
// module. Until then their entries check their arguments like the others
// and then fail plainly, so no script mistakes them for working calls.
template <const char *const *Usage, const char *const *Name>
JSBool notYet(JSContext *cx, JSObject *, uintN argc, jsval *, jsval *) {
    if (!kx4RequireArgs(api, cx, argc, 1, *Usage)) return JS_FALSE;
    api->reportError(cx, "%s: not available in this version of kx4ui", *Name);
    return JS_FALSE;
}

#define KX4_NOT_YET(fn, usage)                                        \
    const char *const fn##Usage = usage;                              \
    const char *const fn##Name = "Widget." #fn;                       \
    const JSNative fn = notYet<&fn##Usage, &fn##Name>;

KX4_NOT_YET(setSystray, "Widget.setSystray(<cmp>)")
KX4_NOT_YET(popupMenu, "Widget.popupMenu(<cmp>)")
KX4_NOT_YET(messageBox, "Widget.messageBox(<cmp>)")
KX4_NOT_YET(playSound, "Widget.playSound(<alias>)")
KX4_NOT_YET(openFileDialog, "Widget.openFileDialog(<cmp>)")
KX4_NOT_YET(openDirDialog, "Widget.openDirDialog(<cmp>)")

const JSFunctionSpec widgetFunctions[] = {
    JS_FS("init", init, 0),
    JS_FS("create", create, 1),
    JS_FS("destroy", destroy, 1),
    JS_FS("show", show, 1),
    JS_FS("setWindowTop", setWindowTop, 1),
    JS_FS("refresh", refresh, 1),
    JS_FS("draw", draw, 1),
    JS_FS("resize", resize, 1),
    JS_FS("loadImage", loadImage, 1),
    JS_FS("loadIcon", loadIcon, 1),
    JS_FS("getProperty", getProperty, 2),
    JS_FS("setSystray", setSystray, 1),
    JS_FS("eventLoop", eventLoop, 0),
    JS_FS("popupMenu", popupMenu, 1),
    JS_FS("messageBox", messageBox, 1),
    JS_FS("playSound", playSound, 1),
    JS_FS("openFileDialog", openFileDialog, 1),
    JS_FS("openDirDialog", openDirDialog, 1),
    JS_FS_END,
};

}  // namespace
}  // namespace widget

extern "C" BOOL WINAPI DllMain(HINSTANCE hinst, DWORD, LPVOID) {
    widget::instance = hinst;
    return TRUE;
}

// Every load defines a new Widget object on the caller's global object; the
// event context and the registered class stay as they were.
KX4_MODULE_INIT {
    widget::api = hostApi;
    kx4DefineObject(hostApi, cx, "Widget", widget::widgetFunctions);
}
