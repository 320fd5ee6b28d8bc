#!/usr/bin/env python3
"""Runs a command beside real network peers on 127.0.0.1, and lets the
script under test drive them.

    run_socket.py [--timeout SECS] [--md-example FILE.md] -- COMMAND...

Before COMMAND starts, this makes a work folder with an RSA key
(key.pem), the same key under the pass phrase "secret" (key-secret.pem)
and a certificate for it (cert.pem, subject /CN=localhost/O=kx4 test), and
starts a control server. COMMAND gets in its environment:

    KX4_SOCKET_CONTROL   the control server's port on 127.0.0.1
    KX4_SOCKET_DIR       the work folder, as wine sees it (Z:\\...)
    SERVER_KEY           its key.pem, as wine sees it (for the docs example)
    EXAMPLE_PORT         a free port (for the docs example)

The script sends the control server one JSON request per connection, one
line, and reads one JSON line back (strings are bytes, one character per
byte, both ways). Requests ({"cmd": ...}):

    free_port                     {"port"}: a TCP and UDP port nobody uses
    run argv [input] [wait]       runs a native program (curl, openssl);
                                  wait: {"rc","out","err"}, else {"id"}
    result id                     waits for a run: {"rc","out","err"}
    s_server args                 openssl s_server with cert.pem/key.pem and
                                  args on a free port, once listening: {"port","id"}
    tcp_echo                      a Python TCP server echoing every byte: {"port"}
    tcp_silent                    a Python TCP server that accepts and says nothing: {"port"}
    tcp_client port data [shut]   a Python client in the background: connects,
                                  sends data (and shuts its sending side down
                                  when shut), reads to the end: {"id"}; its
                                  result's "out" is what it read
    tcp_abuse port how            a broken client, in the background: "garbage"
                                  (random bytes), "reset" (half a ClientHello,
                                  then a reset), "half" (half a record, then a
                                  close): {"id"}
    udp_echo                      a Python UDP peer answering each datagram
                                  with the same bytes: {"port"}
    udp_listen                    a Python UDP socket that keeps what it gets: {"port","id"}
    udp_received id               {"data": [datagrams so far]}
    proc_stats                    resident memory (kB) and open descriptors of
                                  the wine process that runs the script, and the
                                  descriptors of the prefix's wineserver

Everything started is stopped when COMMAND ends. The exit code is
COMMAND's. With --md-example, the first ```js block after "## Example" in
FILE.md replaces the argument @EXAMPLE@ in COMMAND."""
import argparse
import json
import os
import random
import re
import socket
import socketserver
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), 'thirdparty'))
from common import free_port, stop, windows_path  # noqa: E402

OPENSSL = 'openssl'


class Peers:
    def __init__(self, work):
        self.work = work
        self.lock = threading.Lock()
        self.runs = {}       # id -> (thread, result dict)
        self.procs = []
        self.sockets = []
        self.received = {}   # udp_listen id -> [bytes]
        self.next_id = 1
        self.script_port = None

    def new_id(self):
        with self.lock:
            i = self.next_id
            self.next_id += 1
            return i

    def background(self, fn):
        i = self.new_id()
        result = {}

        def body():
            try:
                result.update(fn())
            except Exception as e:  # reported to the script
                result.update(rc=-1, out='', err='%s: %s' % (type(e).__name__, e))
        t = threading.Thread(target=body, daemon=True)
        t.start()
        self.runs[i] = (t, result)
        return i

    def run(self, argv, data=None):
        p = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             cwd=self.work)
        self.procs.append(p)
        out, err = p.communicate(data.encode('latin-1') if data is not None else b'', timeout=120)
        return {'rc': p.returncode, 'out': out.decode('latin-1'), 'err': err.decode('latin-1')}

    def s_server(self, args):
        port = free_port()
        log_path = os.path.join(self.work, 's_server-%d.log' % port)
        log = open(log_path, 'w')
        proc = subprocess.Popen([OPENSSL, 's_server', '-accept', '127.0.0.1:%d' % port,
                                 '-cert', os.path.join(self.work, 'cert.pem'),
                                 '-key', os.path.join(self.work, 'key.pem')] + args,
                                stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT)
        self.procs.append(proc)
        end = time.monotonic() + 10
        while 'ACCEPT' not in open(log_path).read():
            if proc.poll() is not None or time.monotonic() > end:
                raise RuntimeError('s_server did not start: ' + open(log_path).read())
            time.sleep(0.02)

        def wait():
            try:
                proc.wait(120)
            except subprocess.TimeoutExpired:
                stop(proc)
            return {'rc': proc.returncode, 'out': open(log_path, encoding='latin-1').read(), 'err': ''}
        return {'port': port, 'id': self.background(wait)}

    def listener(self, kind, serve):
        s = socket.socket(socket.AF_INET, kind)
        s.bind(('127.0.0.1', 0))
        if kind == socket.SOCK_STREAM:
            s.listen(16)
        self.sockets.append(s)
        threading.Thread(target=serve, args=(s,), daemon=True).start()
        return s.getsockname()[1]

    def tcp_echo(self):
        def serve(s):
            while True:
                try:
                    c, _ = s.accept()
                except OSError:
                    return
                threading.Thread(target=echo, args=(c,), daemon=True).start()

        def echo(c):
            with c:
                try:
                    while True:
                        d = c.recv(65536)
                        if not d:
                            return
                        c.sendall(d)
                except OSError:
                    pass
        return {'port': self.listener(socket.SOCK_STREAM, serve)}

    def tcp_silent(self):
        held = []

        def serve(s):
            while True:
                try:
                    held.append(s.accept()[0])
                except OSError:
                    return
        return {'port': self.listener(socket.SOCK_STREAM, serve)}

    @staticmethod
    def connect(port):
        end = time.monotonic() + 20
        while True:
            try:
                return socket.create_connection(('127.0.0.1', port), timeout=60)
            except ConnectionRefusedError:
                if time.monotonic() > end:
                    raise
                time.sleep(0.05)

    def tcp_client(self, port, data, shut):
        def go():
            with self.connect(port) as c:
                c.sendall(data.encode('latin-1'))
                if shut:
                    c.shutdown(socket.SHUT_WR)
                got = b''
                while True:
                    d = c.recv(65536)
                    if not d:
                        break
                    got += d
            return {'rc': 0, 'out': got.decode('latin-1'), 'err': ''}
        return {'id': self.background(go)}

    def tcp_abuse(self, port, how):
        def go():
            c = self.connect(port)
            try:
                if how == 'garbage':
                    c.sendall(bytes(random.getrandbits(8) for _ in range(4096)))
                elif how == 'reset':
                    # A TLS record header announcing 512 bytes of ClientHello, and 20 of them.
                    c.sendall(b'\x16\x03\x01\x02\x00' + b'\x01' * 20)
                    time.sleep(0.2)
                    c.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b'\x01\x00\x00\x00\x00\x00\x00\x00')
                elif how == 'half':
                    c.sendall(b'\x16\x03\x01\x02\x00' + b'\x01' * 20)
                    time.sleep(0.2)
                got = b''
                if how == 'garbage':
                    c.settimeout(10)
                    try:
                        while True:
                            d = c.recv(65536)
                            if not d:
                                break
                            got += d
                    except OSError:
                        pass
            finally:
                c.close()
            return {'rc': 0, 'out': got.decode('latin-1'), 'err': ''}
        return {'id': self.background(go)}

    def udp_echo(self):
        def serve(s):
            while True:
                try:
                    d, addr = s.recvfrom(65535)
                    s.sendto(d, addr)
                except OSError:
                    return
        return {'port': self.listener(socket.SOCK_DGRAM, serve)}

    def udp_listen(self):
        i = self.new_id()
        got = self.received[i] = []

        def serve(s):
            while True:
                try:
                    got.append(s.recvfrom(65535)[0])
                except OSError:
                    return
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.bind(('', 0))  # every address, so that a broadcast can arrive too
        self.sockets.append(s)
        threading.Thread(target=serve, args=(s,), daemon=True).start()
        return {'port': s.getsockname()[1], 'id': i}

    def proc_stats(self):
        """The wine process whose environment carries this run's control port."""
        marker = ('KX4_SOCKET_CONTROL=%d' % self.script_port).encode()
        prefix = ('WINEPREFIX=' + os.path.join(os.environ.get('KX4_WINE_DIR', ''), 'prefix')).encode()
        stats = {}
        for pid in os.listdir('/proc'):
            if not pid.isdigit():
                continue
            try:
                env = open('/proc/%s/environ' % pid, 'rb').read().split(b'\0')
                name = open('/proc/%s/comm' % pid).read().strip()
                if marker in env and name.startswith('kx4test'):
                    status = open('/proc/%s/status' % pid).read()
                    stats['rss'] = int(re.search(r'VmRSS:\s+(\d+)', status).group(1))
                    stats['fds'] = len(os.listdir('/proc/%s/fd' % pid))
                elif name.startswith('wineserver') and prefix in env:
                    stats['serverFds'] = len(os.listdir('/proc/%s/fd' % pid))
            except (OSError, AttributeError):
                continue
        return stats

    def handle(self, req):
        cmd = req['cmd']
        if cmd == 'free_port':
            return {'port': free_port()}
        if cmd == 'run':
            if req.get('wait'):
                return self.run(req['argv'], req.get('input'))
            return {'id': self.background(lambda: self.run(req['argv'], req.get('input')))}
        if cmd == 'result':
            t, result = self.runs[req['id']]
            t.join(150)
            return result
        if cmd == 's_server':
            return self.s_server(req.get('args', []))
        if cmd == 'tcp_echo':
            return self.tcp_echo()
        if cmd == 'tcp_silent':
            return self.tcp_silent()
        if cmd == 'tcp_client':
            return self.tcp_client(req['port'], req.get('data', ''), req.get('shut', False))
        if cmd == 'tcp_abuse':
            return self.tcp_abuse(req['port'], req['how'])
        if cmd == 'udp_echo':
            return self.udp_echo()
        if cmd == 'udp_listen':
            return self.udp_listen()
        if cmd == 'udp_received':
            return {'data': [d.decode('latin-1') for d in self.received[req['id']]]}
        if cmd == 'proc_stats':
            return self.proc_stats()
        raise ValueError('unknown command %r' % cmd)

    def close(self):
        for s in self.sockets:
            s.close()
        for p in self.procs:
            stop(p)


def control_server(peers):
    class Handler(socketserver.StreamRequestHandler):
        def handle(self):
            line = self.rfile.readline().decode('latin-1')
            try:
                answer = peers.handle(json.loads(line))
            except Exception as e:
                answer = {'error': '%s: %s' % (type(e).__name__, e)}
            self.wfile.write((json.dumps(answer) + '\n').encode('ascii'))

    class Server(socketserver.ThreadingTCPServer):
        daemon_threads = True
        allow_reuse_address = True
    server = Server(('127.0.0.1', 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def make_keys(work):
    def run(*argv):
        subprocess.run(argv, check=True, capture_output=True, cwd=work)
    run(OPENSSL, 'genrsa', '-out', 'key.pem', '2048')
    run(OPENSSL, 'rsa', '-in', 'key.pem', '-aes128', '-passout', 'pass:secret', '-out', 'key-secret.pem')
    run(OPENSSL, 'req', '-x509', '-key', 'key.pem', '-out', 'cert.pem', '-days', '2', '-subj',
        '/CN=localhost/O=kx4 test')


def md_example(md_path, out_path):
    text = open(md_path, encoding='utf-8').read()
    m = re.search(r'^## Example\b.*?^```js\n(.*?)^```', text, re.S | re.M)
    if not m:
        raise RuntimeError('run_socket: no ```js block under "## Example" in ' + md_path)
    with open(out_path, 'w', encoding='latin-1') as f:
        f.write(m.group(1))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--timeout', type=int, default=300)
    parser.add_argument('--md-example')
    parser.add_argument('command', nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ['--'] else args.command
    with tempfile.TemporaryDirectory(prefix='socket-', dir=os.getcwd()) as work:
        make_keys(work)
        if args.md_example:
            example = os.path.join(work, 'example.js')
            md_example(args.md_example, example)
            command = [example if a == '@EXAMPLE@' else a for a in command]
        peers = Peers(work)
        server = control_server(peers)
        peers.script_port = server.server_address[1]
        env = dict(os.environ, KX4_SOCKET_CONTROL=str(peers.script_port), KX4_SOCKET_DIR=windows_path(work),
                   SERVER_KEY=windows_path(os.path.join(work, 'key.pem')), EXAMPLE_PORT=str(free_port()))
        try:
            proc = subprocess.Popen(command, env=env)
            try:
                rc = proc.wait(args.timeout)
            except subprocess.TimeoutExpired:
                stop(proc)
                print('run_socket: timed out after %d s' % args.timeout)
                rc = 1
        finally:
            server.shutdown()
            peers.close()
    return rc


if __name__ == '__main__':
    sys.exit(main())
