// The Snmp benchmark, run by bench/snmp_run.sh beside its C baseline:
//   KX4_SNMP_BENCH=get   KX4_SNMP_N GETs of sysDescr from snmpd
//   KX4_SNMP_BENCH=walk  KX4_SNMP_N walks of the scripted agent's
//                        1000-variable subtree
// Prints "kx4 get <count> <ms>" or one "kx4 walk <rows> <ms>" per walk.
if (!System.loadModule('kx4mib.dll')) throw new Error('kx4mib.dll not loaded');
var n = +envp.KX4_SNMP_N, s = new Snmp();
if (envp.KX4_SNMP_BENCH == 'get') {
    s.open(envp.KX4_SNMPD, envp.KX4_SNMP_RO, 3000);
    s.getOID('.1.3.6.1.2.1.1.1.0');  // warm-up, as the C side's first request
    var t0 = Date.now();
    for (var i = 0; i < n; i++) {
        if (s.getOID('.1.3.6.1.2.1.1.1.0').error != 'no_error') throw new Error('GET failed');
    }
    System.print('kx4 get ' + n + ' ' + (Date.now() - t0));
} else {
    s.open(envp.KX4_SNMP_FAKE, 'public', 3000);
    for (var r = 0; r < n; r++) {
        var t1 = Date.now();
        var rows = s.walk('.1.3.6.1.4.1.99999.30');
        System.print('kx4 walk ' + rows.length + ' ' + (Date.now() - t1));
    }
}
s.close();
