// The pattern a centre or integration handler works on.
#pragma once

#include "geometry/diffraction_pattern.h"
#include "host/link/dm_link.h"
#include "plugin/image_bridge.h"

namespace orvan {

// The image through the bridge (an invalid image gives an empty matrix), the
// script's centre, and a circle (angle 0, axis ratio 1) until the caller says
// otherwise. Throws what the bridge throws.
inline void LoadPattern(DiffractionPattern &pattern, DMImage *image, float center_x, float center_y) {
  pattern.image = ImageToFloatMatrix(image);
  pattern.centerX = center_x;
  pattern.centerY = center_y;
  pattern.angle = 0.0f;
  pattern.axisRatio = 1.0f;
}

}  // namespace orvan
