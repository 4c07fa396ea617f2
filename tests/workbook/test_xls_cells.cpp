// Cells and the sheet's table: growth, limits, conversions, text widths and
// the text dump.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <sstream>
#include <string>

#include "workbook/xls_document.h"

using CompoundFiles::SheetCell;
using CompoundFiles::XlsDocument;
using CompoundFiles::XlsSheet;

TEST(SheetCell, ValuesAndConversions) {
    SheetCell c;
    EXPECT_EQ(c.Type(), SheetCell::Empty);
    int i = 99;
    double d = 99.0;
    EXPECT_FALSE(c.Get(i));
    EXPECT_FALSE(c.Get(d));
    EXPECT_EQ(i, 99);
    EXPECT_EQ(c.GetInt(), 0);
    EXPECT_EQ(c.GetDouble(), 0.0);

    c.SetReal(-2.7);
    EXPECT_EQ(c.Type(), SheetCell::Real);
    EXPECT_EQ(c.GetInt(), -2);
    EXPECT_EQ(c.GetDouble(), -2.7);
    c.SetReal(std::nan(""));
    EXPECT_EQ(c.GetInt(), INT_MIN);
    c.SetReal(3e9);
    EXPECT_EQ(c.GetInt(), INT_MIN);
    c.SetReal(2147483647.9);
    EXPECT_EQ(c.GetInt(), 2147483647);

    c.SetInt(7);
    EXPECT_EQ(c.Type(), SheetCell::Integer);
    EXPECT_EQ(c.GetDouble(), 7.0);
    EXPECT_EQ(c.GetText(), nullptr);

    c.SetText("abc");
    EXPECT_EQ(c.GetInt(), 0);
    EXPECT_EQ(c.GetDouble(), 0.0);
    EXPECT_FALSE(c.Get(i));
}

TEST(SheetCell, TextsOfBothWidths) {
    SheetCell c;
    c.Set("hello");
    EXPECT_EQ(c.Type(), SheetCell::Text);
    EXPECT_STREQ(c.GetText(), "hello");
    EXPECT_EQ(c.TextLength(), 5u);
    char small[5];
    EXPECT_FALSE(c.Get(small, sizeof small));
    char buffer[6];
    ASSERT_TRUE(c.Get(buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "hello");
    wchar_t wide[8] = L"keep";
    EXPECT_FALSE(c.Get(wide));
    EXPECT_STREQ(wide, L"keep");

    c.Set(L"\u03a9x");
    EXPECT_EQ(c.Type(), SheetCell::WideText);
    EXPECT_EQ(c.GetText(), nullptr);
    EXPECT_STREQ(c.GetWideText(), L"\u03a9x");
    EXPECT_EQ(c.TextLength(), 2u);
    ASSERT_TRUE(c.Get(wide, 3));
    EXPECT_STREQ(wide, L"\u03a9x");
    EXPECT_FALSE(c.Get(buffer));

    // An empty text empties the cell; so does a null one.
    c.SetWideText(L"");
    EXPECT_EQ(c.Type(), SheetCell::Empty);
    c.SetText("x");
    c.SetText(nullptr);
    EXPECT_EQ(c.Type(), SheetCell::Empty);
    EXPECT_EQ(c.TextLength(), 0u);
}

TEST(SheetCell, StreamOutput) {
    SheetCell c;
    std::ostringstream out;
    out << c;
    c.SetInt(-4);
    out << c;
    c.SetReal(0.5);
    out << c;
    c.SetText("t");
    out << c;
    c.SetWideText(L"\u00e9\U0001F600");
    out << c;
    EXPECT_EQ(out.str(), std::string("\0-40.5t\xc3\xa9\xf0\x9f\x98\x80", 13));
}

// Booleans count as 1 and 0; an error has no number, only its code.
TEST(SheetCell, BooleansAndErrors) {
    SheetCell c;
    c.SetText("gone");
    c.SetBoolean(true);
    EXPECT_EQ(c.Type(), SheetCell::Boolean);
    EXPECT_EQ(c.GetText(), nullptr);
    EXPECT_EQ(c.GetDouble(), 1.0);
    EXPECT_EQ(c.ErrorCode(), 0);
    c.SetXfIndex(3);
    c.SetBoolean(false);
    EXPECT_EQ(c.XfIndex(), 0);
    EXPECT_EQ(c.GetInt(), 0);
    std::ostringstream out;
    out << c;
    c.SetError(SheetCell::ErrorDivZero);
    EXPECT_EQ(c.Type(), SheetCell::Error);
    EXPECT_EQ(c.ErrorCode(), SheetCell::ErrorDivZero);
    int i = 5;
    EXPECT_FALSE(c.Get(i));
    EXPECT_EQ(i, 5);
    out << ' ' << c;
    c.SetError(0x99);  // no such code: kept, written as nothing
    EXPECT_EQ(c.ErrorCode(), 0x99);
    out << ' ' << c;
    EXPECT_EQ(out.str(), "FALSE #DIV/0! ");
    EXPECT_STREQ(SheetCell::ErrorText(SheetCell::ErrorNum), "#NUM!");
    EXPECT_STREQ(SheetCell::ErrorText(SheetCell::ErrorNA), "#N/A");
}

class Sheet : public ::testing::Test {
protected:
    void SetUp() override { doc.New(1); }
    XlsSheet& sheet() { return *doc.GetSheet(static_cast<size_t>(0)); }
    XlsDocument doc;
};

TEST_F(Sheet, GrowsToTheLargestPositionAsked) {
    EXPECT_EQ(sheet().RowCount(), 0u);
    ASSERT_NE(sheet().Cell(0, 0), nullptr);
    EXPECT_EQ(sheet().RowCount(), 1u);
    EXPECT_EQ(sheet().ColumnCount(), 1u);
    sheet().Cell(0, 0)->SetInt(1);
    ASSERT_NE(sheet().Cell(2, 5), nullptr);
    EXPECT_EQ(sheet().RowCount(), 3u);
    EXPECT_EQ(sheet().ColumnCount(), 6u);
    for (size_t r = 0; r < 3; ++r)
        for (size_t c = 0; c < 6; ++c) ASSERT_NE(sheet().CellAt(r, c), nullptr) << r << "," << c;
    EXPECT_EQ(sheet().CellAt(3, 0), nullptr);
    EXPECT_EQ(sheet().CellAt(0, 6), nullptr);
    EXPECT_EQ(sheet().CellAt(0, 0)->GetInt(), 1);
    // Growing columns keeps what the rows held.
    sheet().Cell(0, 9);
    EXPECT_EQ(sheet().CellAt(0, 0)->GetInt(), 1);
    EXPECT_EQ(sheet().CellAt(2, 9)->Type(), SheetCell::Empty);
}

TEST_F(Sheet, LimitsOfRowsAndColumns) {
    ASSERT_NE(sheet().Cell(65535, 255), nullptr);
    EXPECT_EQ(sheet().RowCount(), 65536u);
    EXPECT_EQ(sheet().ColumnCount(), 256u);
    EXPECT_EQ(sheet().Cell(65536, 0), nullptr);
    EXPECT_EQ(sheet().Cell(0, 256), nullptr);
    EXPECT_EQ(sheet().RowCount(), 65536u);
    EXPECT_EQ(sheet().ColumnCount(), 256u);

    XlsSheet* other = doc.AddSheet(-1);
    EXPECT_EQ(other->Cell(70000, 0), nullptr);
    EXPECT_EQ(other->RowCount(), 0u);
    EXPECT_EQ(other->ColumnCount(), 0u);
}

TEST_F(Sheet, EraseInsideTheTableOnly) {
    sheet().Cell(1, 1)->SetReal(2.5);
    EXPECT_TRUE(sheet().EraseCell(1, 1));
    EXPECT_EQ(sheet().CellAt(1, 1)->Type(), SheetCell::Empty);
    EXPECT_TRUE(sheet().EraseCell(0, 0));
    EXPECT_FALSE(sheet().EraseCell(2, 0));
    EXPECT_FALSE(sheet().EraseCell(0, 2));
    EXPECT_EQ(sheet().RowCount(), 2u);
    EXPECT_EQ(sheet().ColumnCount(), 2u);
}

TEST_F(Sheet, PrintQuotesAndSeparates) {
    sheet().Cell(0, 0)->SetText("say \"hi\"");
    sheet().Cell(0, 2)->SetInt(-3);
    sheet().Cell(1, 0)->SetReal(1.0 / 3.0);
    sheet().Cell(1, 1)->SetWideText(L"wide");
    sheet().Cell(2, 1)->SetText("plain");
    sheet().Cell(2, 2)->SetBoolean(true);
    sheet().Cell(1, 2)->SetError(SheetCell::ErrorNA);
    std::ostringstream quoted;
    sheet().Print(quoted, ';', '"');
    // The text of n = 8 characters holding 2 quotes takes 8 + 2 + 2.
    EXPECT_EQ(quoted.str(), "\"say \"\"hi\"\"\";;-3\n0.333333333333333;;#N/A\n;\"plain\";TRUE\n");
    EXPECT_EQ(quoted.precision(), 15);
    std::ostringstream bare;
    sheet().Print(bare, ',', 0);
    EXPECT_EQ(bare.str(), "say \"hi\",,-3\n0.333333333333333,,#N/A\n,plain,TRUE\n");
}

TEST_F(Sheet, NamesLiveInTheDocument) {
    EXPECT_STREQ(sheet().GetName(), "Sheet1");
    EXPECT_EQ(sheet().GetWideName(), nullptr);
    wchar_t wide[8];
    EXPECT_FALSE(sheet().GetName(wide));
    EXPECT_TRUE(sheet().Rename(L"\u00dcbersicht"));
    EXPECT_EQ(sheet().GetName(), nullptr);
    EXPECT_STREQ(sheet().GetWideName(), L"\u00dcbersicht");
    EXPECT_STREQ(doc.GetWideSheetName(0), L"\u00dcbersicht");
    // Its own name counts as taken.
    EXPECT_FALSE(sheet().Rename(L"\u00dcbersicht"));
    EXPECT_TRUE(sheet().Rename("Back"));
    char name[8];
    ASSERT_TRUE(sheet().GetName(name));
    EXPECT_STREQ(name, "Back");
}
