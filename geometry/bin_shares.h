#pragma once
// The radial binning every kernel shares: each pixel's radius, its bin
// k = floor(r) and its shares, v (1 - s) with weight 1 - s to bin k and v s
// with weight s to bin k + 1 (s = r - k), added in pixel order.
//
// The radii and shares of a chunk of pixels are computed first, on packed
// operations where the processor has them: mul, add, sub and sqrt round
// exactly as their scalar forms, and the operation order is the scalar one, so
// every value is the same bit for bit. That holds only while the compiler
// fuses no multiply and add into one rounding: the build compiles everything
// with -ffp-contract=off (CMakeLists.txt), which this promise depends on. The
// sums then take the shares in pixel order, the two bins of the latest pixel
// held in registers, so that a bin's next addition does not wait for its
// store. Every bin receives the same additions in the same order as the plain
// loop.
//
// Pixels are named by matrix row x and column y (plugin/image_bridge.h: a
// matrix row is a vertical line of the image); a run is part of one matrix
// row, y ascending.

#include <cmath>
#include <cstddef>
#include <cstdint>

// How a pixel's offset (dx, dy) from the centre becomes its radius, each
// operation rounded to single precision in this order:
//   circular:   r = sqrt(dx dx + dy dy) - r0
//   elliptical: u = cq dx + sq dy, w = ms dx + c dy, r = sqrt(u u + w w) g - r0
// r0 = 0 leaves every radius as it is.
struct RadiusFrame {
    bool elliptical = false;
    float cq = 1.0f, sq = 0.0f, ms = 0.0f, c = 1.0f, g = 1.0f;
    float r0 = 0.0f;
};

// The elliptical frame of axis ratio q at `angle` (radians): with
// theta = -angle, cq = cos theta / q, sq = sin theta / q, ms = -sin theta,
// c = cos theta (single precision), g = (q + 1) / 2 in double rounded to float.
RadiusFrame EllipticalFrame(float q, float angle);

// The radius of the offset (dx, dy) in the frame, and in (ax, ay) the offset
// whose angle the sector tests take: (u, w), or (dx, dy) itself for the
// circular frame. The scalar form of the packed ones in bin_shares.cpp.
template <bool Elliptical>
inline float FrameRadius(const RadiusFrame& f, float dx, float dy, float& ax, float& ay) {
    if constexpr (Elliptical) {
        ax = f.cq * dx + f.sq * dy;
        ay = f.ms * dx + f.c * dy;
        return std::sqrt(ax * ax + ay * ay) * f.g - f.r0;
    } else {
        ax = dx;
        ay = dy;
        return std::sqrt(dx * dx + dy * dy) - f.r0;
    }
}

inline float FrameRadius(const RadiusFrame& f, float dx, float dy, float& ax, float& ay) {
    return f.elliptical ? FrameRadius<true>(f, dx, dy, ax, ay) : FrameRadius<false>(f, dx, dy, ax, ay);
}

// Packed truncation is to 32-bit signed integers and packed conversion back
// to float exact below 2^24: packed bins and run positions stay below this.
constexpr std::uint64_t kPackedExactBelow = std::uint64_t{1} << 24;

// Which pixels count and where their shares go: a pixel counts when
// lo < r < hi and r >= 0 (not a number fails) and its value is not zero. Its
// bin k then goes to S[k - base], Wt[k - base] and bin k + 1 to the next
// element; a pixel with k - base (modulo 2^32) >= span - 1 is left out and
// counted. `packed` allows packed operations; it must be false unless every
// counted bin is below kPackedExactBelow, where packed truncation and
// conversion equal the scalar ones. A chosen run (AddChosenRunShares) may
// send a pixel to table column j instead, S + j stride and Wt + j stride;
// stride >= span.
struct BinTarget {
    float lo = 0.0f, hi = 0.0f;
    bool packed = false;
    std::uint32_t base = 0, span = 0;
    std::size_t stride = 0;
    float *S = nullptr, *Wt = nullptr;
};

// The packed forms the dispatch may use, each level including the lower
// ones: AVX eight pixels at a time, its tails and processors without AVX on
// SSE2 four at a time, the rest one by one.
enum class SimdLevel { Scalar = 0, Sse2 = 1, Avx = 2 };

// The highest level this processor and build offer.
SimdLevel AvailableSimdLevel();
// The level in use: the available one, or lower where SetSimdLevel capped it.
SimdLevel ActiveSimdLevel();
// Caps the level in use (the available one when `level` is higher); tests
// use it to hold every level to the same bits. Not for use while a kernel
// runs.
void SetSimdLevel(SimdLevel level);

// Adds n pixels given as lists of offsets and values. Returns the number of
// pixels left out for falling outside the span. Never throws.
std::size_t AddListShares(const RadiusFrame& frame, const BinTarget& t, const float* dx, const float* dy,
                          const float* v, std::size_t n);

// Adds the pixels y0 .. y1 - 1 of one matrix row: offsets (dx, (float)y - oy),
// values row[y]. Returns the number left out for falling outside the span.
// Never throws.
std::size_t AddRunShares(const RadiusFrame& frame, const BinTarget& t, float dx, float oy, std::uint64_t y0,
                         std::uint64_t y1, const float* row);

// The running sums of one table: the two bins of the latest pixel, kc and
// kc + 1 (indices into S and Wt), live in registers until a pixel elsewhere
// comes, so that a bin's next addition does not wait for its store.
template <class Index>
class HeldBins {
public:
    static constexpr Index kNone = static_cast<Index>(-1);

    HeldBins(float* S, float* Wt) : S_(S), Wt_(Wt) {}

    Index Held() const { return kc_; }

    // Makes bins i and i + 1 the held ones, storing the others.
    void Hold(Index i) {
        // kc_ is set first and the stores are written out: otherwise GCC
        // moves a register copy onto the path that every pixel takes (4 %
        // more instructions per pixel).
        const Index kc = kc_;
        kc_ = i;
        // kc + 1 wraps to 0 while no bin is held: test that first.
        if (kc != kNone && i == kc + 1) {
            S_[kc] = as_;
            Wt_[kc] = aw_;
            as_ = bs_;
            aw_ = bw_;
            bs_ = S_[i + 1];
            bw_ = Wt_[i + 1];
        } else if (i + 1 == kc) {
            S_[kc + 1] = bs_;
            Wt_[kc + 1] = bw_;
            bs_ = as_;
            bw_ = aw_;
            as_ = S_[i];
            aw_ = Wt_[i];
        } else {
            if (kc != kNone) {
                S_[kc] = as_;
                Wt_[kc] = aw_;
                S_[kc + 1] = bs_;
                Wt_[kc + 1] = bw_;
            }
            as_ = S_[i];
            aw_ = Wt_[i];
            bs_ = S_[i + 1];
            bw_ = Wt_[i + 1];
        }
    }

    // The shares of one pixel to the held bins.
    void Add(float lo_v, float lo_w, float hi_v, float hi_w) {
        as_ += lo_v;
        aw_ += lo_w;
        bs_ += hi_v;
        bw_ += hi_w;
    }

    void Store() {
        if (kc_ == kNone) return;
        S_[kc_] = as_;
        Wt_[kc_] = aw_;
        S_[kc_ + 1] = bs_;
        Wt_[kc_ + 1] = bw_;
    }

private:
    float *S_, *Wt_;
    Index kc_ = kNone;
    float as_ = 0.0f, aw_ = 0.0f, bs_ = 0.0f, bw_ = 0.0f;
};

template <bool Elliptical, class Choose>
std::size_t AddChosenRun(const RadiusFrame& frame, const BinTarget& t, float dx, float oy, std::uint64_t y0,
                         std::uint64_t y1, const float* row, const Choose& choose) {
    const std::uint32_t limit = t.span < 2 ? 0 : t.span - 1;
    std::size_t outside = 0;
    HeldBins<std::size_t> sums(t.S, t.Wt);
    for (std::uint64_t y = y0; y < y1; ++y) {
        float ax, ay;
        const float r = FrameRadius<Elliptical>(frame, dx, static_cast<float>(y) - oy, ax, ay);
        const float v = row[y];
        if (!(r > t.lo && r < t.hi && r >= 0.0f) || v == 0.0f) continue;
        // 0 <= r < 2^32: truncation is floor, and exact.
        const std::uint32_t k = static_cast<std::uint32_t>(r);
        const std::uint32_t i = k - t.base;
        if (i >= limit) {
            ++outside;
            continue;
        }
        const std::int64_t column = choose(ax, ay);
        if (column < 0) continue;
        const std::size_t flat = static_cast<std::size_t>(column) * t.stride + i;
        if (flat != sums.Held()) sums.Hold(flat);
        const float s = r - static_cast<float>(k);
        sums.Add(v * (1.0f - s), 1.0f - s, v * s, s);
    }
    sums.Store();
    return outside;
}

// AddRunShares for the pixels choose(ax, ay) keeps, one by one: given a
// counted pixel's (ax, ay) (FrameRadius), choose names the table column its
// shares go to, or -1 to leave it out. Throws only what choose throws.
template <class Choose>
std::size_t AddChosenRunShares(const RadiusFrame& frame, const BinTarget& t, float dx, float oy, std::uint64_t y0,
                               std::uint64_t y1, const float* row, const Choose& choose) {
    return frame.elliptical ? AddChosenRun<true>(frame, t, dx, oy, y0, y1, row, choose)
                            : AddChosenRun<false>(frame, t, dx, oy, y0, y1, row, choose);
}
