// Intensity profile of a small fcc gold crystal by the Debye equation, for
// RDF tests whose truth is the crystal's neighbour distances.
#ifndef ORVAN_TESTS_PROFILE_DEBYE_GOLD_H
#define ORVAN_TESTS_PROFILE_DEBYE_GOLD_H

#include <armadillo>
#include <cmath>
#include <vector>

#include "rdf_test_table.h"

namespace debye {

constexpr double kLattice = 4.078;  // gold, Angstrom

// Pair distances of the atoms of an fcc lattice inside a sphere of the
// given radius, counted in bins of `bin` Angstrom (bin k holds distances
// near k * bin). Also gives the number of atoms.
inline std::vector<double> PairHistogram(double radius, double bin, int& atoms) {
    std::vector<arma::vec3> pos;
    const int n = static_cast<int>(radius / kLattice) + 1;
    const double basis[4][3] = {{0, 0, 0}, {0.5, 0.5, 0}, {0.5, 0, 0.5}, {0, 0.5, 0.5}};
    for (int i = -n; i <= n; ++i)
        for (int j = -n; j <= n; ++j)
            for (int k = -n; k <= n; ++k)
                for (const auto& b : basis) {
                    const arma::vec3 r = {(i + b[0]) * kLattice, (j + b[1]) * kLattice, (k + b[2]) * kLattice};
                    if (arma::norm(r) <= radius) pos.push_back(r);
                }
    atoms = static_cast<int>(pos.size());
    std::vector<double> hist(static_cast<size_t>(2 * radius / bin) + 2, 0.0);
    for (size_t a = 0; a < pos.size(); ++a)
        for (size_t b = a + 1; b < pos.size(); ++b)
            hist[static_cast<size_t>(std::lround(arma::norm(pos[a] - pos[b]) / bin))] += 1;
    return hist;
}

// scale * f^2(s) * (1 + 2/N sum over pairs sin(Q r)/(Q r) exp(-Q^2 sigma^2 / 2))
// + offset at q = i * q_step (1/nm), s = q / 10, Q = 2 pi s; sigma 0.15 A of
// thermal spread per pair.
inline arma::Col<float> Profile(int n, float q_step, double scale, double offset) {
    const double bin = 0.002, sigma = 0.15;
    int atoms = 0;
    const std::vector<double> hist = PairHistogram(15.0, bin, atoms);
    const arma::Col<float> gold = rdftest::ElementColumn("Au", 100.0f);
    arma::Col<float> out(static_cast<arma::uword>(n));
    for (int i = 0; i < n; ++i) {
        const double s = i * double(q_step) / 10.0, Q = 2 * M_PI * s;
        double sum = 0;
        for (size_t k = 1; k < hist.size(); ++k) {
            if (hist[k] == 0) continue;
            const double qr = Q * k * bin;
            sum += hist[k] * (qr == 0 ? 1.0 : std::sin(qr) / qr);
        }
        const double f = rdftest::ScatteringFactor(gold, s);
        const double interference = 1 + 2.0 / atoms * sum * std::exp(-Q * Q * sigma * sigma / 2);
        out[static_cast<arma::uword>(i)] = static_cast<float>(scale * f * f * interference + offset);
    }
    return out;
}

}  // namespace debye

#endif
