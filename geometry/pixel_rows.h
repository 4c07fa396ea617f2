#pragma once
// Which pixels of a matrix row can lie inside an annulus around a centre. A
// matrix row x holds the pixels (x, y) of every y: a vertical line of the
// image (plugin/image_bridge.h).
//
// The integration loops keep the row-major pixel order that decides their
// single-precision sums, but skip pixels that cannot pass their own radius
// test. The bounds here are computed in double precision and widened by a
// margin far larger than the rounding of the loops' single-precision radii, so
// a skipped pixel is one the loop would have rejected anyway.

#include "geometry/pixel_view.h"
#include "geometry/work_sizes.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>

struct AnnulusBound {
    double cx = 0.0, cy = 0.0;
    double outer = 0.0;  // pixels farther than this never count
    double inner = 0.0;  // pixels nearer than this never count (0: none)
    bool none = false;   // no pixel can count at all
    bool whole = false;  // no useful bound: visit every pixel
};

// Widens the annulus [inner, outer] (plain pixel distances) by the margin.
inline AnnulusBound MakeAnnulusBound(float cx, float cy, double inner, double outer) {
    AnnulusBound b;
    b.cx = cx;
    b.cy = cy;
    if (!std::isfinite(b.cx) || !std::isfinite(b.cy)) {
        // Every distance is infinite or not a number: no radius test passes.
        b.none = true;
        return b;
    }
    if (!(outer == outer) || std::isinf(outer)) {
        b.whole = true;
        return b;
    }
    const double margin = 2.0 + 1e-4 * (std::fabs(outer) + std::fabs(b.cx) + std::fabs(b.cy));
    if (outer + margin < 0.0) {
        b.none = true;
        return b;
    }
    b.outer = outer + margin;
    b.inner = (inner == inner) ? std::max(0.0, inner - margin) : 0.0;
    return b;
}

// Index range [lo, hi) clamped to [0, n), from a real interval [a, b].
inline void ClampRange(double a, double b, std::uint64_t n, std::uint64_t& lo, std::uint64_t& hi) {
    const double fa = std::ceil(a), fb = std::floor(b);
    if (!(fb >= 0.0) || !(fa <= static_cast<double>(n) - 1.0) || fa > fb) {
        lo = hi = 0;
        return;
    }
    lo = fa <= 0.0 ? 0 : static_cast<std::uint64_t>(fa);
    hi = fb >= static_cast<double>(n) - 1.0 ? n : static_cast<std::uint64_t>(fb) + 1;
}

// The matrix rows x to visit: [lo, hi).
inline void AnnulusRows(const AnnulusBound& b, std::uint64_t rows, std::uint64_t& lo, std::uint64_t& hi) {
    if (b.none) {
        lo = hi = 0;
    } else if (b.whole) {
        lo = 0;
        hi = rows;
    } else {
        ClampRange(b.cx - b.outer, b.cx + b.outer, rows, lo, hi);
    }
}

// The columns y of matrix row x to visit: [lo1, hi1) and [lo2, hi2), the gap
// between them being the inner disc.
inline void AnnulusColumns(const AnnulusBound& b, std::uint64_t x, std::uint64_t cols, std::uint64_t& lo1,
                           std::uint64_t& hi1, std::uint64_t& lo2, std::uint64_t& hi2) {
    lo2 = hi2 = 0;
    if (b.whole) {
        lo1 = 0;
        hi1 = cols;
        return;
    }
    const double dx = static_cast<double>(x) - b.cx;
    const double dx2 = dx * dx;
    const double o2 = b.outer * b.outer;
    if (b.none || dx2 > o2) {
        lo1 = hi1 = 0;
        return;
    }
    const double e = std::sqrt(o2 - dx2);
    const double i2 = b.inner * b.inner;
    if (dx2 >= i2) {
        ClampRange(b.cy - e, b.cy + e, cols, lo1, hi1);
        return;
    }
    const double g = std::sqrt(i2 - dx2);
    // Columns strictly inside (cy - g, cy + g) are skipped; the two runs stay
    // in ascending order.
    ClampRange(b.cy - e, b.cy - g, cols, lo1, hi1);
    ClampRange(b.cy + g, b.cy + e, cols, lo2, hi2);
}

// Calls f(x, y0, y1, row) for the runs of annulus pixels in row-major order
// (x outer, y inner), the order that decides the callers' sums: row[y] is the
// value of pixel (x, y) for y0 <= y < y1.
//
// The matrix is stored by columns, so walking a matrix row jumps a whole
// column per pixel, and power-of-two column lengths put every step in the
// same few cache sets. Strips of matrix rows are therefore first copied,
// column by column, into a small row-ordered buffer whose rows are padded
// apart.
template <class F>
void ForEachAnnulusRun(const PixelView& m, const AnnulusBound& b, F&& f) {
    constexpr std::uint64_t kStrip = kStripRows, kPrefetchAhead = kStripPrefetchColumns;
    const std::uint64_t rows = m.rows(), cols = m.cols();
    std::uint64_t x0, x1;
    AnnulusRows(b, rows, x0, x1);
    if (x0 >= x1) return;
    const float* data = m.data();
    const std::uint64_t ld = cols + kStripPadding;
    // Only copied entries are ever read: no need to clear it.
    const std::unique_ptr<float[]> buffer(new float[kStrip * ld]);
    std::uint64_t runs[kStrip][4];
    for (std::uint64_t s0 = x0; s0 < x1; s0 += kStrip) {
        const std::uint64_t n = std::min(kStrip, x1 - s0);
        // The columns any row of the strip needs, as two spans.
        std::uint64_t lo[2] = {cols, cols}, hi[2] = {0, 0};
        for (std::uint64_t i = 0; i < n; ++i) {
            std::uint64_t* r = runs[i];
            AnnulusColumns(b, s0 + i, cols, r[0], r[1], r[2], r[3]);
            for (int k = 0; k < 2; ++k) {
                if (r[2 * k] < r[2 * k + 1]) {
                    lo[k] = std::min(lo[k], r[2 * k]);
                    hi[k] = std::max(hi[k], r[2 * k + 1]);
                }
            }
        }
        for (int k = 0; k < 2; ++k) {
            for (std::uint64_t y = lo[k]; y < hi[k]; ++y) {
                const float* src = data + s0 + y * rows;
                if (y + kPrefetchAhead < hi[k]) {
                    __builtin_prefetch(src + kPrefetchAhead * rows);
                    __builtin_prefetch(src + kPrefetchAhead * rows + n - 1);
                }
                for (std::uint64_t i = 0; i < n; ++i) buffer[i * ld + y] = src[i];
            }
        }
        for (std::uint64_t i = 0; i < n; ++i)
            for (int k = 0; k < 2; ++k)
                if (runs[i][2 * k] < runs[i][2 * k + 1])
                    f(s0 + i, runs[i][2 * k], runs[i][2 * k + 1], buffer.get() + i * ld);
    }
}

// Calls f(x, y, value) for each annulus pixel, in the same order.
template <class F>
void ForEachAnnulusPixel(const PixelView& m, const AnnulusBound& b, F&& f) {
    ForEachAnnulusRun(m, b, [&](std::uint64_t x, std::uint64_t y0, std::uint64_t y1, const float* row) {
        for (std::uint64_t y = y0; y < y1; ++y) f(x, y, row[y]);
    });
}
