#include "geometry/polar_projection.h"

#include "geometry/angle_bins.h"
#include "geometry/bin_shares.h"
#include "geometry/float_bits.h"
#include "geometry/pixel_rows.h"
#include "geometry/polar_angle.h"
#include "geometry/radius_bands.h"
#include "geometry/work_sizes.h"
#include "geometry/worker_threads.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

arma::Mat<float> AzimuthalProjectionCore(const PatternView& pattern, std::uint32_t r_min, std::uint32_t r_max,
                                         std::uint32_t n_a) {
    if (r_max <= r_min)
        throw std::invalid_argument("AzimuthalProjection: the outer radius must exceed the inner radius");
    const std::uint32_t n_r = r_max - r_min;
    std::uint32_t N = n_a;
    if (n_a == 1)
        N = static_cast<std::uint32_t>(static_cast<double>(n_r) * 1.62);
    else if (n_a == 0)
        N = static_cast<std::uint32_t>(static_cast<double>(2 * static_cast<std::uint64_t>(r_max)) * M_PI);

    // Every sample is written once below, by the thread that owns its column,
    // so the pages are first touched in parallel.
    arma::Mat<float> P(N, n_r, arma::fill::none);
    // The angles do not depend on the radius: one table serves every column.
    std::vector<double> cosT(N), sinT(N);
    for (std::uint32_t k = 0; k < N; ++k) {
        const float t = static_cast<float>(k) / static_cast<float>(N);
        const double a = 2.0 * M_PI * static_cast<double>(t);
        cosT[k] = std::cos(a);
        sinT[k] = std::sin(a);
    }
    const double cx = pattern.centerX, cy = pattern.centerY;
    const std::uint32_t W = PatternWidth(pattern), H = PatternHeight(pattern);
    const float* image = pattern.image.data();
    const std::uint64_t stride = pattern.image.rows();
    // Nothing is summed: any split and order give the same samples. Blocks of
    // angles walked outward keep the pixels read and the samples written close
    // together; threads take contiguous columns.
    constexpr std::uint32_t kAngleBlock = kProjectionAngleBlock;
    const unsigned n_tasks = TaskCountFor(static_cast<std::uint64_t>(N) * n_r, kMinLoadsPerTask);
    ParallelTasks(n_tasks, [&](unsigned t) {
        const std::uint32_t c0 = static_cast<std::uint32_t>(static_cast<std::uint64_t>(n_r) * t / n_tasks);
        const std::uint32_t c1 = static_cast<std::uint32_t>(static_cast<std::uint64_t>(n_r) * (t + 1) / n_tasks);
        for (std::uint32_t k0 = 0; k0 < N; k0 += kAngleBlock) {
            const std::uint32_t k1 = N - k0 < kAngleBlock ? N : k0 + kAngleBlock;
            for (std::uint32_t c = c0; c < c1; ++c) {
                const double r = static_cast<double>(r_min + c);
                float* col = P.colptr(c);
                for (std::uint32_t k = k0; k < k1; ++k) {
                    const std::int32_t x = TruncToInt32(r * cosT[k] + cx);
                    const std::int32_t y = TruncToInt32(r * sinT[k] + cy);
                    col[k] = static_cast<std::uint32_t>(x) < W && static_cast<std::uint32_t>(y) < H
                                 ? image[static_cast<std::uint64_t>(x) + static_cast<std::uint64_t>(y) * stride]
                                 : 0.0f;
                }
            }
        }
    });
    return P;
}

namespace {

// One rebinning: the radius rho = d - r_min of every pixel, binned as the
// kernels bin theirs (bin_shares.h) into the angle bin's column.
struct RebinJob {
    PixelView matrix;
    float cx, cy;
    std::int64_t n;       // radius rows
    double inner, outer;  // distances d that can count
    RadiusFrame frame;    // circular, r0 = r_min
    BinTarget target;     // 0 < rho < n - 1; S, Wt, base and span per band
};

// Band edges of radius rows of about equal pixel counts (radius_bands.h).
std::vector<std::uint32_t> SplitIntoBands(const RebinJob& job, const AnnulusBound& all) {
    if (all.none || job.n >= (std::int64_t{1} << 32)) return {0, static_cast<std::uint32_t>(job.n)};
    BandGeometry g;
    g.rows = job.matrix.rows();
    g.cols = job.matrix.cols();
    g.cx = job.cx;
    g.cy = job.cy;
    g.offset = job.inner;
    g.lo = std::max(0.0, job.inner);
    g.hi = job.outer;
    return RadiusBands(g, static_cast<std::uint32_t>(job.n), kMinPixelsPerBand);
}

// Adds the run y0 .. y1 - 1 of matrix row x. Pieces of the run within one
// angle bin skip the angle and go to the packed path.
template <class ByAngle>
void AddRunByAngle(const RebinJob& job, const BinTarget& to, const AngleBins& bins, const ByAngle& byAngle, float dx,
                   std::uint64_t y0, std::uint64_t y1, const float* row) {
    for (std::uint64_t ya = y0; ya < y1; ya += kRunPiecePixels) {
        const std::uint64_t yb = std::min(y1, ya + kRunPiecePixels);
        const std::int64_t shared =
            bins.SharedBy(dx, static_cast<float>(ya) - job.cy, dx, static_cast<float>(yb - 1) - job.cy);
        if (shared < 0) {
            AddChosenRunShares(job.frame, to, dx, job.cy, ya, yb, row, byAngle);
            continue;
        }
        BinTarget column = to;
        column.S += static_cast<std::size_t>(shared) * to.stride;
        column.Wt += static_cast<std::size_t>(shared) * to.stride;
        AddRunShares(job.frame, column, dx, job.cy, ya, yb, row);
    }
}

// Rows [b0, b1) of the tables: the shares of the pixels with
// b0 - 1 <= rho < b1, in the usual pixel order.
void RebinBand(const RebinJob& job, const AnnulusBound& bound, const AngleBins& bins, std::uint32_t b0,
               std::uint32_t b1, arma::Mat<float>& sums, arma::Mat<float>& weights) {
    // The band's rows go to tables of its own, starting from the same zeros,
    // so that no two threads write one cache line while they sum; only the
    // copy-out at the end writes lines that a neighbouring band's copy-out
    // also writes. One more row at either end (b0 - 1 and b1) takes the shares
    // that fall outside the band; they are never copied out.
    const arma::uword ld = b1 - b0 + 2;
    arma::Mat<float> band_sums(ld, sums.n_cols, arma::fill::zeros);
    arma::Mat<float> band_weights(ld, sums.n_cols, arma::fill::zeros);
    BinTarget to = job.target;
    to.base = b0 - 1;  // modulo 2^32, as the bins' offsets are taken
    to.span = static_cast<std::uint32_t>(ld);
    to.stride = ld;
    to.S = band_sums.memptr();
    to.Wt = band_weights.memptr();
    const auto byAngle = [&](float ax, float ay) { return bins.Of(ax, ay); };
    ForEachAnnulusRun(job.matrix, bound, [&](std::uint64_t x, std::uint64_t y0, std::uint64_t y1, const float* row) {
        AddRunByAngle(job, to, bins, byAngle, static_cast<float>(x) - job.cx, y0, y1, row);
    });
    sums.rows(b0, b1 - 1) = band_sums.rows(1, ld - 2);
    weights.rows(b0, b1 - 1) = band_weights.rows(1, ld - 2);
}

}  // namespace

void PolarRebin(const PixelView& matrix, arma::Mat<float>& sums, arma::Mat<float>& weights, std::int32_t r_min,
                std::int32_t r_max, float cx, float cy, std::int32_t n_angles) {
    if (r_max <= r_min) throw std::invalid_argument("PolarRebin: the outer radius must exceed the inner radius");
    if (n_angles < 1) throw std::invalid_argument("PolarRebin: needs at least one angle bin");
    const std::int64_t n = static_cast<std::int64_t>(r_max) - r_min;
    const float b = static_cast<float>(static_cast<double>(n_angles) / (2.0 * M_PI));
    weights.zeros(static_cast<arma::uword>(n + 1), static_cast<arma::uword>(n_angles));
    sums.zeros(static_cast<arma::uword>(n), static_cast<arma::uword>(n_angles));

    RebinJob job{matrix,
                 cx,
                 cy,
                 n,
                 static_cast<double>(r_min),
                 static_cast<double>(r_min) + static_cast<double>(n - 1),
                 RadiusFrame(),
                 BinTarget()};
    job.frame.r0 = static_cast<float>(r_min);
    job.target.lo = 0.0f;
    job.target.hi = static_cast<float>(n - 1);
    job.target.packed = n <= static_cast<std::int64_t>(kPackedExactBelow);
    const AnnulusBound all = MakeAnnulusBound(cx, cy, job.inner, job.outer);
    const std::vector<std::uint32_t> bands = SplitIntoBands(job, all);
    const AngleBins bins(n_angles, b);
    ParallelTasks(static_cast<unsigned>(bands.size() - 1), [&](unsigned t) {
        const std::uint32_t b0 = bands[t], b1 = bands[t + 1];
        const AnnulusBound bound = bands.size() == 2
                                       ? all
                                       : MakeAnnulusBound(cx, cy, std::max(job.inner, job.inner + b0 - 1.0),
                                                          std::min(job.outer, job.inner + b1));
        RebinBand(job, bound, bins, b0, b1, sums, weights);
    });
}
