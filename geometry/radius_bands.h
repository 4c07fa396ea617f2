#pragma once
// Splitting of a radial table's bins among worker threads: the one splitter
// of the geometry loops.
//
// Each thread owns a contiguous range of bins, visits in the usual pixel order
// only the pixels (or offsets) that reach its bins and writes only those bins,
// so every bin's sum keeps its single-thread order whatever the split. The
// split only sets how evenly the work is shared.

#include <cstdint>
#include <vector>

// Cuts bins 0 .. n_bins - 1 into at most `parts` ranges of about equal work.
// below(k), never decreasing in k, counts the work of the bins under k. Edge
// t is the smallest bin above edge t - 1 with
// below(edge) >= below(0) + (below(n_bins) - below(0)) t / parts, left out
// when there is none below n_bins. Returns the edges b[0] = 0 < b[1] < .. <
// b[m] = n_bins (m <= parts; one range for n_bins < 2). Never throws apart
// from allocation failure.
template <class Below>
std::vector<std::uint32_t> SplitBins(std::uint32_t n_bins, unsigned parts, const Below& below) {
    std::vector<std::uint32_t> edges{0};
    if (n_bins >= 2 && parts > 1) {
        const double base = static_cast<double>(below(0));
        const double total = static_cast<double>(below(n_bins)) - base;
        for (unsigned t = 1; t < parts; ++t) {
            const double target = base + total * t / parts;
            std::uint32_t lo = edges.back() + 1, hi = n_bins;
            while (lo < hi) {
                const std::uint32_t mid = lo + (hi - lo) / 2;
                if (static_cast<double>(below(mid)) >= target)
                    hi = mid;
                else
                    lo = mid + 1;
            }
            if (lo < n_bins) edges.push_back(lo);
        }
    }
    edges.push_back(n_bins);
    return edges;
}

struct BandGeometry {
    std::uint64_t rows = 0, cols = 0;  // image size
    double cx = 0.0, cy = 0.0;         // centre
    double offset = 0.0, scale = 1.0;  // bin k lies near plain distance offset + k * scale
    double lo = 0.0, hi = 0.0;         // only pixels at distances in [lo, hi] count
};

// Band edges b[0] = 0 < b[1] < .. < b[n] = n_bins: band t is bins
// [b[t], b[t + 1]), the bands holding about equal numbers of image pixels.
// As many bands as TaskCountFor allows for the counted pixels at
// `min_pixels` a band; a single band for non-finite geometry.
// Never throws apart from allocation failure.
std::vector<std::uint32_t> RadiusBands(const BandGeometry& g, std::uint32_t n_bins, std::uint64_t min_pixels);
