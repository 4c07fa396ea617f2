// A float TIFF written by SaveImage reads back bit for bit.
image img := RealImage("src", 4, 5, 3);
for (number y = 0; y < 3; y = y + 1) {
    for (number x = 0; x < 5; x = x + 1) {
        SetPixel(img, x, y, (x - 2) / 3 + y * 1000.1);
    }
}
SaveImage(img, "roundtrip.tif");
image back := OpenImage("roundtrip.tif");
number same = 1;
for (number y = 0; y < 3; y = y + 1) {
    for (number x = 0; x < 5; x = x + 1) {
        if (GetPixel(back, x, y) != GetPixel(img, x, y)) same = 0;
    }
}
Result("size " + ImageGetDimensionSize(back, 0) + "x" + ImageGetDimensionSize(back, 1) + " same " + same + "\n");
Result("corner " + GetPixel(back, 4, 2) + "\n");
