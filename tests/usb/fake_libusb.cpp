/* A stand-in libusb-1.0.dll for the tests of kx4hid.dll: the libusb-1.0
 * functions the module imports, by the same names, over a set of simulated
 * devices. The tests put it beside kx4hid.dll and kx4test.exe in a folder
 * of their own, where Windows' loader finds it instead of the real library;
 * the module under test is the product's DLL, unchanged.
 *
 * The same DLL is a kx4 module: a test script that loads it
 * (System.loadModule('libusb-1.0.dll') gets the copy already loaded) gets
 * `UsbSim`, which plugs and unplugs devices, queues interrupt packets and
 * tells which libusb calls the module made:
 *
 *   UsbSim.plug(desc)        id; desc: {bus, ports: [..], address, idVendor,
 *                            idProduct, interfaceClass (3), configValue (1),
 *                            activeConfig (1), extra (bytes after the
 *                            interface descriptor), reportDescriptor,
 *                            features: {reportId: bytes}, refuse:
 *                            {open|configuration|claim|altsetting: code},
 *                            noConfig (no configuration descriptor)}
 *   UsbSim.unplug(id)        gone from lists; its handles answer NO_DEVICE
 *   UsbSim.reset()           no devices, empty log and queues
 *   UsbSim.queue(id, bytes)  one packet for the next interrupt read
 *   UsbSim.feature(id, rid)  the feature report's bytes now
 *   UsbSim.log()             the calls since the last log(), one line each
 *   UsbSim.quiet(on)         stop logging (the benchmark)
 *   UsbSim.openHandles()     handles open now
 *   UsbSim.logLevel()        the last LIBUSB_OPTION_LOG_LEVEL set
 *   UsbSim.now()             milliseconds, QueryPerformanceCounter
 *   UsbSim.slotFloor(device, request, kind)
 *                            the slot calls of send (0) or getAnswer (1)
 *                            without the rest: the benchmark's floor
 *
 * With KX4_USB_SIM_BENCH set in the environment, libusb_init plugs a HID
 * UPS (bus 1, port 2) whose endpoint 0x81 always has an 8-byte packet, and
 * logs nothing: the benchmark's device, the same for C and for scripts.
 *
 * Simulated behaviour of every device: GET_DESCRIPTOR of the HID report
 * descriptor (0x81 0x06 0x22xx), GET_REPORT and SET_REPORT of feature
 * reports (0xA1 0x01 / 0x21 0x09, value 0x03<id>), SET_IDLE (0x21 0x0A, no
 * data), a vendor IN request (0xC0 0x01) answering its setup bytes, a
 * vendor OUT request (0x40 0x01) taking anything; everything else stalls
 * (LIBUSB_ERROR_PIPE). An interrupt read takes the next queued packet,
 * waiting for one up to its time-out. */
#include <windows.h>

#include <libusb.h>
#include <stdio.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "kx4.h"

#define SIM_EXPORT extern "C" __declspec(dllexport)

struct libusb_context {
    int unused;
};

struct libusb_device {
    int id;
    bool plugged;
    uint8_t bus, address;
    std::vector<uint8_t> ports;
    libusb_device_descriptor desc;
    bool noConfig;
    uint8_t interfaceClass, configValue, activeConfig;
    std::string extra, reportDescriptor;
    std::map<int, std::string> features;
    std::map<std::string, int> refuse;
    std::vector<std::string> packets;
    bool streaming;  // endpoint 0x81 never runs dry
};

struct libusb_device_handle {
    libusb_device *dev;
    bool claimed;
};

namespace {

HostApi *api;
CRITICAL_SECTION lock;
CONDITION_VARIABLE packetArrived;
std::vector<libusb_device *> devices;  // never freed: lists may still hold them
std::vector<std::string> calls;
bool quiet;
int openCount;
int lastLogLevel = -1;
libusb_context theContext;

struct Locked {
    Locked() { EnterCriticalSection(&lock); }
    ~Locked() { LeaveCriticalSection(&lock); }
};

void logCall(const char *format, ...) {
    if (quiet) return;
    char line[256];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    calls.push_back(line);
}

int refusal(libusb_device *dev, const char *step) {
    auto it = dev->refuse.find(step);
    return it == dev->refuse.end() ? 0 : it->second;
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        InitializeCriticalSection(&lock);
        InitializeConditionVariable(&packetArrived);
    }
    return TRUE;
}

// ---- libusb-1.0 --------------------------------------------------------------

namespace {

void plugBenchDevice() {
    auto *dev = new libusb_device();
    dev->id = static_cast<int>(devices.size()) + 1;
    dev->plugged = dev->streaming = true;
    dev->bus = 1;
    dev->address = 4;
    dev->ports.push_back(2);
    dev->desc.bLength = LIBUSB_DT_DEVICE_SIZE;
    dev->desc.bDescriptorType = LIBUSB_DT_DEVICE;
    dev->desc.idVendor = 0x051D;
    dev->desc.idProduct = 0x0002;
    dev->desc.bNumConfigurations = 1;
    dev->interfaceClass = LIBUSB_CLASS_HID;
    dev->configValue = dev->activeConfig = 1;
    dev->extra = std::string("\x09\x21\x11\x01\x00\x01\x22\x11\x00", 9);
    dev->features[12] = std::string("\x0C\x64", 2);
    devices.push_back(dev);
}

}  // namespace

SIM_EXPORT int LIBUSB_CALL libusb_init(libusb_context **ctx) {
    Locked l;
    static bool first = true;
    if (first && GetEnvironmentVariableA("KX4_USB_SIM_BENCH", nullptr, 0)) {
        quiet = true;
        plugBenchDevice();
    }
    first = false;
    logCall("init");
    if (ctx) *ctx = &theContext;
    return 0;
}

SIM_EXPORT void LIBUSB_CALL libusb_exit(libusb_context *) {}

SIM_EXPORT int LIBUSB_CALL libusb_set_option(libusb_context *, enum libusb_option option, ...) {
    Locked l;
    if (option == LIBUSB_OPTION_LOG_LEVEL) {
        va_list args;
        va_start(args, option);
        lastLogLevel = va_arg(args, int);
        va_end(args);
    }
    return 0;
}

SIM_EXPORT void LIBUSB_CALL libusb_set_log_cb(libusb_context *, libusb_log_cb, int) {}

SIM_EXPORT const char *LIBUSB_CALL libusb_strerror(int code) {
    // libusb's own English texts.
    switch (code) {
    case LIBUSB_SUCCESS: return "Success";
    case LIBUSB_ERROR_IO: return "Input/Output Error";
    case LIBUSB_ERROR_INVALID_PARAM: return "Invalid parameter";
    case LIBUSB_ERROR_ACCESS: return "Access denied (insufficient permissions)";
    case LIBUSB_ERROR_NO_DEVICE: return "No such device (it may have been disconnected)";
    case LIBUSB_ERROR_NOT_FOUND: return "Entity not found";
    case LIBUSB_ERROR_BUSY: return "Resource busy";
    case LIBUSB_ERROR_TIMEOUT: return "Operation timed out";
    case LIBUSB_ERROR_OVERFLOW: return "Overflow";
    case LIBUSB_ERROR_PIPE: return "Pipe error";
    case LIBUSB_ERROR_INTERRUPTED: return "System call interrupted (perhaps due to signal)";
    case LIBUSB_ERROR_NO_MEM: return "Insufficient memory";
    case LIBUSB_ERROR_NOT_SUPPORTED: return "Operation not supported or unimplemented on this platform";
    default: return "Other error";
    }
}

SIM_EXPORT ssize_t LIBUSB_CALL libusb_get_device_list(libusb_context *, libusb_device ***list) {
    Locked l;
    logCall("get_device_list");
    size_t n = 0;
    for (libusb_device *d : devices) n += d->plugged;
    libusb_device **out = static_cast<libusb_device **>(calloc(n + 1, sizeof *out));
    if (!out) return LIBUSB_ERROR_NO_MEM;
    size_t i = 0;
    for (libusb_device *d : devices)
        if (d->plugged) out[i++] = d;
    *list = out;
    return static_cast<ssize_t>(n);
}

SIM_EXPORT void LIBUSB_CALL libusb_free_device_list(libusb_device **list, int) { free(list); }

// Devices are never freed (a list or handle may still point at them).
SIM_EXPORT libusb_device *LIBUSB_CALL libusb_ref_device(libusb_device *dev) { return dev; }
SIM_EXPORT void LIBUSB_CALL libusb_unref_device(libusb_device *) {}

SIM_EXPORT int LIBUSB_CALL libusb_get_device_descriptor(libusb_device *dev, struct libusb_device_descriptor *desc) {
    *desc = dev->desc;
    return 0;
}

SIM_EXPORT uint8_t LIBUSB_CALL libusb_get_bus_number(libusb_device *dev) { return dev->bus; }
SIM_EXPORT uint8_t LIBUSB_CALL libusb_get_device_address(libusb_device *dev) { return dev->address; }

SIM_EXPORT int LIBUSB_CALL libusb_get_port_numbers(libusb_device *dev, uint8_t *ports, int len) {
    if (static_cast<int>(dev->ports.size()) > len) return LIBUSB_ERROR_OVERFLOW;
    for (size_t i = 0; i < dev->ports.size(); i++) ports[i] = dev->ports[i];
    return static_cast<int>(dev->ports.size());
}

SIM_EXPORT int LIBUSB_CALL libusb_get_config_descriptor(libusb_device *dev, uint8_t index,
                                                        struct libusb_config_descriptor **config) {
    if (dev->noConfig || index != 0) return LIBUSB_ERROR_NOT_FOUND;
    // One block: configuration, one interface, one setting, extra bytes.
    size_t size = sizeof(libusb_config_descriptor) + sizeof(libusb_interface) +
                  sizeof(libusb_interface_descriptor) + dev->extra.size() + 1;
    char *block = static_cast<char *>(calloc(1, size));
    if (!block) return LIBUSB_ERROR_NO_MEM;
    auto *c = reinterpret_cast<libusb_config_descriptor *>(block);
    auto *i = reinterpret_cast<libusb_interface *>(c + 1);
    auto *s = reinterpret_cast<libusb_interface_descriptor *>(i + 1);
    auto *extra = reinterpret_cast<unsigned char *>(s + 1);
    memcpy(extra, dev->extra.data(), dev->extra.size());
    c->bLength = LIBUSB_DT_CONFIG_SIZE;
    c->bDescriptorType = LIBUSB_DT_CONFIG;
    c->bNumInterfaces = 1;
    c->bConfigurationValue = dev->configValue;
    c->interface = i;
    i->altsetting = s;
    i->num_altsetting = 1;
    s->bLength = LIBUSB_DT_INTERFACE_SIZE;
    s->bDescriptorType = LIBUSB_DT_INTERFACE;
    s->bNumEndpoints = 1;
    s->bInterfaceClass = dev->interfaceClass;
    s->extra = dev->extra.empty() ? nullptr : extra;
    s->extra_length = static_cast<int>(dev->extra.size());
    *config = c;
    return 0;
}

SIM_EXPORT void LIBUSB_CALL libusb_free_config_descriptor(struct libusb_config_descriptor *config) { free(config); }

SIM_EXPORT int LIBUSB_CALL libusb_open(libusb_device *dev, libusb_device_handle **handle) {
    Locked l;
    logCall("open %03u:%03u", dev->bus, dev->address);
    if (!dev->plugged) return LIBUSB_ERROR_NO_DEVICE;
    if (int r = refusal(dev, "open")) return r;
    auto *h = new libusb_device_handle{dev, false};
    openCount++;
    *handle = h;
    return 0;
}

SIM_EXPORT void LIBUSB_CALL libusb_close(libusb_device_handle *h) {
    Locked l;
    logCall("close");
    openCount--;
    delete h;
}

SIM_EXPORT int LIBUSB_CALL libusb_get_configuration(libusb_device_handle *h, int *config) {
    Locked l;
    logCall("get_configuration");
    if (!h->dev->plugged) return LIBUSB_ERROR_NO_DEVICE;
    *config = h->dev->activeConfig;
    return 0;
}

SIM_EXPORT int LIBUSB_CALL libusb_set_configuration(libusb_device_handle *h, int config) {
    Locked l;
    logCall("set_configuration %d", config);
    if (!h->dev->plugged) return LIBUSB_ERROR_NO_DEVICE;
    if (int r = refusal(h->dev, "configuration")) return r;
    if (config != h->dev->configValue) return LIBUSB_ERROR_NOT_FOUND;
    h->dev->activeConfig = static_cast<uint8_t>(config);
    return 0;
}

SIM_EXPORT int LIBUSB_CALL libusb_claim_interface(libusb_device_handle *h, int iface) {
    Locked l;
    logCall("claim_interface %d", iface);
    if (!h->dev->plugged) return LIBUSB_ERROR_NO_DEVICE;
    if (int r = refusal(h->dev, "claim")) return r;
    if (iface != 0) return LIBUSB_ERROR_NOT_FOUND;
    if (h->claimed) return LIBUSB_ERROR_BUSY;
    h->claimed = true;
    return 0;
}

SIM_EXPORT int LIBUSB_CALL libusb_release_interface(libusb_device_handle *h, int iface) {
    Locked l;
    logCall("release_interface %d", iface);
    if (iface != 0 || !h->claimed) return LIBUSB_ERROR_NOT_FOUND;
    h->claimed = false;
    return 0;
}

SIM_EXPORT int LIBUSB_CALL libusb_set_interface_alt_setting(libusb_device_handle *h, int iface, int alt) {
    Locked l;
    logCall("set_interface_alt_setting %d %d", iface, alt);
    if (!h->dev->plugged) return LIBUSB_ERROR_NO_DEVICE;
    if (int r = refusal(h->dev, "altsetting")) return r;
    return iface == 0 && alt == 0 && h->claimed ? 0 : LIBUSB_ERROR_NOT_FOUND;
}

SIM_EXPORT int LIBUSB_CALL libusb_clear_halt(libusb_device_handle *h, unsigned char endpoint) {
    Locked l;
    logCall("clear_halt 0x%02X", endpoint);
    return h->dev->plugged ? 0 : LIBUSB_ERROR_NO_DEVICE;
}

SIM_EXPORT int LIBUSB_CALL libusb_control_transfer(libusb_device_handle *h, uint8_t type, uint8_t request,
                                                   uint16_t value, uint16_t index, unsigned char *data,
                                                   uint16_t length, unsigned int timeout) {
    Locked l;
    libusb_device *dev = h->dev;
    if (!quiet) {
        std::string bytes;
        if (!(type & LIBUSB_ENDPOINT_IN))
            for (int i = 0; i < length; i++) {
                char hex[4];
                snprintf(hex, sizeof hex, "%02X", data[i]);
                bytes += hex;
            }
        logCall("control 0x%02X 0x%02X 0x%04X 0x%04X %u %u%s%s", type, request, value, index, length, timeout,
                bytes.empty() ? "" : " ", bytes.c_str());
    }
    if (!dev->plugged) return LIBUSB_ERROR_NO_DEVICE;
    auto answer = [&](const std::string &s) {
        size_t n = s.size() < length ? s.size() : length;
        memcpy(data, s.data(), n);
        return static_cast<int>(n);
    };
    if (type == 0x81 && request == LIBUSB_REQUEST_GET_DESCRIPTOR && (value >> 8) == LIBUSB_DT_REPORT &&
        !dev->reportDescriptor.empty())
        return answer(dev->reportDescriptor);
    if (type == 0xA1 && request == 0x01 && (value >> 8) == 3) {
        auto it = dev->features.find(value & 0xFF);
        return it == dev->features.end() ? LIBUSB_ERROR_PIPE : answer(it->second);
    }
    if (type == 0x21 && request == 0x09 && (value >> 8) == 3 && length > 0) {
        dev->features[value & 0xFF] = std::string(reinterpret_cast<char *>(data), length);
        return length;
    }
    if (type == 0x21 && request == 0x0A && length == 0) return 0;
    if (type == 0xC0 && request == 0x01) {
        unsigned char setup[8] = {type, request, static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
                                  static_cast<unsigned char>(index), static_cast<unsigned char>(index >> 8),
                                  static_cast<unsigned char>(length), static_cast<unsigned char>(length >> 8)};
        return answer(std::string(reinterpret_cast<char *>(setup), 8));
    }
    if (type == 0x40 && request == 0x01) return length;
    return LIBUSB_ERROR_PIPE;
}

SIM_EXPORT int LIBUSB_CALL libusb_interrupt_transfer(libusb_device_handle *h, unsigned char endpoint,
                                                     unsigned char *data, int length, int *transferred,
                                                     unsigned int timeout) {
    Locked l;
    logCall("interrupt 0x%02X %d %u", endpoint, length, timeout);
    *transferred = 0;
    libusb_device *dev = h->dev;
    if (endpoint != 0x81) return LIBUSB_ERROR_NOT_FOUND;
    ULONGLONG end = GetTickCount64() + timeout;
    if (dev->streaming && dev->packets.empty()) dev->packets.push_back(std::string("\x03\x0D\x00\x00\x00\x00\x00\x00", 8));
    while (dev->plugged && dev->packets.empty()) {
        ULONGLONG now = GetTickCount64();
        if (timeout && now >= end) return LIBUSB_ERROR_TIMEOUT;
        SleepConditionVariableCS(&packetArrived, &lock, timeout ? static_cast<DWORD>(end - now) : INFINITE);
    }
    if (!dev->plugged) return LIBUSB_ERROR_NO_DEVICE;
    std::string packet = dev->packets.front();
    dev->packets.erase(dev->packets.begin());
    if (static_cast<int>(packet.size()) > length) {
        memcpy(data, packet.data(), static_cast<size_t>(length));
        *transferred = length;
        return LIBUSB_ERROR_OVERFLOW;
    }
    memcpy(data, packet.data(), packet.size());
    *transferred = static_cast<int>(packet.size());
    return 0;
}

// ---- UsbSim: the tests' control ----------------------------------------------

namespace {

std::string bytesOf(JSContext *cx, jsval v) {
    size_t n = 0;
    const char *b = v == JSVAL_VOID ? "" : kx4ValueBytes(api, cx, v, &n);
    return std::string(b, n);
}

libusb_device *deviceById(int id) {
    for (libusb_device *d : devices)
        if (d->id == id) return d;
    return nullptr;
}

JSBool simPlug(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    JSObject *d = kx4ArgObject(argc, argv, 0);
    auto *dev = new libusb_device();
    dev->bus = static_cast<uint8_t>(kx4FieldInt32(api, cx, d, "bus", 1));
    dev->address = static_cast<uint8_t>(kx4FieldInt32(api, cx, d, "address", 2));
    jsval ports = api->getPropertyValue(cx, d, "ports");
    if (kx4IsObject(ports)) {
        uint32_t n = 0;
        api->getArrayLength(cx, JSVAL_TO_OBJECT(ports), &n);
        for (uint32_t i = 0; i < n; i++) {
            jsval p;
            api->getElement(cx, JSVAL_TO_OBJECT(ports), static_cast<int32_t>(i), &p);
            dev->ports.push_back(static_cast<uint8_t>(kx4ValueToInt32(api, cx, p)));
        }
    }
    dev->desc.bLength = LIBUSB_DT_DEVICE_SIZE;
    dev->desc.bDescriptorType = LIBUSB_DT_DEVICE;
    dev->desc.idVendor = static_cast<uint16_t>(kx4FieldInt32(api, cx, d, "idVendor", 0));
    dev->desc.idProduct = static_cast<uint16_t>(kx4FieldInt32(api, cx, d, "idProduct", 0));
    dev->desc.bNumConfigurations = 1;
    dev->interfaceClass = static_cast<uint8_t>(kx4FieldInt32(api, cx, d, "interfaceClass", 3));
    dev->configValue = static_cast<uint8_t>(kx4FieldInt32(api, cx, d, "configValue", 1));
    dev->activeConfig = static_cast<uint8_t>(kx4FieldInt32(api, cx, d, "activeConfig", 1));
    dev->noConfig = kx4FieldBool(api, cx, d, "noConfig", 0);
    dev->extra = bytesOf(cx, api->getPropertyValue(cx, d, "extra"));
    dev->reportDescriptor = bytesOf(cx, api->getPropertyValue(cx, d, "reportDescriptor"));
    jsval features = api->getPropertyValue(cx, d, "features");
    if (kx4IsObject(features)) {
        for (int rid = 0; rid < 256; rid++) {
            char name[8];
            snprintf(name, sizeof name, "%d", rid);
            jsval f = api->getPropertyValue(cx, JSVAL_TO_OBJECT(features), name);
            if (f != JSVAL_VOID) dev->features[rid] = bytesOf(cx, f);
        }
    }
    jsval refuse = api->getPropertyValue(cx, d, "refuse");
    if (kx4IsObject(refuse)) {
        for (const char *step : {"open", "configuration", "claim", "altsetting"}) {
            int code = kx4FieldInt32(api, cx, JSVAL_TO_OBJECT(refuse), step, 0);
            if (code) dev->refuse[step] = code;
        }
    }
    Locked l;
    dev->id = static_cast<int>(devices.size()) + 1;
    dev->plugged = true;
    devices.push_back(dev);
    *rval = INT_TO_JSVAL(dev->id);
    return JS_TRUE;
}

JSBool simUnplug(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *) {
    int id = kx4ArgInt32(api, cx, argc, argv, 0, 0);
    Locked l;
    if (libusb_device *d = deviceById(id)) d->plugged = false;
    WakeAllConditionVariable(&packetArrived);
    return JS_TRUE;
}

JSBool simReset(JSContext *, JSObject *, uintN, jsval *, jsval *) {
    Locked l;
    for (libusb_device *d : devices) d->plugged = false;
    calls.clear();
    WakeAllConditionVariable(&packetArrived);
    return JS_TRUE;
}

JSBool simQueue(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *) {
    int id = kx4ArgInt32(api, cx, argc, argv, 0, 0);
    std::string packet = argc > 1 ? bytesOf(cx, argv[1]) : std::string();
    Locked l;
    if (libusb_device *d = deviceById(id)) d->packets.push_back(packet);
    WakeAllConditionVariable(&packetArrived);
    return JS_TRUE;
}

JSBool simFeature(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    int id = kx4ArgInt32(api, cx, argc, argv, 0, 0);
    int rid = kx4ArgInt32(api, cx, argc, argv, 1, 0);
    std::string bytes;
    {
        Locked l;
        libusb_device *d = deviceById(id);
        if (d && d->features.count(rid)) bytes = d->features[rid];
    }
    *rval = api->newStringN(cx, bytes.data(), bytes.size());
    return JS_TRUE;
}

JSBool simLog(JSContext *cx, JSObject *, uintN, jsval *, jsval *rval) {
    std::vector<std::string> taken;
    {
        Locked l;
        taken.swap(calls);
    }
    JSObject *a = api->newArray(cx, 0, nullptr);
    for (size_t i = 0; i < taken.size(); i++) {
        jsval v = api->newString(cx, taken[i].c_str(), nullptr);
        api->setElement(cx, a, static_cast<int32_t>(i), &v);
    }
    *rval = OBJECT_TO_JSVAL(a);
    return JS_TRUE;
}

JSBool simQuiet(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *) {
    bool on = argc > 0 && api->valueToNumber(cx, argv[0]) != 0;
    Locked l;
    quiet = on;
    return JS_TRUE;
}

JSBool simOpenHandles(JSContext *, JSObject *, uintN, jsval *, jsval *rval) {
    Locked l;
    *rval = INT_TO_JSVAL(openCount);
    return JS_TRUE;
}

JSBool simLogLevel(JSContext *, JSObject *, uintN, jsval *, jsval *rval) {
    Locked l;
    *rval = INT_TO_JSVAL(lastLogLevel);
    return JS_TRUE;
}

JSBool simNow(JSContext *cx, JSObject *, uintN, jsval *, jsval *rval) {
    LARGE_INTEGER c, f;
    QueryPerformanceCounter(&c);
    QueryPerformanceFrequency(&f);
    *rval = api->newNumber(cx, static_cast<double>(c.QuadPart) * 1000.0 / static_cast<double>(f.QuadPart));
    return JS_TRUE;
}

// The slot calls that USB#send (kind 0) or USB#getAnswer (kind 1) cannot do
// without: reading the device's handle and every request field, the
// pending-error question, and the result string. For the benchmark: what
// the host costs any native with that interface.
JSBool simSlotFloor(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    JSObject *device = kx4ArgObject(argc, argv, 0), *request = kx4ArgObject(argc, argv, 1);
    int kind = kx4ArgInt32(api, cx, argc, argv, 2, 0);
    int sum = static_cast<int>(reinterpret_cast<intptr_t>(kx4ValueToHandle(api, cx, api->getPropertyValue(cx, device, "handle"))));
    static const char *const sendFields[] = {"requestType", "request", "value", "index", "length", "timeout"};
    static const char *const readFields[] = {"endPoint", "length", "timeout"};
    if (kind == 0) {
        for (const char *f : sendFields) sum += kx4FieldInt32(api, cx, request, f, 0);
        api->getPropertyValue(cx, request, "bytes");
    } else {
        for (const char *f : readFields) sum += kx4FieldInt32(api, cx, request, f, 0);
    }
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    char bytes[8] = {static_cast<char>(sum)};
    *rval = api->newStringN(cx, bytes, kind == 0 ? 2 : 8);
    return JS_TRUE;
}

const JSFunctionSpec simFunctions[] = {
    JS_FS("slotFloor", simSlotFloor, 3),
    JS_FS("plug", simPlug, 1),
    JS_FS("unplug", simUnplug, 1),
    JS_FS("reset", simReset, 0),
    JS_FS("queue", simQueue, 2),
    JS_FS("feature", simFeature, 2),
    JS_FS("log", simLog, 0),
    JS_FS("quiet", simQuiet, 1),
    JS_FS("openHandles", simOpenHandles, 0),
    JS_FS("logLevel", simLogLevel, 0),
    JS_FS("now", simNow, 0),
    JS_FS_END,
};

}  // namespace

KX4_MODULE_INIT {
    api = hostApi;
    kx4DefineObject(api, cx, "UsbSim", simFunctions);
}
