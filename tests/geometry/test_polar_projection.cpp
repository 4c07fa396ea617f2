#include "geometry/polar_projection.h"
#include "geometry/polar_angle.h"

#include "synthetic_pattern.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

void Centred(DiffractionPattern &p, unsigned w, unsigned h, float cx, float cy)
{
    p.image.set_size(w, h);
    for (unsigned y = 0; y < h; ++y)
        for (unsigned x = 0; x < w; ++x)
            p.image(x, y) = static_cast<float>(x + 1000 * y);
    p.centerX = cx;
    p.centerY = cy;
}

} // namespace

TEST(Projection, AutomaticAngleCounts)
{
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

TEST(Projection, SamplesRunFromPlusXTowardPlusY)
{
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

TEST(PolarRebin, SizesAndInnerBound)
{
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

TEST(PolarRebin, AngleRoundingUpToTwoPiStaysInTheTable)
{
    // An offset just below the +x axis on the -y side of the angle scale:
    // atan2 gives a tiny negative angle that the lift rounds to 2 pi.
    const float dy = 1e-6f, dx = 20.0f;
    ASSERT_EQ(PolarAngle(dx, dy), static_cast<float>(2 * M_PI));
    arma::Mat<float> m(64, 64, arma::fill::zeros);
    m(40, 30) = 1.0f;
    arma::Mat<float> S, W;
    PolarRebin(m, S, W, 5, 30, 20.0f, 30.0f - dy, 8);
    EXPECT_FLOAT_EQ(arma::accu(W.col(7)), 1.0f);
}

TEST(PolarRebin, RingSitsInEveryAngleBin)
{
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

TEST(PolarRebin, SkippingFarPixelsKeepsEveryBit)
{
    RingSpec s;
    s.width = 260;
    s.height = 300;
    s.noise = 25;
    s.beamStop = 15;
    const arma::Mat<float> m = MakeRingPattern(s);
    const float centres[][2] = {{128.3f, 151.7f}, {3.5f, 290.25f}, {-40.0f, 100.0f}, {200.9f, 10.1f}};
    for (const auto &c : centres) {
        for (int rmin : {0, 25}) {
            const int rmax = rmin + 90, n = 90, na = 17;
            arma::Mat<float> S, W, RS(n, na, arma::fill::zeros), RW(n + 1, na, arma::fill::zeros);
            PolarRebin(m, S, W, rmin, rmax, c[0], c[1], na);
            const float b = static_cast<float>(na / (2 * M_PI));
            for (unsigned x = 0; x < m.n_rows; ++x)
                for (unsigned y = 0; y < m.n_cols; ++y) {
                    const float dx = static_cast<float>(x) - c[0], dy = static_cast<float>(y) - c[1];
                    const float rho = std::sqrt(dx * dx + dy * dy) - static_cast<float>(rmin);
                    const float v = m(x, y);
                    if (!(rho > 0.0f && rho < static_cast<float>(n - 1)) || v == 0.0f)
                        continue;
                    const int j = std::min(na - 1, static_cast<int>(std::floor(PolarAngle(dx, dy) * b)));
                    const float f = std::floor(rho), sh = rho - f;
                    const unsigned i = static_cast<unsigned>(f);
                    RS(i, j) += v * (1.0f - sh);
                    RW(i, j) += 1.0f - sh;
                    RS(i + 1, j) += v * sh;
                    RW(i + 1, j) += sh;
                }
            EXPECT_EQ(std::memcmp(S.memptr(), RS.memptr(), S.n_elem * sizeof(float)), 0);
            EXPECT_EQ(std::memcmp(W.memptr(), RW.memptr(), W.n_elem * sizeof(float)), 0);
        }
    }
}
