// The pattern a centre or integration handler works on.
#pragma once

#include "geometry/diffraction_pattern.h"
#include "host/link/host_link.h"
#include "plugin/image_bridge.h"

namespace orvan {

// A pattern owning a copy of the image's pixels. Throws what the bridge
// throws.
inline void LoadPattern(DiffractionPattern& pattern, LinkImage* image, float center_x, float center_y) {
    pattern.image = ImageToFloatMatrix(image);
    pattern.centerX = center_x;
    pattern.centerY = center_y;
    pattern.angle = 0.0f;
    pattern.axisRatio = 1.0f;
}

// The pattern of a handler that only reads its image: its pixels as
// ImagePixelsForReading gives them (a 4-byte real image in place), viewed
// read only while this object lives. The centre and ellipse fields may be
// set. Throws what the bridge throws.
class ReadOnlyPattern {
public:
    ReadOnlyPattern(LinkImage* image, float center_x, float center_y)
        : pixels_(image), pattern_(PixelView(pixels_.data(), pixels_.width(), pixels_.height()), center_x, center_y) {}
    PatternView& get() { return pattern_; }
    bool InPlace() const { return pixels_.InPlace(); }

private:
    ImagePixelsForReading pixels_;  // declared first: outlives the pattern's view of the block
    PatternView pattern_;
};

}  // namespace orvan
