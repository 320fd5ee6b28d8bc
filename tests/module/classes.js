// defineClass: a class with private data, instance and static properties
// and functions, and a finalizer that must run once per collected instance
// and also for objects without private data of their own (the prototype,
// objects that only inherit from an instance).

check(System.loadModule('kx4testmod.dll'), 'the test module loads');
checkEq(TestModule.initCount(), 1, 'initModule ran once');

function counts() {
    return TestThing.counts();
}

// ---- The class as script sees it -------------------------------------------

checkEq([typeof TestThing, TestThing.length], ['function', 1], 'the constructor and its declared arity');
var thing = new TestThing(5);
check(thing instanceof TestThing, 'instances are instances of the class');
check(Object.getPrototypeOf(thing) === TestThing.prototype, 'instances inherit from the prototype');
check(TestThing.prototype.constructor === TestThing, 'the prototype names its constructor');
checkEq(thing.value(), 5, 'the constructor stored private data');
thing.setValue(7);
checkEq(thing.value(), 7, 'methods reach the same private data');
checkEq(thing.doubled, 14, 'an instance property reads through its getter');
checkEq(TestThing.kind, 'test thing', 'a static property reads through its getter');
checkEq(new TestThing().value(), 0, 'constructor arguments are optional');
var called = TestThing(4);
check(called instanceof TestThing && called.value() === 4, 'the constructor called without new makes an instance');
checkEq(TestThing.hasPrivate(this), false, 'calling it without new leaves the global object alone');
called = null;
checkEq([TestThing.prototype.value.length, TestThing.prototype.setValue.length, TestThing.counts.length],
        [0, 1, 0], 'methods have their declared arities');
checkEq(Object.keys(TestThing.prototype).indexOf('value'), -1, 'methods are not enumerable');
check(Object.prototype.propertyIsEnumerable.call(TestThing.prototype, 'doubled'),
      'an instance property declared enumerable is enumerable');

// Private data belongs to the instance itself, never to what inherits it.
var derived = Object.create(thing);
[
    [thing, true, 'an instance'],
    [TestThing.prototype, false, 'the prototype'],
    [derived, false, 'an object inheriting from an instance'],
    [TestModule.newObject(TestThing.prototype), false, 'newObject with the class prototype'],
    [{}, false, 'a plain object'],
].forEach(function (c) {
    checkEq(TestThing.hasPrivate(c[0]), c[1], 'getPrivate of ' + c[2]);
});
check(TestModule.newObject(TestThing.prototype) instanceof TestThing,
      'newObject with the class prototype makes an object of the class');
checkThrows(function () { TestThing.prototype.value(); }, 'TestThing: no private data',
            'a method called on the prototype reports the missing data');
checkThrows(function () { derived.value(); }, 'TestThing: no private data',
            'a method called on an inheriting object reports the missing data');
checkThrows(function () { thing.setValue(); }, 'Native function format error: TestThing.setValue(<value>)',
            'methods check their arguments');
derived = null;

// ---- Finalization ------------------------------------------------------------

// Instances nobody references are finalized once each, with their record.
var c0 = counts();
var keep = [];
(function () {
    for (var i = 0; i < 200; i++) {
        var t = new TestThing(i);
        if (i % 70 == 0) keep.push(t);
    }
})();
System.gc();
var c1 = counts();
checkEq(c1.made - c0.made, 200, '200 instances made');
checkEq(c1.finalized - c0.finalized, 200 - keep.length, 'every unreachable instance was finalized');
checkEq(keep.map(function (t) { return t.value(); }), [0, 70, 140], 'reachable instances keep their data');
keep = null;
System.gc();
checkEq(counts().finalized - c0.finalized, 200, 'the rest are finalized once unreachable');

// An object that only inherits from an instance is finalized too, without
// private data: its finalization must not free the instance's record.
c0 = counts();
(function () {
    var base = new TestThing(1);
    var heir = Object.create(base);
    heir.extra = 1;
})();
System.gc();
c1 = counts();
checkEq(c1.finalized - c0.finalized, 1, 'the instance under an inheriting object is finalized once');
check(c1.withoutData - c0.withoutData >= 1, 'the inheriting object is finalized without private data');
checkEq(c1.badRecords, 0, 'no record was finalized twice');

// ---- Loading the module again defines the class again ----------------------

var OldThing = TestThing;
var oldThing = new OldThing(3);
c0 = counts();
check(System.loadModule('kx4testmod.dll'), 'the module loads a second time');
checkEq(TestModule.initCount(), 2, 'initModule ran again');
check(TestThing !== OldThing, 'the class is defined anew');
checkEq(new TestThing(4).value(), 4, 'the new class works');
checkEq(oldThing.value(), 3, 'instances of the old class keep working');
check(!(oldThing instanceof TestThing), 'the classes are distinct');
// Dropping the old class lets its prototype go: finalized without data.
OldThing = null;
oldThing = null;
thing = null;
System.gc();
c1 = counts();
checkEq(c1.finalized - c0.finalized, 3, 'the old instances and the temporary new one are finalized');
check(c1.withoutData - c0.withoutData >= 1, 'the old prototype is finalized without private data');
checkEq(c1.badRecords, 0, 'no record was finalized twice');

done();
