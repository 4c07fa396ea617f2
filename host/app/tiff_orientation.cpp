#include "host/app/tiff_orientation.h"

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

namespace orvanhost {
namespace {

// Stored pixel (c, r) to shown pixel (r, c).
void Transpose(float* p, size_t width, size_t height) {
    if (width == height) {
        // In small blocks, so that both sides of each swap stay in the cache
        // also when rows lie a power of two apart.
        constexpr size_t kBlock = 8;
        for (size_t by = 0; by < height; by += kBlock)
            for (size_t bx = by; bx < width; bx += kBlock)
                for (size_t y = by; y < std::min(by + kBlock, height); ++y)
                    for (size_t x = std::max(bx, y + 1); x < std::min(bx + kBlock, width); ++x)
                        std::swap(p[x + y * width], p[y + x * width]);
        return;
    }
    // Each pixel moves along a cycle of positions; the first and the last
    // stay where they are.
    const size_t n = width * height;
    std::vector<bool> moved(n);
    for (size_t start = 1; start + 1 < n; ++start) {
        if (moved[start]) continue;
        float carried = p[start];
        size_t at = start;
        do {
            at = (at % width) * height + at / width;
            std::swap(carried, p[at]);
            moved[at] = true;
        } while (at != start);
    }
}

}  // namespace

bool SwapsSides(uint16_t orientation) { return orientation >= 5 && orientation <= 8; }

void ApplyOrientation(float* pixels, uint32_t width, uint32_t height, uint16_t orientation) {
    if (orientation < 2 || orientation > 8) return;
    size_t w = width, h = height;
    if (SwapsSides(orientation)) {
        Transpose(pixels, w, h);
        std::swap(w, h);
    }
    // After the transposition, 6 to 8 are 2 to 4 of the transposed image.
    const bool mirror = orientation == 2 || orientation == 3 || orientation == 6 || orientation == 7;
    const bool flip = orientation == 3 || orientation == 4 || orientation == 7 || orientation == 8;
    if (mirror && flip) {
        std::reverse(pixels, pixels + w * h);
    } else if (mirror) {
        for (size_t y = 0; y < h; ++y) std::reverse(pixels + y * w, pixels + (y + 1) * w);
    } else if (flip) {
        for (size_t y = 0; y < h / 2; ++y)
            std::swap_ranges(pixels + y * w, pixels + (y + 1) * w, pixels + (h - 1 - y) * w);
    }
}

}  // namespace orvanhost
