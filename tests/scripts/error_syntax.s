// A syntax error names its line.
number a = 1;
number b = (a + 2;
