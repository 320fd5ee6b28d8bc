#!/usr/bin/env python3
"""Net-SNMP: snmp_probe.exe under wine64 sends SNMPv1 GET and GETNEXT
requests to Debian's snmpd, run natively on a free port of 127.0.0.1 with
a private configuration, and times out where nobody answers. Afterwards no
Net-SNMP file may exist in the wine prefix: the library was told to read
and write none.

    run_snmp.py <snmp_probe.exe>"""
import os
import random
import socket
import subprocess
import sys
import tempfile
import time

from common import Report, free_port, stop, wine_run

SYS = '1.3.6.1.2.1.1'
SYS_DESCR, SYS_OBJECT_ID, SYS_NAME = SYS + '.1.0', SYS + '.2.0', SYS + '.5.0'
TIMEOUT_MS = 1000


def start_snmpd(work, port, descr, name):
    conf = os.path.join(work, 'snmpd.conf')
    with open(conf, 'w') as f:
        f.write('agentAddress udp:127.0.0.1:%d\n' % port)
        f.write('rocommunity kx4test 127.0.0.1\n')
        f.write('sysDescr %s\nsysName %s\nsysLocation test bench\nsysContact nobody\n' % (descr, name))
    log = os.path.join(work, 'snmpd.log')
    # -f: foreground, -C: this configuration only; its state goes to the
    # work directory, it loads no MIB files, and runs as the current user.
    env = dict(os.environ, SNMP_PERSISTENT_DIR=os.path.join(work, 'state'), MIBS='')
    proc = subprocess.Popen(['snmpd', '-f', '-C', '-c', conf, '-Lf', log], env=env,
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    end = time.monotonic() + 10
    while not (os.path.exists(log) and 'NET-SNMP version' in open(log).read()):
        if proc.poll() is not None or time.monotonic() > end:
            stop(proc)
            raise RuntimeError('snmpd did not start: ' + (open(log).read() if os.path.exists(log) else ''))
        time.sleep(0.05)
    return proc


def snmp_files(prefix):
    """Files and folders in the wine prefix that Net-SNMP would have made."""
    found = set()
    for top, dirs, files in os.walk(prefix):
        for n in dirs + files:
            if 'snmp' in n.lower() or 'kx4probe' in n.lower():
                found.add(os.path.join(top, n))
    return found


def main():
    exe = sys.argv[1]
    report = Report('netsnmp')
    token = '%08x' % random.getrandbits(32)
    descr, name = 'kx4 test agent ' + token, 'kx4-' + token
    hexs = lambda s: s.encode().hex()
    prefix = os.path.join(os.environ.get('KX4_WINE_DIR', os.path.join(os.getcwd(), 'wine')), 'prefix')
    before = snmp_files(prefix)

    with tempfile.TemporaryDirectory(prefix='snmp-', dir=os.getcwd()) as work:
        port = free_port(socket.SOCK_DGRAM)
        agent = start_snmpd(work, port, descr, name)
        # A UDP port that is bound (so no ICMP error comes back) but never read.
        silent = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        silent.bind(('127.0.0.1', 0))
        silent_peer = '127.0.0.1:%d' % silent.getsockname()[1]
        agent_peer = '127.0.0.1:%d' % port
        # (case, peer, community, request, OIDs, exit code, expected lines;
        #  a line ending in '*' matches any rest)
        cases = [
            ('GET of two variables', agent_peer, 'kx4test', 'get', [SYS_DESCR, SYS_NAME], 0,
             ['%s string %s' % (SYS_DESCR, hexs(descr)), '%s string %s' % (SYS_NAME, hexs(name))]),
            ('GETNEXT into a subtree', agent_peer, 'kx4test', 'next', [SYS], 0,
             ['%s string %s' % (SYS_DESCR, hexs(descr))]),
            ('GETNEXT to the next variable', agent_peer, 'kx4test', 'next', [SYS_DESCR], 0,
             ['%s oid 1.3.6.1.4.1.8072.*' % SYS_OBJECT_ID]),
            ('GET of a missing variable: noSuchName', agent_peer, 'kx4test', 'get', [SYS + '.99.0'], 0,
             ['error 2 1']),
            ('wrong community: no answer', agent_peer, 'not-this-one', 'get', [SYS_DESCR], 3, ['timeout *']),
            ('nobody answers: time-out', silent_peer, 'kx4test', 'get', [SYS_DESCR], 3, ['timeout *']),
        ]
        try:
            for case, peer, community, request, oids, want_rc, want in cases:
                t0 = time.monotonic()
                rc, out, err = wine_run(exe, 'udp:' + peer, community, TIMEOUT_MS, request, *oids)
                elapsed = time.monotonic() - t0
                lines = out.splitlines()
                ok = rc == want_rc and len(lines) == len(want) and all(
                    l.startswith(w[:-1]) if w.endswith('*') else l == w for l, w in zip(lines, want))
                if ok and want_rc == 3:
                    # It waited for the time-out, and not much longer.
                    waited = int(lines[0].split()[1])
                    ok = TIMEOUT_MS * 0.9 <= waited <= TIMEOUT_MS * 3 and elapsed < 20
                report.check(case, ok, 'exit %d, stdout %r, stderr %r' % (rc, out, err))
        finally:
            stop(agent)
            silent.close()
    created = snmp_files(prefix) - before
    report.check('no Net-SNMP file in the wine prefix', not created, ' '.join(sorted(created)))
    return report.finish()


if __name__ == '__main__':
    sys.exit(main())
