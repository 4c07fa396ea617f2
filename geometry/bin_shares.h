#pragma once
// The integration kernels' inner loop: each pixel's radius, its bin
// k = floor(r) and its shares, v (1 - s) with weight 1 - s to bin k and v s
// with weight s to bin k + 1 (s = r - k), added in pixel order.
//
// The radii and shares of a chunk of pixels are computed first, on packed
// operations where the processor has them: mul, add, sub and sqrt round
// exactly as their scalar forms, and the operation order is the scalar one, so
// every value is the same bit for bit. The sums then take the shares in pixel
// order, the two bins of the latest pixel held in registers, so that a bin's
// next addition does not wait for its store. Every bin receives the same
// additions in the same order as the plain loop.

#include <cstddef>
#include <cstdint>

// How a pixel's offset (dx, dy) from the centre becomes its radius, each
// operation rounded to single precision in this order:
//   plain:      r = sqrt(dx dx + dy dy)
//   elliptical: u = cq dx + sq dy, w = ms dx + c dy, r = sqrt(u u + w w) g
struct RadiusFrame {
    bool elliptical = false;
    float cq = 1.0f, sq = 0.0f, ms = 0.0f, c = 1.0f, g = 1.0f;
};

// The elliptical frame of axis ratio q at `angle` (radians): with
// theta = -angle, cq = cos theta / q, sq = sin theta / q, ms = -sin theta,
// c = cos theta (single precision), g = (q + 1) / 2 in double rounded to float.
RadiusFrame EllipticalFrame(float q, float angle);

// Which pixels count and where their shares go: a pixel counts when
// lo < r < hi and r >= 0 (not a number fails) and its value is not zero. Its
// bin k then goes to S[k - base], Wt[k - base] and bin k + 1 to the next
// element; a pixel with k - base (modulo 2^32) >= span - 1 is left out and
// counted. `packed` allows packed operations; it must be false unless every
// counted bin is below 2^24, where packed truncation and conversion equal the
// scalar ones.
struct BinTarget {
    float lo = 0.0f, hi = 0.0f;
    bool packed = false;
    std::uint32_t base = 0, span = 0;
    float *S = nullptr, *Wt = nullptr;
};

// Adds n pixels given as lists of offsets and values. Returns the number of
// pixels left out for falling outside the span. Never throws.
std::size_t AddListShares(const RadiusFrame &frame, const BinTarget &t, const float *dx,
                          const float *dy, const float *v, std::size_t n);

// Adds the pixels y0 .. y1 - 1 of one image row: offsets (dx, (float)y - oy),
// values row[y]. Returns the number left out for falling outside the span.
// Never throws.
std::size_t AddRunShares(const RadiusFrame &frame, const BinTarget &t, float dx, float oy,
                         std::uint64_t y0, std::uint64_t y1, const float *row);
