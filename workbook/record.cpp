#include "workbook/record.h"

#include <algorithm>
#include <cstring>

namespace CompoundFiles {
namespace XlsBiff {

namespace {

size_t Available(const char* at, const char* end) {
    return (at != nullptr && end != nullptr && end > at) ? static_cast<size_t>(end - at) : 0;
}

unsigned short U16(const char* at) {
    unsigned short v = 0;
    LittleEndian::Read(at, v, 0, 2);
    return v;
}

// Scans the record at in with its CONTINUE records, checking every header and
// piece against the available bytes. Fills data and offsets; returns the
// record size, or 0 when something runs past the end.
size_t Gather(const char* in, size_t available, unsigned short& code, std::vector<char>& data,
              std::vector<size_t>& offsets) {
    if (available < 4) return 0;
    code = U16(in);
    size_t n = U16(in + 2);
    if (available - 4 < n) return 0;
    data.assign(in + 4, in + 4 + n);
    offsets.clear();
    size_t size = 4 + n;
    while (available - size >= 2 && U16(in + size) == Record::ContinueCode) {
        if (available - size < 4) return 0;
        n = U16(in + size + 2);
        if (available - size - 4 < n) return 0;
        offsets.push_back(data.size());
        data.insert(data.end(), in + size + 4, in + size + 4 + n);
        size += 4 + n;
    }
    return size;
}

}  // namespace

Record::Record(unsigned short code) : code(code), dataSize(0), recordSize(4) {}

Record::Record(unsigned short code, size_t fixedDataSize)
    : code(code), dataSize(fixedDataSize), recordSize(fixedDataSize + 4) {}

Record::~Record() = default;

size_t Record::Read(const char* in, const char* end) { return ReadFixed(in, end, 0); }

size_t Record::ReadFixed(const char* in, const char* end, size_t minimumDataSize) {
    unsigned short c = 0;
    std::vector<char> d;
    std::vector<size_t> offsets;
    const size_t size = Gather(in, Available(in, end), c, d, offsets);
    if (size == 0 || d.size() < minimumDataSize) return 0;
    code = c;
    data.swap(d);
    continueOffsets.swap(offsets);
    dataSize = data.size();
    // What Write will produce: the bytes read, unless a piece was longer than
    // a record may be (it is then cut at 8224 bytes on writing).
    recordSize = RecordSizeFor(dataSize);
    return size;
}

bool Record::StoredSplitFits(size_t d) const {
    if (continueOffsets.empty()) return false;
    size_t previous = 0;
    for (size_t offset : continueOffsets) {
        if (offset < previous || offset > d || offset - previous > MaxPieceSize) return false;
        previous = offset;
    }
    return d - previous <= MaxPieceSize;
}

size_t Record::SplitSize(size_t d) { return d == 0 ? 4 : d + 4 + 4 * ((d - 1) / MaxPieceSize); }

size_t Record::RecordSizeFor(size_t d) const {
    return StoredSplitFits(d) ? d + 4 + 4 * continueOffsets.size() : SplitSize(d);
}

size_t Record::Write(char* out) {
    dataSize = data.size();
    LittleEndian::Write(out, code, 0, 2);
    size_t p = 2;
    const char* bytes = data.data();
    if (StoredSplitFits(dataSize)) {
        size_t start = 0;
        for (size_t i = 0; i <= continueOffsets.size(); ++i) {
            const size_t stop = i < continueOffsets.size() ? continueOffsets[i] : dataSize;
            if (i > 0) {
                LittleEndian::Write(out, ContinueCode, p, 2);
                p += 2;
            }
            LittleEndian::Write(out, static_cast<unsigned short>(stop - start), p, 2);
            p += 2;
            if (stop > start) std::memcpy(out + p, bytes + start, stop - start);
            p += stop - start;
            start = stop;
        }
    } else {
        size_t start = 0;
        size_t remaining = dataSize;
        for (;;) {
            const size_t piece = remaining > MaxPieceSize ? MaxPieceSize : remaining;
            LittleEndian::Write(out, static_cast<unsigned short>(piece), p, 2);
            p += 2;
            if (piece > 0) std::memcpy(out + p, bytes + start, piece);
            p += piece;
            start += piece;
            remaining -= piece;
            if (remaining == 0) break;
            LittleEndian::Write(out, ContinueCode, p, 2);
            p += 2;
        }
    }
    recordSize = p;
    return p;
}

size_t Record::WriteSmall(char* out, const char* bytes, size_t n) {
    if (!data.empty() || !continueOffsets.empty() || dataSize != n) {
        // A record read from a file keeps its gathered data, its split and
        // any bytes past the fields.
        data.resize(dataSize, 0);
        std::memcpy(data.data(), bytes, std::min(n, data.size()));
        return Record::Write(out);
    }
    LittleEndian::Write(out, code, 0, 2);
    LittleEndian::Write(out, static_cast<unsigned short>(n), 2, 2);
    if (n > 0) std::memcpy(out + 4, bytes, n);
    recordSize = n + 4;
    return recordSize;
}

size_t Record::DataSize() { return dataSize; }

size_t Record::RecordSize() { return recordSize; }

void Record::SetData(const std::vector<char>& bytes) {
    data = bytes;
    continueOffsets.clear();
    dataSize = data.size();
    recordSize = SplitSize(dataSize);
}

bool Record::PeekCode(const char* at, const char* end, unsigned short& c) {
    if (Available(at, end) < 2) {
        c = 0;
        return false;
    }
    c = U16(at);
    return true;
}

size_t Record::SkipSubstream(const char* in, const char* end) {
    size_t pos = 0;
    size_t depth = 0;
    for (;;) {
        unsigned short code = 0;
        if (!PeekCode(in + pos, end, code)) return 0;
        Record skipped;
        const size_t n = skipped.Read(in + pos, end);
        if (n == 0) return 0;
        pos += n;
        if (code == RecordCode::Bof) {
            ++depth;
        } else if (code == RecordCode::Eof && --depth == 0) {
            return pos;
        }
    }
}

BOF::BOF() : Record(RecordCode::Bof, 16) {}

size_t BOF::Read(const char* in, const char* end) {
    const size_t consumed = ReadFixed(in, end, 16);
    if (consumed == 0) return 0;
    LittleEndian::Read(data, version, 0);
    LittleEndian::Read(data, type, 2);
    LittleEndian::Read(data, buildIdentifier, 4);
    LittleEndian::Read(data, buildYear, 6);
    LittleEndian::Read(data, historyFlags, 8);
    LittleEndian::Read(data, lowestVersion, 12);
    return consumed;
}

size_t BOF::Write(char* out) {
    data.resize(DataSize(), 0);
    LittleEndian::Write(data, version, 0);
    LittleEndian::Write(data, type, 2);
    LittleEndian::Write(data, buildIdentifier, 4);
    LittleEndian::Write(data, buildYear, 6);
    LittleEndian::Write(data, historyFlags, 8);
    LittleEndian::Write(data, lowestVersion, 12);
    return Record::Write(out);
}

EOFRecord::EOFRecord() : Record(RecordCode::Eof) {}

}  // namespace XlsBiff
}  // namespace CompoundFiles
