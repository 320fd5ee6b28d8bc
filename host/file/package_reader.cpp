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
const size_t kMaxDirectory = kMaxScriptBytes;
// An entry becomes one script string, which must fit the heap too.
const int64_t kMaxEntry = static_cast<int64_t>(kMaxScriptBytes);

// Rewinds the stream and publishes pos = 0, whatever initAFS found. False
// when script that ran meanwhile (the directory, an entry's getter) closed
// or re-opened the File: that is not the stream the package came from.
bool rewind(JSContext *cx, JSObject *obj, FileRecord *record, uint32_t generation) {
    if (!streamReady(cx, record) || record->generation != generation) return false;
    {
        StreamUse use(record);
        FILE *stream = record->stream;
        Kx4HeapReleased released(api, cx);
        _fseeki64(stream, 0, SEEK_SET);
    }
    record->pos = 0;
    kx4DefineResultNumber(api, cx, obj, "pos", 0);
    return true;
}

JSBool damaged(JSContext *cx, JSObject *obj, FileRecord *record, uint32_t generation, const char *what) {
    rewind(cx, obj, record, generation);
    api->reportError(cx, "AFS: damaged package: %s", what);
    return JS_FALSE;
}

// A whole number from 0 to 2^31 - 1, as entry fields must be.
bool wholeField(double d, int64_t *value) {
    if (!(d >= 0 && d <= INT32_MAX) || d != static_cast<double>(static_cast<int64_t>(d))) return false;
    *value = static_cast<int64_t>(d);
    return true;
}

}  // namespace

JSBool fileInitAFS(JSContext *cx, JSObject *obj, uintN, jsval *, jsval *rval) {
    FileRecord *record = fileRecordOf(cx, obj, "File.initAFS: not a File object");
    if (!record) return JS_FALSE;
    *rval = JSVAL_FALSE;
    if (!record->stream) return JS_TRUE;
    // The record stays valid to the end; the stream only while it is the
    // one of this generation (the directory and the entries run script).
    RecordPin pin(record);
    if (!streamReady(cx, record)) return JS_TRUE;
    const uint32_t generation = record->generation;
    PackageTrailer trailer;
    PackageDirectory directory;
    std::string reason;
    bool found;
    DirectoryStatus status = DirectoryStatus::ok;
    {
        StreamUse use(record);
        StreamSource source(record->stream);
        Kx4HeapReleased released(api, cx);
        found = findPackageTrailer(source, &trailer);
        if (found) status = readPackageDirectory(source, trailer, kMaxDirectory, &directory, &reason);
    }
    if (!found) {
        rewind(cx, obj, record, generation);
        return JS_TRUE;
    }
    JSObject *afs = api->newObject(cx, nullptr);
    if (!afs || !kx4DefineResult(api, cx, obj, "afs", OBJECT_TO_JSVAL(afs))) return JS_FALSE;
    kx4DefineResultNumber(api, cx, afs, "size", trailer.length);
    kx4DefineResultNumber(api, cx, afs, "pos", static_cast<double>(trailer.start));
    if (status == DirectoryStatus::noMemory) {
        rewind(cx, obj, record, generation);
        api->reportError(cx, "AFS: cannot allocate memory");
        return JS_FALSE;
    }
    if (status != DirectoryStatus::ok) return damaged(cx, obj, record, generation, reason.c_str());

    // The directory is a script expression; its value must be an object of
    // entry objects.
    if (memchr(directory.text.data(), 0, directory.text.size()))
        return damaged(cx, obj, record, generation, "directory holds a zero byte");
    jsval fsd;
    if (!api->evaluateScript(cx, "fileInitAFS", directory.text.c_str(), &fsd)) {
        rewind(cx, obj, record, generation);
        return JS_FALSE;  // the directory's own error is pending
    }
    if (!kx4IsObject(fsd)) return damaged(cx, obj, record, generation, "directory is not an object");
    kx4DefineResult(api, cx, afs, "fsd", fsd);

    // Entry streams follow the directory back to back, in listing order.
    // The engine enumerates index-like names ("10", "2") first, so the
    // order comes from the text itself when it is a plain literal that
    // names each entry once; otherwise from the enumeration.
    jsval *entries = api->enumerateValues(cx, JSVAL_TO_OBJECT(fsd));
    if (!entries) {
        rewind(cx, obj, record, generation);
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
    bool failed = false;
    for (size_t k = 0; k < count; k++) {
        jsval e = listed ? api->getPropertyValue(cx, JSVAL_TO_OBJECT(fsd), names[k].c_str()) : entries[k];
        if (kx4ErrorPending(api, cx)) {
            failed = true;  // a getter threw
            break;
        }
        if (!kx4IsObject(e)) {
            problem = "an entry is not an object";
            break;
        }
        JSObject *entry = JSVAL_TO_OBJECT(e);
        int64_t csize;
        double d = api->getPropertyNumber(cx, entry, "csize", -1);
        if (kx4ErrorPending(api, cx)) {
            failed = true;
            break;
        }
        if (!wholeField(d, &csize) || !entryFitsPackage(trailer, directory, pos, csize)) {
            problem = "an entry's stream lies outside the package";
            break;
        }
        kx4DefineResultNumber(api, cx, entry, "pos", static_cast<double>(pos));
        pos += csize;
    }
    api->freeMemory(cx, entries);
    if (failed) {
        rewind(cx, obj, record, generation);
        return JS_FALSE;
    }
    if (problem) return damaged(cx, obj, record, generation, problem);
    if (!rewind(cx, obj, record, generation)) {
        api->reportError(cx, "File.initAFS: the File was closed or re-opened while its package was read");
        return JS_FALSE;
    }
    *rval = JSVAL_TRUE;
    return JS_TRUE;
}

JSBool fileExtract(JSContext *cx, JSObject *obj, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "File.extract(<fileName>)")) return JS_FALSE;
    // Everything that can run script comes first: the name's toString and
    // any getter on afs, fsd or the entry (each field read once).
    const char *name = api->valueToString(cx, argv[0]);
    jsval afs = api->getPropertyValue(cx, obj, "afs");
    jsval fsd = kx4IsObject(afs) ? api->getPropertyValue(cx, JSVAL_TO_OBJECT(afs), "fsd") : JSVAL_VOID;
    jsval found = kx4IsObject(fsd) && name ? api->getPropertyValue(cx, JSVAL_TO_OBJECT(fsd), name) : JSVAL_VOID;
    double size = 0, posField = -1, csizeField = -1;
    if (kx4IsObject(found)) {
        JSObject *entry = JSVAL_TO_OBJECT(found);
        size = api->getPropertyNumber(cx, entry, "size", 0);
        posField = api->getPropertyNumber(cx, entry, "pos", -1);
        csizeField = api->getPropertyNumber(cx, entry, "csize", -1);
    }
    if (kx4ErrorPending(api, cx) || !name) return JS_FALSE;
    FileRecord *record = fileRecordOf(cx, obj, "File.extract: not a File object");
    if (!record) return JS_FALSE;
    if (!record->stream) return JS_TRUE;
    if (!kx4IsObject(fsd)) {
        api->reportError(cx, "File.extract: no package has been read");
        return JS_FALSE;
    }
    if (!kx4IsObject(found)) {
        api->reportError(cx, "File.extract: no entry '%s' in the package", name);
        return JS_FALSE;
    }
    if (!(size >= 1)) return JS_TRUE;  // an empty entry extracts as undefined
    int64_t pos, csize, length;
    if (!wholeField(posField, &pos) || !wholeField(csizeField, &csize) || !wholeField(size, &length) ||
        length > kMaxEntry || csize > kMaxEntry + kMaxEntry / 8) {
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
    RecordPin pin(record);
    if (!streamReady(cx, record)) {
        free(compressed);
        free(content);
        return JS_TRUE;  // closed by another thread meanwhile
    }
    bool ok;
    {
        StreamUse use(record);
        FILE *stream = record->stream;
        Kx4HeapReleased released(api, cx);
        ok = _fseeki64(stream, pos, SEEK_SET) == 0 &&
             fread(compressed, 1, static_cast<size_t>(csize), stream) == static_cast<size_t>(csize) &&
             inflateExactly(compressed, static_cast<size_t>(csize), content, static_cast<size_t>(length));
    }
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
