// RDF_Kirklandfit, RDF_Kirklandfunction and CalculateRDF called as a script
// calls them, on profiles built from a chosen background.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "capture_stdout.h"
#include "host_fixture.h"
#include "profile/rdf_kirkland.h"
#include "profile/rdf_transform.h"
#include "tests/profile/rdf_test_table.h"

using orvanhost::Arg;

namespace {

class RdfHandlers : public orvan_test::HostFixture {
protected:
    static constexpr float kSentinel = -7.0f;

    // Gold at 100 %, as the element image holds it (one line).
    static RDFProfile Gold(float q_step) {
        RDFProfile p;
        p.elements = rdftest::ElementColumn("Au", 100.0f);
        p.q_step = q_step;
        return p;
    }

    static orvanhost::ImagePtr GoldElements() {
        const arma::Col<float> c = rdftest::ElementColumn("Au", 100.0f);
        return Image(14, 1, std::vector<float>(c.begin(), c.end()));
    }

    // A profile image m wide: line 0 is s * <f^2> + o, every other pixel the
    // sentinel.
    static orvanhost::ImagePtr ProfileImage(uint32_t m, uint32_t lines, float s, float o, float q) {
        arma::Col<float> f2;
        KirklandScatteringSquared(Gold(q), 0.0f, static_cast<int>(m), f2);
        std::vector<float> px(static_cast<size_t>(m) * lines, kSentinel);
        for (uint32_t i = 0; i < m; ++i) px[i] = f2[i] * s + o;
        return Image(m, lines, px);
    }

    // Line y of an image's pixels.
    static std::vector<float> Line(const orvanhost::ImagePtr& image, uint32_t y) {
        const std::vector<float> px = Pixels(image);
        const uint32_t w = image->DimensionSize(0);
        return std::vector<float>(px.begin() + static_cast<long>(y) * w, px.begin() + static_cast<long>(y + 1) * w);
    }

    static std::vector<float> Vec(const arma::Col<float>& c) { return {c.begin(), c.end()}; }

    void Fit(const orvanhost::ImagePtr& profile, const orvanhost::ImagePtr& elements, double* offset, double* scale,
             double first, double last, double q) {
        orvan_test::CaptureStdout quiet;  // the fit driver's trace
        Call("RDF_Kirklandfit",
             {Arg::Image(profile), Arg::Image(elements), Arg::NumberRef(offset), Arg::NumberRef(scale),
              Arg::Number(first), Arg::Number(last), Arg::Number(q), Arg::Number(0)});
    }
};

}  // namespace

TEST_F(RdfHandlers, FitRecoversTheBackgroundAndWritesFourLines) {
    const float q = 0.05f;
    orvanhost::ImagePtr profile = ProfileImage(400, 5, 3.5f, 120.0f, q);
    const std::vector<float> measured = Line(profile, 0);
    double offset = 1, scale = 1;
    Fit(profile, GoldElements(), &offset, &scale, 20.9, 380.2, q);
    EXPECT_EQ(TakeResults(), "");
    EXPECT_FALSE(host.TakeError().has_value());
    EXPECT_NEAR(scale, 3.5, 3.5e-3);
    EXPECT_NEAR(offset, 120.0, 0.12);

    // The lines are the reduced-intensity table for the values handed back.
    RDFProfile p = Gold(q);
    p.profile = arma::Col<float>(measured);
    p.scale = static_cast<float>(scale);
    p.offset = static_cast<float>(offset);
    const arma::Mat<float> expected = KirklandReducedIntensity(p);
    EXPECT_EQ(Line(profile, 0), measured);
    for (uint32_t y = 1; y < 4; ++y) EXPECT_EQ(Line(profile, y), Vec(expected.col(y))) << "line " << y;
    EXPECT_EQ(Line(profile, 4), std::vector<float>(400, kSentinel));
    // A background that fits leaves almost no reduced intensity.
    for (float v : Line(profile, 2)) EXPECT_LT(std::fabs(v), 1e-3f);
}

// One point cannot fix two parameters: the fit fails, the script's values
// stay, and the lines are written for them.
TEST_F(RdfHandlers, OnePointRangeKeepsTheValuesAndWritesTheLines) {
    const float q = 0.05f;
    orvanhost::ImagePtr profile = ProfileImage(60, 4, 3.0f, 10.0f, q);
    const std::vector<float> measured = Line(profile, 0);
    double offset = 4, scale = 5;
    Fit(profile, GoldElements(), &offset, &scale, 30, 30, q);
    EXPECT_EQ(TakeResults(), "");
    EXPECT_EQ(offset, 4);
    EXPECT_EQ(scale, 5);
    RDFProfile p = Gold(q);
    p.profile = arma::Col<float>(measured);
    p.scale = 5;
    p.offset = 4;
    const arma::Mat<float> expected = KirklandReducedIntensity(p);
    for (uint32_t y = 0; y < 4; ++y) EXPECT_EQ(Line(profile, y), Vec(expected.col(y))) << "line " << y;
}

TEST_F(RdfHandlers, TransformAfterTheFitReadsLine2WithTheConvertedStep) {
    const float q = 0.05f;
    orvanhost::ImagePtr profile = ProfileImage(300, 4, 2.0f, 50.0f, q);
    // Ring-like bumps on the background, so that line 2 is not flat.
    for (uint32_t i = 0; i < 300; ++i) profile->SetPixel(i, 0, profile->GetPixel(i, 0) * (1 + 0.2 * std::sin(0.3 * i)));
    double offset = 50, scale = 2;
    Fit(profile, GoldElements(), &offset, &scale, 10, 290, q);
    const std::vector<float> reduced = Line(profile, 2);

    orvanhost::ImagePtr old = Image(2, 2);
    orvanhost::ImagePtr slot = old;
    ASSERT_EQ(old->RefCount(), 2);
    Call("CalculateRDF", {Arg::Image(profile), Arg::ImageSlot(&slot), Arg::Number(0), Arg::Number(300), Arg::Number(q),
                          Arg::Number(10.9), Arg::Number(200.5)});
    EXPECT_EQ(TakeResults(), "");
    ASSERT_TRUE(slot);
    EXPECT_NE(slot.get(), old.get());
    EXPECT_EQ(old->RefCount(), 1);
    EXPECT_EQ(slot->Name(), "RDF");
    EXPECT_EQ(slot->DimensionSize(0), 200u);
    EXPECT_EQ(slot->DimensionSize(1), 1u);

    RDFProfile p;
    p.profile = arma::Col<float>(reduced);
    p.q_step = static_cast<float>(double(q) * 2 * 3.14159265358979 / 10);
    EXPECT_EQ(Pixels(slot), Vec(RDFSineTransform(p, 0, 300, 10, 200)));
    EXPECT_EQ(Pixels(slot)[0], 0.0f);
}

TEST_F(RdfHandlers, FunctionUsesTheGivenValuesAndOnlyReadsThem) {
    const float q = 0.04f;
    orvanhost::ImagePtr profile = ProfileImage(100, 4, 2.0f, 30.0f, q);
    double offset = 30, scale = 2;
    Call("RDF_Kirklandfunction", {Arg::Image(profile), Arg::Image(GoldElements()), Arg::NumberRef(&offset),
                                  Arg::NumberRef(&scale), Arg::Number(q), Arg::Number(0)});
    EXPECT_EQ(TakeResults(), "");
    EXPECT_EQ(offset, 30);
    EXPECT_EQ(scale, 2);
    EXPECT_EQ(Line(profile, 1), Line(profile, 0));  // B equals the profile
    EXPECT_EQ(Line(profile, 2), std::vector<float>(100, 0.0f));
    EXPECT_EQ(Line(profile, 3), std::vector<float>(100, 0.0f));

    // A zero background divides by zero; the call still completes.
    offset = scale = 0;
    Call("RDF_Kirklandfunction", {Arg::Image(profile), Arg::Image(GoldElements()), Arg::NumberRef(&offset),
                                  Arg::NumberRef(&scale), Arg::Number(q), Arg::Number(0)});
    EXPECT_EQ(TakeResults(), "");
    EXPECT_FALSE(host.TakeError().has_value());
    EXPECT_EQ(Line(profile, 1), std::vector<float>(100, 0.0f));
    for (float v : Line(profile, 2)) EXPECT_FALSE(std::isfinite(v));
}

TEST_F(RdfHandlers, BadImagesRangesAndCountsAreRefusedBeforeAnythingChanges) {
    const float q = 0.05f;
    orvanhost::ImagePtr profile = ProfileImage(60, 4, 3.0f, 10.0f, q);
    const std::vector<float> before = Pixels(profile);
    const orvanhost::ImagePtr gold = GoldElements();
    const double nan = std::numeric_limits<double>::quiet_NaN();

    struct Case {
        orvanhost::ImagePtr profile, elements;
        double first, last;
        const char* problem;
    };
    const Case cases[] = {
        {ProfileImage(60, 3, 3, 10, q), gold, 0, 50, "profile image"},
        {profile, Image(13, 1), 0, 50, "element image"},
        {profile, orvanhost::ImagePtr(), 0, 50, "element image"},
        {orvanhost::ImagePtr(), gold, 0, 50, "profile image"},
        {profile, gold, 40, 30, "fit range"},
        {profile, gold, -1, 30, "fit range"},
        {profile, gold, 0, 60, "fit range"},
        {profile, gold, nan, 30, "fit range"},
    };
    for (const Case& c : cases) {
        double offset = 4, scale = 5;
        Fit(c.profile, c.elements, &offset, &scale, c.first, c.last, q);
        const std::string results = TakeResults();
        EXPECT_EQ(results.rfind("exception caught: RDF_Kirklandfit: ", 0), 0u) << results;
        EXPECT_NE(results.find(c.problem), std::string::npos) << results;
        EXPECT_EQ(offset, 4);
        EXPECT_EQ(scale, 5);
        EXPECT_EQ(Pixels(profile), before);
    }

    // A profile image of another pixel type cannot take the results in place.
    orvanhost::ImagePtr integer = orvanhost::MakeImage("", orvanhost::DataType::Int16, {60, 4});
    double offset = 4, scale = 5;
    Call("RDF_Kirklandfunction", {Arg::Image(integer), Arg::Image(gold), Arg::NumberRef(&offset),
                                  Arg::NumberRef(&scale), Arg::Number(q), Arg::Number(0)});
    EXPECT_NE(TakeResults().find("profile image"), std::string::npos);
    EXPECT_EQ(Pixels(integer), std::vector<float>(240, 0.0f));

    orvanhost::ImagePtr old = Image(1, 1);
    orvanhost::ImagePtr slot = old;
    Call("CalculateRDF", {Arg::Image(Image(60, 2)), Arg::ImageSlot(&slot), Arg::Number(0), Arg::Number(60),
                          Arg::Number(q), Arg::Number(10), Arg::Number(100)});
    EXPECT_NE(TakeResults().find("exception caught: CalculateRDF: the input image"), std::string::npos);
    for (double n_r : {0.0, 0.9, -3.0, nan}) {
        Call("CalculateRDF", {Arg::Image(profile), Arg::ImageSlot(&slot), Arg::Number(0), Arg::Number(60),
                              Arg::Number(q), Arg::Number(10), Arg::Number(n_r)});
        EXPECT_NE(TakeResults().find("exception caught: CalculateRDF: the number of radii"), std::string::npos);
    }
    EXPECT_EQ(slot.get(), old.get());
    EXPECT_EQ(old->RefCount(), 2);
    EXPECT_FALSE(host.TakeError().has_value());
}

// 3.5 <f^2> + 120 with one sample that is not a number: refused by name,
// inside the range only; a range of missing samples only is refused too.
// Pixels compared by their bits, so a not-a-number equals itself.
bool SameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0);
}

TEST_F(RdfHandlers, FitRefusesSamplesItCannotUse) {
    const float q = 0.05f;
    orvanhost::ImagePtr profile = ProfileImage(400, 4, 3.5f, 120.0f, q);
    profile->SetPixel(200, 0, NAN);
    std::vector<float> before = Pixels(profile);
    double offset = 0, scale = 1;
    Fit(profile, GoldElements(), &offset, &scale, 10, 380, q);
    EXPECT_EQ(TakeResults(), "exception caught: RDF_Kirklandfit: profile sample 200 is not a number\n");
    EXPECT_EQ(offset, 0);
    EXPECT_EQ(scale, 1);
    EXPECT_TRUE(SameBits(Pixels(profile), before));

    Fit(profile, GoldElements(), &offset, &scale, 210, 380, q);
    EXPECT_EQ(TakeResults(), "");
    EXPECT_NEAR(scale, 3.5, 3.5e-3);
    EXPECT_NEAR(offset, 120.0, 0.12);

    for (uint32_t i = 0; i < 60; ++i) profile->SetPixel(i, 0, 0.0f);
    before = Pixels(profile);
    Fit(profile, GoldElements(), &offset, &scale, 10, 59, q);
    EXPECT_EQ(TakeResults(),
              "exception caught: RDF_Kirklandfit: the fit range 10 to 59 holds only missing samples (0)\n");
    EXPECT_TRUE(SameBits(Pixels(profile), before));
}

// Each element line must name an element that is there.
TEST_F(RdfHandlers, ElementLinesWithoutAnElementAreRefusedByLine) {
    const float q = 0.05f;
    orvanhost::ImagePtr profile = ProfileImage(100, 4, 3.5f, 120.0f, q);
    const std::vector<float> before = Pixels(profile);
    // Gold at 50 % in line 0; line 1 is gold with one change, or a whole line.
    const arma::Col<float> gold = rdftest::ElementColumn("Au", 50.0f);
    auto gold_with = [&](arma::uword row, float v) {
        std::vector<float> px(gold.begin(), gold.end());
        px[row] = v;
        return px;
    };
    std::vector<float> no_coefficients(14, 0.0f);
    no_coefficients[13] = 50;
    const std::pair<std::vector<float>, std::string> cases[] = {
        {gold_with(13, 0), "element line 1 has a fraction of 0 %"},
        {gold_with(13, -5), "element line 1 has a fraction of -5 %"},
        {std::vector<float>(14, 0.0f), "element line 1 is all zeros"},
        {no_coefficients, "element line 1 has no scattering coefficients (all 0)"},
        {gold_with(4, NAN), "element line 1 has a value that is not a number"},
        {gold_with(3, 0), "element line 1 has b1 = 0"},
        {gold_with(5, -0.5f), "element line 1 has b3 = -0.5"},
    };
    auto two_lines = [&](const std::vector<float>& second) {
        std::vector<float> px(gold.begin(), gold.end());
        px.insert(px.end(), second.begin(), second.end());
        return Image(14, 2, px);
    };
    for (const auto& c : cases) {
        double offset = 0, scale = 1;
        Fit(profile, two_lines(c.first), &offset, &scale, 10, 90, q);
        EXPECT_EQ(TakeResults().rfind("exception caught: RDF_Kirklandfit: " + c.second, 0), 0u) << c.second;
        Call("RDF_Kirklandfunction", {Arg::Image(profile), Arg::Image(two_lines(c.first)), Arg::NumberRef(&offset),
                                      Arg::NumberRef(&scale), Arg::Number(q), Arg::Number(0)});
        EXPECT_EQ(TakeResults().rfind("exception caught: RDF_Kirklandfunction: " + c.second, 0), 0u) << c.second;
        EXPECT_EQ(offset, 0);
        EXPECT_EQ(scale, 1);
        EXPECT_EQ(Pixels(profile), before);
    }
}

TEST_F(RdfHandlers, TransformRefusesAReducedIntensityThatIsNotANumber) {
    orvanhost::ImagePtr input = Image(60, 3);
    for (uint32_t i = 0; i < 60; ++i) input->SetPixel(i, 2, std::sin(0.2f * static_cast<float>(i)));
    input->SetPixel(40, 2, INFINITY);
    orvanhost::ImagePtr old = Image(1, 1);
    orvanhost::ImagePtr slot = old;
    auto transform = [&](double first, double last) {
        Call("CalculateRDF", {Arg::Image(input), Arg::ImageSlot(&slot), Arg::Number(first), Arg::Number(last),
                              Arg::Number(0.05), Arg::Number(10), Arg::Number(50)});
    };
    transform(0, 60);
    EXPECT_EQ(TakeResults(), "exception caught: CalculateRDF: line 2 sample 40 is infinite\n");
    transform(0, 5);  // too short: the whole line is read
    EXPECT_NE(TakeResults().find("sample 40 is infinite"), std::string::npos);
    EXPECT_EQ(slot.get(), old.get());
    transform(0, 40);  // samples 0 to 39
    EXPECT_EQ(TakeResults(), "");
    EXPECT_NE(slot.get(), old.get());
    for (float v : Pixels(slot)) EXPECT_TRUE(std::isfinite(v));
}

// The whole line stands in for a range that does not fit it, and Results
// names the range used; a range that fits writes nothing.
TEST_F(RdfHandlers, TransformNamesTheRangeItUsesInstead) {
    orvanhost::ImagePtr input = Image(60, 3);
    for (uint32_t i = 0; i < 60; ++i) input->SetPixel(i, 2, std::sin(0.2f * static_cast<float>(i)));
    RDFProfile p;
    p.profile = arma::Col<float>(Line(input, 2));
    p.q_step = static_cast<float>(0.05 * 2 * 3.14159265358979 / 10);
    const std::vector<float> whole = Vec(RDFSineTransform(p, 0, 60, 10, 50));
    orvanhost::ImagePtr slot;
    auto transform = [&](double first, double last) {
        Call("CalculateRDF", {Arg::Image(input), Arg::ImageSlot(&slot), Arg::Number(first), Arg::Number(last),
                              Arg::Number(0.05), Arg::Number(10), Arg::Number(50)});
        return TakeResults();
    };
    const std::string used = "; transformed the whole of line 2 instead, first 0, last 60\n";
    const std::pair<std::pair<double, double>, std::string> cases[] = {
        {{50, 40}, "first 50 and last 40 span fewer than 11 samples"},
        {{20.5, 30.9}, "first 20.5 and last 30.9 span fewer than 11 samples"},
        {{-2, 30}, "first -2 is below 0"},
        {{0, 61}, "last 61 is beyond the 60 samples of line 2"},
        {{std::numeric_limits<double>::quiet_NaN(), 30}, "first nan is not a sample position"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(transform(c.first.first, c.first.second), "CalculateRDF: " + c.second + used);
        EXPECT_EQ(Pixels(slot), whole) << c.second;
    }
    EXPECT_EQ(transform(0, 60), "");
    EXPECT_EQ(transform(10, 21), "");
    EXPECT_NE(Pixels(slot), whole);
}

// 20 <f^2> - 30 asks for a negative offset: the fit by magnitude ends with
// it at 0 and the scale off, and Results says so with what the profile asks.
TEST_F(RdfHandlers, FitSaysWhenAValueEndsAtZero) {
    const float q = 0.05f;
    orvanhost::ImagePtr profile = ProfileImage(300, 4, 20.0f, -30.0f, q);
    double offset = 0, scale = 1;
    Fit(profile, GoldElements(), &offset, &scale, 10, 290, q);
    const std::string results = TakeResults();
    EXPECT_LT(offset, 0.01);
    EXPECT_EQ(results.rfind("RDF_Kirklandfit: the offset (", 0), 0u) << results;
    EXPECT_NE(
        results.find(") ended at 0, the fit taking magnitudes only; the profile asks for scale 20 and offset -30\n"),
        std::string::npos)
        << results;

    profile = ProfileImage(300, 4, -2.0f, 500.0f, q);
    Fit(profile, GoldElements(), &offset, &scale, 10, 290, q);
    EXPECT_EQ(TakeResults().rfind("RDF_Kirklandfit: the scale (", 0), 0u);
}

// A sample that is not finite at the last position a call reads is refused
// like any other: unchecked, the fit returned its start values and the
// transform a G of not-a-number.
TEST_F(RdfHandlers, TheLastSampleOfARangeIsCheckedToo) {
    const float q = 0.05f;
    orvanhost::ImagePtr profile = ProfileImage(300, 4, 3.5f, 120.0f, q);
    profile->SetPixel(290, 0, NAN);
    double offset = 0, scale = 1;
    Fit(profile, GoldElements(), &offset, &scale, 10, 290, q);
    EXPECT_EQ(TakeResults(), "exception caught: RDF_Kirklandfit: profile sample 290 is not a number\n");
    EXPECT_EQ(scale, 1);

    // Samples 0 to 39 are transformed: 39 is read.
    orvanhost::ImagePtr input = Image(60, 3);
    for (uint32_t i = 0; i < 60; ++i) input->SetPixel(i, 2, std::sin(0.2f * static_cast<float>(i)));
    input->SetPixel(39, 2, NAN);
    orvanhost::ImagePtr slot;
    Call("CalculateRDF", {Arg::Image(input), Arg::ImageSlot(&slot), Arg::Number(0), Arg::Number(40), Arg::Number(0.05),
                          Arg::Number(10), Arg::Number(50)});
    EXPECT_EQ(TakeResults(), "exception caught: CalculateRDF: line 2 sample 39 is not a number\n");
    EXPECT_FALSE(slot);
}
