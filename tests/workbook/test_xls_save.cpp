// Workbooks written to and read from files: round trips, which files are
// accepted, and saves that fail without touching the file they replace.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "compound_file/compound_file.h"
#include "tests/workbook/fifo_watch.h"
#include "tests/workbook/xls_stream_bytes.h"
#include "workbook/xls_document.h"
#include "tests/file_size_limit.h"

using CompoundFiles::CompoundFile;
using CompoundFiles::SheetCell;
using CompoundFiles::XlsDocument;
using CompoundFiles::XlsSheet;
namespace fs = std::filesystem;

namespace {

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

class XlsFiles : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/xls_save_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string Path(const std::string& name) const { return dir + "/" + name; }
    std::vector<std::string> Listing() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    // A workbook of a few kinds of cells on two sheets, one wide-named.
    static void Fill(XlsDocument& doc) {
        doc.New(1);
        XlsSheet& a = *doc.GetSheet(size_t{0});
        a.Cell(0, 0)->SetText("title");
        a.Cell(1, 1)->SetInt(-12);
        a.Cell(1, 2)->SetInt(13);
        a.Cell(2, 0)->SetReal(0.1);
        a.Cell(2, 1)->SetReal(static_cast<double>(0.1f));
        a.Cell(3, 5)->SetWideText(L"\u03a9 \U0001F600");
        a.Cell(300, 200)->SetReal(-1e-10);
        // Adjacent RK numbers (a MULRK of doubles, one of integers), each
        // with a format of its own, then a Boolean and an error value.
        for (int k = 0; k < 6; ++k) {
            SheetCell& number = *a.Cell(4, k);
            if (k < 3)
                number.SetReal(k + 0.5);
            else
                number.SetInt(k);
            number.SetXfIndex(static_cast<std::uint16_t>(14 + k));
        }
        a.Cell(4, 6)->SetBoolean(true);
        a.Cell(4, 6)->SetXfIndex(20);
        a.Cell(4, 7)->SetError(SheetCell::ErrorNA);
        XlsSheet& b = *doc.AddSheet(L"\u6570\u636e", -1);
        b.Cell(0, 0)->SetText("title");
    }
    std::string dir;
};

}  // namespace

TEST_F(XlsFiles, RoundTrip) {
    XlsDocument doc;
    Fill(doc);
    ASSERT_TRUE(doc.SaveAs(Path("a.xls").c_str()));
    XlsDocument back;
    ASSERT_TRUE(back.Load(Path("a.xls").c_str()));
    ASSERT_EQ(back.SheetCount(), 2u);
    EXPECT_STREQ(back.GetSheetName(0), "Sheet1");
    EXPECT_STREQ(back.GetWideSheetName(1), L"\u6570\u636e");
    XlsSheet& a = *back.GetSheet(size_t{0});
    EXPECT_EQ(a.RowCount(), 301u);
    EXPECT_EQ(a.ColumnCount(), 201u);
    EXPECT_STREQ(a.CellAt(0, 0)->GetText(), "title");
    EXPECT_EQ(a.CellAt(1, 1)->Type(), SheetCell::Integer);
    EXPECT_EQ(a.CellAt(1, 1)->GetInt(), -12);
    EXPECT_EQ(a.CellAt(1, 2)->GetInt(), 13);
    EXPECT_EQ(a.CellAt(2, 0)->GetDouble(), 0.1);
    EXPECT_EQ(a.CellAt(2, 1)->GetDouble(), static_cast<double>(0.1f));
    // The supplementary character comes back as its UTF-16 pair.
    EXPECT_STREQ(a.CellAt(3, 5)->GetWideText(), L"\u03a9 \xD83D\xDE00");
    EXPECT_EQ(a.CellAt(300, 200)->GetDouble(), -1e-10);
    for (int k = 0; k < 6; ++k) {
        EXPECT_EQ(a.CellAt(4, k)->GetDouble(), k < 3 ? k + 0.5 : k);
        EXPECT_EQ(a.CellAt(4, k)->XfIndex(), 14 + k);
    }
    EXPECT_EQ(a.CellAt(4, 6)->Type(), SheetCell::Boolean);
    EXPECT_EQ(a.CellAt(4, 6)->GetInt(), 1);
    EXPECT_EQ(a.CellAt(4, 6)->XfIndex(), 20);
    EXPECT_EQ(a.CellAt(4, 7)->ErrorCode(), SheetCell::ErrorNA);
    EXPECT_STREQ(back.GetSheet(size_t{1})->CellAt(0, 0)->GetText(), "title");
    EXPECT_EQ(back.Globals().sharedStrings.unique, 2u);
    EXPECT_EQ(back.Globals().sharedStrings.total, 3u);
    // Written again, the same bytes.
    ASSERT_TRUE(back.SaveAs(Path("b.xls").c_str()));
    EXPECT_EQ(Contents(Path("a.xls")), Contents(Path("b.xls")));
}

TEST_F(XlsFiles, SaveNeedsAFile) {
    XlsDocument doc;
    doc.New(1);
    EXPECT_FALSE(doc.Save());
    ASSERT_TRUE(doc.SaveAs(Path("a.xls").c_str()));
    const std::string first = Contents(Path("a.xls"));
    doc.GetSheet(size_t{0})->Cell(0, 0)->SetInt(5);
    ASSERT_TRUE(doc.Save());
    EXPECT_NE(Contents(Path("a.xls")), first);
    XlsDocument back(Path("a.xls").c_str());
    EXPECT_EQ(back.GetSheet(size_t{0})->CellAt(0, 0)->GetInt(), 5);
    // A failed SaveAs leaves the document without a file.
    EXPECT_FALSE(doc.SaveAs(Path("missing/dir.xls").c_str()));
    EXPECT_FALSE(doc.Save());
    EXPECT_FALSE(doc.SaveAs(""));
    EXPECT_EQ(Listing(), std::vector<std::string>({"a.xls"}));
}

TEST_F(XlsFiles, OnlyTheWorkbookStreamIsWritten) {
    {
        CompoundFile cf;
        ASSERT_TRUE(cf.Create(Path("a.xls").c_str()));
        ASSERT_EQ(cf.MakeFile("Other"), CompoundFiles::kDone);
        const sheet_bytes::Bytes stream = xls_bytes::Stream(
            {{"A", 0, 0}},
            {xls_bytes::Worksheet(1, 1,
                                  sheet_bytes::Join({xls_bytes::RowRecord(0), xls_bytes::NumberRecord(0, 0, 4.5)}))},
            xls_bytes::Sst({}));
        ASSERT_EQ(cf.MakeFile("Workbook"), CompoundFiles::kDone);
        ASSERT_EQ(cf.WriteFile("Workbook", stream, stream.size()), CompoundFiles::kDone);
    }
    XlsDocument doc;
    ASSERT_TRUE(doc.Load(Path("a.xls").c_str()));
    EXPECT_EQ(doc.GetSheet("A")->CellAt(0, 0)->GetDouble(), 4.5);
    ASSERT_TRUE(doc.Save());
    CompoundFile cf;
    ASSERT_TRUE(cf.Open(Path("a.xls").c_str(), std::ios_base::in));
    std::vector<std::vector<wchar_t>> names;
    ASSERT_EQ(cf.ListDirectory(names), CompoundFiles::kDone);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_STREQ(names[0].data(), L"Workbook");
}

TEST_F(XlsFiles, UnusableFilesAreNotLoaded) {
    XlsDocument doc;
    doc.New(2);
    EXPECT_FALSE(doc.Load(Path("none.xls").c_str()));
    WriteText(Path("text.xls"), std::string(2000, 't'));
    EXPECT_FALSE(doc.Load(Path("text.xls").c_str()));
    {
        CompoundFile cf;
        ASSERT_TRUE(cf.Create(Path("book.xls").c_str()));
        ASSERT_EQ(cf.MakeFile("Book"), CompoundFiles::kDone);  // an older workbook's stream name
        ASSERT_TRUE(cf.Create(Path("empty.xls").c_str()));
        ASSERT_EQ(cf.MakeFile("Workbook"), CompoundFiles::kDone);
    }
    EXPECT_FALSE(doc.Load(Path("book.xls").c_str()));
    EXPECT_FALSE(doc.Load(Path("empty.xls").c_str()));
    EXPECT_FALSE(doc.Load(dir.c_str()));
    EXPECT_EQ(doc.SheetCount(), 2u);
    // Nothing loaded, so there is no file to save to.
    EXPECT_FALSE(doc.Save());
}

TEST_F(XlsFiles, TargetsThatAreNotPlainFiles) {
    XlsDocument doc;
    Fill(doc);
    fs::create_directory(Path("sub"));
    EXPECT_FALSE(doc.SaveAs(Path("sub").c_str()));
    EXPECT_TRUE(fs::is_directory(Path("sub")));

    // A FIFO is neither read (which would wait for a writer) nor replaced.
    ASSERT_EQ(mkfifo(Path("pipe").c_str(), 0644), 0);
    FifoWatch watch(Path("pipe"));
    EXPECT_FALSE(doc.Load(Path("pipe").c_str()));
    EXPECT_FALSE(doc.SaveAs(Path("pipe").c_str()));
    EXPECT_FALSE(watch.Stop()) << "the FIFO was opened";
    EXPECT_TRUE(fs::is_fifo(Path("pipe")));
    EXPECT_EQ(doc.SheetCount(), 2u);
    EXPECT_EQ(doc.LastSaveOutcome().failure, FileReplace::Outcome::Failure::NotRegular);
    EXPECT_EQ(Listing(), std::vector<std::string>({"pipe", "sub"}));
}

// The file-size limit makes the block file's writes fail part of the way
// through the new document, as a full disk would.
TEST_F(XlsFiles, SaveFailingHalfWayLeavesTheOldFile) {
    XlsDocument small;
    small.New(1);
    small.GetSheet(size_t{0})->Cell(0, 0)->SetText("old contents");
    ASSERT_TRUE(small.SaveAs(Path("a.xls").c_str()));
    const std::string before = Contents(Path("a.xls"));

    XlsDocument big;
    big.New(1);
    for (size_t r = 0; r < 4000; ++r)
        for (size_t c = 0; c < 4; ++c) big.GetSheet(size_t{0})->Cell(r, c)->SetReal(r + c / 7.0);

    FileSizeLimit full(64 * 1024);
    ASSERT_TRUE(full.Active());
    const bool saved = big.SaveAs(Path("a.xls").c_str());
    full.Lift();

    EXPECT_FALSE(saved);
    // The cause is the one the block file's write met.
    EXPECT_EQ(big.LastSaveOutcome().error, EFBIG);
    EXPECT_EQ(Contents(Path("a.xls")), before);
    EXPECT_EQ(Listing(), std::vector<std::string>({"a.xls"}));
    XlsDocument back;
    ASSERT_TRUE(back.Load(Path("a.xls").c_str()));
    EXPECT_STREQ(back.GetSheet(size_t{0})->CellAt(0, 0)->GetText(), "old contents");
    // Without the limit the same save goes through.
    EXPECT_TRUE(big.SaveAs(Path("a.xls").c_str()));
    EXPECT_GT(Contents(Path("a.xls")).size(), 64u * 1024);
}

// A file with a second link is written in place, so both names see the new
// workbook, and keeps its mode.
TEST_F(XlsFiles, AFileWithTwoLinksIsWrittenInPlace) {
    XlsDocument small;
    small.New(1);
    small.GetSheet(size_t{0})->Cell(0, 0)->SetText("old contents");
    ASSERT_TRUE(small.SaveAs(Path("a.xls").c_str()));
    ASSERT_EQ(chmod(Path("a.xls").c_str(), 0640), 0);
    ASSERT_EQ(link(Path("a.xls").c_str(), Path("b.xls").c_str()), 0);
    XlsDocument doc;
    Fill(doc);
    ASSERT_TRUE(doc.SaveAs(Path("a.xls").c_str()));
    EXPECT_EQ(doc.LastSaveOutcome().failure, FileReplace::Outcome::Failure::None);
    struct stat a, b;
    ASSERT_EQ(stat(Path("a.xls").c_str(), &a), 0);
    ASSERT_EQ(stat(Path("b.xls").c_str(), &b), 0);
    EXPECT_EQ(a.st_ino, b.st_ino);
    EXPECT_EQ(a.st_mode & 07777, 0640u);
    XlsDocument back;
    ASSERT_TRUE(back.Load(Path("b.xls").c_str()));
    EXPECT_EQ(back.SheetCount(), 2u);
    EXPECT_EQ(Listing(), std::vector<std::string>({"a.xls", "b.xls"}));

    // A smaller workbook leaves nothing of the larger one behind it.
    ASSERT_TRUE(small.SaveAs(Path("a.xls").c_str()));
    ASSERT_TRUE(small.SaveAs(Path("fresh.xls").c_str()));
    EXPECT_EQ(fs::file_size(Path("b.xls")), fs::file_size(Path("fresh.xls")));
}
