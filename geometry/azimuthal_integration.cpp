#include "geometry/azimuthal_integration.h"

#include "geometry/pixel_rows.h"
#include "geometry/polar_angle.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

struct PlainRadius {
    // Plain distance; the angle is taken on (dx, dy) itself.
    float operator()(float dx, float dy, float &ax, float &ay) const
    {
        ax = dx;
        ay = dy;
        return std::sqrt(dx * dx + dy * dy);
    }
};

struct EllipticalRadius {
    float cq, sq;    // cos theta / q, sin theta / q
    float ms, c;     // -sin theta, cos theta
    float g;         // (q + 1) / 2

    EllipticalRadius(float q, float angle)
    {
        const float theta = -angle;
        const float ct = std::cos(theta);
        const float st = std::sin(theta);
        cq = ct / q;
        sq = st / q;
        ms = -st;
        c = ct;
        g = static_cast<float>((static_cast<double>(q) + 1.0) / 2.0);
    }
    float operator()(float dx, float dy, float &ax, float &ay) const
    {
        const float u = cq * dx + sq * dy;
        const float w = ms * dx + c * dy;
        ax = u;
        ay = w;
        return std::sqrt(u * u + w * w) * g;
    }
};

struct NoSector {
    bool operator()(float, float) const { return true; }
};

struct Sector {
    float start, end;
    bool operator()(float ax, float ay) const
    {
        const float phi = PolarAngle(ax, ay);
        if (end > start)
            return start < phi && phi < end;
        if (start > end)
            return phi > start || phi < end;
        return false;
    }
};

// Plain-distance annulus outside which a pixel cannot pass the radius test.
AnnulusBound PlainBound(float cx, float cy, std::uint32_t r_min, std::uint32_t r_max)
{
    return MakeAnnulusBound(cx, cy, static_cast<double>(r_min) - 1.0,
                            static_cast<double>(r_max) - 1.0);
}

// The elliptical radius lies between |d| g min(1, 1/|q|) and |d| g max(1, 1/|q|)
// for a plain distance |d|, the rotation keeping lengths.
AnnulusBound EllipticalBound(float cx, float cy, std::uint32_t r_min, std::uint32_t r_max,
                             float q)
{
    const double aq = std::fabs(static_cast<double>(q));
    const double g = std::fabs((static_cast<double>(q) + 1.0) / 2.0);
    const double lo = g * std::min(1.0, 1.0 / aq);
    const double hi = g * std::max(1.0, 1.0 / aq);
    if (!(lo > 0.0) || !std::isfinite(lo) || !std::isfinite(hi)) {
        AnnulusBound b = MakeAnnulusBound(cx, cy, 0.0, 0.0);
        if (!b.none)
            b.whole = true;
        return b;
    }
    return MakeAnnulusBound(cx, cy, (static_cast<double>(r_min) - 1.0) / hi,
                            (static_cast<double>(r_max) - 1.0) / lo);
}

template <class Radius, class InSector>
arma::Col<float> BinPixels(const arma::Mat<float> &image, std::uint32_t r_min,
                           std::uint32_t r_max, float cx, float cy, std::int32_t plain,
                           const AnnulusBound &bound, const Radius &radius,
                           const InSector &inSector)
{
    arma::Col<float> sums(r_max, arma::fill::zeros);
    arma::Col<float> weights(r_max, arma::fill::zeros);
    float *S = sums.memptr();
    float *Wt = weights.memptr();

    const float rlo = static_cast<float>(static_cast<std::int32_t>(r_min) - 1);
    const float rhi = static_cast<float>(static_cast<std::int32_t>(r_max) - 1);
    ForEachAnnulusPixel(image, bound, [&](std::uint64_t x, std::uint64_t y, float v) {
        const float dx = static_cast<float>(x) - cx;
        const float dy = static_cast<float>(y) - cy;
        float ax, ay;
        const float r = radius(dx, dy, ax, ay);
        // r >= 0 only matters for ratios the kernels do not expect.
        if (!(r > rlo && r < rhi && r >= 0.0f))
            return;
        if (v == 0.0f)
            return;
        if (!inSector(ax, ay))
            return;
        // 0 <= r < r_max - 1 < 2^32: truncation is floor, and exact.
        const std::uint32_t k = static_cast<std::uint32_t>(r);
        const float s = r - static_cast<float>(k);
        S[k] += v * (1.0f - s);
        Wt[k] += 1.0f - s;
        S[k + 1] += v * s;
        Wt[k + 1] += s;
    });

    if (plain == 0) {
        for (std::uint32_t k = 1; k < r_max; ++k)
            Wt[k] = Wt[k] / static_cast<float>(k);
        const float m = r_min < r_max ? arma::mean(weights.subvec(r_min, r_max - 1))
                                      : std::numeric_limits<float>::quiet_NaN();
        for (std::uint32_t k = 0; k < r_max; ++k)
            Wt[k] = Wt[k] / m;
    }
    for (std::uint32_t k = 0; k < r_max; ++k) {
        if (Wt[k] != 0.0f)
            S[k] = S[k] / Wt[k];
    }
    return sums;
}

} // namespace

arma::Col<float> AzimuthalIntegralKernel(const arma::Mat<float> &image, std::uint32_t r_min,
                                         std::uint32_t r_max, float cx, float cy,
                                         std::int32_t plain)
{
    return BinPixels(image, r_min, r_max, cx, cy, plain, PlainBound(cx, cy, r_min, r_max),
                     PlainRadius(), NoSector());
}

arma::Col<float> AzimuthalIntegralEllipticityKernel(const arma::Mat<float> &image,
                                                    std::uint32_t r_min, std::uint32_t r_max,
                                                    float cx, float cy, float q, float angle,
                                                    std::int32_t plain)
{
    return BinPixels(image, r_min, r_max, cx, cy, plain,
                     EllipticalBound(cx, cy, r_min, r_max, q), EllipticalRadius(q, angle),
                     NoSector());
}

arma::Col<float> AzimuthalIntegralSektorKernel(const arma::Mat<float> &image, std::uint32_t r_min,
                                               std::uint32_t r_max, float start, float end,
                                               float cx, float cy, std::int32_t plain)
{
    return BinPixels(image, r_min, r_max, cx, cy, plain, PlainBound(cx, cy, r_min, r_max),
                     PlainRadius(), Sector{start, end});
}

arma::Col<float> AzimuthalIntegralSektorEllipticityKernel(const arma::Mat<float> &image,
                                                          std::uint32_t r_min, std::uint32_t r_max,
                                                          float start, float end, float cx,
                                                          float cy, float q, float angle,
                                                          std::int32_t plain)
{
    return BinPixels(image, r_min, r_max, cx, cy, plain,
                     EllipticalBound(cx, cy, r_min, r_max, q), EllipticalRadius(q, angle),
                     Sector{start, end});
}

arma::Col<float> AzimuthalIntegralCore(const DiffractionPattern &pattern, std::uint32_t r_min,
                                       std::uint32_t r_max, std::int32_t plain)
{
    return AzimuthalIntegralKernel(pattern.image, r_min, r_max, pattern.centerX, pattern.centerY,
                                   plain);
}

arma::Col<float> AzimuthalIntegralEllipticityCore(const DiffractionPattern &pattern,
                                                  std::uint32_t r_min, std::uint32_t r_max,
                                                  std::int32_t plain)
{
    return AzimuthalIntegralEllipticityKernel(pattern.image, r_min, r_max, pattern.centerX,
                                              pattern.centerY, pattern.axisRatio, pattern.angle,
                                              plain);
}

arma::Col<float> AzimuthalIntegralSektorCore(const DiffractionPattern &pattern, std::uint32_t r_min,
                                             std::uint32_t r_max, float start, float end,
                                             std::int32_t plain)
{
    return AzimuthalIntegralSektorKernel(pattern.image, r_min, r_max, start, end, pattern.centerX,
                                         pattern.centerY, plain);
}

arma::Col<float> AzimuthalIntegralSektorEllipticityCore(const DiffractionPattern &pattern,
                                                        std::uint32_t r_min, std::uint32_t r_max,
                                                        float start, float end,
                                                        std::int32_t plain)
{
    return AzimuthalIntegralSektorEllipticityKernel(pattern.image, r_min, r_max, start, end,
                                                    pattern.centerX, pattern.centerY,
                                                    pattern.axisRatio, pattern.angle, plain);
}

void AzimuthalProfileMax(const DiffractionPattern &pattern, std::uint32_t r_min,
                         std::uint32_t r_max, std::int32_t &position)
{
    const arma::Col<float> profile = AzimuthalIntegralCore(pattern, r_min, r_max, 1);
    float best = -std::numeric_limits<float>::infinity();
    std::int32_t index = 0;
    for (arma::uword k = 0; k < profile.n_elem; ++k) {
        if (profile[k] > best) {
            best = profile[k];
            index = static_cast<std::int32_t>(k);
        }
    }
    position = index;
}
