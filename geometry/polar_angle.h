#pragma once
// The angle convention of the geometry code.

#include <cmath>

// Angle of the offset (dx, dy) from +x toward -y (counter-clockwise on a display
// whose y axis points down), in [0, 2 pi): atan2(-dy, dx) in single precision,
// a negative result lifted by the double 2 pi and stored as a float. The lift
// can round up to exactly 2 pi for angles just below it.
inline float PolarAngle(float dx, float dy) {
    float phi = std::atan2(-dy, dx);
    if (phi < 0.0f) phi = static_cast<float>(static_cast<double>(phi) + 2.0 * M_PI);
    return phi;
}
