#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "test_support.h"

using cftest::Pattern;
using cftest::Probe;
using cftest::ScratchFile;
namespace CF = CompoundFiles;

namespace {

// The compact-file rule: used sectors are 0 .. U-1 without holes, and the
// small blocks in use fill the store without holes.
void ExpectCompact(const Probe& doc, const ScratchFile& path) {
    const std::uint64_t sectors = path.Size() / 512 - 1;
    ASSERT_EQ(path.Size() % 512, 0u);
    const auto& bat = doc.Bat();
    ASSERT_GE(bat.size(), sectors);
    for (std::uint64_t i = 0; i < bat.size(); ++i) {
        if (i < sectors)
            ASSERT_NE(bat[i], CF::kFreeBlock) << "hole at sector " << i;
        else
            ASSERT_EQ(bat[i], CF::kFreeBlock) << "entry past the end at " << i;
    }
    const std::uint64_t small = doc.Entry(0).size / 64;
    for (std::uint64_t i = 0; i < doc.Sbat().size(); ++i)
        ASSERT_EQ(doc.Sbat()[i] != CF::kFreeBlock, i < small) << "small block " << i;
}

void ExpectContents(CF::CompoundFile& doc, const std::map<std::string, std::vector<unsigned char>>& model) {
    for (const auto& kv : model) {
        std::vector<unsigned char> back;
        ASSERT_EQ(doc.ReadFile(kv.first.c_str(), back), CF::kDone) << kv.first;
        ASSERT_EQ(back, kv.second) << kv.first;
    }
}

TEST(RoundTrip, LargeStreamPastTheHeaderTableSlots) {
    ScratchFile path;
    const auto big = Pattern(10u << 20, 1);
    const auto small = Pattern(1000, 2);
    {
        Probe doc;
        ASSERT_TRUE(doc.Create(path.c_str()));
        ASSERT_EQ(doc.MakeFile("small"), CF::kDone);
        ASSERT_EQ(doc.WriteFile("small", small, small.size()), CF::kDone);
        ASSERT_EQ(doc.MakeFile("big"), CF::kDone);
        ASSERT_EQ(doc.WriteFile("big", big, big.size()), CF::kDone);
        EXPECT_GT(doc.BatSectors().size(), 109u);
        EXPECT_EQ(doc.DifatSectors().size(), 1u);
        EXPECT_EQ(doc.Bat()[doc.DifatSectors()[0]], CF::kDifatBlock);
        ExpectCompact(doc, path);
    }
    // The published extension form: header count of all table sectors, an
    // extension sector listing the rest and ending the list with -2.
    const auto bytes = path.Bytes();
    const std::uint32_t batCount = cftest::U32(bytes, 44), difat = cftest::U32(bytes, 68);
    EXPECT_GT(batCount, 109u);
    EXPECT_EQ(cftest::U32(bytes, 72), 1u);
    const std::size_t at = 512 * (difat + 1);
    EXPECT_EQ(cftest::U32(bytes, at + 4 * 127), 0xFFFFFFFEu);
    EXPECT_NE(cftest::U32(bytes, at + 4 * (batCount - 110)), 0xFFFFFFFFu);
    if (batCount - 109 < 127) {
        EXPECT_EQ(cftest::U32(bytes, at + 4 * (batCount - 109)), 0xFFFFFFFFu);
    }

    Probe doc;
    ASSERT_TRUE(doc.Open(path.c_str()));
    std::vector<unsigned char> back;
    ASSERT_EQ(doc.ReadFile("big", back), CF::kDone);
    EXPECT_EQ(back, big);
    // Shrinking below the header slots releases the extension and the spare table sectors.
    ASSERT_EQ(doc.WriteFile("big", big, 1u << 20), CF::kDone);
    EXPECT_TRUE(doc.DifatSectors().empty());
    ExpectCompact(doc, path);
    ASSERT_EQ(doc.ReadFile("small", back), CF::kDone);
    EXPECT_EQ(back, small);
    ASSERT_EQ(doc.WriteFile("big", big, big.size()), CF::kDone);
    doc.Close();
    ASSERT_TRUE(doc.Open(path.c_str()));
    ASSERT_EQ(doc.ReadFile("big", back), CF::kDone);
    EXPECT_EQ(back, big);
    ASSERT_EQ(doc.RemoveFile("big"), CF::kDone);
    ExpectCompact(doc, path);
    EXPECT_EQ(doc.BatSectors().size(), 1u);
}

// Many streams and storages written, rewritten larger and smaller and removed
// in a fixed pseudo-random order, checked against a model of what they hold.
TEST(RoundTrip, RandomOperationsAgainstAModel) {
    ScratchFile path;
    Probe doc;
    ASSERT_TRUE(doc.Create(path.c_str()));
    std::mt19937 rng(20240611);
    std::map<std::string, std::vector<unsigned char>> model;
    std::vector<std::string> dirs{""};
    int large = 0;
    auto pickSize = [&]() -> std::size_t {
        const int kind = static_cast<int>(rng() % 100);
        if (kind < 40) return rng() % 4096;
        if (kind < 55) return 4090 + rng() % 12;
        if (kind < 95) return 4096 + rng() % 60000;
        if (large < 3) {
            ++large;
            return (1u << 20) + rng() % (9u << 20);
        }
        return rng() % 700;
    };
    for (int op = 0; op < 260; ++op) {
        const int kind = static_cast<int>(rng() % 100);
        if (kind < 50 || model.empty()) {
            const std::string dir = dirs[rng() % dirs.size()];
            const std::string name = (dir.empty() ? "" : dir + "\\") + "s" + std::to_string(rng() % 40);
            if (!model.count(name)) {
                const int code = doc.MakeFile(name.c_str());
                if (code == CF::kNameExists) continue;  // a storage of that name
                ASSERT_EQ(code, CF::kDone) << name;
            }
            model[name] = Pattern(pickSize(), static_cast<std::uint32_t>(op));
            ASSERT_EQ(doc.WriteFile(name.c_str(), model[name], model[name].size()), CF::kDone) << name;
        } else if (kind < 80) {
            auto it = std::next(model.begin(), static_cast<long>(rng() % model.size()));
            it->second = Pattern(pickSize(), static_cast<std::uint32_t>(op + 1000));
            ASSERT_EQ(doc.WriteFile(it->first.c_str(), it->second, it->second.size()), CF::kDone) << it->first;
        } else if (kind < 92) {
            auto it = std::next(model.begin(), static_cast<long>(rng() % model.size()));
            ASSERT_EQ(doc.RemoveFile(it->first.c_str()), CF::kDone) << it->first;
            model.erase(it);
        } else if (kind < 98) {
            const std::string dir = dirs[rng() % dirs.size()];
            const std::string name = (dir.empty() ? "" : dir + "\\") + "d" + std::to_string(rng() % 5);
            if (std::find(dirs.begin(), dirs.end(), name) != dirs.end() || model.count(name)) continue;
            ASSERT_EQ(doc.MakeDirectory(name.c_str()), CF::kDone) << name;
            dirs.push_back(name);
        } else if (dirs.size() > 1) {
            const std::string dir = dirs[1 + rng() % (dirs.size() - 1)];
            ASSERT_EQ(doc.DelTree(dir.c_str()), CF::kDone) << dir;
            const std::string prefix = dir + "\\";
            for (auto it = model.begin(); it != model.end();)
                it = it->first.compare(0, prefix.size(), prefix) == 0 ? model.erase(it) : std::next(it);
            dirs.erase(std::remove_if(
                           dirs.begin(), dirs.end(),
                           [&](const std::string& d) { return d == dir || d.compare(0, prefix.size(), prefix) == 0; }),
                       dirs.end());
        }
        ExpectCompact(doc, path);
        if (HasFatalFailure()) return;
        if (op % 40 == 0) ExpectContents(doc, model);
    }
    ExpectContents(doc, model);
    doc.Close();
    ASSERT_TRUE(doc.Open(path.c_str()));
    ExpectContents(doc, model);
    for (const std::string& d : dirs) {
        if (d.empty()) continue;
        EXPECT_EQ(doc.ChangeDirectory(("\\" + d).c_str()), CF::kDone) << d;
    }
}

}  // namespace
