// A synthetic polycrystalline gold diffraction pattern with known geometry.
#ifndef ORVAN_EXAMPLES_SAMPLE_PATTERN_H
#define ORVAN_EXAMPLES_SAMPLE_PATTERN_H

#include <cstdint>
#include <string>
#include <vector>

#include "kirkland_csv.h"

// The ranges MakeSamplePattern accepts.
constexpr int kMinSide = 64;
constexpr int kMaxSide = 16384;
constexpr double kMinAxisRatio = 0.5;
constexpr double kMaxAxisRatio = 2.0;

struct SampleOptions {
    int width = 1024;
    int height = 1024;
    uint64_t seed = 20240607;
    bool noise = true;
    double axis_ratio = 1.04;  // semi-axis along `angle_deg` over the one across it
    double angle_deg = 30.0;   // measured as atan2(-dy, dx)
};

// One Debye-Scherrer ring (all reflections of one h^2 + k^2 + l^2).
struct SampleRing {
    std::string hkl;  // e.g. "111", or "511/333" when two families coincide
    int n = 0;        // h^2 + k^2 + l^2
    int multiplicity = 0;
    double d = 0;       // lattice spacing, Angstrom
    double radius = 0;  // elliptical radius: mean of the two semi-axes, pixels
    double peak = 0;    // peak height above the background, counts
};

// Geometry and content of a generated pattern. Pixel (x, y) sits at the
// integer point (x, y). A pixel at offset (dx, dy) from the centre has the
// elliptical radius R = sqrt(u^2 + w^2) * (q + 1) / 2 with
// u = (cos a * dx - sin a * dy) / q and w = sin a * dx + cos a * dy, so a ring
// of radius R has the semi-axis 2Rq / (q + 1) along (cos a, -sin a) and
// 2R / (q + 1) across it. All intensity is a function of R.
struct SamplePattern {
    int width = 0, height = 0;
    double center_x = 0, center_y = 0;
    double axis_ratio = 1, angle_rad = 0;
    double lattice = 0;                  // Angstrom
    double pixels_per_inv_angstrom = 0;  // per unit of 1/d along R
    double ring_sigma = 0;               // Gaussian ring width, pixels
    double background_scale = 0;         // background = scale * f^2(1/d) + offset
    double background_offset = 0;
    double stop_radius = 0;     // beam stop disc around the centre, pixels
    double arm_angle_rad = 0;   // direction of the beam stop's arm
    double arm_half_width = 0;  // pixels
    std::vector<SampleRing> rings;
    int rings_left_out = 0;     // rings inside the drawn range left out because they would overlap
    std::vector<float> pixels;  // width * height, pixel (x, y) at x + y * width
};

// Builds the pattern. The rings are drawn out to 38 % of the smaller side
// (and inside the image), as far as each stands at least 2 sigma from its
// neighbours (closer, two equal rings show no dip between them); from the
// first ring that does not, none is drawn, so every ring of the truth can be
// told apart. Below 116 pixels not even the first two rings can, and the
// pattern has none. Beam-stop pixels are exactly 0 and no other pixel is.
// With noise, each pixel is a Poisson sample of its expected count (a sample
// of 0 is raised to 1); the same seed gives the same image on every platform.
// Throws std::invalid_argument for a size below 64 or above 16384, or an axis
// ratio outside [0.5, 2].
SamplePattern MakeSamplePattern(const SampleOptions& options, const KirklandCoefficients& gold);

#endif
