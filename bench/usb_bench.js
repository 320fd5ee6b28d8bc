// The USB benchmark's script side (bench/usb_run.sh): send and getAnswer
// against the simulated UPS, KX4_USB_N calls each per round, KX4_USB_ROUNDS
// rounds; one line per round as usb_baseline.exe prints it, plus the empty
// loop's cost per iteration, which the per-call figures include, and the
// floor: a native making only the slot calls that send and getAnswer need
// (UsbSim.slotFloor), the host's share of any native with that interface.
System.loadModule('kx4hid.dll');
System.loadModule('libusb-1.0.dll');   // the simulated library's clock, UsbSim.now()
var n = +(envp.KX4_USB_N || 100000), rounds = +(envp.KX4_USB_ROUNDS || 5);
var usb = new USB();
var devices = usb.enumerate();
var ups = devices[0];
if (!ups || !usb.open(ups)) throw new Error('no simulated UPS');
var getReport = {requestType: 0xA1, request: 0x01, value: 0x030C, index: 0, length: 2};
var interrupt = {length: 8};
for (var r = 0; r < rounds; r++) {
    var t0 = UsbSim.now(), i;
    for (i = 0; i < n; i++) if (usb.send(ups, getReport).length != 2) throw new Error('send');
    var t1 = UsbSim.now();
    for (i = 0; i < n; i++) if (usb.getAnswer(ups, interrupt).length != 8) throw new Error('getAnswer');
    var t2 = UsbSim.now();
    for (i = 0; i < n; i++) if (getReport.length != 2) throw new Error('loop');
    var t3 = UsbSim.now();
    for (i = 0; i < n; i++) if (UsbSim.slotFloor(ups, getReport, 0).length != 2) throw new Error('floor');
    var t4 = UsbSim.now();
    for (i = 0; i < n; i++) if (UsbSim.slotFloor(ups, interrupt, 1).length != 8) throw new Error('floor');
    var t5 = UsbSim.now();
    var us = function (a, b) { return ((b - a) * 1e3 / n).toFixed(3); };
    System.print('send ' + us(t0, t1) + ' getAnswer ' + us(t1, t2) + ' loop ' + us(t2, t3) +
                 ' floorSend ' + us(t3, t4) + ' floorGetAnswer ' + us(t4, t5));
}
usb.close(ups);
System.exit(0);
