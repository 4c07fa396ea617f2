#include "geometry/polar_projection.h"
#include "geometry/polar_angle.h"
#include "geometry/worker_threads.h"
#include "tests/geometry/simd_levels.h"
#include "tests/geometry/thread_count_guard.h"

#include "synthetic_pattern.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

void Centred(DiffractionPattern& p, unsigned w, unsigned h, float cx, float cy) {
    p.image.set_size(w, h);
    for (unsigned y = 0; y < h; ++y)
        for (unsigned x = 0; x < w; ++x) p.image(x, y) = static_cast<float>(x + 1000 * y);
    p.centerX = cx;
    p.centerY = cy;
}

bool SameBits(const arma::Mat<float>& a, const arma::Mat<float>& b) {
    return a.n_rows == b.n_rows && a.n_cols == b.n_cols &&
           std::memcmp(a.memptr(), b.memptr(), a.n_elem * sizeof(float)) == 0;
}

// The rebinning over every pixel in row-major order.
void ReferenceRebin(const arma::Mat<float>& m, arma::Mat<float>& RS, arma::Mat<float>& RW, int rmin, int rmax, float cx,
                    float cy, int na) {
    const int n = rmax - rmin;
    RS.zeros(n, na);
    RW.zeros(n + 1, na);
    const float b = static_cast<float>(na / (2 * M_PI));
    for (unsigned x = 0; x < m.n_rows; ++x)
        for (unsigned y = 0; y < m.n_cols; ++y) {
            const float dx = static_cast<float>(x) - cx, dy = static_cast<float>(y) - cy;
            const float rho = std::sqrt(dx * dx + dy * dy) - static_cast<float>(rmin);
            const float v = m(x, y);
            if (!(rho > 0.0f && rho < static_cast<float>(n - 1)) || v == 0.0f) continue;
            const int j = std::min(na - 1, static_cast<int>(std::floor(PolarAngle(dx, dy) * b)));
            const float f = std::floor(rho), sh = rho - f;
            const unsigned i = static_cast<unsigned>(f);
            RS(i, j) += v * (1.0f - sh);
            RW(i, j) += 1.0f - sh;
            RS(i + 1, j) += v * sh;
            RW(i + 1, j) += sh;
        }
}

// The projection sample by sample, radius by radius.
arma::Mat<float> ReferenceProjection(const DiffractionPattern& p, unsigned r_min, unsigned r_max, unsigned n_a) {
    const unsigned n_r = r_max - r_min;
    const unsigned N = n_a ? n_a : static_cast<unsigned>(static_cast<double>(2 * r_max) * M_PI);
    arma::Mat<float> P(N, n_r, arma::fill::zeros);
    for (unsigned c = 0; c < n_r; ++c)
        for (unsigned k = 0; k < N; ++k) {
            const double a = 2.0 * M_PI * static_cast<double>(static_cast<float>(k) / static_cast<float>(N));
            const double r = r_min + c;
            const double fx = std::trunc(r * std::cos(a) + p.centerX), fy = std::trunc(r * std::sin(a) + p.centerY);
            if (fx >= 0 && fx < p.image.n_rows && fy >= 0 && fy < p.image.n_cols)
                P(k, c) = p.image(static_cast<unsigned>(fx), static_cast<unsigned>(fy));
        }
    return P;
}

}  // namespace

TEST(Projection, AutomaticAngleCounts) {
    DiffractionPattern p;
    Centred(p, 512, 512, 256, 256);
    const std::int32_t R = MaxRadius(p, 1) - 5;
    ASSERT_EQ(R, 250);
    EXPECT_EQ(AzimuthalProjectionCore(p, 1, R, 1).n_rows, 403u);
    EXPECT_EQ(AzimuthalProjectionCore(p, 1, R, 0).n_rows, 1570u);
    const arma::Mat<float> m = AzimuthalProjectionCore(p, 1, R, 360);
    EXPECT_EQ(m.n_rows, 360u);
    EXPECT_EQ(m.n_cols, 249u);
    EXPECT_THROW(AzimuthalProjectionCore(p, 5, 5, 0), std::invalid_argument);
}

TEST(Projection, SamplesRunFromPlusXTowardPlusY) {
    DiffractionPattern p;
    Centred(p, 100, 80, 40.5f, 30.25f);
    const arma::Mat<float> m = AzimuthalProjectionCore(p, 2, 60, 8);
    // Column c is radius 2 + c; sample 0 lies at (cx + r, cy), sample 2 at
    // (cx, cy + r) (x truncated from cx + r cos(pi/2)).
    const unsigned c = 10;  // r = 12
    EXPECT_EQ(m(0, c), p.image(52, 30));
    EXPECT_EQ(m(2, c), p.image(40, 42));
    EXPECT_EQ(m(4, c), p.image(28, 30));
    // Beyond the image: 0.
    EXPECT_EQ(m(2, 57), 0.0f);  // y = 30.25 + 59
    // Zero-valued pixels are copied like any other: nothing to skip here.
    p.image(52, 30) = 0.0f;
    EXPECT_EQ(AzimuthalProjectionCore(p, 2, 60, 8)(0, c), 0.0f);
}

TEST(PolarRebin, SizesAndInnerBound) {
    arma::Mat<float> m(128, 128, arma::fill::zeros);
    m(74, 64) = 3.0f;  // distance exactly 10 from (64, 64): rho = 0, not counted
    arma::Mat<float> S, W;
    PolarRebin(m, S, W, 10, 60, 64.0f, 64.0f, 36);
    EXPECT_EQ(S.n_rows, 50u);
    EXPECT_EQ(W.n_rows, 51u);
    EXPECT_EQ(S.n_cols, 36u);
    EXPECT_EQ(arma::accu(W), 0.0f);

    m(75, 60) = 2.0f;  // d = sqrt(11^2 + 4^2) = 11.705, angle 0.3488
    PolarRebin(m, S, W, 10, 60, 64.0f, 64.0f, 36);
    const float rho = std::sqrt(121.0f + 16.0f) - 10.0f;
    const int j = static_cast<int>(std::floor(PolarAngle(11.0f, -4.0f) * static_cast<float>(36 / (2 * M_PI))));
    EXPECT_EQ(j, 1);  // 0.3488 rad, just below 2 pi * 2 / 36
    EXPECT_FLOAT_EQ(W(1, j), 1.0f - (rho - 1.0f));
    EXPECT_FLOAT_EQ(W(2, j), rho - 1.0f);
    EXPECT_FLOAT_EQ(S(1, j) + S(2, j), 2.0f);
    EXPECT_FLOAT_EQ(arma::accu(W), 1.0f);
    EXPECT_THROW(PolarRebin(m, S, W, 10, 10, 64.0f, 64.0f, 36), std::invalid_argument);
    EXPECT_THROW(PolarRebin(m, S, W, 10, 20, 64.0f, 64.0f, 0), std::invalid_argument);
}

TEST(PolarRebin, AngleRoundingUpToTwoPiStaysInTheTable) {
    // An offset just below the +x axis on the -y side of the angle scale:
    // atan2 gives a tiny negative angle that the lift rounds to 2 pi. The
    // centre holds the offset exactly (30 - 2^-19 is a float).
    const float dx = 40.0f, cy = 30.0f - 0x1p-19f;
    ASSERT_EQ(30.0f - cy, 0x1p-19f);
    ASSERT_EQ(PolarAngle(dx, 30.0f - cy), static_cast<float>(2 * M_PI));
    arma::Mat<float> m(64, 64, arma::fill::zeros);
    m(60, 30) = 1.0f;
    arma::Mat<float> S, W;
    PolarRebin(m, S, W, 5, 50, 20.0f, cy, 8);
    EXPECT_FLOAT_EQ(arma::accu(W.col(7)), 1.0f);
    EXPECT_FLOAT_EQ(arma::accu(W), 1.0f);
}

TEST(PolarRebin, RingSitsInEveryAngleBin) {
    RingSpec s;
    s.cx = 201.3;
    s.cy = 188.8;
    s.width = 400;
    s.height = 380;
    s.radii = {100.0};
    s.background = 0.5;
    arma::Mat<float> S, W;
    PolarRebin(MakeRingPattern(s), S, W, 80, 120, 201.3f, 188.8f, 24);
    for (unsigned a = 0; a < 24; ++a) {
        const arma::Col<float> mean = S.col(a) / W.col(a).eval().head_rows(40);
        EXPECT_EQ(mean.index_max(), 20u) << a;
    }
}

TEST(PolarRebin, SkippingFarPixelsKeepsEveryBit) {
    RingSpec s;
    s.width = 260;
    s.height = 300;
    s.noise = 25;
    s.beamStop = 15;
    const arma::Mat<float> m = MakeRingPattern(s);
    const float centres[][2] = {{128.3f, 151.7f}, {3.5f, 290.25f}, {-40.0f, 100.0f}, {200.9f, 10.1f}};
    for (const auto& c : centres) {
        for (int rmin : {0, 25}) {
            arma::Mat<float> RS, RW;
            ReferenceRebin(m, RS, RW, rmin, rmin + 90, c[0], c[1], 17);
            AtEverySimdLevel([&] {
                arma::Mat<float> S, W;
                PolarRebin(m, S, W, rmin, rmin + 90, c[0], c[1], 17);
                EXPECT_TRUE(SameBits(S, RS));
                EXPECT_TRUE(SameBits(W, RW));
            });
        }
    }
}

// Bands of table rows on several threads against the single-thread order.
TEST(PolarRebin, ThreadedBandsKeepEveryBit) {
    ThreadCountGuard guard;
    RingSpec s;
    s.width = 1000;
    s.height = 900;
    s.cx = 480;
    s.cy = 470;
    s.radii = {150.0, 300.0};
    s.noise = 25;
    s.beamStop = 15;
    arma::Mat<float> m = MakeRingPattern(s);
    m.row(500).zeros();
    const float centres[][2] = {{480.37f, 469.79f}, {-60.5f, 300.25f}};
    for (const auto& c : centres) {
        for (int rmin : {0, 40}) {
            arma::Mat<float> RS, RW;
            ReferenceRebin(m, RS, RW, rmin, 700, c[0], c[1], 36);
            for (unsigned threads : {1u, 2u, 3u, 8u}) {
                SCOPED_TRACE(testing::Message() << c[0] << " " << rmin << " " << threads << " threads");
                SetWorkerThreadCount(threads);
                arma::Mat<float> S, W;
                PolarRebin(m, S, W, rmin, 700, c[0], c[1], 36);
                EXPECT_TRUE(SameBits(S, RS));
                EXPECT_TRUE(SameBits(W, RW));
            }
        }
    }
}

TEST(Projection, ThreadedColumnsKeepEverySample) {
    ThreadCountGuard guard;
    DiffractionPattern p;
    Centred(p, 700, 600, 300.4f, 280.6f);
    const float centres[][2] = {{300.4f, 280.6f}, {-90.5f, 550.25f}};
    for (const auto& c : centres) {
        p.centerX = c[0];
        p.centerY = c[1];
        const arma::Mat<float> ref = ReferenceProjection(p, 3, 450, 0);
        for (unsigned threads : {1u, 2u, 3u, 8u}) {
            SetWorkerThreadCount(threads);
            EXPECT_TRUE(SameBits(AzimuthalProjectionCore(p, 3, 450, 0), ref)) << threads << " threads";
        }
    }
}
