#pragma once
// Azimuthal integration: a pattern becomes a radial profile.
//
// All four kernels share one binning: every pixel whose radius r satisfies
// r_min - 1 < r < r_max - 1 and whose value is not exactly 0 is shared
// linearly between bins floor(r) and floor(r) + 1. plain == 0 then normalises
// the bin weights for ring coverage (each weight divided by its radius, then
// all by their mean over bins r_min .. r_max - 1); finally every bin with a
// non-zero weight is divided by it. The result has r_max elements, element k
// being radius k (for the elliptical kernels, k pixels of the mean semi-axis).
// Bins nobody reached hold 0. Everything is single precision, summed in the
// row-major pixel order (matrix row x outer, y inner). Large images are shared
// among worker threads, each owning a band of bins; every bin still gets its
// additions in that order, so the result does not depend on the thread count.
//
// Angles are radians in [0, 2 pi), measured as atan2(-dy, dx). A sector keeps
// start < phi < end, or, when start > end, phi > start or phi < end; start ==
// end keeps nothing.
//
// Failure: none of these throws except on allocation failure. An empty image
// or a range that admits no pixel gives zeros (plain != 0) or not-a-numbers
// (plain == 0, the mean weight being 0 or undefined). The elliptical kernels
// expect a positive finite axis ratio; with any other ratio pixels whose radius
// is not a non-negative number are dropped, never written outside the profile.

#include "geometry/diffraction_pattern.h"

#include <armadillo>
#include <cstdint>

// The image is only read (pixel_view.h).
arma::Col<float> AzimuthalIntegralKernel(const PixelView& image, std::uint32_t r_min, std::uint32_t r_max, float cx,
                                         float cy, std::int32_t plain);

// Radius of pixel (dx, dy): with theta = -angle, u = (cos theta / q) dx +
// (sin theta / q) dy, w = -sin theta dx + cos theta dy, r = |(u, w)| (q + 1) / 2.
arma::Col<float> AzimuthalIntegralEllipticityKernel(const PixelView& image, std::uint32_t r_min, std::uint32_t r_max,
                                                    float cx, float cy, float q, float angle, std::int32_t plain);

arma::Col<float> AzimuthalIntegralSektorKernel(const PixelView& image, std::uint32_t r_min, std::uint32_t r_max,
                                               float start, float end, float cx, float cy, std::int32_t plain);

// The sector is tested on atan2(-w, u), the angle in the elliptical frame.
arma::Col<float> AzimuthalIntegralSektorEllipticityKernel(const PixelView& image, std::uint32_t r_min,
                                                          std::uint32_t r_max, float start, float end, float cx,
                                                          float cy, float q, float angle, std::int32_t plain);

// The kernels applied to a pattern's image, centre and (elliptical) ratio and
// angle. The pattern is only read.
arma::Col<float> AzimuthalIntegralCore(const PatternView& pattern, std::uint32_t r_min, std::uint32_t r_max,
                                       std::int32_t plain);
arma::Col<float> AzimuthalIntegralEllipticityCore(const PatternView& pattern, std::uint32_t r_min, std::uint32_t r_max,
                                                  std::int32_t plain);
arma::Col<float> AzimuthalIntegralSektorCore(const PatternView& pattern, std::uint32_t r_min, std::uint32_t r_max,
                                             float start, float end, std::int32_t plain);
arma::Col<float> AzimuthalIntegralSektorEllipticityCore(const PatternView& pattern, std::uint32_t r_min,
                                                        std::uint32_t r_max, float start, float end,
                                                        std::int32_t plain);

// Radius of the strongest ring: the index of the largest element of the plain
// (plain = 1) full-circle profile over the whole profile, lowest index on
// ties, written to position (0 for an empty profile). Never throws apart from
// allocation failure.
void AzimuthalProfileMax(const PatternView& pattern, std::uint32_t r_min, std::uint32_t r_max, std::int32_t& position);
