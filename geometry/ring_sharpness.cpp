#include "geometry/ring_sharpness.h"

#include "geometry/azimuthal_integration.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

float RingProminence(const PatternView& pattern, int r_in, int r_out) {
    if (r_in < 0 || r_out <= r_in) return 0.0f;
    const arma::Col<float> profile = AzimuthalIntegralEllipticityCore(pattern, static_cast<std::uint32_t>(r_in),
                                                                      static_cast<std::uint32_t>(r_out), 1);
    std::vector<float> p;
    for (int r = r_in; r < r_out; ++r)
        if (profile[static_cast<arma::uword>(r)] != 0.0f) p.push_back(profile[static_cast<arma::uword>(r)]);
    const std::size_t n = p.size();
    if (n < 3) return 0.0f;
    // Lowest sample at or before k, and at or after k.
    std::vector<float> left(n), right(n);
    left[0] = p[0];
    for (std::size_t k = 1; k < n; ++k) left[k] = std::min(left[k - 1], p[k]);
    right[n - 1] = p[n - 1];
    for (std::size_t k = n - 1; k-- > 0;) right[k] = std::min(right[k + 1], p[k]);
    float best = 0.0f;
    for (std::size_t k = 1; k + 1 < n; ++k) best = std::max(best, p[k] - std::max(left[k], right[k]));
    return best;
}

namespace {

constexpr double kPi = 3.14159265358979;

// The highest ring of the ellipses probed about the pattern's, in the plane
// of ellipticity, where a circle has no angle to lose.
float SharpestEllipseNearby(const PatternView& pattern, int r_in, int r_out) {
    const double e = static_cast<double>(pattern.axisRatio) - 1.0, twice = 2.0 * static_cast<double>(pattern.angle);
    const double e1 = e * std::cos(twice), e2 = e * std::sin(twice);
    float best = 0.0f;
    for (int step = 1; step <= kEllipseProbeRings; ++step)
        for (int k = 0; k < 8; ++k) {
            const double d = step * static_cast<double>(kEllipseProbe);
            const double p1 = e1 + d * std::cos(k * kPi / 4.0), p2 = e2 + d * std::sin(k * kPi / 4.0);
            PatternView probe = pattern;
            probe.axisRatio = static_cast<float>(1.0 + std::hypot(p1, p2));
            probe.angle = static_cast<float>(std::atan2(p2, p1) / 2.0);
            best = std::max(best, RingProminence(probe, r_in, r_out));
        }
    return best;
}

float SharpestCentreNearby(const PatternView& pattern, int r_in, int r_out) {
    float best = 0.0f;
    for (int k = 0; k < 8; ++k) {
        PatternView probe = pattern;
        probe.centerX = static_cast<float>(pattern.centerX + kCentreProbe * std::cos(k * kPi / 4.0));
        probe.centerY = static_cast<float>(pattern.centerY + kCentreProbe * std::sin(k * kPi / 4.0));
        best = std::max(best, RingProminence(probe, r_in, r_out));
    }
    return best;
}

}  // namespace

SharpnessVerdict JudgeSharpness(const PatternView& start, const PatternView& result, int r_in, int r_out,
                                bool probe_centre) {
    SharpnessVerdict v;
    v.start = RingProminence(start, r_in, r_out);
    v.result = RingProminence(result, r_in, r_out);
    if (v.result < v.start * (1.0f - kDullerShare)) {
        v.refusal = SharpnessRefusal::Duller;
        return v;
    }
    v.nearby = SharpestEllipseNearby(result, r_in, r_out);
    if (v.nearby > v.result * (1.0f + kSharperEllipseShare)) {
        v.refusal = SharpnessRefusal::SharperEllipse;
        return v;
    }
    if (probe_centre) {
        v.nearby = SharpestCentreNearby(result, r_in, r_out);
        if (v.nearby > v.result * (1.0f + kSharperCentreShare)) v.refusal = SharpnessRefusal::SharperCentre;
    }
    return v;
}

std::string SharpnessText(const SharpnessVerdict& v) {
    // Each refusal quotes two heights: the result's against what beat it.
    const char* format = nullptr;
    double first = v.nearby, second = v.result;
    switch (v.refusal) {
        case SharpnessRefusal::None: return "";
        case SharpnessRefusal::Duller:
            format = "the ring stands %.4g above its valleys in the corrected profile, less than the %.4g at the start";
            first = v.result;
            second = v.start;
            break;
        case SharpnessRefusal::SharperEllipse:
            format =
                "an ellipse beside the result (axis ratio 0.02 to 0.08 apart) makes the ring stand %.4g above "
                "its valleys, against %.4g: the search stopped short of the sharpest";
            break;
        case SharpnessRefusal::SharperCentre:
            format =
                "a centre 1 pixel from the result makes the ring stand %.4g above its valleys, against %.4g: "
                "the ring points agree with an ellipse that is not the rings'";
            break;
    }
    char text[240];
    std::snprintf(text, sizeof text, format, first, second);
    return text;
}
