// Centre, ellipticity, integration and projection end to end on a pattern
// whose truth is set here: centre (131.4, 122.7), axis ratio 1.04 with the
// long axis at 30 degrees, rings of mean radius 40, 65, 90 and 110, a
// background falling off from the centre and a zero beam stop.
number w = 256, h = 256;
number cx = 131.4, cy = 122.7;
number c = 0.8660254037844387, s = 0.5;        // cos and sin of 30 degrees
number q = 1.04;
number ka = (1 / q + 1) / 2, kb = (1 / q + 1) / 2 * q;   // R/a and R/b
image img := RealImage("pattern", 4, w, h);
for (number y = 0; y < h; y = y + 1) {
    for (number x = 0; x < w; x = x + 1) {
        number dx = x - cx, dy = cy - y;
        number u = (dx * c + dy * s) * ka, v = (dy * c - dx * s) * kb;
        number r2 = u * u + v * v;
        number f = 30 / (1 + r2 / 2500);
        number t;
        t = (r2 - 1600) / 120;  f = f + 100 / (1 + t * t);
        t = (r2 - 4225) / 195;  f = f + 80 / (1 + t * t);
        t = (r2 - 8100) / 270;  f = f + 60 / (1 + t * t);
        t = (r2 - 12100) / 330; f = f + 70 / (1 + t * t);
        if (r2 < 225) f = 0;
        SetPixel(img, x, y, f);
    }
}

// Centre guess from a start off by several pixels.
number gx = 120, gy = 130;
number ok = GuessCenter(img, gx, gy);
Result("GuessCenter " + ok + " within 3 px: " + ((gx - cx) * (gx - cx) + (gy - cy) * (gy - cy) < 9) + "\n");

// The strongest ring between 100 and the corner distance.
number ring = 0, inner = 0, outer = 0;
GuessInnerandOuterRadius(img, 10, cx, cy, ring, inner, outer);
Result("GuessInnerandOuterRadius ring " + ring + " inner " + inner + " outer " + outer + "\n");

// Refinement from the guess, on the ring at 65.
number rx = gx, ry = gy, rr = 0, ri = 55, ro = 75;
RefineCenter(img, rx, ry, rr, ri, ro);
Result("RefineCenter within 1 px: " + ((rx - cx) * (rx - cx) + (ry - cy) * (ry - cy) < 1) + " ring " + rr + " radii " + ri + " " + ro + "\n");

number ten = 10, sev = 75;
number bad = RefineCenter(img, rx, ry, rr, ten, sev);
Result("radius 10 refused, result " + bad + "\n");

number ex = 131, ey = 122, ang = 0, ratio = 0, er = 0, ei = 55, eo = 75;
RefineCenterEllipticity(img, ex, ey, ang, ratio, er, ei, eo, 36, 3);
Result("RefineCenterEllipticity ratio within 0.01: " + ((ratio - q) * (ratio - q) < 0.0001) + " angle within 3 deg: " + ((ang - 30) * (ang - 30) < 9) + "\n");

number fx = 131, fy = 122, fang = 0, fratio = 0, fr = 0, fi = 55, fo = 75;
RefineCenterEllipticityFit(img, fx, fy, fang, fratio, fr, fi, fo, 36, 3);
Result("RefineCenterEllipticityFit ratio within 0.01: " + ((fratio - q) * (fratio - q) < 0.0001) + " angle within 3 deg: " + ((fang - 30) * (fang - 30) < 9) + " ring within 2 px: " + ((fr - 65) * (fr - 65) < 4) + " centre within 0.05 px: " + ((fx - cx) * (fx - cx) + (fy - cy) * (fy - cy) < 0.0025) + "\n");

number sx = 131.4, sy = 122.7, sang = 20, sratio = 1.02, fifth = 7, si = 55, so = 75;
RefineCenterEllipticitySimplex(img, sx, sy, sang, sratio, fifth, si, so);
Result("RefineCenterEllipticitySimplex ratio within 0.01: " + ((sratio - q) * (sratio - q) < 0.0001) + " centre kept: " + ((sx - 131.4) * (sx - 131.4) + (sy - 122.7) * (sy - 122.7) < 0.000001) + " fifth kept: " + (fifth == 7) + "\n");

// Integrals: the profile peaks at the ring radius.
image prof;
AzimuthalIntegralEllipticity(img, prof, cx, cy, 30, q, 0, 0);
number best = 0, at = 0;
for (number k = 55; k < 76; k = k + 1) {
    if (GetPixel(prof, k, 0) > best) { best = GetPixel(prof, k, 0); at = k; }
}
Result("AzimuthalIntegralEllipticity " + ImageGetDimensionSize(prof, 0) + "x" + ImageGetDimensionSize(prof, 1) + " peak at " + at + "\n");

image plain;
AzimuthalIntegral(img, plain, cx, cy, 100.7, 1);
Result("AzimuthalIntegral " + ImageGetDimensionSize(plain, 0) + "x" + ImageGetDimensionSize(plain, 1) + "\n");

image sector;
AzimuthalIntegralSektor(img, sector, cx, cy, 350, 10, 1, 0);
Result("AzimuthalIntegralSektor " + ImageGetDimensionSize(sector, 0) + " bins\n");
AzimuthalIntegralSektor(img, sector, cx, cy, -1, 10, 0, 0);
Result("sector still " + ImageGetDimensionSize(sector, 0) + " bins\n");

image esector;
AzimuthalIntegralSektorEllipticity(img, esector, cx, cy, 30, q, 20, 40, 100, 0);
best = 0;
at = 0;
for (number k = 55; k < 76; k = k + 1) {
    if (GetPixel(esector, k, 0) > best) { best = GetPixel(esector, k, 0); at = k; }
}
Result("AzimuthalIntegralSektorEllipticity peak at " + at + "\n");

image polar;
AzimuthalProjection(img, polar, cx, cy, 360);
Result("AzimuthalProjection " + ImageGetDimensionSize(polar, 0) + "x" + ImageGetDimensionSize(polar, 1) + "\n");
