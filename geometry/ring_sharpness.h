#pragma once
// The verdict the refinements give their result. What they are for is a
// sharper ring in the corrected profile, so a result is no success when its
// ring stands lower there than at its start, or when an ellipse (or, for the
// ring fits, a centre) just beside it makes the ring sharper: ring points
// that agree with some ellipse, or a search stopped short, are no result.

#include "geometry/diffraction_pattern.h"

#include <string>

// How high the window's ring stands in the corrected profile of `pattern`
// (its centre and ellipse; pixel means over radii r_in .. r_out - 1): the
// largest height of a sample above the higher of the lowest samples on
// either side of it. Taken from the valleys, not from the window's ends, a
// ring that an end cuts neither tilts the measure nor counts as the ring.
// Radii without a pixel are passed over; 0 with fewer than three left.
// Throws only std::bad_alloc.
float RingProminence(const PatternView& pattern, int r_in, int r_out);

// A result may stand this share lower than its start: the noise of the
// measure between two nearly equal ellipses.
constexpr float kDullerShare = 0.01f;
// The ellipses whose ellipticity ((q - 1) cos 2a, (q - 1) sin 2a) lies 1 to
// kEllipseProbeRings times kEllipseProbe from the result's (8 at each step),
// and the 8 centres kCentreProbe pixels from it; one of them holding a ring
// higher by more than its share beats the result. On our survey patterns
// good results were beaten by none; searches that stopped at a ratio near 1
// on rings of 1.08, by 5 % to 300 %. The farther steps catch a search on a
// close ring pair that merged both rings into one: the ellipses 0.02 away
// blur them as much, those 0.04 to 0.08 away toward the true one hold a
// ring 1.2 to 1.7 times higher.
constexpr float kEllipseProbe = 0.02f;
constexpr int kEllipseProbeRings = 4;
constexpr float kSharperEllipseShare = 0.02f;
constexpr float kCentreProbe = 1.0f;
constexpr float kSharperCentreShare = 0.01f;

enum class SharpnessRefusal { None, Duller, SharperEllipse, SharperCentre };

struct SharpnessVerdict {
    SharpnessRefusal refusal = SharpnessRefusal::None;
    float start = 0.0f, result = 0.0f;  // RingProminence at each
    float nearby = 0.0f;                // the highest probe's, when it beat the result
};

// Judges `result` against `start`: duller than the start (by more than
// kDullerShare), then beaten by an ellipse beside it, then (with
// `probe_centre`, for a refinement that moved the centre) by a centre
// beside it. Throws only std::bad_alloc.
SharpnessVerdict JudgeSharpness(const PatternView& start, const PatternView& result, int r_in, int r_out,
                                bool probe_centre);

// One line for the Results window: why the result is no success.
std::string SharpnessText(const SharpnessVerdict& verdict);
