#include "lmfit/lmmin.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// y = A exp(-t / tau) + c sampled at t = 0, 0.1, ..., 9.9.
struct Decay {
    std::vector<double> t, y;
    int calls = 0;
    int break_at = -1;  // raise the user-break flag on this call
    int nan_at = -1;    // return a NaN residual from this call on
    int throw_at = -1;
    Decay(double A, double tau, double c) {
        for (int i = 0; i < 100; ++i) {
            t.push_back(0.1 * i);
            y.push_back(A * std::exp(-t.back() / tau) + c);
        }
    }
};

void DecayResiduals(const double* par, int m, const void* data, double* fvec, int* userbreak) {
    auto& d = *const_cast<Decay*>(static_cast<const Decay*>(data));
    ++d.calls;
    if (d.calls == d.throw_at) throw std::runtime_error("model failed");
    for (int i = 0; i < m; ++i) fvec[i] = d.y[i] - (par[0] * std::exp(-d.t[i] / par[1]) + par[2]);
    if (d.calls == d.break_at) *userbreak = 1;
    if (d.nan_at > 0 && d.calls >= d.nan_at) fvec[m / 2] = std::nan("");
}

lm_status_struct FitDecay(Decay& d, double* par, lm_control_struct control = lm_control_double) {
    lm_status_struct status{};
    lmmin(3, par, static_cast<int>(d.y.size()), &d, DecayResiduals, &control, &status);
    return status;
}

TEST(LmminTest, DefaultControlRecord) {
    EXPECT_EQ(lm_control_double.ftol, 30 * std::numeric_limits<double>::epsilon());
    EXPECT_EQ(lm_control_double.xtol, lm_control_double.ftol);
    EXPECT_EQ(lm_control_double.gtol, lm_control_double.ftol);
    EXPECT_EQ(lm_control_double.epsilon, lm_control_double.ftol);
    EXPECT_EQ(lm_control_double.stepbound, 100.0);
    EXPECT_EQ(lm_control_double.patience, 100);
    EXPECT_EQ(lm_control_double.scale_diag, 1);
    EXPECT_EQ(lm_control_double.msgfile, nullptr);
    EXPECT_EQ(lm_control_double.verbosity, 0);
    EXPECT_EQ(lm_control_double.n_maxpri, -1);
    EXPECT_EQ(lm_control_double.m_maxpri, -1);
    for (int i = 0; i < lm_outcome_count; ++i) EXPECT_GT(std::string(lm_infmsg[i]).size(), 5u);
}

TEST(LmminTest, RecoversExponentialDecayWithOffset) {
    for (int scale : {1, 0}) {
        Decay d(5.0, 2.0, 1.0);
        double par[3] = {1.0, 1.0, 0.0};
        lm_control_struct c = lm_control_double;
        c.scale_diag = scale;
        lm_status_struct s = FitDecay(d, par, c);
        EXPECT_LE(s.outcome, 3) << lm_infmsg[s.outcome];
        EXPECT_NEAR(par[0], 5.0, 1e-8);
        EXPECT_NEAR(par[1], 2.0, 1e-8);
        EXPECT_NEAR(par[2], 1.0, 1e-8);
        EXPECT_EQ(s.nfev, d.calls);
        EXPECT_LT(s.fnorm, 1e-6);
    }
}

TEST(LmminTest, SmallBudgetIsExhaustedAndRespected) {
    for (int patience : {1, 2, 3}) {
        Decay d(5.0, 2.0, 1.0);
        double par[3] = {1.0, 1.0, 0.0};
        lm_control_struct c = lm_control_double;
        c.patience = patience;
        lm_status_struct s = FitDecay(d, par, c);
        EXPECT_EQ(s.outcome, 5);
        EXPECT_LE(d.calls, patience * 4);
        EXPECT_EQ(s.nfev, d.calls);
        for (double p : par) EXPECT_TRUE(std::isfinite(p));
    }
}

TEST(LmminTest, UserBreakStopsTheFit) {
    Decay d(5.0, 2.0, 1.0);
    d.break_at = 7;
    double par[3] = {1.0, 1.0, 0.0};
    lm_status_struct s = FitDecay(d, par);
    EXPECT_EQ(s.outcome, 11);
    EXPECT_EQ(s.userbreak, 1);
    EXPECT_EQ(s.nfev, 7);
    EXPECT_EQ(d.calls, 7);
}

TEST(LmminTest, NonFiniteResidualStopsTheFit) {
    Decay d(5.0, 2.0, 1.0);
    d.nan_at = 9;
    double par[3] = {1.0, 1.0, 0.0};
    lm_status_struct s = FitDecay(d, par);
    EXPECT_EQ(s.outcome, 12);
    EXPECT_EQ(d.calls, 9);
    for (double p : par) EXPECT_TRUE(std::isfinite(p));
    EXPECT_TRUE(std::isfinite(s.fnorm));

    // NaN at the very first evaluation leaves the start untouched.
    Decay first(5.0, 2.0, 1.0);
    first.nan_at = 1;
    double start[3] = {1.0, 1.0, 0.0};
    s = FitDecay(first, start);
    EXPECT_EQ(s.outcome, 12);
    EXPECT_EQ(start[0], 1.0);
    EXPECT_EQ(start[1], 1.0);
    EXPECT_EQ(start[2], 0.0);
}

TEST(LmminTest, ImproperInputIsRefusedBeforeAnyEvaluation) {
    Decay d(5.0, 2.0, 1.0);
    double par[3] = {1.0, 1.0, 0.0};
    lm_status_struct s{};
    lmmin(3, par, 2, &d, DecayResiduals, &lm_control_double, &s);
    EXPECT_EQ(s.outcome, 10);
    lmmin(0, par, 100, &d, DecayResiduals, &lm_control_double, &s);
    EXPECT_EQ(s.outcome, 10);
    lmmin(3, par, 100, &d, nullptr, &lm_control_double, &s);
    EXPECT_EQ(s.outcome, 10);
    lm_control_struct c = lm_control_double;
    c.patience = 0;
    lmmin(3, par, 100, &d, DecayResiduals, &c, &s);
    EXPECT_EQ(s.outcome, 10);
    EXPECT_EQ(s.nfev, 0);
    EXPECT_EQ(d.calls, 0);
    EXPECT_EQ(par[0], 1.0);
}

// y = a + b t with exact data: the sum of squares reaches zero.
void Line(const double* par, int m, const void*, double* fvec, int*) {
    for (int i = 0; i < m; ++i) fvec[i] = (3.0 + 0.5 * i) - (par[0] + par[1] * i);
}

TEST(LmminTest, PerfectFitEndsFoundOrConverged) {
    double par[2] = {0.0, 0.0};
    lm_status_struct s{};
    lmmin(2, par, 10, nullptr, Line, &lm_control_double, &s);
    EXPECT_LE(s.outcome, 3) << lm_infmsg[s.outcome];
    EXPECT_NEAR(par[0], 3.0, 1e-12);
    EXPECT_NEAR(par[1], 0.5, 1e-12);

    // Starting on the answer finds the zero at the first evaluation.
    double exact[2] = {3.0, 0.5};
    lmmin(2, exact, 10, nullptr, Line, &lm_control_double, &s);
    EXPECT_EQ(s.outcome, 0);
    EXPECT_EQ(s.nfev, 1);
    EXPECT_EQ(s.fnorm, 0.0);
    EXPECT_EQ(exact[0], 3.0);
    EXPECT_EQ(exact[1], 0.5);
}

TEST(LmminTest, ModelExceptionPassesThrough) {
    Decay d(5.0, 2.0, 1.0);
    d.throw_at = 5;
    double par[3] = {1.0, 1.0, 0.0};
    EXPECT_THROW(FitDecay(d, par), std::runtime_error);
    EXPECT_EQ(d.calls, 5);
    for (double p : par) EXPECT_TRUE(std::isfinite(p));
}

TEST(LmminTest, VerboseTraceGoesToMessageFile) {
    Decay d(5.0, 2.0, 1.0);
    double par[3] = {1.0, 1.0, 0.0};
    lm_control_struct c = lm_control_double;
    c.verbosity = 1;
    c.msgfile = std::tmpfile();
    ASSERT_NE(c.msgfile, nullptr);
    lm_status_struct s = FitDecay(d, par, c);
    std::rewind(c.msgfile);
    std::string text;
    char buf[256];
    while (std::fgets(buf, sizeof buf, c.msgfile)) text += buf;
    std::fclose(c.msgfile);
    EXPECT_NE(text.find("iteration 1: sum of squares"), std::string::npos) << text;
    EXPECT_NE(text.find(lm_infmsg[s.outcome]), std::string::npos) << text;
}

}  // namespace
