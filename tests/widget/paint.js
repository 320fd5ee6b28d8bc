// Widget.draw, refresh and resize on real windows, read back with BitBlt:
// the premultiplied image blended over white, the text at its alignment
// and colour, no text on a Frame, bad image fields, and the sizes resize
// gives. Run after lib/check.js and lib.js.

Widget.init();
var RED = 0xC20000;

// Paint handlers: the component of a window draws itself.
var byWindow = {};
answer = function (e) {
    var c = byWindow[e.hWnd];
    if (c && e.msg == 'PAINT') { Widget.draw(c); return true; }
    if (c && e.msg == 'ERASE') return c.type == 'Component';
    return false;
};

var top = frame({utitle: 'paint'});
place(top, 40, 40, 400, 300);
byWindow[top.hWnd] = top;

function component(props) {
    var c = {type: 'Component', hParent: top.hWnd};
    for (var k in props) c[k] = props[k];
    Widget.create(c);
    byWindow[c.hWnd] = c;
    place(c, c.x || 0, c.y || 0, c.w, c.h);
    return c;
}

function repaint(c) {
    events = [];
    Widget.refresh(c);
    pumpUntil(function () { return eventsOf(c.hWnd, 'PAINT').length > 0; }, 2000);
    pump(30);
}

// ---- The image: premultiplied at load, blended over white ----------------

(function () {
    // Four colours, 2 x 2, stretched to 40 x 40: read each quadrant's centre.
    var px = [[[255, 128, 0, 128], [0, 0, 255, 255]], [[10, 200, 90, 0], [40, 80, 160, 64]]];
    var img = Widget.loadImage(makePng(2, 2, {colorType: 6}, function (x, y) { return px[y][x]; }));
    var c = component({x: 5, y: 5, w: 40, h: 40, imageWidth: 2, imageHeight: 2, imageContent: img.imageContent});
    repaint(c);
    var expect = function (p) {
        // src premultiplied (v * a) >> 8, then over white: s + (255 - a) * 255 / 255.
        var ch = function (v) { return Math.min(255, (p[3] == 255 ? v : (v * p[3]) >> 8) + 255 - p[3]); };
        return (ch(p[0]) << 16) | (ch(p[1]) << 8) | ch(p[2]);
    };
    [[10, 10, px[0][0]], [30, 10, px[0][1]], [10, 30, px[1][0]], [30, 30, px[1][1]]].forEach(function (t) {
        var got = Probe.pixel(c.hWnd, t[0], t[1]), want = expect(t[2]);
        check(near(got, want, 1), 'pixel at ' + t[0] + ',' + t[1] + ': got ' + hex(got) + ', expected ' + hex(want));
    });
    Widget.destroy(c);
})();

// ---- The text: alignment and colour ---------------------------------------

var textCases = [
    // [what, props, check(box)]
    ['centred', {textStyle: 'BC', w: 150}, function (b) { return Math.abs((b[0] + b[2]) / 2 - 75) <= 3; }],
    ['right, italic', {textStyle: 'BRI', w: 100, textPosX: 10}, function (b) { return b[2] <= 108 && b[2] >= 100; }],
    ['right', {textStyle: 'R', w: 120}, function (b) { return b[2] <= 120 && b[2] >= 113; }],
    ['left at textPosX', {textStyle: '', w: 150, textPosX: 30}, function (b) { return b[0] >= 30 && b[0] <= 34; }],
    ['lower-case letters mean nothing', {textStyle: 'cr', w: 150, textPosX: 30}, function (b) { return b[0] >= 30 && b[0] <= 34; }],
];
textCases.forEach(function (t) {
    var props = {x: 10, y: 60, h: 30, utext: 'HHH', textSize: 20, textColor: RED, textPosY: 4};
    for (var k in t[1]) props[k] = t[1][k];
    var drawWidth = props.w;
    props.w = 160;  // the window, wider than the width draw aligns to
    var c = component(props);
    c.w = drawWidth;
    repaint(c);
    var box = Probe.box(c.hWnd, 160, 30, RED, 40);
    check(box.length == 4 && t[2](box), 'text ' + t[0] + ': red pixels at ' + show(box));
    check(box.length == 4 && box[1] >= 4, 'text ' + t[0] + ' starts at textPosY');
    Widget.destroy(c);
});

// A Frame paints the image, never the text.
(function () {
    var white = Widget.loadImage(makePng(1, 1, {colorType: 2}, function () { return [0, 0, 255]; }));
    var f = frame({utitle: 'no text', utext: 'HHHHHH', textSize: 30, textColor: RED, w: 60, h: 60,
                   imageWidth: 1, imageHeight: 1, imageContent: white.imageContent});
    byWindow[f.hWnd] = f;
    place(f, 500, 40, 200, 100);
    repaint(f);
    checkEq(Probe.box(f.hWnd, 200, 100, RED, 40), [], 'a Frame draws no text');
    checkEq(Probe.pixel(f.hWnd, 30, 30), 0x0000FF, 'but its image');
    Widget.destroy(f);
})();

// Image fields that do not describe the string: no image, the text still drawn.
(function () {
    var img = Widget.loadImage(makePng(4, 4, {colorType: 2}, function () { return [0, 0, 255]; }));
    var bad = [['short string', 4, 4, img.imageContent.substr(0, 60)], ['negative width', -4, 4, img.imageContent],
               ['absurd size', 1 << 20, 1 << 20, img.imageContent], ['width x height overflows', 65536, 65536, img.imageContent],
               ['no content', 4, 4, undefined]];
    bad.forEach(function (b) {
        var c = component({x: 10, y: 100, w: 60, h: 30, imageWidth: b[1], imageHeight: b[2], imageContent: b[3],
                           utext: 'HH', textSize: 20, textColor: RED});
        repaint(c);
        checkEq(Probe.box(c.hWnd, 60, 30, 0x0000FF, 10), [], b[0] + ': no image');
        check(Probe.box(c.hWnd, 60, 30, RED, 40).length == 4, b[0] + ': the text is drawn');
        Widget.destroy(c);
    });
})();

// Sizes and texts no display can show are left out, not sent to it (under
// X such a request ends the process's display connection).
(function () {
    var img = Widget.loadImage(makePng(2, 2, {colorType: 2}, function () { return [0, 0, 255]; }));
    var c = component({x: 10, y: 100, w: 60, h: 30, imageWidth: 2, imageHeight: 2, imageContent: img.imageContent,
                       utext: new Array(70001).join('H'), textSize: 20, textColor: RED});
    c.w = 2147483647;
    repaint(c);
    checkEq(Probe.box(c.hWnd, 60, 30, 0x0000FF, 10), [], 'a stretch to 2147483647 draws no image');
    c.w = 60;
    repaint(c);
    check(Probe.box(c.hWnd, 60, 30, RED, 40).length == 4, 'a 70000-character text draws its first part');
    Widget.destroy(c);
})();

// ---- refresh and resize ----------------------------------------------------

(function () {
    var e = {type: 'Edit', hParent: top.hWnd, utext: 'one'};
    Widget.create(e);
    place(e, 10, 150, 100, 24);
    e.utext = 'two';
    events = [];
    Widget.refresh(e);
    checkEq(Widget.getProperty(e, 'utext'), 'two', 'refresh of an Edit replaces its text');
    checkEq(eventsOf(e.hWnd, 'EDIT_CHANGE').length, 1, 'with one EDIT_CHANGE on the Edit, evaluated during refresh');

    var c = component({x: 10, y: 20, w: 150, h: 16});
    var pi = Probe.info(top.hWnd), ci = Probe.info(c.hWnd);
    checkEq([ci.x - pi.cx, ci.y - pi.cy, ci.w, ci.h], [10, 20, 150, 16], 'a child occupies exactly x, y, w, h');
    checkEq([pi.cw, pi.ch], [400, 300], 'a Frame gets the client size');
    check(pi.w > 400 && pi.h > 300, 'and its outer window is larger');
    checkEq([pi.cx, pi.cy], [40, 40], 'its client area at x, y');
    // Coordinates left out keep the window's own.
    var keep = {hWnd: c.hWnd, type: 'Component', style: c.style, x: 30};
    Widget.resize(keep);
    ci = Probe.info(c.hWnd);
    checkEq([ci.x - pi.cx, ci.y - pi.cy, ci.w, ci.h], [30, 20, 150, 16], 'resize with x alone keeps y, w, h');
    Widget.destroy(c);
    Widget.destroy(e);
})();

Widget.destroy(top);
done();
