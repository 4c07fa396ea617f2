// saveprofileasxls, saveprofileasxlslong and saveimageasxls called as a
// script calls them: what they refuse, and how a failed save ends. The cell
// layouts are read back by independent readers in tests/interop.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "host_fixture.h"
#include "tests/workbook/fifo_watch.h"
#include "file_replace/seams.h"
#include "workbook/xls_document.h"
#include "tests/file_size_limit.h"

using CompoundFiles::SheetCell;
using CompoundFiles::XlsDocument;
using CompoundFiles::XlsSheet;
using orvanhost::Arg;
namespace fs = std::filesystem;

namespace {

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class ExportHandlers : public orvan_test::HostFixture {
protected:
    void SetUp() override {
        HostFixture::SetUp();
        char pattern[] = "/tmp/xls_export_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        fs::remove_all(dir);
        HostFixture::TearDown();
    }
    std::string Path(const std::string& name) const { return dir + "/" + name; }

    void Profile(const orvanhost::ImagePtr& image, const std::string& file, const std::string& labels, double step) {
        Call("saveprofileasxls", {Arg::Image(image), Arg::Text(file), Arg::Text(labels), Arg::Number(step)});
    }
    void ProfileLong(const orvanhost::ImagePtr& image, const std::string& file, const std::string& labels, double step,
                     const std::string& title, const std::string& sheet) {
        Call("saveprofileasxlslong", {Arg::Image(image), Arg::Text(file), Arg::Text(labels), Arg::Number(step),
                                      Arg::Text(title), Arg::Text(sheet)});
    }
    void ImageExport(const orvanhost::ImagePtr& image, const std::string& file, const std::string& labels,
                     const std::string& title, const std::string& sheet) {
        Call("saveimageasxls",
             {Arg::Image(image), Arg::Text(file), Arg::Text(labels), Arg::Text(title), Arg::Text(sheet)});
    }

    // The workbook as the document object reads it.
    struct Book {
        XlsDocument doc;
        std::vector<std::string> names;
        const SheetCell& At(const std::string& sheet, size_t r, size_t c) {
            static const SheetCell none;
            const SheetCell* cell = doc.GetSheet(sheet.c_str())->CellAt(r, c);
            return cell ? *cell : none;
        }
    };
    std::unique_ptr<Book> Read(const std::string& file) {
        auto book = std::make_unique<Book>();
        EXPECT_TRUE(book->doc.Load(file.c_str())) << file;
        for (size_t k = 0; k < book->doc.SheetCount(); ++k) book->names.push_back(book->doc.GetSheetName(k));
        return book;
    }

    std::string dir;
};

using Names = std::vector<std::string>;

}  // namespace

TEST_F(ExportHandlers, LabelWordsAnyWhiteSpace) {
    ProfileLong(Image(1, 1), Path("a.xls"), "\t one  two\nthree ", 1, "", "S");
    ProfileLong(Image(1, 1), Path("b.xls"), "one two three", 1, "", "S");
    EXPECT_EQ(Contents(Path("a.xls")), Contents(Path("b.xls")));
    auto book = Read(Path("a.xls"));
    EXPECT_STREQ(book->At("S", 1, 2).GetText(), "three");
    EXPECT_EQ(book->At("S", 0, 0).Type(), SheetCell::Empty);  // an empty title clears A1
}

TEST_F(ExportHandlers, IntegerImagesAreConverted) {
    orvanhost::ImagePtr image = orvanhost::MakeImage("i", orvanhost::DataType::UInt16, {3, 1});
    image->SetPixels({1, 2, 65535});
    Profile(image, Path("a.xls"), "", 1);
    EXPECT_EQ(TakeResults(), "");
    auto book = Read(Path("a.xls"));
    EXPECT_EQ(book->At("Profile", 4, 1).GetDouble(), 65535.0);
}

TEST_F(ExportHandlers, SizeLimitsAreCheckedBeforeAnyFileIsTouched) {
    const std::string file = Path("a.xls");
    Profile(Image(65535, 1), file, "", 1);
    ProfileLong(Image(2, 256), file, "", 1, "t", "S");
    ImageExport(Image(257, 1), file, "", "t", "S");
    ImageExport(Image(1, 65535), file, "", "t", "S");
    std::string words;
    for (int k = 0; k < 256; ++k) words += "w ";
    Profile(Image(1, 1), file, words, 1);
    EXPECT_EQ(TakeResults(),
              "exception caught: saveprofileasxls: a profile 65535 points long does not fit a sheet (at most "
              "65534 rows of data)\n"
              "exception caught: saveprofileasxlslong: a profile image 256 lines high does not fit a sheet (at "
              "most 255 data columns beside the axis)\n"
              "exception caught: saveimageasxls: an image 257 pixels wide does not fit a sheet (at most 256 "
              "columns)\n"
              "exception caught: saveimageasxls: an image 65535 pixels high does not fit a sheet (at most 65534 "
              "rows of data)\n"
              "exception caught: saveprofileasxls: 256 label words do not fit a sheet row (at most 255)\n");
    EXPECT_FALSE(fs::exists(file));

    // At the limits every cell is written.
    words.resize(words.size() - 2);
    ProfileLong(Image(3, 255), file, words, 1, "t", "S");
    ImageExport(Image(256, 2), file, "", "t", "I");
    EXPECT_EQ(TakeResults(), "");
    auto book = Read(file);
    EXPECT_EQ(book->doc.GetSheet("S")->ColumnCount(), 256u);
    EXPECT_STREQ(book->At("S", 1, 254).GetText(), "w");
    EXPECT_EQ(book->At("S", 4, 255).GetDouble(), 0.0);
    EXPECT_EQ(book->At("I", 3, 255).Type(), SheetCell::Real);
}

TEST_F(ExportHandlers, AFileThatIsNoWorkbookIsLeftAlone) {
    const std::string file = Path("notes.xls");
    { std::ofstream(file, std::ios::binary) << "my notes, not a workbook\n"; }
    const std::string before = Contents(file);
    Profile(Image(2, 1), file, "", 1);
    ImageExport(Image(2, 1), dir, "", "t", "S");  // a directory
    // A link that names no file stays such a link, as SaveImage leaves it.
    fs::create_symlink("none.xls", Path("link.xls"));
    Profile(Image(2, 1), Path("link.xls"), "", 1);
    // A loop of links is no workbook that failed to load: its cause is named.
    fs::create_symlink("loop.xls", Path("loop.xls"));
    Profile(Image(2, 1), Path("loop.xls"), "", 1);
    EXPECT_EQ(TakeResults(), "exception caught: saveprofileasxls: \"" + file +
                                 "\" exists but is not a readable workbook; it was left unchanged\n"
                                 "exception caught: saveimageasxls: \"" +
                                 dir + "\" is a folder, not a regular file; it was left unchanged\n" +
                                 "exception caught: saveprofileasxls: \"" + Path("link.xls") +
                                 "\" is a symbolic link that names no file; it was left unchanged\n" +
                                 "exception caught: saveprofileasxls: could not write \"" + Path("loop.xls") +
                                 "\": too many levels of symbolic links; the file was left as it was\n");
    EXPECT_EQ(Contents(file), before);
    EXPECT_TRUE(fs::is_symlink(Path("link.xls")));
    EXPECT_FALSE(fs::exists(Path("none.xls")));
}

// Opening a FIFO for reading would wait for a writer for ever: it is
// refused, through a link too, without being opened.
TEST_F(ExportHandlers, AFifoIsRefusedWithoutBeingOpened) {
    const std::string fifo = Path("pipe.xls");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    fs::create_symlink("pipe.xls", Path("link.xls"));
    FifoWatch watch(fifo);
    Profile(Image(2, 1), fifo, "", 1);
    ImageExport(Image(2, 1), Path("link.xls"), "", "t", "S");
    EXPECT_FALSE(watch.Stop()) << "the export opened the FIFO";
    EXPECT_EQ(TakeResults(), "exception caught: saveprofileasxls: \"" + fifo +
                                 "\" is a FIFO, not a regular file; it was left unchanged\n"
                                 "exception caught: saveimageasxls: \"" +
                                 Path("link.xls") + "\" is a FIFO, not a regular file; it was left unchanged\n");
    EXPECT_TRUE(fs::is_fifo(fifo));
}

TEST_F(ExportHandlers, RefusedArguments) {
    ProfileLong(Image(2, 1), Path("a.xls"), "", 1, "t", "");
    Profile(Image(2, 1), "", "", 1);
    Call("saveprofileasxls", {Arg::Image(nullptr), Arg::Text(Path("a.xls")), Arg::Text(""), Arg::Number(1)});
    EXPECT_EQ(TakeResults(),
              "exception caught: saveprofileasxlslong: cannot add a sheet named \"\" (a sheet name has 1 to 255 "
              "characters)\n"
              "exception caught: saveprofileasxls: no file name given\n"
              "exception caught: saveprofileasxls: the image is not valid\n");
    EXPECT_FALSE(fs::exists(Path("a.xls")));
}

TEST_F(ExportHandlers, AFailedSaveIsReportedAndKeepsTheOldFile) {
    Profile(Image(2, 1, {1, 2}), Path("missing/a.xls"), "", 1);
    EXPECT_EQ(TakeResults(), "exception caught: saveprofileasxls: could not write \"" + Path("missing/a.xls") +
                                 "\": no such file or directory\n");

    const std::string file = Path("a.xls");
    Profile(Image(2, 1, {1, 2}), file, "", 1);
    const std::string before = Contents(file);
    FileSizeLimit full(32 * 1024);
    ASSERT_TRUE(full.Active());
    std::vector<float> pixels(4000 * 3);
    for (size_t k = 0; k < pixels.size(); ++k) pixels[k] = static_cast<float>(k) / 7.0f;
    ImageExport(Image(3, 4000, pixels), file, "", "big", "Big");
    full.Lift();
    EXPECT_EQ(TakeResults(), "exception caught: saveimageasxls: could not write \"" + file +
                                 "\": file too large; the file was left as it was\n");
    EXPECT_EQ(Contents(file), before);
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(dir)) left.push_back(e.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>({"a.xls"}));
}

namespace {

ssize_t FullDisk(int, const void*, size_t) {
    errno = ENOSPC;
    return -1;
}

}  // namespace

// A file with a second link is written in place; when that fails, the
// message names the whole new workbook left beside it.
TEST_F(ExportHandlers, AFailedCopyInPlaceNamesTheWholeCopy) {
    const std::string file = Path("a.xls");
    Profile(Image(2, 1, {1, 2}), file, "", 1);
    ASSERT_EQ(link(file.c_str(), Path("b.xls").c_str()), 0);
    FileReplace::seams.copyWrite = FullDisk;
    ProfileLong(Image(2, 1, {3, 4}), file, "", 1, "t", "New");
    FileReplace::seams.copyWrite = nullptr;
    std::string copy;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().filename().string().rfind("a.xls.", 0) == 0) copy = e.path().string();
    EXPECT_EQ(TakeResults(), "exception caught: saveprofileasxlslong: could not write all of \"" + file +
                                 "\" (no space left on device), which may be damaged; the whole new workbook is "
                                 "in \"" +
                                 copy + "\"\n");
    EXPECT_EQ(Read(copy)->names, Names({"New", "Profile", "Sheet1"}));
}

namespace {

// What another save puts under the new name just before this one would.
std::string otherSave;
int TakenFirst(const char*, const char* to) {
    FileReplace::seams.renameNoReplace = nullptr;
    fs::copy_file(otherSave, to);
    errno = EEXIST;
    return -1;
}

}  // namespace

// A new workbook that another export put in place meanwhile is loaded, and
// the sheet added to it: both sheets are kept.
TEST_F(ExportHandlers, ANewNameTakenMeanwhileKeepsTheOtherSheet) {
    otherSave = Path("other.xls");
    ProfileLong(Image(2, 1, {1, 2}), otherSave, "", 1, "t", "Other");
    FileReplace::seams.renameNoReplace = TakenFirst;
    ProfileLong(Image(2, 1, {3, 4}), Path("a.xls"), "", 1, "t", "Mine");
    FileReplace::seams.renameNoReplace = nullptr;
    EXPECT_EQ(TakeResults(), "");
    EXPECT_EQ(Read(Path("a.xls"))->names, Names({"Mine", "Other", "Sheet1"}));
}
