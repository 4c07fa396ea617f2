#include "numerics/spline.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

arma::Mat<float> Coefficients(const arma::Col<float>& x, const arma::Col<float>& y) {
    arma::Mat<float> coef(x.n_elem, 4, arma::fill::zeros);
    SplineCoefficients(static_cast<int>(x.n_elem), x, y, coef);
    return coef;
}

TEST(SplineTest, OneAndTwoKnots) {
    arma::Col<float> x1 = {5.0f}, y1 = {3.5f};
    arma::Mat<float> c1 = Coefficients(x1, y1);
    EXPECT_EQ(c1(0, 0), 3.5f);
    EXPECT_EQ(c1(0, 1), 0.0f);
    EXPECT_EQ(c1(0, 2), 0.0f);
    EXPECT_EQ(c1(0, 3), 0.0f);
    arma::Col<float> out(10, arma::fill::value(-7.0f));
    SplineEvaluate(10, out, 1, x1, c1);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(out[i], (i >= 4 && i <= 5) ? 3.5f : -7.0f) << i;

    arma::Col<float> x2 = {2.0f, 6.0f}, y2 = {1.0f, 3.0f};
    arma::Mat<float> c2 = Coefficients(x2, y2);
    for (int k = 0; k < 2; ++k) {
        EXPECT_EQ(c2(k, 1), 0.5f);
        EXPECT_EQ(c2(k, 2), 0.0f);
        EXPECT_EQ(c2(k, 3), 0.0f);
    }
    out.fill(-7.0f);
    SplineEvaluate(10, out, 2, x2, c2);
    EXPECT_EQ(out[0], -7.0f);
    for (int i = 1; i <= 6; ++i) EXPECT_FLOAT_EQ(out[i], 1.0f + 0.5f * (i - 2)) << i;
    EXPECT_EQ(out[7], -7.0f);
}

// Unequal intervals weight the two secants unequally: at the middle knot of
// (0, 0), (1, 2), (4, 3) the harmonic mean gives 24/37 (weights swapped
// would give 24/47); the first end takes the three-point slope 29/12, the
// last end's three-point slope points against its secant and becomes 0.
TEST(SplineTest, SlopesOnUnequalIntervals) {
    arma::Col<float> x = {0, 1, 4}, y = {0, 2, 3};
    arma::Mat<float> c = Coefficients(x, y);
    EXPECT_NEAR(c(1, 1), 24.0 / 37.0, 1e-6);
    EXPECT_NEAR(c(0, 1), 29.0 / 12.0, 1e-6);
    EXPECT_EQ(c(2, 1), 0.0f);
}

TEST(SplineTest, ThreeKnotsTurningPoint) {
    arma::Col<float> x = {1, 2, 3}, y = {0, 1, 0};
    arma::Mat<float> c = Coefficients(x, y);
    EXPECT_EQ(c(0, 1), 2.0f);
    EXPECT_EQ(c(1, 1), 0.0f);
    EXPECT_EQ(c(2, 1), -2.0f);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(c(k, 2), -2.0f);
        EXPECT_EQ(c(k, 3), 0.0f);
    }
    arma::Col<float> out(6, arma::fill::value(9.0f));
    SplineEvaluate(6, out, 3, x, c);
    EXPECT_EQ(out[0], -3.0f);
    EXPECT_EQ(out[1], 0.0f);
    EXPECT_EQ(out[2], 1.0f);
    EXPECT_EQ(out[3], 0.0f);
    EXPECT_EQ(out[4], 9.0f);
}

TEST(SplineTest, EndSlopeLimitedToThreeSecants) {
    arma::Col<float> x = {0.0f, 1.0f, 1.1f}, y = {0, 1, 0};
    arma::Mat<float> c = Coefficients(x, y);
    EXPECT_EQ(c(0, 1), 3.0f);
}

TEST(SplineTest, DrawsOnlyFromLeftOfFirstToLastKnot) {
    arma::Col<float> x = {20, 40, 60}, y = {5, 8, 2};
    arma::Mat<float> c = Coefficients(x, y);
    arma::Col<float> out(100, arma::fill::value(-1.0f));
    SplineEvaluate(100, out, 3, x, c);
    for (int i = 0; i < 100; ++i) {
        if (i >= 19 && i <= 60)
            EXPECT_NE(out[i], -1.0f) << i;
        else
            EXPECT_EQ(out[i], -1.0f) << i;
    }
    EXPECT_EQ(out[20], 5.0f);
    EXPECT_EQ(out[40], 8.0f);
    EXPECT_EQ(out[60], 2.0f);

    // A last knot beyond the output stops at out[m - 1].
    arma::Col<float> shorter(50, arma::fill::value(-1.0f));
    SplineEvaluate(50, shorter, 3, x, c);
    EXPECT_NE(shorter[49], -1.0f);
    EXPECT_EQ(shorter[18], -1.0f);
}

TEST(SplineTest, StartAtOrBelowZeroIsClamped) {
    arma::Col<float> x = {-5.0f, 0.0f, 3.0f}, y = {1, 2, 4};
    arma::Mat<float> c = Coefficients(x, y);
    arma::Col<float> out(4, arma::fill::value(-1.0f));
    SplineEvaluate(4, out, 3, x, c);
    EXPECT_EQ(out[0], 2.0f);
    EXPECT_EQ(out[3], 4.0f);
}

TEST(SplineTest, MonotoneDataStaysMonotoneAndExtremaDoNotOvershoot) {
    arma::Col<float> x = {20, 25, 40, 42, 70, 90}, y = {1, 2, 2.2f, 9, 9.5f, 30};
    arma::Mat<float> c = Coefficients(x, y);
    arma::Col<float> out(100, arma::fill::zeros);
    SplineEvaluate(100, out, 6, x, c);
    for (int i = 21; i <= 90; ++i) EXPECT_GE(out[i], out[i - 1]) << i;

    arma::Col<float> xt = {20, 30, 40, 50}, yt = {1, 5, 2, 2.5f};
    arma::Mat<float> ct = Coefficients(xt, yt);
    EXPECT_EQ(ct(1, 1), 0.0f);
    EXPECT_EQ(ct(2, 1), 0.0f);
    out.zeros();
    SplineEvaluate(100, out, 4, xt, ct);
    for (int i = 20; i <= 50; ++i) {
        EXPECT_LE(out[i], 5.0f) << i;
        EXPECT_GE(out[i], 1.0f) << i;
    }
}

TEST(SplineTest, MismatchedSizesAreRefused) {
    arma::Col<float> x = {1, 2, 3}, y = {1, 2};
    arma::Mat<float> c(3, 4, arma::fill::zeros);
    EXPECT_THROW(SplineCoefficients(3, x, y, c), std::invalid_argument);
    EXPECT_THROW(SplineCoefficients(0, x, x, c), std::invalid_argument);
    arma::Mat<float> wrong(2, 4, arma::fill::zeros);
    EXPECT_THROW(SplineCoefficients(3, x, x, wrong), std::invalid_argument);
    SplineCoefficients(3, x, x, c);
    arma::Col<float> out(3);
    EXPECT_THROW(SplineEvaluate(4, out, 3, x, c), std::invalid_argument);
    EXPECT_THROW(SplineEvaluate(3, out, 4, x, c), std::invalid_argument);
}

}  // namespace
