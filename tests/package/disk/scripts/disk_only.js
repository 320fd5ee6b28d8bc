diskOnly = true;
