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

Dir Image() {
    Dir d;
    d.strip = {char(1), char(2)};
    return d;
}

}  // namespace

// A thumbnail first and the image's directory unreadable: the file is
// damaged; the thumbnail is not the image.
TEST(ReadTiffKinds, ADirectoryThatCannotBeReadIsDamage) {
    const Dir thumbnail = Thumbnail({254, 4, FILETYPE_REDUCEDIMAGE});
    const std::string whole = TiffBytes({thumbnail, Image()});
    const std::string path = WriteBytes("chain", whole);
    EXPECT_EQ(orvanhost::ReadTiff(path).pixels, (std::vector<float>{1, 2}));

    const std::string damaged = Refusal(path, "directory 2 is damaged or cut short");
    WriteBytes("chain", TiffBytes({thumbnail}, 1u << 20));
    EXPECT_EQ(ReadMessage(path), damaged) << "the next directory past the end";
    const size_t second = whole.find(std::string("\x0a\x00\x00\x01", 4), 8);
    ASSERT_NE(second, std::string::npos);
    std::string counted = whole;
    counted[second] = char(0xff), counted[second + 1] = char(0x7f);
    WriteBytes("chain", counted);
    EXPECT_EQ(ReadMessage(path), damaged) << "a damaged entry count";
    WriteBytes("chain", whole.substr(0, second + 30));
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

// Pixels that are not black-is-zero grayscale, and complex ones, are refused
// naming their kind, not read as if they were.
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

// A 210-byte file declaring 20 000 000 x 100 floats (7.9 GB) and a 5 KB
// deflated one declaring 16384 x 16384 bytes, damaged from its first row,
// are refused within 64 MB.
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
