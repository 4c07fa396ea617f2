#include "workbook/worksheet.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace CompoundFiles {
namespace XlsBiff {

using Formula = Worksheet::CellTable::RowBlock::CellBlock::Formula;

namespace {
// The data bytes from `from` to the end.
void TakeTail(const std::vector<char>& data, size_t from, std::vector<char>& tail) {
    if (from < data.size())
        tail.assign(data.begin() + static_cast<std::ptrdiff_t>(from), data.end());
    else
        tail.clear();
}

void PutTail(std::vector<char>& data, size_t from, const std::vector<char>& tail) {
    std::copy(tail.begin(), tail.end(), data.begin() + static_cast<std::ptrdiff_t>(from));
}
}  // namespace

Formula::Array::Array() : Record(RecordCode::Array, 12) {}

size_t Formula::Array::Read(const char* in, const char* end) {
    const size_t n = ReadFixed(in, end, 12);
    if (n == 0) return 0;
    LittleEndian::Read(data, firstRow, 0);
    LittleEndian::Read(data, lastRow, 2);
    LittleEndian::Read(data, firstColumn, 4);
    LittleEndian::Read(data, lastColumn, 5);
    LittleEndian::Read(data, options, 6);
    LittleEndian::Read(data, reserved, 8);
    TakeTail(data, 12, formulaBytes);
    return n;
}

size_t Formula::Array::Write(char* out) {
    data.resize(DataSize(), 0);
    LittleEndian::Write(data, firstRow, 0);
    LittleEndian::Write(data, lastRow, 2);
    LittleEndian::Write(data, firstColumn, 4);
    LittleEndian::Write(data, lastColumn, 5);
    LittleEndian::Write(data, options, 6);
    LittleEndian::Write(data, reserved, 8);
    PutTail(data, 12, formulaBytes);
    return Record::Write(out);
}

size_t Formula::Array::DataSize() { return dataSize = 12 + formulaBytes.size(); }

size_t Formula::Array::RecordSize() { return recordSize = RecordSizeFor(DataSize()); }

Formula::ShrFmla::ShrFmla() : Record(RecordCode::ShrFmla, 8) {}

Formula::ShrFmla::ShrFmla(std::uint16_t code) : Record(code, 8) {}

size_t Formula::ShrFmla::Read(const char* in, const char* end) {
    const size_t n = ReadFixed(in, end, 8);
    if (n == 0) return 0;
    LittleEndian::Read(data, firstRow, 0);
    LittleEndian::Read(data, lastRow, 2);
    LittleEndian::Read(data, firstColumn, 4);
    LittleEndian::Read(data, lastColumn, 5);
    LittleEndian::Read(data, useCount, 6);
    TakeTail(data, 8, formulaBytes);
    return n;
}

size_t Formula::ShrFmla::Write(char* out) {
    data.resize(DataSize(), 0);
    LittleEndian::Write(data, firstRow, 0);
    LittleEndian::Write(data, lastRow, 2);
    LittleEndian::Write(data, firstColumn, 4);
    LittleEndian::Write(data, lastColumn, 5);
    LittleEndian::Write(data, useCount, 6);
    PutTail(data, 8, formulaBytes);
    return Record::Write(out);
}

size_t Formula::ShrFmla::DataSize() { return dataSize = 8 + formulaBytes.size(); }

size_t Formula::ShrFmla::RecordSize() { return recordSize = RecordSizeFor(DataSize()); }

Formula::ShrFmla1::ShrFmla1() : ShrFmla(RecordCode::ShrFmla1) {}

Formula::Table::Table() : Record(RecordCode::Table, 16) {}

size_t Formula::Table::Read(const char* in, const char* end) {
    const size_t n = ReadFixed(in, end, 16);
    if (n == 0) return 0;
    LittleEndian::Read(data, firstRow, 0);
    LittleEndian::Read(data, lastRow, 2);
    LittleEndian::Read(data, firstColumn, 4);
    LittleEndian::Read(data, lastColumn, 5);
    LittleEndian::Read(data, options, 6);
    LittleEndian::Read(data, rowInputRow, 8);
    LittleEndian::Read(data, rowInputColumn, 10);
    LittleEndian::Read(data, columnInputRow, 12);
    LittleEndian::Read(data, columnInputColumn, 14);
    return n;
}

size_t Formula::Table::Write(char* out) {
    data.resize(DataSize(), 0);
    LittleEndian::Write(data, firstRow, 0);
    LittleEndian::Write(data, lastRow, 2);
    LittleEndian::Write(data, firstColumn, 4);
    LittleEndian::Write(data, lastColumn, 5);
    LittleEndian::Write(data, options, 6);
    LittleEndian::Write(data, rowInputRow, 8);
    LittleEndian::Write(data, rowInputColumn, 10);
    LittleEndian::Write(data, columnInputRow, 12);
    LittleEndian::Write(data, columnInputColumn, 14);
    return Record::Write(out);
}

Formula::String::String() : Record(RecordCode::String, 0) {}

size_t Formula::String::Read(const char* in, const char* end) {
    const size_t n = ReadFixed(in, end, 0);
    if (n == 0) return 0;
    text.assign(data.size() / 2, 0);
    for (size_t i = 0; i < text.size(); ++i) LittleEndian::Read(data, text[i], 2 * i);
    // BIFF8 writers store a counted string here, often of odd length; the
    // last byte is kept so the record covers and rewrites what was read.
    oddByte.clear();
    if (data.size() % 2 != 0) oddByte.push_back(data.back());
    return n;
}

bool Formula::String::ResultText(BiffString& result) const {
    return ReadPiecedString(data, continueOffsets, 0, result) != 0;
}

size_t Formula::String::Write(char* out) {
    data.resize(DataSize(), 0);
    for (size_t i = 0; i < text.size(); ++i) LittleEndian::Write(data, text[i], 2 * i);
    if (!oddByte.empty()) data[2 * text.size()] = oddByte.front();
    return Record::Write(out);
}

size_t Formula::String::DataSize() { return dataSize = 2 * text.size() + (oddByte.empty() ? 0 : 1); }

size_t Formula::String::RecordSize() { return recordSize = RecordSizeFor(DataSize()); }

Formula::Formula() : Record(RecordCode::Formula, 18) {}

Formula::CachedResult Formula::LastResult() const {
    const unsigned char* r = reinterpret_cast<const unsigned char*>(result);
    CachedResult cached;
    // A double, unless its top two bytes are 0xFFFF; then byte 0 names the
    // kind and byte 2 holds a Boolean or an error code.
    if (r[6] != 0xFF || r[7] != 0xFF) {
        std::uint64_t bits = 0;
        for (int i = 7; i >= 0; --i) bits = (bits << 8) | r[i];
        std::memcpy(&cached.number, &bits, sizeof cached.number);
        cached.kind = CachedResult::Kind::Number;
    } else if (r[0] == 0) {
        cached.kind = CachedResult::Kind::Text;
    } else if (r[0] == 1) {
        cached.kind = CachedResult::Kind::Boolean;
        cached.value = r[2] != 0 ? 1 : 0;
    } else if (r[0] == 2) {
        cached.kind = CachedResult::Kind::Error;
        cached.value = r[2];
    }
    return cached;
}

Record* Formula::Attached() {
    switch (attachedCode) {
        case RecordCode::Table: return &table;
        case RecordCode::ShrFmla: return &shrFmla;
        case RecordCode::Array: return &array;
        case RecordCode::ShrFmla1: return &shrFmla1;
        default: return nullptr;
    }
}

size_t Formula::Read(const char* in, const char* end) {
    const size_t n = ReadFixed(in, end, 18);
    if (n == 0) return 0;
    LittleEndian::Read(data, row, 0);
    LittleEndian::Read(data, column, 2);
    LittleEndian::Read(data, xfIndex, 4);
    for (size_t i = 0; i < 8; ++i) result[i] = data[6 + i];
    LittleEndian::Read(data, options, 14);
    LittleEndian::Read(data, reserved, 16, 2);
    TakeTail(data, 18, formulaBytes);

    // What travels with this record belongs to this read alone.
    attachedCode = RecordCode::None;
    string = String();

    // Behind the FORMULA record and all its CONTINUE pieces.
    size_t q = n;
    unsigned short next = 0;
    if (Record::PeekCode(in + q, end, next)) {
        attachedCode = next;
        Record* attached = Attached();
        if (attached == nullptr) {
            attachedCode = RecordCode::None;
        } else {
            const size_t m = attached->Read(in + q, end);
            if (m == 0) return 0;
            q += m;
        }
    }
    if (Record::PeekCode(in + q, end, next) && next == RecordCode::String) {
        const size_t m = string.Read(in + q, end);
        if (m == 0) return 0;
        q += m;
    }
    // The bytes covered; equal to RecordSize() except for an empty STRING
    // record, which is passed over here and not written again.
    return q;
}

size_t Formula::Write(char* out) {
    data.resize(DataSize(), 0);
    LittleEndian::Write(data, row, 0);
    LittleEndian::Write(data, column, 2);
    LittleEndian::Write(data, xfIndex, 4);
    for (size_t i = 0; i < 8; ++i) data[6 + i] = result[i];
    LittleEndian::Write(data, options, 14);
    LittleEndian::Write(data, reserved, 16, 2);
    PutTail(data, 18, formulaBytes);
    size_t q = Record::Write(out);
    if (Record* attached = Attached()) q += attached->Write(out + q);
    if (string.DataSize() != 0) q += string.Write(out + q);
    recordSize = q;
    return q;
}

size_t Formula::DataSize() { return dataSize = 18 + formulaBytes.size(); }

size_t Formula::RecordSize() {
    size_t size = RecordSizeFor(DataSize());
    if (Record* attached = Attached()) size += attached->RecordSize();
    if (string.DataSize() != 0) size += string.RecordSize();
    return recordSize = size;
}

}  // namespace XlsBiff
}  // namespace CompoundFiles
