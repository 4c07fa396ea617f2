#pragma once
// Synthetic ring patterns with a known centre, ellipse and ring radii.

#include <algorithm>
#include <armadillo>
#include <cmath>
#include <cstdint>
#include <vector>

#include "geometry/diffraction_pattern.h"

struct RingSpec {
    unsigned width = 512, height = 512;
    double cx = 256.0, cy = 256.0;
    // Elliptical distortion as the geometry code defines it: ring radius R is
    // the mean semi-axis, the long axis 2Rq/(q+1) points along (cos a, -sin a).
    double ratio = 1.0, angle = 0.0;
    std::vector<double> radii{60.0, 120.0, 180.0};
    std::vector<double> amplitudes{};  // empty: 100 for every ring
    double sigma = 2.0;
    double background = 10.0;
    double diffuse = 0.0;  // central diffuse scattering diffuse * exp(-r / 80)
    double noise = 0.0;    // peak-to-peak uniform noise
    std::uint32_t seed = 1;
    double beamStop = 0.0;  // radius of a zero-valued disc at the centre
    // The disc's centre relative to the pattern's.
    double stopDx = 0.0, stopDy = 0.0;
    // A detector mask: zero beyond this distance (0: none) from the pattern's
    // centre moved by (maskDx, maskDy).
    double mask = 0.0, maskDx = 0.0, maskDy = 0.0;
    double diffuseLength = 80.0;  // the decay length of the diffuse scattering
    // Counting noise instead of the uniform one: a normal deviate of the
    // value's square root, the counts rounded.
    bool counting = false;
    // Ring i's amplitude varies around the pattern: times 1 + swings[i] *
    // cos(phi - swingAngle), phi the angle from +x toward decreasing y
    // (empty: no ring varies).
    std::vector<double> swings{};
    double swingAngle = 0.0;
};

inline double EllipticalRadius(const RingSpec& s, double dx, double dy) {
    const double t = -s.angle;
    const double u = (std::cos(t) * dx + std::sin(t) * dy) / s.ratio;
    const double w = -std::sin(t) * dx + std::cos(t) * dy;
    return std::sqrt(u * u + w * w) * (s.ratio + 1.0) / 2.0;
}

inline arma::Mat<float> MakeRingPattern(const RingSpec& s) {
    arma::Mat<float> m(s.width, s.height);
    std::uint32_t state = s.seed * 2654435761u + 12345u;
    for (unsigned y = 0; y < s.height; ++y) {
        for (unsigned x = 0; x < s.width; ++x) {
            const double dx = x - s.cx, dy = y - s.cy;
            const double r = EllipticalRadius(s, dx, dy);
            double v = s.background + s.diffuse * std::exp(-r / s.diffuseLength);
            for (std::size_t i = 0; i < s.radii.size(); ++i) {
                double a = i < s.amplitudes.size() ? s.amplitudes[i] : 100.0;
                if (i < s.swings.size()) a *= 1.0 + s.swings[i] * std::cos(std::atan2(-dy, dx) - s.swingAngle);
                const double d = r - s.radii[i];
                v += a * std::exp(-d * d / (2.0 * s.sigma * s.sigma));
            }
            state = state * 1664525u + 1013904223u;
            if (s.counting) {
                const double u1 = ((state >> 8) + 0.5) / 16777216.0;
                state = state * 1664525u + 1013904223u;
                const double u2 = (state >> 8) / 16777216.0;
                const double normal = std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * M_PI * u2);
                v = std::max(1.0, std::round(v + std::sqrt(v) * normal));
            } else {
                v += s.noise * ((state >> 8) / 16777216.0 - 0.5);
            }
            const double sx = dx - s.stopDx, sy = dy - s.stopDy;
            if (std::sqrt(sx * sx + sy * sy) < s.beamStop) v = 0.0;
            if (s.mask > 0.0 && std::hypot(dx - s.maskDx, dy - s.maskDy) > s.mask) v = 0.0;
            m(x, y) = static_cast<float>(v);
        }
    }
    return m;
}

// A pattern object over a synthetic image, with the given start centre and
// a circle as its ellipse.
inline void LoadSynthetic(DiffractionPattern& p, const RingSpec& s, float cx, float cy) {
    p.image = MakeRingPattern(s);
    p.centerX = cx;
    p.centerY = cy;
    p.axisRatio = 1.0f;
    p.angle = 0.0f;
}

// Difference of two ellipse angles, which repeat every pi.
inline double AngleGap(double a, double b) {
    double d = std::fmod(a - b, M_PI);
    if (d > M_PI / 2) d -= M_PI;
    if (d < -M_PI / 2) d += M_PI;
    return std::fabs(d);
}
