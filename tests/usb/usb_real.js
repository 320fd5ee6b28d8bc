// kx4hid.dll with the real libusb-1.0.dll beside it, under wine64, which
// has no USB devices: the library starts and the class works on an empty
// machine. Run after lib/check.js.

check(System.loadModule('kx4hid.dll'), 'kx4hid.dll loads with libusb-1.0.dll beside it');
checkEq(typeof USB, 'function', 'USB is defined');
checkEq(USB.length, 0, 'constructor arity');
checkEq(['enumerate', 'open', 'close', 'send', 'getAnswer'].map(function (m) { return USB.prototype[m].length; }),
        [0, 1, 0, 2, 2], 'method arities');

var usb = new USB();
check(usb instanceof USB, 'the constructor makes a USB object');
// A second object: the library is started once and both work.
var usb2 = new USB();
checkEq(usb.enumerate(), [], 'enumerate: no devices under wine');
checkEq(usb2.enumerate(), [], 'enumerate on a second object');

// A device object that names nothing on this machine.
[{dirName: '001', fileName: '1.4'}, {dirName: '001', fileName: '002', idVendor: 0x051D, idProduct: 2}, {}].forEach(
    function (device) {
        checkEq(usb.open(device), false, 'open of ' + show(device));
        check(!('handle' in device) && !('reportDescriptorSize' in device), 'no handle after open of ' + show(device));
    });

// close of a device that never opened: true, handle 0.
var closed = {dirName: '001', fileName: '1'};
checkEq(usb.close(closed), true, 'close of an unopened device');
checkEq(closed.handle, 0, 'close defines handle 0');
checkThrows(function () { usb.send(closed, {length: 1}); }, 'USB.send: Device not initialized', 'send without handle');
checkThrows(function () { usb.getAnswer(closed, {length: 1}); }, 'USB.read: Device not initialized',
            'getAnswer without handle');
done();
