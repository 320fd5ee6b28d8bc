// Lies on disk beside the executable: runs only when the executable has no
// package that the start-up script can find.
System.print('disk autorun ran');
System.print('afs ' + typeof System.package.afs + ', pos ' + System.package.pos);
System.exit(9);
