// Workbook streams built byte by byte for the document's loading tests, so
// what is read is independent of the writer under test.
#ifndef TESTS_WORKBOOK_XLS_STREAM_BYTES_H
#define TESTS_WORKBOOK_XLS_STREAM_BYTES_H

#include <cstdint>
#include <string>
#include <vector>

#include "tests/workbook/sheet_bytes.h"

namespace xls_bytes {

using namespace sheet_bytes;

struct Entry {
    std::string name;
    unsigned type;  // BOUNDSHEET sheet type: 0 worksheet, 2 chart
    std::uint32_t position;
};

inline Bytes BoundSheet(const Entry& e) {
    Bytes d;
    Put32(d, e.position);
    d.push_back(0);
    d.push_back(static_cast<char>(e.type));
    d.push_back(static_cast<char>(e.name.size()));
    d.push_back(0);
    d.insert(d.end(), e.name.begin(), e.name.end());
    return Rec(0x0085, d);
}

// SST of narrow strings.
inline Bytes Sst(const std::vector<std::string>& strings) {
    Bytes d;
    Put32(d, static_cast<std::uint32_t>(strings.size()));
    Put32(d, static_cast<std::uint32_t>(strings.size()));
    for (const std::string& s : strings) {
        Put16(d, static_cast<unsigned>(s.size()));
        d.push_back(0);
        d.insert(d.end(), s.begin(), s.end());
    }
    return Rec(0x00FC, d);
}

inline Bytes Globals(const std::vector<Entry>& entries, const Bytes& sst, unsigned version = 0x0600) {
    Bytes bof = BofData(0x0005);
    bof[0] = static_cast<char>(version & 0xFF);
    bof[1] = static_cast<char>(version >> 8);
    Bytes g = Rec(0x0809, bof);
    for (const Entry& e : entries) {
        const Bytes b = BoundSheet(e);
        g.insert(g.end(), b.begin(), b.end());
    }
    g.insert(g.end(), sst.begin(), sst.end());
    const Bytes eof = Rec(0x000A, {});
    g.insert(g.end(), eof.begin(), eof.end());
    return g;
}

inline Bytes Dimensions(std::uint32_t rows, unsigned columns) {
    Bytes d;
    Put32(d, 0);
    Put32(d, rows);
    Put16(d, 0);
    Put16(d, columns);
    Put16(d, 0);
    return Rec(0x0200, d);
}

// A worksheet substream: BOF, DIMENSIONS, one row block holding the given
// ROW and cell records and a DBCELL, EOF.
inline Bytes Worksheet(std::uint32_t rows, unsigned columns, const Bytes& rowsAndCells) {
    return Join({Rec(0x0809, BofData(0x0010)), Dimensions(rows, columns), rowsAndCells, Rec(0x00D7, DbCellData(0, {})),
                 Rec(0x000A, {})});
}

inline Bytes Cell6(unsigned row, unsigned column) {
    Bytes d;
    Put16(d, row);
    Put16(d, column);
    Put16(d, 0);
    return d;
}

inline Bytes RkRecord(unsigned row, unsigned column, std::uint32_t rk) {
    Bytes d = Cell6(row, column);
    Put32(d, rk);
    return Rec(0x027E, d);
}

inline Bytes MulRkRecord(unsigned row, unsigned first, const std::vector<std::uint32_t>& rks) {
    Bytes d;
    Put16(d, row);
    Put16(d, first);
    for (std::uint32_t rk : rks) {
        Put16(d, 0);
        Put32(d, rk);
    }
    Put16(d, first + static_cast<unsigned>(rks.size()) - 1);
    return Rec(0x00BD, d);
}

inline Bytes LabelSstRecord(unsigned row, unsigned column, std::uint32_t index) {
    Bytes d = Cell6(row, column);
    Put32(d, index);
    return Rec(0x00FD, d);
}

inline Bytes BoolErrRecord(unsigned row, unsigned column, unsigned value, unsigned isError) {
    Bytes d = Cell6(row, column);
    d.push_back(static_cast<char>(value));
    d.push_back(static_cast<char>(isError));
    return Rec(0x0205, d);
}

inline Bytes NumberRecord(unsigned row, unsigned column, double v) { return Rec(0x0203, NumberData(row, column, v)); }

inline Bytes RowRecord(unsigned row) { return Rec(0x0208, RowData(row, 0, 1)); }

// A chart substream with an inner record.
inline Bytes Chart() { return Join({Rec(0x0809, BofData(0x0020)), Rec(0x1002, Filled(16, 0)), Rec(0x000A, {})}); }

// Globals for the sheets, followed by their substreams, with every
// BOUNDSHEET position pointing at its substream (position given as
// UINT32_MAX in an entry: left pointing nowhere).
inline Bytes Stream(std::vector<Entry> entries, const std::vector<Bytes>& substreams, const Bytes& sst) {
    const size_t globalsSize = Globals(entries, sst).size();
    size_t at = globalsSize;
    for (size_t k = 0; k < entries.size(); ++k) {
        if (entries[k].position != UINT32_MAX) entries[k].position = static_cast<std::uint32_t>(at);
        if (k < substreams.size()) at += substreams[k].size();
    }
    Bytes all = Globals(entries, sst);
    for (const Bytes& s : substreams) all.insert(all.end(), s.begin(), s.end());
    return all;
}

}  // namespace xls_bytes

#endif
