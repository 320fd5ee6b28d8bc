#include <stdlib.h>
#include <windows.h>

#include "engine.h"
#include "file_object.h"

namespace kx4 {

const Kx4Class fileClass = {"File"};
HostApi *fileApi = nullptr;
static HostApi *const &api = fileApi;

static const JSFunctionSpec kFileMethods[] = {
    JS_FS("open", fileOpen, 2),
    JS_FS("close", fileClose, 0),
    JS_FS("read", fileRead, 1),
    JS_FS("write", fileWrite, 1),
    JS_FS("seek", fileSeek, 1),
    JS_FS("initAFS", fileInitAFS, 0),
    JS_FS("extract", fileExtract, 0),
    JS_FS_END,
};

static const JSFunctionSpec kFileStatics[] = {
    JS_FS("compress", fileCompress, 1),
    JS_FS("uncompress", fileUncompress, 1),
    JS_FS("status", fileStatus, 1),
    JS_FS("remove", fileRemove, 1),
    JS_FS("setTime", fileSetTime, 2),
    JS_FS("createDir", fileCreateDir, 1),
    JS_FS("changeDir", fileChangeDir, 1),
    JS_FS("openDir", fileOpenDir, 1),
    JS_FS("removeDir", fileRemoveDir, 1),
    JS_FS("getCurrentWorkingDir", fileGetCurrentWorkingDir, 0),
    JS_FS_END,
};

static JSBool fileConstruct(JSContext *cx, JSObject *obj, uintN argc, jsval *argv, jsval *rval) {
    FileRecord *record = static_cast<FileRecord *>(calloc(1, sizeof(FileRecord)));
    if (!record) {
        api->reportError(cx, "File: cannot allocate memory");
        return JS_FALSE;
    }
    record->kx4Class = &fileClass;
    if (!api->setPrivate(cx, obj, record)) {
        free(record);
        return JS_FALSE;
    }
    // Exactly two arguments open the file; a failed open still gives the
    // (closed) object.
    if (argc == 2) return fileOpen(cx, obj, argc, argv, rval) ? (*rval = JSVAL_VOID, JS_TRUE) : JS_FALSE;
    return JS_TRUE;
}

static void destroyRecord(FileRecord *record) {
    if (record->stream) fclose(record->stream);
    free(record);
}

// Closes a stream the script left open. The prototype has no record, and
// neither has an object of another class.
static void fileFinalize(JSContext *cx, JSObject *obj) {
    FileRecord *record = static_cast<FileRecord *>(kx4TakeClassPrivate(api, cx, obj, &fileClass));
    if (!record) return;
    // A native still holds the record across a heap release: it frees it.
    if (record->pins > 0) {
        record->orphaned = true;
        return;
    }
    destroyRecord(record);
}

RecordPin::~RecordPin() {
    if (--record_->pins == 0 && record_->orphaned) destroyRecord(record_);
}

JSBool defineFileClass(JSContext *cx, HostApi *hostApi) {
    fileApi = hostApi;
    return api->defineClass(cx, "File", fileConstruct, 0, nullptr, kFileMethods, nullptr, kFileStatics,
                            fileFinalize) != nullptr;
}

FileRecord *fileRecordOf(JSContext *cx, JSObject *obj, const char *message) {
    return static_cast<FileRecord *>(kx4CheckPrivate(api, cx, obj, &fileClass, message));
}

bool streamReady(JSContext *cx, FileRecord *record) {
    const uint32_t before = record->changesIssued;
    while (static_cast<int32_t>(record->changesDone - before) < 0) {
        Kx4HeapReleased released(api, cx);
        Sleep(1);
    }
    return record->stream != nullptr && !record->orphaned;
}

StreamChange::StreamChange(JSContext *cx, FileRecord *record) : pin_(record), record_(record) {
    const uint32_t turn = record_->changesIssued++;
    while (record_->changesDone != turn || record_->users > 0) {
        Kx4HeapReleased released(api, cx);
        Sleep(1);
    }
}

void publishFilePosition(JSContext *cx, JSObject *obj, FileRecord *record, long long pos) {
    // Positions are 32-bit; beyond 2 GiB the file is out of range.
    record->pos = pos >= 0 && pos <= INT32_MAX ? static_cast<int32_t>(pos) : -1;
    kx4DefineResultNumber(api, cx, obj, "pos", record->pos);
}

const char *contentBytes(JSContext *cx, jsval v, size_t *count) {
    // One conversion gives the bytes and their count together, so the two
    // can never disagree (not even when memory runs out).
    return valueToBytes(cx, v, count);
}

}  // namespace kx4
