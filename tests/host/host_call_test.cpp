// Calls through the host's function library and libffi into handlers
// written here, which see exactly what a module's handlers see.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "host/app/host.h"

using orvanhost::Arg;
using orvanhost::HostProgram;
using orvanhost::ImagePtr;

namespace {

struct Seen {
    LinkImage* image = nullptr;
    float a = 0, b = 0;
    double d = 0;
    int32_t l = 0;
    uint8_t flag = 0;
    std::string text;
    int calls = 0;
} seen;

HostProgram* current_host = nullptr;

float Mixed(LinkImage* image, float* inout, float a, double d, int32_t l, uint8_t flag, LinkString* s) {
    ++seen.calls;
    seen.image = image;
    seen.a = *inout;
    *inout = *inout * 2 + a;
    seen.d = d;
    seen.l = l;
    seen.flag = flag;
    seen.text = s ? orvanhost::FromLink(s)->Text() : "<null>";
    return 0.5f;
}

// Replaces the slot's image with a new 3 x 1 image, as a module must.
void Replace(LinkImage** slot, float value) {
    ++seen.calls;
    orvanhost::Image* fresh = orvanhost::NewImageObject("new", orvanhost::DataType::Real4, {3, 1});
    fresh->SetPixel(0, 0, value);
    if (*slot) orvanhost::FromLink(*slot)->Release();
    *slot = orvanhost::ToLink(fresh);
}

void Fails(float* out) {
    ++seen.calls;
    *out = 7;
    current_host->Link().report_error(current_host->Link().host, 28803, nullptr);
}

int32_t Twice(int32_t* v, double* w) {
    *w = *w + 0.25;
    *v = *v * 2;
    return *v;
}

uint8_t Not(uint8_t b) { return b ? 0 : 1; }

class HostCall : public ::testing::Test {
protected:
    void SetUp() override {
        seen = Seen();
        current_host = &host;
        auto add = [&](const char* sig, auto fn) {
            host.Library().Release(host.Library().Add(sig, reinterpret_cast<LinkHandler>(fn)));
        };
        add("float Mixed(BasicImage, float *, float, double, long, Boolean, host_string)", Mixed);
        add("void Replace(ImageRef *, float)", Replace);
        add("void Fails(float *)", Fails);
        add("long Twice(long *, double *)", Twice);
        add("Boolean Not(Boolean)", Not);
    }
    HostProgram host;
};

}  // namespace

TEST_F(HostCall, PassesEveryKindAndWritesBack) {
    ImagePtr img = orvanhost::MakeRealImage(2, 2);
    double inout = 1.5;
    auto r = host.Call("Mixed", {Arg::Image(img), Arg::NumberRef(&inout), Arg::Number(0.25), Arg::Number(1e300),
                                 Arg::Number(-7.9), Arg::Number(2), Arg::Text("hello")});
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(*r, 0.5);
    EXPECT_EQ(seen.image, orvanhost::ToLink(img.get()));
    EXPECT_EQ(seen.a, 1.5f);
    EXPECT_EQ(inout, 3.25);
    EXPECT_EQ(seen.d, 1e300);
    EXPECT_EQ(seen.l, -7);
    EXPECT_EQ(seen.flag, 1);
    EXPECT_EQ(seen.text, "hello");
    EXPECT_EQ(img->RefCount(), 1);  // borrowed, not taken

    // A null image is passed as an invalid image; a stored string is borrowed.
    orvanhost::StringPtr s("kept");
    host.Call("Mixed", {Arg::Image(nullptr), Arg::NumberRef(&inout), Arg::Number(0), Arg::Number(0), Arg::Number(0),
                        Arg::Number(0), Arg::String(s)});
    EXPECT_EQ(seen.image, nullptr);
    EXPECT_EQ(seen.text, "kept");
    EXPECT_EQ(s->RefCount(), 1);

    double v = 21, w = 1;
    EXPECT_EQ(*host.Call("Twice", {Arg::NumberRef(&v), Arg::NumberRef(&w)}), 42.0);
    EXPECT_EQ(v, 42.0);
    EXPECT_EQ(w, 1.25);
    EXPECT_EQ(*host.Call("Not", {Arg::Number(0)}), 1.0);
    EXPECT_EQ(*host.Call("Not", {Arg::Number(3)}), 0.0);
}

TEST_F(HostCall, ImageSlotTakesTheNewImageAndTheOldIsReleased) {
    ImagePtr old = orvanhost::MakeRealImage(1, 1);
    ImagePtr var = old;  // the variable's reference
    EXPECT_FALSE(host.Call("Replace", {Arg::ImageSlot(&var), Arg::Number(4)}).has_value());
    EXPECT_EQ(old->RefCount(), 1);
    EXPECT_EQ(old->ReleaseCount(), 1);
    ASSERT_TRUE(var);
    EXPECT_EQ(var->Name(), "new");
    EXPECT_EQ(var->RefCount(), 1);
    EXPECT_EQ(var->GetPixel(0, 0), 4.0);

    ImagePtr empty;
    host.Call("Replace", {Arg::ImageSlot(&empty), Arg::Number(1)});
    EXPECT_TRUE(empty);
}

TEST_F(HostCall, RefusesBadCallsBeforeCallingAnything) {
    double x = 0;
    ImagePtr img;
    EXPECT_THROW(host.Call("Nope", {}), orvanhost::CallError);
    EXPECT_THROW(host.Call("Fails", {}), orvanhost::CallError);
    EXPECT_THROW(host.Call("Fails", {Arg::Number(1)}), orvanhost::CallError);  // needs a variable
    EXPECT_THROW(host.Call("Replace", {Arg::Image(img), Arg::Number(1)}), orvanhost::CallError);
    EXPECT_THROW(host.Call("Replace", {Arg::ImageSlot(nullptr), Arg::Number(1)}), orvanhost::CallError);
    EXPECT_THROW(host.Call("Twice", {Arg::NumberRef(&x), Arg::Number(1)}), orvanhost::CallError);
    double huge = 3e9, w = 0;
    EXPECT_THROW(host.Call("Twice", {Arg::NumberRef(&huge), Arg::NumberRef(&w)}), orvanhost::CallError);
    double nan = std::nan("");
    EXPECT_THROW(host.Call("Twice", {Arg::NumberRef(&nan), Arg::NumberRef(&w)}), orvanhost::CallError);
    // A long by value: whole parts outside the 32-bit range are refused.
    ImagePtr one = orvanhost::MakeRealImage(1, 1);
    double inout = 0;
    auto mixed = [&](double l) {
        return host.Call("Mixed", {Arg::Image(one), Arg::NumberRef(&inout), Arg::Number(0), Arg::Number(0),
                                   Arg::Number(l), Arg::Number(0), Arg::Text("")});
    };
    for (double l : {2147483648.0, -2147483649.0, 3e9, nan}) EXPECT_THROW(mixed(l), orvanhost::CallError) << l;
    EXPECT_EQ(seen.calls, 0);
    for (double l : {2147483647.9, -2147483648.9}) {
        mixed(l);
        EXPECT_EQ(seen.l, static_cast<int32_t>(std::trunc(l)));
    }
}

TEST_F(HostCall, AReportedErrorIsThrownAfterTheOutParametersAreWritten) {
    double out = 0;
    try {
        host.Call("Fails", {Arg::NumberRef(&out)});
        FAIL() << "no host error";
    } catch (const orvanhost::HostError& e) {
        EXPECT_EQ(e.code(), 28803);
        EXPECT_EQ(e.text(), "");
        EXPECT_STREQ(e.what(), "host error 28803");
    }
    EXPECT_EQ(out, 7.0);
    EXPECT_FALSE(host.TakeError().has_value());
    EXPECT_EQ(host.ErrorLog().size(), 1u);
}

TEST(HostFunctions, FailOnceFailsTheNamedFunctionOnceAfterSkipping) {
    HostProgram host;
    const HostLink& link = host.Link();
    ImagePtr img = orvanhost::MakeRealImage(4, 3);
    host.FailOnce("ImageGetDimensionSize", "", 1);
    LinkError e{};
    EXPECT_EQ(link.image_dimension_size(link.host, orvanhost::ToLink(img.get()), 0, &e), 4u);
    EXPECT_EQ(e.code, 0);
    EXPECT_EQ(link.image_dimension_size(link.host, orvanhost::ToLink(img.get()), 1, &e), 0u);
    EXPECT_EQ(e.code, HOST_ERROR_HOST_FUNCTION);
    EXPECT_STREQ(e.text, "ImageGetDimensionSize failed");
    LinkError ok{};
    EXPECT_EQ(link.image_dimension_size(link.host, orvanhost::ToLink(img.get()), 1, &ok), 3u);
    EXPECT_EQ(ok.code, 0);

    // A null image where one is needed is refused, not dereferenced.
    LinkError n{};
    link.image_dimension_size(link.host, nullptr, 0, &n);
    EXPECT_EQ(n.code, HOST_ERROR_HOST_FUNCTION);
    LinkError v{};
    EXPECT_EQ(link.image_is_valid(link.host, nullptr, &v), 0);
    EXPECT_EQ(v.code, 0);
}

TEST(HostFunctions, KeyStateBitsBehaveLikeTheDesktopOnes) {
    HostProgram host;
    EXPECT_EQ(host.AsyncKeyState(1), 0);
    host.SetKeyDown(1, true);
    EXPECT_EQ(static_cast<uint16_t>(host.AsyncKeyState(1)), 0x8001);
    EXPECT_EQ(static_cast<uint16_t>(host.AsyncKeyState(1)), 0x8000);
    host.SetKeyDown(1, false);
    EXPECT_EQ(host.AsyncKeyState(1), 0);
    host.SetKeyDown(2, true);
    host.SetKeyDown(2, false);  // pressed and let go before the query
    EXPECT_EQ(host.AsyncKeyState(2), 1);
    EXPECT_EQ(host.KeyStateQueries(), (std::vector<int>{1, 1, 1, 1, 2}));
}

TEST(HostFunctions, ResultsCollectInOrderAndReachTheSink) {
    HostProgram host;
    std::string sink;
    host.SetResultsSink([&](std::string_view t) { sink += t; });
    host.ShowResult("a\n");
    host.ShowResult("b");
    EXPECT_EQ(host.ResultsText(), "a\nb");
    EXPECT_EQ(sink, "a\nb");
    EXPECT_EQ(host.ResultCalls().size(), 2u);
    host.ClearResults();
    EXPECT_EQ(host.ResultsText(), "");
    // A streaming host keeps nothing of what went to its sink.
    host.KeepResults(false);
    host.ShowResult("c");
    EXPECT_EQ(sink, "a\nbc");
    EXPECT_EQ(host.ResultsText(), "");
    EXPECT_TRUE(host.ResultCalls().empty());
}

TEST(HostModule, ModuleErrorsForWhatCannotBeLoaded) {
    HostProgram host;
    EXPECT_THROW(host.LoadModule("/nonexistent/module.so"), orvanhost::ModuleError);
    EXPECT_FALSE(host.HasModule());
    EXPECT_THROW(host.StartModule(), orvanhost::ModuleError);
    orvanhost::EntryPoints none;
    EXPECT_THROW(host.AttachModule(none), orvanhost::ModuleError);
}
