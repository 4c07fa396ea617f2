// The document's sheet list and the records it builds from the cells:
// names, order, record choices, shared strings and stream positions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "workbook/rk_codec.h"
#include "workbook/xls_document.h"

using CompoundFiles::SheetCell;
using CompoundFiles::XlsDocument;
using CompoundFiles::XlsSheet;
using CompoundFiles::XlsBiff::Worksheet;
using CellBlock = Worksheet::CellTable::RowBlock::CellBlock;

namespace {

std::vector<std::string> Names(const XlsDocument& doc) {
    std::vector<std::string> names;
    for (size_t k = 0; k < doc.SheetCount(); ++k) {
        const char* n = doc.GetSheetName(k);
        names.push_back(n != nullptr ? n : "<wide>");
    }
    return names;
}

std::vector<const CellBlock*> Cells(const Worksheet& sheet) {
    std::vector<const CellBlock*> cells;
    for (const auto& block : sheet.cellTable.rowBlocks)
        for (const CellBlock& c : block.cells) cells.push_back(&c);
    return cells;
}

unsigned U16(const std::vector<char>& b, size_t p) {
    return static_cast<unsigned char>(b.at(p)) | (static_cast<unsigned char>(b.at(p + 1)) << 8);
}

uint32_t U32(const std::vector<char>& b, size_t p) { return U16(b, p) | (static_cast<uint32_t>(U16(b, p + 2)) << 16); }

std::vector<char> Stream(XlsDocument& doc) {
    doc.UpdateWorksheets();
    doc.UpdatePositions();
    std::vector<char> out(doc.StreamSize());
    EXPECT_EQ(doc.WriteStream(out.data()), out.size());
    return out;
}

}  // namespace

TEST(XlsDocument, NewWorkbooks) {
    XlsDocument doc;
    EXPECT_EQ(doc.SheetCount(), 0u);
    EXPECT_EQ(doc.GetSheet(static_cast<size_t>(0)), nullptr);
    doc.New(0);
    EXPECT_EQ(Names(doc), std::vector<std::string>({"Sheet1"}));
    doc.New(1);
    EXPECT_EQ(Names(doc), std::vector<std::string>({"Sheet1"}));
    doc.New(3);
    EXPECT_EQ(Names(doc), std::vector<std::string>({"Sheet1", "Sheet2", "Sheet3"}));
    for (size_t k = 0; k < 3; ++k) EXPECT_EQ(doc.GetSheet(k)->Index(), k);
    const auto& globals = doc.Globals();
    EXPECT_EQ(globals.fonts.size(), 4u);
    EXPECT_EQ(globals.xfs.size(), 21u);
    EXPECT_EQ(globals.styles.size(), 6u);
    EXPECT_EQ(globals.sheets.size(), 3u);
    EXPECT_EQ(doc.Worksheets().size(), 3u);
}

TEST(XlsDocument, GeneratedNamesSkipTakenOnes) {
    XlsDocument doc;
    doc.New(3);
    ASSERT_TRUE(doc.DeleteSheet(1));
    EXPECT_EQ(Names(doc), std::vector<std::string>({"Sheet1", "Sheet3"}));
    XlsSheet* added = doc.AddSheet(-1);
    ASSERT_NE(added, nullptr);
    EXPECT_STREQ(added->GetName(), "Sheet4");
    EXPECT_EQ(added->Index(), 2u);
    EXPECT_STREQ(doc.AddSheet(0)->GetName(), "Sheet5");
    EXPECT_EQ(Names(doc), std::vector<std::string>({"Sheet5", "Sheet1", "Sheet3", "Sheet4"}));
    EXPECT_EQ(doc.AddSheet(9), nullptr);
    EXPECT_EQ(doc.AddSheet(-2), nullptr);
    EXPECT_EQ(doc.SheetCount(), 4u);
}

TEST(XlsDocument, InsertingInFrontRenumbersAndKeepsCells) {
    XlsDocument doc;
    doc.New(1);
    ASSERT_TRUE(doc.RenameSheet(size_t{0}, "A"));
    ASSERT_NE(doc.AddSheet("B", -1), nullptr);
    doc.GetSheet("A")->Cell(0, 0)->SetInt(1);
    doc.GetSheet("B")->Cell(0, 0)->SetInt(2);
    XlsSheet* front = doc.AddSheet("Profile", 0);
    ASSERT_NE(front, nullptr);
    EXPECT_EQ(Names(doc), std::vector<std::string>({"Profile", "A", "B"}));
    EXPECT_EQ(doc.GetSheet("A")->Index(), 1u);
    EXPECT_EQ(doc.GetSheet("B")->Index(), 2u);
    EXPECT_EQ(doc.GetSheet("A")->CellAt(0, 0)->GetInt(), 1);
    EXPECT_EQ(doc.GetSheet("B")->CellAt(0, 0)->GetInt(), 2);
    // The BOUNDSHEET records follow the new order, and only the first sheet
    // is selected.
    doc.UpdateWorksheets();
    ASSERT_EQ(doc.Globals().sheets.size(), 3u);
    EXPECT_STREQ(doc.Globals().sheets[0].name.Narrow(), "Profile");
    EXPECT_EQ(doc.Worksheets()[0].window2.options, 0x06B6);
    EXPECT_EQ(doc.Worksheets()[1].window2.options, 0x04B6);
    EXPECT_EQ(doc.Worksheets()[2].window2.options, 0x04B6);
}

TEST(XlsDocument, NamesMatchAcrossWidthAndCase) {
    XlsDocument doc;
    doc.New(1);
    // "Sheet1" is stored 8-bit: the same letters in any width or case name it.
    EXPECT_EQ(doc.AddSheet("Sheet1", -1), nullptr);
    EXPECT_EQ(doc.AddSheet(L"Sheet1", -1), nullptr);
    EXPECT_EQ(doc.AddSheet("SHEET1", 0), nullptr);
    EXPECT_EQ(doc.GetSheet(L"sHEET1"), doc.GetSheet(static_cast<size_t>(0)));
    // Letters beyond ASCII fold too, between an 8-bit (Latin-1) and a wide name.
    XlsSheet* wide = doc.AddSheet(L"Gr\u00f6\u00dfe \u0414\u0430\u043d\u043d\u044b\u0435", -1);
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(doc.GetSheet(L"GR\u00d6\u00dfE \u0434\u0410\u041d\u041d\u042b\u0415"), wide);
    EXPECT_EQ(doc.AddSheet("\xc9t\xe9", -1) != nullptr, true);
    EXPECT_EQ(doc.AddSheet(L"\u00e9T\u00c9", -1), nullptr);
    EXPECT_EQ(doc.AddSheet(L"\u00e9T\u00c9x", -1) != nullptr, true);
    EXPECT_FALSE(doc.RenameSheet(size_t{3}, "\xc9T\xc9"));

    EXPECT_EQ(doc.GetSheetName(1), nullptr);
    EXPECT_EQ(doc.GetWideSheetName(0), nullptr);
    char narrow[8] = "keep";
    EXPECT_FALSE(doc.GetSheetName(1, narrow));
    EXPECT_STREQ(narrow, "keep");
    wchar_t buffer[32];
    ASSERT_TRUE(doc.GetSheetName(3, buffer));
    EXPECT_STREQ(buffer, L"\u00e9T\u00c9x");
    EXPECT_EQ(doc.GetSheetName(4), nullptr);
    EXPECT_FALSE(doc.GetSheetName(4, buffer));
    // A name that could not be stored whole is refused.
    EXPECT_EQ(doc.AddSheet("", -1), nullptr);
    EXPECT_EQ(doc.AddSheet(std::string(256, 'n').c_str(), -1), nullptr);
    EXPECT_NE(doc.AddSheet(std::string(255, 'n').c_str(), -1), nullptr);
    EXPECT_EQ(doc.AddSheet((std::wstring(254, L'w') + L"\U0001F600").c_str(), -1), nullptr);
    EXPECT_NE(doc.AddSheet((std::wstring(253, L'w') + L"\U0001F600").c_str(), -1), nullptr);
    EXPECT_NE(doc.GetSheet((std::wstring(253, L'w') + L"\U0001F600").c_str()), nullptr);
    // A name too long for a sheet finds none, not the sheet it would be cut to.
    EXPECT_EQ(doc.GetSheet(std::string(256, 'N').c_str()), nullptr);
}

// Case beyond Latin and basic Greek and Cyrillic, accented Greek, and full
// folding: each pair names one sheet.
TEST(XlsDocument, NamesMatchByUnicodeCaseFolding) {
    const std::pair<const wchar_t*, const wchar_t*> pairs[] = {
        {L"D\u1eef li\u1ec7u", L"D\u1eee LI\u1ec6U"},                // Vietnamese
        {L"\u0386\u03bb\u03c6\u03b1", L"\u03ac\u03bb\u03c6\u03b1"},  // Greek with tonos
        {L"\u0531\u0580\u0561", L"\u0561\u0580\u0561"},              // Armenian
        {L"\u10a0x", L"\u2d00X"},                                    // Georgian
        {L"Stra\u00dfe", L"STRASSE"},
        {L"\u00df\u00df", L"SSSS"},  // folding doubles every unit
        {L"\ufb03", L"FFI"},         // or triples it
        {L"\ufb03\ufb03", L"ffiFFI"},
        {L"\U00010400", L"\U00010428"},  // Deseret, a surrogate pair
    };
    for (const auto& [name, other] : pairs) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(name)));
        XlsDocument doc;
        doc.New(1);
        XlsSheet* sheet = doc.AddSheet(name, 0);
        ASSERT_NE(sheet, nullptr);
        EXPECT_EQ(doc.GetSheet(other), sheet);
        EXPECT_EQ(doc.AddSheet(other, -1), nullptr);
        EXPECT_FALSE(doc.RenameSheet(size_t{1}, other));
        EXPECT_EQ(doc.SheetCount(), 2u);
    }
    // Letters that only look alike stay apart.
    XlsDocument doc;
    doc.New(1);
    ASSERT_NE(doc.AddSheet(L"\u0391", -1), nullptr);  // Greek capital alpha
    EXPECT_NE(doc.AddSheet(L"A", -1), nullptr);
    EXPECT_NE(doc.AddSheet(L"\u00c5", -1), nullptr);
}

// New names that spreadsheet programs refuse are refused; a loaded sheet
// keeps such a name and is still found by it.
TEST(XlsDocument, ForbiddenCharactersInNewNames) {
    XlsDocument doc;
    doc.New(1);
    for (const char* name : {"a[1]", "x]", "t:0", "a*", "why?", "a/b", "a\\b", "'quoted", "end'", "'"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(doc.AddSheet(name, 0), nullptr);
        EXPECT_FALSE(doc.RenameSheet(size_t{0}, name));
        EXPECT_NE(XlsDocument::ForbiddenNameCharacter(name), 0);
    }
    EXPECT_EQ(XlsDocument::ForbiddenNameCharacter("a/b"), '/');
    EXPECT_EQ(XlsDocument::ForbiddenNameCharacter(L"\u00e9t\u00e9 [2]"), '[');
    EXPECT_EQ(XlsDocument::ForbiddenNameCharacter(L"'\u00e9t\u00e9"), '\'');
    EXPECT_EQ(doc.AddSheet(L"\u00e9t\u00e9?", 0), nullptr);
    EXPECT_EQ(Names(doc), std::vector<std::string>({"Sheet1"}));
    // An apostrophe inside a name, and the other punctuation, are allowed.
    EXPECT_NE(doc.AddSheet("it's (1) #2, 3.5%; {a} <b>", -1), nullptr);
    EXPECT_EQ(XlsDocument::ForbiddenNameCharacter("it's"), 0);

    // A loaded name with such a character stays as it was.
    ASSERT_TRUE(doc.RenameSheet(size_t{0}, "Data"));
    std::vector<char> stream = Stream(doc);
    const char data[] = {4, 0, 'D', 'a', 't', 'a'};
    auto at = std::search(stream.begin(), stream.end(), std::begin(data), std::end(data));
    ASSERT_NE(at, stream.end());
    at[4] = '/';
    XlsDocument loaded;
    ASSERT_TRUE(loaded.LoadStream(stream.data(), stream.size()));
    EXPECT_STREQ(loaded.GetSheetName(0), "Da/a");
    EXPECT_NE(loaded.GetSheet("DA/A"), nullptr);
    EXPECT_FALSE(loaded.RenameSheet("Da/a", "Da/b"));
    EXPECT_TRUE(loaded.RenameSheet("Da/a", "Data"));
}

TEST(XlsDocument, RenameAndDelete) {
    XlsDocument doc;
    doc.New(2);
    EXPECT_FALSE(doc.RenameSheet(size_t{0}, "Sheet1"));  // its own name
    EXPECT_FALSE(doc.RenameSheet(size_t{0}, "Sheet2"));
    EXPECT_FALSE(doc.RenameSheet(5, "X"));
    EXPECT_TRUE(doc.RenameSheet("Sheet2", "Two"));
    EXPECT_FALSE(doc.RenameSheet("Sheet2", "Again"));
    EXPECT_TRUE(doc.RenameSheet(size_t{0}, L"Eins"));
    EXPECT_FALSE(doc.RenameSheet(L"Eins", L"Eins"));
    EXPECT_TRUE(doc.RenameSheet(L"Eins", L"One"));
    EXPECT_FALSE(doc.RenameSheet("one", "TWO"));
    EXPECT_EQ(Names(doc), std::vector<std::string>({"<wide>", "Two"}));

    EXPECT_FALSE(doc.DeleteSheet(2));
    EXPECT_TRUE(doc.DeleteSheet("ONE"));  // the wide name, found by its 8-bit form
    EXPECT_EQ(Names(doc), std::vector<std::string>({"Two"}));
    EXPECT_EQ(doc.GetSheet("Two")->Index(), 0u);
    EXPECT_EQ(doc.Worksheets().size(), 1u);
    EXPECT_EQ(doc.Globals().sheets.size(), 1u);
    EXPECT_TRUE(doc.DeleteSheet("Two"));
    EXPECT_EQ(doc.SheetCount(), 0u);
}

TEST(XlsDocument, NumberRecordChoices) {
    XlsDocument doc;
    doc.New(1);
    XlsSheet& s = *doc.GetSheet(static_cast<size_t>(0));
    s.Cell(0, 0)->SetInt(1);
    s.Cell(0, 1)->SetInt(2);
    s.Cell(0, 2)->SetInt(3);
    s.Cell(0, 3)->SetReal(4.0);  // a double ends the integer run
    s.Cell(0, 5)->SetInt(-5);    // a lone integer
    s.Cell(1, 0)->SetReal(0.5);
    s.Cell(1, 1)->SetReal(0.25);
    s.Cell(1, 2)->SetReal(1234.5678);
    s.Cell(1, 3)->SetReal(57 * 0.01);  // RK would be read back as 0.57
    s.Cell(1, 4)->SetReal(0.75);
    doc.UpdateWorksheets();
    const std::vector<const CellBlock*> cells = Cells(doc.Worksheets()[0]);
    ASSERT_EQ(cells.size(), 7u);

    EXPECT_EQ(cells[0]->Kind(), 0x00BD);
    EXPECT_EQ(cells[0]->As<CellBlock::MulRK>().firstColumn, 0);
    EXPECT_EQ(cells[0]->As<CellBlock::MulRK>().lastColumn, 2);
    ASSERT_EQ(cells[0]->As<CellBlock::MulRK>().entries.size(), 3u);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(cells[0]->As<CellBlock::MulRK>().entries[k].rk, CompoundFiles::XlsBiff::IntegerToRk(k + 1));
        EXPECT_EQ(cells[0]->As<CellBlock::MulRK>().entries[k].xfIndex, 0);
    }
    EXPECT_EQ(cells[1]->Kind(), 0x027E);
    EXPECT_EQ(cells[1]->As<CellBlock::RK>().column, 3);
    EXPECT_EQ(CompoundFiles::XlsBiff::RkToDouble(cells[1]->As<CellBlock::RK>().rk), 4.0);
    EXPECT_EQ(cells[2]->Kind(), 0x027E);
    EXPECT_EQ(cells[2]->As<CellBlock::RK>().column, 5);
    EXPECT_EQ(CompoundFiles::XlsBiff::RkToInteger(cells[2]->As<CellBlock::RK>().rk), -5);

    EXPECT_EQ(cells[3]->Kind(), 0x00BD);
    EXPECT_EQ(cells[3]->As<CellBlock::MulRK>().row, 1);
    EXPECT_EQ(cells[3]->As<CellBlock::MulRK>().lastColumn, 1);
    // Doubles that do not code as RK are each a NUMBER of their own, and the
    // RK double behind them stands alone.
    EXPECT_EQ(cells[4]->Kind(), 0x0203);
    EXPECT_EQ(cells[4]->As<CellBlock::Number>().value, 1234.5678);
    EXPECT_EQ(cells[5]->Kind(), 0x0203);
    EXPECT_EQ(cells[5]->As<CellBlock::Number>().value, 57 * 0.01);
    EXPECT_EQ(cells[6]->Kind(), 0x027E);
    EXPECT_EQ(cells[6]->As<CellBlock::RK>().column, 4);
    ASSERT_EQ(doc.Worksheets()[0].cellTable.rowBlocks.size(), 1u);
    const auto& block = doc.Worksheets()[0].cellTable.rowBlocks[0];
    ASSERT_EQ(block.rows.size(), 2u);
    EXPECT_EQ(block.rows[1].row, 1);
    EXPECT_EQ(block.rows[1].lastColumnPlusOne, 6);
}

// A long row of numbers RK cannot hold, broken by RK runs, integers and a
// text: each such number is a NUMBER of its own, and every run after it is
// still found whole.
TEST(XlsDocument, NumbersRkCannotHoldBetweenRuns) {
    XlsDocument doc;
    doc.New(1);
    XlsSheet& s = *doc.GetSheet(static_cast<size_t>(0));
    const double odd[] = {3.14159, 1.0 / 3.0, 1234.5678, 57 * 0.01, 2.0 / 7.0};
    for (int c = 0; c < 5; ++c) s.Cell(0, c)->SetReal(odd[c]);
    s.Cell(0, 5)->SetReal(0.5);
    s.Cell(0, 6)->SetReal(-2.25);
    s.Cell(0, 7)->SetReal(2.0 / 3.0);
    s.Cell(0, 8)->SetInt(7);
    s.Cell(0, 9)->SetInt(8);
    s.Cell(0, 10)->SetReal(1e-300);
    s.Cell(0, 11)->SetText("t");
    s.Cell(0, 12)->SetReal(1.0 / 3.0);
    doc.UpdateWorksheets();
    const std::vector<const CellBlock*> cells = Cells(doc.Worksheets()[0]);
    // kind, first column, last column
    const int expected[][3] = {{0x0203, 0, 0},   {0x0203, 1, 1},   {0x0203, 2, 2},  {0x0203, 3, 3},
                               {0x0203, 4, 4},   {0x00BD, 5, 6},   {0x0203, 7, 7},  {0x00BD, 8, 9},
                               {0x0203, 10, 10}, {0x00FD, 11, 11}, {0x0203, 12, 12}};
    ASSERT_EQ(cells.size(), std::size(expected));
    for (size_t i = 0; i < cells.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(cells[i]->Kind(), expected[i][0]);
        if (expected[i][0] == 0x00BD) {
            EXPECT_EQ(cells[i]->As<CellBlock::MulRK>().firstColumn, expected[i][1]);
            EXPECT_EQ(cells[i]->As<CellBlock::MulRK>().lastColumn, expected[i][2]);
        } else if (expected[i][0] == 0x0203) {
            EXPECT_EQ(cells[i]->As<CellBlock::Number>().column, expected[i][1]);
            EXPECT_EQ(cells[i]->As<CellBlock::Number>().value, s.CellAt(0, expected[i][1])->GetDouble());
        }
    }
}

TEST(XlsDocument, SharedStringsCountEveryUseOnce) {
    XlsDocument doc;
    doc.New(2);
    XlsSheet& a = *doc.GetSheet(static_cast<size_t>(0));
    XlsSheet& b = *doc.GetSheet(static_cast<size_t>(1));
    a.Cell(0, 0)->SetText("same");
    a.Cell(0, 1)->SetText("same");
    b.Cell(3, 2)->SetText("same");
    doc.UpdateWorksheets();
    const auto& table = doc.Globals().sharedStrings;
    EXPECT_EQ(table.total, 3u);
    EXPECT_EQ(table.unique, 1u);
    ASSERT_EQ(table.strings.size(), 1u);
    for (const Worksheet& w : doc.Worksheets())
        for (const CellBlock* c : Cells(w)) {
            EXPECT_EQ(c->Kind(), 0x00FD);
            EXPECT_EQ(c->As<CellBlock::LabelSST>().sstIndex, 0u);
        }

    // Narrow and wide texts of the same letters are different strings;
    // strings no cell uses any more are gone.
    a.Cell(0, 0)->SetWideText(L"same");
    a.Cell(0, 1)->SetText("other");
    b.Cell(3, 2)->SetText("");
    a.Cell(1, 0)->SetText("same");
    doc.UpdateWorksheets();
    EXPECT_EQ(table.total, 3u);
    EXPECT_EQ(table.unique, 3u);
    ASSERT_EQ(table.strings.size(), 3u);
    EXPECT_TRUE(table.strings[0].IsWide());
    EXPECT_EQ(table.strings[1].NarrowText(), "other");
    EXPECT_EQ(table.strings[2].NarrowText(), "same");
}

TEST(XlsDocument, EmptySheetRecords) {
    XlsDocument doc;
    doc.New(1);
    doc.GetSheet(static_cast<size_t>(0))->Cell(40, 7);  // grown, never written
    doc.UpdateWorksheets();
    const Worksheet& w = doc.Worksheets()[0];
    EXPECT_EQ(w.index.firstRow, 0u);
    EXPECT_EQ(w.index.lastRowPlusOne, 0u);
    EXPECT_EQ(w.dimensions.firstRow, 0u);
    EXPECT_EQ(w.dimensions.lastRowPlusOne, 0u);
    EXPECT_EQ(w.dimensions.firstColumn, 0);
    EXPECT_EQ(w.dimensions.lastColumnPlusOne, 0);
    EXPECT_TRUE(w.cellTable.rowBlocks.empty());
    EXPECT_EQ(w.index.dbCellPositions, std::vector<std::uint64_t>({0}));
}

TEST(XlsDocument, DimensionsAreTheUsedRange) {
    XlsDocument doc;
    doc.New(1);
    XlsSheet& s = *doc.GetSheet(static_cast<size_t>(0));
    s.Cell(5, 3)->SetInt(1);
    s.Cell(70, 9)->SetText("x");
    s.Cell(100, 20);  // empty corner
    doc.UpdateWorksheets();
    const Worksheet& w = doc.Worksheets()[0];
    EXPECT_EQ(w.dimensions.firstRow, 5u);
    EXPECT_EQ(w.dimensions.lastRowPlusOne, 71u);
    EXPECT_EQ(w.dimensions.firstColumn, 3);
    EXPECT_EQ(w.dimensions.lastColumnPlusOne, 10);
    EXPECT_EQ(w.index.firstRow, 5u);
    EXPECT_EQ(w.index.lastRowPlusOne, 71u);
    // Rows 0-31, 32-63 (no rows: a DBCELL alone) and 64-70.
    ASSERT_EQ(w.cellTable.rowBlocks.size(), 3u);
    EXPECT_TRUE(w.cellTable.rowBlocks[1].rows.empty());
    EXPECT_EQ(w.index.dbCellPositions.size(), 3u);
}

// Every position the records carry, checked against the bytes written: the
// BOUNDSHEET positions land on worksheet BOFs, the INDEX positions on DBCELL
// records, each DBCELL points back to its block's first ROW and on to the
// first cell of each of its rows.
TEST(XlsDocument, PositionsMatchTheWrittenStream) {
    XlsDocument doc;
    doc.New(2);
    XlsSheet& a = *doc.GetSheet(static_cast<size_t>(0));
    XlsSheet& b = *doc.GetSheet(static_cast<size_t>(1));
    a.Cell(0, 0)->SetText("first sheet");
    for (size_t r = 0; r < 100; ++r) {
        if (r >= 40 && r < 70) continue;
        b.Cell(r, 0)->SetReal(static_cast<double>(r) / 3.0);
        b.Cell(r, 1)->SetInt(static_cast<int>(r));
        b.Cell(r, 2)->SetInt(static_cast<int>(r) * 2);
        if (r % 3 == 0) b.Cell(r, 4)->SetText(r % 2 ? "odd" : "even");
    }
    const std::vector<char> stream = Stream(doc);
    ASSERT_EQ(doc.Globals().sheets.size(), 2u);
    size_t sheetsChecked = 0, blocksChecked = 0, rowsChecked = 0;
    for (size_t k = 0; k < 2; ++k) {
        const size_t bof = doc.Globals().sheets[k].streamPosition;
        ASSERT_EQ(U16(stream, bof), 0x0809u);
        EXPECT_EQ(U16(stream, bof + 6), 0x0010u);
        const Worksheet& w = doc.Worksheets()[k];
        for (size_t blk = 0; blk < w.cellTable.rowBlocks.size(); ++blk) {
            const size_t dbcell = w.index.dbCellPositions.at(blk);
            ASSERT_EQ(U16(stream, dbcell), 0x00D7u) << k << " " << blk;
            const size_t length = U16(stream, dbcell + 2);
            const uint32_t back = U32(stream, dbcell + 4);
            const size_t rows = (length - 4) / 2;
            EXPECT_EQ(rows, w.cellTable.rowBlocks[blk].rows.size());
            if (rows == 0) continue;
            const size_t firstRow = dbcell - back;
            ASSERT_EQ(U16(stream, firstRow), 0x0208u);
            size_t cell = firstRow + 20;  // from the second ROW record
            for (size_t i = 0; i < rows; ++i) {
                cell += U16(stream, dbcell + 8 + 2 * i);
                const unsigned code = U16(stream, cell);
                EXPECT_TRUE(code == 0x027E || code == 0x00BD || code == 0x0203 || code == 0x00FD) << code;
                EXPECT_EQ(U16(stream, cell + 4), U16(stream, firstRow + 20 * i + 4)) << "row of cell";
                ++rowsChecked;
            }
            ++blocksChecked;
        }
        ++sheetsChecked;
    }
    EXPECT_EQ(sheetsChecked, 2u);
    EXPECT_EQ(blocksChecked, 5u);  // sheet A: one block; sheet B: rows 0-39, 70-99 in four blocks
    EXPECT_EQ(rowsChecked, 1u + 70u);
    // The second sheet's substream ends the stream.
    const Worksheet& last = doc.Worksheets()[1];
    EXPECT_EQ(doc.Globals().sheets[1].streamPosition + const_cast<Worksheet&>(last).DataSize(), stream.size());
}
