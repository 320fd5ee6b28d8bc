// The crash tests name the lines of the two calls below.
function crashHere() {
    TestModule.crash();
}
if (argv[1] == 'include')
    TestModule.crash();
