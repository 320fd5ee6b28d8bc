// Socket over UDP against Python peers. After lib.js.

var echoPort = control({cmd: 'udp_echo'}).port;

(function () {
    var s = new Socket('udp');
    // [case, datagram]: every size a UDP datagram over IPv4 can have, and all byte values.
    [['one byte', 'x'],
     ['all 256 byte values', allBytes(256)],
     ['1500 bytes', allBytes(1500)],
     ['65,507 bytes, the largest', allBytes(65507)]].forEach(function (c) {
        checkEq(s.sendTo('127.0.0.1', echoPort, c[1]), c[1].length, c[0] + ': sendTo gives the count');
        check(typeof s.peerPort == 'number' && s.peerPort > 0, c[0] + ': peerPort is the local port');
        var r = s.recvFrom('127.0.0.1', echoPort);
        checkEq([r.ip, r.port, r.data.length], ['127.0.0.1', echoPort, c[1].length], c[0] + ': recvFrom\'s sender and size');
        check(r.data === c[1], c[0] + ': the same bytes come back');
        check(isReadOnlyValue(r, 'data') && isReadOnlyValue(r, 'ip'), c[0] + ': result properties are read-only');
    });
    checkEq([s.host, s.port], ['127.0.0.1', echoPort], 'recvFrom defines host and port');
    checkEq(s.send('x'), 0, 'send on a udp socket sends nothing');
    checkEq(s.sendTo('127.0.0.1', echoPort, allBytes(65508)), -1, 'a datagram too large: -1, as the system says');
    s.close();
})();

// The host and port of recvFrom do not filter: a datagram from anyone comes.
(function () {
    var a = new Socket('udp');
    var port = control({cmd: 'free_port'}).port;
    a.bind('127.0.0.1', port);
    checkEq(a.ip, '127.0.0.1', 'bind of a udp socket defines ip');
    var b = new Socket('udp');
    b.sendTo('localhost', port, 'from b');
    var r = a.recvFrom('*', 0);
    checkEq([r.ip, r.port, r.data], ['127.0.0.1', b.peerPort, 'from b'], 'recvFrom("*") gets the datagram and its sender');
    a.setTimeout(1);
    var t0 = Date.now();
    r = a.recvFrom('*', 0);
    checkEq(r.data, '', 'recvFrom without a datagram gives "" at the timeout');
    check(Date.now() - t0 >= 900, 'after about a second');
    checkThrows(function () { a.recvFrom('no-such-host.invalid', 1); },
                "Socket.recvFrom: Can't get host by name on 'no-such-host.invalid'", 'recvFrom with an unknown name');
    checkEq(a.peer, undefined, 'closes the object');
    checkThrows(function () { b.sendTo('no-such-host.invalid', 1, 'x'); },
                "Socket.sendTo: Can't get host by name on 'no-such-host.invalid'", 'sendTo with an unknown name');
    checkEq(b.peer, undefined, 'closes the object too');
    var c = new Socket('udp');
    checkThrows(function () { c.sendTo(undefined, 1, 'x'); }, 'Socket.sendTo: host is not defined', 'sendTo without a host');
    checkEq(typeof c.peer, 'number', 'leaves the object open');
    c.close();
})();

// Broadcast: "*" sets SO_BROADCAST; without it the system refuses to send.
(function () {
    var listen = control({cmd: 'udp_listen'});
    var s = new Socket('udp');
    checkEq(s.sendTo('*', listen.port, 'to everyone'), 11, 'sendTo("*") sends a broadcast');
    s.close();
})();

done();
