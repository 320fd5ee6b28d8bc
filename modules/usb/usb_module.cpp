/* kx4hid.dll: the USB class, for UPS units and other devices spoken to
 * with control requests and interrupt reads.
 *
 *   var usb = new USB();
 *   var devices = usb.enumerate();          // plain objects, one per device
 *   usb.open(devices[0]);                    // true; defines `handle`
 *   var report = usb.send(devices[0], {requestType: 0xA1, request: 0x01,
 *                                      value: 0x0301, length: 8});
 *   var packet = usb.getAnswer(devices[0], {length: 8});
 *   usb.close(devices[0]);
 *
 * Built on libusb-1.0, which it imports as libusb-1.0.dll. On Windows its
 * HID back end reaches HID-class devices through the system's HID driver,
 * so a HID UPS needs no driver installation. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <libusb.h>

#include <new>
#include <vector>

#include "kx4.h"

namespace {

HostApi *api;  // the host's table, kept for the life of the process

const Kx4Class usbClass = {"USB"};

// One libusb context for the process, made by the first construction that
// gets one. Constructions hold the heap, so they never race.
libusb_context *usbContext;

// The private data of a USB object: the device list that the last
// enumerate or open fetched (libusb's references keep those devices).
struct UsbRecord {
    const Kx4Class *kx4Class;  // &usbClass
    libusb_device **devices;
    ssize_t count;
};

// The vendors whose units open claims: interface 0 of configuration 1,
// alternate setting 0. All three make HID power devices.
const uint16_t kClaimedVendors[] = {0x051D, 0x0463, 0x0764};

const int kLogLevel = 4;          // libusb's debug level, LIBUSB_LOG_LEVEL_DEBUG
const int kDefaultTimeout = 5000;  // ms
const int kDefaultEndPoint = 0x81;
const int kHidDescriptor = 0x21;
// A read longer than this could not come back as a script string anyway.
const int32_t kMaxReadLength = 0x1000000;

// ---- Open handles ------------------------------------------------------------
//
// Handles travel to script as numbers and may come back from any device
// object, so a number is used only when it names a handle this module has
// open. The table changes only while the heap is held: the heap lock guards
// it. A transfer takes the entry (users + 1) before it releases the heap;
// close takes the entry out of the table at once (no new transfer finds it)
// and waits, with the heap released, for the transfers under way before it
// releases the interface and closes the handle.
struct OpenHandle {
    libusb_device_handle *handle;
    int32_t users;  // transfers using `handle` with the heap released
    bool claimed;   // interface 0 claimed by open
};

std::vector<OpenHandle *> openHandles;

OpenHandle *findOpen(libusb_device_handle *h) {
    if (!h) return nullptr;
    for (OpenHandle *e : openHandles)
        if (e->handle == h) return e;
    return nullptr;
}

// Marks an entry in use for a Kx4HeapReleased block.
class HandleUse {
  public:
    explicit HandleUse(OpenHandle *e) : e_(e) { e_->users++; }
    ~HandleUse() { e_->users--; }
    HandleUse(const HandleUse &) = delete;
    HandleUse &operator=(const HandleUse &) = delete;

  private:
    OpenHandle *e_;
};

// Takes an entry out of the table, waits for its transfers and closes it.
// Heap held on entry and on return.
void closeOpen(JSContext *cx, OpenHandle *e) {
    for (size_t i = 0; i < openHandles.size(); i++) {
        if (openHandles[i] == e) {
            openHandles.erase(openHandles.begin() + static_cast<ptrdiff_t>(i));
            break;
        }
    }
    while (e->users > 0) {
        Kx4HeapReleased released(api, cx);
        Sleep(1);
    }
    {
        Kx4HeapReleased released(api, cx);
        if (e->claimed) libusb_release_interface(e->handle, 0);
        libusb_close(e->handle);
    }
    delete e;
}

// ---- Device names ------------------------------------------------------------
//
// dirName: the bus number, three decimal digits ("001").
// fileName: the port numbers from the root hub down, joined with dots
// ("1.4" is port 4 of the hub on root port 1); a root hub, which has no
// port path, is named by its address, three digits ("001"). Both stay the
// same while the device stays plugged in (the port path even across
// re-plugging into the same socket), and no two devices on a bus share one.
void deviceNames(libusb_device *dev, char dirName[8], char fileName[64]) {
    snprintf(dirName, 8, "%03u", libusb_get_bus_number(dev));
    uint8_t ports[8];
    int n = libusb_get_port_numbers(dev, ports, static_cast<int>(sizeof ports));
    if (n <= 0) {
        snprintf(fileName, 64, "%03u", libusb_get_device_address(dev));
        return;
    }
    size_t at = 0;
    fileName[0] = 0;
    for (int i = 0; i < n && at < 60; i++)
        at += static_cast<size_t>(snprintf(fileName + at, 64 - at, i ? ".%u" : "%u", ports[i]));
}

// 1 when the first interface of the first configuration has class 3 (HID).
int isHid(libusb_device *dev) {
    libusb_config_descriptor *config = nullptr;
    if (libusb_get_config_descriptor(dev, 0, &config) != 0 || !config) return 0;
    int hid = config->bNumInterfaces > 0 && config->interface && config->interface[0].num_altsetting > 0 &&
              config->interface[0].altsetting[0].bInterfaceClass == LIBUSB_CLASS_HID;
    libusb_free_config_descriptor(config);
    return hid;
}

// The report descriptor's length from the HID descriptor among the extra
// descriptors of the first interface setting; 0 when there is none. Each
// descriptor starts with its length: a length of 0, or a descriptor that
// runs past the extra bytes, ends the walk.
int reportDescriptorSize(libusb_device *dev) {
    libusb_config_descriptor *config = nullptr;
    if (libusb_get_config_descriptor(dev, 0, &config) != 0 || !config) return 0;
    int size = 0;
    if (config->bNumInterfaces > 0 && config->interface && config->interface[0].num_altsetting > 0) {
        const libusb_interface_descriptor &setting = config->interface[0].altsetting[0];
        const unsigned char *extra = setting.extra;
        int length = extra ? setting.extra_length : 0;
        int at = 0;
        while (at < length) {
            int n = extra[at];
            if (n == 0 || n > length - at) break;
            if (n > 8 && extra[at + 1] == kHidDescriptor) {
                size = extra[at + 7] | (extra[at + 8] << 8);
                break;
            }
            at += n;
        }
    }
    libusb_free_config_descriptor(config);
    return size;
}

// ---- The record --------------------------------------------------------------

UsbRecord *recordOf(JSContext *cx, JSObject *obj, const char *notInitialized) {
    return static_cast<UsbRecord *>(kx4CheckPrivate(api, cx, obj, &usbClass, notInitialized));
}

// Fetches the device list with the heap released (the library asks the
// system about every device) and keeps it in the record, replacing the
// last one. The count, or a libusb error (< 0) with an empty list.
ssize_t rescan(JSContext *cx, JSObject *obj, libusb_device ***devices) {
    libusb_device **list = nullptr;
    ssize_t count;
    {
        Kx4HeapReleased released(api, cx);
        count = libusb_get_device_list(usbContext, &list);
    }
    if (count < 0) list = nullptr;
    // `this` is held by the caller, so its record is still there.
    UsbRecord *rec = static_cast<UsbRecord *>(kx4GetClassPrivate(api, cx, obj, &usbClass));
    if (rec->devices) libusb_free_device_list(rec->devices, 1);
    rec->devices = list;
    rec->count = count < 0 ? 0 : count;
    *devices = list;
    return count;
}

// The device argument: an object, or null with the error reported.
JSObject *deviceArg(JSContext *cx, uintN argc, jsval *argv, const char *usage) {
    return kx4ArgOptionRecord(api, cx, argc, argv, 0, "USB", "device", usage);
}

// The handle a device object names, when this module has it open.
OpenHandle *deviceHandle(void *number) {
    return findOpen(static_cast<libusb_device_handle *>(number));
}

// The two arguments of a transfer: the device object, the request record
// and the handle number the device names (not yet looked up: the
// request's fields are read first). False after a reported error.
struct TransferArgs {
    JSObject *device, *request;
    void *number;
};

bool readTransferArgs(JSContext *cx, uintN argc, jsval *argv, const char *usage, TransferArgs *t) {
    if (!kx4RequireArgs(api, cx, argc, 2, usage)) return false;
    t->device = deviceArg(cx, argc, argv, usage);
    if (!t->device) return false;
    t->request = kx4ArgOptionRecord(api, cx, argc, argv, 1, "USB", "request", usage);
    if (!t->request) return false;
    t->number = kx4ValueToHandle(api, cx, api->getPropertyValue(cx, t->device, "handle"));
    return true;
}

bool isClaimedVendor(uint16_t vendor) {
    for (uint16_t v : kClaimedVendors)
        if (v == vendor) return true;
    return false;
}

// ---- Methods -----------------------------------------------------------------

JSBool usbEnumerate(JSContext *cx, JSObject *obj, uintN, jsval *, jsval *rval) {
    if (!recordOf(cx, obj, "USB.enumerate: USB not initialized")) return JS_FALSE;
    libusb_device **list;
    ssize_t count = rescan(cx, obj, &list);
    JSObject *result = api->newArray(cx, 0, nullptr);
    if (!result) return JS_FALSE;
    *rval = OBJECT_TO_JSVAL(result);
    // Bus by bus, in the order the library gives the busses first, and in
    // its order on each bus.
    bool *done = count > 0 ? static_cast<bool *>(calloc(static_cast<size_t>(count), sizeof(bool))) : nullptr;
    if (count > 0 && !done) {
        api->reportError(cx, "USB.enumerate: out of memory");
        return JS_FALSE;
    }
    // Freed on every way out.
    struct Free {
        bool *p;
        ~Free() { free(p); }
    } freeDone{done};
    int32_t index = 0;
    for (ssize_t first = 0; first < count; first++) {
        if (done[first]) continue;
        uint8_t bus = libusb_get_bus_number(list[first]);
        for (ssize_t i = first; i < count; i++) {
            if (done[i] || libusb_get_bus_number(list[i]) != bus) continue;
            done[i] = true;
            libusb_device *dev = list[i];
            libusb_device_descriptor desc;
            if (libusb_get_device_descriptor(dev, &desc) != 0) memset(&desc, 0, sizeof desc);
            printf("Found: %d: %d\n", desc.idVendor, desc.idProduct);
            char dirName[8], fileName[64];
            deviceNames(dev, dirName, fileName);
            JSObject *device = api->newObject(cx, nullptr);
            if (!device) return JS_FALSE;
            jsval v = OBJECT_TO_JSVAL(device);
            if (!api->setElement(cx, result, index++, &v)) return JS_FALSE;
            kx4DefineResultNumber(api, cx, device, "idVendor", desc.idVendor);
            kx4DefineResultNumber(api, cx, device, "idProduct", desc.idProduct);
            kx4DefineResultString(api, cx, device, "dirName", dirName);
            kx4DefineResultString(api, cx, device, "fileName", fileName);
            kx4DefineResultNumber(api, cx, device, "hid", isHid(dev));
        }
    }
    fflush(stdout);
    return JS_TRUE;
}

// Claims interface 0 of configuration 1 in alternate setting 0, each step
// only after the one before succeeded; 0, or the libusb error of the step
// that failed. Runs with the heap released.
//
// Configuration: a device already in configuration 1 (every HID device
// that Windows' HID driver serves is) is left as it is; the HID back end
// could not select another one anyway. Claiming is what lets the HID
// back end read the interrupt endpoint; alternate setting 0 is the only
// one it knows, and it accepts it.
int claim(libusb_device_handle *h) {
    int config = 0;
    int r = libusb_get_configuration(h, &config);
    if (r != 0 || config != 1) r = libusb_set_configuration(h, 1);
    if (r == 0) r = libusb_claim_interface(h, 0);
    if (r == 0) {
        r = libusb_set_interface_alt_setting(h, 0, 0);
        if (r != 0) libusb_release_interface(h, 0);
    }
    return r;
}

JSBool usbOpen(JSContext *cx, JSObject *obj, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "USB.open(<device>)")) return JS_FALSE;
    JSObject *device = deviceArg(cx, argc, argv, "USB.open(<device>)");
    if (!device) return JS_FALSE;
    const char *fileName = api->getPropertyString(cx, device, "fileName", nullptr);
    const char *dirName = api->getPropertyString(cx, device, "dirName", nullptr);
    void *previous = kx4ValueToHandle(api, cx, api->getPropertyValue(cx, device, "handle"));
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    if (!recordOf(cx, obj, "USB.open: USB not initialized")) return JS_FALSE;
    *rval = JSVAL_FALSE;

    // Opening a device object again closes the handle it holds first:
    // the number would otherwise be lost with its handle.
    if (OpenHandle *old = deviceHandle(previous)) closeOpen(cx, old);

    libusb_device **list;
    ssize_t count = rescan(cx, obj, &list);
    libusb_device *found = nullptr;
    for (ssize_t i = 0; i < count && fileName && dirName && !found; i++) {
        char dir[8], file[64];
        deviceNames(list[i], dir, file);
        if (strcmp(dir, dirName) == 0 && strcmp(file, fileName) == 0) found = list[i];
    }
    if (!found) return JS_TRUE;
    // Another thread's rescan on this object may free the list while this
    // one waits with the heap released: the device stays referenced.
    struct Ref {
        libusb_device *dev;
        ~Ref() { libusb_unref_device(dev); }
    } ref{libusb_ref_device(found)};

    libusb_device_descriptor desc;
    if (libusb_get_device_descriptor(found, &desc) != 0) memset(&desc, 0, sizeof desc);
    bool claiming = isClaimedVendor(desc.idVendor);
    libusb_device_handle *h = nullptr;
    int opened, claimed = 0;
    {
        Kx4HeapReleased released(api, cx);
        opened = libusb_open(found, &h);
        if (opened == 0 && claiming) {
            claimed = claim(h);
            if (claimed != 0) {
                libusb_close(h);
                h = nullptr;
            } else {
                // A stalled interrupt endpoint from an earlier user.
                libusb_clear_halt(h, kDefaultEndPoint);
            }
        }
    }
    if (opened != 0) return JS_TRUE;  // found, but it does not open
    if (claimed != 0) {
        // The handle is closed again: `handle` 0 says so.
        kx4DefineResultNumber(api, cx, device, "handle", 0);
        api->reportError(cx, "USB.open: ERROR! Unable to open device: %d %s", claimed, libusb_strerror(claimed));
        return JS_FALSE;
    }
    OpenHandle *e = new (std::nothrow) OpenHandle{h, 0, claiming};
    bool kept = false;
    if (e) {
        try {
            openHandles.push_back(e);
            kept = true;
        } catch (...) {
            delete e;
        }
    }
    if (!kept) {
        if (claiming) libusb_release_interface(h, 0);
        libusb_close(h);
        api->reportError(cx, "USB.open: out of memory");
        return JS_FALSE;
    }
    kx4DefineResult(api, cx, device, "handle", kx4HandleToValue(api, cx, h));
    kx4DefineResultNumber(api, cx, device, "reportDescriptorSize", reportDescriptorSize(found));
    *rval = JSVAL_TRUE;
    return JS_TRUE;
}

JSBool usbClose(JSContext *cx, JSObject *obj, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "USB.close(<device>)")) return JS_FALSE;
    JSObject *device = deviceArg(cx, argc, argv, "USB.close(<device>)");
    if (!device) return JS_FALSE;
    void *number = kx4ValueToHandle(api, cx, api->getPropertyValue(cx, device, "handle"));
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    if (!recordOf(cx, obj, "USB.close: USB not initialized")) return JS_FALSE;
    // A number that names no open handle (0, closed already, made up)
    // closes nothing.
    if (OpenHandle *e = deviceHandle(number)) closeOpen(cx, e);
    kx4DefineResultNumber(api, cx, device, "handle", 0);
    *rval = JSVAL_TRUE;
    return JS_TRUE;
}

// Request values go on the wire in their field widths: requestType and
// request as 8 bits, value and index as 16.
JSBool usbSend(JSContext *cx, JSObject *obj, uintN argc, jsval *argv, jsval *rval) {
    TransferArgs t;
    if (!readTransferArgs(cx, argc, argv, "USB.send(<device>, <request>)", &t)) return JS_FALSE;
    JSObject *request = t.request;
    int requestType = kx4FieldInt32(api, cx, request, "requestType", 0) & 0xFF;
    int requestCode = kx4FieldInt32(api, cx, request, "request", 0) & 0xFF;
    int value = kx4FieldInt32(api, cx, request, "value", 0) & 0xFFFF;
    int index = kx4FieldInt32(api, cx, request, "index", 0) & 0xFFFF;
    int32_t length = kx4FieldInt32(api, cx, request, "length", 0);
    // `bytes` absent: zeros. Read once: a getter could answer differently.
    jsval bytesValue = api->getPropertyValue(cx, request, "bytes");
    size_t given = 0;
    const char *bytes = bytesValue == JSVAL_VOID ? "" : kx4ValueBytes(api, cx, bytesValue, &given);
    int32_t timeout = kx4FieldInt32(api, cx, request, "timeout", kDefaultTimeout);
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    if (!recordOf(cx, obj, "USB.send: USB not initialized")) return JS_FALSE;
    OpenHandle *e = deviceHandle(t.number);
    if (!e) {
        api->reportError(cx, "USB.send: Device not initialized");
        return JS_FALSE;
    }

    // wLength is 16 bits: a length outside 0..65535 is not sent at all.
    int r = LIBUSB_ERROR_INVALID_PARAM;
    unsigned char *buffer = nullptr;
    if (length >= 0 && length <= 0xFFFF) {
        buffer = static_cast<unsigned char *>(calloc(static_cast<size_t>(length) + 1, 1));
        r = LIBUSB_ERROR_NO_MEM;
    }
    if (buffer) {
        // As far as `bytes` goes; the rest stays zero.
        memcpy(buffer, bytes, given < static_cast<size_t>(length) ? given : static_cast<size_t>(length));
        HandleUse use(e);
        libusb_device_handle *h = e->handle;
        Kx4HeapReleased released(api, cx);
        r = libusb_control_transfer(h, static_cast<uint8_t>(requestType), static_cast<uint8_t>(requestCode),
                                    static_cast<uint16_t>(value), static_cast<uint16_t>(index), buffer,
                                    static_cast<uint16_t>(length), timeout < 0 ? 0u : static_cast<unsigned>(timeout));
    }
    if (r > 0) *rval = api->newStringN(cx, reinterpret_cast<const char *>(buffer), static_cast<size_t>(r));
    free(buffer);
    if (r > 0) return JS_TRUE;
    api->reportError(cx,
                     "USB.send: ERROR! Unable to send USB control message: {requestType: 0x%02X, request: 0x%02X, "
                     "value: 0x%04X, index: 0x%04X, length: 0x%04X, timeout: %d ms}: %d %s",
                     requestType, requestCode, value, index, length, timeout, r, libusb_strerror(r));
    return JS_FALSE;
}

JSBool usbGetAnswer(JSContext *cx, JSObject *obj, uintN argc, jsval *argv, jsval *rval) {
    TransferArgs t;
    if (!readTransferArgs(cx, argc, argv, "USB.getAnswer(<device>, <request>)", &t)) return JS_FALSE;
    JSObject *request = t.request;
    // A read: the endpoint address always has its IN bit, so a script
    // cannot turn it into a write of the zeroed buffer.
    int endPoint = (kx4FieldInt32(api, cx, request, "endPoint", kDefaultEndPoint) & 0xFF) | LIBUSB_ENDPOINT_IN;
    int32_t length = kx4FieldInt32(api, cx, request, "length", 0);
    int32_t timeout = kx4FieldInt32(api, cx, request, "timeout", kDefaultTimeout);
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    if (!recordOf(cx, obj, "USB.getAnswer: USB not initialized")) return JS_FALSE;
    OpenHandle *e = deviceHandle(t.number);
    if (!e) {
        api->reportError(cx, "USB.read: Device not initialized");
        return JS_FALSE;
    }

    int r = LIBUSB_ERROR_INVALID_PARAM;
    unsigned char *buffer = nullptr;
    if (length > kMaxReadLength) {
        r = LIBUSB_ERROR_NO_MEM;
    } else if (length >= 0) {
        buffer = static_cast<unsigned char *>(calloc(static_cast<size_t>(length) + 1, 1));
        r = LIBUSB_ERROR_NO_MEM;
    }
    if (buffer) {
        HandleUse use(e);
        libusb_device_handle *h = e->handle;
        Kx4HeapReleased released(api, cx);
        int got = 0;
        r = libusb_interrupt_transfer(h, static_cast<unsigned char>(endPoint), buffer, length, &got,
                                      timeout < 0 ? 0u : static_cast<unsigned>(timeout));
        // Bytes that arrived before a time-out are the answer.
        if (r == 0 || (r == LIBUSB_ERROR_TIMEOUT && got > 0)) r = got;
    }
    if (r > 0) *rval = api->newStringN(cx, reinterpret_cast<const char *>(buffer), static_cast<size_t>(r));
    free(buffer);
    if (r > 0) return JS_TRUE;
    api->reportError(cx, "USB.getAnswer: ERROR! Unable to read endpoint\nendPoint=0x%02X length=0x%04X\n%d %s",
                     endPoint, length, r, libusb_strerror(r));
    return JS_FALSE;
}

// ---- Class -------------------------------------------------------------------

// libusb's debug messages, each written whole: stderr may be buffered (a
// pipe), and a message cut at a buffer's end would land in the middle of
// the script's own output lines.
void LIBUSB_CALL logMessage(libusb_context *, enum libusb_log_level, const char *message) {
    fputs(message, stderr);
    fflush(stderr);
}

JSBool usbConstruct(JSContext *cx, JSObject *obj, uintN, jsval *, jsval *) {
    // Without a library every method reports "USB not initialized".
    if (!usbContext) {
        libusb_context *context = nullptr;
        int r;
        {
            Kx4HeapReleased released(api, cx);
            r = libusb_init(&context);
        }
        // Another thread may have made one meanwhile.
        if (r == 0 && usbContext) {
            Kx4HeapReleased released(api, cx);
            libusb_exit(context);
        } else if (r == 0) {
            usbContext = context;
            libusb_set_log_cb(usbContext, logMessage, LIBUSB_LOG_CB_GLOBAL | LIBUSB_LOG_CB_CONTEXT);
        }
        if (!usbContext) return JS_TRUE;
    }
    libusb_set_option(usbContext, LIBUSB_OPTION_LOG_LEVEL, kLogLevel);
    UsbRecord *rec = static_cast<UsbRecord *>(calloc(1, sizeof(UsbRecord)));
    if (!rec) {
        api->reportError(cx, "USB: out of memory");
        return JS_FALSE;
    }
    rec->kx4Class = &usbClass;
    if (!api->setPrivate(cx, obj, rec)) {
        free(rec);
        return JS_FALSE;
    }
    return JS_TRUE;
}

// Drops the device list. Open handles belong to the device objects and
// stay open. The prototype is finalized too, without a record.
void usbFinalize(JSContext *cx, JSObject *obj) {
    UsbRecord *rec = static_cast<UsbRecord *>(kx4TakeClassPrivate(api, cx, obj, &usbClass));
    if (!rec) return;
    if (rec->devices) libusb_free_device_list(rec->devices, 1);
    free(rec);
}

const JSFunctionSpec usbMethods[] = {
    JS_FS("enumerate", usbEnumerate, 0),
    JS_FS("open", usbOpen, 1),
    JS_FS("close", usbClose, 0),
    JS_FS("send", usbSend, 2),
    JS_FS("getAnswer", usbGetAnswer, 2),
    JS_FS_END,
};

const JSFunctionSpec usbStatics[] = {
    JS_FS_END,
};

}  // namespace

KX4_MODULE_INIT {
    api = hostApi;
    api->defineClass(cx, "USB", usbConstruct, 0, nullptr, usbMethods, nullptr, usbStatics, usbFinalize);
}
