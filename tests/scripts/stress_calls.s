// Many calls: every script function, round after round, on small images,
// each call's results replacing the last. Run under the sanitizer build it
// must end without a leak report; tests/robustness watches its memory
// footprint at the checkpoint lines. Rounds: see the first statement.
number rounds = 1000;

// A 64 x 64 ring pattern: one bright ring of radius about 18 around (32, 31).
image pattern := RealImage("pattern", 4, 64, 64);
for (number y = 0; y < 64; y = y + 1) {
    for (number x = 0; x < 64; x = x + 1) {
        number r2 = (x - 32) * (x - 32) + (y - 31) * (y - 31);
        number d = (r2 - 324) / 36;
        SetPixel(pattern, x, y, 10 + 100 / (1 + d * d));
    }
}

// A profile with two Lorentzian peaks on a sloping background.
image profile := RealImage("profile", 4, 160, 4);
for (number i = 0; i < 160; i = i + 1) {
    number u = (i - 50) / 3;
    number v = (i - 110) / 3;
    SetPixel(profile, i, 0, 100 - 0.1 * i + 300 / (1 + u * u) + 250 / (1 + v * v));
}
image work := RealImage("work", 4, 160, 4);

// Gold for the RDF functions, and a profile made from its background.
image el := RealImage("elements", 4, 14, 1);
SetPixel(el, 0, 0, 0.961263398);
SetPixel(el, 1, 0, 3.6958103);
SetPixel(el, 2, 0, 2.77567491);
SetPixel(el, 3, 0, 0.170932277);
SetPixel(el, 4, 0, 12.9335319);
SetPixel(el, 5, 0, 0.68999707);
SetPixel(el, 6, 0, 0.295414176);
SetPixel(el, 7, 0, 0.311475743);
SetPixel(el, 8, 0, 0.0143237267);
SetPixel(el, 9, 0, 0.16352551);
SetPixel(el, 10, 0, 1.39200901);
SetPixel(el, 11, 0, 0.0271265337);
SetPixel(el, 13, 0, 100);
image made := RealImage("made", 4, 150, 4);
number offset = 120;
number scale = 3.5;
RDF_Kirklandfunction(made, el, offset, scale, 0.05, 0);

image small := RealImage("small", 4, 5, 4);
for (number y = 0; y < 4; y = y + 1) {
    for (number x = 0; x < 5; x = x + 1) SetPixel(small, x, y, x + 5 * y);
}
// The measured RDF profile: the background with a small ripple.
image rdfprof := RealImage("rdf profile", 4, 150, 4);
image rdfmeasured := RealImage("rdf measured", 4, 150, 1);
number c = 0;
for (number i = 0; i < 150; i = i + 1) {
    SetPixel(rdfmeasured, i, 0, GetPixel(made, i, 1) * (1 + 0.01 * c));
    c = c + 1;
    if (c == 7) c = 0;
}

image prof;
image proj;
image peaks;
image points;
image rdf;
number guesses = 0;
number refined = 0;
number mouse = 0;
number checkpoint = rounds / 4;
for (number k = 0; k < rounds; k = k + 1) {
    SetORVANverbosity(0);

    number cx = 30;
    number cy = 33;
    guesses = guesses + GuessCenter(pattern, cx, cy);
    number ring = 18;
    number inner = 0;
    number outer = 0;
    guesses = guesses + GuessInnerandOuterRadius(pattern, 4, 32, 31, ring, inner, outer);
    // Each refinement starts from the same numbers.
    cx = 31;
    cy = 32;
    inner = 12.5;
    outer = 23;
    refined = refined + RefineCenter(pattern, cx, cy, ring, inner, outer);
    number angle = 0;
    number ratio = 1;
    cx = 31;
    cy = 32;
    refined = refined + RefineCenterEllipticity(pattern, cx, cy, angle, ratio, ring, inner, outer, 16, 2);
    cx = 31;
    cy = 32;
    refined = refined + RefineCenterEllipticityFit(pattern, cx, cy, angle, ratio, ring, inner, outer, 16, 2);
    number fifth = 0;
    cx = 32;
    cy = 31;
    ratio = 1.05;
    refined = refined + RefineCenterEllipticitySimplex(pattern, cx, cy, angle, ratio, fifth, inner, outer);

    AzimuthalIntegral(pattern, prof, 32, 31, 0, 0);
    AzimuthalIntegralEllipticity(pattern, prof, 32, 31, 30, 1.1, 20, 0);
    AzimuthalIntegralSektor(pattern, prof, 32, 31, 10, 100, 1, 1);
    AzimuthalIntegralSektorEllipticity(pattern, prof, 32, 31, 30, 1.1, 350, 10, 0, 0);
    AzimuthalProjection(pattern, proj, 32, 31, 0);

    for (number i = 0; i < 160; i = i + 1) SetPixel(work, i, 0, GetPixel(profile, i, 0));
    PeakFindPreFit(work, peaks, points, 5, 5, 5, 155, 0);
    PreFit(work, peaks, points, 0, ImageGetDimensionSize(points, 0) - 1);
    PeakFit(work, peaks, points);

    saveprofileasxlslong(work, "stress.xls", "q I B D F", 0.5, "Stress", "Fits");
    saveprofileasxls(prof, "stress.xls", "q I", 0.1);
    saveimageasxls(small, "stress.xls", "a b c d e", "Small", "Image");

    mouse = mouse + GetMouseState("lm");
    FakeESC();

    for (number i = 0; i < 150; i = i + 1) SetPixel(rdfprof, i, 0, GetPixel(rdfmeasured, i, 0));
    offset = 100;
    scale = 3;
    RDF_Kirklandfit(rdfprof, el, offset, scale, 10, 140, 0.05, 0);
    RDF_Kirklandfunction(rdfprof, el, offset, scale, 0.05, 0);
    CalculateRDF(rdfprof, rdf, 10, 140, 0.05, 10, 100);

    if (k + 1 == checkpoint) {
        Result("checkpoint " + checkpoint + "\n");
        checkpoint = checkpoint + rounds / 4;
    }
}
Result("guesses " + guesses + ", refinements " + refined + ", mouse " + mouse + "\n");
Result("last profile " + ImageGetDimensionSize(prof, 0) + ", projection " + ImageGetDimensionSize(proj, 0) + " x " + ImageGetDimensionSize(proj, 1) + ", peaks " + ImageGetDimensionSize(peaks, 1) + ", RDF " + ImageGetDimensionSize(rdf, 0) + "\n");
