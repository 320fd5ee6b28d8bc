// Socket: 2,000 connect/close cycles and 2,000 sockets left to the
// collector keep the process's memory and descriptors flat. After lib.js.

var echoPort = control({cmd: 'tcp_echo'}).port;
var N = 2000;

function cycle(closeIt) {
    var s = connected('tcp', echoPort);
    s.send('ping');
    recvUntil(s, 'ping');
    if (closeIt) s.close();
}

function measure(what, closeIt) {
    for (var i = 0; i < 200; i++) cycle(closeIt);  // warm-up: caches and pools settle
    System.gc();
    var before = control({cmd: 'proc_stats'});
    for (i = 0; i < N; i++) cycle(closeIt);
    System.gc();
    System.sleep(200);
    var after = control({cmd: 'proc_stats'});
    check('rss' in before && 'serverFds' in before, what + ': stats found ' + show(before));
    System.print(what + ': before ' + show(before) + ', after ' + show(after));
    check(after.fds - before.fds < 20, what + ': descriptors of the process stay flat');
    check(after.serverFds - before.serverFds < 20, what + ': descriptors of the wine server stay flat');
    check(after.rss - before.rss < 4096, what + ': memory stays flat (kB)');
}

measure('connect/close', true);
measure('dropped for the collector', false);

// TLS listeners left to the collector: each one's port is free again for
// the next (the system refuses a second listener on a port).
(function () {
    var port = control({cmd: 'free_port'}).port;
    checkNoThrow(function () {
        for (var i = 0; i < 50; i++) {
            var server = new Socket('ssl');
            server.cert = WORK_DIR + '\\cert.pem';
            server.key = WORK_DIR + '\\key.pem';
            server.bind('127.0.0.1', port);
        }
    }, 'the collector closes dropped listeners');
})();

done();
