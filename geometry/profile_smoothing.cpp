#include "geometry/profile_smoothing.h"

#include <algorithm>
#include <cstdlib>

arma::vec TriangleKernel(int s) {
    arma::vec kernel(2 * static_cast<arma::uword>(s) + 1);
    for (int j = 0; j <= 2 * s; ++j) kernel[j] = s + 1 - std::abs(j - s);
    kernel /= static_cast<double>(s + 1) * static_cast<double>(s + 1);
    return kernel;
}

arma::vec SmoothProfile(const arma::vec& p, const arma::vec& kernel, int s) {
    const arma::vec full = arma::conv(p, kernel);
    return full.subvec(static_cast<arma::uword>(s), static_cast<arma::uword>(s) + p.n_elem - 1);
}

arma::vec SmoothProfileInside(const arma::vec& p, const arma::vec& kernel, int s) {
    arma::vec out = SmoothProfile(p, kernel, s);
    const int n = static_cast<int>(p.n_elem);
    for (int i = 0; i < n; ++i) {
        if (i >= s && i + s <= n - 1) continue;
        double sum = 0.0, weight = 0.0;
        for (int j = std::max(0, i - s); j <= std::min(n - 1, i + s); ++j) {
            sum += kernel[j - i + s] * p[j];
            weight += kernel[j - i + s];
        }
        out[i] = sum / weight;
    }
    return out;
}
