// The script runner's TIFF reader on files written here with libtiff, one
// of each pixel type it accepts, holding values whose floats are known.
#include "host/app/tiff_io.h"
#include "tests/file_size_limit.h"
#include "tests/workbook/as_nobody.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace {

// A 2 x 2 grayscale TIFF of the samples v (row 0 first), one strip per row,
// on each of `pages` pages.
template <typename T>
std::string WriteSamples(const std::string& name, uint16_t format, const std::vector<T>& v, int pages = 1) {
    const std::string path = testing::TempDir() + name + ".tif";
    TIFF* t = TIFFOpen(path.c_str(), "w");
    if (!t) return path;
    for (int page = 0; page < pages; ++page) {
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 2);
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, 2);
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, static_cast<int>(8 * sizeof(T)));
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, format);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 1);
        for (uint32_t y = 0; y < 2; ++y) {
            std::vector<T> row(v.begin() + 2 * y, v.begin() + 2 * y + 2);
            TIFFWriteScanline(t, row.data(), y, 0);
        }
        TIFFWriteDirectory(t);
    }
    TIFFClose(t);
    return path;
}

template <typename T>
void ExpectRead(const std::string& name, uint16_t format, const std::vector<T>& v) {
    SCOPED_TRACE(name);
    const std::string path = WriteSamples(name, format, v);
    const dmhost::TiffPixels p = dmhost::ReadTiff(path);
    EXPECT_EQ(p.width, 2u);
    EXPECT_EQ(p.height, 2u);
    std::vector<float> expected;
    for (T s : v) expected.push_back(static_cast<float>(s));
    EXPECT_EQ(p.pixels, expected);
    std::remove(path.c_str());
}

}  // namespace

TEST(ReadTiff, EveryIntegerTypeAndFloatKeepsItsValues) {
    ExpectRead<int8_t>("int8", SAMPLEFORMAT_INT, {-5, -128, 127, 0});
    ExpectRead<uint8_t>("uint8", SAMPLEFORMAT_UINT, {251, 0, 255, 5});
    ExpectRead<int16_t>("int16", SAMPLEFORMAT_INT, {-300, -32768, 32767, 1});
    ExpectRead<uint16_t>("uint16", SAMPLEFORMAT_UINT, {65000, 0, 65535, 300});
    ExpectRead<int32_t>("int32", SAMPLEFORMAT_INT, {-70000, std::numeric_limits<int32_t>::min(), 16777216, 2});
    ExpectRead<uint32_t>("uint32", SAMPLEFORMAT_UINT, {4000000000u, 0, 70000, 3});
    ExpectRead<float>("float", SAMPLEFORMAT_IEEEFP, {-1.5f, 0.25f, 3e30f, -0.0f});
}

TEST(ReadTiff, OtherKindsAreRefusedByName) {
    const std::string path = WriteSamples<double>("double", SAMPLEFORMAT_IEEEFP, {1, 2, 3, 4});
    try {
        dmhost::ReadTiff(path);
        FAIL() << "64-bit samples read";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
    std::remove(path.c_str());
    EXPECT_THROW(dmhost::ReadTiff(testing::TempDir() + "no-such.tif"), std::runtime_error);
}

TEST(ReadTiff, OnlySinglePageImagesAreRead) {
    const std::string path = WriteSamples<uint8_t>("pages", SAMPLEFORMAT_UINT, {1, 2, 3, 4}, 3);
    std::string message;
    try {
        dmhost::ReadTiff(path);
    } catch (const std::runtime_error& e) {
        message = e.what();
    }
    EXPECT_EQ(message, "cannot read image file \"" + path + "\": holds 3 pages; only single-page images can be read");
    std::remove(path.c_str());
}

namespace {

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The message WriteTiff throws, "" when it throws none.
std::string WriteMessage(const std::string& path, uint32_t width, uint32_t height, const std::vector<float>& pixels) {
    try {
        dmhost::WriteTiff(path, width, height, pixels.data());
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "";
}

std::unique_ptr<FileSizeLimit> limit;
void FillTheDisk(const std::string&) { limit = std::make_unique<FileSizeLimit>(16 * 1024); }

std::string movedOver;
void MoveOver(const std::string& target) { std::rename(movedOver.c_str(), target.c_str()); }

}  // namespace

// The file-size limit makes the writes fail part of the way, as a full disk
// would: the old image stays whole and nothing is left beside it. Without
// the limit the image is replaced keeping its mode, and a second link to it
// sees the new image; written in place, it reserves its room first.
TEST(WriteTiff, ReplacesAnImageOnlyWithAWholeOne) {
    namespace fs = std::filesystem;
    char pattern[] = "/tmp/tiff_write_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern, path = dir + "/a.tif";
    const std::vector<float> small{1, 2, 3, 4};
    const std::vector<float> big(200 * 200, 0.5f);
    dmhost::WriteTiff(path, 2, 2, small.data());
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    const std::string before = Contents(path);
    const std::string failed = "cannot write image file \"" + path + "\": write failed";

    FileSizeLimit full(16 * 1024);
    ASSERT_TRUE(full.Active());
    const std::string message = WriteMessage(path, 200, 200, big);
    full.Lift();
    EXPECT_EQ(message, failed);
    EXPECT_TRUE(Contents(path) == before) << "the old image was changed";
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);

    dmhost::WriteTiff(path, 200, 200, big.data());
    EXPECT_EQ(dmhost::ReadTiff(path).pixels, big);
    struct stat info;
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    ASSERT_EQ(link(path.c_str(), (dir + "/b.tif").c_str()), 0);
    dmhost::WriteTiff(path, 2, 2, small.data());
    EXPECT_EQ(dmhost::ReadTiff(dir + "/b.tif").pixels, small);
    EXPECT_EQ(fs::file_size(dir + "/b.tif"), before.size()) << "the larger image's tail was kept";

    if (CanReserveRoom(dir + "/probe")) {
        dmhost::beforeCopyIntoOld = FillTheDisk;
        const std::string in_place = WriteMessage(path, 200, 200, big);
        dmhost::beforeCopyIntoOld = nullptr;
        const bool limited = limit != nullptr && limit->Active();
        limit.reset();
        ASSERT_TRUE(limited);
        EXPECT_EQ(in_place, failed);
        EXPECT_TRUE(Contents(path) == before) << "the old image was changed in place";
    }

    // A file put in the old one's place meanwhile is not written into.
    { std::ofstream(dir + "/c.tif") << "another file"; }
    const std::string linked = Contents(dir + "/b.tif");
    movedOver = dir + "/c.tif";
    dmhost::beforeCopyIntoOld = MoveOver;
    const std::string moved = WriteMessage(path, 200, 200, big);
    dmhost::beforeCopyIntoOld = nullptr;
    EXPECT_EQ(moved, "cannot write image file \"" + path + "\": cannot open the file for writing");
    EXPECT_EQ(Contents(path), "another file");
    EXPECT_TRUE(Contents(dir + "/b.tif") == linked);

    // A FIFO, and a link that names no file, are refused, not replaced.
    ASSERT_EQ(mkfifo((dir + "/p.tif").c_str(), 0644), 0);
    EXPECT_THROW(dmhost::WriteTiff(dir + "/p.tif", 2, 2, small.data()), std::runtime_error);
    EXPECT_TRUE(fs::is_fifo(dir + "/p.tif"));
    fs::create_symlink("none/n.tif", dir + "/n.tif");
    EXPECT_EQ(WriteMessage(dir + "/n.tif", 2, 2, small),
              "cannot write image file \"" + dir +
                  "/n.tif\": it is a symbolic link that names no file; it was left "
                  "unchanged");
    EXPECT_TRUE(fs::is_symlink(dir + "/n.tif"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 4);
    fs::remove_all(dir);
}

// Root keeps another user's owner and group on the image it replaces;
// another user may not replace root's image, even in a folder everyone may
// write.
TEST(WriteTiff, OwnersAndPermissionsAreKept) {
    if (geteuid() != 0) GTEST_SKIP() << "running as another user needs root";
    char pattern[] = "/tmp/tiff_write_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern, path = dir + "/a.tif";
    const std::vector<float> image(200 * 200, 0.5f);
    dmhost::WriteTiff(path, 2, 2, image.data());
    ASSERT_EQ(chmod(path.c_str(), 0644), 0);
    ASSERT_EQ(chmod(dir.c_str(), 0777), 0);
    const std::string before = Contents(path);
    EXPECT_EQ(AsNobody([&] { return WriteMessage(path, 200, 200, image); }),
              "cannot write image file \"" + path + "\": permission denied");
    EXPECT_TRUE(Contents(path) == before) << "the image was changed";

    ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
    dmhost::WriteTiff(path, 200, 200, image.data());
    struct stat info;
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 65534u);
    EXPECT_EQ(info.st_gid, 65534u);
    std::filesystem::remove_all(dir);
}
