// Record, string and workbook-globals readers on arbitrary bytes. Besides
// staying inside the buffer, whatever reads successfully must write back with
// exactly RecordSize bytes and read back the same.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "workbook/workbook.h"

using namespace CompoundFiles::XlsBiff;

namespace {

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

template <typename R>
std::vector<char> WriteBack(R& r) {
    const size_t size = r.RecordSize();
    std::vector<char> out(size);
    Check(r.Write(out.data()) == size);
    Check(r.RecordSize() == size);
    return out;
}

bool SameStrings(const std::vector<BiffString>& a, const std::vector<BiffString>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].IsWide() != b[i].IsWide()) return false;
        if (a[i].IsWide() ? a[i].wide != b[i].wide : a[i].narrow != b[i].narrow) return false;
    }
    return true;
}

// Whether every piece of a record read is at most 8224 bytes, so that writing
// reproduces the split.
bool PiecesWithinLimit(const Record& r) {
    size_t start = 0;
    std::vector<size_t> stops = r.ContinueOffsets();
    stops.push_back(r.Data().size());
    for (size_t stop : stops) {
        if (stop - start > Record::MaxPieceSize) return false;
        start = stop;
    }
    return true;
}

// A record class read at the start of the input, written back and read again.
template <typename R>
void RecordRoundTrip(const char* in, const char* end) {
    R r;
    if (r.Read(in, end) == 0) return;
    const std::vector<char> out = WriteBack(r);
    R again;
    Check(again.Read(out.data(), out.data() + out.size()) == out.size());
    Check(again.RecordSize() == out.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    // A copy of exactly the input's size, so any read past it is caught.
    std::vector<char> copy(bytes, bytes + size);
    const char* in = copy.data();
    const char* end = in + size;

    // Plain records back to back: each writes back to its own bytes, unless a
    // piece was longer than a record may be (then it is cut at 8224 bytes).
    for (size_t p = 0; p < size;) {
        Record r;
        const size_t n = r.Read(in + p, end);
        if (n == 0) break;
        const bool exact = PiecesWithinLimit(r);
        const std::vector<char> out = WriteBack(r);
        if (exact) Check(std::memcmp(out.data(), in + p, n) == 0);
        Record again;
        Check(again.Read(out.data(), out.data() + out.size()) == out.size());
        Check(again.Data() == r.Data());
        p += n;
    }

    {
        BiffShortString s;
        const size_t n = s.Read(in, end);
        if (n != 0) {
            Check(s.StringSize() == n);
            std::vector<char> out(n);
            Check(s.Write(out.data()) == n && std::memcmp(out.data(), in, n) == 0);
        }
    }
    {
        BiffString s;
        if (s.Read(in, end) != 0) {
            std::vector<char> out(3 + s.CharacterBytes());
            Check(s.Write(out.data()) == out.size());
            BiffString t;
            Check(t.Read(out.data(), out.data() + out.size()) == out.size());
            Check(SameStrings({s}, {t}));
        }
        BiffString c;
        c.ContinueRead(in, end, size / 3);
    }

    RecordRoundTrip<BOF>(in, end);
    RecordRoundTrip<Workbook::Window1>(in, end);
    RecordRoundTrip<Workbook::Font>(in, end);
    RecordRoundTrip<Workbook::XF>(in, end);
    RecordRoundTrip<Workbook::Style>(in, end);
    RecordRoundTrip<Workbook::BoundSheet>(in, end);
    RecordRoundTrip<Workbook::ExtSST>(in, end);

    {
        Workbook::SharedStringTable sst;
        if (sst.Read(in, end) != 0) {
            const std::vector<char> out = WriteBack(sst);
            Workbook::SharedStringTable again;
            Check(again.Read(out.data(), out.data() + out.size()) == out.size());
            Check(SameStrings(sst.strings, again.strings));
        }
    }

    {
        Workbook wb;
        if (wb.Read(in, end) != 0) {
            const size_t total = wb.DataSize();
            std::vector<char> out(total);
            Check(wb.Write(out.data()) == total);
            Workbook again;
            Check(again.Read(out.data(), out.data() + out.size()) == total);
            Check(again.fonts.size() == wb.fonts.size() && again.sheets.size() == wb.sheets.size());
            Check(SameStrings(again.sharedStrings.strings, wb.sharedStrings.strings));
        }
    }
    return 0;
}
