#include "geometry/ellipse_hold.h"

#include <armadillo>
#include <cmath>
#include <limits>

double CentreUncertainty(std::size_t n, const double* x, const double* y, const double* fitted) {
    const double inf = std::numeric_limits<double>::infinity();
    if (n < 8) return inf;
    const double c = std::cos(fitted[4]), s = std::sin(fitted[4]);
    arma::mat design(n, 5);
    double squares = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double dx = x[i] - fitted[0], dy = y[i] - fitted[1];
        const double d = std::hypot(dx, dy);
        const double u = (c * dx + s * dy) / (d * fitted[2]), v = (-s * dx + c * dy) / (d * fitted[3]);
        const double off = d - 1.0 / std::sqrt(u * u + v * v);
        squares += off * off;
        const double phi = std::atan2(dy, dx);
        design(i, 0) = 1.0;
        design(i, 1) = std::cos(phi);
        design(i, 2) = std::sin(phi);
        design(i, 3) = std::cos(2.0 * phi);
        design(i, 4) = std::sin(2.0 * phi);
    }
    // A normal matrix near singular (points along too few directions) fixes
    // no centre; it is caught before the inversion, which would warn.
    const arma::mat normal = design.t() * design;
    if (!(arma::rcond(normal) > 1e-12)) return inf;
    const arma::mat inverse = arma::inv(normal);
    const double variance = squares / static_cast<double>(n - 5);
    const double u = variance * (inverse(1, 1) + inverse(2, 2));
    return std::isfinite(u) && u >= 0.0 ? std::sqrt(u) : inf;
}
