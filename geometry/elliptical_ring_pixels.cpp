#include "geometry/elliptical_ring_pixels.h"

#include "geometry/bin_shares.h"
#include "geometry/pixel_rows.h"
#include "geometry/worker_threads.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace {

// For 1 <= q <= 1.1 the elliptical radius of a pixel at plain distance d lies
// between d (q + 1) / (2 q) >= 0.954545 d and d (q + 1) / 2 <= 1.05 d; the
// factors and the margin leave room for the single-precision rounding.
constexpr double kLow = 0.9545;
constexpr double kHigh = 1.0501;
double Margin(double d) { return 0.5 + 1e-5 * d; }

// Below this many pixels a band is not worth a thread.
constexpr std::uint64_t kPixelsPerBand = std::uint64_t{1} << 17;

} // namespace

EllipticalRingPixels::EllipticalRingPixels(const arma::Mat<float> &image, float cx, float cy,
                                           std::uint32_t r_min, std::uint32_t r_max)
    : memory_(image.memptr()), rows_(image.n_rows), cols_(image.n_cols), cx_(cx), cy_(cy),
      r_min_(r_min), r_max_(r_max)
{
    if (r_min >= r_max)
        throw std::invalid_argument("ring pixel list needs an inner radius below the outer radius");
    const double lo = static_cast<double>(r_min) - 1.0;
    const double hi = static_cast<double>(r_max) - 1.0;
    const AnnulusBound bound = MakeAnnulusBound(cx, cy, lo / kHigh, hi / kLow);

    // A pixel is kept when some covered ratio can give it a radius in range;
    // d is its plain distance.
    auto candidate = [&](std::uint64_t x, std::uint64_t y, float v, float &dx, float &dy,
                         double &d) {
        if (v == 0.0f)
            return false;
        dx = static_cast<float>(x) - cx;
        dy = static_cast<float>(y) - cy;
        d = std::sqrt(static_cast<double>(dx) * dx + static_cast<double>(dy) * dy);
        const double m = Margin(d);
        return d * kHigh + m > lo && d * kLow - m < hi;
    };

    // The pixels in order, each with the bins kmin .. kmax it can reach
    // (radius bin floor(r) and the next).
    struct Pixel {
        float dx, dy, v;
        std::uint32_t kmin, kmax;
    };
    std::vector<Pixel> pixels;
    std::vector<std::uint64_t> perBin(r_max, 0);
    const double top = static_cast<double>(r_max) - 1.0;
    ForEachAnnulusPixel(image, bound, [&](std::uint64_t x, std::uint64_t y, float v) {
        float dx, dy;
        double d;
        if (!candidate(x, y, v, dx, dy, d))
            return;
        const double m = Margin(d);
        const double kmin = std::max(0.0, std::floor(d * kLow - m));
        const double kmax = std::min(top, std::floor(d * kHigh + m) + 1.0);
        pixels.push_back({dx, dy, v, static_cast<std::uint32_t>(kmin), static_cast<std::uint32_t>(kmax)});
        ++perBin[static_cast<std::size_t>(std::min(std::floor(d), top))];
    });

    // Bands of about equal pixel counts by nominal bin.
    const std::uint64_t total = pixels.size();
    const unsigned tasks = TaskCountFor(total, kPixelsPerBand);
    std::uint64_t seen = 0;
    std::uint32_t first = 0;
    for (std::uint32_t k = 0; k < r_max && bands_.size() + 1 < tasks; ++k) {
        seen += perBin[k];
        if (seen * tasks >= total * (bands_.size() + 1)) {
            Band b;
            b.first = first;
            b.last = k + 1;
            bands_.push_back(std::move(b));
            first = k + 1;
        }
    }
    if (first < r_max) {
        Band b;
        b.first = first;
        b.last = r_max;
        bands_.push_back(std::move(b));
    }

    // Each band copies the pixels that can reach its bins, the bands side by
    // side.
    auto fill = [&](unsigned t) {
        Band &b = bands_[t];
        auto reaches = [&](const Pixel &p) { return p.kmax >= b.first && p.kmin < b.last; };
        std::size_t count = 0;
        for (const Pixel &p : pixels)
            count += reaches(p);
        b.low = b.first;
        b.high = b.last;
        b.dx.reserve(count);
        b.dy.reserve(count);
        b.v.reserve(count);
        for (const Pixel &p : pixels)
            if (reaches(p)) {
                b.dx.push_back(p.dx);
                b.dy.push_back(p.dy);
                b.v.push_back(p.v);
                b.low = std::min(b.low, p.kmin);
                b.high = std::max(b.high, p.kmax + 1);
            }
    };
    ParallelTasks(static_cast<unsigned>(bands_.size()), fill);
}

bool EllipticalRingPixels::MadeFor(const arma::Mat<float> &image, float cx, float cy) const
{
    auto same = [](float a, float b) { return a == b || (a != a && b != b); };
    return image.memptr() == memory_ && image.n_rows == rows_ && image.n_cols == cols_ &&
           same(cx, cx_) && same(cy, cy_);
}

std::size_t EllipticalRingPixels::Size() const
{
    std::size_t n = 0;
    for (const Band &b : bands_)
        n += b.v.size();
    return n;
}

arma::Col<float> EllipticalRingPixels::PlainProfile(float q, float angle) const
{
    if (!Covers(q))
        throw std::invalid_argument("ring pixel list used for an axis ratio outside 1 to 1.1");
    const float rlo = static_cast<float>(static_cast<std::int32_t>(r_min_) - 1);
    const float rhi = static_cast<float>(static_cast<std::int32_t>(r_max_) - 1);

    arma::Col<float> sums(r_max_, arma::fill::zeros);
    arma::Col<float> weights(r_max_, arma::fill::zeros);
    float *S = sums.memptr();
    float *Wt = weights.memptr();

    // A band sums every bin its pixels reach, in pixel order, and hands on
    // only its own bins, which it has seen complete.
    // The elliptical radius exactly as the integration kernels compute it.
    const RadiusFrame frame = EllipticalFrame(q, angle);
    BinTarget all;
    all.lo = rlo;
    all.hi = rhi;
    all.packed = r_max_ <= (std::uint32_t{1} << 24);
    auto run = [&](unsigned t) {
        const Band &b = bands_[t];
        BinTarget to = all;
        std::vector<float> s, w;
        if (bands_.size() == 1) {
            to.base = 0;
            to.span = r_max_;
            to.S = S;
            to.Wt = Wt;
        } else {
            s.assign(b.high - b.low, 0.0f);
            w.assign(b.high - b.low, 0.0f);
            to.base = b.low;
            to.span = b.high - b.low;
            to.S = s.data();
            to.Wt = w.data();
        }
        if (AddListShares(frame, to, b.dx.data(), b.dy.data(), b.v.data(), b.v.size()) != 0)
            throw std::logic_error("ring pixel list misses a bin");
        if (bands_.size() > 1) {
            std::copy(s.begin() + (b.first - b.low), s.begin() + (b.last - b.low), S + b.first);
            std::copy(w.begin() + (b.first - b.low), w.begin() + (b.last - b.low), Wt + b.first);
        }
    };
    if (bands_.size() > 1)
        ParallelTasks(static_cast<unsigned>(bands_.size()), run);
    else if (!bands_.empty())
        run(0);

    for (std::uint32_t k = 0; k < r_max_; ++k)
        if (Wt[k] != 0.0f)
            S[k] = S[k] / Wt[k];
    return sums;
}
