// Engine teardown when the script returns (no System.exit): finalizers run
// for what is still alive, instances with their private data and the class
// prototype without. Run through run_check.sh, which looks at the lines the
// finalizer prints after this script has ended.

check(System.loadModule('kx4testmod.dll'), 'the test module loads');
var alive = [new TestThing(1), new TestThing(2)];
TestThing.trace(1);
check(alive[0].value() + alive[1].value() == 3, 'instances alive at the end');
System.print(checkResults.passed + ' passed, ' + checkResults.failed + ' failed');
System.print('script ends');
