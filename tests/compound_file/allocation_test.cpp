#include <gtest/gtest.h>

#include <numeric>

#include "test_support.h"

using cftest::Pattern;
using cftest::Probe;
using cftest::ScratchFile;
namespace CF = CompoundFiles;

namespace {

std::vector<std::uint64_t> Range(std::uint64_t from, std::uint64_t to) {
    std::vector<std::uint64_t> v(to - from + 1);
    std::iota(v.begin(), v.end(), from);
    return v;
}

TEST(Allocation, NewDocumentIsThreeBlocksAndTheFirstAllocationIsTwo) {
    ScratchFile path;
    Probe doc;
    ASSERT_TRUE(doc.Create(path.c_str()));
    EXPECT_EQ(path.Size(), 3u * 512);
    ASSERT_EQ(doc.Bat().size(), 128u);
    EXPECT_EQ(doc.Bat()[0], CF::kBatBlock);
    EXPECT_EQ(doc.Bat()[1], CF::kEndOfChain);
    EXPECT_EQ(doc.Bat()[2], CF::kFreeBlock);
    EXPECT_EQ(doc.AllocateBlock(true), 2u);
    EXPECT_EQ(doc.Bat()[2], CF::kEndOfChain);
}

TEST(Allocation, BigStreamChainAndShrinkMovesTheStreamBehind) {
    ScratchFile path;
    Probe doc;
    ASSERT_TRUE(doc.Create(path.c_str()));
    const auto a = Pattern(39 * 512 + 32, 1);
    ASSERT_EQ(doc.MakeFile("A"), CF::kDone);
    ASSERT_EQ(doc.WriteFile("A", a, a.size()), CF::kDone);
    const int ia = doc.Find(u"A");
    ASSERT_GT(ia, 0);
    EXPECT_EQ(doc.Entry(ia).startBlock, 2);
    EXPECT_EQ(doc.Chain(2, true), Range(2, 41));
    EXPECT_EQ(doc.Bat()[41], CF::kEndOfChain);
    // The last sector holds the last 32 bytes, then zeros.
    auto bytes = path.Bytes();
    ASSERT_EQ(bytes.size(), 43u * 512);
    const std::size_t last = 42 * 512;
    EXPECT_TRUE(std::equal(a.end() - 32, a.end(), bytes.begin() + last));
    EXPECT_TRUE(std::all_of(bytes.begin() + last + 32, bytes.end(), [](unsigned char c) { return c == 0; }));

    const auto b = Pattern(5000, 2);
    ASSERT_EQ(doc.MakeFile("B"), CF::kDone);
    ASSERT_EQ(doc.WriteFile("B", b, b.size()), CF::kDone);
    EXPECT_EQ(doc.Entry(doc.Find(u"B")).startBlock, 42);

    // The storage engine's shrink (a stream of 512 bytes would go to small blocks).
    EXPECT_EQ(doc.WriteData(a.data(), 512, 2, true), 2u);
    EXPECT_EQ(doc.Bat()[2], CF::kEndOfChain);
    EXPECT_EQ(path.Size(), (43u + 10 - 39) * 512);
    EXPECT_EQ(doc.Entry(doc.Find(u"B")).startBlock, 42 - 39);
    EXPECT_EQ(doc.Chain(3, true), Range(3, 12));
    std::vector<unsigned char> back;
    ASSERT_EQ(doc.ReadFile("B", back), CF::kDone);
    EXPECT_EQ(back, b);
    std::vector<unsigned char> block(512);
    EXPECT_EQ(doc.ReadData(2, block.data(), true), 512u);
    EXPECT_EQ(block, std::vector<unsigned char>(a.begin(), a.begin() + 512));
}

TEST(Allocation, TheTableGrowsBySectorWhenFull) {
    ScratchFile path;
    Probe doc;
    ASSERT_TRUE(doc.Create(path.c_str()));
    // Sectors 2 to 127 fill the first table sector.
    const auto data = Pattern(126 * 512, 3);
    ASSERT_EQ(doc.MakeFile("Full"), CF::kDone);
    ASSERT_EQ(doc.WriteFile("Full", data, data.size()), CF::kDone);
    ASSERT_TRUE(std::none_of(doc.Bat().begin(), doc.Bat().end(), [](std::int32_t v) { return v == CF::kFreeBlock; }));
    EXPECT_EQ(doc.AllocateBlock(true), 129u);
    ASSERT_EQ(doc.BatSectors().size(), 2u);
    EXPECT_EQ(doc.BatSectors()[1], 128u);
    EXPECT_EQ(doc.Bat()[128], CF::kBatBlock);
    EXPECT_EQ(doc.Bat().size(), 256u);
}

TEST(Allocation, FirstSmallStreamMakesTheStoreAndItsTable) {
    ScratchFile path;
    Probe doc;
    ASSERT_TRUE(doc.Create(path.c_str()));
    const auto data = Pattern(100, 4);
    ASSERT_EQ(doc.MakeFile("s"), CF::kDone);
    ASSERT_EQ(doc.WriteFile("s", data, data.size()), CF::kDone);
    const CF::DirectoryEntry& root = doc.Entry(0);
    EXPECT_EQ(root.startBlock, 2);  // the store: one sector
    EXPECT_EQ(doc.Bat()[2], CF::kEndOfChain);
    EXPECT_EQ(root.size, 128u);
    ASSERT_EQ(doc.SbatSectors().size(), 1u);
    EXPECT_EQ(doc.SbatSectors()[0], 3u);
    EXPECT_EQ(doc.Header().sbatStart, 3);
    EXPECT_EQ(doc.Header().sbatCount, 1u);
    const CF::DirectoryEntry& s = doc.Entry(doc.Find(u"s"));
    EXPECT_EQ(s.startBlock, 0);
    EXPECT_EQ(doc.Chain(0, false), (std::vector<std::uint64_t>{0, 1}));
    EXPECT_EQ(doc.Sbat()[1], CF::kEndOfChain);
    EXPECT_EQ(path.Size(), 5u * 512);
}

TEST(Allocation, SmallStreamsBeyondTheFirstBlocksAndTheirRenumbering) {
    ScratchFile path;
    Probe doc;
    ASSERT_TRUE(doc.Create(path.c_str()));
    const auto a = Pattern(512, 5), b = Pattern(100, 6), c = Pattern(300, 7);
    for (const char* n : {"a", "b", "c"}) ASSERT_EQ(doc.MakeFile(n), CF::kDone);
    ASSERT_EQ(doc.WriteFile("a", a, a.size()), CF::kDone);
    ASSERT_EQ(doc.WriteFile("b", b, b.size()), CF::kDone);
    ASSERT_EQ(doc.WriteFile("c", c, c.size()), CF::kDone);
    EXPECT_EQ(doc.Entry(doc.Find(u"b")).startBlock, 8);
    std::vector<unsigned char> back;
    ASSERT_EQ(doc.ReadFile("b", back), CF::kDone);
    EXPECT_EQ(back, b);

    // Shrinking a cuts small blocks out of the store; b and c move down with
    // their starts.
    ASSERT_EQ(doc.WriteFile("a", a, 64), CF::kDone);
    EXPECT_EQ(doc.Entry(doc.Find(u"b")).startBlock, 1);
    EXPECT_EQ(doc.Entry(0).size, (1u + 2 + 5) * 64);
    ASSERT_EQ(doc.ReadFile("b", back), CF::kDone);
    EXPECT_EQ(back, b);
    ASSERT_EQ(doc.ReadFile("c", back), CF::kDone);
    EXPECT_EQ(back, c);
    doc.Close();

    ASSERT_TRUE(doc.Open(path.c_str()));
    ASSERT_EQ(doc.ReadFile("c", back), CF::kDone);
    EXPECT_EQ(back, c);
    ASSERT_EQ(doc.ReadFile("a", back), CF::kDone);
    EXPECT_EQ(back, std::vector<unsigned char>(a.begin(), a.begin() + 64));
}

TEST(Allocation, SmallTableSectorsAreChainedAndDroppedWhenEmpty) {
    ScratchFile path;
    Probe doc;
    ASSERT_TRUE(doc.Create(path.c_str()));
    // 5 streams of 40 small blocks: 200 blocks need two table sectors.
    for (int i = 0; i < 5; ++i) {
        const std::string name = "s" + std::to_string(i);
        ASSERT_EQ(doc.MakeFile(name.c_str()), CF::kDone);
        const auto d = Pattern(40 * 64, 10 + i);
        ASSERT_EQ(doc.WriteFile(name.c_str(), d, d.size()), CF::kDone);
    }
    ASSERT_EQ(doc.SbatSectors().size(), 2u);
    const auto s = doc.SbatSectors();
    EXPECT_EQ(s[1], s[0] + 1);  // right behind the run
    EXPECT_EQ(doc.Bat()[s[0]], static_cast<std::int32_t>(s[1]));
    EXPECT_EQ(doc.Bat()[s[1]], CF::kEndOfChain);
    for (int i = 0; i < 5; ++i) {
        std::vector<unsigned char> back;
        ASSERT_EQ(doc.ReadFile(("s" + std::to_string(i)).c_str(), back), CF::kDone);
        EXPECT_EQ(back, Pattern(40 * 64, 10 + i));
    }
    for (int i = 0; i < 3; ++i) ASSERT_EQ(doc.RemoveFile(("s" + std::to_string(i)).c_str()), CF::kDone);
    EXPECT_EQ(doc.SbatSectors().size(), 1u);
    EXPECT_EQ(doc.Bat()[doc.SbatSectors()[0]], CF::kEndOfChain);
    for (int i = 3; i < 5; ++i) ASSERT_EQ(doc.RemoveFile(("s" + std::to_string(i)).c_str()), CF::kDone);
    // Nothing small is left: store and table are gone, the file is as new.
    EXPECT_TRUE(doc.SbatSectors().empty());
    EXPECT_EQ(doc.Entry(0).startBlock, CF::kEndOfChain);
    EXPECT_EQ(doc.Entry(0).size, 0u);
    EXPECT_EQ(path.Size(), 3u * 512);
}

}  // namespace
