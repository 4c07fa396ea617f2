// The workbook globals substream: the records in front of the first worksheet,
// and the record classes that only it holds. Reading and size conventions are
// those of workbook/record.h.
#ifndef WORKBOOK_WORKBOOK_H
#define WORKBOOK_WORKBOOK_H

#include <cstddef>
#include <vector>

#include "workbook/biff_string.h"
#include "workbook/record.h"

namespace CompoundFiles {
namespace XlsBiff {

class Workbook {
public:
    // WINDOW1 (0x003D, 18 data bytes): window settings, sizes in twips.
    class Window1 : public Record {
    public:
        Window1();
        // Fails (0) when the data is shorter than 18 bytes.
        size_t Read(const char* in, const char* end) override;
        size_t Write(char* out) override;

        unsigned short horizontalPosition = 120;
        unsigned short verticalPosition = 120;
        unsigned short width = 15135;
        unsigned short height = 9300;
        unsigned short options = 0x0038;  // scroll bars and sheet tabs shown
        unsigned short activeSheet = 0;
        unsigned short firstVisibleTab = 0;
        unsigned short selectedSheets = 1;
        unsigned short tabBarWidth = 600;  // thousandths of the scroll bar
    };

    // FONT (0x0031): 14 bytes of fields, then the name as a short string.
    class Font : public Record {
    public:
        Font();
        // Fails (0) when the fields or the name run past the record's data.
        size_t Read(const char* in, const char* end) override;
        size_t Write(char* out) override;
        size_t DataSize() override;  // 14 + name size
        size_t RecordSize() override;

        unsigned short height = 200;  // twentieths of a point
        unsigned short options = 0;
        unsigned short colourIndex = 0x7FFF;
        unsigned short weight = 400;
        unsigned short escapement = 0;
        unsigned char underline = 0;
        unsigned char family = 0;
        unsigned char characterSet = 0;
        unsigned char reserved = 0;
        BiffShortString name;  // "Arial", 16-bit
    };

    // XF (0x00E0, 20 data bytes): one cell format.
    class XF : public Record {
    public:
        XF();
        // Fails (0) when the data is shorter than 20 bytes.
        size_t Read(const char* in, const char* end) override;
        size_t Write(char* out) override;

        unsigned short fontIndex = 0;
        unsigned short formatIndex = 0;
        unsigned short typeProtection = 0xFFF5;  // locked, style XF, parent 0xFFF
        unsigned char alignment = 0x20;          // bottom
        unsigned char rotation = 0;
        unsigned char indentation = 0;
        unsigned char usedAttributes = 0;
        unsigned int borderLines = 0;
        unsigned int borderColours = 0;
        unsigned short patternColours = 0x20C0;  // foreground 64, background 65
    };

    // STYLE (0x0293): built-in (bit 15 of xfIndex; identifier and level) or
    // user-defined (a long-string name).
    class Style : public Record {
    public:
        Style();
        // Fails (0) when the fields or the name run past the record's data.
        size_t Read(const char* in, const char* end) override;
        size_t Write(char* out) override;
        size_t DataSize() override;  // 4 built-in, else 2 + 3 + name CharacterBytes
        size_t RecordSize() override;

        bool BuiltIn() const { return (xfIndex & 0x8000) != 0; }

        unsigned short xfIndex = 0x8000;  // XF in bits 0-11, bit 15 built-in
        unsigned char builtInIdentifier = 0;
        unsigned char outlineLevel = 0xFF;
        BiffString name;
    };

    // BOUNDSHEET (0x0085): a sheet's stream position, state and name.
    class BoundSheet : public Record {
    public:
        BoundSheet();
        // Fails (0) when the fields or the name run past the record's data.
        size_t Read(const char* in, const char* end) override;
        size_t Write(char* out) override;
        size_t DataSize() override;  // 6 + name size
        size_t RecordSize() override;

        unsigned int streamPosition = 0;  // of the sheet's BOF in the stream
        unsigned char visibility = 0;
        unsigned char sheetType = 0;
        BiffShortString name;  // "Sheet1", 8-bit
    };

    // SST (0x00FC): the shared strings, split over CONTINUE records where the
    // format allows it. `unique` is the number of strings: DataSize and Write
    // set it to strings.size().
    class SharedStringTable : public Record {
    public:
        SharedStringTable();
        // Fails (0) when the counts, a string or its characters run past the
        // record's data, a string's header is cut by a CONTINUE boundary,
        // or string data is left after the counted strings.
        // Returns the record size with its CONTINUE records.
        size_t Read(const char* in, const char* end) override;
        size_t Write(char* out) override;
        // Plans the CONTINUE split of the strings as written (plain form);
        // stores the offsets and the data size and returns the data size.
        size_t DataSize() override;
        size_t RecordSize() override;

        unsigned int total = 0;   // references to shared strings in the cells
        unsigned int unique = 0;  // number of strings
        std::vector<BiffString> strings;
    };

    // EXTSST (0x00FF): index of the shared string table, one bucket per entry
    // of the three vectors (a shorter vector reads as zeros on writing).
    class ExtSST : public Record {
    public:
        ExtSST();
        // Fails (0) when the data is shorter than 2 bytes.
        size_t Read(const char* in, const char* end) override;
        size_t Write(char* out) override;
        size_t DataSize() override;  // 2 + 8 per bucket (streamPositions)
        size_t RecordSize() override;

        unsigned short stringsPerBucket = 0;
        std::vector<unsigned int> streamPositions;
        std::vector<unsigned short> recordOffsets;
        std::vector<unsigned short> reserved;
    };

    // Every member with its defaults, the four lists empty, the BOF set for
    // workbook globals (BIFF8, build 0x19A0, year 0x07CD, flags 0xC0C9,
    // lowest version 0x0306).
    Workbook();

    // Reads the substream from its BOF to its EOF into a fresh workbook,
    // appending to the lists; FORMAT records and the DATEMODE record are kept
    // as they were; records of other codes (EXTSST included) are read past
    // with their CONTINUE records and dropped. Returns the bytes of the
    // substream, EOF included, or 0 when a record is damaged, the buffer
    // ends before an EOF record, or a FILEPASS record says the rest is
    // encrypted (encrypted is then set); the workbook is then to be
    // discarded.
    size_t Read(const char* in, const char* end);
    // Writes BOF, WINDOW1, DATEMODE (when read), fonts, formats, XFs,
    // styles, bound sheets, SST and EOF back to back; returns the bytes written, equal to DataSize(). The string index is
    // not written.
    size_t Write(char* out);
    // Sum of the RecordSize of the records Write writes.
    size_t DataSize();
    size_t RecordSize() { return DataSize(); }

    BOF bof;
    Window1 window;
    std::vector<Record> dateMode;  // DATEMODE (0x0022) as read, at most one
    std::vector<Font> fonts;
    std::vector<Record> formats;  // FORMAT (0x041E) records as read
    std::vector<XF> xfs;
    std::vector<Style> styles;
    std::vector<BoundSheet> sheets;
    SharedStringTable sharedStrings;
    ExtSST stringIndex;  // kept, never read from or written to the stream
    EOFRecord eof;
    bool encrypted = false;  // a FILEPASS record stopped Read
};

}  // namespace XlsBiff
}  // namespace CompoundFiles

#endif
