// Centre and ellipticity handlers: guess the centre, bracket the strongest
// ring, refine the centre and the elliptical distortion. Each writes the
// script's numbers only after its last analysis step, so a refusal or a
// failure leaves them as they were.
//
// The four refinements return 1.0 when they wrote their results back and
// 0.0 when the centre, the radii or the starting ellipse were refused, the
// result was judged no success (for the reason each gives: a ring no sharper
// than at the start, a search stopped short), or the work failed; the two
// guesses return 1.0 in every case. A ring fit whose distortion is too large
// to believe writes the circle back and returns 0.0.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>

#include "geometry/azimuthal_integration.h"
#include "geometry/center_refinement.h"
#include "geometry/centre_check.h"
#include "geometry/diffraction_pattern.h"
#include "geometry/elliptical_ring_pixels.h"
#include "geometry/ellipticity_fit.h"
#include "geometry/ring_sharpness.h"
#include "plugin/frame.h"
#include "plugin/handlers.h"
#include "plugin/image_bridge.h"
#include "plugin/pattern_input.h"
#include "plugin/script_number.h"
#include "plugin/streams.h"

namespace {

std::int32_t Trunc(float v) { return orvan::TruncateScriptNumber(v); }

float Read(const float* number) { return number ? *number : 0.0f; }

// Beyond these sizes a request is a mistake, not a pattern: a centre far
// outside the image asks for a profile of its distance in bins, and angle
// bins and smoothing widths near the 32-bit limit for tables of gigabytes.
constexpr std::int64_t kMaxRadius = std::int64_t{1} << 20;
constexpr std::int64_t kMaxPolarSamples = std::int64_t{1} << 26;

// The angle bins and smoothing half-width of the ring fit, checked against
// the radius range before anything is allocated. Any width smooths (beyond
// the range the kernel meets zeros), but each sector's smoothed profile
// holds radii + 2 * width samples before it is cut to the range. Bins below
// 1 and negative widths are the fit's own to refuse.
void CheckRingFit(std::int32_t r_in, std::int32_t r_out, std::int32_t bins, std::int32_t half_width) {
    const std::int64_t radii = std::int64_t{r_out} - r_in;
    if (bins > 0 && radii * bins > kMaxPolarSamples)
        throw std::invalid_argument("ellipticity fit: " + std::to_string(bins) + " angle bins over " +
                                    std::to_string(radii) + " radii exceed " + std::to_string(kMaxPolarSamples) +
                                    " samples");
    const std::int64_t smoothed = radii + 2 * std::int64_t{half_width};
    if (bins > 0 && half_width > 0 && smoothed * bins > kMaxPolarSamples)
        throw std::invalid_argument("ellipticity fit: a smoothing half-width of " + std::to_string(half_width) +
                                    " over " + std::to_string(bins) + " angle bins exceeds " +
                                    std::to_string(kMaxPolarSamples) + " samples");
}

// The pattern of a centre function: an image that is not valid (or has no
// pixels) is refused, since no centre or ring can be found on it and the
// refinements would otherwise report moved centres as success.
void LoadPattern(DiffractionPattern& pattern, LinkImage* image, float center_x, float center_y, const char* function) {
    orvan::LoadPattern(pattern, image, center_x, center_y);
    if (pattern.image.is_empty())
        throw std::invalid_argument(std::string(function) +
                                    ": the image is not valid or has no pixels; nothing is changed");
}

// The radii as the script gave them must satisfy inner > 10, outer > inner
// and outer below the inside radius around the script's centre less 5.
// Otherwise the refusal line goes to the Results window and false comes back.
bool RadiiAccepted(const DiffractionPattern& pattern, float inner, float outer, std::int32_t& r_in,
                   std::int32_t& r_out) {
    r_in = Trunc(inner);
    r_out = Trunc(outer);
    const std::int32_t limit = MaxRadius(pattern, 1) - 5;
    // The last condition only matters for a centre far outside the image.
    if (outer > inner && static_cast<double>(inner) > 10.0 && static_cast<float>(limit) > outer && r_out <= kMaxRadius)
        return true;
    ResultsStream << "Bad input for inner and outer radius!" << std::endl;
    return false;
}

// A centre that is not a number or infinite starts nothing: the refusal line
// goes to the Results window and false comes back.
bool CentreFinite(float x, float y) {
    if (std::isfinite(x) && std::isfinite(y)) return true;
    ResultsStream << "Bad input for the centre!" << std::endl;
    return false;
}

// Nor does a centre so far outside the image that its nearest pixel lies
// twice the outer radius away: no trial ratio, angle or step of the
// refinements reaches a pixel from there, and they would report the start
// (or a wandering ellipse) as a result.
bool CentreNearImage(const DiffractionPattern& pattern, std::int32_t r_out) {
    const double x = pattern.centerX, y = pattern.centerY;
    const double last_x = static_cast<double>(PatternWidth(pattern)) - 1.0;
    const double last_y = static_cast<double>(PatternHeight(pattern)) - 1.0;
    const double dx = std::max({0.0, -x, x - last_x}), dy = std::max({0.0, -y, y - last_y});
    if (std::hypot(dx, dy) < 2.0 * r_out) return true;
    ResultsStream << "Bad input for the centre!" << std::endl;
    return false;
}

// The centre and radii every refinement checks, in that order.
bool StartAccepted(const DiffractionPattern& pattern, float inner, float outer, std::int32_t& r_in,
                   std::int32_t& r_out) {
    return CentreFinite(pattern.centerX, pattern.centerY) && RadiiAccepted(pattern, inner, outer, r_in, r_out) &&
           CentreNearImage(pattern, r_out);
}

// The angle (degrees) and axis ratio an ellipse refinement starts from. The
// cost is flat outside the ratios it integrates (Covers), so from a start
// there the minimiser has nothing to descend and wanders.
bool EllipseAccepted(float angle, float ratio) {
    if (std::isfinite(angle) && EllipticalRingPixels::Covers(ratio)) return true;
    ResultsStream << "Bad input for angle or axis ratio!" << std::endl;
    return false;
}

// The radii and table of a ring fit, as the two ellipticity refinements
// check them.
struct RingFit {
    std::int32_t r_in, r_out, bins, s;
};

// False (after the refusal line) when the radii are refused; throws when the
// fit's table would be too large.
bool AcceptRingFit(const DiffractionPattern& pattern, const float* inner, const float* outer, float angle_bins,
                   float half_width, RingFit& fit) {
    if (!StartAccepted(pattern, Read(inner), Read(outer), fit.r_in, fit.r_out)) return false;
    fit.bins = Trunc(angle_bins);
    fit.s = Trunc(half_width);
    CheckRingFit(fit.r_in, fit.r_out, fit.bins, fit.s);
    return true;
}

float Degrees(float radians) { return static_cast<float>(static_cast<double>(radians) * 180.0 / 3.14159265358979); }

float Radians(float degrees) { return static_cast<float>(static_cast<double>(degrees) * 3.14159265358979 / 180.0); }

// A distortion above 1.2 is not believed: the circle is written back instead,
// and the refinement returns 0, since the centre came from that ellipse.
bool DistortionTooLarge(DiffractionPattern& pattern) {
    if (!(static_cast<double>(pattern.axisRatio) > 1.2)) return false;
    ResultsStream << "ERROR distortion to large." << std::endl;
    pattern.axisRatio = 1.0f;
    pattern.angle = 0.0f;
    return true;
}

void WriteEllipse(const DiffractionPattern& pattern, float* center_x, float* center_y, float* angle, float* axis_ratio,
                  float* ring_radius, float* inner_radius, float* outer_radius, std::int32_t r_in, std::int32_t r_out,
                  float ring) {
    orvan::StoreFloat(center_x, pattern.centerX);
    orvan::StoreFloat(center_y, pattern.centerY);
    orvan::StoreFloat(axis_ratio, pattern.axisRatio);
    orvan::StoreFloat(angle, Degrees(pattern.angle));
    orvan::StoreFloat(inner_radius, static_cast<float>(r_in));
    orvan::StoreFloat(ring_radius, ring);
    orvan::StoreFloat(outer_radius, static_cast<float>(r_out));
}

// Where RefineCenterEllipticitySimplex starts when given a circle.
constexpr float kCircleStart = 1.001f;

// The verdict every ellipse refinement gives its result (JudgeSharpness):
// false, after the line saying why, when it is no success. The centre is
// probed only where the refinement moved it.
bool SharpestResult(const char* function, const PatternView& start, const PatternView& result, std::int32_t r_in,
                    std::int32_t r_out, bool moved_centre) {
    const SharpnessVerdict verdict = JudgeSharpness(start, result, r_in, r_out, moved_centre);
    if (verdict.refusal == SharpnessRefusal::None) return true;
    ResultsStream << function << ": " << SharpnessText(verdict) << "; nothing is changed" << std::endl;
    return false;
}

}  // namespace

float GuessCenter(LinkImage* image, float* center_x, float* center_y) {
    float result = 1.0f;
    orvan::RunFramed([&] {
        DiffractionPattern pattern;
        LoadPattern(pattern, image, Read(center_x), Read(center_y), "GuessCenter");
        GuessCenterCore(pattern, 1);
        if (!std::isfinite(pattern.centerX) || !std::isfinite(pattern.centerY))
            throw std::runtime_error("GuessCenter: no pixel lies above the image mean; the centre is left as given");
        orvan::StoreFloat(center_x, pattern.centerX);
        orvan::StoreFloat(center_y, pattern.centerY);
    });
    return result;
}

float GuessInnerandOuterRadius(LinkImage* image, float half_width, float center_x, float center_y, float* ring_radius,
                               float* inner_radius, float* outer_radius) {
    float result = 1.0f;
    orvan::RunFramed([&] {
        DiffractionPattern pattern;
        LoadPattern(pattern, image, center_x, center_y, "GuessInnerandOuterRadius");
        if (!CentreFinite(center_x, center_y)) return;
        const std::int32_t R = MaxRadius(pattern, 0);
        if (R < 1)
            throw std::invalid_argument(
                "GuessInnerandOuterRadius: the image is too small for an outer radius of at least 1");
        if (R > kMaxRadius)
            throw std::invalid_argument("GuessInnerandOuterRadius: an outer radius of " + std::to_string(R) +
                                        " is beyond the largest profile of " + std::to_string(kMaxRadius) +
                                        " bins; the centre lies too far outside the image");
        // A negative width would write an inverted window; one wider than
        // the largest radius cannot bracket a ring (and past the integers
        // wrote -2147483648).
        if (!(half_width >= 0.0f && half_width <= static_cast<float>(R))) {
            ResultsStream << "Bad input for the half-width!" << std::endl;
            return;
        }
        std::int32_t a = Trunc(Read(inner_radius));
        std::int32_t m = Trunc(std::floor(Read(ring_radius) + 0.5f));
        std::int32_t b = Trunc(Read(outer_radius));
        std::int32_t lo = 100, hi = R;
        if (a == 0 && b == 0 && m != 0) {
            a = Trunc(static_cast<float>(m) - half_width);
            b = Trunc(static_cast<float>(m) + half_width);
            if (a < b && a > 100 && b < R) {
                lo = a;
                hi = b;
            }
        }
        AzimuthalProfileMax(pattern, static_cast<std::uint32_t>(lo), static_cast<std::uint32_t>(hi), m);
        // The window is clipped to the radii there are, 0 to R: it still
        // brackets the ring, and the refinements judge the radii themselves.
        a = std::max(Trunc(static_cast<float>(m) - half_width), 0);
        b = std::min(Trunc(static_cast<float>(m) + half_width), R);
        orvan::StoreFloat(ring_radius, static_cast<float>(m));
        orvan::StoreFloat(inner_radius, static_cast<float>(a));
        orvan::StoreFloat(outer_radius, static_cast<float>(b));
    });
    return result;
}

float RefineCenter(LinkImage* image, float* center_x, float* center_y, float* ring_radius, float* inner_radius,
                   float* outer_radius) {
    float result = 0.0f;
    orvan::RunFramed([&] {
        DiffractionPattern pattern;
        LoadPattern(pattern, image, Read(center_x), Read(center_y), "RefineCenter");
        std::int32_t r_in, r_out;
        if (!StartAccepted(pattern, Read(inner_radius), Read(outer_radius), r_in, r_out)) return;
        const CentreJudgement judged = RefineCenterJudged(pattern, r_in, r_out);
        if (judged.refusal != CentreRefusal::None) {
            ResultsStream << "RefineCenter: " << RefusalText(judged, r_in, r_out) << "; the centre is left as given"
                          << std::endl;
            return;
        }
        // The ring written is the one the judgement found inside the window:
        // the plain profile's maximum can lie at or beyond the window's end
        // (a falling background, a bright disc) where the radius-weighted
        // means it judged do not.
        orvan::StoreFloat(center_x, pattern.centerX);
        orvan::StoreFloat(center_y, pattern.centerY);
        orvan::StoreFloat(inner_radius, static_cast<float>(r_in));
        orvan::StoreFloat(ring_radius, static_cast<float>(judged.ring));
        orvan::StoreFloat(outer_radius, static_cast<float>(r_out));
        result = 1.0f;
    });
    return result;
}

float RefineCenterEllipticity(LinkImage* image, float* center_x, float* center_y, float* angle, float* axis_ratio,
                              float* ring_radius, float* inner_radius, float* outer_radius, float angle_bins,
                              float half_width) {
    float result = 0.0f;
    orvan::RunFramed([&] {
        DiffractionPattern pattern;
        LoadPattern(pattern, image, Read(center_x), Read(center_y), "RefineCenterEllipticity");
        RingFit fit;
        if (!AcceptRingFit(pattern, inner_radius, outer_radius, angle_bins, half_width, fit)) return;
        const std::int32_t r_in = fit.r_in, r_out = fit.r_out, bins = fit.bins, s = fit.s;
        float ring = 0.0f;
        const PatternView start(pattern);
        RefineCenterEllipticityTwoPassCore(pattern, r_in, r_out, bins, s, &ring, ResultsStream, DiagnosticStream());
        const bool too_large = DistortionTooLarge(pattern);
        if (too_large) {
            std::int32_t m = 0;
            AzimuthalProfileMax(pattern, static_cast<std::uint32_t>(r_in), static_cast<std::uint32_t>(r_out), m);
            ring = static_cast<float>(m);
        } else if (!SharpestResult("RefineCenterEllipticity", start, pattern, r_in, r_out, true)) {
            return;
        }
        WriteEllipse(pattern, center_x, center_y, angle, axis_ratio, ring_radius, inner_radius, outer_radius, r_in,
                     r_out, ring);
        result = too_large ? 0.0f : 1.0f;
    });
    return result;
}

float RefineCenterEllipticityFit(LinkImage* image, float* center_x, float* center_y, float* angle, float* axis_ratio,
                                 float* ring_radius, float* inner_radius, float* outer_radius, float angle_bins,
                                 float half_width) {
    float result = 0.0f;
    orvan::RunFramed([&] {
        DiffractionPattern pattern;
        LoadPattern(pattern, image, Read(center_x), Read(center_y), "RefineCenterEllipticityFit");
        RingFit fit;
        if (!AcceptRingFit(pattern, inner_radius, outer_radius, angle_bins, half_width, fit)) return;
        const std::int32_t r_in = fit.r_in, r_out = fit.r_out, bins = fit.bins, s = fit.s;
        float ring = 0.0f;
        const PatternView start(pattern);
        DiagnosticStream() << "First fit:" << std::endl;
        RefineCenterEllipticityFitCore(pattern, r_in, r_out, bins, s, 1, &ring, ResultsStream);
        // The ring radius of the fit stands even when the ellipse is refused.
        const bool too_large = DistortionTooLarge(pattern);
        if (!too_large && !SharpestResult("RefineCenterEllipticityFit", start, pattern, r_in, r_out, true)) return;
        WriteEllipse(pattern, center_x, center_y, angle, axis_ratio, ring_radius, inner_radius, outer_radius, r_in,
                     r_out, ring);
        result = too_large ? 0.0f : 1.0f;
    });
    return result;
}

float RefineCenterEllipticitySimplex(LinkImage* image, float* center_x, float* center_y, float* angle,
                                     float* axis_ratio, float*, float* inner_radius, float* outer_radius) {
    float result = 0.0f;
    orvan::RunFramed([&] {
        DiffractionPattern pattern;
        LoadPattern(pattern, image, Read(center_x), Read(center_y), "RefineCenterEllipticitySimplex");
        std::int32_t r_in, r_out;
        if (!CentreFinite(pattern.centerX, pattern.centerY) ||
            !RadiiAccepted(pattern, Read(inner_radius), Read(outer_radius), r_in, r_out) ||
            !EllipseAccepted(Read(angle), Read(axis_ratio)) || !CentreNearImage(pattern, r_out))
            return;
        pattern.angle = Radians(Read(angle));
        pattern.axisRatio = Read(axis_ratio);
        const PatternView start(pattern);
        // At a ratio of exactly 1 the angle means nothing and every ratio
        // below costs the same, so a search from there can stay put; a hair
        // off the circle the angle has a direction to turn.
        if (pattern.axisRatio == 1.0f) pattern.axisRatio = kCircleStart;
        RefineCenterEllipticityCore(pattern, r_in, r_out);
        if (!SharpestResult("RefineCenterEllipticitySimplex", start, pattern, r_in, r_out, false)) return;
        orvan::StoreFloat(center_x, pattern.centerX);
        orvan::StoreFloat(center_y, pattern.centerY);
        orvan::StoreFloat(axis_ratio, pattern.axisRatio);
        orvan::StoreFloat(angle, Degrees(pattern.angle));
        result = 1.0f;
    });
    return result;
}
