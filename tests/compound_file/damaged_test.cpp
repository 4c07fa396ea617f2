#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>

#include "test_support.h"
#include "variant_document.h"

using cftest::Pattern;
using cftest::Probe;
using cftest::PutU32;
using cftest::ScratchFile;
using cftest::U32;
namespace CF = CompoundFiles;

namespace {

// A small valid document: storage D with a big stream, a small stream at the root.
struct Base {
    std::vector<unsigned char> bytes;
    std::size_t bigEntry = 0, smallEntry = 0, storageEntry = 0;
    std::uint32_t bigStart = 0, bigLast = 0;
};

Base MakeBase() {
    ScratchFile path("base");
    Base base;
    Probe doc;
    EXPECT_TRUE(doc.Create(path.c_str()));
    const auto big = Pattern(5000, 1), small = Pattern(100, 2);
    EXPECT_EQ(doc.MakeFile("D\\big"), CF::kDone);
    EXPECT_EQ(doc.WriteFile("D\\big", big, big.size()), CF::kDone);
    EXPECT_EQ(doc.MakeFile("small"), CF::kDone);
    EXPECT_EQ(doc.WriteFile("small", small, small.size()), CF::kDone);
    base.bigEntry = static_cast<std::size_t>(doc.Find(u"big"));
    base.smallEntry = static_cast<std::size_t>(doc.Find(u"small"));
    base.storageEntry = static_cast<std::size_t>(doc.Find(u"D"));
    base.bigStart = static_cast<std::uint32_t>(doc.Entry(base.bigEntry).startBlock);
    base.bigLast = base.bigStart + 9;
    EXPECT_EQ(doc.Header().directoryStart, 1);
    EXPECT_EQ(doc.BatSectors(), (std::vector<std::uint64_t>{0}));
    doc.Close();
    base.bytes = path.Bytes();
    return base;
}

std::size_t BatAt(std::uint32_t k) { return 512 + 4 * k; }
std::size_t EntryAt(std::size_t i) { return 512 * 2 + 128 * i; }

TEST(Damaged, EveryBrokenStructureIsRefusedAndTheFileLeftAlone) {
    const Base base = MakeBase();
    const std::vector<std::pair<const char*, std::function<void(std::vector<unsigned char>&)>>> cases = {
        {"shorter than a header", [](auto& b) { b.resize(300); }},
        {"wrong signature", [](auto& b) { b[7] = 0; }},
        {"4096-byte sectors", [](auto& b) { b[30] = 12; }},
        {"reserved bytes in the small-block shift", [](auto& b) { b[34] = 1; }},
        {"table count past the file", [](auto& b) { PutU32(b, 44, 0x7FFFFFFF); }},
        {"table slot past the file", [](auto& b) { PutU32(b, 76, 4000); }},
        {"no table sector", [](auto& b) { PutU32(b, 44, 0); }},
        {"directory chain loops", [](auto& b) { PutU32(b, BatAt(1), 1); }},
        {"directory start past the file", [](auto& b) { PutU32(b, 48, 90); }},
        {"chain leaves the table", [&](auto& b) { PutU32(b, BatAt(base.bigLast), 5000); }},
        {"chain runs past the file", [&](auto& b) { PutU32(b, BatAt(base.bigLast), 100); }},
        {"chain runs into a free sector", [&](auto& b) { PutU32(b, BatAt(base.bigStart), 0xFFFFFFFF); }},
        {"chain loops", [&](auto& b) { PutU32(b, BatAt(base.bigLast), base.bigStart); }},
        {"size past the end of the chain", [&](auto& b) { PutU32(b, EntryAt(base.bigEntry) + 120, 5000 + 1024); }},
        {"small size past its chain", [&](auto& b) { PutU32(b, EntryAt(base.smallEntry) + 120, 200); }},
        {"two streams share sectors", [&](auto& b) { PutU32(b, EntryAt(base.bigEntry) + 116, 1); }},
        {"small start past the store", [&](auto& b) { PutU32(b, EntryAt(base.smallEntry) + 116, 40); }},
        {"small-block table past the file", [](auto& b) { PutU32(b, 64, 500); }},
        {"link outside the entry list", [](auto& b) { PutU32(b, EntryAt(0) + 76, 50); }},
        {"entry reached twice", [&](auto& b) { PutU32(b, EntryAt(base.bigEntry) + 72, base.smallEntry); }},
        {"root linked as a member", [&](auto& b) { PutU32(b, EntryAt(base.smallEntry) + 72, 0); }},
        {"unknown entry type", [&](auto& b) { b[EntryAt(base.smallEntry) + 66] = 7; }},
        {"stream with members", [&](auto& b) { PutU32(b, EntryAt(base.smallEntry) + 76, base.bigEntry); }},
        {"name without terminator",
         [&](auto& b) {
             std::fill(b.begin() + EntryAt(base.smallEntry), b.begin() + EntryAt(base.smallEntry) + 64, 'x');
         }},
        {"root is no root", [](auto& b) { b[EntryAt(0) + 66] = 1; }},
        {"file cut inside a stream", [&](auto& b) { b.resize(512 * (base.bigStart + 4)); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        std::vector<unsigned char> bytes = base.bytes;
        c.second(bytes);
        ScratchFile path;
        path.SetBytes(bytes);
        CF::CompoundFile doc;
        EXPECT_FALSE(doc.Open(path.c_str(), std::ios::in | std::ios::out));
        EXPECT_FALSE(doc.IsOpen());
        EXPECT_EQ(doc.MakeFile("x"), CF::kFileError);
        EXPECT_EQ(path.Bytes(), bytes);
    }
    // The base itself opens, so each refusal above is due to its damage.
    ScratchFile path;
    path.SetBytes(base.bytes);
    CF::CompoundFile doc;
    EXPECT_TRUE(doc.Open(path.c_str()));
    EXPECT_FALSE(CF::CompoundFile().Open("/nonexistent-dir/none.xls"));
}

TEST(Damaged, AShortLastSectorReadsAsZeros) {
    ScratchFile path;
    const auto big = Pattern(5000, 3);
    {
        CF::CompoundFile doc;
        ASSERT_TRUE(doc.Create(path.c_str()));
        ASSERT_EQ(doc.MakeFile("big"), CF::kDone);
        ASSERT_EQ(doc.WriteFile("big", big, big.size()), CF::kDone);
    }
    auto bytes = path.Bytes();
    bytes.resize(bytes.size() - 100);  // only padding is lost
    path.SetBytes(bytes);
    CF::CompoundFile doc;
    ASSERT_TRUE(doc.Open(path.c_str()));
    std::vector<unsigned char> back;
    ASSERT_EQ(doc.ReadFile("big", back), CF::kDone);
    EXPECT_EQ(back, big);
}

TEST(Damaged, UnusedSlotsInTheMiddleOfTheDirectoryAreDropped) {
    const Base base = MakeBase();
    ASSERT_EQ(base.bigEntry, 2u);
    ASSERT_EQ(base.smallEntry, 3u);
    auto bytes = base.bytes;
    // As another writer leaves a deleted entry: type 0, no name, no links;
    // its storage no longer points at it.
    std::vector<unsigned char> unused(128, 0);
    for (int i = 68; i < 80; ++i) unused[i] = 0xFF;
    std::copy(unused.begin(), unused.end(), bytes.begin() + EntryAt(base.bigEntry));
    PutU32(bytes, EntryAt(base.storageEntry) + 76, 0xFFFFFFFF);
    ScratchFile path;
    path.SetBytes(bytes);
    {
        Probe doc;
        ASSERT_TRUE(doc.Open(path.c_str()));
        EXPECT_EQ(doc.EntryCount(), 3u);
        std::vector<unsigned char> back;
        EXPECT_EQ(doc.ReadFile("D\\big", back), CF::kStreamNotFound);
        ASSERT_EQ(doc.ReadFile("small", back), CF::kDone);
        EXPECT_EQ(back, Pattern(100, 2));
        ASSERT_EQ(doc.MakeFile("D\\new"), CF::kDone);
        const auto d = Pattern(6000, 4);
        ASSERT_EQ(doc.WriteFile("D\\new", d, d.size()), CF::kDone);
    }
    Probe doc;
    ASSERT_TRUE(doc.Open(path.c_str()));
    std::vector<unsigned char> back;
    ASSERT_EQ(doc.ReadFile("small", back), CF::kDone);
    EXPECT_EQ(back, Pattern(100, 2));
    ASSERT_EQ(doc.ReadFile("D\\new", back), CF::kDone);
    EXPECT_EQ(back, Pattern(6000, 4));
}

TEST(Damaged, TheOtherExtensionFormIsReadAndRewrittenInThePublishedForm) {
    const cftest::VariantDocument v = cftest::MakeVariantDocument(&Pattern);
    ScratchFile path;
    path.SetBytes(v.bytes);
    std::vector<unsigned char> back;
    {
        Probe doc;
        ASSERT_TRUE(doc.Open(path.c_str()));
        EXPECT_EQ(doc.BatSectors().size(), 110u);
        EXPECT_EQ(doc.SbatSectors(), (std::vector<std::uint64_t>{111, 112}));
        ASSERT_EQ(doc.ReadFile("Big", back), CF::kDone);
        EXPECT_EQ(back, v.big);
        ASSERT_EQ(doc.ReadFile("Tiny", back), CF::kDone);
        EXPECT_EQ(back, v.tiny);
        ASSERT_EQ(doc.MakeFile("Added"), CF::kDone);
        const auto added = Pattern(3000, 5);
        ASSERT_EQ(doc.WriteFile("Added", added, added.size()), CF::kDone);
        ASSERT_EQ(doc.DifatSectors().size(), 1u);
        EXPECT_EQ(doc.Bat()[doc.DifatSectors()[0]], CF::kDifatBlock);
        EXPECT_EQ(doc.Bat()[111], 112);  // the small-block table is now a chain
    }
    const auto bytes = path.Bytes();
    EXPECT_EQ(U32(bytes, 44), 110u);
    EXPECT_EQ(U32(bytes, 72), 1u);
    const std::uint32_t difat = U32(bytes, 68);
    EXPECT_EQ(U32(bytes, 512 * (difat + 1)), 109u);  // lists the former extension sector
    Probe doc;
    ASSERT_TRUE(doc.Open(path.c_str()));
    ASSERT_EQ(doc.ReadFile("Big", back), CF::kDone);
    EXPECT_EQ(back, v.big);
    ASSERT_EQ(doc.ReadFile("Tiny", back), CF::kDone);
    EXPECT_EQ(back, v.tiny);
    ASSERT_EQ(doc.ReadFile("Added", back), CF::kDone);
    EXPECT_EQ(back, Pattern(3000, 5));
}

// The fuzzer's input whose root entry names a left sibling at the largest
// int: the document opens with its one stream, and adding an entry in front
// (every index at or above it moves up) keeps that number as it was rather
// than wrapping it round to a negative one.
TEST(Damaged, ASiblingIndexAtTheLargestIntIsKeptWhenEntriesShift) {
    const char* source = std::getenv("ORVAN_SOURCE_DIR");
    ASSERT_NE(source, nullptr) << "run through ctest, which names the source folder";
    std::ifstream in(std::string(source) + "/fuzz/corpus/fuzz_compound_file/sibling_index_at_int32_max",
                     std::ios::binary);
    const std::vector<unsigned char> input((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(input.size(), 2797u);
    constexpr std::int32_t kLargest = std::numeric_limits<std::int32_t>::max();
    ScratchFile path;
    path.SetBytes(input);
    const std::u16string stream = u"\u4057orkbook";
    {
        Probe doc;
        ASSERT_TRUE(doc.Open(path.c_str()));
        ASSERT_EQ(doc.EntryCount(), 2u);
        EXPECT_EQ(doc.EntryName(1), stream);
        EXPECT_EQ(doc.Entry(0).leftSibling, kLargest);
        ASSERT_EQ(doc.MakeFile("x"), CF::kDone);
        ASSERT_EQ(doc.Find(u"x"), 1);
        EXPECT_EQ(doc.Entry(0).leftSibling, kLargest);
    }
    const auto bytes = path.Bytes();
    const std::size_t root = 512 * (U32(bytes, 48) + 1);
    EXPECT_EQ(U32(bytes, root + 68), static_cast<std::uint32_t>(kLargest));
    Probe doc;
    ASSERT_TRUE(doc.Open(path.c_str()));
    ASSERT_EQ(doc.EntryCount(), 3u);
    EXPECT_EQ(doc.EntryName(2), stream);
    std::uint64_t size = 1;
    EXPECT_EQ(doc.FileSize("x", size), CF::kDone);
    EXPECT_EQ(size, 0u);
}

}  // namespace
