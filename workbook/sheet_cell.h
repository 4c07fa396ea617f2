// One cell of a sheet's table: empty, an integer, a double, a narrow (8-bit)
// text, a wide text (16-bit code units, one per wchar_t element), a Boolean
// or an error value (#DIV/0!, #N/A, ...).
#ifndef WORKBOOK_SHEET_CELL_H
#define WORKBOOK_SHEET_CELL_H

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <vector>

namespace CompoundFiles {

class SheetCell {
public:
    static constexpr std::uint32_t Empty = 0;
    static constexpr std::uint32_t Integer = 1;
    static constexpr std::uint32_t Real = 2;
    static constexpr std::uint32_t Text = 3;
    static constexpr std::uint32_t WideText = 4;
    static constexpr std::uint32_t Boolean = 5;
    static constexpr std::uint32_t Error = 6;

    // The error codes of the file format.
    static constexpr std::uint8_t ErrorNull = 0x00;     // #NULL!
    static constexpr std::uint8_t ErrorDivZero = 0x07;  // #DIV/0!
    static constexpr std::uint8_t ErrorValue = 0x0F;    // #VALUE!
    static constexpr std::uint8_t ErrorRef = 0x17;      // #REF!
    static constexpr std::uint8_t ErrorName = 0x1D;     // #NAME?
    static constexpr std::uint8_t ErrorNum = 0x24;      // #NUM!
    static constexpr std::uint8_t ErrorNA = 0x2A;       // #N/A
    // "#DIV/0!" and so on; null for a code the format does not define.
    static const char* ErrorText(std::uint8_t code);

    // A new cell is empty.
    SheetCell() = default;

    std::uint32_t Type() const { return type; }

    // Integer cell: its value. Double cell: the double truncated toward
    // zero (a value outside the int range, or not a number, gives INT_MIN).
    // Boolean cell: 1 or 0, as spreadsheets count it. Any other cell: false,
    // value untouched.
    bool Get(int& value) const;
    // Double cell: its value; integer or Boolean cell: that number as a
    // double; else false, value untouched.
    bool Get(double& value) const;
    // Text cell of that width: copies the text and its terminating zero into
    // buffer, which must hold TextLength() + 1 elements; else false and the
    // buffer is untouched. The capacity forms refuse (false, buffer
    // untouched) a buffer of fewer than TextLength() + 1 elements.
    bool Get(char* buffer) const;
    bool Get(wchar_t* buffer) const;
    bool Get(char* buffer, std::size_t capacity) const;
    bool Get(wchar_t* buffer, std::size_t capacity) const;

    // Characters of the text without its zero: of the narrow text for a
    // narrow text cell, of the wide text otherwise (0 for a non-text cell).
    std::size_t TextLength() const;

    // What Get gives, or 0 / 0.0 when Get fails.
    int GetInt() const;
    double GetDouble() const;
    // The stored zero-terminated text when the cell holds a text of that
    // width, else null. Valid until the cell changes.
    const char* GetText() const;
    const wchar_t* GetWideText() const;
    // The error code of an error cell; 0 for any other cell.
    std::uint8_t ErrorCode() const { return type == Error ? static_cast<std::uint8_t>(integerValue) : 0; }

    void Set(int value) { SetInt(value); }
    void Set(double value) { SetReal(value); }
    void Set(const char* text) { SetText(text); }
    void Set(const wchar_t* text) { SetWideText(text); }

    // The cell format (an XF index of the workbook) the cell was loaded
    // with; 0, the workbook's first format, for a cell any setter wrote.
    std::uint16_t XfIndex() const { return xf; }
    // Keeps a loaded cell's format; call after the setter that filled it.
    void SetXfIndex(std::uint16_t index) { xf = index; }

    // Change the type and the value (and reset the format to 0) only.
    void SetInt(int value);
    void SetReal(double value);
    // A Boolean, or an error value with its code (kept as given).
    void SetBoolean(bool value);
    void SetError(std::uint8_t code);
    // Narrow texts are Latin-1, one byte per UTF-16 code unit below 0x100,
    // as the file stores 8-bit strings. A null or empty text empties the cell; otherwise the cell holds a copy
    // of the text (up to its zero) and the text of the other width is dropped.
    void SetText(const char* text);
    void SetWideText(const wchar_t* text);
    // Empty, both texts dropped.
    void Clear();

private:
    std::uint32_t type = Empty;
    std::int32_t integerValue = 0;  // also a Boolean's 0 or 1 and an error code
    double doubleValue = 0.0;
    std::vector<char> text;     // characters and a zero, or empty
    std::vector<wchar_t> wide;  // code units and a zero, or empty
    std::uint16_t xf = 0;
};

// Writes the integer, the double (at the stream's precision), the narrow
// text, the wide text as UTF-8 (a lone surrogate as U+FFFD), TRUE or FALSE,
// the error's text (nothing for an unknown code), or for an empty cell one
// zero character.
std::ostream& operator<<(std::ostream& out, const SheetCell& cell);

}  // namespace CompoundFiles

#endif
