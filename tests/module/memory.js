// The heap's 32 MiB limit: running out is a catchable Error, from script and
// from native code, and the heap works normally afterwards, every time.

check(System.loadModule('kx4testmod.dll'), 'the test module loads');

var MiB = 1 << 20;
var base = 'x';
while (base.length < MiB) base += base;

// Ways to run out; each keeps what it grows in its own locals, so it is all
// garbage once the function has thrown.
var growers = [
    ['1 MiB strings collected in an array', function () {
        var kept = [];
        for (;;) kept.push(base + kept.length);
    }],
    ['a string doubled until it no longer fits', function () {
        var s = 'ab';
        for (;;) s = s + s;
    }],
    ['an array of small objects', function () {
        var kept = [];
        for (;;) kept.push({i: kept.length, s: 'item ' + kept.length});
    }],
    ['an array of doubles', function () {
        var kept = [];
        for (;;) kept[kept.length] = kept.length + 0.5;
    }],
    ['a native string too big for the heap', function () {
        TestModule.repeatByte(0xe9, 20 * MiB);  // 40 MiB inside
    }],
    ['a native block too big for the heap', function () {
        TestModule.alloc(40 * MiB);
    }],
];

// Normal work after running out: objects, strings, JSON, a collection.
function heapStillWorks() {
    var objects = [];
    for (var i = 0; i < 10000; i++) objects.push({i: i, s: 'again ' + i});
    var text = JSON.stringify(objects.slice(0, 100));
    System.gc();
    var copy = JSON.parse(text);
    return objects.length == 10000 && copy[99].s == 'again 99' && objects[9999].i == 9999 &&
        (base + '!').length == MiB + 1;
}

for (var round = 0; round < 2; round++) {
    growers.forEach(function (g) {
        var what = g[0] + ' (round ' + round + ')';
        checkThrows(g[1], Error, what + ': running out throws a catchable Error');
        System.gc();
        check(heapStillWorks(), what + ': the heap works afterwards');
    });
}

// Big but within the limit: a native string of 8 MiB high bytes (16 MiB
// inside the engine) is made and read whole.
var big = TestModule.repeatByte(0xe9, 8 * MiB);
checkEq([big.length, big.charCodeAt(0), big.charCodeAt(big.length - 1)], [8 * MiB, 0xe9, 0xe9],
        'a native string of 8 MiB fits');
checkEq(TestModule.length(big), 8 * MiB, 'and is read back whole');
big = null;
System.gc();

// A script thread runs out of the same heap; both threads carry on.
threadOutcome = undefined;
System.createThread(
    "(function () {" +
    "  var kept = [];" +
    "  try { for (;;) kept.push({n: kept.length}); }" +
    "  catch (e) { threadOutcome = e instanceof Error ? 'caught' : 'odd'; }" +
    "})()");
check(waitFor(function () { return threadOutcome !== undefined; }), 'the script thread finished');
checkEq(threadOutcome, 'caught', 'a script thread catches running out too');
System.gc();
check(heapStillWorks(), 'the heap works after a thread ran out');

done();
