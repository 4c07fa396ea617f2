#include "geometry/sector_wedge.h"

#include <algorithm>
#include <vector>

SectorWedge::SectorWedge(float start, float end) : start_(start), end_(end) {
    std::fill(table_, table_ + 8, kAsk);
    if (!(start < end) && !(start > end)) {
        // Equal or not-a-number bounds: nothing passes, no direction needed.
        std::fill(table_, table_ + 8, kDrop);
        return;
    }
    // phi lies in [0, 2 pi]; bounds outside [-1, 2 pi + 1] never split it.
    const double dirs[3] = {0.0, start, end};
    unsigned n = 0;
    for (double a : dirs) {
        if (a >= -1.0 && a <= 2.0 * M_PI + 1.0) {
            cos_[n] = static_cast<float>(std::cos(a));
            sin_[n] = static_cast<float>(std::sin(a));
            ++n;
        }
    }
    // Every direction and its opposite, in [0, 2 pi), sorted: the wedges lie
    // between neighbours, and each has its own sign pattern.
    std::vector<double> cuts;
    for (unsigned i = 0; i < n; ++i) {
        // The directions the stored (rounded) cosines and sines describe.
        const double a = std::atan2(static_cast<double>(sin_[i]), static_cast<double>(cos_[i]));
        for (double b : {a, a + M_PI}) {
            b = std::fmod(b, 2.0 * M_PI);
            cuts.push_back(b < 0.0 ? b + 2.0 * M_PI : b);
        }
    }
    std::sort(cuts.begin(), cuts.end());
    bool filled[8] = {};
    cuts.push_back(cuts.front() + 2.0 * M_PI);
    for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
        // A wedge too thin to hold an offset far from both its sides is never
        // looked up; its midpoint's signs would not be trustworthy either.
        if (cuts[i + 1] - cuts[i] < 2.5 * kWedgeMargin) continue;
        double m = 0.5 * (cuts[i] + cuts[i + 1]);
        if (m >= 2.0 * M_PI) m -= 2.0 * M_PI;
        unsigned wedge = 0;
        for (unsigned j = 0; j < 3; ++j)
            wedge |= static_cast<unsigned>(cos_[j] * std::sin(m) - sin_[j] * std::cos(m) > 0.0) << j;
        const double s = start, e = end;
        const bool keep = e > s ? (s < m && m < e) : (m > s || m < e);
        const std::uint8_t d = keep ? kKeep : kDrop;
        // Two wedges never share a pattern; should rounding say otherwise,
        // the angle decides.
        table_[wedge] = !filled[wedge] || table_[wedge] == d ? d : kAsk;
        filled[wedge] = true;
    }
}

bool SectorWedge::ByAngle(float ax, float ay) const {
    const float phi = PolarAngle(ax, ay);
    if (end_ > start_) return start_ < phi && phi < end_;
    if (start_ > end_) return phi > start_ || phi < end_;
    return false;
}
