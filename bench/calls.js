// Cost of a native call from script, and of a suspend/resume pair. Every
// loop is timed against the empty loop of the same count, rounds
// interleaved, so the loop's own cost drops out.
var N = 1000000, ROUNDS = 7;

function emptyFunction() {}
// [label, loop, iterations]
var loops = [
    ['empty loop', function (n) { for (var i = 0; i < n; i++) {} }, N],
    ['System.getPID()', function (n) { for (var i = 0; i < n; i++) System.getPID(); }, N],
    ['Bench.nop()', function (n) { for (var i = 0; i < n; i++) Bench.nop(); }, N],
    ['script function', function (n) { for (var i = 0; i < n; i++) emptyFunction(); }, N],
    ['System.sleep(0)', function (n) { for (var i = 0; i < n; i++) System.sleep(0); }, N / 20]
];

var times = loops.map(function () { return []; });
for (var r = 0; r < ROUNDS; r++)
    for (var k = 0; k < loops.length; k++) {
        var t0 = Bench.now();
        loops[k][1](loops[k][2]);
        times[k].push(Bench.now() - t0);
    }

System.print('Native calls: median of ' + ROUNDS + ' interleaved rounds');
var emptyNs = median(times[0]) * 1e6 / N;
System.print('  ' + pad('empty loop', 18) + pad(N + ' x', 11) + fixed(median(times[0])) + ' ms = ' +
             fixed(emptyNs) + ' ns/iteration');
var ns = {};
for (k = 1; k < loops.length; k++) {
    var ms = median(times[k]), n = loops[k][2], label = loops[k][0];
    ns[label] = ms * 1e6 / n - emptyNs;
    System.print('  ' + pad(label, 18) + pad(n + ' x', 11) + fixed(ms) + ' ms = ' + fixed(ns[label]) +
                 ' ns/call over the empty loop = ' + fixed(1e3 / ns[label], 2) + ' M calls/s');
}
System.print('  System.getPID() / script function call: x' +
             fixed(ns['System.getPID()'] / ns['script function'], 2));
System.print('  System.getPID() / Bench.nop(): x' + fixed(ns['System.getPID()'] / ns['Bench.nop()'], 2));

// The pairs run in a C loop inside one native call, so the call's own cost
// (a few hundred ns in all) drops out.
var pairs = [];
for (r = 0; r < ROUNDS; r++) pairs.push(Bench.suspendResume(N));
var pairNs = median(pairs) * 1e6 / N;
System.print('Suspend/resume: ' + N + ' suspendRequest+resumeRequest pairs in one native, median of ' + ROUNDS);
System.print('  ' + fixed(median(pairs)) + ' ms = ' + fixed(pairNs) + ' ns/pair = ' + fixed(1e3 / pairNs, 2) +
             ' M pairs/s = x' + fixed(pairNs / ns['Bench.nop()'], 2) + ' an empty native call');
System.print('  System.sleep(0) call / Bench.nop() call: x' + fixed(ns['System.sleep(0)'] / ns['Bench.nop()'], 1) +
             ' (a pair, Sleep(0) and the argument)');
