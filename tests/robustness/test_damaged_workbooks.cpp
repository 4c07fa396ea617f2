// The export functions on the damaged workbooks of damaged/ (made from the
// two control files by damaged/make_damaged.py): each is refused with one
// clear Results line and left exactly as it was. The control files
// themselves load, so a refusal is the damage's doing.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/robustness/robust_fixture.h"

namespace {

using robust::CaseArgs;
using robust::Outcome;
using robust::OutcomeKind;

std::vector<std::string> DamagedFiles() {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(ORVAN_DAMAGED_DIR)) {
        const std::string name = e.path().filename().string();
        if (e.path().extension() == ".xls" && name.rfind("control_", 0) != 0) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

class DamagedWorkbook : public robust::RobustFixture, public ::testing::WithParamInterface<std::string> {
protected:
    // Each export function with its valid arguments, writing into a copy of
    // the named file from damaged/.
    void ExportInto(const std::string& file, OutcomeKind expected) {
        const std::string source = std::string(ORVAN_DAMAGED_DIR) + "/" + file;
        for (const char* name : {"saveprofileasxls", "saveprofileasxlslong", "saveimageasxls"}) {
            SCOPED_TRACE(std::string(name) + " into " + file);
            const robust::FunctionSpec& f = robust::Function(name);
            const Outcome o = RunChecked(name, [&] {
                CaseArgs args = f.valid(kit);  // writes the valid workbook; replaced here
                std::filesystem::copy_file(source, kit.book, std::filesystem::copy_options::overwrite_existing);
                return args;
            });
            EXPECT_EQ(o.kind, expected) << o.results;
            if (expected == OutcomeKind::Refused) {
                EXPECT_NE(o.results.find("is not a readable workbook"), std::string::npos) << o.results;
                EXPECT_TRUE(robust::ReadFile(kit.book) == robust::ReadFile(source)) << "the file was changed";
            }
        }
    }
};

TEST_P(DamagedWorkbook, IsRefusedAndLeftAsItWas) { ExportInto(GetParam(), OutcomeKind::Refused); }

INSTANTIATE_TEST_SUITE_P(Files, DamagedWorkbook, ::testing::ValuesIn(DamagedFiles()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             return info.param.substr(0, info.param.size() - 4);
                         });

class ControlWorkbook : public DamagedWorkbook {};

TEST_F(ControlWorkbook, TheUndamagedFilesAreWrittenInto) {
    for (const char* file : {"control_small.xls", "control_large.xls"}) ExportInto(file, OutcomeKind::Accepted);
}

TEST(DamagedFolder, HoldsEveryKindOfDamage) {
    const std::vector<std::string> files = DamagedFiles();
    for (const char* kind : {"truncated_half", "truncated_header", "looping_chain", "looping_directory",
                             "sst_count_high", "sst_count_low", "boundsheet_past_end"})
        for (const char* size : {"small_", "large_"})
            EXPECT_NE(std::find(files.begin(), files.end(), std::string(size) + kind + ".xls"), files.end())
                << size << kind;
}

}  // namespace
