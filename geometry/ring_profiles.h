#pragma once
// The radial profiles the ring fit works on: the pattern rebinned into
// sectors, which radii of each sector are counted, which sectors are searched
// for a ring, and the samples of the sector and summed profiles.

#include "geometry/diffraction_pattern.h"

#include <armadillo>
#include <vector>

// What one call works on: the window, the smoothing and the rebinned pattern
// (sums S and weights W, row r for radius r_in + r, column a for sector a).
struct RingWork {
    int r_in, n_r, n_angles, s;
    float apr;  // angle bins per radian
    arma::vec kernel;
    arma::Mat<float> S, W;
    // The shares of every pixel, missing or not, laid out as W; only made
    // when some sample of W is not counted, and empty otherwise.
    arma::Mat<float> G;
    arma::vec X;  // the sample indices 0 .. n_r - 1, the fits' abscissae
};

// The window, angle scale, kernel, rebinned tables and the fits' abscissae
// for radii r_in .. r_out - 1 in n_angles sectors around the pattern's
// centre, smoothed with half-width s. Throws what PolarRebin throws.
RingWork PrepareRingWork(const DiffractionPattern& pattern, int r_in, int r_out, int n_angles, int s);

// A sample of the polar tables counts when its weight exceeds 0.1.
inline bool Counted(const arma::Mat<float>& W, int r, int a) { return static_cast<double>(W(r, a)) > 0.1; }

// The radii lo .. lo + n - 1 of the window (rows of the tables) that a
// profile is taken over; n = 0 for none.
struct RadiusSpan {
    int lo = 0, n = 0;
};

// The counted radii of sector a: the radii at either end whose pixels are
// all missing (a beam stop, a detector mask) are left out. n = 0 (no ring
// position) when a radius between counted ones is not counted, or when one
// at the ends holds no pixel at all (a sector narrower than the pixels).
// Never throws.
RadiusSpan SectorSpan(const RingWork& work, int a);

// The samples of a profile smoothed over the counted radii `counted` that
// the smoothing took from counted radii alone: at an end inside the window
// the s samples that the kernel's zeros pulled down are dropped. n = 0 when
// none is left. Never throws.
RadiusSpan Trimmed(const RingWork& work, RadiusSpan counted);

// Per sector: its counted radii, total weight T, and whether it is searched
// for a ring (it has a ring position, and a cut sector covers more than the
// coverage floor, below which it is dropped anyway).
struct SectorSpans {
    std::vector<RadiusSpan> counted;
    std::vector<char> searched;
    arma::Col<float> T;
    // The searched sectors the summed profile adds: all of them but those
    // whose counted radii begin further out than those of half of them (a
    // stop off the centre cuts the sectors on its far side deeper).
    std::vector<char> summed;
};

// The spans and totals of every sector. Never throws but for allocation.
SectorSpans FindSectorSpans(const RingWork& work);

// The coverage a kept sector must exceed: 0.9 of the mean total weight over
// all sectors.
float CoverageFloor(const arma::Col<float>& T);

// The radii every summed sector counts: the summed profile adds the same
// sectors at each of its radii, so it does not ramp where a stop's or a
// mask's edge changes their number. n = 0 when no sector is summed or
// their spans do not overlap. Never throws.
RadiusSpan SummedSpan(const RingWork& work, const SectorSpans& spans);

// The number of searched sectors.
int SearchedCount(const SectorSpans& spans);

// The number of summed sectors, the summed profile's scale.
int SummedCount(const SectorSpans& spans);

// The sum of the summed sectors' means over the radii `counted` (the
// summed span), smoothed, of which the samples `span` (inside `counted`)
// are returned. `counted` not empty.
arma::vec SummedProfile(const RingWork& work, const SectorSpans& spans, RadiusSpan counted, RadiusSpan span);

// Sector a's mean over its counted radii, smoothed, of which the samples
// `span` (inside `counted`) are returned. `counted` not empty.
arma::vec SectorProfile(const RingWork& work, int a, RadiusSpan counted, RadiusSpan span);

// The same profile smoothed without the zeros beyond the counted radii
// (SmoothProfileInside): it differs only within s samples of the ends of
// `counted`, which are in `span` only where the window itself ends there.
arma::vec SectorProfileInside(const RingWork& work, int a, RadiusSpan counted, RadiusSpan span);

// Sector a's mean over its counted radii, smoothed with half-width s (not the
// work's), of which the samples `span` (inside `counted`) are returned.
// `counted` not empty, s >= 0.
arma::vec SectorProfileSmoothedWith(const RingWork& work, int a, RadiusSpan counted, RadiusSpan span, int s);
