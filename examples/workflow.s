// The analysis of a polycrystalline electron diffraction pattern, as a
// microscopist runs it: centre, ring window, centre refinement, elliptical
// distortion, azimuthal profiles (full circle, corrected, one sector), the
// polar projection, peak search and fit, the scattering-factor fit, the
// radial distribution function, and the exports.
//
// Run it in the folder that holds the pattern:  orvanhost workflow.s
// (scripts/demo does this in out/ on a generated gold pattern). File names
// and settings are in the block below; edit them for your own pattern.

// ---- settings -------------------------------------------------------------
string pattern_file = "sample.tif";            // the diffraction pattern
string elements_file = "sample.elements.tif";  // 14 x 1 element image (gold, 100 %)
string workbook_file = "workflow.xls";
string profile_tiff = "profile.tif";
string projection_tiff = "projection.tif";
string rdf_tiff = "rdf.tif";
// Calibration: q of the first ring in 1/nm, here gold 111 (10 sqrt(3) / 4.0782).
// The q step per pixel is this over the fitted radius of the first peak.
number first_ring_q = 4.24709;
number angle_bins = 24;         // sectors of the ellipse refinements
number fit_smoothing = 2;       // half-width of their radial smoothing
number peak_min_height = 0.4;   // percent of the profile maximum
number peak_valley_height = 0.4;
number peak_smoothing = 1;
number peak_min_area = 0.5;     // percent of the strongest peak's area
number peak_max_width = 4;      // times the strongest peak's half width
number ring_max_width = 2;      // a ring: at most this times the strongest's half width,
number index_tolerance = 0.1;   // and h2+k2+l2 this close to a whole number
number sector_start = 0;        // degrees, counter-clockwise from +x
number sector_end = 90;
number projection_angles = 360;
number rdf_r_max = 10;          // Angstrom
number rdf_radii = 500;
// ---------------------------------------------------------------------------

image pattern := OpenImage(pattern_file);
number width = ImageGetDimensionSize(pattern, 0);
number height = ImageGetDimensionSize(pattern, 1);
number size = width;
if (height < size) size = height;
Result("Pattern " + pattern_file + ": " + width + " x " + height + " pixels\n");

// ---- 1. Centre and ellipse ------------------------------------------------
number cx = width / 2, cy = height / 2;
GuessCenter(pattern, cx, cy);
Result("Centre guess: x = " + cx + ", y = " + cy + "\n");

// Half the ring window, a whole number of pixels: 20 at 1024.
number half_window = 1;
for (; half_window + 1 <= size * 20 / 1024; half_window = half_window + 1) {}
number ring = 0, inner = 0, outer = 0;
GuessInnerandOuterRadius(pattern, half_window, cx, cy, ring, inner, outer);
Result("Ring window: " + inner + " to " + outer + " pixels\n");

// RefineCenter returns 0, and keeps the centre, when its sharpest ring is
// not the one the window holds (it says why in a line of its own).
if (RefineCenter(pattern, cx, cy, ring, inner, outer) == 1)
    Result("Refined centre: x = " + cx + ", y = " + cy + " (strongest ring at radius " + ring + ")\n");
else
    Result("Centre kept from the guess: x = " + cx + ", y = " + cy + "\n");

// Each ellipse refinement returns 0, and writes nothing (or, for a
// distortion too large to believe, a circle), when its result is no
// sharper than its start; the chain carries on from the last result that
// returned 1, and says so.
number angle = 0, ratio = 1, mean_radius = ring;
number tx = cx, ty = cy, t_angle = angle, t_ratio = ratio, t_radius = mean_radius;
// Ring positions in each sector from pseudo-Voigt fits, an ellipse through
// them: the centre moves to the ellipse's centre.
if (RefineCenterEllipticityFit(pattern, tx, ty, t_angle, t_ratio, t_radius, inner, outer,
                               angle_bins, fit_smoothing) == 1) {
    cx = tx; cy = ty; angle = t_angle; ratio = t_ratio; mean_radius = t_radius;
    Result("Ellipse from sector fits: centre x = " + cx + ", y = " + cy + ", axis ratio " + ratio +
           " at " + angle + " degrees, ring radius " + mean_radius + "\n");
} else
    Result("Ellipse from sector fits not taken: carrying on from x = " + cx + ", y = " + cy + " and a circle\n");
// From there, the distortion that makes the rings sharpest at that centre.
number unused = 0;
if (RefineCenterEllipticitySimplex(pattern, cx, cy, angle, ratio, unused, inner, outer) == 1)
    Result("Sharpest distortion at that centre: axis ratio " + ratio + " at " + angle + " degrees\n");
else
    Result("Sharpest distortion not taken: carrying on from axis ratio " + ratio + " at " + angle + " degrees\n");
// Two passes with the sector maxima from there, as a check: on these rings
// they agree with the sector fits to a few hundredths of a pixel.
tx = cx; ty = cy; t_angle = angle; t_ratio = ratio; t_radius = mean_radius;
if (RefineCenterEllipticity(pattern, tx, ty, t_angle, t_ratio, t_radius, inner, outer,
                            angle_bins, fit_smoothing) == 1) {
    cx = tx; cy = ty; angle = t_angle; ratio = t_ratio; mean_radius = t_radius;
} else
    Result("Ellipse from sector maxima not taken: carrying on from the last one taken\n");
Result("Centre: x = " + cx + ", y = " + cy + " pixels\n");
Result("Ellipse: axis ratio = " + ratio + ", angle = " + angle + " degrees, ring radius " +
       mean_radius + " pixels\n");

// ---- 2. Profiles and projection -------------------------------------------
image circular;
// Radius 1: out to the largest circle inside the image, where every ring is whole.
AzimuthalIntegral(pattern, circular, cx, cy, 1, 1);
image corrected;
AzimuthalIntegralEllipticity(pattern, corrected, cx, cy, angle, ratio, 1, 1);
image sector;
AzimuthalIntegralSektorEllipticity(pattern, sector, cx, cy, angle, ratio,
                                   sector_start, sector_end, 1, 1);
number n = ImageGetDimensionSize(corrected, 0);

// The first radius with data: inside it the beam stop hides the pattern.
number first = -1;
for (number i = 0; i < n; i = i + 1) {
    if (first < 0) { if (GetPixel(corrected, i, 0) != 0) first = i; }
}
Result("Profiles: " + n + " radii; data from radius " + first + "\n");

// Sharpest ring in each profile, above the steep rise at the beam stop.
number lo = first + 2 * half_window;
number best_c = lo, best_e = lo, best_s = lo;
for (number i = lo; i < n; i = i + 1) {
    if (GetPixel(circular, i, 0) > GetPixel(circular, best_c, 0)) best_c = i;
    if (GetPixel(corrected, i, 0) > GetPixel(corrected, best_e, 0)) best_e = i;
    if (GetPixel(sector, i, 0) > GetPixel(sector, best_s, 0)) best_s = i;
}
Result("Strongest ring: circular profile " + GetPixel(circular, best_c, 0) + " at radius " + best_c +
       ", corrected " + GetPixel(corrected, best_e, 0) + " at " + best_e +
       ", sector " + sector_start + "-" + sector_end + " degrees " + GetPixel(sector, best_s, 0) +
       " at " + best_s + "\n");

image projection;
AzimuthalProjection(pattern, projection, cx, cy, projection_angles);
Result("Projection: " + ImageGetDimensionSize(projection, 0) + " angles x " +
       ImageGetDimensionSize(projection, 1) + " radii\n");
SaveImage(projection, projection_tiff);

// ---- 3. Peaks of the corrected profile ------------------------------------
// Lines: profile, background, profile - background, fitted peaks.
image profile := RealImage("profile", 4, n, 4);
for (number i = 0; i < n; i = i + 1) SetPixel(profile, i, 0, GetPixel(corrected, i, 0));
image peaks, knots;
PeakFindPreFit(profile, peaks, knots, peak_min_height, peak_valley_height, lo, n - 1,
               peak_smoothing);
// PeakFit keeps the peaks strictly inside the background points, in order.
number n_knots = ImageGetDimensionSize(knots, 0);
number knot_lo = GetPixel(knots, 0, 0);
number knot_hi = GetPixel(knots, n_knots - 1, 0);
number n_peaks = 0;
for (number k = 0; k < ImageGetDimensionSize(peaks, 1); k = k + 1) {
    if (GetPixel(peaks, 0, k) > knot_lo) { if (GetPixel(peaks, 0, k) < knot_hi) n_peaks = n_peaks + 1; }
}
PeakFit(profile, peaks, knots);
SaveImage(profile, profile_tiff);

// Candidates are the peaks with an area of at least peak_min_area percent of
// the strongest and a half width of at most peak_max_width times its; the
// rest are fits to the noise or broad humps of the background.
number strongest = 0;
for (number k = 0; k < n_peaks; k = k + 1) {
    if (GetPixel(peaks, 1, k) > GetPixel(peaks, 1, strongest)) strongest = k;
}
number area_floor = GetPixel(peaks, 1, strongest) * peak_min_area / 100;
number width_limit = GetPixel(peaks, 2, strongest) * peak_max_width;
number n_candidates = 0;
for (number k = 0; k < n_peaks; k = k + 1) {
    if (GetPixel(peaks, 1, k) >= area_floor) { if (GetPixel(peaks, 2, k) <= width_limit) n_candidates = n_candidates + 1; }
}
// Columns: radius, q, d, h2+k2+l2, area, half width, eta.
image candidates := RealImage("candidates", 4, 7, n_candidates);
number row = 0;
for (number k = 0; k < n_peaks; k = k + 1) {
    if (GetPixel(peaks, 1, k) >= area_floor) {
        if (GetPixel(peaks, 2, k) <= width_limit) {
            SetPixel(candidates, 0, row, GetPixel(peaks, 0, k));
            SetPixel(candidates, 4, row, GetPixel(peaks, 1, k));
            SetPixel(candidates, 5, row, GetPixel(peaks, 2, k));
            SetPixel(candidates, 6, row, GetPixel(peaks, 3, k));
            row = row + 1;
        }
    }
}
// The first candidate calibrates the q axis.
number r1 = GetPixel(candidates, 0, 0);
number q_step = first_ring_q / r1;
Result("Calibration: " + q_step + " 1/nm per pixel (first ring at radius " + r1 + ")\n");
// A ring is one reflection: its h2+k2+l2 lies within index_tolerance of a
// whole number and it is no wider than ring_max_width times the strongest
// peak. A candidate that is not is listed apart as unresolved: rings too
// close together to be told apart, fitted as one broad peak between them.
// The index tells them apart: two merged rings sit 0.17 or more off a whole
// number, one ring within 0.05. The width only guards a merged pair that
// lands on a whole number; a single ring fitted as a Lorentzian over a
// background a little low comes out up to 1.8 times as wide.
number ring_width = GetPixel(peaks, 2, strongest) * ring_max_width;
image is_ring := RealImage("is ring", 4, n_candidates, 1);
number n_rings = 0;
for (number k = 0; k < n_candidates; k = k + 1) {
    number r = GetPixel(candidates, 0, k);
    number q = r * q_step;
    number index = 3 * (r / r1) * (r / r1);  // if the first ring is 111
    SetPixel(candidates, 1, k, q);
    SetPixel(candidates, 2, k, 10 / q);
    SetPixel(candidates, 3, k, index);
    number whole = 0;
    for (; whole + 0.5 <= index; whole = whole + 1) {}
    number off = index - whole;
    if (off < 0) off = -off;
    if (off <= index_tolerance) {
        if (GetPixel(candidates, 5, k) <= ring_width) {
            SetPixel(is_ring, k, 0, 1);
            n_rings = n_rings + 1;
        }
    }
}
image table := RealImage("rings", 4, 7, n_rings);
image unresolved := RealImage("unresolved", 4, 7, n_candidates - n_rings);
number n_unresolved = 0;
row = 0;
for (number k = 0; k < n_candidates; k = k + 1) {
    for (number c = 0; c < 7; c = c + 1) {
        if (GetPixel(is_ring, k, 0) == 1) SetPixel(table, c, row, GetPixel(candidates, c, k));
        else SetPixel(unresolved, c, n_unresolved, GetPixel(candidates, c, k));
    }
    if (GetPixel(is_ring, k, 0) == 1) row = row + 1;
    else n_unresolved = n_unresolved + 1;
}
Result("Peaks (" + n_rings + " rings of " + n_peaks + " fitted peaks):\n");
Result("  radius/px  q/(1/nm)  d/A  h2+k2+l2  area  hwhm/px  eta\n");
for (number k = 0; k < n_rings; k = k + 1) {
    string line = " ";
    for (number c = 0; c < 7; c = c + 1) line = line + " " + GetPixel(table, c, k);
    Result(line + "\n");
}
if (n_unresolved > 0) {
    Result("Unresolved (" + n_unresolved + " peaks wider than one ring or between two indices: overlapping rings):\n");
    for (number k = 0; k < n_unresolved; k = k + 1) {
        string line = " ";
        for (number c = 0; c < 7; c = c + 1) line = line + " " + GetPixel(unresolved, c, k);
        Result(line + "\n");
    }
}

// ---- 4. Scattering-factor fit and radial distribution function -----------
image elements := OpenImage(elements_file);
// The scale and offset of <f^2> are fitted to the background under the rings:
// the spline of the peak fit (line 1), between its first and last point.
image under := RealImage("background", 4, n, 4);
for (number i = 0; i < n; i = i + 1) SetPixel(under, i, 0, GetPixel(profile, i, 1));
// The fit starts from <f^2> itself: scale 1, offset 0.
number offset = 0, scale = 1;
RDF_Kirklandfit(under, elements, offset, scale, knot_lo, knot_hi, q_step, 0);
Result("Background fit over radii " + knot_lo + " to " + knot_hi + ": scale = " + scale +
       ", offset = " + offset + "\n");
// The reduced intensity of the measured profile over that background, and
// its transform from the beam stop out to the edge of the profile.
image reduced := RealImage("reduced intensity", 4, n, 4);
for (number i = 0; i < n; i = i + 1) SetPixel(reduced, i, 0, GetPixel(corrected, i, 0));
RDF_Kirklandfunction(reduced, elements, offset, scale, q_step, 0);
number rdf_first = first + half_window;
number rdf_last = n - 2;
image rdf;
CalculateRDF(reduced, rdf, rdf_first, rdf_last, q_step, rdf_r_max, rdf_radii);
SaveImage(rdf, rdf_tiff);
// Its maxima beyond 1.5 A that reach half the largest value there.
number dr = rdf_r_max / rdf_radii;
number j0 = 0;
for (; j0 * dr < 1.5; j0 = j0 + 1) {}
number g_max = 0;
for (number j = j0; j < rdf_radii; j = j + 1) {
    if (GetPixel(rdf, j, 0) > g_max) g_max = GetPixel(rdf, j, 0);
}
string maxima = "";
for (number j = j0; j < rdf_radii - 1; j = j + 1) {
    number g = GetPixel(rdf, j, 0);
    if (g > g_max / 2) {
        if (g >= GetPixel(rdf, j - 1, 0)) { if (g > GetPixel(rdf, j + 1, 0)) maxima = maxima + " " + j * dr; }
    }
}
Result("RDF maxima at r =" + maxima + " A\n");

// ---- 5. Exports -----------------------------------------------------------
saveprofileasxls(profile, workbook_file, "q_(1/nm) profile background peaks_only fit", q_step);
saveprofileasxlslong(reduced, workbook_file, "q_(1/nm) profile background phi zeros", q_step,
                     "Reduced intensity of " + pattern_file, "Reduced intensity");
saveprofileasxlslong(rdf, workbook_file, "r_(A) G(r)", dr, "Radial distribution function", "RDF");
saveimageasxls(table, workbook_file, "radius_(px) q_(1/nm) d_(A) h2+k2+l2 area hwhm_(px) eta",
               "Peaks of " + pattern_file, "Peaks");
if (n_unresolved > 0) {
    saveimageasxls(unresolved, workbook_file, "radius_(px) q_(1/nm) d_(A) h2+k2+l2 area hwhm_(px) eta",
                   "Unresolved peaks of " + pattern_file + " (overlapping rings)", "Unresolved");
}
Result("Wrote " + profile_tiff + ", " + projection_tiff + ", " + rdf_tiff + " and " + workbook_file + "\n");
