#include "profile/peak_start_values.h"

#include "profile/peak_index.h"

#include <algorithm>

using peak_detail::TruncToInt;

PeakStartValues EstimatePeakStart(const arma::Col<float>& subtracted, float lo, float hi, double position) {
    const long long m = static_cast<long long>(subtracted.n_elem);
    const long long a = std::max<long long>(TruncToInt(lo), 0);
    const long long b = std::min<long long>(TruncToInt(hi), m - 1);
    const long long pos = TruncToInt(position);
    const float h = (pos >= 0 && pos < m) ? subtracted[static_cast<arma::uword>(pos)] : 0.0f;
    const float half = static_cast<float>(0.5 * h);
    float area = 0.0f;
    int count = 0;
    for (long long i = a; i <= b; ++i) {
        const float v = subtracted[static_cast<arma::uword>(i)];
        area += v;
        count += v > half;
    }
    // Samples above half height span about two half widths.
    const int width = static_cast<int>(count / 2.0);
    return {area > 0.0f ? area : 0.0f, std::max(width, 1)};
}
