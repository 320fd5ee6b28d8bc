other = true;
