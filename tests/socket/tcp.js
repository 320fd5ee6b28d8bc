// Socket over TCP against Python peers, curl, and itself. After lib.js.

// ---- The class -------------------------------------------------------------

checkEq(typeof Socket, 'function', 'Socket is defined');
checkEq(Socket.length, 0, 'constructor arity');
checkEq(['connect', 'bind', 'accept', 'setTimeout', 'send', 'recv', 'sendTo', 'recvFrom', 'close']
            .map(function (m) { return Socket.prototype[m].length; }),
        [3, 2, 0, 1, 1, 1, 3, 3, 0], 'method arities');
checkEq(['getHostName', 'getLocalAddress', 'getHostInfos', 'createSSLCertificate']
            .map(function (m) { return Socket[m].length; }), [0, 0, 1, 1], 'static arities');

(function () {
    ['tcp', 'ssl', 'udp'].forEach(function (type) {
        var s = new Socket(type);
        checkEq(s.type, type, type + ': type');
        check(typeof s.peer == 'number' && s.peer > 0, type + ': peer is the socket handle');
        check(isReadOnlyValue(s, 'type') && isReadOnlyValue(s, 'peer'), type + ': type and peer are read-only');
        s.close();
        checkEq([s.host, s.peer, s.port], [undefined, undefined, undefined], type + ': close clears host, peer, port');
    });
})();

// ---- Client ------------------------------------------------------------------

var echoPort = control({cmd: 'tcp_echo'}).port;

(function () {
    var s = connected('tcp', echoPort);
    checkEq([s.host, s.port, s.ip], ['127.0.0.1', echoPort, '127.0.0.1'], 'connect defines host, port, ip');
    check(['host', 'port', 'ip'].every(function (n) { return isReadOnlyValue(s, n); }), 'they are read-only');
    var data = allBytes(10000);
    checkEq(s.send(data), 10000, 'send gives the count sent');
    var first = s.recv();
    check(first.length > 0 && first.length <= 4000, 'recv() reads at most 4000 bytes (got ' + first.length + ')');
    var rest = first;
    while (rest.length < data.length) {
        var d = s.recv(100000);
        if (d === '') break;
        rest += d;
    }
    checkEq(rest === data, true, 'all 256 byte values come back in order');
    checkEq(s.recv(0), '', 'recv(0) gives ""');
    checkEq(s.recv(-5), '', 'recv of a negative size gives ""');
    checkThrows(function () { s.recv(0x7fffffff); }, 'Socket.recv: Unable to allocate buffer',
                'recv of a size no string can hold fails with the allocation message');
    checkEq(s.send(''), 0, 'send("") sends nothing');
    s.send('still open');
    checkEq(recvUntil(s, 'open'), 'still open', 'the socket works after the refused size');
    s.close();
})();

(function () {
    var s = new Socket('tcp');
    checkThrows(function () { s.connect('no-such-host.invalid', 80); },
                "Socket.connect: Can't get host by name on 'no-such-host.invalid'", 'connect to an unknown name');
    checkEq([s.host, s.peer, s.port], [undefined, undefined, undefined], 'a failed connect closes the object');
    checkThrows(function () { s.send('x'); }, 'Socket.send: Socket not initialized', 'and it stays closed');

    var refused = control({cmd: 'free_port'}).port;
    s = new Socket('tcp');
    checkThrows(function () { s.connect('127.0.0.1', refused); }, "Socket.connect: connect error on '127.0.0.1'",
                'connect to a port nobody listens on');
    checkEq(s.peer, undefined, 'closed after the refusal');
})();

// setTimeout: a recv without data gives "" after the timeout.
(function () {
    var s = connected('tcp', control({cmd: 'tcp_silent'}).port);
    s.setTimeout(1);
    checkEq(s.timeout, 1, 'timeout property');
    var t0 = Date.now();
    checkEq(s.recv(), '', 'recv with nothing to read gives "" at the timeout');
    var spent = Date.now() - t0;
    check(spent >= 900 && spent < 3000, 'after about a second (' + spent + ' ms)');
    s.setTimeout(1.9);
    t0 = Date.now();
    s.recv();
    spent = Date.now() - t0;
    check(spent >= 900 && spent < 1800, 'whole seconds: 1.9 waits one second (' + spent + ' ms)');
    s.close();
})();

// ---- Server ------------------------------------------------------------------

(function () {
    var port = control({cmd: 'free_port'}).port;
    var any = new Socket('tcp');
    any.bind('*', port);
    checkEq([any.ip, any.host, any.port], ['0.0.0.0', '*', port], "bind('*', p) listens on every address");
    any.close();
    var bad = new Socket('tcp');
    checkThrows(function () { bad.bind('192.0.2.1', port); }, "Socket.bind: Bind error on '192.0.2.1:" + port + "'",
                'bind to an address that is not ours');
    checkEq(bad.peer, undefined, 'closed after the bind error');
})();

// A thread-per-client HTTP server, as the agents write one, for curl and a
// Python client at once.
(function () {
    var port = control({cmd: 'free_port'}).port;
    var server = new Socket('tcp');
    server.bind('127.0.0.1', port);
    checkEq(server.ip, '127.0.0.1', 'bind defines ip');
    var state = {served: 0, heads: [], acceptError: null};
    System.createThread(function () {
        try {
            for (;;) {
                var c = server.accept();
                System.createThread(function () {
                    state.heads.push(answerHttp(c, 'hello ' + c.ip + ' ' + c.type));
                    state.served++;
                });
            }
        } catch (e) {
            state.acceptError = e.message;
        }
    });
    var python = control({cmd: 'tcp_client', port: port, data: 'GET /py HTTP/1.0\r\n\r\n'}).id;
    var curl = control({cmd: 'run', argv: ['curl', '-s', '--max-time', '30', 'http://127.0.0.1:' + port + '/curl']}).id;
    var c = control({cmd: 'result', id: curl});
    checkEq([c.rc, c.out], [0, 'hello 127.0.0.1 tcp'], 'curl gets the page');
    var p = control({cmd: 'result', id: python}).out;
    check(/^HTTP\/1.1 200 OK\r\n/.test(p) && /\r\n\r\nhello 127\.0\.0\.1 tcp$/.test(p), 'the Python client gets it: ' + show(p));
    check(waitFor(function () { return state.served == 2; }), 'both served');
    check(state.heads.some(function (h) { return h.indexOf('GET /curl HTTP/1.1\r\n') == 0; }), 'the server read curl\'s request');
    // A close from another thread ends the accept that waits.
    server.close();
    check(waitFor(function () { return state.acceptError !== null; }, 5000), 'close ends a waiting accept');
    checkEq(state.acceptError, 'Socket.accept: Accept error', 'which then fails');
})();

// A close from another thread ends a recv that waits without a timeout.
(function () {
    var s = connected('tcp', control({cmd: 'tcp_silent'}).port);
    var state = {got: null};
    System.createThread(function () { state.got = s.recv(); });
    System.sleep(200);
    var t0 = Date.now();
    s.close();
    check(waitFor(function () { return state.got !== null; }, 5000), 'the waiting recv returns');
    checkEq(state.got, '', 'with ""');
    check(Date.now() - t0 < 2000, 'soon');
})();

done();
