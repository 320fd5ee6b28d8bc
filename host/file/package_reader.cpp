/* initAFS and extract: the package appended to an executable, read through a
 * File object's stream. The format logic (and every bound check) is in
 * package_format.cpp; this file is the glue to the engine. A damaged
 * package gives a clear error, never a read outside a buffer. */
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "file_object.h"
#include "package_format.h"

namespace kx4 {

static HostApi *const &api = fileApi;

namespace {

class StreamSource : public ByteSource {
public:
    explicit StreamSource(FILE *stream) : stream_(stream) {}
    int64_t size() override {
        if (_fseeki64(stream_, 0, SEEK_END) != 0) return -1;
        return _ftelli64(stream_);
    }
    size_t readAt(int64_t offset, void *buffer, size_t count) override {
        if (_fseeki64(stream_, offset, SEEK_SET) != 0) return 0;
        return fread(buffer, 1, count, stream_);
    }

private:
    FILE *stream_;
};

// The directory text evaluates to script: it may be large, but it must fit
// the script heap anyway.
const size_t kMaxDirectory = 32u << 20;
// An entry becomes one script string, which must fit the heap too.
const int64_t kMaxEntry = 64 << 20;

// Rewinds the stream and publishes pos = 0, whatever initAFS found.
void rewind(JSContext *cx, JSObject *obj, FileRecord *record) {
    _fseeki64(record->stream, 0, SEEK_SET);
    record->pos = 0;
    kx4DefineResultNumber(api, cx, obj, "pos", 0);
}

JSBool damaged(JSContext *cx, JSObject *obj, FileRecord *record, const char *what) {
    rewind(cx, obj, record);
    api->reportError(cx, "AFS: damaged package: %s", what);
    return JS_FALSE;
}

// Reads an entry's numeric field as a 32-bit integer; false if it is missing
// or not a whole number in range.
bool entryField(JSContext *cx, JSObject *entry, const char *name, int64_t *value) {
    double d = api->getPropertyNumber(cx, entry, name, -1);
    if (!(d >= 0 && d <= INT32_MAX) || d != static_cast<double>(static_cast<int64_t>(d))) return false;
    *value = static_cast<int64_t>(d);
    return true;
}

}  // namespace

JSBool fileInitAFS(JSContext *cx, JSObject *obj, uintN, jsval *, jsval *rval) {
    FileRecord *record = fileRecordOf(cx, obj, "File.initAFS");
    if (!record) return JS_FALSE;
    *rval = JSVAL_FALSE;
    if (!record->stream) return JS_TRUE;
    StreamSource source(record->stream);
    PackageTrailer trailer;
    if (!findPackageTrailer(source, &trailer)) {
        rewind(cx, obj, record);
        return JS_TRUE;
    }
    JSObject *afs = api->newObject(cx, nullptr);
    if (!afs || !kx4DefineResult(api, cx, obj, "afs", OBJECT_TO_JSVAL(afs))) return JS_FALSE;
    kx4DefineResultNumber(api, cx, afs, "size", trailer.length);
    kx4DefineResultNumber(api, cx, afs, "pos", static_cast<double>(trailer.start));

    PackageDirectory directory;
    std::string reason;
    intN depth = api->suspendRequest(cx);
    DirectoryStatus status = readPackageDirectory(source, trailer, kMaxDirectory, &directory, &reason);
    api->resumeRequest(cx, depth);
    if (status == DirectoryStatus::noMemory) {
        rewind(cx, obj, record);
        api->reportError(cx, "AFS: cannot allocate memory");
        return JS_FALSE;
    }
    if (status != DirectoryStatus::ok) return damaged(cx, obj, record, reason.c_str());

    // The directory is a script expression; its value must be an object of
    // entry objects.
    if (memchr(directory.text.data(), 0, directory.text.size())) return damaged(cx, obj, record, "directory holds a zero byte");
    jsval fsd;
    if (!api->evaluateScript(cx, "fileInitAFS", directory.text.c_str(), &fsd)) {
        rewind(cx, obj, record);
        return JS_FALSE;  // the directory's own error is pending
    }
    if (!JSVAL_IS_OBJECT(fsd) || fsd == JSVAL_NULL) return damaged(cx, obj, record, "directory is not an object");
    kx4DefineResult(api, cx, afs, "fsd", fsd);

    // Entry streams follow the directory back to back, in listing order.
    // The engine enumerates index-like names ("10", "2") first, so the
    // order comes from the text itself when it is a plain literal that
    // names each entry once; otherwise from the enumeration.
    jsval *entries = api->enumerateValues(cx, JSVAL_TO_OBJECT(fsd));
    if (!entries) {
        rewind(cx, obj, record);
        return JS_FALSE;
    }
    size_t count = 0;
    while (entries[count] != JSVAL_VOID) count++;
    std::vector<std::string> names;
    bool listed = directoryNamesInOrder(directory.text, &names) && names.size() == count;
    for (const std::string &name : names)
        if (name.find('\0') != std::string::npos) listed = false;  // not a C string
    int64_t pos = directory.entriesStart;
    const char *problem = nullptr;
    for (size_t k = 0; k < count; k++) {
        jsval e = listed ? api->getPropertyValue(cx, JSVAL_TO_OBJECT(fsd), names[k].c_str()) : entries[k];
        int64_t csize;
        if (!JSVAL_IS_OBJECT(e) || e == JSVAL_NULL) {
            problem = "an entry is not an object";
            break;
        }
        JSObject *entry = JSVAL_TO_OBJECT(e);
        if (!entryField(cx, entry, "csize", &csize) || !entryFitsPackage(trailer, directory, pos, csize)) {
            problem = "an entry's stream lies outside the package";
            break;
        }
        kx4DefineResultNumber(api, cx, entry, "pos", static_cast<double>(pos));
        pos += csize;
    }
    api->freeMemory(cx, entries);
    if (problem) return damaged(cx, obj, record, problem);
    rewind(cx, obj, record);
    *rval = JSVAL_TRUE;
    return JS_TRUE;
}

JSBool fileExtract(JSContext *cx, JSObject *obj, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "File.extract(<fileName>)")) return JS_FALSE;
    FileRecord *record = fileRecordOf(cx, obj, "File.extract");
    if (!record) return JS_FALSE;
    if (!record->stream) return JS_TRUE;
    const char *name = api->valueToString(cx, argv[0]);
    jsval afs = api->getPropertyValue(cx, obj, "afs");
    jsval fsd = JSVAL_IS_OBJECT(afs) && afs != JSVAL_NULL ? api->getPropertyValue(cx, JSVAL_TO_OBJECT(afs), "fsd") : JSVAL_VOID;
    if (!JSVAL_IS_OBJECT(fsd) || fsd == JSVAL_NULL) {
        api->reportError(cx, "File.extract: no package has been read");
        return JS_FALSE;
    }
    jsval found = api->getPropertyValue(cx, JSVAL_TO_OBJECT(fsd), name);
    if (!JSVAL_IS_OBJECT(found) || found == JSVAL_NULL) {
        api->reportError(cx, "File.extract: no entry '%s' in the package", name);
        return JS_FALSE;
    }
    JSObject *entry = JSVAL_TO_OBJECT(found);
    double size = api->getPropertyNumber(cx, entry, "size", 0);
    if (!(size >= 1)) return JS_TRUE;  // an empty entry extracts as undefined
    int64_t pos, csize, length;
    if (!entryField(cx, entry, "pos", &pos) || !entryField(cx, entry, "csize", &csize) ||
        !entryField(cx, entry, "size", &length) || length > kMaxEntry || csize > kMaxEntry + kMaxEntry / 8) {
        // (The fields are ordinary properties a script can change after
        // initAFS: bound them again before allocating.)
        api->reportError(cx, "File.extract: damaged entry '%s'", name);
        return JS_FALSE;
    }
    uint8_t *compressed = static_cast<uint8_t *>(malloc(static_cast<size_t>(csize) + 1));
    uint8_t *content = static_cast<uint8_t *>(malloc(static_cast<size_t>(length)));
    if (!compressed || !content) {
        free(compressed);
        free(content);
        api->reportError(cx, "AFS: cannot allocate memory");
        return JS_FALSE;
    }
    intN depth = api->suspendRequest(cx);
    bool ok = _fseeki64(record->stream, pos, SEEK_SET) == 0 &&
              fread(compressed, 1, static_cast<size_t>(csize), record->stream) == static_cast<size_t>(csize) &&
              inflateExactly(compressed, static_cast<size_t>(csize), content, static_cast<size_t>(length));
    api->resumeRequest(cx, depth);
    free(compressed);
    if (!ok) {
        free(content);
        api->reportError(cx, "File.extract: damaged entry '%s'", name);
        return JS_FALSE;
    }
    *rval = api->newStringN(cx, reinterpret_cast<const char *>(content), static_cast<size_t>(length));
    free(content);
    return *rval != JSVAL_VOID;
}

}  // namespace kx4
