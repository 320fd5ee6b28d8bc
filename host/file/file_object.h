/* The File class: a stdio stream on a disk file with byte-exact reading and
 * writing, the package reader, zlib compression of strings and the
 * file-system functions. */
#ifndef KX4_FILE_OBJECT_H
#define KX4_FILE_OBJECT_H

#include <stdint.h>
#include <stdio.h>

#include "kx4.h"

namespace kx4 {

// The private data of every File object.
struct FileRecord {
    FILE *stream;   // null while closed
    int32_t pos;    // the stream position last read back after an operation
    int32_t length; // the file's size when it was opened
    int64_t mtime;  // its modification time then, seconds since 1970
};

// The File unit's copy of the host table, set by defineFileClass.
extern HostApi *fileApi;

JSBool defineFileClass(JSContext *cx, HostApi *api);

// The record of a File object; reports and returns null for other objects.
FileRecord *fileRecordOf(JSContext *cx, JSObject *obj, const char *method);
// Sets record.pos from the stream and defines the pos property.
void updateFilePosition(JSContext *cx, JSObject *obj, FileRecord *record);
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
