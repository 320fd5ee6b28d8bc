// What the host sets up before any script runs: argv, envp and the current
// directory. Started from the build directory through a relative path, with
// KX4_Mixed_Case=v and KX4_TEST_BIN_DIR (the Linux path of bin/) in the
// environment.

var global = this;
check(System.loadModule('kx4testmod.dll'), 'the test module loads');

// ---- argv ----------------------------------------------------------------------

var binDir = 'Z:' + envp.KX4_TEST_BIN_DIR.replace(/\//g, '\\');
checkEq(argv[0], binDir + '\\kx4test.exe', 'argv[0] is the full path of the executable');
check(Array.isArray(argv), 'argv is an array');
checkEq(argv.length, 3, 'argv holds the executable and the two script arguments');
check(/check\.js$/.test(argv[1]) && /process\.js$/.test(argv[2]), 'argv[1] and argv[2] are the arguments as given');
checkEq(Object.keys(argv), ['0', '1', '2'], 'argv elements are enumerable');
argv.forEach(function (arg, i) {
    var d = Object.getOwnPropertyDescriptor(argv, String(i));
    checkEq([d.writable, d.enumerable], [false, true], 'argv[' + i + '] is read-only and enumerable');
});
var first = argv[0];
argv[0] = 'changed';
checkEq(argv[0], first, 'assigning to argv[0] changes nothing');

// ---- envp ----------------------------------------------------------------------

checkEq(envp.KX4_MIXED_CASE, 'v', 'a variable named KX4_Mixed_Case appears upper-cased');
checkEq(envp.KX4_Mixed_Case, undefined, 'and not under its own spelling');
checkEq(typeof envp.PATH, 'string', 'the search path appears as PATH');
checkEq(Object.getPrototypeOf(envp), Object.prototype, 'envp is a plain object');
var lowerNames = Object.keys(envp).filter(function (name) { return /[a-z]/.test(name); });
checkEq(lowerNames, [], 'no variable name keeps a letter a to z in lower case');
var d = Object.getOwnPropertyDescriptor(envp, 'KX4_MIXED_CASE');
checkEq([d.writable, d.enumerable], [false, true], 'envp properties are read-only and enumerable');
envp.KX4_MIXED_CASE = 'changed';
checkEq(envp.KX4_MIXED_CASE, 'v', 'assigning to an envp property changes nothing');

// ---- argv and envp on the global object ----------------------------------------------

['argv', 'envp'].forEach(function (name) {
    var g = Object.getOwnPropertyDescriptor(global, name);
    checkEq([g.enumerable, g.writable], [false, true], name + ' is a non-enumerable, writable global');
    checkEq(Object.keys(global).indexOf(name), -1, name + ' does not enumerate on the global object');
});

// ---- Current directory ---------------------------------------------------------------

checkEq(TestModule.currentDirectory(), binDir, "the current directory is the executable's folder");

done();
