// A System native whose argument or option field throws while it is
// converted (toString, valueOf, a getter) throws that very error and does
// nothing: it never goes on with "", NaN or a default in place of the value.
// The registry, process and service natives have such cases next to their
// other tests, where what they would have done can be looked at; exit has
// its own process (script.exit.throwing_code).

var tag = 'conversion failed';
var bad = thrower(tag);

evaluated = false;
var mutex = System.createMutex();
var locale = System.getLocale('C');

// What each call would leave behind had it gone on: checked after all calls.
[
    ['evaluate(bad, source)', function () { System.evaluate(bad, 'evaluated = true'); }],
    ['evaluate(name, bad)', function () { System.evaluate('x.js', bad); }],
    ['print(bad)', function () { System.print(bad); }],
    ['sleep(bad)', function () { System.sleep(bad); }],
    ['getSysName(bad)', function () { System.getSysName(bad); }],
    // Gone on, it would select the user's default locale.
    ['getLocale(bad)', function () { System.getLocale(bad); }],
    // Gone on, it would start a thread that runs "" (or the text of a
    // second conversion).
    ['createThread(bad)', function () { System.createThread(bad); }],
    ['lockMutex(bad)', function () { System.lockMutex(bad); }],
    ['lockMutex(mutex, bad)', function () { System.lockMutex(mutex, bad); }],
    ['unlockMutex(bad)', function () { System.unlockMutex(bad); }],
    ['destroyMutex(bad)', function () { System.destroyMutex(bad); }],
    ['loadModule(bad)', function () { System.loadModule(bad); }],
    // Gone on with "", it would log the user off.
    ['shutdown(bad)', function () { System.shutdown(bad); }],
    ['controlService(bad, {})', function () { System.controlService(bad, {}); }],
    ['getRegistry(path: bad)', function () { System.getRegistry({root: 'HKEY_CURRENT_USER', path: bad}); }],
    ['enumRegistry(root: bad)', function () { System.enumRegistry({root: bad}); }],
].forEach(function (c) {
    var e = checkThrows(c[1], tag, 'System.' + c[0] + ' throws the conversion\'s error');
    if (e) check(e instanceof Error, 'System.' + c[0] + ' throws the Error itself');
});

checkEq(evaluated, false, 'evaluate ran nothing');
checkEq(System.getLocale('no such locale'), locale, 'getLocale left the locale as it was');
checkEq(System.lockMutex(mutex, 0), 1, 'the mutex still works after the failed calls on it');
System.unlockMutex(mutex);
System.destroyMutex(mutex);

done();
