#pragma once
// The diffraction pattern under analysis and the operations every geometry
// routine shares: size accessors, the usable ring radius around the centre and
// the first estimate of the centre.

#include "geometry/pixel_view.h"

#include <armadillo>
#include <cstdint>

// A pattern lives for one script call: the handler fills `image` from the host
// image and sets the centre (and, where an operation reads them, `angle` and
// `axisRatio`); the geometry operations read it and update those four fields.
//
// `image` element (x, y) is the pixel at x, y: rows = image width W, columns =
// image height H, column-major like the host's pixel block. Pixel (x, y) sits at
// the integer point (x, y). A pixel value of exactly 0 marks a missing pixel.
class DiffractionPattern {
public:
    arma::Mat<float> image;
    float centerX = 0.0f;    // pixels
    float centerY = 0.0f;    // pixels
    float angle = 0.0f;      // orientation of the elliptical distortion, radians
    float axisRatio = 1.0f;  // 1.0 is a circle

    DiffractionPattern() = default;
    DiffractionPattern(const DiffractionPattern&) = delete;
    DiffractionPattern& operator=(const DiffractionPattern&) = delete;
};

// What the integrations and the projection read of a pattern: its pixels,
// read only, and its centre and ellipse. A handler that only reads its image
// views the script's pixels through one; any pattern is read through one.
struct PatternView {
    PixelView image;
    float centerX, centerY, angle, axisRatio;

    PatternView(const DiffractionPattern& p)  // implicit
        : image(p.image), centerX(p.centerX), centerY(p.centerY), angle(p.angle), axisRatio(p.axisRatio) {}
    // A circle (angle 0, axis ratio 1) around the centre.
    PatternView(PixelView pixels, float center_x, float center_y)
        : image(pixels), centerX(center_x), centerY(center_y), angle(0.0f), axisRatio(1.0f) {}
};

// Row count of `image` (the image width W). Never fails.
std::uint32_t PatternWidth(const PatternView& pattern);
// Column count of `image` (the image height H). Never fails.
std::uint32_t PatternHeight(const PatternView& pattern);

// True unless 0.33 W < centerX < 0.66 W and 0.33 H < centerY < 0.66 H; a centre
// that is not a number is off the middle. Never fails.
bool CenterIsOffMiddle(const PatternView& pattern);

// Largest usable ring radius around the current centre.
//  mode 1: centre in the middle third: the largest circle inside the image,
//          less one pixel; otherwise the smaller of the two far-side extents
//          less one, at least 1.
//  mode 2: the far-side rule of mode 1 whatever the centre, without the floor.
//  other:  distance to the farthest image corner (the corners at W and H) less
//          nine pixels, whole part. 0 or negative for images of 14 x 14 pixels
//          or less; callers that need a bin count check for that.
// Never throws; for a centre that is not a number the value has no meaning.
std::int32_t MaxRadius(const PatternView& pattern, std::uint32_t mode);

// Intensity-weighted centre of the pixels of `matrix` above `threshold`, in the
// matrix's own coordinates, written to cx and cy. A pixel of exactly 0 is
// missing and borrows its partner mirrored through the reference centre (cx,
// cy as held on entry, in the matrix's coordinates): the pixel nearest to
// (2 cx - x, 2 cy - y), when that lies inside the matrix and is above the
// threshold; otherwise it adds nothing. Returns true when a missing pixel was
// met, that is when the result depends on the reference. When nothing counts
// both results are not-a-number. Never throws.
bool CenterOfMassAboveThreshold(const arma::Mat<float>& matrix, float threshold, float& cx, float& cy);

// Replaces centerX and centerY by a first estimate of the pattern centre: the
// centre of mass above the image mean, then (refine != 0, when the window fits
// strictly inside the image) again over a square window of half-width
// MaxRadius(mode 1) around that first result. The centre held on entry is the
// first reference of the missing pixels; where there are any, each pass is
// repeated with its own result as the reference until that moves by 0.01
// pixel or less (at most eight sums), so any start in or near the image leads
// to the same centre. Without missing pixels the start does not matter.
// Never throws apart from allocation failure; the centre becomes not-a-number
// when no pixel lies above the mean (callers decide what to do with that).
void GuessCenterCore(DiffractionPattern& pattern, std::uint32_t refine);

// Radius of an ellipse at n angles: for k < n,
//   radii[k] = 2 R s / (s + 1) / sqrt(1 - (1 - s^2) cos^2(phi_k - theta)),
// R, q, theta = parameters(0..2), s = 1 / q,
// phi_k = (positions[k] + 0.5) * 2 pi / positions[n].
// `parameters` needs at least 3 elements; `radii` n elements and `positions`
// n + 1 elements, both owned by the caller. Throws std::invalid_argument when
// `parameters` is too short.
void EllipseRadius(const arma::Col<float>& parameters, float* radii, std::uint32_t n, const float* positions);
