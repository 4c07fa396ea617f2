#pragma once
// Which offsets lie in an angular sector, decided mostly without an angle.
//
// The kernels keep an offset (ax, ay) when phi = PolarAngle(ax, ay) passes
// start < phi < end (or, when start > end, phi > start || phi < end). The
// angle is an atan2f per pixel, most of the sector kernels' time. Here the
// directions at which that decision can change (0, start and end, each with
// its opposite) cut the plane into wedges; the signs of the cross products of
// an offset with those directions name its wedge, and a table built once holds
// each wedge's decision. Offsets within an angle of kSectorMargin of any such
// direction, where the rounding of phi could matter, fall back to the angle
// itself. phi differs from the exact angle by a few float ulps (< 1e-6 rad),
// far below the margin, so both ways give the same decision.

#include "geometry/polar_angle.h"

#include <cmath>
#include <cstdint>

constexpr double kSectorMargin = 1e-3;

class SectorTest {
public:
    // Never throws. Not-a-number bounds keep nothing, as the angle test does.
    SectorTest(float start, float end);

    // The decision of the angle test above, for any finite (ax, ay).
    bool operator()(float ax, float ay) const
    {
        const double X = ax, Y = -static_cast<double>(ay);
        const double near = kSectorMargin * (std::fabs(X) + std::fabs(Y));
        unsigned wedge = 0;
        for (unsigned i = 0; i < n_; ++i) {
            const double c = cos_[i] * Y - sin_[i] * X;
            // |c| = rho |sin(theta - a_i)| and rho <= |X| + |Y|.
            if (!(std::fabs(c) > near))
                return ByAngle(ax, ay);
            wedge |= static_cast<unsigned>(c > 0.0) << i;
        }
        const std::uint8_t d = table_[wedge];
        return d == kAsk ? ByAngle(ax, ay) : d == kKeep;
    }

    // The angle test itself.
    bool ByAngle(float ax, float ay) const
    {
        const float phi = PolarAngle(ax, ay);
        if (end_ > start_)
            return start_ < phi && phi < end_;
        if (start_ > end_)
            return phi > start_ || phi < end_;
        return false;
    }

private:
    static constexpr std::uint8_t kDrop = 0, kKeep = 1, kAsk = 2;
    float start_, end_;
    unsigned n_ = 0;            // directions in use, at most 3
    double cos_[3] = {}, sin_[3] = {};
    std::uint8_t table_[8];     // decision per sign pattern
};
