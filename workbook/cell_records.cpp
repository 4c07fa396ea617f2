#include "workbook/worksheet.h"

#include <cstring>

namespace CompoundFiles {
namespace XlsBiff {

using CellBlock = Worksheet::CellTable::RowBlock::CellBlock;

CellBlock::Blank::Blank() : Record(RecordCode::Blank, 6) {}

size_t CellBlock::Blank::Read(const char* in, const char* end) {
    const size_t n = ReadFixed(in, end, 6);
    if (n == 0) return 0;
    LittleEndian::Read(data, row, 0);
    LittleEndian::Read(data, column, 2);
    LittleEndian::Read(data, xfIndex, 4);
    return n;
}

size_t CellBlock::Blank::Write(char* out) {
    data.resize(DataSize(), 0);
    LittleEndian::Write(data, row, 0);
    LittleEndian::Write(data, column, 2);
    LittleEndian::Write(data, xfIndex, 4);
    return Record::Write(out);
}

CellBlock::BoolErr::BoolErr() : Record(RecordCode::BoolErr, 8) {}

size_t CellBlock::BoolErr::Read(const char* in, const char* end) {
    const size_t n = ReadFixed(in, end, 8);
    if (n == 0) return 0;
    LittleEndian::Read(data, row, 0);
    LittleEndian::Read(data, column, 2);
    LittleEndian::Read(data, xfIndex, 4);
    LittleEndian::Read(data, value, 6);
    LittleEndian::Read(data, isError, 7);
    return n;
}

size_t CellBlock::BoolErr::Write(char* out) {
    data.resize(DataSize(), 0);
    LittleEndian::Write(data, row, 0);
    LittleEndian::Write(data, column, 2);
    LittleEndian::Write(data, xfIndex, 4);
    LittleEndian::Write(data, value, 6);
    LittleEndian::Write(data, isError, 7);
    return Record::Write(out);
}

CellBlock::LabelSST::LabelSST() : Record(RecordCode::LabelSst, 10) {}

size_t CellBlock::LabelSST::Read(const char* in, const char* end) {
    const size_t n = ReadFixed(in, end, 10);
    if (n == 0) return 0;
    LittleEndian::Read(data, row, 0);
    LittleEndian::Read(data, column, 2);
    LittleEndian::Read(data, xfIndex, 4);
    LittleEndian::Read(data, sstIndex, 6, 4);
    return n;
}

size_t CellBlock::LabelSST::Write(char* out) {
    char bytes[10];
    LittleEndian::Write(bytes, row, 0);
    LittleEndian::Write(bytes, column, 2);
    LittleEndian::Write(bytes, xfIndex, 4);
    LittleEndian::Write(bytes, sstIndex, 6, 4);
    return WriteSmall(out, bytes, sizeof bytes);
}

namespace {

// The fields LABEL and RSTRING share: row, column, format, then the text as
// a long string that may run on into CONTINUE pieces. False when it runs
// past the data.
bool ReadTextCellFields(const std::vector<char>& data, const std::vector<size_t>& continueOffsets, std::uint16_t& row,
                        std::uint16_t& column, std::uint16_t& xfIndex, BiffString& text) {
    LittleEndian::Read(data, row, 0);
    LittleEndian::Read(data, column, 2);
    LittleEndian::Read(data, xfIndex, 4);
    return ReadPiecedString(data, continueOffsets, 6, text) != 0;
}

}  // namespace

CellBlock::Label::Label() : Record(RecordCode::Label, 9) {}

size_t CellBlock::Label::Read(const char* in, const char* end) {
    const size_t n = ReadFixed(in, end, 6);
    if (n == 0 || !ReadTextCellFields(data, continueOffsets, row, column, xfIndex, text)) return 0;
    return n;
}

size_t CellBlock::Label::Write(char* out) {
    data.resize(DataSize(), 0);
    LittleEndian::Write(data, row, 0);
    LittleEndian::Write(data, column, 2);
    LittleEndian::Write(data, xfIndex, 4);
    text.Write(data.data() + 6);
    continueOffsets.clear();
    return Record::Write(out);
}

size_t CellBlock::Label::DataSize() { return dataSize = 6 + 3 + text.CharacterBytes(); }

// Never the split as read: the record is written back cut by size only,
// which is sound for the texts of at most 255 characters LABEL carries.
size_t CellBlock::Label::RecordSize() { return recordSize = SplitSize(DataSize()); }

CellBlock::RString::RString() : Record(RecordCode::RString, 9) {}

size_t CellBlock::RString::Read(const char* in, const char* end) {
    const size_t n = ReadFixed(in, end, 6);
    if (n == 0 || !ReadTextCellFields(data, continueOffsets, row, column, xfIndex, text)) return 0;
    return n;
}

size_t CellBlock::RString::Write(char* out) {
    data.resize(DataSize(), 0);
    LittleEndian::Write(data, row, 0);
    LittleEndian::Write(data, column, 2);
    LittleEndian::Write(data, xfIndex, 4);
    return Record::Write(out);
}

CellBlock::Number::Number() : Record(RecordCode::Number, 14) {}

size_t CellBlock::Number::Read(const char* in, const char* end) {
    const size_t n = ReadFixed(in, end, 14);
    if (n == 0) return 0;
    LittleEndian::Read(data, row, 0);
    LittleEndian::Read(data, column, 2);
    LittleEndian::Read(data, xfIndex, 4);
    LittleEndian::Read(data, bits, 6, 8);
    std::memcpy(&value, &bits, sizeof value);
    return n;
}

size_t CellBlock::Number::Write(char* out) {
    char bytes[14];
    std::memcpy(&bits, &value, sizeof bits);
    LittleEndian::Write(bytes, row, 0);
    LittleEndian::Write(bytes, column, 2);
    LittleEndian::Write(bytes, xfIndex, 4);
    LittleEndian::Write(bytes, bits, 6, 8);
    return WriteSmall(out, bytes, sizeof bytes);
}

CellBlock::RK::RK() : Record(RecordCode::Rk, 10) {}

size_t CellBlock::RK::Read(const char* in, const char* end) {
    const size_t n = ReadFixed(in, end, 10);
    if (n == 0) return 0;
    LittleEndian::Read(data, row, 0);
    LittleEndian::Read(data, column, 2);
    LittleEndian::Read(data, xfIndex, 4);
    LittleEndian::Read(data, rk, 6);
    return n;
}

size_t CellBlock::RK::Write(char* out) {
    char bytes[10];
    LittleEndian::Write(bytes, row, 0);
    LittleEndian::Write(bytes, column, 2);
    LittleEndian::Write(bytes, xfIndex, 4);
    LittleEndian::Write(bytes, rk, 6);
    return WriteSmall(out, bytes, sizeof bytes);
}

namespace {
// Entry count of a MULBLANK/MULRK from its column fields, or -1 when the
// range is empty or the data length does not hold exactly that many entries.
// Guessing a count for a disagreeing record would shift or invent cells.
long RunLength(const std::vector<char>& data, size_t entryBytes, std::int16_t& first, std::int16_t& last) {
    if (data.size() < 6) return -1;
    LittleEndian::Read(data, first, 2);
    LittleEndian::Read(data, last, data.size() - 2);
    const long count = static_cast<long>(last) - static_cast<long>(first) + 1;
    if (count <= 0 || data.size() != 6 + entryBytes * static_cast<size_t>(count)) return -1;
    return count;
}
}  // namespace

CellBlock::MulBlank::MulBlank() : Record(RecordCode::MulBlank, 10) {}

size_t CellBlock::MulBlank::Read(const char* in, const char* end) {
    const size_t n = ReadFixed(in, end, 6);
    if (n == 0) return 0;
    const long count = RunLength(data, 2, firstColumn, lastColumn);
    if (count < 0) return 0;
    LittleEndian::Read(data, row, 0);
    xfIndices.assign(static_cast<size_t>(count), 0);
    for (size_t i = 0; i < xfIndices.size(); ++i) LittleEndian::Read(data, xfIndices[i], 4 + 2 * i);
    return n;
}

size_t CellBlock::MulBlank::Write(char* out) {
    data.resize(DataSize(), 0);
    LittleEndian::Write(data, row, 0);
    LittleEndian::Write(data, firstColumn, 2);
    for (size_t i = 0; i < xfIndices.size(); ++i) LittleEndian::Write(data, xfIndices[i], 4 + 2 * i);
    LittleEndian::Write(data, lastColumn, data.size() - 2);
    return Record::Write(out);
}

size_t CellBlock::MulBlank::DataSize() { return dataSize = 6 + 2 * xfIndices.size(); }

size_t CellBlock::MulBlank::RecordSize() { return recordSize = RecordSizeFor(DataSize()); }

void CellBlock::MulRK::XFRK::Read(const char* in) {
    LittleEndian::Read(in, xfIndex, 0, 2);
    LittleEndian::Read(in, rk, 2, 4);
}

void CellBlock::MulRK::XFRK::Write(char* out) const {
    LittleEndian::Write(out, xfIndex, 0, 2);
    LittleEndian::Write(out, rk, 2, 4);
}

CellBlock::MulRK::MulRK() : Record(RecordCode::MulRk, 10) {}

size_t CellBlock::MulRK::Read(const char* in, const char* end) {
    const size_t n = ReadFixed(in, end, 6);
    if (n == 0) return 0;
    const long count = RunLength(data, 6, firstColumn, lastColumn);
    if (count < 0) return 0;
    LittleEndian::Read(data, row, 0);
    entries.assign(static_cast<size_t>(count), XFRK());
    for (size_t i = 0; i < entries.size(); ++i) entries[i].Read(data.data() + 4 + 6 * i);
    return n;
}

size_t CellBlock::MulRK::Write(char* out) {
    data.resize(DataSize(), 0);
    LittleEndian::Write(data, row, 0);
    LittleEndian::Write(data, firstColumn, 2);
    for (size_t i = 0; i < entries.size(); ++i) entries[i].Write(data.data() + 4 + 6 * i);
    LittleEndian::Write(data, lastColumn, data.size() - 2);
    return Record::Write(out);
}

size_t CellBlock::MulRK::DataSize() { return dataSize = 6 + 6 * entries.size(); }

size_t CellBlock::MulRK::RecordSize() { return recordSize = RecordSizeFor(DataSize()); }

}  // namespace XlsBiff
}  // namespace CompoundFiles
