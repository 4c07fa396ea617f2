#include "peak_test_profiles.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using peak_test::ThrownText;

float Gauss(double x, double x0, double height, double w) {
    return float(height * std::exp(-std::log(2.0) * (x - x0) * (x - x0) / (w * w)));
}

// Flat 10 with Gaussian bumps (position, height, half width).
arma::Col<float> Bumps(arma::uword m, std::initializer_list<std::array<double, 3>> bumps) {
    arma::Col<float> p(m);
    for (arma::uword i = 0; i < m; ++i) {
        double v = 10.0;
        for (const auto& b : bumps) v += Gauss(double(i), b[0], b[1], b[2]);
        p[i] = float(v);
    }
    return p;
}

TEST(PeakSearch, SinglePeakBetweenTwoMinima) {
    PeakProfileFit f;
    f.profile = Bumps(100, {{50, 100, 3}});
    f.FindExtremaAndSplinePoints(5, 5, 20, 99, 0);
    ASSERT_EQ(f.peak_table.n_rows, 4u);
    ASSERT_EQ(f.peak_table.n_cols, 1u);
    EXPECT_EQ(f.peak_table(0, 0), 50.0);
    EXPECT_TRUE(arma::all(arma::vectorise(f.peak_table.rows(1, 3)) == 0.0));
    ASSERT_EQ(f.spline_x.n_elem, 2u);
    EXPECT_EQ(f.spline_x[0], 20.0f);  // first sample of the flat start
    EXPECT_GT(f.spline_x[1], 55.0f);
    for (arma::uword i = 0; i < 2; ++i) EXPECT_EQ(f.spline_y[i], f.profile[arma::uword(f.spline_x[i])]);
    EXPECT_EQ(f.valley_positions.n_elem, 0u);
}

TEST(PeakSearch, StartBelowTwentyAndEndBeyondTheProfileAreClamped) {
    PeakProfileFit a, b;
    a.profile = b.profile = Bumps(100, {{30, 100, 2}, {70, 80, 3}});
    // A bump at 5 would be found if the first 20 samples were searched.
    a.profile[5] = b.profile[5] = 500.0f;
    a.FindExtremaAndSplinePoints(5, 5, 0, 1e6f, 0);
    b.FindExtremaAndSplinePoints(5, 5, 20, 99, 0);
    EXPECT_TRUE(arma::approx_equal(a.peak_table, b.peak_table, "absdiff", 0.0));
    EXPECT_TRUE(arma::approx_equal(a.spline_x, b.spline_x, "absdiff", 0.0f));
    EXPECT_EQ(a.peak_table.n_cols, 2u);
}

TEST(PeakSearch, SmoothingKeepsPositionsAndBackgroundUsesRawValues) {
    PeakProfileFit f;
    f.profile = Bumps(100, {{50, 100, 3}});
    for (arma::uword i = 0; i < f.profile.n_elem; i += 2) f.profile[i] += 1.0f;  // ripple that the smoothing removes
    f.FindExtremaAndSplinePoints(5, 5, 20, 99, 3);
    ASSERT_EQ(f.peak_table.n_cols, 1u);
    EXPECT_EQ(f.peak_table(0, 0), 50.0);
    for (arma::uword i = 0; i < f.spline_x.n_elem; ++i) EXPECT_EQ(f.spline_y[i], f.profile[arma::uword(f.spline_x[i])]);
}

TEST(PeakSearch, NarrowOrEmptyRangesAndMonotoneProfilesFindNothing) {
    PeakProfileFit f;
    f.profile = Bumps(100, {{50, 100, 3}});
    const std::string none = "No maxima or minima found";
    EXPECT_EQ(ThrownText([&] { f.FindExtremaAndSplinePoints(5, 5, 49, 50.5f, 0); }), none);
    EXPECT_EQ(ThrownText([&] { f.FindExtremaAndSplinePoints(5, 5, 60, 40, 0); }), none);
    EXPECT_EQ(ThrownText([&] { f.FindExtremaAndSplinePoints(5, 5, NAN, 90, 0); }), none);
    EXPECT_THROW(f.FindExtremaAndSplinePoints(5, 5, 20, 99, 101), std::invalid_argument);
    f.profile = arma::regspace<arma::Col<float>>(0, 99);
    EXPECT_EQ(ThrownText([&] { f.FindExtremaAndSplinePoints(5, 5, 20, 99, 0); }), none);
    f.profile = arma::Col<float>(15, arma::fill::ones);  // shorter than the unsearched head
    EXPECT_EQ(ThrownText([&] { f.FindExtremaAndSplinePoints(5, 5, 0, 99, 0); }), none);
    f.profile.reset();
    EXPECT_EQ(ThrownText([&] { f.FindExtremaAndSplinePoints(5, 5, 0, 99, 0); }), none);
}

TEST(PeakSearch, LeadingMaximumIsDiscarded) {
    PeakProfileFit f;
    // Starts on the falling flank of a peak at 10, then a real peak at 60.
    f.profile = Bumps(100, {{10, 200, 8}, {60, 100, 3}});
    f.FindExtremaAndSplinePoints(5, 5, 20, 99, 0);
    ASSERT_EQ(f.peak_table.n_cols, 1u);
    EXPECT_EQ(f.peak_table(0, 0), 60.0);
    EXPECT_EQ(f.spline_x.n_elem, 2u);

    // Only the leading maximum, then a rise to the end: no usable peak.
    f.profile = Bumps(100, {{10, 200, 8}});
    for (arma::uword i = 50; i < 100; ++i) f.profile[i] += float(i - 50);
    EXPECT_EQ(ThrownText([&] { f.FindExtremaAndSplinePoints(5, 5, 20, 99, 0); }), "No suitable peak was found");
}

TEST(PeakSearch, ClosingMinimumAfterTheLastPeak) {
    PeakProfileFit f;
    // The profile ends on the falling flank of a tall peak: the lowest
    // scanned point, end - 1, closes the background.
    f.profile = Bumps(80, {{55, 100, 6}});
    f.FindExtremaAndSplinePoints(5, 5, 20, 79, 0);
    ASSERT_EQ(f.spline_x.n_elem, 2u);
    EXPECT_EQ(f.spline_x[1], 78.0f);
    EXPECT_EQ(f.peak_table.n_cols, 1u);

    // A second peak (110 high, threshold 5.5) that falls just far enough to
    // be recorded (to 104) but ends at 105, not below 110 - 5.5: dropped.
    f.profile = Bumps(120, {{40, 100, 3}, {80, 100, 3}});
    f.profile.subvec(81, 85).fill(104.0f);
    f.profile.subvec(86, 119).fill(105.0f);
    f.FindExtremaAndSplinePoints(5, 5, 20, 119, 0);
    ASSERT_EQ(f.peak_table.n_cols, 1u);
    EXPECT_EQ(f.peak_table(0, 0), 40.0);
}

struct ValleyCase {
    PeakProfileFit f;
    double valley = 0;
    ValleyCase() {
        // Two overlapping peaks of different widths, then an isolated one.
        f.profile = Bumps(200, {{60, 100, 4}, {78, 100, 6}, {140, 100, 4}});
        valley = 60 + double(f.profile.subvec(60, 78).index_min());
    }
};

TEST(PeakSearch, ValleyBetweenOverlappingPeaksBoundsTheirWindows) {
    ValleyCase c;
    ASSERT_NE(c.valley, 69.0);  // not the midpoint, so the two rules differ
    c.f.FindExtremaAndSplinePoints(5, 5, 20, 199, 0);
    ASSERT_EQ(c.f.valley_positions.n_elem, 1u);
    EXPECT_EQ(c.f.valley_positions[0], float(c.valley));
    ASSERT_EQ(c.f.peak_table.n_cols, 3u);
    ASSERT_EQ(c.f.spline_x.n_elem, 3u);

    arma::Col<float> bounds;
    int left = -1, right = -1;
    ASSERT_EQ(c.f.FindPeakBounds(0, 1, bounds, left, right), 1);
    EXPECT_EQ(left, 0);
    EXPECT_EQ(right, 1);
    ASSERT_EQ(bounds.n_elem, 3u);
    EXPECT_EQ(bounds[0], c.f.spline_x[0]);
    EXPECT_EQ(bounds[1], float(c.valley));
    EXPECT_EQ(bounds[2], c.f.spline_x[1]);

    ASSERT_EQ(c.f.FindPeakBounds(1, 2, bounds, left, right), 1);
    EXPECT_EQ(left, 2);
    EXPECT_EQ(right, 2);
    EXPECT_EQ(bounds.n_elem, 2u);
}

TEST(PeakSearch, WithoutAValleyTheMidpointSeparatesPeaks) {
    ValleyCase c;
    c.f.FindExtremaAndSplinePoints(5, 50, 20, 199, 0);  // valley stands too low
    EXPECT_EQ(c.f.valley_positions.n_elem, 0u);
    ASSERT_EQ(c.f.spline_x.n_elem, 4u);  // the minimum is a background point
    // Both peaks between background points 0 and 2.
    arma::Col<float> bounds;
    int left = -1, right = -1;
    ASSERT_EQ(c.f.FindPeakBounds(0, 2, bounds, left, right), 1);
    ASSERT_EQ(bounds.n_elem, 3u);
    EXPECT_EQ(bounds[1], 69.0f);
}

TEST(PeakSearch, FindPeakBoundsOnGivenTables) {
    PeakProfileFit f;
    f.spline_x = {10, 50, 60, 90};
    f.peak_table.zeros(4, 3);
    f.peak_table.row(0) = arma::rowvec{20, 30, 70};
    arma::Col<float> bounds;
    int left = -1, right = -1;
    ASSERT_EQ(f.FindPeakBounds(0, 1, bounds, left, right), 1);
    EXPECT_TRUE(arma::approx_equal(bounds, arma::Col<float>{10, 25, 50}, "absdiff", 0.0f));
    // A valley count other than np - 1 keeps the midpoint; exactly one replaces it.
    f.valley_positions = {22, 27};
    f.FindPeakBounds(0, 1, bounds, left, right);
    EXPECT_EQ(bounds[1], 25.0f);
    f.valley_positions = {24, 55};
    f.FindPeakBounds(0, 1, bounds, left, right);
    EXPECT_EQ(bounds[1], 24.0f);
    // No peak between 50 and 60: left and right are still written.
    EXPECT_EQ(f.FindPeakBounds(1, 2, bounds, left, right), 0);
    EXPECT_EQ(left, 2);
    EXPECT_EQ(right, 1);
    // No peak beyond 90 at all: left and right untouched.
    f.spline_x = {75, 90, 95};
    left = right = -7;
    EXPECT_EQ(f.FindPeakBounds(1, 2, bounds, left, right), 0);
    EXPECT_EQ(left, -7);
    EXPECT_THROW(f.FindPeakBounds(2, 3, bounds, left, right), std::out_of_range);
}

TEST(PeakSearch, FailedSearchChangesNoMember) {
    PeakProfileFit f;
    f.profile = arma::regspace<arma::Col<float>>(0, 99);
    f.spline_x = {1, 2};
    f.spline_y = {3, 4};
    f.valley_positions = {5};
    f.peak_table = arma::Mat<double>(4, 1, arma::fill::value(6.0));
    EXPECT_FALSE(ThrownText([&] { f.FindExtremaAndSplinePoints(5, 5, 20, 99, 0); }).empty());
    EXPECT_TRUE(arma::approx_equal(f.spline_x, arma::Col<float>{1, 2}, "absdiff", 0.0f));
    EXPECT_TRUE(arma::approx_equal(f.spline_y, arma::Col<float>{3, 4}, "absdiff", 0.0f));
    EXPECT_EQ(f.valley_positions.n_elem, 1u);
    EXPECT_EQ(f.peak_table(0, 0), 6.0);
}

TEST(PeakSearch, FractionalAndNegativeThresholdsStayInsideTheTable) {
    // A negative threshold lets one sample record a maximum and a minimum;
    // fractional ends add a sample. Either may end in a text error, but the
    // table must hold everything recorded.
    PeakProfileFit f;
    f.profile = peak_test::MakeProfile(
        300, {{100, 50, 3, 0.5}, {200, 50, 3, 0.5}}, [](double) { return 10.0; }, 2.0);
    for (float mh : {-5.0f, -0.5f, 0.0f, 0.3f})
        for (float start : {20.0f, 20.7f}) {
            const std::string text = ThrownText([&] { f.FindExtremaAndSplinePoints(mh, 5, start, 290.4f, 0); });
            if (text.empty()) {
                EXPECT_EQ(f.spline_x.n_elem, f.spline_y.n_elem);
                EXPECT_GE(f.spline_x.n_elem, 2u);
            }
        }
}

// Spikes of +4 on a baseline of -4, smoothed over one sample each side,
// peak at exactly 0: heights in percent of 0 are all 0, and every spike
// would count as a peak.
TEST(PeakSearch, ASmoothedMaximumOfExactlyZeroIsRefused) {
    PeakProfileFit f;
    f.profile = arma::Col<float>(200, arma::fill::value(-4.0f));
    for (arma::uword i : {60u, 100u, 140u}) f.profile[i] = 4.0f;
    EXPECT_THROW(f.FindExtremaAndSplinePoints(5, 5, 20, 199, 1), std::invalid_argument);
    EXPECT_TRUE(f.peak_table.is_empty());
}

}  // namespace
