// One step of a service scenario, run by kx4test after check.js and the
// parameters service_test.py writes for the run:
//   svc.name   the service's name, unique to the run
//   svc.exe    the packaged test application, copied into the run's folder
//   svc.dir    that folder, with a trailing backslash
//   svc.step   the step to run
//   svc.config for the step "install-config": the serviceConfig to install
// service_test.py checks the stored configuration, interrogates the service
// and watches its process between the steps.

function commandLine(name, variant) {
    return '"' + svc.exe + '" service ' + name + (variant ? ' ' + variant : '');
}

function control(command, config) {
    return System.controlService(command, config);
}

function readText(file) {
    var f = new File(svc.dir + file, 'rb');
    var text = f.read();
    f.close();
    return text || '';
}

function events(name) {
    return readText('events-' + name + '.txt').split('\n').filter(function (line) { return line; });
}

function controlsSeen(name) {
    return events(name).filter(function (line) { return /^control /.test(line); });
}

function waitForEvent(name, line) {
    if (waitFor(function () { return events(name).indexOf(line) >= 0; })) return pass();
    fail('event "' + line + '"', 'events so far: ' + show(events(name)));
}

function ticks(name) {
    return Number(readText('ticks-' + name + '.txt')) || 0;
}

var steps = {};

steps['install'] = function () {
    checkEq(control('SERVICE_INSTALL', {
        serviceName: svc.name, commandLine: commandLine(svc.name, ''), displayName: 'kx4 test service ' + svc.name,
        description: 'first install', manualStart: 1
    }), true, 'first install');
};

// Changes every field in place; the new command line adds the variant that
// faults after the stop, so the run shows that the change took effect.
steps['update'] = function () {
    checkEq(control('SERVICE_INSTALL', {
        serviceName: svc.name, commandLine: commandLine(svc.name, 'fault-at-end'),
        displayName: 'kx4 test service ' + svc.name + ' (updated)', description: 'second install', interactive: 1,
        manualStart: 1, onErrorRestartDelay: 1500
    }), true, 'install over the existing service');
    checkEq(control('SERVICE_INSTALL', {serviceName: svc.name, displayName: 'not applied', description: 'not applied'}),
            undefined, 'install without commandLine');
};

steps['install-config'] = function () {
    checkEq(control('SERVICE_INSTALL', svc.config), true, 'install ' + show(svc.config));
};

steps['start'] = function () {
    var name = svc.name;
    checkEq(control('SERVICE_START', {serviceName: name}), true, 'start');
    // The SCM saw running only after the script got CONTROL_START and
    // reported it; the script logs right after reporting.
    waitForEvent(name, 'running');
    // Started with the updated command line.
    checkEq(events(name).slice(0, 3), ['start service ' + name + ' fault-at-end', 'control CONTROL_START', 'running'],
            'events up to running');
    // The main loop goes on in the service main's evaluation.
    var seen = ticks(name);
    check(waitFor(function () { return ticks(name) > seen; }), 'main loop runs');
    checkEq(control('SERVICE_START', {serviceName: name}), true, 'start while running');
    checkEq(controlsSeen(name), ['control CONTROL_START'], 'controls seen by the script');
};

steps['stop'] = function () {
    var name = svc.name;
    checkEq(control('SERVICE_STOP', {serviceName: name}), true, 'stop');
    // The handler ran the script's stop while the main loop still ran; the
    // interrogate sent before the stop never reached the script.
    checkEq(controlsSeen(name), ['control CONTROL_START', 'control CONTROL_STOP'], 'controls seen by the script');
    // Reported by the script's stop handler, which logged just before.
    check(events(name).indexOf('stopping') > 0, 'the script reported stopped');
    // Reporting stopped ends the dispatcher on the start-up thread.
    waitForEvent(name, 'register returned');
    waitForEvent(name, 'faulting');
};

steps['uninstall'] = function () {
    checkEq(control('SERVICE_UNINSTALL', {serviceName: svc.name}), true, 'uninstall');
    checkEq(control('SERVICE_UNINSTALL', {serviceName: svc.name}), false, 'uninstall again');
    checkEq(control('SERVICE_STOP', {serviceName: svc.name}), true, 'stop after uninstall: nothing to stop');
    checkEq(control('SERVICE_START', {serviceName: svc.name}), false, 'start after uninstall');
};

// Services that end before they report running: the start gives up with
// false instead of waiting for ever. "quit" ends its process from its
// CONTROL_START handler; "silent" never reports anything.
steps['ends-while-starting'] = function () {
    ['quit', 'silent'].forEach(function (variant) {
        var name = svc.name + '-' + variant;
        var config = {serviceName: name, commandLine: commandLine(name, variant), manualStart: 1};
        checkEq(control('SERVICE_INSTALL', config), true, variant + ': install');
        checkEq(control('SERVICE_START', config), false, variant + ': start');
        checkEq(events(name)[0], 'start service ' + name + ' ' + variant, variant + ': the process ran');
        checkEq(controlsSeen(name), variant == 'quit' ? ['control CONTROL_START'] : [], variant + ': controls seen');
        checkEq(control('SERVICE_UNINSTALL', config), true, variant + ': uninstall');
    });
};

// The SCM starts one service at a time and refuses a start meanwhile:
// SERVICE_START asks again instead of giving up. Here a silent service's
// start holds the SCM until the SCM stops waiting for its first report.
var slowStarted;
steps['start-while-another-starts'] = function () {
    var slow = svc.name + '-slow', name = svc.name + '-next';
    var slowConfig = {serviceName: slow, commandLine: commandLine(slow, 'silent'), manualStart: 1};
    var config = {serviceName: name, commandLine: commandLine(name, ''), manualStart: 1};
    checkEq(control('SERVICE_INSTALL', slowConfig), true, 'install the slow service');
    checkEq(control('SERVICE_INSTALL', config), true, 'install');
    System.createThread('slowStarted = System.controlService("SERVICE_START", ' + JSON.stringify(slowConfig) + ');');
    // Its process runs: its start is under way.
    waitForEvent(slow, 'start service ' + slow + ' silent');
    checkEq(control('SERVICE_START', config), true, 'start while another service starts');
    check(waitFor(function () { return slowStarted !== undefined; }, 60000), 'the slow start returned');
    checkEq(slowStarted, false, 'the slow service never ran');
    checkEq(control('SERVICE_STOP', config), true, 'stop');
    checkEq(control('SERVICE_UNINSTALL', config), true, 'uninstall');
    checkEq(control('SERVICE_UNINSTALL', slowConfig), true, 'uninstall the slow service');
};

// A service that does not stop within the budget: the stop gives up with
// false, a start meanwhile is refused, and once the service stops itself a
// second stop finds it stopped.
steps['stop-budget'] = function () {
    var name = svc.name;
    var config = {serviceName: name, commandLine: commandLine(name, 'stubborn'), manualStart: 1};
    checkEq(control('SERVICE_INSTALL', config), true, 'install');
    checkEq(control('SERVICE_START', config), true, 'start');
    waitForEvent(name, 'running');
    checkEq(control('SERVICE_STOP', config), false, 'stop of a service that does not stop');
    checkEq(controlsSeen(name), ['control CONTROL_START', 'control CONTROL_STOP'], 'controls seen');
    checkEq(events(name).indexOf('stop ignored') > 0, true, 'the script ignored the stop');
    checkEq(control('SERVICE_START', config), false, 'start while it is stopping');
    var f = new File(svc.dir + 'release', 'wb');
    f.close();
    waitForEvent(name, 'released');
    checkEq(control('SERVICE_STOP', config), true, 'stop once it stops by itself');
    checkEq(events(name).indexOf('stopping') > events(name).indexOf('released'), true, 'the script reported stopped');
    waitForEvent(name, 'register returned');
    checkEq(control('SERVICE_UNINSTALL', config), true, 'uninstall');
};

if (!steps[svc.step]) fail('step', 'unknown step ' + show(svc.step));
else steps[svc.step]();
done();
