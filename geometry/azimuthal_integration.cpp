#include "geometry/azimuthal_integration.h"

#include "geometry/bin_shares.h"
#include "geometry/pixel_rows.h"
#include "geometry/radius_bands.h"
#include "geometry/sector_test.h"
#include "geometry/worker_threads.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <type_traits>
#include <vector>

namespace {

struct PlainRadius {
    // Plain distance; the angle is taken on (dx, dy) itself.
    float operator()(float dx, float dy, float &ax, float &ay) const
    {
        ax = dx;
        ay = dy;
        return std::sqrt(dx * dx + dy * dy);
    }
    // The offsets of a run of pixels lie on a segment to within rounding.
    bool RunsAreSegments() const { return true; }
    RadiusFrame Frame() const { return RadiusFrame(); }
};

struct EllipticalRadius {
    RadiusFrame f;
    bool segments;   // rounding small against |(u, w)|: ratio 0.5 .. 2

    EllipticalRadius(float q, float angle)
        : f(EllipticalFrame(q, angle)), segments(q >= 0.5f && q <= 2.0f)
    {
    }
    float operator()(float dx, float dy, float &ax, float &ay) const
    {
        const float u = f.cq * dx + f.sq * dy;
        const float w = f.ms * dx + f.c * dy;
        ax = u;
        ay = w;
        return std::sqrt(u * u + w * w) * f.g;
    }
    // The frame's rounding is below 2^-23 sqrt(2) max(1, 1/q) of |(u, w)|.
    bool RunsAreSegments() const { return segments; }
    RadiusFrame Frame() const { return f; }
};

struct NoSector {
    bool operator()(float, float) const { return true; }
};

// Plain-distance annulus outside which a pixel cannot have a radius in
// [inner, outer].
struct PlainBound {
    float cx, cy;
    double scale() const { return 1.0; }
    AnnulusBound operator()(double inner, double outer) const
    {
        return MakeAnnulusBound(cx, cy, inner, outer);
    }
};

// The elliptical radius lies between |d| g min(1, 1/|q|) and |d| g max(1, 1/|q|)
// for a plain distance |d|, the rotation keeping lengths.
struct EllipticalBound {
    float cx, cy, q;
    // Mean plain distance per unit of elliptical radius (the ellipse's area
    // equals the circle's), for sharing work only.
    double scale() const
    {
        const double g = (static_cast<double>(q) + 1.0) / 2.0;
        return std::sqrt(static_cast<double>(q)) / g;
    }
    AnnulusBound operator()(double inner, double outer) const
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
        return MakeAnnulusBound(cx, cy, inner / hi, outer / lo);
    }
};

// Adds the pixels y0 .. y1 - 1 of the row at offset dx that pass the radius
// test, touch the band [b0, b1) and `keep`, one by one in order, into the
// band's sums S and weights Wt (element 0 being bin b0). Everything arrives by
// value, so the stores cannot alias it.
template <class Radius, class Keep>
void AddRun(const Radius rad, const Keep keep, float dx, float oy, float lo, float hi,
            std::uint32_t b0, std::uint32_t b1, std::uint64_t y0, std::uint64_t y1,
            const float *row, float *S, float *Wt)
{
    for (std::uint64_t y = y0; y < y1; ++y) {
        const float dy = static_cast<float>(y) - oy;
        float ax, ay;
        const float r = rad(dx, dy, ax, ay);
        // r >= 0 only matters for ratios the kernels do not expect.
        if (!(r > lo && r < hi && r >= 0.0f))
            continue;
        // 0 <= r < r_max - 1 < 2^32: truncation is floor, and exact.
        const std::uint32_t k = static_cast<std::uint32_t>(r);
        if (k + 1 < b0 || k >= b1)
            continue;
        const float v = row[y];
        if (v == 0.0f)
            continue;
        if (!keep(ax, ay))
            continue;
        const float s = r - static_cast<float>(k);
        if (k >= b0) {
            S[k - b0] += v * (1.0f - s);
            Wt[k - b0] += 1.0f - s;
        }
        if (k + 1 < b1) {
            S[k + 1 - b0] += v * s;
            Wt[k + 1 - b0] += s;
        }
    }
}

// Pixels of a row the sector kernels judge at once where they can.
constexpr std::uint64_t kSectorPiece = 32;

// Below this many pixels a band, another thread costs more than it saves.
constexpr std::uint64_t kMinPixelsPerBand = 1u << 17;

template <class Bound, class Radius, class InSector>
arma::Col<float> BinPixels(const arma::Mat<float> &image, std::uint32_t r_min,
                           std::uint32_t r_max, float cx, float cy, std::int32_t plain,
                           const Bound &boundFor, const Radius &radius, const InSector &inSector)
{
    arma::Col<float> sums(r_max, arma::fill::zeros);
    arma::Col<float> weights(r_max, arma::fill::zeros);
    const float rlo = static_cast<float>(static_cast<std::int32_t>(r_min) - 1);
    const float rhi = static_cast<float>(static_cast<std::int32_t>(r_max) - 1);
    const double inner = static_cast<double>(r_min) - 1.0;
    const double outer = static_cast<double>(r_max) - 1.0;
    const AnnulusBound all = boundFor(inner, outer);
    const RadiusFrame frame = radius.Frame();
    // Packed truncation is to 32-bit signed integers and packed conversion
    // back exact below 2^24; every counted bin lies below r_max - 1.
    const bool packed = r_max <= (std::uint32_t{1} << 24);

    std::vector<std::uint32_t> bands{0, r_max};
    if (!all.none && !all.whole && r_min < r_max) {
        BandGeometry g;
        g.rows = image.n_rows;
        g.cols = image.n_cols;
        g.cx = cx;
        g.cy = cy;
        g.scale = boundFor.scale();
        g.lo = std::max(0.0, inner) * g.scale;
        g.hi = outer * g.scale;
        bands = RadiusBands(g, r_max, kMinPixelsPerBand);
    }

    // A pixel of radius r adds to bins floor(r) and floor(r) + 1; band
    // [b0, b1) takes the shares that fall in it, so it needs
    // b0 - 1 <= r < b1.
    auto band = [&](unsigned t) {
        const std::uint32_t b0 = bands[t], b1 = bands[t + 1];
        const AnnulusBound bound = bands.size() == 2
            ? all
            : boundFor(std::max(inner, static_cast<double>(b0) - 1.0),
                       std::min(outer, static_cast<double>(b1)));
        // The band sums into arrays of its own, starting from the same zeros:
        // bins of neighbouring bands sharing a cache line would otherwise
        // bounce it between threads. One more bin at either end (b0 - 1 and
        // b1) takes the shares that fall outside the band, so that the packed
        // path needs no test per share; they are never copied out.
        std::vector<float> band_sums(b1 - b0 + 2, 0.0f), band_weights(b1 - b0 + 2, 0.0f);
        float *const S = band_sums.data() + 1;
        float *const Wt = band_weights.data() + 1;
        BinTarget to;
        to.lo = rlo;
        to.hi = rhi;
        to.packed = packed;
        to.base = b0 - 1;  // modulo 2^32, as the bins' offsets are taken
        to.span = b1 - b0 + 2;
        to.S = band_sums.data();
        to.Wt = band_weights.data();
        ForEachAnnulusRun(image, bound, [&](std::uint64_t x, std::uint64_t y0, std::uint64_t y1,
                                            const float *row) {
            const float dx = static_cast<float>(x) - cx;
            if constexpr (std::is_same<InSector, NoSector>::value) {
                AddRunShares(frame, to, dx, cy, y0, y1, row);
            } else if (!radius.RunsAreSegments()) {
                AddRun(radius, inSector, dx, cy, rlo, rhi, b0, b1, y0, y1, row, S, Wt);
            } else {
                // Pieces of the run wholly inside or outside the sector skip
                // the per-pixel test; consecutive pieces inside go to the
                // packed path together.
                std::uint64_t inside = y0;  // start of the pending inside pieces
                for (std::uint64_t ya = y0; ya < y1; ya += kSectorPiece) {
                    const std::uint64_t yb = std::min(y1, ya + kSectorPiece);
                    float ax0, ay0, ax1, ay1;
                    radius(dx, static_cast<float>(ya) - cy, ax0, ay0);
                    radius(dx, static_cast<float>(yb - 1) - cy, ax1, ay1);
                    const SectorTest::Span span = inSector.SpanOf(ax0, ay0, ax1, ay1);
                    if (span == SectorTest::Span::All)
                        continue;
                    AddRunShares(frame, to, dx, cy, inside, ya, row);
                    if (span == SectorTest::Span::Mixed)
                        AddRun(radius, inSector, dx, cy, rlo, rhi, b0, b1, ya, yb, row, S, Wt);
                    inside = yb;
                }
                AddRunShares(frame, to, dx, cy, inside, y1, row);
            }
        });
        std::copy(S, S + (b1 - b0), sums.begin() + b0);
        std::copy(Wt, Wt + (b1 - b0), weights.begin() + b0);
    };
    ParallelTasks(static_cast<unsigned>(bands.size() - 1), band);

    float *S = sums.memptr();
    float *Wt = weights.memptr();

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
    return BinPixels(image, r_min, r_max, cx, cy, plain, PlainBound{cx, cy}, PlainRadius(),
                     NoSector());
}

arma::Col<float> AzimuthalIntegralEllipticityKernel(const arma::Mat<float> &image,
                                                    std::uint32_t r_min, std::uint32_t r_max,
                                                    float cx, float cy, float q, float angle,
                                                    std::int32_t plain)
{
    return BinPixels(image, r_min, r_max, cx, cy, plain, EllipticalBound{cx, cy, q},
                     EllipticalRadius(q, angle), NoSector());
}

arma::Col<float> AzimuthalIntegralSektorKernel(const arma::Mat<float> &image, std::uint32_t r_min,
                                               std::uint32_t r_max, float start, float end,
                                               float cx, float cy, std::int32_t plain)
{
    return BinPixels(image, r_min, r_max, cx, cy, plain, PlainBound{cx, cy}, PlainRadius(),
                     SectorTest(start, end));
}

arma::Col<float> AzimuthalIntegralSektorEllipticityKernel(const arma::Mat<float> &image,
                                                          std::uint32_t r_min, std::uint32_t r_max,
                                                          float start, float end, float cx,
                                                          float cy, float q, float angle,
                                                          std::int32_t plain)
{
    return BinPixels(image, r_min, r_max, cx, cy, plain, EllipticalBound{cx, cy, q},
                     EllipticalRadius(q, angle), SectorTest(start, end));
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
