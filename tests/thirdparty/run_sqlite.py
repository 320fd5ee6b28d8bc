#!/usr/bin/env python3
"""SQLite: a database file written by Python's sqlite3 is read back exactly
by sqlite_rw.exe under wine64, which then changes it (one transaction, then
two threads on one connection); Python checks the file afterwards.

    run_sqlite.py <sqlite_rw.exe>"""
import os
import sqlite3
import sys
import tempfile

from common import Report, windows_path, wine_run

# (id, name, qty, price, data): text beyond Latin-1, NULL, a large integer,
# a negative real and binary data with zero bytes.
ROWS = [
    (1, 'plain', None, 1.5, b'\x01\x02'),
    (2, 'Zürich – ☃', 41, 3.0e100, b''),
    (3, 'to be deleted', -5, -2.25, b'\x00\x00\xff'),
    (7, 'z' * 300, 2 ** 40, 0.1, bytes(range(256))),
]


def parse(line):
    """A "row ..." line of sqlite_rw.exe as a row tuple."""
    _, rid, name, qty, price, data = line.split(' ')
    unhex = lambda h: b'' if h == '-' else bytes.fromhex(h)
    return (int(rid), unhex(name).decode(), None if qty == 'NULL' else int(qty), float(price), unhex(data))


def main():
    exe = sys.argv[1]
    report = Report('sqlite')
    with tempfile.TemporaryDirectory(prefix='sqlite-', dir=os.getcwd()) as work:
        path = os.path.join(work, 'test.db')
        con = sqlite3.connect(path)
        con.execute('CREATE TABLE items (id INTEGER PRIMARY KEY, name TEXT, qty INTEGER, price REAL, data BLOB)')
        con.executemany('INSERT INTO items VALUES (?, ?, ?, ?, ?)', ROWS)
        con.commit()
        con.close()

        rc, out, err = wine_run(exe, windows_path(path))
        lines = out.splitlines()
        report.check('runs', rc == 0 and lines[-1:] == ['done'], 'exit %d, stderr %r' % (rc, err))
        report.check('version and thread safety', lines[:1] == ['version 3.40.1 threadsafe 1'], repr(lines[:1]))
        got = [parse(l) for l in lines if l.startswith('row ')]
        report.check('rows read back', got == ROWS, '\n got %r\nwant %r' % (got, ROWS))

        con = sqlite3.connect(path)
        items = con.execute('SELECT id, name, qty, price, data FROM items ORDER BY id').fetchall()
        want_items = [ROWS[0], ROWS[1][:2] + (42,) + ROWS[1][3:], ROWS[3],
                      (4000000000, 'Grüße ✓', None, -0.125, b'\x00\xff\x10\x80')]
        report.check('update, delete and insert', items == want_items, '\n got %r\nwant %r' % (items, want_items))
        log = con.execute('SELECT thread, i FROM log ORDER BY thread, i').fetchall()
        report.check('two threads, one connection', log == [(t, i) for t in (0, 1) for i in range(100)],
                     '%d rows' % len(log))
        report.check('integrity', con.execute('PRAGMA integrity_check').fetchone() == ('ok',))
        con.close()
    return report.finish()


if __name__ == '__main__':
    sys.exit(main())
