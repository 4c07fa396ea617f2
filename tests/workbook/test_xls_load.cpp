// Loading workbook streams built by hand: the cells each record kind gives,
// sheets matched to their BOUNDSHEET entries, and the streams refused.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/workbook/xls_stream_bytes.h"
#include "workbook/rk_codec.h"
#include "workbook/xls_document.h"

using CompoundFiles::SheetCell;
using CompoundFiles::XlsDocument;
using CompoundFiles::XlsSheet;
using namespace xls_bytes;

namespace {

bool Load(XlsDocument& doc, const Bytes& stream) { return doc.LoadStream(stream.data(), stream.size()); }

std::vector<std::string> Names(const XlsDocument& doc) {
    std::vector<std::string> names;
    for (size_t k = 0; k < doc.SheetCount(); ++k) names.push_back(doc.GetSheetName(k));
    return names;
}

const SheetCell& At(XlsDocument& doc, size_t sheet, size_t r, size_t c) {
    static const SheetCell none;
    const SheetCell* cell = doc.GetSheet(sheet)->CellAt(r, c);
    return cell != nullptr ? *cell : none;
}

// The double form of s with the scaled bit: the value s / 100.
std::uint32_t ScaledRk(double s) {
    std::uint64_t bits;
    std::memcpy(&bits, &s, sizeof bits);
    return static_cast<std::uint32_t>(bits >> 32) | 1u;
}

}  // namespace

TEST(XlsLoad, EveryCellKind) {
    const std::uint32_t rk150Scaled = CompoundFiles::XlsBiff::IntegerToRk(150) | 1u;
    const Bytes cells = Join(
        {RowRecord(7), RowRecord(9),
         MulRkRecord(7, 2,
                     {CompoundFiles::XlsBiff::IntegerToRk(5), CompoundFiles::XlsBiff::DoubleToRk(2.5), ScaledRk(57.0)}),
         RkRecord(9, 0, rk150Scaled), BoolErrRecord(9, 1, 1, 0), BoolErrRecord(9, 2, 0x07, 1), LabelSstRecord(9, 3, 1),
         LabelSstRecord(9, 4, 7), NumberRecord(9, 5, -1e-300)});
    const Bytes stream = Stream({{"S", 0, 0}}, {Worksheet(10, 6, cells)}, Sst({"zero", "one"}));
    XlsDocument doc;
    ASSERT_TRUE(Load(doc, stream));
    ASSERT_EQ(Names(doc), std::vector<std::string>({"S"}));
    XlsSheet& s = *doc.GetSheet(size_t{0});
    EXPECT_EQ(s.RowCount(), 10u);
    EXPECT_EQ(s.ColumnCount(), 6u);
    EXPECT_EQ(At(doc, 0, 7, 2).Type(), SheetCell::Integer);
    EXPECT_EQ(At(doc, 0, 7, 2).GetInt(), 5);
    EXPECT_EQ(At(doc, 0, 7, 3).GetDouble(), 2.5);
    EXPECT_EQ(At(doc, 0, 7, 4).GetDouble(), 0.57);  // scaled: divided by 100
    EXPECT_EQ(At(doc, 0, 7, 1).Type(), SheetCell::Empty);
    EXPECT_EQ(At(doc, 0, 7, 5).Type(), SheetCell::Empty);
    EXPECT_EQ(At(doc, 0, 9, 0).Type(), SheetCell::Real);
    EXPECT_EQ(At(doc, 0, 9, 0).GetDouble(), 1.5);
    EXPECT_EQ(At(doc, 0, 9, 1).Type(), SheetCell::Boolean);
    EXPECT_EQ(At(doc, 0, 9, 1).GetInt(), 1);
    EXPECT_EQ(At(doc, 0, 9, 2).Type(), SheetCell::Error);
    EXPECT_EQ(At(doc, 0, 9, 2).ErrorCode(), SheetCell::ErrorDivZero);
    EXPECT_STREQ(At(doc, 0, 9, 3).GetText(), "one");
    EXPECT_EQ(At(doc, 0, 9, 4).Type(), SheetCell::Empty);  // index names no string
    EXPECT_EQ(At(doc, 0, 9, 5).GetDouble(), -1e-300);
}

TEST(XlsLoad, TableGrowsForCellsOutsideTheDimensions) {
    const Bytes cells = Join({RowRecord(50), NumberRecord(50, 7, 3.0), NumberRecord(50, 300, 4.0)});
    XlsDocument doc;
    ASSERT_TRUE(Load(doc, Stream({{"S", 0, 0}}, {Worksheet(2, 2, cells)}, Sst({}))));
    XlsSheet& s = *doc.GetSheet(size_t{0});
    EXPECT_EQ(s.RowCount(), 51u);
    EXPECT_EQ(s.ColumnCount(), 8u);  // column 300 lies past the sheet's limit: skipped
    EXPECT_EQ(At(doc, 0, 50, 7).GetDouble(), 3.0);
}

TEST(XlsLoad, HugeDimensionsAreCutToTheLimits) {
    XlsDocument doc;
    ASSERT_TRUE(
        Load(doc, Stream({{"S", 0, 0}}, {Worksheet(4000000000u, 60000, Join({RowRecord(1), NumberRecord(1, 1, 2.0)}))},
                         Sst({}))));
    XlsSheet& s = *doc.GetSheet(size_t{0});
    EXPECT_EQ(s.RowCount(), 65536u);
    EXPECT_EQ(s.ColumnCount(), 256u);
    EXPECT_EQ(At(doc, 0, 1, 1).GetDouble(), 2.0);
    EXPECT_EQ(At(doc, 0, 65535, 255).Type(), SheetCell::Empty);
    // Saved, the records name only the used range.
    doc.UpdateWorksheets();
    EXPECT_EQ(doc.Worksheets()[0].dimensions.lastRowPlusOne, 2u);
    EXPECT_EQ(doc.Worksheets()[0].dimensions.lastColumnPlusOne, 2u);
}

// A chart sheet between two worksheets: its entry is dropped, and the
// worksheet behind it is still read.
TEST(XlsLoad, ChartBetweenWorksheets) {
    const Bytes a = Worksheet(1, 1, Join({RowRecord(0), NumberRecord(0, 0, 1.0)}));
    const Bytes b = Worksheet(1, 1, Join({RowRecord(0), NumberRecord(0, 0, 2.0)}));
    XlsDocument doc;
    ASSERT_TRUE(Load(doc, Stream({{"A", 0, 0}, {"Chart", 2, 0}, {"B", 0, 0}}, {a, Chart(), b}, Sst({}))));
    EXPECT_EQ(Names(doc), std::vector<std::string>({"A", "B"}));
    EXPECT_EQ(doc.Globals().sheets.size(), 2u);
    EXPECT_EQ(doc.Worksheets().size(), 2u);
    EXPECT_EQ(At(doc, 0, 0, 0).GetDouble(), 1.0);
    EXPECT_EQ(At(doc, 1, 0, 0).GetDouble(), 2.0);
    EXPECT_EQ(doc.GetSheet(size_t{1})->Index(), 1u);
}

TEST(XlsLoad, EntriesAndWorksheetsWithoutTheirMatch) {
    const Bytes a = Worksheet(1, 1, Join({RowRecord(0), NumberRecord(0, 0, 1.0)}));
    const Bytes b = Worksheet(1, 1, Join({RowRecord(0), NumberRecord(0, 0, 2.0)}));
    // A chart entry pointing nowhere and a substream no entry names: dropped.
    XlsDocument doc;
    ASSERT_TRUE(Load(doc, Stream({{"A", 0, 0}, {"Lost chart", 2, UINT32_MAX}}, {a, b, a}, Sst({}))));
    EXPECT_EQ(Names(doc), std::vector<std::string>({"A"}));
    EXPECT_EQ(doc.Worksheets().size(), 1u);
    // A worksheet entry whose cells were never found: not a workbook to save over.
    EXPECT_FALSE(Load(doc, Stream({{"A", 0, 0}, {"Lost", 0, UINT32_MAX}}, {a, b}, Sst({}))));
    EXPECT_EQ(Names(doc), std::vector<std::string>({"A"}));
}

TEST(XlsLoad, RefusedStreamsLeaveTheDocumentAsItWas) {
    const Bytes sheet = Worksheet(1, 1, Join({RowRecord(0), NumberRecord(0, 0, 1.0)}));
    const Bytes good = Stream({{"A", 0, 0}}, {sheet}, Sst({"s"}));
    Bytes biff5 = good;
    biff5[5] = 0x05;                                // globals BOF version 0x0500
    Bytes truncated(good.begin(), good.end() - 4);  // the worksheet's EOF gone
    Bytes damaged = good;
    damaged[damaged.size() - 4 - 8 - 18 + 2] = 0x7F;  // the NUMBER's length, past the end
    Bytes foreignBof = Stream({{"A", 0, 0}}, {sheet}, Sst({"s"}));
    {
        // A worksheet BOF inside the globals, in front of their EOF.
        const Bytes inner = Rec(0x0809, BofData(0x0010));
        const size_t globalsEnd = Globals({{"A", 0, 0}}, Sst({"s"})).size() - 4;
        foreignBof = Stream({{"A", 0, 0}}, {sheet}, Sst({"s"}));
        foreignBof.insert(foreignBof.begin() + globalsEnd, inner.begin(), inner.end());
        // The worksheet moved back by the inserted record: its position (the
        // BOUNDSHEET data behind the 20-byte BOF and a 4-byte header) follows.
        const size_t position = 20 + 4;
        ASSERT_EQ(static_cast<unsigned char>(foreignBof[position]), globalsEnd + 4);
        foreignBof[position] = static_cast<char>(globalsEnd + 4 + inner.size());
    }
    const std::vector<Bytes> refused = {
        Bytes(),                                 // nothing
        sheet,                                   // no globals in front
        biff5,                                   // not BIFF8
        Bytes(good.begin(), good.begin() + 10),  // cut inside the globals
        truncated,
        damaged,
        foreignBof,
    };
    XlsDocument doc;
    doc.New(2);
    doc.GetSheet(size_t{0})->Cell(0, 0)->SetText("kept");
    for (size_t k = 0; k < refused.size(); ++k) {
        EXPECT_FALSE(Load(doc, refused[k])) << k;
        EXPECT_EQ(Names(doc), std::vector<std::string>({"Sheet1", "Sheet2"})) << k;
        EXPECT_STREQ(At(doc, 0, 0, 0).GetText(), "kept") << k;
    }
    EXPECT_TRUE(Load(doc, good));
    EXPECT_EQ(Names(doc), std::vector<std::string>({"A"}));
    // Bytes behind the last substream that are no BOF end the reading.
    Bytes padded = good;
    padded.insert(padded.end(), 600, 0);
    EXPECT_TRUE(Load(doc, padded));
    EXPECT_EQ(Names(doc), std::vector<std::string>({"A"}));
}
