// kx4hid.dll against simulated devices: the fake libusb-1.0.dll beside it
// (fake_libusb.cpp) is also a module, UsbSim, that plugs devices and logs
// the libusb calls the module makes. Run after lib/check.js.

check(System.loadModule('kx4hid.dll'), 'kx4hid.dll loads');
check(System.loadModule('libusb-1.0.dll'), 'the simulated library is the one kx4hid.dll loaded');

var VENDOR_A = 0x051D, VENDOR_B = 0x0463, VENDOR_C = 0x0764, OTHER = 0x0403;  // the three claimed, and one not
// A HID descriptor (9 bytes, type 0x21) naming a report descriptor of n bytes.
function hidDescriptor(n) { return '\x09\x21\x11\x01\x00\x01\x22' + String.fromCharCode(n & 0xFF, n >> 8); }
var REPORT_DESCRIPTOR = '\x05\x84\x09\x04\xA1\x01\x85\x0C\x09\x66\x75\x08\x95\x01\xB1\x02\xC0';

function ups(more) {
    var d = {bus: 1, ports: [2], address: 5, idVendor: VENDOR_A, idProduct: 2, extra: hidDescriptor(REPORT_DESCRIPTOR.length),
             reportDescriptor: REPORT_DESCRIPTOR, features: {12: '\x0C\x64', 13: '\x0D\x2A\x00'}};
    for (var k in more) d[k] = more[k];
    return d;
}

var usb = new USB();
checkEq(UsbSim.logLevel(), 4, 'the constructor sets libusb\'s debug level 4');
checkEq(UsbSim.log(), ['init'], 'the first construction starts libusb');
new USB();
checkEq(UsbSim.log(), [], 'later constructions do not start it again');

function findDevice(list, dirName, fileName) {
    return list.filter(function (d) { return d.dirName == dirName && d.fileName == fileName; })[0];
}

function plugAndFind(desc) {
    var id = UsbSim.plug(desc);
    var dev = findDevice(usb.enumerate(), ('00' + (desc.bus || 1)).slice(-3),
                         desc.ports && desc.ports.length ? desc.ports.join('.') : ('00' + (desc.address || 2)).slice(-3));
    UsbSim.log();
    return {id: id, dev: dev};
}

// ---- enumerate ---------------------------------------------------------------

(function () {
    UsbSim.reset();
    // In the library's order: bus 2, bus 1, bus 2 again, a root hub of bus 1.
    UsbSim.plug({bus: 2, ports: [1, 4], address: 7, idVendor: VENDOR_B, idProduct: 0xFFFF});
    UsbSim.plug({bus: 1, ports: [3], address: 6, idVendor: OTHER, idProduct: 0x6001, interfaceClass: 0xFF});
    UsbSim.plug({bus: 2, ports: [2], address: 3, idVendor: VENDOR_C, idProduct: 0x0501, noConfig: true});
    UsbSim.plug({bus: 1, ports: [], address: 1, idVendor: 0x8086, idProduct: 0x1E31, interfaceClass: 9});
    var list = usb.enumerate();
    checkEq(list.map(function (d) { return [d.idVendor, d.idProduct, d.dirName, d.fileName, d.hid]; }),
            [[VENDOR_B, 0xFFFF, '002', '1.4', 1], [VENDOR_C, 0x0501, '002', '2', 0],
             [OTHER, 0x6001, '001', '3', 0], [0x8086, 0x1E31, '001', '001', 0]],
            'devices bus by bus, names from bus number and port path (a root hub by its address), hid');
    checkEq(Object.keys(list[0]), ['idVendor', 'idProduct', 'dirName', 'fileName', 'hid'], 'device properties');
    check(Object.keys(list[0]).every(function (k) {
        var d = Object.getOwnPropertyDescriptor(list[0], k);
        return d.enumerable && !d.writable;
    }), 'device properties are enumerable and read-only');
    checkEq(UsbSim.log(), ['get_device_list'], 'enumerate rescans once and opens nothing');
    UsbSim.reset();
    checkEq(usb.enumerate(), [], 'nothing plugged: empty array');
})();

// ---- open: the claim sequence ------------------------------------------------

(function () {
    UsbSim.reset();
    var u = plugAndFind(ups());
    checkEq(usb.open(u.dev), true, 'open of the HID UPS');
    checkEq(typeof u.dev.handle, 'number', 'handle is a number');
    check(u.dev.handle != 0, 'handle is not 0');
    checkEq(u.dev.reportDescriptorSize, REPORT_DESCRIPTOR.length, 'reportDescriptorSize from the HID descriptor');
    var d = Object.getOwnPropertyDescriptor(u.dev, 'handle');
    check(d.enumerable && !d.writable, 'handle is enumerable and read-only');
    // Already in configuration 1: not selected again.
    checkEq(UsbSim.log(), ['get_device_list', 'open 001:005', 'get_configuration', 'claim_interface 0',
                           'set_interface_alt_setting 0 0', 'clear_halt 0x81'], 'claim sequence of a listed vendor');
    checkEq(UsbSim.openHandles(), 1, 'one handle open');

    // Opening the same object again closes the handle it had.
    checkEq(usb.open(u.dev), true, 'second open of the same object');
    checkEq(UsbSim.log().slice(0, 3), ['release_interface 0', 'close', 'get_device_list'], 'the old handle is closed first');
    checkEq(UsbSim.openHandles(), 1, 'still one handle open');

    checkEq(usb.close(u.dev), true, 'close');
    checkEq(u.dev.handle, 0, 'close defines handle 0');
    checkEq(UsbSim.log(), ['release_interface 0', 'close'], 'close releases interface 0 and closes');
    checkEq(usb.close(u.dev), true, 'close twice');
    checkEq(UsbSim.log(), [], 'the second close touches nothing');
    checkEq(UsbSim.openHandles(), 0, 'no handle open');
    checkEq(usb.close({}), true, 'close of an object without handle');

    // Unconfigured device of a listed vendor: configuration 1 is selected.
    UsbSim.reset();
    var c = plugAndFind(ups({idVendor: VENDOR_C, activeConfig: 0}));
    checkEq(usb.open(c.dev), true, 'open of an unconfigured UPS');
    checkEq(UsbSim.log().slice(2, 4), ['get_configuration', 'set_configuration 1'], 'configuration 1 selected');
    usb.close(c.dev);

    // Other vendors are opened, not claimed.
    UsbSim.reset();
    var o = plugAndFind({bus: 1, ports: [3], address: 6, idVendor: OTHER, idProduct: 0x6001, interfaceClass: 0xFF});
    checkEq(usb.open(o.dev), true, 'open of a non-HID device of another vendor');
    checkEq(UsbSim.log(), ['get_device_list', 'open 001:006'], 'no claim for other vendors');
    checkEq(o.dev.reportDescriptorSize, 0, 'no HID descriptor: reportDescriptorSize 0');
    usb.close(o.dev);
    checkEq(UsbSim.log(), ['close'], 'closing an unclaimed handle releases nothing');

    // Each claim step refused: [refuse, expected message, calls after open].
    var cases = [
        [{configuration: -6}, 'USB.open: ERROR! Unable to open device: -6 Resource busy',
         ['get_configuration', 'set_configuration 1', 'close']],
        [{claim: -3}, 'USB.open: ERROR! Unable to open device: -3 Access denied (insufficient permissions)',
         ['get_configuration', 'set_configuration 1', 'claim_interface 0', 'close']],
        [{altsetting: -12}, 'USB.open: ERROR! Unable to open device: -12 Operation not supported or unimplemented on this platform',
         ['get_configuration', 'set_configuration 1', 'claim_interface 0', 'set_interface_alt_setting 0 0',
          'release_interface 0', 'close']],
    ];
    cases.forEach(function (c) {
        UsbSim.reset();
        var r = plugAndFind(ups({idVendor: VENDOR_B, activeConfig: 0, refuse: c[0]}));
        checkThrows(function () { usb.open(r.dev); }, c[1], 'refused ' + show(c[0]));
        checkEq(UsbSim.log().slice(2), c[2], 'calls when ' + show(c[0]) + ' is refused');
        checkEq(r.dev.handle, 0, 'handle 0 after refused ' + show(c[0]));
        checkEq(UsbSim.openHandles(), 0, 'nothing left open after refused ' + show(c[0]));
    });

    // A device that does not open: false, no handle.
    UsbSim.reset();
    var n = plugAndFind(ups({refuse: {open: -3}}));
    checkEq(usb.open(n.dev), false, 'a device that does not open');
    check(!('handle' in n.dev), 'no handle when it does not open');

    // Unplugged between enumerate and open; names that match nothing.
    UsbSim.reset();
    var g = plugAndFind(ups());
    UsbSim.unplug(g.id);
    checkEq(usb.open(g.dev), false, 'open of an unplugged device');
    check(!('handle' in g.dev), 'no handle for an unplugged device');
    UsbSim.plug(ups());
    [{}, {dirName: '001'}, {fileName: '2'}, {dirName: '001', fileName: '2 '}, {dirName: '1', fileName: '2'},
     {dirName: '001', fileName: '002'}].forEach(function (dev) {
        checkEq(usb.open(dev), false, 'open of ' + show(dev));
        check(!('handle' in dev), 'no handle after open of ' + show(dev));
    });
    var handMade = {dirName: '001', fileName: '2'};
    checkEq(usb.open(handMade), true, 'a hand-made device object with the right names opens');
    checkEq(UsbSim.openHandles(), 1, 'it holds one handle');
    usb.close(handMade);
    UsbSim.reset();
})();

// ---- open: the HID descriptor walk ---------------------------------------------

(function () {
    var other = '\x05\x24\x01\x02\x03';
    var cases = [
        ['no extra bytes', '', 0],
        ['HID descriptor', hidDescriptor(0x1A3), 0x1A3],
        ['after another descriptor', other + hidDescriptor(0x55), 0x55],
        ['length 0 first', '\x00' + hidDescriptor(0x55), 0],
        ['length 0 after another descriptor', other + '\x00' + hidDescriptor(0x55), 0],
        ['HID descriptor running past the end', '\x0A' + hidDescriptor(0x55).slice(1), 0],
        ['a 5-byte descriptor with 3 bytes left', other.slice(0, 3), 0],
        ['type 0x21 but only 8 bytes, then a HID one', '\x08\x21\x11\x01\x00\x01\x22\x10' + hidDescriptor(0x66), 0x66],
        ['type other than 0x21', '\x09\x24\x11\x01\x00\x01\x22\x55\x00', 0],
        ['types 0x22 and 0x0B only', '\x09\x22\x11\x01\x00\x01\x22\x55\x00\x09\x0B\x00\x00\x00\x00\x00\x77\x00', 0],
        ['the first HID descriptor counts', hidDescriptor(0x10) + hidDescriptor(0x20), 0x10],
        ['length 255 at the end', hidDescriptor(0x30).slice(0, 0) + '\xFF\x21\x00', 0],
        ['one length byte', '\x09', 0],
    ];
    cases.forEach(function (c) {
        UsbSim.reset();
        var u = plugAndFind(ups({idVendor: OTHER, extra: c[1]}));
        checkEq(usb.open(u.dev), true, 'open: ' + c[0]);
        checkEq(u.dev.reportDescriptorSize, c[2], 'reportDescriptorSize: ' + c[0]);
        usb.close(u.dev);
    });
    UsbSim.reset();
    var u = plugAndFind(ups({noConfig: true}));
    checkEq(usb.open(u.dev), true, 'open of a device without configuration descriptor');
    checkEq(u.dev.reportDescriptorSize, 0, 'no configuration: reportDescriptorSize 0');
    usb.close(u.dev);
})();

// ---- send -----------------------------------------------------------------------

UsbSim.reset();
var U = plugAndFind(ups());
var dev = U.dev;
usb.open(dev);
UsbSim.log();

function sendError(req, text) {
    return 'USB.send: ERROR! Unable to send USB control message: ' + req + ': ' + text;
}

(function () {
    // [request, result, control call logged]
    var cases = [
        [{requestType: 0xA1, request: 0x01, value: 0x030C, length: 2}, '\x0C\x64', 'control 0xA1 0x01 0x030C 0x0000 2 5000'],
        [{requestType: 0xA1, request: 0x01, value: 0x030D, index: 0, length: 8}, '\x0D\x2A\x00',
         'control 0xA1 0x01 0x030D 0x0000 8 5000'],
        [{requestType: 0x1A1, request: 0x101, value: 0x1030C, index: 0x10000, length: 2, timeout: 250}, '\x0C\x64',
         'control 0xA1 0x01 0x030C 0x0000 2 250'],
        [{requestType: 0x81, request: 6, value: 0x2200, length: 0xFF}, REPORT_DESCRIPTOR,
         'control 0x81 0x06 0x2200 0x0000 255 5000'],
        [{requestType: 0xC0, request: 1, value: 0x1234, index: 0xABCD, length: 0xFFFF, timeout: -5},
         '\xC0\x01\x34\x12\xCD\xAB\xFF\xFF', 'control 0xC0 0x01 0x1234 0xABCD 65535 0'],
        [{requestType: '0xA1', request: '1', value: 780.9, length: '2'}, '\x0C\x64', 'control 0xA1 0x01 0x030C 0x0000 2 5000'],
    ];
    cases.forEach(function (c) {
        checkEq(usb.send(dev, c[0]), c[1], 'send ' + show(c[0]));
        checkEq(UsbSim.log(), [c[2]], 'control transfer of ' + show(c[0]));
    });

    // SET_REPORT: bytes shorter than length are zero-filled, longer ones cut.
    var writes = [
        [{bytes: '\x0C\x32', length: 2}, '\x0C\x32', '0C32'],
        [{bytes: '\x0C\x07', length: 4}, '\x0C\x07\x00\x00', '0C070000'],
        [{bytes: '\x0C\x01\x02\x03\x04', length: 3}, '\x0C\x01\x02', '0C0102'],
        [{length: 3}, '\x00\x00\x00', '000000'],
        [{bytes: '', length: 2}, '\x00\x00', '0000'],
        [{bytes: 12, length: 3}, '12\x00', '313200'],
        [{bytes: '\u010C\xFF', length: 2}, '\x0C\xFF', '0CFF'],
    ];
    writes.forEach(function (w) {
        var req = {requestType: 0x21, request: 0x09, value: 0x030C};
        for (var k in w[0]) req[k] = w[0][k];
        checkEq(usb.send(dev, req), w[1], 'SET_REPORT ' + show(w[0]) + ' returns the bytes sent');
        checkEq(UsbSim.log(), ['control 0x21 0x09 0x030C 0x0000 ' + w[0].length + ' 5000 ' + w[2]],
                'SET_REPORT ' + show(w[0]) + ' on the wire');
        checkEq(UsbSim.feature(U.id, 0x0C), w[1], 'the device got ' + show(w[0]));
    });

    // Failures: the transfer's result and libusb's text.
    var failures = [
        // No data stage: a success of 0 bytes is an error too.
        [{requestType: 0x21, request: 0x0A, value: 0}, true,
         '{requestType: 0x21, request: 0x0A, value: 0x0000, index: 0x0000, length: 0x0000, timeout: 5000 ms}', '0 Success'],
        [{requestType: 0xA1, request: 0x01, value: 0x0399, length: 4, timeout: 100}, true,
         '{requestType: 0xA1, request: 0x01, value: 0x0399, index: 0x0000, length: 0x0004, timeout: 100 ms}', '-9 Pipe error'],
        [{}, true, '{requestType: 0x00, request: 0x00, value: 0x0000, index: 0x0000, length: 0x0000, timeout: 5000 ms}', '-9 Pipe error'],
        // Lengths that a control transfer cannot carry are not sent.
        [{requestType: 0x21, request: 0x09, length: -1}, false,
         '{requestType: 0x21, request: 0x09, value: 0x0000, index: 0x0000, length: 0xFFFFFFFF, timeout: 5000 ms}', '-2 Invalid parameter'],
        [{requestType: 0x21, request: 0x09, length: 0x10000, bytes: 'x'}, false,
         '{requestType: 0x21, request: 0x09, value: 0x0000, index: 0x0000, length: 0x10000, timeout: 5000 ms}', '-2 Invalid parameter'],
        [{requestType: 0x21, request: 0x09, length: 1e10}, false,
         '{requestType: 0x21, request: 0x09, value: 0x0000, index: 0x0000, length: 0x540BE400, timeout: 5000 ms}', '-2 Invalid parameter'],
        [{requestType: 0x21, request: 0x09, length: -2147483648}, false,
         '{requestType: 0x21, request: 0x09, value: 0x0000, index: 0x0000, length: 0x80000000, timeout: 5000 ms}', '-2 Invalid parameter'],
    ];
    failures.forEach(function (f) {
        checkThrows(function () { usb.send(dev, f[0]); }, sendError(f[2], f[3]), 'send ' + show(f[0]) + ' fails');
        checkEq(UsbSim.log().length, f[1] ? 1 : 0, 'send ' + show(f[0]) + (f[1] ? ' was sent' : ' was not sent'));
    });
})();

// ---- getAnswer -------------------------------------------------------------------

function readError(endPoint, length, text) {
    return 'USB.getAnswer: ERROR! Unable to read endpoint\nendPoint=' + endPoint + ' length=' + length + '\n' + text;
}

(function () {
    UsbSim.queue(U.id, 'abc');
    checkEq(usb.getAnswer(dev, {length: 8}), 'abc', 'an interrupt packet');
    checkEq(UsbSim.log(), ['interrupt 0x81 8 5000'], 'read of 0x81 with 5 s by default');
    UsbSim.queue(U.id, '\x00\xFF\x80');
    checkEq(usb.getAnswer(dev, {endPoint: 0x81, length: 3, timeout: 20}), '\x00\xFF\x80', 'binary packet');

    var t0 = Date.now();
    checkThrows(function () { usb.getAnswer(dev, {length: 8, timeout: 150}); },
                readError('0x81', '0x0008', '-7 Operation timed out'), 'time-out');
    check(Date.now() - t0 >= 140, 'the time-out was waited');
    UsbSim.log();

    // The default request: endpoint 0x81, length 0, 5 s.
    UsbSim.queue(U.id, 'zz');
    checkThrows(function () { usb.getAnswer(dev, {}); }, readError('0x81', '0x0000', '-8 Overflow'), 'default request');
    checkEq(UsbSim.log(), ['interrupt 0x81 0 5000'], 'default request on the wire');

    var failures = [
        // An OUT endpoint number is read as IN: getAnswer never writes.
        [{endPoint: 0x02, length: 4}, readError('0x82', '0x0004', '-5 Entity not found'), 'interrupt 0x82 4 5000'],
        [{endPoint: 0x181, length: 1, timeout: 10}, readError('0x81', '0x0001', '-7 Operation timed out'), 'interrupt 0x81 1 10'],
        [{length: -1}, readError('0x81', '0xFFFFFFFF', '-2 Invalid parameter'), null],
        [{length: 0x7FFFFFFF}, readError('0x81', '0x7FFFFFFF', '-11 Insufficient memory'), null],
        [{length: 4294967297, timeout: 10}, readError('0x81', '0x0001', '-7 Operation timed out'), 'interrupt 0x81 1 10'],
    ];
    failures.forEach(function (f) {
        checkThrows(function () { usb.getAnswer(dev, f[0]); }, f[1], 'getAnswer ' + show(f[0]));
        checkEq(UsbSim.log(), f[2] ? [f[2]] : [], 'getAnswer ' + show(f[0]) + ' on the wire');
    });
    UsbSim.queue(U.id, '0123456789');
    checkThrows(function () { usb.getAnswer(dev, {length: 4}); }, readError('0x81', '0x0004', '-8 Overflow'),
                'a packet longer than length');

    // The read waits with the heap released: another script thread runs
    // meanwhile and sends the packet.
    UsbSim.log();
    System.createThread(function () { System.sleep(100); UsbSim.queue(U.id, 'late'); });
    t0 = Date.now();
    checkEq(usb.getAnswer(dev, {length: 8, timeout: 10000}), 'late', 'another thread ran while getAnswer waited');
    check(Date.now() - t0 < 5000, 'the packet ended the wait');
})();

// ---- handles: unplugged, forged, closed, closed during a read --------------------

(function () {
    checkThrows(function () { usb.send({handle: 12345}, {length: 1}); }, 'USB.send: Device not initialized', 'a made-up handle');
    checkThrows(function () { usb.getAnswer({handle: dev.handle + 8}, {length: 1}); }, 'USB.read: Device not initialized',
                'a made-up handle (getAnswer)');
    checkThrows(function () { usb.send({}, {length: 1}); }, 'USB.send: Device not initialized', 'no handle');
    var copy = {handle: dev.handle};
    checkEq(usb.send(copy, {requestType: 0xA1, request: 1, value: 0x030D, length: 3}), '\x0D\x2A\x00',
            'another object with the same handle');

    // Closed during a read on another thread: close waits for the read.
    var state = {};
    UsbSim.log();
    System.createThread(function () {
        try { state.got = usb.getAnswer(dev, {length: 8, timeout: 600}); } catch (e) { state.error = e.message; }
    });
    waitFor(function () { return UsbSim.log().length > 0; });
    checkEq(usb.close(copy), true, 'close during a read on another thread');
    check(waitFor(function () { return 'error' in state || 'got' in state; }), 'the read ended');
    checkEq(state.error, readError('0x81', '0x0008', '-7 Operation timed out'), 'the read ran to its time-out');
    checkEq(UsbSim.log(), ['release_interface 0', 'close'], 'then the handle was closed');
    checkThrows(function () { usb.send(dev, {length: 1}); }, 'USB.send: Device not initialized', 'the original object after close');
    checkEq(usb.close(dev), true, 'close of the other object');

    // Unplugged while open.
    UsbSim.reset();
    var u = plugAndFind(ups());
    usb.open(u.dev);
    UsbSim.unplug(u.id);
    checkThrows(function () { usb.send(u.dev, {requestType: 0xA1, request: 1, value: 0x030C, length: 2}); },
                sendError('{requestType: 0xA1, request: 0x01, value: 0x030C, index: 0x0000, length: 0x0002, timeout: 5000 ms}',
                          '-4 No such device (it may have been disconnected)'), 'send to an unplugged device');
    checkThrows(function () { usb.getAnswer(u.dev, {length: 1}); },
                readError('0x81', '0x0001', '-4 No such device (it may have been disconnected)'), 'read of an unplugged device');
    checkEq(usb.close(u.dev), true, 'close of an unplugged device');
    checkEq(UsbSim.openHandles(), 0, 'every handle closed');
})();

// ---- misuse --------------------------------------------------------------------

(function () {
    UsbSim.reset();
    var u = plugAndFind(ups());
    usb.open(u.dev);
    UsbSim.log();
    var req = {requestType: 0xA1, request: 1, value: 0x030C, length: 2};
    var cases = [
        [function () { usb.open(); }, 'Native function format error: USB.open(<device>)'],
        [function () { usb.close(); }, 'Native function format error: USB.close(<device>)'],
        [function () { usb.send(u.dev); }, 'Native function format error: USB.send(<device>, <request>)'],
        [function () { usb.getAnswer(u.dev); }, 'Native function format error: USB.getAnswer(<device>, <request>)'],
        [function () { usb.open(undefined); }, 'USB: device is undefined'],
        [function () { usb.send(undefined, req); }, 'USB: device is undefined'],
        [function () { usb.send(u.dev, undefined); }, 'USB: request is undefined'],
        [function () { usb.getAnswer(u.dev, undefined); }, 'USB: request is undefined'],
        [function () { usb.open(null); }, 'Native function format error: USB.open(<device>)'],
        [function () { usb.close('001'); }, 'Native function format error: USB.close(<device>)'],
        [function () { usb.send(u.dev, 5); }, 'Native function format error: USB.send(<device>, <request>)'],
        [function () { usb.getAnswer(7, {}); }, 'Native function format error: USB.getAnswer(<device>, <request>)'],
        [function () { USB.prototype.enumerate.call({}); }, 'USB.enumerate: USB not initialized'],
        [function () { USB.prototype.open.call(Object.create(USB.prototype), u.dev); }, 'USB.open: USB not initialized'],
        [function () { USB.prototype.close.call(new File(), u.dev); }, 'USB.close: USB not initialized'],
        [function () { USB.prototype.send.call({}, u.dev, req); }, 'USB.send: USB not initialized'],
        [function () { USB.prototype.getAnswer.call(USB.prototype, u.dev, {length: 1}); }, 'USB.getAnswer: USB not initialized'],
    ];
    cases.forEach(function (c, i) { checkThrows(c[0], c[1], 'misuse case ' + i + ': ' + c[1]); });
    checkEq(UsbSim.log(), [], 'misuse touched no device');
    checkEq(u.dev.handle !== 0, true, 'the device stays open');

    // Throwing conversions: nothing is sent, opened or closed.
    throwingRecords({requestType: 0xA1, request: 1, value: 0x030C, index: 0, length: 2, bytes: 'ab', timeout: 10}, 'boom')
        .forEach(function (r) {
            checkThrows(function () { usb.send(u.dev, r[1]); }, 'boom', 'send: ' + r[0]);
        });
    throwingRecords({endPoint: 0x81, length: 2, timeout: 10}, 'boom').forEach(function (r) {
        checkThrows(function () { usb.getAnswer(u.dev, r[1]); }, 'boom', 'getAnswer: ' + r[0]);
    });
    var opened = {dirName: '001', fileName: '2', handle: u.dev.handle};
    throwingRecords({dirName: '001', fileName: '2', handle: u.dev.handle}, 'boom').forEach(function (r) {
        checkThrows(function () { usb.open(r[1]); }, 'boom', 'open: ' + r[0]);
    });
    throwingRecords({handle: u.dev.handle}, 'boom').forEach(function (r) {
        checkThrows(function () { usb.close(r[1]); }, 'boom', 'close: ' + r[0]);
        checkThrows(function () { usb.send(r[1], req); }, 'boom', 'send: device ' + r[0]);
    });
    checkEq(UsbSim.log(), [], 'failed conversions touched no device');
    // A device object missing its properties.
    checkThrows(function () { usb.send({dirName: '001', fileName: '2'}, req); }, 'USB.send: Device not initialized',
                'send with a device object without handle');
    checkEq(usb.open({idVendor: VENDOR_A, idProduct: 2}), false, 'open of a device object without names');
    checkEq(usb.send(opened, req), '\x0C\x64', 'the device still answers');
    usb.close(u.dev);
})();

// The finalizer drops the device list; open handles stay with their objects.
UsbSim.reset();
var last = plugAndFind(ups());
(function () { var other = new USB(); other.open(last.dev); })();
System.gc();
checkEq(UsbSim.openHandles(), 1, 'a collected USB object leaves the handle open');
checkEq(usb.send(last.dev, {requestType: 0xA1, request: 1, value: 0x030C, length: 2}), '\x0C\x64',
        'another USB object uses that handle');
checkEq(usb.close(last.dev), true, 'and closes it');
checkEq(UsbSim.openHandles(), 0, 'nothing left open');
done();
