// The verdict of the ellipse refinements on clean rings of known geometry:
// how high the window's ring stands in the corrected profile, and how firmly
// ring points hold their ellipse's centre.
#include "geometry/ellipse_hold.h"
#include "geometry/ring_sharpness.h"

#include "synthetic_pattern.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// Ring A (radius 100, amplitude 100) inside the window 90 to 126, ring B
// (radius 125, amplitude 300) at its outer end, axis ratio 1.06.
RingSpec TwoRings() {
    RingSpec s;
    s.cx = 255.4;
    s.cy = 258.7;
    s.ratio = 1.06;
    s.angle = 0.7;
    s.radii = {100.0, 125.0};
    s.amplitudes = {100.0, 300.0};
    return s;
}

float Prominence(const arma::Mat<float>& image, const RingSpec& s, double dx, float ratio, float angle) {
    DiffractionPattern p;
    p.image = image;
    p.centerX = static_cast<float>(s.cx + dx);
    p.centerY = static_cast<float>(s.cy);
    p.axisRatio = ratio;
    p.angle = angle;
    return RingProminence(p, 90, 126);
}

}  // namespace

TEST(RingProminence, TheWindowsRingAboveItsValleysSharpestAtTheTruth) {
    const RingSpec s = TwoRings();
    const arma::Mat<float> image = MakeRingPattern(s);
    const float truth = Prominence(image, s, 0.0, 1.06f, 0.7f);
    // Ring A stands some 90 over the background of 10 between the rings; the
    // stronger ring B, cut by the window's end, neither counts nor tilts it.
    EXPECT_GT(truth, 80.0f);
    EXPECT_LT(truth, 100.0f);
    EXPECT_LT(Prominence(image, s, 0.0, 1.0f, 0.0f), 0.9f * truth);    // a circle
    EXPECT_LT(Prominence(image, s, 0.0, 1.06f, 2.27f), 0.9f * truth);  // turned by 90 degrees
    EXPECT_LT(Prominence(image, s, 3.0, 1.06f, 0.7f), 0.7f * truth);   // 3 px off

    // Judged against the truth, a result 3 px off is duller; the truth
    // itself is the sharpest ellipse and centre about it.
    const PatternView at_truth(image, static_cast<float>(s.cx), static_cast<float>(s.cy));
    PatternView ellipse = at_truth;
    ellipse.axisRatio = 1.06f;
    ellipse.angle = 0.7f;
    EXPECT_EQ(JudgeSharpness(at_truth, PatternView(image, static_cast<float>(s.cx + 3), static_cast<float>(s.cy)), 90,
                             126, true)
                  .refusal,
              SharpnessRefusal::Duller);
    EXPECT_EQ(JudgeSharpness(at_truth, ellipse, 90, 126, true).refusal, SharpnessRefusal::None);
    // From a circle, a ratio of 1.02 at the right angle is sharper, yet the
    // ellipse beside it (1.04) is sharper still; 1.5 px off the centre with
    // the true ellipse, a centre beside it is.
    PatternView short_of_it = ellipse;
    short_of_it.axisRatio = 1.02f;
    EXPECT_EQ(JudgeSharpness(at_truth, short_of_it, 90, 126, false).refusal, SharpnessRefusal::SharperEllipse);
    PatternView off = ellipse;
    off.centerX += 1.5f;
    PatternView off_circle = off;
    off_circle.axisRatio = 1.0f;
    off_circle.angle = 0.0f;
    EXPECT_EQ(JudgeSharpness(off_circle, off, 90, 126, true).refusal, SharpnessRefusal::SharperCentre);
    EXPECT_EQ(JudgeSharpness(off_circle, off, 90, 126, false).refusal, SharpnessRefusal::None);

    // Fewer than three radii hold a pixel: no ring.
    DiffractionPattern missing;
    missing.image.zeros(64, 64);
    missing.centerX = missing.centerY = 32;
    EXPECT_EQ(RingProminence(missing, 10, 20), 0.0f);
}

TEST(CentreUncertainty, ScatterAndCoverOfTheAzimuth) {
    // Points on a circle of radius 100 about (3, -2), radial scatter of
    // standard deviation 0.5 (alternating signs); fitted exactly.
    const double fitted[5] = {3.0, -2.0, 100.0, 100.0, 0.0};
    auto points = [&](int n, double spread, bool two_arcs, std::vector<double>& x, std::vector<double>& y) {
        x.clear();
        y.clear();
        for (int i = 0; i < n; ++i) {
            double phi = 2.0 * M_PI * (i + 0.5) / n;
            // Two arcs of 20 degrees on either side of the circle.
            if (two_arcs) phi = (i % 2 ? M_PI : 0.0) + 0.35 * (((i / 2) + 0.5) / (n / 2) - 0.5);
            const double r = 100.0 + (i % 4 < 2 ? spread : -spread);
            x.push_back(fitted[0] + r * std::cos(phi));
            y.push_back(fitted[1] + r * std::sin(phi));
        }
    };
    std::vector<double> x, y;
    points(72, 0.5, false, x, y);
    // Scatter s over n points all around: s sqrt(2 / n) per axis, summed
    // over both axes, with n - 5 degrees of freedom.
    const double all_round = CentreUncertainty(x.size(), x.data(), y.data(), fitted);
    EXPECT_NEAR(all_round, 0.5 * std::sqrt(72.0 / 67.0) * std::sqrt(4.0 / 72.0), 0.01);
    points(72, 0.5, true, x, y);
    EXPECT_GT(CentreUncertainty(x.size(), x.data(), y.data(), fitted), 4.0 * all_round);
    points(72, 0.0, false, x, y);
    EXPECT_NEAR(CentreUncertainty(x.size(), x.data(), y.data(), fitted), 0.0, 1e-9);
    // Seven points leave two degrees of freedom: their scatter is unknown.
    points(7, 0.5, false, x, y);
    EXPECT_EQ(CentreUncertainty(x.size(), x.data(), y.data(), fitted), INFINITY);
    points(8, 0.5, false, x, y);
    EXPECT_LT(CentreUncertainty(x.size(), x.data(), y.data(), fitted), 1.0);
}
