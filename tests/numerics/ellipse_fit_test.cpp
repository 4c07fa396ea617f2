#include "numerics/ellipse_fit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

const double kPi = 3.141592653589793;

// n points on an ellipse with small deterministic scatter.
void Ellipse(double cx, double cy, double ru, double rv, double turn, int n, std::vector<double>& x,
             std::vector<double>& y, double scatter = 0.03) {
    x.clear();
    y.clear();
    for (int i = 0; i < n; ++i) {
        double phi = 2 * kPi * i / n;
        double u = ru * std::cos(phi) + scatter * std::sin(7.3 * i);
        double v = rv * std::sin(phi) + scatter * std::cos(5.1 * i + 1.0);
        x.push_back(cx + u * std::cos(turn) - v * std::sin(turn));
        y.push_back(cy + u * std::sin(turn) + v * std::cos(turn));
    }
}

void Fit(CEllipseFit& fit, const std::vector<double>& x, const std::vector<double>& y, double* out) {
    fit.Fit(static_cast<int>(x.size()), x.data(), y.data(), out);
}

TEST(EllipseFitTest, CircleAndTurnedEllipses) {
    CEllipseFit fit;
    std::vector<double> x, y;
    double out[5] = {0};

    Ellipse(50, 60, 10, 10, 0, 36, x, y);
    Fit(fit, x, y, out);
    EXPECT_NEAR(out[0], 50, 0.02);
    EXPECT_NEAR(out[1], 60, 0.02);
    EXPECT_NEAR(out[2], 10, 0.03);
    EXPECT_NEAR(out[3], 10, 0.03);

    Ellipse(0, 0, 20, 10, 0, 36, x, y);
    Fit(fit, x, y, out);
    EXPECT_NEAR(out[0], 0, 0.02);
    EXPECT_NEAR(out[1], 0, 0.02);
    EXPECT_NEAR(out[2], 20, 0.03);
    EXPECT_NEAR(out[3], 10, 0.03);
    EXPECT_NEAR(out[4], 0, 0.005);

    Ellipse(0, 0, 10, 20, 0, 36, x, y);
    Fit(fit, x, y, out);
    EXPECT_NEAR(out[2], 20, 0.03);
    EXPECT_NEAR(out[3], 10, 0.03);
    EXPECT_NEAR(out[4], 3.141592 / 2, 0.005);

    for (double degrees : {30.0, 120.0}) {
        Ellipse(5, -3, 20, 10, degrees * kPi / 180, 36, x, y);
        Fit(fit, x, y, out);
        EXPECT_NEAR(out[0], 5, 0.02);
        EXPECT_NEAR(out[1], -3, 0.02);
        EXPECT_NEAR(out[2], 20, 0.03);
        EXPECT_NEAR(out[3], 10, 0.03);
        EXPECT_NEAR(out[4], degrees * kPi / 180, 0.005);
        EXPECT_GE(out[4], -kPi / 4);
        EXPECT_LE(out[4], 3 * kPi / 4);
    }
}

TEST(EllipseFitTest, TooFewPointsOnlyMarksFailure) {
    CEllipseFit fit;
    std::vector<double> x, y;
    Ellipse(0, 0, 20, 10, 0, 5, x, y);
    double out[5] = {1, 2, 3, 4, 5};
    Fit(fit, x, y, out);
    EXPECT_EQ(out[0], -1.0);
    EXPECT_EQ(out[1], 2);
    EXPECT_EQ(out[2], 3);
    EXPECT_EQ(out[3], 4);
    EXPECT_EQ(out[4], 5);
}

TEST(EllipseFitTest, DegeneratePointsGiveNotANumberNotStaleValues) {
    CEllipseFit fit;
    std::vector<double> x, y;
    double out[5];
    Ellipse(50, 60, 10, 10, 0, 36, x, y);
    Fit(fit, x, y, out);  // a good fit first, so stale values would be plausible
    ASSERT_NEAR(out[0], 50, 0.1);

    // Collinear points, and one point repeated: no ellipse.
    std::vector<std::vector<double>> xs = {{0, 1, 2, 3, 4, 5, 6, 7}, {3, 3, 3, 3, 3, 3}};
    std::vector<std::vector<double>> ys = {{0, 2, 4, 6, 8, 10, 12, 14}, {4, 4, 4, 4, 4, 4}};
    for (size_t c = 0; c < xs.size(); ++c) {
        Fit(fit, xs[c], ys[c], out);
        for (double v : out) EXPECT_TRUE(std::isnan(v)) << "case " << c;
    }
    // The object still fits afterwards.
    Fit(fit, x, y, out);
    EXPECT_NEAR(out[0], 50, 0.02);
}

TEST(EllipseFitTest, MatrixRoutines) {
    double** a = CEllipseFit::AllocateMatrix(4, 4);
    double** l = CEllipseFit::AllocateMatrix(4, 4);
    double** inv = CEllipseFit::AllocateMatrix(4, 4);
    double** prod = CEllipseFit::AllocateMatrix(4, 4);
    const double spd[3][3] = {{4, 2, 0.4}, {2, 5, 1}, {0.4, 1, 3}};
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 3; ++j) a[i][j] = spd[i - 1][j - 1];

    ASSERT_EQ(CEllipseFit::Cholesky(a, 3, l), 0);
    CEllipseFit::MultiplyTransposedRight(l, l, prod, 3, 3, 3, 3);  // L L^T
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 3; ++j) {
            EXPECT_NEAR(prod[i][j], spd[i - 1][j - 1], 1e-12);
            if (j > i) {
                EXPECT_EQ(l[i][j], 0.0);
            }
        }

    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 3; ++j) a[i][j] = spd[i - 1][j - 1];
    ASSERT_EQ(CEllipseFit::Inverse(a, inv, 3), 0);
    CEllipseFit::Multiply(a, inv, prod, 3, 3, 3, 3);
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 3; ++j) EXPECT_NEAR(prod[i][j], i == j ? 1.0 : 0.0, 1e-12);

    // Eigen-decomposition: A v = d v for each column.
    double d[4] = {0};
    double** v = CEllipseFit::AllocateMatrix(4, 4);
    CEllipseFit::Jacobi(a, 3, d, v);
    for (int k = 1; k <= 3; ++k)
        for (int i = 1; i <= 3; ++i) {
            double av = 0;
            for (int j = 1; j <= 3; ++j) av += spd[i - 1][j - 1] * v[j][k];
            EXPECT_NEAR(av, d[k] * v[i][k], 1e-10);
        }

    // A singular matrix is refused and inv left alone.
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 3; ++j) {
            a[i][j] = i * j;
            inv[i][j] = 42;
        }
    EXPECT_EQ(CEllipseFit::Inverse(a, inv, 3), -1);
    EXPECT_EQ(inv[2][2], 42);
    for (double** m : {a, l, inv, prod, v}) CEllipseFit::FreeMatrix(m, 4, 4);
}

}  // namespace
