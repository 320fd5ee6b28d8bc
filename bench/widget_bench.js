// The Widget benchmark in kx4 (bench/widget_run.sh): the same work as
// widget_baseline.c through kx4ui.dll. KX4_WIDGET_BENCH selects
//   events <n>        n posted mouse moves delivered to a trivial Widget.onEvent
//   paint <n>         n paints: refresh + PAINT handler calling Widget.draw
//   decode <n> <png>  n Widget.loadImage of the file; also premultiply-free
//                     figures are not separable here (see widget_run.sh)
//   memory <n>        growth of private bytes and handle marks per window
// Prints "<mode> <n> <milliseconds>" (memory: per-window figures).
var a = envp.KX4_WIDGET_BENCH.split(' '), mode = a[0], n = +a[1];
System.loadModule('kx4ui.dll');
System.loadModule('kx4widgetprobe.dll');
Widget.init();
var count = 0, t0, t1;
var painter = null;
Widget.onEvent = function (e) {
    if (e.msg == 'MOUSE_OVER') { count++; return true; }
    if (painter && e.msg == 'PAINT' && e.hWnd == painter.hWnd) { Widget.draw(painter); count++; return true; }
    if (painter && e.msg == 'ERASE' && e.hWnd == painter.hWnd) return true;
    return false;
};
function place(c, x, y, w, h) { c.x = x; c.y = y; c.w = w; c.h = h; Widget.resize(c); }

if (mode == 'events') {
    var f = {type: 'Frame', show: 0};
    Widget.create(f);
    t0 = Date.now();
    for (var done = 0; done < n; done += 1000) {
        for (var i = 0; i < 1000; i++) Probe.post(f.hWnd, 0x200, 0, (7 << 16) | (i & 255));
        for (i = 0; i < 1000; i++) Widget.eventLoop();
    }
    t1 = Date.now();
    if (count != n) System.print('delivered ' + count + ' of ' + n);
} else if (mode == 'paint') {
    var img = '';
    var bytes = [];
    for (var k = 0; k < 256 * 256 * 4; k++) bytes.push(k % 4 == 3 ? 200 : (k * 7) % 200);
    for (k = 0; k < bytes.length; k += 4096) img += String.fromCharCode.apply(null, bytes.slice(k, k + 4096));
    var top = {type: 'Frame'};
    Widget.create(top);
    place(top, 0, 0, 400, 400);
    painter = {type: 'Component', hParent: top.hWnd, imageWidth: 256, imageHeight: 256, imageContent: img};
    Widget.create(painter);
    place(painter, 0, 0, 256, 256);
    while (Probe.wait(50)) Widget.eventLoop();
    count = 0;
    t0 = Date.now();
    for (i = 0; i < n; i++) {
        Widget.refresh(painter);
        while (Probe.wait(0)) Widget.eventLoop();
    }
    t1 = Date.now();
    if (count < n) System.print('painted ' + count + ' of ' + n);
} else if (mode == 'decode') {
    var file = new File();
    file.open(a[2], 'rb');
    var png = file.read();
    file.close();
    t0 = Date.now();
    for (i = 0; i < n; i++) Widget.loadImage(png);
    t1 = Date.now();
} else if (mode == 'memory') {
    var keep = [];
    var m0 = Probe.memory(), g0 = Probe.marks();
    for (i = 0; i < n; i++) {
        var w = {type: 'Frame', show: 0};
        Widget.create(w);
        var c = {type: 'Component', hParent: w.hWnd};
        Widget.create(c);
        keep.push(w);
    }
    var m1 = Probe.memory(), g1 = Probe.marks();
    System.print('memory ' + n + ' frames with a component: ' + ((m1 - m0) / n / 1024).toFixed(1) +
                 ' KiB private bytes and ' + ((g1[1] - g0[1]) / n).toFixed(2) + ' USER handles, ' +
                 ((g1[0] - g0[0]) / n).toFixed(2) + ' GDI handles per frame');
    keep.forEach(function (w) { Widget.destroy(w); });
    System.exit(0);
}
System.print(mode + ' ' + n + ' ' + (t1 - t0));
