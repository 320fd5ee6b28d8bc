// Helpers of the Widget tests; load after lib/check.js.
//   kx4test.exe check.js lib.js <test>.js
// kx4widgetprobe.dll (Probe) gives real input, pixels and window facts.

check(System.loadModule('kx4ui.dll'), 'kx4ui.dll loads');
check(System.loadModule('kx4widgetprobe.dll'), 'the probe loads');

var WM = {NULL: 0, MOVE: 3, SIZE: 5, PAINT: 0xF, CLOSE: 0x10, ERASEBKGND: 0x14, COMMAND: 0x111,
          TIMER: 0x113, MOUSEMOVE: 0x200, LBUTTONDOWN: 0x201, LBUTTONUP: 0x202,
          RBUTTONDOWN: 0x204, RBUTTONUP: 0x205, MBUTTONDOWN: 0x207, MOUSELEAVE: 0x2A3,
          KEYDOWN: 0x100, USER: 0x400};

// Every event the module delivers, in order; `answer(e)` decides the reply
// (default false: the system's own processing).
var events = [];
var answer = function () { return false; };
Widget.onEvent = function (e) {
    events.push(e);
    return answer(e);
};

// Dispatches this thread's messages through Widget.eventLoop for ms.
function pump(ms) {
    var end = Date.now() + (ms || 0);
    do {
        var left = Math.max(0, end - Date.now());
        if (Probe.wait(left)) Widget.eventLoop();
    } while (Date.now() < end);
}

// Pumps until cond() holds (up to ms); returns whether it did.
function pumpUntil(cond, ms) {
    var end = Date.now() + (ms || 3000);
    while (!cond()) {
        if (Date.now() >= end) return false;
        if (Probe.wait(Math.min(50, end - Date.now()))) Widget.eventLoop();
    }
    return true;
}

function eventsOf(hWnd, msg) {
    return events.filter(function (e) { return e.hWnd == hWnd && (!msg || e.msg == msg); });
}

function frame(extra) {
    var c = {type: 'Frame', utitle: 'kx4 test', hIcon: 0};
    for (var k in extra) c[k] = extra[k];
    Widget.create(c);
    return c;
}

function place(cmp, x, y, w, h) {
    cmp.x = x; cmp.y = y; cmp.w = w; cmp.h = h;
    Widget.resize(cmp);
}

// ---- PNG files made here, so every variant is at hand -------------------

var crcTable = (function () {
    var t = [];
    for (var n = 0; n < 256; n++) {
        var c = n;
        for (var k = 0; k < 8; k++) c = c & 1 ? 0xEDB88320 ^ (c >>> 1) : c >>> 1;
        t[n] = c >>> 0;
    }
    return t;
})();

function crc32(s) {
    var c = 0xFFFFFFFF;
    for (var i = 0; i < s.length; i++) c = crcTable[(c ^ s.charCodeAt(i)) & 0xFF] ^ (c >>> 8);
    return (c ^ 0xFFFFFFFF) >>> 0;
}

function be32(n) {
    return String.fromCharCode((n >>> 24) & 255, (n >>> 16) & 255, (n >>> 8) & 255, n & 255);
}

function chunk(type, data) {
    return be32(data.length) + type + data + be32(crc32(type + data));
}

// zlib stream of stored blocks: valid, uncompressed.
function zlibStored(s) {
    var out = '\x78\x01', a = 1, b = 0;
    for (var i = 0; i < s.length; i++) {
        a = (a + s.charCodeAt(i)) % 65521;
        b = (b + a) % 65521;
    }
    var pos = 0;
    do {
        var n = Math.min(65535, s.length - pos);
        var last = pos + n >= s.length ? 1 : 0;
        out += String.fromCharCode(last, n & 255, n >> 8, ~n & 255, (~n >> 8) & 255) + s.substr(pos, n);
        pos += n;
    } while (pos < s.length);
    return out + be32(((b << 16) | a) >>> 0);
}

var ADAM7 = [[0, 0, 8, 8], [4, 0, 8, 8], [0, 4, 4, 8], [2, 0, 4, 4], [0, 2, 2, 4], [1, 0, 2, 2], [0, 1, 1, 2]];

// A PNG of w x h pixels: sample(x, y) gives the pixel's samples (numbers of
// `depth` bits, as many as the colour type has). opts: {colorType, depth,
// interlace, plte (string), trns (string)}.
function makePng(w, h, opts, sample) {
    var ct = opts.colorType, depth = opts.depth || 8;
    var spp = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[ct];
    function rows(x0, y0, dx, dy) {
        var s = '';
        for (var y = y0; y < h; y += dy) {
            var line = '\x00', acc = 0, bits = 0, any = false;
            for (var x = x0; x < w; x += dx) {
                any = true;
                var v = sample(x, y);
                for (var k = 0; k < spp; k++) {
                    if (depth == 16) line += String.fromCharCode(v[k] >> 8, v[k] & 255);
                    else if (depth == 8) line += String.fromCharCode(v[k]);
                    else {
                        acc = (acc << depth) | v[k];
                        bits += depth;
                        if (bits == 8) { line += String.fromCharCode(acc); acc = bits = 0; }
                    }
                }
            }
            if (bits) line += String.fromCharCode(acc << (8 - bits));
            if (any) s += line;
        }
        return s;
    }
    var raw = '';
    if (opts.interlace) ADAM7.forEach(function (p) { raw += rows(p[0], p[1], p[2], p[3]); });
    else raw = rows(0, 0, 1, 1);
    var png = '\x89PNG\r\n\x1a\n' +
        chunk('IHDR', be32(w) + be32(h) + String.fromCharCode(depth, ct, 0, 0, opts.interlace ? 1 : 0));
    if (opts.plte) png += chunk('PLTE', opts.plte);
    if (opts.trns) png += chunk('tRNS', opts.trns);
    return png + chunk('IDAT', zlibStored(raw)) + chunk('IEND', '');
}

// Pixel i of an image's content as [b, g, r, a].
function pixelOf(img, x, y) {
    var o = 4 * (y * img.imageWidth + x), s = img.imageContent;
    return [s.charCodeAt(o), s.charCodeAt(o + 1), s.charCodeAt(o + 2), s.charCodeAt(o + 3)];
}

function near(a, b, tol) {
    for (var i = 0; i < 3; i++) if (Math.abs(((a >> (8 * i)) & 255) - ((b >> (8 * i)) & 255)) > tol) return false;
    return true;
}

function hex(n) { return '0x' + (n >>> 0).toString(16); }
