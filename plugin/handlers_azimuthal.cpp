// Azimuthal integration and projection handlers: a pattern image becomes a
// new radial profile or polar image, handed back through the script's image
// variable. Every refusal comes before the new image is stored, so a refused
// call leaves the script's variable holding its old image.
#include <climits>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "geometry/azimuthal_integration.h"
#include "geometry/diffraction_pattern.h"
#include "geometry/polar_projection.h"
#include "host/sdk/image_ref.h"
#include "plugin/frame.h"
#include "plugin/handlers.h"
#include "plugin/image_bridge.h"
#include "plugin/pattern_input.h"
#include "plugin/script_number.h"

namespace {

std::int32_t Trunc(float v) { return orvan::TruncateScriptNumber(v); }

[[noreturn]] void Refuse(const char* function, const std::string& problem) {
    throw std::invalid_argument(std::string(function) + ": " + problem);
}

// A centre far outside the image asks for a profile of its distance in
// bins; beyond these sizes the request is a mistake, not a pattern, and is
// refused before gigabytes are allocated.
constexpr std::int64_t kMaxRadius = std::int64_t{1} << 20;
constexpr std::int64_t kMaxProjectionSamples = std::int64_t{1} << 28;

void CheckRadius(const char* function, std::int64_t r) {
    if (r > kMaxRadius)
        Refuse(function, "an outer radius of " + std::to_string(r) + " is beyond the largest profile of " +
                             std::to_string(kMaxRadius) + " bins; the centre lies too far outside the image");
}

// Every handler here only reads its image, so it reads it in place.
using orvan::ReadOnlyPattern;

// The image, refused in the user's words when it cannot be analysed.
LinkImage* Analysable(const char* function, LinkImage* image) {
    if (!Host::ImageIsValid(image)) Refuse(function, "the image is not valid");
    const std::uint32_t type = Host::ImageGetDataType(image);
    if (type == HOST_TYPE_COMPLEX8 || type == HOST_TYPE_COMPLEX16)
        Refuse(function, "complex images cannot be analysed");
    return image;
}

// A centre or angle that is not finite would otherwise give a profile of
// zeros, or a refusal for a reason the script did not give.
void CheckFinite(const char* function, const char* what, float a, float b = 0.0f) {
    if (!std::isfinite(a) || !std::isfinite(b)) Refuse(function, std::string(what) + " must be a finite number");
}

// Checked before the image is read: the elliptical radius needs a positive
// finite ratio.
void CheckRatio(const char* function, float axis_ratio) {
    if (!(axis_ratio > 0.0f) || !std::isfinite(axis_ratio))
        Refuse(function, "the axis ratio must be a positive finite number");
}

void SetEllipse(PatternView& pattern, float angle_degrees, float axis_ratio) {
    pattern.angle = static_cast<float>(static_cast<double>(angle_degrees) * 3.14159265358979 / 180.0);
    pattern.axisRatio = axis_ratio;
}

float SectorRadians(float degrees) {
    return static_cast<float>(static_cast<double>(degrees / 180.0f) * 3.14159265358979);
}

// The sector must lie in [0, 2 pi]; an end of exactly 360 degrees is inside,
// although its single-precision radians exceed the double limit. A refused
// sector is reported through the host's Result function; false then. Angles
// that are not finite and escape those two messages throw.
bool SectorAccepted(const char* function, float start, float end, float end_degrees) {
    const char* text = nullptr;
    if (start < 0.0f)
        text = "ERROR! The starting angle is negative. \n Please provide angle values in the interval [0,2pi]. \n";
    else if (static_cast<double>(end) > 6.28318530717958 && end_degrees != 360.0f)
        text = "ERROR! The ending angle is larger than 2pi. \n Please provide angle values in the interval [0,2pi]. \n";
    if (!text) {
        CheckFinite(function, "the start angle", start);
        CheckFinite(function, "the end angle", end);
        return true;
    }
    Host::Result(host_string(text));
    return false;
}

// The corner rule by default; 1 asks for the largest circle inside the
// image; a value above 1 and below the corner radius is taken as it is.
std::uint32_t OuterRadius(const char* function, const PatternView& pattern, float radius) {
    std::int32_t r = MaxRadius(pattern, 0);
    if (radius == 1.0f)
        r = MaxRadius(pattern, 1);
    else if (radius > 1.0f && radius < static_cast<float>(r))
        r = Trunc(radius);
    if (r < 1) Refuse(function, "the image is too small for an outer radius of at least 1");
    CheckRadius(function, r);
    return static_cast<std::uint32_t>(r);
}

void StoreProfile(LinkImage** slot, const arma::Col<float>& profile) {
    orvan::StoreNewImage(slot, orvan::FloatMatrixToRealImage(profile, ""));
}

}  // namespace

void AzimuthalIntegral(LinkImage* image, LinkImage** profile, float center_x, float center_y, float radius,
                       float plain) {
    orvan::RunFramed([&] {
        const char* fn = "AzimuthalIntegral";
        CheckFinite(fn, "the centre", center_x, center_y);
        ReadOnlyPattern input(Analysable(fn, image), center_x, center_y);
        PatternView& pattern = input.get();
        const std::uint32_t r = OuterRadius(fn, pattern, radius);
        StoreProfile(profile, AzimuthalIntegralCore(pattern, 0, r, Trunc(plain)));
    });
}

void AzimuthalIntegralEllipticity(LinkImage* image, LinkImage** profile, float center_x, float center_y, float angle,
                                  float axis_ratio, float radius, float plain) {
    orvan::RunFramed([&] {
        const char* fn = "AzimuthalIntegralEllipticity";
        CheckFinite(fn, "the centre", center_x, center_y);
        CheckFinite(fn, "the ellipse angle", angle);
        CheckRatio(fn, axis_ratio);
        ReadOnlyPattern input(Analysable(fn, image), center_x, center_y);
        PatternView& pattern = input.get();
        SetEllipse(pattern, angle, axis_ratio);
        const std::uint32_t r = OuterRadius(fn, pattern, radius);
        StoreProfile(profile, AzimuthalIntegralEllipticityCore(pattern, 0, r, Trunc(plain)));
    });
}

void AzimuthalIntegralSektor(LinkImage* image, LinkImage** profile, float center_x, float center_y, float start_angle,
                             float end_angle, float radius, float plain) {
    orvan::RunFramed([&] {
        const char* fn = "AzimuthalIntegralSektor";
        CheckFinite(fn, "the centre", center_x, center_y);
        ReadOnlyPattern input(Analysable(fn, image), center_x, center_y);
        PatternView& pattern = input.get();
        const float start = SectorRadians(start_angle), end = SectorRadians(end_angle);
        if (!SectorAccepted(fn, start, end, end_angle)) return;
        const std::uint32_t r = OuterRadius(fn, pattern, radius);
        StoreProfile(profile, AzimuthalIntegralSektorCore(pattern, 0, r, start, end, Trunc(plain)));
    });
}

void AzimuthalIntegralSektorEllipticity(LinkImage* image, LinkImage** profile, float center_x, float center_y,
                                        float angle, float axis_ratio, float start_angle, float end_angle, float radius,
                                        float plain) {
    orvan::RunFramed([&] {
        const char* fn = "AzimuthalIntegralSektorEllipticity";
        CheckFinite(fn, "the centre", center_x, center_y);
        CheckFinite(fn, "the ellipse angle", angle);
        CheckRatio(fn, axis_ratio);
        ReadOnlyPattern input(Analysable(fn, image), center_x, center_y);
        PatternView& pattern = input.get();
        SetEllipse(pattern, angle, axis_ratio);
        const float start = SectorRadians(start_angle), end = SectorRadians(end_angle);
        if (!SectorAccepted(fn, start, end, end_angle)) return;
        const std::uint32_t r = OuterRadius(fn, pattern, radius);
        StoreProfile(profile, AzimuthalIntegralSektorEllipticityCore(pattern, 0, r, start, end, Trunc(plain)));
    });
}

void AzimuthalProjection(LinkImage* image, LinkImage** projection, float center_x, float center_y, float angle_count) {
    orvan::RunFramed([&] {
        const char* fn = "AzimuthalProjection";
        CheckFinite(fn, "the centre", center_x, center_y);
        const std::int32_t n_a = Trunc(angle_count);
        if (n_a < 0) Refuse(fn, "the angle count must be 0 or more");
        ReadOnlyPattern input(Analysable(fn, image), center_x, center_y);
        PatternView& pattern = input.get();
        const std::int32_t r = MaxRadius(pattern, 1) - 5;
        if (r < 2) Refuse(fn, "the image is too small for a projection around this centre");
        CheckRadius(fn, r);
        // The angle samples as the projection counts them (0 and 1: automatic).
        const double radii = static_cast<double>(r) - 1.0;
        const double angles = n_a == 0 ? 2.0 * r * 3.14159265358979 : n_a == 1 ? radii * 1.62 : n_a;
        if (angles * radii > static_cast<double>(kMaxProjectionSamples))
            Refuse(fn, "a projection of " + std::to_string(static_cast<long long>(angles)) + " angles by " +
                           std::to_string(r - 1) + " radii is beyond the largest of " +
                           std::to_string(kMaxProjectionSamples) + " samples");
        const arma::Mat<float> polar =
            AzimuthalProjectionCore(pattern, 1, static_cast<std::uint32_t>(r), static_cast<std::uint32_t>(n_a));
        orvan::StoreNewImage(projection, orvan::FloatMatrixToRealImage(polar, ""));
    });
}
