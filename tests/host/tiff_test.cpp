// The script runner's TIFF reader on files written here with libtiff, one
// of each pixel type it accepts, holding values whose floats are known.
#include "file_replace/seams.h"
#include "host/app/tiff_io.h"
#include "tests/host/read_message.h"
#include "tests/file_size_limit.h"
#include "tests/workbook/as_nobody.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
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
    const orvanhost::TiffPixels p = orvanhost::ReadTiff(path);
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
        orvanhost::ReadTiff(path);
        FAIL() << "64-bit samples read";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
    std::remove(path.c_str());
    EXPECT_THROW(orvanhost::ReadTiff(testing::TempDir() + "no-such.tif"), std::runtime_error);
}

namespace {

// An 8-bit TIFF of one directory per entry of `reduced` (true: a reduced-
// resolution image); directory i is (i + 1) x 2 pixels of the value i + 1.
std::string WriteDirectories(const std::string& name, const std::vector<bool>& reduced) {
    const std::string path = testing::TempDir() + name + ".tif";
    TIFF* t = TIFFOpen(path.c_str(), "w");
    if (!t) return path;
    for (size_t i = 0; i < reduced.size(); ++i) {
        const uint32_t w = static_cast<uint32_t>(i + 1);
        TIFFSetField(t, TIFFTAG_SUBFILETYPE, reduced[i] ? FILETYPE_REDUCEDIMAGE : 0);
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, 2);
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 2);
        std::vector<uint8_t> row(w, static_cast<uint8_t>(i + 1));
        for (uint32_t y = 0; y < 2; ++y) TIFFWriteScanline(t, row.data(), y, 0);
        TIFFWriteDirectory(t);
    }
    TIFFClose(t);
    return path;
}

}  // namespace

// Acquisition programs put thumbnails and previews beside the image: those
// are passed over, before or after it; only several full-resolution images
// are refused, counted without the thumbnails.
TEST(ReadTiff, OnlySinglePageImagesAreRead) {
    const auto pages = [](const std::string& path, int n) {
        return "cannot read image file \"" + path + "\": holds " + std::to_string(n) +
               " pages; only single-page images can be read";
    };
    const std::string two = WriteDirectories("pages2", {false, false});
    EXPECT_EQ(ReadMessage(two), pages(two, 2));
    const std::string three = WriteDirectories("pages3", {false, true, false});
    EXPECT_EQ(ReadMessage(three), pages(three, 2));
    const std::string unmarked = WriteSamples<uint8_t>("pages", SAMPLEFORMAT_UINT, {1, 2, 3, 4}, 3);
    EXPECT_EQ(ReadMessage(unmarked), pages(unmarked, 3));

    const std::string after = WriteDirectories("thumbnail_after", {false, true});
    const orvanhost::TiffPixels first = orvanhost::ReadTiff(after);
    EXPECT_EQ(first.width, 1u);
    EXPECT_EQ(first.pixels, std::vector<float>(2, 1.0f));
    const std::string before = WriteDirectories("thumbnail_before", {true, true, false});
    const orvanhost::TiffPixels last = orvanhost::ReadTiff(before);
    EXPECT_EQ(last.width, 3u);
    EXPECT_EQ(last.pixels, std::vector<float>(6, 3.0f));
    for (const std::string& path : {two, three, unmarked, after, before}) std::remove(path.c_str());
}

namespace {

void Put16(std::string& b, uint16_t v) { b.append({char(v & 0xff), char(v >> 8)}); }
void Put32(std::string& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(char((v >> (8 * i)) & 0xff));
}

// A little-endian TIFF of one strip that declares `w` x `h` samples of `bits`
// bits, its strip the `data` after the directory, the file padded with
// zeros to `size` bytes.
std::string TinyTiff(uint32_t w, uint32_t h, uint16_t bits, uint16_t format, uint16_t compression,
                     const std::string& data, size_t size) {
    struct Entry {
        uint16_t tag, type;
        uint32_t value;
    };
    const uint32_t strip = 8 + 2 + 10 * 12 + 4;
    const uint32_t bytes =
        compression == 1 ? uint32_t(std::min<uint64_t>(uint64_t(w) * h * bits / 8, UINT32_MAX)) : uint32_t(data.size());
    const Entry entries[] = {{256, 4, w},     {257, 4, h}, {258, 3, bits}, {259, 3, compression}, {262, 3, 1},
                             {273, 4, strip}, {277, 3, 1}, {278, 4, h},    {279, 4, bytes},       {339, 3, format}};
    std::string b = "II";
    Put16(b, 42);
    Put32(b, 8);
    Put16(b, 10);
    for (const Entry& e : entries) {
        Put16(b, e.tag);
        Put16(b, e.type);
        Put32(b, 1);
        e.type == 3 ? (Put16(b, uint16_t(e.value)), Put16(b, 0)) : Put32(b, e.value);
    }
    Put32(b, 0);
    b += data;
    b.resize(std::max(b.size(), size), '\0');
    return b;
}

std::string WriteBytes(const std::string& name, const std::string& bytes) {
    const std::string path = testing::TempDir() + name + ".tif";
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

}  // namespace

// Pixels the file cannot hold are refused at once, before room is taken for
// them (60000 x 60000 floats took 14 GB): uncompressed beyond the file's
// size, compressed beyond 16384 x 16384 pixels or 65536:1 (PackBits 64:1).
TEST(ReadTiff, SizesTheFileCannotHoldAreRefusedAtOnce) {
    // The 4 x 4 bytes 0 to 15 fill the file's 150 bytes exactly.
    std::string counting;
    std::vector<float> expected;
    for (int i = 0; i < 16; ++i) counting.push_back(char(i)), expected.push_back(float(i));
    const std::string path = WriteBytes("tiny", TinyTiff(4, 4, 8, 1, 1, counting, 150));
    EXPECT_EQ(orvanhost::ReadTiff(path).pixels, expected);
    std::remove(path.c_str());

    const auto refused = [](const std::string& name, const std::string& bytes, const std::string& why) {
        const std::string path = WriteBytes(name, bytes);
        const std::string message = ReadMessage(path);
        std::remove(path.c_str());
        EXPECT_EQ(message, "cannot read image file \"" + path + "\": " + why);
        return message.find(why) != std::string::npos;
    };
    // The smaller sizes first: were a check gone, they would cost little.
    ASSERT_TRUE(
        refused("floats", TinyTiff(1000, 1000, 32, 3, 1, "", 150),
                "it declares 1000 x 1000 pixels of 32 bits, more than the file's 150 bytes hold; it is damaged"));
    ASSERT_TRUE(refused("deflated", TinyTiff(2000, 2000, 32, 3, 8, "x", 150),
                        "it declares 2000 x 2000 pixels of 32 bits, more than any compression fits in the file's 150 "
                        "bytes; it is damaged"));
    ASSERT_TRUE(refused("packbits_bound", TinyTiff(4000, 4000, 8, 1, 32773, "x", 322),
                        "it declares 4000 x 4000 pixels of 8 bits, more than any compression fits in the file's 322 "
                        "bytes; it is damaged"));
    ASSERT_TRUE(refused("wide", TinyTiff(16385, 16384, 8, 1, 8, "x", 5000),
                        "it declares 16385 x 16384 pixels of 8 bits; a compressed image may hold at most 268435456 "
                        "pixels (16384 x 16384)"));
    refused("huge", TinyTiff(60000, 60000, 32, 3, 1, "", 150),
            "it declares 60000 x 60000 pixels of 32 bits, more than the file's 150 bytes hold; it is damaged");
    refused("unknown_codec", TinyTiff(4, 4, 8, 1, 9999, "x", 150),
            "compressed in a way that cannot be read (compression 9999)");
}

// Mapped, a hole in a file on a full tmpfs ended the program with SIGBUS;
// read, it is the zeros it holds.
TEST(ReadTiff, ASparseFileOnAFullTmpfsIsReadWithoutASignal) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a tmpfs needs root";
    char pattern[] = "/tmp/tiff_sparse_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern, path = dir + "/sparse.tif";
    if (mount("tmpfs", pattern, "tmpfs", 0, "size=256k") != 0) {
        const int error = errno;
        rmdir(pattern);
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(error);
    }
    struct Unmount {
        std::string dir;
        ~Unmount() {
            umount(dir.c_str());
            rmdir(dir.c_str());
        }
    } unmount{dir};
    // 256 x 256 floats after the directory, all in a hole; then the rest of
    // the tmpfs is filled.
    const std::string header = TinyTiff(256, 256, 32, 3, 1, "", 0);
    std::ofstream(path, std::ios::binary) << header;
    ASSERT_EQ(truncate(path.c_str(), header.size() + 256 * 256 * 4), 0);
    {
        std::ofstream fill(dir + "/fill", std::ios::binary);
        const std::string block(4096, 'x');
        while (fill.write(block.data(), block.size())) fill.flush();
    }
    const pid_t child = fork();
    if (child == 0) {
        bool zeros = false;
        try {
            const std::vector<float> pixels = orvanhost::ReadTiff(path).pixels;
            zeros = pixels == std::vector<float>(256 * 256, 0.0f);
        } catch (const std::exception&) {
        }
        _exit(zeros ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << (WIFSIGNALED(status) ? "ended by signal " + std::to_string(WTERMSIG(status)) : "not read as zeros");
}

namespace {

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The message WriteTiff throws, "" when it throws none.
std::string WriteMessage(const std::string& path, uint32_t width, uint32_t height, const std::vector<float>& pixels) {
    try {
        orvanhost::WriteTiff(path, width, height, pixels.data());
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
    orvanhost::WriteTiff(path, 2, 2, small.data());
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    const std::string before = Contents(path);

    FileSizeLimit full(16 * 1024);
    ASSERT_TRUE(full.Active());
    const std::string message = WriteMessage(path, 200, 200, big);
    full.Lift();
    EXPECT_EQ(message, "cannot write image file \"" + path + "\": file too large");
    EXPECT_TRUE(Contents(path) == before) << "the old image was changed";
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);

    orvanhost::WriteTiff(path, 200, 200, big.data());
    EXPECT_EQ(orvanhost::ReadTiff(path).pixels, big);
    struct stat info;
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    ASSERT_EQ(link(path.c_str(), (dir + "/b.tif").c_str()), 0);
    orvanhost::WriteTiff(path, 2, 2, small.data());
    EXPECT_EQ(orvanhost::ReadTiff(dir + "/b.tif").pixels, small);
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
    orvanhost::WriteTiff(path, 2, 2, small.data());
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
    EXPECT_EQ(orvanhost::ReadTiff(kept).pixels, big);
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
              "cannot write image file \"" + dir + "/none/a.tif\": no such file or directory");
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
    orvanhost::WriteTiff(path, 2, 2, image.data());
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
    orvanhost::WriteTiff(path, side, side, ones.data());
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
        const std::vector<float> back = orvanhost::ReadTiff(dir + "/b.tif").pixels;
        if (back != ones && back != twos) ++mixed;
    }
    FileReplace::seams.copyWrite = nullptr;
    EXPECT_EQ(mixed, 0) << "rounds that left a mixed image";
    std::filesystem::remove_all(dir);
}
