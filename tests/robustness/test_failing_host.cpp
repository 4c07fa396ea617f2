// A failing host: every host function a script function calls is made to
// fail, once, at each of its calls in turn (the first call, then the
// second, ... until the function makes no more). Each time the handler must
// show "exception caught: " with the host's message, hold no lock, and give
// back every image and string reference it took; the next call must work
// as if nothing had happened.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "tests/robustness/robust_fixture.h"

namespace {

using robust::Outcome;
using robust::OutcomeKind;

// The host functions a module can reach (registration aside).
const char* const kHostFunctions[] = {"RealImage",
                                      "IntegerImage",
                                      "ComplexImage",
                                      "ImageIsValid",
                                      "ImageGetNumDimensions",
                                      "ImageGetDimensionSize",
                                      "ImageGetDataType",
                                      "ImageChangeDataType",
                                      "ImageGetLockedData",
                                      "ImageDataChanged",
                                      "NewString",
                                      "GetString",
                                      "Result"};

class FailingHost : public robust::RobustFixture, public ::testing::WithParamInterface<std::string> {
protected:
    // Takes back an injected failure the call did not reach (it made at most
    // `skip` calls of that host function). True when there was one.
    bool Unused(const std::string& host_function, int skip) {
        for (int i = 0; i <= skip; ++i)
            if (host.ShouldFail(host_function.c_str(), nullptr)) return true;
        return false;
    }
};

TEST_P(FailingHost, EachFailingHostCallIsReportedAndLeavesNoLockOrReference) {
    const robust::FunctionSpec& f = robust::Function(GetParam());
    std::map<std::string, int> failure_points;
    robust::CaseOptions half_done;
    half_done.unchanged_when_refused = false;

    for (const char* name : kHostFunctions) {
        for (int skip = 0; skip < 200; ++skip) {
            const std::string message = std::string("injected ") + name + " failure " + std::to_string(skip);
            host.FailOnce(name, message, skip);
            SCOPED_TRACE(GetParam() + " with " + message);
            const Outcome o = RunChecked(
                f.name, [&] { return f.valid(kit); }, half_done);
            if (Unused(name, skip)) {
                EXPECT_EQ(o.kind, OutcomeKind::Accepted) << o.results;
                break;
            }
            ++failure_points[name];
            EXPECT_EQ(o.kind, OutcomeKind::Refused) << o.results;
            EXPECT_NE(o.results.find("exception caught: " + message + "\n"), std::string::npos) << o.results;
        }
        // Nothing of the failure stays behind.
        SCOPED_TRACE(GetParam() + " after failures of " + name);
        const Outcome after = RunChecked(f.name, [&] { return f.valid(kit); });
        EXPECT_EQ(after.kind, OutcomeKind::Accepted) << after.results;
    }
    if (std::getenv("ORVAN_SWEEP_REPORT")) {
        std::cout << "== " << GetParam() << " host calls failed:";
        for (const auto& [name, n] : failure_points) std::cout << " " << name << " x" << n;
        std::cout << "\n";
    }
}

INSTANTIATE_TEST_SUITE_P(AllFunctions, FailingHost, ::testing::ValuesIn([] {
                             std::vector<std::string> names;
                             for (const robust::FunctionSpec& f : robust::Functions()) names.push_back(f.name);
                             return names;
                         }()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

// A registration the host refuses stops the start-up with the host's
// error; what was registered before stays, and a new start registers all.
TEST(FailingHostStartup, ARefusedRegistrationIsReportedAndANewStartRegistersAll) {
    orvanhost::HostProgram host;
    host.FailOnce("AddFunction", "no room for functions", 5);
    try {
        host.AttachModule(orvan_test::InProcessModule());
        ADD_FAILURE() << "the failed registration was not reported";
    } catch (const orvanhost::HostError& e) {
        EXPECT_NE(std::string(e.what()).find("no room for functions"), std::string::npos) << e.what();
    }
    EXPECT_EQ(host.FunctionNames().size(), 5u);
    host.ShutdownModule();
    EXPECT_TRUE(host.FunctionNames().empty());
    host.StartModule();
    EXPECT_EQ(host.FunctionNames().size(), robust::Functions().size());
    host.ShutdownModule();
    host.UnloadModule();
}

}  // namespace
