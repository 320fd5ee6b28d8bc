#!/usr/bin/env python3
"""Runs a command with SNMP agents beside wine on 127.0.0.1.

    run_snmp.py [--md-example FILE.md] -- COMMAND...

Starts, each on a free port:

  - Debian's snmpd in the foreground with a private configuration (a read
    community and a write community), its state in a work directory,
    killed at the end;
  - two scripted agents (fake_agent.py) named "alpha" and "beta";
  - a bound UDP port that never answers.

COMMAND gets their addresses in its environment (KX4_SNMPD, KX4_SNMP_RO,
KX4_SNMP_RW, KX4_SNMP_DESCR, KX4_SNMP_FAKE, KX4_SNMP_FAKE2,
KX4_SNMP_SILENT; UPS_AGENT for the documentation's example) and, in KX4_SNMP_WALK, what `snmpwalk` reads from the
agent's system group, as JSON [[oid, value, isTimeTicks], ...] with the
values as the module gives them. Fails when Net-SNMP left a file in the
wine prefix. With --md-example, the first ```js block
after the "## Example" heading of FILE.md replaces the argument @EXAMPLE@.
The exit code is COMMAND's."""
import argparse
import json
import os
import random
import re
import socket
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), 'thirdparty'))
from common import free_port, stop, windows_path  # noqa: E402

RO, RW = 'kx4read', 'kx4write'
SYSTEM = '.1.3.6.1.2.1.1'


def wait_until(cond, secs, what):
    end = time.monotonic() + secs
    while not cond():
        if time.monotonic() > end:
            raise RuntimeError('run_snmp: timed out waiting for ' + what)
        time.sleep(0.05)


def start_snmpd(work, port, descr):
    conf = os.path.join(work, 'snmpd.conf')
    with open(conf, 'w') as f:
        f.write('agentAddress udp:127.0.0.1:%d\n' % port)
        f.write('rocommunity %s 127.0.0.1\nrwcommunity %s 127.0.0.1\n' % (RO, RW))
        # sysContact stays out of the file: configured, it could not be set.
        f.write('sysDescr %s\nsysName kx4-agent\nsysLocation test bench\n' % descr)
    log = os.path.join(work, 'snmpd.log')
    # -f: foreground, -C: this configuration only; no MIB files.
    proc = subprocess.Popen(['snmpd', '-f', '-C', '-c', conf, '-Lf', log], env=tool_env(work),
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        wait_until(lambda: proc.poll() is not None or
                   (os.path.exists(log) and 'NET-SNMP version' in open(log).read()), 10, 'snmpd')
    except RuntimeError:
        stop(proc)
        raise
    if proc.poll() is not None:
        raise RuntimeError('snmpd did not start: ' + open(log).read())
    return proc


def tool_env(work):
    """Net-SNMP's tools and agent keep their state in the work directory."""
    return dict(os.environ, SNMP_PERSISTENT_DIR=os.path.join(work, 'state'), MIBS='',
                SNMPCONFPATH=os.path.join(work, 'state'))


def start_fake(work, name):
    port_file = os.path.join(work, name + '.port')
    proc = subprocess.Popen([sys.executable, os.path.join(HERE, 'fake_agent.py'), '--port-file', port_file,
                             '--name', name], stdin=subprocess.DEVNULL)
    wait_until(lambda: os.path.exists(port_file) or proc.poll() is not None, 10, 'fake agent ' + name)
    if proc.poll() is not None:
        raise RuntimeError('fake agent %s did not start' % name)
    return proc, '127.0.0.1:%s' % open(port_file).read().strip()


def expected_walk(work, peer):
    """snmpwalk of the system group, values as the module gives them."""
    out = subprocess.run(['snmpwalk', '-v1', '-c', RO, '-On', '-Oe', peer, SYSTEM], env=tool_env(work),
                         check=True, stdout=subprocess.PIPE, text=True, timeout=30).stdout
    rows = []
    for line in out.splitlines():
        m = re.match(r'^(\S+) = (\w+): (.*)$', line)
        if not m:
            raise RuntimeError('run_snmp: unexpected snmpwalk line %r' % line)
        name, kind, value = m.groups()
        ticks = kind == 'Timeticks'
        if ticks:
            value = str(int(re.match(r'\((\d+)\)', value).group(1)) // 100)
        elif kind == 'STRING' and value.startswith('"'):
            value = value[1:-1]
        rows.append([name, value, ticks])
    return rows


def snmp_files():
    """Files and folders in the wine prefix that Net-SNMP would have made."""
    prefix = os.path.join(os.environ.get('KX4_WINE_DIR', os.path.join(os.getcwd(), 'wine')), 'prefix')
    found = set()
    for top, dirs, files in os.walk(prefix):
        found.update(os.path.join(top, n) for n in dirs + files if 'snmp' in n.lower())
    return found


def md_example(md_path, out_path):
    text = open(md_path, encoding='utf-8').read()
    m = re.search(r'^## Example\b.*?^```js\n(.*?)^```', text, re.S | re.M)
    if not m:
        raise RuntimeError('run_snmp: no ```js block under "## Example" in ' + md_path)
    with open(out_path, 'w', encoding='latin-1') as f:
        f.write(m.group(1))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--md-example')
    parser.add_argument('command', nargs=argparse.REMAINDER)
    opts = parser.parse_args()
    command = opts.command[1:] if opts.command[:1] == ['--'] else opts.command
    if not command:
        parser.error('no command')

    procs = []
    silent = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    with tempfile.TemporaryDirectory(prefix='snmp-', dir=os.getcwd()) as work:
        try:
            descr = 'kx4 test agent %08x' % random.getrandbits(32)
            port = free_port(socket.SOCK_DGRAM)
            procs.append(start_snmpd(work, port, descr))
            agent = '127.0.0.1:%d' % port
            fake, fake_peer = start_fake(work, 'alpha')
            procs.append(fake)
            fake2, fake2_peer = start_fake(work, 'beta')
            procs.append(fake2)
            # Bound, so no ICMP error comes back, but never read.
            silent.bind(('127.0.0.1', 0))
            env = dict(os.environ, KX4_SNMPD=agent, KX4_SNMP_RO=RO, KX4_SNMP_RW=RW, KX4_SNMP_DESCR=descr,
                       KX4_SNMP_FAKE=fake_peer, KX4_SNMP_FAKE2=fake2_peer, UPS_AGENT=fake_peer,
                       KX4_SNMP_SILENT='127.0.0.1:%d' % silent.getsockname()[1],
                       KX4_SNMP_WALK=json.dumps(expected_walk(work, agent)))
            if opts.md_example:
                script = os.path.join(work, 'example.js')
                md_example(opts.md_example, script)
                command = [script if a == '@EXAMPLE@' else a for a in command]
            before = snmp_files()
            rc = subprocess.run(command, env=env, stdin=subprocess.DEVNULL).returncode
            # The module keeps Net-SNMP from writing state or configuration.
            made = snmp_files() - before
            if made:
                print('run_snmp: FAIL Net-SNMP wrote into the wine prefix: ' + ' '.join(sorted(made)))
                return rc or 1
            return rc
        finally:
            for p in procs:
                stop(p)
            silent.close()


if __name__ == '__main__':
    sys.exit(main())
