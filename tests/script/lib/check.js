// check.js: the assertion helpers every test script uses. Load it first:
//   kx4test.exe lib/check.js some_test.js
// A script ends with done(), which prints "N passed, M failed" and exits
// with 0 only when nothing failed (and something was checked).

var checkResults = {passed: 0, failed: 0};

// Script source of a value, for messages (strings quoted, -0 kept).
function show(v) {
    if (typeof v == 'string') return JSON.stringify(v);
    if (typeof v == 'number' && v === 0 && 1 / v < 0) return '-0';
    if (v && typeof v == 'object' && !(v instanceof Error)) {
        try { return JSON.stringify(v); } catch (e) { /* cyclic: fall through */ }
    }
    return String(v);
}

// Same value: NaN equals NaN, 0 and -0 differ; arrays and plain objects
// compare member by member.
function same(a, b) {
    if (a !== a) return b !== b;
    if (a === 0 && b === 0) return 1 / a === 1 / b;
    if (a === b) return true;
    if (!a || !b || typeof a != 'object' || typeof b != 'object') return false;
    if (Object.prototype.toString.call(a) != Object.prototype.toString.call(b)) return false;
    var ka = Object.keys(a), kb = Object.keys(b);
    if (ka.length != kb.length || (a instanceof Array && a.length != b.length)) return false;
    for (var i = 0; i < ka.length; i++) {
        if (!Object.prototype.hasOwnProperty.call(b, ka[i]) || !same(a[ka[i]], b[ka[i]])) return false;
    }
    return true;
}

function pass() {
    checkResults.passed++;
}

function fail(what, detail) {
    checkResults.failed++;
    System.print('FAIL ' + what + (detail ? ': ' + detail : ''));
}

function check(cond, what) {
    if (cond) pass();
    else fail(what);
    return !!cond;
}

function checkEq(actual, expected, what) {
    if (same(actual, expected)) {
        pass();
        return true;
    }
    fail(what, 'got ' + show(actual) + ', expected ' + show(expected));
    return false;
}

// fn must throw. expected: a message text (compared with e.message, or with
// String(e) for a thrown non-Error), a RegExp (tested the same way), a
// constructor (instanceof), or null for anything. Returns the exception.
function checkThrows(fn, expected, what) {
    var thrown = false, e;
    try {
        fn();
    } catch (x) {
        thrown = true;
        e = x;
    }
    if (!thrown) {
        fail(what, 'nothing was thrown');
        return undefined;
    }
    var text = e instanceof Error ? String(e.message) : String(e);
    var ok = expected == null ||
        (typeof expected == 'string' && text === expected) ||
        (expected instanceof RegExp && expected.test(text)) ||
        (typeof expected == 'function' && !(expected instanceof RegExp) && e instanceof expected);
    if (ok) pass();
    else fail(what, 'threw ' + show(e instanceof Error ? e.name + ': ' + text : e) + ', expected ' +
              (typeof expected == 'function' ? expected.name : show(expected)));
    return e;
}

// fn must not throw; returns its result.
function checkNoThrow(fn, what) {
    try {
        var result = fn();
        pass();
        return result;
    } catch (e) {
        fail(what, 'threw ' + show(e instanceof Error ? e.name + ': ' + e.message : e));
        return undefined;
    }
}

// Waits, sleeping between looks, until cond() holds; gives up after a
// generous limit so a broken build fails instead of hanging. Not a timing
// assertion: a correct build gets there long before the limit.
function waitFor(cond, limitMs) {
    var end = Date.now() + (limitMs || 20000);
    while (!cond()) {
        if (Date.now() > end) return false;
        System.sleep(2);
    }
    return true;
}

// A value whose conversion throws Error(tag), as text (toString) and as a
// number (valueOf).
function thrower(tag) {
    function fail() { throw new Error(tag); }
    return {toString: fail, valueOf: fail};
}

// The record `fields` once for each of its fields that a native reads, with
// that field made to throw Error(tag): as a thrower value and as a getter.
// Gives [description, record, field] triples.
function throwingRecords(fields, tag) {
    var records = [];
    Object.keys(fields).forEach(function (name) {
        var withValue = {}, withGetter = {};
        Object.keys(fields).forEach(function (k) { withValue[k] = withGetter[k] = fields[k]; });
        withValue[name] = thrower(tag);
        delete withGetter[name];
        Object.defineProperty(withGetter, name, {get: function () { throw new Error(tag); }, enumerable: true});
        records.push([name + ' converts with a throw', withValue, name]);
        records.push([name + ' getter throws', withGetter, name]);
    });
    return records;
}

function done() {
    var total = checkResults.passed + checkResults.failed;
    if (total == 0) fail('done', 'nothing was checked');
    System.print(checkResults.passed + ' passed, ' + checkResults.failed + ' failed');
    System.exit(checkResults.failed ? 1 : 0);
}
