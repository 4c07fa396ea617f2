#include "geometry/centre_check.h"

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

// Bin of the largest ring mean, by the cost's own scan (strictly greater,
// so not-a-numbers are passed over); -1 when no bin counted a pixel.
int LargestBin(const std::vector<float>& value, float& largest) {
    int bin = -1;
    largest = -INFINITY;
    for (std::size_t b = 0; b < value.size(); ++b)
        if (value[b] > largest) {
            largest = value[b];
            bin = static_cast<int>(b);
        }
    return bin;
}

// Radii around bin m whose means stay at or above halfway between value[m]
// and the smallest mean; a bin not a number ends the walk.
int PeakWidth(const std::vector<float>& value, int m) {
    float smallest = value[static_cast<std::size_t>(m)];
    for (float v : value)
        if (v < smallest) smallest = v;
    const float half = (value[static_cast<std::size_t>(m)] + smallest) / 2.0f;
    int lo = m, hi = m;
    while (lo > 0 && value[static_cast<std::size_t>(lo - 1)] >= half) --lo;
    while (hi + 1 < static_cast<int>(value.size()) && value[static_cast<std::size_t>(hi + 1)] >= half) ++hi;
    return hi - lo + 1;
}

bool SharperNearby(const maxazimuthalintcenter& cost, float x1, float y1, float largest) {
    for (int k = 0; k < 8; ++k) {
        const double a = k * (3.14159265358979 / 4.0);
        const double probe[2] = {x1 + kProbeDistance * std::cos(a), y1 + kProbeDistance * std::sin(a)};
        float m = 0.0f;
        if (LargestBin(cost.RingMeans(probe), m) >= 0 && m - largest > kSharperShare * std::fabs(largest)) return true;
    }
    return false;
}

// The largest ring mean at the start mirrored through the result, over
// the result's; 0 when no bin there counts a pixel.
float MirrorShare(const maxazimuthalintcenter& cost, float x0, float y0, float x1, float y1, float largest) {
    const double mirror[2] = {2.0 * x0 - x1, 2.0 * y0 - y1};
    float m = 0.0f;
    if (LargestBin(cost.RingMeans(mirror), m) < 0 || !(largest > 0.0f)) return 0.0f;
    return m / largest;
}

}  // namespace

CentreJudgement JudgeRefinedCentre(const maxazimuthalintcenter& cost, int r_in, int r_out, float x0, float y0, float x1,
                                   float y1) {
    CentreJudgement j;
    const double result[2] = {x1, y1};
    float largest = 0.0f;
    const int bin = LargestBin(cost.RingMeans(result), largest);
    j.ring = bin < 0 ? -1 : r_in + bin;
    j.shift_bound = cost.ShiftBound();
    const double start[2] = {x0, y0};
    const std::vector<float> before = cost.RingMeans(start);
    float start_largest = 0.0f;
    const int start_bin = LargestBin(before, start_largest);
    if (start_bin >= 0) {
        j.start_ring = r_in + start_bin;
        j.start_width = PeakWidth(before, start_bin);
    }
    j.moved = static_cast<float>(std::hypot(static_cast<double>(x1) - x0, static_cast<double>(y1) - y0));
    const float reach = static_cast<float>(cost.ShiftBound() - kSearchEdgeMargin);
    if (std::fabs(x1 - x0) >= reach || std::fabs(y1 - y0) >= reach)
        j.refusal = CentreRefusal::SearchBoxEdge;
    else if (bin < 0 || bin <= kWindowEndMargin || bin >= r_out - r_in - 1 - kWindowEndMargin)
        j.refusal = CentreRefusal::WindowEnd;
    else if (j.start_ring >= 0 && j.moved > static_cast<float>(j.start_width) + kMoveBeyondPeak)
        j.refusal = CentreRefusal::OtherRing;
    else if (SharperNearby(cost, x1, y1, largest))
        j.refusal = CentreRefusal::SharperNearby;
    if (j.refusal == CentreRefusal::None && j.moved > kMirrorMove) {
        j.mirror = MirrorShare(cost, x0, y0, x1, y1, largest);
        if (j.mirror >= kMirrorShare) j.refusal = CentreRefusal::MirroredStart;
    }
    return j;
}

CentreJudgement RefineCenterJudged(DiffractionPattern& pattern, int r_in, int r_out) {
    maxazimuthalintcenter cost(r_in, r_out, pattern);
    const float x0 = pattern.centerX, y0 = pattern.centerY;
    RefineCenterCore(pattern, cost);
    const float x1 = pattern.centerX, y1 = pattern.centerY;
    const CentreJudgement j = JudgeRefinedCentre(cost, r_in, r_out, x0, y0, x1, y1);
    if (j.refusal != CentreRefusal::None) {
        pattern.centerX = x0;
        pattern.centerY = y0;
    }
    return j;
}

std::string RefusalText(const CentreJudgement& j, int r_in, int r_out) {
    const std::string window = " (" + std::to_string(r_in) + " to " + std::to_string(r_out) + ")";
    switch (j.refusal) {
        case CentreRefusal::None: return "";
        case CentreRefusal::SearchBoxEdge:
            return "the centre ran to the edge of its search box, " + std::to_string(j.shift_bound) +
                   " pixels from the start: no ring held it";
        case CentreRefusal::WindowEnd:
            if (j.ring < 0) return "no pixel of the window" + window + " lies in the image around the refined centre";
            return "the sharpest ring mean lies at radius " + std::to_string(j.ring) + ", at the end of the window" +
                   window + ": the edge of a ring beyond it or a falling background, not a ring it brackets";
        case CentreRefusal::OtherRing: {
            char moved[32];
            std::snprintf(moved, sizeof moved, "%.1f", static_cast<double>(j.moved));
            return "the centre moved " + std::string(moved) + " pixels, beyond the ring it started on (radius " +
                   std::to_string(j.start_ring) + ", its peak " + std::to_string(j.start_width) +
                   " radii wide): the sharpest ring mean now lies on another ring, at radius " + std::to_string(j.ring);
        }
        case CentreRefusal::MirroredStart: {
            char text[256];
            std::snprintf(text, sizeof text,
                          "the centre moved %.1f pixels, yet the rings are as sharp (%.0f %%) as far on the other side "
                          "of the start: the start is the pattern's centre and the search took a displaced ring's edge",
                          static_cast<double>(j.moved), 100.0 * static_cast<double>(j.mirror));
            return text;
        }
        case CentreRefusal::SharperNearby:
            return "a centre 3 pixels from the refined one makes a ring more than 2 % sharper: the search stopped "
                   "on the edge of a displaced ring";
    }
    return "";
}
