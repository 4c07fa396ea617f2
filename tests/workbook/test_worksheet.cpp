// The worksheet container: sheet records, reading dispatch, writing order.
#include <gtest/gtest.h>

#include <random>

#include "tests/workbook/sheet_bytes.h"
#include "workbook/rk_codec.h"
#include "workbook/worksheet.h"

using namespace CompoundFiles::XlsBiff;
using namespace sheet_bytes;
using RowBlock = Worksheet::CellTable::RowBlock;
using CellBlock = RowBlock::CellBlock;

namespace {

template <typename T>
size_t ReadAll(T& t, const Bytes& b) {
    return t.Read(b.data(), b.data() + b.size());
}

Bytes Written(Worksheet& w) {
    Bytes out(w.DataSize() + 8, 'x');
    const size_t n = w.Write(out.data());
    EXPECT_EQ(n, w.DataSize());
    EXPECT_EQ(w.RecordSize(), w.DataSize());
    EXPECT_EQ(out[n], 'x');
    out.resize(n);
    return out;
}

Bytes IndexData(std::initializer_list<std::uint32_t> positions) {
    Bytes d;
    Put32(d, 0);
    Put32(d, 3);
    Put32(d, 40);
    Put32(d, 0x77);
    for (std::uint32_t p : positions) Put32(d, p);
    return d;
}

Bytes DimensionsData(std::uint32_t r0, std::uint32_t r1, unsigned c0, unsigned c1) {
    Bytes d;
    Put32(d, r0);
    Put32(d, r1);
    Put16(d, c0);
    Put16(d, c1);
    Put16(d, 0);
    return d;
}

Bytes Window2Data(unsigned options) {
    Bytes d;
    Put16(d, options);
    for (int i = 0; i < 5; ++i) Put16(d, i == 2 ? 64 : 0);
    Put16(d, 0);
    Put32(d, 0);
    return d;
}

const Bytes kEof = Rec(0x000A, {});

}  // namespace

TEST(Worksheet, NewWorksheetWritesEightyEightBytes) {
    Worksheet w;
    EXPECT_EQ(w.DataSize(), 88u);
    EXPECT_EQ(w.RecordSize(), 88u);
    const Bytes out = Written(w);
    ASSERT_EQ(out.size(), 88u);
    const Bytes expected = Join({Rec(0x0809, BofData(0x0010)), Rec(0x020B, Filled(20, 0)), Rec(0x0200, Filled(14, 0)),
                                 Rec(0x023E, Window2Data(0x06B6)), kEof});
    EXPECT_EQ(out, expected);

    Worksheet back;
    EXPECT_EQ(ReadAll(back, out), 88u);
    EXPECT_EQ(back.bof.type, 0x0010);
    EXPECT_EQ(back.window2.options, 0x06B6);
    EXPECT_EQ(back.index.dbCellPositions.size(), 1u);
    EXPECT_TRUE(back.cellTable.rowBlocks.empty());
    EXPECT_EQ(Written(back), out);
}

TEST(Worksheet, IndexPositions) {
    Worksheet::Index none;
    const Bytes bare = Rec(0x020B, IndexData({}));
    EXPECT_EQ(ReadAll(none, Join({bare, kEof})), 20u);
    EXPECT_TRUE(none.dbCellPositions.empty());
    EXPECT_EQ(none.RecordSize(), 20u);
    Bytes out(20);
    EXPECT_EQ(none.Write(out.data()), 20u);
    EXPECT_EQ(out, bare);

    Worksheet::Index three;
    const Bytes full = Rec(0x020B, IndexData({100, 2000, 0xFFFFFFFFu}));
    EXPECT_EQ(ReadAll(three, Join({full, kEof})), 32u);
    EXPECT_EQ(three.dbCellPositions, (std::vector<std::uint64_t>{100, 2000, 0xFFFFFFFFu}));
    EXPECT_EQ(three.firstRow, 3u);
    EXPECT_EQ(three.lastRowPlusOne, 40u);
    EXPECT_EQ(three.defColWidthPosition, 0x77u);

    // 2048 positions (65536 rows) still fit one record.
    Worksheet::Index big;
    big.dbCellPositions.assign(2048, 1);
    EXPECT_EQ(big.RecordSize(), 8212u);

    Worksheet::Index shortIndex;
    EXPECT_EQ(ReadAll(shortIndex, Rec(0x020B, Filled(15, 0))), 0u);
}

TEST(Worksheet, UnmodelledRecordsAreDroppedAndOrderIsFixed) {
    // WINDOW2 before DIMENSIONS, column widths, a long record with CONTINUE
    // pieces, and a selection: only the modelled ones come back, in order.
    const Bytes bof = Rec(0x0809, BofData(0x0010));
    const Bytes index = Rec(0x020B, IndexData({}));
    const Bytes window2 = Rec(0x023E, Window2Data(0x04B6));
    const Bytes dims = Rec(0x0200, DimensionsData(0, 5, 0, 2));
    const Bytes colinfo = Rec(0x007D, Filled(12, 1));
    const Bytes longRec = Join({Rec(0x00EC, Filled(40, 2)), Rec(0x003C, Filled(30, 3)), Rec(0x003C, Filled(2, 4))});
    const Bytes selection = Rec(0x001D, Filled(15, 5));
    const Bytes in = Join({bof, colinfo, window2, longRec, dims, index, selection, kEof});
    Worksheet w;
    EXPECT_EQ(ReadAll(w, Join({in, Rec(0x0809, BofData(0x0010))})), in.size());
    EXPECT_EQ(w.dimensions.lastRowPlusOne, 5u);
    EXPECT_EQ(w.dimensions.lastColumnPlusOne, 2);
    EXPECT_EQ(w.window2.options, 0x04B6);
    EXPECT_EQ(Written(w), Join({bof, index, dims, window2, kEof}));
}

TEST(Worksheet, NestedSubstreamIsSkippedWhole) {
    const Bytes bof = Rec(0x0809, BofData(0x0010));
    const Bytes dims = Rec(0x0200, DimensionsData(0, 9, 0, 4));
    const Bytes chart = Join({Rec(0x0809, BofData(0x0020)), Rec(0x0200, DimensionsData(0, 1000, 0, 99)),
                              Rec(0x023E, Window2Data(0x0000)), kEof});
    const Bytes window2 = Rec(0x023E, Window2Data(0x06B6));
    const Bytes in = Join({bof, dims, chart, window2, kEof});
    Worksheet w;
    EXPECT_EQ(ReadAll(w, in), in.size());
    EXPECT_EQ(w.bof.type, 0x0010);
    EXPECT_EQ(w.dimensions.lastRowPlusOne, 9u);
    EXPECT_EQ(w.window2.options, 0x06B6);
}

TEST(Worksheet, LaterRecordReplacesEarlierAndRowRunsAppend) {
    const Bytes block1 =
        Join({Rec(0x0208, RowData(0, 0, 1)), Rec(0x0203, NumberData(0, 0, 1.0)), Rec(0x00D7, DbCellData(0, {}))});
    const Bytes block2 =
        Join({Rec(0x0208, RowData(40, 0, 1)), Rec(0x0203, NumberData(40, 0, 2.0)), Rec(0x00D7, DbCellData(0, {}))});
    const Bytes in = Join({Rec(0x0809, BofData(0x0010)), Rec(0x0200, DimensionsData(0, 1, 0, 1)), block1,
                           Rec(0x0200, DimensionsData(0, 41, 0, 1)), block2, kEof});
    Worksheet w;
    EXPECT_EQ(ReadAll(w, in), in.size());
    EXPECT_EQ(w.dimensions.lastRowPlusOne, 41u);
    ASSERT_EQ(w.cellTable.rowBlocks.size(), 2u);
    EXPECT_EQ(w.cellTable.rowBlocks[1].cells[0].As<CellBlock::Number>().value, 2.0);
}

TEST(Worksheet, DamagedOrUnterminatedSubstreams) {
    const Bytes good =
        Join({Rec(0x0809, BofData(0x0010)), Rec(0x020B, IndexData({0})), Rec(0x0200, DimensionsData(0, 1, 0, 1)),
              Rec(0x0208, RowData(0, 0, 1)), Rec(0x027E, {0, 0, 0, 0, 0, 0, 2, 0, 0, 0}),
              Rec(0x00D7, DbCellData(0, {20})), Rec(0x023E, Window2Data(0x06B6)), kEof});
    Worksheet w;
    ASSERT_EQ(ReadAll(w, good), good.size());
    // Every cut short of the EOF is damaged; none reads past the cut (the
    // copy is exactly as long as the cut, for the address checker).
    for (size_t cut = 0; cut < good.size(); ++cut) {
        const Bytes part(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut));
        Worksheet v;
        EXPECT_EQ(ReadAll(v, part), 0u) << cut;
    }
    for (unsigned code : {0x0200u, 0x023Eu, 0x0809u}) {
        const Bytes in = Join({Rec(code, Filled(13, 0)), kEof});
        Worksheet v;
        EXPECT_EQ(ReadAll(v, in), 0u) << code;
    }
    // A nested substream that never ends takes the rest with it: damaged.
    const Bytes nested = Join({Rec(0x0809, BofData(0x0010)), Rec(0x0809, BofData(0x0020)), kEof});
    Worksheet v;
    EXPECT_EQ(ReadAll(v, nested), 0u);
}

namespace {

// A sheet of `rows` rows in blocks of 32 with cells of every kind, built the
// way a writer would, and the RK/number values it holds by (row, column).
Worksheet MixedSheet(unsigned rows, std::mt19937& rng) {
    Worksheet w;
    std::uniform_int_distribution<int> pick(0, 7), width(1, 6), small(-100000, 100000);
    w.cellTable.rowBlocks.resize((rows + 31) / 32);
    w.index.dbCellPositions.assign(w.cellTable.rowBlocks.size(), 0);
    w.dimensions.lastRowPlusOne = rows;
    w.dimensions.lastColumnPlusOne = 40;
    for (unsigned r = 0; r < rows; ++r) {
        RowBlock& block = w.cellTable.rowBlocks[r / 32];
        block.rows.emplace_back();
        block.rows.back().row = static_cast<std::uint16_t>(r);
        block.rows.back().lastColumnPlusOne = 40;
        block.dbCell.cellOffsets.push_back(static_cast<std::uint16_t>(r));
        std::uint16_t c = 0;
        while (c < 30) {
            CellBlock cell;
            const int kind = pick(rng);
            switch (kind) {
                case 0: {
                    CellBlock::RK& rec = cell.Hold<CellBlock::RK>();
                    rec.row = r, rec.column = c, rec.rk = IntegerToRk(small(rng));
                    c += 1;
                    break;
                }
                case 1: {
                    CellBlock::MulRK& rec = cell.Hold<CellBlock::MulRK>();
                    const int n = width(rng) + 1;
                    rec.row = r, rec.firstColumn = c;
                    for (int i = 0; i < n; ++i) {
                        CellBlock::MulRK::XFRK e;
                        e.xfIndex = 15;
                        e.rk = DoubleToRk(small(rng) / 100.0);
                        rec.entries.push_back(e);
                    }
                    rec.lastColumn = static_cast<std::int16_t>(c + n - 1);
                    c += n;
                    break;
                }
                case 2: {
                    CellBlock::Number& rec = cell.Hold<CellBlock::Number>();
                    rec.row = r, rec.column = c, rec.value = small(rng) / 7.0;
                    c += 1;
                    break;
                }
                case 3: {
                    CellBlock::LabelSST& rec = cell.Hold<CellBlock::LabelSST>();
                    rec.row = r, rec.column = c, rec.sstIndex = rng() % 5000;
                    c += 1;
                    break;
                }
                case 4: {
                    CellBlock::Blank& rec = cell.Hold<CellBlock::Blank>();
                    rec.row = r, rec.column = c, rec.xfIndex = 21;
                    c += 1;
                    break;
                }
                case 5: {
                    CellBlock::MulBlank& rec = cell.Hold<CellBlock::MulBlank>();
                    const int n = width(rng);
                    rec.row = r, rec.firstColumn = c;
                    rec.xfIndices.assign(n, 22);
                    rec.lastColumn = static_cast<std::int16_t>(c + n - 1);
                    c += n;
                    break;
                }
                case 6: {
                    CellBlock::BoolErr& rec = cell.Hold<CellBlock::BoolErr>();
                    rec.row = r, rec.column = c, rec.value = 1;
                    c += 1;
                    break;
                }
                default: {
                    CellBlock::Formula& rec = cell.Hold<CellBlock::Formula>();
                    rec.row = r, rec.column = c;
                    rec.formulaBytes = {3, 0, 0x1E, static_cast<char>(c), 0};
                    if (c % 2) rec.string.text = {'o', 'k'};
                    c += 1;
                    break;
                }
            }
            block.cells.push_back(cell);
        }
    }
    return w;
}

}  // namespace

TEST(Worksheet, ThousandsOfMixedRowsRoundTrip) {
    std::mt19937 rng(77);
    Worksheet w = MixedSheet(3000, rng);
    const Bytes out = Written(w);
    Worksheet back;
    ASSERT_EQ(ReadAll(back, Join({out, Rec(0x0809, BofData(0x0010))})), out.size());
    ASSERT_EQ(back.cellTable.rowBlocks.size(), w.cellTable.rowBlocks.size());
    EXPECT_EQ(back.index.dbCellPositions.size(), w.index.dbCellPositions.size());
    EXPECT_EQ(back.dimensions.lastRowPlusOne, 3000u);
    size_t cells = 0;
    for (size_t b = 0; b < w.cellTable.rowBlocks.size(); ++b) {
        RowBlock& x = w.cellTable.rowBlocks[b];
        RowBlock& y = back.cellTable.rowBlocks[b];
        ASSERT_EQ(x.rows.size(), y.rows.size());
        ASSERT_EQ(x.cells.size(), y.cells.size());
        EXPECT_EQ(x.dbCell.cellOffsets, y.dbCell.cellOffsets);
        for (size_t i = 0; i < x.cells.size(); ++i, ++cells) {
            CellBlock& p = x.cells[i];
            CellBlock& q = y.cells[i];
            ASSERT_EQ(p.Kind(), q.Kind());
            ASSERT_EQ(p.RowIndex(), q.RowIndex());
            ASSERT_EQ(p.ColumnIndex(), q.ColumnIndex());
            ASSERT_EQ(p.RecordSize(), q.RecordSize());
            switch (p.Kind()) {
                case 0x027E: ASSERT_EQ(p.As<CellBlock::RK>().rk, q.As<CellBlock::RK>().rk); break;
                case 0x0203: ASSERT_EQ(p.As<CellBlock::Number>().value, q.As<CellBlock::Number>().value); break;
                case 0x00FD:
                    ASSERT_EQ(p.As<CellBlock::LabelSST>().sstIndex, q.As<CellBlock::LabelSST>().sstIndex);
                    break;
                case 0x00BE:
                    ASSERT_EQ(p.As<CellBlock::MulBlank>().xfIndices, q.As<CellBlock::MulBlank>().xfIndices);
                    break;
                case 0x0006:
                    ASSERT_EQ(p.As<CellBlock::Formula>().formulaBytes, q.As<CellBlock::Formula>().formulaBytes);
                    ASSERT_EQ(p.As<CellBlock::Formula>().string.text, q.As<CellBlock::Formula>().string.text);
                    break;
                case 0x00BD:
                    ASSERT_EQ(p.As<CellBlock::MulRK>().entries.size(), q.As<CellBlock::MulRK>().entries.size());
                    for (size_t e = 0; e < p.As<CellBlock::MulRK>().entries.size(); ++e)
                        ASSERT_EQ(p.As<CellBlock::MulRK>().entries[e].rk, q.As<CellBlock::MulRK>().entries[e].rk);
                    break;
                default: break;
            }
        }
    }
    EXPECT_GT(cells, 30000u);
    EXPECT_EQ(Written(back), out);
}

TEST(Worksheet, OverlongPiecesKeepSizesAndWritingInStep) {
    // One piece longer than a record may be: written again it is cut at 8224
    // bytes, and every size must say so, or the output buffer is overrun.
    const Bytes in =
        Join({Rec(0x0809, BofData(0x0010)), Rec(0x023E, Filled(9000, 1)), Rec(0x0208, RowData(0, 0, 1)),
              Rec(0x0203, NumberData(0, 0, 1.0)), Rec(0x0207, Filled(9001, 2)), Rec(0x00D7, DbCellData(0, {0})), kEof});
    Worksheet w;
    ASSERT_EQ(ReadAll(w, in), in.size());
    const Bytes out = Written(w);
    Worksheet back;
    ASSERT_EQ(ReadAll(back, out), out.size());
    EXPECT_EQ(back.window2.DataSize(), 9000u);
    EXPECT_EQ(Written(back), out);
}
