// PeakFindPreFit, PreFit and PeakFit called as a script calls them, on
// profiles built from chosen pseudo-Voigt peaks.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "capture_stdout.h"
#include "host_fixture.h"
#include "tests/profile/peak_test_profiles.h"

using orvanhost::Arg;
using peak_test::TruePeak;

namespace {

// Mostly Gaussian peaks on a gentle background: the search's background
// points keep little of their tails, so the fit can meet tight bounds.
const std::vector<TruePeak> kTruth = {{80, 400, 3, 0.1}, {200, 300, 3, 0.05}, {320, 250, 4, 0.0}, {440, 200, 4, 0.15}};
double Background(double x) { return 100 - 0.02 * x + 0.00002 * x * x; }
constexpr uint32_t kWidth = 520;

class PeakHandlers : public orvan_test::HostFixture {
protected:
    // A profile image kWidth wide and `lines` high: line 0 the profile, the
    // other lines -7.
    static orvanhost::ImagePtr ProfileImage(uint32_t lines = 4, double noise = 0.0) {
        const arma::Col<float> p = peak_test::MakeProfile(kWidth, kTruth, Background, noise);
        std::vector<float> px(static_cast<size_t>(kWidth) * lines, -7.0f);
        std::copy(p.begin(), p.end(), px.begin());
        return Image(kWidth, lines, px);
    }

    static std::vector<float> Line(const orvanhost::ImagePtr& image, uint32_t y) {
        const std::vector<float> px = Pixels(image);
        const uint32_t w = image->DimensionSize(0);
        return std::vector<float>(px.begin() + static_cast<long>(y) * w, px.begin() + static_cast<long>(y + 1) * w);
    }

    void FindPreFit(const orvanhost::ImagePtr& profile, orvanhost::ImagePtr* peaks, orvanhost::ImagePtr* points,
                    double smoothing = 0) {
        orvan_test::CaptureStdout quiet;  // the fit driver's trace
        Call("PeakFindPreFit", {Arg::Image(profile), Arg::ImageSlot(peaks), Arg::ImageSlot(points), Arg::Number(5),
                                Arg::Number(5), Arg::Number(20), Arg::Number(kWidth - 1), Arg::Number(smoothing)});
    }
    void PreFit(const orvanhost::ImagePtr& profile, const orvanhost::ImagePtr& peaks, const orvanhost::ImagePtr& points,
                double first, double last) {
        orvan_test::CaptureStdout quiet;
        Call("PreFit",
             {Arg::Image(profile), Arg::Image(peaks), Arg::Image(points), Arg::Number(first), Arg::Number(last)});
    }
    void Fit(const orvanhost::ImagePtr& profile, const orvanhost::ImagePtr& peaks, const orvanhost::ImagePtr& points) {
        orvan_test::CaptureStdout quiet;
        Call("PeakFit", {Arg::Image(profile), Arg::Image(peaks), Arg::Image(points)});
    }

    // Background points at the given positions, on the profile's data.
    static orvanhost::ImagePtr PointsAt(const std::vector<float>& x, const orvanhost::ImagePtr& profile) {
        const std::vector<float> line = Line(profile, 0);
        std::vector<float> px(x);
        for (float xi : x) px.push_back(line[static_cast<size_t>(xi)]);
        return Image(static_cast<uint32_t>(x.size()), 2, px);
    }

    // One line of four values per peak.
    static orvanhost::ImagePtr PeakImage(const std::vector<std::vector<float>>& peaks) {
        std::vector<float> px;
        for (const auto& p : peaks) px.insert(px.end(), p.begin(), p.end());
        return Image(4, static_cast<uint32_t>(peaks.size()), px);
    }

    // Pixel bit patterns, so a not-a-number compares equal to itself.
    static std::vector<uint32_t> Bits(const std::vector<float>& px) {
        std::vector<uint32_t> out(px.size());
        if (!px.empty()) std::memcpy(out.data(), px.data(), px.size() * sizeof(float));
        return out;
    }

    // The call was refused with a Results line starting with `start`, and
    // the images kept their pixels.
    void ExpectRefused(const std::string& start, const std::vector<orvanhost::ImagePtr>& images,
                       const std::vector<std::vector<float>>& before) {
        const std::string results = TakeResults();
        EXPECT_EQ(results.rfind("exception caught: " + start, 0), 0u) << results;
        EXPECT_EQ(results.find('\n'), results.size() - 1) << results;
        for (size_t i = 0; i < images.size(); ++i) EXPECT_EQ(Bits(Pixels(images[i])), Bits(before[i])) << i;
    }
};

TEST_F(PeakHandlers, FindPreFitThenFitRecoversTheChosenPeaks) {
    orvanhost::ImagePtr profile = ProfileImage();
    const std::vector<float> measured = Line(profile, 0);
    orvanhost::ImagePtr peaks, points;
    FindPreFit(profile, &peaks, &points);
    EXPECT_EQ(TakeResults(),
              "Estimating peakpositions and splinepoints.\n"
              "Determining Peak-Fitparameters by prefitting each peak.\n");
    ASSERT_TRUE(peaks);
    ASSERT_TRUE(points);
    EXPECT_EQ(peaks->DimensionSize(0), 4u);
    EXPECT_EQ(peaks->DimensionSize(1), kTruth.size());
    EXPECT_EQ(points->DimensionSize(1), 2u);
    EXPECT_EQ(Line(profile, 0), measured);

    Fit(profile, peaks, points);
    EXPECT_EQ(TakeResults(), "Performing first Fit (of 2).\nPerforming second Fit (of 2).\n");
    ASSERT_EQ(peaks->DimensionSize(1), kTruth.size());
    for (uint32_t c = 0; c < kTruth.size(); ++c) {
        const std::vector<float> p = Line(peaks, c);
        EXPECT_NEAR(p[0], kTruth[c].x0, 0.05) << c;
        EXPECT_NEAR(p[1], kTruth[c].area, 0.02 * kTruth[c].area) << c;
        EXPECT_NEAR(p[2], kTruth[c].w, 0.05 * kTruth[c].w) << c;
        EXPECT_GE(p[3], 0.0f);
        EXPECT_LE(p[3], 1.0f);
    }

    // The four lines: profile, background, difference, model; the model
    // follows the peaks above the background.
    const std::vector<float> background = Line(profile, 1), difference = Line(profile, 2), model = Line(profile, 3);
    EXPECT_EQ(Line(profile, 0), measured);
    const std::vector<float> x = Line(points, 0);
    for (uint32_t i = static_cast<uint32_t>(x.front()); i <= static_cast<uint32_t>(x.back()); ++i) {
        EXPECT_EQ(difference[i], measured[i] - background[i]) << i;
        EXPECT_NEAR(model[i], measured[i] - Background(i), 0.5) << i;
    }
    EXPECT_EQ(difference[0], 0.0f);
}

TEST_F(PeakHandlers, FindPreFitInNoiseFindsEveryPeak) {
    orvanhost::ImagePtr profile = ProfileImage(4, 0.2);
    orvanhost::ImagePtr peaks, points;
    FindPreFit(profile, &peaks, &points, 2.9);  // smoothing half-width 2
    ASSERT_TRUE(peaks);
    ASSERT_EQ(peaks->DimensionSize(1), kTruth.size());
    Fit(profile, peaks, points);
    for (uint32_t c = 0; c < kTruth.size(); ++c) {
        EXPECT_NEAR(Line(peaks, c)[0], kTruth[c].x0, 0.05) << c;
        EXPECT_NEAR(Line(peaks, c)[2], kTruth[c].w, 0.05 * kTruth[c].w) << c;
    }
}

TEST_F(PeakHandlers, FindPreFitReplacesTheImagesTheVariablesHeld) {
    orvanhost::ImagePtr profile = ProfileImage();
    orvanhost::ImagePtr old_peaks = Image(2, 2), old_points = Image(3, 3);
    orvanhost::ImagePtr peaks = old_peaks, points = old_points;
    FindPreFit(profile, &peaks, &points);
    EXPECT_NE(peaks.get(), old_peaks.get());
    EXPECT_NE(points.get(), old_points.get());
    EXPECT_EQ(old_peaks->ReleaseCount(), 1);
    EXPECT_EQ(old_points->ReleaseCount(), 1);
}

TEST_F(PeakHandlers, NoExtremumIsHostError28803AndChangesNothing) {
    orvanhost::ImagePtr profile = Image(kWidth, 4, std::vector<float>(kWidth * 4, 3.0f));
    orvanhost::ImagePtr old_peaks = Image(2, 2);
    orvanhost::ImagePtr peaks = old_peaks, points;
    try {
        FindPreFit(profile, &peaks, &points);
        ADD_FAILURE() << "no host error";
    } catch (const orvanhost::HostError& e) {
        EXPECT_EQ(e.code(), 28803);
    }
    EXPECT_EQ(TakeResults(), "Estimating peakpositions and splinepoints.\n");
    EXPECT_EQ(peaks.get(), old_peaks.get());
    EXPECT_EQ(old_peaks->ReleaseCount(), 0);
    EXPECT_FALSE(points);
    EXPECT_EQ(Pixels(profile), std::vector<float>(kWidth * 4, 3.0f));
}

TEST_F(PeakHandlers, ImagesOfTheWrongSizeOrKindAreRefusedFirst) {
    // A profile one line high has no room for the four result lines.
    orvanhost::ImagePtr flat = ProfileImage(1);
    const std::vector<float> flat_px = Pixels(flat);
    orvanhost::ImagePtr peaks, points;
    FindPreFit(flat, &peaks, &points);
    ExpectRefused("PeakFindPreFit: the profile image must be a valid 4-byte real image at least 4 lines high", {flat},
                  {flat_px});
    EXPECT_FALSE(peaks);
    EXPECT_FALSE(points);
    FindPreFit(orvanhost::ImagePtr(), &peaks, &points);
    ExpectRefused("PeakFindPreFit: the profile image", {}, {});
    orvanhost::ImagePtr integer = orvanhost::MakeImage("", orvanhost::DataType::Int16, {kWidth, 4});
    FindPreFit(integer, &peaks, &points);
    ExpectRefused("PeakFindPreFit: the profile image", {}, {});

    orvanhost::ImagePtr profile = ProfileImage();
    orvanhost::ImagePtr good_peaks = PeakImage({{80, 0, 0, 0}});
    orvanhost::ImagePtr good_points = PointsAt({40, 140}, profile);
    orvanhost::ImagePtr wide_peaks = Image(5, 1, {80, 1, 2, 0.5f, 9});
    orvanhost::ImagePtr tall_points = Image(2, 3, {40, 140, 1, 1, 0, 0});
    const std::vector<orvanhost::ImagePtr> all = {profile, good_peaks, good_points, wide_peaks, tall_points};
    std::vector<std::vector<float>> before;
    for (const auto& i : all) before.push_back(Pixels(i));

    Fit(profile, wide_peaks, good_points);
    ExpectRefused("PeakFit: the peak image must be a valid 4-byte real image exactly 4 pixels wide", all, before);
    PreFit(profile, good_peaks, tall_points, 0, 1);
    ExpectRefused("PreFit: the spline-point image must be a valid 4-byte real image exactly 2 lines high", all, before);
    PreFit(profile, orvanhost::ImagePtr(), good_points, 0, 1);
    ExpectRefused("PreFit: the peak image", all, before);
}

TEST_F(PeakHandlers, PreFitEstimatesPeaksGivenByPositionOnly) {
    orvanhost::ImagePtr profile = ProfileImage();
    const std::vector<float> measured = Line(profile, 0);
    orvanhost::ImagePtr points = PointsAt({40, 140, 260, 380, 500}, profile);
    const std::vector<float> points_before = Pixels(points);
    orvanhost::ImagePtr peaks = PeakImage({{80, 0, 0, 0}, {200, 0, 0, 0}, {320, 0, 0, 0}, {440, 0, 0, 0}});
    PreFit(profile, peaks, points, 0, 4);
    EXPECT_EQ(TakeResults(), "Determining Peak-Fitparameters by prefitting each peak.\n");
    for (uint32_t c = 0; c < kTruth.size(); ++c) {
        const std::vector<float> p = Line(peaks, c);
        EXPECT_NEAR(p[0], kTruth[c].x0, 0.1) << c;
        EXPECT_NEAR(p[1], kTruth[c].area, 0.1 * kTruth[c].area) << c;
        EXPECT_NEAR(p[2], kTruth[c].w, 0.1 * kTruth[c].w) << c;
    }
    EXPECT_EQ(Pixels(points), points_before);
    EXPECT_EQ(Line(profile, 0), measured);
    for (float v : Line(profile, 3)) EXPECT_TRUE(std::isfinite(v));
}

// The pre-fit stops at the first interval without a peak (140 to 180);
// the peaks beyond keep the values given, and Results names them.
TEST_F(PeakHandlers, PreFitNamesThePeaksBeyondAnEmptyInterval) {
    orvanhost::ImagePtr profile = ProfileImage();
    orvanhost::ImagePtr points = PointsAt({40, 140, 180, 260, 380, 500}, profile);
    orvanhost::ImagePtr peaks =
        PeakImage({{80, 100, 3, 0.5f}, {200, 100, 3, 0.5f}, {320, 100, 3, 0.5f}, {440, 100, 3, 0.5f}});
    PreFit(profile, peaks, points, 0, 5);
    EXPECT_EQ(TakeResults(),
              "Determining Peak-Fitparameters by prefitting each peak.\n"
              "Handed back 3 peaks as given, not pre-fitted: the pre-fit stops at the first interval without a peak; "
              "at 200, 320, 440.\n");
    EXPECT_NE(Line(peaks, 0)[1], 100.0f);
    EXPECT_EQ(Line(peaks, 1), (std::vector<float>{200, 100, 3, 0.5f}));
}

TEST_F(PeakHandlers, PreFitOfNoIntervalWritesTheBackgroundOnly) {
    orvanhost::ImagePtr profile = ProfileImage();
    const std::vector<float> measured = Line(profile, 0);
    orvanhost::ImagePtr points = PointsAt({40, 140, 260, 380, 500}, profile);
    const std::vector<std::vector<float>> given = {{80, 350, 2.5f, 0.5f}, {200, 280, 3.5f, 0.2f}};
    orvanhost::ImagePtr peaks = PeakImage(given);
    const std::vector<float> peaks_before = Pixels(peaks);
    PreFit(profile, peaks, points, 2, 2);
    EXPECT_EQ(TakeResults(), "Determining Peak-Fitparameters by prefitting each peak.\n");
    EXPECT_EQ(Pixels(peaks), peaks_before);
    const std::vector<float> background = Line(profile, 1), difference = Line(profile, 2), model = Line(profile, 3);
    for (uint32_t i = 40; i <= 500; ++i) EXPECT_EQ(difference[i], measured[i] - background[i]);
    EXPECT_EQ(background[40], measured[40]);
    // The model line is the sum of the given peaks.
    const double pi = 3.141592653589793;
    EXPECT_NEAR(model[80],
                350 * (0.5 * std::sqrt(std::log(2.0) / pi) / 2.5 + 0.5 / (pi * 2.5)) +
                    280 * 0.2 / (pi * 3.5) / (1 + 120.0 * 120.0 / (3.5 * 3.5)),
                1e-3);
}

TEST_F(PeakHandlers, PreFitRefusesPeaksItCannotEstimateAndIntervalsThatDoNotExist) {
    orvanhost::ImagePtr profile = ProfileImage();
    orvanhost::ImagePtr points = PointsAt({40, 140, 260, 380, 500}, profile);
    // The peaks at 320 and 440 lie beyond the intervals 0 and 1 and have no width.
    orvanhost::ImagePtr peaks = PeakImage({{80, 0, 0, 0}, {200, 0, 0, 0}, {320, 0, 0, 0}, {440, 0, 0, 0}});
    const std::vector<orvanhost::ImagePtr> all = {profile, peaks, points};
    std::vector<std::vector<float>> before;
    for (const auto& i : all) before.push_back(Pixels(i));
    PreFit(profile, peaks, points, 0, 2);
    ExpectRefused("PreFit: peak 2 (position 320", all, before);
    PreFit(profile, peaks, points, 0, 5);  // point 5 does not exist
    ExpectRefused("PreFit: background intervals must lie between point 0 and point 4", all, before);
    PreFit(profile, peaks, points, -1, 2);
    ExpectRefused("PreFit: background intervals", all, before);

    orvanhost::ImagePtr nan_peaks = PeakImage({{80, 1, NAN, 0.5f}});
    const std::vector<float> nan_before = Pixels(nan_peaks);
    PreFit(profile, nan_peaks, points, 0, 4);
    ExpectRefused("PreFit: peak 0 (position 80", {profile, nan_peaks}, {before[0], nan_before});
}

TEST_F(PeakHandlers, PeakFitListsPeaksByPositionAndKeepsTheLinesBelow) {
    orvanhost::ImagePtr profile = ProfileImage();
    orvanhost::ImagePtr points = PointsAt({30, 140, 260, 380, 500}, profile);
    // Any order, one peak at the first background point and one beyond the
    // last (width 0 there is harmless: the fit drops it).
    orvanhost::ImagePtr peaks = PeakImage({{321, 200, 4, 0.5f},
                                           {30, 10, 4, 0.5f},
                                           {201, 200, 4, 0.5f},
                                           {505, 10, 0, 0.5f},
                                           {79, 200, 4, 0.5f},
                                           {441, 200, 4, 0.5f}});
    const std::vector<float> line4 = Line(peaks, 4), line5 = Line(peaks, 5);
    Fit(profile, peaks, points);
    EXPECT_EQ(TakeResults(), "Performing first Fit (of 2).\nPerforming second Fit (of 2).\n");
    for (uint32_t c = 0; c < kTruth.size(); ++c) EXPECT_NEAR(Line(peaks, c)[0], kTruth[c].x0, 0.05) << c;
    EXPECT_EQ(Line(peaks, 4), line4);
    EXPECT_EQ(Line(peaks, 5), line5);
    // The background points moved under the fitted peaks' tails.
    const std::vector<float> y = Line(points, 1), measured = Line(profile, 0);
    EXPECT_LT(y[1], measured[140]);
}

TEST_F(PeakHandlers, PeakFitRefusesAWidthOfZeroAndUnorderedBackgroundPoints) {
    orvanhost::ImagePtr profile = ProfileImage();
    orvanhost::ImagePtr points = PointsAt({30, 140, 260, 380, 500}, profile);
    orvanhost::ImagePtr peaks = PeakImage({{80, 400, 3, 0.1f}, {200, 300, 0, 0.1f}});
    std::vector<orvanhost::ImagePtr> all = {profile, peaks, points};
    std::vector<std::vector<float>> before;
    for (const auto& i : all) before.push_back(Pixels(i));
    Fit(profile, peaks, points);
    ExpectRefused("PeakFit: peak 1 (position 200", all, before);

    orvanhost::ImagePtr unordered = PointsAt({30, 260, 140, 500}, profile);
    orvanhost::ImagePtr good = PeakImage({{80, 400, 3, 0.1f}});
    all = {profile, good, unordered};
    before.clear();
    for (const auto& i : all) before.push_back(Pixels(i));
    Fit(profile, good, unordered);
    ExpectRefused("background points: positions must be finite and strictly increasing", all, before);
}

// The profile of the missing-sample cases: pseudo-Voigt peaks at 150 and
// 250 (areas 1000 and 800, half-width 4) on a flat 50, 400 samples.
const std::vector<TruePeak> kPair = {{150, 1000, 4, 0.5}, {250, 800, 4, 0.5}};

class PeakSamples : public PeakHandlers {
protected:
    static orvanhost::ImagePtr PairImage(double noise = 0.0) {
        const arma::Col<float> p = peak_test::MakeProfile(
            400, kPair, [](double) { return 50.0; }, noise);
        std::vector<float> px(400 * 4, -7.0f);
        std::copy(p.begin(), p.end(), px.begin());
        return Image(400, 4, px);
    }
    void Search(const orvanhost::ImagePtr& profile, orvanhost::ImagePtr* peaks, orvanhost::ImagePtr* points,
                double percent, double smoothing) {
        Search(profile, peaks, points, percent, percent, 0, 399, smoothing);
    }
    void Search(const orvanhost::ImagePtr& profile, orvanhost::ImagePtr* peaks, orvanhost::ImagePtr* points,
                double min_percent, double valley_percent, double start, double end, double smoothing) {
        orvan_test::CaptureStdout quiet;
        Call("PeakFindPreFit",
             {Arg::Image(profile), Arg::ImageSlot(peaks), Arg::ImageSlot(points), Arg::Number(min_percent),
              Arg::Number(valley_percent), Arg::Number(start), Arg::Number(end), Arg::Number(smoothing)});
    }
};

TEST_F(PeakSamples, ASampleThatIsNotANumberIsRefusedByName) {
    orvanhost::ImagePtr peaks, points;
    orvanhost::ImagePtr profile = PairImage();
    profile->SetPixel(200, 0, NAN);
    Search(profile, &peaks, &points, 1, 0);
    ExpectRefused("PeakFindPreFit: profile sample 200 is not a number", {profile}, {Pixels(profile)});
    EXPECT_FALSE(peaks);
    EXPECT_FALSE(points);

    // The search reads its range widened by the smoothing, and nothing else.
    profile = PairImage();
    profile->SetPixel(13, 0, NAN);
    Search(profile, &peaks, &points, 1, 7);
    ExpectRefused("PeakFindPreFit: profile sample 13 is not a number", {}, {});
    Search(profile, &peaks, &points, 1, 6);
    ASSERT_TRUE(peaks);
    EXPECT_EQ(peaks->DimensionSize(1), 2u);

    // The fits of a given problem refuse it inside their background points.
    profile = PairImage();
    Search(profile, &peaks, &points, 1, 0);
    TakeResults();
    profile->SetPixel(200, 0, NAN);
    const std::vector<orvanhost::ImagePtr> all = {profile, peaks, points};
    std::vector<std::vector<float>> before;
    for (const auto& i : all) before.push_back(Pixels(i));
    Fit(profile, peaks, points);
    ExpectRefused("PeakFit: profile sample 200 is not a number", all, before);
    PreFit(profile, peaks, points, 0, 2);
    ExpectRefused("PreFit: profile sample 200 is not a number", all, before);
    points->SetPixel(1, 1, NAN);
    before[2] = Pixels(points);
    Fit(profile, peaks, points);
    ExpectRefused("PeakFit: background point 1 has a value that is not a number", all, before);
}

// Noise and low thresholds make the scan meet two minima with no maximum
// between; the pre-fit goes on past such an interval, so every peak has a
// width and the model is a number everywhere.
TEST_F(PeakSamples, EveryPeakOfANoisySearchHasAWidth) {
    orvanhost::ImagePtr profile = PairImage(3.0);
    orvanhost::ImagePtr peaks, points;
    Search(profile, &peaks, &points, 2, 0);
    const std::string results = TakeResults();
    EXPECT_EQ(results.rfind("Estimating peakpositions and splinepoints.\n"
                            "Left out 3 peaks that the search does not see whole (it scans 20 to 398), at 6, "
                            "10, 22.\n",
                            0),
              0u)
        << results;
    ASSERT_TRUE(peaks);
    ASSERT_GT(peaks->DimensionSize(1), 10u);  // noise peaks, as asked for
    // Every peak that comes back at its start values (whole-number position
    // and width, mixing 0.5) is named, and only those.
    const size_t named_at = results.find("Handed back ");
    ASSERT_NE(named_at, std::string::npos) << results;
    const std::string named = results.substr(named_at, results.find('\n', named_at) - named_at);
    int near_truth = 0;
    for (uint32_t c = 0; c < peaks->DimensionSize(1); ++c) {
        const std::vector<float> p = Line(peaks, c);
        EXPECT_GT(p[2], 0.0f) << "peak at " << p[0];
        const bool at_start = p[3] == 0.5f && p[0] == std::floor(p[0]) && p[2] == std::floor(p[2]);
        const std::string at = " " + std::to_string(int(p[0]));
        const bool listed = named.find(at + ",") != std::string::npos || named.find(at + " (") != std::string::npos;
        EXPECT_EQ(at_start, listed) << "peak at " << p[0] << ": " << named;
        for (const TruePeak& t : kPair) near_truth += std::fabs(p[0] - t.x0) <= 1 && p[1] > 0.5 * t.area;
    }
    EXPECT_EQ(near_truth, 2);
    for (float v : Line(profile, 3)) ASSERT_TRUE(std::isfinite(v));
}

// A negative threshold records a maximum before the first background point:
// no interval holds it, so it gets no width and is left out, by name.
TEST_F(PeakSamples, APeakThatNoIntervalHoldsIsLeftOut) {
    std::vector<float> px(40 * 4, 10.0f);
    const float tail[20] = {10, 20, 30, 60, 50, 20, 60, 20, 40, 20, 20, 30, 50, 10, 30, 40, 40, 60, 20, 70};
    std::copy(tail, tail + 20, px.begin() + 20);
    orvanhost::ImagePtr profile = Image(40, 4, px);
    orvanhost::ImagePtr peaks, points;
    Search(profile, &peaks, &points, -8, 100, 20, 39, 0);
    const std::string results = TakeResults();
    EXPECT_NE(results.find("prefitting each peak.\nLeft out "), std::string::npos) << results;
    ASSERT_TRUE(peaks);
    const std::vector<float> x = Line(points, 0);
    for (uint32_t c = 0; c < peaks->DimensionSize(1); ++c) {
        const std::vector<float> p = Line(peaks, c);
        EXPECT_TRUE(p[0] > x.front() && p[0] < x.back()) << p[0];
        EXPECT_GT(p[2], 0.0f);
    }
    for (float v : Line(profile, 3)) EXPECT_TRUE(std::isfinite(v));
}

// With a threshold below zero every sample can record both kinds; here the
// one peak shares its sample with a background point, so no interval holds
// it and nothing is left to fit.
TEST_F(PeakSamples, ASearchWhosePeaksNoIntervalHoldsIsRefusedByName) {
    std::vector<float> px(40 * 4, 10.0f);
    const float tail[5] = {10, 50, 30, 20, 60};
    std::copy(tail, tail + 5, px.begin() + 20);
    orvanhost::ImagePtr profile = Image(40, 4, px);
    orvanhost::ImagePtr peaks, points;
    Search(profile, &peaks, &points, -103, 100, 20, 24, 0);
    const std::string results = TakeResults();
    EXPECT_NE(results.find("\nexception caught: PeakFindPreFit: no peak lies between two background points\n"),
              std::string::npos)
        << results;
    EXPECT_FALSE(peaks);
    EXPECT_FALSE(points);
    EXPECT_EQ(Pixels(profile), px);
}

// The fits read from the first background point on, here sample 0.
TEST_F(PeakSamples, ANonNumberAtSampleZeroIsRefused) {
    orvanhost::ImagePtr profile = PairImage();
    profile->SetPixel(0, 0, NAN);
    orvanhost::ImagePtr points = Image(3, 2, {0, 200, 399, 50, 50, 50});
    orvanhost::ImagePtr peaks = PeakImage({{150, 900, 4, 0.5f}, {250, 700, 4, 0.5f}});
    const std::vector<orvanhost::ImagePtr> all = {profile, peaks, points};
    std::vector<std::vector<float>> before;
    for (const auto& i : all) before.push_back(Pixels(i));
    Fit(profile, peaks, points);
    ExpectRefused("PeakFit: profile sample 0 is not a number", all, before);
    PreFit(profile, peaks, points, 0, 2);
    ExpectRefused("PreFit: profile sample 0 is not a number", all, before);
}

// Peaks at 10, 150 and 297.5 of 300 samples: the search starts at 20 at the
// earliest and never scans its last sample, so only the middle one is
// found; Results names the other two.
TEST_F(PeakSamples, PeaksTheSearchDoesNotScanAreNamed) {
    const arma::Col<float> p = peak_test::MakeProfile(
        300, {{10, 400, 2.5, 0.3}, {150, 400, 2.5, 0.3}, {297.5, 400, 2.5, 0.3}}, [](double) { return 50.0; });
    std::vector<float> px(300 * 4, 0.0f);
    std::copy(p.begin(), p.end(), px.begin());
    orvanhost::ImagePtr profile = Image(300, 4, px);
    orvanhost::ImagePtr peaks, points;
    Search(profile, &peaks, &points, 5, 5, 0, 299, 0);
    EXPECT_EQ(TakeResults(),
              "Estimating peakpositions and splinepoints.\n"
              "Left out 2 peaks that the search does not see whole (it scans 20 to 298), at 10, 297.\n"
              "Determining Peak-Fitparameters by prefitting each peak.\n");
    ASSERT_TRUE(peaks);
    ASSERT_EQ(peaks->DimensionSize(1), 1u);
    EXPECT_NEAR(Line(peaks, 0)[0], 150, 0.1);
}

// A background subtracted too far leaves the whole profile below 0; heights
// in percent of a negative maximum would make every wiggle a peak.
TEST_F(PeakSamples, AProfileEntirelyBelowZeroIsRefused) {
    orvanhost::ImagePtr profile = PairImage(1.0);
    for (uint32_t i = 0; i < 400; ++i) profile->SetPixel(i, 0, profile->GetPixel(i, 0) - 2000.0f);
    const std::vector<float> before = Pixels(profile);
    orvanhost::ImagePtr peaks, points;
    Search(profile, &peaks, &points, 5, 2);
    const std::string results = TakeResults();
    EXPECT_EQ(results.rfind("Estimating peakpositions and splinepoints.\nexception caught: peak search: the "
                            "smoothed profile's largest value from 20 to 399 is -",
                            0),
              0u)
        << results;
    EXPECT_NE(results.find("not above 0"), std::string::npos) << results;
    EXPECT_FALSE(peaks);
    EXPECT_FALSE(points);
    EXPECT_EQ(Pixels(profile), before);

    // Two narrow peaks on a baseline of -5: the smoothing pulls them below 0,
    // and the refusal says so, quoting the samples' own maximum too.
    for (uint32_t i = 0; i < 400; ++i) profile->SetPixel(i, 0, i == 100 || i == 200 ? 4.5f : -5.0f);
    Search(profile, &peaks, &points, 5, 2);
    EXPECT_NE(
        TakeResults().find("the smoothed profile's largest value from 20 to 399 is -1.83333 (unsmoothed 4.5), not "
                           "above 0"),
        std::string::npos);
}

// The search's windows at the ends of the profile: a peak 2.4 samples from
// the last sample comes back with a fraction of its area, and one whose
// maximum lies on sample 20, the first the search scans, has its rise
// below it. Results names both.
TEST_F(PeakSamples, PeaksAtTheProfilesEndsAreNamed) {
    const arma::Col<float> p = peak_test::MakeProfile(
        400, {{19.6, 3000, 2, 0.5}, {200, 3000, 2, 0.5}, {396.6, 3000, 2, 0.5}}, [](double) { return 50.0; });
    std::vector<float> px(400 * 4, 0.0f);
    std::copy(p.begin(), p.end(), px.begin());
    orvanhost::ImagePtr profile = Image(400, 4, px);
    orvanhost::ImagePtr peaks, points;
    Search(profile, &peaks, &points, 5, 5, 0, 399, 0);
    const std::string results = TakeResults();
    EXPECT_NE(results.find("Left out 1 peak that the search does not see whole (it scans 20 to 398), at 20.\n"),
              std::string::npos)
        << results;
    EXPECT_NE(results.find("1 peak lies within 3 half widths of the profile's end, so area and width leave out what "
                           "lies beyond: at 396."),
              std::string::npos)
        << results;
    ASSERT_TRUE(peaks);
    ASSERT_EQ(peaks->DimensionSize(1), 2u);
    EXPECT_NEAR(Line(peaks, 0)[1], 3000, 60);  // the middle one is not named
    TakeResults();
    Fit(profile, peaks, points);
    EXPECT_NE(TakeResults().find("the profile's end, so area and width leave out what lies beyond: at 396."),
              std::string::npos);
}

// A last peak on a shoulder that the profile never falls from by the
// minimum height: the closing rule drops it, 98 samples before the end of
// the range, and Results says so rather than that it went unscanned.
TEST_F(PeakSamples, ALastPeakTheClosingRuleDropsIsNamedForIt) {
    std::vector<float> px(400 * 4, 0.0f);
    for (int i = 0; i < 400; ++i) {
        double v = 50 + 50 * std::exp(-(i - 150.0) * (i - 150.0) / 8);
        if (i >= 200) v = 50 + 42 * std::min(1.0, (i - 200) / 60.0);
        if (i >= 260) v = 92 + 8 * std::exp(-(i - 300.0) * (i - 300.0) / 8);
        if (i > 307) v = 92 + 4 * (i - 307) / 92.0;
        px[static_cast<size_t>(i)] = static_cast<float>(v);
    }
    orvanhost::ImagePtr profile = Image(400, 4, px);
    orvanhost::ImagePtr peaks, points;
    Search(profile, &peaks, &points, 5, 5, 20, 399, 0);
    EXPECT_EQ(TakeResults(),
              "Estimating peakpositions and splinepoints.\n"
              "Left out the last peak, at 300: the profile at the search's last sample (398) stands within the "
              "minimum height of it, so it has no background point after it.\n"
              "Determining Peak-Fitparameters by prefitting each peak.\n");
    ASSERT_TRUE(peaks);
    ASSERT_EQ(peaks->DimensionSize(1), 1u);
}

// A step up after the last peak, then a bump lower than the minimum
// height and the profile level to its end: the smoothing pulls the last
// sample toward 0, which is no fall of the bump's.
TEST_F(PeakSamples, ASmoothedEndMakesNoPeak) {
    const arma::Col<float> p =
        peak_test::MakeProfile(300, {{100, 2000, 3, 0.5}, {200, 2000, 3, 0.5}, {270, 100, 3, 0.5}}, [](double t) {
            return t < 230 ? 300.0 : t < 250 ? 300.0 + 3 * (t - 230) : 360.0;
        });
    std::vector<float> px(300 * 4, 0.0f);
    std::copy(p.begin(), p.end(), px.begin());
    orvanhost::ImagePtr profile = Image(300, 4, px);
    orvanhost::ImagePtr peaks, points;
    Search(profile, &peaks, &points, 5, 5, 20, 299, 1);
    const std::string results = TakeResults();
    EXPECT_EQ(results.find("Left out"), std::string::npos) << results;
    ASSERT_TRUE(peaks);
    EXPECT_EQ(peaks->DimensionSize(1), 2u);
}

// PeakFit says when its fits fail, and which peaks come back as given:
// here two peaks (8 values) over 5 samples, which no fit can fix.
TEST_F(PeakSamples, PeakFitNamesFitsThatFail) {
    orvanhost::ImagePtr profile = PairImage();
    orvanhost::ImagePtr points = Image(2, 2, {148, 152, 50, 50});
    orvanhost::ImagePtr peaks = PeakImage({{149, 900, 4, 0.5f}, {151, 900, 4, 0.5f}});
    Fit(profile, peaks, points);
    EXPECT_EQ(TakeResults(),
              "Performing first Fit (of 2).\nPerforming second Fit (of 2).\n"
              "PeakFit: neither fit converged; 2 peaks handed back unfitted, as given: at 149, 151.\n");
    EXPECT_EQ(Line(peaks, 0), (std::vector<float>{149, 900, 4, 0.5f}));
}

}  // namespace
