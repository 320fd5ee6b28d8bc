// The SQLite benchmark's script side (bench/sqlite_run.sh), the same work
// as sqlite_baseline.c through kx4db.dll. KX4_SQLITE_FILE names the file,
// KX4_SQLITE_ROWS the row count. Prints "kx4 <name> <ms>" lines:
//   insert_text   rows inserted in one transaction, each with its statement
//                 text made by the script
//   insert_bound  the same through query(sql, params)
//   select        "select * from b" into arrays of row objects, in pages of
//                 KX4_SQLITE_PAGE rows (50000): 100,000 rows of 5 columns
//                 at once do not fit in the 32 MiB script heap
// and, to tell where the select's time goes:
//   select_count  "select count(*) from b" (SQLite's scan, one row back)
//   handoff       one heap release and re-take per row (Bench.suspendResume)
//   script_rows   the same objects built by script from its own values, in
//                 the same pages
// then "kx4 memory <peak working set MiB> <private MiB> <before select MiB>".
if (!System.loadModule('kx4db.dll')) throw new Error('kx4db.dll not loaded');
if (!System.loadModule(envp.KX4_BENCH_MODULE)) throw new Error('bench module not loaded');

var FILE = envp.KX4_SQLITE_FILE, ROWS = +(envp.KX4_SQLITE_ROWS || 100000);
var PAGE = +(envp.KX4_SQLITE_PAGE || 50000);

function fresh() {
    File.remove(FILE);
    var db = new SQLite(FILE);
    db.query('create table b(id integer primary key, name text, value real, note text, k integer)');
    return db;
}

function timed(name, body) {
    var t0 = Bench.now();
    body();
    System.print('kx4 ' + name + ' ' + (Bench.now() - t0).toFixed(1));
}

var db = fresh();
timed('insert_text', function () {
    db.query('begin');
    for (var i = 0; i < ROWS; i++)
        db.query('insert into b values(' + i + ', \'name ' + i + '\', ' + i * 0.5 + ', \'x\', ' + i % 7 + ')');
    db.query('commit');
});
db.close();

db = fresh();
timed('insert_bound', function () {
    db.query('begin');
    for (var i = 0; i < ROWS; i++)
        db.query('insert into b values(?, ?, ?, ?, ?)', [i, 'name ' + i, i * 0.5, 'x', i % 7]);
    db.query('commit');
});
db.close();

db = new SQLite(FILE);
System.gc();
var before = Bench.memory();
var after;
timed('select', function () {
    for (var from = 0; from < ROWS; from += PAGE) {
        var rows = db.query('select * from b where id >= ' + from + ' and id < ' + (from + PAGE));
        var last = Math.min(from + PAGE, ROWS) - 1;
        if (rows.length != last - from + 1 || rows[last - from].name != 'name ' + last)
            throw new Error('select gave wrong rows');
        if (!after) after = Bench.memory();
        rows = null;
    }
});
System.gc();
timed('select_count', function () { db.query('select count(*) as n from b'); });
System.print('kx4 handoff ' + Bench.suspendResume(ROWS).toFixed(1));
timed('script_rows', function () {
    for (var from = 0; from < ROWS; from += PAGE) {
        var out = [];
        for (var i = from; i < from + PAGE && i < ROWS; i++) {
            var o = {};
            o.id = String(i), o.name = 'name ' + i, o.value = String(i * 0.5), o.note = 'x', o.k = String(i % 7);
            out[i - from] = o;
        }
        out = null;
    }
});
db.close();
File.remove(FILE);
System.print('kx4 memory ' + after.peakWorkingSet.toFixed(1) + ' ' + after.private.toFixed(1) + ' ' +
             before.private.toFixed(1));
