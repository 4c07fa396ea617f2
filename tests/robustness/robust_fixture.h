// The host with the module attached, the kit of valid images and a scratch
// folder, for the robustness tests.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "host/app/image.h"
#include "tests/plugin/host_fixture.h"
#include "tests/robustness/call_case.h"
#include "tests/robustness/function_table.h"

namespace robust {

class RobustFixture : public orvan_test::HostFixture {
protected:
    void SetUp() override {
        HostFixture::SetUp();
        kit = MakeKit(host);
    }
    void TearDown() override {
        HostFixture::TearDown();
        std::error_code ignored;
        std::filesystem::remove_all(kit.dir, ignored);
    }

    // Runs one call of function with the arguments make gives (see RunCase),
    // then checks that every host image made for it is gone once they are
    // dropped and that no host error is left pending.
    Outcome RunChecked(const std::string& function, const std::function<CaseArgs()>& make,
                       const CaseOptions& options = {}) {
        const long images = orvanhost::Image::LiveCount();
        Outcome o;
        {
            CaseArgs args = make();
            o = RunCase(host, function, args, {kit.book}, options);
        }
        EXPECT_EQ(orvanhost::Image::LiveCount(), images) << "host images leaked";
        EXPECT_FALSE(host.TakeError().has_value());
        return o;
    }

    Kit kit;
};

}  // namespace robust
