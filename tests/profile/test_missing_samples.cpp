// Profiles with missing samples (exactly 0, as inside a beam stop or a
// detector gap): the search, the background and the fits leave them out, so
// the chosen peaks come back as they do without the gap.
#include "debye_gold.h"
#include "peak_test_profiles.h"
#include "rdf_test_table.h"

#include <gtest/gtest.h>

#include <random>

#include "profile/rdf_kirkland.h"
#include "profile/rdf_transform.h"

namespace {

// A gold profile of q step 0.05 (its profile still empty) and <f^2> at the
// first n samples.
RDFProfile GoldProfile(int n, arma::Col<float>& f2) {
    RDFProfile p;
    p.elements = rdftest::ElementColumn("Au", 100.0f);
    p.q_step = 0.05f;
    KirklandScatteringSquared(p, 0.0f, n, f2);
    return p;
}

using peak_test::TruePeak;

const std::vector<TruePeak> kTruth = {{150, 1000, 4, 0.5}, {250, 800, 4, 0.5}};

arma::Col<float> Flat50() {
    return peak_test::MakeProfile(400, kTruth, [](double) { return 50.0; });
}

void SetMissing(arma::Col<float>& p, arma::uword first, arma::uword last) { p.subvec(first, last).zeros(); }

// Search 0-399 at 1 %, pre-fit and the two-stage fit; the chosen peaks must
// come back and no background point may lie on a missing sample.
void ExpectTruthRecovered(const arma::Col<float>& profile, int smoothing) {
    PeakProfileFit f;
    f.profile = profile;
    peak_test::FindAndPreFit(f, 1, 1, 0, 399, smoothing);
    for (float x : f.spline_x) EXPECT_NE(profile[arma::uword(x)], 0.0f) << "background point at " << x;
    peak_test::TwoStageFit(f);
    ASSERT_EQ(f.peak_table.n_cols, kTruth.size());
    for (arma::uword c = 0; c < kTruth.size(); ++c) {
        EXPECT_NEAR(f.peak_table(0, c), kTruth[c].x0, 0.05) << c;
        EXPECT_NEAR(f.peak_table(1, c), kTruth[c].area, 0.02 * kTruth[c].area) << c;
        EXPECT_NEAR(f.peak_table(2, c), kTruth[c].w, 0.02 * kTruth[c].w) << c;
    }
    // Where data is missing the difference from the background is 0, not
    // minus the background.
    for (arma::uword i = 0; i < profile.n_elem; ++i) {
        if (profile[i] == 0.0f) {
            EXPECT_EQ(f.subtracted[i], 0.0f) << i;
        }
    }
}

TEST(MissingSamples, BeamStopGapAndMaskedEndAreNoBackground) {
    arma::Col<float> head = Flat50();
    SetMissing(head, 0, 59);  // a beam stop
    arma::Col<float> gap = Flat50();
    SetMissing(gap, 100, 119);  // a detector gap between the flat start and the first peak
    arma::Col<float> all = Flat50();
    SetMissing(all, 0, 59);
    SetMissing(all, 100, 119);
    SetMissing(all, 200, 205);  // a gap between the two peaks
    SetMissing(all, 257, 258);  // and one on a peak's flank
    SetMissing(all, 380, 399);  // a mask at the end
    for (int smoothing : {0, 2}) {
        SCOPED_TRACE(smoothing);
        ExpectTruthRecovered(head, smoothing);
        ExpectTruthRecovered(gap, smoothing);
        ExpectTruthRecovered(all, smoothing);
    }
}

TEST(MissingSamples, TheScanEndsAtTheLastMeasuredSample) {
    PeakProfileFit f;
    f.profile = Flat50();
    SetMissing(f.profile, 20, 399);
    EXPECT_EQ(peak_test::ThrownText([&] { f.FindExtremaAndSplinePoints(1, 1, 0, 399, 0); }),
              "No maxima or minima found");

    // The second peak falls far enough to be recorded (to 104), but the last
    // measured sample (105) is not below 110 - 5.5: the peak is dropped, as
    // it would be without the masked end.
    f.profile.set_size(120);
    for (arma::uword i = 0; i < 120; ++i)
        f.profile[i] = float(10 + 100 * std::exp(-std::log(2.0) * (i - 40.0) * (i - 40.0) / 9) +
                             100 * std::exp(-std::log(2.0) * (i - 80.0) * (i - 80.0) / 9));
    f.profile.subvec(81, 85).fill(104.0f);
    f.profile.subvec(86, 109).fill(105.0f);
    SetMissing(f.profile, 110, 119);
    f.FindExtremaAndSplinePoints(5, 5, 20, 119, 0);
    ASSERT_EQ(f.peak_table.n_cols, 1u);
    EXPECT_EQ(f.peak_table(0, 0), 40.0);
}

TEST(MissingSamples, ABackgroundPointOnAMissingSampleKeepsItsValue) {
    PeakProfileFit f;
    f.profile = Flat50();
    SetMissing(f.profile, 95, 105);
    f.spline_x = {100, 200, 300};
    f.spline_y = {50, 50, 50};
    f.peak_table = {{150, 250}, {3000, 800}, {4, 4}, {0.5, 0.5}};  // a model above the data
    f.SubtractSplineBackground();
    f.EvaluateFit();
    EXPECT_EQ(f.spline_y[0], 50.0f);
    EXPECT_NE(f.spline_y[1], 50.0f);  // a measured point moves under the tails
}

// The scale and offset of 3.5 <f^2> + 120 come back when the low-q end and
// a strip inside the range are missing.
TEST(MissingSamples, KirklandFitLeavesThemOut) {
    arma::Col<float> f2;
    RDFProfile p = GoldProfile(400, f2);
    p.profile = f2 * 3.5f + 120.0f;
    p.profile.subvec(0, 59).zeros();
    p.profile.subvec(200, 219).zeros();
    p.scale = 1;
    p.offset = 0;
    KirklandFitCore(p, 10, 380);
    EXPECT_NEAR(p.scale, 3.5, 3.5e-3);
    EXPECT_NEAR(p.offset, 120.0, 0.12);
}

// G of a gold crystal's profile, q step 0.05: background fitted at high q
// (200-598), samples 40-598 transformed to 10 A in 500 radii.
arma::Col<float> GoldG(const arma::Col<float>& profile, arma::Col<float>& phi) {
    RDFProfile p;
    p.elements = rdftest::ElementColumn("Au", 100.0f);
    p.q_step = 0.05f;
    p.profile = profile;
    p.scale = 1;
    p.offset = 0;
    KirklandFitCore(p, 200, 598);
    phi = KirklandReducedIntensity(p).col(2);
    RDFProfile t;
    t.profile = phi;
    t.q_step = static_cast<float>(0.05 * 2 * M_PI / 10);
    return RDFSineTransform(t, 40, 598, 10, 500);
}

// A gap stays a gap through the reduced intensity and the transform: read
// as intensity 0 it became -s there, and G gained maxima where the crystal
// has no neighbours (at 2.12 A for 21 samples, 54 % off the gap-free G).
TEST(MissingSamples, StayMissingThroughTheReducedIntensityAndTheTransform) {
    const arma::Col<float> whole = debye::Profile(600, 0.05f, 20.0, 30.0);
    arma::Col<float> phi;
    const arma::Col<float> g0 = GoldG(whole, phi);
    const float top = arma::max(arma::abs(g0));
    for (const auto& gap : {std::pair<arma::uword, double>{270, 0.15}, {310, 0.35}}) {
        SCOPED_TRACE(gap.first);
        arma::Col<float> gapped = whole;
        gapped.subvec(250, gap.first).zeros();
        const arma::Col<float> g = GoldG(gapped, phi);
        EXPECT_TRUE(arma::all(phi.subvec(250, gap.first) == 0.0f));
        EXPECT_LT(arma::max(arma::abs(g - g0)), gap.second * top);
        // The first neighbours (2.884 A) give the highest maximum, and
        // nothing stands out inside 2.3 A.
        EXPECT_NEAR(g.index_max() * 0.02, debye::kLattice / std::sqrt(2.0), 0.03);
        EXPECT_LT(arma::max(g.subvec(0, 115)), 0.1f * top);
    }
}

// Counting data: a third or more of the high-q samples are counts of 0,
// which read as missing and leave the fit the counts above them; lifted by
// 0.001 they are measured again.
TEST(MissingSamples, ZeroCountsAreMissingUntilLifted) {
    arma::Col<float> f2;
    RDFProfile p = GoldProfile(600, f2);
    double as_missing = 0, lifted = 0;
    const int trials = 5;
    for (int t = 0; t < trials; ++t) {
        std::mt19937 rng(t + 1);
        arma::Col<float> counts(600);
        for (arma::uword i = 0; i < 600; ++i) counts[i] = std::poisson_distribution<int>(0.5 * f2[i] + 0.3)(rng);
        for (float lift : {0.0f, 0.001f}) {
            p.profile = counts + lift;
            p.scale = 1;
            p.offset = 0;
            KirklandFitCore(p, 40, 598);
            (lift == 0 ? as_missing : lifted) += (p.offset - lift) / trials;
        }
    }
    EXPECT_GT(as_missing, 0.5);
    EXPECT_NEAR(lifted, 0.3, 0.05);
}

}  // namespace
