#include "geometry/bin_shares.h"

#include "geometry/work_sizes.h"

#include <algorithm>
#include <atomic>
#include <limits>
#include <type_traits>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#if defined(__SSE2__) && defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define ORVAN_SHARES_AVX 1
#endif

namespace {

constexpr std::size_t kChunk = kSharesChunkPixels;

// Marks a pixel that does not count.
constexpr std::uint32_t kNoBin = 0xFFFFFFFFu;

// One chunk: bin[j] = floor(r) of pixel j or kNoBin; lo_v, lo_w = v (1 - s)
// and 1 - s for bin[j]; hi_v, hi_w = v s and s for bin[j] + 1.
struct Shares {
    std::uint32_t bin[kChunk];
    float lo_v[kChunk], lo_w[kChunk], hi_v[kChunk], hi_w[kChunk];
};

// Pixel j: offsets dx[j], dy[j], value v[j].
struct ListPixels {
    const float *dx, *dy, *v;
};

// Pixel j of a run: offsets dx, (float)(y0 + j) - oy, value v[j].
struct RunPixels {
    float dx, oy;
    std::uint64_t y0;
    const float* v;
};

template <class Src>
constexpr bool kIsRun = std::is_same<Src, RunPixels>::value;

std::atomic<int> simd_cap{static_cast<int>(SimdLevel::Avx)};

// The three forms below have one shape: pixels i0 + j .. i0 + m - 1 of the
// source into out[j ..], as many as their width allows (all for the scalar
// form); each returns the first j it left. A run's (float)y is exact in the
// packed forms: packed runs end below 2^24.

#if defined(ORVAN_SHARES_AVX)
template <bool Ell, class Src>
__attribute__((target("avx"))) std::size_t SharesAvx(const RadiusFrame& f, float rlo, float rhi, const Src& src,
                                                     std::size_t i0, std::size_t j, std::size_t m, Shares& out) {
    const __m256 cq = _mm256_set1_ps(f.cq), sq = _mm256_set1_ps(f.sq);
    const __m256 ms = _mm256_set1_ps(f.ms), c = _mm256_set1_ps(f.c), g = _mm256_set1_ps(f.g);
    const __m256 r0 = _mm256_set1_ps(f.r0);
    const __m256 lo = _mm256_set1_ps(rlo), hi = _mm256_set1_ps(rhi);
    const __m256 zero = _mm256_setzero_ps(), one = _mm256_set1_ps(1.0f);
    const __m256 none = _mm256_castsi256_ps(_mm256_set1_epi32(-1));
    const __m256 lane = _mm256_setr_ps(0, 1, 2, 3, 4, 5, 6, 7);
    for (; j + 8 <= m; j += 8) {
        __m256 x, y;
        if constexpr (kIsRun<Src>) {
            x = _mm256_set1_ps(src.dx);
            const __m256 yi = _mm256_add_ps(_mm256_set1_ps(static_cast<float>(src.y0 + i0 + j)), lane);
            y = _mm256_sub_ps(yi, _mm256_set1_ps(src.oy));
        } else {
            x = _mm256_loadu_ps(src.dx + i0 + j);
            y = _mm256_loadu_ps(src.dy + i0 + j);
        }
        __m256 r;
        if constexpr (Ell) {
            const __m256 u = _mm256_add_ps(_mm256_mul_ps(cq, x), _mm256_mul_ps(sq, y));
            const __m256 w = _mm256_add_ps(_mm256_mul_ps(ms, x), _mm256_mul_ps(c, y));
            r = _mm256_mul_ps(_mm256_sqrt_ps(_mm256_add_ps(_mm256_mul_ps(u, u), _mm256_mul_ps(w, w))), g);
        } else {
            r = _mm256_sqrt_ps(_mm256_add_ps(_mm256_mul_ps(x, x), _mm256_mul_ps(y, y)));
        }
        r = _mm256_sub_ps(r, r0);
        const __m256 val = _mm256_loadu_ps(src.v + i0 + j);
        const __m256 ok =
            _mm256_and_ps(_mm256_and_ps(_mm256_cmp_ps(r, lo, _CMP_GT_OQ), _mm256_cmp_ps(r, hi, _CMP_LT_OQ)),
                          _mm256_and_ps(_mm256_cmp_ps(r, zero, _CMP_GE_OQ), _mm256_cmp_ps(val, zero, _CMP_NEQ_UQ)));
        const __m256i bin = _mm256_cvttps_epi32(r);
        const __m256 s = _mm256_sub_ps(r, _mm256_cvtepi32_ps(bin));
        const __m256 oms = _mm256_sub_ps(one, s);
        const __m256 kept = _mm256_or_ps(_mm256_and_ps(ok, _mm256_castsi256_ps(bin)), _mm256_andnot_ps(ok, none));
        _mm256_storeu_ps(reinterpret_cast<float*>(out.bin + j), kept);
        _mm256_storeu_ps(out.lo_v + j, _mm256_mul_ps(val, oms));
        _mm256_storeu_ps(out.lo_w + j, oms);
        _mm256_storeu_ps(out.hi_v + j, _mm256_mul_ps(val, s));
        _mm256_storeu_ps(out.hi_w + j, s);
    }
    return j;
}
#endif

#if defined(__SSE2__)
template <bool Ell, class Src>
std::size_t SharesSse2(const RadiusFrame& f, float rlo, float rhi, const Src& src, std::size_t i0, std::size_t j,
                       std::size_t m, Shares& out) {
    const __m128 cq = _mm_set1_ps(f.cq), sq = _mm_set1_ps(f.sq);
    const __m128 ms = _mm_set1_ps(f.ms), c = _mm_set1_ps(f.c), g = _mm_set1_ps(f.g);
    const __m128 r0 = _mm_set1_ps(f.r0);
    const __m128 lo = _mm_set1_ps(rlo), hi = _mm_set1_ps(rhi);
    const __m128 zero = _mm_setzero_ps(), one = _mm_set1_ps(1.0f);
    const __m128 none = _mm_castsi128_ps(_mm_set1_epi32(-1));
    const __m128 lane = _mm_setr_ps(0, 1, 2, 3);
    for (; j + 4 <= m; j += 4) {
        __m128 x, y;
        if constexpr (kIsRun<Src>) {
            x = _mm_set1_ps(src.dx);
            const __m128 yi = _mm_add_ps(_mm_set1_ps(static_cast<float>(src.y0 + i0 + j)), lane);
            y = _mm_sub_ps(yi, _mm_set1_ps(src.oy));
        } else {
            x = _mm_loadu_ps(src.dx + i0 + j);
            y = _mm_loadu_ps(src.dy + i0 + j);
        }
        __m128 r;
        if constexpr (Ell) {
            const __m128 u = _mm_add_ps(_mm_mul_ps(cq, x), _mm_mul_ps(sq, y));
            const __m128 w = _mm_add_ps(_mm_mul_ps(ms, x), _mm_mul_ps(c, y));
            r = _mm_mul_ps(_mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(u, u), _mm_mul_ps(w, w))), g);
        } else {
            r = _mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(x, x), _mm_mul_ps(y, y)));
        }
        r = _mm_sub_ps(r, r0);
        const __m128 val = _mm_loadu_ps(src.v + i0 + j);
        const __m128 ok = _mm_and_ps(_mm_and_ps(_mm_cmpgt_ps(r, lo), _mm_cmplt_ps(r, hi)),
                                     _mm_and_ps(_mm_cmpge_ps(r, zero), _mm_cmpneq_ps(val, zero)));
        const __m128i bin = _mm_cvttps_epi32(r);
        const __m128 s = _mm_sub_ps(r, _mm_cvtepi32_ps(bin));
        const __m128 oms = _mm_sub_ps(one, s);
        const __m128 kept = _mm_or_ps(_mm_and_ps(ok, _mm_castsi128_ps(bin)), _mm_andnot_ps(ok, none));
        _mm_storeu_ps(reinterpret_cast<float*>(out.bin + j), kept);
        _mm_storeu_ps(out.lo_v + j, _mm_mul_ps(val, oms));
        _mm_storeu_ps(out.lo_w + j, oms);
        _mm_storeu_ps(out.hi_v + j, _mm_mul_ps(val, s));
        _mm_storeu_ps(out.hi_w + j, s);
    }
    return j;
}
#endif

template <bool Ell, class Src>
std::size_t SharesScalar(const RadiusFrame& f, float rlo, float rhi, const Src& src, std::size_t i0, std::size_t j,
                         std::size_t m, Shares& out) {
    for (; j < m; ++j) {
        float dx, dy, ax, ay;
        if constexpr (kIsRun<Src>) {
            dx = src.dx;
            dy = static_cast<float>(src.y0 + i0 + j) - src.oy;
        } else {
            dx = src.dx[i0 + j];
            dy = src.dy[i0 + j];
        }
        const float r = FrameRadius<Ell>(f, dx, dy, ax, ay);
        const float v = src.v[i0 + j];
        if (!(r > rlo && r < rhi && r >= 0.0f) || v == 0.0f) {
            out.bin[j] = kNoBin;
            continue;
        }
        // 0 <= r < 2^32: truncation is floor, and exact.
        const std::uint32_t bin = static_cast<std::uint32_t>(r);
        const float s = r - static_cast<float>(bin);
        out.bin[j] = bin;
        out.lo_v[j] = v * (1.0f - s);
        out.lo_w[j] = 1.0f - s;
        out.hi_v[j] = v * s;
        out.hi_w[j] = s;
    }
    return j;
}

// The widest form the level allows, its tail on the next narrower, the
// rest one by one. The level is a template argument so that each summing
// loop below holds only the forms it uses.
template <bool Ell, SimdLevel Level, class Src>
void ComputeShares(const RadiusFrame& f, float rlo, float rhi, const Src& src, std::size_t i0, std::size_t m,
                   Shares& out) {
    std::size_t j = 0;
#if defined(ORVAN_SHARES_AVX)
    if constexpr (Level >= SimdLevel::Avx) j = SharesAvx<Ell>(f, rlo, rhi, src, i0, j, m, out);
#endif
#if defined(__SSE2__)
    if constexpr (Level >= SimdLevel::Sse2) j = SharesSse2<Ell>(f, rlo, rhi, src, i0, j, m, out);
#endif
    SharesScalar<Ell>(f, rlo, rhi, src, i0, j, m, out);
}

template <bool Ell, SimdLevel Level, class Src>
std::size_t AddShares(const RadiusFrame& f, const BinTarget& t, const Src& src, std::size_t n) {
    const std::uint32_t limit = t.span < 2 ? 0 : t.span - 1;
    std::size_t outside = 0;
    HeldBins<std::uint32_t> sums(t.S, t.Wt);
    Shares sh;
    for (std::size_t i0 = 0; i0 < n; i0 += kChunk) {
        const std::size_t m = std::min(kChunk, n - i0);
        ComputeShares<Ell, Level>(f, t.lo, t.hi, src, i0, m, sh);
        for (std::size_t j = 0; j < m; ++j) {
            const std::uint32_t k = sh.bin[j];
            if (k == kNoBin) continue;
            const std::uint32_t i = k - t.base;
            if (i != sums.Held()) {
                if (i >= limit) {
                    ++outside;
                    continue;
                }
                sums.Hold(i);
            }
            sums.Add(sh.lo_v[j], sh.lo_w[j], sh.hi_v[j], sh.hi_w[j]);
        }
    }
    sums.Store();
    return outside;
}

// The one dispatch: AVX, then SSE2, then scalar, as far as the level allows.
template <bool Ell, class Src>
std::size_t AddSharesAt(const RadiusFrame& f, const BinTarget& t, SimdLevel level, const Src& src, std::size_t n) {
    switch (level) {
        case SimdLevel::Avx: return AddShares<Ell, SimdLevel::Avx>(f, t, src, n);
        case SimdLevel::Sse2: return AddShares<Ell, SimdLevel::Sse2>(f, t, src, n);
        case SimdLevel::Scalar: break;
    }
    return AddShares<Ell, SimdLevel::Scalar>(f, t, src, n);
}

template <class Src>
std::size_t AddSharesOf(const RadiusFrame& f, const BinTarget& t, bool packed, const Src& src, std::size_t n) {
    const SimdLevel level = packed ? ActiveSimdLevel() : SimdLevel::Scalar;
    return f.elliptical ? AddSharesAt<true>(f, t, level, src, n) : AddSharesAt<false>(f, t, level, src, n);
}

}  // namespace

SimdLevel AvailableSimdLevel() {
#if defined(ORVAN_SHARES_AVX)
    static const SimdLevel level = __builtin_cpu_supports("avx") ? SimdLevel::Avx : SimdLevel::Sse2;
    return level;
#elif defined(__SSE2__)
    return SimdLevel::Sse2;
#else
    return SimdLevel::Scalar;
#endif
}

SimdLevel ActiveSimdLevel() {
    const SimdLevel cap = static_cast<SimdLevel>(simd_cap.load(std::memory_order_relaxed));
    const SimdLevel has = AvailableSimdLevel();
    return cap < has ? cap : has;
}

void SetSimdLevel(SimdLevel level) { simd_cap.store(static_cast<int>(level)); }

RadiusFrame EllipticalFrame(float q, float angle) {
    const float theta = -angle;
    const float ct = std::cos(theta);
    const float st = std::sin(theta);
    RadiusFrame f;
    f.elliptical = true;
    f.cq = ct / q;
    f.sq = st / q;
    f.ms = -st;
    f.c = ct;
    f.g = static_cast<float>((static_cast<double>(q) + 1.0) / 2.0);
    return f;
}

std::size_t AddListShares(const RadiusFrame& frame, const BinTarget& t, const float* dx, const float* dy,
                          const float* v, std::size_t n) {
    return AddSharesOf(frame, t, t.packed, ListPixels{dx, dy, v}, n);
}

std::size_t AddRunShares(const RadiusFrame& frame, const BinTarget& t, float dx, float oy, std::uint64_t y0,
                         std::uint64_t y1, const float* row) {
    if (y1 <= y0) return 0;
    // Packed lanes count y in floats.
    const bool packed = t.packed && y1 <= kPackedExactBelow;
    return AddSharesOf(frame, t, packed, RunPixels{dx, oy, y0, row + y0}, y1 - y0);
}
