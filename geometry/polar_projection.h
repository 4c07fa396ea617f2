#pragma once
// Polar views of a pattern: the sampled unwrapping shown to scripts and the
// radius x angle accumulation behind the ring fit.

#include "geometry/diffraction_pattern.h"

#include <armadillo>
#include <cstdint>

// Samples the pattern on a polar grid: the result has N rows (angle samples
// k, angle 2 pi k / N from +x toward +y) and r_max - r_min columns (radius
// r_min + c). N is n_a, except n_a = 1 gives trunc((r_max - r_min) * 1.62) and
// n_a = 0 gives trunc(2 r_max pi). Each sample copies the pixel at the
// truncated polar point, or 0 outside the image. Worker threads share the
// columns.
// Throws std::invalid_argument when r_max <= r_min; allocation failure for
// grids too large to hold.
arma::Mat<float> AzimuthalProjectionCore(const PatternView& pattern, std::uint32_t r_min, std::uint32_t r_max,
                                         std::uint32_t n_a);

// Accumulates matrix (only read) around (cx, cy) into radius x angle tables.
// sums is resized to n x n_angles and weights to (n + 1) x n_angles (its last
// row is never written), n = r_max - r_min; row j is radius r_min + j, column
// a the angles [a, a + 1) * 2 pi / n_angles. A non-zero pixel at distance
// rho = d - r_min with 0 < rho < n - 1 is shared linearly between rows
// floor(rho) and floor(rho) + 1 of its angle bin (an angle that rounds up to
// 2 pi counts in the last bin). Nothing is divided. Summed in the row-major
// pixel order (matrix row x outer, y inner), whatever the number of worker
// threads sharing the rows.
// Throws std::invalid_argument when r_max <= r_min or n_angles < 1.
void PolarRebin(const PixelView& matrix, arma::Mat<float>& sums, arma::Mat<float>& weights, std::int32_t r_min,
                std::int32_t r_max, float cx, float cy, std::int32_t n_angles);
