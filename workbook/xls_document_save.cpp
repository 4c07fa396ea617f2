// Writing a workbook: records from cells, stream positions, the stream.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <map>

#include "workbook/replace_file.h"
#include "workbook/rk_codec.h"
#include "workbook/rk_exact.h"
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
const std::uint16_t kSheetSelected = 0x0200;

std::uint32_t TypeAt(const XlsSheet& sheet, std::size_t r, std::size_t c) {
    const SheetCell* cell = sheet.CellAt(r, c);
    return cell != nullptr ? cell->Type() : SheetCell::Empty;
}

}  // namespace

// The shared-string index of each distinct text while the records are built.
struct XlsDocument::StringMaps {
    std::map<std::vector<char>, std::size_t> narrow;
    std::map<std::vector<wchar_t>, std::size_t> wide;
};

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
    XlsBiff::Workbook::SharedStringTable& table = workbook.sharedStrings;

    // The used range: DIMENSIONS names the rows and columns that hold cells,
    // not the table's size, which may have grown past them.
    std::size_t rowsUsed = 0;
    std::size_t columnsUsed = 0;
    for (std::size_t r = 0; r < sheet.RowCount(); ++r) {
        if (sheet.rows[r].empty()) continue;
        for (std::size_t c = 0; c < sheet.ColumnCount(); ++c) {
            if (TypeAt(sheet, r, c) == SheetCell::Empty) continue;
            rowsUsed = r + 1;
            columnsUsed = std::max(columnsUsed, c + 1);
        }
    }
    const std::size_t R = rowsUsed;
    const std::size_t W = columnsUsed;

    worksheet.index.firstRow = kRowNotSet;
    worksheet.index.lastRowPlusOne = R;
    worksheet.dimensions.firstRow = kRowNotSet;
    worksheet.dimensions.lastRowPlusOne = R;
    worksheet.dimensions.firstColumn = kColumnNotSet;
    worksheet.dimensions.lastColumnPlusOne = static_cast<std::uint16_t>(W);
    if (w > 0) worksheet.window2.options &= static_cast<std::uint16_t>(~kSheetSelected);

    std::vector<RowBlock>& blocks = worksheet.cellTable.rowBlocks;
    blocks.assign((R + kRowsPerBlock - 1) / kRowsPerBlock, RowBlock());
    for (std::size_t r = 0; r < R; ++r) {
        RowBlock& block = blocks[r / kRowsPerBlock];
        if (r % kRowsPerBlock == 0) {
            // Room for exactly the block's cells, so that the list never
            // moves and never over-allocates.
            std::size_t cells = 0;
            for (std::size_t q = r; q < std::min(R, r + kRowsPerBlock); ++q)
                for (std::size_t c = 0; c < W && !sheet.rows[q].empty(); ++c)
                    if (TypeAt(sheet, q, c) != SheetCell::Empty) ++cells;
            block.cells.reserve(cells);
        }
        if (sheet.rows[r].empty()) continue;
        bool rowStarted = false;
        std::size_t c = 0;
        while (c < W) {
            const SheetCell& cell = *sheet.CellAt(r, c);
            const std::uint32_t type = cell.Type();
            if (type == SheetCell::Empty) {
                ++c;
                continue;
            }
            if (worksheet.index.firstRow == kRowNotSet) {
                worksheet.index.firstRow = r;
                worksheet.dimensions.firstRow = r;
                worksheet.index.dbCellPositions.assign(blocks.size(), 0);
            }
            worksheet.dimensions.firstColumn =
                std::min<std::uint16_t>(worksheet.dimensions.firstColumn, static_cast<std::uint16_t>(c));
            if (!rowStarted) {
                RowBlock::Row row;
                row.row = static_cast<std::uint16_t>(r);
                row.firstColumn = 0;
                row.lastColumnPlusOne = static_cast<std::uint16_t>(W);
                block.rows.push_back(row);
                block.dbCell.cellOffsets.push_back(0);
                rowStarted = true;
            }
            block.cells.emplace_back();
            CellBlock& out = block.cells.back();
            const std::uint16_t row16 = static_cast<std::uint16_t>(r);
            const std::uint16_t column16 = static_cast<std::uint16_t>(c);

            if (type == SheetCell::Integer || type == SheetCell::Real) {
                const bool integer = type == SheetCell::Integer;
                const bool rk = integer || RkKeepsExactly(cell.GetDouble());
                // A run: the following cells of the same type that code the same way.
                // A number RK cannot hold is written alone whatever follows, so its
                // run is not measured.
                std::size_t j = c + 1;
                while (rk && j < W) {
                    const SheetCell& next = *sheet.CellAt(r, j);
                    if (next.Type() != type) break;
                    if (!integer && RkKeepsExactly(next.GetDouble()) != rk) break;
                    ++j;
                }
                auto code = [](const SheetCell& x) {
                    return x.Type() == SheetCell::Integer ? XlsBiff::IntegerToRk(x.GetInt())
                                                          : XlsBiff::DoubleToRk(x.GetDouble());
                };
                if (rk && j > c + 1) {
                    CellBlock::MulRK& mul = out.Hold<CellBlock::MulRK>();
                    mul.row = row16;
                    mul.firstColumn = static_cast<std::int16_t>(c);
                    mul.lastColumn = static_cast<std::int16_t>(j - 1);
                    mul.entries.resize(j - c);
                    for (std::size_t k = c; k < j; ++k) {
                        const SheetCell& member = *sheet.CellAt(r, k);
                        mul.entries[k - c].rk = code(member);
                        mul.entries[k - c].xfIndex = member.XfIndex();
                    }
                    c = j;
                } else if (rk) {
                    CellBlock::RK& one = out.Hold<CellBlock::RK>();
                    one.row = row16;
                    one.column = column16;
                    one.rk = code(cell);
                    one.xfIndex = cell.XfIndex();
                    ++c;
                } else {
                    CellBlock::Number& number = out.Hold<CellBlock::Number>();
                    number.row = row16;
                    number.column = column16;
                    number.value = cell.GetDouble();
                    number.xfIndex = cell.XfIndex();
                    ++c;
                }
                continue;
            }

            if (type == SheetCell::Boolean || type == SheetCell::Error) {
                CellBlock::BoolErr& boolErr = out.Hold<CellBlock::BoolErr>();
                boolErr.row = row16;
                boolErr.column = column16;
                boolErr.xfIndex = cell.XfIndex();
                boolErr.isError = type == SheetCell::Error ? 1 : 0;
                boolErr.value = type == SheetCell::Error ? cell.ErrorCode() : static_cast<std::uint8_t>(cell.GetInt());
                ++c;
                continue;
            }

            // Texts: one shared string per distinct text, in the order first met.
            ++table.total;
            std::size_t sst = 0;
            if (type == SheetCell::Text) {
                const char* text = cell.GetText();
                std::vector<char> key(text, text + std::strlen(text) + 1);
                auto found = strings.narrow.find(key);
                if (found != strings.narrow.end()) {
                    sst = found->second;
                } else {
                    sst = table.strings.size();
                    strings.narrow.emplace(std::move(key), sst);
                    BiffString s;
                    s = text;
                    table.strings.push_back(std::move(s));
                    ++table.unique;
                }
            } else {
                const wchar_t* text = cell.GetWideText();
                std::vector<wchar_t> key(text, text + std::wcslen(text) + 1);
                auto found = strings.wide.find(key);
                if (found != strings.wide.end()) {
                    sst = found->second;
                } else {
                    sst = table.strings.size();
                    strings.wide.emplace(std::move(key), sst);
                    BiffString s;
                    s = text;
                    table.strings.push_back(std::move(s));
                    ++table.unique;
                }
            }
            CellBlock::LabelSST& label = out.Hold<CellBlock::LabelSST>();
            label.row = row16;
            label.column = column16;
            label.sstIndex = sst;
            label.xfIndex = cell.XfIndex();
            ++c;
        }
    }

    if (worksheet.index.firstRow == kRowNotSet) {
        worksheet.index.firstRow = 0;
        worksheet.dimensions.firstRow = 0;
        worksheet.index.dbCellPositions.assign(std::max<std::size_t>(blocks.size(), 1), 0);
    }
    if (worksheet.dimensions.firstColumn == kColumnNotSet) worksheet.dimensions.firstColumn = 0;
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
    if (path.empty()) return false;
    std::vector<char> stream;
    if (!BuildStream(stream)) return false;
    return ReplaceFile(path.c_str(), "Workbook", stream, file);
}

bool XlsDocument::SaveAs(const char* name) {
    if (file.IsOpen()) file.Close();
    path.clear();
    if (name == nullptr || name[0] == 0) return false;
    std::vector<char> stream;
    if (!BuildStream(stream)) return false;
    if (!ReplaceFile(name, "Workbook", stream, file)) return false;
    path = name;
    return true;
}

}  // namespace CompoundFiles
