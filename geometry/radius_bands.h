#pragma once
// Splitting of a radial table's bins among worker threads.
//
// Each thread owns a contiguous range of bins, visits in the usual pixel order
// only the pixels that reach its bins and writes only those bins, so every
// bin's sum keeps its single-thread order whatever the split. The split only
// sets how evenly the work is shared: the bands hold about equal numbers of
// image pixels.

#include <cstdint>
#include <vector>

struct BandGeometry {
    std::uint64_t rows = 0, cols = 0;  // image size
    double cx = 0.0, cy = 0.0;         // centre
    double offset = 0.0, scale = 1.0;  // bin k lies near plain distance offset + k * scale
    double lo = 0.0, hi = 0.0;         // only pixels at distances in [lo, hi] count
};

// Band edges b[0] = 0 < b[1] < .. < b[n] = n_bins: band t is bins
// [b[t], b[t + 1]). As many bands as TaskCountFor allows for the counted
// pixels at `min_pixels` a band; a single band for non-finite geometry.
// Never throws apart from allocation failure.
std::vector<std::uint32_t> RadiusBands(const BandGeometry &g, std::uint32_t n_bins,
                                       std::uint64_t min_pixels);
