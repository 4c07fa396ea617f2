#include "workbook/xls_sheet.h"

#include <algorithm>
#include <cwchar>
#include <iomanip>

#include "workbook/rk_codec.h"
#include "workbook/rk_exact.h"
#include "workbook/xls_document.h"

namespace CompoundFiles {

using XlsBiff::Worksheet;
using CellBlock = Worksheet::CellTable::RowBlock::CellBlock;

XlsSheet::XlsSheet(XlsDocument* document, std::size_t index) : document(document), index(index) { LoadCells(); }

std::vector<SheetCell>& XlsSheet::MaterialisedRow(std::size_t row) {
    std::vector<SheetCell>& cells = rows[row];
    if (cells.size() != columnCount) cells.resize(columnCount);
    return cells;
}

SheetCell* XlsSheet::Cell(std::size_t row, std::size_t column) {
    if (row >= MaxRows || column >= MaxColumns) return nullptr;
    if (column >= columnCount) {
        columnCount = column + 1;
        for (std::vector<SheetCell>& cells : rows)
            if (!cells.empty()) cells.resize(columnCount);
    }
    if (row >= rowCount) {
        rowCount = row + 1;
        rows.resize(rowCount);
    }
    return &MaterialisedRow(row)[column];
}

const SheetCell* XlsSheet::CellAt(std::size_t row, std::size_t column) const {
    static const SheetCell empty;
    if (row >= rowCount || column >= columnCount) return nullptr;
    const std::vector<SheetCell>& cells = rows[row];
    return cells.empty() ? &empty : &cells[column];
}

bool XlsSheet::RowHasCells(std::size_t row) const {
    if (row >= rowCount) return false;
    for (const SheetCell& cell : rows[row])
        if (cell.Type() != SheetCell::Empty) return true;
    return false;
}

bool XlsSheet::EraseCell(std::size_t row, std::size_t column) {
    if (row >= rowCount || column >= columnCount) return false;
    std::vector<SheetCell>& cells = rows[row];
    if (!cells.empty()) cells[column].Clear();
    return true;
}

const char* XlsSheet::GetName() const { return document->GetSheetName(index); }

const wchar_t* XlsSheet::GetWideName() const { return document->GetWideSheetName(index); }

bool XlsSheet::GetName(char* buffer) const { return document->GetSheetName(index, buffer); }

bool XlsSheet::GetName(wchar_t* buffer) const { return document->GetSheetName(index, buffer); }

bool XlsSheet::Rename(const char* name) { return document->RenameSheet(index, name); }

bool XlsSheet::Rename(const wchar_t* name) { return document->RenameSheet(index, name); }

void XlsSheet::SetFromRk(std::size_t row, std::size_t column, std::uint32_t rk, std::uint16_t xf) {
    SheetCell* cell = Cell(row, column);
    if (cell == nullptr) return;
    // A scaled value keeps its fraction, so it is a double even in the
    // integer form.
    if (XlsBiff::IsRkInteger(rk) && (rk & 1u) == 0)
        cell->SetInt(XlsBiff::RkToInteger(rk));
    else
        cell->SetReal(RkNumber(rk));
    cell->SetXfIndex(xf);
}

namespace {

void SetFromString(SheetCell& target, const XlsBiff::BiffString& s) {
    if (s.IsWide()) {
        std::vector<wchar_t> text(s.wide);
        text.push_back(0);
        target.SetWideText(text.data());
    } else {
        std::vector<char> text(s.narrow);
        text.push_back(0);
        target.SetText(text.data());
    }
}

}  // namespace

void XlsSheet::LoadCells() {
    rowCount = 0;
    columnCount = 0;
    rows.clear();
    if (index >= document->worksheets.size()) return;
    const Worksheet& sheet = document->worksheets[index];
    rowCount = static_cast<std::size_t>(std::min<std::uint64_t>(sheet.dimensions.lastRowPlusOne, MaxRows));
    columnCount = std::min<std::size_t>(sheet.dimensions.lastColumnPlusOne, MaxColumns);
    rows.resize(rowCount);

    for (const auto& block : sheet.cellTable.rowBlocks)
        for (const CellBlock& cell : block.cells) LoadCell(cell);
    for (const CellBlock& cell : sheet.looseCells) LoadCell(cell);
}

void XlsSheet::SetFromText(std::size_t row, std::size_t column, const XlsBiff::BiffString& text, std::uint16_t xf) {
    if (SheetCell* target = Cell(row, column)) {
        SetFromString(*target, text);
        if (target->Type() != SheetCell::Empty) target->SetXfIndex(xf);
    }
}

void XlsSheet::LoadFormula(const CellBlock::Formula& formula) {
    // The formula itself names sheets by position, which an added sheet
    // shifts; its last result is kept as a plain value.
    SheetCell* target = Cell(formula.row, formula.column);
    if (target == nullptr) return;
    using Kind = CellBlock::Formula::CachedResult::Kind;
    const CellBlock::Formula::CachedResult result = formula.LastResult();
    switch (result.kind) {
        case Kind::Number: target->SetReal(result.number); break;
        case Kind::Text: {
            XlsBiff::BiffString text;
            if (formula.string.ResultText(text)) SetFromString(*target, text);
            break;
        }
        case Kind::Boolean: target->SetBoolean(result.value != 0); break;
        case Kind::Error: target->SetError(result.value); break;
        case Kind::None:  // an empty text leaves the cell empty
            break;
    }
    if (target->Type() != SheetCell::Empty) target->SetXfIndex(formula.xfIndex);
}

void XlsSheet::LoadCell(const CellBlock& cell) {
    namespace Code = XlsBiff::RecordCode;
    const std::vector<XlsBiff::BiffString>& strings = document->workbook.sharedStrings.strings;
    switch (cell.Kind()) {
        case Code::MulRk: {
            const auto& mul = cell.As<CellBlock::MulRK>();
            std::size_t c = static_cast<std::uint16_t>(mul.firstColumn);
            for (const auto& entry : mul.entries) {
                if (c >= MaxColumns) break;
                SetFromRk(mul.row, c++, entry.rk, entry.xfIndex);
            }
            break;
        }
        case Code::Rk: {
            const auto& rk = cell.As<CellBlock::RK>();
            SetFromRk(rk.row, rk.column, rk.rk, rk.xfIndex);
            break;
        }
        case Code::Number: {
            const auto& number = cell.As<CellBlock::Number>();
            if (SheetCell* target = Cell(number.row, number.column)) {
                target->SetReal(number.value);
                target->SetXfIndex(number.xfIndex);
            }
            break;
        }
        case Code::LabelSst: {
            const auto& label = cell.As<CellBlock::LabelSST>();
            if (label.sstIndex < strings.size())
                SetFromText(label.row, label.column, strings[static_cast<std::size_t>(label.sstIndex)], label.xfIndex);
            break;
        }
        case Code::Label: {
            const auto& label = cell.As<CellBlock::Label>();
            SetFromText(label.row, label.column, label.text, label.xfIndex);
            break;
        }
        case Code::RString: {
            // Its formatting runs are not kept; the text is.
            const auto& rich = cell.As<CellBlock::RString>();
            SetFromText(rich.row, rich.column, rich.text, rich.xfIndex);
            break;
        }
        case Code::BoolErr: {
            const auto& boolErr = cell.As<CellBlock::BoolErr>();
            if (SheetCell* target = Cell(boolErr.row, boolErr.column)) {
                if (boolErr.isError == 0)
                    target->SetBoolean(boolErr.value != 0);
                else
                    target->SetError(boolErr.value);
                target->SetXfIndex(boolErr.xfIndex);
            }
            break;
        }
        case Code::Formula: LoadFormula(cell.As<CellBlock::Formula>()); break;
        default:  // blanks are not kept
            break;
    }
}

void XlsSheet::Print(std::ostream& out, char separator, char quote) const {
    for (std::size_t r = 0; r < rowCount; ++r) {
        for (std::size_t c = 0; c < columnCount; ++c) {
            const SheetCell& cell = *CellAt(r, c);
            switch (cell.Type()) {
                case SheetCell::Integer: out << cell.GetInt(); break;
                case SheetCell::Real: out << std::setprecision(15) << cell.GetDouble(); break;
                case SheetCell::Text:
                    if (quote == 0) {
                        out << cell.GetText();
                    } else {
                        out << quote;
                        for (const char* p = cell.GetText(); *p != 0; ++p) {
                            if (*p == quote) out << quote;
                            out << *p;
                        }
                        out << quote;
                    }
                    break;
                case SheetCell::Boolean:
                case SheetCell::Error: out << cell; break;
                default: break;
            }
            if (c + 1 < columnCount) out << separator;
        }
        out << std::endl;
    }
}

}  // namespace CompoundFiles
