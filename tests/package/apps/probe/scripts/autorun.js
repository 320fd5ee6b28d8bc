// Says that the package was found, and checks that it is the one that ends
// argv[1] bytes before the end of the executable.
var pkg = System.package;
var after = Number(argv[1] || 0);
System.print('package autorun ran');
System.print('package ends ' + after + ' bytes before the end: ' +
             (pkg.afs.pos + pkg.afs.size + after == pkg.length));
System.print('pos ' + pkg.pos);
System.exit(0);
