#include "workbook/worksheet.h"

namespace CompoundFiles {
namespace XlsBiff {

// ---- INDEX ----

Worksheet::Index::Index() : Record(RecordCode::Index, 16), dbCellPositions(1, 0) {}

size_t Worksheet::Index::Read(const char* in, const char* end) {
    const size_t n = ReadFixed(in, end, 16);
    if (n == 0) return 0;
    LittleEndian::Read(data, reserved, 0);
    LittleEndian::Read(data, firstRow, 4, 4);
    LittleEndian::Read(data, lastRowPlusOne, 8, 4);
    LittleEndian::Read(data, defColWidthPosition, 12);
    dbCellPositions.assign((data.size() - 16) / 4, 0);
    for (size_t i = 0; i < dbCellPositions.size(); ++i) LittleEndian::Read(data, dbCellPositions[i], 16 + 4 * i, 4);
    return n;
}

size_t Worksheet::Index::Write(char* out) {
    data.resize(DataSize(), 0);
    LittleEndian::Write(data, reserved, 0);
    LittleEndian::Write(data, firstRow, 4, 4);
    LittleEndian::Write(data, lastRowPlusOne, 8, 4);
    LittleEndian::Write(data, defColWidthPosition, 12);
    for (size_t i = 0; i < dbCellPositions.size(); ++i) LittleEndian::Write(data, dbCellPositions[i], 16 + 4 * i, 4);
    return Record::Write(out);
}

size_t Worksheet::Index::DataSize() { return dataSize = 16 + 4 * dbCellPositions.size(); }

size_t Worksheet::Index::RecordSize() { return recordSize = RecordSizeFor(DataSize()); }

// ---- DIMENSIONS ----

Worksheet::Dimensions::Dimensions() : Record(RecordCode::Dimensions, 14) {}

size_t Worksheet::Dimensions::Read(const char* in, const char* end) {
    const size_t n = ReadFixed(in, end, 14);
    if (n == 0) return 0;
    LittleEndian::Read(data, firstRow, 0, 4);
    LittleEndian::Read(data, lastRowPlusOne, 4, 4);
    LittleEndian::Read(data, firstColumn, 8);
    LittleEndian::Read(data, lastColumnPlusOne, 10);
    LittleEndian::Read(data, reserved, 12);
    return n;
}

size_t Worksheet::Dimensions::Write(char* out) {
    data.resize(DataSize(), 0);
    LittleEndian::Write(data, firstRow, 0, 4);
    LittleEndian::Write(data, lastRowPlusOne, 4, 4);
    LittleEndian::Write(data, firstColumn, 8);
    LittleEndian::Write(data, lastColumnPlusOne, 10);
    LittleEndian::Write(data, reserved, 12);
    return Record::Write(out);
}

// ---- WINDOW2 ----

Worksheet::Window2::Window2() : Record(RecordCode::Window2, 18) {}

size_t Worksheet::Window2::Read(const char* in, const char* end) {
    const size_t n = ReadFixed(in, end, 18);
    if (n == 0) return 0;
    LittleEndian::Read(data, options, 0);
    LittleEndian::Read(data, firstVisibleRow, 2);
    LittleEndian::Read(data, firstVisibleColumn, 4);
    LittleEndian::Read(data, gridLineColour, 6);
    LittleEndian::Read(data, reserved, 8);
    LittleEndian::Read(data, pageBreakZoom, 10);
    LittleEndian::Read(data, normalZoom, 12);
    LittleEndian::Read(data, reserved2, 14);
    return n;
}

size_t Worksheet::Window2::Write(char* out) {
    data.resize(DataSize(), 0);
    LittleEndian::Write(data, options, 0);
    LittleEndian::Write(data, firstVisibleRow, 2);
    LittleEndian::Write(data, firstVisibleColumn, 4);
    LittleEndian::Write(data, gridLineColour, 6);
    LittleEndian::Write(data, reserved, 8);
    LittleEndian::Write(data, pageBreakZoom, 10);
    LittleEndian::Write(data, normalZoom, 12);
    LittleEndian::Write(data, reserved2, 14);
    return Record::Write(out);
}

// ---- Worksheet ----

Worksheet::Worksheet() {
    bof.version = 0x0600;
    bof.type = SubstreamType::Worksheet;
    bof.buildIdentifier = 0x19A0;
    bof.buildYear = 0x07CD;
    bof.historyFlags = 0xC0C9;
    bof.lowestVersion = 0x0306;
}

size_t Worksheet::Read(const char* in, const char* end) {
    size_t pos = 0;
    bool ownBof = false;
    for (;;) {
        unsigned short code = 0;
        if (!Record::PeekCode(in + pos, end, code)) return 0;  // no EOF before the end
        size_t n = 0;
        switch (code) {
            case RecordCode::Eof: {
                // Its actual size, so a malformed EOF with data still leaves
                // the caller at the next substream.
                Record last;
                n = last.Read(in + pos, end);
                return n == 0 ? 0 : pos + n;
            }
            case RecordCode::Dimensions: n = dimensions.Read(in + pos, end); break;
            case RecordCode::Row: n = cellTable.Read(in + pos, end); break;
            case RecordCode::Index: n = index.Read(in + pos, end); break;
            case RecordCode::Window2: n = window2.Read(in + pos, end); break;
            case RecordCode::Bof:
                if (ownBof) {
                    // An embedded substream (a chart, say): its BOF and EOF
                    // are not the sheet's own.
                    n = Record::SkipSubstream(in + pos, end);
                } else {
                    n = bof.Read(in + pos, end);
                    ownBof = true;
                }
                break;
            default: {
                if (CellTable::RowBlock::CellBlock::IsCellKind(code)) {
                    looseCells.emplace_back();
                    n = looseCells.back().Read(in + pos, end);
                    break;
                }
                Record skipped;
                n = skipped.Read(in + pos, end);
                break;
            }
        }
        if (n == 0) return 0;
        pos += n;
    }
}

size_t Worksheet::Write(char* out) {
    size_t n = bof.Write(out);
    n += index.Write(out + n);
    n += dimensions.Write(out + n);
    n += cellTable.Write(out + n);
    for (auto& cell : looseCells) n += cell.Write(out + n);
    n += window2.Write(out + n);
    n += eof.Write(out + n);
    return n;
}

size_t Worksheet::DataSize() {
    size_t loose = 0;
    for (auto& cell : looseCells) loose += cell.RecordSize();
    return bof.RecordSize() + index.RecordSize() + dimensions.RecordSize() + cellTable.RecordSize() + loose +
           window2.RecordSize() + eof.RecordSize();
}

}  // namespace XlsBiff
}  // namespace CompoundFiles
