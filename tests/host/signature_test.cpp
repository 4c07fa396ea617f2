#include "host/app/signature.h"

#include <gtest/gtest.h>

#include <stdexcept>

using orvanhost::ParamKind;
using orvanhost::ParseSignature;
using orvanhost::ResultKind;

TEST(Signature, ReadsResultNameAndKindsWhateverTheSpacing) {
    const auto s = ParseSignature("void AzimuthalIntegralEllipticity(BasicImage , ImageRef *, float, float)");
    EXPECT_EQ(s.result, ResultKind::Void);
    EXPECT_EQ(s.name, "AzimuthalIntegralEllipticity");
    EXPECT_EQ(s.params,
              (std::vector<ParamKind>{ParamKind::Image, ParamKind::ImageSlot, ParamKind::Float, ParamKind::Float}));
    EXPECT_EQ(s.param_types[1], "ImageRef *");

    const auto t = ParseSignature("void RDF_Kirklandfit(RealImagePtr,RealImagePtr,float*,float*,float,float)");
    EXPECT_EQ(t.params, (std::vector<ParamKind>{ParamKind::Image, ParamKind::Image, ParamKind::FloatRef,
                                                ParamKind::FloatRef, ParamKind::Float, ParamKind::Float}));

    const auto u = ParseSignature("float GetMouseState(host_string)");
    EXPECT_EQ(u.result, ResultKind::Float);
    EXPECT_EQ(u.params, std::vector<ParamKind>{ParamKind::String});

    EXPECT_TRUE(ParseSignature("void FakeESC()").params.empty());
    EXPECT_TRUE(ParseSignature("  void   FakeESC ( )  ").params.empty());
    EXPECT_EQ(ParseSignature("void SetORVANverbosity(float )").params, std::vector<ParamKind>{ParamKind::Float});
    EXPECT_EQ(ParseSignature("Boolean F(long *, double, Boolean)").params,
              (std::vector<ParamKind>{ParamKind::LongRef, ParamKind::Double, ParamKind::Boolean}));
}

TEST(Signature, RefusesWhatItCannotRead) {
    for (const char* bad : {"", "void", "void F", "void F(", "void F(float", "void F(float,)", "void F(, float)",
                            "void F(float) x", "number F(float)", "void F(image)", "void F(host_string *)",
                            "void F(BasicImage *)", "void 1F(float)", "void F(float float)"}) {
        EXPECT_THROW(ParseSignature(bad), std::invalid_argument) << bad;
    }
    try {
        ParseSignature("void F(matrix)");
        FAIL();
    } catch (const std::invalid_argument& e) {
        EXPECT_NE(std::string(e.what()).find("matrix"), std::string::npos);
    }
}
