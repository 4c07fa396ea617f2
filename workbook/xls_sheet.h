// One sheet of an XlsDocument as a table of cells that grows on demand up to
// 65536 rows and 256 columns. The sheet's name is not held here: it lives in
// the document's BOUNDSHEET entry at the sheet's index.
#ifndef WORKBOOK_XLS_SHEET_H
#define WORKBOOK_XLS_SHEET_H

#include <cstddef>
#include <ostream>
#include <vector>

#include "workbook/sheet_cell.h"
#include "workbook/worksheet.h"

namespace CompoundFiles {

class XlsDocument;

class XlsSheet {
public:
    static constexpr std::size_t MaxRows = 65536;
    static constexpr std::size_t MaxColumns = 256;

    // A sheet of the document at index, its cells loaded from worksheet
    // index of the document (an index past the worksheets gives an empty
    // sheet). The document must outlive the sheet.
    XlsSheet(XlsDocument* document, std::size_t index);

    std::size_t Index() const { return index; }
    // The table is always RowCount() x ColumnCount() cells.
    std::size_t RowCount() const { return rowCount; }
    std::size_t ColumnCount() const { return columnCount; }

    // The cell at (row, column), zero-based, after growing the table so that
    // it holds that position. Null (nothing changes) when row >= 65536 or
    // column >= 256. The pointer is valid until the table grows again.
    SheetCell* Cell(std::size_t row, std::size_t column);
    // The cell without growing the table: null outside it.
    const SheetCell* CellAt(std::size_t row, std::size_t column) const;
    // Whether any cell of the row is not empty (false outside the table);
    // rows never written cost nothing to ask.
    bool RowHasCells(std::size_t row) const;
    // Empties the cell; false (nothing changes) outside the table. The table
    // never shrinks.
    bool EraseCell(std::size_t row, std::size_t column);

    // The name when it has that width, else null. Valid until the sheet is
    // renamed or the document adds, deletes or reloads sheets.
    const char* GetName() const;
    const wchar_t* GetWideName() const;
    // Copies the name of that width and its zero into buffer, which must be
    // large enough (256 elements always are); false when the name has the
    // other width.
    bool GetName(char* buffer) const;
    bool GetName(wchar_t* buffer) const;
    // As XlsDocument::RenameSheet for this sheet's index: false when any
    // sheet (this one included) already has that name in that width, or the
    // name is empty or longer than a sheet name can be.
    bool Rename(const char* name);
    bool Rename(const wchar_t* name);

    // Writes the table as text, one line per row (std::endl), the cells of a
    // row joined by separator: integers as the stream writes them, doubles
    // with 15 significant digits (the precision stays set on the stream),
    // narrow texts as they are or, when quote is not 0, between quotes with
    // every quote inside doubled, Booleans as TRUE or FALSE, errors as their
    // text (#DIV/0!); empty and wide-text cells as nothing.
    void Print(std::ostream& out, char separator, char quote) const;

private:
    friend class XlsDocument;

    // Fills the table from the document's worksheet at index: its
    // DIMENSIONS size the table (cut to the limits), and the table grows for
    // cell records outside them. Records past the limits are skipped; a
    // LABELSST index that names no string leaves its cell empty.
    // Cells of row blocks first, then those outside any (their stream
    // order); each keeps its XF index. Booleans and error values stay what
    // they are; a text with formatting runs (RSTRING) keeps its text. A
    // formula gives its cached result (number, text, Boolean or error); an
    // empty text result and blanks leave the cell empty.
    void LoadCells();
    void LoadCell(const XlsBiff::Worksheet::CellTable::RowBlock::CellBlock& cell);
    void LoadFormula(const XlsBiff::Worksheet::CellTable::RowBlock::CellBlock::Formula& formula);
    void SetFromRk(std::size_t row, std::size_t column, std::uint32_t rk, std::uint16_t xf);
    // A text cell with that format; an empty text leaves the cell empty.
    void SetFromText(std::size_t row, std::size_t column, const XlsBiff::BiffString& text, std::uint16_t xf);
    // Makes row's cells exist (rows that were never written hold none and
    // read as empty).
    std::vector<SheetCell>& MaterialisedRow(std::size_t row);

    XlsDocument* document;
    std::size_t index;
    std::size_t rowCount = 0;
    std::size_t columnCount = 0;
    // rowCount rows; a row holds either columnCount cells or none at all
    // (never touched: every cell empty), so a large loaded DIMENSIONS costs
    // no memory until its rows are written.
    std::vector<std::vector<SheetCell>> rows;
};

}  // namespace CompoundFiles

#endif
