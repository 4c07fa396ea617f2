// Profiles with missing and unusable samples. Two pseudo-Voigt peaks, at
// 150 and 250 (areas 1000 and 800, half-width 4), on a flat 50: PreFit of
// no interval draws them, as in peaks.s.
number m = 400;
image given := RealImage("given", 4, 4, 2);
SetPixel(given, 0, 0, 150); SetPixel(given, 1, 0, 1000); SetPixel(given, 2, 0, 4); SetPixel(given, 3, 0, 0.5);
SetPixel(given, 0, 1, 250); SetPixel(given, 1, 1, 800);  SetPixel(given, 2, 1, 4); SetPixel(given, 3, 1, 0.5);
image draw := RealImage("draw", 4, m, 4);
image ends := RealImage("ends", 4, 2, 2);
SetPixel(ends, 0, 0, 1);
SetPixel(ends, 1, 0, 398);
PreFit(draw, given, ends, 0, 0);
image prof := RealImage("profile", 4, m, 4);
for (number i = 0; i < m; i = i + 1) SetPixel(prof, i, 0, GetPixel(draw, i, 3) + 50);

// A beam stop (samples 0-59 are 0) and a gap (100-119): no background
// point lies in them, and the peaks come back.
for (number i = 0; i < 60; i = i + 1) SetPixel(prof, i, 0, 0);
for (number i = 100; i < 120; i = i + 1) SetPixel(prof, i, 0, 0);
image peaks;
image points;
PeakFindPreFit(prof, peaks, points, 1, 1, 0, 399, 0);
PeakFit(prof, peaks, points);
number ok = 0;
for (number k = 0; k < 2; k = k + 1) {
    number dx = GetPixel(peaks, 0, k) - GetPixel(given, 0, k);
    number ra = GetPixel(peaks, 1, k) / GetPixel(given, 1, k) - 1;
    number rw = GetPixel(peaks, 2, k) / GetPixel(given, 2, k) - 1;
    if (dx * dx < 0.0025) { if (ra * ra < 0.0004) { if (rw * rw < 0.0004) ok = ok + 1; } }
}
Result("peaks within bounds: " + ok + " of " + ImageGetDimensionSize(peaks, 1) + "\n");
number on_missing = 0;
for (number k = 0; k < ImageGetDimensionSize(points, 0); k = k + 1) {
    if (GetPixel(prof, GetPixel(points, k, 0), 0) == 0) on_missing = on_missing + 1;
}
Result("background points on missing samples: " + on_missing + "\n");

// A sample that is not a number is refused by name; nothing is written.
SetPixel(prof, 200, 0, 0 / 0);
number area = GetPixel(peaks, 1, 0);
PeakFit(prof, peaks, points);
Result("peak image kept: " + (GetPixel(peaks, 1, 0) == area) + "\n");
