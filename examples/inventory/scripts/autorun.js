// Inventory: a small application that travels packaged with kx4.exe.
//
// It reports on the stock list it carries in its package, describes the
// package itself, keeps a compressed copy of the report next to the
// executable, reads that copy back and checks it. Every step that can go
// wrong is a check; the exit code is 0 when all of them passed, 1 when one
// failed, 2 for a bad command line and 3 when the script itself failed.
//
//   inventory.exe [--min=N] [--console]
//
//   --min=N     list every item with N or fewer units for reordering, not
//               only those at their own reorder level (default: the
//               environment variable INVENTORY_MIN, else 0)
//   --console   open a console for the report and wait for Enter at the end
//               (without it the report goes to standard output, which a
//               program started from the desktop does not show)

include('scripts/report.js');
include('scripts/stock.js');

var checks = [];

function check(what, ok, detail) {
    checks.push({what: what, ok: !!ok, detail: detail});
    return !!ok;
}

// Every report line is printed at once and kept for the log.
Report.add = (function (keep) {
    return function (text) {
        keep.call(Report, text);
        System.print(Report.lines[Report.lines.length - 1]);
    };
})(Report.add);

function folderOf(path) {
    return path.slice(0, Math.max(path.lastIndexOf('\\'), path.lastIndexOf('/')) + 1);
}

function readOptions() {
    var options = {console: false, minimum: 0, minimumFrom: 'default'};
    if (envp.INVENTORY_MIN !== undefined) {
        options.minimum = Number(envp.INVENTORY_MIN);
        options.minimumFrom = 'INVENTORY_MIN';
    }
    for (var i = 1; i < argv.length; i++) {
        var m = /^--min=(.*)$/.exec(argv[i]);
        if (m) {
            options.minimum = Number(m[1]);
            options.minimumFrom = '--min';
        } else if (argv[i] == '--console') {
            options.console = true;
        } else {
            options.error = "unknown argument '" + argv[i] + "'";
        }
    }
    if (isNaN(options.minimum) || options.minimum < 0)
        options.error = 'the minimum (' + options.minimumFrom + ') must be a number, 0 or more';
    return options;
}

function describeProgram() {
    Report.heading('Program');
    var args = [];
    for (var i = 1; i < argv.length; i++) args.push(argv[i]);
    Report.table([], [
        ['executable', argv[0]],
        ['system', System.getSysName()],
        ['folder', File.getCurrentWorkingDir()],
        ['arguments', args.length ? args.join(' ') : '(none)'],
        ['user', envp.USERNAME || envp.USER || '(unknown)']
    ], 'll');
    // The start-up moved the current directory to the executable's folder.
    var cwd = File.getCurrentWorkingDir().replace(/\\$/, '') + '\\';
    check('started in its own folder', cwd == folderOf(argv[0]), cwd);
}

// The package's directory, in listing order, which is the order of the
// entries' streams in the file.
function packageEntries() {
    var fsd = System.package.afs.fsd, list = [];
    for (var name in fsd) {
        var e = fsd[name];
        list.push({name: name, size: e.size, csize: e.csize, time: e.time, pos: e.pos, module: e.module});
    }
    return list;
}

function describePackage() {
    var afs = System.package.afs, exe = File.status(argv[0]);
    var entries = packageEntries(), size = 0, csize = 0, rows = [];
    Report.heading('Package: ' + entries.length + ' entries, ' + afs.size + ' bytes from offset ' + afs.pos +
                   ' to the end of the executable (' + exe.size + ' bytes)');
    for (var i = 0; i < entries.length; i++) {
        var e = entries[i];
        size += e.size;
        csize += e.csize;
        rows.push([e.name, e.module || '', e.size, e.csize, percent(e.csize, e.size), timeText(e.time)]);
    }
    rows.push(['total', '', size, csize, percent(csize, size), '']);
    Report.table(['entry', 'module', 'size', 'packed', 'ratio', 'time'], rows, 'llrrrl');

    check('the package ends the executable', afs.pos + afs.size == exe.size, afs.pos + ' + ' + afs.size);
    // Streams lie back to back and end where the 8-byte trailer begins.
    var end = entries.length ? entries[0].pos : 0, contiguous = true;
    for (i = 0; i < entries.length; i++) {
        contiguous = contiguous && entries[i].pos == end;
        end = entries[i].pos + entries[i].csize;
    }
    check('entry streams lie back to back up to the trailer', contiguous && end == afs.pos + afs.size - 8,
          'streams end at ' + end);
    var wrong = [];
    for (i = 0; i < entries.length; i++) {
        var content = System.package.extract(entries[i].name);
        var length = content === undefined ? 0 : content.length;
        if (length != entries[i].size) wrong.push(entries[i].name + ' gives ' + length);
    }
    check('every entry extracts to its size', !wrong.length, wrong.join(', '));
}

function describeStock(options) {
    var file = load('data/stock.csv', 'AFS'), items = parseStock(file.content);
    var places = stockByLocation(items), total = 0, rows = [];
    Report.heading('Stock: ' + items.length + ' items (data/stock.csv of ' + timeText(file.time) + ')');
    for (var i = 0; i < places.length; i++) {
        rows.push([places[i].location, places[i].items, places[i].units, money(places[i].value)]);
        total += places[i].value;
    }
    rows.push(['total', items.length, '', money(total)]);
    Report.table(['location', 'items', 'units', 'value'], rows, 'lrrr');

    var reorder = itemsToReorder(items, options.minimum);
    Report.heading('To reorder: ' + reorder.length + ' items at or below their reorder level' +
                   (options.minimum ? ' or ' + options.minimum + ' units' : ''));
    rows = [];
    for (i = 0; i < reorder.length; i++)
        rows.push([reorder[i].sku, reorder[i].name, reorder[i].location, reorder[i].quantity,
                   reorder[i].reorderAt]);
    Report.table(['sku', 'item', 'location', 'units', 'reorder at'], rows, 'lllrr');
    check('the stock list parses', items.length > 0, items.length + ' items');
}

// The log: one header line with the report's length (File.uncompress
// needs a capacity), then the report as one zlib stream.
function writeLog(path, text) {
    var packed = File.compress(text), content = 'INVENTORY-LOG ' + text.length + '\n' + packed;
    var file = new File();
    if (!check('log opened for writing', file.open(path, 'wb'), path)) return;
    var written = file.write(content);
    file.close();
    check('log written', written == content.length, written + ' of ' + content.length + ' bytes');
    Report.add('  wrote ' + path + ': ' + bytes(text.length) + ' of report as ' + bytes(content.length));
}

function verifyLog(path, text) {
    var file = new File();
    if (!check('log opened for reading', file.open(path, 'rb'), path)) return;
    var content = file.read();
    file.close();
    check('log read whole', content.length == file.length, content.length + ' of ' + file.length + ' bytes');
    var m = /^INVENTORY-LOG (\d+)\n/.exec(content);
    if (!check('log header', m, content.slice(0, 20))) return;
    var back = File.uncompress(content.slice(m[0].length), Number(m[1]));
    check('log inflates to the report', back === text, back.length + ' bytes');
    Report.add('  read back ' + bytes(content.length) + ', inflated to ' + bytes(back.length) +
               (back === text ? ': identical to the report' : ': DIFFERENT'));
}

function listFolder(folder, logName) {
    var found = File.openDir(folder + '*.*'), rows = [], seen = false;
    Report.heading('Folder ' + folder);
    for (var i = 0; i < found.length; i++) {
        var name = found[i].name;
        if (name == '.' || name == '..') continue;
        var status = File.status(folder + name);
        rows.push([name, found[i].type, found[i].type == 'dir' ? '' : status.size, timeText(status.time)]);
        if (name == logName && found[i].type == 'file') seen = true;
    }
    Report.table(['name', 'type', 'size', 'time'], rows, 'llrl');
    check('the log is listed in the folder', seen, logName);
}

function summary() {
    var failed = 0;
    Report.heading('Checks');
    for (var i = 0; i < checks.length; i++) {
        var c = checks[i];
        if (!c.ok) failed++;
        Report.add('  ' + (c.ok ? 'ok    ' : 'FAILED') + '  ' + c.what + (c.ok ? '' : ' (' + c.detail + ')'));
    }
    Report.add();
    Report.add(failed ? 'inventory: ' + failed + ' of ' + checks.length + ' checks FAILED'
                      : 'inventory: all ' + checks.length + ' checks passed');
    return failed;
}

function main() {
    var options = readOptions();
    if (options.console) System.openConsole();
    if (options.error) {
        System.print('inventory: ' + options.error);
        System.print('usage: inventory.exe [--min=N] [--console]');
        return 2;
    }
    Report.add('kx4 inventory example');
    describeProgram();
    describePackage();
    describeStock(options);

    // Name the log after the executable, next to it.
    var folder = folderOf(argv[0]);
    var logName = argv[0].slice(folder.length).replace(/\.exe$/i, '') + '.log.z';
    var logged = Report.text();
    Report.heading('Log');
    writeLog(folder + logName, logged);
    verifyLog(folder + logName, logged);
    listFolder(folder, logName);
    return summary() ? 1 : 0;
}

var exitCode;
try {
    exitCode = main();
} catch (e) {
    // Reported here rather than by the start-up script, which would wait
    // for a key and end with code 0.
    System.print('inventory: ' + (e && e.toSource ? e.toSource() : e));
    exitCode = 3;
}
if (readOptions().console) {
    System.print('Press Enter to close.');
    System.getInput();
}
System.exit(exitCode);
