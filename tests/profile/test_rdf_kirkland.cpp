#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "profile/rdf_free_fit.h"
#include "profile/rdf_kirkland.h"
#include "rdf_test_table.h"

using rdftest::ElementColumn;
using rdftest::ScatteringFactor;

namespace {

RDFProfile MakeProfile(std::initializer_list<arma::Col<float>> columns, float q_step) {
    RDFProfile p;
    p.elements.set_size(14, columns.size());
    arma::uword c = 0;
    for (const auto& col : columns) p.elements.col(c++) = col;
    p.q_step = q_step;
    return p;
}

}  // namespace

TEST(KirklandScatteringSquared, OneElementAtFullConcentrationIsFSquared) {
    const auto au = ElementColumn("Au", 100.0f);
    const RDFProfile p = MakeProfile({au}, 0.25f);
    arma::Col<float> out;
    KirklandScatteringSquared(p, 1.5f, 80, out);
    ASSERT_EQ(out.n_elem, 80u);
    for (int i = 0; i < 80; ++i) {
        const double s = (1.5 + 0.25 * i) / 10.0;  // q in 1/nm, s in 1/Angstrom
        const double f = ScatteringFactor(au, s);
        EXPECT_NEAR(out[i], f * f, 2e-6 * f * f + 1e-7) << "i=" << i;
    }
}

TEST(KirklandScatteringSquared, AtZeroIsTheClosedForm) {
    const RDFProfile p = MakeProfile({ElementColumn("Au", 100.0f)}, 0.1f);
    arma::Col<float> out;
    KirklandScatteringSquared(p, 0.0f, 1, out);
    const auto c = rdftest::KirklandRow("Au");
    const double f0 = c[0] / c[3] + c[1] / c[4] + c[2] / c[5] + c[6] + c[7] + c[8];
    EXPECT_NEAR(f0, 10.5534, 1e-4);  // the table's published sanity value
    EXPECT_NEAR(out[0], f0 * f0, 1e-4);
}

TEST(KirklandScatteringSquared, ConcentrationsWeightTheSquares) {
    const auto si = ElementColumn("Si", 50.0f);
    const auto o = ElementColumn("O", 50.0f);
    const RDFProfile mix = MakeProfile({si, o}, 0.3f);
    arma::Col<float> out;
    KirklandScatteringSquared(mix, 0.0f, 50, out);
    for (int i = 0; i < 50; ++i) {
        const double s = 0.3 * i / 10.0;
        const double fs = ScatteringFactor(si, s), fo = ScatteringFactor(o, s);
        const double mean = 0.5 * (fs * fs + fo * fo);
        EXPECT_NEAR(out[i], mean, 2e-6 * mean) << "i=" << i;
    }
    // A table summing to 200 % doubles the value.
    const RDFProfile twice = MakeProfile({ElementColumn("Si", 200.0f)}, 0.3f);
    const RDFProfile once = MakeProfile({ElementColumn("Si", 100.0f)}, 0.3f);
    arma::Col<float> a, b;
    KirklandScatteringSquared(twice, 0.0f, 50, a);
    KirklandScatteringSquared(once, 0.0f, 50, b);
    for (int i = 0; i < 50; ++i) EXPECT_NEAR(a[i], 2.0f * b[i], 1e-5f * b[i]);
}

TEST(KirklandScatteringSquared, EmptyAndMalformedTables) {
    RDFProfile p;
    p.q_step = 0.1f;
    arma::Col<float> out;
    KirklandScatteringSquared(p, 0.0f, 5, out);
    ASSERT_EQ(out.n_elem, 5u);
    EXPECT_TRUE(arma::all(out == 0.0f));
    KirklandScatteringSquared(p, 0.0f, -3, out);
    EXPECT_EQ(out.n_elem, 0u);

    p.elements.set_size(13, 1);
    p.elements.fill(1.0f);
    EXPECT_THROW(KirklandScatteringSquared(p, 0.0f, 5, out), std::invalid_argument);
}

TEST(KirklandFunctionScale, UsesMagnitudesAndRefusesOtherParameterCounts) {
    const double t[3] = {1.0, 2.0, 10.0};
    double out[3];
    const double par[2] = {-2.0, -0.5};
    Kirkland_function_scale(2, par, 3, t, out);
    EXPECT_DOUBLE_EQ(out[0], 2.5);
    EXPECT_DOUBLE_EQ(out[1], 4.5);
    EXPECT_DOUBLE_EQ(out[2], 20.5);

    const double three[3] = {1, 2, 3};
    try {
        Kirkland_function_scale(3, three, 3, t, out);
        FAIL() << "no error for three parameters";
    } catch (const char* text) {
        EXPECT_STREQ(text, "error in Kirkland_function_scale m!=2");
    }
}

namespace {

// A profile made exactly as s * <f^2> + o, the model the fit assumes.
RDFProfile SyntheticBackground(const char* element, float s, float o, int n, float q_step) {
    RDFProfile p = MakeProfile({ElementColumn(element, 100.0f)}, q_step);
    arma::Col<float> f2;
    KirklandScatteringSquared(p, 0.0f, n, f2);
    p.profile = f2 * s + o;
    return p;
}

}  // namespace

TEST(KirklandFitCore, RecoversScaleAndOffsetOfGold) {
    RDFProfile p = SyntheticBackground("Au", 3.5f, 120.0f, 600, 0.05f);
    p.scale = 1.0f;
    p.offset = 1.0f;
    KirklandFitCore(p, 20, 500);
    EXPECT_NEAR(p.scale, 3.5f, 3.5e-3f);
    EXPECT_NEAR(p.offset, 120.0f, 0.12f);
}

TEST(KirklandFitCore, NegativeStartScaleEntersAsItsMagnitude) {
    RDFProfile p = SyntheticBackground("Si", 250.0f, 40.0f, 400, 0.08f);
    p.scale = -2.0f;
    p.offset = -5.0f;
    KirklandFitCore(p, 10, 399);
    EXPECT_GT(p.scale, 0.0f);
    EXPECT_GT(p.offset, 0.0f);
    EXPECT_NEAR(p.scale, 250.0f, 0.25f);
    EXPECT_NEAR(p.offset, 40.0f, 0.04f);
}

// From scale 1 and offset 0, as a user starts, on noisy backgrounds of
// several elements and scales: the model is linear in its two parameters, so
// the optimum is the solution of the normal equations.
TEST(KirklandFitCore, ReachesTheLinearOptimumFromScaleOneOffsetZero) {
    std::mt19937 rng(18);
    auto u = [&rng] { return (double(rng()) + 0.5) / 4294967296.0; };
    int k = 0;
    for (const char* element : {"C", "Si", "O", "Au"}) {
        for (int trial = 0; trial < 6; ++trial, ++k) {
            const float q_step = static_cast<float>(0.02 + 0.08 * u());
            const int n = 300 + static_cast<int>(300 * u());
            const double s = std::exp(std::log(2000.0) * u()), o = 500 * u();
            RDFProfile p = SyntheticBackground(element, 1.0f, 0.0f, n, q_step);
            for (float& v : p.profile) {  // 0.2 % noise, Box-Muller
                const double g = std::sqrt(-2 * std::log(u())) * std::cos(6.283185307179586 * u());
                v = static_cast<float>((s * v + o) * (1 + 0.002 * g));
            }
            const int lo = 10 + static_cast<int>(40 * u()), hi = n - 1 - static_cast<int>(20 * u());
            arma::Col<float> f2;
            KirklandScatteringSquared(p, static_cast<float>(lo) * q_step, hi - lo + 1, f2);
            arma::mat A(f2.n_elem, 2, arma::fill::ones);
            A.col(0) = arma::conv_to<arma::vec>::from(f2);
            const arma::vec y = arma::conv_to<arma::vec>::from(p.profile.subvec(lo, hi));
            const arma::vec best = arma::solve(A, y);
            ASSERT_GT(best[0], 0) << k;
            ASSERT_GT(best[1], 0) << k;
            auto ssq = [&](double a, double b) { return arma::accu(arma::square(y - A * arma::vec{a, b})); };

            p.scale = 1.0f;
            p.offset = 0.0f;
            KirklandFitCore(p, lo, hi);
            SCOPED_TRACE(testing::Message() << element << " #" << k << ": optimum " << best[0] << ", " << best[1]
                                            << "; fitted " << p.scale << ", " << p.offset);
            EXPECT_LE(ssq(p.scale, p.offset), ssq(best[0], best[1]) * (1 + 1e-6));
            EXPECT_NEAR(p.scale, best[0], 1e-4 * best[0]);
            EXPECT_NEAR(p.offset, best[1], 1e-4 * arma::mean(y));
        }
    }
}

TEST(KirklandFitCore, FailedFitKeepsValuesAndBadRangeIsRefused) {
    RDFProfile p = SyntheticBackground("Au", 3.5f, 120.0f, 100, 0.05f);
    p.scale = 7.0f;
    p.offset = 9.0f;
    // One data point for two parameters: the driver reports failure.
    EXPECT_FALSE(KirklandFitCore(p, 30, 30));
    EXPECT_EQ(p.scale, 7.0f);
    EXPECT_EQ(p.offset, 9.0f);

    EXPECT_THROW(KirklandFitCore(p, -1, 50), std::out_of_range);
    EXPECT_THROW(KirklandFitCore(p, 10, 100), std::out_of_range);
    EXPECT_THROW(KirklandFitCore(p, 60, 50), std::out_of_range);
    EXPECT_EQ(p.scale, 7.0f);
    EXPECT_EQ(p.offset, 9.0f);
}

// The fit by magnitude cannot give a negative offset or scale; the free
// straight-line fit says what the profile asks for, and so when the fit's
// value sits at 0.
TEST(KirklandFreeFit, TellsWhenTheProfileAsksForANegativeValue) {
    RDFProfile p = SyntheticBackground("Au", 20.0f, -30.0f, 300, 0.05f);
    p.profile.subvec(100, 140).zeros();  // missing: left out of both fits
    p.scale = 1.0f;
    p.offset = 0.0f;
    EXPECT_TRUE(KirklandFitCore(p, 10, 290));
    EXPECT_LT(p.offset, 0.01f);
    EXPECT_GT(std::fabs(p.scale - 20.0f), 0.2f);  // off with it
    KirklandFreeFitResult free;
    ASSERT_TRUE(KirklandFreeFit(p, 10, 290, free));
    EXPECT_NEAR(free.scale, 20.0, 2e-3);
    EXPECT_NEAR(free.offset, -30.0, 3e-3);
    EXPECT_TRUE(free.offset_below_zero);
    EXPECT_FALSE(free.scale_below_zero);

    // A scale that would be negative; an offset of 0 within rounding; a
    // background the fit can follow.
    struct Case {
        float s, o;
        bool scale_below, offset_below;
    };
    for (const Case& c :
         {Case{-2.0f, 500.0f, true, false}, Case{20.0f, 0.0f, false, false}, Case{3.5f, 120.0f, false, false},
          Case{20.0f, -0.5f, false, true}}) {  // -0.5: under half a percent of the profile, yet below 0
        const RDFProfile q = SyntheticBackground("Au", c.s, c.o, 300, 0.05f);
        ASSERT_TRUE(KirklandFreeFit(q, 10, 290, free)) << c.s;
        EXPECT_NEAR(free.scale, c.s, 1e-4 * std::fabs(c.s));
        EXPECT_EQ(free.scale_below_zero, c.scale_below) << c.s;
        EXPECT_EQ(free.offset_below_zero, c.offset_below) << c.s;
    }

    // One measured sample fixes nothing.
    free = KirklandFreeFitResult();
    EXPECT_FALSE(KirklandFreeFit(p, 30, 30, free));
    EXPECT_FALSE(KirklandFreeFit(p, 100, 140, free));  // all missing
    EXPECT_EQ(free.scale, 0.0);
    EXPECT_THROW(KirklandFreeFit(p, 10, 300, free), std::out_of_range);
}

TEST(KirklandReducedIntensity, ColumnsFollowTheBackgroundModel) {
    const float q_step = 0.05f;
    RDFProfile p = MakeProfile({ElementColumn("Au", 100.0f)}, q_step);
    p.scale = 2.0f;
    p.offset = 30.0f;
    const int n = 200;
    arma::Col<float> f2;
    KirklandScatteringSquared(p, 0.0f, n, f2);
    // Intensity 10 % above the background everywhere: phi = 0.1 * s.
    p.profile = (f2 * 2.0f + 30.0f) * 1.1f;

    const arma::Mat<float> r = KirklandReducedIntensity(p);
    ASSERT_EQ(r.n_rows, static_cast<arma::uword>(n));
    ASSERT_EQ(r.n_cols, 4u);
    EXPECT_TRUE(arma::all(r.col(0) == p.profile));
    EXPECT_TRUE(arma::all(r.col(3) == 0.0f));
    EXPECT_EQ(r(0, 2), 0.0f);
    for (int i = 0; i < n; ++i) {
        EXPECT_FLOAT_EQ(r(i, 1), f2[i] * 2.0f + 30.0f);
        const double s = i * q_step / 10.0;
        EXPECT_NEAR(r(i, 2), 0.1 * s, 1e-5 * (1 + s)) << "i=" << i;
    }
}

TEST(KirklandReducedIntensity, ZeroBackgroundGivesNonFiniteValues) {
    RDFProfile p = MakeProfile({ElementColumn("Au", 100.0f)}, 0.05f);
    p.scale = 0.0f;
    p.offset = 0.0f;
    p.profile = arma::Col<float>(20, arma::fill::ones);
    const arma::Mat<float> r = KirklandReducedIntensity(p);
    ASSERT_EQ(r.n_rows, 20u);
    EXPECT_TRUE(arma::all(r.col(1) == 0.0f));
    for (int i = 0; i < 20; ++i) EXPECT_FALSE(std::isfinite(r(i, 2))) << "i=" << i;
}
