/* open, close, read, write, seek: one stdio stream per File object.
 *
 * Every method converts its arguments before it looks at the object (a
 * toString or valueOf may close or re-open the very File in use), and
 * waits on the disk with the heap released. While it waits another script
 * thread may call close or open on the same object: the stream stays
 * counted as in use (StreamUse) and those wait until it is free; new uses
 * in turn wait for an open or close that is waiting (StreamChange). */
#include <share.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <string>

#include "file_object.h"

namespace kx4 {

static HostApi *const &api = fileApi;

// What a stream can still give: a regular file's size less the position.
// A count far beyond the end then allocates nothing it cannot fill.
// Devices and pipes have no such size: the count stands.
static size_t readableBytes(FILE *stream, size_t want) {
    struct _stat64 st;
    long long pos = _ftelli64(stream);
    if (pos < 0 || _fstat64(_fileno(stream), &st) != 0 || !(st.st_mode & _S_IFREG)) return want;
    unsigned long long left = st.st_size > pos ? static_cast<unsigned long long>(st.st_size - pos) : 0;
    return left < want ? static_cast<size_t>(left) : want;
}

// A wide path as 8-bit text for a message, one byte per unit as the
// engine's own conversion gives it.
static std::string narrow(const jschar *text) {
    std::string out;
    for (; *text; ++text) out += static_cast<char>(*text & 0xFF);
    return out;
}

JSBool fileOpen(JSContext *cx, JSObject *obj, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 2, "File.open(<path>, <mode>)")) return JS_FALSE;
    const jschar *path = api->valueToUCString(cx, argv[0]);
    const jschar *mode = api->valueToUCString(cx, argv[1]);
    if (kx4ErrorPending(api, cx) || !path || !mode) return JS_FALSE;
    FileRecord *record = fileRecordOf(cx, obj, "File.open: not a File object");
    if (!record) return JS_FALSE;
    *rval = JSVAL_FALSE;
    kx4DefineResult(api, cx, obj, "path", argv[0]);
    kx4DefineResult(api, cx, obj, "mode", argv[1]);

    StreamChange change(cx, record);
    // A stream still open is closed, not leaked.
    FILE *old = record->stream;
    record->stream = nullptr;
    record->generation++;
    FILE *stream;
    bool known = false, tooLarge = false;
    struct _stat64 st;
    {
        StreamUse use(record);  // other opens and closes wait for this one
        Kx4HeapReleased released(api, cx);
        if (old) fclose(old);
        stream = _wfsopen(path, mode, _SH_DENYNO);
        if (stream && _fstat64(_fileno(stream), &st) == 0) {
            known = true;
            if (st.st_size > INT32_MAX) {
                // Sizes and positions are 32-bit: refuse rather than wrap.
                fclose(stream);
                stream = nullptr;
                tooLarge = true;
            }
        }
    }
    record->stream = stream;
    if (stream) {
        if (known) {
            record->length = static_cast<int32_t>(st.st_size);
            record->mtime = st.st_mtime;
        }
        *rval = JSVAL_TRUE;
    }
    kx4DefineResultNumber(api, cx, obj, "length", record->length);
    kx4DefineResultNumber(api, cx, obj, "time", static_cast<double>(record->mtime) * 1000.0);
    kx4DefineResultNumber(api, cx, obj, "pos", record->pos);
    if (tooLarge) {
        api->reportError(cx, "File.open: '%s' is 2 GiB or larger", narrow(path).c_str());
        return JS_FALSE;
    }
    return JS_TRUE;
}

// true when the stream was flushed and closed, false when either failed
// (buffered bytes may then be lost); undefined on a closed object.
JSBool fileClose(JSContext *cx, JSObject *obj, uintN, jsval *, jsval *rval) {
    FileRecord *record = fileRecordOf(cx, obj, "File.close: not a File object");
    if (!record) return JS_FALSE;
    if (!record->stream) return JS_TRUE;
    StreamChange change(cx, record);
    FILE *stream = record->stream;
    if (!stream) return JS_TRUE;  // another thread closed it meanwhile
    record->stream = nullptr;
    record->generation++;
    bool ok;
    {
        StreamUse use(record);  // an open meanwhile waits for the flush
        Kx4HeapReleased released(api, cx);
        // Flushed on its own first: some C runtimes' fclose forgets a
        // failure of its own flush.
        ok = fflush(stream) == 0;
        ok = fclose(stream) == 0 && ok;
    }
    *rval = BOOLEAN_TO_JSVAL(ok);
    return JS_TRUE;
}

JSBool fileRead(JSContext *cx, JSObject *obj, uintN argc, jsval *argv, jsval *rval) {
    bool counted = kx4HasArg(argc, argv, 0);
    int32_t n = counted ? kx4ValueToInt32(api, cx, argv[0]) : 0;
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    FileRecord *record = fileRecordOf(cx, obj, "File.read: not a File object");
    if (!record) return JS_FALSE;
    if (!record->stream) return JS_TRUE;
    // Without a count: the size at open, whatever the position. A negative
    // count reads nothing.
    if (!counted) n = record->length;
    size_t want = n > 0 ? static_cast<size_t>(n) : 0;

    RecordPin pin(record);
    if (!streamReady(cx, record)) return JS_TRUE;
    StreamUse use(record);
    FILE *stream = record->stream;
    // Transfer buffers live outside the script heap: a 16 MiB read must not
    // need 16 MiB of the heap's 32 besides the string it becomes.
    char *buffer = nullptr;
    size_t got = 0;
    long long pos;
    bool tooLarge = false;
    {
        Kx4HeapReleased released(api, cx);
        want = readableBytes(stream, want);
        if (want > kMaxScriptBytes)
            tooLarge = true;
        else if ((buffer = static_cast<char *>(malloc(want + 1))))
            got = fread(buffer, 1, want, stream);
        pos = _ftelli64(stream);
    }
    if (tooLarge) {
        // Refused before reading: the position stays where it was.
        api->reportError(cx, "File.read: %lu bytes do not fit in a script string; read in pieces",
                         static_cast<unsigned long>(want));
        return JS_FALSE;
    }
    if (!buffer) {
        api->reportError(cx, "File.read: cannot allocate %lu bytes", static_cast<unsigned long>(want));
        return JS_FALSE;
    }
    *rval = api->newStringN(cx, buffer, got);
    free(buffer);
    publishFilePosition(cx, obj, record, pos);
    return *rval != JSVAL_VOID;
}

JSBool fileWrite(JSContext *cx, JSObject *obj, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "File.write(<content>)")) return JS_FALSE;
    size_t count;
    const char *bytes = contentBytes(cx, argv[0], &count);
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    FileRecord *record = fileRecordOf(cx, obj, "File.write: not a File object");
    if (!record) return JS_FALSE;
    if (!record->stream) return JS_TRUE;

    RecordPin pin(record);
    if (!streamReady(cx, record)) return JS_TRUE;
    StreamUse use(record);
    FILE *stream = record->stream;
    size_t written;
    long long pos;
    {
        // The bytes belong to a string this call holds: they stay put.
        Kx4HeapReleased released(api, cx);
        written = fwrite(bytes, 1, count, stream);
        pos = _ftelli64(stream);
    }
    *rval = api->newNumber(cx, static_cast<double>(written));
    publishFilePosition(cx, obj, record, pos);
    return JS_TRUE;
}

JSBool fileSeek(JSContext *cx, JSObject *obj, uintN argc, jsval *argv, jsval *) {
    if (!kx4RequireArgs(api, cx, argc, 1, "File.seek(<pos>)")) return JS_FALSE;
    // Negative: that many bytes back from the end.
    int32_t n = kx4ValueToInt32(api, cx, argv[0]);
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    FileRecord *record = fileRecordOf(cx, obj, "File.seek: not a File object");
    if (!record) return JS_FALSE;
    if (!record->stream) return JS_TRUE;

    RecordPin pin(record);
    if (!streamReady(cx, record)) return JS_TRUE;
    StreamUse use(record);
    FILE *stream = record->stream;
    long long pos;
    {
        Kx4HeapReleased released(api, cx);
        _fseeki64(stream, n, n >= 0 ? SEEK_SET : SEEK_END);
        pos = _ftelli64(stream);
    }
    publishFilePosition(cx, obj, record, pos);
    return JS_TRUE;
}

}  // namespace kx4
