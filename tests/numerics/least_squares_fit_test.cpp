#include "numerics/least_squares_fit.h"

#include "lmfit/lmmin.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// par = (height, centre, width, offset, slope)
void GaussOnSlope(int, const double* par, int m, const double* t, double* out) {
    for (int i = 0; i < m; ++i) {
        double z = (t[i] - par[1]) / par[2];
        out[i] = par[0] * std::exp(-0.5 * z * z) + par[3] + par[4] * t[i];
    }
}

double GaussOnSlopeAt(int, const double* par, double t) {
    double z = (t - par[1]) / par[2];
    return par[0] * std::exp(-0.5 * z * z) + par[3] + par[4] * t;
}

void Proportional(int, const double* par, int m, const double* t, double* out) {
    for (int i = 0; i < m; ++i) out[i] = par[0] * t[i];
}

void Throwing(int, const double*, int, const double*, double*) { throw std::runtime_error("model failed"); }

void Zero(int, const double*, int m, const double*, double* out) {
    for (int i = 0; i < m; ++i) out[i] = 0.0;
}

struct Data {
    std::vector<double> t, y;
    Data() {
        const double truth[5] = {50.0, 40.0, 5.0, 10.0, 0.2};
        for (int i = 0; i < 100; ++i) {
            t.push_back(i);
            y.push_back(GaussOnSlopeAt(5, truth, i));
        }
    }
};

std::string Captured() {
    std::cout.flush();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

TEST(LeastSquaresFitTest, RecoversGaussianOnSlopingBackground) {
    Data d;
    LeastSquaresFit fit(100, d.t.data(), d.y.data(), GaussOnSlope);
    fit.SetMaxIter(700);
    fit.SetTolerance(0.0001);
    double par[5] = {40.0, 37.0, 4.0, 8.0, 0.1};
    testing::internal::CaptureStdout();
    int r = fit.Fit(5, par);
    std::string out = Captured();
    EXPECT_EQ(r, 0) << out;
    EXPECT_NEAR(par[0], 50.0, 1e-3);
    EXPECT_NEAR(par[1], 40.0, 1e-4);
    EXPECT_NEAR(par[2], 5.0, 1e-4);
    EXPECT_NEAR(par[3], 10.0, 1e-3);
    EXPECT_NEAR(par[4], 0.2, 1e-5);
    EXPECT_EQ(out.rfind("Fitting using 5 parameters (max_iter=696)...\n", 0), 0u) << out;
    EXPECT_NE(out.find("Status after "), std::string::npos);

    // The scalar form fits the same data.
    LeastSquaresFit scalar(100, d.t.data(), d.y.data(), GaussOnSlopeAt);
    scalar.SetMaxIter(700);
    double spar[5] = {40.0, 37.0, 4.0, 8.0, 0.1};
    testing::internal::CaptureStdout();
    r = scalar.FitScalar(5, spar);
    out = Captured();
    EXPECT_EQ(r, 0) << out;
    EXPECT_NEAR(spar[1], 40.0, 1e-6);
    EXPECT_EQ(out.rfind("Fitting ... ", 0), 0u) << out;
    EXPECT_NE(out.find(" function evaluations:\n  "), std::string::npos) << out;
}

TEST(LeastSquaresFitTest, PrintedBudgetFollowsPatience) {
    Data d;
    struct Case {
        int max_iter, n_par;
        const char* line;
    } cases[] = {
        {500, 4, "Fitting using 4 parameters (max_iter=500)...\n"},
        {700, 12, "Fitting using 12 parameters (max_iter=689)...\n"},
        {700, 200, "Fitting using 200 parameters (max_iter=1005)...\n"},
        {800, 0, "Fitting using 0 parameters (max_iter=500)...\n"},
    };
    for (const Case& c : cases) {
        LeastSquaresFit fit(100, d.t.data(), d.y.data(), Zero);
        fit.SetMaxIter(c.max_iter);
        std::vector<double> par(c.n_par + 1, 1.0);
        testing::internal::CaptureStdout();
        fit.Fit(c.n_par, par.data());
        std::string out = Captured();
        EXPECT_EQ(out.rfind(c.line, 0), 0u) << out;
    }
    // No parameters is improper input for lmmin: a failure, reported as such.
    LeastSquaresFit fit(100, d.t.data(), d.y.data(), Zero);
    double none[1] = {0.0};
    testing::internal::CaptureStdout();
    EXPECT_EQ(fit.Fit(0, none), -1);
    std::string out = Captured();
    EXPECT_NE(out.find(std::string("Status after 0 function evaluations:") + lm_infmsg[10] + "\n"), std::string::npos)
        << out;
}

TEST(LeastSquaresFitTest, OtherMethodReturnsFailureSilently) {
    Data d;
    LeastSquaresFit fit(100, d.t.data(), d.y.data(), GaussOnSlope);
    fit.SetMethod("LMFIT");
    double par[5] = {40.0, 37.0, 4.0, 8.0, 0.1};
    testing::internal::CaptureStdout();
    EXPECT_EQ(fit.Fit(5, par), -1);
    EXPECT_EQ(fit.FitBounded(5, par, par, par), -1);
    EXPECT_EQ(Captured(), "");
    EXPECT_EQ(par[0], 40.0);
    EXPECT_EQ(par[4], 0.1);
}

TEST(LeastSquaresFitTest, VectorResidualsCarrySinglePrecision) {
    double t[1] = {0.0};
    double y[1] = {1.0 + 1e-12};
    LeastSquaresFit vec(1, t, y, Zero);
    double fvec[1];
    int brk = 0;
    LeastSquaresFit::ResidualsVector(t, 1, &vec, fvec, &brk);
    EXPECT_EQ(fvec[0], 1.0);
    LeastSquaresFit scalar(1, t, y, GaussOnSlopeAt);
    double par[5] = {0.0, 0.0, 1.0, 0.0, 0.0};
    LeastSquaresFit::ResidualsScalar(par, 1, &scalar, fvec, &brk);
    EXPECT_EQ(fvec[0], 1.0 + 1e-12);
    EXPECT_EQ(brk, 0);
}

TEST(LeastSquaresFitTest, BoundedFitMapsThroughSine) {
    std::vector<double> t, y;
    for (int i = 1; i <= 20; ++i) {
        t.push_back(i);
        y.push_back(2.0 * i);
    }
    LeastSquaresFit fit(20, t.data(), y.data(), Proportional);
    fit.SetVerbose(0);
    double lower[1] = {-10.0}, upper[1] = {10.0};
    double par[1] = {0.0};
    testing::internal::CaptureStdout();
    EXPECT_EQ(fit.FitBounded(1, par, lower, upper), 0);
    Captured();
    EXPECT_GE(par[0], lower[0]);
    EXPECT_LE(par[0], upper[0]);
    EXPECT_NEAR(lower[0] + (upper[0] - lower[0]) * 0.5 * (std::sin(par[0]) + 1), 2.0, 1e-5);
}

TEST(LeastSquaresFitTest, ModelExceptionPassesThrough) {
    Data d;
    LeastSquaresFit fit(100, d.t.data(), d.y.data(), Throwing);
    fit.SetVerbose(0);
    double par[2] = {1.0, 1.0};
    testing::internal::CaptureStdout();
    EXPECT_THROW(fit.Fit(2, par), std::runtime_error);
    Captured();
}

}  // namespace
