/* File.compress and File.uncompress: zlib's one-call functions on byte
 * strings. */
#include <stdlib.h>
#include <zlib.h>

#include "engine.h"
#include "file_object.h"

namespace kx4 {

static HostApi *const &api = fileApi;

// Below this many bytes zlib is done before another thread could take the
// heap; above it, other script threads run meanwhile.
static const size_t kReleaseAbove = 64u << 10;

static int runCompress(Bytef *out, uLongf *produced, const char *bytes, size_t n) {
    return compress(out, produced, reinterpret_cast<const Bytef *>(bytes), static_cast<uLong>(n));
}

JSBool fileCompress(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "File.compress(<content>)")) return JS_FALSE;
    size_t n;
    const char *bytes = contentBytes(cx, argv[0], &n);
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    // n * 1.1 + 12 is above zlib's worst case for any input.
    uLongf capacity = static_cast<uLongf>(static_cast<double>(n) * 1.1 + 12);
    Bytef *out = static_cast<Bytef *>(malloc(capacity));
    if (!out) {
        api->reportError(cx, "File.compress: cannot allocate memory");
        return JS_FALSE;
    }
    uLongf produced = capacity;
    int rc;
    if (n > kReleaseAbove) {
        Kx4HeapReleased released(api, cx);
        rc = runCompress(out, &produced, bytes, n);
    } else {
        rc = runCompress(out, &produced, bytes, n);
    }
    if (rc != Z_OK) produced = 0;  // nothing valid to hand out
    if (rc == Z_MEM_ERROR) printReport(cx, "File.compress: Memory error");
    if (rc == Z_BUF_ERROR) printReport(cx, "File.compress: Buffer error");
    *rval = api->newStringN(cx, reinterpret_cast<const char *>(out), produced);
    free(out);
    return *rval != JSVAL_VOID;
}

// zlib's uncompress into `capacity` bytes; *produced is what it wrote.
static int runUncompress(Bytef *out, uLongf capacity, uLongf *produced, const char *bytes, size_t n) {
    const Bytef *in = reinterpret_cast<const Bytef *>(bytes);
    *produced = capacity;
    int rc = uncompress(out, produced, in, static_cast<uLong>(n));
    if (capacity == 0 && rc == Z_DATA_ERROR) {
        // zlib calls any output a data error when given no room at all: ask
        // again with room for one byte to tell "too small" from damage.
        uLongf probe = 1;
        int again = uncompress(out, &probe, in, static_cast<uLong>(n));
        if (again == Z_BUF_ERROR || (again == Z_OK && probe == 1)) rc = Z_BUF_ERROR;
        *produced = 0;
    }
    return rc;
}

JSBool fileUncompress(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 2, "File.uncompress(<content>, <result size>)")) return JS_FALSE;
    size_t n;
    const char *bytes = contentBytes(cx, argv[0], &n);
    int32_t asked = kx4ValueToInt32(api, cx, argv[1]);
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    // The capacity is an upper bound, and no script string holds more than
    // the heap: never allocate beyond that.
    size_t capacity = asked > 0 ? static_cast<size_t>(asked) : 0;
    if (capacity > kMaxScriptBytes) capacity = kMaxScriptBytes;
    Bytef *out = static_cast<Bytef *>(malloc(capacity + 1));
    if (!out) {
        api->reportError(cx, "File.uncompress: cannot allocate %lu bytes", static_cast<unsigned long>(capacity));
        return JS_FALSE;
    }
    uLongf produced;
    int rc;
    if (n > kReleaseAbove || capacity > kReleaseAbove) {
        Kx4HeapReleased released(api, cx);
        rc = runUncompress(out, static_cast<uLongf>(capacity), &produced, bytes, n);
    } else {
        rc = runUncompress(out, static_cast<uLongf>(capacity), &produced, bytes, n);
    }
    if (rc == Z_DATA_ERROR || rc == Z_NEED_DICT || rc == Z_STREAM_ERROR) {
        // Not a zlib stream, cut short, or failing its checksum: what did
        // inflate cannot be trusted.
        free(out);
        api->reportError(cx, "File.uncompress: damaged data (not a complete zlib stream, or a wrong checksum)");
        return JS_FALSE;
    }
    // On a buffer error zlib leaves the first `capacity` bytes, all written.
    if (produced > static_cast<uLongf>(capacity)) produced = 0;
    if (rc == Z_MEM_ERROR) printReport(cx, "File.uncompress: Memory error");
    if (rc == Z_BUF_ERROR) printReport(cx, "File.uncompress: Buffer error");
    *rval = api->newStringN(cx, reinterpret_cast<const char *>(out), produced);
    free(out);
    return *rval != JSVAL_VOID;
}

}  // namespace kx4
