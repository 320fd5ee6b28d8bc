// A script thread ticks every 20 ms while the main thread waits for a line
// (getInput) and then for a character (getchar). It says so once it has
// ticked ten times during a wait, which it can only do when the wait has
// released the heap; the probe types the input only after that.
System.openConsole();
ticker = {ticks: 0, mark: 0, phase: undefined, stop: false};
System.createThread('(function () {' +
                    '  while (!ticker.stop) {' +
                    '    System.sleep(20);' +
                    '    ticker.ticks++;' +
                    '    if (ticker.phase && ticker.ticks - ticker.mark == 10)' +
                    '      System.print("ticking during " + ticker.phase);' +
                    '  }' +
                    '})()');

function whileTicking(phase, read) {
    ticker.mark = ticker.ticks;
    ticker.phase = phase;
    var got = read();
    ticker.phase = undefined;
    return got;
}

var line = whileTicking('getInput', System.getInput);
var c = whileTicking('getchar', System.getchar);
ticker.stop = true;
System.print('got ' + JSON.stringify(line) + ' ' + JSON.stringify(c));
