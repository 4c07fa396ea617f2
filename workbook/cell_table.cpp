#include "workbook/worksheet.h"

namespace CompoundFiles {
namespace XlsBiff {

using CellTable = Worksheet::CellTable;
using RowBlock = CellTable::RowBlock;
using CellBlock = RowBlock::CellBlock;

// ---- ROW and DBCELL ----

RowBlock::Row::Row() : Record(0x0208, 16) {}

size_t RowBlock::Row::Read(const char* in, const char* end) {
    const size_t n = ReadFixed(in, end, 16);
    if (n == 0) return 0;
    LittleEndian::Read(data, row, 0);
    LittleEndian::Read(data, firstColumn, 2);
    LittleEndian::Read(data, lastColumnPlusOne, 4);
    LittleEndian::Read(data, height, 6);
    LittleEndian::Read(data, reserved1, 8);
    LittleEndian::Read(data, reserved2, 10);
    LittleEndian::Read(data, options, 12);
    return n;
}

size_t RowBlock::Row::Write(char* out) {
    data.resize(DataSize(), 0);
    LittleEndian::Write(data, row, 0);
    LittleEndian::Write(data, firstColumn, 2);
    LittleEndian::Write(data, lastColumnPlusOne, 4);
    LittleEndian::Write(data, height, 6);
    LittleEndian::Write(data, reserved1, 8);
    LittleEndian::Write(data, reserved2, 10);
    LittleEndian::Write(data, options, 12);
    return Record::Write(out);
}

RowBlock::DBCell::DBCell() : Record(0x00D7, 4) {}

size_t RowBlock::DBCell::Read(const char* in, const char* end) {
    const size_t n = ReadFixed(in, end, 4);
    if (n == 0) return 0;
    LittleEndian::Read(data, firstRowOffset, 0);
    cellOffsets.assign((data.size() - 4) / 2, 0);
    for (size_t i = 0; i < cellOffsets.size(); ++i) LittleEndian::Read(data, cellOffsets[i], 4 + 2 * i);
    return n;
}

size_t RowBlock::DBCell::Write(char* out) {
    data.resize(DataSize(), 0);
    LittleEndian::Write(data, firstRowOffset, 0);
    for (size_t i = 0; i < cellOffsets.size(); ++i) LittleEndian::Write(data, cellOffsets[i], 4 + 2 * i);
    return Record::Write(out);
}

size_t RowBlock::DBCell::DataSize() { return dataSize = 4 + 2 * cellOffsets.size(); }

size_t RowBlock::DBCell::RecordSize() { return recordSize = RecordSizeFor(DataSize()); }

// ---- CellBlock ----

CellBlock::CellBlock() = default;

bool CellBlock::IsCellKind(std::uint16_t code) {
    switch (code) {
        case 0x0006: case 0x00BD: case 0x00BE: case 0x00FD:
        case 0x0201: case 0x0203: case 0x0205: case 0x027E:
            return true;
        default:
            return false;
    }
}

size_t CellBlock::Read(const char* in, const char* end) {
    unsigned short code = 0;
    if (!Record::PeekCode(in, end, code)) return 0;
    kind = code;
    switch (kind) {
        case 0x0006: return formula.Read(in, end);
        case 0x00BD: return mulRK.Read(in, end);
        case 0x00BE: return mulBlank.Read(in, end);
        case 0x00FD: return labelSST.Read(in, end);
        case 0x0201: return blank.Read(in, end);
        case 0x0203: return number.Read(in, end);
        case 0x0205: return boolErr.Read(in, end);
        case 0x027E: return rk.Read(in, end);
        default: return 0;
    }
}

size_t CellBlock::Write(char* out) {
    switch (kind) {
        case 0x0006: return formula.Write(out);
        case 0x00BD: return mulRK.Write(out);
        case 0x00BE: return mulBlank.Write(out);
        case 0x00FD: return labelSST.Write(out);
        case 0x0201: return blank.Write(out);
        case 0x0203: return number.Write(out);
        case 0x0205: return boolErr.Write(out);
        case 0x027E: return rk.Write(out);
        default: return 0;
    }
}

size_t CellBlock::DataSize() {
    switch (kind) {
        case 0x0006: return formula.DataSize();
        case 0x00BD: return mulRK.DataSize();
        case 0x00BE: return mulBlank.DataSize();
        case 0x00FD: return labelSST.DataSize();
        case 0x0201: return blank.DataSize();
        case 0x0203: return number.DataSize();
        case 0x0205: return boolErr.DataSize();
        case 0x027E: return rk.DataSize();
        default: return 0;
    }
}

size_t CellBlock::RecordSize() {
    switch (kind) {
        case 0x0006: return formula.RecordSize();
        case 0x00BD: return mulRK.RecordSize();
        case 0x00BE: return mulBlank.RecordSize();
        case 0x00FD: return labelSST.RecordSize();
        case 0x0201: return blank.RecordSize();
        case 0x0203: return number.RecordSize();
        case 0x0205: return boolErr.RecordSize();
        case 0x027E: return rk.RecordSize();
        default: return 0;
    }
}

std::int16_t CellBlock::RowIndex() const {
    switch (kind) {
        case 0x0006: return static_cast<std::int16_t>(formula.row);
        case 0x00BD: return static_cast<std::int16_t>(mulRK.row);
        case 0x00BE: return static_cast<std::int16_t>(mulBlank.row);
        case 0x00FD: return static_cast<std::int16_t>(labelSST.row);
        case 0x0201: return static_cast<std::int16_t>(blank.row);
        case 0x0203: return static_cast<std::int16_t>(number.row);
        case 0x0205: return static_cast<std::int16_t>(boolErr.row);
        case 0x027E: return static_cast<std::int16_t>(rk.row);
        default: return 0;
    }
}

std::int16_t CellBlock::ColumnIndex() const {
    switch (kind) {
        case 0x0006: return static_cast<std::int16_t>(formula.column);
        case 0x00BD: return mulRK.firstColumn;
        case 0x00BE: return mulBlank.firstColumn;
        case 0x00FD: return static_cast<std::int16_t>(labelSST.column);
        case 0x0201: return static_cast<std::int16_t>(blank.column);
        case 0x0203: return static_cast<std::int16_t>(number.column);
        case 0x0205: return static_cast<std::int16_t>(boolErr.column);
        case 0x027E: return static_cast<std::int16_t>(rk.column);
        default: return 0;
    }
}

// ---- RowBlock ----

RowBlock::RowBlock() = default;

size_t RowBlock::Read(const char* in, const char* end) {
    cells.reserve(cells.size() + 1000);
    size_t pos = 0;
    for (;;) {
        unsigned short code = 0;
        if (!Record::PeekCode(in + pos, end, code)) return 0;  // no DBCELL before the end
        size_t n = 0;
        if (code == 0x00D7) {
            n = dbCell.Read(in + pos, end);
            return n == 0 ? 0 : pos + n;
        } else if (code == 0x000A || code == 0x0809) {
            // The substream ends (or another begins) before a DBCELL: the
            // block ends here rather than swallowing records of its sheet's
            // tail or of the next substream.
            return pos;
        } else if (code == 0x0208) {
            rows.emplace_back();
            n = rows.back().Read(in + pos, end);
        } else if (CellBlock::IsCellKind(code)) {
            cells.emplace_back();
            if (cells.size() % 1000 == 0) cells.reserve(cells.size() + 1000);
            n = cells.back().Read(in + pos, end);
        } else {
            Record skipped;
            n = skipped.Read(in + pos, end);
        }
        if (n == 0) return 0;
        pos += n;
    }
}

size_t RowBlock::Write(char* out) {
    size_t n = 0;
    for (Row& r : rows) n += r.Write(out + n);
    for (CellBlock& c : cells) n += c.Write(out + n);
    n += dbCell.Write(out + n);
    return n;
}

size_t RowBlock::DataSize() {
    size_t size = 0;
    for (Row& r : rows) size += r.RecordSize();
    for (CellBlock& c : cells) size += c.RecordSize();
    return size + dbCell.RecordSize();
}

// ---- CellTable ----

CellTable::CellTable() = default;

size_t CellTable::Read(const char* in, const char* end) {
    rowBlocks.reserve(rowBlocks.size() + 1000);
    size_t pos = 0;
    unsigned short code = 0;
    while (Record::PeekCode(in + pos, end, code) && code == 0x0208) {
        rowBlocks.emplace_back();
        const size_t n = rowBlocks.back().Read(in + pos, end);
        if (n == 0) {
            rowBlocks.pop_back();
            return 0;
        }
        pos += n;
    }
    return pos;
}

size_t CellTable::Write(char* out) {
    size_t n = 0;
    for (RowBlock& b : rowBlocks) n += b.Write(out + n);
    return n;
}

size_t CellTable::DataSize() {
    size_t size = 0;
    for (RowBlock& b : rowBlocks) size += b.RecordSize();
    return size;
}

}  // namespace XlsBiff
}  // namespace CompoundFiles
