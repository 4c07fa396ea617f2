#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "compound_file/block_file.h"
#include "test_support.h"

using cftest::ScratchFile;
using CompoundFiles::BlockFile;

namespace {

std::vector<unsigned char> Block(char c) { return std::vector<unsigned char>(512, static_cast<unsigned char>(c)); }

// Writes blocks holding the given letters and reopens the file for reading and writing.
void Fill(BlockFile& f, const ScratchFile& path, const std::string& letters) {
    ASSERT_TRUE(f.Create(path.c_str()));
    for (std::size_t i = 0; i < letters.size(); ++i) ASSERT_TRUE(f.Write(i, Block(letters[i]).data()));
}

// The letter of every block, '0' for a zero block, '?' for mixed content.
std::string Letters(BlockFile& f) {
    std::string s;
    std::vector<unsigned char> b(512);
    for (std::uint64_t i = 0; i < f.BlockCount(); ++i) {
        EXPECT_TRUE(f.Read(i, b.data()));
        bool same = std::all_of(b.begin(), b.end(), [&](unsigned char c) { return c == b[0]; });
        s += !same ? '?' : (b[0] == 0 ? '0' : static_cast<char>(b[0]));
    }
    return s;
}

TEST(BlockFile, OpenCountsAPartialLastBlockAndReadsItPaddedWithZeros) {
    ScratchFile path;
    std::vector<unsigned char> bytes(1000, 'x');
    path.SetBytes(bytes);
    BlockFile f;
    ASSERT_TRUE(f.Open(path.c_str(), std::ios::in | std::ios::out));
    EXPECT_EQ(f.BlockCount(), 2u);
    EXPECT_EQ(f.FileSize(), 1000u);
    std::vector<unsigned char> b(512, 0xAA);
    ASSERT_TRUE(f.Read(1, b.data()));
    EXPECT_EQ(std::count(b.begin(), b.begin() + 488, 'x'), 488);
    EXPECT_EQ(std::count(b.begin() + 488, b.end(), 0), 24);
    EXPECT_FALSE(f.Read(2, b.data()));
    // Writing at the block count appends one block.
    ASSERT_TRUE(f.Write(2, Block('n').data()));
    EXPECT_EQ(f.BlockCount(), 3u);
    ASSERT_TRUE(f.Read(2, b.data()));
    EXPECT_EQ(b, Block('n'));
}

TEST(BlockFile, InsertPlacesTheBlockAndShiftsTheRest) {
    ScratchFile path;
    BlockFile f;
    Fill(f, path, "pqr");
    ASSERT_TRUE(f.Insert(0, Block('n').data()));
    EXPECT_EQ(Letters(f), "npqr");

    Fill(f, path, "pqr");
    ASSERT_TRUE(f.Insert(3, Block('n').data()));
    EXPECT_EQ(Letters(f), "pqrn");

    Fill(f, path, "pqr");
    ASSERT_TRUE(f.Insert(5, Block('n').data()));
    EXPECT_EQ(f.BlockCount(), 6u);
    EXPECT_EQ(path.Size(), 3072u);
    EXPECT_EQ(Letters(f), "pqr00n");
}

TEST(BlockFile, MoveShiftsTheBlocksBetween) {
    ScratchFile path;
    BlockFile f;
    Fill(f, path, "pqrs");
    ASSERT_TRUE(f.Move(3, 0));
    EXPECT_EQ(Letters(f), "spqr");
    Fill(f, path, "pqrs");
    ASSERT_TRUE(f.Move(0, 2));
    EXPECT_EQ(Letters(f), "qrps");
    EXPECT_FALSE(f.Move(0, 4));
}

TEST(BlockFile, EraseCutsBlocksOut) {
    ScratchFile path;
    BlockFile f;
    Fill(f, path, "pqr");
    ASSERT_TRUE(f.Erase(1));
    EXPECT_EQ(Letters(f), "pr");
    EXPECT_EQ(path.Size(), 1024u);

    Fill(f, path, "pqrs");
    ASSERT_TRUE(f.Erase(std::vector<std::uint64_t>{0, 2}));
    EXPECT_EQ(Letters(f), "qs");
    EXPECT_EQ(f.FileSize(), 1024u);
    // An index past the end refuses the whole list.
    EXPECT_FALSE(f.Erase(std::vector<std::uint64_t>{0, 7}));
    EXPECT_EQ(Letters(f), "qs");
}

TEST(BlockFile, SwapAndTheRightsOfTheOpenMode) {
    ScratchFile path;
    BlockFile f;
    Fill(f, path, "pq");
    EXPECT_TRUE(f.Swap(1, 1));
    ASSERT_TRUE(f.Swap(0, 1));
    EXPECT_EQ(Letters(f), "qp");
    ASSERT_TRUE(f.Close());
    EXPECT_FALSE(f.IsOpen());

    ASSERT_TRUE(f.Open(path.c_str(), std::ios::in));
    std::vector<unsigned char> b(512);
    EXPECT_TRUE(f.Read(0, b.data()));
    EXPECT_FALSE(f.Write(0, b.data()));
    EXPECT_FALSE(f.Swap(0, 1));
    EXPECT_FALSE(f.Move(0, 1));
    EXPECT_FALSE(f.Insert(0, b.data()));
    EXPECT_FALSE(f.Erase(0));
    EXPECT_FALSE(f.Erase(std::vector<std::uint64_t>{0}));
    EXPECT_EQ(Letters(f), "qp");

    EXPECT_FALSE(f.Open("/nonexistent-dir/none.bin", std::ios::in));
    EXPECT_FALSE(f.IsOpen());
    EXPECT_FALSE(f.Open(path.c_str(), std::ios::binary));  // neither in nor out
}

TEST(BlockFile, WideNamesReachTheSameFile) {
    ScratchFile path;
    BlockFile f;
    ASSERT_TRUE(f.Create(path.wide().c_str()));
    ASSERT_TRUE(f.Write(0, Block('w').data()));
    f.Close();
    BlockFile g;
    ASSERT_TRUE(g.Open(path.c_str(), std::ios::in));
    EXPECT_EQ(Letters(g), "w");
}

}  // namespace
