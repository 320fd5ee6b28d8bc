/* The registry functions: string values below the predefined root keys,
 * addressed by a request record {root, path, key, value, def}. The
 * operating system's failures are never reported: reading falls back to the
 * record's default, enumerating to undefined, and writing or deleting leaves
 * the registry as it was, so a script learns of success by reading back.
 * Each registry call is short: none of them suspends the request. */
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "system_object.h"

namespace kx4 {

static HostApi *const &api = systemApi;

static const char kDefaultRoot[] = "HKEY_LOCAL_MACHINE";
static const jschar kEmpty[] = L"";

// The root is found by substring, case-sensitively, trying the names in this
// order: "HKEY_CURRENT_USER\\" still selects HKEY_CURRENT_USER, and a text
// naming two roots selects the one listed first here. Null: no root.
static HKEY rootKey(const char *name) {
    static const struct {
        const char *name;
        HKEY key;
    } kRoots[] = {
        {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},   {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
        {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE}, {"HKEY_USERS", HKEY_USERS},
        {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
    };
    for (const auto &root : kRoots)
        if (strstr(name, root.name)) return root.key;
    return nullptr;
}

// The request record: get and enum need the argument itself (the format
// error), all four report a missing or undefined record as undefined.
static JSObject *requestArg(JSContext *cx, uintN argc, jsval *argv, uintN needed, const char *usage) {
    if (!kx4RequireArgs(api, cx, argc, needed, usage)) return nullptr;
    return kx4ArgOptionRecord(api, cx, argc, argv, 0, "System", "regRequest", usage);
}

static HKEY requestRoot(JSContext *cx, JSObject *request) {
    return rootKey(api->getPropertyString(cx, request, "root", kDefaultRoot));
}

static const jschar *requestText(JSContext *cx, JSObject *request, const char *name) {
    return api->getPropertyUCString(cx, request, name, kEmpty);
}

// The data of value `name` of key `path` as a zero-terminated UTF-16 text in
// malloc'd memory, or null when there is nothing to show: the key or value
// is missing, the query failed, or the text is empty. The type is not looked
// at: the bytes are taken as UTF-16 text ending at the first zero character
// or at the end of the data (an odd last byte becomes a character of its
// own). A value too big for the first buffer is read again whole: cutting it
// would silently lose data.
static jschar *readValue(HKEY root, const jschar *path, const jschar *name) {
    HKEY key;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return nullptr;
    // Four spare zero bytes end the text after the data, whatever its length.
    const DWORD kSpare = 4;
    DWORD capacity = 4096, size = 0;
    BYTE *data = nullptr;
    LONG status = ERROR_MORE_DATA;
    // The value may grow between two queries: try again with its new size a
    // few times, then give up.
    for (int attempt = 0; attempt < 4 && status == ERROR_MORE_DATA; attempt++) {
        BYTE *bigger = static_cast<BYTE *>(realloc(data, capacity + kSpare));
        if (!bigger) break;
        data = bigger;
        memset(data, 0, capacity + kSpare);
        size = capacity;
        status = RegQueryValueExW(key, name, nullptr, nullptr, data, &size);
        if (status == ERROR_MORE_DATA) capacity = size > capacity ? size : capacity * 2;
    }
    RegCloseKey(key);
    jschar *text = reinterpret_cast<jschar *>(data);
    if (status != ERROR_SUCCESS || !text || text[0] == 0) {
        // The first character, not the first byte, decides emptiness: a text
        // starting with U+4E00 or U+0100 has a zero first byte.
        free(data);
        return nullptr;
    }
    return text;
}

JSBool systemGetRegistry(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    JSObject *request = requestArg(cx, argc, argv, 1, "System.getRegistry(<regRequest>)");
    if (!request) return JS_FALSE;
    HKEY root = requestRoot(cx, request);
    const jschar *path = requestText(cx, request, "path");
    const jschar *name = requestText(cx, request, "key");
    const jschar *def = requestText(cx, request, "def");
    jschar *text = root ? readValue(root, path, name) : nullptr;
    *rval = api->newString(cx, nullptr, text ? text : def);
    free(text);
    return JS_TRUE;
}

JSBool systemEnumRegistry(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    JSObject *request = requestArg(cx, argc, argv, 1, "System.enumRegistry(<regRequest>)");
    if (!request) return JS_FALSE;
    HKEY root = requestRoot(cx, request);
    const jschar *path = requestText(cx, request, "path");
    HKEY key;
    if (!root || RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return JS_TRUE;
    JSObject *names = api->newArray(cx, 0, nullptr);
    if (!names) {
        RegCloseKey(key);
        return JS_FALSE;
    }
    // Sub-keys only, in the registry's order, until it reports no more or
    // any error. A key name has at most 255 characters.
    for (DWORD index = 0;; index++) {
        WCHAR name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        name[length < 256 ? length : 255] = 0;
        jsval v = api->newString(cx, nullptr, name);
        api->setElement(cx, names, static_cast<int32_t>(index), &v);
    }
    RegCloseKey(key);
    *rval = OBJECT_TO_JSVAL(names);
    return JS_TRUE;
}

JSBool systemSetRegistry(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *) {
    JSObject *request = requestArg(cx, argc, argv, 0, "System.setRegistry(<regRequest>)");
    if (!request) return JS_FALSE;
    HKEY root = requestRoot(cx, request);
    const jschar *path = requestText(cx, request, "path");
    const jschar *name = requestText(cx, request, "key");
    const jschar *value = requestText(cx, request, "value");
    HKEY key;
    if (!root || RegCreateKeyExW(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                                 nullptr) != ERROR_SUCCESS)
        return JS_TRUE;
    // REG_SZ data: the characters up to the first zero, without a terminator.
    DWORD bytes = static_cast<DWORD>(lstrlenW(value)) * sizeof(jschar);
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value), bytes);
    RegCloseKey(key);
    return JS_TRUE;
}

JSBool systemDelRegistry(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *) {
    JSObject *request = requestArg(cx, argc, argv, 0, "System.delRegistry(<regRequest>)");
    if (!request) return JS_FALSE;
    HKEY root = requestRoot(cx, request);
    const jschar *path = requestText(cx, request, "path");
    const jschar *name = requestText(cx, request, "key");
    if (!root) return JS_TRUE;
    if (name[0]) {
        HKEY key;
        if (RegOpenKeyExW(root, path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return JS_TRUE;
        RegDeleteValueW(key, name);
        RegCloseKey(key);
    } else {
        // Without a value name the key itself goes; the system refuses a key
        // that still has sub-keys.
        RegDeleteKeyW(root, path);
    }
    return JS_TRUE;
}

}  // namespace kx4
