// Worksheet substream reader: must never read outside the input, and what it
// accepts must write back at the announced size and read back to the same
// bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "workbook/worksheet.h"

using CompoundFiles::XlsBiff::Worksheet;

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

std::vector<char> WriteOut(Worksheet& w) {
    const size_t size = w.DataSize();
    std::vector<char> out(size);
    Check(w.Write(out.data()) == size);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy, so any read past the end is caught.
    std::vector<char> in(data, data + size);
    const char* begin = in.data();
    const char* end = begin + in.size();

    // The containers below the worksheet, on their own.
    Worksheet::CellTable table;
    Check(table.Read(begin, end) <= size);
    Worksheet::CellTable::RowBlock::CellBlock cell;
    Check(cell.Read(begin, end) <= size);
    cell.RecordSize();
    cell.RowIndex();

    Worksheet sheet;
    const size_t n = sheet.Read(begin, end);
    Check(n <= size);
    if (n == 0) return 0;

    const std::vector<char> first = WriteOut(sheet);
    Worksheet again;
    Check(again.Read(first.data(), first.data() + first.size()) == first.size());
    const std::vector<char> second = WriteOut(again);
    Check(first == second);
    return 0;
}
