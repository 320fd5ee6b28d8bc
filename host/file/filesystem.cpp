/* The file-system functions of File: thin wrappers around one runtime call
 * each on a wide-character path. Failures are results (false, an empty
 * array or string), never messages. The path is converted first; the call
 * itself runs with the heap released, since a disk (or a network share)
 * can keep it waiting. */
#include <direct.h>
#include <io.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/utime.h>
#include <wchar.h>

#include <string>
#include <vector>

#include "file_object.h"

namespace kx4 {

static HostApi *const &api = fileApi;

// One runtime call on one path that returns 0 on success (remove, mkdir,
// chdir, rmdir): true or false.
static JSBool pathCall(JSContext *cx, uintN argc, jsval *argv, jsval *rval, const char *usage,
                       int (*call)(const wchar_t *)) {
    if (!kx4RequireArgs(api, cx, argc, 1, usage)) return JS_FALSE;
    const jschar *path = api->valueToUCString(cx, argv[0]);
    if (kx4ErrorPending(api, cx) || !path) return JS_FALSE;
    int rc;
    {
        Kx4HeapReleased released(api, cx);
        rc = call(path);
    }
    *rval = BOOLEAN_TO_JSVAL(rc == 0);
    return JS_TRUE;
}

JSBool fileStatus(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "File.status(<path>)")) return JS_FALSE;
    const jschar *path = api->valueToUCString(cx, argv[0]);
    if (kx4ErrorPending(api, cx) || !path) return JS_FALSE;
    struct _stat64 st;
    int rc;
    {
        Kx4HeapReleased released(api, cx);
        rc = _wstat64(path, &st);
    }
    *rval = JSVAL_FALSE;
    if (rc != 0) return JS_TRUE;
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
    const jschar *path = api->valueToUCString(cx, argv[0]);
    // Milliseconds, as status and File.time give them, to whole seconds.
    double ms = api->valueToNumber(cx, argv[1]);
    if (kx4ErrorPending(api, cx) || !path) return JS_FALSE;
    *rval = JSVAL_FALSE;
    if (!(ms == ms) || ms > 9.2e18 || ms < -9.2e18) return JS_TRUE;
    struct __utimbuf64 times;
    times.actime = times.modtime = static_cast<__time64_t>(ms / 1000.0);
    int rc;
    {
        Kx4HeapReleased released(api, cx);
        rc = _wutime64(path, &times);
    }
    *rval = BOOLEAN_TO_JSVAL(rc == 0);
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
    const jschar *pattern = api->valueToUCString(cx, argv[0]);
    if (kx4ErrorPending(api, cx) || !pattern) return JS_FALSE;
    // The listing is gathered with the heap released, then made into
    // script objects.
    struct Found {
        std::wstring name;
        bool dir;
    };
    std::vector<Found> found;
    bool complete = true;
    {
        Kx4HeapReleased released(api, cx);
        try {
            struct _wfinddata64_t data;
            intptr_t search = _wfindfirst64(pattern, &data);
            if (search != -1) {
                do {
                    found.push_back(Found{data.name, (data.attrib & _A_SUBDIR) != 0});
                } while (_wfindnext64(search, &data) == 0);
                _findclose(search);
            }
        } catch (...) {
            complete = false;  // out of memory: no C++ exception leaves a native
        }
    }
    if (!complete) {
        api->reportError(cx, "File.openDir: cannot allocate memory");
        return JS_FALSE;
    }
    JSObject *list = api->newArray(cx, 0, nullptr);
    if (!list) return JS_FALSE;
    *rval = OBJECT_TO_JSVAL(list);
    int32_t index = 0;
    for (const Found &f : found) {
        JSObject *entry = api->newObject(cx, nullptr);
        if (!entry) return JS_FALSE;
        kx4DefineResult(api, cx, entry, "name", api->newString(cx, nullptr, f.name.c_str()));
        kx4DefineResultString(api, cx, entry, "type", f.dir ? "dir" : "file");
        jsval v = OBJECT_TO_JSVAL(entry);
        api->setElement(cx, list, index++, &v);
    }
    return JS_TRUE;
}

JSBool fileGetCurrentWorkingDir(JSContext *cx, JSObject *, uintN, jsval *, jsval *rval) {
    wchar_t *dir;
    {
        Kx4HeapReleased released(api, cx);
        dir = _wgetcwd(nullptr, 0);
    }
    *rval = api->newString(cx, nullptr, dir ? dir : L"");
    free(dir);
    return JS_TRUE;
}

}  // namespace kx4
