// An operator of a chain over several lines that cannot apply is named at its own line.
number x = 1 +
    2 +
    "a" -
    3;
