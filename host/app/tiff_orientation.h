// The Orientation tag: pixels in the order a TIFF stores them turned into
// the order every viewer shows them.
#pragma once

#include <cstdint>

namespace orvanhost {

// True for orientations 5 to 8, whose stored rows are shown as columns: the
// image shown is `height` pixels wide and `width` high.
bool SwapsSides(uint16_t orientation);

// Reorders width x height pixels read in stored order (row 0 first) in
// place into the order `orientation` (1 to 8; others are taken as 1) shows
// them in. Transposing a non-square image takes one bit a pixel to mark the
// pixels moved; throws std::bad_alloc when that cannot be had, leaving the
// pixels half moved.
void ApplyOrientation(float* pixels, uint32_t width, uint32_t height, uint16_t orientation);

}  // namespace orvanhost
