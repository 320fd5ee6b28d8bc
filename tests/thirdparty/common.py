"""Helpers shared by the third-party library tests: run a Windows program
under wine64 (tools/wine-run.sh), translate paths, find free ports, report."""
import os
import socket
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WINE_RUN = os.path.join(ROOT, 'tools', 'wine-run.sh')


def windows_path(path):
    """The path under which a wine program sees a Unix file (drive Z: is /)."""
    return 'Z:' + os.path.abspath(path).replace('/', '\\')


def wine(exe, *args, timeout=60, **popen):
    """Starts exe under wine64 in the build tree's wine session."""
    return subprocess.Popen([WINE_RUN, '--timeout', str(timeout), exe] + [str(a) for a in args],
                            stdin=subprocess.DEVNULL, **popen)


def wine_run(exe, *args, timeout=60):
    """Runs exe to its end: (exit code, stdout, stderr) as text."""
    p = wine(exe, *args, timeout=timeout, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    out, err = p.communicate(timeout=timeout + 30)
    return p.returncode, out, err


def free_port(kind=socket.SOCK_STREAM):
    """A port on 127.0.0.1 that nobody uses right now."""
    with socket.socket(socket.AF_INET, kind) as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


def stop(proc):
    if proc and proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(5)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait(5)


class Report:
    """Collects the result of each case; exit code 1 if any failed."""

    def __init__(self, name):
        self.name, self.failures, self.count = name, [], 0

    def check(self, case, ok, detail=''):
        self.count += 1
        print('%s: %s %s%s' % (self.name, 'ok  ' if ok else 'FAIL', case, '' if ok else ': ' + detail))
        sys.stdout.flush()
        if not ok:
            self.failures.append(case)

    def finish(self):
        print('%s: %d of %d cases passed' % (self.name, self.count - len(self.failures), self.count))
        return 1 if self.failures or not self.count else 0
