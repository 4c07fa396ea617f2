#include "geometry/elliptical_ring_pixels.h"

#include "geometry/pixel_rows.h"
#include "geometry/worker_threads.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace {

// For 1 <= q <= 1.1 the elliptical radius of a pixel at plain distance d lies
// between d (q + 1) / (2 q) >= 0.954545 d and d (q + 1) / 2 <= 1.05 d; the
// factors and the margin leave room for the single-precision rounding.
constexpr double kLow = 0.9545;
constexpr double kHigh = 1.0501;
double Margin(double d) { return 0.5 + 1e-5 * d; }

// Below this many pixels a band is not worth a thread.
constexpr std::uint64_t kPixelsPerBand = std::uint64_t{1} << 17;

// Pixels per chunk of bin shares (see Shares).
constexpr std::size_t kChunk = 256;

// The elliptical radius factors of one trial.
struct Radius {
    float cq, sq, ms, c, g;
};

// One chunk's bin shares, computed apart from the sums so that this part can
// run on packed operations: bin[j] = floor(r) of pixel j, or kNoBin when its
// radius fails rlo < r < rhi (not a number included); lo_v, lo_w = v (1 - s)
// and 1 - s for bin[j]; hi_v, hi_w = v s and s for bin[j] + 1, s = r - floor(r).
constexpr std::uint32_t kNoBin = 0xFFFFFFFFu;
struct Shares {
    std::uint32_t bin[kChunk];
    float lo_v[kChunk], lo_w[kChunk], hi_v[kChunk], hi_w[kChunk];
};

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define ORVAN_RING_AVX 1
// ComputeShares eight pixels at a time where the processor has AVX: the
// same operations, each rounded the same way. Returns how many it did.
__attribute__((target("avx"))) std::size_t SharesAvx(const Radius &k, float rlo, float rhi,
                                                      const float *dx, const float *dy,
                                                      const float *v, std::size_t m, Shares &out)
{
    const __m256 cq = _mm256_set1_ps(k.cq), sq = _mm256_set1_ps(k.sq);
    const __m256 ms = _mm256_set1_ps(k.ms), c = _mm256_set1_ps(k.c), g = _mm256_set1_ps(k.g);
    const __m256 lo = _mm256_set1_ps(rlo), hi = _mm256_set1_ps(rhi);
    const __m256 zero = _mm256_setzero_ps(), one = _mm256_set1_ps(1.0f);
    const __m256 none = _mm256_castsi256_ps(_mm256_set1_epi32(-1));
    std::size_t j = 0;
    for (; j + 8 <= m; j += 8) {
        const __m256 x = _mm256_loadu_ps(dx + j), y = _mm256_loadu_ps(dy + j);
        const __m256 u = _mm256_add_ps(_mm256_mul_ps(cq, x), _mm256_mul_ps(sq, y));
        const __m256 w = _mm256_add_ps(_mm256_mul_ps(ms, x), _mm256_mul_ps(c, y));
        const __m256 r =
            _mm256_mul_ps(_mm256_sqrt_ps(_mm256_add_ps(_mm256_mul_ps(u, u), _mm256_mul_ps(w, w))), g);
        const __m256 ok = _mm256_and_ps(_mm256_and_ps(_mm256_cmp_ps(r, lo, _CMP_GT_OQ),
                                                      _mm256_cmp_ps(r, hi, _CMP_LT_OQ)),
                                        _mm256_cmp_ps(r, zero, _CMP_GE_OQ));
        const __m256i bin = _mm256_cvttps_epi32(r);
        const __m256 s = _mm256_sub_ps(r, _mm256_cvtepi32_ps(bin));
        const __m256 oms = _mm256_sub_ps(one, s);
        const __m256 val = _mm256_loadu_ps(v + j);
        const __m256 kept = _mm256_or_ps(_mm256_and_ps(ok, _mm256_castsi256_ps(bin)), _mm256_andnot_ps(ok, none));
        _mm256_storeu_ps(reinterpret_cast<float *>(out.bin + j), kept);
        _mm256_storeu_ps(out.lo_v + j, _mm256_mul_ps(val, oms));
        _mm256_storeu_ps(out.lo_w + j, oms);
        _mm256_storeu_ps(out.hi_v + j, _mm256_mul_ps(val, s));
        _mm256_storeu_ps(out.hi_w + j, s);
    }
    return j;
}

bool HasAvx()
{
    static const bool has = __builtin_cpu_supports("avx");
    return has;
}
#endif

// r = |(cq dx + sq dy, ms dx + c dy)| g for m <= kChunk pixels, each operation
// rounded to single precision as in the integration kernels; the packed
// operations round exactly like the scalar ones, and are used only while
// every bin index is below 2^24 (packed truncation is to signed 32 bits, and
// such bins convert back to float exactly).
void ComputeShares(const Radius &k, float rlo, float rhi, bool packed, const float *dx,
                   const float *dy, const float *v, std::size_t m, Shares &out)
{
    std::size_t j = 0;
#if defined(ORVAN_RING_AVX)
    if (packed && HasAvx())
        j = SharesAvx(k, rlo, rhi, dx, dy, v, m, out);
#endif
#if defined(__SSE2__)
    if (packed) {
        const __m128 cq = _mm_set1_ps(k.cq), sq = _mm_set1_ps(k.sq);
        const __m128 ms = _mm_set1_ps(k.ms), c = _mm_set1_ps(k.c), g = _mm_set1_ps(k.g);
        const __m128 lo = _mm_set1_ps(rlo), hi = _mm_set1_ps(rhi);
        const __m128 zero = _mm_setzero_ps(), one = _mm_set1_ps(1.0f);
        const __m128i none = _mm_set1_epi32(-1);
        for (; j + 4 <= m; j += 4) {
            const __m128 x = _mm_loadu_ps(dx + j), y = _mm_loadu_ps(dy + j);
            const __m128 u = _mm_add_ps(_mm_mul_ps(cq, x), _mm_mul_ps(sq, y));
            const __m128 w = _mm_add_ps(_mm_mul_ps(ms, x), _mm_mul_ps(c, y));
            const __m128 r = _mm_mul_ps(_mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(u, u), _mm_mul_ps(w, w))), g);
            const __m128 ok = _mm_and_ps(_mm_and_ps(_mm_cmpgt_ps(r, lo), _mm_cmplt_ps(r, hi)),
                                         _mm_cmpge_ps(r, zero));
            const __m128i bin = _mm_cvttps_epi32(r);
            const __m128 s = _mm_sub_ps(r, _mm_cvtepi32_ps(bin));
            const __m128 oms = _mm_sub_ps(one, s);
            const __m128 val = _mm_loadu_ps(v + j);
            const __m128i okBits = _mm_castps_si128(ok);
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out.bin + j),
                             _mm_or_si128(_mm_and_si128(okBits, bin), _mm_andnot_si128(okBits, none)));
            _mm_storeu_ps(out.lo_v + j, _mm_mul_ps(val, oms));
            _mm_storeu_ps(out.lo_w + j, oms);
            _mm_storeu_ps(out.hi_v + j, _mm_mul_ps(val, s));
            _mm_storeu_ps(out.hi_w + j, s);
        }
    }
#else
    (void)packed;
#endif
    for (; j < m; ++j) {
        const float u = k.cq * dx[j] + k.sq * dy[j];
        const float w = k.ms * dx[j] + k.c * dy[j];
        const float r = std::sqrt(u * u + w * w) * k.g;
        if (!(r > rlo && r < rhi && r >= 0.0f)) {
            out.bin[j] = kNoBin;
            continue;
        }
        const std::uint32_t bin = static_cast<std::uint32_t>(r);
        const float s = r - static_cast<float>(bin);
        out.bin[j] = bin;
        out.lo_v[j] = v[j] * (1.0f - s);
        out.lo_w[j] = 1.0f - s;
        out.hi_v[j] = v[j] * s;
        out.hi_w[j] = s;
    }
}

// Adds the shares of n pixels to the bins S[k - base], Wt[k - base], in pixel
// order, as the kernels share a pixel between bins floor(r) and floor(r) + 1.
// The two bins of the latest pixel stay in registers while the next pixels
// fall in the same or a neighbouring bin, so pixels along a column do not
// wait on memory; every bin still receives its additions in order. span
// is the bins' count: a pixel outside is a broken list (logic_error).
void AddBand(const Radius &radius, float rlo, float rhi, bool packed, const float *dx,
             const float *dy, const float *v, std::size_t n, std::uint32_t base,
             std::uint32_t span, float *S, float *Wt)
{
    constexpr std::uint32_t kNone = 0xFFFFFFFFu;
    std::uint32_t kc = kNone;  // bins kc and kc + 1 (relative to base) live in a, b
    float as = 0.0f, aw = 0.0f, bs = 0.0f, bw = 0.0f;
    Shares sh;
    for (std::size_t i0 = 0; i0 < n; i0 += kChunk) {
        const std::size_t m = std::min(kChunk, n - i0);
        ComputeShares(radius, rlo, rhi, packed, dx + i0, dy + i0, v + i0, m, sh);
        for (std::size_t j = 0; j < m; ++j) {
            const std::uint32_t k = sh.bin[j];
            if (k == kNoBin)
                continue;
            const std::uint32_t i = k - base;
            if (i != kc) {
                if (i >= span - 1)
                    throw std::logic_error("ring pixel list misses a bin");
                if (i == kc + 1) {
                    S[kc] = as;
                    Wt[kc] = aw;
                    as = bs;
                    aw = bw;
                    bs = S[i + 1];
                    bw = Wt[i + 1];
                } else if (i + 1 == kc) {
                    S[kc + 1] = bs;
                    Wt[kc + 1] = bw;
                    bs = as;
                    bw = aw;
                    as = S[i];
                    aw = Wt[i];
                } else {
                    if (kc != kNone) {
                        S[kc] = as;
                        Wt[kc] = aw;
                        S[kc + 1] = bs;
                        Wt[kc + 1] = bw;
                    }
                    as = S[i];
                    aw = Wt[i];
                    bs = S[i + 1];
                    bw = Wt[i + 1];
                }
                kc = i;
            }
            as += sh.lo_v[j];
            aw += sh.lo_w[j];
            bs += sh.hi_v[j];
            bw += sh.hi_w[j];
        }
    }
    if (kc != kNone) {
        S[kc] = as;
        Wt[kc] = aw;
        S[kc + 1] = bs;
        Wt[kc + 1] = bw;
    }
}

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
    // The elliptical radius exactly as the integration kernels compute it.
    const float theta = -angle;
    const float ct = std::cos(theta);
    const float st = std::sin(theta);
    const float cq = ct / q, sq = st / q, ms = -st, c = ct;
    const float g = static_cast<float>((static_cast<double>(q) + 1.0) / 2.0);
    const float rlo = static_cast<float>(static_cast<std::int32_t>(r_min_) - 1);
    const float rhi = static_cast<float>(static_cast<std::int32_t>(r_max_) - 1);

    arma::Col<float> sums(r_max_, arma::fill::zeros);
    arma::Col<float> weights(r_max_, arma::fill::zeros);
    float *S = sums.memptr();
    float *Wt = weights.memptr();

    // A band sums every bin its pixels reach, in pixel order, and hands on
    // only its own bins, which it has seen complete.
    const Radius radius{cq, sq, ms, c, g};
    const bool packed = r_max_ <= (std::uint32_t{1} << 24);
    auto run = [&](unsigned t) {
        const Band &b = bands_[t];
        const std::uint32_t span = b.high - b.low;
        if (bands_.size() == 1) {
            AddBand(radius, rlo, rhi, packed, b.dx.data(), b.dy.data(), b.v.data(), b.v.size(), 0,
                    r_max_, S, Wt);
            return;
        }
        std::vector<float> s(span, 0.0f), w(span, 0.0f);
        AddBand(radius, rlo, rhi, packed, b.dx.data(), b.dy.data(), b.v.data(), b.v.size(), b.low,
                span, s.data(), w.data());
        std::copy(s.begin() + (b.first - b.low), s.begin() + (b.last - b.low), S + b.first);
        std::copy(w.begin() + (b.first - b.low), w.begin() + (b.last - b.low), Wt + b.first);
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
