// Two script threads, each with its own object on one file, insert 1,000
// rows each at the same time: the busy time-out makes them take turns, so
// neither fails with "database is locked". Run after lib/check.js.

var FILE = envp.KX4_SQLITE_DIR + '\\threads.db';
var ROWS = 1000;

check(System.loadModule('kx4db.dll'), 'kx4db.dll loads');
var setup = new SQLite(FILE);
setup.query('create table log(thread, i)');
setup.close();

var results = [];
function writer(id) {
    var db = new SQLite(FILE);
    var error = null, i = 0;
    try {
        for (; i < ROWS; i++) db.query('insert into log values(?, ?)', [id, i]);
    } catch (e) {
        error = e.message;
    }
    db.close();
    results.push({id: id, inserted: i, error: error});
}

System.createThread(writer.bind(null, 1));
System.createThread(writer.bind(null, 2));
check(waitFor(function () { return results.length == 2; }, 240000), 'both threads finished');
results.sort(function (a, b) { return a.id - b.id; });
checkEq(results, [{id: 1, inserted: ROWS, error: null}, {id: 2, inserted: ROWS, error: null}],
        'each thread inserted all its rows');

var db = new SQLite(FILE);
checkEq(db.query('select thread, count(*) as n, count(distinct i) as d from log group by thread order by thread'),
        [{thread: '1', n: '1000', d: '1000'}, {thread: '2', n: '1000', d: '1000'}], 'every row is in the file');
db.close();
done();
