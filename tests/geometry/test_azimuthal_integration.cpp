#include "geometry/azimuthal_integration.h"
#include "geometry/polar_angle.h"
#include "geometry/worker_threads.h"
#include "tests/geometry/simd_levels.h"
#include "tests/geometry/thread_count_guard.h"

#include "synthetic_pattern.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

// Straight transcription of the binning over every pixel, to hold the
// kernels' skipping of far pixels to the same bits.
arma::Col<float> ReferenceKernel(const arma::Mat<float>& m, unsigned r_min, unsigned r_max, float cx, float cy,
                                 bool elliptical, float q, float a, bool sector, float start, float end, int plain) {
    arma::Col<float> sums(r_max, arma::fill::zeros), weights(r_max, arma::fill::zeros);
    const float theta = -a;
    const float ct = std::cos(theta), st = std::sin(theta);
    const float g = static_cast<float>((static_cast<double>(q) + 1.0) / 2.0);
    for (unsigned x = 0; x < m.n_rows; ++x) {
        for (unsigned y = 0; y < m.n_cols; ++y) {
            const float dx = static_cast<float>(x) - cx, dy = static_cast<float>(y) - cy;
            float r, ax = dx, ay = dy;
            if (elliptical) {
                const float u = (ct / q) * dx + (st / q) * dy;
                const float w = (-st) * dx + ct * dy;
                ax = u;
                ay = w;
                r = std::sqrt(u * u + w * w) * g;
            } else {
                r = std::sqrt(dx * dx + dy * dy);
            }
            if (!(r > static_cast<float>(static_cast<int>(r_min) - 1) &&
                  r < static_cast<float>(static_cast<int>(r_max) - 1)))
                continue;
            const float v = m(x, y);
            if (v == 0.0f) continue;
            if (sector) {
                const float phi = PolarAngle(ax, ay);
                const bool keep = end > start   ? (start < phi && phi < end)
                                  : start > end ? (phi > start || phi < end)
                                                : false;
                if (!keep) continue;
            }
            const float f = std::floor(r), s = r - f;
            const unsigned k = static_cast<unsigned>(f);
            sums[k] += v * (1.0f - s);
            weights[k] += 1.0f - s;
            sums[k + 1] += v * s;
            weights[k + 1] += s;
        }
    }
    if (plain == 0) {
        for (unsigned k = 1; k < r_max; ++k) weights[k] = weights[k] / static_cast<float>(k);
        const float mean = arma::mean(weights.subvec(r_min, r_max - 1));
        for (unsigned k = 0; k < r_max; ++k) weights[k] = weights[k] / mean;
    }
    for (unsigned k = 0; k < r_max; ++k)
        if (weights[k] != 0.0f) sums[k] = sums[k] / weights[k];
    return sums;
}

bool SameBits(const arma::Col<float>& a, const arma::Col<float>& b) {
    return a.n_elem == b.n_elem && std::memcmp(a.memptr(), b.memptr(), a.n_elem * sizeof(float)) == 0;
}

arma::uword PeakNear(const arma::Col<float>& p, double r, int halfWindow = 8) {
    const arma::uword lo = static_cast<arma::uword>(r - halfWindow);
    return lo + p.subvec(lo, static_cast<arma::uword>(r + halfWindow)).index_max();
}

// Height over half-maximum width of the peak near r, a sharpness measure.
double Sharpness(const arma::Col<float>& p, double r) {
    const arma::uword k = PeakNear(p, r);
    const double base = p[k - 20], top = p[k];
    int width = 0;
    for (arma::uword i = k - 15; i <= k + 15; ++i) width += p[i] - base > 0.5 * (top - base);
    return (top - base) / width;
}

}  // namespace

TEST(Kernels, SinglePixelIsSharedBetweenTwoBins) {
    arma::Mat<float> m(10, 10, arma::fill::zeros);
    m(5, 5) = 4.0f;
    const arma::Col<float> p = AzimuthalIntegralKernel(m, 0, 8, 2.75f, 5.0f, 1);
    ASSERT_EQ(p.n_elem, 8u);
    for (unsigned k = 0; k < 8; ++k) EXPECT_EQ(p[k], (k == 2 || k == 3) ? 4.0f : 0.0f) << k;
}

TEST(Kernels, RangeBoundsAndCentrePixel) {
    arma::Mat<float> m(21, 21, arma::fill::ones);
    const arma::Col<float> p = AzimuthalIntegralKernel(m, 0, 10, 10, 10, 1);
    ASSERT_EQ(p.n_elem, 10u);
    for (float v : p) EXPECT_FLOAT_EQ(v, 1.0f);

    // Only the centre pixel, at r = 0: wholly bin 0 with r_min = 0, not at all
    // with r_min = 1; in the middle of a packed group at every level.
    arma::Mat<float> c(21, 21, arma::fill::zeros);
    c(10, 10) = 7.0f;
    AtEverySimdLevel([&] {
        EXPECT_EQ(AzimuthalIntegralKernel(c, 0, 10, 10, 10, 1)[0], 7.0f);
        EXPECT_EQ(AzimuthalIntegralEllipticityKernel(c, 0, 10, 10, 10, 1.05f, 0.3f, 1)[0], 7.0f);
        const arma::Col<float> none = AzimuthalIntegralKernel(c, 1, 10, 10, 10, 1);
        EXPECT_TRUE(arma::all(none == 0.0f));
    });

    // Bin 9 of r_max = 10 holds only upper shares of pixels with 8 < r < 9;
    // a pixel at r = 9 exactly is out.
    arma::Mat<float> e(21, 21, arma::fill::zeros);
    e(19, 10) = 5.0f;  // r = 9
    e(18, 10) = 3.0f;  // r = 8
    arma::Col<float> q = AzimuthalIntegralKernel(e, 0, 10, 10, 10, 1);
    EXPECT_EQ(q[9], 0.0f);
    EXPECT_EQ(q[8], 3.0f);
    e(10, 18) = 0.0f;
    e(16, 16) = 2.0f;  // r = 8.485
    q = AzimuthalIntegralKernel(e, 0, 10, 10, 10, 1);
    EXPECT_FLOAT_EQ(q[9], 2.0f);
}

TEST(Kernels, ZeroPixelsAreMissingData) {
    arma::Mat<float> m(64, 64);
    m.fill(5.0f);
    const arma::Col<float> full = AzimuthalIntegralKernel(m, 0, 30, 31.3f, 30.8f, 1);
    m.cols(20, 23).zeros();
    const arma::Col<float> striped = AzimuthalIntegralKernel(m, 0, 30, 31.3f, 30.8f, 1);
    for (unsigned k = 0; k < 30; ++k) {
        EXPECT_NEAR(striped[k], 5.0f, 1e-5) << k;
        EXPECT_NEAR(full[k], 5.0f, 1e-5) << k;
    }
}

TEST(Kernels, NoCountedPixel) {
    arma::Mat<float> z(32, 32, arma::fill::zeros);
    EXPECT_TRUE(arma::all(AzimuthalIntegralKernel(z, 0, 12, 16, 16, 1) == 0.0f));
    EXPECT_TRUE(AzimuthalIntegralKernel(z, 0, 12, 16, 16, 0).has_nan());
    // An empty image (an invalid host image) behaves the same.
    arma::Mat<float> empty;
    EXPECT_TRUE(arma::all(AzimuthalIntegralKernel(empty, 0, 12, 16, 16, 1) == 0.0f));
    EXPECT_TRUE(AzimuthalIntegralEllipticityKernel(empty, 0, 12, 0, 0, 1.1f, 0.3f, 0).has_nan());
    // An inner radius beyond the outer admits nothing.
    arma::Mat<float> ones(32, 32, arma::fill::ones);
    const arma::Col<float> p = AzimuthalIntegralKernel(ones, 100, 50, 16, 16, 1);
    EXPECT_EQ(p.n_elem, 50u);
    EXPECT_TRUE(arma::all(p == 0.0f));
    EXPECT_EQ(AzimuthalIntegralKernel(ones, 0, 0, 16, 16, 0).n_elem, 0u);
    // A centre that is not a number counts nothing.
    EXPECT_TRUE(arma::all(AzimuthalIntegralKernel(ones, 0, 12, NAN, 3, 1) == 0.0f));
}

TEST(Kernels, CoverageNormalisation) {
    // A disc of ones fully inside the image: weights[k] / k ~ 2 pi for k >= 1,
    // so plain = 0 gives roughly k * mean(weights[k]/k) for bin k.
    arma::Mat<float> m(101, 101, arma::fill::ones);
    const arma::Col<float> plain = AzimuthalIntegralKernel(m, 0, 40, 50, 50, 1);
    const arma::Col<float> norm = AzimuthalIntegralKernel(m, 0, 40, 50, 50, 0);
    EXPECT_FLOAT_EQ(plain[20], 1.0f);
    // norm[k] = k * m with m the mean of weights/k over bins 0..39, close to 2 pi.
    EXPECT_NEAR(norm[20] / 20.0f, norm[30] / 30.0f, 0.02);
    EXPECT_NEAR(norm[20] / 20.0f, 2.0 * M_PI, 0.4);
}

TEST(Kernels, SectorBoundariesAndWrap) {
    // Pixels around (50, 50): angles are measured toward -y.
    EXPECT_EQ(PolarAngle(10.0f, 0.0f), 0.0f);
    EXPECT_FLOAT_EQ(PolarAngle(0.0f, -10.0f), static_cast<float>(M_PI / 2));

    arma::Mat<float> m(101, 101, arma::fill::zeros);
    const int ax = 57, ay = 43;  // dx = 7, dy = -7: 45 degrees
    m(ax, ay) = 1.0f;
    const float phi = PolarAngle(7.0f, -7.0f);
    // The end is exclusive, the start too.
    EXPECT_TRUE(arma::all(AzimuthalIntegralSektorKernel(m, 0, 20, 0.5f, phi, 50, 50, 1) == 0.0f));
    EXPECT_TRUE(arma::all(AzimuthalIntegralSektorKernel(m, 0, 20, phi, 1.0f, 50, 50, 1) == 0.0f));
    EXPECT_GT(arma::accu(AzimuthalIntegralSektorKernel(m, 0, 20, 0.5f, std::nextafter(phi, 9.0f), 50, 50, 1)), 0.0f);

    // Wrap across zero: 6.0 .. 0.5 keeps 0.2 rad and 6.1 rad, not 3 rad.
    auto at = [&](double angle) {
        arma::Mat<float> one(101, 101, arma::fill::zeros);
        const int x = 50 + static_cast<int>(std::lround(20 * std::cos(angle)));
        const int y = 50 - static_cast<int>(std::lround(20 * std::sin(angle)));
        one(x, y) = 1.0f;
        return arma::accu(AzimuthalIntegralSektorKernel(one, 0, 30, 6.0f, 0.5f, 50, 50, 1));
    };
    EXPECT_GT(at(0.2), 0.0f);
    EXPECT_GT(at(6.1), 0.0f);
    EXPECT_EQ(at(3.0), 0.0f);
    EXPECT_EQ(at(0.7), 0.0f);
    // Equal start and end keep nothing.
    arma::Mat<float> ones(101, 101, arma::fill::ones);
    EXPECT_TRUE(arma::all(AzimuthalIntegralSektorKernel(ones, 0, 30, 1.0f, 1.0f, 50, 50, 1) == 0.0f));
}

TEST(Kernels, RatioOneIsThePlainKernel) {
    RingSpec s;
    s.cx = 250.3;
    s.cy = 261.7;
    s.noise = 10;
    const arma::Mat<float> m = MakeRingPattern(s);
    const arma::Col<float> plain = AzimuthalIntegralKernel(m, 0, 240, 250.3f, 261.7f, 0);
    for (float a : {0.0f, 0.7f, 2.5f}) {
        const arma::Col<float> e = AzimuthalIntegralEllipticityKernel(m, 0, 240, 250.3f, 261.7f, 1.0f, a, 0);
        ASSERT_EQ(e.n_elem, plain.n_elem);
        for (unsigned k = 0; k < 240; ++k) EXPECT_NEAR(e[k], plain[k], 1e-3 * std::fabs(plain[k]) + 1e-3) << k;
    }
}

TEST(Kernels, SkippingFarPixelsKeepsEveryBit) {
    RingSpec s;
    s.width = 300;
    s.height = 220;
    s.cx = 140.37;
    s.cy = 101.9;
    s.ratio = 1.06;
    s.angle = 0.6;
    s.noise = 30;
    s.beamStop = 12;
    const arma::Mat<float> m = MakeRingPattern(s);
    struct Case {
        unsigned rmin, rmax;
        float cx, cy, q, a, start, end;
        int plain;
    };
    const Case cases[] = {
        {0, 90, 140.37f, 101.9f, 1.06f, 0.6f, 0.3f, 2.0f, 0},   {0, 250, 140.37f, 101.9f, 1.09f, 2.2f, 5.0f, 1.0f, 1},
        {40, 80, 140.37f, 101.9f, 1.03f, -0.4f, 1.0f, 6.0f, 0}, {70, 75, 10.5f, 7.25f, 1.2f, 1.0f, 0.0f, 6.2831855f, 1},
        {3, 60, -30.0f, 250.0f, 1.5f, 0.0f, 2.0f, 1.0f, 0},     {0, 40, 5000.0f, 0.0f, 0.8f, 0.1f, 0.1f, 0.2f, 1},
        {10, 400, 299.9f, 219.1f, 1.0f, 3.0f, 3.0f, 0.5f, 0},
    };
    AtEverySimdLevel([&] {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << c.rmin << " " << c.rmax << " " << c.cx << " " << c.cy);
            EXPECT_TRUE(SameBits(AzimuthalIntegralKernel(m, c.rmin, c.rmax, c.cx, c.cy, c.plain),
                                 ReferenceKernel(m, c.rmin, c.rmax, c.cx, c.cy, false, 1, 0, false, 0, 0, c.plain)));
            EXPECT_TRUE(SameBits(AzimuthalIntegralEllipticityKernel(m, c.rmin, c.rmax, c.cx, c.cy, c.q, c.a, c.plain),
                                 ReferenceKernel(m, c.rmin, c.rmax, c.cx, c.cy, true, c.q, c.a, false, 0, 0, c.plain)));
            EXPECT_TRUE(
                SameBits(AzimuthalIntegralSektorKernel(m, c.rmin, c.rmax, c.start, c.end, c.cx, c.cy, c.plain),
                         ReferenceKernel(m, c.rmin, c.rmax, c.cx, c.cy, false, 1, 0, true, c.start, c.end, c.plain)));
            EXPECT_TRUE(SameBits(
                AzimuthalIntegralSektorEllipticityKernel(m, c.rmin, c.rmax, c.start, c.end, c.cx, c.cy, c.q, c.a,
                                                         c.plain),
                ReferenceKernel(m, c.rmin, c.rmax, c.cx, c.cy, true, c.q, c.a, true, c.start, c.end, c.plain)));
        }
    });
}

TEST(Kernels, RatiosThatAreNotPositiveStayInsideTheProfile) {
    arma::Mat<float> m(40, 40, arma::fill::ones);
    for (float q : {-3.0f, -0.5f, 0.0f, NAN, INFINITY}) {
        const arma::Col<float> p = AzimuthalIntegralEllipticityKernel(m, 0, 10, 20, 20, q, 0.3f, 1);
        EXPECT_EQ(p.n_elem, 10u);
    }
}

TEST(Cores, RingsAppearAtTheirRadii) {
    RingSpec s;
    s.cx = 250.3;
    s.cy = 261.7;
    s.noise = 20;
    s.beamStop = 20;
    DiffractionPattern p;
    p.image = MakeRingPattern(s);
    p.centerX = 250.3f;
    p.centerY = 261.7f;
    p.axisRatio = 1.0f;
    p.angle = 0.0f;
    for (int plain : {0, 1}) {
        const arma::Col<float> full = AzimuthalIntegralCore(p, 0, 240, plain);
        const arma::Col<float> sect = AzimuthalIntegralSektorCore(p, 0, 240, 5.5f, 1.0f, plain);
        for (double r : s.radii) {
            EXPECT_EQ(PeakNear(full, r), static_cast<arma::uword>(r));
            EXPECT_EQ(PeakNear(sect, r), static_cast<arma::uword>(r));
        }
    }
    std::int32_t pos = -1;
    AzimuthalProfileMax(p, 0, 240, pos);
    EXPECT_TRUE(pos == 60 || pos == 120 || pos == 180) << pos;
    // The strongest ring wins wherever it lies.
    s.amplitudes = {50, 50, 200};
    p.image = MakeRingPattern(s);
    AzimuthalProfileMax(p, 100, 240, pos);
    EXPECT_EQ(pos, 180);
}

TEST(Cores, EllipticalRingIsSharpWithItsOwnRatioAndAngle) {
    RingSpec s;
    s.cx = 255.4;
    s.cy = 249.1;
    s.ratio = 1.06;
    s.angle = 0.9;
    s.radii = {90.0, 170.0};
    s.sigma = 1.5;
    DiffractionPattern p;
    p.image = MakeRingPattern(s);
    p.centerX = 255.4f;
    p.centerY = 249.1f;
    p.axisRatio = 1.06f;
    p.angle = 0.9f;
    const arma::Col<float> corrected = AzimuthalIntegralEllipticityCore(p, 0, 240, 1);
    const arma::Col<float> sector = AzimuthalIntegralSektorEllipticityCore(p, 0, 240, 1.0f, 2.5f, 1);
    const arma::Col<float> uncorrected = AzimuthalIntegralCore(p, 0, 240, 1);

    RingSpec c = s;
    c.ratio = 1.0;
    DiffractionPattern circ;
    circ.image = MakeRingPattern(c);
    circ.centerX = p.centerX;
    circ.centerY = p.centerY;
    const arma::Col<float> circular = AzimuthalIntegralCore(circ, 0, 240, 1);
    for (double r : s.radii) {
        EXPECT_EQ(PeakNear(corrected, r), static_cast<arma::uword>(r));
        EXPECT_EQ(PeakNear(sector, r), static_cast<arma::uword>(r));
        EXPECT_NEAR(Sharpness(corrected, r), Sharpness(circular, r), 0.05 * Sharpness(circular, r));
        EXPECT_LT(Sharpness(uncorrected, r), 0.6 * Sharpness(corrected, r));
    }
}

// Bands of bins on several threads against the single-thread pixel order, on
// images large enough for up to eight bands, with missing pixels, centres
// inside and outside the image, and sectors across the zero angle.
TEST(Kernels, ThreadedBandsKeepEveryBit) {
    ThreadCountGuard guard;
    struct Image {
        unsigned w, h;
    };
    for (const Image im : {Image{1100, 1000}, Image{430, 610}}) {
        RingSpec s;
        s.width = im.w;
        s.height = im.h;
        s.cx = im.w * 0.45;
        s.cy = im.h * 0.55;
        s.ratio = 1.05;
        s.angle = 0.4;
        s.radii = {im.h * 0.1, im.h * 0.3};
        s.noise = 20;
        s.beamStop = 15;
        arma::Mat<float> m = MakeRingPattern(s);
        m.col(im.h / 3).zeros();  // a dead line of pixels
        const float centres[][2] = {{static_cast<float>(s.cx) + 0.37f, static_cast<float>(s.cy) - 0.21f},
                                    {-150.5f, im.h * 0.5f + 0.25f}};
        const unsigned r_max = im.w + im.h;  // past every corner
        for (const auto& c : centres) {
            for (unsigned r_min : {0u, 40u}) {
                for (int plain : {0, 1}) {
                    SCOPED_TRACE(testing::Message() << im.w << "x" << im.h << " centre " << c[0] << " r_min " << r_min
                                                    << " plain " << plain);
                    const arma::Col<float> ref[4] = {
                        ReferenceKernel(m, r_min, r_max, c[0], c[1], false, 1, 0, false, 0, 0, plain),
                        ReferenceKernel(m, r_min, r_max, c[0], c[1], true, 1.05f, 0.4f, false, 0, 0, plain),
                        ReferenceKernel(m, r_min, r_max, c[0], c[1], false, 1, 0, true, 5.0f, 1.0f, plain),
                        ReferenceKernel(m, r_min, r_max, c[0], c[1], true, 1.05f, 0.4f, true, 0.3f, 2.0f, plain)};
                    for (unsigned threads : {1u, 2u, 3u, 8u}) {
                        SetWorkerThreadCount(threads);
                        SCOPED_TRACE(testing::Message() << threads << " threads");
                        EXPECT_TRUE(SameBits(AzimuthalIntegralKernel(m, r_min, r_max, c[0], c[1], plain), ref[0]));
                        EXPECT_TRUE(SameBits(
                            AzimuthalIntegralEllipticityKernel(m, r_min, r_max, c[0], c[1], 1.05f, 0.4f, plain),
                            ref[1]));
                        EXPECT_TRUE(SameBits(
                            AzimuthalIntegralSektorKernel(m, r_min, r_max, 5.0f, 1.0f, c[0], c[1], plain), ref[2]));
                        EXPECT_TRUE(SameBits(AzimuthalIntegralSektorEllipticityKernel(m, r_min, r_max, 0.3f, 2.0f, c[0],
                                                                                      c[1], 1.05f, 0.4f, plain),
                                             ref[3]));
                    }
                }
            }
        }
    }
}

// The packed path against the reference on what it must not drop or reorder:
// runs shorter than a packed width and chunk tails (narrow images), zero
// pixels inside a packed group, not-a-number and infinite values, bins at
// band edges (three bands on the large image); at every packed level. Sums
// that meet a not-a-number must be one; which of its bit patterns depends on
// operand order in the reference's compiled code, so not-a-numbers compare
// as equal.
TEST(Kernels, PackedSharesKeepEveryBitOnOddPixels) {
    ThreadCountGuard guard;
    auto same = [](const arma::Col<float>& a, const arma::Col<float>& b) {
        if (a.n_elem != b.n_elem) return false;
        for (arma::uword k = 0; k < a.n_elem; ++k)
            if (!(std::isnan(a[k]) && std::isnan(b[k])) && std::memcmp(&a[k], &b[k], sizeof(float)) != 0) return false;
        return true;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    struct Image {
        unsigned rows, cols;
    };
    for (const Image im : {Image{7, 5}, Image{3, 17}, Image{9, 640}, Image{700, 600}}) {
        arma::Mat<float> m(im.rows, im.cols);
        for (arma::uword i = 0; i < m.n_elem; ++i) m[i] = static_cast<float>((i * 7919u) % 1000u) * 0.37f - 20.0f;
        for (arma::uword i = 0; i < m.n_elem; i += 5) m[i] = 0.0f;
        m[m.n_elem / 3] = nan;
        m[m.n_elem / 2 + 1] = inf;
        m[m.n_elem - 2] = -0.0f;
        const unsigned r_max = im.rows + im.cols;
        const float centres[][2] = {{im.rows * 0.5f + 0.37f, im.cols * 0.5f - 0.21f}, {-3.3f, im.cols * 0.4f + 0.13f}};
        bool sawNaN = false;
        for (const auto& c : centres) {
            for (unsigned r_min : {0u, 3u}) {
                const arma::Col<float> ref[4] = {
                    ReferenceKernel(m, r_min, r_max, c[0], c[1], false, 1, 0, false, 0, 0, 1),
                    ReferenceKernel(m, r_min, r_max, c[0], c[1], true, 1.07f, 0.4f, false, 0, 0, 1),
                    ReferenceKernel(m, r_min, r_max, c[0], c[1], false, 1, 0, true, 0.3f, 6.0f, 1),
                    ReferenceKernel(m, r_min, r_max, c[0], c[1], true, 1.07f, 0.4f, true, 5.5f, 1.0f, 1)};
                sawNaN = sawNaN || ref[0].has_nan();
                AtEverySimdLevel([&] {
                    for (unsigned threads : {1u, 3u}) {
                        SetWorkerThreadCount(threads);
                        SCOPED_TRACE(testing::Message() << im.rows << "x" << im.cols << " centre " << c[0] << " r_min "
                                                        << r_min << ", " << threads << " threads");
                        EXPECT_TRUE(same(AzimuthalIntegralKernel(m, r_min, r_max, c[0], c[1], 1), ref[0]));
                        EXPECT_TRUE(same(
                            AzimuthalIntegralEllipticityKernel(m, r_min, r_max, c[0], c[1], 1.07f, 0.4f, 1), ref[1]));
                        EXPECT_TRUE(
                            same(AzimuthalIntegralSektorKernel(m, r_min, r_max, 0.3f, 6.0f, c[0], c[1], 1), ref[2]));
                        EXPECT_TRUE(same(AzimuthalIntegralSektorEllipticityKernel(m, r_min, r_max, 5.5f, 1.0f, c[0],
                                                                                  c[1], 1.07f, 0.4f, 1),
                                         ref[3]));
                    }
                });
            }
        }
        EXPECT_TRUE(sawNaN) << "the not-a-number pixel counts somewhere";
    }
}
