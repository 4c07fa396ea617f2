#include "profile/rdf_free_fit.h"

#include <cmath>
#include <stdexcept>

#include "profile/profile_samples.h"
#include "profile/rdf_kirkland.h"

bool KirklandFreeFit(const RDFProfile& p, int lo, int hi, KirklandFreeFitResult& out) {
    if (lo < 0 || hi < lo || static_cast<arma::uword>(hi) >= p.profile.n_elem)
        throw std::out_of_range("fit range outside the profile");
    arma::Col<float> f2;
    KirklandScatteringSquared(p, static_cast<float>(lo) * p.q_step, hi - lo + 1, f2);
    // Centred sums: raw normal equations lose the slope where <f^2> varies
    // little across the range.
    double n = 0, t_mean = 0, y_mean = 0, y_size = 0;
    for (int i = lo; i <= hi; ++i) {
        const float y = p.profile[static_cast<arma::uword>(i)];
        if (profile_samples::IsMissing(y)) continue;
        n += 1;
        t_mean += f2[static_cast<arma::uword>(i - lo)];
        y_mean += y;
        y_size += std::fabs(y);
    }
    if (n < 2) return false;
    t_mean /= n;
    y_mean /= n;
    y_size /= n;
    double stt = 0, sty = 0;
    for (int i = lo; i <= hi; ++i) {
        const float y = p.profile[static_cast<arma::uword>(i)];
        if (profile_samples::IsMissing(y)) continue;
        const double dt = f2[static_cast<arma::uword>(i - lo)] - t_mean;
        stt += dt * dt;
        sty += dt * (y - y_mean);
    }
    if (!(stt > 0) || !std::isfinite(stt) || !std::isfinite(sty)) return false;
    const double scale = sty / stt, offset = y_mean - scale * t_mean;
    // Data in float: a value this close to 0 is 0 within its rounding.
    const double rounding = 1e-6 * y_size;
    out.scale = scale;
    out.offset = offset;
    out.scale_below_zero = scale * t_mean < -rounding;
    out.offset_below_zero = offset < -rounding;
    return true;
}
