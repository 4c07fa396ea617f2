// Cell records and the records that travel with FORMULA.
#include <gtest/gtest.h>

#include "tests/workbook/sheet_bytes.h"
#include "workbook/rk_codec.h"
#include "workbook/worksheet.h"

using namespace CompoundFiles::XlsBiff;
using namespace sheet_bytes;
using CellBlock = Worksheet::CellTable::RowBlock::CellBlock;
using Formula = CellBlock::Formula;

namespace {

Bytes Written(Record& r) {
    Bytes out(r.RecordSize() + 8, 'x');
    const size_t n = r.Write(out.data());
    EXPECT_EQ(n, r.RecordSize());
    EXPECT_EQ(out[n], 'x');  // nothing past the announced size
    out.resize(n);
    return out;
}

// A buffer that ends with an EOF record, as every cell is followed by one.
Bytes WithEof(const Bytes& b) { return Join({b, Rec(0x000A, {})}); }

size_t ReadAll(Record& r, const Bytes& b) { return r.Read(b.data(), b.data() + b.size()); }

Bytes FormulaData(unsigned row, unsigned col, const Bytes& tokens) {
    Bytes d;
    Put16(d, row);
    Put16(d, col);
    Put16(d, 15);
    for (int i = 0; i < 8; ++i) d.push_back(static_cast<char>(0x10 + i));  // cached result
    Put16(d, 0x0008);                                                      // options
    Put16(d, 0xBEEF);                                                      // the two bytes at 16
    d.insert(d.end(), tokens.begin(), tokens.end());
    return d;
}

}  // namespace

TEST(CellRecords, NumberBytesForOnePointFive) {
    CellBlock::Number n;
    n.row = 2;
    n.column = 5;
    n.xfIndex = 15;
    n.value = 1.5;
    const Bytes out = Written(n);
    const Bytes expected = Rec(0x0203, {2, 0, 5, 0, 15, 0, 0, 0, 0, 0, 0, 0, '\xF8', '\x3F'});
    EXPECT_EQ(out, expected);

    CellBlock::Number back;
    EXPECT_EQ(ReadAll(back, WithEof(out)), 18u);
    EXPECT_EQ(back.value, 1.5);
    EXPECT_EQ(back.row, 2);
    EXPECT_EQ(back.column, 5);
    EXPECT_EQ(back.xfIndex, 15);

    // A record read from a file and changed writes its new fields, as a
    // fresh one does.
    back.value = -2.0;
    back.row = 3;
    n.value = -2.0;
    n.row = 3;
    EXPECT_EQ(Written(back), Written(n));
    EXPECT_EQ(Written(back)[4], 3);

    // Bytes past the fields of a longer record read from a file stay.
    Bytes longer = Rec(0x0203, Filled(16, 1));
    CellBlock::Number extra;
    EXPECT_EQ(ReadAll(extra, longer), longer.size());
    EXPECT_EQ(Written(extra), longer);
}

TEST(CellRecords, FixedRecordsRoundTripAndRefuseShortData) {
    CellBlock::RK rk;
    rk.row = 7;
    rk.column = 300;
    rk.rk = IntegerToRk(-12345);
    CellBlock::RK rkBack;
    EXPECT_EQ(ReadAll(rkBack, Written(rk)), 14u);
    EXPECT_EQ(rkBack.column, 300);
    EXPECT_EQ(RkToInteger(rkBack.rk), -12345);

    CellBlock::LabelSST label;
    label.sstIndex = 0x1234567890ull;  // only the low 32 bits reach the file
    CellBlock::LabelSST labelBack;
    EXPECT_EQ(ReadAll(labelBack, Written(label)), 14u);
    EXPECT_EQ(labelBack.sstIndex, 0x34567890ull);

    CellBlock::BoolErr be;
    be.value = 0x2A;
    be.isError = 1;
    CellBlock::BoolErr beBack;
    EXPECT_EQ(ReadAll(beBack, Written(be)), 12u);
    EXPECT_EQ(beBack.value, 0x2A);
    EXPECT_EQ(beBack.isError, 1);

    // One byte short of the fixed fields: damaged, not read past.
    CellBlock::Number shortNumber;
    EXPECT_EQ(ReadAll(shortNumber, Rec(0x0203, Filled(13, 1))), 0u);
    CellBlock::Blank shortBlank;
    EXPECT_EQ(ReadAll(shortBlank, Rec(0x0201, Filled(5, 1))), 0u);
    // A length that runs past the buffer.
    Bytes cut = Rec(0x027E, Filled(10, 1));
    cut.resize(cut.size() - 1);
    CellBlock::RK cutRk;
    EXPECT_EQ(ReadAll(cutRk, cut), 0u);
}

TEST(CellRecords, MulRkForRowThreeColumnsOneToThree) {
    CellBlock::MulRK m;
    m.row = 3;
    m.firstColumn = 1;
    m.lastColumn = 3;
    for (int v : {10, 20, 30}) {
        CellBlock::MulRK::XFRK e;
        e.xfIndex = 15;
        e.rk = IntegerToRk(v);
        m.entries.push_back(e);
    }
    EXPECT_EQ(m.DataSize(), 24u);
    EXPECT_EQ(m.RecordSize(), 28u);
    const Bytes out = Written(m);
    ASSERT_EQ(out.size(), 28u);
    EXPECT_EQ(U16At(out, 26), 3u);  // last column
    EXPECT_EQ(U16At(out, 8), 15u);  // first XF
    EXPECT_EQ(U16At(out, 10), IntegerToRk(10) & 0xFFFF);

    CellBlock::MulRK back;
    EXPECT_EQ(ReadAll(back, WithEof(out)), 28u);
    ASSERT_EQ(back.entries.size(), 3u);
    EXPECT_EQ(RkToInteger(back.entries[2].rk), 30);
    EXPECT_EQ(back.firstColumn, 1);
    EXPECT_EQ(back.lastColumn, 3);
}

TEST(CellRecords, MulBlankOverOneColumnAndDisagreeingRuns) {
    Bytes one;
    Put16(one, 4);   // row
    Put16(one, 9);   // first column
    Put16(one, 21);  // XF
    Put16(one, 9);   // last column
    CellBlock::MulBlank mb;
    EXPECT_EQ(ReadAll(mb, WithEof(Rec(0x00BE, one))), 12u);
    ASSERT_EQ(mb.xfIndices.size(), 1u);
    EXPECT_EQ(mb.xfIndices[0], 21);
    EXPECT_EQ(Written(mb), Rec(0x00BE, one));

    // Column range says three, data holds one: damaged, nothing invented.
    Bytes wrong = one;
    wrong[6] = 11;
    CellBlock::MulBlank mb2;
    EXPECT_EQ(ReadAll(mb2, WithEof(Rec(0x00BE, wrong))), 0u);
    // Last before first.
    Bytes reversed;
    Put16(reversed, 0);
    Put16(reversed, 5);
    Put16(reversed, 0);
    Put16(reversed, 4);
    CellBlock::MulBlank mb3;
    EXPECT_EQ(ReadAll(mb3, WithEof(Rec(0x00BE, reversed))), 0u);
    // A MULRK one byte longer than its run.
    Bytes rkRun;
    Put16(rkRun, 0);
    Put16(rkRun, 0);
    Put16(rkRun, 0);
    Put32(rkRun, 2);
    rkRun.push_back(0);
    Put16(rkRun, 0);
    CellBlock::MulRK mr;
    EXPECT_EQ(ReadAll(mr, WithEof(Rec(0x00BD, rkRun))), 0u);
    CellBlock::MulRK tiny;
    EXPECT_EQ(ReadAll(tiny, WithEof(Rec(0x00BD, Filled(4, 0)))), 0u);
}

TEST(CellRecords, FormulaAloneAndWithAttachedRecords) {
    const Bytes tokens = {3, 0, 0x1E, 7, 0};
    const Bytes formula = Rec(0x0006, FormulaData(1, 2, tokens));
    const size_t d = 18 + tokens.size();

    Formula alone;
    EXPECT_EQ(ReadAll(alone, WithEof(formula)), d + 4);
    EXPECT_EQ(alone.attachedCode, 0xFFFF);
    EXPECT_EQ(alone.RecordSize(), d + 4);
    EXPECT_EQ(Written(alone), formula);  // same data bytes back

    Bytes arrayData = {0, 0, 1, 0, 2, 3, 0, 0, 0, 0, 0, 0};
    const Bytes arrayTokens = {9, 8, 7};
    arrayData.insert(arrayData.end(), arrayTokens.begin(), arrayTokens.end());
    const Bytes array = Rec(0x0221, arrayData);
    Formula withArray;
    EXPECT_EQ(ReadAll(withArray, WithEof(Join({formula, array}))), d + 4 + 16 + 3);
    EXPECT_EQ(withArray.attachedCode, 0x0221);
    EXPECT_EQ(withArray.array.lastRow, 1);
    EXPECT_EQ(withArray.array.lastColumn, 3);
    EXPECT_EQ(withArray.array.formulaBytes, arrayTokens);

    const Bytes string = Rec(0x0207, {'a', 0, 'b', 0, 'c', 0});
    const Bytes all = Join({formula, array, string});
    Formula full;
    EXPECT_EQ(ReadAll(full, WithEof(all)), all.size());
    EXPECT_EQ(full.RecordSize(), all.size());
    EXPECT_EQ(full.string.text, (std::vector<std::uint16_t>{'a', 'b', 'c'}));
    EXPECT_EQ(Written(full), all);

    // SHRFMLA under both codes, each with its own class.
    for (unsigned code : {0x00BCu, 0x04BCu}) {
        const Bytes shr = Rec(code, {0, 0, 5, 0, 0, 1, 0, 2, 0x44});
        Formula f;
        EXPECT_EQ(ReadAll(f, WithEof(Join({formula, shr}))), d + 4 + shr.size());
        EXPECT_EQ(f.attachedCode, code);
        EXPECT_EQ(Written(f), Join({formula, shr}));
    }
}

TEST(CellRecords, OnlyCode0036IsTakenAsTable) {
    const Bytes formula = Rec(0x0006, FormulaData(0, 0, {}));
    const Bytes tableData = Filled(16, 3);

    Formula biff8Table;  // 0x0236 is another record, left for the row block
    EXPECT_EQ(ReadAll(biff8Table, WithEof(Join({formula, Rec(0x0236, tableData)}))), 22u);
    EXPECT_EQ(biff8Table.attachedCode, 0xFFFF);

    Formula table;
    const Bytes both = Join({formula, Rec(0x0036, tableData)});
    EXPECT_EQ(ReadAll(table, WithEof(both)), 42u);
    EXPECT_EQ(table.attachedCode, 0x0036);
    EXPECT_EQ(table.table.columnInputColumn, 0x0303);
    EXPECT_EQ(Written(table), both);
}

TEST(CellRecords, StringRecordLengths) {
    Formula::String s;
    EXPECT_EQ(ReadAll(s, WithEof(Rec(0x0207, {'x', 0, 'y', 0, 'z', 0}))), 10u);
    EXPECT_EQ(s.text.size(), 3u);
    EXPECT_EQ(s.RecordSize(), 10u);

    // A counted BIFF8 string of odd length: covered whole and written back.
    const Bytes odd = Rec(0x0207, {4, 0, 0, 'a', 'b', 'c', 'd'});
    Formula::String o;
    EXPECT_EQ(ReadAll(o, WithEof(odd)), 11u);
    EXPECT_EQ(o.RecordSize(), 11u);
    EXPECT_EQ(Written(o), odd);

    // Behind a FORMULA the reported size must land on the next record.
    const Bytes formula = Rec(0x0006, FormulaData(0, 0, {1}));
    const Bytes pair = Join({formula, odd});
    Formula f;
    EXPECT_EQ(ReadAll(f, WithEof(pair)), pair.size());
    EXPECT_EQ(f.RecordSize(), pair.size());
    EXPECT_EQ(Written(f), pair);

    // An empty STRING is passed over but not written again.
    Formula withEmpty;
    EXPECT_EQ(ReadAll(withEmpty, WithEof(Join({formula, Rec(0x0207, {})}))), formula.size() + 4);
    EXPECT_EQ(Written(withEmpty), formula);
}

TEST(CellRecords, FormulaLongerThanOnePieceFindsWhatFollows) {
    // The attached record sits behind the CONTINUE piece, not at data size + 4.
    const Bytes head = Rec(0x0006, FormulaData(0, 0, Filled(100, 1)));
    const Bytes cont = Rec(0x003C, Filled(30, 2));
    const Bytes string = Rec(0x0207, {'q', 0});
    const Bytes all = Join({head, cont, string});
    Formula f;
    EXPECT_EQ(ReadAll(f, WithEof(all)), all.size());
    EXPECT_EQ(f.formulaBytes.size(), 130u);
    EXPECT_EQ(f.string.text.size(), 1u);
    EXPECT_EQ(f.RecordSize(), all.size());
    EXPECT_EQ(Written(f), all);
}

TEST(CellRecords, FormulaWithDamagedCompanionsIsRefused) {
    const Bytes formula = Rec(0x0006, FormulaData(0, 0, {}));
    Formula shortFormula;
    EXPECT_EQ(ReadAll(shortFormula, WithEof(Rec(0x0006, Filled(17, 0)))), 0u);
    Formula shortArray;
    EXPECT_EQ(ReadAll(shortArray, WithEof(Join({formula, Rec(0x0221, Filled(11, 0))}))), 0u);
    Bytes cutString = Join({formula, Rec(0x0207, Filled(8, 0))});
    cutString.resize(cutString.size() - 2);
    Formula f;
    EXPECT_EQ(ReadAll(f, cutString), 0u);
    // A FORMULA that ends the buffer has nothing behind it.
    Formula last;
    EXPECT_EQ(ReadAll(last, formula), formula.size());
}

TEST(CellRecords, CellBlockDispatchAndForeignKinds) {
    CellBlock b;
    EXPECT_EQ(b.Kind(), 0xFFFF);
    EXPECT_EQ(b.flag, 1);
    EXPECT_EQ(b.DataSize(), 0u);
    EXPECT_EQ(b.RecordSize(), 0u);
    EXPECT_EQ(b.RowIndex(), 0);
    EXPECT_EQ(b.ColumnIndex(), 0);
    char sink[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(b.Write(sink), 0u);
    EXPECT_EQ(sink[0], 'x');

    const Bytes window2 = WithEof(Rec(0x023E, Filled(18, 0)));
    EXPECT_EQ(b.Read(window2.data(), window2.data() + window2.size()), 0u);
    EXPECT_EQ(b.Kind(), 0x023E);
    EXPECT_EQ(b.RecordSize(), 0u);

    Bytes mulrk;
    Put16(mulrk, 7);
    Put16(mulrk, 2);
    for (int i = 0; i < 3; ++i) {
        Put16(mulrk, 0);
        Put32(mulrk, IntegerToRk(i));
    }
    Put16(mulrk, 4);
    const Bytes rec = WithEof(Rec(0x00BD, mulrk));
    CellBlock m;
    EXPECT_EQ(m.Read(rec.data(), rec.data() + rec.size()), 28u);
    EXPECT_EQ(m.Kind(), 0x00BD);
    EXPECT_EQ(m.RowIndex(), 7);
    EXPECT_EQ(m.ColumnIndex(), 2);
    EXPECT_EQ(m.RecordSize(), 28u);
}
