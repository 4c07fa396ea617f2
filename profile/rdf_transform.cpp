#include "profile/rdf_transform.h"

#include <cmath>

void RDFTransformRange(int n, int& lo, int& hi) {
    // In 64 bits: a range end of INT_MIN (a script number that is not a
    // number) must not wrap around into a valid-looking range.
    if (lo < 0 || hi > n || static_cast<long long>(hi) - lo < 11) {
        lo = 0;
        hi = n;
    }
}

arma::Col<float> RDFSineTransform(const RDFProfile& p, int lo, int hi, int r_max, int n_r) {
    if (n_r <= 0) return arma::Col<float>();
    const arma::Col<float>& F = p.profile;
    const int n = static_cast<int>(F.n_elem);
    const float dr = static_cast<float>(static_cast<double>(r_max) / static_cast<double>(n_r));
    RDFTransformRange(n, lo, hi);
    const double q = p.q_step;

    arma::Col<float> G(static_cast<arma::uword>(n_r));
    for (int j = 0; j < n_r; ++j) {
        const double r = static_cast<float>(j) * dr;
        // Starting at -F[lo] makes the loop's first weight 2 - 1 = 1, so the
        // weights run 1, 4, 2, 4, ... as in Simpson's rule.
        float g = 0.0f;
        if (lo < hi) g = static_cast<float>(-static_cast<double>(F[lo]) * std::sin(r * lo * q));
        for (int k = lo; k < hi - 1; k += 2) {
            g = static_cast<float>(g + 2.0 * std::sin(r * k * q) * F[k] + 4.0 * std::sin(r * (k + 1) * q) * F[k + 1]);
        }
        const float gq = g * p.q_step;
        G[j] = static_cast<float>(static_cast<double>(gq) * 4.0 / 3.0);
    }
    return G;
}
