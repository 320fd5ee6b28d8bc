// The HostApi slots as a module uses them: values, text, properties, arrays,
// errors, nested evaluation and memory. The natives of kx4testmod.dll call
// the slots and hand back what they saw.

check(System.loadModule('kx4testmod.dll'), 'the test module loads');
var T = TestModule;

// ---- Making values ---------------------------------------------------------

checkEq(T.emptyString(), '', 'newString with both texts null gives the empty string');
check(T.global() === this, 'getGlobalObject is the global object of the script');
checkEq(Object.getPrototypeOf(T.newObject()), Object.prototype, 'newObject(null) makes a plain Object');
var proto = {inherited: 'yes'};
checkEq(T.newObject(proto).inherited, 'yes', 'newObject(proto) inherits from proto');

// The word tag natives see for each kind of value. -2^30 has no integer word
// (its word would be the one of undefined), so it must travel as a double.
[
    [1, 'int'], [0, 'int'], [-1, 'int'], [1073741823, 'int'], [-1073741823, 'int'],
    [-1073741824, 'double'], [1073741824, 'double'], [0.5, 'double'], [-0, 'double'], [NaN, 'double'],
    ['s', 'string'], ['', 'string'], [true, 'boolean'], [false, 'boolean'], [null, 'null'],
    [undefined, 'void'], [{}, 'object'], [[], 'object'], [function () {}, 'object'],
    [Symbol('sym'), 'object'], [Uint8Array.allocPlain(4), 'object'],
].forEach(function (c) {
    checkEq(T.kindOf(c[0]), c[1], 'word tag of ' + show(c[0]));
});
checkEq(T.kindOf(), 'void', 'a missing argument reads as undefined');

// newNumber: script number -> valueToNumber -> newNumber -> script, with the
// kind of word newNumber chose.
[
    [0, 'int'], [7, 'int'], [-7, 'int'], [1073741823, 'int'], [-1073741823, 'int'],
    [-1073741824, 'double'], [1073741824, 'double'], [2147483647, 'double'], [-2147483648, 'double'],
    [4294967296, 'double'], [0.5, 'double'], [-0, 'double'], [NaN, 'double'], [Infinity, 'double'],
    [-Infinity, 'double'], [1e300, 'double'], [5e-324, 'double'],
].forEach(function (c) {
    checkEq(T.number(c[0]), [c[0], c[1]], 'newNumber round trip of ' + show(c[0]));
});
[['12', 12], [' 3.5 ', 3.5], ['x', NaN], [true, 1], [null, 0], [undefined, NaN], [[], 0], [{}, NaN]]
    .forEach(function (c) {
        checkEq(T.number(c[0])[0], c[1], 'valueToNumber of ' + show(c[0]));
    });
checkEq(T.numbers(), [0, 1, -1, 1073741823, -1073741823, -1073741824, 1073741824, 2147483647, -2147483648,
                      4294967296, 0.5, -2.75, 1e300, 5e-324, -0, NaN, Infinity, -Infinity],
        'numbers made natively reach script unchanged');

// ---- Text ------------------------------------------------------------------

// valueToUCString gives the UTF-16 units (surrogates included, one by one);
// newString(NULL, utext) makes the same string again.
[
    ['', []],
    ['Az', [0x41, 0x7a]],
    ['\u00e9\u00ff', [0xe9, 0xff]],
    ['\u20ac\u4e2d\uffff', [0x20ac, 0x4e2d, 0xffff]],
    ['\ud83d\ude00', [0xd83d, 0xde00]],
    ['lone \udc00 low', [0x6c, 0x6f, 0x6e, 0x65, 0x20, 0xdc00, 0x20, 0x6c, 0x6f, 0x77]],
    ['\ud800', [0xd800]],
].forEach(function (c) {
    checkEq(T.units(c[0]), c[1], 'valueToUCString of ' + show(c[0]));
    checkEq(T.fromUnits(c[1]), c[0], 'newString from UTF-16 units of ' + show(c[0]));
    checkEq(T.length(c[0]), c[0].length, 'valueStringLength of ' + show(c[0]));
});
checkEq(T.units(12.5), [0x31, 0x32, 0x2e, 0x35], 'valueToUCString converts numbers');
checkEq(T.units(null), [0x6e, 0x75, 0x6c, 0x6c], 'valueToUCString converts null');
checkEq(T.length({toString: function () { return 'abc'; }}), 3, 'valueStringLength converts objects');

// ---- Properties ------------------------------------------------------------

[
    [{a: null}, 7, 0, 'null converts to 0'],
    [{}, 7, 7, 'a missing property gives the default'],
    [{a: undefined}, 7, 7, 'undefined gives the default'],
    [{a: '12'}, 7, 12, 'a numeric string converts'],
    [{a: 'x'}, 7, NaN, 'a non-numeric string gives NaN'],
    [{a: true}, 7, 1, 'true converts to 1'],
    [{a: 2.5}, 7, 2.5, 'a double stays'],
    [Object.create({a: 5}), 7, 5, 'an inherited property is read'],
].forEach(function (c) {
    checkEq(T.propertyNumber(c[0], 'a', c[1]), c[2], 'getPropertyNumber: ' + c[3]);
});
var throwingGetter = {};
Object.defineProperty(throwingGetter, 'a', {get: function () { throw new Error('getter'); }});
checkThrows(function () { T.propertyNumber(throwingGetter, 'a', 7); }, 'getter',
            'a getter that throws fails the native even when it returns success');
// kx4ErrorPending: false on entry, true once a conversion has thrown.
[
    [{a: 1}, 0, 'a plain read leaves nothing pending'],
    [throwingGetter, 1, 'a throwing getter leaves its error pending'],
].forEach(function (c) {
    try { T.readThenAskPending(c[0], 'a'); } catch (e) {}
    checkEq(T.lastPending(), c[1], c[2]);
});

[
    [{}, 'default text', true, 'default \u20ac', true, 'missing'],
    [{s: undefined}, 'default text', true, 'default \u20ac', true, 'undefined'],
    [{s: 'abc'}, 'abc', false, 'abc', false, 'a string'],
    [{s: null}, 'null', false, 'null', false, 'null'],
    [{s: 12.5}, '12.5', false, '12.5', false, 'a number'],
    [{s: ''}, '', false, '', false, 'the empty string'],
    [{s: '\u20ac\u00e9'}, '\u00ac\u00e9', false, '\u20ac\u00e9', false, 'text beyond Latin-1 (8-bit keeps low bytes)'],
].forEach(function (c) {
    var r = T.propertyStrings(c[0], 's');
    checkEq([r.text, r.textIsDefault, r.utext, r.utextIsDefault], [c[1], c[2], c[3], c[4]],
            'getPropertyString/getPropertyUCString of ' + c[5]);
});

var holder = {child: {x: 1}};
check(T.property(holder, 'child') === holder.child, 'getPropertyValue gives the same object');
checkEq(T.property(holder, 'nothing'), undefined, 'getPropertyValue of a missing property is undefined');

// enumerateValues: own enumerable values in order, then the terminator.
var hidden = {a: 1};
Object.defineProperty(hidden, 'h', {value: 2, enumerable: false});
[
    [{}, [], 'an empty object gives only the terminator'],
    [{a: 1, b: 'x'}, [1, 'x'], '{a:1, b:"x"} gives its values in order'],
    [['p', 'q'], ['p', 'q'], 'an array gives its elements'],
    [hidden, [1], 'non-enumerable properties are left out'],
    [Object.create({inherited: 1}), [], 'inherited properties are left out'],
    [{a: 1, u: undefined, c: 3}, [1], 'an undefined value reads as the terminator'],
].forEach(function (c) {
    var keysBefore = Object.getOwnPropertyNames(c[0]);
    checkEq(T.enumerateValues(c[0]), c[1], 'enumerateValues: ' + c[2]);
    checkEq(Object.getOwnPropertyNames(c[0]), keysBefore, 'enumerateValues leaves the object alone: ' + c[2]);
});
var shared = {k: 1};
check(T.enumerateValues({o: shared})[0] === shared, 'enumerateValues gives the objects themselves');

// defineProperty attributes: 1 enumerable, 2 read-only, 4 permanent.
[0, 1, 2, 3, 4, 5, 6, 7].forEach(function (attrs) {
    var o = {};
    var what = 'defineProperty with attributes ' + attrs;
    check(T.define(o, 'p', 'v', attrs), what + ' succeeds');
    checkEq(Object.keys(o).indexOf('p') >= 0, !!(attrs & 1), what + ': enumerable');
    o.p = 'changed';
    checkEq(o.p, attrs & 2 ? 'v' : 'changed', what + ': assignment');
    var strictThrew = false;
    try {
        (function () { 'use strict'; o.p = 'strict'; })();
    } catch (e) {
        strictThrew = e instanceof TypeError;
    }
    checkEq(strictThrew, !!(attrs & 2), what + ': strict assignment throws exactly when read-only');
    checkEq(delete o.p, !(attrs & 4), what + ': delete');
    checkEq('p' in o, !!(attrs & 4), what + ': still there after delete');
});
var redefined = {p: 1};
check(T.define(redefined, 'p', 2, 3), 'defineProperty replaces an existing property');
checkEq(Object.getOwnPropertyDescriptor(redefined, 'p'),
        {value: 2, writable: false, enumerable: true, configurable: true}, 'the replaced property');

// Accessors: the native getter and setter run with the value.
var acc = {};
check(T.defineAccessor(acc, 'n', 1), 'defineProperty with a getter and a setter');
var reads = T.accessorReads();
acc.n = 21;
checkEq(acc.n, 21, 'the setter stored what the getter reads');
checkEq(T.accessorReads() - reads, 1, 'the getter ran once per read');
checkThrows(function () { acc.n = -1; }, 'TestModule accessor: -1 is negative',
            'an error a setter reports reaches the script');
checkEq(acc.n, 21, 'a failed set changes nothing');
var readOnlyAcc = {};
T.defineAccessor(readOnlyAcc, 'n', 3);
readOnlyAcc.n = 5;
checkEq(readOnlyAcc.n, 21, 'a read-only accessor has no setter');
checkEq(Object.keys(readOnlyAcc), ['n'], 'an enumerable accessor enumerates');

// ---- Arrays ----------------------------------------------------------------

var element = {k: 1};
var copy = T.copyArray([1, 'two', null, element, 2.5], 'end');
checkEq(copy, [1, 'two', null, element, 2.5, 'end'], 'getElement/newArray/setElement copy an array');
check(copy[3] === element, 'array elements keep their identity');
checkEq(T.copyArray([], 'only'), ['only'], 'setElement extends an empty array');
check(Array.isArray(copy), 'newArray makes a real array');
checkEq(T.arrayLength([1, 2, 3]), 3, 'getArrayLength of an array');
var sparse = [];
sparse[9] = 1;
checkEq(T.arrayLength(sparse), 10, 'getArrayLength of a sparse array');
checkEq(T.arrayLength({length: 2}), false, 'getArrayLength refuses a non-array');
var blank = T.newArray(4);
checkEq([blank.length, 0 in blank, Array.isArray(blank)], [4, false, true], 'newArray(4, null) has 4 holes');
checkEq(T.newArray(0), [], 'newArray(0, null) is empty');

// ---- Errors ----------------------------------------------------------------

var e = checkThrows(function () { T.fail('boom'); }, 'boom', 'reportError from a native throws its message');
check(e instanceof Error, 'the reported error is an Error');
checkThrows(function () { T.fail('count', 42); }, 'count #42', 'reportError formats its arguments');
checkThrows(function () { T.fail('100% %s %d sure'); }, '100% %s %d sure', 'a message is not a format');
checkThrows(function () { T.nestedRequest(); },
            'Native function format error: TestModule.nestedRequest(<source>, [useKept])',
            'a module native checks its arguments like the host');
e = checkThrows(function () { System.evaluate('native-error.js', '\n\nTestModule.fail("blame")'); }, 'blame',
                'an error reported inside evaluated text');
checkEq([e.fileName, e.lineNumber], ['native-error.js', 3], 'the error names the calling script and line');
var caught = '';
try {
    T.fail('caught here');
} catch (x) {
    caught = x.message;
}
checkEq(caught, 'caught here', 'try/catch catches an error reported by a native');

// ---- Evaluation inside a native --------------------------------------------

checkEq(T.evaluate('1 + 2'), 3, 'evaluateScript gives the completion value');
checkEq(T.evaluate('({a: [1, 2]})').a, [1, 2], 'evaluateScript gives objects');
checkEq(T.evaluate('this === TestModule.global()'), true, 'nested text runs against the global object');
T.evaluate('var definedByNestedText = "here"');
checkEq(definedByNestedText, 'here', 'nested text defines globals');
checkThrows(function () { T.evaluate('throw new TypeError("t")'); }, TypeError,
            'a failed evaluation leaves its exception pending and the native throws it');
checkThrows(function () { T.evaluate('throw 7'); }, '7', 'a thrown number propagates');
checkEq(function () { try { T.evaluate('throw 7'); } catch (x) { return x; } }(), 7, 'the number itself propagates');
checkThrows(function () { T.evaluate('this is not a program'); }, SyntaxError, 'a syntax error propagates');
e = checkThrows(function () { T.evaluate('\nnull.f()', 'where.js'); }, TypeError, 'a runtime error propagates');
checkEq([e.fileName, e.lineNumber], ['where.js', 2], 'the error names the nested file and line');
checkThrows(function () { T.evaluate('TestModule.evaluate("throw 8")'); }, '8',
            'an exception crosses two nested evaluations');
checkEq(T.evaluate('try { TestModule.fail("inner"); } catch (x) { "caught " + x.message }'), 'caught inner',
        'nested text catches a native error');
checkThrows(function () { T.evaluateAndIgnore('throw 9'); }, '9',
            'a failed evaluation is thrown even when its native goes on and succeeds');
checkEq(T.evaluateAndIgnore('4 * 4'), 16, 'and evaluate again');
checkThrows(function () { T.fail('fresh'); }, 'fresh', 'a thrown exception does not come back later');

function recurse() { return T.evaluate('recurse()'); }
checkThrows(recurse, RangeError, 'endless recursion through a native gives a catchable RangeError');

var manyArgs = [];
for (var n = 0; n < 5000; n++) manyArgs.push(n % 2 ? 'odd' : 0.5);
checkEq(T.kindOf.apply(null, manyArgs), 'double', 'a native called with 5000 arguments');

// ---- Memory ----------------------------------------------------------------

[0, 1, 4096, 1 << 20].forEach(function (size) {
    checkEq(T.alloc(size), true, 'allocMemory/freeMemory of ' + size + ' bytes');
});
checkThrows(function () { T.alloc(40 * 1024 * 1024); }, Error, 'allocMemory past the heap limit fails catchably');
checkEq(T.alloc(1 << 20), true, 'allocMemory works again afterwards');

done();
