// The host's UTF-8 text decoded for the workbook, and the byte sequences
// that are refused rather than guessed at.
#include <gtest/gtest.h>

#include <string>

#include "plugin/utf8_text.h"

TEST(Utf8Text, DecodesEveryLengthAndRefusesBadSequences) {
    std::wstring out;
    std::size_t bad = 99;
    ASSERT_TRUE(orvan::DecodeUtf8("A\xc3\x85ngstr\xc3\xb6m \xe6\x95\xb0 \xf0\x9f\x98\x80", out, bad));
    EXPECT_EQ(out, L"A\u00c5ngstr\u00f6m \u6570 \U0001F600");
    EXPECT_EQ(orvan::Utf16Length(out), out.size() + 1);  // one surrogate pair
    ASSERT_TRUE(orvan::DecodeUtf8("", out, bad));
    EXPECT_TRUE(out.empty());

    const struct {
        const char* text;
        std::size_t offset;
    } refused[] = {
        {"ab\xff", 2},              // never in UTF-8
        {"a\x80", 1},               // a stray continuation byte
        {"\xc3", 0},                // cut short
        {"x\xe6\x95y", 1},          // a continuation byte missing
        {"\xc0\xaf", 0},            // overlong
        {"\xe0\x80\xaf", 0},        // overlong, three bytes
        {"\xed\xa0\x80", 0},        // a surrogate
        {"ok\xf4\x90\x80\x80", 2},  // above U+10FFFF
    };
    for (const auto& r : refused) {
        EXPECT_FALSE(orvan::DecodeUtf8(r.text, out, bad)) << r.text;
        EXPECT_EQ(bad, r.offset) << r.text;
    }
}
