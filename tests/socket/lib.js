// Helpers of the Socket tests; loaded after lib/check.js. run_socket.py
// runs the peers and answers control requests (see its docstring).

check(System.loadModule('kx4net.dll'), 'kx4net.dll loads');
var CONTROL_PORT = +envp.KX4_SOCKET_CONTROL;
var WORK_DIR = envp.KX4_SOCKET_DIR;  // key.pem, key-secret.pem, cert.pem

// One request to the control server; throws what it reports.
function control(request) {
    var c = new Socket('tcp');
    c.connect('127.0.0.1', CONTROL_PORT);
    c.send(JSON.stringify(request) + '\n');
    var answer = recvUntil(c, '\n');
    c.close();
    var result = JSON.parse(answer);
    if (result.error) throw new Error('control ' + request.cmd + ': ' + result.error);
    return result;
}

// Reads until `text` has arrived (or the peer closed): everything read.
function recvUntil(s, text) {
    var all = '', d;
    while (all.indexOf(text) < 0 && (d = s.recv(65536)) !== '') all += d;
    return all;
}

function recvAll(s) {
    var all = '', d;
    while ((d = s.recv(65536)) !== '') all += d;
    return all;
}

// A string of n bytes cycling through all 256 values.
function allBytes(n) {
    var parts = [];
    for (var i = 0; i < n; i++) parts.push(String.fromCharCode(i & 255));
    return parts.join('');
}

function connected(type, port) {
    var s = new Socket(type);
    s.connect('127.0.0.1', port);
    return s;
}

function isReadOnlyValue(obj, name) {
    var d = Object.getOwnPropertyDescriptor(obj, name);
    return !!d && d.enumerable && !d.writable && !d.get && !d.set;
}

// A minimal HTTP/1.0 exchange on an accepted socket: reads the request
// head, answers `body`, closes. What it read, or '' when the peer went.
function answerHttp(c, body) {
    var head = recvUntil(c, '\r\n\r\n');
    if (head.indexOf('\r\n\r\n') >= 0)
        c.send('HTTP/1.1 200 OK\r\nContent-Length: ' + body.length + '\r\nConnection: close\r\n\r\n' + body);
    c.close();
    return head;
}
