// Errors on script threads go to the error reporter under the file name
// "runThread", and the process goes on. Run through run_check.sh, which
// checks the printed reports and their order against the marker lines.

check(System.loadModule('kx4testmod.dll'), 'the test module loads');

// Each failing thread is waited for (TestModule.waitThread), so its report
// is printed before the marker that follows it.
[
    ['var = ;', 'syntax error'],
    ['var fine = 1;\nvar = ;', 'syntax error on line 2'],
    ['null.property', 'runtime error'],
    ['System.sleep()', 'format error'],
    ['throw 42', 'thrown number'],
].forEach(function (c) {
    var id = System.createThread(c[0]);
    check(typeof id == 'number' && id > 0, 'a thread with a ' + c[1] + ' starts');
    check(TestModule.waitThread(id, 20000), 'the thread with a ' + c[1] + ' ended');
    System.print('after ' + c[1]);
});

// The process and the engine go on: another thread runs normally.
afterErrors = false;
var id = System.createThread('afterErrors = true');
check(TestModule.waitThread(id, 20000) && afterErrors, 'a thread started after the failures runs');
done();
