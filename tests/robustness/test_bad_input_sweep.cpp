// Every script function called with one bad argument at a time: invalid
// images, images of the wrong size or pixel type, numbers that are 0,
// negative, not a number, infinite or huge, strings that are empty, very
// long or not text, file names that cannot be written. Each call must come
// back with a clear outcome and, when it refuses, change nothing
// (RunCase). Where the functions' own texts are fixed (the radius check, the
// sector-angle messages, the host's generic error for the profile code's
// plain-text errors) the sweep checks them.
//
// With ORVAN_SWEEP_REPORT set, each test prints what each kind of bad input
// got, per function.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <map>
#include <set>
#include <string>

#include "tests/robustness/robust_fixture.h"

namespace {

using robust::CaseArgs;
using robust::Outcome;
using robust::OutcomeKind;

class Sweep : public robust::RobustFixture, public ::testing::WithParamInterface<std::string> {
protected:
    // One case; its outcome is collected under kind for the report.
    Outcome Run(const std::string& kind, const std::string& label, const std::function<CaseArgs()>& make) {
        SCOPED_TRACE(GetParam() + ": " + label);
        const auto start = std::chrono::steady_clock::now();
        const Outcome o = RunChecked(GetParam(), make);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (std::getenv("ORVAN_SWEEP_REPORT") && seconds > 0.2)
            std::cout << "   slow (" << seconds << " s): " << label << "\n" << std::flush;
        ++cases;
        std::string seen = robust::Name(o.kind);
        if (o.kind == OutcomeKind::HostError) seen += " " + std::to_string(o.host_error);
        if (o.kind == OutcomeKind::Refused && std::getenv("ORVAN_SWEEP_MESSAGES"))
            seen = o.results.substr(o.results.find("exception caught: ") + 18, 90);
        report[kind].insert(seen);
        return o;
    }

    void PrintReport() const {
        if (!std::getenv("ORVAN_SWEEP_REPORT")) return;
        std::cout << "== " << GetParam() << ": " << cases << " cases\n";
        for (const auto& [kind, seen] : report) {
            std::cout << "   " << kind << ":";
            for (const std::string& s : seen) std::cout << " [" << s << "]";
            std::cout << "\n";
        }
    }

    int cases = 0;
    std::map<std::string, std::set<std::string>> report;
};

bool IsRadius(const std::string& role) { return role == "inner" || role == "outer"; }
bool Negative(const std::string& kind) { return kind == "-1" || kind == "-inf" || kind == "-1e9"; }
bool Above2Pi(const std::string& kind) { return kind == "+inf" || kind == "1e9" || kind == "1e30"; }

TEST_P(Sweep, EveryBadArgumentGetsAClearOutcomeAndChangesNothingWhenRefused) {
    const robust::FunctionSpec& f = robust::Function(GetParam());
    const Outcome valid = Run("valid call", "valid call", [&] { return f.valid(kit); });
    EXPECT_EQ(valid.kind, OutcomeKind::Accepted) << valid.results;

    for (size_t i = 0; i < f.params.size(); ++i) {
        const robust::Param& p = f.params[i];
        const CaseArgs reference = f.valid(kit);
        for (const robust::Variant& v : robust::VariantsFor(p, reference[i])) {
            const std::string label = "argument " + std::to_string(i + 1) + " (" + p.role + ") " + v.kind;
            const size_t key_queries = host.KeyStateQueries().size();
            const Outcome o = Run(p.role + ": " + v.kind, label, [&] {
                CaseArgs args = f.valid(kit);
                v.apply(args[i], kit);
                return args;
            });
            SCOPED_TRACE(label);
            // Sizes that follow from numbers are checked before anything is
            // allocated: no refusal may rest on the allocator's luck.
            EXPECT_EQ(o.results.find("bad allocation"), std::string::npos) << o.results;
            // The outcomes the functions fix themselves.
            if (IsRadius(p.role) && f.name.rfind("Refine", 0) == 0) {
                EXPECT_EQ(o.results, robust::kBadRadii);
                EXPECT_EQ(o.kind, OutcomeKind::Message);
            }
            if (p.role == "start angle" && Negative(v.kind)) {
                EXPECT_EQ(o.results, robust::kStartAngle);
            }
            if (p.role == "end angle" && Above2Pi(v.kind)) {
                EXPECT_EQ(o.results, robust::kEndAngle);
            }
            if (f.name == "GetMouseState") {
                EXPECT_EQ(o.value, -1.0);
                EXPECT_EQ(host.KeyStateQueries().size(), key_queries) << "a name that is no button was queried";
            }
            // A name cut at a zero byte would name another file or sheet; a text
            // longer than a cell holds would be written cut short.
            if (f.name.rfind("save", 0) == 0 && (v.kind == "embedded NUL" || v.kind == "very long")) {
                EXPECT_EQ(o.kind, OutcomeKind::Refused) << "a text was written cut short";
            }
        }
    }
    PrintReport();
}

INSTANTIATE_TEST_SUITE_P(AllFunctions, Sweep, ::testing::ValuesIn([] {
                             std::vector<std::string> names;
                             for (const robust::FunctionSpec& f : robust::Functions()) names.push_back(f.name);
                             return names;
                         }()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

}  // namespace
