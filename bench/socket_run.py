#!/usr/bin/env python3
"""The Socket benchmark: kx4 (bench/socket_bench.js on kx4net.dll) against
plain C (socket_baseline.exe, Winsock and OpenSSL), both under wine, with
native peers on 127.0.0.1. Run by bench/socket_run.sh; see bench/README.md.

    socket_run.py <build-dir> <socket_load>

Each figure is taken for kx4 and for C alternately, ROUNDS times (env
SOCKET_ROUNDS, 3); the ratio is kx4/C of the medians (and of the best runs),
so above 1 means kx4 is faster where the figure is a rate."""
import os
import socket
import ssl
import statistics
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, 'tests', 'thirdparty'))
from common import free_port, stop, windows_path  # noqa: E402

WINE_RUN = os.path.join(ROOT, 'tools', 'wine-run.sh')
ROUNDS = int(os.environ.get('SOCKET_ROUNDS', '3'))
HTTP_SECONDS = int(os.environ.get('SOCKET_HTTP_SECONDS', '4'))
BULK = int(os.environ.get('SOCKET_BULK', str(100 << 20)))
HANDSHAKES = int(os.environ.get('SOCKET_HANDSHAKES', '200'))
IDLE = int(os.environ.get('SOCKET_IDLE', '20'))


class Peer:
    """A native server on a free port: `serve(conn)` runs per connection,
    on a thread; with `tls`, over TLS with the run's certificate."""

    def __init__(self, serve, tls=None):
        self.sock = socket.socket()
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind(('127.0.0.1', 0))
        self.sock.listen(64)
        self.port = self.sock.getsockname()[1]
        self.held = []
        threading.Thread(target=self.loop, args=(serve, tls), daemon=True).start()

    def loop(self, serve, tls):
        while True:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            threading.Thread(target=self.one, args=(conn, serve, tls), daemon=True).start()

    def one(self, conn, serve, tls):
        try:
            if tls:
                conn = tls.wrap_socket(conn, server_side=True)
            serve(self, conn)
        except (OSError, ssl.SSLError):
            pass


def sink(peer, conn):
    got = 0
    while got < BULK:
        d = conn.recv(1 << 20)
        if not d:
            return
        got += len(d)
    conn.sendall(b'!')
    conn.recv(1)
    conn.close()


BLOCK = bytes(range(256)) * 4096  # 1 MiB


def source(peer, conn):
    left = BULK
    while left > 0:
        n = min(left, len(BLOCK))
        conn.sendall(BLOCK[:n])
        left -= n
    try:
        if isinstance(conn, ssl.SSLSocket):
            conn = conn.unwrap()
    except (OSError, ssl.SSLError):
        pass
    conn.close()


def hold(peer, conn):
    peer.held.append(conn)


def wine(build, exe, args, env=None, timeout=600, **kw):
    return subprocess.Popen([WINE_RUN, '--timeout', str(timeout), exe] + [str(a) for a in args],
                            env=dict(os.environ, **(env or {})), stdin=subprocess.DEVNULL, text=True, **kw)


class Sides:
    def __init__(self, build):
        self.build = build
        self.kx4test = os.path.join(build, 'bin', 'kx4test.exe')
        self.baseline = os.path.join(build, 'bench', 'kx4bench_socket_baseline.exe')
        self.module = windows_path(os.path.join(build, 'bench', 'kx4bench_module.dll'))
        self.script = windows_path(os.path.join(ROOT, 'bench', 'socket_bench.js'))

    def start(self, side, mode, port, n=0, **kw):
        if side == 'kx4':
            env = {'SOCKET_BENCH': mode, 'SOCKET_PORT': str(port), 'SOCKET_N': str(n),
                   'SOCKET_BENCH_MODULE': self.module, 'KX4TEST_UNBUFFERED': '1'}
            return wine(self.build, self.kx4test, [self.script], env=env, **kw)
        return wine(self.build, self.baseline, [mode, port, n], **kw)

    def run(self, side, mode, port, n=0):
        p = self.start(side, mode, port, n, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        out, err = p.communicate(timeout=900)
        fields = out.split()
        if p.returncode != 0 or len(fields) < 3 or fields[0] != mode:
            raise RuntimeError('%s %s: exit %d, %r %r' % (side, mode, p.returncode, out, err))
        return float(fields[1]), int(fields[2])


def report(name, unit, kx4, c, higher_is_better):
    """kx4 and c: lists of per-round values."""
    def best(v):
        return max(v) if higher_is_better else min(v)
    mk, mc = statistics.median(kx4), statistics.median(c)
    if higher_is_better:
        ratio, ratio_best = mk / mc, best(kx4) / best(c)
    else:
        ratio, ratio_best = mc / mk, best(c) / best(kx4)
    print('%-40s kx4 %10.1f (best %10.1f)   C %10.1f (best %10.1f) %-8s x%.2f (best x%.2f)' % (
        name, mk, best(kx4), mc, best(c), unit, ratio, ratio_best))
    sys.stdout.flush()


def main():
    build, load = sys.argv[1], sys.argv[2]
    sides = Sides(build)
    with tempfile.TemporaryDirectory(prefix='socket-bench-') as work:
        cert, key = os.path.join(work, 'cert.pem'), os.path.join(work, 'key.pem')
        subprocess.run(['openssl', 'req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-keyout', key, '-out', cert,
                        '-days', '2', '-subj', '/CN=localhost'], check=True, capture_output=True)
        tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        tls.load_cert_chain(cert, key)

        print('== HTTP over loopback: requests per second, %d s per figure, native load generator' % HTTP_SECONDS)
        servers, ports = {}, {}
        try:
            for side in ('kx4', 'C'):
                ports[side] = free_port()
                servers[side] = sides.start(side, 'http', ports[side], stdout=subprocess.PIPE,
                                            stderr=subprocess.DEVNULL, timeout=3600)
                if servers[side].stdout.readline().strip() != 'listening':
                    raise RuntimeError(side + ' HTTP server did not start')
            for keepalive in (1, 0):
                for clients in (1, 8):
                    rates = {'kx4': [], 'C': []}
                    for _ in range(ROUNDS):
                        for side in ('kx4', 'C'):
                            out = subprocess.run([load, str(ports[side]), str(clients), str(HTTP_SECONDS),
                                                  str(keepalive)], capture_output=True, text=True).stdout.split()
                            rates[side].append(float(out[0]))
                    report('%s, %d client%s' % ('keep-alive' if keepalive else 'new connections', clients,
                                                 's' if clients > 1 else ''), 'req/s', rates['kx4'], rates['C'], True)
        finally:
            for p in servers.values():
                stop(p)

        print('== Bulk: %d MiB through one connection (ms)' % (BULK >> 20))
        peers = {'send': Peer(sink), 'recv': Peer(source), 'tls-send': Peer(sink, tls), 'tls-recv': Peer(source, tls)}
        for mode in ('send', 'recv', 'tls-send', 'tls-recv'):
            times = {'kx4': [], 'C': []}
            for _ in range(ROUNDS):
                for side in ('kx4', 'C'):
                    ms, count = sides.run(side, mode, peers[mode].port, BULK)
                    if count != BULK:
                        raise RuntimeError('%s %s moved %d bytes' % (side, mode, count))
                    times[side].append(ms)
            report('%s (%s)' % (mode, 'wine -> peer' if 'send' in mode else 'peer -> wine'), 'ms',
                   times['kx4'], times['C'], False)
            mbs = [BULK / 1048576 / (t / 1000) for t in times['kx4']]
            print('%-40s kx4 %.0f MiB/s (best %.0f)' % ('', statistics.median(mbs), max(mbs)))

        print('== TLS: %d full handshakes against openssl s_server (ms)' % HANDSHAKES)
        port = free_port()
        server = subprocess.Popen(['openssl', 's_server', '-accept', '127.0.0.1:%d' % port, '-cert', cert, '-key', key,
                                   '-no_ticket', '-quiet'], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        try:
            time.sleep(0.5)
            times = {'kx4': [], 'C': []}
            for _ in range(ROUNDS):
                for side in ('kx4', 'C'):
                    times[side].append(sides.run(side, 'tls-handshakes', port, HANDSHAKES)[0])
            report('handshakes', 'ms', times['kx4'], times['C'], False)
            print('%-40s kx4 %.0f handshakes/s, C %.0f handshakes/s' % (
                '', HANDSHAKES / statistics.median(times['kx4']) * 1000,
                HANDSHAKES / statistics.median(times['C']) * 1000))
        finally:
            stop(server)

        print('== Memory: %d idle connections to a native peer (KiB each, private memory)' % IDLE)
        holder = Peer(hold)
        for mode in ('idle', 'idle-threads'):
            values = [sides.run('kx4', mode, holder.port, IDLE)[0] for _ in range(ROUNDS)]
            print('%-40s kx4 %.1f KiB (least %.1f)' % (
                'open connection' if mode == 'idle' else 'connection with a thread waiting in recv',
                statistics.median(values), min(values)))
        values = [sides.run('C', 'idle', holder.port, IDLE)[0] for _ in range(ROUNDS)]
        print('%-40s C   %.1f KiB (least %.1f)' % ('connection with a thread waiting in recv',
                                                  statistics.median(values), min(values)))
    return 0


if __name__ == '__main__':
    sys.exit(main())
