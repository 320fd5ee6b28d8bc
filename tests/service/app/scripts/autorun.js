// The packaged application of the service tests. It runs in its own folder
// (the host starts every program there) and leaves its evidence in files
// beside itself, since a service has no output the tests could capture.
//
//   app.exe service <name> [variant]   run as the service <name>
//   app.exe fault                      access violation at once
//   app.exe fault-after-stop           CONTROL_STOP outside a service, then the fault
//
// Variants of the service:
//   (none)         the ordinary service: a main loop until it is stopped
//   fault-at-end   the same, then an access violation once the dispatcher
//                  has returned
//   stubborn       ignores the first stop; stops itself once the file
//                  "release" appears beside it
//   quit           ends the process on CONTROL_START, before it runs
//   silent         defines no System.control at all

var role = argv[1];

function fault() {
    System.loadModule('kx4svcfault.dll');
    Fault.accessViolation();
}

if (role == 'fault') {
    fault();
} else if (role == 'fault-after-stop') {
    System.controlService('CONTROL_STOP', {});
    fault();
} else if (role == 'service') {
    runService(argv[2], argv[3] || '');
}

function runService(name, variant) {
    var config = {serviceName: name};
    var eventsFile = 'events-' + name + '.txt';
    var stopping = false, stopsIgnored = 0;

    // One line per event; the main loop and the control handler run on
    // different threads, each line is appended whole.
    function log(line) {
        var f = new File(eventsFile, 'ab');
        f.write(line + '\n');
        f.close();
    }

    // The last thing a stop does: once stopped is reported, the dispatcher
    // returns on the start-up thread and the process may end at any moment.
    function reportStopped() {
        log('stopping');
        stopping = true;
        System.controlService('CONTROL_STOP', config);
    }

    function mainLoop() {
        var ticks = 0;
        while (!stopping) {
            ticks++;
            var f = new File('ticks-' + name + '.txt', 'wb');
            f.write(String(ticks));
            f.close();
            if (variant == 'stubborn' && stopsIgnored && File.status('release')) {
                log('released');
                reportStopped();
            }
            System.sleep(20);
        }
        log('main loop ended');
    }

    if (variant != 'silent') {
        System.control = function (message) {
            log('control ' + message);
            if (message == 'CONTROL_START') {
                if (variant == 'quit') System.exit(3);
                System.controlService('CONTROL_START', config);
                log('running');
                mainLoop();
            } else if (message == 'CONTROL_STOP') {
                if (variant == 'stubborn' && !stopsIgnored++) {
                    log('stop ignored');
                    return;
                }
                reportStopped();
            }
        };
    }

    log('start ' + argv.slice(1).join(' '));
    System.controlService('CONTROL_REGISTER', config);
    log('register returned');
    if (variant == 'fault-at-end') {
        log('faulting');
        fault();
        log('fault returned');
    }
}
