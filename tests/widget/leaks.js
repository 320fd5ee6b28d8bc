// Long runs do not pile up GDI or USER objects: create/destroy cycles of a
// Frame with an Edit and a Component, and draw/refresh cycles.
// Run after lib/check.js and lib.js.

Widget.init();
answer = function () { return false; };
var img = Widget.loadImage(makePng(16, 16, {colorType: 6}, function (x, y) { return [x * 16, y * 16, 100, 200]; }));

function cycle() {
    var f = frame({show: 0});
    var e = {type: 'Edit', hParent: f.hWnd, utext: 'text', textStyle: 'BI'};
    var c = {type: 'Component', hParent: f.hWnd};
    Widget.create(e);
    Widget.create(c);
    var font = Probe.font(e.hWnd).handle;
    Widget.destroy(f);
    return font;
}

// The Edit keeps its font while it exists and frees it with itself.
(function () {
    var f = frame({show: 0});
    var e = {type: 'Edit', hParent: f.hWnd};
    Widget.create(e);
    var font = Probe.font(e.hWnd).handle;
    checkEq(Probe.objectType(font), 6 /* OBJ_FONT */, 'the Edit font exists while the Edit does');
    Widget.destroy(f);
    checkEq(Probe.objectType(font), 0, 'and is deleted with it');
})();

// Object counts: GetGuiResources where it works, and the handle-table
// marks of the probe (wine answers 0 to GetGuiResources).
function counts() { return Probe.gui().concat(Probe.marks()); }
function flat(b, a, slack) {
    for (var k = 0; k < b.length; k++) if (a[k] > b[k] + slack) return false;
    return true;
}

// The measure sees a real leak: icons are never destroyed by the module.
(function () {
    var png = makePng(8, 8, {colorType: 6}, function () { return [1, 2, 3, 4]; });
    var b = counts();
    for (var k = 0; k < 300; k++) Widget.loadIcon(png);
    check(!flat(b, counts(), 100), 'the measure sees 300 icons: ' + show(b) + ' -> ' + show(counts()));
})();

for (var i = 0; i < 20; i++) cycle();
pump(20);
var before = counts();
for (i = 0; i < 1000; i++) cycle();
pump(20);
var after = counts();
check(flat(before, after, 20),
      '1000 create/destroy cycles: GDI and USER objects ' + show(before) + ' -> ' + show(after));

(function () {
    var f = frame({});
    var c = {type: 'Component', hParent: f.hWnd, imageWidth: 16, imageHeight: 16, imageContent: img.imageContent,
             utext: 'text', textStyle: 'BC', w: 64, h: 32};
    Widget.create(c);
    place(c, 0, 0, 64, 32);
    for (var j = 0; j < 50; j++) Widget.draw(c);
    var b = counts();
    for (j = 0; j < 10000; j++) {
        Widget.draw(c);
        if (j % 100 == 0) { Widget.refresh(c); pump(0); }
    }
    var a = counts();
    check(flat(b, a, 20), '10000 draw/refresh cycles: ' + show(b) + ' -> ' + show(a));
    Widget.destroy(f);
})();

done();
