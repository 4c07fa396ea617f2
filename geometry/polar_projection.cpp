#include "geometry/polar_projection.h"

#include "geometry/float_bits.h"
#include "geometry/pixel_rows.h"
#include "geometry/polar_angle.h"

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

    arma::Mat<float> P(N, n_r, arma::fill::zeros);
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
    for (std::uint32_t c = 0; c < n_r; ++c) {
        const double r = static_cast<double>(r_min + c);
        float *col = P.colptr(c);
        for (std::uint32_t k = 0; k < N; ++k) {
            const std::int32_t x = TruncToInt32(r * cosT[k] + cx);
            const std::int32_t y = TruncToInt32(r * sinT[k] + cy);
            if (static_cast<std::uint32_t>(x) < W && static_cast<std::uint32_t>(y) < H)
                col[k] = pattern.image.at(static_cast<arma::uword>(x), static_cast<arma::uword>(y));
        }
    }
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
    const AnnulusBound bound = MakeAnnulusBound(cx, cy, static_cast<double>(r_min),
                                                static_cast<double>(r_min) + static_cast<double>(n - 1));
    ForEachAnnulusPixel(matrix, bound, [&](std::uint64_t x, std::uint64_t y, float v) {
        const float dx = static_cast<float>(x) - cx;
        const float dy = static_cast<float>(y) - cy;
        const float rho = std::sqrt(dx * dx + dy * dy) - fmin;
        if (!(rho > 0.0f && rho < fhi) || v == 0.0f)
            return;
        const float phi = PolarAngle(dx, dy);
        std::int64_t j = static_cast<std::int64_t>(std::floor(phi * b));
        if (j >= n_angles)
            j = n_angles - 1;
        const float f = std::floor(rho);
        const float s = rho - f;
        const arma::uword i = static_cast<arma::uword>(f);
        const arma::uword ju = static_cast<arma::uword>(j);
        sums.at(i, ju) += v * (1.0f - s);
        weights.at(i, ju) += 1.0f - s;
        sums.at(i + 1, ju) += v * s;
        weights.at(i + 1, ju) += s;
    });
}
