#!/usr/bin/env python3
"""Runs a command with a simulated UPS on the wine prefix's COM ports.

    run_serial.py [--timeout SECS] [--md-example FILE.md] -- COMMAND...

Sets up, in the build tree's wine session (KX4_WINE_DIR, as for
tools/wine-run.sh):

  - a pseudo-terminal pair joined by socat: end A for the host, end B for
    the device;
  - ups_sim.py on B;
  - the prefix's COM5 and COM1 mapped onto A (dosdevices/com5, com1);
  - an empty file whose Windows path is in KX4_SERIAL_LOCK_FILE, for the
    exclusive-open tests (wine does not keep two handles of a serial port
    from coexisting, but it does for a file).

Then it runs COMMAND (typically tools/wine-run.sh kx4test.exe ...) with its
output passed through, and undoes everything, whatever happened; the exit
code is COMMAND's. With --md-example, the first ```js block after the
"## Example" heading of FILE.md is written to a script whose path replaces
the argument @EXAMPLE@ in COMMAND.

Wine resolves dosdevices links when a program opens the port, so the links
take effect at once: no wineserver restart and no registry entry is needed.
They are made after the session has started, because wine's mount manager
rewrites com1 (to /dev/ttyS0) when the session starts. Runs in one build
tree are serialised with a lock file, since they share the links.
"""
import argparse
import fcntl
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
SESSION = os.path.join(ROOT, 'tools', 'wine-session.sh')
PORTS = ('com5', 'com1')


def wait_until(cond, secs, what):
    end = time.monotonic() + secs
    while not cond():
        if time.monotonic() > end:
            raise RuntimeError('run_serial: timed out waiting for ' + what)
        time.sleep(0.02)


def windows_path(path):
    return 'Z:' + path.replace('/', '\\')


def md_example(md_path, out_path):
    text = open(md_path, encoding='utf-8').read()
    m = re.search(r'^## Example\b.*?^```js\n(.*?)^```', text, re.S | re.M)
    if not m:
        raise RuntimeError('run_serial: no ```js block under "## Example" in ' + md_path)
    with open(out_path, 'w', encoding='latin-1') as f:
        f.write(m.group(1))


def stop(proc):
    if proc and proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(5)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait(5)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--timeout', type=int, default=300)
    parser.add_argument('--md-example')
    parser.add_argument('command', nargs=argparse.REMAINDER)
    opts = parser.parse_args()
    command = opts.command[1:] if opts.command[:1] == ['--'] else opts.command
    if not command:
        parser.error('no command')

    wine_dir = os.path.realpath(os.environ.get('KX4_WINE_DIR', os.path.join(os.getcwd(), 'wine')))
    os.environ['KX4_WINE_DIR'] = wine_dir
    os.makedirs(wine_dir, exist_ok=True)
    # Started before the links are made (it may rewrite com1); reused if running.
    started = subprocess.run([SESSION, 'start'], timeout=600, stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    if started.returncode:
        sys.stderr.write(started.stderr)
        return 125
    dosdevices = os.path.join(wine_dir, 'prefix', 'dosdevices')

    lock = open(os.path.join(wine_dir, 'serial.lock'), 'w')
    end = time.monotonic() + 600
    while True:
        try:
            fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
            break
        except BlockingIOError:
            if time.monotonic() > end:
                raise RuntimeError('run_serial: another serial run holds ' + lock.name)
            time.sleep(0.1)

    work = tempfile.mkdtemp(prefix='serial-', dir=wine_dir)
    end_a, end_b = os.path.join(work, 'A'), os.path.join(work, 'B')
    saved = {}
    socat = sim = None
    try:
        socat = subprocess.Popen(
            ['socat', 'pty,raw,echo=0,link=' + end_a, 'pty,raw,echo=0,link=' + end_b],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=open(os.path.join(work, 'socat.log'), 'w'))
        wait_until(lambda: os.path.exists(end_a) and os.path.exists(end_b) or socat.poll() is not None,
                   10, 'socat')
        if socat.poll() is not None:
            raise RuntimeError('run_serial: socat failed (see %s/socat.log)' % work)

        sim_log = os.path.join(work, 'sim.log')
        sim = subprocess.Popen([sys.executable, os.path.join(HERE, 'ups_sim.py'), '--device', end_b,
                                '--host-tty', end_a, '--log', sim_log], stdin=subprocess.DEVNULL)
        wait_until(lambda: os.path.exists(sim_log) or sim.poll() is not None, 10, 'the simulator')
        if sim.poll() is not None:
            raise RuntimeError('run_serial: the simulator failed to start')

        for name in PORTS:
            link = os.path.join(dosdevices, name)
            saved[name] = os.readlink(link) if os.path.islink(link) else None
            if os.path.lexists(link):
                os.remove(link)
            os.symlink(end_a, link)

        lock_file = os.path.join(work, 'lockfile')
        open(lock_file, 'w').close()
        env = dict(os.environ, KX4_SERIAL_LOCK_FILE=windows_path(lock_file), KX4_SERIAL_PORT='COM5')
        if opts.md_example:
            script = os.path.join(work, 'example.js')
            md_example(opts.md_example, script)
            command = [script if a == '@EXAMPLE@' else a for a in command]

        child = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL)
        try:
            return child.wait(opts.timeout)
        except subprocess.TimeoutExpired:
            # TERM first: tools/wine-run.sh then kills its wine processes.
            print('run_serial: time-out after %d s' % opts.timeout, file=sys.stderr)
            stop(child)
            return 124
    finally:
        for name, target in saved.items():
            link = os.path.join(dosdevices, name)
            if os.path.lexists(link):
                os.remove(link)
            if target is not None:
                os.symlink(target, link)
        stop(sim)
        stop(socat)
        if os.environ.get('KX4_SERIAL_KEEP'):
            print('run_serial: kept ' + work, file=sys.stderr)
        else:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    sys.exit(main())
