// The Serial class against a simulated UPS (ups_sim.py) on a pseudo-terminal
// that the wine prefix maps to COM5 and COM1 (run_serial.py sets it up).
// Run after lib/check.js.

var PORT = envp.KX4_SERIAL_PORT || 'COM5';
// A plain file: wine enforces exclusive opens for files, not for serial ports.
var LOCK_FILE = envp.KX4_SERIAL_LOCK_FILE;
// The simulator's answer to 'Q', byte for byte.
var STATUS_FRAME = '\xFF\x00\x64\x2A\x08\xFD\x08\xFC\x1F\x00\x00\xFF\x32\x80\x67\x0D';

// ---- The peer's test commands ----------------------------------------------

// The peer sends `data` back in one write (after tenMs x 10 ms when given).
function echo(port, data, tenMs) {
    var head = tenMs === undefined ? 'E' : 'L' + String.fromCharCode(tenMs);
    return port.write({content: head + String.fromCharCode(data.length) + data});
}

// How the port's driver has set the line, as the peer's end sees it.
function lineConfig(port) {
    port.write({content: 'C'});
    var r = port.read({count: 8});
    if (r.length != 8) return null;
    var c = function (i) { return r.charCodeAt(i); };
    return {baud: ((c(0) << 24) | (c(1) << 16) | (c(2) << 8) | c(3)) >>> 0, bits: c(4),
            parity: c(5), stopBits: c(6), rtscts: c(7)};
}

// Puts the line into a state every configuration must undo: 19200 baud,
// two stop bits, hardware flow control.
function presetLine(port) {
    port.write({content: 'P'});
    return checkEq(port.read({count: 1}), 'p', 'the peer presets the line');
}

function statusExchange(port) {
    var n = port.write({content: 'Q'});
    return n == 1 ? port.read({count: 16}) : 'write gave ' + n;
}

function openPort(params) {
    var p = new Serial();
    check(p.open(params), 'open ' + show(params));
    return p;
}

// ---- Loading and the class ---------------------------------------------------

check(System.loadModule('kx4com.dll'), 'kx4com.dll loads');
checkEq(typeof Serial, 'function', 'Serial is defined');
checkEq(Serial.length, 0, 'constructor arity');
checkEq(['open', 'set', 'close', 'read', 'write'].map(function (m) { return Serial.prototype[m].length; }),
        [1, 1, 0, 1, 1], 'method arities');
check(new Serial(1, 'two', {}) instanceof Serial, 'the constructor ignores its arguments');
check(Serial() instanceof Serial, 'called without new it still makes a Serial');

// ---- open with defaults ------------------------------------------------------

(function () {
    var p = new Serial();
    check(!('handle' in p), 'no handle before open');
    // COM1 is the default port; the harness maps it onto the peer too.
    checkEq(p.open({}), true, 'open({}) opens COM1');
    checkEq(typeof p.handle, 'number', 'handle is a number');
    var d = Object.getOwnPropertyDescriptor(p, 'handle');
    check(d && d.enumerable && !d.writable && !d.get && !d.set, 'handle is an enumerable read-only value');
    var h = p.handle;
    p.handle = 12345;
    checkEq(p.handle, h, 'handle cannot be assigned');
    checkEq(lineConfig(p), {baud: 2400, bits: 8, parity: 0, stopBits: 1, rtscts: 0}, 'default line settings');
    checkEq(statusExchange(p), STATUS_FRAME, 'status frame on COM1');
    p.close();
})();

// ---- Reconfiguration by a second open and by set ---------------------------

(function () {
    var p = openPort({port: PORT});
    var h = p.handle;
    presetLine(p);
    checkEq(lineConfig(p), {baud: 19200, bits: 8, parity: 0, stopBits: 2, rtscts: 1}, 'preset seen by the peer');
    // An open port is reconfigured, not reopened: COM9 does not exist.
    checkEq(p.open({port: 'COM9', baudRate: 9600.9, bufInSize: 4096, bufOutSize: 256}), true, 'second open');
    checkEq(p.handle, h, 'second open keeps the handle');
    checkEq(lineConfig(p), {baud: 9600, bits: 8, parity: 0, stopBits: 1, rtscts: 0}, 'second open reconfigures');

    var cases = [
        [{baudRate: 4800}, 4800],
        [{baudRate: '1200'}, 1200],
        [{baudRate: 115200.7, byteSize: 8}, 115200],
        [{baudRate: 4294969696}, 2400],   // truncated to 32 bits
        [{}, 2400],                       // every parameter has its default again
        [null, 2400],                     // a non-object is an empty parameter object
        [19200, 2400],
    ];
    cases.forEach(function (c) {
        presetLine(p);
        checkEq(p.set(c[0]), true, 'set(' + show(c[0]) + ')');
        checkEq(lineConfig(p), {baud: c[1], bits: 8, parity: 0, stopBits: 1, rtscts: 0},
                'line after set(' + show(c[0]) + ')');
    });
    // 7 data bits: accepted; a pseudo-terminal always carries 8, so the
    // peer cannot see it.
    checkEq(p.set({byteSize: 7, bufInSize: 64, bufOutSize: 64}), true, 'set with byteSize 7');
    checkEq(p.set({}), true, 'set back to defaults');
    checkEq(p.handle, h, 'set keeps the handle');
    checkEq(statusExchange(p), STATUS_FRAME, 'exchange after reconfiguration');
    p.close();
})();

// ---- read --------------------------------------------------------------------

(function () {
    var p = openPort({port: PORT});
    // [bytes the peer sends, read's argument, expected result]
    var cases = [
        ['\x00\xFF\x80', {count: 3}, '\x00\xFF\x80'],
        ['Z', {}, 'Z'],                       // count defaults to 1
        ['ab', {count: '2'}, 'ab'],
        ['cd', {count: 2.9}, 'cd'],           // truncated toward zero
        ['e', {count: 4294967297}, 'e'],      // 32-bit wrap: 1
        ['y', null, 'y'],                     // non-objects read as {}
        ['x', 7, 'x'],
        ['w', 'count', 'w'],
        ['v', undefined, 'v'],
    ];
    cases.forEach(function (c) {
        echo(p, c[0]);
        checkEq(p.read(c[1]), c[2], 'read(' + show(c[1]) + ') of ' + show(c[0]));
    });

    // Counts that want nothing, or more than could ever be returned, give ""
    // and leave the queued bytes for the next read.
    [0, -1, -2147483648, NaN, 2147483647, 1e10].forEach(function (count) {
        echo(p, 'qr');
        checkEq(p.read({count: count}), '', 'read count ' + count);
        checkEq(p.read({count: 2}), 'qr', 'bytes kept after read count ' + count);
    });

    // Too few bytes: nothing is read, the bytes stay for the next read.
    echo(p, 'abc');
    checkEq(p.read({count: 4}), '', 'three bytes queued, four wanted');
    checkEq(p.read({count: 3}), 'abc', 'the three bytes are still queued');
    // Nothing queued at all.
    checkEq(p.read({count: 1}), '', 'nothing queued');
    checkEq(p.read({count: 16}), '', 'nothing queued, 16 wanted');

    // Every byte value, both ways.
    var all = '';
    for (var i = 0; i < 256; i++) all += String.fromCharCode(i);
    echo(p, all.slice(0, 128));
    var got = p.read({count: 128});
    echo(p, all.slice(128));
    got += p.read({count: 128});
    checkEq(got, all, 'all 256 byte values');

    // The poll budget grows with count (15 polls a byte, so at least 3 s for
    // 200 bytes): an answer 1 s late still arrives.
    var late = '';
    for (i = 0; i < 200; i++) late += String.fromCharCode((i * 7) & 255);
    echo(p, late, 100);
    checkEq(p.read({count: 200}), late, 'a late answer within the budget of a long read');
    p.close();
})();

// ---- write -------------------------------------------------------------------

(function () {
    var p = openPort({port: PORT});
    // [write's argument, bytes accepted]; the peer ignores these bytes.
    var cases = [
        [{content: '12'}, 2],
        [{content: '\x00\xFF'}, 2],
        [{content: 12345}, 5],
        [{content: ''}, 0],
        [{}, 0],
        [{content: undefined}, 0],
        [null, 0],
        [42, 0],
        ['12', 0],
        // Converted once: a toString giving a longer text the second time
        // must not make the write run past the first one.
        [{content: {n: 0, toString: function () { return this.n++ ? '1111111111111111' : '12'; }}}, 2],
    ];
    cases.forEach(function (c) {
        var what = 'write(' + show(c[0]) + ')';
        checkEq(p.write(c[0]), c[1], what);
    });

    // Bytes received before a write are gone for the reads after it.
    echo(p, 'wxyz');
    checkEq(p.read({count: 1}), 'w', 'first of four echoed bytes');
    checkEq(statusExchange(p), STATUS_FRAME, 'the reply after a write holds no older bytes');

    // Characters above 0xFF go out as their low byte: U+0151 is 'Q'.
    checkEq(p.write({content: '\u0151'}), 1, 'a character above 0xFF is one byte');
    checkEq(p.read({count: 16}), STATUS_FRAME, 'and it was sent as its low byte');
    p.close();
})();

// ---- close, closed and never-opened objects, failed opens -----------------

function checkClosed(p, what) {
    checkEq(p.set({}), false, what + ': set');
    checkEq(p.read({count: 1}), '', what + ': read');
    checkEq(p.write({content: 'Q'}), 0, what + ': write');
    checkEq(p.close(), undefined, what + ': close');
}

(function () {
    var p = openPort({port: PORT});
    var h = p.handle;
    checkEq(p.close(), undefined, 'close returns nothing');
    checkEq(p.handle, h, 'handle keeps its number after close');
    checkClosed(p, 'closed object');
    checkEq(p.handle, h, 'handle still there after a second close');
    checkEq(p.open({port: PORT}), true, 'a closed object opens again');
    checkEq(statusExchange(p), STATUS_FRAME, 'exchange after reopening');
    p.close();

    checkClosed(new Serial(), 'never opened');

    ['COM9', 'Z:\\no\\such\\folder\\port', ''].forEach(function (name) {
        var q = new Serial();
        checkEq(q.open({port: name}), false, 'open ' + show(name));
        check(!('handle' in q), 'no handle after failing to open ' + show(name));
        checkClosed(q, 'failed open of ' + show(name));
    });
})();

// ---- Exclusive open ------------------------------------------------------------

(function () {
    var a = openPort({port: LOCK_FILE});
    var b = new Serial();
    checkEq(b.open({port: LOCK_FILE}), false, 'a port held by another object does not open');
    check(!('handle' in b), 'no handle for the refused open');
    a.close();
    checkEq(b.open({port: LOCK_FILE}), true, 'it opens once the holder has closed it');
    b.close();
})();

// ---- Methods on objects that are not Serial objects --------------------------

(function () {
    // A File of its own, to see that Serial methods leave it alone.
    var FILE_PATH = LOCK_FILE + '.bin';
    var w = new File(FILE_PATH, 'wb');
    w.write('file content');
    w.close();
    var file = new File(FILE_PATH, 'rb');
    var fileAsSerial = Object.setPrototypeOf(new File(FILE_PATH, 'rb'), Serial.prototype);
    var notSerial = [
        ['{}', {}],
        ['Serial.prototype', Serial.prototype],
        ['Object.create(Serial.prototype)', Object.create(Serial.prototype)],
        ['a File', file],
        ['a File with Serial.prototype', fileAsSerial],
        ['a number', 7],
    ];
    var messages = {
        open: 'Serial.open: Serial not initialized',
        set: 'Serial.set: Serial not initialized',
        read: 'Serial.read: Serial not initialized',
        write: 'Serial.write: Serial not initialized',
        close: 'Serial.close: Not initialized',
    };
    notSerial.forEach(function (target) {
        Object.keys(messages).forEach(function (m) {
            checkThrows(function () { Serial.prototype[m].call(target[1], {port: PORT}); }, messages[m],
                        m + ' on ' + target[0]);
        });
    });
    checkThrows(function () { fileAsSerial.close(); }, messages.close, 'close on a File given Serial.prototype');
    checkEq([file.read(), file.close()], ['file content', true], 'the File is untouched by Serial methods');
    checkEq([File.prototype.read.call(fileAsSerial), File.prototype.close.call(fileAsSerial)], ['file content', true],
            'so is the File given Serial.prototype');
    // A Serial keeps its class whatever its prototype.
    var serialAsFile = Object.setPrototypeOf(new Serial(), File.prototype);
    checkThrows(function () { serialAsFile.close(); }, 'File.close: not a File object', 'File.close on a Serial');
    checkEq(Serial.prototype.open.call(serialAsFile, {port: PORT}), true, 'Serial.open still works on it');
    checkEq(Serial.prototype.close.call(serialAsFile), undefined, 'and Serial.close');
    file = fileAsSerial = serialAsFile = null;
    System.gc();
    check(File.remove(FILE_PATH), 'the File was closed and freed');

    // Too few arguments is reported first, on any object.
    var p = new Serial();
    ['open', 'set', 'read', 'write'].forEach(function (m) {
        var usage = 'Native function format error: Serial.' + m + '(<params>)';
        checkThrows(function () { p[m](); }, usage, m + '()');
        checkThrows(function () { Serial.prototype[m].call({}); }, usage, m + '() on a non-Serial');
    });
    checkEq(p.close(), undefined, 'close takes no arguments');
})();

// ---- Parameters whose getters run script ---------------------------------------

// Every parameter is read before the port is looked at: a getter that opens
// or closes the same object leaves the method to work on the port as the
// getter left it, and no handle leaks (the lock file opens again after).
(function () {
    var p;
    function getter(name, act, value) {
        var params = {port: LOCK_FILE};
        Object.defineProperty(params, name, {enumerable: true, get: function () {
            if (act == 'open') p.open({port: LOCK_FILE});
            if (act == 'close') p.close();
            if (act == 'throw') throw new Error('getter failed');
            return value;
        }});
        return params;
    }
    var cases = [
        // [what, open first?, call, result (or {error}), open after?]
        ['open whose port getter opens it', false, function () { return p.open(getter('port', 'open', LOCK_FILE)); },
         true, true],
        ['open whose baudRate getter closes it', true, function () { return p.open(getter('baudRate', 'close', 2400)); },
         true, true],
        ['open whose port getter throws', false, function () { return p.open(getter('port', 'throw', LOCK_FILE)); },
         {error: 'getter failed'}, false],
        ['open whose byteSize getter throws', true, function () { return p.open(getter('byteSize', 'throw', 8)); },
         {error: 'getter failed'}, true],
        ['set whose baudRate getter closes it', true, function () { return p.set(getter('baudRate', 'close', 2400)); },
         false, false],
        ['set whose bufInSize getter opens it', false, function () { return p.set(getter('bufInSize', 'open', 64)); },
         true, true],
        ['read whose count getter closes it', true, function () { return p.read(getter('count', 'close', 1)); },
         '', false],
        ['write whose content getter closes it', true, function () { return p.write(getter('content', 'close', 'Q')); },
         0, false],
        ['write whose content getter throws', true, function () { return p.write(getter('content', 'throw', 'Q')); },
         {error: 'getter failed'}, true],
    ];
    cases.forEach(function (c) {
        p = new Serial();
        if (c[1]) check(p.open({port: LOCK_FILE}), c[0] + ': opened first');
        var outcome;
        try {
            outcome = c[2]();
        } catch (e) {
            outcome = {error: e instanceof Error ? e.message : e};
        }
        checkEq(outcome, c[3], c[0] + ': result');
        // Open means the lock file is held: a second object cannot have it.
        var q = new Serial();
        checkEq(!q.open({port: LOCK_FILE}), c[4], c[0] + ': open after');
        q.close();
        p.close();
        checkEq(q.open({port: LOCK_FILE}), true, c[0] + ': no handle left behind');
        q.close();
    });
})();

// ---- Reads let other script threads run ---------------------------------------

(function () {
    var p = openPort({port: PORT});
    ticks = 0;
    ticking = true;
    System.createThread('while (ticking) { ticks++; System.sleep(1); }');
    check(waitFor(function () { return ticks > 0; }), 'the ticking thread runs');
    var before = ticks;
    checkEq(p.read({count: 20}), '', 'a read that waits for nothing');
    check(ticks > before, 'another thread ran while read waited');
    ticking = false;
    p.close();
})();

// ---- Two threads on one port --------------------------------------------------

// Threads read and write while this one closes and re-opens the same
// object: close waits for a read or write under way, never pulls its
// handle away.
(function () {
    shared = openPort({port: PORT});
    sharedDone = 0;
    var threads = 4;
    for (var t = 0; t < threads; t++) {
        System.createThread('for (var i = 0; i < 15; i++) { shared.write({content: "E\\u0001x"}); shared.read({count: 1}); } sharedDone++;');
    }
    var cycles = 0;
    while (sharedDone < threads && cycles < 2000) {
        shared.close();
        System.sleep(1);
        shared.open({port: PORT});
        cycles++;
    }
    check(waitFor(function () { return sharedDone == threads; }), 'every thread finished its reads and writes');
    check(cycles > 0, 'the port was closed and re-opened meanwhile');
    checkEq(statusExchange(shared), STATUS_FRAME, 'the port works after');
    shared.close();
})();

// ---- The finalizer releases a port left open ------------------------------------

(function () {
    var dropped = openPort({port: LOCK_FILE});
    checkEq(new Serial().open({port: LOCK_FILE}), false, 'held while its object lives');
    dropped = null;
    var neverOpened = new Serial();
    var closed = openPort({port: PORT});
    closed.close();
})();
System.gc();
(function () {
    var p = new Serial();
    checkEq(p.open({port: LOCK_FILE}), true, 'released after the object was collected');
    p.close();
    p = openPort({port: PORT});
    checkEq(statusExchange(p), STATUS_FRAME, 'the port works after collections');
    p.close();
})();

done();
