// Widget.loadImage and Widget.loadIcon on PNG files of every kind made by
// lib.js: the pixel layout, the premultiply rule (v * a) >> 8, and bad
// files failing quietly. Run after lib/check.js and lib.js.

// A 3 x 2 image: its pixels as [r, g, b, a] by (x, y).
var rgba = [[[255, 128, 0, 128], [10, 20, 30, 0], [1, 2, 3, 255]],
            [[200, 100, 50, 255], [255, 255, 255, 1], [90, 60, 30, 254]]];
function at(x, y) { return rgba[y][x]; }
function premultiplied(p) {
    var a = p[3];
    var f = function (v) { return a == 255 ? v : (v * a) >> 8; };
    return [f(p[2]), f(p[1]), f(p[0]), a];
}

// [what, png, expected [b, g, r, a] by (x, y)]
var cases = [
    ['RGBA 8-bit', makePng(3, 2, {colorType: 6}, at), function (x, y) { return premultiplied(at(x, y)); }],
    ['RGB 8-bit', makePng(3, 2, {colorType: 2}, function (x, y) { return at(x, y).slice(0, 3); }),
     function (x, y) { var p = at(x, y); return [p[2], p[1], p[0], 255]; }],
    ['RGBA 16-bit', makePng(3, 2, {colorType: 6, depth: 16}, function (x, y) {
        return at(x, y).map(function (v) { return (v << 8) | (v ^ 0x5A); }); }), function (x, y) { return premultiplied(at(x, y)); }],
    ['RGB 16-bit', makePng(3, 2, {colorType: 2, depth: 16}, function (x, y) {
        return at(x, y).slice(0, 3).map(function (v) { return (v << 8) | 0xFF; }); }),
     function (x, y) { var p = at(x, y); return [p[2], p[1], p[0], 255]; }],
    ['palette with tRNS', makePng(3, 2, {colorType: 3, plte: '\xFF\x80\x00\x0A\x14\x1E\x01\x02\x03',
                                         trns: '\x80\x00'}, function (x, y) { return [(x + y) % 3]; }),
     function (x, y) { return premultiplied([[255, 128, 0, 128], [10, 20, 30, 0], [1, 2, 3, 255]][(x + y) % 3]); }],
    ['palette 2-bit without tRNS', makePng(3, 2, {colorType: 3, depth: 2, plte: '\xFF\x00\x00\x00\xFF\x00\x00\x00\xFF'},
                                           function (x, y) { return [(x + y) % 3]; }),
     function (x, y) { return [[0, 0, 255, 255], [0, 255, 0, 255], [255, 0, 0, 255]][(x + y) % 3]; }],
    ['grey 8-bit', makePng(3, 2, {colorType: 0}, function (x, y) { return [x * 100 + y]; }),
     function (x, y) { var g = x * 100 + y; return [g, g, g, 255]; }],
    ['grey 1-bit', makePng(3, 2, {colorType: 0, depth: 1}, function (x, y) { return [(x + y) & 1]; }),
     function (x, y) { var g = (x + y) & 1 ? 255 : 0; return [g, g, g, 255]; }],
    ['grey with alpha', makePng(3, 2, {colorType: 4}, function (x, y) { return [200, x * 100 + y]; }),
     function (x, y) { var a = x * 100 + y, g = (200 * a) >> 8; return [g, g, g, a]; }],
    ['interlaced RGBA', makePng(3, 2, {colorType: 6, interlace: true}, at), function (x, y) { return premultiplied(at(x, y)); }],
];
cases.forEach(function (c) {
    var img = checkNoThrow(function () { return Widget.loadImage(c[1]); }, c[0] + ' loads');
    if (!img) return;
    checkEq([img.imageWidth, img.imageHeight, img.imageContent.length], [3, 2, 24], c[0] + ': size');
    var got = [], want = [];
    for (var y = 0; y < 2; y++) for (var x = 0; x < 3; x++) { got.push(pixelOf(img, x, y)); want.push(c[2](x, y)); }
    checkEq(got, want, c[0] + ': pixels');
});

// The worked example: red 255, green 128, blue 0, alpha 128 gives 0, 64, 127, 128.
checkEq(pixelOf(Widget.loadImage(cases[0][1]), 0, 0), [0, 64, 127, 128], 'the premultiply rule is a shift, not a division');

// A larger interlaced image decodes like the same image stored plainly.
(function () {
    var f = function (x, y) { return [x * 9 & 255, y * 7 & 255, (x ^ y) & 255, (x + y) * 5 & 255]; };
    var a = Widget.loadImage(makePng(37, 23, {colorType: 6}, f));
    var b = Widget.loadImage(makePng(37, 23, {colorType: 6, interlace: true}, f));
    checkEq(a.imageContent == b.imageContent && a.imageContent.length == 37 * 23 * 4, true, 'interlaced 37x23 equals plain');
})();

// Result objects: enumerable, read-only.
(function () {
    var img = Widget.loadImage(cases[0][1]);
    checkEq(Object.keys(img), ['imageWidth', 'imageHeight', 'imageContent'], 'loadImage result properties');
    img.imageWidth = 99;
    checkEq(img.imageWidth, 3, 'read-only');
    var ic = Widget.loadIcon(cases[0][1]);
    checkEq(Object.keys(ic), ['iconWidth', 'iconHeight', 'hIcon'], 'loadIcon result properties');
    checkEq([ic.iconWidth, ic.iconHeight], [3, 2], 'icon size');
    check(ic.hIcon != 0, 'icon handle');
})();

// Bad files: every one fails, none crashes.
(function () {
    var good = cases[0][1];
    var idat = good.indexOf('IDAT');
    var bad = [['empty', ''], ['7 bytes of signature', good.substr(0, 7)], ['signature only', good.substr(0, 8)],
               ['not a PNG', 'GIF89a' + good.substr(6)], ['text', 'hello world, this is not an image']];
    for (var n = 9; n < good.length; n += 7) bad.push(['truncated at ' + n, good.substr(0, n)]);
    var flip = function (s, i) { return s.substr(0, i) + String.fromCharCode(s.charCodeAt(i) ^ 0x55) + s.substr(i + 1); };
    bad.push(['IHDR CRC wrong', flip(good, 29)]);
    bad.push(['IDAT data corrupt', flip(good, idat + 6)]);
    bad.push(['bit depth 3', good.substr(0, 24) + '\x03' + good.substr(25)]);
    // Headers whose pixel buffer would not fit: refused before decoding.
    var huge = function (w, h) {
        return '\x89PNG\r\n\x1a\n' + chunk('IHDR', be32(w) + be32(h) + '\x08\x06\x00\x00\x00') + good.substr(33);
    };
    bad.push(['65536 x 65536', huge(65536, 65536)]);
    bad.push(['23171 x 23171', huge(23171, 23171)]);
    bad.push(['zero width', huge(0, 2)]);
    bad.forEach(function (b) {
        checkThrows(function () { Widget.loadImage(b[1]); }, null, 'loadImage refuses ' + b[0]);
        checkThrows(function () { Widget.loadIcon(b[1]); }, null, 'loadIcon refuses ' + b[0]);
    });
    checkEq(Widget.loadImage(good).imageWidth, 3, 'a good file still loads after the bad ones');
})();

done();
