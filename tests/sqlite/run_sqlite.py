#!/usr/bin/env python3
"""Runs a command with SQLite files made by Python's sqlite3, then checks
what the command wrote.

    run_sqlite.py [--timeout SECS] [--md-example FILE.md] [--check-written] -- COMMAND...

In a fresh folder (under the current directory) it makes

  - python.db    written by Python: several types and non-ASCII UTF-8
                 text; expected.json holds what kx4 must read from it
                 (texts as byte strings, one character per byte)
  - corrupt.db   a database whose second page is overwritten
  - notadb.db    a text file
  - readonly.db  a database in a read-only file (KX4_SQLITE_READONLY is
                 "1" when the file really is read-only for the command)

and passes the folder's Windows path in KX4_SQLITE_DIR. The fixture files
must come out of the run byte for byte as they went in. With
--check-written, the command must have left written.db, which Python
reads back (table w, see sqlite.js). With --md-example, the first ```js
block after "## Example" in FILE.md becomes a script whose path replaces
@EXAMPLE@ in COMMAND. The exit code is COMMAND's, or 1 when a check here
failed.
"""
import argparse
import hashlib
import json
import os
import re
import sqlite3
import stat
import subprocess
import sys
import tempfile

# (id, t, i, r, n, b): an integer key; text beyond Latin-1, with a quote
# and a line break; a large integer; a real; NULL; a blob (read as text up
# to its first zero byte).
PY_ROWS = [
    (1, 'plain', 0, 1.5, None, b'ab'),
    (2, 'Zürich – ☃ "q" \'s\'\nline', 2 ** 40, -2.25, None, b'x\x00y'),
    (3, '', -7, 3.0e100, None, b''),
    (4, '日本語', 9223372036854775807, 0.1, None, None),
]

# What kx4 writes into written.db (sqlite.js): by query text and bound.
WRITTEN = [
    (1, 'Grüße ✓', 2.5, None, 42),
    (2, "O'Brien; drop table w; --", -0.125, None, 4000000000),
    (3, 'x\x00y', 1e300, None, -1),
    (4, '', 0, None, 0),
]


def windows_path(path):
    return 'Z:' + os.path.abspath(path).replace('/', '\\')


def as_byte_string(value):
    """The text kx4 gives for a column: SQLite's text bytes, one character
    per byte, up to the first zero byte; None for NULL."""
    if value is None:
        return None
    return value.split(b'\x00')[0].decode('latin-1')


def make_fixture(work):
    py = os.path.join(work, 'python.db')
    con = sqlite3.connect(py)
    con.execute('CREATE TABLE items (id INTEGER PRIMARY KEY, t TEXT, i INTEGER, r REAL, n, b BLOB)')
    con.executemany('INSERT INTO items VALUES (?, ?, ?, ?, ?, ?)', PY_ROWS)
    con.commit()
    # SQLite's own text of every value, as kx4 must see it.
    con.text_factory = bytes
    cols = ['id', 't', 'i', 'r', 'n', 'b']
    rows = con.execute('SELECT %s FROM items ORDER BY id' % ', '.join('CAST(%s AS TEXT)' % c for c in cols))
    expected = [dict(zip(cols, [as_byte_string(v) for v in row])) for row in rows]
    con.close()
    with open(os.path.join(work, 'expected.json'), 'w') as f:
        json.dump(expected, f)

    corrupt = os.path.join(work, 'corrupt.db')
    con = sqlite3.connect(corrupt)
    con.execute('CREATE TABLE big (a, b)')
    con.executemany('INSERT INTO big VALUES (?, ?)', [(i, 'row %d' % i * 20) for i in range(2000)])
    con.commit()
    con.close()
    with open(corrupt, 'r+b') as f:
        f.seek(4096 + 8)
        f.write(b'\xA5' * 2000)

    with open(os.path.join(work, 'notadb.db'), 'w') as f:
        f.write('This is a plain text file, not a database.\n' * 20)

    ro = os.path.join(work, 'readonly.db')
    con = sqlite3.connect(ro)
    con.execute('CREATE TABLE t (a)')
    con.execute("INSERT INTO t VALUES ('kept')")
    con.commit()
    con.close()
    os.chmod(ro, stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH)
    # Root writes whatever the mode says, and so do programs under wine run
    # by root: the immutable flag holds even for root.
    if os.geteuid() == 0:
        subprocess.run(['chattr', '+i', ro], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        os.close(os.open(ro, os.O_WRONLY))
        return False
    except PermissionError:
        return True


def digests(work):
    return {name: hashlib.sha256(open(os.path.join(work, name), 'rb').read()).hexdigest()
            for name in ('python.db', 'corrupt.db', 'notadb.db', 'readonly.db')}


def md_example(md, script):
    text = open(md, encoding='utf-8').read()
    m = re.search(r'^## Example\b.*?^```js\n(.*?)^```', text, re.S | re.M)
    if not m:
        raise RuntimeError('run_sqlite: no ```js block after "## Example" in ' + md)
    with open(script, 'w', encoding='utf-8') as f:
        f.write(m.group(1))


def check_written(work):
    path = os.path.join(work, 'written.db')
    if not os.path.exists(path):
        return ['written.db is missing']
    con = sqlite3.connect(path)
    got = con.execute('SELECT id, t, r, n, i FROM w ORDER BY id').fetchall()
    types = con.execute('SELECT typeof(id), typeof(t), typeof(r), typeof(n), typeof(i) FROM w ORDER BY id').fetchall()
    integrity = con.execute('PRAGMA integrity_check').fetchone()
    con.close()
    failures = []
    if got != WRITTEN:
        failures.append('written.db rows\n got %r\nwant %r' % (got, WRITTEN))
    want_types = [('integer', 'text', 'real', 'null', 'integer')] * len(WRITTEN)
    if types != want_types:
        failures.append('written.db types\n got %r\nwant %r' % (types, want_types))
    if integrity != ('ok',):
        failures.append('written.db integrity %r' % (integrity,))
    return failures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--timeout', type=int, default=300)
    parser.add_argument('--md-example')
    parser.add_argument('--check-written', action='store_true')
    parser.add_argument('command', nargs=argparse.REMAINDER)
    opts = parser.parse_args()
    command = opts.command[1:] if opts.command[:1] == ['--'] else opts.command
    if not command:
        parser.error('no command')

    with tempfile.TemporaryDirectory(prefix='sqlite-', dir=os.getcwd()) as work:
        readonly = make_fixture(work)
        if not readonly:
            print('run_sqlite: cannot make a read-only file here: its write is not tested')
        before = digests(work)
        if opts.md_example:
            script = os.path.join(work, 'example.js')
            md_example(opts.md_example, script)
            command = [script if a == '@EXAMPLE@' else a for a in command]
        env = dict(os.environ, KX4_SQLITE_DIR=windows_path(work), KX4_SQLITE_READONLY='1' if readonly else '')
        try:
            rc = subprocess.run(command, env=env, stdin=subprocess.DEVNULL, timeout=opts.timeout).returncode
        except subprocess.TimeoutExpired:
            print('run_sqlite: time-out after %d s' % opts.timeout)
            return 1
        failures = []
        after = digests(work)
        for name in before:
            if before[name] != after[name]:
                failures.append('%s changed' % name)
        if opts.check_written:
            failures += check_written(work)
        for f in failures:
            print('run_sqlite: FAIL ' + f)
        if not failures and rc == 0:
            print('run_sqlite: the fixture files are unchanged' + (', written.db reads back' if opts.check_written else ''))
        ro = os.path.join(work, 'readonly.db')
        if os.geteuid() == 0:
            subprocess.run(['chattr', '-i', ro], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.chmod(ro, stat.S_IRUSR | stat.S_IWUSR)
        return rc or (1 if failures else 0)


if __name__ == '__main__':
    sys.exit(main())
