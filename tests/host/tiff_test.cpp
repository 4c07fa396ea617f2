// The script runner's TIFF reader on files written here with libtiff, one
// of each pixel type it accepts, holding values whose floats are known.
#include "file_replace/seams.h"
#include "host/app/tiff_io.h"
#include "tests/file_size_limit.h"
#include "tests/workbook/as_nobody.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <string>
#include <thread>
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

// A slow disk: small writes with pauses, so that two copies at once would
// overlap.
ssize_t SlowDisk(int fd, const void* data, size_t size) {
    std::this_thread::sleep_for(std::chrono::microseconds(50));
    return write(fd, data, std::min<size_t>(size, 4096));
}

ssize_t FullDisk(int, const void*, size_t) {
    errno = ENOSPC;
    return -1;
}

std::string NewFolder() {
    char pattern[] = "/tmp/tiff_write_XXXXXX";
    return mkdtemp(pattern) != nullptr ? pattern : "";
}

}  // namespace

// The file-size limit makes the writes fail part of the way, as a full disk
// would: the old image stays whole, nothing is left beside it, and the
// message names the cause. Without the limit the image is replaced keeping
// its mode, and a second link to it sees the new image.
TEST(WriteTiff, ReplacesAnImageOnlyWithAWholeOne) {
    namespace fs = std::filesystem;
    const std::string dir = NewFolder(), path = dir + "/a.tif";
    ASSERT_FALSE(dir.empty());
    const std::vector<float> small{1, 2, 3, 4};
    const std::vector<float> big(200 * 200, 0.5f);
    dmhost::WriteTiff(path, 2, 2, small.data());
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    const std::string before = Contents(path);

    FileSizeLimit full(16 * 1024);
    ASSERT_TRUE(full.Active());
    const std::string message = WriteMessage(path, 200, 200, big);
    full.Lift();
    EXPECT_EQ(message, "cannot write image file \"" + path + "\": file too large");
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
    fs::remove_all(dir);
}

// What each refusal and failure of SaveImage says.
TEST(WriteTiff, EveryFailureSaysWhy) {
    namespace fs = std::filesystem;
    const std::string dir = NewFolder(), path = dir + "/a.tif";
    ASSERT_FALSE(dir.empty());
    const std::vector<float> small{1, 2, 3, 4};
    const std::vector<float> big(200 * 200, 0.5f);
    const std::string named = "cannot write image file \"" + path + "\": ";
    dmhost::WriteTiff(path, 2, 2, small.data());
    ASSERT_EQ(link(path.c_str(), (dir + "/b.tif").c_str()), 0);
    const std::string before = Contents(path);

    // Written in place: the room is made sure of first.
    if (CanReserveRoom(dir + "/probe")) {
        FileReplace::seams.beforeInPlaceOpen = FillTheDisk;
        const std::string in_place = WriteMessage(path, 200, 200, big);
        FileReplace::seams.beforeInPlaceOpen = nullptr;
        const bool limited = limit != nullptr && limit->Active();
        limit.reset();
        ASSERT_TRUE(limited);
        EXPECT_EQ(in_place, named + "file too large");
        EXPECT_TRUE(Contents(path) == before) << "the old image was changed in place";
    }
    FileReplace::seams.copyWrite = FullDisk;
    const std::string damaged = WriteMessage(path, 200, 200, big);
    FileReplace::seams.copyWrite = nullptr;
    const std::string prefix =
        named + "write failed part of the way (no space left on device); the whole image is in \"";
    ASSERT_EQ(damaged.compare(0, prefix.size(), prefix), 0) << damaged;
    const std::string kept = damaged.substr(prefix.size(), damaged.size() - prefix.size() - 1);
    EXPECT_EQ(dmhost::ReadTiff(kept).pixels, big);
    fs::remove(kept);

    // A file put in the old one's place meanwhile is not written into.
    { std::ofstream(dir + "/c.tif") << "another file"; }
    const std::string linked = Contents(dir + "/b.tif");
    movedOver = dir + "/c.tif";
    FileReplace::seams.beforeInPlaceOpen = MoveOver;
    const std::string moved = WriteMessage(path, 200, 200, big);
    FileReplace::seams.beforeInPlaceOpen = nullptr;
    EXPECT_EQ(moved, named + "cannot open the file for writing");
    EXPECT_EQ(Contents(path), "another file");
    EXPECT_TRUE(Contents(dir + "/b.tif") == linked);

    // A FIFO, a link that names no file and a loop of links are refused,
    // not replaced.
    ASSERT_EQ(mkfifo((dir + "/p.tif").c_str(), 0644), 0);
    EXPECT_EQ(WriteMessage(dir + "/p.tif", 2, 2, small),
              "cannot write image file \"" + dir + "/p.tif\": it is not a regular file");
    EXPECT_TRUE(fs::is_fifo(dir + "/p.tif"));
    fs::create_symlink("none/n.tif", dir + "/n.tif");
    EXPECT_EQ(WriteMessage(dir + "/n.tif", 2, 2, small),
              "cannot write image file \"" + dir +
                  "/n.tif\": it is a symbolic link that names no file; it was left unchanged");
    EXPECT_TRUE(fs::is_symlink(dir + "/n.tif"));
    fs::create_symlink("l.tif", dir + "/l.tif");
    EXPECT_EQ(WriteMessage(dir + "/l.tif", 2, 2, small),
              "cannot write image file \"" + dir + "/l.tif\": too many levels of symbolic links");
    EXPECT_EQ(WriteMessage(dir + "/none/a.tif", 2, 2, small),
              "cannot write image file \"" + dir + "/none/a.tif\": cannot create the file");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 5);
    fs::remove_all(dir);
}

// Another user may not replace root's image, even in a folder everyone may
// write.
TEST(WriteTiff, AnImageThisUserMayNotWriteIsRefused) {
    if (geteuid() != 0) GTEST_SKIP() << "running as another user needs root";
    const std::string dir = NewFolder(), path = dir + "/a.tif";
    ASSERT_FALSE(dir.empty());
    const std::vector<float> image(200 * 200, 0.5f);
    dmhost::WriteTiff(path, 2, 2, image.data());
    ASSERT_EQ(chmod(path.c_str(), 0644), 0);
    ASSERT_EQ(chmod(dir.c_str(), 0777), 0);
    const std::string before = Contents(path);
    EXPECT_EQ(AsNobody([&] { return WriteMessage(path, 200, 200, image); }),
              "cannot write image file \"" + path + "\": permission denied");
    EXPECT_TRUE(Contents(path) == before) << "the image was changed";
    std::filesystem::remove_all(dir);
}

// Two saves at once into a file with two links are copied into it in
// place: they take turns, so the image is one or the other, never a mix.
TEST(WriteTiff, SavesOfOneImageTakeTurns) {
    const std::string dir = NewFolder(), path = dir + "/a.tif";
    ASSERT_FALSE(dir.empty());
    const uint32_t side = 512;
    const std::vector<float> ones(side * side, 1.0f), twos(side * side, 2.0f);
    dmhost::WriteTiff(path, side, side, ones.data());
    ASSERT_EQ(link(path.c_str(), (dir + "/b.tif").c_str()), 0);
    FileReplace::seams.copyWrite = SlowDisk;
    int mixed = 0;
    for (int round = 0; round < 20; ++round) {
        std::string said[2];
        std::thread first([&] { said[0] = WriteMessage(path, side, side, ones); });
        std::thread second([&] { said[1] = WriteMessage(path, side, side, twos); });
        first.join();
        second.join();
        ASSERT_EQ(said[0] + said[1], "");
        const std::vector<float> back = dmhost::ReadTiff(dir + "/b.tif").pixels;
        if (back != ones && back != twos) ++mixed;
    }
    FileReplace::seams.copyWrite = nullptr;
    EXPECT_EQ(mixed, 0) << "rounds that left a mixed image";
    std::filesystem::remove_all(dir);
}
