// A stand-in host with the module's code of this test program attached, for
// tests that call script functions the way a script does.
//
//   class MyTest : public orvan_test::HostFixture {};
//   TEST_F(MyTest, Works) {
//     orvanhost::ImagePtr img = Image(3, 2, {0, 1, 2, 3, 4, 5});  // pixel x + y*W
//     orvanhost::ImagePtr out;                                    // ImageRef * variable
//     double x = 1.5;                                          // float * variable
//     Call("AzimuthalIntegral", {Arg::Image(img), Arg::ImageSlot(&out), Arg::Number(x), ...});
//     EXPECT_EQ(TakeResults(), "...");        // Results text since the last take
//     std::vector<float> p = Pixels(out);
//   }
// SetUp attaches the module (PlugInStartup: log_threshold 0, the 23
// registrations); TearDown shuts it down and detaches it. Call throws
// orvanhost::HostError when the handler reported a host error (e.g. 28803 for
// thrown text) and orvanhost::CallError for arguments that do not fit the
// signature. For the module as a separate shared object, see ModulePath().
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "host/app/host.h"
#include "host/sdk/entry_points.h"

namespace orvan_test {

using orvanhost::Arg;

// The module's entry points as linked into this program.
inline orvanhost::EntryPoints InProcessModule() {
    return orvanhost::EntryPoints{HostPlugIn_GetVersion, HostPlugIn_Link_2, PlugInStartup, PlugInRun,
                                  PlugInCleanup,         PlugInShutdown};
}

// Path of the built module (orvantools.so), for HostProgram::LoadModule.
inline std::string ModulePath() { return ORVAN_MODULE_PATH; }

class HostFixture : public ::testing::Test {
protected:
    void SetUp() override { host.AttachModule(InProcessModule()); }

    void TearDown() override {
        if (!host.HasModule()) return;
        try {
            host.ShutdownModule();
        } catch (const orvanhost::HostError&) {
        }
        host.UnloadModule();
    }

    std::optional<double> Call(const std::string& name, const std::vector<Arg>& args) { return host.Call(name, args); }

    // The Results text shown since the last take.
    std::string TakeResults() {
        std::string text = host.ResultsText();
        host.ClearResults();
        return text;
    }

    // A width x height 4-byte real image; values in pixel order (x fastest),
    // or all zero when empty.
    static orvanhost::ImagePtr Image(uint32_t width, uint32_t height, const std::vector<float>& values = {}) {
        return orvanhost::MakeRealImage(width, height, values);
    }

    // All pixels of an image in pixel order, as floats.
    static std::vector<float> Pixels(const orvanhost::ImagePtr& image) {
        std::vector<float> out;
        if (!image) return out;
        for (double v : image->Pixels()) out.push_back(static_cast<float>(v));
        return out;
    }

    orvanhost::HostProgram host;
};

}  // namespace orvan_test
