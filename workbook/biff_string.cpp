#include "workbook/biff_string.h"

#include <algorithm>

#include "workbook/little_endian.h"

namespace CompoundFiles {
namespace XlsBiff {

namespace {

size_t Available(const char* at, const char* end) {
    return (at != nullptr && end != nullptr && end > at) ? static_cast<size_t>(end - at) : 0;
}

// Appends the UTF-16 code units of a zero-terminated wide text, at most limit
// units, never splitting a surrogate pair. Characters outside Unicode become '?'.
void AppendUtf16(std::vector<wchar_t>& units, const wchar_t* text, size_t limit) {
    if (text == nullptr) return;
    for (; *text != 0; ++text) {
        const unsigned long c = static_cast<unsigned long>(*text);
        if (c > 0xFFFF && c <= 0x10FFFF) {
            if (units.size() + 2 > limit) return;
            const unsigned long v = c - 0x10000;
            units.push_back(static_cast<wchar_t>(0xD800 + (v >> 10)));
            units.push_back(static_cast<wchar_t>(0xDC00 + (v & 0x3FF)));
        } else {
            if (units.size() + 1 > limit) return;
            units.push_back(c > 0xFFFF ? L'?' : static_cast<wchar_t>(c));
        }
    }
}

}  // namespace

// ---- BiffShortString ----

BiffShortString& BiffShortString::operator=(const char* text) {
    unicode = 0;
    wide.clear();
    narrow.clear();
    if (text != nullptr)
        for (size_t i = 0; text[i] != 0 && i < MaxLength; ++i) narrow.push_back(text[i]);
    narrow.push_back(0);
    return *this;
}

BiffShortString& BiffShortString::operator=(const wchar_t* text) {
    unicode = 1;
    narrow.clear();
    wide.clear();
    AppendUtf16(wide, text, MaxLength);
    wide.push_back(0);
    return *this;
}

void BiffShortString::Reset() {
    wide.clear();
    narrow.clear();
}

size_t BiffShortString::Read(const char* in, const char* end) {
    Reset();
    const size_t available = Available(in, end);
    if (available < 2) return 0;
    const size_t c = static_cast<unsigned char>(in[0]);
    const unsigned char flag = static_cast<unsigned char>(in[1]);
    const size_t size = 2 + (flag != 0 ? 2 * c : c);
    if (available < size) return 0;
    unicode = flag;
    if (flag != 0) {
        wide.resize(c + 1, 0);
        LittleEndian::ReadArray(in, wide.data(), 2, c);
    } else {
        narrow.resize(c + 1, 0);
        LittleEndian::ReadArray(in, narrow.data(), 2, c);
    }
    return size;
}

size_t BiffShortString::Length() const {
    const std::size_t n = unicode != 0 ? wide.size() : narrow.size();
    return n == 0 ? 0 : n - 1;
}

size_t BiffShortString::StringSize() const { return 2 + (unicode != 0 ? 2 : 1) * Length(); }

size_t BiffShortString::Write(char* out) const {
    const size_t c = Length();
    out[0] = static_cast<char>(static_cast<unsigned char>(c & 0xFF));
    out[1] = static_cast<char>(unicode);
    if (unicode != 0)
        LittleEndian::WriteArray(out, wide.data(), 2, c);
    else
        LittleEndian::WriteArray(out, narrow.data(), 2, c);
    return StringSize();
}

// ---- BiffString ----

BiffString& BiffString::operator=(const char* text) {
    flags = 0;
    richRuns = 0;
    extensionSize = 0;
    wide.clear();
    narrow.clear();
    if (text != nullptr)
        for (; *text != 0; ++text) narrow.push_back(*text);
    return *this;
}

BiffString& BiffString::operator=(const wchar_t* text) {
    flags = FlagWide;
    richRuns = 0;
    extensionSize = 0;
    narrow.clear();
    wide.clear();
    AppendUtf16(wide, text, static_cast<size_t>(-1));
    return *this;
}

size_t BiffString::Read(const char* in, const char* end) {
    const size_t available = Available(in, end);
    if (available < 3) return 0;
    unsigned short count = 0;
    LittleEndian::Read(in, count, 0, 2);
    const unsigned char f = static_cast<unsigned char>(in[2]);
    size_t q = 3;
    unsigned short runs = 0;
    unsigned int extension = 0;
    if (f & FlagRich) {
        if (available < q + 2) return 0;
        LittleEndian::Read(in, runs, q, 2);
        q += 2;
    }
    if (f & FlagExtension) {
        if (available < q + 4) return 0;
        LittleEndian::Read(in, extension, q, 4);
        q += 4;
    }
    const size_t characterBytes = static_cast<size_t>(count) * ((f & FlagWide) ? 2 : 1);
    const size_t size = q + characterBytes + 4 * static_cast<size_t>(runs) + extension;
    if (available < size) return 0;
    flags = f;
    richRuns = runs;
    extensionSize = extension;
    wide.clear();
    narrow.clear();
    AppendCharacters(in + q, count, (f & FlagWide) != 0);
    return size;
}

size_t BiffString::ContinueRead(const char* in, const char* end, size_t count) {
    if (count == 0) return 0;
    const size_t available = Available(in, end);
    if (available < 1) return 0;
    const unsigned char f = static_cast<unsigned char>(in[0]);
    const size_t width = (f & FlagWide) ? 2 : 1;
    size_t q = 1 + (richRuns != 0 ? 2 : 0) + (extensionSize != 0 ? 4 : 0);
    if (available < q || (available - q) / width < count) return 0;
    const size_t characters = q;
    q += width * count;
    const size_t skipped = 4 * static_cast<size_t>(richRuns) + extensionSize;
    if (available - q < skipped) return 0;
    if (flags == FlagUnknown) flags = f;
    AppendCharacters(in + characters, count, width == 2);
    return q + skipped;
}

void BiffString::AppendCharacters(const char* src, size_t count, bool sourceWide) {
    if (sourceWide && !IsWide()) {
        // 8-bit characters are UTF-16 code units with the high byte dropped,
        // so the text read so far widens without loss.
        wide.assign(narrow.begin(), narrow.end());
        for (wchar_t& unit : wide) unit = static_cast<wchar_t>(static_cast<unsigned char>(unit));
        narrow.clear();
        flags = static_cast<unsigned char>(flags == FlagUnknown ? FlagWide : (flags | FlagWide));
    }
    if (IsWide()) {
        wide.reserve(wide.size() + count);
        for (size_t i = 0; i < count; ++i) {
            unsigned short unit = static_cast<unsigned char>(src[i]);
            if (sourceWide) LittleEndian::Read(src, unit, 2 * i, 2);
            wide.push_back(static_cast<wchar_t>(unit));
        }
    } else {
        narrow.insert(narrow.end(), src, src + count);
    }
}

size_t BiffString::CharacterCount() const {
    const size_t n = IsWide() ? wide.size() : narrow.size();
    return n > MaxLength ? MaxLength : n;
}

size_t BiffString::CharacterBytes() const { return (IsWide() ? 2 : 1) * CharacterCount(); }

size_t BiffString::StringSize() const {
    size_t size = CharacterBytes() + 3;
    if (richRuns != 0) size += 2 + 4 * static_cast<size_t>(richRuns);
    if (extensionSize != 0) size += 4 + static_cast<size_t>(extensionSize);
    return size;
}

size_t BiffString::Write(char* out) {
    flags = IsWide() ? FlagWide : 0;
    const size_t c = CharacterCount();
    LittleEndian::Write(out, static_cast<unsigned short>(c), 0, 2);
    out[2] = static_cast<char>(flags);
    if (IsWide())
        LittleEndian::WriteArray(out, wide.data(), 3, c);
    else
        LittleEndian::WriteArray(out, narrow.data(), 3, c);
    return 3 + CharacterBytes();
}

size_t ReadPiecedString(const std::vector<char>& data, const std::vector<size_t>& bounds, size_t p, BiffString& s) {
    const size_t size = data.size();
    const char* bytes = data.data();
    if (p >= size) return 0;
    // The piece holding p; a string that begins at a boundary begins that
    // piece whole.
    size_t k = static_cast<size_t>(std::upper_bound(bounds.begin(), bounds.end(), p) - bounds.begin());
    auto pieceEnd = [&](size_t i) { return i < bounds.size() ? std::min(bounds[i], size) : size; };
    size_t pe = pieceEnd(k);
    // The header (count, flags, run count, extension size) is never cut.
    if (pe < p || pe - p < 3) return 0;
    unsigned short count = 0;
    LittleEndian::Read(bytes, count, p, 2);
    s = BiffString();
    s.flags = static_cast<unsigned char>(bytes[p + 2]);
    size_t q = p + 3;
    if (s.flags & BiffString::FlagRich) {
        if (pe - q < 2) return 0;
        LittleEndian::Read(bytes, s.richRuns, q, 2);
        q += 2;
    }
    if (s.flags & BiffString::FlagExtension) {
        if (pe - q < 4) return 0;
        LittleEndian::Read(bytes, s.extensionSize, q, 4);
        q += 4;
    }
    size_t width = s.IsWide() ? 2 : 1;
    size_t remaining = count;
    while (remaining > 0) {
        if (q == pe) {
            // Characters go on in the next piece, after its own flags byte,
            // which chooses the width of that piece alone.
            while (k < bounds.size() && q >= bounds[k]) ++k;
            pe = pieceEnd(k);
            if (q >= pe) return 0;
            width = (bytes[q] & BiffString::FlagWide) ? 2 : 1;
            ++q;
        }
        const size_t m = std::min(remaining, (pe - q) / width);
        if (m == 0) return 0;  // a character cut in two, or a piece of nothing
        s.AppendCharacters(bytes + q, m, width == 2);
        q += m * width;
        remaining -= m;
    }
    // Runs and extension block run on across boundaries without flags bytes.
    const size_t skipped = 4 * static_cast<size_t>(s.richRuns) + s.extensionSize;
    if (size - q < skipped) return 0;
    return q + skipped;
}

}  // namespace XlsBiff
}  // namespace CompoundFiles
