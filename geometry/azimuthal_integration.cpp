#include "geometry/azimuthal_integration.h"

#include "geometry/bin_shares.h"
#include "geometry/pixel_rows.h"
#include "geometry/radius_bands.h"
#include "geometry/sector_wedge.h"
#include "geometry/work_sizes.h"
#include "geometry/worker_threads.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <type_traits>
#include <vector>

namespace {

struct NoSector {
    bool operator()(float, float) const { return true; }
};

// Distance annulus outside which a pixel cannot have a radius in
// [inner, outer].
struct CircularBound {
    float cx, cy;
    double scale() const { return 1.0; }
    AnnulusBound operator()(double inner, double outer) const { return MakeAnnulusBound(cx, cy, inner, outer); }
};

// The elliptical radius lies between |d| g min(1, 1/|q|) and |d| g max(1, 1/|q|)
// for a distance |d|, the rotation keeping lengths.
struct EllipticalBound {
    float cx, cy, q;
    // Mean distance per unit of elliptical radius (the ellipse's area equals
    // the circle's), for sharing work only.
    double scale() const {
        const double g = (static_cast<double>(q) + 1.0) / 2.0;
        return std::sqrt(static_cast<double>(q)) / g;
    }
    AnnulusBound operator()(double inner, double outer) const {
        const double aq = std::fabs(static_cast<double>(q));
        const double g = std::fabs((static_cast<double>(q) + 1.0) / 2.0);
        const double lo = g * std::min(1.0, 1.0 / aq);
        const double hi = g * std::max(1.0, 1.0 / aq);
        if (!(lo > 0.0) || !std::isfinite(lo) || !std::isfinite(hi)) {
            AnnulusBound b = MakeAnnulusBound(cx, cy, 0.0, 0.0);
            if (!b.none) b.whole = true;
            return b;
        }
        return MakeAnnulusBound(cx, cy, inner / hi, outer / lo);
    }
};

// One kernel call: which pixels count and how their radii are taken.
struct BinJob {
    PixelView image;
    float cx, cy;
    std::uint32_t r_min, r_max;
    float rlo, rhi;       // the radius test rlo < r < rhi
    double inner, outer;  // the same range, for the pixel bounds
    RadiusFrame frame;
    // The offsets of a run of pixels lie on a segment to within rounding:
    // always in the circular frame; in the elliptical one while its rounding,
    // below 2^-23 sqrt(2) max(1, 1/q) of |(u, w)|, stays small (ratio 0.5 .. 2).
    bool segments;
    // Every counted bin lies below r_max - 1.
    bool packed;
};

BinJob MakeJob(const PixelView& image, std::uint32_t r_min, std::uint32_t r_max, float cx, float cy,
               const RadiusFrame& frame, bool segments) {
    return BinJob{image,
                  cx,
                  cy,
                  r_min,
                  r_max,
                  static_cast<float>(static_cast<std::int32_t>(r_min) - 1),
                  static_cast<float>(static_cast<std::int32_t>(r_max) - 1),
                  static_cast<double>(r_min) - 1.0,
                  static_cast<double>(r_max) - 1.0,
                  frame,
                  segments,
                  r_max <= kPackedExactBelow};
}

// Band edges of bins of about equal pixel counts (radius_bands.h).
template <class Bound>
std::vector<std::uint32_t> SplitIntoBands(const BinJob& job, const Bound& boundFor, const AnnulusBound& all) {
    if (all.none || all.whole || job.r_min >= job.r_max) return {0, job.r_max};
    BandGeometry g;
    g.rows = job.image.rows();
    g.cols = job.image.cols();
    g.cx = job.cx;
    g.cy = job.cy;
    g.scale = boundFor.scale();
    g.lo = std::max(0.0, job.inner) * g.scale;
    g.hi = job.outer * g.scale;
    return RadiusBands(g, job.r_max, kMinPixelsPerBand);
}

// Adds the run y0 .. y1 - 1 of matrix row x that lies in the sector. Pieces
// of the run wholly inside or outside the sector skip the per-pixel test;
// consecutive pieces inside go to the packed path together.
template <class Choose>
void AddSectorPieces(const BinJob& job, const BinTarget& to, const SectorWedge& sector, const Choose& choose, float dx,
                     std::uint64_t y0, std::uint64_t y1, const float* row) {
    std::uint64_t inside = y0;  // start of the pending inside pieces
    for (std::uint64_t ya = y0; ya < y1; ya += kRunPiecePixels) {
        const std::uint64_t yb = std::min(y1, ya + kRunPiecePixels);
        float ax0, ay0, ax1, ay1;
        FrameRadius(job.frame, dx, static_cast<float>(ya) - job.cy, ax0, ay0);
        FrameRadius(job.frame, dx, static_cast<float>(yb - 1) - job.cy, ax1, ay1);
        const SectorWedge::Span span = sector.SpanOf(ax0, ay0, ax1, ay1);
        if (span == SectorWedge::Span::All) continue;
        AddRunShares(job.frame, to, dx, job.cy, inside, ya, row);
        if (span == SectorWedge::Span::Mixed) AddChosenRunShares(job.frame, to, dx, job.cy, ya, yb, row, choose);
        inside = yb;
    }
    AddRunShares(job.frame, to, dx, job.cy, inside, y1, row);
}

// Bins [b0, b1) of the profile: the shares of the pixels with
// b0 - 1 <= r < b1, in pixel order, into sums and weights.
template <class InSector>
void BinBand(const BinJob& job, const AnnulusBound& bound, const InSector& inSector, std::uint32_t b0, std::uint32_t b1,
             float* sums, float* weights) {
    // The band sums into arrays of its own, starting from the same zeros:
    // bins of neighbouring bands sharing a cache line would otherwise bounce
    // it between threads. One more bin at either end (b0 - 1 and b1) takes
    // the shares that fall outside the band, so that the packed path needs no
    // test per share; they are never copied out.
    std::vector<float> band_sums(b1 - b0 + 2, 0.0f), band_weights(b1 - b0 + 2, 0.0f);
    BinTarget to;
    to.lo = job.rlo;
    to.hi = job.rhi;
    to.packed = job.packed;
    to.base = b0 - 1;  // modulo 2^32, as the bins' offsets are taken
    to.span = b1 - b0 + 2;
    to.S = band_sums.data();
    to.Wt = band_weights.data();
    const auto choose = [&](float ax, float ay) -> std::int64_t { return inSector(ax, ay) ? 0 : -1; };
    ForEachAnnulusRun(job.image, bound, [&](std::uint64_t x, std::uint64_t y0, std::uint64_t y1, const float* row) {
        const float dx = static_cast<float>(x) - job.cx;
        if constexpr (std::is_same<InSector, NoSector>::value)
            AddRunShares(job.frame, to, dx, job.cy, y0, y1, row);
        else if (!job.segments)
            AddChosenRunShares(job.frame, to, dx, job.cy, y0, y1, row, choose);
        else
            AddSectorPieces(job, to, inSector, choose, dx, y0, y1, row);
    });
    std::copy(band_sums.begin() + 1, band_sums.end() - 1, sums + b0);
    std::copy(band_weights.begin() + 1, band_weights.end() - 1, weights + b0);
}

// plain == 0: each weight divided by its radius, then all by their mean over
// bins r_min .. r_max - 1.
void NormaliseCoverage(arma::Col<float>& weights, std::uint32_t r_min, std::uint32_t r_max) {
    float* Wt = weights.memptr();
    for (std::uint32_t k = 1; k < r_max; ++k) Wt[k] = Wt[k] / static_cast<float>(k);
    const float m =
        r_min < r_max ? arma::mean(weights.subvec(r_min, r_max - 1)) : std::numeric_limits<float>::quiet_NaN();
    for (std::uint32_t k = 0; k < r_max; ++k) Wt[k] = Wt[k] / m;
}

// Every bin with a non-zero weight divided by it.
void DivideByWeights(arma::Col<float>& sums, const arma::Col<float>& weights) {
    for (arma::uword k = 0; k < sums.n_elem; ++k) {
        if (weights[k] != 0.0f) sums[k] = sums[k] / weights[k];
    }
}

template <class Bound, class InSector>
arma::Col<float> BinPixels(const BinJob& job, std::int32_t plain, const Bound& boundFor, const InSector& inSector) {
    arma::Col<float> sums(job.r_max, arma::fill::zeros);
    arma::Col<float> weights(job.r_max, arma::fill::zeros);
    const AnnulusBound all = boundFor(job.inner, job.outer);
    const std::vector<std::uint32_t> bands = SplitIntoBands(job, boundFor, all);
    // A pixel of radius r adds to bins floor(r) and floor(r) + 1; band
    // [b0, b1) takes the shares that fall in it, so it needs b0 - 1 <= r < b1.
    ParallelTasks(static_cast<unsigned>(bands.size() - 1), [&](unsigned t) {
        const std::uint32_t b0 = bands[t], b1 = bands[t + 1];
        const AnnulusBound bound = bands.size() == 2 ? all
                                                     : boundFor(std::max(job.inner, static_cast<double>(b0) - 1.0),
                                                                std::min(job.outer, static_cast<double>(b1)));
        BinBand(job, bound, inSector, b0, b1, sums.memptr(), weights.memptr());
    });
    if (plain == 0) NormaliseCoverage(weights, job.r_min, job.r_max);
    DivideByWeights(sums, weights);
    return sums;
}

BinJob CircularJob(const PixelView& image, std::uint32_t r_min, std::uint32_t r_max, float cx, float cy) {
    return MakeJob(image, r_min, r_max, cx, cy, RadiusFrame(), true);
}

BinJob EllipticalJob(const PixelView& image, std::uint32_t r_min, std::uint32_t r_max, float cx, float cy, float q,
                     float angle) {
    return MakeJob(image, r_min, r_max, cx, cy, EllipticalFrame(q, angle), q >= 0.5f && q <= 2.0f);
}

}  // namespace

arma::Col<float> AzimuthalIntegralKernel(const PixelView& image, std::uint32_t r_min, std::uint32_t r_max, float cx,
                                         float cy, std::int32_t plain) {
    return BinPixels(CircularJob(image, r_min, r_max, cx, cy), plain, CircularBound{cx, cy}, NoSector());
}

arma::Col<float> AzimuthalIntegralEllipticityKernel(const PixelView& image, std::uint32_t r_min, std::uint32_t r_max,
                                                    float cx, float cy, float q, float angle, std::int32_t plain) {
    return BinPixels(EllipticalJob(image, r_min, r_max, cx, cy, q, angle), plain, EllipticalBound{cx, cy, q},
                     NoSector());
}

arma::Col<float> AzimuthalIntegralSektorKernel(const PixelView& image, std::uint32_t r_min, std::uint32_t r_max,
                                               float start, float end, float cx, float cy, std::int32_t plain) {
    return BinPixels(CircularJob(image, r_min, r_max, cx, cy), plain, CircularBound{cx, cy}, SectorWedge(start, end));
}

arma::Col<float> AzimuthalIntegralSektorEllipticityKernel(const PixelView& image, std::uint32_t r_min,
                                                          std::uint32_t r_max, float start, float end, float cx,
                                                          float cy, float q, float angle, std::int32_t plain) {
    return BinPixels(EllipticalJob(image, r_min, r_max, cx, cy, q, angle), plain, EllipticalBound{cx, cy, q},
                     SectorWedge(start, end));
}

arma::Col<float> AzimuthalIntegralCore(const PatternView& pattern, std::uint32_t r_min, std::uint32_t r_max,
                                       std::int32_t plain) {
    return AzimuthalIntegralKernel(pattern.image, r_min, r_max, pattern.centerX, pattern.centerY, plain);
}

arma::Col<float> AzimuthalIntegralEllipticityCore(const PatternView& pattern, std::uint32_t r_min, std::uint32_t r_max,
                                                  std::int32_t plain) {
    return AzimuthalIntegralEllipticityKernel(pattern.image, r_min, r_max, pattern.centerX, pattern.centerY,
                                              pattern.axisRatio, pattern.angle, plain);
}

arma::Col<float> AzimuthalIntegralSektorCore(const PatternView& pattern, std::uint32_t r_min, std::uint32_t r_max,
                                             float start, float end, std::int32_t plain) {
    return AzimuthalIntegralSektorKernel(pattern.image, r_min, r_max, start, end, pattern.centerX, pattern.centerY,
                                         plain);
}

arma::Col<float> AzimuthalIntegralSektorEllipticityCore(const PatternView& pattern, std::uint32_t r_min,
                                                        std::uint32_t r_max, float start, float end,
                                                        std::int32_t plain) {
    return AzimuthalIntegralSektorEllipticityKernel(pattern.image, r_min, r_max, start, end, pattern.centerX,
                                                    pattern.centerY, pattern.axisRatio, pattern.angle, plain);
}

void AzimuthalProfileMax(const PatternView& pattern, std::uint32_t r_min, std::uint32_t r_max, std::int32_t& position) {
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
