#!/usr/bin/env python3
"""Runs the bad-input sweep (sweep.js) and counts crashes, hangs and wrong results.

    sweep.py [options] WINE_RUN KX4TEST SWEEP_JS

A crash ends kx4test.exe (exit code 1, a core_dump_*.log) and a hang blocks
it, so the cases run in batches, each in a process of its own that is
stopped when no case begins or ends for a while. A batch that does not finish names its culprit: the last case it began
and did not end (kx4test's output is unbuffered). Unless it was the
process's first case, it is run again alone to tell what it does by itself;
the batch goes on after it. A batch
that fails after all its cases ended (at teardown) is halved until single
cases remain. Prints one line per failing case and

    sweep: N cases, C crashes, H hangs, W wrong results

and exits 1 when C + H + W > 0.
"""
import argparse
import concurrent.futures
import itertools
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

TIMED_OUT = 124  # a hang, as wine-run.sh reports a time-out


class Run:
    """One kx4test process over some cases."""

    def __init__(self, cases, rc, output, crash_logs, seconds):
        self.cases = cases
        self.rc = rc
        self.crash_logs = crash_logs
        self.seconds = seconds
        self.ended = {}    # case -> None (ok) or what was wrong
        self.begun = []
        self.blocked = {}  # case -> the runner's "blocked" lines
        current = None
        for line in output.splitlines():
            line = line.rstrip('\r')
            m = re.match(r'@@begin (\d+)$', line)
            if m:
                current = int(m.group(1))
                self.begun.append(current)
                continue
            m = re.match(r'@@end (\d+) (ok|wrong (.*))$', line)
            if m:
                self.ended[int(m.group(1))] = m.group(3)
                current = None
                continue
            if line.startswith('kx4test: blocked') and current is not None:
                self.blocked.setdefault(current, []).append(line)

    @property
    def finished(self):
        return self.rc == 0 and all(c in self.ended for c in self.cases)

    def failure(self):
        """('crash' | 'hang' | 'wrong', detail) for a process that did not finish."""
        if self.rc == TIMED_OUT:
            return 'hang', 'no end within the time limit'
        if self.rc == 0 and not self.crash_logs:
            # Ended in good order in the middle of a case: it exited.
            return 'wrong', 'the process exited (code 0) during the case'
        # 1 with a crash log from the crash guard; others from abort() or
        # a fault outside the guard.
        return 'crash', 'exit code %d, %d crash log(s)' % (self.rc, self.crash_logs)


class Sweep:
    def __init__(self, args, scratch):
        self.args = args
        self.scratch = scratch
        self.serial = itertools.count(1)
        self.results = {}  # case -> (kind, detail); kind 'ok', 'crash', 'hang' or 'wrong'

    def run(self, cases, timeout, select=None):
        """Runs `cases` in a fresh process with a scratch folder of its own.
        The process is stopped when `timeout` seconds pass without a case
        beginning or ending (a hang), so slow batches are not mistaken for it."""
        tag = '%d_%d' % (os.getpid(), next(self.serial))
        folder = os.path.join(self.scratch, tag)
        os.makedirs(folder)
        env = dict(os.environ, KX4_SWEEP_DIR='Z:' + folder.replace('/', '\\'),
                   KX4_SWEEP_CASES=select or ','.join(map(str, cases)), KX4_SWEEP_TAG=tag, KX4TEST_UNBUFFERED='1')
        start = time.monotonic()
        # wine-run.sh's own limit is only a backstop.
        proc = subprocess.Popen([self.args.wine_run, '--timeout', '3600', self.args.kx4test, self.args.script],
                                env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        lines = []
        progress = [time.monotonic()]

        def reader():
            for raw in proc.stdout:
                line = raw.decode('latin-1')
                lines.append(line)
                if line.startswith('@@'):
                    progress[0] = time.monotonic()
        thread = threading.Thread(target=reader, daemon=True)
        thread.start()
        hung = False
        while proc.poll() is None:
            if time.monotonic() - progress[0] > timeout:
                hung = True
                proc.terminate()  # wine-run.sh kills the whole Windows process tree
                try:
                    proc.wait(15)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait()
                break
            time.sleep(0.05)
        thread.join(5)
        output = ''.join(lines)
        logs = [n for n in os.listdir(folder) if n.startswith('core_dump_')]
        shutil.rmtree(folder, ignore_errors=True)
        run = Run(cases, TIMED_OUT if hung else proc.returncode, output, len(logs), time.monotonic() - start)
        if self.args.verbose:
            print('sweep: ran %d case(s) from %s in %.1f s: exit %d' %
                  (len(cases), cases[0] if cases else '-', run.seconds, run.rc), flush=True)
        return run, output

    def list_cases(self):
        run, output = self.run([], 60, select='list')
        names = {}
        for line in output.splitlines():
            m = re.match(r'@@case (\d+) (.*)$', line.rstrip('\r'))
            if m:
                names[int(m.group(1))] = m.group(2)
        if run.rc != 0 or not names:
            sys.stderr.write(output)
            raise SystemExit('sweep: could not list the cases (exit code %d)' % run.rc)
        return [names[i] for i in sorted(names)]

    def note(self, run):
        for case, wrong in run.ended.items():
            if case in run.blocked:
                wrong = '; '.join(filter(None, [wrong] + run.blocked[case]))
            self.results[case] = ('wrong', wrong) if wrong else ('ok', '')

    def alone(self, case, batch_failure):
        """Runs a batch's culprit by itself and records what it does."""
        run, _ = self.run([case], self.args.case_timeout)
        self.note(run)
        if not run.finished:
            self.results[case] = run.failure()
        elif self.results.get(case, ('ok',))[0] == 'ok':
            kind, detail = batch_failure
            self.results[case] = (kind, detail + ' (in its batch, after earlier cases; not alone)')

    def batch(self, cases, timeout):
        while cases:
            run, _ = self.run(cases, timeout)
            self.note(run)
            if run.finished:
                return
            pending = [c for c in run.begun if c not in run.ended]
            if pending:
                culprit = pending[0]
                if culprit == run.begun[0]:
                    # It was the process's first case: that is a run alone.
                    self.results[culprit] = run.failure()
                else:
                    self.alone(culprit, run.failure())
                cases = cases[cases.index(culprit) + 1:]
                continue
            # Every case ended, yet the process failed: at teardown.
            if len(cases) == 1:
                kind, detail = run.failure()
                self.results[cases[0]] = (kind, detail + ' at teardown')
                return
            half = len(cases) // 2
            self.batch(cases[:half], timeout)
            cases = cases[half:]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--batch', type=int, default=80, help='cases per process')
    parser.add_argument('--batch-timeout', type=int, default=10,
                        help='seconds a batch may go without a case beginning or ending')
    parser.add_argument('--case-timeout', type=int, default=8, help='the same for a case run alone')
    parser.add_argument('--jobs', type=int, default=2, help='processes at once')
    parser.add_argument('--only', help='a regular expression the case names must match')
    parser.add_argument('--verbose', action='store_true')
    parser.add_argument('wine_run')
    parser.add_argument('kx4test')
    parser.add_argument('script')
    args = parser.parse_args()
    args.script = os.path.abspath(args.script)

    scratch = tempfile.mkdtemp(prefix='kx4sweep-', dir=os.environ.get('KX4_WINE_DIR') and
                               os.path.dirname(os.environ['KX4_WINE_DIR']))
    start = time.monotonic()
    try:
        sweep = Sweep(args, scratch)
        names = sweep.list_cases()
        chosen = [i for i, n in enumerate(names) if not args.only or re.search(args.only, n)]
        batches = [chosen[i:i + args.batch] for i in range(0, len(chosen), args.batch)]
        with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
            for f in [pool.submit(sweep.batch, b, args.batch_timeout) for b in batches]:
                f.result()
        _, output = sweep.run([], 60, select='cleanup')
        if '@@cleanup done' not in output:
            print('sweep: the registry sandbox HKCU\\Software\\kx4sweep was not removed')
    finally:
        shutil.rmtree(scratch, ignore_errors=True)

    counts = {'crash': 0, 'hang': 0, 'wrong': 0}
    for case in chosen:
        kind, detail = sweep.results.get(case, ('wrong', 'never ran'))
        if kind != 'ok':
            counts[kind] += 1
            print('%s: %s: %s' % (kind.upper(), names[case], detail))
    print('sweep: %d cases, %d crashes, %d hangs, %d wrong results (%.0f s)' %
          (len(chosen), counts['crash'], counts['hang'], counts['wrong'], time.monotonic() - start))
    return 1 if sum(counts.values()) else 0


if __name__ == '__main__':
    sys.exit(main())
