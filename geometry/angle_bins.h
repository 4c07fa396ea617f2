#pragma once
// The angle bin of the polar rebinning, floor(PolarAngle(dx, dy) * b) with b
// = n / (2 pi) in single precision (n - 1 for an angle that rounds up to
// 2 pi), and the same bin for whole runs of pixels without an angle each.
//
// Bin j is the wedge between the directions j / b and (j + 1) / b. When both
// ends of a segment lie in one wedge narrower than pi, beyond twice the margin
// from its sides, every offset between has that bin (wedge_side.h).

#include "geometry/polar_angle.h"
#include "geometry/wedge_side.h"

#include <cmath>
#include <cstdint>
#include <vector>

class AngleBins {
public:
    // n >= 1 bins. Never throws apart from allocation failure.
    AngleBins(std::int32_t n, float b) : n_(n), b_(b) {
        if (n_ < 3) return;  // wedges of pi or more: always ask the angle
        cos_.resize(static_cast<std::size_t>(n_) + 1);
        sin_.resize(static_cast<std::size_t>(n_) + 1);
        for (std::int32_t j = 0; j <= n_; ++j) {
            const double a = j / static_cast<double>(b_);
            cos_[j] = static_cast<float>(std::cos(a));
            sin_[j] = static_cast<float>(std::sin(a));
        }
    }

    // The bin of one offset, from its angle.
    std::int64_t Of(float dx, float dy) const {
        const float phi = PolarAngle(dx, dy);
        std::int64_t j = static_cast<std::int64_t>(std::floor(phi * b_));
        if (j >= n_) j = n_ - 1;
        return j;
    }

    // The bin of every offset on the segment between the two, or -1 when
    // they may differ.
    std::int64_t SharedBy(float dx0, float dy0, float dx1, float dy1) const {
        if (cos_.empty()) return -1;
        const std::int64_t j = Of(dx0, dy0);
        if (Of(dx1, dy1) != j || !Inside(j, dx0, dy0) || !Inside(j, dx1, dy1)) return -1;
        return j;
    }

private:
    bool Inside(std::int64_t j, float dx, float dy) const {
        // Counter-clockwise of side j, clockwise of side j + 1.
        const WedgeSide side(dx, dy, 2.0f);
        return side.Counterclockwise(side.Cross(cos_[j], sin_[j])) &&
               side.Clockwise(side.Cross(cos_[j + 1], sin_[j + 1]));
    }

    std::int32_t n_;
    float b_;
    std::vector<float> cos_, sin_;
};
