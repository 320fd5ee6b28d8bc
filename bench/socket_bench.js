// The Socket benchmark's kx4 side: the modes of socket_baseline.c, written
// as the agents write them. bench/socket_run.sh runs it with
//   SOCKET_BENCH   the mode: http, send, recv, tls-handshakes, tls-send, tls-recv, idle, idle-threads
//   SOCKET_PORT    the peer's (or, for http, our own) port
//   SOCKET_N       bytes, handshakes or connections
//   SOCKET_BENCH_MODULE   kx4bench_module.dll (Bench.now, Bench.memory)
// and reads one line: "<mode> <milliseconds> <count>".

System.loadModule('kx4net.dll');
System.loadModule(envp.SOCKET_BENCH_MODULE);
var MODE = envp.SOCKET_BENCH, PORT = +envp.SOCKET_PORT, N = +envp.SOCKET_N;
var RESPONSE = 'HTTP/1.1 200 OK\r\nContent-Length: 13\r\nContent-Type: text/plain\r\n\r\nHello, world!';
var CHUNK = 65536;

// The HTTP server: one thread accepts, one thread per client answers its
// requests (keep-alive) until the client goes.
function serveClient(c) {
    var pending = '';
    for (;;) {
        var part = c.recv();
        if (part === '') break;
        pending += part;
        var end;
        while ((end = pending.indexOf('\r\n\r\n')) >= 0) {
            c.send(RESPONSE);
            pending = pending.slice(end + 4);
        }
        if (pending.length >= 4000) break;
    }
    c.close();
}

function httpServer() {
    var server = new Socket('tcp');
    server.bind('127.0.0.1', PORT);
    System.print('listening');
    for (;;) {
        var c = server.accept();
        System.createThread(serveClient.bind(null, c));
    }
}

function chunkOfBytes() {
    var parts = [];
    for (var i = 0; i < CHUNK; i++) parts.push(String.fromCharCode(i & 255));
    return parts.join('');
}

function sendBytes(s, total) {
    var chunk = chunkOfBytes(), done = 0;
    while (done < total) {
        var piece = total - done < CHUNK ? chunk.slice(0, total - done) : chunk;
        var n = s.send(piece);
        if (n <= 0) break;
        done += n;
    }
    s.recv(1);
    return done;
}

function recvBytes(s) {
    var got = 0, d;
    while ((d = s.recv(CHUNK)) !== '') got += d.length;
    return got;
}

function timed(fn) {
    var t0 = Bench.now();
    var count = fn();
    System.print(MODE + ' ' + (Bench.now() - t0).toFixed(1) + ' ' + count);
}

function connected(type) {
    var s = new Socket(type);
    s.connect('127.0.0.1', PORT);
    return s;
}

function idle(withThreads) {
    var warm = connected('tcp');
    warm.close();
    System.gc();
    var before = Bench.memory().private;
    var held = [];
    for (var i = 0; i < N; i++) {
        var s = connected('tcp');
        held.push(s);
        if (withThreads) System.createThread(function (c) { c.recv(); }.bind(null, s));
    }
    System.sleep(500);
    System.gc();
    var after = Bench.memory().private;
    System.print(MODE + ' ' + ((after - before) * 1024 / N).toFixed(1) + ' ' + N);
}

switch (MODE) {
case 'http': httpServer(); break;
case 'send': timed(function () { var s = connected('tcp'), n = sendBytes(s, N); s.close(); return n; }); break;
case 'recv': timed(function () { var s = connected('tcp'), n = recvBytes(s); s.close(); return n; }); break;
case 'tls-send': timed(function () { var s = connected('ssl'), n = sendBytes(s, N); s.close(); return n; }); break;
case 'tls-recv': timed(function () { var s = connected('ssl'), n = recvBytes(s); s.close(); return n; }); break;
case 'tls-handshakes':
    timed(function () {
        for (var i = 0; i < N; i++) connected('ssl').close();
        return N;
    });
    break;
case 'idle': idle(false); break;
case 'idle-threads': idle(true); break;
default: System.print('unknown mode ' + MODE);
}
System.exit(0);
