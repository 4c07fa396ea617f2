number k = 3;
if (k == 0) Result(0);
else if (k == 1) { Result("k " + 1 + "\n"); }
else if (k == 2) { Result("k " + 2 + "\n"); }
else if (k == 3) { Result("k " + 3 + "\n"); }
else if (k == 4) { Result("k " + 4 + "\n"); }
else if (k == 5) { Result("k " + 5 + "\n"); }
else if (k == 6) { Result("k " + 6 + "\n"); }
else if (k == 7) { Result("k " + 7 + "\n"); }
else Result("none");
if (1) if (0) ; else { string s = "a" + 1 + 2; Result(s); }
