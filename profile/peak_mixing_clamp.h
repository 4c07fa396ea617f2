#pragma once
// The check and re-fit for a peak fit whose mixing ended at a clamp.
//
// The model clamps each peak's Lorentz fraction to [0, 1], so once a fit
// steps past either end the model no longer changes with it: the fit sees
// no slope back and settles there, with the width and area that best
// suit that pure Gaussian or Lorentzian instead of the peak's own.

#include "numerics/least_squares_fit.h"

#include <armadillo>
#include <functional>

// Whether peak c of the 4 x k block M ends at a clamp (its mixing at or
// beyond 0 or 1) while the squared residuals of the model over the m
// points (t, y) would be least with the mixing more than a thousandth
// back inside: a stop of the fit, not its best. Never fails.
bool MixingStuckAtClamp(const arma::Mat<double>& M, arma::uword c, const double* t, const double* y, int m);

// After `fit` has converged on M: while a peak's mixing is stuck at a
// clamp, starts that mixing inside again (the other values as fitted)
// and fits once more, up to three times, keeping a new fit only when it
// converges to finite values that `sound` accepts (the caller's own rules
// for a fit it keeps) with a smaller sum of squared residuals. A fit with
// no peak stuck is left as it is, bit for bit. Never fails.
void RefitStuckMixing(LeastSquaresFit& fit, arma::Mat<double>& M, const double* t, const double* y, int m,
                      const std::function<bool(const arma::Mat<double>&)>& sound);
