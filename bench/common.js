// Shared by the benchmark scripts: the bench module and small helpers.
if (!System.loadModule(envp.KX4_BENCH_MODULE)) throw new Error("bench module not loaded");

function median(values) {
    var a = values.slice().sort(function (x, y) { return x - y; });
    var m = a.length >> 1;
    return a.length % 2 ? a[m] : (a[m - 1] + a[m]) / 2;
}

function fixed(x, digits) { return x.toFixed(digits === undefined ? 1 : digits); }

function pad(text, width) {
    text = String(text);
    while (text.length < width) text += ' ';
    return text;
}

// Median ms of body(n) over rounds calls.
function timeOf(body, n, rounds) {
    var times = [];
    for (var r = 0; r < rounds; r++) {
        var t0 = Bench.now();
        body(n);
        times.push(Bench.now() - t0);
    }
    return median(times);
}
