// The Serial benchmark, run by bench/serial_run.sh with the simulated UPS on
// KX4_SERIAL_PORT. KX4_SERIAL_BENCH selects the measurement:
//   roundtrip  KX4_SERIAL_N exchanges of the status query 'Q' and its
//              16-byte answer (write, then read of 16 bytes)
//   idle       one read of KX4_SERIAL_POLLS / 15 bytes that never come: the
//              CPU time of its 1 ms polling, against a System.sleep of the
//              same length
if (!System.loadModule('kx4com.dll')) throw new Error('kx4com.dll not loaded');
if (!System.loadModule(envp.KX4_SERIAL_CLOCK)) throw new Error('clock module not loaded');

var PORT = envp.KX4_SERIAL_PORT || 'COM5';
var port = new Serial();
if (!port.open({port: PORT})) throw new Error(PORT + ' does not open');

function exchange() {
    return port.write({content: 'Q'}) == 1 && port.read({count: 16}).charCodeAt(0) == 0xFF;
}

function cpuOver(body) {
    var c0 = SerialClock.cpu(), t0 = SerialClock.now();
    body();
    return {wall: SerialClock.now() - t0, cpu: SerialClock.cpu() - c0};
}

if (envp.KX4_SERIAL_BENCH == 'idle') {
    var polls = +(envp.KX4_SERIAL_POLLS || 3000), count = Math.floor(polls / 15);
    port.write({content: ''});  // drops anything queued
    var r = cpuOver(function () {
        if (port.read({count: count}) !== '') throw new Error('bytes arrived');
    });
    System.print('kx4 read({count: ' + count + '}) of an empty queue, ' + polls + ' polls: ' +
                 r.wall.toFixed(0) + ' ms wall, ' + r.cpu.toFixed(1) + ' ms CPU (' +
                 (100 * r.cpu / r.wall).toFixed(2) + '% of a core), ' +
                 (r.cpu * 1e3 / polls).toFixed(1) + ' us CPU per poll, ' +
                 (r.wall / polls).toFixed(2) + ' ms wall per poll');
    var s = cpuOver(function () { System.sleep(Math.round(r.wall)); });
    System.print('kx4 System.sleep(' + Math.round(r.wall) + ') for scale: ' + s.cpu.toFixed(1) + ' ms CPU');
} else {
    var n = +(envp.KX4_SERIAL_N || 200), us = [], failed = 0;
    exchange();  // warm-up
    for (var i = 0; i < n; i++) {
        var t0 = SerialClock.now();
        if (!exchange()) failed++;
        us.push((SerialClock.now() - t0) * 1e3);
    }
    us.sort(function (a, b) { return a - b; });
    var mean = us.reduce(function (a, b) { return a + b; }, 0) / n;
    System.print('kx4   ' + n + ' exchanges: median ' + us[n >> 1].toFixed(0) + ' us, mean ' + mean.toFixed(0) +
                 ' us, min ' + us[0].toFixed(0) + ' us, p90 ' + us[Math.floor(n * 9 / 10)].toFixed(0) + ' us' +
                 (failed ? ' (some failed)' : ''));
}
port.close();
System.exit(0);
