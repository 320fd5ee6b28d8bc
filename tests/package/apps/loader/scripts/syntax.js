syntaxRuns = 1;
var = ;
