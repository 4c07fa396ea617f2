// One worksheet substream: its sheet records, its cell table (row blocks of
// ROW, cell and DBCELL records) and the cell record classes, nested as
// Worksheet::CellTable::RowBlock::CellBlock::<record>.
//
// Reading, writing and size conventions are those of workbook/record.h:
// Read(in, end) never touches a byte at or past end and returns the bytes the
// record (or container) covers, or 0 when the bytes are damaged; Write(out)
// needs RecordSize()/DataSize() bytes of room and returns what it wrote, which
// always equals that size.
#ifndef WORKBOOK_WORKSHEET_H
#define WORKBOOK_WORKSHEET_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>
#include <variant>
#include <vector>

#include "workbook/biff_string.h"
#include "workbook/record.h"

namespace CompoundFiles {
namespace XlsBiff {

class Worksheet {
public:
    // INDEX (0x020B): row range and the stream position of each row block's
    // DBCELL. 16 fixed bytes, then 4 bytes per position.
    class Index : public Record {
    public:
        Index();  // one DBCELL position, 0
        // Fails (0) when the data is shorter than 16 bytes. Bytes behind the
        // last whole position are covered by the result but not kept.
        size_t Read(const char* in, const char* end) override;
        size_t Write(char* out) override;
        size_t DataSize() override;  // 16 + 4 per position
        size_t RecordSize() override;

        std::uint32_t reserved = 0;
        std::uint64_t firstRow = 0;                  // 4 bytes on disk
        std::uint64_t lastRowPlusOne = 0;            // 4 bytes on disk
        std::uint32_t defColWidthPosition = 0;       // kept as read, never computed
        std::vector<std::uint64_t> dbCellPositions;  // 4 bytes each on disk
    };

    // DIMENSIONS (0x0200, 14 data bytes): the used cell range.
    class Dimensions : public Record {
    public:
        Dimensions();
        // Fails (0) when the data is shorter than 14 bytes.
        size_t Read(const char* in, const char* end) override;
        size_t Write(char* out) override;

        std::uint64_t firstRow = 0;        // 4 bytes on disk
        std::uint64_t lastRowPlusOne = 0;  // 4 bytes on disk
        std::uint16_t firstColumn = 0;
        std::uint16_t lastColumnPlusOne = 0;
        std::uint16_t reserved = 0;
    };

    // WINDOW2 (0x023E, 18 data bytes): the sheet's window settings.
    class Window2 : public Record {
    public:
        Window2();
        // Fails (0) when the data is shorter than 18 bytes.
        size_t Read(const char* in, const char* end) override;
        size_t Write(char* out) override;

        // The sheet's tab is selected.
        static constexpr std::uint16_t Selected = 0x0200;

        // Grid lines, headings, zero values, automatic grid colour, outline
        // symbols, selected (0x0200), active (0x0400).
        std::uint16_t options = 0x06B6;
        std::uint16_t firstVisibleRow = 0;
        std::uint16_t firstVisibleColumn = 0;
        std::uint16_t gridLineColour = 64;
        std::uint16_t reserved = 0;
        std::uint16_t pageBreakZoom = 0;
        std::uint16_t normalZoom = 0;
        std::uint32_t reserved2 = 0;
    };

    // The cells of the sheet as BIFF8 lays them out: row blocks in stream
    // order. Holds no limit on rows or cells per block.
    class CellTable {
    public:
        // ROW records, then the cells of those rows, then a DBCELL.
        class RowBlock {
        public:
            // ROW (0x0208, 16 data bytes).
            class Row : public Record {
            public:
                Row();
                // Fails (0) when the data is shorter than 16 bytes.
                size_t Read(const char* in, const char* end) override;
                size_t Write(char* out) override;

                std::uint16_t row = 0;
                std::uint16_t firstColumn = 0;
                std::uint16_t lastColumnPlusOne = 0;
                std::uint16_t height = 255;
                std::uint16_t reserved1 = 0;
                std::uint16_t reserved2 = 0;
                std::uint32_t options = 0;  // option flags and default XF
            };

            // DBCELL (0x00D7): offset back to the block's first ROW record and
            // one offset per row to its first cell.
            class DBCell : public Record {
            public:
                DBCell();
                // Fails (0) when the data is shorter than 4 bytes. An odd
                // last byte is covered by the result but not kept.
                size_t Read(const char* in, const char* end) override;
                size_t Write(char* out) override;
                size_t DataSize() override;  // 4 + 2 per offset
                size_t RecordSize() override;

                std::uint32_t firstRowOffset = 0;
                std::vector<std::uint16_t> cellOffsets;
            };

            // One cell record of any of the ten cell kinds. A block holds
            // only the record of its own kind (a FORMULA, with its attached
            // records, behind a pointer), so that a sheet of numbers costs
            // about one small record per cell.
            class CellBlock {
            public:
                // BLANK (0x0201, 6 data bytes): a formatted empty cell.
                class Blank : public Record {
                public:
                    Blank();
                    // Fails (0) when the data is shorter than 6 bytes.
                    size_t Read(const char* in, const char* end) override;
                    size_t Write(char* out) override;

                    std::uint16_t row = 0;
                    std::uint16_t column = 0;
                    std::uint16_t xfIndex = 0;
                };

                // BOOLERR (0x0205, 8 data bytes): a truth value or an error code.
                class BoolErr : public Record {
                public:
                    BoolErr();
                    // Fails (0) when the data is shorter than 8 bytes.
                    size_t Read(const char* in, const char* end) override;
                    size_t Write(char* out) override;

                    std::uint16_t row = 0;
                    std::uint16_t column = 0;
                    std::uint16_t xfIndex = 0;
                    std::uint8_t value = 0;
                    std::uint8_t isError = 0;  // 0 truth value, 1 error code
                };

                // LABEL (0x0204): a text held in the record itself, as a long
                // string (other writers use it instead of LABELSST).
                class Label : public Record {
                public:
                    Label();
                    // Fails (0) when the data is shorter than 6 bytes or the
                    // string runs past it.
                    size_t Read(const char* in, const char* end) override;
                    size_t Write(char* out) override;
                    size_t DataSize() override;  // 6 + 3 + character bytes
                    size_t RecordSize() override;

                    std::uint16_t row = 0;
                    std::uint16_t column = 0;
                    std::uint16_t xfIndex = 0;
                    BiffString text;
                };

                // RSTRING (0x00D6): a text held in the record with its
                // formatting runs behind it (some writers use it for texts
                // with bold or coloured parts).
                class RString : public Record {
                public:
                    RString();
                    // Fails (0) when the data is shorter than 6 bytes or the
                    // string runs past it; the runs are not looked at.
                    size_t Read(const char* in, const char* end) override;
                    // Writes the data as read, the cell fields laid over it.
                    size_t Write(char* out) override;

                    std::uint16_t row = 0;
                    std::uint16_t column = 0;
                    std::uint16_t xfIndex = 0;
                    BiffString text;
                };

                // LABELSST (0x00FD, 10 data bytes): a shared-string reference.
                class LabelSST : public Record {
                public:
                    LabelSST();
                    // Fails (0) when the data is shorter than 10 bytes.
                    size_t Read(const char* in, const char* end) override;
                    size_t Write(char* out) override;

                    std::uint16_t row = 0;
                    std::uint16_t column = 0;
                    std::uint16_t xfIndex = 0;
                    std::uint64_t sstIndex = 0;  // low 32 bits on disk
                };

                // MULBLANK (0x00BE): formatted empty cells over a column run.
                class MulBlank : public Record {
                public:
                    MulBlank();
                    // Fails (0) when the data is not exactly 6 + 2 bytes per
                    // column of first..last, or last < first.
                    size_t Read(const char* in, const char* end) override;
                    // Writes lastColumn as held; the filler keeps it equal to
                    // firstColumn + entries - 1.
                    size_t Write(char* out) override;
                    size_t DataSize() override;  // 6 + 2 per entry
                    size_t RecordSize() override;

                    std::uint16_t row = 0;
                    std::int16_t firstColumn = 0;
                    std::vector<std::uint16_t> xfIndices;
                    std::int16_t lastColumn = 0;
                };

                // MULRK (0x00BD): RK numbers over a column run.
                class MulRK : public Record {
                public:
                    // One column's XF index and RK value; 6 bytes on disk.
                    struct XFRK {
                        std::uint16_t xfIndex = 0;
                        std::uint32_t rk = 0;
                        // Read and Write move exactly 6 bytes; the caller has
                        // checked the room.
                        void Read(const char* in);
                        void Write(char* out) const;
                    };

                    MulRK();
                    // Fails (0) when the data is not exactly 6 + 6 bytes per
                    // column of first..last, or last < first.
                    size_t Read(const char* in, const char* end) override;
                    // Writes lastColumn as held (see MulBlank).
                    size_t Write(char* out) override;
                    size_t DataSize() override;  // 6 + 6 per entry
                    size_t RecordSize() override;

                    std::uint16_t row = 0;
                    std::int16_t firstColumn = 0;
                    std::vector<XFRK> entries;
                    std::int16_t lastColumn = 0;
                };

                // NUMBER (0x0203, 14 data bytes): an IEEE 754 double.
                class Number : public Record {
                public:
                    Number();
                    // Fails (0) when the data is shorter than 14 bytes.
                    size_t Read(const char* in, const char* end) override;
                    size_t Write(char* out) override;

                    std::uint16_t row = 0;
                    std::uint16_t column = 0;
                    std::uint16_t xfIndex = 0;
                    double value = 0.0;
                    std::uint64_t bits = 0;  // value's bit pattern on its way to disk
                };

                // RK (0x027E, 10 data bytes): one RK number.
                class RK : public Record {
                public:
                    RK();
                    // Fails (0) when the data is shorter than 10 bytes.
                    size_t Read(const char* in, const char* end) override;
                    size_t Write(char* out) override;

                    std::uint16_t row = 0;
                    std::uint16_t column = 0;
                    std::uint16_t xfIndex = 0;
                    std::uint32_t rk = 0;
                };

                // FORMULA (0x0006): cached result and formula bytes, read and
                // written together with the record that may follow it (ARRAY,
                // SHRFMLA, TABLE) and a STRING result behind that.
                class Formula : public Record {
                public:
                    // ARRAY (0x0221): 12 fixed bytes, then formula bytes.
                    class Array : public Record {
                    public:
                        Array();
                        // Fails (0) when the data is shorter than 12 bytes.
                        size_t Read(const char* in, const char* end) override;
                        size_t Write(char* out) override;
                        size_t DataSize() override;  // 12 + formula bytes
                        size_t RecordSize() override;

                        std::uint16_t firstRow = 0;
                        std::uint16_t lastRow = 0;
                        std::uint8_t firstColumn = 0;
                        std::uint8_t lastColumn = 0;
                        std::uint16_t options = 0;
                        std::uint32_t reserved = 0;
                        std::vector<char> formulaBytes;
                    };

                    // SHRFMLA (0x00BC): 8 fixed bytes, then formula bytes.
                    class ShrFmla : public Record {
                    public:
                        ShrFmla();
                        // Fails (0) when the data is shorter than 8 bytes.
                        size_t Read(const char* in, const char* end) override;
                        size_t Write(char* out) override;
                        size_t DataSize() override;  // 8 + formula bytes
                        size_t RecordSize() override;

                        std::uint16_t firstRow = 0;
                        std::uint16_t lastRow = 0;
                        std::uint8_t firstColumn = 0;
                        std::uint8_t lastColumn = 0;
                        std::uint16_t useCount = 0;  // reserved byte and use count
                        std::vector<char> formulaBytes;

                    protected:
                        explicit ShrFmla(std::uint16_t code);
                    };

                    // The same shared formula under the second code, 0x04BC.
                    class ShrFmla1 : public ShrFmla {
                    public:
                        ShrFmla1();
                    };

                    // TABLE (0x0036, 16 data bytes). The BIFF8 code 0x0236 is
                    // not this record and is never attached.
                    class Table : public Record {
                    public:
                        Table();
                        // Fails (0) when the data is shorter than 16 bytes.
                        size_t Read(const char* in, const char* end) override;
                        size_t Write(char* out) override;

                        std::uint16_t firstRow = 0;
                        std::uint16_t lastRow = 0;
                        std::uint8_t firstColumn = 0;
                        std::uint8_t lastColumn = 0;
                        std::uint16_t options = 0;
                        std::uint16_t rowInputRow = 0;
                        std::uint16_t rowInputColumn = 0;
                        std::uint16_t columnInputRow = 0;
                        std::uint16_t columnInputColumn = 0;
                    };

                    // STRING (0x0207): the formula's text result as raw 16-bit
                    // characters. An odd last data byte is kept as it was and
                    // written back, so the record covers what was read.
                    class String : public Record {
                    public:
                        String();
                        // Never fails on its data; fails (0) only when the
                        // record runs past end.
                        size_t Read(const char* in, const char* end) override;
                        size_t Write(char* out) override;
                        size_t DataSize() override;  // 2 per character (+ odd byte)
                        size_t RecordSize() override;

                        // The result as the long string BIFF8 stores here,
                        // decoded from the data as read; false when the data
                        // holds no whole string.
                        bool ResultText(BiffString& result) const;

                        std::vector<std::uint16_t> text;
                        std::vector<char> oddByte;  // empty, or the one byte left over
                    };

                    // The last result the FORMULA record caches.
                    struct CachedResult {
                        enum class Kind { Number, Text, Boolean, Error, None };
                        Kind kind = Kind::None;
                        double number = 0.0;     // of a Number
                        std::uint8_t value = 0;  // a Boolean's 0 or 1, or an error code
                    };

                    Formula();
                    // The result bytes decoded: a number, a text (its
                    // characters are the STRING record's: String::ResultText),
                    // a Boolean or an error code; None for an empty text or a
                    // type the format does not define.
                    CachedResult LastResult() const;
                    // Fails (0) when the FORMULA data is shorter than 18 bytes
                    // or an attached or STRING record is damaged. Returns the
                    // bytes of all records taken: FORMULA (with any CONTINUE
                    // pieces), the attached record, the STRING record.
                    size_t Read(const char* in, const char* end) override;
                    // Writes FORMULA, the attached record named by attachedCode
                    // and the STRING record when it holds data.
                    size_t Write(char* out) override;
                    size_t DataSize() override;  // 18 + formula bytes
                    // The FORMULA record with the records written behind it.
                    size_t RecordSize() override;

                    std::uint16_t row = 0;
                    std::uint16_t column = 0;
                    std::uint16_t xfIndex = 0;
                    char result[8] = {};  // cached result, as read
                    std::uint16_t options = 0;
                    std::uint32_t reserved = 0;      // the 2 bytes at data offset 16
                    std::vector<char> formulaBytes;  // data offset 18 to the end
                    std::uint16_t attachedCode = RecordCode::None;
                    Array array;
                    ShrFmla shrFmla;
                    ShrFmla1 shrFmla1;
                    Table table;
                    String string;

                private:
                    Record* Attached();  // the member attachedCode names, or null
                };

                CellBlock();  // kind 0xFFFF (none), flag 1, no record
                // Copies copy the held record (a FORMULA too). A block moved
                // from is left as constructed.
                CellBlock(const CellBlock& other);
                CellBlock& operator=(const CellBlock& other);
                CellBlock(CellBlock&& other) noexcept;
                CellBlock& operator=(CellBlock&& other) noexcept;
                ~CellBlock();

                // True for the ten cell codes a block can hold.
                static bool IsCellKind(std::uint16_t code);

                // Reads the cell record at in into a new record of its code,
                // which replaces the held one. Returns the bytes covered; 0
                // when the record is damaged, or when its code is not a cell
                // kind (kind is then that code, no record is held and nothing
                // is read).
                size_t Read(const char* in, const char* end);
                // Writes the held record; 0 when no record is held.
                size_t Write(char* out);
                // Those of the held record; 0 when no record is held.
                size_t DataSize();
                size_t RecordSize();
                // Row and column (first column for MULRK and MULBLANK) of the
                // held record; 0 when no record is held.
                std::int16_t RowIndex() const;
                std::int16_t ColumnIndex() const;

                // The code of the held record, or the foreign code Read met;
                // 0xFFFF when none was ever set.
                std::uint16_t Kind() const { return kind; }

                // Replaces the held record by a default R (one of the ten
                // record classes; others do not compile), sets kind to its
                // code and returns it for filling. May throw std::bad_alloc
                // for a FORMULA; the block is then unchanged.
                template <class R>
                R& Hold();
                // The held record as an R. Throws std::bad_variant_access when
                // the block holds another kind; callers check Kind() first.
                template <class R>
                R& As();
                template <class R>
                const R& As() const;

                std::uint8_t flag = 1;  // unused by the workbook

            private:
                using FormulaBox = std::unique_ptr<Formula>;  // never null when held
                using Held = std::variant<std::monostate, Blank, BoolErr, LabelSST, MulBlank, MulRK, Number, RK,
                                          FormulaBox, Label, RString>;

                Record* HeldRecord();  // null when no record is held
                static Held CopyOf(const Held& other);

                std::uint16_t kind = RecordCode::None;
                Held held;
            };

            RowBlock();

            // Reads ROW, cell and other records up to and including the
            // block's DBCELL; other records are read past and dropped. An EOF
            // or BOF met before the DBCELL ends the block without being taken
            // (the block keeps a default DBCELL). Returns the bytes covered; 0
            // when a record is damaged or the buffer ends first.
            size_t Read(const char* in, const char* end);
            // Rows, then cells, then the DBCELL; returns DataSize() bytes.
            size_t Write(char* out);
            size_t DataSize();
            size_t RecordSize() { return DataSize(); }

            std::vector<Row> rows;
            std::vector<CellBlock> cells;  // in stream order
            DBCell dbCell;
        };

        CellTable();

        // Appends row blocks for as long as the next record is a ROW record.
        // Returns the bytes covered: 0 when the first record is not ROW (or
        // the buffer is empty), and 0 as well when a row block is damaged
        // (the failed block is not kept; the table is then to be discarded).
        size_t Read(const char* in, const char* end);
        // Every row block in order; returns DataSize() bytes.
        size_t Write(char* out);
        size_t DataSize();
        size_t RecordSize() { return DataSize(); }

        std::vector<RowBlock> rowBlocks;
    };

    // Default records; BOF set for a BIFF8 worksheet (build 0x19A0, year
    // 0x07CD, history flags 0xC0C9, lowest version 0x0306).
    Worksheet();

    // Reads the substream from its BOF up to and including its EOF. Cell
    // records outside row blocks (writers that leave out ROW and DBCELL) go
    // to looseCells in stream order. Records
    // the sheet does not model are read past with their CONTINUE records and
    // dropped; a substream nested inside (a BOF after the first) is skipped
    // whole, to its own EOF. A record met twice replaces the earlier one; a
    // second run of ROW records appends row blocks. Returns the bytes of the
    // substream, or 0 when a record is damaged or the buffer ends before the
    // EOF (the worksheet is then to be discarded).
    size_t Read(const char* in, const char* end);
    // BOF, INDEX, DIMENSIONS, cell table, loose cells, WINDOW2, EOF;
    // returns DataSize().
    size_t Write(char* out);
    // Bytes Write produces (INDEX recomputed from its positions).
    size_t DataSize();
    size_t RecordSize() { return DataSize(); }

    BOF bof;
    Index index;
    Dimensions dimensions;
    CellTable cellTable;
    std::vector<CellTable::RowBlock::CellBlock> looseCells;
    Window2 window2;
    EOFRecord eof;
};

template <class R>
R& Worksheet::CellTable::RowBlock::CellBlock::Hold() {
    if constexpr (std::is_same<R, Formula>::value) {
        Formula& f = *held.emplace<FormulaBox>(std::make_unique<Formula>());
        kind = f.Code();
        return f;
    } else {
        R& r = held.emplace<R>();
        kind = r.Code();
        return r;
    }
}

template <class R>
R& Worksheet::CellTable::RowBlock::CellBlock::As() {
    if constexpr (std::is_same<R, Formula>::value)
        return *std::get<FormulaBox>(held);
    else
        return std::get<R>(held);
}

template <class R>
const R& Worksheet::CellTable::RowBlock::CellBlock::As() const {
    if constexpr (std::is_same<R, Formula>::value)
        return *std::get<FormulaBox>(held);
    else
        return std::get<R>(held);
}

}  // namespace XlsBiff
}  // namespace CompoundFiles

#endif
