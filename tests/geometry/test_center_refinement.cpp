#include "geometry/center_refinement.h"

#include "synthetic_pattern.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(CentreCost, OffsetTableOrder) {
    DiffractionPattern p;
    p.image.ones(32, 32);
    p.centerX = p.centerY = 16;
    maxazimuthalintcenter first(0, 3, p);
    ASSERT_EQ(first.Count(0), 1u);
    int dx, dy;
    first.Offset(0, 0, dx, dy);
    EXPECT_EQ(dx, 0);
    EXPECT_EQ(dy, 0);

    maxazimuthalintcenter ring(1, 2, p);
    ASSERT_EQ(ring.Count(0), 8u);
    const int expected[8][2] = {{-1, -1}, {-1, 0}, {-1, 1}, {0, -1}, {0, 1}, {1, -1}, {1, 0}, {1, 1}};
    for (unsigned c = 0; c < 8; ++c) {
        ring.Offset(0, c, dx, dy);
        EXPECT_EQ(dx, expected[c][0]);
        EXPECT_EQ(dy, expected[c][1]);
    }
    // Every offset of bin b has truncated distance r_in + b.
    maxazimuthalintcenter wide(5, 40, p);
    for (int b = 0; b < 35; ++b)
        for (unsigned c = 0; c < wide.Count(b); ++c) {
            wide.Offset(b, c, dx, dy);
            EXPECT_EQ(static_cast<int>(std::sqrt(static_cast<float>(dx * dx + dy * dy))), 5 + b);
        }
    EXPECT_THROW(maxazimuthalintcenter(10, 10, p), std::invalid_argument);
    EXPECT_THROW(maxazimuthalintcenter(-1, 10, p), std::invalid_argument);
}

TEST(CentreCost, ShiftBoundAndMisses) {
    DiffractionPattern p;
    p.image.ones(300, 300);
    p.centerX = 150;
    p.centerY = 150;
    maxazimuthalintcenter cost(20, 100, p);
    EXPECT_EQ(cost.ShiftBound(), 53);
    const double inside[2] = {150 + 53.0, 150};
    const double outside[2] = {150 - 53.5, 150};
    EXPECT_LT(cost.Evaluate(inside, 2), 0.0);
    EXPECT_EQ(cost.Evaluate(outside, 2), 0.0);
    // Uniform ones: each bin's mean is 1, weighted by its radius: 99.
    const double centred[2] = {150, 150};
    EXPECT_DOUBLE_EQ(cost.Evaluate(centred, 0), -99.0);

    // A trial whose offsets all miss the image costs +infinity.
    DiffractionPattern small;
    small.image.ones(10, 10);
    small.centerX = 5;
    small.centerY = 5;
    maxazimuthalintcenter far(60, 200, small);
    const double miss[2] = {5, 5};
    EXPECT_EQ(far.Evaluate(miss, 2), INFINITY);
    small.centerX = NAN;
    const double nan[2] = {NAN, 5};
    EXPECT_EQ(far.Evaluate(nan, 2), INFINITY);
}

TEST(EllipticityCost, RatioRange) {
    DiffractionPattern p;
    p.image.ones(100, 100);
    p.centerX = p.centerY = 50;
    maxazimuthalintcenterellipticity cost(10, 40, p);
    const double tooRound[2] = {0.999, 0.0};
    const double limit[2] = {1.1, 0.0};
    const double round[2] = {1.0, 0.0};
    EXPECT_EQ(cost.Evaluate(tooRound, 2), 0.0);
    EXPECT_EQ(cost.Evaluate(limit, 2), 0.0);
    EXPECT_FLOAT_EQ(static_cast<float>(cost.Evaluate(round, 2)), -1.0f);
    EXPECT_THROW(maxazimuthalintcenterellipticity(40, 40, p), std::invalid_argument);
}

// The cost gathers its ring pixels at the first trial; a later trial after
// the pattern's centre moved must cost what a fresh cost object says.
TEST(EllipticityCost, ACentreMovedBetweenTrialsIsSeen) {
    RingSpec s;
    s.width = s.height = 200;
    s.cx = 100.3;
    s.cy = 99.6;
    s.radii = {40, 70};
    s.ratio = 1.04;
    s.angle = 0.5;
    DiffractionPattern p;
    p.image = MakeRingPattern(s);
    p.centerX = 100.3f;
    p.centerY = 99.6f;
    const double trial[2] = {1.04, 0.5};
    maxazimuthalintcenterellipticity reused(30, 80, p);
    const double first = reused.Evaluate(trial, 2);
    p.centerX = 112.0f;
    p.centerY = 91.0f;
    maxazimuthalintcenterellipticity fresh(30, 80, p);
    const double expected = fresh.Evaluate(trial, 2);
    EXPECT_NE(expected, first);
    EXPECT_EQ(reused.Evaluate(trial, 2), expected);
}

TEST(RefineCenter, LandsInTheUnitCellOfTheTrueCentre) {
    // The cost samples pixels at whole-pixel offsets from the truncated trial
    // centre, so the refinement resolves the centre to its pixel cell.
    RingSpec s;
    s.cx = 250.3;
    s.cy = 262.2;
    s.noise = 20;
    s.beamStop = 30;
    DiffractionPattern p;
    LoadSynthetic(p, s, 254.0f, 257.5f);
    RefineCenterCore(p, 40, 200);
    EXPECT_EQ(std::floor(p.centerX), 250.0f) << p.centerX;
    EXPECT_EQ(std::floor(p.centerY), 262.0f) << p.centerY;
    EXPECT_NEAR(p.centerX, s.cx, 1.0);
    EXPECT_NEAR(p.centerY, s.cy, 1.0);
}

TEST(RefineCenterEllipticity, RecoversRatioAndAngleAtAFixedCentre) {
    struct Case {
        double ratio, angle;
    };
    for (const Case c : {Case{1.03, 0.4}, Case{1.08, 2.2}, Case{1.05, -1.0}}) {
        SCOPED_TRACE(testing::Message() << c.ratio << " " << c.angle);
        RingSpec s;
        s.cx = 255.0;
        s.cy = 251.0;
        s.ratio = c.ratio;
        s.angle = c.angle;
        s.radii = {90.0, 170.0};
        s.noise = 10;
        DiffractionPattern p;
        LoadSynthetic(p, s, 255.0f, 251.0f);
        p.axisRatio = 1.02f;
        p.angle = static_cast<float>(c.angle + 0.3);
        RefineCenterEllipticityCore(p, 60, 200);
        EXPECT_NEAR(p.axisRatio, c.ratio, 0.005);
        EXPECT_LT(AngleGap(p.angle, c.angle), 2.0 * M_PI / 180.0);
        EXPECT_EQ(p.centerX, 255.0f);
        EXPECT_EQ(p.centerY, 251.0f);
    }
}
