#include "numerics/spline.h"

#include <climits>
#include <cmath>
#include <stdexcept>
#include <vector>

namespace {

void CheckKnots(int n, const arma::Col<float>& x) {
    if (n < 1) throw std::invalid_argument("spline: at least one knot is needed");
    if (x.n_elem < static_cast<arma::uword>(n)) throw std::invalid_argument("spline: fewer knot positions than knots");
}

// Truncation toward zero that stays defined for any float: out-of-range values
// saturate, NaN gives the fallback.
long long Trunc(float v, long long fallback) {
    if (std::isnan(v)) return fallback;
    if (v >= 9.0e18f) return LLONG_MAX / 2;
    if (v <= -9.0e18f) return LLONG_MIN / 2;
    return static_cast<long long>(v);
}

// End slope from the two intervals next to the end: the three-point formula,
// set to 0 against the end interval's direction and limited to three times
// its secant when the data turn at the next knot.
float EndSlope(float h_near, float h_far, float delta_near, float delta_far) {
    float hs = h_near + h_far;
    float d = ((h_near + hs) / hs) * delta_near + (-h_near / hs) * delta_far;
    if (d * delta_near <= 0) {
        d = 0;
    } else if (delta_near * delta_far < 0 && std::fabs(static_cast<double>(d)) > std::fabs(3.0 * delta_near)) {
        d = static_cast<float>(3.0 * delta_near);
    }
    return d;
}

}  // namespace

void SplineCoefficients(int n, const arma::Col<float>& x, const arma::Col<float>& y, arma::Mat<float>& coef) {
    CheckKnots(n, x);
    if (y.n_elem < static_cast<arma::uword>(n)) throw std::invalid_argument("spline: fewer knot values than knots");
    if (coef.n_rows != static_cast<arma::uword>(n) || coef.n_cols != 4)
        throw std::invalid_argument("spline: coefficient matrix must be n x 4");

    for (int k = 0; k < n; ++k) coef(k, 0) = y[k];
    if (n == 1) {
        coef(0, 1) = coef(0, 2) = coef(0, 3) = 0;
        return;
    }
    if (n == 2) {
        float s = (y[1] - y[0]) / (x[1] - x[0]);
        for (int k = 0; k < 2; ++k) {
            coef(k, 1) = s;
            coef(k, 2) = 0;
            coef(k, 3) = 0;
        }
        return;
    }

    std::vector<float> h(n - 1), delta(n - 1), d(n);
    for (int k = 0; k < n - 1; ++k) {
        h[k] = x[k + 1] - x[k];
        delta[k] = (y[k + 1] - y[k]) / h[k];
    }
    d[0] = EndSlope(h[0], h[1], delta[0], delta[1]);
    for (int k = 1; k <= n - 2; ++k) {
        float hs = h[k - 1] + h[k];
        if (delta[k - 1] * delta[k] <= 0) {
            d[k] = 0;
            continue;
        }
        float three_hs = hs + hs + hs;
        float w1 = (hs + h[k - 1]) / three_hs;
        float w2 = (hs + h[k]) / three_hs;
        float a0 = std::fabs(delta[k - 1]), a1 = std::fabs(delta[k]);
        float d_max = a0 > a1 ? a0 : a1;
        float d_min = a0 > a1 ? a1 : a0;
        d[k] = d_min / (w1 * (delta[k - 1] / d_max) + w2 * (delta[k] / d_max));
    }
    d[n - 1] = EndSlope(h[n - 2], h[n - 3], delta[n - 2], delta[n - 3]);

    for (int k = 0; k < n - 1; ++k) {
        float e = static_cast<float>(static_cast<double>(d[k] + d[k + 1]) - 2.0 * delta[k]);
        coef(k, 1) = d[k];
        coef(k, 2) = static_cast<float>(2.0 * (static_cast<double>(delta[k]) - d[k] - e) / static_cast<double>(h[k]));
        coef(k, 3) = static_cast<float>(static_cast<double>(e / h[k]) * (6.0 / h[k]));
    }
    coef(n - 1, 1) = d[n - 1];
    coef(n - 1, 2) = coef(n - 2, 2) + h[n - 2] * coef(n - 2, 3);
    coef(n - 1, 3) = coef(n - 2, 3);
}

void SplineEvaluate(int m, arma::Col<float>& out, int n, const arma::Col<float>& x, const arma::Mat<float>& coef) {
    CheckKnots(n, x);
    if (coef.n_rows < static_cast<arma::uword>(n) || coef.n_cols < 4)
        throw std::invalid_argument("spline: coefficient matrix smaller than n x 4");
    if (m < 0 || out.n_elem < static_cast<arma::uword>(m))
        throw std::invalid_argument("spline: output shorter than its stated length");

    // Drawing starts one position left of the first knot, but never before out[0].
    long long start = Trunc(x[0] - 1, 0);
    if (start < 0) start = 0;
    long long end = Trunc(x[n - 1], -1) + 1;
    if (end > m) end = m;
    for (long long i = start; i < end; ++i) {
        float fi = static_cast<float>(i);
        int j = n - 1;
        while (j > 0 && !(fi - x[j] >= 0)) --j;
        float s = fi - x[j];
        double sd = s;
        double value =
            coef(j, 0) + sd * (static_cast<double>(coef(j, 1)) + sd * (coef(j, 2) / 2.0 + (s * coef(j, 3)) / 6.0));
        out[i] = static_cast<float>(value);
    }
}
