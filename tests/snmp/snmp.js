// The Snmp class against Debian's snmpd, two scripted agents and a port
// where nobody answers (run_snmp.py starts them). Run after lib/check.js.

var AGENT = envp.KX4_SNMPD, RO = envp.KX4_SNMP_RO, RW = envp.KX4_SNMP_RW;
var FAKE = envp.KX4_SNMP_FAKE, FAKE2 = envp.KX4_SNMP_FAKE2, SILENT = envp.KX4_SNMP_SILENT;
var SYSTEM = '.1.3.6.1.2.1.1', E = '.1.3.6.1.4.1.99999';
var SHORT = 1000;  // ms: the time-out where an answer may never come

function session(peer, community, timeout) {
    var s = new Snmp();
    check(s.open(peer, community, timeout === undefined ? 3000 : timeout), 'open ' + peer);
    return s;
}

function keys(o) { return Object.keys(o).sort(); }

// ---- Loading and the class ---------------------------------------------------

check(System.loadModule('kx4mib.dll'), 'kx4mib.dll loads');
checkEq(typeof Snmp, 'function', 'Snmp is defined');
checkEq(Snmp.length, 0, 'constructor arity');
checkEq(['open', 'close', 'getOID', 'getNextOID', 'walk', 'setOID'].map(function (m) {
    return Snmp.prototype[m].length;
}), [1, 0, 0, 0, 0, 0], 'method arities');
check(System.loadModule('kx4mib.dll'), 'a second load defines the class again');

// ---- open --------------------------------------------------------------------

(function () {
    var s = new Snmp();
    checkEq(s.open('10.0.0.1', 'public'), true, 'open needs no agent');
    checkEq(s.timeout, 10000000, 'default time-out, in microseconds');
    checkEq([s.ipAddress, s.communityName], ['10.0.0.1', 'public'], 'address and community defined');
    var d = Object.getOwnPropertyDescriptor(s, 'timeout');
    check(d && d.enumerable && !d.writable, 'timeout is enumerable and read-only');
    checkEq(s.open('10.0.0.1', 'public', 2000), true, 're-open of an open session');
    checkEq(s.timeout, 2000000, 'milliseconds become microseconds');
    // Texts cut at 31 and 49 characters; times clamped to 32-bit microseconds.
    checkEq(s.open('10.0.0.1', new Array(61).join('c'), 2.9), true, 'a long community opens');
    checkEq([s.communityName.length, s.timeout], [49, 2000], 'community cut, time truncated');
    var long = 'no-such-host-' + new Array(40).join('x') + '.invalid';
    checkThrows(function () { s.open(long, 'public'); }, 'Snmp.open: Open failed on ' + long.slice(0, 31),
                'the address is cut at 31 characters');
    checkEq(s.ipAddress, long.slice(0, 31), 'ipAddress as used');
    s.open('10.0.0.1', 'public', 1e7);
    checkEq(s.timeout, 2147483647, 'a time-out past 32 bits is clamped');
    s.open('10.0.0.1', 'public', -5);
    checkEq(s.timeout, 0, 'a negative time-out is none');
    checkEq(s.close(), true, 'close of an open session');
    checkEq(s.close(), false, 'a second close closes nothing');
    checkEq(new Snmp().close(), false, 'close before open');
    checkThrows(function () { s.open('udp:127.0.0.1:99999', 'public'); }, 'Snmp.open: Open failed on udp:127.0.0.1:99999',
                'a peer that cannot be opened');
    checkThrows(function () { s.getOID(SYSTEM + '.1.0'); }, 'Snmp.getOID: SNMP Layer not initialized',
                'no session after a failed open');
})();

// ---- GET and GET-NEXT against snmpd ------------------------------------------

(function () {
    var s = session(AGENT, RO);
    var up = s.getOID('.1.3.6.1.2.1.1.3.0');
    checkEq(keys(up), ['error', 'oid', 'value'], 'answer properties');
    checkEq([up.oid, up.error], ['.1.3.6.1.2.1.1.3.0', 'no_error'], 'uptime answer');
    check(/^\d+$/.test(up.value) && +up.value < 600, 'uptime in whole seconds: ' + up.value);
    var d = Object.getOwnPropertyDescriptor(up, 'value');
    check(d.enumerable && !d.writable, 'answer values are read-only');
    checkEq(s.getOID('.1.3.6.1.2.1.1.1.0'), {oid: '.1.3.6.1.2.1.1.1.0', value: envp.KX4_SNMP_DESCR, error: 'no_error'},
            'sysDescr');
    checkEq(s.getOID('1.3.6.1.2.1.1.1.0').value, envp.KX4_SNMP_DESCR, 'no leading dot');
    checkEq(s.getOID(SYSTEM + '.99.0'), {error: 'bad_status'}, 'an identifier the agent lacks');
    checkEq(s.getOID('not an oid'), {error: 'bad_status'}, 'GET of a text that is no identifier');
    checkEq(s.getNextOID(SYSTEM), {oid: SYSTEM + '.1.0', value: envp.KX4_SNMP_DESCR, error: 'no_error'},
            'GET-NEXT into the subtree');
    var next = s.getNextOID(SYSTEM + '.1.0');
    checkEq([next.oid, next.error], [SYSTEM + '.2.0', 'no_error'], 'GET-NEXT to sysObjectID');
    check(/^\.1\.3\.6\.1\.4\.1\.8072\./.test(next.value), 'an OBJECT IDENTIFIER value, numeric: ' + next.value);
    checkEq(s.getNextOID('.1.3.6.2'), {error: 'no_more_oid'}, 'GET-NEXT past the end');
    checkEq(s.getNextOID('not an oid'), {error: 'status_error'}, 'GET-NEXT of a text that is no identifier');
    s.close();
    // snmpd drops requests with an unknown community: no answer.
    checkEq(session(AGENT, 'nobody', SHORT).getOID(SYSTEM + '.1.0'), {error: 'timeout'}, 'unknown community');
})();

// ---- Nobody answers: the time-out, tried twice ------------------------------

(function () {
    var s = session(SILENT, 'public', SHORT);
    var t0 = Date.now();
    checkEq(s.getOID(SYSTEM + '.1.0'), {error: 'timeout'}, 'GET with nobody answering');
    var waited = Date.now() - t0;
    check(waited >= 1.8 * SHORT && waited < 6 * SHORT, 'one retry: waited ' + waited + ' ms');
    checkEq(s.getNextOID(SYSTEM), {error: 'timeout'}, 'GET-NEXT with nobody answering');
    checkEq(s.walk(SYSTEM), undefined, 'a walk that times out returns nothing');
    checkEq(s.setOID(SYSTEM + '.4.0', 's', 'x'), false, 'a SET nobody answers');
})();

// ---- walk --------------------------------------------------------------------

(function () {
    var s = session(AGENT, RO);
    var want = JSON.parse(envp.KX4_SNMP_WALK);
    var rows = s.walk(SYSTEM);
    check(Array.isArray(rows), 'walk gives an array');
    checkEq(rows.map(function (r) { return r.oid; }), want.map(function (w) { return w[0]; }),
            'the identifiers snmpwalk reads, in order');
    var differ = [];
    want.forEach(function (w, i) {
        var got = rows[i] && rows[i].value;
        // Uptimes move on between the two walks.
        var same = w[2] ? /^\d+$/.test(got) && got - w[1] >= 0 && got - w[1] < 600 : got === w[1];
        if (!same) differ.push(w[0] + ': ' + got + ' != ' + w[1]);
    });
    checkEq(differ, [], 'the values snmpwalk reads');
    checkEq(keys(rows[0]), ['oid', 'value'], 'row properties');
    var d = Object.getOwnPropertyDescriptor(rows[0], 'oid');
    check(d.enumerable && d.writable, 'row properties are enumerable only');
    var oids = function (list) { return list.map(function (r) { return r.oid; }); };
    checkEq(oids(s.walk(SYSTEM, 3)), oids(rows.slice(0, 3)), 'limit 3 gives the first three rows');
    checkEq(s.walk(SYSTEM, 0), [], 'limit 0 sends nothing');
    checkEq(s.walk(SYSTEM + '.1').map(function (r) { return r.oid; }), [SYSTEM + '.1.0'],
            'stops at the first identifier outside the subtree');
    checkEq(s.walk('.1.3.6.2'), [], 'a walk past the end is empty');
    checkThrows(function () { s.walk('1.3.x'); }, 'Snmp.walk: Snmp.walk: Error bad input oid 1.3.x', 'bad root');
    s.close();
})();

// ---- setOID ------------------------------------------------------------------

(function () {
    var s = session(AGENT, RW);
    var contact = 'ops ' + Date.now();
    checkEq(s.setOID(SYSTEM + '.4.0', 's', contact), true, 'SET of sysContact with the write community');
    checkEq(s.getOID(SYSTEM + '.4.0').value, contact, 'sysContact read back');
    checkEq(s.setOID(SYSTEM + '.4.0', 'string', 'long type'), true, 'the first letter is the type');
    checkEq(s.getOID(SYSTEM + '.4.0').value, 'long type', 'read back again');
    checkEq(s.setOID(SYSTEM + '.4.0', 'i', 'twelve'), false, 'a value that is no integer');
    checkEq(s.setOID(SYSTEM + '.4.0', '?', 'x'), false, 'a type Net-SNMP does not know');
    checkEq(s.setOID(SYSTEM + '.4.0', '', 'x'), false, 'no type');
    checkEq(s.setOID('no.such', 's', 'x'), false, 'a text that is no identifier');
    checkEq(s.setOID(SYSTEM + '.1.0', 's', 'x'), false, 'sysDescr from the configuration is read-only');
    s.close();
    checkEq(session(AGENT, RO, SHORT).setOID(SYSTEM + '.4.0', 's', 'no'), false, 'SET with the read community');
    checkEq(session(AGENT, RO).getOID(SYSTEM + '.4.0').value, 'long type', 'and the value stayed');
})();

// ---- Values the scripted agent gives ----------------------------------------

(function () {
    var s = session(FAKE, 'public', SHORT);
    var cases = [
        // [identifier, value or error code]
        [E + '.1.0', '2147483648'],                 // Counter32 at 2^31
        [E + '.2.0', '4294967295'],
        [E + '.3.0', '3000000000'],                 // Gauge32
        [E + '.12.0', '2147483647'],
        [E + '.10.0', '-5'],                        // INTEGER stays signed
        [E + '.13.0', '-2147483648'],
        [E + '.4.0', '42949672'],                   // TimeTicks in whole seconds
        [E + '.5.0', '10.1.2.3'],                   // IpAddress
        [E + '.6.0', E + '.42'],                    // OBJECT IDENTIFIER
        [E + '.7.0', 'ab'],                         // up to the zero byte
        [E + '.14.0', (function () {
            for (var t = '', c = 128; c < 256; c++) t += String.fromCharCode(c);
            return t;
        })()],
        [E + '.9.0', {error: 'get_answer_error'}],  // Opaque
        // Hostile or broken agents: the request alone suffers.
        [E + '.20.1', {error: 'timeout'}],          // not BER
        [E + '.20.2', {error: 'timeout'}],          // another request's id
        [E + '.20.4', {error: 'timeout'}],          // truncated
        [E + '.20.7', {error: 'timeout'}],          // a length past the datagram
        [E + '.20.5', {error: 'timeout'}],          // an 8-byte IpAddress: Net-SNMP drops it
        [E + '.20.6', {error: 'get_answer_error'}], // no variable at all
    ];
    cases.forEach(function (c) {
        var a = s.getOID(c[0]);
        if (typeof c[1] == 'string') checkEq(a, {oid: c[0], value: c[1], error: 'no_error'}, 'GET ' + c[0]);
        else checkEq(a, c[1], 'GET ' + c[0] + ' gives ' + c[1].error);
    });
    // Long strings are cut at 499 bytes.
    var printable = '';
    for (var c = 32; c < 127; c++) printable += String.fromCharCode(c);
    checkEq(s.getOID(E + '.8.0').value, new Array(7).join(printable).slice(0, 499), '574 bytes cut at 499');
    checkEq(s.getOID(E + '.11.0').value, new Array(500).join('y'), '10000 bytes cut at 499');
    checkEq(s.getOID(E + '.20.3').value, new Array(500).join('z'), 'a datagram of 65507 bytes');
    checkEq(s.getNextOID(E + '.8.0'), {error: 'get_answer_error'}, 'GET-NEXT onto a value that does not convert');
    checkEq(s.getOID(E + '.1.0').value, '2147483648', 'the session still works after the faults');

    checkThrows(function () { s.walk(E + '.40'); }, 'Snmp.walk: Error when reading ' + E + '.40.2',
                'a walk onto a value that does not convert');
    checkEq(s.walk(E + '.50'), undefined, 'an agent that does not move forward ends the walk in error');
    var big = s.walk(E + '.30');
    checkEq(big.length, 1000, 'a walk of 1000 rows');
    checkEq([big[0], big[999]], [{oid: E + '.30.1', value: '1'}, {oid: E + '.30.1000', value: '1000'}],
            'first and last row');
    checkEq(s.walk(E + '.30', 3).length, 3, 'limit 3 on the big subtree');
    s.close();
})();

// ---- Two script threads, two agents ------------------------------------------

(function () {
    var results = {};
    function poll(tag, peer, community, oid, want, rounds) {
        var s = new Snmp(), ok = 0;
        s.open(peer, community, 3000);
        for (var i = 0; i < rounds; i++) {
            var a = s.getOID(oid);
            if (a.value === want) ok++;
            else results[tag + '.wrong'] = a;
        }
        s.close();
        results[tag] = ok;
    }
    var start = Date.now();
    // Each answer of the delayed identifier takes 300 ms: the other thread
    // must get its answers meanwhile.
    System.createThread(function () { poll('alpha', FAKE, 'public', E + '.61.0', 'alpha', 5); });
    System.createThread(function () { poll('beta', FAKE2, 'public', E + '.61.0', 'beta', 5); });
    poll('agent', AGENT, RO, SYSTEM + '.1.0', envp.KX4_SNMP_DESCR, 20);
    check(waitFor(function () { return 'alpha' in results && 'beta' in results; }, 30000), 'both threads finish');
    checkEq([results.alpha, results.beta, results.agent], [5, 5, 20], 'every answer from its own agent');
    var took = Date.now() - start;
    check(took < 2 * 5 * 300, 'the delayed exchanges overlapped: ' + took + ' ms');
})();

// ---- The finalizer -------------------------------------------------------------

(function () {
    // Sessions left open are closed when their objects are collected.
    for (var i = 0; i < 50; i++) session(AGENT, RO).getOID(SYSTEM + '.5.0');
    System.gc();
    System.gc();
    checkEq(session(AGENT, RO).getOID(SYSTEM + '.5.0').value, 'kx4-agent', 'a session after collected ones');
})();

// ---- Misuse ------------------------------------------------------------------

(function () {
    var s = new Snmp();
    var usage = [
        [function () { s.open('127.0.0.1'); }, 'Snmp.open(<ipAddress>, <communityName>, [timeout])'],
        [function () { s.getOID(); }, 'Snmp.getOID(<requestOid>)'],
        [function () { s.getNextOID(); }, 'Snmp.getNextOID(<requestOid>)'],
        [function () { s.walk(); }, 'Snmp.walk(<requestOid>, [maxRequest]>)'],
        [function () { s.setOID('.1.3', 's'); }, 'Snmp.setOID(<requestOid>, <type>, <value>)'],
    ];
    usage.forEach(function (u) {
        checkThrows(u[0], 'Native function format error: ' + u[1], 'too few arguments: ' + u[1]);
    });
    ['getOID', 'getNextOID', 'walk'].forEach(function (m) {
        checkThrows(function () { s[m]('.1.3'); }, 'Snmp.' + m + ': SNMP Layer not initialized', m + ' before open');
    });
    checkThrows(function () { s.setOID('.1.3', 's', 'x'); }, 'Snmp.setOID: SNMP Layer not initialized',
                'setOID before open');
    s.open(AGENT, RO);
    s.close();
    checkThrows(function () { s.getOID('.1.3'); }, 'Snmp.getOID: SNMP Layer not initialized', 'getOID after close');
    var foreign = {};
    ['open', 'getOID', 'getNextOID', 'walk', 'setOID'].forEach(function (m) {
        checkThrows(function () { Snmp.prototype[m].call(foreign, 'a', 'b', 'c'); },
                    'Snmp.' + m + ': failed during get class root', m + ' on a foreign object');
    });
    checkEq(Snmp.prototype.close.call(foreign), false, 'close on a foreign object closes nothing');
    checkThrows(function () { Snmp.prototype.getOID.call(Snmp.prototype, '.1'); },
                'Snmp.getOID: failed during get class root', 'the prototype has no session');
})();

done();
