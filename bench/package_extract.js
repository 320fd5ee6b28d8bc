// Extract throughput: every entry of a package, read with File.extract the
// way the start-up script's load does, by groups (scripts: text; images:
// PNG data that does not compress). KX4_BENCH_PACKAGE names the packaged
// executable; package_baseline.c times the same streams in C.
var ROUNDS = Number(envp.KX4_BENCH_ROUNDS || 9);

var pkg = new File(envp.KX4_BENCH_PACKAGE, 'rb');
var t0 = Bench.now();
if (!pkg.initAFS()) throw new Error('no package in ' + envp.KX4_BENCH_PACKAGE);
var initMs = Bench.now() - t0;

var entries = [], bytes = [0, 0];
for (var name in pkg.afs.fsd) {
    var e = pkg.afs.fsd[name], group = name.indexOf('images/') == 0 ? 1 : 0;
    entries.push({name: name, size: e.size, group: group});
    bytes[group] += e.size;
}

var times = [[], [], []];
for (var r = -1; r < ROUNDS; r++) {  // round -1 warms the caches
    var ms = [0, 0];
    for (var i = 0; i < entries.length; i++) {
        t0 = Bench.now();
        var content = pkg.extract(entries[i].name);
        ms[entries[i].group] += Bench.now() - t0;
        if (content.length != entries[i].size)
            throw new Error(entries[i].name + ' extracted to ' + content.length + ' bytes, not ' + entries[i].size);
        content = null;
    }
    if (r < 0) continue;
    times[0].push(ms[0]);
    times[1].push(ms[1]);
    times[2].push(ms[0] + ms[1]);
}
pkg.close();

function right(text, width) {
    while (text.length < width) text = ' ' + text;
    return text;
}

var groups = ['text', 'binary', 'all'];
bytes.push(bytes[0] + bytes[1]);
System.print('  kx4 File.extract, median of ' + ROUNDS + ' rounds over ' + entries.length + ' entries' +
             ' (initAFS: ' + fixed(initMs, 2) + ' ms):');
for (var g = 0; g < 3; g++) {
    var m = median(times[g]), least = Math.min.apply(Math, times[g]);
    System.print('    ' + pad('File.extract', 28) + ' ' + pad(groups[g], 7) + ' ' + right(fixed(m, 2), 8) + ' ms ' +
                 right(fixed(bytes[g] / 1e3 / m), 8) + ' MB/s   (min ' + fixed(least, 2) + ' ms)');
    System.print('@ kx4.extract.' + groups[g] + ' ' + m);
    System.print('@ kx4.extract.' + groups[g] + '.min ' + least);
}
var mem = Bench.memory();
System.print('  memory of kx4.extract: peak working set ' + fixed(mem.peakWorkingSet) + ' MiB, private ' +
             fixed(mem['private']) + ' MiB');
System.print('@ kx4.extract.peak_ws ' + mem.peakWorkingSet);
