// Writes through a bad pointer where argv[1] says: during the evaluation of
// the included scripts/x.js ('include'), in a function of x.js called from
// here after that evaluation ended ('later'), or on a script thread
// ('thread'). The crash guard then ends the process with code 1.
System.loadModule('kx4testmod.dll');
include('scripts/x.js');
if (argv[1] == 'later') crashHere();
if (argv[1] == 'thread') System.createThread(load('scripts/thread.js').content);
// Still alive: wait for the thread's crash, but not for ever.
for (var i = 0; i < 3000; i++) System.sleep(10);
System.print('no crash');
System.exit(7);
