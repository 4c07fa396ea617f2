#include "numerics/least_squares_fit.h"

#include "lmfit/lmmin.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <utility>
#include <vector>

namespace {

// Residuals handed to lmmin by Fit and FitBounded carry single precision.
// lmmin's difference step is sqrt(epsilon) * |p|: with the double default it
// changes float residuals of a few hundred by less than their spacing, and
// whole Jacobian columns come out zero. epsilon must state the precision the
// residuals really have.
constexpr double kFloatResidualEpsilon = FLT_EPSILON;

void SubtractRoundedToFloat(int m_dat, const double* y, double* fvec) {
    for (int i = 0; i < m_dat; ++i) fvec[i] = static_cast<double>(static_cast<float>(y[i] - fvec[i]));
}

// n_par + 1 as a divisor; a negative parameter count (refused by lmmin)
// must not divide by zero here.
int ParameterDivisor(int n_par) { return n_par + 1 > 0 ? n_par + 1 : 1; }

}  // namespace

LeastSquaresFit::LeastSquaresFit()
    : method_("lmfit"),
      tolerance_(0.0001f),
      max_iter_(500),
      verbose_(1),
      m_dat_(0),
      t_(nullptr),
      y_(nullptr),
      n_par_(0),
      scalar_model_(nullptr),
      lower_(nullptr),
      upper_(nullptr),
      model_(nullptr) {}

LeastSquaresFit::LeastSquaresFit(int m_dat, const double* t, const double* y, VectorModel model) : LeastSquaresFit() {
    m_dat_ = m_dat;
    t_ = t;
    y_ = y;
    model_ = model;
}

LeastSquaresFit::LeastSquaresFit(int m_dat, const double* t, const double* y, ScalarModel scalar_model)
    : LeastSquaresFit() {
    m_dat_ = m_dat;
    t_ = t;
    y_ = y;
    scalar_model_ = scalar_model;
}

void LeastSquaresFit::SetMethod(std::string method) { method_ = std::move(method); }
void LeastSquaresFit::SetTolerance(double tolerance) { tolerance_ = static_cast<float>(tolerance); }
void LeastSquaresFit::SetMaxIter(int max_iter) { max_iter_ = max_iter; }
void LeastSquaresFit::SetVerbose(int verbose) { verbose_ = verbose; }

int LeastSquaresFit::Fit(int n_par, double* par) {
    n_par_ = n_par;
    last_outcome_ = -1;
    if (method_ != "lmfit" || model_ == nullptr) return -1;

    lm_control_struct control = lm_control_double;
    control.patience = std::min(500, std::max(5, max_iter_ / ParameterDivisor(n_par)));
    control.ftol = tolerance_;
    control.epsilon = kFloatResidualEpsilon;
    control.verbosity = 9;
    if (verbose_)
        std::cout << "Fitting using " << n_par
                  << " parameters (max_iter=" << static_cast<long long>(control.patience) * (n_par + 1LL) << ")..."
                  << std::endl;

    lm_status_struct status{};
    lmmin(n_par, par, m_dat_, this, ResidualsVector, &control, &status);
    last_outcome_ = status.outcome;

    if (verbose_)
        std::cout << "Status after " << status.nfev << " function evaluations:" << lm_infmsg[status.outcome]
                  << std::endl;
    return status.outcome < 4 ? 0 : -1;
}

int LeastSquaresFit::FitScalar(int n_par, double* par) {
    n_par_ = n_par;
    if (method_ != "lmfit" || scalar_model_ == nullptr) return -1;

    lm_control_struct control = lm_control_double;
    control.patience = max_iter_ / ParameterDivisor(n_par);
    control.ftol = tolerance_;
    control.verbosity = 9;
    if (verbose_) std::printf("Fitting ... ");

    lm_status_struct status{};
    lmmin(n_par, par, m_dat_, this, ResidualsScalar, &control, &status);

    if (verbose_) std::printf("Status after %d function evaluations:\n  %s\n", status.nfev, lm_infmsg[status.outcome]);
    return status.outcome < 4 ? 0 : -1;
}

int LeastSquaresFit::FitBounded(int n_par, double* par, const double* lower, const double* upper) {
    n_par_ = n_par;
    lower_ = lower;
    upper_ = upper;
    if (method_ != "lmfit" || model_ == nullptr || lower == nullptr || upper == nullptr) return -1;

    lm_control_struct control = lm_control_double;
    control.ftol = tolerance_;
    control.epsilon = kFloatResidualEpsilon;
    control.verbosity = 9;
    if (verbose_) std::cout << "Fitting ... " << std::endl;

    lm_status_struct status{};
    lmmin(n_par, par, m_dat_, this, ResidualsBounded, &control, &status);
    for (int j = 0; j < n_par; ++j) par[j] = std::min(upper[j], std::max(lower[j], par[j]));

    if (verbose_)
        std::cout << "Status after " << status.nfev << " function evaluations:" << lm_infmsg[status.outcome]
                  << std::endl;
    return status.outcome < 4 ? 0 : -1;
}

void LeastSquaresFit::ResidualsVector(const double* par, int m_dat, const void* data, double* fvec, int*) {
    const auto& fit = *static_cast<const LeastSquaresFit*>(data);
    fit.model_(fit.n_par_, par, m_dat, fit.t_, fvec);
    SubtractRoundedToFloat(m_dat, fit.y_, fvec);
}

void LeastSquaresFit::ResidualsScalar(const double* par, int m_dat, const void* data, double* fvec, int*) {
    const auto& fit = *static_cast<const LeastSquaresFit*>(data);
    for (int i = 0; i < m_dat; ++i) fvec[i] = fit.y_[i] - fit.scalar_model_(fit.n_par_, par, fit.t_[i]);
}

void LeastSquaresFit::ResidualsBounded(const double* par, int m_dat, const void* data, double* fvec, int*) {
    const auto& fit = *static_cast<const LeastSquaresFit*>(data);
    std::vector<double> q(fit.n_par_);
    for (int j = 0; j < fit.n_par_; ++j)
        q[j] = fit.lower_[j] + (fit.upper_[j] - fit.lower_[j]) * 0.5 * (std::sin(par[j]) + 1);
    fit.model_(fit.n_par_, q.data(), m_dat, fit.t_, fvec);
    SubtractRoundedToFloat(m_dat, fit.y_, fvec);
}
