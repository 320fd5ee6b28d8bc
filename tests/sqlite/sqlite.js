// The SQLite class against files made and checked by Python's sqlite3
// (run_sqlite.py puts them in KX4_SQLITE_DIR). Run after lib/check.js.

var DIR = envp.KX4_SQLITE_DIR;
function path(name) { return DIR + '\\' + name; }
var NOT_INITIALIZED = 'SQL error: database object not initialized';

function sqlError(message, sql) { return 'SQL error: ' + message + '\nSQL query: ' + sql; }

function readText(name) {
    var f = new File();
    if (!f.open(path(name), 'rb')) return null;
    var text = f.read();
    f.close();
    return text;
}

// ---- Loading and the class ---------------------------------------------------

check(System.loadModule('kx4db.dll'), 'kx4db.dll loads');
checkEq(typeof SQLite, 'function', 'SQLite is defined');
checkEq([SQLite.length, SQLite.prototype.query.length, SQLite.prototype.close.length], [0, 1, 0], 'arities');
checkThrows(function () { new SQLite(); }, 'Native function format error: SQLite(<file>)', 'constructor without a file');

// ---- The basic cases -----------------------------------------------------------

(function () {
    var db = new SQLite(path('edge.db'));
    check(db instanceof SQLite, 'new SQLite gives an SQLite');
    checkThrows(function () { db.query(); }, 'Native function format error: SQLite.query(<sql>)', 'query without sql');

    var r = db.query('select 1 as a');
    checkEq(r, [{a: '1'}], 'select 1 as a');
    check(Array.isArray(r), 'the result is an Array');
    checkEq(Object.getPrototypeOf(r[0]), Object.prototype, 'a row is a plain object');
    var d = Object.getOwnPropertyDescriptor(r[0], 'a');
    check(d && d.enumerable && !d.writable && !d.get, 'a column is an enumerable read-only value');
    r[0].a = 'changed';
    checkEq(r[0].a, '1', 'a column cannot be assigned');

    r = db.query('select null as n, 2 as m');
    check(r.length == 1 && 'n' in r[0] && r[0].n === undefined, 'NULL is a property holding undefined');
    checkEq(Object.keys(r[0]), ['n', 'm'], 'columns in their order, NULL included');

    checkEq(db.query('create table t(a); insert into t values(1)'), [], 'two statements, no rows');
    checkEq(db.query('select a from t'), [{a: '1'}], 'both statements ran');
    checkEq(db.query('pragma encoding'), [{encoding: 'UTF-8'}], 'a new file keeps texts as UTF-8');
    checkEq(db.query('select 1 as a; select 2 as b, 3 as c'), [{a: '1'}, {b: '2', c: '3'}],
            'rows of several statements in one array');
    checkEq(db.query('select 1.5 as x, -3 as y, 1e100 as z, 7/2 as w, \'\' as e'),
            [{x: '1.5', y: '-3', z: '1.0e+100', w: '3', e: ''}], 'numbers arrive as their text');
    checkEq(db.query('select 1 as a, 2 as a'), [{a: '2'}], 'a repeated column name keeps the last value');
    // Column names are own data properties whatever they are named, and a
    // leading byte 0xFF makes no hidden key.
    r = db.query('select 1 as "__proto__", 2 as "constructor", 3 as "\xFFkx4.private", \'\xFF\x80\' as "0"');
    checkEq(Object.keys(r[0]), ['0', '__proto__', 'constructor', '\xFFkx4.private'], 'odd column names are plain keys');
    checkEq(Object.getPrototypeOf(r[0]), Object.prototype, '__proto__ as a column leaves the prototype');
    checkEq([r[0].__proto__, r[0]['\xFFkx4.private'], r[0][0]], ['1', '3', '\xFF\x80'], 'their values');
    // An index setter on Array.prototype is not called for the rows (it
    // could close the object inside the query).
    var setterCalls = 0;
    Object.defineProperty(Array.prototype, '0', {set: function () { setterCalls++; db.close(); },
                                                 configurable: true});
    try {
        r = db.query('select 1 as a union all select 2');
    } finally {
        delete Array.prototype[0];
    }
    checkEq([r.length, r[0], r[1], setterCalls], [2, {a: '1'}, {a: '2'}, 0], 'rows are defined, not assigned');
    checkEq(db.query('select * from t where 0'), [], 'no rows');
    checkEq(db.query(''), [], 'empty text');
    checkEq(db.query('-- nothing'), [], 'only a comment');
    // The script's text goes to SQLite byte for byte.
    checkEq(db.query('select \'\xC3\xA9\' as "\xC3\xA9"'), [{'\xC3\xA9': '\xC3\xA9'}], 'UTF-8 names and texts as bytes');

    var errors = [
        ['selec 1', 'near "selec": syntax error'],
        ['select * from nosuch', 'no such table: nosuch'],
        ['insert into t values(1, 2)', 'table t has 1 columns but 2 values were supplied'],
        ['select 1 as a; selec 2', 'near "selec": syntax error'],
    ];
    errors.forEach(function (c) {
        checkThrows(function () { db.query(c[0]); }, sqlError(c[1], c[0]), 'error of ' + show(c[0]));
    });
    // A failing call still ran the statements before the error.
    checkThrows(function () { db.query('insert into t values(2); selec'); }, /^SQL error: /, 'error after an insert');
    checkEq(db.query('select count(*) as n from t'), [{n: '2'}], 'the insert before the error stays');

    checkEq(db.close(), undefined, 'close gives undefined');
    checkEq(db.close(), undefined, 'a second close does nothing');
    checkThrows(function () { db.query('select 1'); }, NOT_INITIALIZED, 'query after close');
    checkThrows(function () { db.query('select 1', []); }, NOT_INITIALIZED, 'bound query after close');
})();

// ---- A file written by Python, and one for Python to read ------------------

(function () {
    // JSON has no undefined: NULL columns come as null.
    var expected = JSON.parse(readText('expected.json')).map(function (row) {
        Object.keys(row).forEach(function (k) { if (row[k] === null) row[k] = undefined; });
        return row;
    });
    var db = new SQLite(path('python.db'));
    checkEq(db.query('select id, t, i, r, n, b from items order by id'), expected,
            'rows of the file Python wrote, byte for byte');
    db.close();

    var w = new SQLite(path('written.db'));
    w.query('create table w(id integer primary key, t text, r real, n, i integer)');
    w.query('insert into w values(1, \'Gr\xC3\xBC\xC3\x9Fe \xE2\x9C\x93\', 2.5, NULL, 42)');
    w.query('insert into w values(?, ?, ?, ?, ?)', [2, 'O\'Brien; drop table w; --', -0.125, null, 4000000000]);
    w.query('insert into w values(?, ?, ?, ?, ?)', [3, 'x\x00y', 1e300, undefined, -1]);
    w.query('insert into w values(?, ?, ?, ?, ?)', [4, '', 0, null, -0 + 0]);
    checkEq(w.query('select t from w where id = 3'), [{t: 'x'}], 'a text with a zero byte reads up to it');
    w.close();
})();

// ---- Files that do not open or do not work --------------------------------

(function () {
    checkThrows(function () { new SQLite(path('no such folder\\x.db')); },
                'Can\'t open database: unable to open database file', 'a path in a missing folder');
    var cases = [
        ['notadb.db', 'select * from sqlite_master', 'file is not a database'],
        ['corrupt.db', 'select count(b) from big', 'database disk image is malformed'],
    ];
    if (envp.KX4_SQLITE_READONLY) cases.push(['readonly.db', 'insert into t values(\'lost\')', 'attempt to write a readonly database']);
    else System.print('the read-only file is writable here: its write is not tested');
    cases.forEach(function (c) {
        var db = new SQLite(path(c[0]));
        checkThrows(function () { db.query(c[1]); }, sqlError(c[2], c[1]), c[0]);
        checkThrows(function () { db.query(c[1], []); }, sqlError(c[2], c[1]), c[0] + ', bound');
        db.close();
    });
    var ro = new SQLite(path('readonly.db'));
    checkEq(ro.query('select a from t'), [{a: 'kept'}], 'a read-only file still reads');
    ro.close();
})();

// ---- Bound parameters ------------------------------------------------------------

(function () {
    var db = new SQLite(':memory:');
    // [params, what select ?, typeof(?) gives]
    var cases = [
        [[1], [{v: '1', t: 'integer'}]],
        [[-1073741824], [{v: '-1073741824', t: 'integer'}]],
        [[4294967296], [{v: '4294967296', t: 'integer'}]],
        [[9007199254740992], [{v: '9007199254740992', t: 'integer'}]],
        [[1e300], [{v: '1.0e+300', t: 'real'}]],
        [[2.5], [{v: '2.5', t: 'real'}]],
        [[-0], [{v: '0.0', t: 'real'}]],
        [[NaN], [{v: undefined, t: 'null'}]],   // SQLite stores NaN as NULL
        [['text'], [{v: 'text', t: 'text'}]],
        [['1'], [{v: '1', t: 'text'}]],
        [[''], [{v: '', t: 'text'}]],
        [['it\'s "quoted"; --'], [{v: 'it\'s "quoted"; --', t: 'text'}]],
        [['\xC3\xA9\xFF\x80'], [{v: '\xC3\xA9\xFF\x80', t: 'text'}]],   // not UTF-8: kept as it is
        [[null], [{v: undefined, t: 'null'}]],
        [[undefined], [{v: undefined, t: 'null'}]],
        [[true], [{v: '1', t: 'integer'}]],
        [[false], [{v: '0', t: 'integer'}]],
        [[{toString: function () { return 'obj'; }}], [{v: 'obj', t: 'text'}]],
    ];
    cases.forEach(function (c) {
        checkEq(db.query('select ? as v, typeof(?1) as t', c[0]), c[1], 'parameter ' + show(c[0][0]));
    });
    var sparse = [];
    sparse[1] = 'b';
    checkEq(db.query('select ? as a, ? as b', sparse), [{a: undefined, b: 'b'}], 'a hole is NULL');
    checkEq(db.query('select ?2 as a, ?1 as b', ['one', 'two']), [{a: 'two', b: 'one'}], 'numbered parameters');
    checkEq(db.query('select 1 as a', []), [{a: '1'}], 'no parameters, empty array');
    checkEq(db.query('select 1 as a', undefined), [{a: '1'}], 'undefined params: a plain query');
    checkEq(db.query('select 1 as a; -- done', []), [{a: '1'}], 'a trailing comment is no statement');
    checkEq(db.query('', []), [], 'empty text with no parameters');

    // The same text again runs with the new values only, also after the
    // table it names changed.
    db.query('create table c(a)');
    [1, 2, 3].forEach(function (v) { db.query('insert into c values(?)', [v]); });
    checkEq([1, 3, 4].map(function (v) { return db.query('select a from c where a = ?', [v]); }),
            [[{a: '1'}], [{a: '3'}], []], 'one text, several values');
    db.query('drop table c; create table c(a, b)');
    checkThrows(function () { db.query('insert into c values(?)', [1]); },
                sqlError('table c has 2 columns but 1 values were supplied', 'insert into c values(?)'),
                'the same text after the table changed');
    checkEq(db.query('select a from c where a = ?', [1]), [], 'a query of the old table sees the new one');

    db.query('create table q(a, b)');
    var bad = [
        ['insert into q values(?, ?)', ['x'], sqlError('1 parameters given, the statement takes 2', 'insert into q values(?, ?)')],
        ['insert into q(a) values(?)', ['x', 'y'], sqlError('2 parameters given, the statement takes 1', 'insert into q(a) values(?)')],
        ['insert into q values(1, 2)', ['x'], sqlError('1 parameters given, the statement takes 0', 'insert into q values(1, 2)')],
        ['', ['x'], sqlError('1 parameters given, the statement takes 0', '')],
        ['insert into q(a) values(?); insert into q(a) values(2)', [1],
         sqlError('only one statement may run with parameters', 'insert into q(a) values(?); insert into q(a) values(2)')],
        ['insert into q values(?', [1], sqlError('incomplete input', 'insert into q values(?')],
        ['insert into q values(?)', 'abc', 'SQLite.query: params must be an array'],
        ['insert into q values(?)', {length: 1, 0: 'x'}, 'SQLite.query: params must be an array'],
        ['insert into q values(?)', null, 'SQLite.query: params must be an array'],
        ['insert into q values(?)', 5, 'SQLite.query: params must be an array'],
        ['insert into q values(?)', new Array(40000),
         sqlError('40000 parameters given, a statement takes at most 32766', 'insert into q values(?)')],
    ];
    bad.forEach(function (c) {
        checkThrows(function () { db.query(c[0], c[1]); }, c[2], 'bound ' + show(c[0]) + ' with ' + show(c[1]));
    });
    checkEq(db.query('select count(*) as n from q'), [{n: '0'}], 'no failed bound call wrote anything');
    db.close();
})();

// ---- Misuse: foreign objects and conversions that throw or close -------------

(function () {
    var query = SQLite.prototype.query, close = SQLite.prototype.close;
    var db = new SQLite(':memory:');
    var foreign = [{}, SQLite.prototype, Object.create(db), new File(), [], function () {}];
    foreign.forEach(function (o, i) {
        checkThrows(function () { query.call(o, 'select 1'); }, NOT_INITIALIZED, 'query on foreign object ' + i);
        checkEq(close.call(o), undefined, 'close on foreign object ' + i);
    });
    checkEq(db.query('select 1 as a'), [{a: '1'}], 'the object still works');

    db.query('create table t(a)');
    checkThrows(function () { db.query(thrower('sql')); }, 'sql', 'sql conversion throws');
    checkThrows(function () { db.query('insert into t values(?)', [thrower('param')]); }, 'param', 'a parameter throws');
    var getterArray = ['ok', 'ok'];
    Object.defineProperty(getterArray, 1, {get: function () { throw new Error('getter'); }});
    checkThrows(function () { db.query('insert into t values(?), (?)', getterArray); }, 'getter', 'an element getter throws');
    checkEq(db.query('select count(*) as n from t'), [{n: '0'}], 'nothing ran after a failed conversion');

    // A conversion that closes the object: the query finds it closed.
    var closing = {toString: function () { db.close(); return 'insert into t values(1)'; }};
    checkThrows(function () { db.query(closing); }, NOT_INITIALIZED, 'sql conversion closes the object');
    var db2 = new SQLite(':memory:');
    db2.query('create table t(a)');
    var closingParam = {toString: function () { db2.close(); return 'x'; }};
    checkThrows(function () { db2.query('insert into t values(?)', [closingParam]); }, NOT_INITIALIZED,
                'parameter conversion closes the object');
})();

// ---- Two objects on one file, and close from another thread -----------------

(function () {
    var a = new SQLite(path('shared.db')), b = new SQLite(path('shared.db'));
    a.query('create table s(v)');
    b.query('insert into s values(\'from b\')');
    checkEq(a.query('select v from s'), [{v: 'from b'}], 'a second object sees the first one\'s table');
    a.close();
    b.close();

    // A long query on one thread while another closes the object: the
    // close waits, the query gives all its rows.
    var db = new SQLite(':memory:');
    var state = {rows: null, error: null, finished: false, closed: false};
    System.createThread(function () {
        try {
            state.rows = db.query('with recursive c(i) as (select 1 union all select i + 1 from c where i < 200000) ' +
                                  'select sum(i) as s from c');
        } catch (e) {
            state.error = String(e.message);
        }
        state.finished = true;
    });
    System.sleep(20);
    db.close();
    state.closed = true;
    check(waitFor(function () { return state.finished; }), 'the query thread finished');
    check(state.error === null ? same(state.rows, [{s: '20000100000'}]) : state.error == NOT_INITIALIZED,
          'a query racing close gives its rows or finds the object closed: ' + show(state));
    checkThrows(function () { db.query('select 1'); }, NOT_INITIALIZED, 'the object is closed afterwards');
})();

done();
