// System.control runs while the main thread waits in getInput: the wait
// lets the control handler's thread into the engine.
System.openConsole();
System.control = function (event) { System.print('control ' + event + ' during input'); };
System.print('waiting for input');
var line = System.getInput();
System.print('got ' + JSON.stringify(line));
