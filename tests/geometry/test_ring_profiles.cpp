// Which samples of which sectors the ring fit's profiles take, on polar
// tables made by hand.
#include "geometry/profile_smoothing.h"
#include "geometry/ring_profiles.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

// Tables of n_r radii in as many sectors as `counted` has spans: sector a
// counts the radii first .. last of its span (first > last: none), each
// sample the mean (a + 1) * (r + 1); every pixel of the window is present.
RingWork Tables(int n_r, int s, const std::vector<std::pair<int, int>>& counted) {
    const int n = static_cast<int>(counted.size());
    RingWork work{0,
                  n_r,
                  n,
                  s,
                  1.0f,
                  TriangleKernel(s),
                  arma::Mat<float>(n_r, n, arma::fill::zeros),
                  arma::Mat<float>(n_r + 1, n, arma::fill::zeros),
                  arma::Mat<float>(n_r + 1, n, arma::fill::ones),
                  arma::regspace(0, n_r - 1)};
    for (int a = 0; a < n; ++a)
        for (int r = counted[a].first; r <= counted[a].second; ++r) {
            work.W(r, a) = 2.0f;
            work.S(r, a) = 2.0f * static_cast<float>((a + 1) * (r + 1));
        }
    return work;
}

}  // namespace

// A sector cut by a stop (inner end) or a mask (outer end) loses the s
// samples next to the cut, which the smoothing took partly from the missing
// radii; where the window itself ends nothing is lost.
TEST(RingProfiles, CutEndsLoseTheSmoothedSamples) {
    const RingWork s2 = Tables(20, 2, {{0, 19}}), s4 = Tables(20, 4, {{0, 19}});
    struct Case {
        const RingWork& work;
        RadiusSpan counted;
        int lo, n;
    };
    for (const Case c : {Case{s2, {0, 20}, 0, 20}, Case{s2, {0, 16}, 0, 14}, Case{s4, {0, 16}, 0, 12},
                         Case{s2, {4, 16}, 6, 14}, Case{s4, {3, 12}, 7, 4}, Case{s4, {3, 8}, 0, 0}}) {
        SCOPED_TRACE(testing::Message() << "s " << c.work.s << ", counted " << c.counted.lo << " + " << c.counted.n);
        const RadiusSpan kept = Trimmed(c.work, c.counted);
        EXPECT_EQ(kept.n, c.n);
        if (c.n > 0) {
            EXPECT_EQ(kept.lo, c.lo);
        }
    }
}

// The initial fit takes the sum of the summed sectors' means over the radii
// all of them count: a sector without a ring position adds nothing and does
// not count in the scale, and where a mask's edge leaves fewer sectors the
// profile is cut, not ramped. A sector that a stop cuts deeper than most
// (its counted radii beginning beyond those of half the sectors) is left out
// of the sum rather than cutting it short for all.
TEST(RingProfiles, SummedProfileTakesTheRadiiEverySummedSectorCounts) {
    // Cut by a stop, cut by a mask, cut by the stop again, and deeper; empty
    // (a wedge of zeros), and whole but for a radius in its middle (a
    // detector gap across it).
    RingWork work = Tables(20, 2, {{3, 19}, {0, 15}, {3, 19}, {5, 19}, {1, 0}, {0, 19}});
    work.W(10, 5) = 0.0f;
    const SectorSpans spans = FindSectorSpans(work);
    EXPECT_EQ(spans.searched, (std::vector<char>{1, 1, 1, 1, 0, 0}));
    EXPECT_EQ(spans.summed, (std::vector<char>{1, 1, 1, 0, 0, 0}));
    EXPECT_EQ(SearchedCount(spans), 4);
    EXPECT_EQ(SummedCount(spans), 3);
    const RadiusSpan counted = SummedSpan(work, spans);
    EXPECT_EQ(counted.lo, 3);
    EXPECT_EQ(counted.n, 13);
    const RadiusSpan span = Trimmed(work, counted);
    ASSERT_EQ(span.lo, 5);
    ASSERT_EQ(span.n, 9);
    // The means 1, 2 and 3 times (r + 1) sum to 6 (r + 1), which the
    // symmetric kernel keeps where it reaches counted radii only.
    const arma::vec P = SummedProfile(work, spans, counted, span);
    ASSERT_EQ(P.n_elem, 9u);
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(P[i], 6.0 * (span.lo + i + 1), 1e-9) << i;
    // A sector's own profile keeps its own span.
    const arma::vec own = SectorProfile(work, 1, spans.counted[1], Trimmed(work, spans.counted[1]));
    ASSERT_EQ(own.n_elem, 14u);
    EXPECT_NEAR(own[13], 2.0 * 14, 1e-9);
}

// A sector cut so poorly covered that it is dropped anyway is not searched,
// and does not narrow the summed profile either; of sectors whose spans do
// not overlap, only those beginning furthest in are summed.
TEST(RingProfiles, DroppedSectorsDoNotNarrowTheSum) {
    const RingWork work = Tables(20, 1, {{0, 19}, {0, 19}, {0, 19}, {12, 19}});
    const SectorSpans spans = FindSectorSpans(work);
    EXPECT_EQ(spans.searched, (std::vector<char>{1, 1, 1, 0}));
    const RadiusSpan counted = SummedSpan(work, spans);
    EXPECT_EQ(counted.lo, 0);
    EXPECT_EQ(counted.n, 20);

    const RingWork apart = Tables(20, 1, {{0, 9}, {11, 19}});
    const RadiusSpan inner = SummedSpan(apart, FindSectorSpans(apart));
    EXPECT_EQ(inner.lo, 0);
    EXPECT_EQ(inner.n, 10);
}

// A sector that counts every radius is searched however poorly covered (an
// arm's edge across it): its means add to the summed profile like any
// other, and only the coverage step drops its ring. A cut sector as poorly
// covered is not searched.
TEST(RingProfiles, WholeSectorsAreSearchedHoweverCovered) {
    RingWork work = Tables(20, 1, {{0, 19}, {0, 19}, {0, 19}, {0, 19}, {2, 19}});
    for (int r = 0; r < 20; ++r) {
        work.W(r, 3) = 0.5f;
        work.S(r, 3) = 0.5f * 4.0f * static_cast<float>(r + 1);
    }
    for (int r = 2; r < 20; ++r) work.W(r, 4) = 0.5f;
    const SectorSpans spans = FindSectorSpans(work);
    EXPECT_LT(spans.T[3], CoverageFloor(spans.T));
    EXPECT_EQ(spans.searched, (std::vector<char>{1, 1, 1, 1, 0}));
    EXPECT_EQ(SummedCount(spans), 4);
}
