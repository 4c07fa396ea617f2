// The base of every BIFF8 record class, and the BOF and EOF records.
//
// Conventions for every record, string and container of the workbook layer:
// - Read(in, end): in points at the first byte (a record's code), end one past
//   the last readable byte of the buffer. Nothing at or past end is read. The
//   result is the number of bytes consumed (a record together with its CONTINUE
//   records), or 0 when the bytes are damaged: a length that runs past end,
//   fields that run past the record's data, a string whose counts run past it.
//   A record is never shorter than its 4-byte header, so 0 is no valid size.
//   After a failed Read the object is safe to destroy, assign or write, but its
//   contents are unspecified; callers drop it and report the failure.
// - Write(out): writes RecordSize() bytes at out and returns that count; the
//   caller provides that much room. Write takes no end: sizes come first.
// - DataSize()/RecordSize(): a class with a variable layout recomputes both from
//   its fields, stores them and returns them; RecordSize() always equals what
//   Write() returns next (containers size buffers and positions with it).
// - Record size = data size + 4 + 4 per CONTINUE record that Write emits.
//   Without a stored split, data is cut into pieces of 8224 bytes (8224 bytes
//   give no CONTINUE, 8225 give one); with stored CONTINUE offsets (from Read,
//   or planned by the shared string table) the pieces are written unchanged as
//   long as they still fit the data and none exceeds 8224 bytes.
//   RecordSizeFor() gives that size for any data size. After a Read,
//   RecordSize() is the size Write will produce, which is the bytes consumed
//   except for a piece longer than 8224 bytes in the input.
// - Subclass contract: the constructor calls Record(code, fixed data size);
//   Read calls ReadFixed (or Record::Read), decodes its fields from `data` and
//   returns what ReadFixed returned (the bytes consumed, so that a record
//   longer than its fields keeps the reader in step); Write resizes `data` to
//   DataSize() (zero-filled), encodes its fields and returns Record::Write(out).
#ifndef WORKBOOK_RECORD_H
#define WORKBOOK_RECORD_H

#include <cstddef>
#include <vector>

#include "workbook/little_endian.h"
#include "workbook/record_codes.h"

namespace CompoundFiles {
namespace XlsBiff {

class Record {
public:
    static const unsigned short ContinueCode = RecordCode::Continue;
    // Data bytes one record (or one CONTINUE record) carries at most.
    static const size_t MaxPieceSize = 8224;

    // A plain record: the given code, empty data, data size 0, record size 4.
    explicit Record(unsigned short code = 0);
    virtual ~Record();
    // Copies copy code, data, sizes and split. Moves take them over and never
    // throw, so containers of records move them rather than copy.
    Record(const Record&) = default;
    Record& operator=(const Record&) = default;
    Record(Record&&) = default;
    Record& operator=(Record&&) = default;

    // Gathers the record at in with the CONTINUE records behind it: code and
    // data replaced, one CONTINUE offset per CONTINUE record, sizes stored.
    // Returns the bytes consumed, or 0 (record unchanged) when a header or a
    // piece runs past end.
    virtual size_t Read(const char* in, const char* end);
    // Writes header and data at out, cut as described above; returns the bytes
    // written (= RecordSize() once data size and data agree). Never fails.
    virtual size_t Write(char* out);
    // The stored sizes.
    virtual size_t DataSize();
    virtual size_t RecordSize();

    unsigned short Code() const { return code; }
    const std::vector<char>& Data() const { return data; }
    // Offsets in the gathered data at which each CONTINUE record's bytes begin.
    const std::vector<size_t>& ContinueOffsets() const { return continueOffsets; }
    // Replaces the data of a plain record; clears the stored split; sizes by the
    // 8224-byte rule.
    void SetData(const std::vector<char>& bytes);

    // The u16 code at `at`; false (code 0) when fewer than 2 bytes remain
    // before end. Containers peek at the next record with it.
    static bool PeekCode(const char* at, const char* end, unsigned short& code);
    // Passes over the substream whose BOF is at `in`, to its own EOF, nested
    // substreams included. Returns the bytes covered, or 0 when a record is
    // damaged or the EOF is missing before end.
    static size_t SkipSubstream(const char* in, const char* end);
    // Record size of d data bytes cut at 8224 bytes: d + 4 + 4 * ((d - 1) / 8224),
    // and 4 for d = 0.
    static size_t SplitSize(size_t dataSize);

protected:
    // For subclasses: a fixed data size; record size = data size + 4.
    Record(unsigned short code, size_t fixedDataSize);

    // Record::Read, refused (0, record unchanged) when the gathered data is
    // shorter than minimumDataSize.
    size_t ReadFixed(const char* in, const char* end, size_t minimumDataSize);
    // The size Write produces for d data bytes: with the stored split when it
    // still fits d data bytes (offsets ascending, none past d, every piece at
    // most 8224 bytes), else SplitSize(d). Variable-size subclasses return
    // recordSize = RecordSizeFor(DataSize()) from RecordSize().
    size_t RecordSizeFor(size_t dataSize) const;
    // Write for a fixed-size record whose n field bytes (n <= 8224) the
    // caller assembled: the same bytes as Write with the fields laid over the
    // data. A record made in memory writes them straight out, keeping no heap
    // copy (a sheet of numbers writes millions); one read from a file keeps
    // its split and any bytes past the fields, and its Data() shows them.
    size_t WriteSmall(char* out, const char* bytes, size_t n);
    bool StoredSplitFits(size_t dataSize) const;

    unsigned short code;
    std::vector<char> data;  // gathered data, CONTINUE headers removed
    size_t dataSize;         // equals data.size() whenever Write runs
    size_t recordSize;
    std::vector<size_t> continueOffsets;
};

// Start of a substream (code 0x0809; 16 data bytes).
class BOF : public Record {
public:
    BOF();
    // Fails (0) when the data is shorter than 16 bytes.
    size_t Read(const char* in, const char* end) override;
    size_t Write(char* out) override;

    unsigned short version = 0;  // 0x0600 for BIFF8
    unsigned short type = 0;     // 0x0005 workbook globals, 0x0010 worksheet
    unsigned short buildIdentifier = 0;
    unsigned short buildYear = 0;
    unsigned int historyFlags = 0;
    unsigned int lowestVersion = 0;
};

// End of a substream (code 0x000A; no data). Uses the base operations.
class EOFRecord : public Record {
public:
    EOFRecord();
};

}  // namespace XlsBiff
}  // namespace CompoundFiles

#endif
