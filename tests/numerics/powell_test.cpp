#include "numerics/powell.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

namespace {

class Quadratic : public Minimize {
public:
    int calls = 0;
    double Evaluate(const double* x, int n) override {
        EXPECT_EQ(n, 2);
        ++calls;
        double u = x[0] - 1.0, v = x[1] + 2.0;
        return u * u + 10.0 * v * v + 3.0 * u * v + 4.0;
    }
};

class Valley : public Minimize {
public:
    double Evaluate(const double* x, int) override {
        double a = x[1] - x[0] * x[0], b = 1.0 - x[0];
        return 100.0 * a * a + b * b;
    }
};

class Counting : public Minimize {
public:
    int calls = 0;
    double Evaluate(const double*, int) override { return ++calls, 1.0; }
};

// Two rows of two doubles, identity directions.
struct Directions {
    double r0[2] = {1.0, 0.0}, r1[2] = {0.0, 1.0};
    double* rows[2] = {r0, r1};
};

std::string Captured() {
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

TEST(PowellTest, FindsMinimumOfQuadraticAndValley) {
    Quadratic q;
    Directions xi;
    double x[2] = {0.0, 0.0};
    testing::internal::CaptureStdout();
    EXPECT_EQ(PowellMinimize(x, 2, 1e-10, xi.rows, q), 0);
    std::string out = Captured();
    EXPECT_NEAR(x[0], 1.0, 1e-3);
    EXPECT_NEAR(x[1], -2.0, 1e-3);
    int sweeps = 0;
    ASSERT_EQ(std::sscanf(out.c_str(), "Status after %d function evaluations:", &sweeps), 1) << out;
    EXPECT_GE(sweeps, 1);
    EXPECT_LE(sweeps, 100);
    EXPECT_EQ(out.substr(out.size() - 3), ":\n ");
    // The coupled bowl needs a new direction: the set no longer is the identity.
    EXPECT_FALSE(xi.r0[1] == 0.0 && xi.r1[1] == 1.0);

    Valley v;
    Directions vxi;
    double y[2] = {-1.2, 1.0};
    testing::internal::CaptureStdout();
    PowellMinimize(y, 2, 1e-8, vxi.rows, v);
    Captured();
    EXPECT_NEAR(y[0], 1.0, 1e-2);
    EXPECT_NEAR(y[1], 1.0, 2e-2);
}

TEST(PowellTest, FlatLineBracketsWithoutSearching) {
    Minimize zero;
    double fret = 0.0, p[2] = {0.0, 0.0}, dir[2] = {1.0, 0.0};
    LineMin line(&zero, &fret, 2, p, dir);
    double a = 0.0, b = 1.0, c = 0.0, fa, fb, fc;
    line.Bracket(a, b, c, fa, fb, fc);
    EXPECT_EQ(a, 0.0);
    EXPECT_EQ(b, 1.0);
    EXPECT_EQ(c, 1.0 + 1.618034);
    EXPECT_EQ(fa, 0.0);
    EXPECT_EQ(fc, 0.0);
}

TEST(PowellTest, ZeroCostWalksEveryDirectionThenStops) {
    Minimize zero;
    Directions xi;
    double x[2] = {0.0, 0.0};
    int iter = 0;
    double fret = -1.0;
    {
        Powell powell(x, xi.rows, 2, 0.001, &iter, &fret, zero);
        powell.Minimize();
    }
    EXPECT_EQ(iter, 1);
    EXPECT_EQ(fret, 0.0);
    EXPECT_NEAR(x[0], 2.6174, 2e-3);
    EXPECT_NEAR(x[1], 2.6174, 2e-3);
    EXPECT_GT(x[0], 2.6);
    EXPECT_LT(x[0], 1.0 + 1.618034);
}

TEST(PowellTest, IterationLimitsThrow) {
    // A position that is not a number never meets the stopping rule: the
    // 101st Brent iteration throws, after the first cost and 100 trials.
    Counting count;
    double fret = 0.0, p[2] = {0.0, 0.0}, dir[2] = {1.0, 1.0};
    LineMin line(&count, &fret, 2, p, dir);
    double tmin = 0.0;
    EXPECT_THROW(line.BrentMinimum(0.0, std::numeric_limits<double>::quiet_NaN(), 1.0, tmin), LineMin::XIterationLimit);
    EXPECT_EQ(count.calls, 101);

    // A negative tolerance never converges: the sweep after the 100th throws.
    Quadratic q;
    Directions xi;
    double x[2] = {0.0, 0.0};
    int iter = 0;
    double f = 0.0;
    Powell powell(x, xi.rows, 2, -1.0, &iter, &f, q);
    EXPECT_THROW(powell.Minimize(), Powell::XIterationLimit);
    EXPECT_EQ(iter, 101);

    Directions xi2;
    double x2[2] = {0.0, 0.0};
    testing::internal::CaptureStdout();
    EXPECT_THROW(PowellMinimize(x2, 2, -1.0, xi2.rows, q), Powell::XIterationLimit);
    EXPECT_EQ(Captured(), "");
}

}  // namespace
