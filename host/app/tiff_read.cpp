#include "host/app/tiff_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "host/app/tiff_handle.h"

namespace orvanhost {
namespace {

// The largest detector frames are 16k x 16k.
constexpr uint64_t kMostCompressedPixels = 16384ull * 16384;
// zstd, the most compact of libtiff's codecs, packs a blank frame about
// 32000:1; deflate and LZW stay below 1500:1.
constexpr uint64_t kMostCompressionRatio = 65536;

std::runtime_error Fail(const std::string& path, const std::string& why) {
    return std::runtime_error("cannot read image file \"" + path + "\": " + why);
}

std::string Cause(int error) {
    std::string text = std::strerror(error);
    if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

template <typename T>
void Convert(const unsigned char* row, uint32_t n, float* out) {
    for (uint32_t i = 0; i < n; ++i) {
        T v;
        std::memcpy(&v, row + i * sizeof(T), sizeof(T));
        out[i] = static_cast<float>(v);
    }
}

// Opens the file itself, so that a folder or a FIFO is refused before
// libtiff waits on it, and its size is known.
TiffHandle Open(const std::string& path, uint64_t& size) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR) throw Fail(path, "not found or not a TIFF file");
        throw Fail(path, Cause(error));
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        throw Fail(path, "not a regular file");
    }
    size = static_cast<uint64_t>(info.st_size);
    // Mapped, a page that cannot be read (a hole on a full tmpfs, an I/O
    // error) would end the program with SIGBUS instead of a read error.
    TIFF* tif = TIFFFdOpen(fd, path.c_str(), "rm");
    if (!tif) {
        close(fd);
        throw Fail(path, "not a TIFF file, or its first directory is damaged");
    }
    return TiffHandle(tif);
}

// Makes the one full-resolution image current: the other directories may
// only be reduced-resolution images (thumbnails, previews). When every
// directory is marked reduced, each counts as a page.
void SelectFullResolution(TIFF* tif, const std::string& path) {
    tdir_t directories = 0, full = 0, first = 0;
    for (;;) {
        uint32_t kind = 0;
        TIFFGetField(tif, TIFFTAG_SUBFILETYPE, &kind);
        if (!(kind & FILETYPE_REDUCEDIMAGE) && full++ == 0) first = directories;
        ++directories;
        // A directory that cannot be read ends the file, as libtiff's own
        // count of directories has it.
        if (TIFFLastDirectory(tif) || !TIFFReadDirectory(tif)) break;
    }
    const tdir_t pages = full > 0 ? full : directories;
    // Reading the first page alone would pass the others over without a word.
    if (pages > 1) throw Fail(path, "holds " + std::to_string(pages) + " pages; only single-page images can be read");
    if (directories > 1 && !TIFFSetDirectory(tif, first))
        throw Fail(path, "directory " + std::to_string(first + 1) + " is damaged");
}

// Refuses, before anything is allocated for them, pixels that the file's
// bytes cannot hold: uncompressed, every byte is in the file; compressed,
// no real frame is larger than the bounds above.
void CheckSizeAgainstFile(TIFF* tif, const std::string& path, uint32_t w, uint32_t h, uint16_t bits, uint64_t line,
                          uint64_t file_size) {
    const std::string declared =
        std::to_string(w) + " x " + std::to_string(h) + " pixels of " + std::to_string(bits) + " bits";
    uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    if (compression == COMPRESSION_NONE) {
        if (h > file_size / line)
            throw Fail(path, "it declares " + declared + ", more than the file's " + std::to_string(file_size) +
                                 " bytes hold; it is damaged");
        return;
    }
    if (!TIFFIsCODECConfigured(compression))
        throw Fail(path, "compressed in a way that cannot be read (compression " + std::to_string(compression) + ")");
    if (static_cast<uint64_t>(w) * h > kMostCompressedPixels)
        throw Fail(path, "it declares " + declared + "; a compressed image may hold at most " +
                             std::to_string(kMostCompressedPixels) + " pixels (16384 x 16384)");
    const uint64_t most =
        file_size > UINT64_MAX / kMostCompressionRatio ? UINT64_MAX : file_size * kMostCompressionRatio;
    if (h > most / line)
        throw Fail(path, "it declares " + declared + ", more than any compression fits in the file's " +
                             std::to_string(file_size) + " bytes; it is damaged");
}

}  // namespace

TiffPixels ReadTiff(const std::string& path) {
    static QuietLibtiff quiet;
    uint64_t file_size = 0;
    TiffHandle tif = Open(path, file_size);
    SelectFullResolution(tif.get(), path);

    uint32_t w = 0, h = 0;
    uint16_t bits = 0, spp = 1, format = SAMPLEFORMAT_UINT;
    if (!TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &w) || !TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &h))
        throw Fail(path, "no image size");
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLEFORMAT, &format);
    if (spp != 1) throw Fail(path, "not a grayscale image");
    if (TIFFIsTiled(tif.get())) throw Fail(path, "tiled images are not supported");
    bool ok = (format == SAMPLEFORMAT_IEEEFP && bits == 32) ||
              ((format == SAMPLEFORMAT_UINT || format == SAMPLEFORMAT_INT) && (bits == 8 || bits == 16 || bits == 32));
    if (!ok) throw Fail(path, "unsupported pixel type (" + std::to_string(bits) + " bits)");
    if (w == 0 || h == 0) throw Fail(path, "empty image");

    tmsize_t line = TIFFScanlineSize(tif.get());
    if (line < static_cast<tmsize_t>(static_cast<uint64_t>(w) * bits / 8))
        throw Fail(path, "scanline shorter than its width");
    CheckSizeAgainstFile(tif.get(), path, w, h, bits, static_cast<uint64_t>(line), file_size);

    TiffPixels out;
    out.width = w;
    out.height = h;
    out.pixels.resize(static_cast<size_t>(w) * h);
    std::vector<unsigned char> buf(static_cast<size_t>(line));
    for (uint32_t y = 0; y < h; ++y) {
        if (TIFFReadScanline(tif.get(), buf.data(), y, 0) < 0) throw Fail(path, "damaged at row " + std::to_string(y));
        float* dst = out.pixels.data() + static_cast<size_t>(y) * w;
        bool sign = format == SAMPLEFORMAT_INT;
        if (format == SAMPLEFORMAT_IEEEFP)
            Convert<float>(buf.data(), w, dst);
        else if (bits == 8)
            sign ? Convert<int8_t>(buf.data(), w, dst) : Convert<uint8_t>(buf.data(), w, dst);
        else if (bits == 16)
            sign ? Convert<int16_t>(buf.data(), w, dst) : Convert<uint16_t>(buf.data(), w, dst);
        else
            sign ? Convert<int32_t>(buf.data(), w, dst) : Convert<uint32_t>(buf.data(), w, dst);
    }
    return out;
}

}  // namespace orvanhost
