System.openConsole();
System.print('argc ' + argv.length);
System.print('argv0 [' + argv[0] + ']');
System.print('argv1 [' + argv[1] + ']');
// The console goes with the process: stay until the reader is done.
System.getInput();
