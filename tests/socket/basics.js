// Socket: look-ups, argument checks, closed and foreign objects, throwing
// conversions. After lib.js.

// ---- Look-ups ------------------------------------------------------------------

(function () {
    var name = Socket.getHostName();
    check(typeof name == 'string' && name.length > 0, 'getHostName: ' + show(name));
    var local = Socket.getLocalAddress();
    check(local === undefined || /^\d+\.\d+\.\d+\.\d+$/.test(local), 'getLocalAddress: ' + show(local));

    var r = Socket.getHostInfos('127.0.0.1');
    checkEq(r.ip, '127.0.0.1', 'getHostInfos(127.0.0.1): ip');
    check(r.host === undefined || (typeof r.host == 'string' && r.host != '127.0.0.1'), 'and host its name: ' + show(r.host));
    r = Socket.getHostInfos('localhost');
    checkEq([r.host, r.ip], ['localhost', '127.0.0.1'], 'getHostInfos(localhost)');
    check(isReadOnlyValue(r, 'host') && isReadOnlyValue(r, 'ip'), 'read-only results');
    r = Socket.getHostInfos('no-such-host.invalid');
    checkEq([r.host, 'ip' in r], ['no-such-host.invalid', false], 'a name that does not resolve: host only');
    // Dotted-address test: digits and dots, at most three digits each, three dots.
    [['1.2.3.4.5', false], ['1234.1.1.1', false], ['1.2.3', false], ['a.b.c.d', false]].forEach(function (c) {
        var x = Socket.getHostInfos(c[0]);
        checkEq(x.host, c[0], c[0] + ' is looked up as a name');
    });
})();

// ---- Bad input and misuse -----------------------------------------------------

var F = 'Native function format error: ';
// [call, expected message]
var tooFew = [
    [function () { new Socket(); }, F + 'Socket(<type>)'],
    [function (s) { s.connect(); }, F + 'Socket.connect(<host>, <port>)'],
    [function (s) { s.connect('127.0.0.1'); }, F + 'Socket.connect(<host>, <port>)'],
    [function (s) { s.bind('*'); }, F + 'Socket.bind(<host>, <port>)'],
    [function (s) { s.setTimeout(); }, F + 'Socket.setTimeout(<timeout>)'],
    [function (s) { s.send(); }, F + 'Socket.send(<data>)'],
    [function (s) { s.sendTo('127.0.0.1', 1); }, F + 'Socket.sendTo(<host/ip>, <port>, <data>)'],
    [function (s) { s.recvFrom('*'); }, F + 'Socket.recvFrom(<host>, <port>)'],
    [function () { Socket.getHostInfos(); }, F + 'Socket.getHostInfos(<host>)'],
    [function () { Socket.createSSLCertificate(); }, F + 'Socket.createSSLCertificate(<certificat descriptor>)'],
    [function () { Socket.createSSLCertificate(undefined); }, 'Socket: certificat descriptor is undefined'],
    [function () { Socket.createSSLCertificate(5); }, F + 'Socket.createSSLCertificate(<certificat descriptor>)'],
];
tooFew.forEach(function (c) {
    var s = new Socket('udp');
    checkThrows(function () { c[0](s); }, c[1], 'too few arguments: ' + c[1]);
    checkEq(typeof s.peer, 'number', 'leaves the object open: ' + c[1]);
    s.close();
});

// [function name, arguments, message on a closed or foreign object]
var methods = [
    ['connect', ['127.0.0.1', 1], 'Socket.connect: Socket not initialized'],
    ['bind', ['*', 1], 'Socket.bind: Not initialized'],
    ['accept', [], 'Socket.accept: Socket not initialized'],
    ['setTimeout', [1], 'Socket.setTimeout: Socket not initialized'],
    ['send', ['x'], 'Socket.send: Socket not initialized'],
    ['recv', [], 'Socket.recv: Socket not initialized'],
    ['sendTo', ['127.0.0.1', 1, 'x'], 'Socket.sendTo: Socket not initialized'],
    ['recvFrom', ['*', 1], 'Socket.recvFrom: Socket not initialized'],
    ['close', [], 'Socket.close: Socket not initialized'],
];
System.loadModule('kx4com.dll');
var foreign = [['a closed Socket', function () { var s = new Socket('tcp'); s.close(); return s; }],
               ['a plain object', function () { return {}; }],
               ['the prototype', function () { return Socket.prototype; }],
               ['a Serial object', function () { return new Serial(); }],
               ['an object with Socket\'s prototype', function () { return Object.create(Socket.prototype); }]];
foreign.forEach(function (f) {
    methods.forEach(function (m) {
        checkThrows(function () { Socket.prototype[m[0]].apply(f[1](), m[1]); }, m[2], m[0] + ' on ' + f[0]);
    });
});
(function () {
    var s = new Socket('ssl');
    checkEq([s.send('x'), s.recv()], [-1, ''], 'an ssl socket that never connected: send -1, recv ""');
    s.close();
})();
checkThrows(function () { new Socket('TCP'); }, 'Socket: Unable to create socket', "new Socket('TCP')");
checkThrows(function () { new Socket('raw'); }, 'Socket: Unable to create socket', "new Socket('raw')");

// A conversion that throws: the call throws that, does nothing, and the
// socket stays as it was.
(function () {
    var echoPort = control({cmd: 'tcp_echo'}).port;
    var s = connected('tcp', echoPort);
    var cases = [
        ['send(data)', function () { s.send(thrower('T')); }],
        ['recv(maxSize)', function () { s.recv(thrower('T')); }],
        ['setTimeout(timeout)', function () { s.setTimeout(thrower('T')); }],
        ['sendTo(host)', function () { s.sendTo(thrower('T'), 1, 'x'); }],
        ['sendTo(port)', function () { s.sendTo('127.0.0.1', thrower('T'), 'x'); }],
        ['sendTo(data)', function () { s.sendTo('127.0.0.1', 1, thrower('T')); }],
        ['recvFrom(host)', function () { s.recvFrom(thrower('T'), 1); }],
        ['connect(host)', function () { s.connect(thrower('T'), 1); }],
        ['connect(port)', function () { s.connect('127.0.0.1', thrower('T')); }],
        ['bind(host)', function () { s.bind(thrower('T'), 1); }],
        ['getHostInfos(host)', function () { Socket.getHostInfos(thrower('T')); }],
    ];
    cases.forEach(function (c) {
        checkThrows(c[1], 'T', c[0] + ' throws the conversion\'s error');
        checkEq(typeof s.peer, 'number', c[0] + ': the socket is still open');
    });
    checkEq(s.timeout, undefined, 'the failed setTimeout defined nothing');
    s.send('alive');
    checkEq(recvUntil(s, 'alive'), 'alive', 'and still works');

    // A getter that closes the very socket: the call finds it closed.
    var t = new Socket('ssl');
    Object.defineProperty(t, 'minTLS', {get: function () { t.close(); return '1.2'; }});
    checkThrows(function () { t.connect('127.0.0.1', echoPort); }, 'Socket.connect: Socket not initialized',
                'a minTLS getter that closes the socket');
    var u = new Socket('ssl');
    Object.defineProperty(u, 'cert', {get: function () { u.close(); return 'x'; }});
    checkThrows(function () { u.bind('127.0.0.1', 1); }, 'Socket.bind: Not initialized', 'a cert getter that closes it');
    var d = {keyFile: WORK_DIR + '\\key.pem'};
    ['keyFile', 'outputFile', 'password', 'CN', 'O', 'OU', 'C', 'serial', 'notBefore', 'notAfter'].forEach(function (f) {
        var rec = {keyFile: d.keyFile, outputFile: WORK_DIR + '\\never.pem'};
        Object.defineProperty(rec, f, {get: function () { throw new Error('G'); }});
        checkThrows(function () { Socket.createSSLCertificate(rec); }, 'G', 'createSSLCertificate: a ' + f + ' getter throws');
    });
    var wrote = control({cmd: 'run', wait: true, argv: ['ls', 'never.pem']});
    check(wrote.rc != 0, 'no certificate file was written');
    s.close();
})();

// Two threads close one socket while a third waits in recv on it.
(function () {
    var s = connected('tcp', control({cmd: 'tcp_silent'}).port);
    var state = {got: null, closes: 0, errors: 0};
    System.createThread(function () { state.got = s.recv(); });
    System.sleep(100);
    for (var i = 0; i < 2; i++) {
        System.createThread(function () {
            try { s.close(); state.closes++; } catch (e) { state.errors++; }
        });
    }
    check(waitFor(function () { return state.got !== null && state.closes + state.errors == 2; }, 5000), 'all three return');
    checkEq([state.got, state.closes, state.errors], ['', 1, 1], 'one close wins, the other finds it closed');
})();

done();
