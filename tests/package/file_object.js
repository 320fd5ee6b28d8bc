// File objects: the constructor, open, read, write, seek, close, the
// properties they keep, and File.compress / File.uncompress. Runs in a fresh
// folder (KX4_WORK_DIR); cases.js, evaluated before this file, brings
// compressCases: streams that Python's zlib wrote.

check(File.changeDir(envp.KX4_WORK_DIR), 'into the work folder');

function keysOf(o) {
    var keys = [];
    for (var k in o) keys.push(k);
    return keys.sort();
}

function writeFile(name, bytes, mode) {
    var f = new File(name, mode || 'wb');
    var n = f.write(bytes);
    f.close();
    return n;
}

function readFile(name) {
    var f = new File(name, 'rb');
    var s = f.read();
    f.close();
    return s;
}

// Reproducible pseudo-random byte strings (xorshift32).
function randomBytes(n, seed) {
    var x = seed, out = [];
    for (var i = 0; i < n; i++) {
        x ^= x << 13;
        x ^= x >>> 17;
        x ^= x << 5;
        out.push(String.fromCharCode(x & 255));
    }
    return out.join('');
}

var ALL_BYTES = '';
for (var i = 0; i < 256; i++) ALL_BYTES += String.fromCharCode(i);
var SAMPLE = ALL_BYTES + 'the end.';
var N = SAMPLE.length;
checkEq(writeFile('sample.bin', SAMPLE), N, 'sample written');

// ---- Constructor forms ------------------------------------------------------------------

var sampleTime = File.status('sample.bin').time;
var constructed = [
    // [form, make, opened, properties]
    ['new File()', function () { return new File(); }, false, {}],
    ['new File(path)', function () { return new File('sample.bin'); }, false, {}],
    ['new File(path, mode, extra)', function () { return new File('sample.bin', 'rb', 1); }, false, {}],
    ['new File(path, mode)', function () { return new File('sample.bin', 'rb'); }, true,
     {path: 'sample.bin', mode: 'rb', length: N, time: sampleTime, pos: 0}],
    ['new File(missing, mode)', function () { return new File('missing.bin', 'rb'); }, false,
     {path: 'missing.bin', mode: 'rb', length: 0, time: 0, pos: 0}],
];
for (var i = 0; i < constructed.length; i++) {
    var c = constructed[i];
    var f = checkNoThrow(c[1], c[0]);
    if (!f) continue;
    check(f instanceof File, c[0] + ' is a File');
    var props = {};
    for (var k in f) props[k] = f[k];
    checkEq(props, c[3], c[0] + ': properties');
    var content = f.read();
    checkEq(content, c[2] ? SAMPLE : undefined, c[0] + (c[2] ? ' is open' : ' is closed'));
    f.close();
}

// Properties are enumerable and read-only.
var p = new File('sample.bin', 'rb');
checkEq(keysOf(p), ['length', 'mode', 'path', 'pos', 'time'], 'the properties open defines');
p.path = 'other';
p.mode = 'wb';
p.length = 1;
p.time = 2;
p.pos = 3;
checkEq([p.path, p.mode, p.length, p.time, p.pos], ['sample.bin', 'rb', N, sampleTime, 0],
        'assignments to the properties do nothing');
p.close();

// ---- open -------------------------------------------------------------------------------

writeFile('other.bin', 'other content');
var o = new File();
checkEq(o.open('sample.bin', 'rb'), true, 'open of an existing file');
checkEq(o.read(5), SAMPLE.slice(0, 5), 'read after open');
checkEq(o.open('other.bin', 'rb'), true, 'open while open');
checkEq([o.path, o.length, o.pos], ['other.bin', 13, 5], 'open sets path and length, never pos');
checkEq(o.read(), 'other content', 'the new file is read from its start');
checkEq(o.open('missing.bin', 'rb'), false, 'open of a missing file');
checkEq([o.path, o.mode, o.length, o.time, o.pos], ['missing.bin', 'rb', 13, File.status('other.bin').time, 13],
        'a failed open sets path and mode and keeps length, time and pos');
checkEq(o.read(), undefined, 'after a failed open the object is closed');

// time is the file's modification time in milliseconds.
checkEq(File.setTime('other.bin', 1300000000999), true, 'setTime');
var t = new File('other.bin', 'rb');
checkEq([t.time, File.status('other.bin').time], [1300000000000, 1300000000000], 'time in whole seconds, as status has it');
t.close();

// ---- read, seek and pos -------------------------------------------------------------------

var r = new File('sample.bin', 'rb');
var steps = [
    // [step, expected result, pos after]
    ['read()', function () { return r.read(); }, SAMPLE, N],
    ['read() at the end', function () { return r.read(); }, '', N],
    ['seek(10)', function () { return r.seek(10); }, undefined, 10],
    ['read() after seek(10)', function () { return r.read(); }, SAMPLE.slice(10), N],
    ['seek(0)', function () { return r.seek(0); }, undefined, 0],
    ['read(0)', function () { return r.read(0); }, '', 0],
    ['read(-5)', function () { return r.read(-5); }, '', 0],
    ['read(4)', function () { return r.read(4); }, SAMPLE.slice(0, 4), 4],
    ['read(4) again', function () { return r.read(4); }, SAMPLE.slice(4, 8), 8],
    ["read('3')", function () { return r.read('3'); }, SAMPLE.slice(8, 11), 11],
    ['read(2.9)', function () { return r.read(2.9); }, SAMPLE.slice(11, 13), 13],
    ['read(undefined)', function () { return r.read(undefined); }, SAMPLE.slice(13), N],
    ['seek(-8)', function () { return r.seek(-8); }, undefined, N - 8],
    ['read(8) after seek(-8)', function () { return r.read(8); }, SAMPLE.slice(N - 8), N],
    ['seek past the end', function () { return r.seek(N + 10); }, undefined, N + 10],
    ['read() past the end', function () { return r.read(); }, '', N + 10],
    ['seek(3)', function () { return r.seek(3); }, undefined, 3],
    ['seek before the start', function () { return r.seek(-(N + 10)); }, undefined, 3],
    ['read(more than is left)', function () { return r.read(N + 100); }, SAMPLE.slice(3), N],
    ['seek(N - 2)', function () { return r.seek(N - 2); }, undefined, N - 2],
    // Capped at what the file still holds: no 2 GiB buffer for 2 bytes.
    ['read(2147483647)', function () { return r.read(2147483647); }, SAMPLE.slice(N - 2), N],
];
for (var i = 0; i < steps.length; i++) {
    var s = steps[i];
    var result = checkNoThrow(s[1], s[0]);
    checkEq([result, r.pos], [s[2], s[3]], s[0] + ': result and pos');
}
r.close();

// read() without a count reads as many bytes as the file had when opened.
writeFile('grow.bin', '0123456789');
var g = new File('grow.bin', 'rb');
writeFile('grow.bin', 'abcde', 'ab');
checkEq([g.length, g.read(), g.read()], [10, '0123456789', 'abcde'], 'length is the size at open');
g.close();

// ---- write ----------------------------------------------------------------------------------

var w = new File('written.bin', 'wb');
var writes = [
    // [content, bytes on disk, count]
    ['abc', 'abc', 3],
    ['\u0141\u4e00\u00ff\u0100', 'A\u0000\u00ff\u0000', 4],  // the low byte of each character
    [123, '123', 3],
    ['', '', 0],
    ['\u0000\u0000', '\u0000\u0000', 2],
    [true, 'true', 4],
];
var expected = '';
for (var i = 0; i < writes.length; i++) {
    var n = w.write(writes[i][0]);
    expected += writes[i][1];
    checkEq([n, w.pos], [writes[i][2], expected.length], 'write(' + show(writes[i][0]) + '): count and pos');
}
checkEq(w.length, 0, 'writing does not change length');
w.close();
checkEq(readFile('written.bin'), expected, 'the bytes written');

// Text and append modes are the runtime's.
checkEq(writeFile('text.txt', 'a\nb', 'w'), 3, 'text mode write');
checkEq(readFile('text.txt'), 'a\r\nb', 'text mode writes CR LF');
var tr = new File('text.txt', 'r');
checkEq(tr.read(), 'a\nb', 'text mode reads CR LF as LF');
tr.close();
writeFile('text.txt', 'c', 'ab');
checkEq(readFile('text.txt'), 'a\r\nbc', 'append mode');
var ro = new File('text.txt', 'rb');
checkEq(ro.write('zz'), 0, 'write to a file opened for reading writes nothing');
ro.close();
checkEq(readFile('text.txt'), 'a\r\nbc', 'the file is unchanged');

// ---- close -------------------------------------------------------------------------------

// true once the buffered bytes are on disk; false when the flush failed
// (/dev/full takes no byte: the 100 bytes wait in the buffer until close).
var closes = [
    // [what, path, mode, content, close's result]
    ['a file written', 'closing.bin', 'wb', 'abc', true],
    ['a file read', 'closing.bin', 'rb', '', true],
    ['a flush that fails', 'Z:\\dev\\full', 'wb', new Array(101).join('x'), false],
];
for (var i = 0; i < closes.length; i++) {
    var c = closes[i];
    var f = new File(c[1], c[2]);
    check(f.pos === 0, c[0] + ': opened');
    if (c[3]) checkEq(f.write(c[3]), c[3].length, c[0] + ': written into the buffer');
    checkEq([f.close(), f.close()], [c[4], undefined], c[0] + ': close, then close of a closed File');
}
checkEq(readFile('closing.bin'), 'abc', 'the bytes closed');

// ---- Reads larger than a script string ------------------------------------------------------

// 33 MiB and a byte, mostly a hole: more than the 32 MiB heap can hold as a
// string, so read refuses before reading and the position stays.
var big = new File('big.bin', 'w+b');
big.seek(33 * 1048576);
checkEq(big.write('x'), 1, 'the large file written');
big.seek(5);
checkThrows(function () { big.read(40000000); }, 'File.read: 34603004 bytes do not fit in a script string; read in pieces',
            'read of the 33 MiB left');
checkEq([big.pos, big.read(3)], [5, '\u0000\u0000\u0000'], 'the refused read moved nothing');
big.seek(-2);
checkEq(big.read(2147483647), '\u0000x', 'a piece of it reads');
checkEq(big.close(), true, 'the large file closes');
checkEq(File.remove('big.bin'), true, 'the large file removed');

// ---- A closed object ----------------------------------------------------------------------

var cl = new File('sample.bin', 'rb');
cl.read(3);
cl.close();
checkEq([cl.read(), cl.read(2), cl.write('x'), cl.seek(0), cl.extract('a'), cl.initAFS(), cl.close()],
        [undefined, undefined, undefined, undefined, undefined, false, undefined], 'methods on a closed File');
checkEq([cl.path, cl.length, cl.pos], ['sample.bin', N, 3], 'a closed File keeps its properties');
checkEq(File.remove('sample.bin'), true, 'a closed file can be removed');

// ---- Calls that are wrong ---------------------------------------------------------------

var methods = ['open', 'close', 'read', 'write', 'seek', 'initAFS', 'extract'];
// Objects of another class, or with File's prototype but no File inside:
// each method gives its own error and leaves the object as it was.
check(System.loadModule('kx4com.dll'), 'kx4com.dll loads (for objects of another class)');
var serial = new Serial();
var serialAsFile = Object.setPrototypeOf(new Serial(), File.prototype);
var notFiles = [
    ['{}', {}],
    ['File.prototype', File.prototype],
    ['the global object', this],
    ['Object.create(File.prototype)', Object.create(File.prototype)],
    ['a Serial', serial],
    ['a Serial with File.prototype', serialAsFile],
    ['a number', 5],
];
for (var i = 0; i < methods.length; i++) {
    for (var j = 0; j < notFiles.length; j++) {
        var what = 'File.prototype.' + methods[i] + ' on ' + notFiles[j][0];
        var e = checkThrows(function () { File.prototype[methods[i]].call(notFiles[j][1], 'x.bin', 'rb'); },
                            'File.' + methods[i] + ': not a File object', what);
        check(e instanceof Error, what + ' throws an Error');
    }
}
checkThrows(function () { serialAsFile.read(4); }, 'File.read: not a File object', 'read on a Serial given File.prototype');
checkEq([serial.set({}), serial.read({count: 1}), serial.write({content: 'x'}), serial.close()], [false, '', 0, undefined],
        'the Serial is untouched by File methods');
// A File keeps its class whatever its prototype.
writeFile('swapped.bin', 'swapped');
var swapped = Object.setPrototypeOf(new File('swapped.bin', 'rb'), Serial.prototype);
checkThrows(function () { swapped.read({count: 1}); }, 'Serial.read: Serial not initialized', 'Serial.read on a File');
checkEq(File.prototype.read.call(swapped), 'swapped', 'File.read still works on it');
checkEq(File.prototype.close.call(swapped), true, 'and File.close');
serial = serialAsFile = swapped = null;
System.gc();

// ---- Arguments whose conversion runs script ----------------------------------------------

// Every argument is converted before the File is looked at: a valueOf or
// toString that closes or re-opens the very File in use leaves it closed
// (or on the other file), and one that throws changes nothing.
writeFile('other2.bin', 'abcdefghij');
var victim;
function hostile(value, act) {
    var run = function () {
        if (act == 'close') victim.close();
        if (act == 'reopen') victim.open('other2.bin', 'rb');
        if (act == 'throw') throw new Error('conversion failed');
        return value;
    };
    return {valueOf: run, toString: run};
}
var reentry = [
    // [call, its result (or {error}), then: path, read(3), the bytes on disk]
    ['read(closes)', function (f) { return f.read(hostile(4, 'close')); }, undefined, ['reentry.bin', undefined]],
    ['read(re-opens)', function (f) { return f.read(hostile(4, 'reopen')); }, 'abcd', ['other2.bin', 'efg']],
    ['read(throws)', function (f) { return f.read(hostile(4, 'throw')); }, {error: 'conversion failed'},
     ['reentry.bin', '012']],
    ['write(closes)', function (f) { return f.write(hostile('xy', 'close')); }, undefined, ['reentry.bin', undefined]],
    ['write(re-opens)', function (f) { return f.write(hostile('xy', 'reopen')); }, 0, ['other2.bin', 'abc']],
    ['write(throws)', function (f) { return f.write(hostile('xy', 'throw')); }, {error: 'conversion failed'},
     ['reentry.bin', '012']],
    ['seek(closes)', function (f) { return f.seek(hostile(3, 'close')); }, undefined, ['reentry.bin', undefined]],
    ['seek(re-opens)', function (f) { return f.seek(hostile(3, 'reopen')); }, undefined, ['other2.bin', 'def']],
    ['seek(throws)', function (f) { return f.seek(hostile(3, 'throw')); }, {error: 'conversion failed'},
     ['reentry.bin', '012']],
    // (path is the argument itself, unconverted.)
    ['open(path closes)', function (f) { return f.open(hostile('other2.bin', 'close'), 'rb'); }, true,
     ['object', 'abc']],
    ['open(mode throws)', function (f) { return f.open('other2.bin', hostile('rb', 'throw')); },
     {error: 'conversion failed'}, ['reentry.bin', '012']],
    ['extract(name closes)', function (f) { return f.extract(hostile('a', 'close')); }, undefined,
     ['reentry.bin', undefined]],
    ['extract(name throws)', function (f) { return f.extract(hostile('a', 'throw')); }, {error: 'conversion failed'},
     ['reentry.bin', '012']],
];
for (var i = 0; i < reentry.length; i++) {
    var c = reentry[i];
    writeFile('reentry.bin', '0123456789');
    victim = new File('reentry.bin', 'r+b');
    var outcome;
    try {
        outcome = c[1](victim);
    } catch (e) {
        outcome = {error: e instanceof Error ? e.message : e};
    }
    checkEq(outcome, c[2], c[0] + ': result');
    checkEq([typeof victim.path == 'string' ? victim.path : typeof victim.path, victim.read(3)], c[3],
            c[0] + ': the File after');
    victim.close();
    checkEq(readFile('reentry.bin'), '0123456789', c[0] + ': the file on disk is untouched');
}

// Packages built here: 'IMAGE', then the package whose directory is the
// given text; entry a holds 'hello'.
function be32(n) {
    return String.fromCharCode((n >>> 24) & 255, (n >>> 16) & 255, (n >>> 8) & 255, n & 255);
}
var helloZ = File.compress('hello');
function writePackage(name, directory) {
    var z = File.compress(directory);
    var body = be32(z.length) + be32(directory.length) + z + helloZ;
    writeFile(name, 'IMAGE' + body + be32(0xABCDABCD) + be32(body.length + 8));
}
var csize = helloZ.length;
var changedInAFS = 'File.initAFS: the File was closed or re-opened while its package was read';
var packages = [
    // [what, directory text, initAFS's result (or {error}), then: path, read(5)]
    ['a plain directory', "({a: {size: 5, csize: " + csize + "}})", true, ['reentry.pkg', 'IMAGE']],
    ['a directory that closes the File', "({a: (victim.close(), {size: 5, csize: " + csize + "})})",
     {error: changedInAFS}, ['reentry.pkg', undefined]],
    ['a directory that re-opens the File', "({a: (victim.open('other2.bin', 'rb'), {size: 5, csize: " + csize + "})})",
     {error: changedInAFS}, ['other2.bin', 'abcde']],
    ['an entry getter that closes the File',
     "({a: {size: 5, get csize() { victim.close(); return " + csize + "; }}})", {error: changedInAFS},
     ['reentry.pkg', undefined]],
    ['an entry getter that throws', "({a: {size: 5, get csize() { throw new Error('getter failed'); }}})",
     {error: 'getter failed'}, ['reentry.pkg', 'IMAGE']],
    ['a directory that throws', "({a: (function () { throw new Error('directory failed'); })()})",
     {error: 'directory failed'}, ['reentry.pkg', 'IMAGE']],
];
for (var i = 0; i < packages.length; i++) {
    var c = packages[i];
    writePackage('reentry.pkg', c[1]);
    victim = new File('reentry.pkg', 'rb');
    victim.read(2);
    var outcome;
    try {
        outcome = victim.initAFS();
    } catch (e) {
        outcome = {error: e instanceof Error ? e.message : e};
    }
    checkEq(outcome, c[2], 'initAFS on ' + c[0] + ': result');
    checkEq([victim.path, victim.read(5)], c[3], 'initAFS on ' + c[0] + ': the File after');
    victim.close();
}

// extract reads the entry's fields before it looks at the File.
var extracts = [
    // [what, how the entry is changed, extract's result (or {error}), read(5) after]
    ['an unchanged entry', function (e) {}, 'hello', 'IMAGE'],
    ['a size getter that closes the File',
     function (e) { Object.defineProperty(e, 'size', {get: function () { victim.close(); return 5; }}); },
     undefined, undefined],
    ['a pos getter that throws',
     function (e) { Object.defineProperty(e, 'pos', {get: function () { throw new Error('pos failed'); }}); },
     {error: 'pos failed'}, 'IMAGE'],
    ['a csize getter that re-opens the File on another',
     function (e) { Object.defineProperty(e, 'csize', {get: function () { victim.open('other2.bin', 'rb'); return csize; }}); },
     {error: "File.extract: damaged entry 'a'"}, 'abcde'],
];
writePackage('reentry.pkg', "({a: {size: 5, csize: " + csize + "}})");
for (var i = 0; i < extracts.length; i++) {
    var c = extracts[i];
    victim = new File('reentry.pkg', 'rb');
    checkEq(victim.initAFS(), true, 'extract with ' + c[0] + ': the package reads');
    c[1](victim.afs.fsd.a);
    var outcome;
    try {
        outcome = victim.extract('a');
    } catch (e) {
        outcome = {error: e instanceof Error ? e.message : e};
    }
    checkEq(outcome, c[2], 'extract with ' + c[0] + ': result');
    if (victim.pos !== undefined) victim.seek(0);
    checkEq(victim.read(5), c[3], 'extract with ' + c[0] + ': the File after');
    victim.close();
}

var usages = [
    [function () { new File().open('x'); }, 'File.open(<path>, <mode>)'],
    [function () { new File().write(); }, 'File.write(<content>)'],
    [function () { new File().seek(); }, 'File.seek(<pos>)'],
    [function () { new File().extract(); }, 'File.extract(<fileName>)'],
    [function () { File.compress(); }, 'File.compress(<content>)'],
    [function () { File.uncompress('x'); }, 'File.uncompress(<content>, <result size>)'],
    [function () { File.status(); }, 'File.status(<path>)'],
    [function () { File.remove(); }, 'File.remove(<path>)'],
    [function () { File.setTime('x'); }, 'File.setTime(<path>, <time>)'],
    [function () { File.createDir(); }, 'File.createDir(<path>)'],
    [function () { File.changeDir(); }, 'File.changeDir(<path>)'],
    [function () { File.openDir(); }, 'File.openDir(<path>)'],
    [function () { File.removeDir(); }, 'File.removeDir(<path>)'],
];
for (var i = 0; i < usages.length; i++) {
    checkThrows(usages[i][0], 'Native function format error: ' + usages[i][1], usages[i][1] + ' with too few arguments');
}

var arities = {};
for (var i = 0; i < methods.length; i++) arities[methods[i]] = File.prototype[methods[i]].length;
var statics = ['compress', 'uncompress', 'status', 'remove', 'setTime', 'createDir', 'changeDir', 'openDir',
               'removeDir', 'getCurrentWorkingDir'];
for (var i = 0; i < statics.length; i++) arities[statics[i]] = File[statics[i]].length;
checkEq(arities, {open: 2, close: 0, read: 1, write: 1, seek: 1, initAFS: 0, extract: 0, compress: 1, uncompress: 1,
                  status: 1, remove: 1, setTime: 2, createDir: 1, changeDir: 1, openDir: 1, removeDir: 1,
                  getCurrentWorkingDir: 0}, 'declared argument counts');

// ---- compress and uncompress ---------------------------------------------------------------

var contents = [
    ['empty', ''],
    ['one byte', 'a'],
    ['all 256 byte values', ALL_BYTES],
    ['1000 random bytes', randomBytes(1000, 1)],
    ['100000 random bytes', randomBytes(100000, 2)],
    ['30000 repeated bytes', new Array(10001).join('abc')],
    ['zero bytes', new Array(5001).join('\u0000')],
];
for (var i = 0; i < contents.length; i++) {
    var what = contents[i][0], s = contents[i][1];
    var z = File.compress(s);
    // A zlib stream: method 8 and a header that is a multiple of 31.
    check((z.charCodeAt(0) & 15) == 8 && (z.charCodeAt(0) * 256 + z.charCodeAt(1)) % 31 == 0,
          what + ': compress gives a zlib stream');
    check(z.length <= Math.floor(s.length * 1.1 + 12), what + ': within the output bound');
    checkEq(File.uncompress(z, s.length), s, what + ': round trip');
    checkEq(File.uncompress(z, s.length + 100), s, what + ': a larger capacity gives the exact content');
}
checkEq(File.compress('\u0141\u4e41'), File.compress('AA'), 'compress takes the low byte of each character');
for (var i = 0; i < compressCases.length; i++) {
    var c = compressCases[i];
    checkEq(File.uncompress(c.z, c.content.length), c.content,
            'uncompress of ' + c.content.length + ' bytes another zlib wrote at level ' + c.level);
}
checkEq(File.uncompress(File.compress('0123456789'), '10'), '0123456789', 'the capacity is converted to a number');

// Not zlib, or damaged: an Error, never bytes that cannot be trusted.
var text = 'hello hello hello, a text to damage';
var zt = File.compress(text);
var damaged = [
    ['empty input', ''],
    ['one byte', 'x'],
    ['not zlib', 'this is not a zlib stream'],
    ['header only', zt.slice(0, 2)],
    ['cut short', zt.slice(0, zt.length - 6)],
    ['wrong checksum', zt.slice(0, -1) + String.fromCharCode(zt.charCodeAt(zt.length - 1) ^ 1)],
    ['random bytes', randomBytes(500, 7)],
    ['bytes changed in the middle', zt.slice(0, 20) + 'xxxx' + zt.slice(24)],
];
for (var i = 0; i < damaged.length; i++) {
    checkThrows(function () { File.uncompress(damaged[i][1], 100); },
                'File.uncompress: damaged data (not a complete zlib stream, or a wrong checksum)',
                'uncompress of ' + damaged[i][0]);
}

// Too small a capacity: a buffer error report, and the first bytes.
System.print('uncompress into 5 bytes');
checkEq(File.uncompress(File.compress('0123456789'), 5), '01234', 'uncompress into 5 bytes gives the first 5');
System.print('uncompress into 0 bytes');
checkEq(File.uncompress(File.compress('0123456789'), 0), '', 'uncompress into 0 bytes gives nothing');
// A negative capacity: whatever the report, nothing outside the buffer.
// Evaluated under a name of its own, so that its report is not counted.
var negative;
try {
    negative = System.evaluate('negative_capacity', "File.uncompress(File.compress('0123456789'), -1)");
} catch (e) {
    negative = e;
}
check(negative === '' || (negative instanceof Error && negative.message.length > 0),
      'uncompress with a negative capacity gives no bytes or an Error: ' + show(negative));
System.print('uncompress done');

done();
