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

CentreJudgement JudgeRefinedCentre(const maxazimuthalintcenter& cost, const PixelView& image, int r_in, int r_out,
                                   float x0, float y0, float x1, float y1) {
    CentreJudgement j;
    const double result[2] = {x1, y1};
    float largest = 0.0f;
    const int bin = LargestBin(cost.RingMeans(result), largest);
    j.ring = bin < 0 ? -1 : r_in + bin;
    j.shift_bound = cost.ShiftBound();
    j.moved = static_cast<float>(std::hypot(static_cast<double>(x1) - x0, static_cast<double>(y1) - y0));
    const float reach = static_cast<float>(cost.ShiftBound() - kSearchEdgeMargin);
    if (std::fabs(x1 - x0) >= reach || std::fabs(y1 - y0) >= reach) {
        j.refusal = CentreRefusal::SearchBoxEdge;
        return j;
    }
    if (bin < 0 || bin <= kWindowEndMargin || bin >= r_out - r_in - 1 - kWindowEndMargin) {
        j.refusal = CentreRefusal::WindowEnd;
        return j;
    }
    j.start_height = RingProminence(PatternView(image, x0, y0), r_in, r_out);
    j.height = RingProminence(PatternView(image, x1, y1), r_in, r_out);
    if (j.height < j.start_height * (1.0f - kDullerShare)) {
        j.refusal = CentreRefusal::Duller;
        return j;
    }
    if (SharperNearby(cost, x1, y1, largest)) {
        j.refusal = CentreRefusal::SharperNearby;
        return j;
    }
    if (j.moved > kMirrorMove) {
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
    const CentreJudgement j = JudgeRefinedCentre(cost, pattern.image, r_in, r_out, x0, y0, x1, y1);
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
        case CentreRefusal::Duller: {
            char text[200];
            std::snprintf(text, sizeof text,
                          "the ring stands %.4g above its valleys in the profile about the refined centre, less than "
                          "the %.4g about the start: the refinement made it no sharper",
                          static_cast<double>(j.height), static_cast<double>(j.start_height));
            return text;
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
