// Writing a workbook: records from cells, stream positions, the stream.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <map>

#include "workbook/rk_codec.h"
#include "workbook/rk_exact.h"
#include "workbook/stream_document.h"
#include "workbook/xls_document.h"

namespace CompoundFiles {

using XlsBiff::BiffString;
using XlsBiff::Worksheet;
using RowBlock = Worksheet::CellTable::RowBlock;
using CellBlock = RowBlock::CellBlock;

namespace {

const std::size_t kRowsPerBlock = 32;
const std::uint64_t kRowNotSet = 100000;
const std::uint16_t kColumnNotSet = 1000;

std::uint32_t TypeAt(const XlsSheet& sheet, std::size_t r, std::size_t c) {
    const SheetCell* cell = sheet.CellAt(r, c);
    return cell != nullptr ? cell->Type() : SheetCell::Empty;
}

// The rows and columns that hold cells, which DIMENSIONS names: the table
// may have grown past them.
struct UsedRange {
    std::size_t rows = 0;
    std::size_t columns = 0;
};

UsedRange UsedRangeOf(const XlsSheet& sheet) {
    UsedRange used;
    for (std::size_t r = 0; r < sheet.RowCount(); ++r) {
        if (!sheet.RowHasCells(r)) continue;
        for (std::size_t c = 0; c < sheet.ColumnCount(); ++c) {
            if (TypeAt(sheet, r, c) == SheetCell::Empty) continue;
            used.rows = r + 1;
            used.columns = std::max(used.columns, c + 1);
        }
    }
    return used;
}

// Cells of rows first to last - 1 that are not empty.
std::size_t CellsIn(const XlsSheet& sheet, std::size_t first, std::size_t last, std::size_t columns) {
    std::size_t cells = 0;
    for (std::size_t r = first; r < last; ++r) {
        if (!sheet.RowHasCells(r)) continue;
        for (std::size_t c = 0; c < columns; ++c)
            if (TypeAt(sheet, r, c) != SheetCell::Empty) ++cells;
    }
    return cells;
}

// INDEX, DIMENSIONS and WINDOW2 before the cells: the first row and column
// are marked unset until a cell is met.
void StartSheetRecords(Worksheet& worksheet, bool firstSheet, const UsedRange& used) {
    worksheet.index.firstRow = kRowNotSet;
    worksheet.index.lastRowPlusOne = used.rows;
    worksheet.dimensions.firstRow = kRowNotSet;
    worksheet.dimensions.lastRowPlusOne = used.rows;
    worksheet.dimensions.firstColumn = kColumnNotSet;
    worksheet.dimensions.lastColumnPlusOne = static_cast<std::uint16_t>(used.columns);
    if (!firstSheet) worksheet.window2.options &= static_cast<std::uint16_t>(~Worksheet::Window2::Selected);
}

// A cell at (r, c) is met: the first one sets the first row and gives INDEX
// one DBCELL position per row block; every one may lower the first column.
void NoteCell(Worksheet& worksheet, std::size_t r, std::size_t c) {
    if (worksheet.index.firstRow == kRowNotSet) {
        worksheet.index.firstRow = r;
        worksheet.dimensions.firstRow = r;
        worksheet.index.dbCellPositions.assign(worksheet.cellTable.rowBlocks.size(), 0);
    }
    worksheet.dimensions.firstColumn =
        std::min<std::uint16_t>(worksheet.dimensions.firstColumn, static_cast<std::uint16_t>(c));
}

// A sheet without cells: first row and column 0, one DBCELL position.
void FinishSheetRecords(Worksheet& worksheet) {
    if (worksheet.index.firstRow == kRowNotSet) {
        worksheet.index.firstRow = 0;
        worksheet.dimensions.firstRow = 0;
        worksheet.index.dbCellPositions.assign(std::max<std::size_t>(worksheet.cellTable.rowBlocks.size(), 1), 0);
    }
    if (worksheet.dimensions.firstColumn == kColumnNotSet) worksheet.dimensions.firstColumn = 0;
}

void StartRow(RowBlock& block, std::size_t r, std::size_t columns) {
    RowBlock::Row row;
    row.row = static_cast<std::uint16_t>(r);
    row.firstColumn = 0;
    row.lastColumnPlusOne = static_cast<std::uint16_t>(columns);
    block.rows.push_back(row);
    block.dbCell.cellOffsets.push_back(0);
}

std::uint32_t RkOf(const SheetCell& x) {
    return x.Type() == SheetCell::Integer ? XlsBiff::IntegerToRk(x.GetInt()) : XlsBiff::DoubleToRk(x.GetDouble());
}

// Fills out with the number at (r, c) and, when it is RK, the run of the
// following cells of the same type that code the same way: a MULRK for a
// run, else an RK or a NUMBER. Returns the column behind what was written.
std::size_t AddNumbers(CellBlock& out, const XlsSheet& sheet, std::size_t r, std::size_t c, std::size_t columns) {
    const SheetCell& cell = *sheet.CellAt(r, c);
    const std::uint32_t type = cell.Type();
    const bool integer = type == SheetCell::Integer;
    const bool rk = integer || RkKeepsExactly(cell.GetDouble());
    // A number RK cannot hold is written alone whatever follows, so its run
    // is not measured.
    std::size_t j = c + 1;
    while (rk && j < columns) {
        const SheetCell& next = *sheet.CellAt(r, j);
        if (next.Type() != type) break;
        if (!integer && RkKeepsExactly(next.GetDouble()) != rk) break;
        ++j;
    }
    if (rk && j > c + 1) {
        CellBlock::MulRK& mul = out.Hold<CellBlock::MulRK>();
        mul.row = static_cast<std::uint16_t>(r);
        mul.firstColumn = static_cast<std::int16_t>(c);
        mul.lastColumn = static_cast<std::int16_t>(j - 1);
        mul.entries.resize(j - c);
        for (std::size_t k = c; k < j; ++k) {
            const SheetCell& member = *sheet.CellAt(r, k);
            mul.entries[k - c].rk = RkOf(member);
            mul.entries[k - c].xfIndex = member.XfIndex();
        }
        return j;
    }
    if (rk) {
        CellBlock::RK& one = out.Hold<CellBlock::RK>();
        one.row = static_cast<std::uint16_t>(r);
        one.column = static_cast<std::uint16_t>(c);
        one.rk = RkOf(cell);
        one.xfIndex = cell.XfIndex();
    } else {
        CellBlock::Number& number = out.Hold<CellBlock::Number>();
        number.row = static_cast<std::uint16_t>(r);
        number.column = static_cast<std::uint16_t>(c);
        number.value = cell.GetDouble();
        number.xfIndex = cell.XfIndex();
    }
    return c + 1;
}

void AddBoolErr(CellBlock& out, const SheetCell& cell, std::size_t r, std::size_t c) {
    const bool error = cell.Type() == SheetCell::Error;
    CellBlock::BoolErr& boolErr = out.Hold<CellBlock::BoolErr>();
    boolErr.row = static_cast<std::uint16_t>(r);
    boolErr.column = static_cast<std::uint16_t>(c);
    boolErr.xfIndex = cell.XfIndex();
    boolErr.isError = error ? 1 : 0;
    boolErr.value = error ? cell.ErrorCode() : static_cast<std::uint8_t>(cell.GetInt());
}

// The shared-string index of each distinct text while the records are built.
struct TextIndex {
    std::map<std::vector<char>, std::size_t> narrow;
    std::map<std::vector<wchar_t>, std::size_t> wide;

    // The index of the cell's text: one shared string per distinct text, in
    // the order first met; every use is counted in the table's total.
    template <typename Char>
    std::size_t IndexOf(std::map<std::vector<Char>, std::size_t>& known, const Char* text, std::size_t length,
                        XlsBiff::Workbook::SharedStringTable& table) {
        ++table.total;
        std::vector<Char> key(text, text + length + 1);
        auto found = known.find(key);
        if (found != known.end()) return found->second;
        const std::size_t sst = table.strings.size();
        known.emplace(std::move(key), sst);
        BiffString s;
        s = text;
        table.strings.push_back(std::move(s));
        ++table.unique;
        return sst;
    }

    std::size_t IndexOf(const SheetCell& cell, XlsBiff::Workbook::SharedStringTable& table) {
        if (cell.Type() == SheetCell::Text) return IndexOf(narrow, cell.GetText(), std::strlen(cell.GetText()), table);
        return IndexOf(wide, cell.GetWideText(), std::wcslen(cell.GetWideText()), table);
    }
};

void AddLabel(CellBlock& out, const SheetCell& cell, std::size_t r, std::size_t c, std::size_t sst) {
    CellBlock::LabelSST& label = out.Hold<CellBlock::LabelSST>();
    label.row = static_cast<std::uint16_t>(r);
    label.column = static_cast<std::uint16_t>(c);
    label.sstIndex = sst;
    label.xfIndex = cell.XfIndex();
}

}  // namespace

struct XlsDocument::StringMaps : TextIndex {};

void XlsDocument::UpdateWorksheets() {
    worksheets.assign(sheets.size(), Worksheet());
    XlsBiff::Workbook::SharedStringTable& table = workbook.sharedStrings;
    table.total = 0;
    table.unique = 0;
    table.strings.clear();
    // The file shows the first sheet, the only one whose WINDOW2 is selected.
    workbook.window.activeSheet = 0;
    workbook.window.firstVisibleTab = 0;
    workbook.window.selectedSheets = 1;
    StringMaps strings;
    for (std::size_t w = 0; w < sheets.size(); ++w) BuildWorksheet(w, strings);
}

void XlsDocument::BuildWorksheet(std::size_t w, StringMaps& strings) {
    const XlsSheet& sheet = sheets[w];
    Worksheet& worksheet = worksheets[w];
    const UsedRange used = UsedRangeOf(sheet);
    StartSheetRecords(worksheet, w == 0, used);
    std::vector<RowBlock>& blocks = worksheet.cellTable.rowBlocks;
    blocks.assign((used.rows + kRowsPerBlock - 1) / kRowsPerBlock, RowBlock());
    for (std::size_t r = 0; r < used.rows; ++r) {
        RowBlock& block = blocks[r / kRowsPerBlock];
        // Room for exactly the block's cells, so that the list never moves
        // and never over-allocates.
        if (r % kRowsPerBlock == 0)
            block.cells.reserve(CellsIn(sheet, r, std::min(used.rows, r + kRowsPerBlock), used.columns));
        if (!sheet.RowHasCells(r)) continue;
        bool rowStarted = false;
        for (std::size_t c = 0; c < used.columns;) {
            const SheetCell& cell = *sheet.CellAt(r, c);
            const std::uint32_t type = cell.Type();
            if (type == SheetCell::Empty) {
                ++c;
                continue;
            }
            NoteCell(worksheet, r, c);
            if (!rowStarted) StartRow(block, r, used.columns);
            rowStarted = true;
            block.cells.emplace_back();
            CellBlock& out = block.cells.back();
            if (type == SheetCell::Integer || type == SheetCell::Real) {
                c = AddNumbers(out, sheet, r, c, used.columns);
                continue;
            }
            if (type == SheetCell::Boolean || type == SheetCell::Error)
                AddBoolErr(out, cell, r, c);
            else
                AddLabel(out, cell, r, c, strings.IndexOf(cell, workbook.sharedStrings));
            ++c;
        }
    }
    FinishSheetRecords(worksheet);
}

void XlsDocument::UpdatePositions() {
    UpdateBoundSheetPositions();
    UpdateRowBlockOffsets();
}

void XlsDocument::UpdateBoundSheetPositions() {
    std::uint64_t position = workbook.DataSize();
    for (std::size_t k = 0; k < workbook.sheets.size() && k < worksheets.size(); ++k) {
        workbook.sheets[k].streamPosition = static_cast<std::uint32_t>(position);
        position += worksheets[k].DataSize();
    }
}

void XlsDocument::UpdateRowBlockOffsets() {
    for (std::size_t k = 0; k < worksheets.size() && k < workbook.sheets.size(); ++k) {
        Worksheet& sheet = worksheets[k];
        std::uint64_t position = workbook.sheets[k].streamPosition;
        position += sheet.bof.RecordSize() + sheet.index.RecordSize() + sheet.dimensions.RecordSize();
        for (std::size_t b = 0; b < sheet.cellTable.rowBlocks.size(); ++b) {
            RowBlock& block = sheet.cellTable.rowBlocks[b];
            std::size_t rows = 0;
            for (RowBlock::Row& row : block.rows) rows += row.RecordSize();
            // Bytes of each row's cell records; the cells come row by row.
            std::vector<std::size_t> rowCells(block.rows.size(), 0);
            std::size_t cells = 0;
            std::size_t at = 0;
            for (CellBlock& cell : block.cells) {
                const std::uint16_t row = static_cast<std::uint16_t>(cell.RowIndex());
                while (at + 1 < block.rows.size() && block.rows[at].row != row) ++at;
                const std::size_t size = cell.RecordSize();
                if (at < rowCells.size()) rowCells[at] += size;
                cells += size;
            }
            position += rows + cells;
            if (b < sheet.index.dbCellPositions.size()) sheet.index.dbCellPositions[b] = position;
            block.dbCell.firstRowOffset = static_cast<std::uint32_t>(rows + cells);
            block.dbCell.cellOffsets.assign(block.rows.size(), 0);
            for (std::size_t i = 0; i < block.rows.size(); ++i) {
                // From the second ROW record to the first cell, then from each
                // row's first cell to the next row's.
                const std::size_t offset = i == 0 ? rows - block.rows[0].RecordSize() : rowCells[i - 1];
                block.dbCell.cellOffsets[i] = static_cast<std::uint16_t>(offset);
            }
            position += block.dbCell.RecordSize();
        }
        position += sheet.window2.RecordSize() + sheet.eof.RecordSize();
    }
}

std::size_t XlsDocument::StreamSize() {
    std::size_t total = workbook.DataSize();
    for (Worksheet& sheet : worksheets) total += sheet.DataSize();
    return total;
}

std::size_t XlsDocument::WriteStream(char* out) {
    std::size_t n = workbook.Write(out);
    for (Worksheet& sheet : worksheets) n += sheet.Write(out + n);
    return n;
}

bool XlsDocument::BuildStream(std::vector<char>& stream) {
    UpdateWorksheets();
    UpdatePositions();
    const std::size_t total = StreamSize();
    // Stream sizes and positions are 32-bit fields.
    if (total > UINT32_MAX) return false;
    stream.assign(total, 0);
    return WriteStream(stream.data()) == total;
}

bool XlsDocument::Save() {
    saveOutcome = FileReplace::Outcome();
    saveOutcome.failure = FileReplace::Outcome::Failure::Failed;
    if (path.empty()) return false;
    std::vector<char> stream;
    if (!BuildStream(stream)) return false;
    return ReplaceWithStream(path, "Workbook", stream, file, saveOutcome);
}

bool XlsDocument::SaveAs(const char* name, FileReplace::Existing existing) {
    saveOutcome = FileReplace::Outcome();
    saveOutcome.failure = FileReplace::Outcome::Failure::Failed;
    if (file.IsOpen()) file.Close();
    path.clear();
    if (name == nullptr || name[0] == 0) return false;
    std::vector<char> stream;
    if (!BuildStream(stream)) return false;
    if (!ReplaceWithStream(name, "Workbook", stream, file, saveOutcome, existing)) return false;
    path = name;
    return true;
}

}  // namespace CompoundFiles
