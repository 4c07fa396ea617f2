#include "profile/rdf_kirkland.h"

#include <cmath>
#include <stdexcept>
#include <vector>

#include "numerics/least_squares_fit.h"
#include "profile/profile_samples.h"

namespace {

// Rows of an element column.
enum : arma::uword { kA1 = 0, kB1 = 3, kC1 = 6, kD1 = 9, kConcentration = 13 };

void CheckElementTable(const arma::Mat<float>& elements) {
    if (elements.n_cols > 0 && elements.n_rows != kKirklandTableRows)
        throw std::invalid_argument("element table needs 14 values per element");
}

}  // namespace

void KirklandScatteringSquared(const RDFProfile& p, float q0, int n, arma::Col<float>& out) {
    CheckElementTable(p.elements);
    out.zeros(n > 0 ? static_cast<arma::uword>(n) : 0);
    const arma::Mat<float>& e = p.elements;
    for (int i = 0; i < n; ++i) {
        const float q = q0 + p.q_step * static_cast<float>(i);
        const float s = static_cast<float>(static_cast<double>(q) / 10.0);
        const float s2 = s * s;
        float sum = 0.0f;
        for (arma::uword c = 0; c < e.n_cols; ++c) {
            const float* col = e.colptr(c);
            float f = col[kA1] / (s2 + col[kB1]);
            f = f + col[kA1 + 1] / (s2 + col[kB1 + 1]);
            f = f + col[kA1 + 2] / (s2 + col[kB1 + 2]);
            f = f + col[kC1] * std::exp(-col[kD1] * s2);
            f = f + col[kC1 + 1] * std::exp(-col[kD1 + 1] * s2);
            f = f + col[kC1 + 2] * std::exp(-col[kD1 + 2] * s2);
            const float weighted = f * f * col[kConcentration];
            sum = static_cast<float>(static_cast<double>(sum) + static_cast<double>(weighted) / 100.0);
        }
        out[static_cast<arma::uword>(i)] = sum;
    }
}

void Kirkland_function_scale(int n_par, const double* par, int m_dat, const double* t, double* out) {
    if (n_par != 2) throw "error in Kirkland_function_scale m!=2";
    const double scale = std::fabs(par[0]);
    const double offset = std::fabs(par[1]);
    for (int i = 0; i < m_dat; ++i) out[i] = scale * t[i] + offset;
}

bool KirklandFitCore(RDFProfile& p, int lo, int hi) {
    if (lo < 0 || hi < lo || static_cast<arma::uword>(hi) >= p.profile.n_elem)
        throw std::out_of_range("fit range outside the profile");
    int m = hi - lo + 1;
    arma::Col<float> f2;
    KirklandScatteringSquared(p, static_cast<float>(lo) * p.q_step, m, f2);
    arma::Col<double> t = arma::conv_to<arma::Col<double>>::from(f2);
    arma::Col<double> y = arma::conv_to<arma::Col<double>>::from(
        p.profile.subvec(static_cast<arma::uword>(lo), static_cast<arma::uword>(hi)));
    // Missing samples (0, as inside a beam stop) carry no intensity to fit.
    const arma::uvec measured = arma::find(y != 0.0);
    if (measured.n_elem < y.n_elem) {
        t = arma::Col<double>(t.elem(measured));
        y = arma::Col<double>(y.elem(measured));
        m = static_cast<int>(y.n_elem);
        if (m == 0) return false;
    }

    double par[2] = {p.scale, p.offset};
    LeastSquaresFit fit(m, t.memptr(), y.memptr(), Kirkland_function_scale);
    if (fit.Fit(2, par) == -1) return false;
    p.scale = static_cast<float>(std::fabs(par[0]));
    p.offset = static_cast<float>(std::fabs(par[1]));
    return true;
}

arma::Mat<float> KirklandReducedIntensity(const RDFProfile& p) {
    const arma::uword m = p.profile.n_elem;
    arma::Col<float> f2;
    KirklandScatteringSquared(p, 0.0f, static_cast<int>(m), f2);
    arma::Mat<float> out(m, 4, arma::fill::zeros);
    for (arma::uword i = 0; i < m; ++i) {
        const float intensity = p.profile[i];
        const float background = f2[i] * p.scale + p.offset;
        // A missing sample stays missing: 0 is its mark, and the sine
        // transform's sum takes nothing from it. Read as an intensity of 0
        // it would be -s, a false ripple in G.
        const float phi = profile_samples::IsMissing(intensity)
                              ? 0.0f
                              : ((static_cast<float>(i) * (intensity - background)) / background) * p.q_step / 10.0f;
        out(i, 0) = intensity;
        out(i, 1) = background;
        out(i, 2) = phi;
    }
    return out;
}
