// Requests and how long values that natives make stay valid: across a forced
// collection inside the native; across a nested request on the context the
// native suspended (the pattern of a window procedure running inside an
// event loop), once and twice nested, with and without another script
// thread collecting garbage meanwhile; requests nested without suspending;
// and platform threads that enter the engine on their own.

check(System.loadModule('kx4testmod.dll'), 'the test module loads');
var T = TestModule;

// ---- A collection inside the native ------------------------------------------

for (var round = 0; round < 3; round++) {
    var kept = T.keepAcrossGc();
    checkEq(kept[3], [], 'values made before System.gc() inside a native (round ' + round + ')');
    checkEq(kept[0], 'kept \u00e9\u00ff across a collection', 'the string comes back');
    checkEq([kept[1].n, kept[1].inner.deep], [42, 'inner value'], 'the object comes back');
    checkEq(kept[2], 'plain ascii kept too', 'the ASCII string comes back');
}

// ---- A nested request on the suspended context -------------------------------

var beforePattern = /^made before suspending \u00e9 \d+$/;

function checkNested(r, what) {
    checkEq(r.problems, [], what + ': values made before suspending are intact');
    check(beforePattern.test(r.before), what + ': the string made before suspending comes back');
    check(r.object.marker === r.before, what + ': the object made before suspending comes back');
    checkEq(r.number, 0.125, what + ': the number made before suspending comes back');
}

// Script texts run by other threads or nested requests keep their variables
// in a function: top-level vars would be globals shared by every thread.
var nestedText =
    "(function () {" +
    "  var made = [];" +
    "  for (var i = 0; i < 2000; i++) made.push({i: i, s: 'nested ' + i});" +
    "  System.gc();" +
    "  System.sleep(0);" +
    "  nestedGlobal = made.length;" +
    "  return made[1999].s + '/' + typeof System.getPID();" +
    "})()";
var r = T.nestedRequest(nestedText);
checkNested(r, 'nested request');
checkEq([r.ok, r.result], [true, 'nested 1999/number'], 'the nested text ran and gave its value');
checkEq(nestedGlobal, 2000, 'the nested text ran against the shared global object');

// Twice nested: the nested text itself calls a native that suspends and
// nests again.
var inner = "System.gc(); 'inner ' + [1, 2, 3].length";
var outer =
    "var r2 = TestModule.nestedRequest(" + JSON.stringify(inner) + ");" +
    "r2.problems.length == 0 && r2.object.marker == r2.before && r2.ok" +
    "  ? 'outer saw ' + r2.result : 'inner went wrong: ' + r2.problems.join('; ')";
r = T.nestedRequest(outer);
checkNested(r, 'twice nested request');
checkEq(r.result, 'outer saw inner 3', 'the inner nested request worked inside the outer one');

// The nested request may name the context the module kept at load time (the
// main context here), as a module callback does.
r = T.nestedRequest(outer, 1);
checkNested(r, 'nested request on the kept context');
checkEq(r.result, 'outer saw inner 3', 'the nested request on the kept context ran');

// An uncaught error in the nested text goes to the error reporter (the
// callback's caller has nobody to throw to); the native carries on.
r = checkNoThrow(function () { return T.nestedRequest('throw new Error("nested failure")'); },
                 'an error inside a nested request does not leave it');
checkNested(r, 'failed nested request');
checkEq(r.ok, false, 'the failed nested evaluation reports failure');

// ---- A request nested without suspending --------------------------------------

checkEq(T.requestInside('(function () { var o = {a: 6}; System.gc(); return o.a * 7; })()'), '42',
        'a request nested inside a native runs script');
checkThrows(function () { T.requestInside('throw new RangeError("inside")'); }, RangeError,
            'an error in a request nested inside a native stays pending for that native');
checkEq(T.requestInside('"again"'), 'again', 'and the next one works');

// ---- Platform threads entering the engine ------------------------------------

[[0, 'the context the module kept'], [1, 'the null context (main context)']].forEach(function (c) {
    var what = 'a platform thread with ' + c[1];
    foreignSaw = undefined;
    checkEq(T.callFromNativeThread(
                '(function () { var a = []; for (var i = 0; i < 1000; i++) a.push({i: i}); System.gc();' +
                ' foreignSaw = a.length; return "ran " + typeof System.getPID(); })()', c[0]),
            'ran number', what + ' runs script');
    checkEq(foreignSaw, 1000, what + ' shares the global object');
    checkEq(T.callFromNativeThread('throw new Error("foreign failure")', c[0]), false,
            what + ': an uncaught error goes to the reporter, not to the waiting script');
});

// ---- The same while another script thread collects -----------------------------

bgRunning = false;
bgStop = false;
bgDone = false;
System.createThread(
    "(function () {" +
    "  bgRunning = true;" +
    "  while (!bgStop) {" +
    "    var junk = [];" +
    "    for (var i = 0; i < 300; i++) junk.push({s: 'bg ' + i, a: [i, i + 1]});" +
    "    System.gc();" +
    "  }" +
    "  bgDone = true;" +
    "})()");
check(waitFor(function () { return bgRunning; }), 'the collecting thread started');
var problems = [];
for (round = 0; round < 15; round++) {
    r = T.nestedRequest("(function () { System.sleep(1); var o = {v: 'x' + " + round + "};" +
                        " System.gc(); return o.v; })()");
    if (r.problems.length || r.result !== 'x' + round || !beforePattern.test(r.before)) {
        problems.push('nested ' + round + ': ' + r.problems.concat([r.result]).join('; '));
    }
    var held = T.holdSuspended(3);
    if (held.length) problems.push('held ' + round + ': ' + held.join('; '));
    kept = T.keepAcrossGc();
    if (kept[3].length) problems.push('kept ' + round + ': ' + kept[3].join('; '));
}
checkEq(problems, [], 'values survive while another thread collects');
bgStop = true;
check(waitFor(function () { return bgDone; }), 'the collecting thread ended');

// ---- The same on a script thread's own context ----------------------------------

onThread = undefined;
System.createThread(
    "(function () {" +
    "  var problems = [];" +
    "  [0, 1].forEach(function (useKept) {" +
    "    var r = TestModule.nestedRequest(" + JSON.stringify(outer) + ", useKept);" +
    "    problems = problems.concat(r.problems);" +
    "    if (r.result !== 'outer saw inner 3') problems.push('result ' + r.result + ' (kept ' + useKept + ')');" +
    "  });" +
    "  problems = problems.concat(TestModule.keepAcrossGc()[3], TestModule.holdSuspended(1));" +
    "  onThread = problems;" +
    "})()");
check(waitFor(function () { return onThread !== undefined; }), 'the script thread finished');
checkEq(onThread, [], 'nested requests (on its own and on the kept context) and kept values work on a script thread');

done();
