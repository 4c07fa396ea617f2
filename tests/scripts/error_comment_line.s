// An error after a comment of several lines names its own line.
number a = 1;
/* Three lines
   of comment, one with "a string" and // inside.
*/ Result("before\n");
number b = a + c;
