// Script threads on one File: while threads read, write and seek it with
// the heap released, this thread closes and re-opens it again and again.
// close and open wait for a transfer under way; the run must end, with
// every thread done and no crash (run_app.py fails on a crash log).

check(File.changeDir(envp.KX4_WORK_DIR), 'into the work folder');

var CONTENT = new Array(20001).join('0123456789');   // 200000 bytes
var w = new File('threads.bin', 'wb');
checkEq(w.write(CONTENT), CONTENT.length, 'the shared file written');
w.close();

shared = new File('threads.bin', 'r+b');
finished = 0;
errors = [];
var THREADS = 64;
// [what a thread does with the File, once per turn]
var work = [
    'var s = shared.read(4096); if (s !== undefined && CONTENT.indexOf(s) < 0) errors.push("read gave bytes not in the file");',
    'shared.seek(i * 37 % 100000);',
    'shared.write("");',
    'shared.read();',
];
for (var t = 0; t < THREADS; t++) {
    System.createThread('try { for (var i = 0; i < 60; i++) { ' + work[t % work.length] + ' } }' +
                        ' catch (e) { errors.push(String(e)); } finished++;');
}
var cycles = 0, opened = 0, closes = [];
while (finished < THREADS && cycles < 100000) {
    var closed = shared.close();
    if (closed !== true && closes.indexOf(closed) < 0) closes.push(closed);
    if (shared.open('threads.bin', 'r+b')) opened++;
    cycles++;
}
checkEq(closes, [], 'every close succeeded');
check(waitFor(function () { return finished == THREADS; }), 'every thread finished');
checkEq(errors, [], 'no thread saw an error');
check(cycles > 0 && opened == cycles, 'the File was closed and re-opened meanwhile (' + cycles + ' times)');
shared.seek(0);
checkEq(shared.read(), CONTENT, 'the file is intact');
checkEq(shared.close(), true, 'and closes');
done();
