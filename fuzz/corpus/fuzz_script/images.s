image a := RealImage("a", 4, 3, 2);
SetPixel(a, 2, 1, -7);
image b := a;
Result(GetPixel(b, 2, 1) + ImageGetDimensionSize(a, 1) + ImageIsValid(b));
image c;
Result(ImageIsValid(c));
GetPixel(c, 0, 0);
