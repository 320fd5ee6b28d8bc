/* The File class: a stdio stream on a disk file with byte-exact reading and
 * writing, the package reader, zlib compression of strings and the
 * file-system functions. */
#ifndef KX4_FILE_OBJECT_H
#define KX4_FILE_OBJECT_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "kx4.h"

namespace kx4 {

extern const Kx4Class fileClass;

// The private data of every File object. The counters are touched only
// while the heap is held, so the heap lock guards them.
struct FileRecord {
    const Kx4Class *kx4Class;  // &fileClass
    FILE *stream;              // null while closed
    int32_t pos;               // the stream position last read back after an operation
    int32_t length;            // the file's size when it was opened
    int64_t mtime;             // its modification time then, seconds since 1970
    uint32_t generation;       // counts opens and closes: tells a stream from its successor
    int32_t users;             // natives using `stream` with the heap released
    uint32_t changesIssued;    // opens and closes begun: each takes the next number
    uint32_t changesDone;      // of those, finished (they finish in order)
    int32_t pins;              // natives holding this record across a heap release (users included)
    bool orphaned;             // finalized while pinned: the last unpin frees it
};

// A script string holds at most this many bytes: the heap is 32 MiB.
const size_t kMaxScriptBytes = 32u << 20;

// The File unit's copy of the host table, set by defineFileClass.
extern HostApi *fileApi;

JSBool defineFileClass(JSContext *cx, HostApi *api);

// The record of a File object; reports `message` ("File.read: not a File
// object") and returns null for any other object.
FileRecord *fileRecordOf(JSContext *cx, JSObject *obj, const char *message);

// Keeps a record alive while its native releases the heap: a finalizer
// that runs meanwhile leaves the freeing to the last pin.
class RecordPin {
  public:
    explicit RecordPin(FileRecord *record) : record_(record) { record_->pins++; }
    ~RecordPin();
    RecordPin(const RecordPin &) = delete;
    RecordPin &operator=(const RecordPin &) = delete;

  private:
    FileRecord *record_;
};

// Marks the record's stream in use by this native, for a Kx4HeapReleased
// block: close and open wait until no native uses it.
class StreamUse {
  public:
    explicit StreamUse(FileRecord *record) : pin_(record), record_(record) { record_->users++; }
    ~StreamUse() { record_->users--; }
    StreamUse(const StreamUse &) = delete;
    StreamUse &operator=(const StreamUse &) = delete;

  private:
    RecordPin pin_;
    FileRecord *record_;
};

// Opens and closes, and the uses of the stream, take turns in the order
// they came: a use waits for the opens and closes begun before it, and an
// open or close waits for the uses under way and the opens and closes
// before it. So neither a thread looping on reads nor one looping on
// close and open can starve the other.

// Before a native uses the stream: waits, with the heap released, for the
// opens and closes begun before it, then tells whether the File is open.
// The caller holds a pin.
bool streamReady(JSContext *cx, FileRecord *record);

// An open or close of the record's stream: waits, with the heap released,
// for its turn and for the uses under way. Inside it the native changes
// the stream, with a StreamUse around any heap release.
class StreamChange {
  public:
    StreamChange(JSContext *cx, FileRecord *record);
    ~StreamChange() { record_->changesDone++; }
    StreamChange(const StreamChange &) = delete;
    StreamChange &operator=(const StreamChange &) = delete;

  private:
    RecordPin pin_;
    FileRecord *record_;
};

// Sets record.pos to a position read back from the stream (-1 marks a
// position out of range) and defines the pos property.
void publishFilePosition(JSContext *cx, JSObject *obj, FileRecord *record, long long pos);
// A string argument's bytes: one per character, low 8 bits.
const char *contentBytes(JSContext *cx, jsval v, size_t *count);

// file_stream.cpp
JSBool fileOpen(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool fileClose(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool fileRead(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool fileWrite(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool fileSeek(JSContext *, JSObject *, uintN, jsval *, jsval *);
// package_reader.cpp
JSBool fileInitAFS(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool fileExtract(JSContext *, JSObject *, uintN, jsval *, jsval *);
// compression.cpp
JSBool fileCompress(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool fileUncompress(JSContext *, JSObject *, uintN, jsval *, jsval *);
// filesystem.cpp
JSBool fileStatus(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool fileRemove(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool fileSetTime(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool fileCreateDir(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool fileChangeDir(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool fileOpenDir(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool fileRemoveDir(JSContext *, JSObject *, uintN, jsval *, jsval *);
JSBool fileGetCurrentWorkingDir(JSContext *, JSObject *, uintN, jsval *, jsval *);

}  // namespace kx4

#endif
