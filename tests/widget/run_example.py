#!/usr/bin/env python3
"""Runs the example of docs/widget.md as an application does: kx4test.exe
and kx4ui.dll in a folder of their own with the logo.png the example
reads, its printed lines checked against its comments.

    run_example.py DOC.md BIN_DIR -- WINE_RUN
"""
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib


def png(width, height, pixel):
    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
    raw = b''.join(b'\0' + b''.join(bytes(pixel(x, y)) for x in range(width)) for y in range(height))
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 6, 0, 0, 0)) +
            chunk(b'IDAT', zlib.compress(raw)) + chunk(b'IEND', b''))


def main():
    doc, bin_dir, wine_run = sys.argv[1], sys.argv[2], sys.argv[sys.argv.index('--') + 1]
    text = open(doc, encoding='utf-8').read()
    m = re.search(r'^## Example\b.*?^```js\n(.*?)^```', text, re.S | re.M)
    if not m:
        sys.exit('run_example: no ```js block under "## Example" in ' + doc)
    work = tempfile.mkdtemp(prefix='kx4widget')
    try:
        for name in ('kx4test.exe', 'kx4ui.dll'):
            shutil.copy(os.path.join(bin_dir, name), work)
        with open(os.path.join(work, 'logo.png'), 'wb') as f:
            f.write(png(32, 32, lambda x, y: (x * 8, y * 8, 160, 255 if (x + y) % 4 else 128)))
        script = os.path.join(work, 'example.js')
        with open(script, 'w', encoding='latin-1') as f:
            f.write(m.group(1))
        here = os.path.dirname(os.path.abspath(__file__))
        checker = os.path.join(here, '..', 'expect_printed.py')
        sys.exit(subprocess.call([sys.executable, checker, script, '--', wine_run, '--timeout', '60',
                                  os.path.join(work, 'kx4test.exe'), script]))
    finally:
        shutil.rmtree(work, ignore_errors=True)


main()
