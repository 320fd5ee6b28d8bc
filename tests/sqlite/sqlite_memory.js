// Memory and handles stay flat: 100,000 rows fetched in pages of 1,000,
// and 10,000 objects opened and dropped without close (their finalizer
// closes the file). Run after lib/check.js, with sqlite_probe.dll beside
// kx4test.exe.

var FILE = envp.KX4_SQLITE_DIR + '\\memory.db';

check(System.loadModule('kx4db.dll'), 'kx4db.dll loads');
check(System.loadModule('sqlite_probe.dll'), 'sqlite_probe.dll loads');

var db = new SQLite(FILE);
db.query('create table m(id integer primary key, a, b, c, d)');
db.query('begin');
for (var i = 0; i < 100000; i++)
    db.query('insert into m values(?, ?, ?, ?, ?)', [i, 'text ' + i, i * 0.5, null, 'x']);
db.query('commit');

function fetchPages(from, to) {
    var total = 0;
    for (var page = from; page < to; page++) {
        var rows = db.query('select * from m where id >= ? and id < ? order by id', [page * 1000, page * 1000 + 1000]);
        if (rows.length != 1000 || rows[999].a != 'text ' + (page * 1000 + 999)) return -1;
        total += rows.length;
    }
    return total;
}

// Warm up (SQLite's page cache and the engine's heap grow to their size),
// then measure.
checkEq(fetchPages(0, 10), 10000, 'first pages');
System.gc();
var memory0 = Probe.memory(), handles0 = Probe.handles();
checkEq(fetchPages(10, 100), 90000, 'the other 90 pages');
System.gc();
var memory1 = Probe.memory(), handles1 = Probe.handles();
check(memory1 - memory0 < 4, 'memory after 90,000 rows: ' + memory0.toFixed(1) + ' -> ' + memory1.toFixed(1) + ' MiB');
check(handles0 > 0, 'handles are counted');
check(handles1 - handles0 <= 2, 'handles after the pages: ' + handles0 + ' -> ' + handles1);

function openAndDrop(count) {
    for (var i = 0; i < count; i++) {
        var other = new SQLite(FILE);
        if (i % 10 == 0 && other.query('select count(*) as n from m')[0].n != '100000') return false;
    }
    return true;
}
check(openAndDrop(500), 'first 500 objects');
System.gc();
var memory2 = Probe.memory(), handles2 = Probe.handles();
check(openAndDrop(10000), '10,000 objects opened and dropped');
System.gc();
var memory3 = Probe.memory(), handles3 = Probe.handles();
check(memory3 - memory2 < 4, 'memory after 10,000 objects: ' + memory2.toFixed(1) + ' -> ' + memory3.toFixed(1) + ' MiB');
check(handles3 - handles2 <= 2, 'handles after 10,000 objects: ' + handles2 + ' -> ' + handles3);
System.print('memory ' + [memory0, memory1, memory2, memory3].map(function (m) { return m.toFixed(1); }).join(' ') +
             ' MiB, handles ' + [handles0, handles1, handles2, handles3].join(' '));
// A result too large for the script heap fails with a clear error, and
// the heap is whole again afterwards.
checkThrows(function () {
    db.query('with recursive c(i) as (select 1 union all select i + 1 from c where i < 400000) ' +
             'select i as a, i * 2 as b, \'row \' || i as c, i * 0.5 as d, -i as e from c');
}, /^SQLite\.query: out of script memory after \d+ rows$/, 'a result beyond the heap');
System.gc();
checkEq(fetchPages(0, 10), 10000, 'pages after the failed query');

check(!File.remove(FILE), 'an open database cannot be removed');
db.close();
// Every handle on the file is closed: SQLite opens it without delete
// sharing, so the file cannot go while one stays open.
check(File.remove(FILE), 'the file can be removed: no object keeps it open');
done();
