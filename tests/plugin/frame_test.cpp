// The call frame, directly and through a framed handler the host calls.
#include <gtest/gtest.h>

#include <armadillo>
#include <new>
#include <stdexcept>

#include "capture_stdout.h"
#include "host_fixture.h"
#include "plugin/frame.h"
#include "plugin/image_bridge.h"
#include "plugin/streams.h"

using orvanhost::Arg;

namespace {

// A framed handler in the module's manner: pattern in, new image out.
void CopyOut(LinkImage* image, LinkImage** out) {
    orvan::RunFramed([&] {
        arma::Mat<float> m = orvan::ImageToFloatMatrix(image);
        orvan::StoreNewImage(out, orvan::FloatMatrixToRealImage(m * 2.0f, "copy"));
    });
}

float Guess(float* x) {
    float result = 1.0f;
    orvan::RunFramed([&] {
        *x = 5;
        throw std::runtime_error("half way");
    });
    return result;
}

}  // namespace

class Frame : public orvan_test::HostFixture {
protected:
    void SetUp() override {
        HostFixture::SetUp();
        host.Library().Release(
            host.Library().Add("void CopyOut(BasicImage, ImageRef *)", reinterpret_cast<LinkHandler>(CopyOut)));
        host.Library().Release(host.Library().Add("float Guess(float *)", reinterpret_cast<LinkHandler>(Guess)));
    }
};

TEST_F(Frame, AStandardExceptionGivesOneResultsLine) {
    bool after = false;
    orvan::RunFramed([] { throw std::out_of_range("x"); });
    after = true;
    EXPECT_TRUE(after);
    EXPECT_EQ(TakeResults(), "exception caught: x\n");
    EXPECT_FALSE(host.TakeError().has_value());

    // The result and what was written before the exception stay.
    double x = 0;
    EXPECT_EQ(Call("Guess", {Arg::NumberRef(&x)}), 1.0);
    EXPECT_EQ(x, 5.0);
    EXPECT_EQ(TakeResults(), "exception caught: half way\n");
}

TEST_F(Frame, ThrownTextAndNumbersBecomeHostError28803WithoutText) {
    orvan::RunFramed([] { throw "No suitable peak was found"; });
    EXPECT_EQ(TakeResults(), "");
    auto e = host.TakeError();
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(e->code(), 28803);
    EXPECT_EQ(e->text(), "");

    orvan::RunFramed([] { throw 7; });
    e = host.TakeError();
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(e->code(), 28803);
    EXPECT_EQ(TakeResults(), "");
}

TEST_F(Frame, AnAllocationFailureIsReportedAsBadAllocation) {
    orvan::RunFramed([] { throw std::bad_alloc(); });
    EXPECT_EQ(TakeResults(), "exception caught: bad allocation\n");
    orvan::RunFramed([] { throw std::bad_array_new_length(); });
    EXPECT_EQ(TakeResults(), "exception caught: bad allocation\n");
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORVAN_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define ORVAN_ASAN 1
#endif

#ifndef ORVAN_ASAN
// (The address sanitizer stops the process on such a request instead.)
TEST_F(Frame, TheMatrixLibrarysOutOfMemoryTextGoesToStandardOutput) {
    orvan_test::CaptureStdout out;
    orvan::RunFramed([] {
        arma::Mat<float> huge(arma::uword(1) << 22, arma::uword(1) << 22);
        huge(0, 0) = 1;
    });
    const std::string text = out.Text();
    EXPECT_NE(text.find("error: "), std::string::npos) << text;
    EXPECT_NE(text.find("out of memory"), std::string::npos) << text;
    EXPECT_EQ(TakeResults(), "exception caught: bad allocation\n");
}
#endif

TEST_F(Frame, AFailingHostFunctionIsCaughtAndTheVariableKeepsItsImage) {
    orvanhost::ImagePtr img = Image(3, 2, {0, 1, 2, 3, 4, 5});
    orvanhost::ImagePtr var = Image(1, 1);
    orvanhost::Image* before = var.get();
    const long live = orvanhost::Image::LiveCount();

    for (const char* fn : {"RealImage", "ImageGetLockedData", "ImageDataChanged", "ImageGetDimensionSize"}) {
        host.FailOnce(fn);
        Call("CopyOut", {Arg::Image(img), Arg::ImageSlot(&var)});
        EXPECT_EQ(TakeResults(), std::string("exception caught: ") + fn + " failed\n") << fn;
        EXPECT_EQ(var.get(), before) << fn;
        EXPECT_EQ(var->RefCount(), 1) << fn;
        EXPECT_EQ(var->ReleaseCount(), 0) << fn;
        EXPECT_EQ(orvanhost::Image::LiveCount(), live) << fn;  // a half-made image is released
        EXPECT_EQ(img->LockCount(), 0) << fn;
    }

    Call("CopyOut", {Arg::Image(img), Arg::ImageSlot(&var)});
    EXPECT_EQ(TakeResults(), "");
    EXPECT_NE(var.get(), before);
    EXPECT_EQ(Pixels(var), (std::vector<float>{0, 2, 4, 6, 8, 10}));
}

TEST_F(Frame, LostResultsTextIsReportedNotDropped) {
    host.FailOnce("Result", "window closed");
    orvan::RunFramed([] { ResultsStream << "progress" << std::endl; });
    EXPECT_EQ(TakeResults(), "exception caught: window closed\n");

    // When the report itself cannot be shown either, the host gets it.
    host.FailOnce("Result", "window closed");
    orvan::RunFramed([] { throw std::runtime_error("x"); });
    EXPECT_EQ(TakeResults(), "");
    auto e = host.TakeError();
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(e->code(), HOST_ERROR_HOST_FUNCTION);
    EXPECT_EQ(e->text(), "window closed");
    // The stream works again for the next call.
    orvan::RunFramed([] { ResultsStream << "fine" << std::endl; });
    EXPECT_EQ(TakeResults(), "fine\n");
}
