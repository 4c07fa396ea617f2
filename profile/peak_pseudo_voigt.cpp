#include "profile/peak_pseudo_voigt.h"

#include <algorithm>
#include <cmath>

void PseudoVoigtSum(int n_par, const double* par, int m_dat, const double* t, double* out) {
    const double pi = 3.14159265358979;
    const double ln2 = std::log(2.0);
    for (int i = 0; i < m_dat; ++i) out[i] = 0.0;
    for (int j = 0; j < n_par / 4; ++j) {
        const double x0 = par[4 * j];
        const double area = std::fabs(par[4 * j + 1]);
        const double w = std::fabs(par[4 * j + 2]);
        const double eta = std::max(std::min(par[4 * j + 3], 1.0), 0.0);
        const double w2 = w * w;
        const double gauss = (1.0 - eta) * std::sqrt(ln2 / pi / w2);
        const double c = -ln2 / w2;
        const double lor = eta / pi / w;
        for (int i = 0; i < m_dat; ++i) {
            const double d = t[i] - x0;
            const double d2 = d * d;
            out[i] += area * (gauss * std::exp(c * d2) + lor / (1.0 + d2 / w2));
        }
    }
}
