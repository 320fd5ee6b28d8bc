// The System object from script: its function list, argument checks, what
// wrong kinds of arguments do, and the basic functions (evaluate, sleep,
// getSysName, getLocale, getPID, getCPULoad, toSource of errors).

var global = this;

// name, declared arity, arguments needed, usage text. A call with fewer
// arguments raises "Native function format error: <usage>", except where a
// row names another message.
var functions = [
    ['evaluate', 1, 2, 'System.evaluate(<script file name>, <script source>)'],
    ['openConsole', 1, 0, 'System.openConsole()'],
    ['print', 1, 1, 'System.print(<msg>)'],
    ['getchar', 0, 0, 'System.getchar()'],
    ['getInput', 0, 0, 'System.getInput()'],
    ['exec', 1, 1, 'System.exec(<command>, [directory], [wait], [silent], [useExecV])'],
    ['open', 1, 1, "System.open(<file>, [params], ['runas'])"],
    ['createThread', 1, 1, 'System.createThread(<function>)'],
    ['sleep', 1, 1, 'System.sleep(<msDelay>)'],
    ['createMutex', 0, 0, 'System.createMutex()'],
    ['destroyMutex', 1, 1, 'System.destroyMutex(<mutex>)'],
    ['lockMutex', 1, 1, 'System.lockMutex(<mutex>, [timeout])'],
    ['unlockMutex', 1, 1, 'System.unlockMutex(<mutex>)'],
    ['gc', 0, 0, 'System.gc()'],
    ['exit', 1, 0, 'System.exit([exitCode])'],
    ['loadModule', 1, 1, 'System.loadModule(<path>)'],
    ['getSysName', 1, 0, 'System.getSysName([value])'],
    ['getLocale', 1, 0, 'System.getLocale([value])'],
    ['getPID', 0, 0, 'System.getPID()'],
    ['getCPULoad', 0, 0, 'System.getCPULoad()'],
    ['getAdminRights', 0, 0, 'System.getAdminRights()'],
    ['shutdown', 1, 1, 'System.shutdown(<params>)'],
    ['getRegistry', 1, 1, 'System.getRegistry(<regRequest>)'],
    ['enumRegistry', 1, 1, 'System.enumRegistry(<regRequest>)'],
    // The two registry writers report a missing record like an undefined one.
    ['setRegistry', 1, 1, 'System.setRegistry(<regRequest>)', 'System: regRequest is undefined'],
    ['delRegistry', 1, 1, 'System.delRegistry(<regRequest>)', 'System: regRequest is undefined'],
    ['controlService', 2, 2, 'System.controlService(<command>, <serviceConfig>)'],
    ['createLink', 1, 1, 'System.createLink(<link>)'],
    ['enumProcesses', 0, 0, 'System.enumProcesses()'],
];

// ---- The object and its list ---------------------------------------------------

checkEq(Object.getOwnPropertyNames(System), functions.map(function (f) { return f[0]; }),
        'System has exactly the listed functions, in definition order');
var systemDescriptor = Object.getOwnPropertyDescriptor(global, 'System');
checkEq([systemDescriptor.enumerable, typeof System], [true, 'object'], 'System is an enumerable global object');
checkEq(Object.getPrototypeOf(System), Object.prototype, 'System is a plain object');
functions.forEach(function (f) {
    var d = Object.getOwnPropertyDescriptor(System, f[0]);
    checkEq([typeof d.value, d.writable, d.enumerable], ['function', true, false],
            'System.' + f[0] + ' is a writable, non-enumerable function');
    checkEq(System[f[0]].length, f[1], 'System.' + f[0] + '.length is its declared arity');
});
var savedPID = System.getPID;
System.getPID = function () { return 'wrapped'; };
checkEq(System.getPID(), 'wrapped', 'a script may replace a System function');
System.getPID = savedPID;

// ---- Too few arguments -----------------------------------------------------------

// Functions the tests must not run without arguments: openConsole takes
// standard output away from the test, exit ends it.
var notCalled = {openConsole: true, exit: true};
var padding = ['first', 'second'];

functions.forEach(function (f) {
    var name = f[0], needed = f[2];
    if (needed == 0) {
        if (notCalled[name]) return;
        // No mandatory argument: nothing is raised.
        try {
            System[name]();
            pass();
        } catch (e) {
            check(false, 'System.' + name + '() raises nothing (raised ' + show(e.message) + ')');
        }
        return;
    }
    var expected = f[4] || 'Native function format error: ' + f[3];
    for (var count = 0; count < needed; count++) {
        var args = padding.slice(0, count);
        var e = checkThrows(function () { System[name].apply(System, args); }, expected,
                            'System.' + name + ' with ' + count + ' argument(s)');
        if (e) check(e instanceof Error, 'System.' + name + ' raises an Error');
    }
});

// With the arguments they need, these run (no format error, nothing thrown).
var mutex = System.createMutex();
[
    ['evaluate', function () { return System.evaluate('args.js', '1'); }, 1],
    ['print', function () { return System.print('print with its one argument'); }, undefined],
    ['sleep', function () { return System.sleep(0); }, undefined],
    ['lockMutex', function () { return System.lockMutex(mutex); }, 1],
    ['unlockMutex', function () { return System.unlockMutex(mutex); }, undefined],
    ['destroyMutex', function () { return System.destroyMutex(mutex); }, undefined],
    ['getSysName', function () { return System.getSysName('Windows'); }, true],
    ['getLocale', function () { return System.getLocale('C'); }, 'C'],
].forEach(function (c) {
    checkEq(checkNoThrow(c[1], 'System.' + c[0] + ' with its arguments runs'), c[2],
            'System.' + c[0] + ' with its arguments gives its result');
});

// ---- Wrong kinds of arguments: a sound result or a clear error, never a crash ------

var sym = Symbol('s');
[
    ['System.sleep("x")', function () { return System.sleep('x'); }, undefined],
    ['System.sleep(NaN)', function () { return System.sleep(NaN); }, undefined],
    ['System.sleep(-0.5)', function () { return System.sleep(-0.5); }, undefined],
    ['System.sleep({})', function () { return System.sleep({}); }, undefined],
    ['System.sleep(null)', function () { return System.sleep(null); }, undefined],
    ['System.lockMutex({})', function () { return System.lockMutex({}); }, 0],
    ['System.lockMutex("x", 0)', function () { return System.lockMutex('x', 0); }, 0],
    ['System.lockMutex(null, "x")', function () { return System.lockMutex(null, 'x'); }, 0],
    ['System.unlockMutex(null)', function () { return System.unlockMutex(null); }, undefined],
    ['System.unlockMutex({})', function () { return System.unlockMutex({}); }, undefined],
    ['System.destroyMutex("x")', function () { return System.destroyMutex('x'); }, undefined],
    ['System.destroyMutex(undefined)', function () { return System.destroyMutex(undefined); }, undefined],
    ['System.getSysName(5)', function () { return System.getSysName(5); },
     System.getSysName().indexOf('5') >= 0],
    ['System.getSysName({})', function () { return System.getSysName({}); }, false],
    ['System.getSysName(null)', function () { return System.getSysName(null); }, false],
    ['System.getSysName("")', function () { return System.getSysName(''); }, true],
    ['System.getLocale(null)', function () { return System.getLocale(null); }, 'C'],
    ['System.getLocale({})', function () { return System.getLocale({}); }, 'C'],
    ['System.print(undefined)', function () { return System.print(undefined); }, undefined],
    ['System.print({})', function () { return System.print({}); }, undefined],
    ['System.evaluate("f", 42)', function () { return System.evaluate('f', 42); }, 42],
    ['System.evaluate(undefined, null)', function () { return System.evaluate(undefined, null); }, null],
    ['System.gc(1, 2, 3)', function () { return System.gc(1, 2, 3); }, undefined],
].forEach(function (c) {
    checkEq(checkNoThrow(c[1], c[0] + ' does not throw'), c[2], c[0] + ' gives a sound result');
});
var threadId = checkNoThrow(function () { return System.createThread(undefined); },
                            'System.createThread(undefined) does not throw');
check(typeof threadId == 'number' && threadId > 0,
      'System.createThread(undefined) starts a thread (it runs "undefined")');
var e = checkThrows(function () { System.evaluate({}, {}); }, SyntaxError,
                    'System.evaluate({}, {}) evaluates "[object Object]": a syntax error');
checkEq(e && e.fileName, '[object Object]', 'the syntax error names the converted file name');
// Values that cannot be converted: either a result or an Error, never a crash.
[
    ['System.sleep(Symbol())', function () { return System.sleep(sym); }],
    ['System.print(Symbol())', function () { return System.print(sym); }],
    ['System.lockMutex(Symbol(), 0)', function () { return System.lockMutex(sym, 0); }],
    ['System.getSysName(Symbol())', function () { return System.getSysName(sym); }],
    ['System.evaluate(Symbol(), "1")', function () { return System.evaluate(sym, '1'); }],
    ['System.print(a throwing toString)',
     function () { return System.print({toString: function () { throw new Error('no text'); }}); }],
].forEach(function (c) {
    try {
        c[1]();
        pass();
    } catch (x) {
        check(x instanceof Error, c[0] + ' throws an Error if anything');
    }
});

// ---- evaluate ------------------------------------------------------------------

checkEq(System.evaluate('sum.js', '1+1'), 2, 'evaluate of 1+1 gives 2');
checkEq(System.evaluate('statements.js', 'var evaluatedVar = 1; evaluatedVar + 1'), 2,
        'evaluate gives the completion value');
checkEq(evaluatedVar, 1, 'evaluated text defines globals');
checkEq(System.evaluate('empty.js', ''), undefined, 'evaluate of nothing gives undefined');
checkEq(System.evaluate('this.js', 'this') === global, true, 'evaluated text runs against the global object');
checkEq(function () { try { System.evaluate('throw.js', 'throw 5'); } catch (x) { return x; } }(), 5,
        'evaluate of throw 5 throws 5 to the caller');
e = checkThrows(function () { System.evaluate('lines.js', '1;\n2;\nnull.f();'); }, TypeError,
                'an error in evaluated text');
checkEq([e.fileName, e.lineNumber], ['lines.js', 3], 'the error names the evaluated file and line');
e = checkThrows(function () { System.evaluate('inner.js', '\nSystem.sleep();'); },
                'Native function format error: System.sleep(<msDelay>)', 'a format error inside evaluated text');
checkEq([e.fileName, e.lineNumber], ['inner.js', 2], 'the format error names the evaluated file and line');
checkEq(System.evaluate('outer.js', 'System.evaluate("inner.js", "6 * 7")'), 42, 'evaluate nests');
checkEq(System.evaluate('nul.js', '40 + 2\u0000 this is not script'), 42, 'the source ends at its first NUL');
e = checkThrows(function () { System.evaluate('f\u00e9\u00ff.js', 'null.f()'); }, TypeError,
                'an error in a file whose name has high bytes');
checkEq(e && e.fileName, 'f\u00e9\u00ff.js', 'the file name keeps its high bytes');
function recurse() { System.evaluate('recurse.js', 'recurse()'); }
checkThrows(recurse, RangeError, 'endless recursion through evaluate gives a catchable RangeError');
recursionOnThread = undefined;
System.createThread("(function () {" +
                    "  function recurse() { System.evaluate('recurse.js', 'recurse()'); }" +
                    "  try { recurse(); recursionOnThread = 'returned'; }" +
                    "  catch (e) { recursionOnThread = e.name; }" +
                    "})()");
check(waitFor(function () { return recursionOnThread !== undefined; }), 'the recursing thread finished');
checkEq(recursionOnThread, 'RangeError', 'so does endless recursion on a script thread (smaller stack)');
checkThrows(function () { System.evaluate('only a file name'); },
            'Native function format error: System.evaluate(<script file name>, <script source>)',
            'evaluate with only a file name raises the format error');

// ---- Facts about the system and the process ----------------------------------------

var sysName = System.getSysName();
check(/^Windows NT\/\d+\.\d\d\.\d\d$/.test(sysName), 'getSysName() is "Windows NT/<major>.<minor>.<sp>": ' + sysName);
[
    ['Windows', true], ['Linux', false], ['windows', false], ['Windows NT/', true], [sysName, true],
    [sysName + 'x', false],
].forEach(function (c) {
    checkEq(System.getSysName(c[0]), c[1], 'getSysName(' + show(c[0]) + ')');
});

var userLocale = System.getLocale();
check(typeof userLocale == 'string' && userLocale.length > 0, 'getLocale() selects the user locale: ' + userLocale);
checkEq(System.getLocale('C'), 'C', 'getLocale("C") switches back to C');
checkEq(System.getLocale('no such locale'), 'C', 'an unknown locale name changes nothing');
checkEq(System.getLocale('C'), 'C', 'the locale is still C');

checkEq(System.sleep(0), undefined, 'sleep(0) returns');
var pid = System.getPID();
check(typeof pid == 'number' && pid > 0 && pid % 1 === 0, 'getPID() is a positive integer');
checkEq(System.getPID(), pid, 'getPID() is stable');
var load = System.getCPULoad();
check(load === undefined || (typeof load == 'number' && load >= 0 && load <= 100),
      'getCPULoad() is a percentage or undefined: ' + load);
var m = System.createMutex();
check(typeof m == 'number' && m !== 0, 'createMutex() gives a handle number');
System.destroyMutex(m);

// ---- toSource of errors ------------------------------------------------------------

[
    ['new Error("msg")', '(new Error("msg", "tosource.js", 1))'],
    ['\n\nnew TypeError("t")', '(new TypeError("t", "tosource.js", 3))'],
    ['new Error("quote \\" backslash \\\\ newline \\n")',
     '(new Error("quote \\" backslash \\\\ newline \\n", "tosource.js", 1))'],
    ['(function () { try { System.sleep(); } catch (e) { return e; } })()',
     '(new Error("Native function format error: System.sleep(<msDelay>)", "tosource.js", 1))'],
].forEach(function (c) {
    checkEq(System.evaluate('tosource.js', c[0]).toSource(), c[1], 'toSource of ' + c[0]);
});
checkEq(Object.keys(new Error('x')).indexOf('toSource'), -1, 'toSource does not enumerate');
var plainKeys = [];
for (var k in {a: 1}) plainKeys.push(k);
checkEq(plainKeys, ['a'], 'toSource does not show up in for-in');

done();
