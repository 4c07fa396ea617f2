string s = "x";
s = s + 1 + "y" + 2.5;
number n = 1e300 * 1e300 - 0 / 0;
Result(s + n + "\n");
/* unterminated