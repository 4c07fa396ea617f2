// Records other writers use that a saved workbook must carry on: cells
// outside row blocks, LABEL, RSTRING, Booleans and errors, formula results,
// formats and the date system;
// and the encrypted workbook that must be refused.
#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

#include "tests/workbook/xls_stream_bytes.h"
#include "workbook/xls_document.h"

using CompoundFiles::SheetCell;
using CompoundFiles::XlsDocument;
using namespace xls_bytes;

namespace {

Bytes WithXf(unsigned row, unsigned column, unsigned xf) {
    Bytes d;
    Put16(d, row);
    Put16(d, column);
    Put16(d, xf);
    return d;
}

// LABEL: cell fields and a long string (8-bit, or 16-bit when wide).
Bytes LabelRecord(unsigned row, unsigned column, unsigned xf, const std::wstring& text, bool wide) {
    Bytes d = WithXf(row, column, xf);
    Put16(d, static_cast<unsigned>(text.size()));
    d.push_back(wide ? 1 : 0);
    for (wchar_t c : text) {
        if (wide)
            Put16(d, static_cast<unsigned>(c));
        else
            d.push_back(static_cast<char>(c));
    }
    return Rec(0x0204, d);
}

// FORMULA with the cached result bytes given, and a one-token formula.
Bytes FormulaRecord(unsigned row, unsigned column, unsigned xf, const Bytes& result) {
    Bytes d = WithXf(row, column, xf);
    d.insert(d.end(), result.begin(), result.end());
    Put16(d, 0);  // options
    Put32(d, 0);  // reserved
    Put16(d, 1);  // formula size
    d.push_back(0x1D);
    return Rec(0x0006, d);
}

Bytes Special(unsigned type, unsigned value) {
    return {static_cast<char>(type), 0, static_cast<char>(value), 0, 0, 0, '\xFF', '\xFF'};
}

Bytes NumberBytes(double v) {
    Bytes d;
    PutDouble(d, v);
    return d;
}

// A stream: globals with the given records after the BOF, one worksheet.
Bytes OneSheetStream(const Bytes& globalsRecords, const Bytes& sheetRecords, const Bytes& sst) {
    auto globals = [&](std::uint32_t position) {
        return Join(
            {Rec(0x0809, BofData(0x0005)), globalsRecords, BoundSheet({"Data", 0, position}), sst, Rec(0x000A, {})});
    };
    const Bytes g = globals(0);
    const Bytes sheet = Join({Rec(0x0809, BofData(0x0010)), Dimensions(1, 1), sheetRecords, Rec(0x000A, {})});
    return Join({globals(static_cast<std::uint32_t>(g.size())), sheet});
}

Bytes Saved(XlsDocument& doc) {
    doc.UpdateWorksheets();
    doc.UpdatePositions();
    Bytes out(doc.StreamSize());
    EXPECT_EQ(doc.WriteStream(out.data()), out.size());
    return out;
}

}  // namespace

TEST(ForeignRecords, CellsFormatsAndResultsSurviveASave) {
    Bytes formatData;
    Put16(formatData, 164);
    Put16(formatData, 5);
    formatData.push_back(0);
    for (char c : std::string("0.000")) formatData.push_back(c);
    const Bytes globals = Join({Rec(0x0022, {1, 0}), Rec(0x041E, formatData)});
    Bytes stringResult;
    Put16(stringResult, 2);
    stringResult.push_back(1);
    Put16(stringResult, 0x3A9);
    Put16(stringResult, 'k');
    const Bytes sheet = Join({
        // No ROW records: the cells stand directly in the sheet.
        Rec(0x0203,
            [] {
                Bytes d = WithXf(0, 0, 17);
                PutDouble(d, 3.25);
                return d;
            }()),
        LabelRecord(0, 1, 18, L"caf\u00e9", false),
        Rec(0x00FD,
            [] {
                Bytes d = WithXf(1, 0, 19);
                Put32(d, 0);
                return d;
            }()),
        // A row block holding a wide LABEL.
        RowRecord(2),
        LabelRecord(2, 0, 20, L"\u0414a", true),
        Rec(0x00D7, DbCellData(0, {})),
        // Formula results: a number, a text in the STRING record, a Boolean,
        // an error.
        FormulaRecord(3, 0, 21, NumberBytes(2.469)),
        FormulaRecord(3, 1, 17, Special(0, 0)),
        Rec(0x0207, stringResult),
        FormulaRecord(3, 2, 18, Special(1, 1)),
        FormulaRecord(3, 3, 19, Special(2, 0x07)),
        // Boolean and error cells, and a text with formatting runs.
        Rec(0x0205,
            [] {
                Bytes d = WithXf(4, 0, 20);
                d.push_back(0);
                d.push_back(0);
                return d;
            }()),
        Rec(0x0205,
            [] {
                Bytes d = WithXf(4, 1, 21);
                d.push_back(0x2A);
                d.push_back(1);
                return d;
            }()),
        Rec(0x00D6,
            [] {
                Bytes d = WithXf(4, 2, 17);
                Put16(d, 5);
                d.push_back(0);
                for (char c : std::string("Au-17")) d.push_back(c);
                Put16(d, 1);  // one run: from character 2 in font 1
                Put16(d, 2);
                Put16(d, 1);
                return d;
            }()),
    });
    const Bytes stream = OneSheetStream(globals, sheet, Sst({"shared"}));

    XlsDocument doc;
    ASSERT_TRUE(doc.LoadStream(stream.data(), stream.size()));
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass);
        CompoundFiles::XlsSheet& s = *doc.GetSheet(size_t{0});
        auto at = [&](size_t r, size_t c) -> const SheetCell& {
            static const SheetCell none;
            const SheetCell* cell = s.CellAt(r, c);
            return cell != nullptr ? *cell : none;
        };
        EXPECT_EQ(at(0, 0).GetDouble(), 3.25);
        EXPECT_EQ(at(0, 0).XfIndex(), 17);
        EXPECT_STREQ(at(0, 1).GetText(), "caf\xe9");  // 8-bit text is Latin-1
        EXPECT_EQ(at(0, 1).XfIndex(), 18);
        EXPECT_STREQ(at(1, 0).GetText(), "shared");
        EXPECT_EQ(at(1, 0).XfIndex(), 19);
        ASSERT_NE(at(2, 0).GetWideText(), nullptr);
        EXPECT_STREQ(at(2, 0).GetWideText(), L"\u0414a");
        EXPECT_EQ(at(2, 0).XfIndex(), 20);
        EXPECT_EQ(at(3, 0).GetDouble(), 2.469);
        EXPECT_EQ(at(3, 0).XfIndex(), 21);
        ASSERT_NE(at(3, 1).GetWideText(), nullptr);
        EXPECT_STREQ(at(3, 1).GetWideText(), L"\u03a9k");
        EXPECT_EQ(at(3, 2).Type(), SheetCell::Boolean);
        EXPECT_EQ(at(3, 2).GetInt(), 1);
        EXPECT_EQ(at(3, 2).XfIndex(), 18);
        EXPECT_EQ(at(3, 3).Type(), SheetCell::Error);
        EXPECT_EQ(at(3, 3).ErrorCode(), SheetCell::ErrorDivZero);
        EXPECT_EQ(at(3, 3).XfIndex(), 19);
        EXPECT_EQ(at(4, 0).Type(), SheetCell::Boolean);
        EXPECT_EQ(at(4, 0).GetInt(), 0);
        EXPECT_EQ(at(4, 0).XfIndex(), 20);
        EXPECT_EQ(at(4, 1).ErrorCode(), SheetCell::ErrorNA);
        EXPECT_EQ(at(4, 1).XfIndex(), 21);
        EXPECT_STREQ(at(4, 2).GetText(), "Au-17");
        EXPECT_EQ(at(4, 2).XfIndex(), 17);
        ASSERT_EQ(doc.Globals().formats.size(), 1u);
        EXPECT_EQ(doc.Globals().formats[0].Data(), formatData);
        ASSERT_EQ(doc.Globals().dateMode.size(), 1u);
        EXPECT_EQ(doc.Globals().dateMode[0].Data(), Bytes({1, 0}));
        if (pass == 0) {
            // A cell written over gets the default format; the rest go
            // through a save and a load unchanged.
            s.Cell(0, 0)->SetReal(3.25);
            EXPECT_EQ(s.CellAt(0, 0)->XfIndex(), 0);
            s.Cell(0, 0)->SetXfIndex(17);
            const Bytes saved = Saved(doc);
            ASSERT_TRUE(doc.LoadStream(saved.data(), saved.size()));
        }
    }
}

TEST(ForeignRecords, EncryptedWorkbooksAreRefusedAsSuch) {
    Bytes filePass;
    Put16(filePass, 1);  // RC4
    filePass.resize(54, 0x5A);
    const Bytes sheet = NumberRecord(0, 0, 1.0);
    const Bytes locked = OneSheetStream(Rec(0x002F, filePass), sheet, Sst({}));
    const Bytes plain = OneSheetStream({}, sheet, Sst({}));
    XlsDocument doc;
    ASSERT_TRUE(doc.LoadStream(plain.data(), plain.size()));
    EXPECT_EQ(doc.LastLoadFailure(), XlsDocument::LoadFailure::None);
    EXPECT_FALSE(doc.LoadStream(locked.data(), locked.size()));
    EXPECT_EQ(doc.LastLoadFailure(), XlsDocument::LoadFailure::Encrypted);
    EXPECT_EQ(doc.GetSheet(size_t{0})->CellAt(0, 0)->GetDouble(), 1.0);  // the document as it was
    EXPECT_FALSE(doc.LoadStream(locked.data(), locked.size() / 2));
    EXPECT_FALSE(doc.LoadStream(plain.data(), plain.size() - 3));
    EXPECT_EQ(doc.LastLoadFailure(), XlsDocument::LoadFailure::NotReadable);
}
