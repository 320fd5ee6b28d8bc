/* File.compress and File.uncompress: zlib's one-call functions on byte
 * strings. */
#include <stdlib.h>
#include <zlib.h>

#include "engine.h"
#include "file_object.h"

namespace kx4 {

static HostApi *const &api = fileApi;

JSBool fileCompress(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "File.compress(<content>)")) return JS_FALSE;
    size_t n;
    const char *bytes = contentBytes(cx, argv[0], &n);
    // n * 1.1 + 12 is above zlib's worst case for any input.
    uLongf capacity = static_cast<uLongf>(static_cast<double>(n) * 1.1 + 12);
    Bytef *out = static_cast<Bytef *>(malloc(capacity));
    if (!out) {
        api->reportError(cx, "File.compress: cannot allocate memory");
        return JS_FALSE;
    }
    uLongf produced = capacity;
    intN depth = api->suspendRequest(cx);
    int rc = compress(out, &produced, reinterpret_cast<const Bytef *>(bytes), static_cast<uLong>(n));
    api->resumeRequest(cx, depth);
    if (rc != Z_OK) produced = 0;  // nothing valid to hand out
    if (rc == Z_MEM_ERROR) printReport(cx, "File.compress: Memory error");
    if (rc == Z_BUF_ERROR) printReport(cx, "File.compress: Buffer error");
    *rval = api->newStringN(cx, reinterpret_cast<const char *>(out), produced);
    free(out);
    return *rval != JSVAL_VOID;
}

JSBool fileUncompress(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 2, "File.uncompress(<content>, <result size>)")) return JS_FALSE;
    size_t n;
    const char *bytes = contentBytes(cx, argv[0], &n);
    int32_t capacity = kx4ValueToInt32(api, cx, argv[1]);
    if (capacity < 0) capacity = 0;
    Bytef *out = static_cast<Bytef *>(malloc(static_cast<size_t>(capacity) + 1));
    if (!out) {
        api->reportError(cx, "File.uncompress: cannot allocate %ld bytes", static_cast<long>(capacity));
        return JS_FALSE;
    }
    uLongf produced = static_cast<uLongf>(capacity);
    intN depth = api->suspendRequest(cx);
    int rc = uncompress(out, &produced, reinterpret_cast<const Bytef *>(bytes), static_cast<uLong>(n));
    if (capacity == 0 && rc == Z_DATA_ERROR) {
        // zlib calls any output a data error when given no room at all: ask
        // again with room for one byte to tell "too small" from damage.
        uLongf probe = 1;
        int again = uncompress(out, &probe, reinterpret_cast<const Bytef *>(bytes), static_cast<uLong>(n));
        if (again == Z_BUF_ERROR || (again == Z_OK && probe == 1)) rc = Z_BUF_ERROR;
        produced = 0;
    }
    api->resumeRequest(cx, depth);
    // zlib leaves the count of bytes it produced in every case, so a buffer
    // error gives the first `capacity` bytes and damaged input what inflated
    // before the damage: never uninitialised memory.
    if (produced > static_cast<uLongf>(capacity)) produced = 0;
    if (rc == Z_MEM_ERROR) printReport(cx, "File.uncompress: Memory error");
    if (rc == Z_BUF_ERROR) printReport(cx, "File.uncompress: Buffer error");
    *rval = api->newStringN(cx, reinterpret_cast<const char *>(out), produced);
    free(out);
    return *rval != JSVAL_VOID;
}

}  // namespace kx4
