#include "geometry/polar_projection.h"

#include "geometry/angle_bins.h"
#include "geometry/float_bits.h"
#include "geometry/pixel_rows.h"
#include "geometry/polar_angle.h"
#include "geometry/radius_bands.h"
#include "geometry/worker_threads.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

arma::Mat<float> AzimuthalProjectionCore(const DiffractionPattern &pattern, std::uint32_t r_min,
                                         std::uint32_t r_max, std::uint32_t n_a)
{
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
    const float *image = pattern.image.memptr();
    const std::uint64_t stride = pattern.image.n_rows;
    // Nothing is summed: any split and order give the same samples. Blocks of
    // angles walked outward keep the pixels read and the samples written close
    // together; threads take contiguous columns.
    constexpr std::uint32_t kAngleBlock = 64;
    const unsigned n_tasks = TaskCountFor(static_cast<std::uint64_t>(N) * n_r, 1u << 16);
    ParallelTasks(n_tasks, [&](unsigned t) {
        const std::uint32_t c0 = static_cast<std::uint32_t>(static_cast<std::uint64_t>(n_r) * t / n_tasks);
        const std::uint32_t c1 = static_cast<std::uint32_t>(static_cast<std::uint64_t>(n_r) * (t + 1) / n_tasks);
        for (std::uint32_t k0 = 0; k0 < N; k0 += kAngleBlock) {
            const std::uint32_t k1 = N - k0 < kAngleBlock ? N : k0 + kAngleBlock;
            for (std::uint32_t c = c0; c < c1; ++c) {
                const double r = static_cast<double>(r_min + c);
                float *col = P.colptr(c);
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

void PolarRebin(const arma::Mat<float> &matrix, arma::Mat<float> &sums, arma::Mat<float> &weights,
                std::int32_t r_min, std::int32_t r_max, float cx, float cy,
                std::int32_t n_angles)
{
    if (r_max <= r_min)
        throw std::invalid_argument("PolarRebin: the outer radius must exceed the inner radius");
    if (n_angles < 1)
        throw std::invalid_argument("PolarRebin: needs at least one angle bin");
    const std::int64_t n = static_cast<std::int64_t>(r_max) - r_min;
    const float b = static_cast<float>(static_cast<double>(n_angles) / (2.0 * M_PI));
    weights.zeros(static_cast<arma::uword>(n + 1), static_cast<arma::uword>(n_angles));
    sums.zeros(static_cast<arma::uword>(n), static_cast<arma::uword>(n_angles));

    const float fmin = static_cast<float>(r_min);
    const float fhi = static_cast<float>(n - 1);
    const double inner = static_cast<double>(r_min);
    const double outer = static_cast<double>(r_min) + static_cast<double>(n - 1);
    const AnnulusBound all = MakeAnnulusBound(cx, cy, inner, outer);

    std::vector<std::uint32_t> bands{0, static_cast<std::uint32_t>(n)};
    if (!all.none && n < (std::int64_t{1} << 32)) {
        BandGeometry g;
        g.rows = matrix.n_rows;
        g.cols = matrix.n_cols;
        g.cx = cx;
        g.cy = cy;
        g.offset = inner;
        g.lo = std::max(0.0, inner);
        g.hi = outer;
        bands = RadiusBands(g, static_cast<std::uint32_t>(n), 1u << 17);
    }
    const AngleBins bins(n_angles, b);
    constexpr std::uint64_t kAnglePiece = 32;
    // Rows [b0, b1) of the tables take the shares of the pixels with
    // b0 - 1 <= rho < b1, in the usual pixel order.
    ParallelTasks(static_cast<unsigned>(bands.size() - 1), [&](unsigned t) {
        const std::uint32_t b0 = bands[t], b1 = bands[t + 1];
        const AnnulusBound bound = bands.size() == 2
            ? all
            : MakeAnnulusBound(cx, cy, std::max(inner, inner + b0 - 1.0),
                               std::min(outer, inner + b1));
        // The band's rows go to tables of its own, starting from the same
        // zeros, so no cache line is written by two threads.
        const arma::uword ld = b1 - b0;
        arma::Mat<float> band_sums(ld, static_cast<arma::uword>(n_angles), arma::fill::zeros);
        arma::Mat<float> band_weights(ld, static_cast<arma::uword>(n_angles), arma::fill::zeros);
        float *const S = band_sums.memptr();
        float *const Wt = band_weights.memptr();
        ForEachAnnulusRun(matrix, bound, [&, b0, b1, S, Wt, ld](std::uint64_t x, std::uint64_t y0,
                                                                std::uint64_t y1, const float *row) {
            const float ox = cx, oy = cy, rmin = fmin, top = fhi;
            const float dx = static_cast<float>(x) - ox;
            // Pieces of the run within one angle bin skip the angle.
            for (std::uint64_t ya = y0; ya < y1; ya += kAnglePiece) {
                const std::uint64_t yb = std::min(y1, ya + kAnglePiece);
                const std::int64_t shared = bins.SharedBy(dx, static_cast<float>(ya) - oy, dx,
                                                          static_cast<float>(yb - 1) - oy);
                for (std::uint64_t y = ya; y < yb; ++y) {
                    const float dy = static_cast<float>(y) - oy;
                    const float rho = std::sqrt(dx * dx + dy * dy) - rmin;
                    const float v = row[y];
                    if (!(rho > 0.0f && rho < top) || v == 0.0f)
                        continue;
                    const float f = std::floor(rho);
                    const arma::uword i = static_cast<arma::uword>(f);
                    if (i + 1 < b0 || i >= b1)
                        continue;
                    const std::int64_t j = shared >= 0 ? shared : bins.Of(dx, dy);
                    const float s = rho - f;
                    const arma::uword ju = static_cast<arma::uword>(j);
                    if (i >= b0) {
                        S[i - b0 + ju * ld] += v * (1.0f - s);
                        Wt[i - b0 + ju * ld] += 1.0f - s;
                    }
                    if (i + 1 < b1) {
                        S[i + 1 - b0 + ju * ld] += v * s;
                        Wt[i + 1 - b0 + ju * ld] += s;
                    }
                }
            }
        });
        sums.rows(b0, b1 - 1) = band_sums;
        weights.rows(b0, b1 - 1) = band_weights;
    });
}
