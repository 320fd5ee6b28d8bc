// System.controlService outside a service: argument checks, commands that
// must do nothing, services that do not exist, and the in-service commands
// in a process the service manager did not start.

var usage = 'Native function format error: System.controlService(<command>, <serviceConfig>)';
// Services this test may create by mistake are removed at the end.
var name = 'kx4test-commands-' + System.getPID() + '-' + Math.floor(Math.random() * 1e9);
var commandLine = '"Z:\\kx4-never-started\\none.exe" service';

checkEq(System.controlService.length, 2, 'declared arity');
checkThrows(function () { System.controlService(); }, usage, 'no arguments');
checkThrows(function () { System.controlService('SERVICE_STOP'); }, usage, 'no serviceConfig');
checkThrows(function () { System.controlService('SERVICE_STOP', undefined); }, 'System: serviceConfig is undefined',
            'undefined serviceConfig');
checkThrows(function () { System.controlService('NO_SUCH_COMMAND', undefined); }, 'System: serviceConfig is undefined',
            'undefined serviceConfig with an unknown command');

// A config that records every property read.
function recordingConfig(values) {
    var config = {reads: []};
    Object.keys(values).forEach(function (key) {
        Object.defineProperty(config, key, {
            get: function () { config.reads.push(key); return values[key]; }, enumerable: true
        });
    });
    return config;
}

// Commands are compared exactly: anything else returns undefined without
// reading the config or reaching the service manager.
[
    'service_install', 'Service_Install', ' SERVICE_INSTALL', 'SERVICE_INSTALL ', 'SERVICE_INSTALLX', 'SERVICE',
    '', 'control_register', 'CONTROL_REGISTER2', 'control_stop', 'service_uninstall', 'service_stop',
    undefined, null, 0, 12
].forEach(function (command) {
    var config = recordingConfig({serviceName: name, commandLine: commandLine, manualStart: 1});
    checkEq(System.controlService(command, config), undefined, show(command) + ': result');
    checkEq(config.reads, [], show(command) + ': config reads');
});
checkEq(System.controlService('SERVICE_UNINSTALL', {serviceName: name}), false, 'nothing was installed');

// The command is converted to a string first.
checkEq(System.controlService({toString: function () { return 'SERVICE_STOP'; }}, {serviceName: name}), true,
        'command converted to a string');

// Without commandLine an install does nothing and says undefined.
var config = recordingConfig({serviceName: name, displayName: 'never', description: 'never'});
checkEq(System.controlService('SERVICE_INSTALL', config), undefined, 'install without commandLine');
checkEq(config.reads.indexOf('displayName'), -1, 'install without commandLine reads no further');
checkEq(System.controlService('SERVICE_UNINSTALL', {serviceName: name}), false, 'install without commandLine installed nothing');

// A throwing command or field: that error, and nothing done. Gone on with
// "" or a default in its place, an install would have created the service.
var thrownTag = 'field failed';
checkThrows(function () { System.controlService(thrower(thrownTag), {serviceName: name}); }, thrownTag,
            'a throwing command');
throwingRecords({serviceName: name, commandLine: commandLine, displayName: 'd', description: 'd', interactive: 0,
                 manualStart: 1, onErrorRestartDelay: 0}, thrownTag).forEach(function (c) {
    checkThrows(function () { System.controlService('SERVICE_INSTALL', c[1]); }, thrownTag, 'SERVICE_INSTALL: ' + c[0]);
});
['SERVICE_START', 'SERVICE_STOP', 'SERVICE_UNINSTALL', 'CONTROL_REGISTER', 'CONTROL_START', 'CONTROL_STOP'].forEach(
    function (command) {
        throwingRecords({serviceName: name}, thrownTag).forEach(function (c) {
            checkThrows(function () { System.controlService(command, c[1]); }, thrownTag, command + ': ' + c[0]);
        });
    });
checkEq(System.controlService('SERVICE_UNINSTALL', {serviceName: name}), false, 'the failed installs installed nothing');

// A service that does not exist.
[
    ['SERVICE_STOP', true],  // nothing to stop
    ['SERVICE_START', false],
    ['SERVICE_UNINSTALL', false],
].forEach(function (c) {
    checkEq(System.controlService(c[0], {serviceName: name}), c[1], c[0] + ' of a missing service');
});
checkEq(System.controlService('SERVICE_STOP', {}), true, 'SERVICE_STOP without serviceName');

// Not started by the service manager: CONTROL_REGISTER returns at once
// (the test would hang otherwise) and CONTROL_START finds no service to
// report for; neither calls System.control.
var controls = [];
System.control = function (message) { controls.push(message); };
['CONTROL_REGISTER', 'CONTROL_START', 'CONTROL_STOP'].forEach(function (command) {
    checkEq(System.controlService(command, {serviceName: name}), undefined, command + ' outside a service');
});
checkEq(controls, [], 'System.control calls outside a service');
delete System.control;

System.controlService('SERVICE_UNINSTALL', {serviceName: name});
done();
