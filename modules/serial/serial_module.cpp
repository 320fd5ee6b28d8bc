/* kx4com.dll: the Serial class, one object per serial port, for short
 * request/response exchanges with devices on RS-232 links.
 *
 *   var port = new Serial();
 *   port.open({port: 'COM3', baudRate: 2400});   // true when open
 *   port.write({content: request});             // bytes accepted
 *   var reply = port.read({count: 16});         // 16 bytes, or ""
 *   port.close();
 *
 * Everything is synchronous and polls: no overlapped I/O, no events. */
#include <stdlib.h>
#include <windows.h>

#include "kx4.h"

namespace {

HostApi *api;              // the host's table, kept for the life of the process

// The private data of a Serial object: the open port, or INVALID_HANDLE_VALUE.
// From the process heap, so that the finalizer frees it without the engine.
struct PortRecord {
    HANDLE handle;
};

// Parameter defaults.
const char *const kDefaultPort = "COM1";
const int32_t kDefaultQueueSize = 1024;
const int32_t kDefaultBaudRate = 2400;
const int32_t kDefaultByteSize = 8;

// A read polls the driver's queue every millisecond, count x 15 times but
// at least 150 times, before it gives up.
const int64_t kPollsPerByte = 15;
const int64_t kMinimumPolls = 150;
const int32_t kMaxReadCount = 0x2000000;

PortRecord *recordOf(JSContext *cx, JSObject *obj, const char *notInitialized) {
    PortRecord *rec = static_cast<PortRecord *>(api->getPrivate(cx, obj));
    if (!rec) api->reportError(cx, "%s", notInitialized);
    return rec;
}

// Timeouts that make ReadFile return at once with what is queued, the
// driver's queue sizes, and 8 data bits (or byteSize), no parity, one stop
// bit and no hardware flow control at the given speed. The driver keeps
// everything else it had. Failures are not detected: a speed the driver
// rejects leaves the old one.
void configurePort(JSContext *cx, HANDLE h, JSObject *params) {
    int32_t bufInSize = kx4FieldInt32(api, cx, params, "bufInSize", kDefaultQueueSize);
    int32_t bufOutSize = kx4FieldInt32(api, cx, params, "bufOutSize", kDefaultQueueSize);
    int32_t baudRate = kx4FieldInt32(api, cx, params, "baudRate", kDefaultBaudRate);
    int32_t byteSize = kx4FieldInt32(api, cx, params, "byteSize", kDefaultByteSize);

    COMMTIMEOUTS timeouts;
    ZeroMemory(&timeouts, sizeof timeouts);
    GetCommTimeouts(h, &timeouts);
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = 1;
    SetCommTimeouts(h, &timeouts);

    SetupComm(h, static_cast<DWORD>(bufInSize), static_cast<DWORD>(bufOutSize));

    DCB dcb;
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    GetCommState(h, &dcb);
    dcb.BaudRate = static_cast<DWORD>(baudRate);
    dcb.ByteSize = static_cast<BYTE>(byteSize);
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    SetCommState(h, &dcb);
}

// Configures an open port and says so; false when none is open.
JSBool configureIfOpen(JSContext *cx, JSObject *obj, PortRecord *rec, JSObject *params, bool defineHandle) {
    if (rec->handle == INVALID_HANDLE_VALUE) return JS_FALSE;
    configurePort(cx, rec->handle, params);
    if (defineHandle) {
        // The handle's 32 significant bits as a signed number, on x64 too.
        int32_t bits = static_cast<int32_t>(reinterpret_cast<intptr_t>(rec->handle));
        kx4DefineResultNumber(api, cx, obj, "handle", bits);
    }
    return JS_TRUE;
}

// ---- Methods ----------------------------------------------------------------

// The parameter object of every method is taken leniently: a primitive
// (or nothing) counts as an empty object, so every parameter is defaulted.

JSBool serialOpen(JSContext *cx, JSObject *obj, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "Serial.open(<params>)")) return JS_FALSE;
    PortRecord *rec = recordOf(cx, obj, "Serial.open: Serial not initialized");
    if (!rec) return JS_FALSE;
    JSObject *params = kx4ArgObject(argc, argv, 0);
    // An open port is reconfigured, not reopened: `port` is then ignored.
    if (rec->handle == INVALID_HANDLE_VALUE) {
        const char *name = api->getPropertyString(cx, params, "port", kDefaultPort);
        // Exclusive: a port held by this or another process does not open.
        rec->handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_WRITE_THROUGH, nullptr);
    }
    *rval = BOOLEAN_TO_JSVAL(configureIfOpen(cx, obj, rec, params, true));
    return JS_TRUE;
}

JSBool serialSet(JSContext *cx, JSObject *obj, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "Serial.set(<params>)")) return JS_FALSE;
    PortRecord *rec = recordOf(cx, obj, "Serial.set: Serial not initialized");
    if (!rec) return JS_FALSE;
    *rval = BOOLEAN_TO_JSVAL(configureIfOpen(cx, obj, rec, kx4ArgObject(argc, argv, 0), false));
    return JS_TRUE;
}

JSBool serialClose(JSContext *cx, JSObject *obj, uintN, jsval *, jsval *) {
    PortRecord *rec = recordOf(cx, obj, "Serial.close: Not initialized");
    if (!rec) return JS_FALSE;
    // `handle` keeps its old number: scripts may still log it.
    if (rec->handle != INVALID_HANDLE_VALUE) CloseHandle(rec->handle);
    rec->handle = INVALID_HANDLE_VALUE;
    return JS_TRUE;
}

// All or nothing: exactly `count` bytes, or "" with whatever did arrive
// left queued for the next read.
JSBool serialRead(JSContext *cx, JSObject *obj, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "Serial.read(<params>)")) return JS_FALSE;
    PortRecord *rec = recordOf(cx, obj, "Serial.read: Serial not initialized");
    if (!rec) return JS_FALSE;
    int32_t count = kx4FieldInt32(api, cx, kx4ArgObject(argc, argv, 0), "count", 1);
    // Nothing to wait for: no port, or no bytes wanted (a negative count
    // wants none either).
    if (rec->handle == INVALID_HANDLE_VALUE || count <= 0) {
        *rval = api->newStringN(cx, "", 0);
        return JS_TRUE;
    }
    // More than the script heap could ever return as a string (32 MiB):
    // "" at once rather than a wait for bytes that cannot be returned.
    char *buffer = count <= kMaxReadCount ? static_cast<char *>(malloc(static_cast<size_t>(count))) : nullptr;
    if (!buffer) {
        *rval = api->newStringN(cx, "", 0);
        return JS_TRUE;
    }
    HANDLE h = rec->handle;  // the record is not touched while suspended

    intN depth = api->suspendRequest(cx);
    int64_t budget = count * kPollsPerByte;
    if (budget < kMinimumPolls) budget = kMinimumPolls;
    DWORD errors;
    COMSTAT status;
    ZeroMemory(&status, sizeof status);
    ClearCommError(h, &errors, &status);
    while (status.cbInQue < static_cast<DWORD>(count) && budget > 0) {
        Sleep(1);
        budget--;
        ClearCommError(h, &errors, &status);
    }
    DWORD got = 0;
    if (status.cbInQue >= static_cast<DWORD>(count)) {
        // The timeouts set at open make this return at once with the queue.
        if (!ReadFile(h, buffer, static_cast<DWORD>(count), &got, nullptr)) got = 0;
    }
    api->resumeRequest(cx, depth);

    *rval = api->newStringN(cx, buffer, got);
    free(buffer);
    return JS_TRUE;
}

JSBool serialWrite(JSContext *cx, JSObject *obj, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "Serial.write(<params>)")) return JS_FALSE;
    PortRecord *rec = recordOf(cx, obj, "Serial.write: Serial not initialized");
    if (!rec) return JS_FALSE;
    size_t length;
    const char *bytes = kx4FieldBytes(api, cx, kx4ArgObject(argc, argv, 0), "content", &length);
    HANDLE h = rec->handle;
    DWORD written = 0;
    if (h != INVALID_HANDLE_VALUE) {
        intN depth = api->suspendRequest(cx);
        // A request's reply must not be mixed with older bytes: whatever
        // arrived unread before it is dropped.
        PurgeComm(h, PURGE_RXCLEAR);
        if (!WriteFile(h, bytes, static_cast<DWORD>(length), &written, nullptr)) written = 0;
        api->resumeRequest(cx, depth);
    }
    *rval = api->newNumber(cx, written);
    return JS_TRUE;
}

// ---- Class ------------------------------------------------------------------

JSBool serialConstruct(JSContext *cx, JSObject *obj, uintN, jsval *, jsval *) {
    PortRecord *rec = static_cast<PortRecord *>(HeapAlloc(GetProcessHeap(), 0, sizeof(PortRecord)));
    if (!rec) {
        api->reportError(cx, "Serial: out of memory");
        return JS_FALSE;
    }
    rec->handle = INVALID_HANDLE_VALUE;
    if (!api->setPrivate(cx, obj, rec)) {
        HeapFree(GetProcessHeap(), 0, rec);
        return JS_FALSE;
    }
    return JS_TRUE;
}

// A port the script forgot to close is closed when its object is collected.
// The prototype is finalized too, without a record.
void serialFinalize(JSContext *cx, JSObject *obj) {
    PortRecord *rec = static_cast<PortRecord *>(api->getPrivate(cx, obj));
    if (!rec) return;
    if (rec->handle != INVALID_HANDLE_VALUE) CloseHandle(rec->handle);
    rec->handle = INVALID_HANDLE_VALUE;
    api->setPrivate(cx, obj, nullptr);
    HeapFree(GetProcessHeap(), 0, rec);
}

const JSFunctionSpec serialMethods[] = {
    JS_FS("open", serialOpen, 1),
    JS_FS("set", serialSet, 1),
    JS_FS("close", serialClose, 0),
    JS_FS("read", serialRead, 1),
    JS_FS("write", serialWrite, 1),
    JS_FS_END,
};

const JSFunctionSpec serialStatics[] = {
    JS_FS_END,
};

}  // namespace

KX4_MODULE_INIT {
    api = hostApi;
    api->defineClass(cx, "Serial", serialConstruct, 0, nullptr, serialMethods, nullptr,
                     serialStatics, serialFinalize);
}
