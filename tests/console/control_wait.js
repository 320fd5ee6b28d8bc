// Waits a bounded time for a console control event: until System.control has
// been called, or for two seconds when there is no System.control to call.
System.openConsole();
var handled = typeof System.control == 'function';
System.print('waiting for control');
for (var i = 0; i < (handled ? 300 : 40) && !(handled && controlCalls); i++) System.sleep(50);
System.print(handled ? (controlCalls ? 'control seen' : 'no control event') : 'still running');
