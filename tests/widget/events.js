// What Widget.onEvent receives for real input (SendInput through the X
// display) and real window operations. Run after lib/check.js and lib.js.

Widget.init();
answer = function (e) { return false; };

var f = frame({utitle: 'events'});
place(f, 100, 100, 300, 200);
var c = {type: 'Component', hParent: f.hWnd};
Widget.create(c);
place(c, 20, 30, 100, 80);
var fi = Probe.info(f.hWnd);
pump(100);

function lastOf(h, msg) { var l = eventsOf(h, msg); return l[l.length - 1]; }

// ---- Mouse: moves, one MOUSE_OUT, buttons ------------------------------------

(function () {
    events = [];
    Probe.input('move', fi.cx + 20 + 10, fi.cy + 30 + 20);
    check(pumpUntil(function () { return eventsOf(c.hWnd, 'MOUSE_OVER').length > 0; }), 'a real move reaches the component');
    checkEq(lastOf(c.hWnd, 'MOUSE_OVER'), {hWnd: c.hWnd, msg: 'MOUSE_OVER', x: 10, y: 20}, 'MOUSE_OVER at client 10, 20');
    Probe.input('move', fi.cx + 20 + 40, fi.cy + 30 + 50);
    pumpUntil(function () { return eventsOf(c.hWnd, 'MOUSE_OVER').length > 1; });
    Probe.input('ldown');
    Probe.input('lup');
    Probe.input('rdown');
    Probe.input('rup');
    pumpUntil(function () { return eventsOf(c.hWnd, 'MOUSE_BUTTON').length >= 4; });
    checkEq(eventsOf(c.hWnd, 'MOUSE_BUTTON').map(function (e) { return [e.button, e.x, e.y]; }),
            [['LEFT_DOWN', 40, 50], ['LEFT_UP', 40, 50], ['RIGHT_DOWN', 40, 50], ['RIGHT_UP', 40, 50]], 'buttons');
    checkEq(eventsOf(c.hWnd, 'MOUSE_OUT').length, 0, 'no MOUSE_OUT while inside');
    // Leave to the frame's own client area: one MOUSE_OUT, however long we wait.
    Probe.input('move', fi.cx + 200, fi.cy + 150);
    pumpUntil(function () { return eventsOf(c.hWnd, 'MOUSE_OUT').length > 0; });
    pump(200);
    checkEq(eventsOf(c.hWnd, 'MOUSE_OUT'), [{hWnd: c.hWnd, msg: 'MOUSE_OUT'}], 'one MOUSE_OUT on leaving');
    checkEq(lastOf(f.hWnd, 'MOUSE_OVER'), {hWnd: f.hWnd, msg: 'MOUSE_OVER', x: 200, y: 150}, 'and the frame sees the pointer');
    // Back in and out again: leave tracking is asked for anew after each leave.
    Probe.input('move', fi.cx + 20 + 5, fi.cy + 30 + 5);
    pumpUntil(function () { return lastOf(c.hWnd, 'MOUSE_OVER').x == 5; });
    Probe.input('move', fi.cx + 250, fi.cy + 20);
    pumpUntil(function () { return eventsOf(c.hWnd, 'MOUSE_OUT').length > 1; });
    checkEq(eventsOf(c.hWnd, 'MOUSE_OUT').length, 2, 'a second visit ends with a second MOUSE_OUT');
})();

// ---- Typing into an Edit -----------------------------------------------------

(function () {
    var e = {type: 'Edit', hParent: f.hWnd, utext: ''};
    Widget.create(e);
    place(e, 150, 30, 120, 24);
    // Other programs on the display (console windows of other tests) may
    // take the foreground meanwhile: focus and type again, a few times.
    for (var attempt = 0; attempt < 5; attempt++) {
        if (attempt) { Probe.send(e.hWnd, 0x000C /* WM_SETTEXT */, 0, 0); pump(50); }
        events = [];
        Probe.focus(e.hWnd);
        pump(50);
        Probe.input('text', 'kx4');
        if (pumpUntil(function () { return eventsOf(e.hWnd, 'EDIT_CHANGE').length >= 3; }, 1500)) break;
    }
    checkEq(eventsOf(e.hWnd, 'EDIT_CHANGE').length, 3, 'one EDIT_CHANGE per typed character, on the Edit');
    checkEq(Widget.getProperty(e, 'utext'), 'kx4', 'the typed text');
    // The focus notification comes to the frame as a COMMAND (control id 0).
    check(eventsOf(f.hWnd, 'COMMAND').some(function (x) { return x.id == 0x01000000; }), 'EN_SETFOCUS as COMMAND id 0x1000000');
    Widget.destroy(e);
})();

// ---- Window operations: MOVE, RESIZE, MINIMIZE, CLOSE, ERASE -------------------

(function () {
    events = [];
    Probe.place(f.hWnd, -100, 120);
    pump(50);
    var info = Probe.info(f.hWnd);
    checkEq(lastOf(f.hWnd, 'MOVE'), {hWnd: f.hWnd, msg: 'MOVE', x: info.cx, y: info.cy}, 'MOVE to a negative x');
    check(info.cx < 0, 'the client origin is left of the screen');
    events = [];
    place(f, 100, 100, 320, 210);
    checkEq(lastOf(f.hWnd, 'RESIZE'), {hWnd: f.hWnd, msg: 'RESIZE', w: 320, h: 210}, 'RESIZE with the client size');
    events = [];
    Probe.showWindow(f.hWnd, 6 /* SW_MINIMIZE */);
    pump(100);
    checkEq(eventsOf(f.hWnd, 'MINIMIZE').length, 1, 'MINIMIZE');
    checkEq(eventsOf(f.hWnd, 'MOVE').filter(function (e) { return e.x < -3000; }), [], 'no MOVE far off');
    checkEq(eventsOf(f.hWnd, 'RESIZE'), [], 'no RESIZE while minimised');
    Probe.showWindow(f.hWnd, 9 /* SW_RESTORE */);
    pump(100);
    // The system menu's Close is a CLOSE; true keeps the window.
    answer = function (e) { return e.msg == 'CLOSE'; };
    events = [];
    Probe.send(f.hWnd, 0x0112 /* WM_SYSCOMMAND */, 0xF060 /* SC_CLOSE */, 0);
    pump(50);
    checkEq(eventsOf(f.hWnd, 'CLOSE').length, 1, 'CLOSE');
    checkEq(Probe.info(f.hWnd).exists, 1, 'kept alive by true');
    answer = function () { return false; };
    events = [];
    Widget.refresh(c);
    pumpUntil(function () { return eventsOf(c.hWnd, 'PAINT').length > 0; });
    checkEq(eventsOf(c.hWnd).map(function (e) { return e.msg; }).slice(0, 2), ['PAINT', 'ERASE'],
            'refresh of a Component: PAINT, with ERASE inside it');
})();

Widget.destroy(f);
done();
