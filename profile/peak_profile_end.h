#pragma once
// Peaks that the profile's ends cut short.

#include "profile/peak_profile_fit.h"

#include <vector>

// How many half widths of a peak the profile must reach beyond it on both
// sides for its fit to see the whole peak.
constexpr double kPeakReachHalfWidths = 3.0;

// Positions of the `peak_table` peaks that lie closer than
// kPeakReachHalfWidths half widths to the profile's first or last sample.
// The half width is read off the data, on the peak's side away from that
// end: the distance to where `subtracted` falls to half its value at the
// peak. A fitted width will not do: the fit of a cut peak tends to come
// out too narrow, and a broad fit of the background too wide. Never fails;
// a table without 4 rows gives nothing.
std::vector<double> PeaksCutByProfileEnd(const PeakProfileFit& fit);
