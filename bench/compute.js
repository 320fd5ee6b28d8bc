// Fixed script kernels, each timed inside the script: the same file runs
// under kx4 (kx4test.exe compute.js) and under cscript.exe, so both engines
// do exactly the same work. Plain ES3, since cscript's engine is.
// Prints "kernel <name> <median ms>" lines, then "total <ms>".
var print = typeof System != 'undefined' ? function (s) { System.print(s); }
                                         : function (s) { WScript.Echo(s); };
var ROUNDS = 5;

function now() { return new Date().getTime(); }

function median(a) {
    a.sort(function (x, y) { return x - y; });
    return a.length % 2 ? a[(a.length - 1) / 2] : (a[a.length / 2 - 1] + a[a.length / 2]) / 2;
}

function fib(n) { return n < 2 ? n : fib(n - 1) + fib(n - 2); }

var kernels = [
    ['fib(24)', function () {
        if (fib(24) != 46368) throw new Error('fib');
    }],
    ['array 200k push+read', function () {
        var a = [], sum = 0, i;
        for (i = 0; i < 200000; i++) a.push(i);
        for (i = 0; i < a.length; i++) sum += a[i];
        if (sum != 19999900000) throw new Error('array');
    }],
    ['string 20k appends', function () {
        var s = '';
        for (var i = 0; i < 20000; i++) s += 'line ' + i + '\n';
        if (s.length != 208890) throw new Error('string ' + s.length);
    }],
    ['object 50k keys+for-in', function () {
        var o = {}, n = 0, k;
        for (var i = 0; i < 50000; i++) o['key' + i] = i;
        for (k in o) n += o[k];
        if (n != 1249975000) throw new Error('object');
    }],
    ['join/split 20k lines', function () {
        var lines = [];
        for (var i = 0; i < 20000; i++) lines.push('name' + i + ';value' + i);
        var parts = lines.join('\n').split('\n');
        if (parts.length != 20000 || parts[19999] != 'name19999;value19999') throw new Error('split');
    }],
    ['regex 20k matches', function () {
        var re = /^(\w+)=(\d+)$/, hits = 0;
        for (var i = 0; i < 20000; i++) {
            var m = re.exec('battery' + (i % 7) + '=' + i);
            if (m && m[2] == String(i)) hits++;
        }
        if (hits != 20000) throw new Error('regex');
    }]
];
if (typeof JSON != 'undefined') {
    kernels.push(['JSON 2k records', function () {
        var records = [];
        for (var i = 0; i < 2000; i++) records.push({id: i, name: 'ups' + i, load: i / 7, on: i % 2 == 0});
        var back = JSON.parse(JSON.stringify(records));
        if (back.length != 2000 || back[1999].name != 'ups1999') throw new Error('json');
    }]);
}

var total = 0;
for (var k = 0; k < kernels.length; k++) {
    var times = [];
    for (var r = 0; r < ROUNDS; r++) {
        var t0 = now();
        kernels[k][1]();
        times.push(now() - t0);
    }
    var ms = median(times);
    total += ms;
    print('kernel ' + kernels[k][0] + ' ' + ms);
}
print('total ' + total);
