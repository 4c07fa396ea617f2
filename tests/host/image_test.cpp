#include "host/app/image.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using orvanhost::DataType;
using orvanhost::ImagePtr;
using orvanhost::MakeImage;

TEST(Image, MissingDimensionsAnswerOne) {
    ImagePtr profile = MakeImage("p", DataType::Real4, {7});
    EXPECT_EQ(profile->NumDimensions(), 1u);
    EXPECT_EQ(profile->DimensionSize(0), 7u);
    EXPECT_EQ(profile->DimensionSize(1), 1u);
    EXPECT_EQ(profile->DimensionSize(2), 1u);
    ImagePtr cube = MakeImage("c", DataType::Real4, {2, 3, 4});
    EXPECT_EQ(cube->PixelCount(), 24u);
    cube->SetPixel(1, 2, 3, 5.0);
    EXPECT_EQ(static_cast<const float*>(cube->Data())[1 + 2 * 2 + 3 * 6], 5.0f);
    EXPECT_THROW(cube->GetPixel(2, 0, 0), std::out_of_range);
    EXPECT_THROW(MakeImage("", DataType::Real4, {}), std::invalid_argument);
    EXPECT_THROW(MakeImage("", DataType::Real4, {1, 1, 1, 1}), std::invalid_argument);
    EXPECT_THROW(MakeImage("", DataType::Real4, {3, 0}), std::invalid_argument);
}

TEST(Image, IntegerPixelsAreRoundedAndClamped) {
    ImagePtr img = MakeImage("", DataType::UInt16, {6});
    img->SetPixels({2.5, -3.0, 70000.0, std::nan(""), 65534.6, 1e300});
    EXPECT_EQ(img->Pixels(), (std::vector<double>{3, 0, 65535, 0, 65535, 65535}));
    ImagePtr s = MakeImage("", DataType::Int16, {2});
    s->SetPixels({-40000.0, -2.5});
    EXPECT_EQ(s->Pixels(), (std::vector<double>{-32768, -3}));
}

TEST(Image, ChangingTheDataTypeKeepsValuesAndIsRefusedWhileLocked) {
    ImagePtr img = MakeImage("", DataType::Int16, {3});
    img->SetPixels({1, -2, 300});
    img->ChangeDataType(DataType::Real4);
    EXPECT_EQ(img->Type(), DataType::Real4);
    EXPECT_EQ(img->ByteCount(), 12u);
    EXPECT_EQ(img->Pixels(), (std::vector<double>{1, -2, 300}));
    img->ChangeDataType(DataType::Complex8);
    const float* c = static_cast<const float*>(img->Data());
    EXPECT_EQ(c[4], 300.0f);
    EXPECT_EQ(c[5], 0.0f);
    img->Lock();
    EXPECT_THROW(img->ChangeDataType(DataType::Real4), std::logic_error);
    img->Unlock();
    EXPECT_THROW(img->Unlock(), std::logic_error);
}

TEST(Image, ReferencesCountAndTheLastReleaseFrees) {
    const long before = orvanhost::Image::LiveCount();
    {
        ImagePtr a = MakeImage("", DataType::Real4, {1});
        ImagePtr b = a;
        EXPECT_EQ(a->RefCount(), 2);
        orvanhost::Image* raw = b.release();
        EXPECT_EQ(raw->RefCount(), 2);
        raw->Release();
        EXPECT_EQ(a->RefCount(), 1);
        EXPECT_EQ(a->ReleaseCount(), 1);
        EXPECT_EQ(orvanhost::Image::LiveCount(), before + 1);
    }
    EXPECT_EQ(orvanhost::Image::LiveCount(), before);
}
