// The centre costs and refinements split over worker threads give the bits
// of the single-thread order: against results recorded from the sequential
// implementation, and the ring-pixel list against the elliptical kernel.
#include "geometry/azimuthal_integration.h"
#include "geometry/center_refinement.h"
#include "geometry/elliptical_ring_pixels.h"
#include "geometry/worker_threads.h"
#include "tests/geometry/thread_count_guard.h"

#include "synthetic_pattern.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace {

std::uint32_t Bits(float f) {
    std::uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

std::uint64_t Bits(double d) {
    std::uint64_t u;
    std::memcpy(&u, &d, sizeof u);
    return u;
}

struct Case {
    RingSpec s;
    float sx, sy;  // start centre
    int r_in, r_out;
    float q0, a0;  // start ratio and angle of the ellipticity refinement
};

// Five patterns: square and oblong, a beam stop of zeros, a centre beyond the
// right edge, r_in = 0, and one large enough for several tasks and bands.
std::vector<Case> Cases() {
    std::vector<Case> cases(5);
    {
        Case& c = cases[0];
        c.s.width = c.s.height = 256;
        c.s.cx = 128.3;
        c.s.cy = 127.6;
        c.s.radii = {40, 70, 100};
        c.s.ratio = 1.03;
        c.s.angle = 0.4;
        c.s.noise = 5;
        c.sx = 125;
        c.sy = 131;
        c.r_in = 30;
        c.r_out = 90;
        c.q0 = 1.0f;
        c.a0 = 0.0f;
    }
    {
        Case& c = cases[1];
        c.s.width = 301;
        c.s.height = 233;
        c.s.cx = 140.2;
        c.s.cy = 120.7;
        c.s.radii = {35, 60, 90};
        c.s.ratio = 1.06;
        c.s.angle = -1.1;
        c.s.noise = 8;
        c.s.beamStop = 15;
        c.s.seed = 7;
        c.sx = 143.5f;
        c.sy = 118.25f;
        c.r_in = 20;
        c.r_out = 80;
        c.q0 = 1.02f;
        c.a0 = 0.3f;
    }
    {
        Case& c = cases[2];
        c.s.width = 200;
        c.s.height = 200;
        c.s.cx = 215;
        c.s.cy = 100;
        c.s.radii = {60, 100, 140};
        c.s.ratio = 1.02;
        c.s.angle = 1.0;
        c.s.noise = 3;
        c.s.beamStop = 40;
        c.s.seed = 3;
        c.sx = 212;
        c.sy = 104;
        c.r_in = 45;
        c.r_out = 125;
        c.q0 = 1.0f;
        c.a0 = 0.0f;
    }
    {
        Case& c = cases[3];
        c.s.width = 64;
        c.s.height = 64;
        c.s.cx = 31.5;
        c.s.cy = 32.25;
        c.s.radii = {8, 16, 24};
        c.s.ratio = 1.0;
        c.s.noise = 20;
        c.s.seed = 11;
        c.s.sigma = 1.2;
        c.sx = 33;
        c.sy = 31;
        c.r_in = 0;
        c.r_out = 20;
        c.q0 = 1.05f;
        c.a0 = -0.7f;
    }
    {
        Case& c = cases[4];
        c.s.width = 500;
        c.s.height = 420;
        c.s.cx = 251.5;
        c.s.cy = 205.25;
        c.s.radii = {90, 160, 230, 300};
        c.s.ratio = 1.05;
        c.s.angle = 2.2;
        c.s.noise = 6;
        c.s.beamStop = 30;
        c.s.seed = 5;
        c.sx = 249;
        c.sy = 208;
        c.r_in = 60;
        c.r_out = 400;
        c.q0 = 1.0f;
        c.a0 = 0.0f;
    }
    return cases;
}

// Trial shifts of the centre cost from the start centre, and trial (ratio,
// angle) of the ellipticity cost.
const double kCentreTrials[4][2] = {{0, 0}, {1.7, -2.3}, {-4.25, 3.5}, {6.0, 5.5}};
const double kEllipseTrials[5][2] = {{1.0, 0.0}, {1.03, 0.4}, {1.0999, -2.0}, {1.06, 3.9}, {1.0123, 100.0}};

// Per case, as the single-thread implementation gave them: the four centre
// costs, the five ellipticity costs, the refined centre, then ratio and
// angle refined from there, and whether that refinement threw.
struct Recorded {
    std::uint64_t centre[4];
    std::uint64_t ellipse[5];
    std::uint32_t cx, cy, ratio, angle;
    int thrown;
};
const Recorded kRecorded[] = {
    {{0xc0aef9b4a0000000ull, 0xc0b6716940000000ull, 0xc0a3e9bbc0000000ull, 0xc0a9c17c00000000ull},
     {0xc04cfb1f40000000ull, 0xc04abb26e0000000ull, 0xc04cdfd8e0000000ull, 0xc04ef285e0000000ull,
      0xc04ebca720000000ull},
     0x43009080u,
     0x43006d40u,
     0x3f83bfe1u,
     0x3ed12425u,
     0},
    {{0xc0afcb67a0000000ull, 0xc0a6ffba40000000ull, 0xc0b469e3e0000000ull, 0xc0a1fc0da0000000ull},
     {0xc050d4a5c0000000ull, 0xc050d05c60000000ull, 0xc05082d920000000ull, 0xc050fe79c0000000ull,
      0xc05066a760000000ull},
     0x430cc400u,
     0x42f3ec00u,
     0x3f87a64bu,
     0x4002171cu,
     0},
    {{0xc0be185fc0000000ull, 0xc0c364fc00000000ull, 0xc0b7fcd2a0000000ull, 0xc0b3b07ba0000000ull},
     {0xc053dfbce0000000ull, 0xc0525e4d80000000ull, 0xc04e5fd740000000ull, 0xc050045c40000000ull,
      0xc05531ed60000000ull},
     0x43592350u,
     0x42cb8340u,
     0x3f800000u,
     0xb3e40da7u,
     0},
    {{0xc090784fe0000000ull, 0xc0938426e0000000ull, 0xc091a56560000000ull, 0xc08f2fe280000000ull},
     {0xc050e18a20000000ull, 0xc050ef1b00000000ull, 0xc050dbae00000000ull, 0xc05123f140000000ull,
      0xc050dfafe0000000ull},
     0x41fd3800u,
     0x41d9d800u,
     0x3f8ccccau,
     0xba08c5b0u,
     0},
    {{0xc0d16f91c0000000ull, 0xc0ce7c7a20000000ull, 0xc0d06e4560000000ull, 0xc0ccce8e60000000ull},
     {0xc051756000000000ull, 0xc0505c5e60000000ull, 0xc05a7b8e00000000ull, 0xc0578b5ae0000000ull,
      0xc050f82fc0000000ull},
     0x43731a00u,
     0x43580200u,
     0x3f802925u,
     0x3cb021ddu,
     0},
};

TEST(ParallelCosts, RefinementsKeepTheirSingleThreadResults) {
    ThreadCountGuard guard;
    const std::vector<Case> cases = Cases();
    for (unsigned threads : {1u, 2u, 3u, 8u}) {
        SetWorkerThreadCount(threads);
        for (std::size_t i = 0; i < cases.size(); ++i) {
            SCOPED_TRACE(testing::Message() << threads << " threads, case " << i);
            const Case& c = cases[i];
            const Recorded& want = kRecorded[i];
            DiffractionPattern p;
            LoadSynthetic(p, c.s, c.sx, c.sy);
            {
                maxazimuthalintcenter cost(c.r_in, c.r_out, p);
                for (int t = 0; t < 4; ++t) {
                    const double x[2] = {c.sx + kCentreTrials[t][0], c.sy + kCentreTrials[t][1]};
                    EXPECT_EQ(Bits(cost.Evaluate(x, 2)), want.centre[t]) << "centre trial " << t;
                }
            }
            {
                maxazimuthalintcenterellipticity cost(c.r_in, c.r_out, p);
                for (int t = 0; t < 5; ++t)
                    EXPECT_EQ(Bits(cost.Evaluate(kEllipseTrials[t], 2)), want.ellipse[t]) << "ellipse trial " << t;
            }
            RefineCenterCore(p, c.r_in, c.r_out);
            EXPECT_EQ(Bits(p.centerX), want.cx);
            EXPECT_EQ(Bits(p.centerY), want.cy);
            p.axisRatio = c.q0;
            p.angle = c.a0;
            int thrown = 0;
            try {
                RefineCenterEllipticityCore(p, c.r_in, c.r_out);
            } catch (...) {
                thrown = 1;
            }
            EXPECT_EQ(thrown, want.thrown);
            EXPECT_EQ(Bits(p.axisRatio), want.ratio);
            EXPECT_EQ(Bits(p.angle), want.angle);
        }
    }
}

void ExpectSameBits(const arma::Col<float>& got, const arma::Col<float>& want) {
    ASSERT_EQ(got.n_elem, want.n_elem);
    for (arma::uword k = 0; k < got.n_elem; ++k) ASSERT_EQ(Bits(got[k]), Bits(want[k])) << "bin " << k;
}

TEST(RingPixelList, EqualsTheEllipticalKernelForEveryCoveredRatio) {
    ThreadCountGuard guard;
    RingSpec s;
    s.width = 700;
    s.height = 640;
    s.cx = 345.5;
    s.cy = 320.25;
    s.radii = {60, 140, 220, 300};
    s.ratio = 1.04;
    s.angle = 0.9;
    s.noise = 10;
    s.beamStop = 12;
    arma::Mat<float> image = MakeRingPattern(s);
    // Scattered zero pixels besides the beam stop.
    for (arma::uword i = 0; i < image.n_elem; i += 37) image[i] = 0.0f;
    const float below11 = std::nextafter(1.1f, 0.0f);  // 1.1f itself exceeds 1.1
    const float ratios[] = {1.0f, 1.0001f, 1.04f, below11};
    const float angles[] = {0.0f, 0.9f, -2.5f, 10.0f};
    struct Geometry {
        float cx, cy;
        std::uint32_t r_min, r_max;
    };
    const Geometry geometries[] = {{345.5f, 320.25f, 20, 330},
                                   {350.0f, 318.0f, 0, 60},
                                   {345.5f, 320.25f, 1, 2},
                                   {-30.5f, 100.0f, 50, 300},
                                   {690.0f, 650.0f, 10, 330}};
    for (unsigned threads : {1u, 2u, 3u, 8u}) {
        SetWorkerThreadCount(threads);
        for (const Geometry& g : geometries) {
            const EllipticalRingPixels list(image, g.cx, g.cy, g.r_min, g.r_max);
            EXPECT_TRUE(list.MadeFor(image, g.cx, g.cy));
            EXPECT_FALSE(list.MadeFor(image, g.cx + 0.5f, g.cy));
            for (float q : ratios)
                for (float a : angles) {
                    SCOPED_TRACE(testing::Message() << threads << " threads, centre " << g.cx << ", " << g.cy << ", r "
                                                    << g.r_min << ".." << g.r_max << ", q " << q << ", angle " << a);
                    ExpectSameBits(list.UnnormalisedProfile(q, a),
                                   AzimuthalIntegralEllipticityKernel(image, g.r_min, g.r_max, g.cx, g.cy, q, a, 1));
                }
        }
        // The wide range is split into bands whenever there are threads for them.
        const EllipticalRingPixels wide(image, 345.5f, 320.25f, 20, 330);
        EXPECT_EQ(wide.BandCount() > 1, threads > 1) << threads << " threads";
    }
}

TEST(RingPixelList, CoversExactlyTheRatiosTheCostIntegrates) {
    EXPECT_TRUE(EllipticalRingPixels::Covers(1.0f));
    EXPECT_TRUE(EllipticalRingPixels::Covers(std::nextafter(1.1f, 0.0f)));
    EXPECT_FALSE(EllipticalRingPixels::Covers(1.1f));
    EXPECT_FALSE(EllipticalRingPixels::Covers(std::nextafter(1.0f, 0.0f)));
    EXPECT_FALSE(EllipticalRingPixels::Covers(std::numeric_limits<float>::quiet_NaN()));

    arma::Mat<float> image(50, 50, arma::fill::ones);
    const EllipticalRingPixels list(image, 25.0f, 25.0f, 5, 20);
    EXPECT_THROW(list.UnnormalisedProfile(1.2f, 0.0f), std::invalid_argument);
    EXPECT_THROW(EllipticalRingPixels(image, 25.0f, 25.0f, 20, 20), std::invalid_argument);

    // A ratio that is not a number still costs what the kernel gives (all
    // bins empty): the cost falls back to the whole-image loop.
    DiffractionPattern p;
    p.image = image;
    p.centerX = p.centerY = 25.0f;
    maxazimuthalintcenterellipticity cost(5, 20, p);
    const double nan[2] = {std::numeric_limits<double>::quiet_NaN(), 0.0};
    EXPECT_EQ(Bits(cost.Evaluate(nan, 2)), Bits(-0.0));
}

}  // namespace

// A list whose first pixel falls in the lowest bin it can reach, where the
// sums start with no bin held.
TEST(RingPixelList, FirstPixelInTheLowestBin) {
    arma::Mat<float> image(40, 40, arma::fill::zeros);
    image(20, 20) = 3.0f;
    image(20, 22) = 5.0f;
    image(31, 20) = 7.0f;
    const EllipticalRingPixels list(image, 20.3f, 20.1f, 0, 25);
    for (float q : {1.0f, 1.05f})
        ExpectSameBits(list.UnnormalisedProfile(q, 0.2f),
                       AzimuthalIntegralEllipticityKernel(image, 0, 25, 20.3f, 20.1f, q, 0.2f, 1));
}
