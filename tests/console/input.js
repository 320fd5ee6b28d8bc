// Prints one letter, then reads two lines typed into the console and prints
// them in a form that shows every character, line breaks included.
System.openConsole();
System.print('R');
var first = System.getInput();
var second = System.getInput();
System.print('first ' + first.length + ' ' + JSON.stringify(first));
System.print('second ' + JSON.stringify(second));
