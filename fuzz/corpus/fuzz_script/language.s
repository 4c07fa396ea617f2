// Every construct of the script subset, with values whose printing is known.
number a = 3, b;
b = 2.5;
number c = a * b - 1 / 4;          /* 7.25 */
Result("c=" + c + "\n");
Result("neg=" + -(a + 1) + " div=" + 7 / 2 + "\n");
Result("nan=" + (0 / 0 != 0 / 0) + " inf=" + 1 / 0 + "\n");
Result("cmp " + (a < b) + (a <= 3) + (a > b) + (a >= 4) + (a == 3) + (a != 3) + "\n");
string s = "tab\there \"quoted\" back\\slash";
s = s + "\n";
Result(s);
Result(353);
Result("\n");
Result(-1 + " " + 5.5 + " " + 261.307 + " " + 1e20 + " " + 0.1 + "\n");
if (a > 2) {
    Result("if taken\n");
} else {
    Result("else taken\n");
}
if (a > 5) Result("wrong\n"); else if (a == 3) Result("else-if taken\n");
number sum = 0;
for (number k = 0; k < 5; k = k + 1) {
    sum = sum + k;
}
Result("sum=" + sum + "\n");
number n = 0;
for (; n < 3;) n = n + 1;
Result("n=" + n + "\n");
{
    number inner = 7;
    Result("inner=" + inner + "\n");
}
image img := RealImage("pattern", 4, 3, 2);
image same := img;
SetPixel(img, 2, 1, 5.25);
Result("pixel=" + GetPixel(same, 2, 1) + " w=" + ImageGetDimensionSize(img, 0) + " h=" + ImageGetDimensionSize(img, 1) + "\n");
image none;
Result("valid " + ImageIsValid(img) + ImageIsValid(none) + "\n");
image line := RealImage("profile", 4, 7);
Result("1-D " + ImageGetDimensionSize(line, 0) + "x" + ImageGetDimensionSize(line, 1) + "\n");
