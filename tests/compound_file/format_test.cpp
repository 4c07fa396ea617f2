#include <gtest/gtest.h>

#include "compound_file/compound_file_header.h"
#include "compound_file/directory_entry.h"
#include "compound_file/little_endian.h"

namespace CF = CompoundFiles;

namespace {

std::vector<unsigned char> Hex(std::initializer_list<int> v) { return std::vector<unsigned char>(v.begin(), v.end()); }

std::vector<unsigned char> Slice(const std::vector<unsigned char>& b, std::size_t at, std::size_t n) {
    return std::vector<unsigned char>(b.begin() + at, b.begin() + at + n);
}

TEST(Format, NewHeaderBytes) {
    std::vector<unsigned char> b(512, 0);
    CF::CompoundFileHeader().Write(b.data());
    EXPECT_EQ(Slice(b, 0, 8), Hex({0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1}));
    EXPECT_EQ(Slice(b, 8, 16), std::vector<unsigned char>(16, 0));
    EXPECT_EQ(Slice(b, 24, 12), Hex({0x3B, 0, 3, 0, 0xFE, 0xFF, 9, 0, 6, 0, 0, 0}));
    EXPECT_EQ(Slice(b, 36, 8), std::vector<unsigned char>(8, 0));
    EXPECT_EQ(Slice(b, 44, 4), Hex({1, 0, 0, 0}));
    EXPECT_EQ(Slice(b, 48, 4), Hex({1, 0, 0, 0}));
    EXPECT_EQ(Slice(b, 52, 4), Hex({0, 0, 0, 0}));
    EXPECT_EQ(Slice(b, 56, 4), Hex({0, 0x10, 0, 0}));
    EXPECT_EQ(Slice(b, 60, 4), Hex({0xFE, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Slice(b, 64, 4), Hex({0, 0, 0, 0}));
    EXPECT_EQ(Slice(b, 68, 4), Hex({0xFE, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Slice(b, 72, 4), Hex({0, 0, 0, 0}));
    EXPECT_EQ(Slice(b, 76, 4), Hex({0, 0, 0, 0}));
    EXPECT_EQ(Slice(b, 80, 432), std::vector<unsigned char>(432, 0xFF));
}

TEST(Format, NewEntryBytes) {
    std::vector<unsigned char> b(128, 0);
    CF::DirectoryEntry().Write(b.data());
    std::vector<unsigned char> want(128, 0);
    want[66] = 1;
    want[67] = 1;
    for (int i = 68; i < 80; ++i) want[i] = 0xFF;
    want[116] = 0xFE;
    want[117] = want[118] = want[119] = 0xFF;
    EXPECT_EQ(b, want);
}

TEST(Format, HeaderAndEntryReadBackTheirFields) {
    CF::CompoundFileHeader h;
    h.batCount = 200;
    h.directoryStart = 77;
    h.sbatStart = 1234;
    h.sbatCount = 3;
    h.xbatStart = 13953;
    h.xbatCount = 1;
    h.batSlots[108] = 5555;
    h.classId[2] = 0xDEADBEEF;
    std::vector<unsigned char> b(512, 0);
    h.Write(b.data());
    CF::CompoundFileHeader r;
    r.Read(b.data());
    EXPECT_EQ(r.batCount, 200u);
    EXPECT_EQ(r.directoryStart, 77);
    EXPECT_EQ(r.sbatStart, 1234);
    EXPECT_EQ(r.sbatCount, 3u);
    EXPECT_EQ(r.xbatStart, 13953);
    EXPECT_EQ(r.xbatCount, 1u);
    EXPECT_EQ(r.batSlots[108], 5555);
    EXPECT_EQ(r.batSlots[1], -1);
    EXPECT_EQ(r.classId[2], 0xDEADBEEFu);
    EXPECT_EQ(r.blockSize, 512u);
    EXPECT_EQ(r.smallBlockSize, 64u);

    CF::DirectoryEntry e;
    e.name[0] = u'W';
    e.name[1] = 0x263A;
    e.nameSize = 6;
    e.type = 2;
    e.colour = 0;
    e.leftSibling = 3;
    e.rightSibling = 9;
    e.child = -1;
    e.stateBits = 0x01020304;
    e.modificationTime[1] = 42;
    e.startBlock = 17;
    e.size = 5000;
    std::vector<unsigned char> eb(128, 0);
    e.Write(eb.data());
    CF::DirectoryEntry f;
    f.Read(eb.data());
    EXPECT_EQ(f.name[1], 0x263A);
    EXPECT_EQ(f.NameLength(), 2u);
    EXPECT_EQ(f.nameSize, 6);
    EXPECT_EQ(f.type, 2);
    EXPECT_EQ(f.colour, 0);
    EXPECT_EQ(f.leftSibling, 3);
    EXPECT_EQ(f.rightSibling, 9);
    EXPECT_EQ(f.child, -1);
    EXPECT_EQ(f.stateBits, 0x01020304u);
    EXPECT_EQ(f.modificationTime[1], 42u);
    EXPECT_EQ(f.startBlock, 17);
    EXPECT_EQ(f.size, 5000u);
}

TEST(Format, LittleEndianRoutines) {
    const unsigned char b[] = {0x34, 0x12, 0x78, 0x56};
    unsigned short s = 0xFFFF;
    CF::LittleEndian::Read<unsigned short>(b, s, 0, 0);
    EXPECT_EQ(s, 0x1234);
    CF::LittleEndian::Read<unsigned short>(b, s, 0, 1);
    EXPECT_EQ(s, 0x34);
    unsigned int u = 0;
    CF::LittleEndian::Read<unsigned int>(b, u, 0);
    EXPECT_EQ(u, 0x56781234u);
    CF::LittleEndian::Read<unsigned int>(reinterpret_cast<const char*>(b), u, 1, 2);
    EXPECT_EQ(u, 0x7812u);

    unsigned char w[6] = {9, 9, 9, 9, 9, 9};
    CF::LittleEndian::Write<unsigned int>(w, 0xA1B2C3D4u, 1, 3);
    EXPECT_EQ(w[0], 9);
    EXPECT_EQ(w[1], 0xD4);
    EXPECT_EQ(w[2], 0xC3);
    EXPECT_EQ(w[3], 0xB2);
    EXPECT_EQ(w[4], 9);
    CF::LittleEndian::Write<unsigned short>(w, 0xBEEF, 4);
    EXPECT_EQ(w[4], 0xEF);
    EXPECT_EQ(w[5], 0xBE);
    // A count wider than the type is clamped to it.
    CF::LittleEndian::Read<unsigned short>(b, s, 0, 4);
    EXPECT_EQ(s, 0x1234);
}

}  // namespace
