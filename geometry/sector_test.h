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
        const int w = WedgeOf(ax, ay, 1.0f);
        if (w < 0 || table_[w] == kAsk)
            return ByAngle(ax, ay);
        return table_[w] == kKeep;
    }

    enum class Span { None, All, Mixed };

    // The decision for every offset on the segment from (ax0, ay0) to
    // (ax1, ay1), when all share it: the offsets of a run of pixels lie on
    // such a segment to within float rounding (< 1e-6 of their size). Along
    // it each cross product is linear and |X| + |Y| convex, so a cross product
    // beyond twice the margin, of one sign, at both ends stays beyond the
    // margin, of that sign, at every offset between.
    Span SpanOf(float ax0, float ay0, float ax1, float ay1) const
    {
        const int w0 = WedgeOf(ax0, ay0, 2.0f), w1 = WedgeOf(ax1, ay1, 2.0f);
        if (w0 < 0 || w0 != w1 || table_[w0] == kAsk)
            return Span::Mixed;
        return table_[w0] == kKeep ? Span::All : Span::None;
    }

    // The angle test itself; out of line, as the rare path.
    bool ByAngle(float ax, float ay) const;

private:
    // The sign pattern of (ax, ay), or -1 when it lies within `widen` times
    // the margin of a direction.
    int WedgeOf(float ax, float ay, float widen) const
    {
        const float X = ax, Y = -ay;
        const float size = std::fabs(X) + std::fabs(Y);
        const float near = widen * static_cast<float>(kSectorMargin) * size;
        const float c0 = cos_[0] * Y - sin_[0] * X;
        const float c1 = cos_[1] * Y - sin_[1] * X;
        const float c2 = cos_[2] * Y - sin_[2] * X;
        // |c| = rho |sin(theta - a_i)| with rho <= size, computed to within
        // 2e-7 size; tiny offsets, whose products lose bits, take the angle.
        const bool far = std::fabs(c0) > near && std::fabs(c1) > near &&
                         std::fabs(c2) > near && size > 1e-30f;
        if (!far)
            return -1;
        return static_cast<int>(c0 > 0.0f) | static_cast<int>(c1 > 0.0f) << 1 |
               static_cast<int>(c2 > 0.0f) << 2;
    }

    static constexpr std::uint8_t kDrop = 0, kKeep = 1, kAsk = 2;
    float start_, end_;
    // Three directions; unused ones repeat the first.
    float cos_[3] = {1.0f, 1.0f, 1.0f}, sin_[3] = {0.0f, 0.0f, 0.0f};
    std::uint8_t table_[8];     // decision per sign pattern
};
