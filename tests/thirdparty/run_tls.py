#!/usr/bin/env python3
"""OpenSSL: tls_peer.exe under wine64 against Debian's openssl, natively on
127.0.0.1, with a certificate made for this run: TLS 1.3 and 1.2 with the
program as client (against `openssl s_server -rev`, which answers each line
reversed) and as server (for `openssl s_client`), plus handshakes that must
fail (version not offered, certificate for another name).

    run_tls.py <tls_peer.exe>"""
import os
import subprocess
import sys
import tempfile
import time

from common import Report, free_port, stop, windows_path, wine

OPENSSL = 'openssl'
FLAG = {'1.3': '-tls1_3', '1.2': '-tls1_2'}
NAME = {'1.3': 'TLSv1.3', '1.2': 'TLSv1.2'}

# (case, version s_server allows, version the program requires, host name
# the program expects, succeeds)
CLIENT_CASES = [
    ('client, TLS 1.3', '1.3', '1.3', 'localhost', True),
    ('client, TLS 1.2', '1.2', '1.2', 'localhost', True),
    ('client requiring 1.3 refuses a 1.2 server', '1.2', '1.3', 'localhost', False),
    ('client refuses a certificate for another name', '1.3', '1.3', 'other.example', False),
]
SERVER_VERSIONS = ['1.3', '1.2']


def make_certificate(work):
    cert, key = os.path.join(work, 'cert.pem'), os.path.join(work, 'key.pem')
    subprocess.run([OPENSSL, 'req', '-x509', '-newkey', 'ec', '-pkeyopt', 'ec_paramgen_curve:P-256', '-nodes',
                    '-keyout', key, '-out', cert, '-days', '2', '-subj', '/CN=localhost',
                    '-addext', 'subjectAltName=DNS:localhost'], check=True, capture_output=True)
    return cert, key


def start_s_server(work, version, cert, key):
    """s_server on a free port, answering one client; waits until it listens."""
    port = free_port()
    log_path = os.path.join(work, 's_server-%d.log' % port)
    log = open(log_path, 'w')
    proc = subprocess.Popen([OPENSSL, 's_server', '-accept', '127.0.0.1:%d' % port, '-cert', cert, '-key', key,
                             FLAG[version], '-rev', '-naccept', '1'],
                            stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT)
    end = time.monotonic() + 10
    while 'ACCEPT' not in open(log_path).read():
        if proc.poll() is not None or time.monotonic() > end:
            stop(proc)
            raise RuntimeError('s_server did not start: ' + open(log_path).read())
        time.sleep(0.02)
    return proc, port


def main():
    exe = sys.argv[1]
    report = Report('openssl')
    with tempfile.TemporaryDirectory(prefix='tls-', dir=os.getcwd()) as work:
        cert, key = make_certificate(work)

        for case, server_version, version, host, succeeds in CLIENT_CASES:
            server, port = start_s_server(work, server_version, cert, key)
            message = 'hello over %s from wine' % version
            try:
                p = wine(exe, 'client', port, version, windows_path(cert), host, message,
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
                out, err = p.communicate(timeout=90)
            finally:
                stop(server)
            if succeeds:
                want = ['handshake %s' % NAME[version], 'reply ' + message[::-1]]
                got = out.splitlines()
                ok = p.returncode == 0 and [got[0].rsplit(' ', 1)[0]] + got[1:] == want if got else False
            else:
                ok = p.returncode == 1 and out.startswith('failed: handshake')
            report.check(case, ok, 'exit %d, stdout %r, stderr %r' % (p.returncode, out, err))

        for version in SERVER_VERSIONS:
            message = 'hello over %s from s_client' % version
            p = wine(exe, 'server', version, windows_path(cert), windows_path(key), timeout=60,
                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            try:
                first = p.stdout.readline().split()
                if first[:1] != ['port']:
                    raise RuntimeError('no port from tls_peer: %r %r' % (first, p.stderr.read()))
                client = subprocess.run(
                    [OPENSSL, 's_client', '-connect', '127.0.0.1:' + first[1], FLAG[version], '-CAfile', cert,
                     '-verify_return_error', '-verify_hostname', 'localhost', '-brief', '-ign_eof'],
                    input=message + '\n', capture_output=True, text=True, timeout=60)
                out, err = p.communicate(timeout=60)
            finally:
                stop(p)
            ok = (p.returncode == 0 and client.returncode == 0 and ('echo: ' + message) in client.stdout.splitlines()
                  and 'Protocol version: ' + NAME[version] in client.stderr and 'Verification: OK' in client.stderr
                  and out.startswith('handshake ' + NAME[version]))
            report.check('server, TLS %s, for s_client' % version, ok,
                         'exit %s; s_client exit %d, stdout %r, stderr %r; tls_peer stdout %r, stderr %r' % (
                             p.returncode, client.returncode, client.stdout, client.stderr, out, err))
    return report.finish()


if __name__ == '__main__':
    sys.exit(main())
