#include "profile/peak_profile_end.h"

#include <cmath>

namespace {

// Distance from x0 to where `subtracted` first falls to half its value at
// x0's sample, walking by `step`, or rises again (a neighbour's flank); 0
// when that value is not above 0.
double FlankHalfWidth(const arma::Col<float>& subtracted, double x0, int step) {
    const long long m = static_cast<long long>(subtracted.n_elem);
    const long long at = static_cast<long long>(std::lround(x0));
    if (at < 0 || at >= m) return 0.0;
    const float half = 0.5f * subtracted[static_cast<arma::uword>(at)];
    if (!(half > 0.0f)) return 0.0;
    long long j = at;
    float previous = subtracted[static_cast<arma::uword>(at)];
    for (; j >= 0 && j < m; j += step) {
        const float v = subtracted[static_cast<arma::uword>(j)];
        if (!(v > half) || v > previous) break;
        previous = v;
    }
    return std::fabs(static_cast<double>(j) - x0);
}

}  // namespace

std::vector<double> PeaksCutByProfileEnd(const PeakProfileFit& fit) {
    std::vector<double> cut;
    const double last = static_cast<double>(fit.profile.n_elem) - 1.0;
    if (fit.peak_table.n_rows != 4 || fit.profile.n_elem == 0) return cut;
    for (arma::uword c = 0; c < fit.peak_table.n_cols; ++c) {
        const double x0 = fit.peak_table(0, c);
        const bool near_last = last - x0 < x0;
        const double room = near_last ? last - x0 : x0;
        const double flank = FlankHalfWidth(fit.subtracted, x0, near_last ? -1 : 1);
        if (room < kPeakReachHalfWidths * flank) cut.push_back(x0);
    }
    return cut;
}
