#include "profile/peak_pseudo_voigt.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

const double kPi = 3.141592653589793;

std::vector<double> Evaluate(const std::vector<double>& par, const std::vector<double>& t) {
    std::vector<double> out(t.size(), -99.0);
    PseudoVoigtSum(int(par.size()), par.data(), int(t.size()), t.data(), out.data());
    return out;
}

// Area by the midpoint rule over +-2000 half widths around the peak.
double Area(const std::vector<double>& par, double x0, double w) {
    std::vector<double> t;
    const double step = w / 50.0;
    for (double x = x0 - 2000 * w; x < x0 + 2000 * w; x += step) t.push_back(x + step / 2);
    double sum = 0.0;
    for (double v : Evaluate(par, t)) sum += v * step;
    return sum;
}

TEST(PseudoVoigt, GaussianAndLorentzianHaveUnitShapeTimesArea) {
    const double x0 = 40.0, a = 12.0, w = 3.0;
    const double g0 = Evaluate({x0, a, w, 0.0}, {x0})[0];
    EXPECT_NEAR(g0, a * std::sqrt(std::log(2.0) / kPi) / w, 1e-12);
    const double l0 = Evaluate({x0, a, w, 1.0}, {x0})[0];
    EXPECT_NEAR(l0, a / (kPi * w), 1e-12);
    // w is the half width at half maximum of both shapes.
    for (double eta : {0.0, 1.0}) {
        const auto v = Evaluate({x0, a, w, eta}, {x0, x0 - w, x0 + w});
        EXPECT_NEAR(v[1], v[0] / 2, 1e-12);
        EXPECT_NEAR(v[2], v[0] / 2, 1e-12);
    }
    EXPECT_NEAR(Area({x0, a, w, 0.0}, x0, w), a, 1e-6);
    EXPECT_NEAR(Area({x0, a, w, 1.0}, x0, w), a, a * 4e-4);  // the tails beyond the range
    EXPECT_NEAR(Area({x0, a, w, 0.4}, x0, w), a, a * 2e-4);
}

TEST(PseudoVoigt, MixingIsClampedAndAreaAndWidthTakenAsMagnitudes) {
    const std::vector<double> t{10.0, 11.5, 14.0};
    EXPECT_EQ(Evaluate({11, 5, 2, 1.3}, t), Evaluate({11, 5, 2, 1.0}, t));
    EXPECT_EQ(Evaluate({11, 5, 2, -0.2}, t), Evaluate({11, 5, 2, 0.0}, t));
    EXPECT_EQ(Evaluate({11, -5, -2, 0.3}, t), Evaluate({11, 5, 2, 0.3}, t));
}

TEST(PseudoVoigt, PeaksAddAndALeftoverParameterIsIgnored) {
    const std::vector<double> t{0.0, 3.0, 7.5, 20.0};
    const auto p1 = Evaluate({3, 2, 1.5, 0.2}, t);
    const auto p2 = Evaluate({8, 7, 2.5, 0.9}, t);
    const auto both = Evaluate({3, 2, 1.5, 0.2, 8, 7, 2.5, 0.9, 123.0}, t);
    for (size_t i = 0; i < t.size(); ++i) EXPECT_DOUBLE_EQ(both[i], p1[i] + p2[i]);
    EXPECT_EQ(Evaluate({}, t), std::vector<double>(t.size(), 0.0));
}

}  // namespace
