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

const Kx4Class portClass = {"Serial"};

// The private data of a Serial object: the open port, or INVALID_HANDLE_VALUE.
// From the process heap, so that the finalizer frees it without the engine.
// The counters change only while the heap is held, so the heap lock
// guards them; a read polling with the heap released also looks at the
// change counts (volatile, 32-bit aligned) to give up for a close.
struct PortRecord {
    const Kx4Class *kx4Class;  // &portClass
    HANDLE handle;
    int32_t users;             // natives using `handle` with the heap released
    volatile ULONG changesIssued;  // opens and closes begun: each takes the next number
    volatile ULONG changesDone;    // of those, finished (they finish in order)
    int32_t pins;              // natives holding the record across a heap release (users included)
    bool orphaned;             // finalized while pinned: the last unpin frees it
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

void destroyRecord(PortRecord *rec) {
    if (rec->handle != INVALID_HANDLE_VALUE) CloseHandle(rec->handle);
    HeapFree(GetProcessHeap(), 0, rec);
}

// Keeps a record alive while its native releases the heap.
class PortPin {
  public:
    explicit PortPin(PortRecord *rec) : rec_(rec) { rec_->pins++; }
    ~PortPin() {
        if (--rec_->pins == 0 && rec_->orphaned) destroyRecord(rec_);
    }
    PortPin(const PortPin &) = delete;
    PortPin &operator=(const PortPin &) = delete;

  private:
    PortRecord *rec_;
};

// Marks the handle in use for a Kx4HeapReleased block: close (and an open
// of a closed port) wait until no native uses it.
class PortUse {
  public:
    explicit PortUse(PortRecord *rec) : pin_(rec), rec_(rec) { rec_->users++; }
    ~PortUse() { rec_->users--; }
    PortUse(const PortUse &) = delete;
    PortUse &operator=(const PortUse &) = delete;

  private:
    PortPin pin_;
    PortRecord *rec_;
};

// Opens and closes, and the uses of the handle, take turns in the order
// they came: a use waits for the opens and closes begun before it, and an
// open or close waits for the uses under way and the opens and closes
// before it. So neither a thread looping on reads nor one looping on
// close and open can starve the other.

// Before a native uses the handle: waits, with the heap released, for the
// opens and closes begun before it, then tells whether the port is open.
// The caller holds a pin.
bool portReady(JSContext *cx, PortRecord *rec) {
    const ULONG before = rec->changesIssued;
    while (static_cast<LONG>(rec->changesDone - before) < 0) {
        Kx4HeapReleased released(api, cx);
        Sleep(1);
    }
    return rec->handle != INVALID_HANDLE_VALUE && !rec->orphaned;
}

// An open or close of the port: waits, with the heap released, for its
// turn and for the uses under way. Inside it the native changes the
// handle, with a PortUse around any heap release.
class PortChange {
  public:
    PortChange(JSContext *cx, PortRecord *rec) : pin_(rec), rec_(rec) {
        const ULONG turn = rec_->changesIssued;
        rec_->changesIssued = turn + 1;
        while (rec_->changesDone != turn || rec_->users > 0) {
            Kx4HeapReleased released(api, cx);
            Sleep(1);
        }
    }
    ~PortChange() { rec_->changesDone = rec_->changesDone + 1; }
    PortChange(const PortChange &) = delete;
    PortChange &operator=(const PortChange &) = delete;

  private:
    PortPin pin_;
    PortRecord *rec_;
};

PortRecord *recordOf(JSContext *cx, JSObject *obj, const char *notInitialized) {
    return static_cast<PortRecord *>(kx4CheckPrivate(api, cx, obj, &portClass, notInitialized));
}

// What open and set configure, read from the parameter object before the
// port is looked at.
struct PortSettings {
    int32_t bufInSize, bufOutSize, baudRate, byteSize;
};

PortSettings readSettings(JSContext *cx, JSObject *params) {
    PortSettings s;
    s.bufInSize = kx4FieldInt32(api, cx, params, "bufInSize", kDefaultQueueSize);
    s.bufOutSize = kx4FieldInt32(api, cx, params, "bufOutSize", kDefaultQueueSize);
    s.baudRate = kx4FieldInt32(api, cx, params, "baudRate", kDefaultBaudRate);
    s.byteSize = kx4FieldInt32(api, cx, params, "byteSize", kDefaultByteSize);
    return s;
}

// Timeouts that make ReadFile return at once with what is queued, the
// driver's queue sizes, and 8 data bits (or byteSize), no parity, one stop
// bit and no hardware flow control at the given speed. The driver keeps
// everything else it had. Failures are not detected: a speed the driver
// rejects leaves the old one. Touches no engine: runs with the heap
// released.
void configurePort(HANDLE h, const PortSettings &s) {
    COMMTIMEOUTS timeouts;
    ZeroMemory(&timeouts, sizeof timeouts);
    GetCommTimeouts(h, &timeouts);
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = 1;
    SetCommTimeouts(h, &timeouts);

    SetupComm(h, static_cast<DWORD>(s.bufInSize), static_cast<DWORD>(s.bufOutSize));

    DCB dcb;
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    GetCommState(h, &dcb);
    dcb.BaudRate = static_cast<DWORD>(s.baudRate);
    dcb.ByteSize = static_cast<BYTE>(s.byteSize);
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    SetCommState(h, &dcb);
}

// Reconfigures an open port and gives its handle; INVALID_HANDLE_VALUE
// when none is open.
HANDLE reconfigure(JSContext *cx, PortRecord *rec, const PortSettings &settings) {
    if (rec->handle == INVALID_HANDLE_VALUE) return INVALID_HANDLE_VALUE;
    PortPin pin(rec);
    if (!portReady(cx, rec)) return INVALID_HANDLE_VALUE;
    PortUse use(rec);
    HANDLE h = rec->handle;
    Kx4HeapReleased released(api, cx);
    configurePort(h, settings);
    return h;
}

// ---- Methods ----------------------------------------------------------------

// The parameter object of every method is taken leniently: a primitive
// (or nothing) counts as an empty object, so every parameter is defaulted.
// Every field is read before the port is looked at: a getter may open,
// close or reconfigure this very port, and the method then works on the
// port as the getter left it.

JSBool serialOpen(JSContext *cx, JSObject *obj, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "Serial.open(<params>)")) return JS_FALSE;
    JSObject *params = kx4ArgObject(argc, argv, 0);
    const char *name = api->getPropertyString(cx, params, "port", kDefaultPort);
    PortSettings settings = readSettings(cx, params);
    if (kx4ErrorPending(api, cx) || !name) return JS_FALSE;
    PortRecord *rec = recordOf(cx, obj, "Serial.open: Serial not initialized");
    if (!rec) return JS_FALSE;
    *rval = JSVAL_FALSE;
    PortPin pin(rec);
    // An open port is reconfigured, not reopened: `port` is then ignored.
    HANDLE h = reconfigure(cx, rec, settings);
    if (h == INVALID_HANDLE_VALUE) {
        // Closed: open it. Another thread's open or close finishes first,
        // and may leave it open.
        PortChange change(cx, rec);
        h = rec->handle;
        bool opening = h == INVALID_HANDLE_VALUE;
        {
            PortUse use(rec);  // another open or close waits for this one
            Kx4HeapReleased released(api, cx);
            // Exclusive: a port held by this or another process does not open.
            if (opening)
                h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_WRITE_THROUGH, nullptr);
            if (h != INVALID_HANDLE_VALUE) configurePort(h, settings);
        }
        if (opening) rec->handle = h;
        if (h == INVALID_HANDLE_VALUE) return JS_TRUE;
    }
    // The handle's 32 significant bits as a signed number, on x64 too.
    int32_t bits = static_cast<int32_t>(reinterpret_cast<intptr_t>(h));
    kx4DefineResultNumber(api, cx, obj, "handle", bits);
    *rval = JSVAL_TRUE;
    return JS_TRUE;
}

JSBool serialSet(JSContext *cx, JSObject *obj, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "Serial.set(<params>)")) return JS_FALSE;
    PortSettings settings = readSettings(cx, kx4ArgObject(argc, argv, 0));
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    PortRecord *rec = recordOf(cx, obj, "Serial.set: Serial not initialized");
    if (!rec) return JS_FALSE;
    *rval = BOOLEAN_TO_JSVAL(reconfigure(cx, rec, settings) != INVALID_HANDLE_VALUE);
    return JS_TRUE;
}

JSBool serialClose(JSContext *cx, JSObject *obj, uintN, jsval *, jsval *) {
    PortRecord *rec = recordOf(cx, obj, "Serial.close: Not initialized");
    if (!rec) return JS_FALSE;
    if (rec->handle == INVALID_HANDLE_VALUE) return JS_TRUE;
    // A read or write under way on another thread finishes first.
    PortChange change(cx, rec);
    // `handle` keeps its old number: scripts may still log it.
    HANDLE h = rec->handle;
    if (h == INVALID_HANDLE_VALUE) return JS_TRUE;
    rec->handle = INVALID_HANDLE_VALUE;
    PortUse use(rec);  // an open meanwhile waits for the close
    Kx4HeapReleased released(api, cx);
    CloseHandle(h);
    return JS_TRUE;
}

// All or nothing: exactly `count` bytes, or "" with whatever did arrive
// left queued for the next read.
JSBool serialRead(JSContext *cx, JSObject *obj, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "Serial.read(<params>)")) return JS_FALSE;
    int32_t count = kx4FieldInt32(api, cx, kx4ArgObject(argc, argv, 0), "count", 1);
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    PortRecord *rec = recordOf(cx, obj, "Serial.read: Serial not initialized");
    if (!rec) return JS_FALSE;
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
    DWORD got = 0;
    PortPin pin(rec);
    if (portReady(cx, rec)) {
        PortUse use(rec);
        HANDLE h = rec->handle;
        Kx4HeapReleased released(api, cx);
        int64_t budget = count * kPollsPerByte;
        if (budget < kMinimumPolls) budget = kMinimumPolls;
        DWORD errors;
        COMSTAT status;
        ZeroMemory(&status, sizeof status);
        ClearCommError(h, &errors, &status);
        // An open or close waiting for this read ends the wait: the port
        // goes away.
        while (status.cbInQue < static_cast<DWORD>(count) && budget > 0 &&
               rec->changesIssued == rec->changesDone) {
            Sleep(1);
            budget--;
            ClearCommError(h, &errors, &status);
        }
        if (status.cbInQue >= static_cast<DWORD>(count)) {
            // The timeouts set at open make this return at once with the queue.
            if (!ReadFile(h, buffer, static_cast<DWORD>(count), &got, nullptr)) got = 0;
        }
    }
    *rval = api->newStringN(cx, buffer, got);
    free(buffer);
    return JS_TRUE;
}

JSBool serialWrite(JSContext *cx, JSObject *obj, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "Serial.write(<params>)")) return JS_FALSE;
    size_t length;
    const char *bytes = kx4FieldBytes(api, cx, kx4ArgObject(argc, argv, 0), "content", &length);
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    PortRecord *rec = recordOf(cx, obj, "Serial.write: Serial not initialized");
    if (!rec) return JS_FALSE;
    DWORD written = 0;
    PortPin pin(rec);
    if (rec->handle != INVALID_HANDLE_VALUE && portReady(cx, rec)) {
        PortUse use(rec);
        HANDLE h = rec->handle;
        // The bytes belong to a string this call holds: they stay put.
        Kx4HeapReleased released(api, cx);
        // A request's reply must not be mixed with older bytes: whatever
        // arrived unread before it is dropped.
        PurgeComm(h, PURGE_RXCLEAR);
        if (!WriteFile(h, bytes, static_cast<DWORD>(length), &written, nullptr)) written = 0;
    }
    *rval = api->newNumber(cx, written);
    return JS_TRUE;
}

// ---- Class ------------------------------------------------------------------

JSBool serialConstruct(JSContext *cx, JSObject *obj, uintN, jsval *, jsval *) {
    PortRecord *rec = static_cast<PortRecord *>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(PortRecord)));
    if (!rec) {
        api->reportError(cx, "Serial: out of memory");
        return JS_FALSE;
    }
    rec->kx4Class = &portClass;
    rec->handle = INVALID_HANDLE_VALUE;
    if (!api->setPrivate(cx, obj, rec)) {
        HeapFree(GetProcessHeap(), 0, rec);
        return JS_FALSE;
    }
    return JS_TRUE;
}

// A port the script forgot to close is closed when its object is collected.
// The prototype is finalized too, without a record; an object of another
// class keeps its own.
void serialFinalize(JSContext *cx, JSObject *obj) {
    PortRecord *rec = static_cast<PortRecord *>(kx4TakeClassPrivate(api, cx, obj, &portClass));
    if (!rec) return;
    // A native still holds the record across a heap release: it frees it.
    if (rec->pins > 0) {
        rec->orphaned = true;
        return;
    }
    destroyRecord(rec);
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
