// The four azimuthal integrals and the polar projection called as a script
// calls them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "geometry/azimuthal_integration.h"
#include "geometry/polar_projection.h"
#include "host_fixture.h"
#include "tests/geometry/synthetic_pattern.h"

using orvanhost::Arg;

namespace {

const char kStartMessage[] =
    "ERROR! The starting angle is negative. \n Please provide angle values in the interval [0,2pi]. \n";
const char kEndMessage[] =
    "ERROR! The ending angle is larger than 2pi. \n Please provide angle values in the interval [0,2pi]. \n";

class AzimuthalHandlers : public orvan_test::HostFixture {
protected:
    static orvanhost::ImagePtr FromMatrix(const arma::Mat<float>& m) {
        return Image(m.n_rows, m.n_cols, std::vector<float>(m.begin(), m.end()));
    }

    void SetUp() override {
        HostFixture::SetUp();
        RingSpec s;
        s.cx = 256;
        s.cy = 256;
        s.ratio = 1.05;
        s.angle = 0.6;
        s.noise = 10;
        matrix = MakeRingPattern(s);
        pattern = FromMatrix(matrix);
        geometry.image = matrix;
        geometry.centerX = 256;
        geometry.centerY = 256;
        geometry.axisRatio = 1.05f;
        geometry.angle = static_cast<float>(30.0 * 3.14159265358979 / 180.0);
        old = Image(2, 2, {9, 9, 9, 9});
    }

    orvanhost::ImagePtr Integral(double radius, double plain = 1) {
        orvanhost::ImagePtr out;
        Call("AzimuthalIntegral", {Arg::Image(pattern), Arg::ImageSlot(&out), Arg::Number(256), Arg::Number(256),
                                   Arg::Number(radius), Arg::Number(plain)});
        return out;
    }

    static void ExpectProfile(const orvanhost::ImagePtr& image, const arma::Col<float>& expected) {
        ASSERT_TRUE(image);
        EXPECT_EQ(image->DimensionSize(0), expected.n_elem);
        EXPECT_EQ(image->DimensionSize(1), 1u);
        const std::vector<float> px = Pixels(image);
        ASSERT_EQ(px.size(), expected.n_elem);
        EXPECT_EQ(std::memcmp(px.data(), expected.memptr(), px.size() * sizeof(float)), 0);
    }

    arma::Mat<float> matrix;
    orvanhost::ImagePtr pattern;
    DiffractionPattern geometry;
    orvanhost::ImagePtr old;  // what the script variable held before
};

}  // namespace

TEST_F(AzimuthalHandlers, OuterRadiusRule) {
    EXPECT_EQ(Integral(0)->DimensionSize(0), 353u);
    EXPECT_EQ(Integral(1)->DimensionSize(0), 255u);
    EXPECT_EQ(Integral(100.7)->DimensionSize(0), 100u);
    EXPECT_EQ(Integral(400)->DimensionSize(0), 353u);
    EXPECT_EQ(Integral(-5)->DimensionSize(0), 353u);
    EXPECT_EQ(Integral(NAN)->DimensionSize(0), 353u);
    EXPECT_EQ(TakeResults(), "");
    // The values are those of the integration core, bit for bit.
    ExpectProfile(Integral(100.7, 2), AzimuthalIntegralCore(geometry, 0, 100, 1));
    ExpectProfile(Integral(0, 0.9), AzimuthalIntegralCore(geometry, 0, 353, 0));
}

// A wide image: both radius rules measure the image as it is, 400 wide and
// 200 high, around a centre in its lower half.
TEST_F(AzimuthalHandlers, NonSquareImageUsesItsOwnWidthAndHeight) {
    orvanhost::ImagePtr wide = Image(400, 200, std::vector<float>(400 * 200, 1.0f));
    for (const auto& [radius, bins] : {std::pair<double, uint32_t>{1, 149}, {0, 241}}) {
        orvanhost::ImagePtr out;
        Call("AzimuthalIntegral", {Arg::Image(wide), Arg::ImageSlot(&out), Arg::Number(200), Arg::Number(150),
                                   Arg::Number(radius), Arg::Number(1)});
        ASSERT_TRUE(out) << radius;
        EXPECT_EQ(out->DimensionSize(0), bins) << radius;
    }
}

TEST_F(AzimuthalHandlers, NewImageReplacesTheVariable) {
    const orvanhost::ImagePtr keep = old;  // a reference of the test's own
    orvanhost::Image* before = old.get();
    const long releases = before->ReleaseCount();
    Call("AzimuthalIntegral", {Arg::Image(pattern), Arg::ImageSlot(&old), Arg::Number(256), Arg::Number(256),
                               Arg::Number(50), Arg::Number(1)});
    EXPECT_NE(old.get(), before);
    EXPECT_EQ(before->ReleaseCount(), releases + 1);
    EXPECT_EQ(before->RefCount(), 1);
    EXPECT_EQ(old->DimensionSize(0), 50u);
    EXPECT_EQ(old->Name(), "");
}

TEST_F(AzimuthalHandlers, EllipticityWithItsArguments) {
    orvanhost::ImagePtr out;
    Call("AzimuthalIntegralEllipticity", {Arg::Image(pattern), Arg::ImageSlot(&out), Arg::Number(256), Arg::Number(256),
                                          Arg::Number(30), Arg::Number(1.05), Arg::Number(200.2), Arg::Number(1)});
    ExpectProfile(out, AzimuthalIntegralEllipticityCore(geometry, 0, 200, 1));

    // Ratio 1 gives the plain integral, whatever the angle.
    Call("AzimuthalIntegralEllipticity", {Arg::Image(pattern), Arg::ImageSlot(&out), Arg::Number(256), Arg::Number(256),
                                          Arg::Number(77), Arg::Number(1.0), Arg::Number(200), Arg::Number(1)});
    const std::vector<float> e = Pixels(out), p = Pixels(Integral(200));
    ASSERT_EQ(e.size(), p.size());
    for (std::size_t k = 0; k < e.size(); ++k) EXPECT_NEAR(e[k], p[k], 1e-3 * std::fabs(p[k]) + 1e-3);
}

TEST_F(AzimuthalHandlers, EllipsesThatCannotBeIntegratedAreRefused) {
    const std::string ratio = "the axis ratio must be a positive finite number\n";
    const std::string angle = "the ellipse angle must be a finite number\n";
    const std::tuple<double, double, std::string> cases[] = {{0, 0.0, ratio},    {0, -1.5, ratio},
                                                             {0, NAN, ratio},    {0, INFINITY, ratio},
                                                             {NAN, 1.05, angle}, {-INFINITY, 1.05, angle}};
    for (const auto& [degrees, q, problem] : cases) {
        orvanhost::Image* before = old.get();
        Call("AzimuthalIntegralEllipticity",
             {Arg::Image(pattern), Arg::ImageSlot(&old), Arg::Number(256), Arg::Number(256), Arg::Number(degrees),
              Arg::Number(q), Arg::Number(0), Arg::Number(1)});
        EXPECT_EQ(TakeResults(), "exception caught: AzimuthalIntegralEllipticity: " + problem);
        Call("AzimuthalIntegralSektorEllipticity",
             {Arg::Image(pattern), Arg::ImageSlot(&old), Arg::Number(256), Arg::Number(256), Arg::Number(degrees),
              Arg::Number(q), Arg::Number(10), Arg::Number(20), Arg::Number(0), Arg::Number(1)});
        EXPECT_EQ(TakeResults(), "exception caught: AzimuthalIntegralSektorEllipticity: " + problem);
        EXPECT_EQ(old.get(), before);
    }
}

TEST_F(AzimuthalHandlers, SectorAngles) {
    auto sector = [&](double start, double end, orvanhost::ImagePtr* slot) {
        Call("AzimuthalIntegralSektor", {Arg::Image(pattern), Arg::ImageSlot(slot), Arg::Number(256), Arg::Number(256),
                                         Arg::Number(start), Arg::Number(end), Arg::Number(0), Arg::Number(1)});
    };
    orvanhost::Image* before = old.get();
    sector(-1, 90, &old);
    EXPECT_EQ(old.get(), before);
    ASSERT_EQ(host.ResultCalls().size(), 1u);
    EXPECT_EQ(host.ResultCalls()[0], kStartMessage);
    EXPECT_EQ(TakeResults(), kStartMessage);
    sector(10, 361, &old);
    EXPECT_EQ(old.get(), before);
    EXPECT_EQ(TakeResults(), kEndMessage);
    // The start is checked first.
    sector(-1, 361, &old);
    EXPECT_EQ(TakeResults(), kStartMessage);

    // Angles that are not finite and pass the range checks.
    const double nan = NAN, inf = INFINITY;
    for (const auto& [start, end, problem] :
         {std::tuple{nan, 90.0, "start"}, {inf, 90.0, "start"}, {10.0, nan, "end"}, {10.0, -inf, "end"}}) {
        sector(start, end, &old);
        EXPECT_EQ(TakeResults(), std::string("exception caught: AzimuthalIntegralSektor: the ") + problem +
                                     " angle must be a finite number\n");
        EXPECT_EQ(old.get(), before);
    }
    sector(-inf, nan, &old);
    EXPECT_EQ(TakeResults(), kStartMessage);

    // 360 degrees is inside the closed interval.
    orvanhost::ImagePtr out;
    sector(0, 360, &out);
    EXPECT_EQ(TakeResults(), "");
    ASSERT_TRUE(out);
    EXPECT_EQ(out->DimensionSize(0), 353u);

    // Across the zero direction, with the handler's conversion to radians.
    sector(350, 10, &out);
    const float s = static_cast<float>(static_cast<double>(350.0f / 180.0f) * 3.14159265358979);
    const float e = static_cast<float>(static_cast<double>(10.0f / 180.0f) * 3.14159265358979);
    ExpectProfile(out, AzimuthalIntegralSektorCore(geometry, 0, 353, s, e, 1));
    EXPECT_GT(Pixels(out)[100], 0.0f);

    // Equal angles count no pixel.
    sector(10, 10, &out);
    for (float v : Pixels(out)) EXPECT_EQ(v, 0.0f);

    orvanhost::ImagePtr both;
    Call("AzimuthalIntegralSektorEllipticity",
         {Arg::Image(pattern), Arg::ImageSlot(&both), Arg::Number(256), Arg::Number(256), Arg::Number(30),
          Arg::Number(1.05), Arg::Number(-3), Arg::Number(20), Arg::Number(0), Arg::Number(1)});
    EXPECT_FALSE(both);
    EXPECT_EQ(TakeResults(), kStartMessage);
}

TEST_F(AzimuthalHandlers, ProjectionSizes) {
    orvanhost::ImagePtr out;
    auto project = [&](double n) {
        Call("AzimuthalProjection",
             {Arg::Image(pattern), Arg::ImageSlot(&out), Arg::Number(256), Arg::Number(256), Arg::Number(n)});
    };
    project(1);
    EXPECT_EQ(out->DimensionSize(0), 403u);
    EXPECT_EQ(out->DimensionSize(1), 249u);
    project(0);
    EXPECT_EQ(out->DimensionSize(0), 1570u);
    project(360.9);
    EXPECT_EQ(out->DimensionSize(0), 360u);
    const arma::Mat<float> expected = AzimuthalProjectionCore(geometry, 1, 250, 360);
    const std::vector<float> px = Pixels(out);
    ASSERT_EQ(px.size(), expected.n_elem);
    EXPECT_EQ(std::memcmp(px.data(), expected.memptr(), px.size() * sizeof(float)), 0);

    orvanhost::Image* before = out.get();
    project(-2);
    EXPECT_EQ(TakeResults(), "exception caught: AzimuthalProjection: the angle count must be 0 or more\n");
    EXPECT_EQ(out.get(), before);
}

TEST_F(AzimuthalHandlers, CentresThatAreNotFiniteAreRefused) {
    orvanhost::Image* before = old.get();
    for (const auto& [x, y] : {std::pair{double(NAN), 256.0}, {256.0, double(INFINITY)}}) {
        const std::vector<std::pair<std::string, std::vector<Arg>>> calls = {
            {"AzimuthalIntegral", {Arg::Number(0), Arg::Number(1)}},
            {"AzimuthalIntegralEllipticity", {Arg::Number(30), Arg::Number(1.05), Arg::Number(0), Arg::Number(1)}},
            {"AzimuthalIntegralSektor", {Arg::Number(10), Arg::Number(90), Arg::Number(0), Arg::Number(1)}},
            {"AzimuthalIntegralSektorEllipticity",
             {Arg::Number(30), Arg::Number(1.05), Arg::Number(10), Arg::Number(90), Arg::Number(0), Arg::Number(1)}},
            {"AzimuthalProjection", {Arg::Number(0)}}};
        for (const auto& [name, rest] : calls) {
            std::vector<Arg> args = {Arg::Image(pattern), Arg::ImageSlot(&old), Arg::Number(x), Arg::Number(y)};
            args.insert(args.end(), rest.begin(), rest.end());
            Call(name, args);
            EXPECT_EQ(TakeResults(), "exception caught: " + name + ": the centre must be a finite number\n");
            EXPECT_EQ(old.get(), before);
        }
    }
}

TEST_F(AzimuthalHandlers, TinyAndInvalidImages) {
    orvanhost::ImagePtr tiny = Image(12, 12, std::vector<float>(144, 1.0f));
    orvanhost::Image* before = old.get();
    Call("AzimuthalIntegral",
         {Arg::Image(tiny), Arg::ImageSlot(&old), Arg::Number(6), Arg::Number(6), Arg::Number(0), Arg::Number(1)});
    EXPECT_EQ(TakeResults(),
              "exception caught: AzimuthalIntegral: the image is too small for an outer radius of "
              "at least 1\n");
    EXPECT_EQ(old.get(), before);
    Call("AzimuthalProjection",
         {Arg::Image(tiny), Arg::ImageSlot(&old), Arg::Number(6), Arg::Number(6), Arg::Number(0)});
    EXPECT_EQ(TakeResults(),
              "exception caught: AzimuthalProjection: the image is too small for a projection "
              "around this centre\n");
    EXPECT_EQ(old.get(), before);

    // An image that is not valid, and a complex one, are refused in the user's
    // words, whatever the centre; the script's variable keeps its image.
    orvanhost::ImagePtr none;
    orvanhost::ImagePtr complex = orvanhost::MakeImage("", orvanhost::DataType::Complex8, {64, 64});
    for (const orvanhost::ImagePtr* image : {&none, &complex}) {
        const char* problem = image == &none ? "the image is not valid" : "complex images cannot be analysed";
        Call("AzimuthalIntegral", {Arg::Image(*image), Arg::ImageSlot(&old), Arg::Number(256), Arg::Number(256),
                                   Arg::Number(0), Arg::Number(1)});
        EXPECT_EQ(TakeResults(), std::string("exception caught: AzimuthalIntegral: ") + problem + "\n");
        Call("AzimuthalIntegralSektorEllipticity",
             {Arg::Image(*image), Arg::ImageSlot(&old), Arg::Number(0), Arg::Number(0), Arg::Number(0),
              Arg::Number(1.02), Arg::Number(0), Arg::Number(90), Arg::Number(0), Arg::Number(1)});
        EXPECT_EQ(TakeResults(),
                  std::string("exception caught: AzimuthalIntegralSektorEllipticity: ") + problem + "\n");
        Call("AzimuthalProjection",
             {Arg::Image(*image), Arg::ImageSlot(&old), Arg::Number(6), Arg::Number(6), Arg::Number(0)});
        EXPECT_EQ(TakeResults(), std::string("exception caught: AzimuthalProjection: ") + problem + "\n");
        EXPECT_EQ(old.get(), before);
    }
}

// A 4-byte real pattern is read in place: every handler gives what it gives
// for the same pixels as a copied integer image, and leaves the script's
// image as it was and unlocked.
TEST_F(AzimuthalHandlers, InPlaceReadingMatchesACopyAndChangesNothing) {
    arma::Mat<float> whole = arma::round(matrix);
    orvanhost::ImagePtr real = FromMatrix(whole);
    orvanhost::ImagePtr integer = orvanhost::MakeImage(
        "", orvanhost::DataType::Int32, {static_cast<uint32_t>(whole.n_rows), static_cast<uint32_t>(whole.n_cols)});
    integer->SetPixels(std::vector<double>(whole.begin(), whole.end()));
    const std::vector<double> before = real->Pixels();
    auto run = [&](const orvanhost::ImagePtr& image, const std::string& name, std::vector<Arg> numbers) {
        orvanhost::ImagePtr out;
        std::vector<Arg> args = {Arg::Image(image), Arg::ImageSlot(&out)};
        args.insert(args.end(), numbers.begin(), numbers.end());
        Call(name, args);
        return Pixels(out);
    };
    const std::vector<std::pair<std::string, std::vector<Arg>>> calls = {
        {"AzimuthalIntegral", {Arg::Number(250.5), Arg::Number(260), Arg::Number(0), Arg::Number(0)}},
        {"AzimuthalIntegralEllipticity",
         {Arg::Number(256), Arg::Number(256), Arg::Number(30), Arg::Number(1.05), Arg::Number(0), Arg::Number(1)}},
        {"AzimuthalIntegralSektor",
         {Arg::Number(256), Arg::Number(256), Arg::Number(30), Arg::Number(100), Arg::Number(0), Arg::Number(1)}},
        {"AzimuthalIntegralSektorEllipticity",
         {Arg::Number(256), Arg::Number(256), Arg::Number(30), Arg::Number(1.05), Arg::Number(300), Arg::Number(20),
          Arg::Number(0), Arg::Number(0)}},
        {"AzimuthalProjection", {Arg::Number(256), Arg::Number(256), Arg::Number(90)}}};
    for (const auto& [name, numbers] : calls) {
        SCOPED_TRACE(name);
        const std::vector<float> a = run(real, name, numbers), b = run(integer, name, numbers);
        ASSERT_EQ(a.size(), b.size());
        ASSERT_FALSE(a.empty());
        EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(float)), 0);
        EXPECT_EQ(real->Pixels(), before);
        EXPECT_EQ(real->LockCount(), 0);
        EXPECT_EQ(real->DataChangedCount(), 0);
    }
}
