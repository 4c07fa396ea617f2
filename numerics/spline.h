// Shape-preserving piecewise cubic Hermite interpolation (Fritsch-Carlson
// slopes, Fritsch-Butland means at interior knots), single precision.
#ifndef ORVAN_NUMERICS_SPLINE_H
#define ORVAN_NUMERICS_SPLINE_H

#include <armadillo>

// Fills coef (n rows x 4 columns: value, slope, second and third derivative
// at the start of each interval) for the n knots (x strictly increasing, y).
// Throws std::invalid_argument when n < 1, x or y hold fewer than n elements
// or coef is not n x 4.
void SplineCoefficients(int n, const arma::Col<float>& x, const arma::Col<float>& y, arma::Mat<float>& coef);

// Draws the curve into out at integer positions from trunc(x[0] - 1) (clamped
// to 0) up to min(trunc(x[n-1]) + 1, m), exclusive; other elements are left
// untouched. Throws std::invalid_argument when n < 1, x holds fewer than n
// elements, coef has fewer than n rows or 4 columns, or out is shorter than m.
void SplineEvaluate(int m, arma::Col<float>& out, int n, const arma::Col<float>& x, const arma::Mat<float>& coef);

#endif
