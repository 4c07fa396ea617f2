// The shared string table: where its CONTINUE split falls, that the reader
// follows any such split, and round trips checked against an independent reader.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "workbook/workbook.h"

using namespace CompoundFiles::XlsBiff;
typedef Workbook::SharedStringTable SST;

namespace {

unsigned U16At(const std::vector<char>& b, size_t p) {
    return static_cast<unsigned char>(b[p]) | (static_cast<unsigned char>(b[p + 1]) << 8);
}

BiffString Narrow(size_t n, char c = 'n') {
    BiffString s;
    s = std::string(n, c).c_str();
    return s;
}

BiffString Wide(size_t n, wchar_t c = L'\x3A9') {
    BiffString s;
    s = std::wstring(n, c).c_str();
    return s;
}

// The data of each piece of a written record (record, then its CONTINUEs).
std::vector<std::vector<char>> Pieces(const std::vector<char>& out) {
    std::vector<std::vector<char>> pieces;
    size_t p = 0;
    while (p + 4 <= out.size()) {
        EXPECT_EQ(U16At(out, p), pieces.empty() ? 0x00FCu : 0x003Cu);
        const size_t n = U16At(out, p + 2);
        EXPECT_LE(n, 8224u);
        EXPECT_LE(p + 4 + n, out.size());
        pieces.emplace_back(out.begin() + p + 4, out.begin() + p + 4 + n);
        p += 4 + n;
    }
    EXPECT_EQ(p, out.size());
    return pieces;
}

std::vector<char> WriteTable(SST& t) {
    const size_t size = t.RecordSize();
    std::vector<char> out(size + 8, 'x');
    EXPECT_EQ(t.Write(out.data()), size);
    EXPECT_EQ(out[size], 'x');
    out.resize(size);
    return out;
}

SST ReadTable(const std::vector<char>& bytes) {
    SST t;
    EXPECT_EQ(t.Read(bytes.data(), bytes.data() + bytes.size()), bytes.size());
    return t;
}

void ExpectSameStrings(const SST& a, const SST& b) {
    ASSERT_EQ(a.strings.size(), b.strings.size());
    EXPECT_EQ(a.total, b.total);
    EXPECT_EQ(a.unique, b.unique);
    for (size_t i = 0; i < a.strings.size(); ++i) {
        ASSERT_EQ(a.strings[i].IsWide(), b.strings[i].IsWide()) << i;
        if (a.strings[i].IsWide())
            ASSERT_EQ(a.strings[i].wide, b.strings[i].wide) << i;
        else
            ASSERT_EQ(a.strings[i].narrow, b.strings[i].narrow) << i;
    }
}

// First string sized so that `left` bytes remain in the first piece.
SST WithLeft(size_t left, const BiffString& second) {
    SST t;
    t.strings.push_back(Narrow(8224 - left - 8 - 3));
    t.strings.push_back(second);
    return t;
}

}  // namespace

TEST(SharedStringTablePlan, EmptyAndExactFill) {
    SST empty;
    EXPECT_EQ(empty.DataSize(), 8u);
    EXPECT_EQ(empty.RecordSize(), 12u);
    EXPECT_EQ(WriteTable(empty).size(), 12u);

    SST full;
    full.strings.push_back(Narrow(8224 - 11));
    EXPECT_EQ(full.DataSize(), 8224u);
    EXPECT_TRUE(full.ContinueOffsets().empty());
    const std::vector<char> out = WriteTable(full);
    EXPECT_EQ(out.size(), 8228u);
    EXPECT_EQ(Pieces(out).size(), 1u);
    ExpectSameStrings(full, ReadTable(out));
}

TEST(SharedStringTablePlan, FewBytesLeftMovesTheStringWhole) {
    for (const BiffString& second : {Narrow(20, 'y'), Wide(20)}) {
        SST t = WithLeft(11, second);
        const std::vector<char> out = WriteTable(t);
        EXPECT_EQ(t.ContinueOffsets(), (std::vector<size_t>{8213}));
        const auto pieces = Pieces(out);
        ASSERT_EQ(pieces.size(), 2u);
        EXPECT_EQ(pieces[0].size(), 8213u);
        // The CONTINUE record starts with the string's own header, no flags byte.
        EXPECT_EQ(U16At(pieces[1], 0), 20u);
        EXPECT_EQ(pieces[1][2], second.IsWide() ? 1 : 0);
        EXPECT_EQ(pieces[1].size(), 3 + second.CharacterBytes());
        ExpectSameStrings(t, ReadTable(out));
    }
}

TEST(SharedStringTablePlan, TwelveBytesLeftCutsTheString) {
    // 8-bit: the piece ends at its 8224-byte limit, 9 characters before the cut.
    SST narrow = WithLeft(12, Narrow(20, 'y'));
    std::vector<char> out = WriteTable(narrow);
    EXPECT_EQ(narrow.ContinueOffsets(), (std::vector<size_t>{8224}));
    EXPECT_EQ(narrow.DataSize(), 8224u + 1 + 11);
    auto pieces = Pieces(out);
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0].size(), 8224u);
    EXPECT_EQ(pieces[1].size(), 12u);
    EXPECT_EQ(pieces[1][0], 0);  // flags byte of the continued string
    EXPECT_EQ(pieces[1][1], 'y');
    ExpectSameStrings(narrow, ReadTable(out));

    // 16-bit with an even number of bytes left: one byte earlier, so no
    // character is split (header + 4 characters before the cut).
    SST wide = WithLeft(12, Wide(20));
    out = WriteTable(wide);
    EXPECT_EQ(wide.ContinueOffsets(), (std::vector<size_t>{8223}));
    pieces = Pieces(out);
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0].size(), 8223u);
    EXPECT_EQ(pieces[1].size(), 1u + 32);
    EXPECT_EQ(pieces[1][0], 1);
    ExpectSameStrings(wide, ReadTable(out));

    // 16-bit with an odd number left: cut at the limit.
    SST odd = WithLeft(13, Wide(20));
    WriteTable(odd);
    EXPECT_EQ(odd.ContinueOffsets(), (std::vector<size_t>{8224}));
}

TEST(SharedStringTablePlan, LongStringsSpanSeveralPieces) {
    // One 8-bit string over three pieces.
    const size_t c = 8224 + 8223 - 11 + 100;
    SST t;
    t.strings.push_back(Narrow(c));
    const std::vector<char> out = WriteTable(t);
    EXPECT_EQ(t.ContinueOffsets(), (std::vector<size_t>{8224, 8224 + 1 + 8223}));
    EXPECT_EQ(t.DataSize(), 8 + 3 + c + 2);
    EXPECT_EQ(out.size(), t.DataSize() + 12);
    const auto pieces = Pieces(out);
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_EQ(pieces[1][0], 0);
    EXPECT_EQ(pieces[2][0], 0);
    ExpectSameStrings(t, ReadTable(out));

    // A 16-bit string whose rest fills one continuation piece exactly: no
    // further boundary, no piece holding a flags byte alone; the next string
    // starts a new piece whole.
    SST w;
    w.strings.push_back(Wide(4106 + 4111));
    w.strings.push_back(Narrow(5));
    const std::vector<char> wout = WriteTable(w);
    EXPECT_EQ(w.ContinueOffsets(), (std::vector<size_t>{8223, 16446}));
    const auto wp = Pieces(wout);
    ASSERT_EQ(wp.size(), 3u);
    EXPECT_EQ(wp[1].size(), 8223u);
    EXPECT_EQ(wp[2].size(), 8u);
    EXPECT_EQ(U16At(wp[2], 0), 5u);
    ExpectSameStrings(w, ReadTable(wout));
}

TEST(SharedStringTableRead, SplitsOfOtherWriters) {
    // Hand-made: a string whose header ends right at the boundary, then a
    // rich 16-bit string cut inside its characters whose runs cross the next
    // boundary, then a plain string.
    auto put16 = [](std::vector<char>& b, unsigned v) {
        b.push_back(static_cast<char>(v & 0xFF));
        b.push_back(static_cast<char>(v >> 8));
    };
    std::vector<char> first = {3, 0, 0, 0, 3, 0, 0, 0};  // total 3, unique 3
    first.insert(first.end(), {2, 0, 0});                // "ok" header only
    std::vector<char> second = {0x00, 'o', 'k'};         // flags byte, characters
    put16(second, 3);                                    // count 3
    second.push_back(0x09);                              // 16-bit, rich
    put16(second, 1);                                    // one run
    put16(second, L'\x3B1');                             // first character
    std::vector<char> third = {0x01};                    // continued, 16-bit
    put16(third, L'\x3B2');
    put16(third, L'\x3B3');
    third.insert(third.end(), {1, 0});  // first half of the run
    std::vector<char> fourth = {0, 0};  // second half, no flags byte
    fourth.insert(fourth.end(), {1, 0, 0, 'z'});
    std::vector<char> bytes;
    auto record = [&](unsigned code, const std::vector<char>& d) {
        put16(bytes, code);
        put16(bytes, static_cast<unsigned>(d.size()));
        bytes.insert(bytes.end(), d.begin(), d.end());
    };
    record(0x00FC, first);
    record(0x003C, second);
    record(0x003C, third);
    record(0x003C, fourth);
    SST t;
    ASSERT_EQ(t.Read(bytes.data(), bytes.data() + bytes.size()), bytes.size());
    ASSERT_EQ(t.strings.size(), 3u);
    EXPECT_EQ(t.strings[0].NarrowText(), "ok");
    EXPECT_EQ(t.strings[1].WideText(), L"\x3B1\x3B2\x3B3");
    EXPECT_EQ(t.strings[2].NarrowText(), "z");
}

TEST(SharedStringTableRead, EachContinuePieceChoosesItsWidth) {
    // Three strings, each cut by a CONTINUE record whose flags byte differs
    // from the string's own: 8-bit then 16-bit then 8-bit again; 16-bit then
    // 8-bit; 8-bit with 8-bit high Latin-1 characters on both sides.
    std::vector<char> bytes;
    auto put16 = [](std::vector<char>& b, unsigned v) {
        b.push_back(static_cast<char>(v & 0xFF));
        b.push_back(static_cast<char>(v >> 8));
    };
    auto record = [&](unsigned code, const std::vector<char>& d) {
        put16(bytes, code);
        put16(bytes, static_cast<unsigned>(d.size()));
        bytes.insert(bytes.end(), d.begin(), d.end());
    };
    std::vector<char> first = {3, 0, 0, 0, 3, 0, 0, 0, 5, 0, 0, 'a', '\xe9'};
    std::vector<char> second = {0x01};
    put16(second, 0x3A9);
    put16(second, 'c');
    std::vector<char> third = {0x00, '\xfc'};
    put16(third, 2);  // second string: 16-bit "x" then 8-bit "\xe9"
    third.push_back(0x01);
    put16(third, 'x');
    std::vector<char> fourth = {0x00, '\xe9', 2, 0, 0, '\xc4'};
    std::vector<char> fifth = {0x00, '\xdf'};
    record(0x00FC, first);
    record(0x003C, second);
    record(0x003C, third);
    record(0x003C, fourth);
    record(0x003C, fifth);
    SST t;
    ASSERT_EQ(t.Read(bytes.data(), bytes.data() + bytes.size()), bytes.size());
    ASSERT_EQ(t.strings.size(), 3u);
    EXPECT_EQ(t.strings[0].WideText(), L"a\u00e9\u03a9c\u00fc");
    EXPECT_EQ(t.strings[1].WideText(), L"x\u00e9");
    ASSERT_FALSE(t.strings[2].IsWide());
    EXPECT_EQ(t.strings[2].NarrowText(), "\xc4\xdf");
    // Written back and read again, the texts are the same.
    SST again = ReadTable(WriteTable(t));
    ExpectSameStrings(t, again);
}

TEST(SharedStringTableRead, DamagedCountsAreRefused) {
    SST t;
    t.total = 4;
    t.strings = {Narrow(3), Wide(2), Narrow(8300)};
    std::vector<char> good = WriteTable(t);

    // unique beyond what the data can hold
    std::vector<char> bad = good;
    bad[8] = static_cast<char>(0xFF);
    bad[9] = static_cast<char>(0xFF);
    SST r;
    EXPECT_EQ(r.Read(bad.data(), bad.data() + bad.size()), 0u);
    // one string more than there is
    bad = good;
    bad[8] = 4;
    EXPECT_EQ(r.Read(bad.data(), bad.data() + bad.size()), 0u);
    // a last string that claims more characters than remain
    bad = good;
    const size_t lastCount = 12 + 6 + 7;
    bad[lastCount + 1] = static_cast<char>(0x7F);
    EXPECT_EQ(r.Read(bad.data(), bad.data() + bad.size()), 0u);
    // one string fewer than there is: the last string's cells would load empty
    bad = good;
    bad[8] = 2;
    EXPECT_EQ(r.Read(bad.data(), bad.data() + bad.size()), 0u);
    // fewer than 8 data bytes
    const char tiny[] = {static_cast<char>(0xFC), 0, 4, 0, 0, 0, 0, 0};
    EXPECT_EQ(r.Read(tiny, tiny + sizeof tiny), 0u);
    // the good table still reads
    ExpectSameStrings(t, ReadTable(good));
}

namespace {

// Random tables: many short strings, some several pieces long, narrow and wide.
SST RandomTable(unsigned seed, size_t count, bool printable) {
    std::mt19937 rng(seed);
    SST t;
    t.total = static_cast<unsigned>(count + seed);
    for (size_t i = 0; i < count; ++i) {
        const bool wide = rng() % 2 == 0;
        size_t n = rng() % 40;
        if (rng() % 64 == 0) n = rng() % 26000;
        BiffString s;
        if (wide) {
            s.flags = 1;
            for (size_t k = 0; k < n; ++k) {
                unsigned u = 1 + rng() % 0xFFFE;
                if (u >= 0xD800 && u <= 0xDFFF) u -= 0x1000;  // no lone surrogates
                s.wide.push_back(static_cast<wchar_t>(u));
            }
        } else {
            s.flags = 0;
            for (size_t k = 0; k < n; ++k)
                s.narrow.push_back(static_cast<char>(printable ? 0x20 + rng() % 0xDF : rng() % 256));
        }
        t.strings.push_back(s);
    }
    return t;
}

}  // namespace

TEST(SharedStringTableRoundTrip, RandomTablesReadBackIdentical) {
    for (unsigned seed = 1; seed <= 12; ++seed) {
        SST t = RandomTable(seed, 1500 + 200 * seed, false);
        const std::vector<char> out = WriteTable(t);
        EXPECT_EQ(t.unique, t.strings.size());
        const auto pieces = Pieces(out);
        EXPECT_EQ(pieces.size(), t.ContinueOffsets().size() + 1);
        ExpectSameStrings(t, ReadTable(out));
        // Writing again gives the same bytes.
        EXPECT_EQ(WriteTable(t), out);
    }
}

TEST(SharedStringTableRoundTrip, IndependentReaderAgrees) {
    const char* dir = std::getenv("ORVAN_BINARY_DIR");
    const std::string base = std::string(dir ? dir : ".") + "/wbg_sst_check";
    const std::string script = base + ".py", data = base + ".bin";
    {
        std::ofstream py(script);
        py << "import struct, sys\n"
              "from xlrd.book import unpack_SST_table\n"
              "b = open(sys.argv[1], 'rb').read()\n"
              "pieces, p = [], 0\n"
              "while p < len(b):\n"
              "    code, n = struct.unpack('<HH', b[p:p+4])\n"
              "    pieces.append(b[p+4:p+4+n]); p += 4 + n\n"
              "unique = struct.unpack('<I', pieces[0][4:8])[0]\n"
              "strings = unpack_SST_table(pieces, unique)\n"
              "if isinstance(strings, tuple): strings = strings[0]\n"
              "for s in strings:\n"
              "    print(' '.join('%x' % ord(c) for c in s))\n";
    }
    for (unsigned seed : {101u, 202u}) {
        SST t = RandomTable(seed, 2500, true);
        const std::vector<char> out = WriteTable(t);
        ASSERT_GT(t.ContinueOffsets().size(), 3u);
        std::ofstream(data, std::ios::binary).write(out.data(), static_cast<std::streamsize>(out.size()));
        FILE* pipe = popen(("/usr/bin/python3 " + script + " " + data).c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string text;
        char buffer[65536];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
        ASSERT_EQ(pclose(pipe), 0);
        std::istringstream lines(text);
        std::string line;
        size_t i = 0;
        for (; std::getline(lines, line); ++i) {
            ASSERT_LT(i, t.strings.size());
            std::vector<unsigned long> expected, got;
            const BiffString& s = t.strings[i];
            if (s.IsWide())
                for (wchar_t w : s.wide) expected.push_back(static_cast<unsigned long>(w));
            else
                for (char c : s.narrow) expected.push_back(static_cast<unsigned char>(c));
            std::istringstream fields(line);
            std::string hex;
            while (fields >> hex) got.push_back(std::stoul(hex, nullptr, 16));
            ASSERT_EQ(got, expected) << "string " << i << " of seed " << seed;
        }
        EXPECT_EQ(i, t.strings.size());
    }
    std::remove(script.c_str());
    std::remove(data.c_str());
}
