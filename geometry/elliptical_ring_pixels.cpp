#include "geometry/elliptical_ring_pixels.h"

#include "geometry/bin_shares.h"
#include "geometry/pixel_rows.h"
#include "geometry/radius_bands.h"
#include "geometry/work_sizes.h"
#include "geometry/worker_threads.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace {

// For 1 <= q <= 1.1 the elliptical radius of a pixel at distance d lies
// between d (q + 1) / (2 q) >= 0.954545 d and d (q + 1) / 2 <= 1.05 d; the
// factors and the margin leave room for the single-precision rounding.
constexpr double kLow = 0.9545;
constexpr double kHigh = 1.0501;
double Margin(double d) { return 0.5 + 1e-5 * d; }

// A pixel some covered ratio can give a radius in range, with the bins
// kmin .. kmax it can reach (radius bin floor(r) and the next) and its
// nominal bin, floor(d).
struct Candidate {
    float dx, dy, v;
    std::uint32_t kmin, kmax, nominal;
};

// The candidates in the kernels' pixel order.
std::vector<Candidate> GatherCandidates(const PixelView& image, float cx, float cy, std::uint32_t r_min,
                                        std::uint32_t r_max) {
    const double lo = static_cast<double>(r_min) - 1.0;
    const double hi = static_cast<double>(r_max) - 1.0;
    const AnnulusBound bound = MakeAnnulusBound(cx, cy, lo / kHigh, hi / kLow);
    std::vector<Candidate> pixels;
    ForEachAnnulusPixel(image, bound, [&](std::uint64_t x, std::uint64_t y, float v) {
        if (v == 0.0f) return;
        const float dx = static_cast<float>(x) - cx;
        const float dy = static_cast<float>(y) - cy;
        const double d = std::sqrt(static_cast<double>(dx) * dx + static_cast<double>(dy) * dy);
        const double m = Margin(d);
        if (!(d * kHigh + m > lo && d * kLow - m < hi)) return;
        const double kmin = std::max(0.0, std::floor(d * kLow - m));
        const double kmax = std::min(hi, std::floor(d * kHigh + m) + 1.0);
        pixels.push_back({dx, dy, v, static_cast<std::uint32_t>(kmin), static_cast<std::uint32_t>(kmax),
                          static_cast<std::uint32_t>(std::min(std::floor(d), hi))});
    });
    return pixels;
}

// Band edges of about equal candidate counts by nominal bin.
std::vector<std::uint32_t> SplitCandidates(const std::vector<Candidate>& pixels, std::uint32_t r_max) {
    std::vector<std::uint64_t> below(static_cast<std::size_t>(r_max) + 1, 0);
    for (const Candidate& p : pixels) ++below[static_cast<std::size_t>(p.nominal) + 1];
    for (std::uint32_t k = 0; k < r_max; ++k) below[k + 1] += below[k];
    const unsigned tasks = TaskCountFor(pixels.size(), kMinPixelsPerBand);
    return SplitBins(r_max, tasks, [&](std::uint32_t k) { return below[k]; });
}

// A band copies the candidates that can reach its bins, in order.
template <class Band>
void FillBand(Band& b, const std::vector<Candidate>& pixels) {
    auto reaches = [&](const Candidate& p) { return p.kmax >= b.first && p.kmin < b.last; };
    std::size_t count = 0;
    for (const Candidate& p : pixels) count += reaches(p);
    b.low = b.first;
    b.high = b.last;
    b.dx.reserve(count);
    b.dy.reserve(count);
    b.v.reserve(count);
    for (const Candidate& p : pixels)
        if (reaches(p)) {
            b.dx.push_back(p.dx);
            b.dy.push_back(p.dy);
            b.v.push_back(p.v);
            b.low = std::min(b.low, p.kmin);
            b.high = std::max(b.high, p.kmax + 1);
        }
}

}  // namespace

EllipticalRingPixels::EllipticalRingPixels(const PixelView& image, float cx, float cy, std::uint32_t r_min,
                                           std::uint32_t r_max)
    : memory_(image.data()), rows_(image.rows()), cols_(image.cols()), cx_(cx), cy_(cy), r_min_(r_min), r_max_(r_max) {
    if (r_min >= r_max) throw std::invalid_argument("ring pixel list needs an inner radius below the outer radius");
    const std::vector<Candidate> pixels = GatherCandidates(image, cx, cy, r_min, r_max);
    const std::vector<std::uint32_t> edges = SplitCandidates(pixels, r_max);
    bands_.resize(edges.size() - 1);
    for (std::size_t t = 0; t < bands_.size(); ++t) {
        bands_[t].first = edges[t];
        bands_[t].last = edges[t + 1];
    }
    ParallelTasks(static_cast<unsigned>(bands_.size()), [&](unsigned t) { FillBand(bands_[t], pixels); });
}

bool EllipticalRingPixels::MadeFor(const PixelView& image, float cx, float cy) const {
    auto same = [](float a, float b) { return a == b || (a != a && b != b); };
    return image.data() == memory_ && image.rows() == rows_ && image.cols() == cols_ && same(cx, cx_) && same(cy, cy_);
}

arma::Col<float> EllipticalRingPixels::UnnormalisedProfile(float q, float angle) const {
    if (!Covers(q)) throw std::invalid_argument("ring pixel list used for an axis ratio outside 1 to 1.1");
    arma::Col<float> sums(r_max_, arma::fill::zeros);
    arma::Col<float> weights(r_max_, arma::fill::zeros);
    float* S = sums.memptr();
    float* Wt = weights.memptr();

    // The elliptical radius exactly as the integration kernels compute it.
    const RadiusFrame frame = EllipticalFrame(q, angle);
    BinTarget all;
    all.lo = static_cast<float>(static_cast<std::int32_t>(r_min_) - 1);
    all.hi = static_cast<float>(static_cast<std::int32_t>(r_max_) - 1);
    all.packed = r_max_ <= kPackedExactBelow;
    // A band sums every bin its pixels reach, in pixel order, and hands on
    // only its own bins, which it has seen complete.
    auto run = [&](unsigned t) {
        const Band& b = bands_[t];
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
        if (Wt[k] != 0.0f) S[k] = S[k] / Wt[k];
    return sums;
}
