// saveprofileasxls, saveprofileasxlslong and saveimageasxls called as a
// script calls them; the workbooks are read back with the document object
// (the independent readers check them in tests/interop).
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "host_fixture.h"
#include "workbook/xls_document.h"

using CompoundFiles::SheetCell;
using CompoundFiles::XlsDocument;
using CompoundFiles::XlsSheet;
using dmhost::Arg;
namespace fs = std::filesystem;

namespace {

std::string Contents(const std::string &path) {
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
  std::string Path(const std::string &name) const { return dir + "/" + name; }

  void Profile(const dmhost::ImagePtr &image, const std::string &file, const std::string &labels,
               double step) {
    Call("saveprofileasxls", {Arg::Image(image), Arg::Text(file), Arg::Text(labels), Arg::Number(step)});
  }
  void ProfileLong(const dmhost::ImagePtr &image, const std::string &file, const std::string &labels,
                   double step, const std::string &title, const std::string &sheet) {
    Call("saveprofileasxlslong", {Arg::Image(image), Arg::Text(file), Arg::Text(labels), Arg::Number(step),
                                  Arg::Text(title), Arg::Text(sheet)});
  }
  void ImageExport(const dmhost::ImagePtr &image, const std::string &file, const std::string &labels,
                   const std::string &title, const std::string &sheet) {
    Call("saveimageasxls", {Arg::Image(image), Arg::Text(file), Arg::Text(labels), Arg::Text(title),
                            Arg::Text(sheet)});
  }

  // The workbook as the document object reads it.
  struct Book {
    XlsDocument doc;
    std::vector<std::string> names;
    const SheetCell &At(const std::string &sheet, size_t r, size_t c) {
      static const SheetCell none;
      const SheetCell *cell = doc.GetSheet(sheet.c_str())->CellAt(r, c);
      return cell ? *cell : none;
    }
  };
  std::unique_ptr<Book> Read(const std::string &file) {
    auto book = std::make_unique<Book>();
    EXPECT_TRUE(book->doc.Load(file.c_str())) << file;
    for (size_t k = 0; k < book->doc.SheetCount(); ++k) book->names.push_back(book->doc.GetSheetName(k));
    return book;
  }

  std::string dir;
};

using Names = std::vector<std::string>;

}  // namespace

TEST_F(ExportHandlers, ProfileIntoANewFile) {
  Profile(Image(4, 1, {1.5f, -2.0f, 3.25f, 0.1f}), Path("a.xls"), " a   b ", 0.5);
  EXPECT_EQ(TakeResults(), "");
  auto book = Read(Path("a.xls"));
  EXPECT_EQ(book->names, Names({"Profile", "Sheet1"}));
  EXPECT_STREQ(book->At("Profile", 0, 0).GetText(), "Profile");
  EXPECT_STREQ(book->At("Profile", 1, 0).GetText(), "a");
  EXPECT_STREQ(book->At("Profile", 1, 1).GetText(), "b");
  EXPECT_EQ(book->At("Profile", 1, 2).Type(), SheetCell::Empty);
  const double axis[] = {0, 0.5, 1, 1.5};
  const float values[] = {1.5f, -2.0f, 3.25f, 0.1f};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(book->At("Profile", i + 2, 0).GetDouble(), axis[i]);
    EXPECT_EQ(book->At("Profile", i + 2, 1).Type(), SheetCell::Real);
    EXPECT_EQ(book->At("Profile", i + 2, 1).GetDouble(), static_cast<double>(values[i]));
  }
  EXPECT_EQ(book->doc.GetSheet("Profile")->RowCount(), 6u);
}

TEST_F(ExportHandlers, AxisIsComputedInSinglePrecision) {
  Profile(Image(3, 1), Path("a.xls"), "", 0.1);
  auto book = Read(Path("a.xls"));
  EXPECT_EQ(book->At("Profile", 3, 0).GetDouble(), static_cast<double>(0.1f));
  EXPECT_NEAR(book->At("Profile", 3, 0).GetDouble(), 0.100000001490116, 1e-15);
  EXPECT_EQ(book->At("Profile", 4, 0).GetDouble(), static_cast<double>(2.0f * 0.1f));
  // No labels: only cell (1, 0) is cleared.
  EXPECT_EQ(book->doc.GetSheet("Profile")->ColumnCount(), 2u);
}

TEST_F(ExportHandlers, SheetsAreFoundOrAddedInFront) {
  Profile(Image(5, 1, {1, 2, 3, 4, 5}), Path("a.xls"), "x y z", 1);
  ProfileLong(Image(2, 2, {7, 8, 9, 10}), Path("a.xls"), "u", 2, "Two", "Second");
  ImageExport(Image(3, 2, {0, 1, 2, 3, 4, 5}), Path("a.xls"), "c0 c1 c2", "Pixels", "Third");
  // Into the existing sheet: a shorter profile with fewer labels.
  Profile(Image(2, 1, {-1, -2}), Path("a.xls"), "q", 1);
  EXPECT_EQ(TakeResults(), "");
  auto book = Read(Path("a.xls"));
  EXPECT_EQ(book->names, Names({"Third", "Second", "Profile", "Sheet1"}));

  EXPECT_STREQ(book->At("Profile", 1, 0).GetText(), "q");
  EXPECT_EQ(book->At("Profile", 1, 1).Type(), SheetCell::Empty);  // cleared after the last word
  EXPECT_STREQ(book->At("Profile", 1, 2).GetText(), "z");         // kept
  EXPECT_EQ(book->At("Profile", 2, 1).GetDouble(), -1.0);
  EXPECT_EQ(book->At("Profile", 3, 1).GetDouble(), -2.0);
  EXPECT_EQ(book->At("Profile", 4, 1).GetDouble(), 3.0);  // old rows stay
  EXPECT_EQ(book->At("Profile", 6, 1).GetDouble(), 5.0);
  EXPECT_EQ(book->At("Profile", 6, 0).GetDouble(), 4.0);

  EXPECT_STREQ(book->At("Second", 0, 0).GetText(), "Two");
  EXPECT_EQ(book->At("Second", 3, 0).GetDouble(), 2.0);
  EXPECT_EQ(book->At("Second", 3, 1).GetDouble(), 8.0);   // pixel (1, 0)
  EXPECT_EQ(book->At("Second", 3, 2).GetDouble(), 10.0);  // pixel (1, 1)

  // Image line y is row y + 2, image column x is column x.
  EXPECT_STREQ(book->At("Third", 0, 0).GetText(), "Pixels");
  for (size_t y = 0; y < 2; ++y)
    for (size_t x = 0; x < 3; ++x) EXPECT_EQ(book->At("Third", y + 2, x).GetDouble(), x + 3.0 * y);
}

TEST_F(ExportHandlers, LabelWordsAnyWhiteSpace) {
  ProfileLong(Image(1, 1), Path("a.xls"), "\t one  two\nthree ", 1, "", "S");
  ProfileLong(Image(1, 1), Path("b.xls"), "one two three", 1, "", "S");
  EXPECT_EQ(Contents(Path("a.xls")), Contents(Path("b.xls")));
  auto book = Read(Path("a.xls"));
  EXPECT_STREQ(book->At("S", 1, 2).GetText(), "three");
  EXPECT_EQ(book->At("S", 0, 0).Type(), SheetCell::Empty);  // an empty title clears A1
}

TEST_F(ExportHandlers, IntegerImagesAreConverted) {
  dmhost::ImagePtr image = dmhost::MakeImage("i", dmhost::DataType::UInt16, {3, 1});
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
  EXPECT_EQ(TakeResults(),
            "exception caught: saveprofileasxls: \"" + file +
                "\" exists but is not a readable workbook; it was left unchanged\n"
                "exception caught: saveimageasxls: \"" + dir +
                "\" exists but is not a readable workbook; it was left unchanged\n");
  EXPECT_EQ(Contents(file), before);
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
                               "\"; the file was left as it was\n");

  const std::string file = Path("a.xls");
  Profile(Image(2, 1, {1, 2}), file, "", 1);
  const std::string before = Contents(file);
  struct rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  struct rlimit limited = old;
  limited.rlim_cur = 32 * 1024;
  void (*previous)(int) = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  std::vector<float> pixels(4000 * 3);
  for (size_t k = 0; k < pixels.size(); ++k) pixels[k] = static_cast<float>(k) / 7.0f;
  ImageExport(Image(3, 4000, pixels), file, "", "big", "Big");
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous);
  EXPECT_EQ(TakeResults(), "exception caught: saveimageasxls: could not write \"" + file +
                               "\"; the file was left as it was\n");
  EXPECT_EQ(Contents(file), before);
  std::vector<std::string> left;
  for (const auto &e : fs::directory_iterator(dir)) left.push_back(e.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>({"a.xls"}));
}
