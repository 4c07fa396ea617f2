#include "plugin/image_bridge.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>

#include "host_fixture.h"

using orvanhost::DataType;
using orvanhost::FromLink;
using orvanhost::ToLink;

class Bridge : public orvan_test::HostFixture {};

TEST_F(Bridge, AThreeByTwoImageRoundTrips) {
    orvanhost::ImagePtr img = Image(3, 2, {0, 1, 2, 3, 4, 5});
    arma::Mat<float> m = orvan::ImageToFloatMatrix(ToLink(img.get()));
    ASSERT_EQ(m.n_rows, 3u);
    ASSERT_EQ(m.n_cols, 2u);
    EXPECT_EQ(m(2, 1), 5.0f);
    EXPECT_EQ(m(1, 0), 1.0f);
    EXPECT_EQ(m(0, 1), 3.0f);
    EXPECT_EQ(img->LockCount(), 0);
    EXPECT_EQ(img->DataChangedCount(), 0);

    orvanhost::ImagePtr back = orvanhost::ImagePtr::Adopt(FromLink(orvan::FloatMatrixToRealImage(m, "back").release()));
    EXPECT_EQ(back->Type(), DataType::Real4);
    EXPECT_EQ(back->NumDimensions(), 2u);
    EXPECT_EQ(back->DimensionSize(0), 3u);
    EXPECT_EQ(back->DimensionSize(1), 2u);
    EXPECT_EQ(back->Name(), "back");
    EXPECT_EQ(back->RefCount(), 1);
    EXPECT_EQ(back->DataChangedCount(), 1);
    EXPECT_EQ(back->LockCount(), 0);
    EXPECT_EQ(Pixels(back), Pixels(img));
}

TEST_F(Bridge, AColumnBecomesAnImageOnePixelHighAndAProfileReadsAsOneColumn) {
    arma::Col<float> v = arma::linspace<arma::Col<float>>(0, 6, 7);
    orvanhost::ImagePtr img = orvanhost::ImagePtr::Adopt(FromLink(orvan::FloatMatrixToRealImage(v, "").release()));
    EXPECT_EQ(img->NumDimensions(), 2u);
    EXPECT_EQ(img->DimensionSize(0), 7u);
    EXPECT_EQ(img->DimensionSize(1), 1u);
    EXPECT_EQ(Pixels(img)[6], 6.0f);

    orvanhost::ImagePtr profile = orvanhost::MakeImage("", DataType::Real4, {4});
    profile->SetPixels({1, 2, 3, 4});
    arma::Mat<float> m = orvan::ImageToFloatMatrix(ToLink(profile.get()));
    EXPECT_EQ(m.n_rows, 4u);
    EXPECT_EQ(m.n_cols, 1u);

    orvanhost::ImagePtr one = orvanhost::ImagePtr::Adopt(FromLink(orvan::VectorToRealImage(v, "v").release()));
    EXPECT_EQ(one->NumDimensions(), 1u);
    EXPECT_EQ(one->DimensionSize(0), 7u);
}

TEST_F(Bridge, AnInvalidImageGivesAnEmptyMatrixAndNoResultsLine) {
    arma::Mat<float> m = orvan::ImageToFloatMatrix(nullptr);
    EXPECT_EQ(m.n_rows, 0u);
    EXPECT_EQ(m.n_cols, 0u);
    EXPECT_EQ(orvan::ImageToFloatCube(nullptr).n_elem, 0u);
    EXPECT_EQ(TakeResults(), "");
    EXPECT_FALSE(host.TakeError().has_value());
}

TEST_F(Bridge, OtherPixelTypesAreReadAsFloatsAndComplexIsRefused) {
    orvanhost::ImagePtr s = orvanhost::MakeImage("", DataType::Int16, {2, 2});
    s->SetPixels({-7, 3, 32767, -32768});
    arma::Mat<float> m = orvan::ImageToFloatMatrix(ToLink(s.get()));
    EXPECT_EQ(m(0, 0), -7.0f);
    EXPECT_EQ(m(0, 1), 32767.0f);
    EXPECT_EQ(m(1, 1), -32768.0f);
    orvanhost::ImagePtr d = orvanhost::MakeImage("", DataType::Real8, {2});
    d->SetPixels({0.5, 1e300});
    arma::Mat<float> md = orvan::ImageToFloatMatrix(ToLink(d.get()));
    EXPECT_EQ(md(0, 0), 0.5f);
    EXPECT_TRUE(std::isinf(md(1, 0)));
    orvanhost::ImagePtr c = orvanhost::MakeImage("", DataType::Complex8, {2});
    EXPECT_THROW(orvan::ImageToFloatMatrix(ToLink(c.get())), std::runtime_error);
    EXPECT_EQ(c->LockCount(), 0);
}

TEST_F(Bridge, CubesReadBothWaysAlike) {
    orvanhost::ImagePtr img = orvanhost::MakeImage("", DataType::Real4, {2, 3, 4});
    std::vector<double> values(24);
    for (int i = 0; i < 24; ++i) values[i] = i;
    img->SetPixels(values);
    arma::Cube<float> a = orvan::ImageToFloatCube(ToLink(img.get()));
    arma::Cube<float> b = orvan::ImageToFloatCubeCopy(ToLink(img.get()));
    ASSERT_EQ(a.n_rows, 2u);
    ASSERT_EQ(a.n_cols, 3u);
    ASSERT_EQ(a.n_slices, 4u);
    EXPECT_EQ(a(1, 2, 3), 1 + 2 * 2 + 3 * 6);
    EXPECT_TRUE(arma::all(arma::vectorise(a == b)));

    orvanhost::ImagePtr made = orvanhost::ImagePtr::Adopt(FromLink(orvan::FloatCubeToRealImage(a, "c").release()));
    EXPECT_EQ(made->NumDimensions(), 3u);
    EXPECT_EQ(made->Pixels(), values);
}

TEST_F(Bridge, IntegerAndComplexMembersConvertEachValue) {
    arma::Col<double> v = {2.5, -3, 70000, std::nan(""), 12.4};
    orvanhost::ImagePtr i = orvanhost::ImagePtr::Adopt(FromLink(orvan::VectorToIntegerImage(v, "i").release()));
    EXPECT_EQ(i->Type(), DataType::UInt16);
    EXPECT_EQ(i->Pixels(), (std::vector<double>{3, 0, 65535, 0, 12}));
    EXPECT_EQ(i->DataChangedCount(), 1);

    arma::Mat<double> m = {{1, 2}, {3, 4}, {5, 6}};  // 3 x 2
    orvanhost::ImagePtr im = orvanhost::ImagePtr::Adopt(FromLink(orvan::MatrixToIntegerImage(m, "").release()));
    EXPECT_EQ(im->DimensionSize(0), 3u);
    EXPECT_EQ(im->Pixels(), (std::vector<double>{1, 3, 5, 2, 4, 6}));

    orvanhost::ImagePtr c = orvanhost::ImagePtr::Adopt(FromLink(orvan::MatrixToComplexImage(m, "").release()));
    EXPECT_EQ(c->Type(), DataType::Complex8);
    const float* p = static_cast<const float*>(c->Data());
    EXPECT_EQ(p[2], 3.0f);
    EXPECT_EQ(p[3], 0.0f);

    arma::Cube<double> cube(2, 1, 2);
    cube.fill(9.6);
    orvanhost::ImagePtr ic = orvanhost::ImagePtr::Adopt(FromLink(orvan::CubeToIntegerImage(cube, "").release()));
    EXPECT_EQ(ic->NumDimensions(), 3u);
    EXPECT_EQ(ic->Pixels(), (std::vector<double>{10, 10, 10, 10}));
    orvanhost::ImagePtr cc = orvanhost::ImagePtr::Adopt(FromLink(orvan::CubeToComplexImage(cube, "").release()));
    EXPECT_EQ(cc->DimensionSize(2), 2u);
    orvanhost::ImagePtr vc = orvanhost::ImagePtr::Adopt(FromLink(orvan::VectorToComplexImage(v, "").release()));
    EXPECT_EQ(vc->DimensionSize(0), 5u);
}

TEST_F(Bridge, CopyIntoAnImageOfTheRightSizeChangesPixelsWithoutANotice) {
    orvanhost::ImagePtr img = Image(3, 2);
    arma::Mat<float> m = {{1, 2}, {3, 4}, {5, 6}};
    orvan::CopyFloatMatrixToImage(ToLink(img.get()), m);
    EXPECT_EQ(Pixels(img), (std::vector<float>{1, 3, 5, 2, 4, 6}));
    EXPECT_EQ(img->DataChangedCount(), 0);
    EXPECT_EQ(img->LockCount(), 0);

    // A larger image keeps its rows apart and the rest of its pixels.
    orvanhost::ImagePtr big = Image(4, 3, std::vector<float>(12, -1));
    orvan::CopyFloatMatrixToImage(ToLink(big.get()), m);
    EXPECT_EQ(Pixels(big), (std::vector<float>{1, 3, 5, -1, 2, 4, 6, -1, -1, -1, -1, -1}));
}

TEST_F(Bridge, CopyIsRefusedForInvalidSmallOrNonRealImagesAndWritesNothing) {
    arma::Mat<float> m(3, 2, arma::fill::ones);
    EXPECT_THROW(orvan::CopyFloatMatrixToImage(nullptr, m), std::runtime_error);
    orvanhost::ImagePtr narrow = Image(2, 2, {7, 7, 7, 7});
    EXPECT_THROW(orvan::CopyFloatMatrixToImage(ToLink(narrow.get()), m), std::runtime_error);
    orvanhost::ImagePtr low = Image(3, 1, {7, 7, 7});
    EXPECT_THROW(orvan::CopyFloatMatrixToImage(ToLink(low.get()), m), std::runtime_error);
    orvanhost::ImagePtr ints = orvanhost::MakeImage("", DataType::Int32, {3, 2});
    try {
        orvan::CopyFloatMatrixToImage(ToLink(ints.get()), m);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("4-byte real"), std::string::npos);
    }
    EXPECT_EQ(Pixels(narrow), std::vector<float>(4, 7));
    EXPECT_EQ(Pixels(low), std::vector<float>(3, 7));
    EXPECT_EQ(Pixels(ints), std::vector<float>(6, 0));
}

TEST_F(Bridge, StoringANewImageReleasesTheOldOneExactlyOnce) {
    orvanhost::ImagePtr old = Image(1, 1);
    LinkImage* slot = ToLink(old.get());
    old->AddRef();  // the slot's own reference
    orvan::StoreNewImage(&slot, orvan::FloatMatrixToRealImage(arma::Mat<float>(2, 1, arma::fill::zeros), ""));
    EXPECT_EQ(old->ReleaseCount(), 1);
    EXPECT_EQ(old->RefCount(), 1);
    ASSERT_NE(slot, nullptr);
    ASSERT_NE(slot, ToLink(old.get()));
    EXPECT_EQ(FromLink(slot)->RefCount(), 1);
    orvanhost::ImagePtr taken = orvanhost::ImagePtr::Adopt(FromLink(slot));

    LinkImage* empty = nullptr;
    orvan::StoreNewImage(&empty, orvan::FloatMatrixToRealImage(arma::Mat<float>(1, 1, arma::fill::zeros), ""));
    ASSERT_NE(empty, nullptr);
    orvanhost::ImagePtr taken2 = orvanhost::ImagePtr::Adopt(FromLink(empty));

    const long live = orvanhost::Image::LiveCount();
    EXPECT_THROW(orvan::StoreNewImage(nullptr, orvan::FloatMatrixToRealImage(arma::Mat<float>(1, 1), "")),
                 std::invalid_argument);
    EXPECT_EQ(orvanhost::Image::LiveCount(), live);
}

TEST_F(Bridge, ARealImageIsReadInPlaceUnderItsLockAndOtherTypesAreCopied) {
    orvanhost::ImagePtr img = Image(3, 2, {0, 1.5f, 2, 3, 4, -5});
    {
        const orvan::ImagePixelsForReading pixels(ToLink(img.get()));
        EXPECT_TRUE(pixels.InPlace());
        EXPECT_EQ(img->LockCount(), 1);
        ASSERT_EQ(pixels.width(), 3u);
        ASSERT_EQ(pixels.height(), 2u);
        EXPECT_EQ(static_cast<const void*>(pixels.data()), img->Data());  // no copy
        EXPECT_EQ(pixels.data()[1], 1.5f);
        EXPECT_EQ(pixels.data()[2 + 1 * 3], -5.0f);
    }
    EXPECT_EQ(img->LockCount(), 0);

    orvanhost::ImagePtr s = orvanhost::MakeImage("", DataType::Int16, {2, 2});
    s->SetPixels({-7, 3, 32767, -32768});
    const orvan::ImagePixelsForReading copied(ToLink(s.get()));
    EXPECT_FALSE(copied.InPlace());
    EXPECT_EQ(s->LockCount(), 0);
    EXPECT_NE(static_cast<const void*>(copied.data()), s->Data());
    EXPECT_EQ(copied.data()[1 + 1 * 2], -32768.0f);

    const orvan::ImagePixelsForReading invalid(nullptr);
    EXPECT_FALSE(invalid.InPlace());
    EXPECT_EQ(invalid.width() * invalid.height(), 0u);
    orvanhost::ImagePtr c = orvanhost::MakeImage("", DataType::Complex8, {2});
    EXPECT_THROW(orvan::ImagePixelsForReading{ToLink(c.get())}, std::runtime_error);
}
