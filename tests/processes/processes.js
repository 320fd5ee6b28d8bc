// exec, open, enumProcesses, getAdminRights, getSysName and createLink.
// The program they start is kx4procprobe.exe (next to kx4test.exe), which
// reports through files in a scratch folder of this run: see procprobe.cpp.
// KX4_PROC_SCRATCH is the Linux path of the scratch folder's parent.

var bin = argv[0].replace(/\\[^\\]*$/, '');
var probePath = bin + '\\kx4procprobe.exe';
var probe = '"' + probePath + '"';
// wine reuses process ids from one session to the next: the time makes the name unique.
var scratch = 'Z:' + envp.KX4_PROC_SCRATCH.replace(/\//g, '\\') + '\\run-' + System.getPID() + '-' + Date.now();
File.createDir(scratch);
check(File.status(scratch).type == 'dir', 'the scratch folder exists');

var fileCount = 0;
// A fresh path in the scratch folder.
function scratchPath(name) { return scratch + '\\' + (++fileCount) + '-' + name; }
function exists(path) { return !!File.status(path); }
function touch(path) {
    var f = new File(path, 'wb');
    f.write('x');
    f.close();
}
// A probe's file as text (it writes UTF-8). The probe renames a file into
// place once it is complete; wine can refuse to open it for a moment after
// the rename, so the first opens may fail.
function text(path) {
    var content;
    waitFor(function () {
        var f = new File(path, 'rb');
        content = f.read();
        f.close();
        return content !== undefined;
    });
    return decodeURIComponent(escape(content || ''));
}
// A probe report: its "key=value" lines as an object.
function report(path) {
    var r = {};
    text(path).split('\n').forEach(function (l) {
        var eq = l.indexOf('=');
        if (eq > 0) r[l.slice(0, eq)] = l.slice(eq + 1);
    });
    return r;
}

// A probe that waits, once started, until the test lets it go; its files.
function awaitingProbe(name) {
    var p = {started: scratchPath(name + '.started'), go: scratchPath(name + '.go'), done: scratchPath(name + '.done')};
    p.command = probe + ' await "' + p.started + '" "' + p.go + '" "' + p.done + '"';
    return p;
}

// ---- exec: waiting or not -----------------------------------------------------------

// wait is a number truncated toward zero: any magnitude of 1 or more waits.
var waitCases = [
    [undefined, false], [0, false], [0.9, false], [-0.5, false], [NaN, false], ['x', false], [null, false],
    [false, false], [1, true], [true, true], ['1', true], [-1, true], [2.5, true], [4294967296, true],
];
waitCases.forEach(function (c) {
    var what = 'exec with wait ' + show(c[0]);
    if (c[1]) {
        // The child writes its report after a pause: it is there when exec returns.
        var out = scratchPath('waited');
        checkEq(System.exec(probe + ' write "' + out + '" 300', undefined, c[0]), true, what + ' returns true');
        check(exists(out), what + ' returns after the child has ended');
    } else {
        // The child ends only when the test lets it go: exec must return first.
        var p = awaitingProbe('unwaited');
        checkEq(System.exec(p.command, undefined, c[0]), true, what + ' returns true');
        touch(p.go);
        check(waitFor(function () { return exists(p.done); }), what + ' returns while the child runs');
    }
});

// Waiting suspends the request: a script thread lets the child go while
// the main thread waits for it.
var gate = awaitingProbe('gate');
function releaseWhenStarted() {
    waitFor(function () { return exists(gate.started); });
    touch(gate.go);
}
System.createThread('releaseWhenStarted()');
checkEq(System.exec(gate.command, undefined, true), true, 'exec with wait returns true');
check(exists(gate.done), 'another script thread ran while exec waited for the child');

// Waits release the heap: a script thread that ticks every 20 ms goes on
// while the main thread waits (a second at least each time).
ticker = {ticks: 0, stop: false};
System.createThread('while (!ticker.stop) { System.sleep(20); ticker.ticks++; }');
[
    ['exec with wait', function () { System.exec(probe + ' write "' + scratchPath('ticks') + '" 1000', undefined, true); }],
    ['sleep', function () { System.sleep(1000); }],
].forEach(function (c) {
    var before = ticker.ticks, start = Date.now();
    c[1]();
    var ticks = ticker.ticks - before;
    check(ticks >= 10, c[0] + ': the ticking thread went on (' + ticks + ' ticks in ' + (Date.now() - start) + ' ms)');
});
ticker.stop = true;

// The exit code is not looked at.
checkEq(System.exec(probe + ' no-such-mode', undefined, true), true, 'a child that ends with code 2 still gives true');

// ---- exec: how the child starts -----------------------------------------------------

var out = scratchPath('start');
checkEq(System.exec(probe + ' write "' + out + '"', undefined, true), true, 'exec of the probe');
var started = report(out);
checkEq(started.show, '0', 'the child is asked to hide its window (SW_HIDE)');
checkEq(started.dacl, 'null', 'the child process object has a null DACL');
checkEq(started.cwd, bin, "without a directory the child starts in the parent's current directory");

// silent and useExecV are converted to numbers and change nothing.
var conversions = 0;
var counted = {valueOf: function () { conversions++; return 1; }};
out = scratchPath('flags');
checkEq(System.exec(probe + ' write "' + out + '"', undefined, 1, counted, counted), true, 'exec with silent and useExecV');
checkEq(conversions, 2, 'silent and useExecV are each converted once');
checkEq(report(out).show, '0', 'the window stays hidden whatever silent says');

// The working directory, as UTF-16 all the way; null is no directory.
var folder = scratch + '\\dir \u00e9\u20ac\u4e2d';
check(File.createDir(folder), 'a folder with characters beyond Latin-1 can be made');
[[folder, folder], [folder + '\\', folder], [null, bin]].forEach(function (c) {
    var out = scratchPath('cwd');
    checkEq(System.exec(probe + ' write "' + out + '"', c[0], true), true, 'exec in directory ' + show(c[0]));
    checkEq(report(out).cwd, c[1], 'the child starts in ' + show(c[1]));
});
// A report path with spaces, quotes and such characters reaches the child whole.
out = folder + '\\report \u4e2d.txt';
checkEq(System.exec(probe + ' write "' + out + '"', undefined, true), true, 'exec with a quoted argument');
check(exists(out), 'the quoted argument reaches the child whole');

// What cannot start gives false.
[
    ['a missing working directory', probe + ' write "' + scratchPath('never') + '"', scratch + '\\missing'],
    ['a missing program', 'Z:\\no\\such\\program.exe', undefined],
    ['a program not on the search path', 'kx4-no-such-program', undefined],
    ['an empty command', '', undefined],
    ['a folder', '"' + scratch + '"', undefined],
].forEach(function (c) {
    checkEq(System.exec(c[1], c[2], true), false, 'exec of ' + c[0] + ' gives false');
    checkEq(System.exec(c[1], c[2]), false, 'exec of ' + c[0] + ' without wait gives false');
});

// A throwing argument: that error, and nothing started. Gone on with NaN or
// "" in place of the value, each of these would have run the probe.
var thrownTag = 'argument failed';
var notWritten = scratchPath('not-written');
var writer = probe + ' write "' + notWritten + '"';
[
    ['command', [thrower(thrownTag), undefined, 1]],
    ['directory', [writer, thrower(thrownTag), 1]],
    ['wait', [writer, undefined, thrower(thrownTag)]],
    ['silent', [writer, undefined, 1, thrower(thrownTag)]],
    ['useExecV', [writer, undefined, 1, 1, thrower(thrownTag)]],
].forEach(function (c) {
    checkThrows(function () { System.exec.apply(System, c[1]); }, thrownTag, 'exec with a throwing ' + c[0]);
});
System.sleep(1000);
check(!exists(notWritten), 'the failed exec calls started nothing');

// ---- enumProcesses ------------------------------------------------------------------

var list = System.enumProcesses();
check(Array.isArray(list), 'enumProcesses gives an array');
var mine = list.filter(function (p) { return p.pid === System.getPID(); });
checkEq(mine.length, 1, 'the calling process is listed once');
checkEq(mine.length && mine[0].name, 'kx4test.exe', "with its executable's base name");
var pids = {}, duplicates = [], malformed = [];
list.forEach(function (p) {
    if (pids[p.pid]) duplicates.push(p.pid);
    pids[p.pid] = true;
    var ok = same(Object.keys(p), ['name', 'pid']) && typeof p.name == 'string' && p.pid > 0 &&
        p.pid === Math.floor(p.pid) && p.pid <= 4294967295;
    ['name', 'pid'].forEach(function (k) {
        var d = Object.getOwnPropertyDescriptor(p, k);
        ok = ok && d.enumerable && !d.writable;
    });
    if (!ok) malformed.push(p);
});
checkEq(duplicates, [], 'every process is listed once');
checkEq(malformed, [], 'every entry has an enumerable, read-only name (string) and pid (number above 0)');
check(list.some(function (p) { return p.name == 'explorer.exe'; }), "other processes are listed too (wine's explorer.exe)");

// A child appears while it runs, and goes when it has ended.
var child = awaitingProbe('listed');
function probesListed() {
    return System.enumProcesses().filter(function (p) { return p.name == 'kx4procprobe.exe'; }).length;
}
var probesBefore = probesListed();
checkEq(System.exec(child.command), true, 'a child to look for');
check(waitFor(function () { return exists(child.started); }), 'the child has started');
checkEq(probesListed(), probesBefore + 1, 'a running child is listed once, by name');
touch(child.go);
check(waitFor(function () { return exists(child.done) && probesListed() == probesBefore; }),
      'a child that has ended is no longer listed');

// ---- getAdminRights and getSysName, as wine reports them ----------------------------

// wine's user is an administrator whose token counts as elevated.
checkEq(System.getAdminRights(), true, 'getAdminRights under wine');
checkEq(System.getSysName(), 'Windows NT/6.01.01', 'getSysName under wine (Windows 7 SP1)');

// ---- createLink ---------------------------------------------------------------------

// Writes the link, reads it back with the probe.
function readBack(link) {
    var out = scratchPath('link.txt');
    checkEq(System.exec(probe + ' readlink "' + link + '" "' + out + '"', undefined, true), true, 'readlink ran');
    return exists(out) ? report(out) : {};
}
var none = {args: '', description: '', iconPath: '', iconIndex: '0'};
function linkOf(fields) {
    var r = {};
    for (var k in none) r[k] = none[k];
    for (k in fields) r[k] = fields[k];
    return r;
}
[
    ['every property',
     {command: probePath, params: 'a "b c" \u00e9', description: 'Probe \u00e9\u20ac\u4e2d', iconPath: 'C:\\icons\\set.dll',
      iconIndex: 3},
     linkOf({path: probePath, args: 'a "b c" \u00e9', description: 'Probe \u00e9\u20ac\u4e2d',
             iconPath: 'C:\\icons\\set.dll', iconIndex: '3'})],
    ['only the target', {command: probePath}, linkOf({path: probePath})],
    ['null as missing', {command: probePath, params: null, description: null, iconPath: null},
     linkOf({path: probePath})],
    ['a truncated icon index', {command: probePath, iconPath: 'C:\\i.ico', iconIndex: 2.9},
     linkOf({path: probePath, iconPath: 'C:\\i.ico', iconIndex: '2'})],
    ['an icon index given as text', {command: probePath, iconPath: 'C:\\i.ico', iconIndex: '4'},
     linkOf({path: probePath, iconPath: 'C:\\i.ico', iconIndex: '4'})],
    // wine does not store the run-as flag, so only the rest is checked.
    ['runas', {command: probePath, params: 'x', runas: 1}, linkOf({path: probePath, args: 'x'})],
].forEach(function (c) {
    c[1].link = scratchPath('link \u4e2d.lnk');
    checkEq(System.createLink(c[1]), undefined, 'createLink with ' + c[0] + ' gives undefined');
    var back = readBack(c[1].link);
    delete back.runas;
    checkEq(back, c[2], 'the link with ' + c[0] + ' reads back');
});

// A link written again over an older one replaces it.
var link = scratchPath('again.lnk');
System.createLink({command: probePath, link: link, params: 'old'});
System.createLink({command: probePath, link: link, description: 'new'});
checkEq(readBack(link), linkOf({path: probePath, description: 'new', runas: '0'}), 'a link written again is replaced');

// A throwing field: that error, and no link written.
var unwritten = scratchPath('thrown.lnk');
throwingRecords({command: probePath, params: 'p', link: unwritten, description: 'd', iconPath: 'C:\\i.ico',
                 iconIndex: 1, runas: 1}, thrownTag).forEach(function (c) {
    checkThrows(function () { System.createLink(c[1]); }, thrownTag, 'createLink: ' + c[0]);
});
check(!exists(unwritten), 'the failed createLink calls wrote no link');

// Failures are not reported.
var noFolder = scratch + '\\missing\\x.lnk';
checkEq(checkNoThrow(function () { return System.createLink({command: probePath, link: noFolder}); },
                     'createLink into a missing folder does not throw'), undefined, 'and gives undefined');
check(!exists(noFolder), 'and writes nothing');
checkEq(checkNoThrow(function () { return System.createLink({command: probePath}); },
                     'createLink without a link path does not throw'), undefined, 'and gives undefined');
checkEq(checkNoThrow(function () { return System.createLink({}); }, 'createLink({}) does not throw'), undefined,
        'and gives undefined');
// Something that is not an object is a wrong call.
[undefined, null, 'x.lnk', 5].forEach(function (v) {
    checkThrows(function () { System.createLink(v); }, 'Native function format error: System.createLink(<link>)',
                'createLink(' + show(v) + ') is a wrong call');
});

// ---- open ---------------------------------------------------------------------------

// A file type of this test whose two verbs run the probe, which writes
// <file>.<verb> holding the parameters.
checkEq(System.exec(probe + ' assoc .kx4ptest kx4ptest.file open runas', undefined, true), true,
        'the test file type is registered');
[
    ['no parameters', [], 'open', ''],
    ['parameters', ['x y'], 'open', 'x y'],
    ['undefined as the third argument', ['x', undefined], 'open', 'x'],
    ['null parameters', [null], 'open', ''],
    ['"runas"', [undefined, 'runas'], 'runas', ''],
    ['any third argument', ['p', 0], 'runas', 'p'],
    ['null as the third argument', [undefined, null], 'runas', ''],
].forEach(function (c) {
    var doc = scratchPath('doc.kx4ptest');
    touch(doc);
    checkEq(System.open.apply(System, [doc].concat(c[1])), true, 'open with ' + c[0] + ' gives true');
    var verbFile = doc + '.' + c[2];
    check(waitFor(function () { return exists(verbFile); }), 'open with ' + c[0] + ' uses the verb ' + show(c[2]));
    if (exists(verbFile)) checkEq(text(verbFile), c[3], 'open with ' + c[0] + ' passes ' + show(c[3]));
});
// A throwing argument: that error, and nothing opened (gone on, the
// document would have been opened without parameters).
var unopened = scratchPath('unopened.kx4ptest');
touch(unopened);
checkThrows(function () { System.open(unopened, thrower(thrownTag)); }, thrownTag, 'open with throwing params');
checkThrows(function () { System.open(thrower(thrownTag), 'x'); }, thrownTag, 'open with a throwing file');
System.sleep(1500);
check(!exists(unopened + '.open'), 'the failed open calls opened nothing');
// A program is started with its parameters.
var started = scratchPath('opened');
checkEq(System.open(probePath, 'verb program "' + started + '" a b'), true, 'open of a program gives true');
check(waitFor(function () { return exists(started + '.program'); }), 'the program runs');
checkEq(exists(started + '.program') && text(started + '.program'), 'a b', 'with its parameters');

// What the shell cannot open: it shows its error box, and open returns
// false once the box is closed. The probe closes it only after a script
// thread said so: the request is suspended meanwhile.
var box = {seen: scratchPath('box.seen'), go: scratchPath('box.go'), report: scratchPath('box.txt')};
checkEq(System.exec(probe + ' dismiss ' + System.getPID() + ' "' + box.seen + '" "' + box.go + '" "' + box.report + '"'),
        true, 'the box closer is started');
function letBoxClose() {
    waitFor(function () { return exists(box.seen); });
    touch(box.go);
}
System.createThread('letBoxClose()');
checkEq(System.open(scratch + '\\missing.kx4ptest'), false, 'open of a missing file gives false');
check(waitFor(function () { return exists(box.report); }), 'the shell showed its error box');
checkEq(exists(box.report) && report(box.report).by, 'go', 'script threads ran while the box was up');

checkEq(System.exec(probe + ' unassoc .kx4ptest kx4ptest.file', undefined, true), true,
        'the test file type is removed');

// The scratch folder goes when everything passed; otherwise it stays to be looked at.
if (!checkResults.failed)
    checkEq(System.exec('cmd.exe /c rd /s /q "' + scratch + '"', undefined, true), true, 'the scratch folder is removed');
done();
