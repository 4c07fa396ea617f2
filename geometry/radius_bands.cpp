#include "geometry/radius_bands.h"

#include "geometry/pixel_rows.h"
#include "geometry/work_sizes.h"
#include "geometry/worker_threads.h"

#include <algorithm>
#include <cmath>

namespace {

// Image pixels nearer than R to the centre, estimated from every stride-th
// matrix row; never decreasing in R.
double PixelsWithin(const BandGeometry& g, double R, std::uint64_t stride) {
    if (!(R > 0.0)) return 0.0;
    std::uint64_t x0, x1;
    ClampRange(g.cx - R, g.cx + R, g.rows, x0, x1);
    double n = 0.0;
    for (std::uint64_t x = x0; x < x1; x += stride) {
        const double dx = static_cast<double>(x) - g.cx;
        const double e2 = R * R - dx * dx;
        if (e2 < 0.0) continue;
        const double e = std::sqrt(e2);
        std::uint64_t y0, y1;
        ClampRange(g.cy - e, g.cy + e, g.cols, y0, y1);
        n += static_cast<double>(y1 - y0);
    }
    return n * static_cast<double>(stride);
}

}  // namespace

std::vector<std::uint32_t> RadiusBands(const BandGeometry& g, std::uint32_t n_bins, std::uint64_t min_pixels) {
    std::vector<std::uint32_t> edges{0, n_bins};
    if (n_bins < 2 || !std::isfinite(g.cx) || !std::isfinite(g.cy) || !std::isfinite(g.offset) ||
        !std::isfinite(g.scale) || !std::isfinite(g.lo) || !std::isfinite(g.hi) || !(g.lo <= g.hi))
        return edges;
    const std::uint64_t stride = std::max<std::uint64_t>(1, g.rows / kBandSampleRows);
    auto below = [&](std::uint32_t k) {
        const double d = g.offset + static_cast<double>(k) * g.scale;
        return PixelsWithin(g, std::min(std::max(d, g.lo), g.hi), stride);
    };
    const double total = below(n_bins) - below(0);
    if (!(total > 0.0)) return edges;
    return SplitBins(n_bins, TaskCountFor(static_cast<std::uint64_t>(total), min_pixels), below);
}
