// The sweep's pattern: 64 x 64, one ring of radius 16 around (32.4, 31.6).
image img := RealImage("pattern", 4, 64, 64);
for (number y = 0; y < 64; y = y + 1) {
    for (number x = 0; x < 64; x = x + 1) {
        number dx = x - 32.4, dy = y - 31.6;
        number t = (dx * dx + dy * dy - 256) / 40;
        SetPixel(img, x, y, 5 + 100 / (1 + t * t));
    }
}
SaveImage(img, "pattern.tif");
