// The two string forms of BIFF8: the short string (one-byte count; font and
// sheet names) and the long string (two-byte count, optional rich-text runs and
// extension block; shared strings and style names).
//
// Wide text is held as 16-bit code units (UTF-16), one per wchar_t element;
// assigning a wide text with characters above 0xFFFF stores them as surrogate
// pairs. Reads follow the conventions of workbook/record.h: they get the end of
// their buffer and return the bytes consumed, 0 when the string runs past it.
#ifndef WORKBOOK_BIFF_STRING_H
#define WORKBOOK_BIFF_STRING_H

#include <cstddef>
#include <string>
#include <vector>

namespace CompoundFiles {
namespace XlsBiff {

// Short string on disk: u8 count c, u8 flags (0 = 8-bit, 1 = 16-bit), c or 2c
// bytes of characters. Only the text selected by the unicode flag is held.
class BiffShortString {
public:
    // The longest text the count byte can describe.
    static const size_t MaxLength = 255;

    BiffShortString() = default;  // no text, flag 0

    // Assignment stores a copy of the text and selects it (flag 0 for narrow, 1
    // for wide); the other width is dropped. A text longer than 255 characters
    // is cut to 255 (a surrogate pair is not split), so that the count byte,
    // StringSize and Write always agree. A null text stores an empty one.
    BiffShortString& operator=(const char* text);
    BiffShortString& operator=(const wchar_t* text);

    // Returns 2 + c (or 2 + 2c), or 0 when the string runs past end; the old
    // text is dropped either way.
    size_t Read(const char* in, const char* end);
    // Writes StringSize() bytes at out and returns that count.
    size_t Write(char* out) const;
    size_t StringSize() const;
    // Characters of the selected text, 0 when it is absent.
    size_t Length() const;
    // Drops both texts (flag unchanged).
    void Reset();

    unsigned char Unicode() const { return unicode; }
    bool IsWide() const { return unicode != 0; }
    // Zero-terminated texts, or null when absent.
    const char* Narrow() const { return narrow.empty() ? nullptr : narrow.data(); }
    const wchar_t* Wide() const { return wide.empty() ? nullptr : wide.data(); }

private:
    // Each is empty (absent) or the characters followed by a zero.
    std::vector<wchar_t> wide;
    std::vector<char> narrow;
    unsigned char unicode = 0;
};

// Long string on disk: u16 count c, u8 flags (bit 0 16-bit characters, bit 2
// extension block, bit 3 rich-text runs), [u16 run count r], [u32 extension
// size e], c or 2c bytes of characters, [4r bytes of runs], [e bytes]. Runs and
// extension blocks are skipped on reading and never written.
class BiffString {
public:
    static const unsigned char FlagWide = 0x01;
    static const unsigned char FlagExtension = 0x04;
    static const unsigned char FlagRich = 0x08;
    static const unsigned char FlagUnknown = 0xFF;  // width not yet known
    // The most characters the count field can describe; longer vectors are
    // written (and sized) with their first 65535 characters.
    static const size_t MaxLength = 65535;

    BiffString() = default;

    // Assignment: flags 0 (or 1), run count and extension size 0, the other
    // vector emptied, the text's characters stored (without the terminator).
    BiffString& operator=(const char* text);
    BiffString& operator=(const wchar_t* text);

    // Reads a whole string: returns its size in the buffer (header, characters,
    // runs and extension block), or 0 when any of it runs past end.
    size_t Read(const char* in, const char* end);
    // Appends count characters from a piece that starts with a flags byte at in
    // (a string's own flags byte, or that of a CONTINUE piece). A string of
    // unknown width takes the piece's flags. After the flags byte come the run
    // count and extension size fields when this string has them, then the
    // characters, then the runs and extension block, which are skipped. Returns
    // the bytes consumed; 0 when count is 0 (nothing is read) or when the piece
    // runs past end (nothing is appended).
    size_t ContinueRead(const char* in, const char* end, size_t count);
    // Appends count characters of the given source width from src (the caller
    // has checked that count or 2 * count bytes are readable). 8-bit
    // characters are Latin-1 (UTF-16 units with the high byte dropped): they
    // widen by a zero high byte, and a narrow string that meets 16-bit
    // characters becomes wide (flag bit 0 set), its text so far widened.
    // No locale is involved.
    void AppendCharacters(const char* src, size_t count, bool sourceWide);

    // Writes the plain form (flags become 0 or 1 by bit 0) and returns
    // 3 + CharacterBytes().
    size_t Write(char* out);
    // Bytes of the characters as written: count, or 2 * count for wide.
    size_t CharacterBytes() const;
    // Characters as written (the selected vector's length, at most 65535).
    size_t CharacterCount() const;
    // Size as the string stood in the file it was read from (runs and extension
    // included); Write emits 3 + CharacterBytes().
    size_t StringSize() const;

    bool IsWide() const { return (flags & FlagWide) != 0; }
    std::string NarrowText() const { return std::string(narrow.begin(), narrow.end()); }
    std::wstring WideText() const { return std::wstring(wide.begin(), wide.end()); }

    // The characters only (no terminator); bit 0 of flags selects the vector.
    std::vector<wchar_t> wide;
    std::vector<char> narrow;
    unsigned char flags = FlagUnknown;
    unsigned short richRuns = 0;
    unsigned int extensionSize = 0;
};

// Reads the long string that starts at offset p of data gathered from a
// record and its CONTINUE records (bounds: the offsets at which each
// CONTINUE piece starts, ascending). The header is never cut; characters
// that go on in a later piece follow that piece's own flags byte, which
// chooses its width. Returns the offset behind the string (runs and
// extension block included), or 0 when the string is damaged or runs past
// the data; s is then unspecified.
size_t ReadPiecedString(const std::vector<char>& data, const std::vector<size_t>& bounds, size_t p, BiffString& s);

}  // namespace XlsBiff
}  // namespace CompoundFiles

#endif
