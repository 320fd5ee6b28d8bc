// The package reader, initAFS and extract, on the files make_packages.py
// built by hand. cases.js, evaluated before this file, holds the tables:
// foundCases (well-formed packages, and files without one), damagedCases,
// and listedPackage (kx4pack's listing of a packaged executable).

function keysOf(o) {
    var keys = [];
    for (var k in o) keys.push(k);
    return keys;
}

function names(entries) {
    var list = [];
    for (var i = 0; i < entries.length; i++) list.push(entries[i].name);
    return list.sort();
}

// After initAFS, whatever it found, the stream is back at offset 0.
function checkRewound(f, c, what) {
    checkEq(f.pos, 0, what + ': pos is 0 after initAFS');
    checkEq(f.read(c.head.length), c.head, what + ': reading starts at offset 0 after initAFS');
}

// The outcome of fn: {value} or {error}.
function attempt(fn) {
    try {
        return {value: fn()};
    } catch (e) {
        return {error: e};
    }
}

// A clear failure: an Error with a message, or the value `quiet`.
function failedClearly(outcome, quiet) {
    if ('error' in outcome) return outcome.error instanceof Error && outcome.error.message.length > 0;
    return outcome.value === quiet;
}

function describe(outcome) {
    return 'error' in outcome ? 'threw ' + show(outcome.error instanceof Error ? outcome.error.message : outcome.error)
                              : 'returned ' + show(outcome.value);
}

// ---- Well-formed packages, and files without one -------------------------------------

for (var i = 0; i < foundCases.length; i++) {
    var c = foundCases[i];
    var f = new File(c.file, 'rb');
    checkEq(checkNoThrow(function () { return f.initAFS(); }, c.title + ': initAFS'), c.found,
            c.title + ': initAFS finds the package or not');
    checkRewound(f, c, c.title);
    if (!c.found) {
        check(!('afs' in f), c.title + ': no afs without a package');
        f.close();
        continue;
    }
    checkEq([f.afs.pos, f.afs.size], [c.pos, c.size], c.title + ': afs.pos and afs.size');
    checkEq(keysOf(f.afs.fsd).sort(), names(c.entries), c.title + ': fsd has one property per entry');
    var posBefore = f.pos;
    for (var j = 0; j < c.entries.length; j++) {
        var e = c.entries[j], d = f.afs.fsd[e.name], what = c.title + ': ' + show(e.name);
        if (!check(d, what + ' is in fsd')) continue;
        // Streams follow the directory in listing order:
        // the first at afs.pos + 8 + C, each further one after the previous.
        checkEq([d.pos, d.size, d.csize, d.time], [e.pos, e.size, e.csize, e.time],
                what + ': pos, size, csize, time');
        var x = attempt(function () { return f.extract(e.name); });
        // An empty entry extracts as undefined, not as ''.
        checkEq(x.value, e.size == 0 ? undefined : e.content, what + ' extracts byte for byte (' + describe(x) + ')');
    }
    for (var name in c.attrs) {
        for (var a in c.attrs[name]) {
            checkEq(f.afs.fsd[name][a], c.attrs[name][a], c.title + ': ' + name + ' keeps ' + a);
        }
    }
    checkEq(f.pos, posBefore, c.title + ': extract leaves pos alone');
    f.close();
}

// ---- One package, every rule around it -------------------------------------------------

var endCase = foundCases[0];
var f = new File(endCase.file, 'rb');
checkEq(f.initAFS(), true, 'initAFS');
var firstAfs = f.afs;

// afs and its properties are enumerable and read-only.
checkEq(keysOf(f).sort(), ['afs', 'length', 'mode', 'path', 'pos', 'time'], 'File properties with afs');
checkEq(keysOf(f.afs).sort(), ['fsd', 'pos', 'size'], 'afs properties');
check(keysOf(f.afs.fsd['a.txt']).indexOf('pos') >= 0, 'entry pos is enumerable');
f.afs = 1;
f.afs.pos = 1;
f.afs.size = 1;
f.afs.fsd['a.txt'].pos = 1;
checkEq([f.afs === firstAfs, f.afs.pos, f.afs.size, f.afs.fsd['a.txt'].pos],
        [true, endCase.pos, endCase.size, endCase.entries[0].pos], 'assignments to afs and its properties do nothing');

// extract moves neither the pos property nor the recorded position.
f.seek(5);
f.extract('a.txt');
checkEq(f.pos, 5, 'extract leaves pos as it was');
f.read(0);
check(f.pos != 5, 'read then takes the position from the stream');

// initAFS again reads the package again.
f.seek(7);
checkEq(f.initAFS(), true, 'initAFS again');
check(f.afs !== firstAfs, 'a second initAFS replaces afs');
checkEq([f.pos, f.afs.pos, f.afs.fsd['a.txt'].pos], [0, endCase.pos, endCase.entries[0].pos],
        'a second initAFS reads the same package and rewinds');

// Names that are not entries, including what every object inherits.
var notEntries = ['missing.txt', 'A.TXT', 'a.txt ', '', 'toString', 'constructor', '__proto__', 'hasOwnProperty'];
for (var i = 0; i < notEntries.length; i++) {
    var x = attempt(function () { return f.extract(notEntries[i]); });
    check(failedClearly(x, undefined), 'extract(' + show(notEntries[i]) + ') fails clearly: ' + describe(x));
}
checkThrows(function () { f.extract(); }, 'Native function format error: File.extract(<fileName>)',
            'extract without a name');
checkEq(f.extract('a.txt'), endCase.entries[0].content, 'extract still works after failed ones');

// Closed: initAFS is false, extract undefined.
f.close();
checkEq([f.initAFS(), f.extract('a.txt')], [false, undefined], 'initAFS and extract on a closed File');
var never = new File();
checkEq([never.initAFS(), never.extract('a.txt')], [false, undefined], 'initAFS and extract on a File never opened');
checkThrows(function () { never.extract(); }, 'Native function format error: File.extract(<fileName>)',
            'the argument check comes before the closed check');

// Open, but no package read: extract fails clearly.
var unread = new File(endCase.file, 'rb');
var x = attempt(function () { return unread.extract('a.txt'); });
check(failedClearly(x, undefined), 'extract before initAFS fails clearly: ' + describe(x));
unread.close();
var nothing = new File(foundCases[foundCases.length - 1].file, 'rb');
checkEq(nothing.initAFS(), false, 'initAFS on a file without a package');
x = attempt(function () { return nothing.extract('a.txt'); });
check(failedClearly(x, undefined), 'extract after initAFS found nothing fails clearly: ' + describe(x));
nothing.close();

// ---- The offsets of a package kx4pack wrote, against its own listing ------------------

var listed = new File(listedPackage.file, 'rb');
checkEq(listed.initAFS(), true, 'initAFS on the packaged executable');
checkEq([listed.afs.pos, listed.afs.size], [listedPackage.P, listedPackage.L], 'P and L as kx4pack lists them');
checkEq(keysOf(listed.afs.fsd).sort(), names(listedPackage.entries), 'the entries kx4pack lists');
var next = listedPackage.P + 8 + listedPackage.C;
for (var i = 0; i < listedPackage.entries.length; i++) {
    var e = listedPackage.entries[i], d = listed.afs.fsd[e.name];
    checkEq(d && [d.pos, d.size, d.csize, d.time], [next, e.size, e.csize, e.time],
            e.name + ': offset follows the previous entry, fields as listed');
    checkEq(d && d.pos, e.pos, e.name + ': offset as kx4pack lists it');
    var content = listed.extract(e.name);
    checkEq(content === undefined ? 0 : content.length, e.size, e.name + ': extracts to its size');
    next += e.csize;
}
checkEq(next + 8, listed.length, 'the last stream ends at the trailer');
listed.close();

// ---- Damaged packages: a clear error or false, never a crash or stray bytes -------------

for (var i = 0; i < damagedCases.length; i++) {
    var c = damagedCases[i];
    var f = new File(c.file, 'rb');
    var init = attempt(function () { return f.initAFS(); });
    check('error' in init || init.value === true || init.value === false,
          c.title + ': initAFS gives a boolean or throws: ' + describe(init));
    var initFailed = failedClearly(init, false);
    check(initFailed || init.value === true, c.title + ': initAFS fails with an Error with a message: ' + describe(init));
    checkRewound(f, c, c.title);
    var extractFailed = false;
    if (!initFailed && c.entry) {
        var x = attempt(function () { return f.extract(c.entry); });
        extractFailed = failedClearly(x, undefined);
        check(extractFailed || c.fails == 'init',
              c.title + ': extract of the damaged entry fails clearly: ' + describe(x));
        if (c.intact) {
            var y = attempt(function () { return f.extract(c.intact.name); });
            checkEq(y.value, c.intact.content, c.title + ': the sound entry still extracts (' + describe(y) + ')');
        }
    }
    if (c.fails == 'init') check(initFailed, c.title + ': initAFS fails: ' + describe(init));
    if (c.fails == 'extract') check(!initFailed, c.title + ': the package frame is still read: ' + describe(init));
    if (c.fails == 'either') check(initFailed || extractFailed, c.title + ': initAFS or extract fails');
    f.close();
}

done();
