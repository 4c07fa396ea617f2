#include "workbook/worksheet.h"

#include <memory>
#include <type_traits>
#include <utility>
#include <variant>

namespace CompoundFiles {
namespace XlsBiff {

using CellTable = Worksheet::CellTable;
using RowBlock = CellTable::RowBlock;
using CellBlock = RowBlock::CellBlock;

// ---- ROW and DBCELL ----

RowBlock::Row::Row() : Record(RecordCode::Row, 16) {}

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

RowBlock::DBCell::DBCell() : Record(RecordCode::DbCell, 4) {}

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

static_assert(std::is_nothrow_move_constructible<CellBlock>::value, "cell lists grow by moving their blocks");

CellBlock::CellBlock() = default;

CellBlock::CellBlock(const CellBlock& other) : flag(other.flag), kind(other.kind), held(CopyOf(other.held)) {}

CellBlock& CellBlock::operator=(const CellBlock& other) {
    if (this != &other) {
        held = CopyOf(other.held);
        kind = other.kind;
        flag = other.flag;
    }
    return *this;
}

CellBlock::CellBlock(CellBlock&& other) noexcept : flag(other.flag), kind(other.kind), held(std::move(other.held)) {
    other.held.emplace<std::monostate>();
    other.kind = RecordCode::None;
    other.flag = 1;
}

CellBlock& CellBlock::operator=(CellBlock&& other) noexcept {
    if (this != &other) {
        held = std::move(other.held);
        kind = other.kind;
        flag = other.flag;
        other.held.emplace<std::monostate>();
        other.kind = RecordCode::None;
        other.flag = 1;
    }
    return *this;
}

CellBlock::~CellBlock() = default;

CellBlock::Held CellBlock::CopyOf(const Held& other) {
    return std::visit(
        [](const auto& r) -> Held {
            using T = std::decay_t<decltype(r)>;
            if constexpr (std::is_same<T, FormulaBox>::value)
                return Held(std::in_place_type<FormulaBox>, std::make_unique<Formula>(*r));
            else
                return Held(std::in_place_type<T>, r);
        },
        other);
}

bool CellBlock::IsCellKind(std::uint16_t code) {
    switch (code) {
        case RecordCode::Formula:
        case RecordCode::MulRk:
        case RecordCode::MulBlank:
        case RecordCode::RString:
        case RecordCode::LabelSst:
        case RecordCode::Blank:
        case RecordCode::Number:
        case RecordCode::Label:
        case RecordCode::BoolErr:
        case RecordCode::Rk: return true;
        default: return false;
    }
}

size_t CellBlock::Read(const char* in, const char* end) {
    unsigned short code = 0;
    if (!Record::PeekCode(in, end, code)) return 0;
    switch (code) {
        case RecordCode::Formula: return Hold<Formula>().Read(in, end);
        case RecordCode::MulRk: return Hold<MulRK>().Read(in, end);
        case RecordCode::MulBlank: return Hold<MulBlank>().Read(in, end);
        case RecordCode::RString: return Hold<RString>().Read(in, end);
        case RecordCode::LabelSst: return Hold<LabelSST>().Read(in, end);
        case RecordCode::Blank: return Hold<Blank>().Read(in, end);
        case RecordCode::Number: return Hold<Number>().Read(in, end);
        case RecordCode::Label: return Hold<Label>().Read(in, end);
        case RecordCode::BoolErr: return Hold<BoolErr>().Read(in, end);
        case RecordCode::Rk: return Hold<RK>().Read(in, end);
        default:
            held.emplace<std::monostate>();
            kind = code;
            return 0;
    }
}

Record* CellBlock::HeldRecord() {
    return std::visit(
        [](auto& r) -> Record* {
            using T = std::decay_t<decltype(r)>;
            if constexpr (std::is_same<T, std::monostate>::value)
                return nullptr;
            else if constexpr (std::is_same<T, FormulaBox>::value)
                return r.get();
            else
                return &r;
        },
        held);
}

size_t CellBlock::Write(char* out) {
    Record* r = HeldRecord();
    return r != nullptr ? r->Write(out) : 0;
}

size_t CellBlock::DataSize() {
    Record* r = HeldRecord();
    return r != nullptr ? r->DataSize() : 0;
}

size_t CellBlock::RecordSize() {
    Record* r = HeldRecord();
    return r != nullptr ? r->RecordSize() : 0;
}

std::int16_t CellBlock::RowIndex() const {
    return std::visit(
        [](const auto& r) -> std::int16_t {
            using T = std::decay_t<decltype(r)>;
            if constexpr (std::is_same<T, std::monostate>::value)
                return 0;
            else if constexpr (std::is_same<T, FormulaBox>::value)
                return static_cast<std::int16_t>(r->row);
            else
                return static_cast<std::int16_t>(r.row);
        },
        held);
}

std::int16_t CellBlock::ColumnIndex() const {
    return std::visit(
        [](const auto& r) -> std::int16_t {
            using T = std::decay_t<decltype(r)>;
            if constexpr (std::is_same<T, std::monostate>::value)
                return 0;
            else if constexpr (std::is_same<T, FormulaBox>::value)
                return static_cast<std::int16_t>(r->column);
            else if constexpr (std::is_same<T, MulRK>::value || std::is_same<T, MulBlank>::value)
                return r.firstColumn;
            else
                return static_cast<std::int16_t>(r.column);
        },
        held);
}

// ---- RowBlock ----

RowBlock::RowBlock() = default;

// The lists grow with what is read and nothing is reserved ahead: a
// block's size is not known before its DBCELL, and room reserved on the
// strength of a ROW record would let a few bytes of input claim megabytes.
size_t RowBlock::Read(const char* in, const char* end) {
    size_t pos = 0;
    for (;;) {
        unsigned short code = 0;
        if (!Record::PeekCode(in + pos, end, code)) return 0;  // no DBCELL before the end
        size_t n = 0;
        if (code == RecordCode::DbCell) {
            n = dbCell.Read(in + pos, end);
            return n == 0 ? 0 : pos + n;
        } else if (code == RecordCode::Eof || code == RecordCode::Bof) {
            // The substream ends (or another begins) before a DBCELL: the
            // block ends here rather than swallowing records of its sheet's
            // tail or of the next substream.
            return pos;
        } else if (code == RecordCode::Row) {
            rows.emplace_back();
            n = rows.back().Read(in + pos, end);
        } else if (CellBlock::IsCellKind(code)) {
            cells.emplace_back();
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
    size_t pos = 0;
    unsigned short code = 0;
    while (Record::PeekCode(in + pos, end, code) && code == RecordCode::Row) {
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
