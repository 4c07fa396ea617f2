// The RDF functions end to end: a gold background made with
// RDF_Kirklandfunction is fitted back with RDF_Kirklandfit, and the reduced
// intensity is transformed with CalculateRDF.
image el := RealImage("elements", 4, 14, 1);
// Gold: a1 a2 a3 b1 b2 b3 c1 c2 c3 d1 d2 d3, unused, percent.
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

number m = 300;
image made := RealImage("made", 4, m, 4);
number offset = 120;
number scale = 3.5;
RDF_Kirklandfunction(made, el, offset, scale, 0.05, 0);
Result("given values kept: " + offset + " " + scale + "\n");

// The background as the measured profile.
image prof := RealImage("profile", 4, m, 4);
for (number i = 0; i < m; i = i + 1) {
    SetPixel(prof, i, 0, GetPixel(made, i, 1));
}
offset = 1;
scale = 1;
RDF_Kirklandfit(prof, el, offset, scale, 10, 290, 0.05, 0);
number ok = 0;
if (scale > 3.4965) { if (scale < 3.5035) { if (offset > 119.88) { if (offset < 120.12) ok = 1; } } }
Result("fit within 0.1 %: " + ok + "\n");
Result("line 2 at 0: " + GetPixel(prof, 0, 2) + ", line 3 at 100: " + GetPixel(prof, 100, 3) + "\n");

// A ripple of period 40 samples (q period 2 per nm) on the same background:
// its transform peaks at r = 10 / 2 = 5 Angstrom, radius index 100.
image rippled := RealImage("rippled", 4, m, 4);
number c = 0;
number sign = 1;
for (number i = 0; i < m; i = i + 1) {
    SetPixel(rippled, i, 0, GetPixel(made, i, 1) * (1 + 0.05 * sign));
    c = c + 1;
    if (c == 20) { c = 0; sign = -sign; }
}
offset = 120;
scale = 3.5;
RDF_Kirklandfunction(rippled, el, offset, scale, 0.05, 0);
image rdf;
CalculateRDF(rippled, rdf, 0, m, 0.05, 10, 200);
number best = 1;
for (number j = 1; j < 200; j = j + 1) {
    if (GetPixel(rdf, j, 0) > GetPixel(rdf, best, 0)) best = j;
}
Result("RDF: " + ImageGetDimensionSize(rdf, 0) + " x " + ImageGetDimensionSize(rdf, 1) + ", G(0) = " + GetPixel(rdf, 0, 0) + ", largest at index " + best + "\n");

// Refused before anything changes.
RDF_Kirklandfit(prof, el, offset, scale, 290, 10, 0.05, 0);
CalculateRDF(prof, rdf, 0, m, 0.05, 10, 0);
Result("RDF still " + ImageGetDimensionSize(rdf, 0) + " wide\n");
