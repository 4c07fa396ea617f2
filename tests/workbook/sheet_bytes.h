// Byte-level helpers for the worksheet tests: build records by hand, so the
// expected stream is independent of the writer under test.
#ifndef TESTS_WORKBOOK_SHEET_BYTES_H
#define TESTS_WORKBOOK_SHEET_BYTES_H

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

namespace sheet_bytes {

using Bytes = std::vector<char>;

inline void Put16(Bytes& b, unsigned v) {
    b.push_back(static_cast<char>(v & 0xFF));
    b.push_back(static_cast<char>((v >> 8) & 0xFF));
}

inline void Put32(Bytes& b, std::uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

inline void PutDouble(Bytes& b, double d) {
    std::uint64_t u;
    std::memcpy(&u, &d, sizeof u);
    Put32(b, static_cast<std::uint32_t>(u));
    Put32(b, static_cast<std::uint32_t>(u >> 32));
}

inline unsigned U16At(const Bytes& b, size_t p) {
    return static_cast<unsigned char>(b[p]) | (static_cast<unsigned char>(b[p + 1]) << 8);
}

// A record: code, length, data.
inline Bytes Rec(unsigned code, const Bytes& data) {
    Bytes r;
    Put16(r, code);
    Put16(r, static_cast<unsigned>(data.size()));
    r.insert(r.end(), data.begin(), data.end());
    return r;
}

inline Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

inline Bytes Filled(size_t n, char c) { return Bytes(n, c); }

// Bytes written out one by one, each 0 to 0xFF.
inline Bytes Hex(std::initializer_list<unsigned> bytes) {
    Bytes b;
    for (unsigned v : bytes) b.push_back(static_cast<char>(v));
    return b;
}

// Record bodies of common records.
inline Bytes BofData(unsigned type) {
    Bytes d;
    Put16(d, 0x0600);
    Put16(d, type);
    Put16(d, 0x19A0);
    Put16(d, 0x07CD);
    Put32(d, 0xC0C9);
    Put32(d, 0x0306);
    return d;
}

inline Bytes RowData(unsigned row, unsigned first, unsigned lastPlusOne) {
    Bytes d;
    Put16(d, row);
    Put16(d, first);
    Put16(d, lastPlusOne);
    Put16(d, 255);
    Put16(d, 0);
    Put16(d, 0);
    Put32(d, 0);
    return d;
}

inline Bytes NumberData(unsigned row, unsigned col, double v) {
    Bytes d;
    Put16(d, row);
    Put16(d, col);
    Put16(d, 0);
    PutDouble(d, v);
    return d;
}

inline Bytes DbCellData(std::uint32_t firstRowOffset, std::initializer_list<unsigned> offsets) {
    Bytes d;
    Put32(d, firstRowOffset);
    for (unsigned o : offsets) Put16(d, o);
    return d;
}

}  // namespace sheet_bytes

#endif
