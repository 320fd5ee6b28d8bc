// Taken from the package: the start-up script includes scripts/autorun.js
// in 'AFS' mode, although the test puts another one on disk beside the
// executable.
include('scripts/check.js');
include('scripts/load_checks.js');
done();
