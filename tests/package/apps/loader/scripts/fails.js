// Fails each time it is evaluated.
failsRuns = (typeof failsRuns == 'number' ? failsRuns : 0) + 1;
throw new Error('fails on purpose');
