/* The file-system functions of File: thin wrappers around one runtime call
 * each on a wide-character path. Failures are results (false, an empty
 * array or string), never messages. */
#include <direct.h>
#include <io.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/utime.h>
#include <wchar.h>

#include "file_object.h"

namespace kx4 {

static HostApi *const &api = fileApi;

static const jschar *pathArg(JSContext *cx, jsval *argv) { return api->valueToUCString(cx, argv[0]); }

// One runtime call on one path that returns 0 on success (remove, mkdir,
// chdir, rmdir): true or false.
static JSBool pathCall(JSContext *cx, uintN argc, jsval *argv, jsval *rval, const char *usage,
                       int (*call)(const wchar_t *)) {
    if (!kx4RequireArgs(api, cx, argc, 1, usage)) return JS_FALSE;
    *rval = BOOLEAN_TO_JSVAL(call(pathArg(cx, argv)) == 0);
    return JS_TRUE;
}

JSBool fileStatus(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "File.status(<path>)")) return JS_FALSE;
    struct _stat64 st;
    *rval = JSVAL_FALSE;
    if (_wstat64(pathArg(cx, argv), &st) != 0) return JS_TRUE;
    JSObject *status = api->newObject(cx, nullptr);
    if (!status) return JS_FALSE;
    // Sizes are 32-bit quantities: a larger file reports -1 rather than a
    // wrapped size.
    double size = st.st_size <= INT32_MAX ? static_cast<double>(st.st_size) : -1;
    kx4DefineResultNumber(api, cx, status, "size", size);
    kx4DefineResultNumber(api, cx, status, "time", static_cast<double>(st.st_mtime) * 1000.0);
    kx4DefineResultString(api, cx, status, "type", (st.st_mode & _S_IFDIR) ? "dir" : "file");
    *rval = OBJECT_TO_JSVAL(status);
    return JS_TRUE;
}

JSBool fileRemove(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    return pathCall(cx, argc, argv, rval, "File.remove(<path>)", _wremove);
}

JSBool fileSetTime(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 2, "File.setTime(<path>, <time>)")) return JS_FALSE;
    // Milliseconds, as status and File.time give them, to whole seconds.
    double ms = api->valueToNumber(cx, argv[1]);
    *rval = JSVAL_FALSE;
    if (!(ms == ms) || ms > 9.2e18 || ms < -9.2e18) return JS_TRUE;
    struct __utimbuf64 times;
    times.actime = times.modtime = static_cast<__time64_t>(ms / 1000.0);
    *rval = BOOLEAN_TO_JSVAL(_wutime64(pathArg(cx, argv), &times) == 0);
    return JS_TRUE;
}

JSBool fileCreateDir(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    return pathCall(cx, argc, argv, rval, "File.createDir(<path>)", _wmkdir);
}

JSBool fileChangeDir(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    return pathCall(cx, argc, argv, rval, "File.changeDir(<path>)", _wchdir);
}

JSBool fileRemoveDir(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    return pathCall(cx, argc, argv, rval, "File.removeDir(<path>)", _wrmdir);
}

// The argument is a search pattern ("dir/*.*" lists dir), not a folder.
JSBool fileOpenDir(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "File.openDir(<path>)")) return JS_FALSE;
    JSObject *list = api->newArray(cx, 0, nullptr);
    if (!list) return JS_FALSE;
    *rval = OBJECT_TO_JSVAL(list);
    struct _wfinddata64_t found;
    intptr_t search = _wfindfirst64(pathArg(cx, argv), &found);
    if (search == -1) return JS_TRUE;
    int32_t index = 0;
    do {
        JSObject *entry = api->newObject(cx, nullptr);
        if (!entry) break;
        kx4DefineResult(api, cx, entry, "name", api->newString(cx, nullptr, found.name));
        kx4DefineResultString(api, cx, entry, "type", (found.attrib & _A_SUBDIR) ? "dir" : "file");
        jsval v = OBJECT_TO_JSVAL(entry);
        api->setElement(cx, list, index++, &v);
    } while (_wfindnext64(search, &found) == 0);
    _findclose(search);
    return JS_TRUE;
}

JSBool fileGetCurrentWorkingDir(JSContext *cx, JSObject *, uintN, jsval *, jsval *rval) {
    wchar_t *dir = _wgetcwd(nullptr, 0);
    *rval = api->newString(cx, nullptr, dir ? dir : L"");
    free(dir);
    return JS_TRUE;
}

}  // namespace kx4
