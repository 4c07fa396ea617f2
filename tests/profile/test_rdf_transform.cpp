#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "profile/rdf_transform.h"

namespace {

RDFProfile Reduced(int n, float q_step, double (*phi)(double)) {
    RDFProfile p;
    p.q_step = q_step;
    p.profile.set_size(n);
    for (int k = 0; k < n; ++k) p.profile[k] = static_cast<float>(phi(k * double(q_step)));
    return p;
}

// Reduced intensity Q i(Q) of atoms at the gold neighbour distances, damped.
const double kShells[3] = {2.884, 4.078, 4.995};
const double kAlpha = 0.01;

double ShellPhi(double Q) {
    double v = 0;
    for (double r : kShells) v += std::sin(Q * r) / r;
    return v * std::exp(-kAlpha * Q * Q);
}

// 4 * integral from 0 to infinity of ShellPhi(Q) sin(Q r) dQ.
double ShellG(double r) {
    double g = 0;
    for (double rj : kShells) {
        g += std::sqrt(M_PI / kAlpha) / rj *
             (std::exp(-(rj - r) * (rj - r) / (4 * kAlpha)) - std::exp(-(rj + r) * (rj + r) / (4 * kAlpha)));
    }
    return g;
}

}  // namespace

TEST(RDFSineTransform, PeaksAtTheInteratomicDistances) {
    const RDFProfile p = Reduced(1250, 0.02f, ShellPhi);
    const int n_r = 800;
    const arma::Col<float> G = RDFSineTransform(p, 0, 1250, 8, n_r);
    ASSERT_EQ(G.n_elem, static_cast<arma::uword>(n_r));
    EXPECT_EQ(G[0], 0.0f);
    const double peak = ShellG(kShells[0]);
    for (int j = 0; j < n_r; ++j) ASSERT_NEAR(G[j], ShellG(j * 0.01), 0.005 * peak) << "r=" << j * 0.01;
    for (double rj : kShells) {
        const int lo = static_cast<int>((rj - 0.3) / 0.01), hi = static_cast<int>((rj + 0.3) / 0.01);
        int best = lo;
        for (int j = lo; j <= hi; ++j)
            if (G[j] > G[best]) best = j;
        EXPECT_NEAR(best * 0.01, rj, 0.015) << "shell " << rj;
    }
}

TEST(RDFSineTransform, UsesSimpsonWeightsFromTheFirstSampleOfTheRange) {
    // F = 1 on [lo, hi): the sum is Simpson's rule over [Q_lo, Q_hi] without
    // the closing term of sample hi.
    const float q = 0.01f;
    const RDFProfile p = Reduced(400, q, [](double) { return 1.0; });
    const int lo = 100, hi = 301, r_max = 10, n_r = 50;
    const arma::Col<float> G = RDFSineTransform(p, lo, hi, r_max, n_r);
    for (int j = 1; j < n_r; ++j) {
        const double r = static_cast<float>(j * 0.2);
        const double a = lo * double(q), b = (hi - 1) * double(q);
        const double integral = (std::cos(r * a) - std::cos(r * b)) / r;
        const double expected = 4 * integral - 4.0 / 3.0 * q * std::sin(r * b);
        EXPECT_NEAR(G[j], expected, 2e-4 + 1e-4 * std::fabs(expected)) << "r=" << r;
    }
}

TEST(RDFSineTransform, RangeRule) {
    RDFProfile p = Reduced(300, 0.03f, ShellPhi);
    const arma::Col<float> whole = RDFSineTransform(p, 0, 300, 8, 40);

    // Ranges shorter than 11 samples, or reaching outside, mean the whole profile.
    EXPECT_TRUE(arma::all(RDFSineTransform(p, 50, 60, 8, 40) == whole));
    EXPECT_TRUE(arma::all(RDFSineTransform(p, -2, 100, 8, 40) == whole));
    EXPECT_TRUE(arma::all(RDFSineTransform(p, 50, 301, 8, 40) == whole));

    // A range of 11 is used as given: samples outside it are never read.
    const arma::Col<float> part = RDFSineTransform(p, 50, 61, 8, 40);
    EXPECT_FALSE(arma::all(part == whole));
    RDFProfile poisoned = p;
    poisoned.profile.head(50).fill(1e30f);
    poisoned.profile.tail(300 - 61).fill(NAN);
    EXPECT_TRUE(arma::all(RDFSineTransform(poisoned, 50, 61, 8, 40) == part));
}

TEST(RDFSineTransform, DegenerateSizes) {
    const RDFProfile p = Reduced(100, 0.05f, ShellPhi);
    const arma::Col<float> one = RDFSineTransform(p, 0, 100, 8, 1);
    ASSERT_EQ(one.n_elem, 1u);
    EXPECT_EQ(one[0], 0.0f);
    EXPECT_EQ(RDFSineTransform(p, 0, 100, 8, 0).n_elem, 0u);

    RDFProfile empty;
    empty.q_step = 0.05f;
    const arma::Col<float> g = RDFSineTransform(empty, 0, 0, 8, 5);
    ASSERT_EQ(g.n_elem, 5u);
    EXPECT_TRUE(arma::all(g == 0.0f));
}
