// Socket over TLS: kx4 as client of Debian's openssl s_server, and as HTTPS
// server with its own certificate for curl and openssl s_client. After lib.js.

var SUBJECT = '/CN=localhost/O=kx4 test';

function sServer(args) { return control({cmd: 's_server', args: args}); }

// s_server -rev answers each line reversed.
function echoOverTls(s, text) {
    s.send(text + '\n');
    return recvUntil(s, '\n');
}

// ---- Client ------------------------------------------------------------------

// [case, s_server's version flags]
[['TLS 1.3', ['-tls1_3']], ['TLS 1.2', ['-tls1_2']]].forEach(function (c) {
    var server = sServer(c[1].concat(['-rev', '-naccept', '1']));
    var s = new Socket('ssl');
    checkNoThrow(function () { s.connect('127.0.0.1', server.port); }, c[0] + ': connect');
    checkEq(s.ssl, SUBJECT, c[0] + ': ssl is the server certificate\'s one-line subject');
    check(isReadOnlyValue(s, 'ssl'), c[0] + ': ssl is read-only');
    checkEq(echoOverTls(s, 'hello over ' + c[0]), c[0].split('').reverse().join('') + ' revo olleh\n', c[0] + ': data both ways');
    s.close();
    control({cmd: 'result', id: server.id});
});

// A server that offers only TLS 1.0: refused unless the socket opts in.
(function () {
    var old = ['-tls1', '-cipher', 'DEFAULT@SECLEVEL=0', '-rev'];
    var server = sServer(old.concat(['-naccept', '1']));
    var s = new Socket('ssl');
    checkThrows(function () { s.connect('127.0.0.1', server.port); }, /^Socket\.connect: SSL connect error '.+' on '127\.0\.0\.1'$/,
                'TLS 1.0 only: refused by default');
    checkEq(s.peer, undefined, 'and the object is closed');
    control({cmd: 'result', id: server.id});

    server = sServer(old.concat(['-naccept', '1']));
    s = new Socket('ssl');
    s.minTLS = '1.0';
    checkNoThrow(function () { s.connect('127.0.0.1', server.port); }, "minTLS '1.0': connects");
    checkEq(echoOverTls(s, 'abc'), 'cba\n', "minTLS '1.0': data both ways");
    s.close();
    control({cmd: 'result', id: server.id});

    s = new Socket('ssl');
    s.minTLS = '0.9';
    checkThrows(function () { s.connect('127.0.0.1', 1); }, "Socket.connect: Unknown minTLS '0.9' on '127.0.0.1'", 'an unknown minTLS');
})();

// A peer that is not TLS at all.
(function () {
    var plain = control({cmd: 'tcp_silent'}).port;
    var s = new Socket('ssl');
    s.setTimeout(1);
    checkThrows(function () { s.connect('127.0.0.1', plain); }, /^Socket\.connect: SSL connect error '.+' on '127\.0\.0\.1'$/,
                'a peer that never answers the handshake: fails at the timeout');
})();

// ---- Certificates ------------------------------------------------------------

var made = WORK_DIR + '\\made.pem';
var descriptor = {keyFile: WORK_DIR + '\\key.pem', outputFile: made, CN: 'localhost', O: 'kx4', OU: 'tests', C: 'DE',
                  serial: 4242, notBefore: -3600, notAfter: 86400};
var pem = Socket.createSSLCertificate(descriptor);
check(/^-----BEGIN CERTIFICATE-----\n[\s\S]+\n-----END CERTIFICATE-----\n$/.test(pem), 'createSSLCertificate gives PEM');
(function () {
    var madeAt = Date.now();
    var x = control({cmd: 'run', wait: true, argv: ['openssl', 'x509', '-in', 'made.pem', '-noout', '-text']});
    checkEq(x.rc, 0, 'openssl reads the file it wrote');
    check(/Subject: CN = localhost, O = kx4, OU = tests, C = DE\n/.test(x.out), 'subject: ' + show(x.out.match(/Subject:.*/)));
    check(/Issuer: CN = localhost, O = kx4, OU = tests, C = DE\n/.test(x.out), 'self-signed: issuer = subject');
    check(/Serial Number: 4242 \(0x1092\)/.test(x.out), 'serial: ' + show(x.out.match(/Serial Number:.*/)));
    check(/Signature Algorithm: sha256WithRSAEncryption/.test(x.out), 'signed with SHA-256');
    var d = control({cmd: 'run', wait: true, argv: ['openssl', 'x509', '-in', 'made.pem', '-noout', '-dates', '-dateopt', 'iso_8601']});
    var m = /notBefore=(\S+) (\S+)\nnotAfter=(\S+) (\S+)\n/.exec(d.out);
    check(m, 'dates: ' + show(d.out));
    if (m) {
        var from = Date.parse(m[1] + 'T' + m[2]), to = Date.parse(m[3] + 'T' + m[4]);
        check(Math.abs(from - (madeAt - 3600000)) < 120000, 'notBefore is now - 3600 s');
        checkEq(to - from, (86400 + 3600) * 1000, 'notAfter is now + 86400 s');
    }
    var same = control({cmd: 'run', wait: true, argv: ['openssl', 'x509', '-in', 'made.pem']});
    checkEq(same.out, pem, 'outputFile holds the returned text');

    var locked = Socket.createSSLCertificate({keyFile: WORK_DIR + '\\key-secret.pem', password: 'secret', CN: 'x'});
    check(/^-----BEGIN CERTIFICATE-----/.test(locked), 'a key under a pass phrase, with the pass phrase');
    checkThrows(function () { Socket.createSSLCertificate({keyFile: WORK_DIR + '\\key-secret.pem', password: 'wrong', CN: 'x'}); },
                "createSSLCertificate: Unable to read private key '" + WORK_DIR + "\\key-secret.pem'", 'with a wrong pass phrase');
    checkThrows(function () { Socket.createSSLCertificate({keyFile: WORK_DIR + '\\none.pem'}); },
                "createSSLCertificate: Unable to open file '" + WORK_DIR + "\\none.pem'", 'a key file that does not exist');
    checkThrows(function () { Socket.createSSLCertificate({keyFile: WORK_DIR + '\\cert.pem'}); },
                "createSSLCertificate: Unable to read private key '" + WORK_DIR + "\\cert.pem'", 'a file without a key');
    var plainDefaults = Socket.createSSLCertificate({keyFile: WORK_DIR + '\\key.pem', outputFile: WORK_DIR + '\\defaults.pem'});
    var dd = control({cmd: 'run', wait: true, argv: ['openssl', 'x509', '-in', 'defaults.pem', '-noout', '-dates', '-dateopt', 'iso_8601']});
    var n = /notBefore=(\S+) (\S+)\nnotAfter=(\S+) (\S+)\n/.exec(dd.out);
    check(n && Date.parse(n[3] + 'T' + n[4]) - Date.parse(n[1] + 'T' + n[2]) == 31449600000, 'default validity: 31449600 s');
    check(plainDefaults.length > 0, 'no fields: still a certificate');
})();

// ---- Server ------------------------------------------------------------------

(function () {
    var port = control({cmd: 'free_port'}).port;
    var server = new Socket('ssl');
    server.cert = made;
    server.key = WORK_DIR + '\\key.pem';
    server.bind('127.0.0.1', port);
    var state = {served: 0, failed: 0, stop: false};
    System.createThread(function () {
        while (!state.stop) {
            var c;
            try { c = server.accept(); } catch (e) { return; }
            System.createThread(function () {
                if (answerHttp(c, 'secure hello ' + c.type).indexOf('GET ') == 0) state.served++;
                else state.failed++;
            });
        }
    });
    var url = 'https://127.0.0.1:' + port + '/';
    function curl() {
        return control({cmd: 'run', wait: true, argv: ['curl', '-sk', '--max-time', '30', '--tlsv1.2', url]});
    }
    var r = curl();
    checkEq([r.rc, r.out], [0, 'secure hello ssl'], 'curl --tlsv1.2 fetches the page');
    r = control({cmd: 'run', wait: true, argv: ['curl', '-sk', '--max-time', '30', '--tlsv1.3', url]});
    checkEq([r.rc, r.out], [0, 'secure hello ssl'], 'curl --tlsv1.3 too');
    r = control({cmd: 'run', wait: true, input: 'GET / HTTP/1.0\r\n\r\n',
                 argv: ['openssl', 's_client', '-connect', '127.0.0.1:' + port, '-tls1_2', '-quiet', '-ign_eof']});
    check(/\r\n\r\nsecure hello ssl$/.test(r.out), 'openssl s_client -tls1_2 fetches it: ' + show(r.out + r.err));
    r = control({cmd: 'run', wait: true, input: 'GET / HTTP/1.0\r\n\r\n',
                 argv: ['openssl', 's_client', '-connect', '127.0.0.1:' + port, '-tls1', '-cipher', 'DEFAULT@SECLEVEL=0', '-quiet']});
    check(r.rc != 0 && r.out.indexOf('secure hello') < 0, 's_client -tls1 is refused: ' + show(r.err));

    // Broken peers harm only their own connection.
    ['garbage', 'reset', 'half'].forEach(function (how) {
        var id = control({cmd: 'tcp_abuse', port: port, how: how}).id;
        var a = control({cmd: 'result', id: id});
        checkEq(a.rc, 0, how + ': the peer ran');
        check(a.out.indexOf('HTTP') < 0, how + ': gets no page');
        r = curl();
        checkEq([r.rc, r.out], [0, 'secure hello ssl'], 'after a ' + how + ' peer the server still serves');
    });
    check(waitFor(function () { return state.failed == 4; }, 10000), 'the four failed connections ended (' + state.failed + ')');
    checkEq(state.served, 6, 'the six good ones were served');
    state.stop = true;
    server.close();

    var nokey = new Socket('ssl');
    nokey.cert = WORK_DIR + '\\none.pem';
    nokey.key = WORK_DIR + '\\key.pem';
    checkThrows(function () { nokey.bind('127.0.0.1', port); },
                "Socket.bind: Unable to load SSL certificates '" + WORK_DIR + "\\none.pem' or key '" + WORK_DIR + "\\key.pem'",
                'bind with a certificate file that does not exist');
    checkEq(nokey.peer, undefined, 'closes the object');
})();

// A kx4 TLS server that opts in to TLS 1.0 serves an old client.
(function () {
    var port = control({cmd: 'free_port'}).port;
    var server = new Socket('ssl');
    server.cert = made;
    server.key = WORK_DIR + '\\key.pem';
    server.minTLS = '1.0';
    server.bind('127.0.0.1', port);
    var id = control({cmd: 'run', input: 'GET / HTTP/1.0\r\n\r\n',
                      argv: ['openssl', 's_client', '-connect', '127.0.0.1:' + port, '-tls1', '-cipher', 'DEFAULT@SECLEVEL=0', '-quiet', '-ign_eof']}).id;
    var c = server.accept();
    answerHttp(c, 'old hello');
    var r = control({cmd: 'result', id: id});
    check(/\r\n\r\nold hello$/.test(r.out), "minTLS '1.0' on a server: s_client -tls1 is served: " + show(r.out + r.err));
    server.close();
})();

// A kx4 client against a kx4 server, in one process.
(function () {
    var port = control({cmd: 'free_port'}).port;
    var server = new Socket('ssl');
    server.cert = made;
    server.key = WORK_DIR + '\\key.pem';
    server.bind('127.0.0.1', port);
    var big = allBytes(300000);
    var state = {};
    System.createThread(function () {
        var c = server.accept();
        var got = '';
        while (got.length < big.length) { var d = c.recv(100000); if (!d) break; got += d; }
        state.same = got === big;
        c.send(got);
        c.close();
    });
    var s = connected('ssl', port);
    checkEq(s.ssl, '/CN=localhost/O=kx4/OU=tests/C=DE', 'ssl of a kx4 server');
    checkEq(s.send(big), big.length, '300,000 bytes over TLS');
    var back = recvAll(s);
    check(back === big, 'come back unchanged (' + back.length + ')');
    check(waitFor(function () { return 'same' in state; }) && state.same, 'the server got them unchanged');
    s.close();
    server.close();
})();

done();
