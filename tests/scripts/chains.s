// Operators of one precedence apply from the left, each operand evaluated
// just before its operator; an else-if ladder takes its first true branch and
// evaluates no condition after it; an else belongs to the nearest if.
Result("left " + (10 - 2 - 3) + " " + (2 / 4 / 2) + " " + (1 - 2 + 3 - 4 * 2 / 4) + "\n");
Result("sums " + (0.1 + 0.2 + 0.3 == 0.6) + (0.1 + (0.2 + 0.3) == 0.6) + "\n");
Result("compare " + (3 > 2 > 1) + (1 < 2 < 3) + (1 == 1 == 1) + "\n");
Result(1 + 2 + "a" + 1 + 2 + "\n");
string s = "x";
s = s + 1 + "y" + 2.5 + s;
Result(s + "\n");
for (number k = 0; k < 4; k = k + 1) {
    if (k == 0) Result("zero ");
    else if (k == 1) Result("one ");
    else if (k == 2) Result("two ");
    else Result("many\n");
}
if (1) Result("first\n"); else if (no_such_name) Result("second\n");
if (0) Result("x\n"); else if (1) Result("second of two\n"); else if (no_such_name) Result("x\n");
if (0) if (1) Result("outer else taken\n"); else Result("inner else taken\n");
if (1) if (0) Result("x\n"); else Result("inner else taken\n");
if (0) Result("x\n"); else if (0) Result("x\n"); else { Result("final else\n"); }
Result(- - 3 + " " + -+-+ 4 + "\n");
