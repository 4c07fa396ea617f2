#include <gtest/gtest.h>

#include "test_support.h"

using cftest::Pattern;
using cftest::Probe;
using cftest::ScratchFile;
namespace CF = CompoundFiles;

namespace {

std::wstring Pwd(CF::CompoundFile& doc) {
    std::vector<wchar_t> p;
    EXPECT_EQ(doc.PresentWorkingDirectory(p), CF::kDone);
    return std::wstring(p.begin(), p.end());
}

TEST(Operations, NewDocumentIsEmpty) {
    ScratchFile path;
    CF::CompoundFile doc;
    ASSERT_TRUE(doc.Create(path.wide().c_str()));
    EXPECT_TRUE(doc.IsOpen());
    std::uint64_t size = 99;
    EXPECT_EQ(doc.FileSize(L"\\", size), CF::kDone);
    EXPECT_EQ(size, 0u);
    std::vector<std::vector<wchar_t>> names{{L'x'}};
    EXPECT_EQ(doc.ListDirectory(names, L"\\"), CF::kDone);
    EXPECT_TRUE(names.empty());
    EXPECT_EQ(Pwd(doc), L"\\");
    wchar_t buffer[4];
    EXPECT_EQ(doc.PresentWorkingDirectory(buffer, 4), CF::kDone);
    EXPECT_EQ(std::wstring(buffer), L"\\");
    EXPECT_EQ(doc.PresentWorkingDirectory(buffer, 1), CF::kBufferTooSmall);
}

TEST(Operations, ListingHoldsZeroTerminatedNamesOf32Units) {
    ScratchFile path;
    CF::CompoundFile doc;
    ASSERT_TRUE(doc.Create(path.c_str()));
    ASSERT_EQ(doc.MakeFile("Workbook"), CF::kDone);
    std::vector<std::vector<wchar_t>> names;
    ASSERT_EQ(doc.ListDirectory(names), CF::kDone);
    ASSERT_EQ(names.size(), 1u);
    std::vector<wchar_t> want(32, 0);
    const std::wstring wb = L"Workbook";
    std::copy(wb.begin(), wb.end(), want.begin());
    EXPECT_EQ(names[0], want);
}

TEST(Operations, DirectoriesAndTheCurrentDirectory) {
    ScratchFile path;
    CF::CompoundFile doc;
    ASSERT_TRUE(doc.Create(path.c_str()));
    ASSERT_EQ(doc.MakeDirectory("Outer\\Inner"), CF::kDone);
    ASSERT_EQ(doc.ChangeDirectory("Outer\\Inner"), CF::kDone);
    EXPECT_EQ(Pwd(doc), L"\\Outer\\Inner");
    std::vector<char> narrow;
    ASSERT_EQ(doc.PresentWorkingDirectory(narrow), CF::kDone);
    EXPECT_EQ(std::string(narrow.data()), "\\Outer\\Inner");
    EXPECT_EQ(narrow.size(), 13u);

    // Relative paths start at the current directory.
    ASSERT_EQ(doc.MakeFile("here"), CF::kDone);
    std::uint64_t size = 1;
    EXPECT_EQ(doc.FileSize("\\Outer\\Inner\\here", size), CF::kDone);
    EXPECT_EQ(doc.ChangeDirectory(".."), CF::kDone);
    EXPECT_EQ(Pwd(doc), L"\\Outer");
    EXPECT_EQ(doc.ChangeDirectory("."), CF::kDone);
    EXPECT_EQ(Pwd(doc), L"\\Outer");
    EXPECT_EQ(doc.ChangeDirectory("Missing"), CF::kStorageNotFound);
    EXPECT_EQ(Pwd(doc), L"\\Outer");
    EXPECT_EQ(doc.ChangeDirectory("Inner\\here"), CF::kStorageNotFound);  // a stream is no directory
    EXPECT_EQ(doc.ChangeDirectory("Inner\\\\x"), CF::kStorageNotFound);
    EXPECT_EQ(Pwd(doc), L"\\Outer");
    EXPECT_EQ(doc.ChangeDirectory("\\"), CF::kDone);
    EXPECT_EQ(doc.ChangeDirectory(".."), CF::kDone);
    EXPECT_EQ(Pwd(doc), L"\\");
    // Making a path through a stream fails on the stream's name.
    EXPECT_EQ(doc.MakeFile("Outer\\Inner\\here\\deeper"), CF::kNameExists);
    EXPECT_EQ(doc.MakeFile("Outer\\"), CF::kNoName);
    EXPECT_EQ(doc.MakeFile("\\"), CF::kNoName);
    EXPECT_EQ(doc.MakeFile(""), CF::kNoName);
}

TEST(Operations, RemovingStoragesAndTrees) {
    ScratchFile path;
    Probe doc;
    ASSERT_TRUE(doc.Create(path.c_str()));
    ASSERT_EQ(doc.MakeDirectory("T"), CF::kDone);
    ASSERT_EQ(doc.MakeDirectory("T\\U"), CF::kDone);
    const auto big = Pattern(20000, 1), small = Pattern(300, 2);
    ASSERT_EQ(doc.MakeFile("T\\U\\big"), CF::kDone);
    ASSERT_EQ(doc.WriteFile("T\\U\\big", big, big.size()), CF::kDone);
    ASSERT_EQ(doc.MakeFile("T\\small"), CF::kDone);
    ASSERT_EQ(doc.WriteFile("T\\small", small, small.size()), CF::kDone);
    ASSERT_EQ(doc.MakeFile("keep"), CF::kDone);
    ASSERT_EQ(doc.WriteFile("keep", small, small.size()), CF::kDone);

    EXPECT_EQ(doc.RemoveDirectory("T"), CF::kStorageNotEmpty);
    EXPECT_EQ(doc.RemoveDirectory("keep"), CF::kStorageNotFound);  // a stream
    EXPECT_EQ(doc.RemoveDirectory("Nope"), CF::kStorageNotFound);
    ASSERT_EQ(doc.ChangeDirectory("T\\U"), CF::kDone);
    EXPECT_EQ(doc.DelTree("\\T"), CF::kDone);
    // The current directory was inside the removed tree: it moved out.
    EXPECT_EQ(Pwd(doc), L"\\");
    EXPECT_EQ(doc.EntryCount(), 2u);
    std::vector<unsigned char> back;
    ASSERT_EQ(doc.ReadFile("keep", back), CF::kDone);
    EXPECT_EQ(back, small);
    // Only the kept stream's store remains: header, table, directory, store, small table.
    EXPECT_EQ(path.Size(), 5u * 512);

    ASSERT_EQ(doc.MakeDirectory("E"), CF::kDone);
    ASSERT_EQ(doc.ChangeDirectory("E"), CF::kDone);
    EXPECT_EQ(doc.RemoveDirectory("\\E"), CF::kDone);
    EXPECT_EQ(Pwd(doc), L"\\");
    EXPECT_EQ(doc.DelTree("keep"), CF::kDone);
    EXPECT_EQ(doc.EntryCount(), 1u);
    EXPECT_EQ(path.Size(), 3u * 512);
}

TEST(Operations, StreamsCrossTheCutOffBothWays) {
    ScratchFile path;
    Probe doc;
    ASSERT_TRUE(doc.Create(path.c_str()));
    ASSERT_EQ(doc.MakeFile("s"), CF::kDone);
    const auto d100 = Pattern(100, 1), d5000 = Pattern(5000, 2), d100b = Pattern(100, 3);
    const auto d4096 = Pattern(4096, 4), d4095 = Pattern(4095, 5);
    std::vector<unsigned char> back;

    ASSERT_EQ(doc.WriteFile("s", d100, d100.size()), CF::kDone);
    EXPECT_EQ(doc.Entry(0).size, 128u);  // in small blocks
    ASSERT_EQ(doc.ReadFile("s", back), CF::kDone);
    EXPECT_EQ(back, d100);

    ASSERT_EQ(doc.WriteFile("s", d5000, d5000.size()), CF::kDone);
    EXPECT_EQ(doc.Entry(0).size, 0u);  // the store went with its last small stream
    EXPECT_EQ(doc.Entry(1).startBlock, 2);
    ASSERT_EQ(doc.ReadFile("s", back), CF::kDone);
    EXPECT_EQ(back, d5000);

    ASSERT_EQ(doc.WriteFile("s", d100b, d100b.size()), CF::kDone);
    EXPECT_EQ(doc.Entry(0).size, 128u);
    ASSERT_EQ(doc.ReadFile("s", back), CF::kDone);
    EXPECT_EQ(back, d100b);

    ASSERT_EQ(doc.WriteFile("s", d4096, d4096.size()), CF::kDone);
    ASSERT_EQ(doc.ReadFile("s", back), CF::kDone);
    EXPECT_EQ(back, d4096);
    ASSERT_EQ(doc.WriteFile("s", d4095, d4095.size()), CF::kDone);
    ASSERT_EQ(doc.ReadFile("s", back), CF::kDone);
    EXPECT_EQ(back, d4095);
    std::uint64_t size = 0;
    ASSERT_EQ(doc.FileSize("s", size), CF::kDone);
    EXPECT_EQ(size, 4095u);
    ASSERT_EQ(doc.FileSize("\\", size), CF::kDone);
    EXPECT_EQ(size, 64u * 64);
    ASSERT_EQ(doc.ReadFile("\\", back), CF::kDone);  // the store itself
    EXPECT_EQ(back.size(), 64u * 64);

    ASSERT_EQ(doc.WriteFile("s", d4095, 0), CF::kDone);
    ASSERT_EQ(doc.ReadFile("s", back), CF::kDone);
    EXPECT_TRUE(back.empty());
    EXPECT_EQ(path.Size(), 3u * 512);
}

TEST(Operations, MissingStreamsAndBadArguments) {
    ScratchFile path;
    CF::CompoundFile doc;
    ASSERT_TRUE(doc.Create(path.c_str()));
    ASSERT_EQ(doc.MakeDirectory("D"), CF::kDone);
    std::vector<unsigned char> data(10, 1);
    std::uint64_t size = 0;
    EXPECT_EQ(doc.ReadFile("none", data), CF::kStreamNotFound);
    EXPECT_EQ(doc.WriteFile("none", data, data.size()), CF::kStreamNotFound);
    EXPECT_EQ(doc.FileSize("none", size), CF::kStreamNotFound);
    EXPECT_EQ(doc.RemoveFile("none"), CF::kStreamNotFound);
    EXPECT_EQ(doc.ReadFile("X\\none", data), CF::kStreamNotFound);
    EXPECT_EQ(doc.ReadFile("D", data), CF::kStreamNotFound);  // a storage
    EXPECT_EQ(doc.RemoveFile("D"), CF::kStreamNotFound);

    EXPECT_TRUE(data.empty());  // a failed read leaves nothing behind
    data.assign(10, 1);
    ASSERT_EQ(doc.MakeFile("f"), CF::kDone);
    EXPECT_EQ(doc.WriteFile("f", data, data.size() + 1), CF::kBufferTooSmall);
    ASSERT_EQ(doc.WriteFile("f", data, data.size()), CF::kDone);
    unsigned char small[4];
    EXPECT_EQ(doc.ReadFile("f", small, sizeof small), CF::kBufferTooSmall);
    unsigned char enough[10];
    EXPECT_EQ(doc.ReadFile(L"f", enough, sizeof enough), CF::kDone);
    EXPECT_EQ(std::vector<unsigned char>(enough, enough + 10), data);
    std::vector<char> chars;
    EXPECT_EQ(doc.ReadFile("f", chars), CF::kDone);
    EXPECT_EQ(chars.size(), 10u);

    CF::CompoundFile closed;
    EXPECT_EQ(closed.MakeFile("x"), CF::kFileError);
    EXPECT_EQ(closed.ReadFile("x", data), CF::kFileError);
    EXPECT_EQ(closed.ChangeDirectory("x"), CF::kFileError);
}

TEST(Operations, AReadOnlyDocumentRefusesChanges) {
    ScratchFile path;
    const auto d = Pattern(777, 9);
    {
        CF::CompoundFile doc;
        ASSERT_TRUE(doc.Create(path.c_str()));
        ASSERT_EQ(doc.MakeFile("f"), CF::kDone);
        ASSERT_EQ(doc.WriteFile("f", d, d.size()), CF::kDone);
    }
    const auto before = path.Bytes();
    CF::CompoundFile doc;
    ASSERT_TRUE(doc.Open(path.c_str(), std::ios::in));
    std::vector<unsigned char> back;
    ASSERT_EQ(doc.ReadFile("f", back), CF::kDone);
    EXPECT_EQ(back, d);
    EXPECT_EQ(doc.WriteFile("f", d, 5), CF::kFileError);
    EXPECT_EQ(doc.MakeFile("g"), CF::kFileError);
    EXPECT_EQ(doc.RemoveFile("f"), CF::kFileError);
    EXPECT_EQ(doc.DelTree("f"), CF::kFileError);
    ASSERT_EQ(doc.ReadFile("f", back), CF::kDone);
    EXPECT_EQ(back, d);
    doc.Close();
    EXPECT_FALSE(doc.IsOpen());
    EXPECT_EQ(path.Bytes(), before);
}

TEST(Operations, WideAndNarrowNamesMeet) {
    ScratchFile path;
    CF::CompoundFile doc;
    ASSERT_TRUE(doc.Create(path.wide().c_str()));
    ASSERT_EQ(doc.MakeFile(L"\x00E9t\x00E9"), CF::kDone);
    ASSERT_EQ(doc.MakeFile("plain"), CF::kDone);
    doc.Close();
    ASSERT_TRUE(doc.Open(path.c_str(), std::ios::in | std::ios::out));
    std::uint64_t size = 1;
    EXPECT_EQ(doc.FileSize(L"plain", size), CF::kDone);
    EXPECT_EQ(doc.FileSize(L"\x00E9t\x00E9", size), CF::kDone);
    EXPECT_EQ(size, 0u);
    // A narrow name that the locale cannot convert still names one stream.
    ASSERT_EQ(doc.MakeFile("caf\xE9"), CF::kDone);
    std::vector<unsigned char> d(5, 7);
    EXPECT_EQ(doc.WriteFile("caf\xE9", d, d.size()), CF::kDone);
    EXPECT_EQ(doc.FileSize("caf\xE9", size), CF::kDone);
    EXPECT_EQ(size, 5u);
}

}  // namespace
