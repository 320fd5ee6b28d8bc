#!/usr/bin/env python3
"""Service scenarios under wine, end to end.

Each run gets its own folder (a copy of the packaged test application and
the fault module) and its own service names, so runs never meet. The
service process is started by wine's service manager, not by us: its
evidence comes back through files it writes into its folder, which the
steps (steps.js, run by kx4test) and this driver read. Whatever happens,
the run ends by stopping and deleting its services with wine's own sc.exe
and killing any process still running from its folder.

  service_test.py --kx4 EXE --kx4test EXE --check-js JS --steps JS --app EXE
                  --fault DLL --probe EXE --work DIR --wine-run SH --doc MD SCENARIO
"""
import argparse
import glob
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time


def win_path(path):
    # wine maps the Unix root to drive Z:.
    return 'Z:' + os.path.abspath(path).replace('/', '\\')


class Run:
    def __init__(self, args, scenario):
        self.args = args
        tag = '%s-%d-%08x' % (scenario, os.getpid(), random.getrandbits(32))
        self.name = 'kx4test-' + tag
        self.names = [self.name]  # every service this run may have made
        self.dir = os.path.join(args.work, tag)
        os.makedirs(self.dir)
        self.exe = os.path.join(self.dir, 'kx4svcapp.exe')
        shutil.copy(args.app, self.exe)
        shutil.copy(args.fault, self.dir)
        self.failures = 0

    def fail(self, message):
        self.failures += 1
        print('FAIL ' + message)

    def check_eq(self, actual, expected, what):
        if actual != expected:
            self.fail('%s: got %r, expected %r' % (what, actual, expected))

    def wine(self, *argv, timeout=60):
        """Runs a Windows program in the session; (exit code, output lines)."""
        proc = subprocess.run([self.args.wine_run, '--timeout', str(timeout)] + list(argv),
                              stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
        text = proc.stdout.decode('utf-8', 'replace').replace('\r\n', '\n')
        return proc.returncode, text.splitlines()

    def step(self, step, timeout=60, **params):
        """Runs one step of steps.js; its checks count as one."""
        values = dict(name=self.name, exe=win_path(self.exe), dir=win_path(self.dir) + '\\', step=step)
        values.update(params)
        script = os.path.join(self.dir, 'params.js')
        with open(script, 'w') as f:
            f.write('var svc = %s;\n' % json.dumps(values))
        rc, lines = self.wine(self.args.kx4test, script, self.args.check_js, self.args.steps, timeout=timeout)
        for line in lines:
            print('  [%s] %s' % (step, line))
        if rc != 0:
            self.fail('step %s ended with exit code %d' % (step, rc))
        return rc == 0

    def probe(self, command, name):
        rc, lines = self.wine(self.args.probe, command, name)
        if rc != 0:
            self.fail('probe %s %s: exit code %d' % (command, name, rc))
        return lines

    def config(self, name):
        fields = {}
        for line in self.probe('config', name):
            key, _, value = line.partition(' ')
            fields[key] = value
        return fields

    def check_config(self, name, expected, what):
        fields = self.config(name)
        for key, value in expected.items():
            self.check_eq(fields.get(key), value, '%s: %s' % (what, key))

    def processes(self):
        """Unix pids of the Windows processes started from this run's folder."""
        marker = win_path(self.dir).lower().encode() + b'\\'
        pids = []
        for entry in os.listdir('/proc'):
            if not entry.isdigit():
                continue
            try:
                with open('/proc/%s/cmdline' % entry, 'rb') as f:
                    cmdline = f.read()
            except OSError:
                continue
            if marker in cmdline.lower():
                pids.append(int(entry))
        return pids

    def wait_for_no_process(self, limit=30):
        end = time.monotonic() + limit
        while self.processes():
            if time.monotonic() > end:
                return False
            time.sleep(0.1)
        return True

    def crash_logs(self):
        return sorted(glob.glob(os.path.join(self.dir, 'core_dump_*.log')))

    def cleanup(self):
        """Stops and deletes the run's services however the run went."""
        for name in self.names:
            self.wine('sc.exe', 'stop', name, timeout=30)
        if not self.wait_for_no_process(limit=10):
            for pid in self.processes():
                try:
                    os.kill(pid, signal.SIGKILL)
                except OSError:
                    pass
        for name in self.names:
            self.wine('sc.exe', 'delete', name, timeout=30)
        if self.failures == 0:
            shutil.rmtree(self.dir, ignore_errors=True)
        else:
            print('evidence kept in ' + self.dir)


# The fields every service installed by SERVICE_INSTALL has.
STORED_ALWAYS = {'error': '1', 'account': 'LocalSystem'}


def lifecycle(r):
    """Installed, updated in place, started, interrogated, stopped, removed."""
    name = r.name
    if not r.step('install'):
        return
    r.check_config(name, dict(STORED_ALWAYS, type='0x10', start='3', display='kx4 test service ' + name,
                              description='first install', binary='"%s" service %s' % (win_path(r.exe), name)),
                   'first install')
    if not r.step('update'):
        return
    r.check_config(name, dict(STORED_ALWAYS, type='0x110', start='3', display='kx4 test service %s (updated)' % name,
                              description='second install',
                              binary='"%s" service %s fault-at-end' % (win_path(r.exe), name)),
                   'updated in place')
    if not r.step('start'):
        return
    # Interrogate answers running and never reaches the script (the stop
    # step checks which controls the script saw).
    r.check_eq(r.probe('interrogate', name), ['interrogate ok', 'state 4 accepts 0x5'], 'interrogate while running')
    if not r.step('stop'):
        return
    # After the stop the application faults: the crash log stays off.
    if not r.wait_for_no_process():
        r.fail('the service process did not end after its fault')
    with open(os.path.join(r.dir, 'events-%s.txt' % name)) as f:
        events = f.read().splitlines()
    # The main loop may still log its end while the fault's module loads
    # (loadModule lets other threads run): the fault came, and nothing ran
    # on after it on the faulting thread.
    r.check_eq(['faulting' in events, 'fault returned' in events], [True, False], 'the fault after the stop')
    r.check_eq(r.crash_logs(), [], 'crash logs after the stop')
    r.check_eq(r.probe('state', name), ['state 1 accepts 0x0'], 'state after the stop')
    if not r.step('uninstall'):
        return
    r.check_eq(r.probe('state', name), ['missing'], 'after uninstall')


# serviceConfig values and the configuration they give. The command line
# names no real program: these services are never started.
INSTALL_TABLE = [
    ({}, dict(type='0x10', start='2', description='', failure='none')),
    ({'manualStart': 1, 'interactive': 1}, dict(type='0x110', start='3')),
    ({'manualStart': 0.5, 'interactive': 1.9}, dict(type='0x110', start='2')),
    ({'manualStart': '1', 'interactive': '1'}, dict(type='0x110', start='3')),
    ({'manualStart': -1, 'interactive': 0}, dict(type='0x10', start='3')),
    ({'manualStart': True, 'displayName': 'shown name %d' % os.getpid(), 'description': 'what it does'},
     dict(start='3', display='shown name %d' % os.getpid(), description='what it does')),
]


def install_table(r):
    """How the serviceConfig fields become the stored configuration."""
    command_line = '"Z:\\kx4-never-started\\none.exe" service'
    for i, (fields, expected) in enumerate(INSTALL_TABLE):
        name = '%s-%d' % (r.name, i)
        r.names.append(name)
        # Several services without a display name may exist side by side;
        # what the SCM shows for them is its own affair.
        expected = dict(STORED_ALWAYS, binary=command_line, **expected)
        config = dict(fields, serviceName=name, commandLine=command_line)
        if r.step('install-config', config=config):
            r.check_config(name, expected, 'config %r' % fields)
    # Installed again without a display name, a service keeps the one it has.
    config = dict(serviceName=name, commandLine=command_line + ' again')
    if r.step('install-config', config=config):
        r.check_config(name, dict(binary=command_line + ' again', display=expected['display']), 'reinstalled')


def ends_while_starting(r):
    """Starts that cannot succeed give up; a start the SCM defers does not."""
    r.names += [r.name + suffix for suffix in ('-quit', '-silent', '-slow', '-next')]
    r.step('ends-while-starting', timeout=120)
    r.step('start-while-another-starts', timeout=120)


def stop_budget(r):
    r.step('stop-budget', timeout=180)


def crash_log(r):
    """The crash log is written on a fault, also after a CONTROL_STOP outside
    a service: only a service's real stop turns it off (see lifecycle)."""
    for role in ('fault', 'fault-after-stop'):
        rc, _ = r.wine(r.exe, role)
        r.check_eq(rc, 1, 'exit code of %s' % role)
        logs = r.crash_logs()
        r.check_eq(len(logs), 1, 'crash logs after %s' % role)
        for log in logs:
            with open(log, 'rb') as f:
                first = f.readline()
            if not re.match(rb"Core exception \(0xC0000005\) in '", first):
                r.fail('crash log starts with %r' % first)
            os.remove(log)


def docs_example(r):
    """The worked example of docs/service.md, packaged as it is printed there."""
    with open(r.args.doc, encoding='utf-8') as f:
        doc = f.read()
    section = doc[doc.index('\n## Worked example'):]
    source = section[section.index('```js\n') + 6:]
    source = source[:source.index('```')]
    app = os.path.join(r.dir, 'ticker')
    os.makedirs(os.path.join(app, 'scripts'))
    with open(os.path.join(app, 'scripts', 'autorun.js'), 'w', encoding='utf-8') as f:
        f.write(source)
    # The example names its service after its executable.
    exe = os.path.join(r.dir, r.name + '.exe')
    subprocess.run([sys.executable, r.args.kx4pack, 'build', '--exe', r.args.kx4, '--from', app, '-o', exe],
                   check=True, stdout=subprocess.DEVNULL)
    log_file = os.path.join(r.dir, 'ticker.log')

    def log_has(word):
        if not os.path.exists(log_file):
            return False
        with open(log_file) as f:
            return any(line.split(' ')[1:] == [word] for line in f.read().splitlines())

    rc, out = r.wine(exe, 'install')
    r.check_eq((rc, out), (0, [r.name + ' installed and running']), 'install')
    r.check_config(r.name, dict(type='0x10', start='2', display='Ticker (%s)' % r.name,
                                description='Writes a line to ticker.log every second',
                                binary='"%s" service' % win_path(exe)), 'installed')
    end = time.monotonic() + 30
    while not log_has('tick') and time.monotonic() < end:
        time.sleep(0.1)
    r.check_eq((log_has('started'), log_has('tick')), (True, True), 'service started and ticking')
    rc, out = r.wine(exe, 'uninstall')
    r.check_eq((rc, out), (0, [r.name + ' removed']), 'uninstall')
    r.check_eq(log_has('stopped'), True, 'service saw the stop')
    r.check_eq(r.probe('state', r.name), ['missing'], 'after uninstall')


SCENARIOS = {
    'lifecycle': lifecycle,
    'install_table': install_table,
    'ends_while_starting': ends_while_starting,
    'stop_budget': stop_budget,
    'crash_log': crash_log,
    'docs_example': docs_example,
}


def main():
    parser = argparse.ArgumentParser()
    for option in ('kx4', 'kx4test', 'check-js', 'steps', 'app', 'fault', 'probe', 'work', 'wine-run', 'doc'):
        parser.add_argument('--' + option, required=True)
    parser.add_argument('--kx4pack', default=os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                          '..', '..', 'tools', 'kx4pack.py'))
    parser.add_argument('scenario', choices=sorted(SCENARIOS))
    args = parser.parse_args()
    run = Run(args, args.scenario)
    # A test harness ends an overdue test with SIGTERM: clean up then too.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    try:
        SCENARIOS[args.scenario](run)
    except Exception as e:  # noqa: BLE001 - reported, and the cleanup still runs
        run.fail('driver error: %r' % e)
    finally:
        run.cleanup()
    print('%s: %s' % (args.scenario, 'ok' if run.failures == 0 else '%d failures' % run.failures))
    return 1 if run.failures else 0


if __name__ == '__main__':
    sys.exit(main())
