// Evaluated before control_wait.js: the application handles control events.
var controlCalls = 0;
System.control = function (name) {
    System.print('control ' + name);
    controlCalls++;
};
