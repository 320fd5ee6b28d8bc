// File.read and File.write of 16 MiB: ASCII and random bytes, each timed
// from open to close (package_baseline.c does the same with fopen, fread,
// fwrite and fclose). KX4_BENCH_DIR holds ascii.bin and random.bin. The
// script heap holds 32 MiB and a byte >= 0x80 takes two bytes in it, so
// where 16 MiB does not fit, the largest size that does (in 1 MiB steps)
// is used and reported.
var ROUNDS = Number(envp.KX4_BENCH_ROUNDS || 7), MiB = 1024 * 1024, SIZE = 16 * MiB;
var dir = envp.KX4_BENCH_DIR + '\\';

function readAll(path, size) {
    var f = new File(path, 'rb');
    var s = f.read(size);
    f.close();
    return s;
}

function writeAll(path, s) {
    var f = new File(path, 'wb');
    var n = f.write(s);
    f.close();
    return n;
}

System.print('  kx4 File.read and File.write, median of ' + ROUNDS + ' rounds:');
['ascii', 'random'].forEach(function (kind) {
    var input = dir + kind + '.bin', output = dir + 'kx4_' + kind + '.bin', size = SIZE, s = null;
    for (; size > 0; size -= MiB) {
        try {
            s = readAll(input, size);
            if (writeAll(output, s) == size) break;
        } catch (e) {}
        s = null;
        System.gc();
    }
    // What was written reads back the same.
    var same = readAll(output, size) === s;
    s = null;
    System.gc();
    var reads = [], writes = [];
    for (var r = -1; r < ROUNDS; r++) {
        var t0 = Bench.now();
        s = readAll(input, size);
        var t1 = Bench.now();
        writeAll(output, s);
        var t2 = Bench.now();
        s = null;
        if (r >= 0) reads.push(t1 - t0), writes.push(t2 - t1);
    }
    File.remove(output);
    var rm = median(reads), wm = median(writes);
    System.print('    ' + pad(kind, 6) + ' ' + pad(fixed(size / MiB) + ' MiB', 10) + ' File.write ' +
                 pad(fixed(wm, 2), 7) + ' ms ' + pad(fixed(size / 1e3 / wm), 7) + ' MB/s   File.read ' +
                 pad(fixed(rm, 2), 7) + ' ms ' + fixed(size / 1e3 / rm) + ' MB/s' +
                 (size < SIZE ? '   (16 MiB does not fit the heap)' : '') + (same ? '' : '   WROTE DIFFERENT BYTES'));
    System.print('@ kx4.size.' + kind + ' ' + size);
    System.print('@ kx4.write.' + kind + ' ' + wm);
    System.print('@ kx4.read.' + kind + ' ' + rm);
    System.print('@ kx4.write.' + kind + '.min ' + Math.min.apply(Math, writes));
    System.print('@ kx4.read.' + kind + '.min ' + Math.min.apply(Math, reads));
});
var mem = Bench.memory();
System.print('  memory of kx4.io: peak working set ' + fixed(mem.peakWorkingSet) + ' MiB, private ' +
             fixed(mem['private']) + ' MiB');
System.print('@ kx4.io.peak_ws ' + mem.peakWorkingSet);
