// Faults the sweep found, each pinned down with a known outcome.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "tests/robustness/robust_fixture.h"

namespace {

using dmhost::Arg;

class Regression : public robust::RobustFixture {
 protected:
  // CalculateRDF of the kit's input with the given range and radius count;
  // the new image's pixels (empty when none was made).
  std::vector<float> Rdf(double first, double last, double count) {
    dmhost::ImagePtr input = robust::RealImage(robust::Kit::kRdfWidth, 4, kit.rdf_input);
    dmhost::ImagePtr rdf;
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
  EXPECT_EQ(TakeResults(), "");
}

// A radius count near the 32-bit limit ran for hours; it is refused, and the
// variable keeps its image.
TEST_F(Regression, CalculateRdfRefusesAnAbsurdRadiusCount) {
  EXPECT_TRUE(Rdf(10, 140, 1e9).empty());
  EXPECT_EQ(TakeResults(), "exception caught: CalculateRDF: the number of radii must lie between 1 and 1000000\n");
  EXPECT_TRUE(Rdf(10, 140, 1000001).empty());
  EXPECT_EQ(TakeResults(), "exception caught: CalculateRDF: the number of radii must lie between 1 and 1000000\n");
}

}  // namespace
