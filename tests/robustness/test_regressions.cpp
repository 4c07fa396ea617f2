// Faults the sweep found, each pinned down with a known outcome.
#include <gtest/gtest.h>

#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "tests/robustness/robust_fixture.h"
#include "workbook/xls_document.h"

namespace {

using orvanhost::Arg;

class Regression : public robust::RobustFixture {
protected:
    // CalculateRDF of the kit's input with the given range and radius count;
    // the new image's pixels (empty when none was made).
    std::vector<float> Rdf(double first, double last, double count) {
        orvanhost::ImagePtr input = robust::RealImage(robust::Kit::kRdfWidth, 4, kit.rdf_input);
        orvanhost::ImagePtr rdf;
        Call("CalculateRDF", {Arg::Image(input), Arg::ImageSlot(&rdf), Arg::Number(first), Arg::Number(last),
                              Arg::Number(0.05), Arg::Number(10), Arg::Number(count)});
        return Pixels(rdf);
    }
};

// A last position that is not a number becomes INT_MIN; the range check
// subtracted the first position from it and wrapped around to a long
// valid-looking range, and the transform read far past the profile. It is a
// range outside the profile, so the whole line is transformed.
TEST_F(Regression, CalculateRdfWithALastPositionThatIsNoNumberTransformsTheWholeLine) {
    const std::vector<float> whole = Rdf(0, 0, 50);  // shorter than 11: the whole line
    ASSERT_EQ(whole.size(), 50u);
    EXPECT_EQ(Rdf(10, std::numeric_limits<double>::quiet_NaN(), 50), whole);
    EXPECT_EQ(Rdf(10, -1e30, 50), whole);
    const std::string used =
        "; transformed the whole of line 2 instead, first 0, last " + std::to_string(robust::Kit::kRdfWidth) + "\n";
    EXPECT_EQ(TakeResults(), "CalculateRDF: first 0 and last 0 span fewer than 11 samples" + used +
                                 "CalculateRDF: last nan is not a sample position" + used +
                                 "CalculateRDF: last -1e+30 is not a sample position" + used);
}

// A radius count near the 32-bit limit ran for hours; it is refused, and the
// variable keeps its image.
TEST_F(Regression, CalculateRdfRefusesAnAbsurdRadiusCount) {
    EXPECT_TRUE(Rdf(10, 140, 1e9).empty());
    EXPECT_EQ(TakeResults(), "exception caught: CalculateRDF: the number of radii must be at most 1000000\n");
    EXPECT_TRUE(Rdf(10, 140, 1000001).empty());
    EXPECT_EQ(TakeResults(), "exception caught: CalculateRDF: the number of radii must be at most 1000000\n");
}

// A centre a thousand million pixels away asked for a profile of as many
// bins (4 GB) and ran for seconds, or failed by the allocator's luck; the
// same for angle counts and ring-fit tables near the 32-bit limit. Each is
// refused up front and the script's variables keep their values.
TEST_F(Regression, CentresFarOutsideAndHugeAngleCountsAreRefusedBeforeAllocating) {
    orvanhost::ImagePtr pattern = robust::RealImage(robust::Kit::kPattern, robust::Kit::kPattern, kit.pattern);
    orvanhost::ImagePtr held = robust::RealImage(3, 1, {7, 8, 9});
    orvanhost::ImagePtr slot = held;
    Call("AzimuthalIntegral", {Arg::Image(pattern), Arg::ImageSlot(&slot), Arg::Number(1e9), Arg::Number(32),
                               Arg::Number(0), Arg::Number(0)});
    EXPECT_EQ(TakeResults(),
              "exception caught: AzimuthalIntegral: an outer radius of 999999990 is beyond the largest profile "
              "of 1048576 bins; the centre lies too far outside the image\n");
    EXPECT_EQ(slot.get(), held.get());

    Call("AzimuthalProjection",
         {Arg::Image(pattern), Arg::ImageSlot(&slot), Arg::Number(32), Arg::Number(32), Arg::Number(1e9)});
    EXPECT_EQ(TakeResults().rfind("exception caught: AzimuthalProjection: a projection of 1000000000 angles", 0), 0u);
    EXPECT_EQ(slot.get(), held.get());

    double x = 31, y = 33, angle = 5, ratio = 2, ring = 7, inner = 12.5, outer = 24;
    orvan_test::CaptureStdout quiet;
    Call("RefineCenterEllipticity",
         {Arg::Image(pattern), Arg::NumberRef(&x), Arg::NumberRef(&y), Arg::NumberRef(&angle), Arg::NumberRef(&ratio),
          Arg::NumberRef(&ring), Arg::NumberRef(&inner), Arg::NumberRef(&outer), Arg::Number(1e9), Arg::Number(2)});
    EXPECT_EQ(TakeResults(),
              "exception caught: ellipticity fit: 1000000000 angle bins over 12 radii exceed "
              "67108864 samples\n");
    EXPECT_EQ(std::vector<double>({x, y, angle, ratio, ring, inner, outer}),
              std::vector<double>({31, 33, 5, 2, 7, 12.5, 24}));
}

// A title or label longer than a cell's 65535 characters was saved cut
// short without a word; now it is refused and the file kept, while the
// longest text a cell holds is saved whole.
TEST_F(Regression, ExportRefusesCellTextsLongerThanACellHolds) {
    orvanhost::ImagePtr profile = robust::RealImage(3, 1, {1, 2, 3});
    const std::string kept = *robust::ReadFile(kit.dir + "/seed.xls");
    std::filesystem::copy_file(kit.dir + "/seed.xls", kit.book);
    auto save = [&](const std::string& title, const std::string& labels) {
        Call("saveprofileasxlslong", {Arg::Image(profile), Arg::Text(kit.book), Arg::Text(labels), Arg::Number(1),
                                      Arg::Text(title), Arg::Text("Long")});
    };
    save(std::string(65536, 't'), "q I");
    EXPECT_EQ(TakeResults(),
              "exception caught: saveprofileasxlslong: the title has 65536 characters; a cell holds "
              "at most 65535\n");
    save("Title", "q " + std::string(65536, 'l'));
    EXPECT_EQ(TakeResults(),
              "exception caught: saveprofileasxlslong: the label word has 65536 characters; a cell "
              "holds at most 65535\n");
    EXPECT_TRUE(robust::ReadFile(kit.book) == kept);

    save(std::string(65535, 't'), "q I");
    EXPECT_EQ(TakeResults(), "");
    CompoundFiles::XlsDocument back;
    ASSERT_TRUE(back.Load(kit.book.c_str()));
    CompoundFiles::XlsSheet* sheet = back.GetSheet("Long");
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(std::string(sheet->Cell(0, 0)->GetText()), std::string(65535, 't'));
}

}  // namespace
