// Uses hello.dll (put it next to kx4.exe, or next to kx4test.exe to run this
// file with the test runner).
System.loadModule('hello.dll');
System.print(Hello.add(2, 3));                                    // 5
System.print(Hello.greet());                                      // Hello, world!
System.print(Hello.repeat({text: 'ab', count: 3, upper: true}));  // ABABAB
System.print(Hello.sum([1, 2, 3.5]));                             // 6.5
System.print(Hello.info().toSource());                            // ({name:"hello", version:1.5, x64:true})
Hello.wait(100);                                                  // other threads run meanwhile

var c = new Counter(5, 2);
System.print(c.increment() + ' ' + c.increment());                // 7 9
c.reset();
System.print(c.increment());                                      // 2
System.print(Counter(1).increment());                             // 2
try { Hello.repeat(); } catch (e) { System.print(e.message); }    // Hello: options is undefined
try { c.reset.call(new File()); } catch (e) { System.print(e.message); }  // Counter.reset: not a Counter
c = null;
System.gc();
System.print(Counter.live());                                     // 0
