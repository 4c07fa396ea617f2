// The peak functions end to end. PreFit of no interval writes the model of
// the peaks it is given, so it draws four chosen pseudo-Voigt peaks; on a
// gentle background they become the profile that PeakFindPreFit searches
// and PeakFit fits.
number m = 520;
image given := RealImage("given", 4, 4, 4);
// One line per peak: position, area, half width, Lorentz fraction.
SetPixel(given, 0, 0, 80);  SetPixel(given, 1, 0, 400); SetPixel(given, 2, 0, 3); SetPixel(given, 3, 0, 0.1);
SetPixel(given, 0, 1, 200); SetPixel(given, 1, 1, 300); SetPixel(given, 2, 1, 3); SetPixel(given, 3, 1, 0.05);
SetPixel(given, 0, 2, 320); SetPixel(given, 1, 2, 250); SetPixel(given, 2, 2, 4); SetPixel(given, 3, 2, 0);
SetPixel(given, 0, 3, 440); SetPixel(given, 1, 3, 200); SetPixel(given, 2, 3, 4); SetPixel(given, 3, 3, 0.15);
image draw := RealImage("draw", 4, m, 4);
image ends := RealImage("ends", 4, 2, 2);
SetPixel(ends, 0, 0, 10);
SetPixel(ends, 1, 0, 510);
PreFit(draw, given, ends, 0, 0);

image prof := RealImage("profile", 4, m, 4);
for (number i = 0; i < m; i = i + 1) {
    SetPixel(prof, i, 0, GetPixel(draw, i, 3) + 100 - 0.02 * i + 0.00002 * i * i);
}
image peaks;
image points;
PeakFindPreFit(prof, peaks, points, 5, 5, 20, m - 1, 0);
Result("found " + ImageGetDimensionSize(peaks, 1) + " peaks and " + ImageGetDimensionSize(points, 0) + " background points\n");

PeakFit(prof, peaks, points);
// Positions within 0.05, areas within 2 %, widths within 5 %.
number ok = 0;
for (number k = 0; k < 4; k = k + 1) {
    number dx = GetPixel(peaks, 0, k) - GetPixel(given, 0, k);
    number ra = GetPixel(peaks, 1, k) / GetPixel(given, 1, k) - 1;
    number rw = GetPixel(peaks, 2, k) / GetPixel(given, 2, k) - 1;
    if (dx * dx < 0.0025) { if (ra * ra < 0.0004) { if (rw * rw < 0.0025) ok = ok + 1; } }
}
Result("peaks within bounds: " + ok + "\n");

// Refused before anything changes.
image wide := RealImage("wide", 4, 5, 1);
PeakFit(prof, wide, points);
Result("peaks still " + ImageGetDimensionSize(peaks, 1) + " lines\n");
