// Byte strings into the engine (newStringN) and out of it (valueToString,
// valueStringLength), against copies of the same bytes in the same native:
// into warm memory (plain memcpy), and into fresh memory (malloc+memcpy+free,
// the page faults included, as the engine's own copy pays them).
var MiB = 1024 * 1024, SIZE = 16 * MiB, ROUNDS = 5;

function row(label, bytes, ms, warm, fresh) {
    System.print('  ' + pad(label, 24) + pad(fixed(ms, 2), 9) + pad(fixed(bytes / 1e3 / ms, 0), 10) +
                 pad('x' + fixed(ms / warm, 2), 8) + 'x' + fixed(ms / fresh, 2));
}

['ascii', 'random'].forEach(function (kind) {
    // The heap holds 32 MiB in all, and a byte >= 0x80 takes two bytes in it:
    // step down until the string fits.
    var size = SIZE, s = null;
    for (; size > 0; size -= MiB) {
        Bench.fill(kind, size);
        try { s = Bench.toEngine(); break; } catch (e) {}
    }
    s = null;
    var laps = [[], [], [], [], [], [], []], ok = true;
    for (var r = 0; r < ROUNDS; r++) {
        s = Bench.toEngine();
        for (var i = 0; i < 3; i++) laps[i].push(Bench.lap(i));
        ok = Bench.fromEngine(s) && ok;
        for (i = 0; i < 4; i++) laps[3 + i].push(Bench.lap(i));
        s = null;  // the only reference: freed at once, before the next round
    }
    var m = laps.map(median), inWarm = m[1], inFresh = m[2], outWarm = m[5], outFresh = m[6];
    System.print('Byte string, ' + kind + ', ' + fixed(size / MiB, 0) + ' MiB' +
                 (size < SIZE ? ' (the largest that fits: 16 MiB does not)' : '') + ', median of ' + ROUNDS +
                 (ok ? '' : '   THE ROUND TRIP CHANGED THE BYTES'));
    System.print('  ' + pad('', 24) + pad('ms', 9) + pad('MB/s', 10) + pad('/memcpy', 8) + '/malloc+memcpy');
    row('memcpy, warm target', size, inWarm, inWarm, inFresh);
    row('malloc+memcpy+free', size, inFresh, inWarm, inFresh);
    row('in: newStringN', size, m[0], inWarm, inFresh);
    row('out: valueToString', size, m[3], outWarm, outFresh);
    row('out: valueStringLength', size, m[4], outWarm, outFresh);
    row('out: both', size, m[3] + m[4], outWarm, outFresh);
});
var mem = Bench.memory();
System.print('Process memory after the string benchmarks: peak working set ' + fixed(mem.peakWorkingSet) +
             ' MiB, private now ' + fixed(mem['private']) + ' MiB');
