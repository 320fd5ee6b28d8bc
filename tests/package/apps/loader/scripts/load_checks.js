// load and include, the globals of the start-up script, in a packaged
// executable. Beside the executable lie the files of tests/package/disk:
// scripts/autorun.js, scripts/shadow.js (also in the package, with other
// content), scripts/disk_only.js and the empty scripts/empty_disk.js.

var PACKAGE_TIME = 1234567890000;  // every entry's time (kx4pack --time)
var SHADOW_DISK = "shadowFrom = 'disk';\n";
var SHADOW_PACKAGE = "shadowFrom = 'package';\n";
var DISK_ONLY = "diskOnly = true;\n";

// ---- The package the start-up script opened ----------------------------------------

var pkg = System.package;
check(pkg instanceof File, 'System.package is a File');
checkEq([pkg.path, pkg.mode], [argv[0], 'rb'], 'System.package opens the executable for reading');
checkEq(Object.keys(pkg.afs.fsd).sort(),
        ['scripts/autorun.js', 'scripts/check.js', 'scripts/counter.js', 'scripts/empty.js',
         'scripts/fails.js', 'scripts/load_checks.js', 'scripts/shadow.js', 'scripts/syntax.js'],
        'the package directory lists every packed file');
checkEq(pkg.afs.pos + pkg.afs.size, pkg.length, 'the package ends the executable');
checkEq(pkg.pos, 0, 'extracting entries leaves pos at 0');
check(global.System === System && global.include === include && global.load === load,
      'global is the global object');

// ---- load: where the content comes from ------------------------------------------------

// [name, mode, content ('package': the entry's content), time ('disk': the file's)]
var sources = [
    // A file on disk wins in every mode but 'AFS'.
    ['scripts/shadow.js', undefined, SHADOW_DISK, 'disk'],
    ['scripts/shadow.js', 'DISK', SHADOW_DISK, 'disk'],
    ['scripts/shadow.js', 'other', SHADOW_DISK, 'disk'],
    ['scripts/shadow.js', 'AFS', SHADOW_PACKAGE, PACKAGE_TIME],
    // Not in the package: disk in every mode.
    ['scripts/disk_only.js', undefined, DISK_ONLY, 'disk'],
    ['scripts/disk_only.js', 'AFS', DISK_ONLY, 'disk'],
    // Not on disk: the package in every mode.
    ['scripts/counter.js', undefined, 'package', PACKAGE_TIME],
    ['scripts/counter.js', 'AFS', 'package', PACKAGE_TIME],
];
for (var i = 0; i < sources.length; i++) {
    var s = sources[i], what = 'load(' + s[0] + ', ' + s[1] + ')';
    var file = checkNoThrow(function () { return load(s[0], s[1]); }, what);
    if (!file) continue;
    var content = s[2] == 'package' ? pkg.extract(s[0]) : s[2];
    check(content.length > 0, what + ': expected content is not empty');
    checkEq(file.content, content, what + ' content');
    checkEq(file.time, s[3] == 'disk' ? File.status(s[0]).time : s[3], what + ' time');
}

// Nothing to load: not anywhere, an empty entry with nothing on disk, an
// empty file on disk.
var unloadable = [
    ['scripts/missing.js', undefined],
    ['scripts/missing.js', 'AFS'],
    ['scripts/empty.js', undefined],
    ['scripts/empty.js', 'AFS'],
    ['scripts/empty_disk.js', undefined],
    ['scripts/empty_disk.js', 'AFS'],
];
for (var i = 0; i < unloadable.length; i++) {
    var u = unloadable[i];
    var e = checkThrows(function () { load(u[0], u[1]); }, "Unable to load '" + u[0] + "'",
                        'load(' + u[0] + ', ' + u[1] + ')');
    check(e instanceof Error, 'load(' + u[0] + ') throws an Error');
}

// ---- include: once per name ------------------------------------------------------------

include('scripts/counter.js');
include('scripts/counter.js');
include('scripts/counter.js', 'AFS');
checkEq(counterRuns, 1, 'include evaluates a name once, in any mode');

// The name is marked before the file is evaluated: a file that fails is
// not tried again.
var e = checkThrows(function () { include('scripts/fails.js'); }, 'fails on purpose',
                    'include passes on the included file\'s exception');
checkEq(e && [e.fileName, e.lineNumber], ['scripts/fails.js', 3], 'the included file is evaluated under its name');
checkNoThrow(function () { include('scripts/fails.js'); }, 'a failed include is not retried');
checkEq(failsRuns, 1, 'the failing file ran once');

checkThrows(function () { include('scripts/syntax.js'); }, SyntaxError, 'include of a syntax error');
checkNoThrow(function () { include('scripts/syntax.js'); }, 'include of a syntax error is not retried');
checkEq(typeof syntaxRuns, 'undefined', 'nothing of a file with a syntax error runs');

checkThrows(function () { include('scripts/nowhere.js'); }, "Unable to load 'scripts/nowhere.js'",
            'include of a missing file');
checkNoThrow(function () { include('scripts/nowhere.js'); }, 'include of a missing file is not retried');

// Disk before package for include too; the name stays marked.
include('scripts/shadow.js');
checkEq(shadowFrom, 'disk', 'include takes the file on disk');
include('scripts/shadow.js', 'AFS');
checkEq(shadowFrom, 'disk', 'include in AFS mode of an included name does nothing');

checkEq(Object.keys(include.list).sort(),
        ['scripts/autorun.js', 'scripts/check.js', 'scripts/counter.js', 'scripts/fails.js',
         'scripts/load_checks.js', 'scripts/nowhere.js', 'scripts/shadow.js', 'scripts/syntax.js'],
        'include.list holds every name included');
