// Widget: the function table, argument checks, the window class and every
// component type, show, getProperty, destroy, and the event round trip
// through Widget.onEvent and Widget.eventLoop (handled or not, nested
// requests). Run after lib/check.js and lib.js.

var WS_VISIBLE = 0x10000000;

// ---- The function table -------------------------------------------------

// init registers the class; a create before the first init would take the
// event context without it (and every window would fail to create).
checkEq(Widget.init(), undefined, 'init');

var table = [['init', 0, 'Widget.init()'], ['create', 1, 'Widget.create(<cmp>)'],
    ['destroy', 1, 'Widget.destroy(<cmp>)'], ['show', 1, 'Widget.show(<cmp>, [show])'],
    ['setWindowTop', 1, 'Widget.setWindowTop(<cmp>)'], ['refresh', 1, 'Widget.refresh(<cmp>)'],
    ['draw', 1, 'Widget.draw(<cmp>)'], ['resize', 1, 'Widget.resize(<cmp>)'],
    ['loadImage', 1, 'Widget.loadImage(<imageFileContent>)'], ['loadIcon', 1, 'Widget.loadIcon(<imageFileContent>)'],
    ['getProperty', 2, 'Widget.getProperty(<cmp>, <property>)'], ['setSystray', 1, 'Widget.setSystray(<cmp>)'],
    ['eventLoop', 0, 'Widget.eventLoop()'], ['popupMenu', 1, 'Widget.popupMenu(<cmp>)'],
    ['messageBox', 1, 'Widget.messageBox(<cmp>)'], ['playSound', 1, 'Widget.playSound(<alias>)'],
    ['openFileDialog', 1, 'Widget.openFileDialog(<cmp>)'], ['openDirDialog', 1, 'Widget.openDirDialog(<cmp>)']];

checkEq(Object.getOwnPropertyNames(Widget).filter(function (k) { return k != 'onEvent'; }),
        table.map(function (t) { return t[0]; }), 'the functions, in order');
table.forEach(function (t) { checkEq(Widget[t[0]].length, t[1], t[0] + ' declares ' + t[1]); });

// No argument at all: the format error with the usage text.
table.forEach(function (t) {
    if (t[1] == 0) return;
    checkThrows(function () { Widget[t[0]](); }, 'Native function format error: ' + t[2], t[0] + '()');
});
checkThrows(function () { Widget.getProperty({}); }, 'Native function format error: Widget.getProperty(<cmp>, <property>)',
            'getProperty with one argument');

// The component undefined, or not an object at all.
['create', 'show', 'setWindowTop', 'refresh', 'draw', 'resize', 'getProperty'].forEach(function (f) {
    var usage = table.filter(function (t) { return t[0] == f; })[0][2];
    checkThrows(function () { Widget[f](undefined, 'utext'); }, 'Widget: Component is undefined', f + '(undefined)');
    [7, 'Frame', null, true].forEach(function (v) {
        checkThrows(function () { Widget[f](v, 'utext'); }, 'Native function format error: ' + usage, f + '(' + show(v) + ')');
    });
});
checkThrows(function () { Widget.destroy(undefined); }, null, 'destroy(undefined) fails');
checkThrows(function () { Widget.destroy(5); }, 'Native function format error: Widget.destroy(<cmp>)', 'destroy(5)');
// The part that comes later says so instead of pretending.
['setSystray', 'popupMenu', 'messageBox', 'playSound', 'openFileDialog', 'openDirDialog'].forEach(function (f) {
    checkThrows(function () { Widget[f]({}); }, 'Widget.' + f + ': not available in this version of kx4ui', f);
});
// Not a PNG, undefined included: the loaders fail.
['', 'undefined', '\x89PNG\r\n', 'GIF89a....'].forEach(function (s) {
    checkThrows(function () { Widget.loadImage(s); }, null, 'loadImage of ' + show(s));
    checkThrows(function () { Widget.loadIcon(s); }, null, 'loadIcon of ' + show(s));
});
checkThrows(function () { Widget.loadImage(undefined); }, null, 'loadImage(undefined)');

// A conversion that throws stops the native before it acts.
(function () {
    var c = {type: 'Frame', get utitle() { throw new Error('title getter'); }};
    checkThrows(function () { Widget.create(c); }, 'title getter', 'a throwing property stops create');
    checkEq(c.hWnd, undefined, 'and nothing was written');
})();

// ---- The window class and the components --------------------------------

checkEq(Widget.init(), undefined, 'init again does nothing and succeeds');

var icon = Widget.loadIcon(makePng(16, 16, {colorType: 6}, function () { return [200, 30, 30, 255]; }));
check(icon.hIcon != 0, 'loadIcon gives a handle');
checkEq([icon.iconWidth, icon.iconHeight], [16, 16], 'the icon size');

var host = frame({show: 0});
check(host.hWnd != 0, 'a host frame');

// [component, style written, class, extended style]
var styles = [
    [{}, 0x10C70000, 'WndClass', 0, 'Title'],
    [{hIcon: icon.hIcon, show: false}, 0x00CF0000, 'WndClass', 0, 'Title'],
    [{type: 'Frame', utitle: 'caption \u20AC'}, 0x10C70000, 'WndClass', 0, 'caption \u20AC'],
    [{type: 'Dialog', hIcon: icon.hIcon}, 0x10CA0000, 'WndClass', 0, 'Title'],
    [{type: 'Dialog', show: 0}, 0x00C20000, 'WndClass', 0, 'Title'],
    [{type: 'Component', hParent: host.hWnd}, 0x50000000, 'WndClass', 0, ''],
    [{type: 'Web', hParent: host.hWnd, show: 0}, 0x40000000, 'WndClass', 0, ''],
    [{type: 'Systray'}, WS_VISIBLE, 'WndClass', 0, ''],
    [{type: 'Edit', hParent: host.hWnd, utext: 'abc'}, 0x50000080, 'Edit', 0x200, 'abc'],
    [{type: 'TextArea', hParent: host.hWnd, show: 0, utext: 'x'}, 0x40200804, 'Edit', 0x200, 'x'],
];
styles.forEach(function (t) {
    var c = t[0], what = 'create ' + show(c);
    var h = Widget.create(c);
    check(h != 0 && h === c.hWnd, what + ': returns the handle it writes');
    checkEq(c.style, t[1], what + ': style');
    var info = Probe.info(h);
    checkEq(info.cls.toLowerCase(), t[2].toLowerCase(), what + ': class');
    // The window's own style: what create computed (the Systray window is never visible).
    if (c.type == 'Systray') checkEq(info.visible, 0, what + ': never visible');
    else checkEq(hex(info.style & 0xFFFF0FFF & ~0x04000000), hex(t[1]), what + ': window style');
    checkEq(info.exStyle & 0x200, t[3], what + ': client edge');
    checkEq(info.text, t[4], what + ': text');
    // Children keep the size given; top-level windows get the system's minimum.
    if (info.style & 0x40000000) checkEq([info.w, info.h], c.type == 'Web' ? [1000, 1000] : [0, 0], what + ': size');
    if (c.hIcon) checkEq([info.smallIcon, info.bigIcon], [icon.hIcon, icon.hIcon], what + ': both icons set');
    // hWnd and style are enumerable and read-only.
    c.hWnd = 1; c.style = 2;
    checkEq([c.hWnd, c.style], [h, t[1]], what + ': read-only');
    check(Object.keys(c).indexOf('hWnd') >= 0, what + ': hWnd enumerable');
});

// Unknown types create nothing; menus.
[[{type: 'frame'}, 0x10000000], [{type: 'Gadget', show: 0}, 0]].forEach(function (t) {
    checkEq([Widget.create(t[0]), t[0].hWnd, t[0].style], [0, 0, t[1]], 'unknown type ' + t[0].type);
});
(function () {
    var menu = {type: 'PopupMenu'};
    var h = Widget.create(menu);
    check(h != 0 && menu.hWnd == h, 'PopupMenu gives a menu handle');
    checkEq(menu.style, WS_VISIBLE, 'PopupMenu style');
    var items = [{type: 'MenuItem', hParent: h, id: 1, utext: 'Open'},
                 {type: 'MenuItem', hParent: h, id: 2, utext: '-'},
                 {type: 'MenuItem', hParent: h, id: 3, utext: 'Exit', defaultItem: true}];
    items.forEach(function (it) { checkEq(Widget.create(it), 0, 'MenuItem gives 0'); checkEq(it.hWnd, 0, 'MenuItem hWnd 0'); });
    checkEq(Probe.menu(h), [{id: 1, text: 'Open', separator: 0, isDefault: 0},
                            {id: 2, text: '', separator: 1, isDefault: 0},
                            {id: 3, text: 'Exit', separator: 0, isDefault: 1}], 'the menu items');
})();

// Edit fonts: face, height, bold, italic from textStyle.
[['', 400, 0], ['B', 700, 0], ['xIyB', 700, 1], ['b i', 400, 0]].forEach(function (t) {
    var e = {type: 'Edit', hParent: host.hWnd, textStyle: t[0], textSize: 12.9};
    Widget.create(e);
    var f = Probe.font(e.hWnd);
    checkEq([f.height, f.weight, f.italic, f.face], [-12, t[1], t[2], 'Arial'], 'Edit font with style ' + show(t[0]));
});

// ---- show, getProperty, setWindowTop -------------------------------------

(function () {
    var c = frame({show: false});
    checkEq(Probe.info(c.hWnd).visible, 0, 'created hidden');
    Widget.show(c);
    checkEq([Probe.info(c.hWnd).visible, c.show], [1, 1], 'show(cmp) shows and sets show 1');
    Widget.show(c, false);
    checkEq([Probe.info(c.hWnd).visible, c.show], [0, 0], 'show(cmp, false) hides and sets show 0');
    Widget.show(c, 'yes');  // not a number: NaN truncates to 0
    checkEq(c.show, 0, 'show with a non-numeric string hides');
    checkEq(Widget.setWindowTop(c), undefined, 'setWindowTop');

    var e = {type: 'Edit', hParent: c.hWnd, utext: 'first'};
    Widget.create(e);
    checkEq(Widget.getProperty(e, 'utext'), 'first', 'getProperty utext');
    Probe.send(e.hWnd, 0x000C /* WM_SETTEXT */, 0, 0);
    checkEq(Widget.getProperty(e, 'utext'), '', 'getProperty after the text was cleared');
    checkEq(e.utext, '', 'and utext is stored');
    var before = Object.keys(e).length;
    checkEq(Widget.getProperty(e, 'hWnd'), undefined, 'other names give undefined');
    checkEq(Object.keys(e).length, before, 'and write nothing');
    Widget.destroy(c);
})();

// ---- Events: the round trip ----------------------------------------------

// Events sent while create still holds its request nest inside it.
(function () {
    events = [];
    var c = frame({});
    var during = events.length;
    check(during > 0 && eventsOf(c.hWnd, 'RESIZE').length > 0, 'RESIZE evaluated during create (nested request)');
    events = [];
    var h = c.hWnd;
    Widget.destroy(c);
    checkEq(eventsOf(h).map(function (e) { return e.msg; }).pop(), 'DESTROY', 'DESTROY during destroy, the last event');
    checkEq(c.hWnd, undefined, 'destroy leaves hWnd undefined');
    checkEq(Probe.info(h).exists, 0, 'the window is gone');
    checkEq(Widget.destroy({}), undefined, 'destroy without hWnd succeeds');
})();

// The answer decides: handled (1, no default processing) or not.
(function () {
    var answers = [[true, true], [false, false], [null, false], [0, false], [1, false], [2, false], [3, false],
                   [4, true], [-1, true], [2.5, true], [undefined, true], [{}, true], ['', true], ['no', true]];
    answers.forEach(function (a) {
        var c = frame({show: 0});
        answer = function (e) { return e.msg == 'CLOSE' ? a[0] : false; };
        Probe.post(c.hWnd, WM.CLOSE, 0, 0);
        pumpUntil(function () { return eventsOf(c.hWnd, 'CLOSE').length > 0; });
        pump(20);
        checkEq(Probe.info(c.hWnd).exists, a[1] ? 1 : 0, 'CLOSE answered ' + show(a[0]) + (a[1] ? ' keeps' : ' closes'));
        answer = function () { return false; };
        Widget.destroy(c);
    });
    // The window procedure's return value for a handled message is 1.
    var c = frame({show: 0});
    answer = function (e) { return e.msg == 'TIMER' ? 'handled' : false; };
    checkEq(Probe.send(c.hWnd, WM.TIMER, 0, 0), 1, 'handled returns 1');
    answer = function () { return false; };
    Widget.destroy(c);
})();

// Posted messages come out of eventLoop, one per call; the event statement
// names the window and the values exactly.
(function () {
    var c = frame({show: 0});
    var cases = [[WM.COMMAND, 0x00010005, 0, {msg: 'COMMAND', id: 0x10005}],
                 [WM.COMMAND, 3, 0, {msg: 'COMMAND', id: 3}],
                 [WM.COMMAND, 0x03000000, 0x1234, {msg: 'EDIT_CHANGE', hWnd: 0x1234}],
                 [WM.MOUSEMOVE, 0, (20 << 16) | 10, {msg: 'MOUSE_OVER', x: 10, y: 20}],
                 [WM.MOUSEMOVE, 0, (-7 << 16) | 0xFFF6, {msg: 'MOUSE_OVER', x: 65526, y: -7}],
                 [WM.LBUTTONDOWN, 0, (2 << 16) | 1, {msg: 'MOUSE_BUTTON', button: 'LEFT_DOWN', x: 1, y: 2}],
                 [WM.LBUTTONUP, 0, 0, {msg: 'MOUSE_BUTTON', button: 'LEFT_UP', x: 0, y: 0}],
                 [WM.RBUTTONDOWN, 0, 0, {msg: 'MOUSE_BUTTON', button: 'RIGHT_DOWN', x: 0, y: 0}],
                 [WM.RBUTTONUP, 0, 0, {msg: 'MOUSE_BUTTON', button: 'RIGHT_UP', x: 0, y: 0}],
                 [WM.MOUSELEAVE, 0, 0, {msg: 'MOUSE_OUT'}],
                 [WM.TIMER, 0, 0, {msg: 'TIMER'}],
                 [WM.SIZE, 1, 0, {msg: 'MINIMIZE'}],
                 [WM.SIZE, 2, 0xFFFF0010, {msg: 'RESIZE', w: 16, h: 65535}],
                 [WM.MOVE, 0, (5 << 16) | 0xFF9C, {msg: 'MOVE', x: -100, y: 5}],
                 [WM.MOVE, 0, (5 << 16) | 0xF448, null],  // x = -3000 is still reported
                 [WM.MOVE, 0, (5 << 16) | 0xF447, null],  // x = -3001 is not
                 [WM.USER + 1, 0, WM.LBUTTONDOWN, {msg: 'MOUSE_BUTTON', button: 'LEFT_DOWN'}],
                 [WM.USER + 1, 0, 0x405, {msg: 'MOUSE_BUTTON', button: 'LEFT_UP'}],
                 [WM.USER + 1, 0, WM.MOUSEMOVE, null],
                 [WM.MBUTTONDOWN, 0, 0, null], [WM.KEYDOWN, 65, 0, null]];
    cases[14][3] = {msg: 'MOVE', x: -3000, y: 5};
    cases.forEach(function (t) {
        events = [];
        Probe.post(c.hWnd, t[0], t[1], t[2]);
        checkEq(Widget.eventLoop(), 1, 'eventLoop returns 1 after a message');
        var want = t[3] ? [Object.keys(t[3]).indexOf('hWnd') >= 0 ? t[3] : merge({hWnd: c.hWnd}, t[3])] : [];
        checkEq(events.filter(function (e) { return e.msg != 'PAINT' && e.msg != 'ERASE'; }), want,
                'message ' + hex(t[0]) + ' ' + hex(t[1]) + ' ' + hex(t[2]));
    });
    Widget.destroy(c);
})();

function merge(a, b) {
    var o = {};
    for (var k in a) o[k] = a[k];
    for (var k2 in b) o[k2] = b[k2];
    return o;
}

// A handler may call natives that suspend their own request again, and a
// handler that throws is reported and leaves the message to the system.
(function () {
    var c = frame({show: 0});
    var inner = null;
    answer = function (e) {
        if (e.msg == 'TIMER') inner = Widget.getProperty({hWnd: c.hWnd}, 'utext');
        if (e.msg == 'CLOSE') throw new Error('handler failure');
        return false;
    };
    var kept = {text: 'made before the loop ' + Math.random()};
    var copy = kept.text;
    Probe.post(c.hWnd, WM.TIMER, 0, 0);
    Widget.eventLoop();
    checkEq(inner, 'kx4 test', 'a native inside the handler inside eventLoop');
    checkEq(kept.text, copy, 'values made before eventLoop survive it');
    Probe.post(c.hWnd, WM.CLOSE, 0, 0);
    Widget.eventLoop();
    checkEq(Probe.info(c.hWnd).exists, 0, 'a throwing handler leaves CLOSE to the system');
    answer = function () { return false; };
    // onEvent missing: default processing, nothing evaluated successfully.
    var saved = Widget.onEvent;
    delete Widget.onEvent;
    var d = frame({show: 0});
    Probe.post(d.hWnd, WM.CLOSE, 0, 0);
    Widget.eventLoop();
    checkEq(Probe.info(d.hWnd).exists, 0, 'without onEvent a CLOSE closes');
    Widget.onEvent = saved;
})();

// Timers: 0 sets one, negative none.
(function () {
    events = [];
    var t0 = frame({show: 0, timer: 0}), tn = frame({show: 0, timer: -1});
    pump(300);
    check(eventsOf(t0.hWnd, 'TIMER').length >= 2, 'timer 0 ticks');
    checkEq(eventsOf(tn.hWnd, 'TIMER').length, 0, 'a negative timer sets none');
    Widget.destroy(t0);
    Widget.destroy(tn);
})();

// A window made by another script thread: its messages are not evaluated
// on this thread's event context (that would run one context on two
// threads); they get the system's processing.
(function () {
    events = [];
    var result = null;
    System.createThread(function () {
        var w = {type: 'Frame', show: 0};
        Widget.create(w);
        Probe.send(w.hWnd, WM.TIMER, 0, 0);
        Probe.send(w.hWnd, WM.CLOSE, 0, 0);
        result = {made: w.hWnd != 0, alive: Probe.info(w.hWnd).exists};
    });
    for (var i = 0; i < 500 && !result; i++) System.sleep(10);
    checkEq(result, {made: true, alive: 0}, 'another thread\'s window closes by default processing');
    checkEq(events, [], 'and nothing of it was evaluated');
})();

// eventLoop after PostQuitMessage: 0, nothing dispatched.
Probe.postQuit();
checkEq(Widget.eventLoop(), 0, 'eventLoop after WM_QUIT returns 0');

Widget.destroy(host);
done();
