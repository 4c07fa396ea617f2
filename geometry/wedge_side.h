#pragma once
// On which side of a direction an offset lies, decided without its angle: the
// one test behind the sector wedges (sector_wedge.h) and the angle bins
// (angle_bins.h).
//
// For an offset (ax, ay) of the angle scale of PolarAngle, X = ax, Y = -ay,
// and the direction a, c = cos a Y - sin a X = rho sin(phi - a), computed to
// within 2e-7 (|X| + |Y|). An offset farther than the margin (as a sine of
// |X| + |Y|) from the direction is on the side sign(c) whatever the rounding
// of its angle phi, which differs from the exact angle by a few float ulps
// (< 1e-6 rad), far below the margin. Along a segment c is linear and
// |X| + |Y| convex, so when both ends of a segment are beyond twice the
// margin on one side, every offset between is beyond the margin on that
// side; the offsets of a run of pixels lie on such a segment to within float
// rounding (< 1e-6 of their size). Tiny offsets, whose products lose bits,
// are never decided here.

#include <cmath>

constexpr double kWedgeMargin = 1e-3;

class WedgeSide {
public:
    // The offset, judged at `widen` times the margin: 1 for a single offset,
    // 2 for the ends of a segment.
    WedgeSide(float ax, float ay, float widen)
        : X_(ax),
          Y_(-ay),
          size_(std::fabs(X_) + std::fabs(Y_)),
          near_(widen * static_cast<float>(kWedgeMargin) * size_) {}

    // c for the direction (cos a, sin a): positive counter-clockwise of it.
    float Cross(float cos_a, float sin_a) const { return cos_a * Y_ - sin_a * X_; }

    // Whether c puts the offset beyond the margin, counter-clockwise or
    // clockwise of its direction; never for an offset too small to tell.
    bool Counterclockwise(float c) const { return c > near_ && size_ > 1e-30f; }
    bool Clockwise(float c) const { return c < -near_ && size_ > 1e-30f; }
    bool Clear(float c) const { return std::fabs(c) > near_ && size_ > 1e-30f; }

private:
    float X_, Y_, size_, near_;
};
