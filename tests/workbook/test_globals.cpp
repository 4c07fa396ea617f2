// Workbook globals records and the globals container.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "workbook/workbook.h"
#include "tests/workbook/sheet_bytes.h"

using namespace CompoundFiles::XlsBiff;

namespace {

template <typename R>
std::vector<char> Written(R& r) {
    std::vector<char> out(r.RecordSize() + 4, 'x');
    const size_t n = r.Write(out.data());
    EXPECT_EQ(n, r.RecordSize());
    EXPECT_EQ(out[n], 'x');
    out.resize(n);
    return out;
}

void Append(std::vector<char>& stream, const std::vector<char>& bytes) {
    stream.insert(stream.end(), bytes.begin(), bytes.end());
}

std::vector<char> Raw(unsigned code, size_t n, char fill = 0) {
    std::vector<char> r = {static_cast<char>(code & 0xFF), static_cast<char>(code >> 8), static_cast<char>(n & 0xFF),
                           static_cast<char>(n >> 8)};
    r.insert(r.end(), n, fill);
    return r;
}

}  // namespace

TEST(GlobalsRecords, DefaultSizes) {
    Workbook::BoundSheet sheet;
    EXPECT_EQ(sheet.DataSize(), 14u);
    EXPECT_EQ(sheet.RecordSize(), 18u);
    Workbook::Font font;
    EXPECT_EQ(font.DataSize(), 26u);
    EXPECT_EQ(font.RecordSize(), 30u);
    Workbook::Style style;
    EXPECT_EQ(style.RecordSize(), 8u);
    style.name = "Title";
    EXPECT_EQ(style.DataSize(), 4u);  // built-in: the name does not count
    style.xfIndex = 0x0003;
    EXPECT_EQ(style.DataSize(), 10u);
    EXPECT_EQ(Written(style).size(), 14u);
    Workbook::Window1 window;
    EXPECT_EQ(window.RecordSize(), 22u);
    Workbook::XF xf;
    EXPECT_EQ(xf.RecordSize(), 24u);
}

TEST(GlobalsRecords, FieldsRoundTrip) {
    Workbook::Font font;
    font.height = 240;
    font.weight = 700;
    font.underline = 1;
    font.name = L"Courier\x3A9";
    const std::vector<char> fb = Written(font);
    Workbook::Font f2;
    ASSERT_EQ(f2.Read(fb.data(), fb.data() + fb.size()), fb.size());
    EXPECT_EQ(f2.height, 240);
    EXPECT_EQ(f2.weight, 700);
    EXPECT_EQ(f2.underline, 1);
    EXPECT_EQ(std::wstring(f2.name.Wide()), L"Courier\x3A9");

    Workbook::XF xf;
    xf.fontIndex = 2;
    xf.borderColours = 0x12345678;
    const std::vector<char> xb = Written(xf);
    EXPECT_EQ(static_cast<unsigned char>(xb[4 + 18]), 0xC0u);  // pattern colours 0x20C0
    Workbook::XF x2;
    ASSERT_EQ(x2.Read(xb.data(), xb.data() + xb.size()), 24u);
    EXPECT_EQ(x2.fontIndex, 2);
    EXPECT_EQ(x2.borderColours, 0x12345678u);
    EXPECT_EQ(x2.typeProtection, 0xFFF5);
}

TEST(GlobalsRecords, DamagedRecordsAreRefused) {
    // Names running past the record, fields missing.
    Workbook::BoundSheet sheet;
    std::vector<char> sb = Written(sheet);
    sb[4 + 6] = 40;  // name claims 40 characters
    Workbook::BoundSheet s2;
    EXPECT_EQ(s2.Read(sb.data(), sb.data() + sb.size()), 0u);
    Workbook::Font font;
    std::vector<char> fb = Written(font);
    fb[4 + 14] = 20;
    Workbook::Font f2;
    EXPECT_EQ(f2.Read(fb.data(), fb.data() + fb.size()), 0u);
    const std::vector<char> shortXf = Raw(0x00E0, 12);
    Workbook::XF x;
    EXPECT_EQ(x.Read(shortXf.data(), shortXf.data() + shortXf.size()), 0u);
    const std::vector<char> shortStyle = Raw(0x0293, 3, static_cast<char>(0x80));
    Workbook::Style st;
    EXPECT_EQ(st.Read(shortStyle.data(), shortStyle.data() + shortStyle.size()), 0u);
    const std::vector<char> shortWindow = Raw(0x003D, 10);
    Workbook::Window1 w;
    EXPECT_EQ(w.Read(shortWindow.data(), shortWindow.data() + shortWindow.size()), 0u);
}

TEST(WorkbookGlobals, NewWorkbookIs58Bytes) {
    Workbook wb;
    EXPECT_EQ(wb.DataSize(), 58u);
    EXPECT_EQ(wb.RecordSize(), 58u);
    std::vector<char> out(58);
    EXPECT_EQ(wb.Write(out.data()), 58u);
    const std::vector<char> bof = sheet_bytes::Hex({0x09, 0x08, 0x10, 0x00, 0x00, 0x06, 0x05, 0x00, 0xA0, 0x19,
                                                    0xCD, 0x07, 0xC9, 0xC0, 0x00, 0x00, 0x06, 0x03, 0x00, 0x00});
    EXPECT_EQ(std::vector<char>(out.begin(), out.begin() + 20), bof);
    EXPECT_EQ(out[20], 0x3D);                     // WINDOW1
    EXPECT_EQ(out[42], static_cast<char>(0xFC));  // SST
    EXPECT_EQ(out[44], 8);
    EXPECT_EQ(out[54], 0x0A);  // EOF
    Workbook back;
    EXPECT_EQ(back.Read(out.data(), out.data() + out.size()), 58u);
}

TEST(WorkbookGlobals, ReadsTheSubstreamAndSkipsOtherRecords) {
    BOF bof;
    bof.version = 0x0600;
    bof.type = 0x0005;
    Workbook::Window1 window;
    window.activeSheet = 2;
    Workbook::Font font;
    Workbook::XF xf;
    Workbook::Style style;
    Workbook::BoundSheet sheet;
    sheet.name = "Data";
    Workbook::SharedStringTable sst;
    BiffString s;
    s = "hello";
    sst.strings = {s};
    sst.total = 3;
    EOFRecord eof;

    std::vector<char> stream;
    Append(stream, Written(bof));
    Append(stream, Written(window));
    Append(stream, Raw(0x0042, 2));  // CODEPAGE: not modelled
    Append(stream, Written(font));
    Append(stream, Written(xf));
    Append(stream, Written(style));
    Append(stream, Written(sheet));
    Append(stream, Written(sst));
    Append(stream, Raw(0x00FF, 10));  // EXTSST
    // An unknown record long enough to carry a CONTINUE record.
    Append(stream, Raw(0x0123, 8224, 1));
    Append(stream, Raw(0x003C, 10, 2));
    const size_t substream = stream.size() + 4;
    Append(stream, Written(eof));
    Append(stream, Written(bof));  // the next substream

    Workbook wb;
    ASSERT_EQ(wb.Read(stream.data(), stream.data() + stream.size()), substream);
    EXPECT_EQ(wb.window.activeSheet, 2);
    EXPECT_EQ(wb.fonts.size(), 1u);
    EXPECT_EQ(wb.xfs.size(), 1u);
    EXPECT_EQ(wb.styles.size(), 1u);
    ASSERT_EQ(wb.sheets.size(), 1u);
    EXPECT_STREQ(wb.sheets[0].name.Narrow(), "Data");
    ASSERT_EQ(wb.sharedStrings.strings.size(), 1u);
    EXPECT_EQ(wb.sharedStrings.strings[0].NarrowText(), "hello");
    EXPECT_EQ(wb.sharedStrings.total, 3u);

    // Written back: the eight modelled records only, no EXTSST or others.
    const size_t expected = 20 + 22 + 30 + 24 + 8  // BOF, WINDOW1, FONT, XF, STYLE
                            + (4 + 6 + 2 + 4)      // BOUNDSHEET "Data"
                            + (4 + 8 + 3 + 5)      // SST with "hello"
                            + 4;                   // EOF
    EXPECT_EQ(wb.DataSize(), expected);
    std::vector<char> out(expected);
    ASSERT_EQ(wb.Write(out.data()), expected);
    Workbook again;
    EXPECT_EQ(again.Read(out.data(), out.data() + out.size()), expected);
    EXPECT_EQ(again.sheets.size(), 1u);
}

TEST(WorkbookGlobals, DamagedSubstreamsAreRefused) {
    Workbook wb;
    std::vector<char> out(wb.DataSize());
    wb.Write(out.data());
    Workbook r1;
    EXPECT_EQ(r1.Read(out.data(), out.data() + out.size() - 4), 0u);  // no EOF
    Workbook r2;
    EXPECT_EQ(r2.Read(out.data(), out.data() + out.size() - 2), 0u);  // EOF cut
    std::vector<char> bad = out;
    bad[22] = 60;  // WINDOW1 length runs past the buffer
    Workbook r3;
    EXPECT_EQ(r3.Read(bad.data(), bad.data() + bad.size()), 0u);
    Workbook r4;
    EXPECT_EQ(r4.Read(out.data(), out.data()), 0u);
}

TEST(WorkbookGlobals, WriteMatchesDataSizeWithSplitStrings) {
    Workbook wb;
    wb.fonts.resize(4);
    wb.xfs.resize(21);
    wb.styles.resize(6);
    wb.sheets.resize(3);
    wb.sheets[1].name = L"Zweite";
    for (int i = 0; i < 3000; ++i) {
        BiffString s;
        if (i % 3 == 0)
            s = std::wstring(static_cast<size_t>(i % 47), L'\x416').c_str();
        else
            s = std::string(static_cast<size_t>(i % 61), 'a' + i % 26).c_str();
        wb.sharedStrings.strings.push_back(s);
    }
    const size_t size = wb.DataSize();
    EXPECT_GT(wb.sharedStrings.ContinueOffsets().size(), 2u);
    std::vector<char> out(size + 1, 'x');
    EXPECT_EQ(wb.Write(out.data()), size);
    EXPECT_EQ(out[size], 'x');
    Workbook back;
    ASSERT_EQ(back.Read(out.data(), out.data() + size), size);
    EXPECT_EQ(back.fonts.size(), 4u);
    EXPECT_EQ(back.xfs.size(), 21u);
    EXPECT_EQ(back.styles.size(), 6u);
    ASSERT_EQ(back.sheets.size(), 3u);
    EXPECT_EQ(std::wstring(back.sheets[1].name.Wide()), L"Zweite");
    ASSERT_EQ(back.sharedStrings.strings.size(), 3000u);
    for (int i = 0; i < 3000; ++i) {
        const BiffString& a = wb.sharedStrings.strings[static_cast<size_t>(i)];
        const BiffString& b = back.sharedStrings.strings[static_cast<size_t>(i)];
        ASSERT_EQ(a.wide, b.wide) << i;
        ASSERT_EQ(a.narrow, b.narrow) << i;
    }
    // The copy of a workbook is deep and writes the same bytes.
    Workbook copy = back;
    back.sheets[0].name = "changed";
    std::vector<char> copied(copy.DataSize());
    copy.Write(copied.data());
    EXPECT_EQ(copied, std::vector<char>(out.begin(), out.begin() + size));
}
