#include <gtest/gtest.h>

#include "test_support.h"

using cftest::Probe;
using cftest::ScratchFile;
namespace CF = CompoundFiles;

namespace {

// A storage node with members at the given indices, for Relink.
struct Storage {
    CF::DirectoryEntry parentEntry;
    std::vector<CF::DirectoryEntry> memberEntries;
    CF::DirectoryTreeNode node;
    explicit Storage(const std::vector<std::uint64_t>& indices) : memberEntries(indices.size()) {
        node.entry = &parentEntry;
        for (std::size_t i = 0; i < indices.size(); ++i) {
            memberEntries[i].leftSibling = memberEntries[i].rightSibling = 99;
            node.children.push_back(std::make_unique<CF::DirectoryTreeNode>(&node, &memberEntries[i], indices[i]));
        }
    }
};

TEST(Directory, RelinkBuildsATreeInIndexOrder) {
    Probe doc;
    Storage s({3, 5, 7, 9});
    doc.Relink(&s.node);
    EXPECT_EQ(s.parentEntry.child, 7);
    const auto& m = s.memberEntries;  // 3, 5, 7, 9
    EXPECT_EQ(m[2].leftSibling, 5);
    EXPECT_EQ(m[2].rightSibling, 9);
    EXPECT_EQ(m[1].leftSibling, 3);
    EXPECT_EQ(m[1].rightSibling, -1);
    EXPECT_EQ(m[0].leftSibling, -1);
    EXPECT_EQ(m[0].rightSibling, -1);
    EXPECT_EQ(m[3].leftSibling, -1);
    EXPECT_EQ(m[3].rightSibling, -1);

    Storage one({4});
    doc.Relink(&one.node);
    EXPECT_EQ(one.parentEntry.child, 4);
    EXPECT_EQ(one.memberEntries[0].leftSibling, -1);
    EXPECT_EQ(one.memberEntries[0].rightSibling, -1);

    Storage none({});
    none.parentEntry.child = 12;
    doc.Relink(&none.node);
    EXPECT_EQ(none.parentEntry.child, -1);
}

TEST(Directory, WorkbookInANewDocument) {
    ScratchFile path;
    Probe doc;
    ASSERT_TRUE(doc.Create(path.c_str()));
    ASSERT_EQ(doc.MakeFile("Workbook"), CF::kDone);
    ASSERT_EQ(doc.EntryCount(), 2u);
    EXPECT_EQ(doc.EntryName(0), u"Root Entry");
    EXPECT_EQ(doc.Entry(0).nameSize, 22);
    EXPECT_EQ(doc.Entry(0).type, CF::kTypeRoot);
    EXPECT_EQ(doc.EntryName(1), u"Workbook");
    EXPECT_EQ(doc.Entry(0).child, 1);
    EXPECT_EQ(doc.Entry(1).nameSize, 18);
    EXPECT_EQ(doc.Entry(1).type, CF::kTypeStream);
    // Removing the last member leaves the storage without a child.
    ASSERT_EQ(doc.RemoveFile("Workbook"), CF::kDone);
    EXPECT_EQ(doc.EntryCount(), 1u);
    EXPECT_EQ(doc.Entry(0).child, -1);
}

TEST(Directory, EntriesAreKeptInNameOrder) {
    ScratchFile path;
    Probe doc;
    ASSERT_TRUE(doc.Create(path.c_str()));
    ASSERT_EQ(doc.MakeFile("B"), CF::kDone);
    ASSERT_EQ(doc.MakeFile("AA"), CF::kDone);
    EXPECT_EQ(doc.EntryName(1), u"B");
    EXPECT_EQ(doc.EntryName(2), u"AA");
    ASSERT_EQ(doc.MakeFile("A"), CF::kDone);
    ASSERT_EQ(doc.MakeDirectory("AB"), CF::kDone);
    ASSERT_EQ(doc.MakeFile("AB\\x"), CF::kDone);
    std::vector<std::u16string> names;
    for (std::size_t i = 0; i < doc.EntryCount(); ++i) names.push_back(doc.EntryName(i));
    EXPECT_EQ(names, (std::vector<std::u16string>{u"Root Entry", u"A", u"B", u"x", u"AA", u"AB"}));
    // The links follow the renumbering: AB's child is x at index 3.
    EXPECT_EQ(doc.Entry(5).child, 3);
    std::vector<std::vector<wchar_t>> listed;
    ASSERT_EQ(doc.ListDirectory(listed), CF::kDone);
    ASSERT_EQ(listed.size(), 4u);
    EXPECT_EQ(std::wstring(listed[0].data()), L"A");
    EXPECT_EQ(std::wstring(listed[3].data()), L"AB");
}

TEST(Directory, NameLengthLimitAndDuplicates) {
    ScratchFile path;
    Probe doc;
    ASSERT_TRUE(doc.Create(path.c_str()));
    const std::string n31(31, 'n'), n32(32, 'n');
    EXPECT_EQ(doc.MakeFile(n31.c_str()), CF::kDone);
    EXPECT_EQ(doc.MakeFile(n32.c_str()), CF::kNameTooLong);
    EXPECT_EQ(doc.MakeDirectory(n32.c_str()), CF::kNameTooLong);
    EXPECT_EQ(doc.Entry(1).nameSize, 64);
    EXPECT_EQ(doc.MakeFile(n31.c_str()), CF::kNameExists);
    // Other readers match names regardless of letter case.
    EXPECT_EQ(doc.MakeFile("Workbook"), CF::kDone);
    EXPECT_EQ(doc.MakeFile("WORKBOOK"), CF::kNameExists);
    EXPECT_EQ(doc.EntryCount(), 3u);
    // A name beyond the basic plane counts two code units.
    std::wstring astral(29, L'a');
    astral += L'\U0001F600';  // 31 units in 30 characters
    EXPECT_EQ(doc.MakeFile(astral.c_str()), CF::kDone);
    astral = L'b' + astral;
    EXPECT_EQ(doc.MakeFile(astral.c_str()), CF::kNameTooLong);
}

TEST(Directory, SplitPath) {
    std::u16string parent, name;
    bool hasParent = false;
    Probe::SplitPath(u"\\A\\B", &parent, name, hasParent);
    EXPECT_TRUE(hasParent);
    EXPECT_EQ(parent, u"\\A");
    EXPECT_EQ(name, u"B");
    Probe::SplitPath(u"\\A", &parent, name, hasParent);
    EXPECT_FALSE(hasParent);
    EXPECT_EQ(name, u"A");
    Probe::SplitPath(u"A", &parent, name, hasParent);
    EXPECT_FALSE(hasParent);
    EXPECT_EQ(name, u"A");
    Probe::SplitPath(u"\\", &parent, name, hasParent);
    EXPECT_FALSE(hasParent);
    EXPECT_EQ(name, u"");
}

TEST(Directory, ATreeReadBackFromDiskKeepsEveryMember) {
    ScratchFile path;
    {
        Probe doc;
        ASSERT_TRUE(doc.Create(path.c_str()));
        for (int i = 0; i < 20; ++i) {
            const std::string dir = "d" + std::to_string(i % 4);
            ASSERT_EQ(doc.MakeFile((dir + "\\f" + std::to_string(i)).c_str()), CF::kDone);
        }
        ASSERT_EQ(doc.MakeDirectory("d1\\e\\g"), CF::kDone);
    }
    Probe doc;
    ASSERT_TRUE(doc.Open(path.c_str()));
    EXPECT_EQ(doc.EntryCount(), 1u + 4 + 20 + 2);
    std::vector<std::vector<wchar_t>> names;
    ASSERT_EQ(doc.ListDirectory(names, L"\\d1"), CF::kDone);
    std::vector<std::wstring> got;
    for (auto& n : names) got.push_back(n.data());
    EXPECT_EQ(got, (std::vector<std::wstring>{L"e", L"f1", L"f5", L"f9", L"f13", L"f17"}));
    ASSERT_EQ(doc.ChangeDirectory("d1\\e\\g"), CF::kDone);
    std::vector<wchar_t> pwd;
    ASSERT_EQ(doc.PresentWorkingDirectory(pwd), CF::kDone);
    EXPECT_EQ(std::wstring(pwd.begin(), pwd.end()), L"\\d1\\e\\g");
}

}  // namespace
