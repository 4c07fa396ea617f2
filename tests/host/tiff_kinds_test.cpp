// The TIFF reader on files it must refuse by name or read right where a
// row-by-row reader goes wrong, on files built byte by byte here, and the
// memory it takes, measured as an address-space limit it must stay within.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "host/app/image.h"
#include "host/app/tiff_io.h"
#include "tests/host/read_message.h"

namespace {

struct Entry {
    uint16_t tag, type;
    uint32_t value;
};

// One directory of a little-endian TIFF: w x h samples of `bits` bits in
// one strip, and the entries in `extra` besides.
struct Dir {
    uint32_t w = 2, h = 1;
    uint16_t bits = 8, compression = 1, photometric = 1, format = 1;
    std::string strip;
    std::vector<Entry> extra;
};

void Put(std::string& b, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b.push_back(char((v >> (8 * i)) & 0xff));
}

// The directories in a chain; the last one's next-directory offset is
// `last_next` (0: the end).
std::string TiffBytes(const std::vector<Dir>& dirs, uint32_t last_next = 0) {
    std::string b = "II";
    Put(b, 42, 2);
    Put(b, 8, 4);
    for (size_t d = 0; d < dirs.size(); ++d) {
        const Dir& dir = dirs[d];
        std::vector<Entry> entries = {{256, 4, dir.w},
                                      {257, 4, dir.h},
                                      {258, 3, dir.bits},
                                      {259, 3, dir.compression},
                                      {262, 3, dir.photometric},
                                      {273, 4, 0},
                                      {277, 3, 1},
                                      {278, 4, dir.h},
                                      {279, 4, uint32_t(dir.strip.size())},
                                      {339, 3, dir.format}};
        entries.insert(entries.end(), dir.extra.begin(), dir.extra.end());
        std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
        const uint32_t strip = uint32_t(b.size() + 2 + 12 * entries.size() + 4);
        const uint32_t next = uint32_t(strip + dir.strip.size());
        Put(b, entries.size(), 2);
        for (Entry e : entries) {
            if (e.tag == 273) e.value = strip;
            Put(b, e.tag, 2);
            Put(b, e.type, 2);
            Put(b, 1, 4);
            Put(b, e.value, 4);  // a SHORT is left-justified: its high half is 0
        }
        Put(b, d + 1 < dirs.size() ? next : last_next, 4);
        b += dir.strip;
    }
    return b;
}

std::string WriteBytes(const std::string& name, const std::string& bytes) {
    const std::string path = testing::TempDir() + name + ".tif";
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

std::string Refusal(const std::string& path, const std::string& why) {
    return "cannot read image file \"" + path + "\": " + why;
}

Dir Thumbnail(Entry mark) {
    Dir d;
    d.w = 1;
    d.strip = std::string(1, char(9));
    d.extra = {mark};
    return d;
}

// Where the first directory's next pointer leads.
size_t SecondDirectory(const std::string& b) {
    const auto byte = [&](size_t i) { return size_t(uint8_t(b[i])); };
    const size_t next = 10 + 12 * (byte(8) | byte(9) << 8);
    return byte(next) | byte(next + 1) << 8 | byte(next + 2) << 16 | byte(next + 3) << 24;
}

Dir Image() {
    Dir d;
    d.strip = {char(1), char(2)};
    return d;
}

}  // namespace

// A chain of directories broken after the image (a copy cut short, a
// writer's wrong pointer) still gives the image, and a note that says
// where the chain breaks; broken before it, with only a thumbnail read, the
// file is damaged: the thumbnail is not the image.
TEST(ReadTiffKinds, AChainBrokenAfterTheImageIsToldBrokenBeforeItIsDamage) {
    const std::string path = testing::TempDir() + "chain.tif";
    const std::string read = "image file \"" + path + "\" read, but its chain of directories ";
    const auto expect_read = [&](const std::string& bytes, const std::string& note) {
        WriteBytes("chain", bytes);
        const orvanhost::TiffPixels image = orvanhost::ReadTiff(path);
        EXPECT_EQ(image.pixels, (std::vector<float>{1, 2})) << note;
        EXPECT_EQ(image.note, read + note);
    };
    expect_read(TiffBytes({Image()}, 1u << 20),
                "is broken after directory 1: the next one would start past the end of the file");
    expect_read(TiffBytes({Image()}, 8), "loops: directory 1 points back to directory 1");
    expect_read(TiffBytes({Image()}, 4),
                "is broken after directory 1: the next one would start inside the file's header");
    const Dir thumbnail = Thumbnail({254, 4, FILETYPE_REDUCEDIMAGE});
    expect_read(TiffBytes({Image(), thumbnail}, 8), "loops: directory 2 points back to directory 1");

    // The second directory's entry count damaged, or the file cut in it.
    const std::string whole = TiffBytes({Image(), thumbnail});
    const size_t second = SecondDirectory(whole);
    std::string counted = whole;
    counted[second] = char(0xff), counted[second + 1] = char(0x7f);
    expect_read(counted, "is broken after directory 1: directory 2 is damaged or cut short");
    expect_read(whole.substr(0, second + 30), "is broken after directory 1: directory 2 is damaged or cut short");
    // Its image length tag renamed: libtiff gives it up having dropped the
    // image's directory.
    std::string lengthless = whole;
    const size_t length_tag = lengthless.find(std::string("\x01\x01\x04\x00", 4), second);
    ASSERT_NE(length_tag, std::string::npos);
    lengthless[length_tag + 1] = char(0x7f);
    expect_read(lengthless, "is broken after directory 1: directory 2 is damaged or cut short");

    const std::string first = TiffBytes({thumbnail, Image()});
    EXPECT_EQ(ReadMessage(WriteBytes("chain", first)), "");
    const std::string damaged = Refusal(path, "directory 2 is damaged or cut short");
    WriteBytes("chain", TiffBytes({thumbnail}, 1u << 20));
    EXPECT_EQ(ReadMessage(path), damaged) << "the next directory past the end";
    WriteBytes("chain", TiffBytes({thumbnail}, 8));
    EXPECT_EQ(ReadMessage(path),
              Refusal(path, "its chain of directories loops: directory 1 points back to directory 1"));
    const size_t image = SecondDirectory(first);
    counted = first;
    counted[image] = char(0xff), counted[image + 1] = char(0x7f);
    WriteBytes("chain", counted);
    EXPECT_EQ(ReadMessage(path), damaged) << "a damaged entry count";
    WriteBytes("chain", first.substr(0, image + 30));
    EXPECT_EQ(ReadMessage(path), damaged) << "the file cut in the directory";
    std::remove(path.c_str());
}

// Thumbnails marked by the old SubfileType tag are passed over as those
// marked by the new one; pages marked by it are pages; a mask is named.
TEST(ReadTiffKinds, OldSubfileTypesAndMasksAreTold) {
    const std::string path = testing::TempDir() + "kinds.tif";
    for (const auto& dirs : {std::vector<Dir>{Image(), Thumbnail({255, 3, OFILETYPE_REDUCEDIMAGE})},
                             std::vector<Dir>{Thumbnail({255, 4, OFILETYPE_REDUCEDIMAGE}), Image()}}) {
        WriteBytes("kinds", TiffBytes(dirs));
        EXPECT_EQ(ReadMessage(path), "");
        EXPECT_EQ(orvanhost::ReadTiff(path).pixels, (std::vector<float>{1, 2}));
    }
    Dir page = Image();
    page.extra = {{255, 3, OFILETYPE_PAGE}};
    WriteBytes("kinds", TiffBytes({page, page}));
    EXPECT_EQ(ReadMessage(path), Refusal(path, "holds 2 pages; only single-page images can be read"));

    Dir mask;
    mask.bits = 1;
    mask.photometric = PHOTOMETRIC_MASK;
    mask.strip = std::string(1, char(0x80));
    mask.extra = {{254, 4, FILETYPE_MASK}};
    WriteBytes("kinds", TiffBytes({Image(), mask}));
    EXPECT_EQ(ReadMessage(path),
              Refusal(path, "directory 2 is a transparency mask; images with a mask cannot be read"));
    std::remove(path.c_str());
}

// Pixels that are not black-is-zero grayscale, masks, tiles and complex
// pixels are refused naming their kind, not read as if they were.
TEST(ReadTiffKinds, OtherPhotometricKindsAndComplexPixelsAreNamed) {
    const std::string path = testing::TempDir() + "photometric.tif";
    TIFF* t = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(t, nullptr);
    std::vector<uint16_t> map(256, 0);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 2);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, 1);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE);
    TIFFSetField(t, TIFFTAG_COLORMAP, map.data(), map.data(), map.data());
    const uint8_t indices[2] = {3, 4};
    TIFFWriteScanline(t, const_cast<uint8_t*>(indices), 0, 0);
    TIFFClose(t);
    EXPECT_EQ(ReadMessage(path),
              Refusal(path, "its pixels are palette colour (photometric 3); only black-is-zero grayscale can be read"));

    Dir white = Image();
    white.photometric = PHOTOMETRIC_MINISWHITE;
    WriteBytes("photometric", TiffBytes({white}));
    EXPECT_EQ(ReadMessage(path), Refusal(path,
                                         "its pixels are white-is-zero grayscale (photometric 0); only "
                                         "black-is-zero grayscale can be read"));

    Dir mask = Image();
    mask.photometric = PHOTOMETRIC_MASK;
    WriteBytes("photometric", TiffBytes({Image(), mask}));
    EXPECT_EQ(ReadMessage(path), Refusal(path, "directory 2 is a transparency mask; images with a mask cannot be read"))
        << "a mask told by its photometric alone";

    t = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(t, nullptr);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 16);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, 16);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(t, TIFFTAG_TILEWIDTH, 16);
    TIFFSetField(t, TIFFTAG_TILELENGTH, 16);
    std::vector<uint8_t> tile(256, 7);
    TIFFWriteTile(t, tile.data(), 0, 0, 0, 0);
    TIFFClose(t);
    EXPECT_EQ(ReadMessage(path), Refusal(path, "tiled images are not supported"));

    Dir complex = Image();
    complex.bits = 64;
    complex.format = SAMPLEFORMAT_COMPLEXIEEEFP;
    complex.strip = std::string(16, '\0');
    WriteBytes("photometric", TiffBytes({complex}));
    EXPECT_EQ(ReadMessage(path), Refusal(path, "unsupported pixel type (complex numbers of 64-bit floats)"));
    std::remove(path.c_str());
}

// Runs which cross a row's end are read by strip, as they were written.
TEST(ReadTiffKinds, PackBitsRunsAcrossRowsReadRight) {
    Dir packed;
    packed.w = 4;
    packed.h = 3;
    packed.compression = COMPRESSION_PACKBITS;
    // Six 9s (rows 0 and 1), the literal 1 2 (row 1's end), four 7s (row 2).
    packed.strip = {char(-5), char(9), char(1), char(1), char(2), char(-3), char(7)};
    const std::string path = WriteBytes("packbits", TiffBytes({packed}));
    EXPECT_EQ(orvanhost::ReadTiff(path).pixels, (std::vector<float>{9, 9, 9, 9, 9, 9, 1, 2, 7, 7, 7, 7}));

    packed.strip.resize(5);
    WriteBytes("packbits", TiffBytes({packed}));
    EXPECT_EQ(ReadMessage(path), Refusal(path, "damaged in the strip of rows 0 to 2"));

    // Strips of two rows, the last one short, of 16-bit samples.
    TIFF* t = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(t, nullptr);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 3);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, 5);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_PACKBITS);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 2);
    std::vector<float> expected;
    for (uint32_t y = 0; y < 5; ++y) {
        const uint16_t row[3] = {uint16_t(1000 * y), uint16_t(1000 * y), uint16_t(65535 - y)};
        for (uint16_t v : row) expected.push_back(v);
        TIFFWriteScanline(t, const_cast<uint16_t*>(row), y, 0);
    }
    TIFFClose(t);
    EXPECT_EQ(orvanhost::ReadTiff(path).pixels, expected);
    std::remove(path.c_str());
}

// Every orientation is read as viewers show it. The stored rows are
// a b c / d e f (1 to 6); then larger images, square (swapped in blocks) and
// not, against the tag's definitions.
TEST(ReadTiffKinds, TheOrientationTagIsApplied) {
    const std::vector<float> shown[8] = {
        {1, 2, 3, 4, 5, 6},  // 1: as stored
        {3, 2, 1, 6, 5, 4},  // 2: mirrored
        {6, 5, 4, 3, 2, 1},  // 3: turned 180 degrees
        {4, 5, 6, 1, 2, 3},  // 4: upside down
        {1, 4, 2, 5, 3, 6},  // 5: transposed
        {4, 1, 5, 2, 6, 3},  // 6: turned 90 degrees clockwise
        {6, 3, 5, 2, 4, 1},  // 7: transposed across the other diagonal
        {3, 6, 2, 5, 1, 4},  // 8: turned 90 degrees anticlockwise
    };
    const std::string path = testing::TempDir() + "orientation.tif";
    Dir stored;
    stored.w = 3;
    stored.h = 2;
    stored.strip = {1, 2, 3, 4, 5, 6};
    for (uint16_t o = 1; o <= 8; ++o) {
        stored.extra = {{274, 3, o}};
        WriteBytes("orientation", TiffBytes({stored}));
        const orvanhost::TiffPixels image = orvanhost::ReadTiff(path);
        EXPECT_EQ(image.width, o < 5 ? 3u : 2u) << o;
        EXPECT_EQ(image.pixels, shown[o - 1]) << o;
    }

    for (uint32_t w : {10u, 13u}) {
        const uint32_t h = w == 10 ? 10 : 7;
        stored.w = w;
        stored.h = h;
        stored.strip.clear();
        for (uint32_t i = 0; i < w * h; ++i) stored.strip.push_back(char(i));
        const auto at = [&](uint32_t c, uint32_t r) { return float(c + r * w); };
        for (uint16_t o = 5; o <= 8; ++o) {
            stored.extra = {{274, 3, o}};
            WriteBytes("orientation", TiffBytes({stored}));
            const orvanhost::TiffPixels image = orvanhost::ReadTiff(path);
            ASSERT_EQ(image.width, h);
            ASSERT_EQ(image.pixels.size(), size_t(w) * h);
            for (uint32_t y = 0; y < w; ++y)
                for (uint32_t x = 0; x < h; ++x) {
                    // Row 0 is shown at the left (5, 8) or right; column 0 at the top (5, 6) or bottom.
                    const uint32_t r = o == 5 || o == 8 ? x : h - 1 - x, c = o == 5 || o == 6 ? y : w - 1 - y;
                    ASSERT_EQ(image.pixels[x + y * h], at(c, r)) << w << " x " << h << ", orientation " << o;
                }
        }
    }
    std::remove(path.c_str());
}

TEST(ReadTiffKinds, AMissingFileIsToldFromOneThatIsNoTiff) {
    const std::string missing = testing::TempDir() + "no-such.tif";
    EXPECT_EQ(ReadMessage(missing), Refusal(missing, "no such file"));
    const std::string text = WriteBytes("text", "just some words\n");
    EXPECT_EQ(ReadMessage(text), Refusal(text, "not a TIFF file"));
    const std::string broken = WriteBytes("broken", TiffBytes({Image()}).substr(0, 12));
    EXPECT_EQ(ReadMessage(broken), Refusal(broken, "a TIFF file whose first directory is damaged"));
    std::remove(text.c_str());
    std::remove(broken.c_str());
}

namespace {

// Runs `read` in a child whose address space may grow by `extra` bytes at
// most: true when it succeeds there.
bool WithinAddressSpace(uint64_t extra, const std::function<bool()>& read) {
    const pid_t child = fork();
    if (child == 0) {
        unsigned long pages = 0;
        FILE* statm = std::fopen("/proc/self/statm", "r");
        if (!statm || std::fscanf(statm, "%lu", &pages) != 1) _exit(3);
        std::fclose(statm);
        const rlimit limit{pages * uint64_t(sysconf(_SC_PAGESIZE)) + extra, RLIM_INFINITY};
        if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(3);
        bool ok = false;
        try {
            ok = read();
        } catch (...) {
        }
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

constexpr uint64_t kMiB = 1024 * 1024;

}  // namespace

// A 210-byte file declaring 20 000 000 x 100 floats (7.9 GB) and deflated
// ones declaring 16384 x 16384 bytes, damaged from their first or second
// row, are refused within 64 MB.
TEST(ReadTiffKinds, ASmallFileDeclaringALargeImageTakesLittleMemory) {
    Dir wide;
    wide.w = 20000000;
    wide.h = 100;
    wide.bits = 32;
    wide.format = SAMPLEFORMAT_IEEEFP;
    std::string bytes = TiffBytes({wide});
    bytes.resize(210, '\0');
    const std::string floats = WriteBytes("wide_floats", bytes);
    EXPECT_TRUE(WithinAddressSpace(64 * kMiB, [&] {
        return ReadMessage(floats) == Refusal(floats,
                                              "it declares 20000000 x 100 pixels of 32 bits, more than the file's "
                                              "210 bytes hold; it is damaged");
    }));

    Dir bomb;
    bomb.w = bomb.h = 16384;
    bomb.compression = COMPRESSION_ADOBE_DEFLATE;
    for (int i = 0; i < 5000; ++i) bomb.strip.push_back(char(i * 37 + 11));
    const std::string deflated = WriteBytes("bomb", TiffBytes({bomb}));
    EXPECT_TRUE(
        WithinAddressSpace(64 * kMiB, [&] { return ReadMessage(deflated) == Refusal(deflated, "damaged at row 0"); }));

    // One good row, then the strip ends: the room for the image (1 GB) is
    // not taken on the strength of a row.
    TIFF* t = TIFFOpen(deflated.c_str(), "w");
    ASSERT_NE(t, nullptr);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 16384);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, 16384);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 16384);
    std::vector<uint8_t> row(16384);
    for (size_t x = 0; x < row.size(); ++x) row[x] = uint8_t(x * x >> 7);
    ASSERT_GE(TIFFWriteScanline(t, row.data(), 0, 0), 0);
    TIFFClose(t);
    EXPECT_TRUE(
        WithinAddressSpace(64 * kMiB, [&] { return ReadMessage(deflated) == Refusal(deflated, "damaged at row 1"); }));
    std::remove(floats.c_str());
    std::remove(deflated.c_str());
}

// An 8192 x 8192 8-bit image opens into a host image within its 256 MB of
// floats and 32 MB more: the pixels are held once.
TEST(ReadTiffKinds, ALargeImageIsHeldOnce) {
    const uint32_t side = 8192;
    const std::string path = testing::TempDir() + "large.tif";
    TIFF* t = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(t, nullptr);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, side);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, side);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 64);
    std::vector<uint8_t> row(side);
    for (uint32_t y = 0; y < side; ++y) {
        for (uint32_t x = 0; x < side; ++x) row[x] = uint8_t(x ^ y);
        ASSERT_GE(TIFFWriteScanline(t, row.data(), y, 0), 0);
    }
    TIFFClose(t);
    EXPECT_TRUE(WithinAddressSpace(256 * kMiB + 32 * kMiB, [&] {
        orvanhost::ImagePtr image;
        orvanhost::ReadTiff(path, [&](uint32_t w, uint32_t h) {
            image = orvanhost::MakeImage("large", orvanhost::DataType::Real4, {w, h});
            return static_cast<float*>(image->Data());
        });
        return image->GetPixel(5, 3) == (5 ^ 3) &&
               image->GetPixel(side - 1, side - 2) == uint8_t((side - 1) ^ (side - 2));
    }));
    std::remove(path.c_str());
}
