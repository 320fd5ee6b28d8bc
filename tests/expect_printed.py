#!/usr/bin/env python3
"""Runs a program and checks its output against a script's comments.

Every line of the script that calls System.print(...) and ends with a
comment `// text` expects `text` as the next line of output, in order.

    expect_printed.py SCRIPT -- COMMAND...
"""
import re
import subprocess
import sys

def main():
    script, command = sys.argv[1], sys.argv[sys.argv.index('--') + 1:]
    expected = []
    for line in open(script, encoding='latin-1'):
        m = re.search(r'System\.print\(.*\)[;\s}]*//\s?(.*)$', line)
        if m:
            expected.append(m.group(1).rstrip())
    run = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
    got = run.stdout.decode('latin-1').replace('\r\n', '\n').splitlines()
    ok = run.returncode == 0 and got == expected
    if not ok:
        print('exit code %d' % run.returncode)
        for i in range(max(len(got), len(expected))):
            e = expected[i] if i < len(expected) else '<nothing>'
            g = got[i] if i < len(got) else '<nothing>'
            print('%s expected: %s\n   got:      %s' % ('  ' if e == g else '!!', e, g))
    else:
        print('%d lines as expected' % len(expected))
    return 0 if ok else 1

sys.exit(main())
