// The file-system functions of File, in a fresh folder (KX4_WORK_DIR, a
// Windows path).

var WORK = envp.KX4_WORK_DIR;

function writeFile(name, bytes) {
    var f = new File(name, 'wb');
    f.write(bytes);
    f.close();
}

function plain(o) {
    var copy = {};
    for (var k in o) copy[k] = o[k];
    return copy;
}

// openDir's entries as plain objects, by name: the system's order is its own.
function listing(pattern) {
    var entries = File.openDir(pattern), list = [];
    for (var i = 0; i < entries.length; i++) list.push(plain(entries[i]));
    return list.sort(function (a, b) { return a.name < b.name ? -1 : a.name > b.name ? 1 : 0; });
}

checkEq(File.changeDir(WORK), true, 'into the work folder');
checkEq(File.getCurrentWorkingDir().toLowerCase(), WORK.toLowerCase(), 'getCurrentWorkingDir: the full path');

// ---- status -------------------------------------------------------------------------------

writeFile('f.txt', '12345');
checkEq(File.setTime('f.txt', 1400000000000), true, 'setTime');
File.createDir('d');
var statuses = [
    // [path, status]
    ['f.txt', {size: 5, time: 1400000000000, type: 'file'}],
    ['d/../f.txt', {size: 5, time: 1400000000000, type: 'file'}],
    ['d\\..\\f.txt', {size: 5, time: 1400000000000, type: 'file'}],
    [WORK + '\\f.txt', {size: 5, time: 1400000000000, type: 'file'}],
    ['missing.txt', false],
    ['d/missing.txt', false],
    ['', false],
];
for (var i = 0; i < statuses.length; i++) {
    var st = File.status(statuses[i][0]);
    checkEq(st && plain(st), statuses[i][1], 'status(' + show(statuses[i][0]) + ')');
}
checkEq([File.status('d').type, File.status('.').type, File.status(WORK).type], ['dir', 'dir', 'dir'],
        'status of a directory');
var st = File.status('f.txt');
st.size = 1;
st.time = 2;
st.type = 'dir';
checkEq(plain(st), {size: 5, time: 1400000000000, type: 'file'}, 'status properties are enumerable and read-only');
var opened = new File('f.txt', 'rb');
checkEq(opened.time, File.status('f.txt').time, 'File time and status time agree');
opened.close();

// ---- setTime ------------------------------------------------------------------------------

var times = [
    // [time given, time status reports]
    [1000000000123, 1000000000000],
    [1500000000999, 1500000000000],
    [1000, 1000],
    ['1400000000000', 1400000000000],
    [86400000.5, 86400000],
];
for (var i = 0; i < times.length; i++) {
    checkEq(File.setTime('f.txt', times[i][0]), true, 'setTime(' + show(times[i][0]) + ')');
    checkEq(File.status('f.txt').time, times[i][1], 'setTime(' + show(times[i][0]) + ') in whole seconds');
}
checkEq(File.setTime('missing.txt', 1000000000000), false, 'setTime of a missing file');

// ---- remove -------------------------------------------------------------------------------

writeFile('gone.txt', 'x');
var removals = [
    // [path, result]
    ['gone.txt', true],
    ['gone.txt', false],
    ['missing.txt', false],
    ['d', false],
];
for (var i = 0; i < removals.length; i++) {
    checkEq(File.remove(removals[i][0]), removals[i][1], 'remove(' + removals[i][0] + ') #' + i);
}
checkEq([File.status('gone.txt'), File.status('d').type], [false, 'dir'], 'what remove removed');

// ---- createDir ----------------------------------------------------------------------------

var creations = [
    // [path, result]
    ['made', true],
    ['made', false],
    ['no/such/parent', false],
    ['made/sub', true],
    ['made\\other', true],
    ['f.txt', false],
];
for (var i = 0; i < creations.length; i++) {
    checkEq(File.createDir(creations[i][0]), creations[i][1], 'createDir(' + creations[i][0] + ') #' + i);
}
checkEq([File.status('made/sub').type, File.status('made/other').type, File.status('no')],
        ['dir', 'dir', false], 'the directories createDir made');

// ---- changeDir and the current directory ----------------------------------------------------

checkEq(File.changeDir('made/sub'), true, 'changeDir to a relative path');
checkEq(File.getCurrentWorkingDir().toLowerCase(), (WORK + '\\made\\sub').toLowerCase(),
        'getCurrentWorkingDir follows, with backslashes');
writeFile('inner.txt', 'in');
checkEq(File.changeDir('missing'), false, 'changeDir to a missing directory');
checkEq(File.getCurrentWorkingDir().toLowerCase(), (WORK + '\\made\\sub').toLowerCase(),
        'a failed changeDir stays');
checkEq(File.changeDir('..\\..'), true, 'changeDir up');
checkEq(File.getCurrentWorkingDir().toLowerCase(), WORK.toLowerCase(), 'back in the work folder');
checkEq(File.status('made/sub/inner.txt').size, 2, 'a relative open follows the current directory');
checkEq(File.changeDir(WORK + '\\made'), true, 'changeDir to an absolute path');
checkEq(File.status('sub/inner.txt').size, 2, 'relative paths start there');
checkEq(File.changeDir(WORK), true, 'back again');

// ---- openDir ------------------------------------------------------------------------------

File.createDir('empty');
File.createDir('list');
File.createDir('list/sub');
writeFile('list/a.txt', 'a');
writeFile('list/b.bin', 'b');
var UNICODE_NAME = '\u00e9t\u00e9 \u4e2d\u6587.txt';
writeFile('list/' + UNICODE_NAME, 'u');
var DOT = {name: '.', type: 'dir'}, DOTDOT = {name: '..', type: 'dir'};
var listings = [
    // [pattern, entries by name]
    ['empty/*.*', [DOT, DOTDOT]],
    ['missing/*.*', []],
    ['empty', [{name: 'empty', type: 'dir'}]],
    ['list/*.*', [DOT, DOTDOT, {name: 'a.txt', type: 'file'}, {name: 'b.bin', type: 'file'},
                  {name: 'sub', type: 'dir'}, {name: UNICODE_NAME, type: 'file'}]],
    ['list/*.txt', [{name: 'a.txt', type: 'file'}, {name: UNICODE_NAME, type: 'file'}]],
    ['list\\a.txt', [{name: 'a.txt', type: 'file'}]],
];
for (var i = 0; i < listings.length; i++) {
    checkEq(listing(listings[i][0]), listings[i][1], 'openDir(' + show(listings[i][0]) + ')');
}
check(File.openDir('missing/*.*') instanceof Array, 'openDir of nothing is an array');
var entry = File.openDir('empty')[0];
entry.name = 'x';
entry.type = 'file';
checkEq(plain(entry), {name: 'empty', type: 'dir'}, 'entry properties are enumerable and read-only');
checkEq(File.status('list/' + UNICODE_NAME).size, 1, 'a file with a name beyond 8 bits');

// ---- removeDir ----------------------------------------------------------------------------

var dirRemovals = [
    // [path, result]
    ['list', false],
    ['missing', false],
    ['f.txt', false],
    ['empty', true],
    ['empty', false],
];
for (var i = 0; i < dirRemovals.length; i++) {
    checkEq(File.removeDir(dirRemovals[i][0]), dirRemovals[i][1], 'removeDir(' + dirRemovals[i][0] + ') #' + i);
}
checkEq([File.status('list').type, File.status('empty'), File.status('f.txt').type], ['dir', false, 'file'],
        'what removeDir removed');

done();
