// The shared string table and its CONTINUE split, planned so that strings are
// cut only where the format allows.
#include <algorithm>
#include <cstring>

#include "workbook/workbook.h"

namespace CompoundFiles {
namespace XlsBiff {

namespace {
// A piece that starts with a string cut elsewhere needs room for the string's
// 3-byte header and some characters; with less left, the string moves whole.
const size_t MinimumCutRoom = 12;
}  // namespace

Workbook::SharedStringTable::SharedStringTable() : Record(RecordCode::Sst, 8) {}

size_t Workbook::SharedStringTable::DataSize() {
    unique = static_cast<unsigned int>(strings.size());
    continueOffsets.clear();
    size_t d = 8;
    size_t e = MaxPieceSize;  // end of the current piece
    for (const BiffString& s : strings) {
        const size_t b = s.CharacterBytes();
        const bool wide = s.IsWide();
        if (d + 3 + b <= e) {
            d += 3 + b;
            continue;
        }
        if (e - d < MinimumCutRoom) {
            continueOffsets.push_back(d);
            e = d + MaxPieceSize;
            if (d + 3 + b <= e) {
                d += 3 + b;
                continue;
            }
        }
        // Cut at the end of the piece; a 16-bit string keeps whole characters
        // in front of the cut.
        if (wide && (e - d) % 2 == 0) e -= 1;
        continueOffsets.push_back(e);
        size_t rest = d + 3 + b - e;
        d = e;
        const size_t room = wide ? MaxPieceSize - 2 : MaxPieceSize - 1;
        while (rest > room) {
            continueOffsets.push_back(d + 1 + room);
            d += 1 + room;
            rest -= room;
        }
        d += 1 + rest;
        e = continueOffsets.back() + MaxPieceSize;
    }
    dataSize = d;
    return d;
}

size_t Workbook::SharedStringTable::RecordSize() {
    recordSize = DataSize() + 4 * continueOffsets.size() + 4;
    return recordSize;
}

size_t Workbook::SharedStringTable::Write(char* out) {
    data.assign(DataSize(), 0);
    LittleEndian::Write(data, total, 0);
    LittleEndian::Write(data, unique, 4);
    const size_t offsets = continueOffsets.size();
    size_t p = 8;
    size_t k = 0;
    std::vector<char> bytes;
    for (BiffString& s : strings) {
        bytes.resize(3 + s.CharacterBytes());
        s.Write(bytes.data());
        while (k < offsets && continueOffsets[k] <= p) ++k;  // starts a piece whole
        size_t i = 0;
        while (i < bytes.size() && p < data.size()) {
            const size_t limit = k < offsets ? continueOffsets[k] : data.size();
            const size_t chunk = std::min(bytes.size() - i, limit - p);
            std::memcpy(data.data() + p, bytes.data() + i, chunk);
            p += chunk;
            i += chunk;
            if (i < bytes.size() && p < data.size()) {
                // The next piece goes on with this string: its flags first.
                data[p++] = static_cast<char>(s.flags);
                ++k;
            }
        }
    }
    return Record::Write(out);
}

size_t Workbook::SharedStringTable::Read(const char* in, const char* end) {
    const size_t consumed = ReadFixed(in, end, 8);
    if (consumed == 0) return 0;
    LittleEndian::Read(data, total, 0);
    LittleEndian::Read(data, unique, 4);
    // Every string takes at least 3 bytes: a larger count is damage, found
    // before anything is allocated for it.
    if (unique > (data.size() - 8) / 3) return 0;

    std::vector<BiffString> read;
    read.reserve(unique);
    size_t p = 8;
    for (unsigned int n = 0; n < unique; ++n) {
        BiffString s;
        p = ReadPiecedString(data, continueOffsets, p, s);
        if (p == 0) return 0;
        read.push_back(std::move(s));
    }
    // String data left over means the count is lower than the strings held:
    // cells naming the others would load empty and be lost on the next save.
    if (p != data.size()) return 0;
    strings.swap(read);
    return consumed;
}

}  // namespace XlsBiff
}  // namespace CompoundFiles
