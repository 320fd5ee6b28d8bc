var counterRuns = (typeof counterRuns == 'number' ? counterRuns : 0) + 1;
