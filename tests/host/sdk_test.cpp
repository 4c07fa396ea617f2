// The SDK a module links, against the stand-in host.
#include <gtest/gtest.h>

#include <ostream>
#include <stdexcept>
#include <string>

#include "host/app/host.h"
#include "host/sdk/host_string.h"
#include "host/sdk/plugin_exception.h"
#include "host/sdk/entry_points.h"
#include "host/sdk/image_data_lock.h"
#include "host/sdk/image_ref.h"
#include "host/sdk/plugin_main.h"
#include "host/sdk/report_error.h"
#include "host/sdk/results_stream_buff.h"

using Host::PlugIn::plugin_exception;

namespace {

void Nothing() {}

class Sdk : public ::testing::Test {
protected:
    void SetUp() override { HostPlugIn_Link_2(&host.Link(), 0); }
    void TearDown() override { HostPlugIn_Link_2(nullptr, 0); }
    orvanhost::HostProgram host;
};

class TestPlugIn : public Host::PlugIn::PlugInMain {
public:
    void Start() override {
        ++starts;
        AddFunction("void One()", Nothing);
        AddFunction("void Two(float)", reinterpret_cast<void (*)(float)>(Nothing));
        AddFunction("void Three(float *)", reinterpret_cast<void (*)(float*)>(Nothing));
    }
    void End() override { ++ends; }
    int starts = 0, ends = 0;
};

}  // namespace

TEST_F(Sdk, ResultsBufferHandsOverWhenFullWhenAWriteDoesNotFitAndOnFlush) {
    Host::PlugIn::ResultsStreamBuff buffer;
    std::ostream out(&buffer);
    out << "line" << std::endl;
    ASSERT_EQ(host.ResultCalls().size(), 1u);
    EXPECT_EQ(host.ResultCalls()[0], "line\n");

    // 255 characters fill the buffer; the 256th makes it hand them over.
    out << std::string(255, 'a');
    EXPECT_EQ(host.ResultCalls().size(), 1u);
    out << 'b';
    ASSERT_EQ(host.ResultCalls().size(), 2u);
    EXPECT_EQ(host.ResultCalls()[1], std::string(255, 'a'));
    // A write that does not fit the rest goes after the collected text.
    out << std::string(255, 'c');
    ASSERT_EQ(host.ResultCalls().size(), 3u);
    EXPECT_EQ(host.ResultCalls()[2], "b");
    // One longer than the whole buffer goes over in one piece.
    out << std::string(600, 'd');
    ASSERT_EQ(host.ResultCalls().size(), 5u);
    EXPECT_EQ(host.ResultCalls()[3], std::string(255, 'c'));
    EXPECT_EQ(host.ResultCalls()[4], std::string(600, 'd'));
    out.flush();
    EXPECT_EQ(host.ResultCalls().size(), 5u);  // nothing collected, nothing sent
    EXPECT_EQ(host.ResultsText(),
              "line\n" + std::string(255, 'a') + "b" + std::string(255, 'c') + std::string(600, 'd'));
}

TEST_F(Sdk, AFailedHandOverMakesTheStreamBadAndKeepsTheHostError) {
    Host::PlugIn::ResultsStreamBuff buffer;
    std::ostream out(&buffer);
    host.FailOnce("Result", "window gone");
    out << "lost" << std::endl;
    EXPECT_TRUE(out.bad());
    int32_t code = 0;
    std::string text;
    ASSERT_TRUE(buffer.TakeFailure(&code, &text));
    EXPECT_EQ(code, HOST_ERROR_HOST_FUNCTION);
    EXPECT_EQ(text, "window gone");
    EXPECT_FALSE(buffer.TakeFailure(&code, &text));
    out.clear();
    out << "shown" << std::endl;
    EXPECT_EQ(host.ResultsText(), "shown\n");
}

TEST_F(Sdk, StringsCarryTextBothWays) {
    host_string s(std::string("a\0b", 3));
    EXPECT_EQ(s.ToStdString(0), std::string("a\0b", 3));
    EXPECT_EQ(host_string().ToStdString(0), "");
    EXPECT_EQ(host_string::Borrow(nullptr).ToStdString(0), "");
    EXPECT_THROW(s.ToStdString(1), std::invalid_argument);
    const long live = orvanhost::HostString::LiveCount();
    {
        host_string copy = s;
        host_string other = host_string::Borrow(copy.get());
        EXPECT_EQ(orvanhost::FromLink(s.get())->RefCount(), 3);
    }
    EXPECT_EQ(orvanhost::FromLink(s.get())->RefCount(), 1);
    EXPECT_EQ(orvanhost::HostString::LiveCount(), live);
}

TEST_F(Sdk, HostFailuresBecomeExceptionsWithTheHostsMessage) {
    host.FailOnce("RealImage", "no memory for images");
    try {
        Host::RealImage(host_string("t"), 4, 3, 2);
        FAIL();
    } catch (const plugin_exception& e) {
        EXPECT_EQ(e.code(), HOST_ERROR_HOST_FUNCTION);
        EXPECT_STREQ(e.what(), "no memory for images");
    }
    Host::Image img = Host::RealImage(host_string("t"), 4, 3, 2);
    EXPECT_EQ(Host::ImageGetDimensionSize(img.get(), 1), 2u);
    EXPECT_EQ(Host::ImageGetDimensionSize(img.get(), 2), 1u);
    EXPECT_EQ(Host::ImageGetNumDimensions(img.get()), 2u);
    EXPECT_EQ(orvanhost::FromLink(img.get())->Name(), "t");
    EXPECT_THROW(Host::ImageGetDimensionSize(nullptr, 0), plugin_exception);
    EXPECT_THROW(Host::IntegerImage(host_string(""), 2, false, -1), plugin_exception);

    HostPlugIn_Link_2(nullptr, 0);
    EXPECT_THROW(Host::ImageIsValid(img.get()), plugin_exception);
    HostPlugIn_Link_2(&host.Link(), 0);
}

TEST_F(Sdk, TheDataLockHoldsAReferenceAndExposesNothingForAnInvalidImage) {
    orvanhost::ImagePtr img = orvanhost::MakeRealImage(3, 2, {0, 1, 2, 3, 4, 5});
    {
        Host::PlugIn::ImageDataLock lock(orvanhost::ToLink(img.get()), 1);
        ASSERT_TRUE(lock.IsLocked());
        EXPECT_EQ(lock.size(), 24u);
        EXPECT_EQ(static_cast<const float*>(lock.get())[5], 5.0f);
        EXPECT_EQ(img->LockCount(), 1);
        EXPECT_EQ(img->RefCount(), 2);
    }
    EXPECT_EQ(img->LockCount(), 0);
    EXPECT_EQ(img->RefCount(), 1);
    EXPECT_EQ(img->DataChangedCount(), 0);
    Host::PlugIn::ImageDataLock none(nullptr, 1);
    EXPECT_FALSE(none.IsLocked());
    EXPECT_EQ(none.get(), nullptr);
}

TEST_F(Sdk, ReportCurrentErrorTurnsEachKindIntoItsHostError) {
    auto report = [](auto thrower) {
        try {
            thrower();
        } catch (...) {
            return Host::PlugIn::ReportCurrentError();
        }
        return 0;
    };
    EXPECT_EQ(report([] { throw plugin_exception(123, "own"); }), 123);
    EXPECT_EQ(report([] { throw std::runtime_error("std"); }), HOST_ERROR_STD_EXCEPTION);
    EXPECT_EQ(report([] { throw "text"; }), HOST_ERROR_UNKNOWN_EXCEPTION);
    EXPECT_EQ(report([] { throw 42; }), HOST_ERROR_UNKNOWN_EXCEPTION);
    ASSERT_EQ(host.ErrorLog().size(), 4u);
    EXPECT_EQ(host.ErrorLog()[0].text(), "own");
    EXPECT_EQ(host.ErrorLog()[1].text(), "std");
    EXPECT_EQ(host.ErrorLog()[2].text(), "");
    EXPECT_EQ(host.ErrorLog()[3].code(), 28803);
}

TEST_F(Sdk, ASignatureTheHostCannotReadIsRefusedAtRegistration) {
    TestPlugIn plugin;
    try {
        plugin.AddFunction("void Odd(matrix)", Nothing);
        FAIL();
    } catch (const plugin_exception& e) {
        EXPECT_EQ(e.code(), HOST_ERROR_BAD_SIGNATURE);
        EXPECT_NE(std::string(e.what()).find("unknown parameter type \"matrix\""), std::string::npos) << e.what();
    }
    EXPECT_EQ(plugin.RegisteredCount(), 0u);
    EXPECT_TRUE(host.FunctionNames().empty());
    // The returned reference can be dropped; the registration stays.
    { plugin.AddFunction("void One()", Nothing); }
    EXPECT_EQ(host.FunctionNames(), std::vector<std::string>{"One"});
    EXPECT_EQ(host.Functions()[0]->refs, 2);  // the library's and the plug-in's
}

TEST(SdkEntryPoints, VersionCheckRegistrationAndWithdrawal) {
    orvanhost::HostProgram host;
    TestPlugIn plugin;
    orvanhost::EntryPoints ep{HostPlugIn_GetVersion, HostPlugIn_Link_2, PlugInStartup, PlugInRun,
                              PlugInCleanup,         PlugInShutdown};
    host.SetVersion(0x0309FFFF);
    try {
        host.AttachModule(ep);
        FAIL();
    } catch (const orvanhost::HostError& e) {
        EXPECT_EQ(e.code(), 28802);
        EXPECT_EQ(e.text(), "This plugin requires host 3.10.0 or later.");
    }
    EXPECT_EQ(plugin.starts, 0);
    EXPECT_TRUE(host.FunctionNames().empty());

    host.SetVersion(0x030A0000);
    host.StartModule();
    EXPECT_EQ(plugin.starts, 1);
    EXPECT_EQ(host.FunctionNames(), (std::vector<std::string>{"One", "Two", "Three"}));
    EXPECT_EQ(plugin.RegisteredCount(), 3u);
    host.RunModule();
    host.CleanupModule();
    host.ShutdownModule();
    EXPECT_EQ(plugin.ends, 1);
    EXPECT_TRUE(host.FunctionNames().empty());
    EXPECT_EQ(host.WithdrawalLog(), (std::vector<std::string>{"Three", "Two", "One"}));

    // A refused registration ends Start there; what came before stays.
    host.FailOnce("AddFunction", "", 1);
    EXPECT_THROW(host.StartModule(), orvanhost::HostError);
    EXPECT_EQ(host.FunctionNames(), std::vector<std::string>{"One"});
    EXPECT_EQ(host.StartModuleUnlinked(), 28802);
    host.UnloadModule();
    EXPECT_FALSE(host.HasModule());
}
