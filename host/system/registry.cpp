/* The registry functions: string values below the predefined root keys,
 * addressed by a request record {root, path, key, value, def}. The
 * operating system's failures are never reported: reading falls back to the
 * record's default, enumerating to undefined, and writing or deleting leaves
 * the registry as it was, so a script learns of success by reading back.
 *
 * Each native reads its request record once, acts only when no conversion
 * threw (a throwing path must not turn into the root key, nor a throwing
 * value name into "delete the whole key"), and makes its registry calls
 * with the heap released: a registry on a remote profile or a busy machine
 * can take its time. */
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

// The fields of a request record; each native reads only those it uses.
enum RequestField { kPath = 1, kKey = 2, kValue = 4, kDef = 8 };

struct Request {
    HKEY root;  // null: no root
    const jschar *path, *key, *value, *def;
};

// Reads the record's fields (root always, then the ones asked for, in the
// record's order) with their defaults. False when a conversion threw: its
// error is pending and nothing may be done.
static bool readRequest(JSContext *cx, JSObject *record, unsigned fields, Request *r) {
    r->root = rootKey(api->getPropertyString(cx, record, "root", kDefaultRoot));
    r->path = r->key = r->value = r->def = kEmpty;
    if (fields & kPath) r->path = api->getPropertyUCString(cx, record, "path", kEmpty);
    if (fields & kKey) r->key = api->getPropertyUCString(cx, record, "key", kEmpty);
    if (fields & kValue) r->value = api->getPropertyUCString(cx, record, "value", kEmpty);
    if (fields & kDef) r->def = api->getPropertyUCString(cx, record, "def", kEmpty);
    return !kx4ErrorPending(api, cx);
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
    JSObject *record = requestArg(cx, argc, argv, 1, "System.getRegistry(<regRequest>)");
    Request r;
    if (!record || !readRequest(cx, record, kPath | kKey | kDef, &r)) return JS_FALSE;
    jschar *text = nullptr;
    if (r.root) {
        Kx4HeapReleased released(api, cx);
        text = readValue(r.root, r.path, r.key);
    }
    *rval = api->newString(cx, nullptr, text ? text : r.def);
    free(text);
    return JS_TRUE;
}

// The names of a key's sub-keys, in the registry's order, until it reports
// no more or any error; a key name has at most 255 characters. False when
// the key cannot be opened. No engine call in here.
static bool subKeyNames(HKEY root, const jschar *path, WCHAR (**names)[256], DWORD *count) {
    HKEY key;
    *names = nullptr;
    *count = 0;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    DWORD capacity = 0;
    for (DWORD index = 0;; index++) {
        if (index == capacity) {
            DWORD bigger = capacity ? capacity * 2 : 16;
            auto grown = static_cast<WCHAR(*)[256]>(realloc(*names, bigger * sizeof **names));
            if (!grown) break;  // the names gathered so far
            *names = grown;
            capacity = bigger;
        }
        WCHAR *name = (*names)[index];
        DWORD length = 256;
        if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        name[length < 256 ? length : 255] = 0;
        *count = index + 1;
    }
    RegCloseKey(key);
    return true;
}

JSBool systemEnumRegistry(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    JSObject *record = requestArg(cx, argc, argv, 1, "System.enumRegistry(<regRequest>)");
    Request r;
    if (!record || !readRequest(cx, record, kPath, &r)) return JS_FALSE;
    if (!r.root) return JS_TRUE;
    WCHAR(*names)[256];
    DWORD count;
    bool opened;
    {
        Kx4HeapReleased released(api, cx);
        opened = subKeyNames(r.root, r.path, &names, &count);
    }
    if (!opened) return JS_TRUE;
    JSObject *list = api->newArray(cx, 0, nullptr);
    for (DWORD i = 0; list && i < count; i++) {
        jsval v = api->newString(cx, nullptr, names[i]);
        api->setElement(cx, list, static_cast<int32_t>(i), &v);
    }
    free(names);
    if (!list) return JS_FALSE;
    *rval = OBJECT_TO_JSVAL(list);
    return JS_TRUE;
}

JSBool systemSetRegistry(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *) {
    JSObject *record = requestArg(cx, argc, argv, 0, "System.setRegistry(<regRequest>)");
    Request r;
    if (!record || !readRequest(cx, record, kPath | kKey | kValue, &r)) return JS_FALSE;
    if (!r.root) return JS_TRUE;
    Kx4HeapReleased released(api, cx);
    HKEY key;
    if (RegCreateKeyExW(r.root, r.path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return JS_TRUE;
    // REG_SZ data: the characters up to the first zero, without a terminator.
    DWORD bytes = static_cast<DWORD>(lstrlenW(r.value)) * sizeof(jschar);
    RegSetValueExW(key, r.key, 0, REG_SZ, reinterpret_cast<const BYTE *>(r.value), bytes);
    RegCloseKey(key);
    return JS_TRUE;
}

JSBool systemDelRegistry(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *) {
    JSObject *record = requestArg(cx, argc, argv, 0, "System.delRegistry(<regRequest>)");
    Request r;
    if (!record || !readRequest(cx, record, kPath | kKey, &r)) return JS_FALSE;
    if (!r.root) return JS_TRUE;
    Kx4HeapReleased released(api, cx);
    if (r.key[0]) {
        HKEY key;
        if (RegOpenKeyExW(r.root, r.path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return JS_TRUE;
        RegDeleteValueW(key, r.key);
        RegCloseKey(key);
    } else {
        // Without a value name the key itself goes; the system refuses a key
        // that still has sub-keys.
        RegDeleteKeyW(r.root, r.path);
    }
    return JS_TRUE;
}

}  // namespace kx4
