// Short and long BIFF strings: sizes, flags, skipped rich/extension parts,
// bounded reads and character conversion.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "workbook/biff_string.h"

using namespace CompoundFiles::XlsBiff;

namespace {

void Put16(std::vector<char>& b, unsigned v) {
    b.push_back(static_cast<char>(v & 0xFF));
    b.push_back(static_cast<char>((v >> 8) & 0xFF));
}

}  // namespace

TEST(ShortString, NarrowAndWideSizes) {
    const std::string text(31, 'q');
    BiffShortString s;
    s = text.c_str();
    EXPECT_EQ(s.Length(), 31u);
    EXPECT_EQ(s.StringSize(), 33u);
    std::vector<char> out(s.StringSize());
    EXPECT_EQ(s.Write(out.data()), 33u);
    EXPECT_EQ(out[0], 31);
    EXPECT_EQ(out[1], 0);
    BiffShortString back;
    EXPECT_EQ(back.Read(out.data(), out.data() + out.size()), 33u);
    EXPECT_STREQ(back.Narrow(), text.c_str());
    EXPECT_EQ(back.Wide(), nullptr);

    const std::wstring wtext(31, L'\x4E2D');
    s = wtext.c_str();
    EXPECT_EQ(s.StringSize(), 64u);
    EXPECT_EQ(s.Narrow(), nullptr);
    out.assign(s.StringSize(), 0);
    EXPECT_EQ(s.Write(out.data()), 64u);
    EXPECT_EQ(out[1], 1);
    EXPECT_EQ(static_cast<unsigned char>(out[2]), 0x2Du);
    EXPECT_EQ(static_cast<unsigned char>(out[3]), 0x4Eu);
    EXPECT_EQ(back.Read(out.data(), out.data() + out.size()), 64u);
    EXPECT_EQ(std::wstring(back.Wide()), wtext);
    EXPECT_EQ(back.Narrow(), nullptr);

    // Copies are deep and independent.
    BiffShortString copy = back;
    back = "x";
    EXPECT_EQ(std::wstring(copy.Wide()), wtext);
}

TEST(ShortString, CountByteLimits) {
    const std::string text200(200, 'a');
    BiffShortString s;
    s = text200.c_str();
    std::vector<char> out(s.StringSize());
    s.Write(out.data());
    EXPECT_EQ(static_cast<unsigned char>(out[0]), 200u);
    BiffShortString back;
    EXPECT_EQ(back.Read(out.data(), out.data() + out.size()), 202u);
    EXPECT_EQ(back.Length(), 200u);

    // Longer texts are kept to what the count byte can say, so the size and
    // the bytes written agree and the string reads back as written.
    const std::string text300(300, 'b');
    s = text300.c_str();
    EXPECT_EQ(s.Length(), 255u);
    out.assign(s.StringSize(), 0);
    EXPECT_EQ(s.Write(out.data()), 257u);
    EXPECT_EQ(back.Read(out.data(), out.data() + out.size()), 257u);
    EXPECT_EQ(back.Length(), 255u);

    // Truncated input.
    EXPECT_EQ(back.Read(out.data(), out.data() + 100), 0u);
    EXPECT_EQ(back.Read(out.data(), out.data() + 1), 0u);
}

TEST(LongString, RichAndExtendedPartsAreSkipped) {
    // 16-bit, rich text: count 3, flags 0x09, 2 runs.
    const size_t c = 3, r = 2;
    std::vector<char> in;
    Put16(in, c);
    in.push_back(0x09);
    Put16(in, r);
    for (unsigned ch : {0x41u, 0x3A9u, 0x43u}) Put16(in, ch);
    for (size_t i = 0; i < 4 * r; ++i) in.push_back(static_cast<char>(0x77));
    in.push_back(0x55);  // the next field

    BiffString s;
    EXPECT_EQ(s.Read(in.data(), in.data() + in.size()), 2 + 1 + 2 + 2 * c + 4 * r);
    EXPECT_EQ(s.flags, 0x09);
    EXPECT_EQ(s.richRuns, r);
    EXPECT_EQ(s.StringSize(), 2 + 1 + 2 + 2 * c + 4 * r);
    EXPECT_EQ(s.WideText(), std::wstring(L"A\x3A9"
                                         L"C"));
    std::vector<char> out(3 + s.CharacterBytes());
    EXPECT_EQ(s.Write(out.data()), 3 + 2 * c);
    EXPECT_EQ(out[2], 1);
    EXPECT_EQ(s.flags, 1);

    // 8-bit with an extension block of 5 bytes.
    std::vector<char> ext;
    Put16(ext, 2);
    ext.push_back(0x04);
    ext.insert(ext.end(), {5, 0, 0, 0});
    ext.insert(ext.end(), {'h', 'i'});
    ext.insert(ext.end(), 5, 'z');
    BiffString e;
    EXPECT_EQ(e.Read(ext.data(), ext.data() + ext.size()), ext.size());
    EXPECT_EQ(e.NarrowText(), "hi");
    EXPECT_EQ(e.extensionSize, 5u);

    // An empty string still has its runs skipped.
    std::vector<char> empty;
    Put16(empty, 0);
    empty.push_back(0x08);
    Put16(empty, 1);
    empty.insert(empty.end(), 4, 0);
    BiffString z;
    EXPECT_EQ(z.Read(empty.data(), empty.data() + empty.size()), empty.size());

    // Any part cut off by the end of the buffer is damage.
    BiffString t;
    for (size_t n = 0; n < in.size() - 1; ++n) EXPECT_EQ(t.Read(in.data(), in.data() + n), 0u) << n;
    for (size_t n = 0; n < ext.size(); ++n) EXPECT_EQ(t.Read(ext.data(), ext.data() + n), 0u) << n;
}

TEST(LongString, AssignmentWriteAndContinueRead) {
    BiffString s;
    EXPECT_EQ(s.flags, 0xFF);
    s = "abc";
    EXPECT_EQ(s.flags, 0);
    EXPECT_EQ(s.narrow.size(), 3u);  // characters only, no terminator
    std::vector<char> out(3 + s.CharacterBytes());
    EXPECT_EQ(s.Write(out.data()), 6u);
    EXPECT_EQ(out, (std::vector<char>{3, 0, 0, 'a', 'b', 'c'}));

    // Characters above 0xFFFF become a surrogate pair.
    s = L"x\U0001F600";
    ASSERT_EQ(s.wide.size(), 3u);
    EXPECT_EQ(s.wide[1], 0xD83D);
    EXPECT_EQ(s.wide[2], 0xDE00);
    EXPECT_EQ(s.CharacterBytes(), 6u);

    // A new string takes the flags of its first piece.
    const char piece[] = {0x01, 'A', 0, 'B', 0};
    BiffString n;
    EXPECT_EQ(n.ContinueRead(piece, piece + sizeof piece, 2), 5u);
    EXPECT_EQ(n.flags, 1);
    EXPECT_EQ(n.WideText(), L"AB");
    // A further 8-bit piece is widened; a piece that is too short is refused.
    const char narrowPiece[] = {0x00, 'C', 'D'};
    EXPECT_EQ(n.ContinueRead(narrowPiece, narrowPiece + 3, 2), 3u);
    EXPECT_EQ(n.WideText(), L"ABCD");
    EXPECT_EQ(n.ContinueRead(narrowPiece, narrowPiece + 3, 3), 0u);
    EXPECT_EQ(n.WideText(), L"ABCD");
    EXPECT_EQ(n.ContinueRead(narrowPiece, narrowPiece + 3, 0), 0u);
}

TEST(LongString, NarrowTextMeetingWideCharactersBecomesWide) {
    // 8-bit characters are Latin-1: the text read so far widens by a zero
    // high byte, and the string stays wide; no locale is involved.
    BiffString s;
    s = "a\xe9";
    const char piece[] = {0x01, 'c', 0, 0x2D, 0x4E};
    EXPECT_EQ(s.ContinueRead(piece, piece + sizeof piece, 2), 5u);
    EXPECT_TRUE(s.IsWide());
    EXPECT_EQ(s.WideText(), L"a\u00e9c\u4e2d");
    const char narrowPiece[] = {0x00, '\xfc'};
    EXPECT_EQ(s.ContinueRead(narrowPiece, narrowPiece + 2, 1), 2u);
    EXPECT_EQ(s.WideText(), L"a\u00e9c\u4e2d\u00fc");
}
