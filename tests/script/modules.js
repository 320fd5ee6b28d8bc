// System.loadModule: load problems are printed and give false; a module that
// loads runs its initModule, again on every load. Run through run_check.sh,
// which checks the printed lines.

checkThrows(function () { System.loadModule(); }, 'Native function format error: System.loadModule(<path>)',
            'loadModule() raises the format error');

[
    // A library that does not exist: both lines.
    ['no_such_module.dll', false],
    // A library that loads but has no initModule: only the init line.
    ['kernel32.dll', false],
].forEach(function (c) {
    checkEq(System.loadModule(c[0]), c[1], 'loadModule("' + c[0] + '")');
    System.print('loaded ' + c[0]);
});

checkEq(typeof TestModule, 'undefined', 'nothing is defined before the test module loads');
checkEq(System.loadModule('kx4testmod.dll'), true, 'the test module loads');
checkEq([typeof TestModule, typeof TestThing, TestModule.initCount()], ['object', 'function', 1],
        'its initModule defined its names');
var first = TestModule;
checkEq(System.loadModule('kx4testmod.dll'), true, 'it loads a second time');
checkEq(TestModule.initCount(), 2, 'initModule ran again');
check(TestModule !== first, 'the second initModule defined its object anew');
checkEq(Object.getOwnPropertyDescriptor(this, 'TestModule').enumerable, true,
        'a module object is an enumerable global');
done();
