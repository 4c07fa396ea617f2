#include "peak_test_profiles.h"
#include "profile/peak_start_values.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using peak_test::MakeProfile;
using peak_test::ThrownText;
using peak_test::TruePeak;

// A one-peak table or parameter matrix.
arma::Mat<double> OnePeak(double x0, double area, double w, double eta) {
    return arma::Mat<double>(arma::Col<double>{x0, area, w, eta});
}

double Model(const arma::Mat<double>& table, double t) {
    double out = 0;
    PseudoVoigtSum(int(table.n_elem), table.memptr(), 1, &t, &out);
    return out;
}

TEST(PeakBackground, SubtractedIsZeroOutsideTheBackgroundPoints) {
    PeakProfileFit f;
    f.profile = MakeProfile(100, {{50, 60, 3, 0.5}}, [](double x) { return 3 + 0.5 * x; });
    f.spline_x = {20, 40, 80};
    f.spline_y = {13, 23, 43};  // on the line 3 + x / 2
    f.SubtractSplineBackground();
    ASSERT_EQ(f.background.n_elem, 100u);
    ASSERT_EQ(f.subtracted.n_elem, 100u);
    for (arma::uword i = 0; i < 100; ++i) {
        if (i < 20 || i > 80) {
            EXPECT_EQ(f.subtracted[i], 0.0f) << i;
        } else {
            EXPECT_NEAR(f.background[i], 3 + 0.5 * i, 1e-4) << i;
            EXPECT_EQ(f.subtracted[i], f.profile[i] - f.background[i]) << i;
        }
    }
    EXPECT_NEAR(f.background[19], 12.5, 1e-4);  // drawn one position to the left
    EXPECT_EQ(f.background[18], 0.0f);
    EXPECT_EQ(f.background[81], 0.0f);
}

TEST(PeakBackground, PointsAtOrBelowZeroAndBeyondTheEndStayInsideTheProfile) {
    PeakProfileFit f;
    f.profile = arma::Col<float>(50, arma::fill::value(7.0f));
    f.spline_x = {-4, 0, 30, 80};
    f.spline_y = {7, 7, 7, 7};
    f.SubtractSplineBackground();
    EXPECT_TRUE(arma::all(f.background == 7.0f));
    EXPECT_TRUE(arma::all(f.subtracted == 0.0f));
}

TEST(PeakBackground, UnusableBackgroundPointsAreRefused) {
    PeakProfileFit f;
    f.profile = arma::Col<float>(50, arma::fill::ones);
    f.spline_x = {10, 30, 30};
    f.spline_y = {1, 1, 1};
    EXPECT_THROW(f.SubtractSplineBackground(), std::invalid_argument);
    f.spline_x = {10, NAN};
    f.spline_y = {1, 1};
    EXPECT_THROW(f.SubtractSplineBackground(), std::invalid_argument);
    f.spline_x = {10, 20, 30};
    EXPECT_THROW(f.SubtractSplineBackground(), std::invalid_argument);
    f.spline_x.reset();
    f.spline_y.reset();
    EXPECT_THROW(f.SubtractSplineBackground(), std::invalid_argument);
    EXPECT_EQ(f.background.n_elem, 0u);
}

TEST(PeakStart, AreaWidthAndTheirFloors) {
    arma::Col<float> s(30, arma::fill::zeros);
    s.subvec(10, 16) = arma::Col<float>{1, 3, 6, 8, 6, 3, 1};  // 3 samples above 4
    PeakStartValues v = EstimatePeakStart(s, 5, 20, 13.7);
    EXPECT_EQ(v.area, 28.0f);
    EXPECT_EQ(v.width, 1);                                     // (int)(3 / 2.0)
    s.subvec(10, 16) = arma::Col<float>{5, 6, 7, 8, 7, 6, 5};  // 7 above 4
    EXPECT_EQ(EstimatePeakStart(s, 5, 20, 13).width, 3);
    EXPECT_EQ(EstimatePeakStart(-s, 5, 20, 13).area, 0.0f);
    // Window ends are both included and clipped to the data.
    EXPECT_EQ(EstimatePeakStart(s, 16, 99, 13).area, 5.0f);
    EXPECT_EQ(EstimatePeakStart(s, -8, 10.9f, 13).area, 5.0f);
    EXPECT_EQ(EstimatePeakStart(s, 40, 50, 45).area, 0.0f);
}

TEST(PeakFit, PrepareFitKeepsPeaksStrictlyInsideAndSortsThem) {
    PeakProfileFit f;
    f.peak_table = {{50, 10, 90, 30, 70}, {1, 2, 3, 4, 5}, {6, 7, 8, 9, 10}, {0, 0, 0, 1, 1}};
    f.PrepareFit(10, 90);
    const arma::Mat<double> expected = {{30, 50, 70}, {4, 1, 5}, {9, 6, 10}, {1, 0, 1}};
    EXPECT_TRUE(arma::approx_equal(f.peak_table, expected, "absdiff", 0.0));
    f.PrepareFit(80, 90);
    EXPECT_EQ(f.peak_table.n_cols, 0u);
    EXPECT_EQ(f.peak_table.n_rows, 4u);
}

TEST(PeakFit, FittedAreaAndWidthAreMagnitudesAndMixingIsClamped) {
    for (double eta : {1.0, 0.0}) {
        PeakProfileFit f;
        f.profile = MakeProfile(100, {{50, 100, 3, eta}}, [](double) { return 0.0; });
        f.subtracted = f.profile;
        // Negative area and width fit as well as positive ones; the mixing
        // starts beyond the clamp, where the model no longer depends on it.
        f.peak_table = OnePeak(50.6, -80, -2.2, eta == 1.0 ? 1.3 : -0.2);
        f.FitAllPeaks(20, 80);
        EXPECT_NEAR(f.peak_table(0, 0), 50, 1e-3);
        EXPECT_NEAR(f.peak_table(1, 0), 100, 0.1);
        EXPECT_NEAR(f.peak_table(2, 0), 3, 1e-3);
        EXPECT_EQ(f.peak_table(3, 0), eta);
    }
}

TEST(PeakFit, FailedOrEmptyFitsLeaveTheTable) {
    PeakProfileFit f;
    f.profile = MakeProfile(100, {{50, 100, 3, 0.5}}, [](double) { return 0.0; });
    f.subtracted = f.profile;
    const arma::Mat<double> start = OnePeak(49, 90, 2.5, 0.5);
    f.peak_table = start;
    EXPECT_EQ(f.FitAllPeaks(50, 51), PeakFitOutcome::kNotConverged);  // two data points for four parameters
    EXPECT_TRUE(arma::approx_equal(f.peak_table, start, "absdiff", 0.0));
    EXPECT_EQ(f.FitAllPeaks(200, 300), PeakFitOutcome::kNoData);
    EXPECT_TRUE(arma::approx_equal(f.peak_table, start, "absdiff", 0.0));
    f.peak_table.set_size(4, 0);
    f.FitAllPeaks(20, 80);
    EXPECT_EQ(f.peak_table.n_cols, 0u);
}

// Forty peaks: 161 values, whose differences alone take most of the
// evaluation budget, so the fit stops on it and says so.
TEST(PeakFit, AFitThatSpendsItsBudgetSaysSo) {
    std::vector<TruePeak> truth;
    for (int k = 0; k < 40; ++k) truth.push_back({30.0 + 10.0 * k, 300, 3, 0.5});
    PeakProfileFit f;
    f.profile = MakeProfile(440, truth, [](double) { return 0.0; });
    f.subtracted = f.profile;
    f.peak_table.zeros(4, truth.size());
    for (arma::uword k = 0; k < truth.size(); ++k)
        f.peak_table.col(k) = arma::Col<double>{truth[k].x0 + 1, 200, 2, 0.5};
    const arma::Mat<double> start = f.peak_table;
    EXPECT_EQ(f.FitAllPeaks(20, 430), PeakFitOutcome::kBudgetSpent);
    EXPECT_TRUE(arma::approx_equal(f.peak_table, start, "absdiff", 0.0));
}

TEST(PeakFit, GroupFitKeepsEstimatesWhenAPeakLeavesItsWindow) {
    PeakProfileFit f;
    // The only peak in the data is at 60; the window [20, 40] sees its
    // rising tail, which pulls the fitted position out of the window.
    f.profile = MakeProfile(100, {{60, 500, 4, 1.0}}, [](double) { return 0.0; });
    f.subtracted = f.profile;
    const arma::Mat<double> start = OnePeak(35, 5, 2, 0.5);
    f.peak_table = start;
    EXPECT_NE(f.FitPeakGroup(0, 0, arma::Col<float>{20, 40}), PeakFitOutcome::kFitted);
    EXPECT_TRUE(arma::approx_equal(f.peak_table, start, "absdiff", 0.0));
    EXPECT_THROW(f.FitPeakGroup(0, 1, arma::Col<float>{20, 40, 60}), std::out_of_range);
    EXPECT_THROW(f.FitPeakGroup(0, 0, arma::Col<float>{20}), std::out_of_range);
    // Peaks at 50 and 58, windows split at 46: the first runs to 50.
    f.profile = MakeProfile(100, {{50, 500, 3, 0.5}, {58, 500, 3, 0.5}}, [](double) { return 0.0; });
    f.subtracted = f.profile;
    const arma::Mat<double> pair = arma::join_rows(OnePeak(44, 300, 2, 0.5), OnePeak(55, 500, 2, 0.5));
    f.peak_table = pair;
    EXPECT_EQ(f.FitPeakGroup(0, 1, arma::Col<float>{30, 46, 75}), PeakFitOutcome::kLeftWindow);
    EXPECT_TRUE(arma::approx_equal(f.peak_table, pair, "absdiff", 0.0));
}

// Three peaks, two of them overlapping, on a gently curved background.
const std::vector<TruePeak> kPreFitPeaks = {{70, 300, 4, 0.3}, {86, 250, 5, 0.5}, {160, 200, 4, 0.2}};
double Curved(double x) { return 120 - 0.12 * x + 0.0001 * x * x; }

TEST(PeakFit, PreFitFitsEachIntervalAndStopsAtAnEmptyOne) {
    PeakProfileFit f;
    f.profile = MakeProfile(240, kPreFitPeaks, Curved);
    peak_test::FindAndPreFit(f, 5, 2, 20, 239, 0);
    ASSERT_EQ(f.valley_positions.n_elem, 1u);  // the two overlapping peaks share a window
    ASSERT_EQ(f.peak_table.n_cols, 3u);
    for (arma::uword c = 0; c < 3; ++c) {
        EXPECT_NEAR(f.peak_table(0, c), kPreFitPeaks[c].x0, 0.5) << c;
        EXPECT_NEAR(f.peak_table(1, c), kPreFitPeaks[c].area, 0.25 * kPreFitPeaks[c].area) << c;
        EXPECT_NEAR(f.peak_table(2, c), kPreFitPeaks[c].w, 0.25 * kPreFitPeaks[c].w) << c;
        EXPECT_GE(f.peak_table(3, c), 0.0);
        EXPECT_LE(f.peak_table(3, c), 1.0);
    }

    // Background points with an empty interval between the two peaks: the
    // pre-fit stops there and the later peak keeps its values.
    PeakProfileFit g;
    g.profile = f.profile;
    g.spline_x = {40, 110, 130, 200};
    g.spline_y = {float(Curved(40)), float(Curved(110)), float(Curved(130)), float(Curved(200))};
    g.peak_table = {{78, 160}, {0, 0}, {0, 0}, {0, 0}};
    g.SubtractSplineBackground();
    g.PreFitPeaks();
    EXPECT_GT(g.peak_table(1, 0), 0.0);
    EXPECT_EQ(g.peak_table(1, 1), 0.0);
    EXPECT_EQ(g.peak_table(2, 1), 0.0);

    // Intervals must exist; first == last pre-fits nothing.
    const arma::Mat<double> before = g.peak_table;
    EXPECT_THROW(g.PreFitPeakRange(2, 4), std::out_of_range);
    EXPECT_THROW(g.PreFitPeakRange(-1, 1), std::out_of_range);
    g.PreFitPeakRange(3, 3);
    EXPECT_TRUE(arma::approx_equal(g.peak_table, before, "absdiff", 0.0));
}

TEST(PeakFit, EvaluateFitMovesBackgroundPointsUnderThePeaks) {
    PeakProfileFit f;
    f.profile = MakeProfile(240, kPreFitPeaks, Curved);
    peak_test::FindAndPreFit(f, 5, 2, 20, 239, 0);
    const int lo = int(f.spline_x[0]), hi = int(f.spline_x[f.spline_x.n_elem - 1]);
    f.PrepareFit(lo, hi);
    f.SubtractSplineBackground();
    f.FitAllPeaks(lo, hi);
    const arma::Col<float> before = f.spline_y;
    f.EvaluateFit();
    for (arma::uword i = 0; i < f.spline_x.n_elem; ++i) {
        const double x = f.spline_x[i];
        // The points lie on the data, where the background equals the data.
        EXPECT_FLOAT_EQ(f.spline_y[i], float(f.profile[arma::uword(x)] - Model(f.peak_table, x)));
        EXPECT_LT(f.spline_y[i], before[i]);
    }
    // A point beyond the profile has no data to compare with and stays.
    f.spline_x.resize(f.spline_x.n_elem + 1);
    f.spline_y.resize(f.spline_y.n_elem + 1);
    f.spline_x.back() = 300;
    f.spline_y.back() = 42;
    f.EvaluateFit();
    EXPECT_EQ(f.spline_y.back(), 42.0f);
}

TEST(PeakFit, ResultMatrices) {
    PeakProfileFit f;
    f.profile = MakeProfile(60, {{30, 50, 2, 0.4}}, [](double) { return 5.0; });
    f.spline_x = {10, 50};
    f.spline_y = {5, 5};
    f.peak_table = OnePeak(30, 50, 2, 0.4);
    f.SubtractSplineBackground();
    const arma::Mat<float> curves = f.GetFitCurves();
    ASSERT_EQ(curves.n_rows, 60u);
    ASSERT_EQ(curves.n_cols, 4u);
    EXPECT_TRUE(arma::approx_equal(curves.col(0), f.profile, "absdiff", 0.0f));
    EXPECT_TRUE(arma::approx_equal(curves.col(1), f.background, "absdiff", 0.0f));
    EXPECT_TRUE(arma::approx_equal(curves.col(2), f.subtracted, "absdiff", 0.0f));
    for (arma::uword i = 0; i < 60; ++i) EXPECT_EQ(curves(i, 3), float(Model(f.peak_table, double(i))));
    EXPECT_TRUE(arma::approx_equal(curves.col(3) + 5.0f, f.profile, "absdiff", 1e-4f));

    const arma::Mat<float> points = f.GetSplinePoints();
    EXPECT_TRUE(arma::approx_equal(points, arma::Mat<float>{{10, 5}, {50, 5}}, "absdiff", 0.0f));
    const arma::Mat<float> peaks = f.GetPeakParameters();
    EXPECT_TRUE(arma::approx_equal(peaks, arma::Mat<float>(arma::Col<float>{30, 50, 2, 0.4f}), "absdiff", 0.0f));

    f.spline_y = {5};
    EXPECT_EQ(ThrownText([&] { f.GetSplinePoints(); }), "xsplinepints!=ysplinepints");
    EXPECT_THROW(f.EvaluateFit(), std::invalid_argument);
}

// Four peaks of chosen position, area, width and mixing on a smooth
// background, found and fitted with no hint but the search thresholds. The
// background points sit on the data at its minima, so they keep part of
// any Lorentzian tails; mostly Gaussian peaks on a gentle slope keep that
// share small.
const std::vector<TruePeak> kTruth = {{80, 400, 3, 0.1}, {200, 300, 3, 0.05}, {320, 250, 4, 0.0}, {440, 200, 4, 0.15}};
double Smooth(double x) { return 100 - 0.02 * x + 0.00002 * x * x; }

TEST(PeakFit, FindsAndFitsChosenPeaks) {
    PeakProfileFit f;
    f.profile = MakeProfile(520, kTruth, Smooth);
    peak_test::FindAndPreFit(f, 5, 5, 20, 519, 0);
    ASSERT_EQ(f.peak_table.n_cols, kTruth.size());
    peak_test::TwoStageFit(f);
    ASSERT_EQ(f.peak_table.n_cols, kTruth.size());
    for (arma::uword c = 0; c < kTruth.size(); ++c) {
        EXPECT_NEAR(f.peak_table(0, c), kTruth[c].x0, 0.05) << c;
        EXPECT_NEAR(f.peak_table(1, c), kTruth[c].area, 0.02 * kTruth[c].area) << c;
        EXPECT_NEAR(f.peak_table(2, c), kTruth[c].w, 0.05 * kTruth[c].w) << c;
    }
}

TEST(PeakFit, FindsAndFitsChosenPeaksInNoise) {
    PeakProfileFit f;
    f.profile = MakeProfile(520, kTruth, Smooth, 0.2);
    peak_test::FindAndPreFit(f, 5, 5, 20, 519, 2);
    ASSERT_EQ(f.peak_table.n_cols, kTruth.size());
    peak_test::TwoStageFit(f);
    ASSERT_EQ(f.peak_table.n_cols, kTruth.size());
    for (arma::uword c = 0; c < kTruth.size(); ++c) {
        EXPECT_NEAR(f.peak_table(0, c), kTruth[c].x0, 0.05) << c;
        EXPECT_NEAR(f.peak_table(2, c), kTruth[c].w, 0.05 * kTruth[c].w) << c;
        // Background points taken at noisy minima sit low, and the fit
        // gives the offset to the peaks: areas come out high.
        EXPECT_NEAR(f.peak_table(1, c), kTruth[c].area, 0.25 * kTruth[c].area) << c;
    }
}

TEST(PeakFit, TwoStageFitListsPeaksByPositionInsideTheRange) {
    PeakProfileFit f;
    f.profile = MakeProfile(520, kTruth, Smooth);
    f.spline_x = {30, 140, 260, 380, 500};
    f.spline_y.set_size(5);
    for (arma::uword i = 0; i < 5; ++i) f.spline_y[i] = f.profile[arma::uword(f.spline_x[i])];
    // Given in any order, plus one peak at the first background point and
    // one beyond the last.
    f.peak_table = {
        {321, 30, 201, 505, 79, 441}, {200, 10, 200, 10, 200, 200}, {4, 4, 4, 4, 4, 4}, {0.5, 0.5, 0.5, 0.5, 0.5, 0.5}};
    peak_test::TwoStageFit(f);
    ASSERT_EQ(f.peak_table.n_cols, 4u);
    for (arma::uword c = 0; c < 4; ++c) EXPECT_NEAR(f.peak_table(0, c), kTruth[c].x0, 0.05) << c;
}

}  // namespace
