#include "profile/peak_mixing_clamp.h"

#include "profile/peak_pseudo_voigt.h"

#include <vector>

namespace {

// The model of all peaks of M at the m points t.
std::vector<double> Model(const arma::Mat<double>& M, const double* t, int m) {
    std::vector<double> out(static_cast<size_t>(m));
    PseudoVoigtSum(static_cast<int>(M.n_elem), M.memptr(), m, t, out.data());
    return out;
}

double SumOfSquares(const arma::Mat<double>& M, const double* t, const double* y, int m) {
    const std::vector<double> model = Model(M, t, m);
    double s = 0.0;
    for (int i = 0; i < m; ++i) s += (y[i] - model[static_cast<size_t>(i)]) * (y[i] - model[static_cast<size_t>(i)]);
    return s;
}

}  // namespace

bool MixingStuckAtClamp(const arma::Mat<double>& M, arma::uword c, const double* t, const double* y, int m) {
    const double eta = M(3, c);
    if (!(eta <= 0.0 || eta >= 1.0)) return false;
    // Along the mixing the model changes by d = A (L - G); the squared
    // residuals r are least, to second order, a step of sum(r d) / sum(d d)
    // from here. A step of a thousandth or less is the rounding of the data.
    arma::Col<double> peak = M.col(c);
    peak[3] = 1.0;
    const std::vector<double> lorentz = Model(peak, t, m);
    peak[3] = 0.0;
    const std::vector<double> gauss = Model(peak, t, m);
    const std::vector<double> model = Model(M, t, m);
    double rd = 0.0, dd = 0.0;
    for (int i = 0; i < m; ++i) {
        const size_t k = static_cast<size_t>(i);
        const double d = lorentz[k] - gauss[k];
        rd += (y[i] - model[k]) * d;
        dd += d * d;
    }
    if (!(dd > 0.0)) return false;
    const double step = rd / dd;
    // At 1 the way back is down the mixing, at 0 up.
    return eta >= 1.0 ? step < -1e-3 : step > 1e-3;
}

void RefitStuckMixing(LeastSquaresFit& fit, arma::Mat<double>& M, const double* t, const double* y, int m,
                      const std::function<bool(const arma::Mat<double>&)>& sound) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        arma::Mat<double> trial = M;
        bool stuck = false;
        for (arma::uword c = 0; c < M.n_cols; ++c)
            if (MixingStuckAtClamp(M, c, t, y, m)) {
                trial(3, c) = 0.5;
                stuck = true;
            }
        if (!stuck) return;
        // A restart that the caller would throw away (a peak gone from its
        // window) must not replace a fit it keeps.
        if (fit.Fit(static_cast<int>(trial.n_elem), trial.memptr()) != 0 || !trial.is_finite() || !sound(trial)) return;
        if (!(SumOfSquares(trial, t, y, m) < SumOfSquares(M, t, y, m))) return;
        M = trial;
    }
}
