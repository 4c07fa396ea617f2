// Record framing: CONTINUE splitting on write, gathering on read, bounded reads.
#include <gtest/gtest.h>

#include <vector>

#include "workbook/record.h"
#include "tests/workbook/sheet_bytes.h"

using namespace CompoundFiles::XlsBiff;

namespace {

std::vector<char> Pattern(size_t n, unsigned seed = 1) {
    std::vector<char> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<char>((i * 131 + seed * 7) & 0xFF);
    return v;
}

unsigned U16At(const std::vector<char>& b, size_t p) {
    return static_cast<unsigned char>(b[p]) | (static_cast<unsigned char>(b[p + 1]) << 8);
}

// Lengths of the pieces of one written record, checking the CONTINUE codes.
std::vector<size_t> Pieces(const std::vector<char>& out, unsigned code) {
    std::vector<size_t> lengths;
    size_t p = 0;
    while (p + 4 <= out.size()) {
        EXPECT_EQ(U16At(out, p), lengths.empty() ? code : 0x003Cu);
        const size_t n = U16At(out, p + 2);
        lengths.push_back(n);
        p += 4 + n;
    }
    EXPECT_EQ(p, out.size());
    return lengths;
}

std::vector<char> Written(Record& r) {
    std::vector<char> out(r.RecordSize() + 16, 'x');
    const size_t n = r.Write(out.data());
    EXPECT_EQ(n, r.RecordSize());
    EXPECT_EQ(out[n], 'x');  // nothing past the announced size
    out.resize(n);
    return out;
}

}  // namespace

TEST(LittleEndianFields, RawVectorAndArrayForms) {
    const char bytes[] = {0x34, 0x12, static_cast<char>(0xFE), static_cast<char>(0xFF)};
    unsigned short v = 0;
    LittleEndian::Read(bytes, v, 0);
    EXPECT_EQ(v, 0x1234);
    LittleEndian::Read(bytes, v, 0, 1);
    EXPECT_EQ(v, 0x34);
    unsigned int w = 0;
    LittleEndian::Read(bytes, w, 0);
    EXPECT_EQ(w, 0xFFFE1234u);

    std::vector<char> vec(bytes, bytes + 4);
    EXPECT_TRUE(LittleEndian::Read(vec, v, 2));
    EXPECT_EQ(v, 0xFFFE);
    v = 7;
    EXPECT_FALSE(LittleEndian::Read(vec, v, 3));  // would run one byte past
    EXPECT_EQ(v, 0);
    EXPECT_FALSE(LittleEndian::Read(vec, w, 4));
    EXPECT_FALSE(LittleEndian::Write(vec, w, 1));
    EXPECT_EQ(vec, std::vector<char>(bytes, bytes + 4));  // refused write changes nothing
    EXPECT_TRUE(LittleEndian::Write(vec, static_cast<unsigned short>(0xABCD), 2));
    EXPECT_EQ(U16At(vec, 2), 0xABCDu);

    wchar_t wide[2] = {0, 0};
    LittleEndian::ReadArray(bytes, wide, 0, 2);
    EXPECT_EQ(wide[0], 0x1234);
    EXPECT_EQ(wide[1], 0xFFFE);
    char out[4] = {0, 0, 0, 0};
    LittleEndian::WriteArray(out, wide, 0, 2);
    EXPECT_EQ(std::vector<char>(out, out + 4), std::vector<char>(bytes, bytes + 4));
}

TEST(RecordWrite, SplitsAt8224Bytes) {
    struct Case {
        size_t data;
        std::vector<size_t> pieces;
    } cases[] = {{0, {0}},
                 {1, {1}},
                 {8224, {8224}},
                 {8225, {8224, 1}},
                 {2 * 8224, {8224, 8224}},
                 {2 * 8224 + 5, {8224, 8224, 5}}};
    for (const Case& c : cases) {
        Record r(0x1234);
        r.SetData(Pattern(c.data));
        EXPECT_EQ(r.RecordSize(), c.data + 4 * c.pieces.size()) << c.data;
        EXPECT_EQ(Record::SplitSize(c.data), r.RecordSize());
        const std::vector<char> out = Written(r);
        EXPECT_EQ(Pieces(out, 0x1234), c.pieces) << c.data;

        // Read back: same data, one offset per CONTINUE, same bytes again.
        Record back;
        EXPECT_EQ(back.Read(out.data(), out.data() + out.size()), out.size());
        EXPECT_EQ(back.Code(), 0x1234);
        EXPECT_EQ(back.Data(), Pattern(c.data));
        EXPECT_EQ(back.ContinueOffsets().size(), c.pieces.size() - 1);
        EXPECT_EQ(Written(back), out);
    }
}

TEST(RecordRead, GathersContinueRecordsAndWritesThemBack) {
    // Own data 40 bytes, CONTINUE of 100 and of 50, then an unrelated record.
    std::vector<char> stream;
    auto header = [&](unsigned code, size_t n) {
        stream.push_back(static_cast<char>(code & 0xFF));
        stream.push_back(static_cast<char>(code >> 8));
        stream.push_back(static_cast<char>(n & 0xFF));
        stream.push_back(static_cast<char>(n >> 8));
    };
    const std::vector<char> a = Pattern(40, 1), b = Pattern(100, 2), c = Pattern(50, 3);
    header(0x00E0, 40);
    stream.insert(stream.end(), a.begin(), a.end());
    header(0x003C, 100);
    stream.insert(stream.end(), b.begin(), b.end());
    header(0x003C, 50);
    stream.insert(stream.end(), c.begin(), c.end());
    const size_t recordBytes = stream.size();
    header(0x000A, 0);

    Record r;
    ASSERT_EQ(r.Read(stream.data(), stream.data() + stream.size()), 40u + 150 + 12);
    EXPECT_EQ(r.DataSize(), 190u);
    EXPECT_EQ(r.RecordSize(), 202u);
    EXPECT_EQ(r.ContinueOffsets(), (std::vector<size_t>{40, 140}));
    std::vector<char> gathered = a;
    gathered.insert(gathered.end(), b.begin(), b.end());
    gathered.insert(gathered.end(), c.begin(), c.end());
    EXPECT_EQ(r.Data(), gathered);
    EXPECT_EQ(Written(r), std::vector<char>(stream.begin(), stream.begin() + recordBytes));

    // The same record as the last bytes of the buffer: nothing follows it.
    Record last;
    EXPECT_EQ(last.Read(stream.data(), stream.data() + recordBytes), recordBytes);
    // One stray byte after it is not a CONTINUE code either.
    EXPECT_EQ(last.Read(stream.data(), stream.data() + recordBytes + 1), recordBytes);
}

TEST(RecordRead, OverlongPieceIsCutOnWriting) {
    // A record of 9000 data bytes in one piece, as no BIFF8 writer may emit it.
    std::vector<char> in = {0x34, 0x12, static_cast<char>(9000 & 0xFF), static_cast<char>(9000 >> 8)};
    const std::vector<char> d = Pattern(9000);
    in.insert(in.end(), d.begin(), d.end());
    Record r;
    EXPECT_EQ(r.Read(in.data(), in.data() + in.size()), 9004u);
    EXPECT_EQ(r.RecordSize(), 9008u);
    const std::vector<char> out = Written(r);
    EXPECT_EQ(Pieces(out, 0x1234), (std::vector<size_t>{8224, 776}));
}

TEST(RecordRead, DamagedFramingIsRefusedAndChangesNothing) {
    Record r(0x0001);
    r.SetData(Pattern(3));
    const std::vector<char> before = r.Data();

    // Length runs past the buffer.
    const char longer[] = {0x10, 0x00, 0x05, 0x00, 1, 2, 3};
    EXPECT_EQ(r.Read(longer, longer + sizeof longer), 0u);
    // Header itself cut.
    EXPECT_EQ(r.Read(longer, longer + 3), 0u);
    EXPECT_EQ(r.Read(longer, longer), 0u);
    // A CONTINUE header cut, and a CONTINUE piece running past the end.
    const char cut[] = {0x10, 0x00, 0x01, 0x00, 9, 0x3C, 0x00, 0x05};
    EXPECT_EQ(r.Read(cut, cut + sizeof cut), 0u);
    const char past[] = {0x10, 0x00, 0x01, 0x00, 9, 0x3C, 0x00, 0x05, 0x00, 1, 2};
    EXPECT_EQ(r.Read(past, past + sizeof past), 0u);
    EXPECT_EQ(r.Code(), 0x0001);
    EXPECT_EQ(r.Data(), before);

    unsigned short code = 1;
    EXPECT_FALSE(Record::PeekCode(past, past + 1, code));
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(Record::PeekCode(past, past + 2, code));
    EXPECT_EQ(code, 0x0010);
}

TEST(BofRecord, FieldsRoundTripAndShortDataIsRefused) {
    BOF bof;
    EXPECT_EQ(bof.DataSize(), 16u);
    EXPECT_EQ(bof.RecordSize(), 20u);
    bof.version = 0x0600;
    bof.type = 0x0010;
    bof.buildIdentifier = 0x19A0;
    bof.buildYear = 0x07CD;
    bof.historyFlags = 0xC0C9;
    bof.lowestVersion = 0x0306;
    const std::vector<char> out = Written(bof);
    const std::vector<char> expected = sheet_bytes::Hex({0x09, 0x08, 0x10, 0x00, 0x00, 0x06, 0x10, 0x00, 0xA0, 0x19,
                                                         0xCD, 0x07, 0xC9, 0xC0, 0x00, 0x00, 0x06, 0x03, 0x00, 0x00});
    EXPECT_EQ(out, expected);
    BOF back;
    EXPECT_EQ(back.Read(out.data(), out.data() + out.size()), 20u);
    EXPECT_EQ(back.type, 0x0010);
    EXPECT_EQ(back.historyFlags, 0xC0C9u);
    EXPECT_EQ(back.lowestVersion, 0x0306u);

    const char shortBof[] = {0x09, 0x08, 0x04, 0x00, 0x00, 0x06, 0x10, 0x00};
    EXPECT_EQ(back.Read(shortBof, shortBof + sizeof shortBof), 0u);

    EOFRecord eof;
    EXPECT_EQ(Written(eof), (std::vector<char>{0x0A, 0x00, 0x00, 0x00}));
}
