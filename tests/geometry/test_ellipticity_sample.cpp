// The ring fits on the sample generator's gold patterns (noisy, elliptical,
// with a beam stop), whose centre and ellipse are known.
#include "geometry/ellipticity_fit.h"

#include "examples/kirkland_csv.h"
#include "examples/sample_pattern.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

namespace {

int Lines(const std::string &text, const std::string &line)
{
    std::istringstream in(text);
    int n = 0;
    for (std::string l; std::getline(in, l);)
        n += l == line;
    return n;
}

} // namespace

// Each sector fits one sector's mean profile from the ring fit of their sum;
// started at the right scale and with a difference step the float residuals
// can resolve, a sector fit seldom fails, and the fitted centre is as good as
// the one from the sector maxima.
TEST(EllipticityFitOnSamplePatterns, SectorFitsConvergeAndFindTheCentre)
{
    const KirklandCoefficients gold = ReadKirklandElement(ORVAN_KIRKLAND_CSV, "Au");
    for (int seed = 1; seed <= 6; ++seed) {
        SampleOptions options;
        options.seed = static_cast<std::uint64_t>(seed);
        const SamplePattern truth = MakeSamplePattern(options, gold);
        const int ring = static_cast<int>(std::lround(truth.rings[0].radius));
        SCOPED_TRACE(testing::Message() << "seed " << seed << ", ring " << ring);

        DiffractionPattern fitted, maxima;
        for (DiffractionPattern *p : {&fitted, &maxima}) {
            p->image = arma::Mat<float>(truth.pixels.data(), truth.width, truth.height);
            p->centerX = static_cast<float>(truth.center_x + 0.6);
            p->centerY = static_cast<float>(truth.center_y - 0.4);
            p->angle = 0.0f;
            p->axisRatio = 1.0f;
        }
        float radius = 0;
        std::ostringstream results;
        RefineCenterEllipticityFitCore(fitted, ring - 20, ring + 20, 24, 2, 1, &radius, results);
        std::ostringstream unused;
        RefineCenterEllipticityFitCore(maxima, ring - 20, ring + 20, 24, 2, 0, &radius, unused);

        EXPECT_EQ(Lines(results.str(), "Initial fit failed, using maxima instead"), 0);
        EXPECT_LE(Lines(results.str(), "Fit failed, using maxima instead"), 1);
        const double error = std::hypot(fitted.centerX - truth.center_x, fitted.centerY - truth.center_y);
        const double error_maxima =
            std::hypot(maxima.centerX - truth.center_x, maxima.centerY - truth.center_y);
        EXPECT_LT(error, 0.05);
        // No worse than the maxima, within the noise of either.
        EXPECT_LT(error, error_maxima + 0.01) << "maxima " << error_maxima;
        EXPECT_NEAR(fitted.axisRatio, truth.axis_ratio, 0.003);
        double gap = std::fmod(fitted.angle - truth.angle_rad, M_PI);
        gap = std::fabs(gap > M_PI / 2 ? gap - M_PI : gap < -M_PI / 2 ? gap + M_PI : gap);
        EXPECT_LT(gap, 0.5 * M_PI / 180) << fitted.angle * 180 / M_PI;
    }
}
