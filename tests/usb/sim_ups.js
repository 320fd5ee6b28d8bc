// Plugs the devices that the example of docs/usb.md expects into the
// simulated libusb-1.0.dll: a receiver that is no UPS, then a HID UPS with
// its feature reports and one status packet waiting on endpoint 0x81.
System.loadModule('kx4hid.dll');
System.loadModule('libusb-1.0.dll');
UsbSim.plug({bus: 1, ports: [1], address: 3, idVendor: 0x046D, idProduct: 0xC52B});
var upsId = UsbSim.plug({bus: 1, ports: [2], address: 4, idVendor: 0x051D, idProduct: 0x0002,
                         extra: '\x09\x21\x11\x01\x00\x01\x22\x11\x00', reportDescriptor: new Array(18).join('\x00'),
                         features: {12: '\x0C\x64', 13: '\x0D\x2C\x01'}});
UsbSim.queue(upsId, '\x03\x0D');
