#include "workbook/workbook.h"

namespace CompoundFiles {
namespace XlsBiff {

Workbook::Workbook() {
    bof.version = 0x0600;
    bof.type = SubstreamType::Globals;
    bof.buildIdentifier = 0x19A0;
    bof.buildYear = 0x07CD;
    bof.historyFlags = 0xC0C9;
    bof.lowestVersion = 0x0306;
}

namespace {
// Appends a record to a list and reads it; a record that fails is taken off.
template <typename T>
size_t ReadInto(std::vector<T>& list, const char* in, const char* end) {
    list.emplace_back();
    const size_t n = list.back().Read(in, end);
    if (n == 0) list.pop_back();
    return n;
}
}  // namespace

size_t Workbook::Read(const char* in, const char* end) {
    size_t p = 0;
    for (;;) {
        unsigned short code = 0;
        if (!Record::PeekCode(in + p, end, code)) return 0;  // no EOF before the end
        size_t n = 0;
        switch (code) {
            case RecordCode::Eof: {
                Record last;
                n = last.Read(in + p, end);
                return n == 0 ? 0 : p + n;
            }
            case RecordCode::Bof: n = bof.Read(in + p, end); break;
            case RecordCode::Window1: n = window.Read(in + p, end); break;
            case RecordCode::Font: n = ReadInto(fonts, in + p, end); break;
            case RecordCode::Xf: n = ReadInto(xfs, in + p, end); break;
            case RecordCode::Style: n = ReadInto(styles, in + p, end); break;
            case RecordCode::BoundSheet: n = ReadInto(sheets, in + p, end); break;
            case RecordCode::Sst: n = sharedStrings.Read(in + p, end); break;
            case RecordCode::Format: n = ReadInto(formats, in + p, end); break;
            case RecordCode::DateMode:
                dateMode.clear();
                n = ReadInto(dateMode, in + p, end);
                break;
            case RecordCode::FilePass:
                // Everything behind it is ciphered: nothing more can be read,
                // and a save would write it back in the clear.
                encrypted = true;
                return 0;
            default: {
                Record skipped;
                n = skipped.Read(in + p, end);
                break;
            }
        }
        if (n == 0) return 0;
        p += n;
    }
}

size_t Workbook::Write(char* out) {
    size_t p = bof.Write(out);
    p += window.Write(out + p);
    for (Record& r : dateMode) p += r.Write(out + p);
    for (Font& f : fonts) p += f.Write(out + p);
    for (Record& r : formats) p += r.Write(out + p);
    for (XF& x : xfs) p += x.Write(out + p);
    for (Style& s : styles) p += s.Write(out + p);
    for (BoundSheet& b : sheets) p += b.Write(out + p);
    p += sharedStrings.Write(out + p);
    p += eof.Write(out + p);
    return p;
}

size_t Workbook::DataSize() {
    size_t size = bof.RecordSize() + window.RecordSize();
    for (Record& r : dateMode) size += r.RecordSize();
    for (Font& f : fonts) size += f.RecordSize();
    for (Record& r : formats) size += r.RecordSize();
    for (XF& x : xfs) size += x.RecordSize();
    for (Style& s : styles) size += s.RecordSize();
    for (BoundSheet& b : sheets) size += b.RecordSize();
    size += sharedStrings.RecordSize();
    size += eof.RecordSize();
    return size;
}

}  // namespace XlsBiff
}  // namespace CompoundFiles
