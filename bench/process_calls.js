// System.exec with wait (of the trivial program) and System.enumProcesses,
// against the same Win32 work in a plain C program (process_baseline.c).
// Rounds alternate between the two; the figures are the median and the
// minimum over the rounds, per call. Under wine both costs are almost all
// wine's (process start, server round trips), so the ratios are close to 1
// and other load on the machine spreads them: compare the minimums.
var EXEC_N = 10, ENUM_N = 50, ROUNDS = 15;

var benchDir = envp.KX4_BENCH_MODULE.replace(/\\[^\\]*$/, '');
var trivial = benchDir + '\\kx4bench_trivial.exe';
var baseline = benchDir + '\\kx4bench_process_baseline.exe';
var result = benchDir + '\\process_baseline.txt';

// Total ms of n runs of the baseline in mode ('exec' or 'enum').
function baselineMs(mode, n) {
    File.remove(result);
    var command = '"' + baseline + '" ' + mode + ' ' + n + ' ' + (mode == 'exec' ? '"' + trivial + '"' : '-') +
        ' "' + result + '"';
    if (!System.exec(command, undefined, true)) throw new Error('cannot start ' + baseline);
    var f = new File(result, 'r');
    var ms = parseFloat(f.read());
    f.close();
    if (!(ms >= 0)) throw new Error('the baseline failed: ' + command);
    return ms;
}

var cases = [
    ['exec with wait', EXEC_N, function (n) {
        for (var i = 0; i < n; i++)
            if (!System.exec('"' + trivial + '"', undefined, true)) throw new Error('exec failed');
    }, 'exec'],
    ['enumProcesses', ENUM_N, function (n) {
        for (var i = 0; i < n; i++) System.enumProcesses();
    }, 'enum'],
];

var kx4 = cases.map(function () { return []; }), plain = cases.map(function () { return []; });
cases.forEach(function (c) { c[2](1); baselineMs(c[3], 1); });  // warm-up: first loads
for (var r = 0; r < ROUNDS; r++)
    cases.forEach(function (c, k) {
        var t0 = Bench.now();
        c[2](c[1]);
        kx4[k].push((Bench.now() - t0) / c[1]);
        plain[k].push(baselineMs(c[3], c[1]) / c[1]);
    });

function min(values) { return Math.min.apply(Math, values); }

System.print('Processes: ms per call over ' + ROUNDS + ' rounds, kx4 against plain C (' +
             System.enumProcesses().length + ' processes listed)');
System.print('  ' + pad('', 16) + pad('calls', 8) + pad('kx4 median', 12) + pad('C median', 10) + pad('ratio', 8) +
             pad('kx4 min', 10) + pad('C min', 9) + 'ratio');
cases.forEach(function (c, k) {
    var a = median(kx4[k]), b = median(plain[k]), am = min(kx4[k]), bm = min(plain[k]);
    System.print('  ' + pad(c[0], 16) + pad(c[1] + ' x', 8) + pad(fixed(a, 2), 12) + pad(fixed(b, 2), 10) +
                 pad('x' + fixed(a / b, 2), 8) + pad(fixed(am, 2), 10) + pad(fixed(bm, 2), 9) + 'x' + fixed(am / bm, 2));
});
