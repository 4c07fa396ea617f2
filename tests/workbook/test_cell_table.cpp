// Row blocks and the cell table.
#include <gtest/gtest.h>

#include <utility>
#include <variant>
#include <vector>

#include "tests/workbook/sheet_bytes.h"
#include "workbook/worksheet.h"

using namespace CompoundFiles::XlsBiff;
using namespace sheet_bytes;
using CellTable = Worksheet::CellTable;
using RowBlock = CellTable::RowBlock;
using CellBlock = RowBlock::CellBlock;

namespace {

template <typename T>
size_t ReadAll(T& t, const Bytes& b) {
    return t.Read(b.data(), b.data() + b.size());
}

template <typename T>
Bytes Written(T& t) {
    Bytes out(t.DataSize() + 8, 'x');
    const size_t n = t.Write(out.data());
    EXPECT_EQ(n, t.DataSize());
    EXPECT_EQ(out[n], 'x');
    out.resize(n);
    return out;
}

// A cell block's bytes; its DataSize is that of the record's data alone.
Bytes BlockBytes(CellBlock& c) {
    Bytes out(c.RecordSize() + 8, 'x');
    const size_t n = c.Write(out.data());
    EXPECT_EQ(n, c.RecordSize());
    EXPECT_EQ(out[n], 'x');
    out.resize(n);
    return out;
}

const Bytes kWindow2 = Rec(0x023E, Filled(18, 0));
const Bytes kEof = Rec(0x000A, {});

// ROW, NUMBER, DBCELL with one offset: 20 + 18 + 10 bytes.
Bytes OneRowBlock(unsigned row, double v) {
    return Join(
        {Rec(0x0208, RowData(row, 0, 1)), Rec(0x0203, NumberData(row, 0, v)), Rec(0x00D7, DbCellData(38, {20}))});
}

}  // namespace

TEST(CellTable, FortyEightByteRowBlock) {
    const Bytes block = OneRowBlock(4, 2.5);
    ASSERT_EQ(block.size(), 48u);
    RowBlock b;
    EXPECT_EQ(ReadAll(b, Join({block, kWindow2})), 48u);
    ASSERT_EQ(b.rows.size(), 1u);
    ASSERT_EQ(b.cells.size(), 1u);
    EXPECT_EQ(b.rows[0].row, 4);
    EXPECT_EQ(b.rows[0].height, 255);
    EXPECT_EQ(b.cells[0].Kind(), 0x0203);
    EXPECT_EQ(b.cells[0].As<CellBlock::Number>().value, 2.5);
    EXPECT_EQ(b.dbCell.firstRowOffset, 38u);
    ASSERT_EQ(b.dbCell.cellOffsets.size(), 1u);
    EXPECT_EQ(b.dbCell.cellOffsets[0], 20);
    EXPECT_EQ(b.DataSize(), 48u);
    EXPECT_EQ(Written(b), block);
}

TEST(CellTable, EmptyRowBlockIsItsDbCell) {
    RowBlock b;
    EXPECT_EQ(b.DataSize(), 8u);
    EXPECT_EQ(Written(b), Rec(0x00D7, {0, 0, 0, 0}));
}

TEST(CellTable, ForeignRecordInsideBlockIsDropped) {
    const Bytes row = Rec(0x0208, RowData(0, 0, 3));
    const Bytes n1 = Rec(0x0203, NumberData(0, 0, 1.0));
    const Bytes n2 = Rec(0x0203, NumberData(0, 2, 3.0));
    const Bytes dbcell = Rec(0x00D7, DbCellData(0, {20}));
    // A TABLE under its BIFF8 code, with a CONTINUE piece behind it.
    const Bytes table = Join({Rec(0x0236, Filled(16, 1)), Rec(0x003C, Filled(5, 2))});
    const Bytes in = Join({row, n1, table, n2, dbcell});
    RowBlock b;
    EXPECT_EQ(ReadAll(b, Join({in, kEof})), in.size());
    ASSERT_EQ(b.cells.size(), 2u);
    EXPECT_EQ(b.cells[1].As<CellBlock::Number>().value, 3.0);
    EXPECT_EQ(Written(b), Join({row, n1, n2, dbcell}));
}

TEST(CellTable, TwoRowBlocksThenWindow2EndsTheTable) {
    const Bytes blocks = Join({OneRowBlock(0, 1.0), OneRowBlock(32, 2.0)});
    CellTable t;
    EXPECT_EQ(ReadAll(t, Join({blocks, kWindow2, kEof})), 96u);
    ASSERT_EQ(t.rowBlocks.size(), 2u);
    EXPECT_EQ(t.rowBlocks[1].rows[0].row, 32);
    EXPECT_EQ(t.rowBlocks[1].cells[0].RowIndex(), 32);
    EXPECT_EQ(t.DataSize(), 96u);
    EXPECT_EQ(Written(t), blocks);

    // A later run appends behind the blocks already held.
    const Bytes third = OneRowBlock(64, 3.0);
    EXPECT_EQ(ReadAll(t, Join({third, kEof})), 48u);
    ASSERT_EQ(t.rowBlocks.size(), 3u);
    EXPECT_EQ(t.rowBlocks[2].rows[0].row, 64);
}

TEST(CellTable, NothingToReadWithoutRow) {
    CellTable t;
    EXPECT_EQ(ReadAll(t, Join({kWindow2, kEof})), 0u);
    EXPECT_TRUE(t.rowBlocks.empty());
    EXPECT_EQ(ReadAll(t, Bytes()), 0u);
    EXPECT_EQ(t.DataSize(), 0u);
}

TEST(CellTable, BlockWithoutDbCell) {
    // The buffer ends inside the block: damaged, and the block is not kept.
    const Bytes open = Join({Rec(0x0208, RowData(0, 0, 1)), Rec(0x0203, NumberData(0, 0, 1.0))});
    CellTable t;
    EXPECT_EQ(ReadAll(t, open), 0u);
    EXPECT_TRUE(t.rowBlocks.empty());

    // The sheet's EOF comes first: the block ends there, EOF left to the sheet.
    CellTable u;
    EXPECT_EQ(ReadAll(u, Join({open, kEof})), open.size());
    ASSERT_EQ(u.rowBlocks.size(), 1u);
    EXPECT_EQ(u.rowBlocks[0].cells.size(), 1u);
}

TEST(CellTable, DamagedRecordsInsideBlock) {
    const Bytes row = Rec(0x0208, RowData(0, 0, 1));
    const Bytes dbcell = Rec(0x00D7, DbCellData(0, {}));
    RowBlock shortRow;
    EXPECT_EQ(ReadAll(shortRow, Join({Rec(0x0208, Filled(15, 0)), dbcell})), 0u);
    RowBlock shortDb;
    EXPECT_EQ(ReadAll(shortDb, Join({row, Rec(0x00D7, Filled(3, 0)), kEof})), 0u);
    RowBlock shortCell;
    EXPECT_EQ(ReadAll(shortCell, Join({row, Rec(0x027E, Filled(9, 0)), dbcell})), 0u);
    // A DBCELL with an odd byte behind its offsets: covered, offsets whole.
    RowBlock oddDb;
    const Bytes odd = Join({row, Rec(0x00D7, {0, 0, 0, 0, 5, 0, 9})});
    EXPECT_EQ(ReadAll(oddDb, Join({odd, kEof})), odd.size());
    EXPECT_EQ(oddDb.dbCell.cellOffsets, (std::vector<std::uint16_t>{5}));
}

TEST(CellTable, BlockHoldsOnlyItsOwnRecord) {
    // Whole sheets of cell blocks are built before saving: a block must cost
    // about one small record, not one of each kind.
    EXPECT_LT(sizeof(CellBlock), 2 * sizeof(CellBlock::Number));

    CellBlock b;
    CellBlock::Number& n = b.Hold<CellBlock::Number>();
    n.row = 3, n.column = 4, n.value = 0.1;
    EXPECT_EQ(b.Kind(), 0x0203);
    EXPECT_EQ(b.RowIndex(), 3);
    EXPECT_EQ(b.ColumnIndex(), 4);
    EXPECT_EQ(BlockBytes(b), Rec(0x0203, NumberData(3, 4, 0.1)));
    EXPECT_THROW(b.As<CellBlock::RK>(), std::bad_variant_access);

    // Another kind replaces the record whole.
    CellBlock::MulRK& m = b.Hold<CellBlock::MulRK>();
    EXPECT_EQ(b.Kind(), 0x00BD);
    EXPECT_TRUE(m.entries.empty());
    EXPECT_THROW(b.As<CellBlock::Number>(), std::bad_variant_access);
}

TEST(CellTable, FormulaBlocksCopyDeepAndMoveOut) {
    CellBlock f;
    CellBlock::Formula& formula = f.Hold<CellBlock::Formula>();
    formula.row = 2, formula.column = 1;
    formula.formulaBytes = {3, 0, 0x1E, 12, 0};
    formula.string.text = {'o', 'k'};
    const Bytes bytes = BlockBytes(f);

    CellBlock copy = f;
    copy.As<CellBlock::Formula>().string.text = {'n', 'o', 'w'};
    EXPECT_EQ(BlockBytes(f), bytes);  // the original keeps its own records

    std::vector<CellBlock> cells;
    cells.push_back(std::move(f));
    // A block moved from is left as constructed, never with a dangling record.
    EXPECT_EQ(f.Kind(), 0xFFFF);
    EXPECT_EQ(f.RecordSize(), 0u);
    for (int i = 0; i < 100; ++i) cells.push_back(copy);  // the list moves its blocks
    EXPECT_EQ(BlockBytes(cells[0]), bytes);
    EXPECT_EQ(cells[100].As<CellBlock::Formula>().string.text, copy.As<CellBlock::Formula>().string.text);
}

TEST(CellTable, ReadingClaimsRoomOnlyForWhatItReads) {
    // Room is never reserved on the strength of a ROW record: a few bytes of
    // input must not cost megabytes. Three blocks of 1, 0 and 5 cells.
    Bytes five = Rec(0x0208, RowData(64, 0, 5));
    for (unsigned c = 0; c < 5; ++c) five = Join({five, Rec(0x0203, NumberData(64, c, c + 0.5))});
    five = Join({five, Rec(0x00D7, DbCellData(0, {20}))});
    const Bytes empty = Join({Rec(0x0208, RowData(32, 0, 0)), Rec(0x00D7, DbCellData(0, {}))});
    const Bytes in = Join({OneRowBlock(0, 1.0), empty, five});
    CellTable t;
    ASSERT_EQ(ReadAll(t, Join({in, kEof})), in.size());
    ASSERT_EQ(t.rowBlocks.size(), 3u);
    EXPECT_LE(t.rowBlocks.capacity(), 2 * t.rowBlocks.size());
    const size_t expected[] = {1, 0, 5};
    for (size_t k = 0; k < 3; ++k) {
        const RowBlock& block = t.rowBlocks[k];
        EXPECT_EQ(block.cells.size(), expected[k]);
        EXPECT_LE(block.cells.capacity(), 2 * block.cells.size()) << "block " << k;
    }
    EXPECT_EQ(Written(t), in);
}
