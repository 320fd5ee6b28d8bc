// How every native reads and writes component properties.
#include "widget.h"

namespace widget {

int32_t readInt(JSContext *cx, JSObject *cmp, const char *name, int32_t def) {
    return kx4FieldInt32(api, cx, cmp, name, def);
}

HANDLE readHandle(JSContext *cx, JSObject *cmp, const char *name) {
    // Handles are 32-bit values on both targets (even 64-bit Windows keeps
    // window, menu and GDI handles within 32 bits), read like any number.
    return (HANDLE)(intptr_t)readInt(cx, cmp, name, 0);
}

const char *readText(JSContext *cx, JSObject *cmp, const char *name, const char *def) {
    return api->getPropertyString(cx, cmp, name, def);
}

const wchar_t *readUText(JSContext *cx, JSObject *cmp, const char *name, const wchar_t *def) {
    return api->getPropertyUCString(cx, cmp, name, def);
}

bool hasLetter(const char *s, char c) {
    for (; s && *s; ++s)
        if (*s == c) return true;
    return false;
}

bool componentArg(JSContext *cx, uintN argc, jsval *argv, const char *usage, JSObject **cmp) {
    if (!kx4RequireArgs(api, cx, argc, 1, usage)) return false;
    *cmp = kx4ArgOptionRecord(api, cx, argc, argv, 0, "Widget", "Component", usage);
    return *cmp != 0;
}

bool writeValue(JSContext *cx, JSObject *cmp, const char *name, jsval v, uintN attrs) {
    return api->defineProperty(cx, cmp, name, v, 0, 0, attrs) != 0;
}

bool writeNumber(JSContext *cx, JSObject *cmp, const char *name, double d, uintN attrs) {
    return writeValue(cx, cmp, name, api->newNumber(cx, d), attrs);
}

}  // namespace widget
