#!/usr/bin/env python3
"""Runs the example of a document and checks what it prints.

    run_example.py DOC.md WINE_RUN KX4TEST PRELUDE.js

The first ```js block after the "## Example" heading is written to a file
and run as `WINE_RUN KX4TEST PRELUDE.js example.js`. Expected output, in
order: for a System.print(...) line ending in `// text`, the line `text`;
for a line whose comment says `prints "a", "b"`, the lines a and b."""
import os
import re
import subprocess
import sys
import tempfile


def main():
    doc, wine_run, kx4test, prelude = sys.argv[1:5]
    text = open(doc, encoding='utf-8').read()
    m = re.search(r'^## Example\b.*?^```js\n(.*?)^```', text, re.S | re.M)
    if not m:
        print('run_example: no ```js block under "## Example" in ' + doc)
        return 1
    script = m.group(1)
    expected = []
    for line in script.splitlines():
        printed = re.search(r'System\.print\(.*\)[;\s}]*//\s?(.*)$', line)
        if printed:
            expected.append(printed.group(1).rstrip())
            continue
        prints = re.search(r'//.*\bprints ((?:"[^"]*"(?:,\s*|\s+and\s+)?)+)', line)
        if prints:
            expected.extend(re.findall(r'"([^"]*)"', prints.group(1)))
    with tempfile.NamedTemporaryFile('w', suffix='.js', dir='.', delete=False, encoding='latin-1') as f:
        f.write(script)
    try:
        run = subprocess.run([wine_run, '--timeout', '60', kx4test, prelude, f.name],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    finally:
        os.unlink(f.name)
    got = run.stdout.decode('latin-1').replace('\r\n', '\n').splitlines()
    ok = run.returncode == 0 and got == expected
    if not ok:
        print('exit code %d' % run.returncode)
        for i in range(max(len(got), len(expected))):
            e = expected[i] if i < len(expected) else '<nothing>'
            g = got[i] if i < len(got) else '<nothing>'
            print('%s expected: %s\n   got:      %s' % ('  ' if e == g else '!!', e, g))
        sys.stdout.write(run.stderr.decode('latin-1'))
    else:
        print('%d lines as expected' % len(expected))
    return 0 if ok else 1


if __name__ == '__main__':
    sys.exit(main())
