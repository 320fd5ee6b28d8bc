/* open, close, read, write, seek: one stdio stream per File object. */
#include <share.h>
#include <stdlib.h>
#include <sys/stat.h>

#include "file_object.h"

namespace kx4 {

static HostApi *const &api = fileApi;

JSBool fileOpen(JSContext *cx, JSObject *obj, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 2, "File.open(<path>, <mode>)")) return JS_FALSE;
    FileRecord *record = fileRecordOf(cx, obj, "File.open");
    if (!record) return JS_FALSE;
    *rval = JSVAL_FALSE;
    kx4DefineResult(api, cx, obj, "path", argv[0]);
    kx4DefineResult(api, cx, obj, "mode", argv[1]);
    const jschar *path = api->getPropertyUCString(cx, obj, "path", L"");
    const jschar *mode = api->getPropertyUCString(cx, obj, "mode", L"");
    // A stream still open is closed, not leaked.
    if (record->stream) fclose(record->stream);
    record->stream = _wfsopen(path, mode, _SH_DENYNO);
    bool tooLarge = false;
    if (record->stream) {
        struct _stat64 st;
        if (_fstat64(_fileno(record->stream), &st) == 0) {
            if (st.st_size > INT32_MAX) {
                // Sizes and positions are 32-bit: refuse rather than wrap.
                fclose(record->stream);
                record->stream = nullptr;
                tooLarge = true;
            } else {
                record->length = static_cast<int32_t>(st.st_size);
                record->mtime = st.st_mtime;
            }
        }
        if (record->stream) *rval = JSVAL_TRUE;
    }
    kx4DefineResultNumber(api, cx, obj, "length", record->length);
    kx4DefineResultNumber(api, cx, obj, "time", static_cast<double>(record->mtime) * 1000.0);
    kx4DefineResultNumber(api, cx, obj, "pos", record->pos);
    if (tooLarge) {
        api->reportError(cx, "File.open: '%s' is 2 GiB or larger", api->valueToString(cx, argv[0]));
        return JS_FALSE;
    }
    return JS_TRUE;
}

JSBool fileClose(JSContext *cx, JSObject *obj, uintN, jsval *, jsval *) {
    FileRecord *record = fileRecordOf(cx, obj, "File.close");
    if (!record) return JS_FALSE;
    if (record->stream) {
        fclose(record->stream);
        record->stream = nullptr;
    }
    return JS_TRUE;
}

JSBool fileRead(JSContext *cx, JSObject *obj, uintN argc, jsval *argv, jsval *rval) {
    FileRecord *record = fileRecordOf(cx, obj, "File.read");
    if (!record) return JS_FALSE;
    if (!record->stream) return JS_TRUE;
    // Without a count: the size at open, whatever the position. A negative
    // count reads nothing.
    int32_t n = kx4ArgInt32(api, cx, argc, argv, 0, record->length);
    if (n < 0) n = 0;
    // Transfer buffers live outside the script heap: a 16 MiB read must not
    // need 16 MiB of the heap's 32 besides the string it becomes.
    char *buffer = static_cast<char *>(malloc(static_cast<size_t>(n) + 1));
    if (!buffer) {
        api->reportError(cx, "File.read: cannot allocate %ld bytes", static_cast<long>(n));
        return JS_FALSE;
    }
    intN depth = api->suspendRequest(cx);
    size_t got = fread(buffer, 1, static_cast<size_t>(n), record->stream);
    api->resumeRequest(cx, depth);
    *rval = api->newStringN(cx, buffer, got);
    free(buffer);
    updateFilePosition(cx, obj, record);
    return *rval != JSVAL_VOID;
}

JSBool fileWrite(JSContext *cx, JSObject *obj, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "File.write(<content>)")) return JS_FALSE;
    FileRecord *record = fileRecordOf(cx, obj, "File.write");
    if (!record) return JS_FALSE;
    if (!record->stream) return JS_TRUE;
    size_t count;
    const char *bytes = contentBytes(cx, argv[0], &count);
    size_t written = fwrite(bytes, 1, count, record->stream);
    *rval = api->newNumber(cx, static_cast<double>(written));
    updateFilePosition(cx, obj, record);
    return JS_TRUE;
}

JSBool fileSeek(JSContext *cx, JSObject *obj, uintN argc, jsval *argv, jsval *) {
    if (!kx4RequireArgs(api, cx, argc, 1, "File.seek(<pos>)")) return JS_FALSE;
    FileRecord *record = fileRecordOf(cx, obj, "File.seek");
    if (!record) return JS_FALSE;
    if (!record->stream) return JS_TRUE;
    // Negative: that many bytes back from the end.
    int32_t n = kx4ValueToInt32(api, cx, argv[0]);
    _fseeki64(record->stream, n, n >= 0 ? SEEK_SET : SEEK_END);
    updateFilePosition(cx, obj, record);
    return JS_TRUE;
}

}  // namespace kx4
