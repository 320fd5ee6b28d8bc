// Script threads on the one shared global object, fairness between busy
// threads, and the System mutexes (exclusion, time-outs, recursion,
// abandonment).
//
// Thread texts keep their variables inside a function: top-level vars of a
// thread's text are globals shared with every other thread.

function thread(body) {
    var id = System.createThread('(function () {' + body + '})()');
    check(typeof id == 'number' && id > 0, 'createThread gives a thread id');
    return id;
}

// ---- Threads share the global object ----------------------------------------------

// The threads wait for the main thread's go, so all four are alive together
// (the id of an ended thread may be handed out again).
shared = {input: [1, 2, 3, 4], results: [], finished: [], go: false};
var ids = [];
for (var t = 0; t < 4; t++) {
    ids.push(thread(
        'while (!shared.go) System.sleep(1);' +
        'var sum = 0;' +
        'shared.input.forEach(function (v) { sum += v; });' +
        'shared.results[' + t + '] = {thread: ' + t + ', sum: sum};' +
        'shared.finished[' + t + '] = true;'));
}
checkEq(ids.filter(function (id, i) { return ids.indexOf(id) != i; }), [], 'thread ids are distinct');
shared.go = true;
check(waitFor(function () { return [0, 1, 2, 3].every(function (i) { return shared.finished[i]; }); }),
      'four threads ran');
checkEq(shared.results, [{thread: 0, sum: 10}, {thread: 1, sum: 10}, {thread: 2, sum: 10}, {thread: 3, sum: 10}],
        'each thread read the object the main thread made and wrote its own result into it');

// The thread's text is 8-bit: characters up to 255 arrive as they are, others
// keep their low byte.
threadText = undefined;
thread("threadText = ['\u00e9\u00ff', '\u20ac'];");
check(waitFor(function () { return threadText !== undefined; }), 'the thread with high characters ran');
checkEq(threadText, ['\u00e9\u00ff', '\u00ac'], 'the thread text crossed as 8-bit text');

// ---- A function runs as it is --------------------------------------------------------

// The function itself is called on the new thread, closures and all (its
// text would only declare a function, and the engine keeps none anyway).
// Anything else is converted to program text, as before.
(function () {
    var local = {calls: 0};
    functionThread = {};
    var cases = [
        ['a closure', function () { local.calls++; functionThread.closure = local; }, 'closure', local],
        ['a bound function', function (v) { functionThread.bound = v; }.bind(null, 'bound value'), 'bound',
         'bound value'],
        ['a function with properties', (function () {
            var f = function () { functionThread.own = f.tag; };
            f.tag = 'own property';
            return f;
        })(), 'own', 'own property'],
        ['an object with a toString', {toString: function () { return 'functionThread.text = "as text"'; }}, 'text',
         'as text'],
        ['an array', ['functionThread.array = "array text"'], 'array', 'array text'],
    ];
    cases.forEach(function (c) {
        var id = System.createThread(c[1]);
        check(typeof id == 'number' && id > 0, 'createThread of ' + c[0] + ' gives a thread id');
        check(waitFor(function () { return c[2] in functionThread; }), 'the thread of ' + c[0] + ' ran');
        check(functionThread[c[2]] === c[3], 'the thread of ' + c[0] + ' ran it as it is');
    });
    checkEq(local.calls, 1, 'the closure ran once');
    // Nothing stays pinned once the threads have taken their functions.
    checkEq(Object.keys(__kx4ThreadFunctions), [], 'no function is left pinned');
    checkEq(Object.keys(this).indexOf('__kx4ThreadFunctions'), -1, 'the pins are no enumerable global');
})();

// A function that throws ends its thread; the next one runs.
System.createThread(function () { throw new Error('thrown on a thread'); });
afterThrow = false;
System.createThread(function () { afterThrow = true; });
check(waitFor(function () { return afterThrow; }), 'a thread runs after one whose function threw');

// ---- Two busy threads interleave ------------------------------------------------------

// A spins until it sees B's flag; B counts, sets its flag, then spins until
// it sees A's. Whichever runs first can only finish if the heap is handed
// over while it spins. The 20 s bail-outs only keep a broken build from
// hanging.
fair = {};
thread(
    'var end = Date.now() + 20000;' +
    'while (!fair.flagB && Date.now() < end) {}' +
    'fair.sawB = !!fair.flagB;' +
    'fair.flagA = true;' +
    'fair.doneA = true;');
thread(
    'for (var n = 0; n < 100000; n++) {}' +
    'fair.flagB = true;' +
    'var end = Date.now() + 20000;' +
    'while (!fair.flagA && Date.now() < end) {}' +
    'fair.sawA = !!fair.flagA;' +
    'fair.doneB = true;');
check(waitFor(function () { return fair.doneA && fair.doneB; }, 45000), 'both busy threads finished');
checkEq([fair.sawB, fair.sawA], [true, true], 'each busy thread saw the flag only the other one sets');

// ---- Mutual exclusion -------------------------------------------------------------------

// Two threads each add 1 a thousand times, reading and writing the counter
// with some work in between, inside lockMutex/unlockMutex. Without the
// mutex the hand-overs between busy threads lose updates.
counter = {value: 0, done: 0};
counterMutex = System.createMutex();
var worker =
    'for (var k = 0; k < 1000; k++) {' +
    '  System.lockMutex(counterMutex);' +
    '  var seen = counter.value;' +
    '  for (var w = 0; w < 3000; w++) {}' +
    '  counter.value = seen + 1;' +
    '  System.unlockMutex(counterMutex);' +
    '}' +
    'System.lockMutex(counterMutex);' +
    'counter.done++;' +
    'System.unlockMutex(counterMutex);';
thread(worker);
thread(worker);
check(waitFor(function () { return counter.done == 2; }, 45000), 'both counting threads finished');
checkEq(counter.value, 2000, 'two threads incrementing 1000 times each under the mutex give 2000');
System.destroyMutex(counterMutex);

// ---- Time-outs, recursion, abandonment ----------------------------------------------------

// lockMutex(m, 0) on another thread, with the mutex's name as a global.
function probe(mutexName) {
    probeResult = undefined;
    thread('probeResult = System.lockMutex(' + mutexName + ', 0);' +
           'if (probeResult) System.unlockMutex(' + mutexName + ');');
    check(waitFor(function () { return probeResult !== undefined; }), 'the probing thread ran');
    return probeResult;
}

// Held by another thread: a zero time-out gives 0 at once.
held = System.createMutex();
holder = {locked: false, release: false, released: false};
thread(
    'holder.locked = System.lockMutex(held) == 1;' +
    'while (!holder.release) System.sleep(1);' +
    'System.unlockMutex(held);' +
    'holder.released = true;');
check(waitFor(function () { return holder.locked; }), 'the other thread holds the mutex');
checkEq(System.lockMutex(held, 0), 0, 'lockMutex with time-out 0 on a mutex another thread holds gives 0');
holder.release = true;
check(waitFor(function () { return holder.released; }), 'the other thread released the mutex');
checkEq(System.lockMutex(held, 0), 1, 'lockMutex with time-out 0 on a free mutex gives 1');
System.unlockMutex(held);
System.destroyMutex(held);

// Recursive: the owner locks again at once and must unlock as often.
recursive = System.createMutex();
checkEq([System.lockMutex(recursive), System.lockMutex(recursive)], [1, 1],
        'locking twice on one thread gives 1 twice');
checkEq(probe('recursive'), 0, 'another thread cannot take it');
System.unlockMutex(recursive);
checkEq(probe('recursive'), 0, 'after one unlock it is still held');
System.unlockMutex(recursive);
checkEq(probe('recursive'), 1, 'after the second unlock another thread takes it');
System.destroyMutex(recursive);

// Abandoned: the owner ends without unlocking. The wait returns when it
// ends; it reports 0, yet the caller owns the mutex.
abandoned = System.createMutex();
abandonLocked = false;
thread('abandonLocked = System.lockMutex(abandoned) == 1;');
check(waitFor(function () { return abandonLocked; }), 'the abandoning thread took the mutex');
checkEq(System.lockMutex(abandoned, 20000), 0, 'lockMutex on an abandoned mutex gives 0');
checkEq(probe('abandoned'), 0, 'the caller owns the abandoned mutex afterwards');
System.unlockMutex(abandoned);
checkEq(probe('abandoned'), 1, 'once the caller unlocks it, others take it');
System.destroyMutex(abandoned);

// ---- Only what createMutex made -------------------------------------------------------

// Numbers that name no live mutex: -1 and -2 (the process and thread
// pseudo-handles, on which a wait never ends), a destroyed mutex, numbers
// never given. lockMutex gives 0 at once (no time-out: a wait would hang),
// unlockMutex and destroyMutex do nothing; the live mutex is untouched.
live = System.createMutex();
var gone = System.createMutex();
System.destroyMutex(gone);
[-1, -2, 0, gone, live + 1000, live + 0.5, NaN, Infinity, 'x', null, {}].forEach(function (v) {
    checkEq(System.lockMutex(v), 0, 'lockMutex(' + show(v) + ') gives 0 at once');
    checkEq(System.unlockMutex(v), undefined, 'unlockMutex(' + show(v) + ') does nothing');
    checkEq(System.destroyMutex(v), undefined, 'destroyMutex(' + show(v) + ') does nothing');
});
checkEq(probe('live'), 1, 'the live mutex still works');
System.destroyMutex(live);

// A second destroyMutex of the same number closes nothing, not even a
// mutex made since (whose platform handle may reuse the first one's value).
var first = System.createMutex();
System.destroyMutex(first);
later = System.createMutex();
check(later !== first, 'a new mutex never gets the number of a destroyed one');
System.destroyMutex(first);
checkEq(probe('later'), 1, 'the mutex made since still works after the double destroy');
System.destroyMutex(later);

// destroyMutex while another thread waits in lockMutex: the waiter waits on
// a handle of its own, so its wait goes on until the holder ends. The
// holder cannot unlock a destroyed number, so it leaves the mutex
// abandoned, and the waiter gets 0 as for any abandoned mutex.
contested = System.createMutex();
contest = {held: false, release: false, waiting: false, result: undefined};
thread('contest.held = System.lockMutex(contested) == 1;' +
       'while (!contest.release) System.sleep(1);' +
       'System.unlockMutex(contested);');
check(waitFor(function () { return contest.held; }), 'the holder took the contested mutex');
thread('contest.waiting = true; contest.result = System.lockMutex(contested, 20000);');
check(waitFor(function () { return contest.waiting; }), 'the waiter is waiting');
System.sleep(100);
System.destroyMutex(contested);
System.sleep(300);
checkEq(contest.result, undefined, 'the wait goes on after destroyMutex');
contest.release = true;
check(waitFor(function () { return contest.result !== undefined; }), 'the waiter returned once the holder ended');
checkEq(contest.result, 0, 'and found the mutex abandoned');

done();
