// Byte strings: binary data crosses the host table one byte per character,
// codes 0 to 255, both ways, without loss.

check(System.loadModule('kx4testmod.dll'), 'the test module loads');
var T = TestModule;

var allBytes = [];
for (var i = 0; i < 256; i++) allBytes.push(i);

function codes(s) {
    var out = [];
    for (var i = 0; i < s.length; i++) out.push(s.charCodeAt(i));
    return out;
}

// Native to script: newStringN.
var made = T.fromBytes(allBytes);
checkEq(typeof made, 'string', 'newStringN of all 256 byte values makes a string');
checkEq(codes(made), allBytes, 'newStringN: each byte becomes the character of that code');

// Every byte value alone, and leading a longer string: the engine must never
// take a leading byte for a marker of its own (such strings turn into
// something that is not a string).
var wrongAlone = [], wrongLeading = [];
allBytes.forEach(function (b) {
    var one = T.fromBytes([b]);
    if (typeof one != 'string' || one.length != 1 || one.charCodeAt(0) != b) wrongAlone.push(b);
    var three = T.fromBytes([b, 0x41, b]);
    if (typeof three != 'string' || !same(codes(three), [b, 0x41, b])) wrongLeading.push(b);
});
checkEq(wrongAlone, [], 'one-byte strings of every byte value');
checkEq(wrongLeading, [], 'strings led by every byte value');

// Script to native: valueToString and valueStringLength.
var script = String.fromCharCode.apply(null, allBytes);
checkEq(T.byteValues(script), allBytes, 'valueToString gives the low byte of every character 0-255');
checkEq(T.length(script), 256, 'valueStringLength counts characters');
checkEq(T.byteValues(made), allBytes, 'a string made from bytes gives the same bytes back');

// The two-byte case with a NUL and a high byte.
var nulFF = T.fromBytes([0x00, 0xff]);
checkEq([nulFF.length, T.length(nulFF)], [2, 2], 'newStringN of 00 FF has length 2');
checkEq(T.byteValues(nulFF), [0x00, 0xff], 'valueToString of it gives 00 FF');

// Characters above 255 narrow to their low byte (surrogates unit by unit).
checkEq(T.byteValues('\u0141\u20ac\ud83d\ude00'), [0x41, 0xac, 0x3d, 0x00],
        'characters above 255 keep their low byte');

// Property names are 8-bit text too.
var named = {};
T.define(named, '\u00e9t\u00e9\u00ff', 5, 1);
checkEq(named['\u00e9t\u00e9\u00ff'], 5, 'defineProperty with a name of high bytes');
checkEq(T.propertyNumber(named, '\u00e9t\u00e9\u00ff', 0), 5, 'getPropertyNumber with a name of high bytes');

// 1 MiB of random bytes, both directions. The generator (xorshift32, low
// byte) and the hash (h * 31 + b mod 2^32) are the module's.
var MiB = 1 << 20;

function generator(seed) {
    var x = seed >>> 0;
    return function () {
        x = (x ^ (x << 13)) >>> 0;
        x = (x ^ (x >>> 17)) >>> 0;
        x = (x ^ (x << 5)) >>> 0;
        return x & 0xff;
    };
}

function hashOf(s) {
    var h = 0;
    for (var i = 0; i < s.length; i++) h = (h * 31 + (s.charCodeAt(i) & 0xff)) % 4294967296;
    return h;
}

var random = T.randomBytes(MiB, 12345);
checkEq(random.length, MiB, '1 MiB of random bytes from native code has 1 Mi characters');
var next = generator(12345), firstWrong = -1;
for (i = 0; i < random.length; i++) {
    if (random.charCodeAt(i) !== next()) {
        firstWrong = i;
        break;
    }
}
checkEq(firstWrong, -1, 'every random byte arrives as its character');
checkEq(T.hash(random), [MiB, hashOf(random)], 'the same bytes go back to native code unchanged');

// Built in script (in 1 KiB pieces to stay small), read by native code.
next = generator(777);
var pieces = [];
for (var k = 0; k < 1024; k++) {
    var piece = [];
    for (var j = 0; j < 1024; j++) piece.push(next());
    pieces.push(String.fromCharCode.apply(null, piece));
}
var built = pieces.join('');
pieces = null;
checkEq(T.hash(built), [MiB, hashOf(built)], '1 MiB of random characters built in script reach native code as bytes');
check(T.hash(built)[1] !== T.hash(random)[1], 'the two random strings differ (the hash sees content)');

done();
