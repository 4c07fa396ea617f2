// Fits whose Lorentz fraction ends at 0 or 1, where the model stops
// depending on it.
#include "numerics/least_squares_fit.h"
#include "peak_test_profiles.h"
#include "profile/peak_mixing_clamp.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using peak_test::MakeProfile;

arma::Mat<double> OnePeak(double x0, double area, double w, double eta) {
    return arma::Mat<double>(arma::Col<double>{x0, area, w, eta});
}

double Zero(double) { return 0.0; }

TEST(PeakMixing, AStopAtAClampIsToldFromABestFitThere) {
    arma::Col<double> t = arma::regspace<arma::Col<double>>(20, 80);
    for (const double truth : {0.0, 1.0}) {
        const arma::Col<float> p = MakeProfile(100, {{50, 100, 3, truth}}, Zero);
        arma::Col<double> y(t.n_elem);
        for (arma::uword i = 0; i < t.n_elem; ++i) y[i] = p[20 + i];
        const int m = int(t.n_elem);
        // Beyond the clamp at the truth's own end: the best fit, not a stop.
        const double same_side = truth == 0.0 ? -0.2 : 1.2;
        EXPECT_FALSE(MixingStuckAtClamp(OnePeak(50, 100, 3, same_side), 0, t.memptr(), y.memptr(), m)) << truth;
        // At the other end the residuals fall back inside.
        const double far_side = truth == 0.0 ? 1.0 : 0.0;
        EXPECT_TRUE(MixingStuckAtClamp(OnePeak(50, 100, 3, far_side), 0, t.memptr(), y.memptr(), m)) << truth;
        EXPECT_FALSE(MixingStuckAtClamp(OnePeak(50, 100, 3, 0.5), 0, t.memptr(), y.memptr(), m)) << truth;
    }
}

// Started beyond the wrong clamp, a plain fit settles on the best pure
// Lorentzian of a Gaussian (or the reverse): area and width off by 10 %
// and more.
TEST(PeakMixing, AFitStartedBeyondTheWrongClampComesBack) {
    for (const double truth : {0.0, 1.0}) {
        PeakProfileFit f;
        f.profile = MakeProfile(100, {{50.3, 100, 3, truth}}, Zero);
        f.subtracted = f.profile;
        f.peak_table = OnePeak(50, 90, 2.5, truth == 0.0 ? 1.5 : -0.5);
        f.FitAllPeaks(20, 80);
        EXPECT_NEAR(f.peak_table(1, 0), 100, 0.5) << truth;
        EXPECT_NEAR(f.peak_table(2, 0), 3, 0.01) << truth;
        EXPECT_NEAR(f.peak_table(3, 0), truth, 0.01) << truth;
    }
}

// A fit that ends inside the clamps is the driver's result, bit for bit.
TEST(PeakMixing, AFitEndingInsideIsThePlainFit) {
    PeakProfileFit f;
    f.profile = MakeProfile(100, {{50.3, 100, 3, 0.4}}, Zero);
    f.subtracted = f.profile;
    const arma::Mat<double> start = OnePeak(50, 90, 2.5, 0.5);
    f.peak_table = start;
    f.FitAllPeaks(20, 80);

    arma::Col<double> t = arma::regspace<arma::Col<double>>(20, 80), y(t.n_elem);
    for (arma::uword i = 0; i < t.n_elem; ++i) y[i] = f.subtracted[20 + i];
    LeastSquaresFit plain(int(t.n_elem), t.memptr(), y.memptr(), PseudoVoigtSum);
    plain.SetMaxIter(700);
    plain.SetTolerance(0.0001);
    arma::Mat<double> M = start;
    ASSERT_EQ(plain.Fit(4, M.memptr()), 0);
    ASSERT_GT(M(3, 0), 0.0);
    ASSERT_LT(M(3, 0), 1.0);
    for (arma::uword r = 0; r < 4; ++r) EXPECT_EQ(f.peak_table(r, 0), M(r, 0)) << r;
}

// Single peaks as the peak search and the two-stage fit see them: any
// position between two samples, half widths 1.5 to 5 pixels, Gaussian to
// Lorentzian, on a flat background. A peak of half width 2 at a whole
// sample has three samples above half height, so the pre-fit starts it at
// half width 1, and the fits ran to the Lorentzian end and stopped there.
TEST(PeakMixing, SinglePeaksComeOutWithinThreeAndFivePercent) {
    for (double frac : {0.0, 0.25, 0.5, 0.8})
        for (double w : {1.5, 2.0, 3.0, 5.0})
            for (double eta : {0.0, 0.5, 0.75, 1.0}) {
                PeakProfileFit f;
                f.profile = MakeProfile(400, {{200 + frac, 400, w, eta}}, [](double) { return 100.0; });
                peak_test::FindAndPreFit(f, 5, 5, 20, 399, 0);
                peak_test::TwoStageFit(f);
                ASSERT_EQ(f.peak_table.n_cols, 1u);
                EXPECT_NEAR(f.peak_table(1, 0), 400, 12) << frac << " " << w << " " << eta;
                EXPECT_NEAR(f.peak_table(2, 0), w, 0.05 * w) << frac << " " << w << " " << eta;
            }
}

// Three overlapping peaks from rough starts: the mixing of one and then of
// another stops at a clamp, and each restart frees one; a single restart
// leaves areas 10 to 25 % off.
TEST(PeakMixing, OverlappingPeaksFromRoughStartsComeBackWhole) {
    for (const std::vector<peak_test::TruePeak>& truth :
         {std::vector<peak_test::TruePeak>{{60.2, 975, 2.3, 0.85}, {69, 625, 4.4, 0.25}, {78.2, 209, 3.6, 0.45}},
          std::vector<peak_test::TruePeak>{{66, 217, 3.2, 0.65}, {75.4, 799, 4.4, 0.5}, {86.2, 380, 1.6, 0.2}}}) {
        PeakProfileFit f;
        f.profile = MakeProfile(160, truth, Zero);
        f.subtracted = f.profile;
        f.peak_table.zeros(4, truth.size());
        for (arma::uword k = 0; k < truth.size(); ++k)
            f.peak_table.col(k) = arma::Col<double>{std::floor(truth[k].x0), 0.8 * truth[k].area,
                                                    std::max(1.0, std::floor(0.6 * truth[k].w)), 0.5};
        f.FitAllPeaks(30, 150);
        ASSERT_EQ(f.peak_table.n_cols, truth.size());
        for (arma::uword k = 0; k < truth.size(); ++k) {
            EXPECT_NEAR(f.peak_table(1, k), truth[k].area, 0.01 * truth[k].area) << truth[k].x0;
            EXPECT_NEAR(f.peak_table(3, k), truth[k].eta, 0.01) << truth[k].x0;
        }
    }
}

// A restart that ends with a peak outside its window is thrown away by the
// group fit, and with it the whole group's fit: the group must keep the fit
// it had. Here the pre-fit of a noisy pair came back at start values.
TEST(PeakMixing, ARestartThatLeavesItsWindowIsNotKept) {
    PeakProfileFit f;
    f.profile = MakeProfile(
        300, {{82.5, 809, 4.3, 0.7}, {113.9, 1134, 4.8, 0.15}}, [](double t) { return 200.0 - 0.2 * t; }, 4.0, 1816);
    f.FindExtremaAndSplinePoints(1, 1, 20, 299, 1);
    f.SubtractSplineBackground();
    for (int p = 0; p + 1 < int(f.spline_x.n_elem); ++p) f.PreFitPeakRange(p, p + 1);
    const arma::uvec near = arma::find(arma::abs(f.peak_table.row(0) - 82.5) < 1.0);
    ASSERT_EQ(near.n_elem, 1u);
    const arma::Col<double> peak = f.peak_table.col(near[0]);
    EXPECT_NE(peak[3], 0.5) << "left at its start values";
    EXPECT_NEAR(peak[0], 82.5, 0.2);
    EXPECT_NEAR(peak[2], 4.3, 0.5);
}

}  // namespace
