// System.getRegistry, enumRegistry, setRegistry and delRegistry from script.
// Everything this run writes lies below keys named after the run (process id
// and time), so runs never meet, and is removed at the end, also after a
// failure. The markers of the root-name checks sit directly below each of the
// five roots, which only wine lets an ordinary user write.

var HKCU = 'HKEY_CURRENT_USER', HKLM = 'HKEY_LOCAL_MACHINE';
var id = 'kx4-test-' + System.getPID() + '-' + Date.now();
var base = 'Software\\' + id;
var roots = ['HKEY_CLASSES_ROOT', HKCU, HKLM, 'HKEY_USERS', 'HKEY_CURRENT_CONFIG'];

function req(root, path, fields) {
    var r = {root: root, path: path};
    for (var name in fields) r[name] = fields[name];
    return r;
}
function get(root, path, key, def) {
    return System.getRegistry(req(root, path, {key: key, def: def}));
}
function set(root, path, key, value) {
    return System.setRegistry(req(root, path, {key: key, value: value}));
}

// Deletes a key and everything below it (delRegistry takes one leaf key).
function removeTree(root, path) {
    var subKeys = System.enumRegistry({root: root, path: path});
    if (!subKeys) return;
    subKeys.forEach(function (name) { removeTree(root, path + '\\' + name); });
    System.delRegistry({root: root, path: path});
}

// n characters of varied text, so that a cut, shift or doubled piece shows.
function text(n) {
    var s = '';
    for (var i = 0; i < n; i++) s += i % 3 ? String.fromCharCode(0x61 + i % 26) : String.fromCharCode(0x4e00 + i % 997);
    return s;
}

function argumentErrors() {
    var undefinedRecord = 'System: regRequest is undefined';
    function formatError(name) { return 'Native function format error: System.' + name + '(<regRequest>)'; }
    var cases = [
        // get and enum need their argument; set and del take a missing one for undefined.
        ['getRegistry', [], formatError('getRegistry')],
        ['enumRegistry', [], formatError('enumRegistry')],
        ['setRegistry', [], undefinedRecord],
        ['delRegistry', [], undefinedRecord],
    ];
    ['getRegistry', 'enumRegistry', 'setRegistry', 'delRegistry'].forEach(function (name) {
        cases.push([name, [undefined], undefinedRecord]);
        cases.push([name, [undefined, {root: HKCU, path: base}], undefinedRecord]);
        // Anything else that is not an object is no record either.
        cases.push([name, [null], formatError(name)]);
        cases.push([name, [HKCU], formatError(name)]);
        cases.push([name, [5], formatError(name)]);
    });
    cases.forEach(function (c) {
        var what = 'System.' + c[0] + '(' + c[1].map(show).join(', ') + ')';
        var e = checkThrows(function () { System[c[0]].apply(System, c[1]); }, c[2], what);
        if (e) check(e instanceof Error, what + ' throws an Error');
    });
    // None of the failed writes reached the registry.
    checkEq(System.enumRegistry({root: HKCU, path: base}), undefined, 'failed calls create nothing');
}

function roundTrips(root) {
    var path = base + '\\values';
    var values = [
        ['one character', 'x'],
        ['plain', 'hello, registry'],
        ['Latin-1', 'caf\u00e9 \u00ff\u00a0'],
        // The first character's low byte is zero: a zero first byte is no empty value.
        ['CJK first', '\u4e00\u4e8c\u4e09'],
        ['U+0100 first', '\u0100x'],
        ['surrogate pair', '\ud83d\ude00!'],
        ['backslashes', 'C:\\Program Files\\kx4\\'],
        ['spaces kept', '  padded  '],
        ['quotes and percent', '"%PATH%" \'x\''],
        // 2047 characters and a terminator fill 4096 bytes exactly.
        ['2047 characters', text(2047)],
        ['2048 characters', text(2048)],
        ['2049 characters', text(2049)],
        ['100000 characters', text(100000)],
    ];
    values.forEach(function (v, i) {
        checkEq(set(root, path, 'v' + i, v[1]), undefined, root + ': setRegistry gives undefined');
    });
    values.forEach(function (v, i) {
        checkEq(get(root, path, 'v' + i, 'DEF'), v[1], root + ': ' + v[0] + ' reads back');
    });

    // One name written again and again: each read gives the latest value
    // whole, never the tail of a longer earlier one.
    [['short'], [text(5000)], ['mid value'], ['', 'DEF'], [text(3000)], ['y']].forEach(function (step) {
        set(root, path, 'again', step[0]);
        checkEq(get(root, path, 'again', 'DEF'), step.length > 1 ? step[1] : step[0],
                root + ': rewritten value of ' + step[0].length + ' characters reads back');
    });

    // The value's name and the key path in non-ASCII text.
    var wide = base + '\\sch\u00f6n \u4e00\u0100';
    set(root, wide, 'n\u00e4me \u4e8c', 'v\u00e4lue \u4e09');
    checkEq(get(root, wide, 'n\u00e4me \u4e8c', 'DEF'), 'v\u00e4lue \u4e09', root + ': non-ASCII path and name');
    checkEq(System.enumRegistry({root: root, path: base}).indexOf('sch\u00f6n \u4e00\u0100') >= 0, true,
            root + ': the non-ASCII key is listed by its name');
}

function valueRules() {
    var path = base + '\\rules';
    // An empty value is stored but reads as the default; so does a value
    // that starts with a zero character. A value ends at its first zero.
    var cases = [
        // name, request fields, expected read with def 'DEF'
        ['empty value', {value: ''}, 'DEF'],
        ['value missing', {}, 'DEF'],
        ['value up to its zero', {value: 'ab\u0000cd'}, 'ab'],
        ['zero first', {value: '\u0000x'}, 'DEF'],
        ['number', {value: 42}, '42'],
        ['boolean', {value: true}, 'true'],
    ];
    cases.forEach(function (c, i) {
        c[1].key = 'r' + i;
        System.setRegistry(req(HKCU, path, c[1]));
        checkEq(get(HKCU, path, 'r' + i, 'DEF'), c[2], 'setRegistry with ' + c[0]);
    });

    // Defaults of the read: def missing gives '', a non-string def its text.
    checkEq(System.getRegistry({root: HKCU, path: base, key: 'none'}), '', 'a missing value without def reads ""');
    checkEq(System.getRegistry({root: HKCU, path: base + '\\no\\such\\key', key: 'v', def: 'none'}), 'none',
            'a missing key reads as def');
    checkEq(get(HKCU, base, 'none', 7), '7', 'a number def reads as its text');

    // An empty or missing name is the key's default value.
    set(HKCU, path, '', 'the default');
    checkEq(System.getRegistry({root: HKCU, path: path}), 'the default', 'key missing reads the default value');
    System.setRegistry({root: HKCU, path: path, value: 'default again'});
    checkEq(get(HKCU, path, '', 'DEF'), 'default again', 'key missing writes the default value');
}

function keyCreation() {
    // setRegistry creates every missing key on the way.
    var deep = base + '\\a\\b\\c';
    set(HKCU, deep, 'leaf', 'deep');
    checkEq(get(HKCU, deep, 'leaf', 'DEF'), 'deep', 'a value three new keys down reads back');
    checkEq([System.enumRegistry({root: HKCU, path: base + '\\a'}),
             System.enumRegistry({root: HKCU, path: base + '\\a\\b'}),
             System.enumRegistry({root: HKCU, path: deep})],
            [['b'], ['c'], []], 'the keys on the way were created');
}

function enumeration() {
    var path = base + '\\enum';
    var created = ['delta', 'Alpha', 'charlie', 'Bravo', '\u00e9cho', 'echo 2'];
    created.forEach(function (name) { set(HKCU, path + '\\' + name, 'v', 'x'); });
    set(HKCU, path, 'a value', 'not a key');
    set(HKCU, path, '', 'the default value');
    // The registry's own order: case-insensitive by name. Values are not listed.
    checkEq(System.enumRegistry({root: HKCU, path: path}),
            ['Alpha', 'Bravo', 'charlie', 'delta', 'echo 2', '\u00e9cho'],
            'sub-keys in the registry\'s order, values left out');
    var e = System.enumRegistry({root: HKCU, path: path + '\\Alpha'});
    check(e instanceof Array, 'a key without sub-keys gives an array');
    checkEq(e, [], 'and the array is empty');
    checkEq(System.enumRegistry({root: HKCU, path: path + '\\missing'}), undefined, 'a missing key gives undefined');
    // The root by default is HKEY_LOCAL_MACHINE; an empty path is the root itself.
    var software = System.enumRegistry({path: 'Software'});
    check(software && software.indexOf('Microsoft') >= 0 && software.indexOf(id) >= 0,
          'enumRegistry({path: "Software"}) lists HKEY_LOCAL_MACHINE\\Software');
    check(System.enumRegistry({root: HKCU}).indexOf('Software') >= 0, 'an empty path lists the root\'s keys');
}

function deletion() {
    var path = base + '\\del';
    set(HKCU, path, 'one', '1');
    set(HKCU, path, 'two', '2');
    set(HKCU, path + '\\child', 'c', 'child value');

    checkEq(System.delRegistry({root: HKCU, path: path, key: 'one'}), undefined, 'delRegistry gives undefined');
    checkEq([get(HKCU, path, 'one', 'gone'), get(HKCU, path, 'two', 'gone')], ['gone', '2'],
            'with key set, that value goes and the others stay');
    checkEq(System.enumRegistry({root: HKCU, path: path}), ['child'], 'and the key stays');

    System.delRegistry({root: HKCU, path: path});
    checkEq([System.enumRegistry({root: HKCU, path: path}), get(HKCU, path, 'two', 'gone')], [['child'], '2'],
            'a key with a sub-key is not deleted');
    System.delRegistry({root: HKCU, path: path + '\\child'});
    checkEq(System.enumRegistry({root: HKCU, path: path}), [], 'a key without sub-keys is deleted (with its values)');
    checkEq(get(HKCU, path + '\\child', 'c', 'gone'), 'gone', 'the deleted key\'s values are gone');
    System.delRegistry({root: HKCU, path: path, key: ''});
    checkEq(System.enumRegistry({root: HKCU, path: path}), undefined, 'an empty key name deletes the key');

    // Deleting what is not there changes nothing and reports nothing.
    checkEq(checkNoThrow(function () { return System.delRegistry({root: HKCU, path: path, key: 'one'}); },
                         'deleting a value of a missing key'), undefined, 'gives undefined');
    checkEq(checkNoThrow(function () { return System.delRegistry({root: HKCU, path: path}); },
                         'deleting a missing key'), undefined, 'gives undefined');
    set(HKCU, base + '\\del2', 'keep', 'k');
    System.delRegistry({root: HKCU, path: base + '\\del2', key: 'missing'});
    checkEq(get(HKCU, base + '\\del2', 'keep', 'gone'), 'k', 'deleting a missing value leaves the others');
}

function rootNames() {
    // A marker per root, at the same path, tells which root a name selected.
    roots.forEach(function (root) { set(root, id, 'which', root); });
    roots.forEach(function (root) {
        checkEq(get(root, id, 'which', 'none'), root, root + ' holds its marker');
    });
    var none = 'none';
    var cases = [
        // root text, root selected
        [HKCU, HKCU],
        ['HKEY_CURRENT_USER\\', HKCU],
        ['\\\\HKEY_CURRENT_USER\\Software', HKCU],
        [undefined, HKLM],
        ['HKEY_CLASSES_ROOT', 'HKEY_CLASSES_ROOT'],
        ['HKEY_USERS', 'HKEY_USERS'],
        ['HKEY_CURRENT_CONFIG', 'HKEY_CURRENT_CONFIG'],
        ['my HKEY_USERS key', 'HKEY_USERS'],
        // Two names: the one tried first wins, not the one written first.
        ['HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER', HKCU],
        ['HKEY_CURRENT_CONFIG, HKEY_USERS', 'HKEY_USERS'],
        ['HKEY_USERS HKEY_CLASSES_ROOT', 'HKEY_CLASSES_ROOT'],
        // Case matters, and nothing short of the full name matches.
        ['hkey_current_user', none],
        ['Hkey_Local_Machine', none],
        ['HKCU', none],
        ['HKLM', none],
        ['HKEY_CURRENT_USE', none],
        ['', none],
        [5, none],
        [null, none],
    ];
    cases.forEach(function (c) {
        var what = 'root ' + show(c[0]);
        var r = req(c[0], id, {key: 'which', def: none});
        if (c[0] === undefined) delete r.root;
        checkEq(System.getRegistry(r), c[1], what + ' selects ' + c[1]);
        if (c[1] == none) {
            checkEq(System.enumRegistry(req(c[0], '')), undefined, what + ': enumRegistry gives undefined');
            // Writing and deleting through no root change nothing anywhere.
            checkEq(System.setRegistry(req(c[0], id, {key: 'which', value: 'changed'})), undefined,
                    what + ': setRegistry gives undefined');
            checkEq(System.delRegistry(req(c[0], id, {key: 'which'})), undefined,
                    what + ': delRegistry gives undefined');
            System.delRegistry(req(c[0], id));
            checkEq(roots.map(function (root) { return get(root, id, 'which', 'gone'); }), roots,
                    what + ': every marker is unchanged');
        }
    });
    // Writing and deleting go through the same rule.
    set('HKEY_CURRENT_USER\\', id, 'which', 'through the suffixed name');
    checkEq(get(HKCU, id, 'which', 'none'), 'through the suffixed name', 'setRegistry with a suffixed root name');
    System.delRegistry({root: 'x HKEY_CURRENT_USER x', path: id, key: 'which'});
    checkEq(get(HKCU, id, 'which', 'gone'), 'gone', 'delRegistry with a surrounded root name');
}

// A field whose getter or conversion throws makes the call throw that error
// and touch nothing. Gone on with "" in its place, a throwing path would
// have written or deleted at the root of HKEY_CURRENT_USER, a throwing key
// would have deleted the whole key, a throwing value stored "".
var markerName = id + '-marker';
function throwingFields() {
    var path = base + '\\throwing';
    var tag = 'field failed';
    function state() {
        return [get(HKCU, path, markerName, 'none'), get(HKCU, '', markerName, 'none'),
                get(HKCU, path, '', 'none'), get(HKLM, path, markerName, 'none'),
                System.enumRegistry({root: HKCU, path: base}).indexOf('throwing') >= 0];
    }
    set(HKCU, path, markerName, 'before');
    set(HKCU, '', markerName, 'at the root');
    var before = state();
    checkEq(before, ['before', 'at the root', 'none', 'none', true], 'the markers are in place');
    throwingRecords({root: HKCU, path: path, key: markerName, value: 'written'}, tag).forEach(function (c) {
        checkThrows(function () { System.setRegistry(c[1]); }, tag, 'setRegistry: ' + c[0]);
    });
    checkEq(state(), before, 'the failed setRegistry calls wrote nothing');
    throwingRecords({root: HKCU, path: path, key: markerName}, tag).forEach(function (c) {
        checkThrows(function () { System.delRegistry(c[1]); }, tag, 'delRegistry: ' + c[0]);
    });
    checkEq(state(), before, 'the failed delRegistry calls deleted nothing');
    throwingRecords({root: HKCU, path: path, key: markerName, def: 'd'}, tag).forEach(function (c) {
        checkThrows(function () { System.getRegistry(c[1]); }, tag, 'getRegistry: ' + c[0]);
    });
    throwingRecords({root: HKCU, path: path}, tag).forEach(function (c) {
        checkThrows(function () { System.enumRegistry(c[1]); }, tag, 'enumRegistry: ' + c[0]);
    });
}

function cleanUp() {
    System.delRegistry({root: HKCU, path: '', key: markerName});
    removeTree(HKCU, base);
    removeTree(HKLM, base);
    roots.forEach(function (root) { removeTree(root, id); });
}

try {
    argumentErrors();
    [HKCU, HKLM].forEach(roundTrips);
    valueRules();
    keyCreation();
    enumeration();
    deletion();
    rootNames();
    throwingFields();
} finally {
    cleanUp();
}
checkEq([HKCU, HKLM].map(function (root) { return System.enumRegistry({root: root, path: base}); }),
        [undefined, undefined],
        'the test keys are gone');
checkEq(roots.map(function (root) { return System.enumRegistry({root: root, path: id}); }),
        roots.map(function () { return undefined; }), 'the marker keys are gone');
done();
