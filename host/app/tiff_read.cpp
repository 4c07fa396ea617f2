#include <fcntl.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "host/app/tiff_directory.h"
#include "host/app/tiff_handle.h"
#include "host/app/tiff_io.h"
#include "host/app/tiff_orientation.h"

namespace orvanhost {
namespace {

// The largest detector frames are 16k x 16k.
constexpr uint64_t kMostCompressedPixels = 16384ull * 16384;
// zstd, the most compact of libtiff's codecs, packs a blank frame about
// 32000:1; deflate and LZW stay below 1500:1.
constexpr uint64_t kMostCompressionRatio = 65536;
// A PackBits run of two bytes stands for at most 128.
constexpr uint64_t kMostPackBitsRatio = 64;

std::string Cause(int error) {
    std::string text = std::strerror(error);
    if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

// What a file libtiff cannot open is: a TIFF's first bytes are II*\0 or
// MM\0* (or 43 for BigTIFF).
std::string NotOpened(int fd) {
    unsigned char head[4] = {0, 0, 0, 0};
    const bool read = pread(fd, head, 4, 0) == 4;
    const bool little = head[0] == 'I' && head[1] == 'I' && head[3] == 0 && (head[2] == 42 || head[2] == 43);
    const bool big = head[0] == 'M' && head[1] == 'M' && head[2] == 0 && (head[3] == 42 || head[3] == 43);
    if (!read || !(little || big)) return "not a TIFF file";
    return "a TIFF file whose first directory is damaged";
}

// Opens the file itself, so that a folder or a FIFO is refused before
// libtiff waits on it, and its size is known.
TiffHandle Open(const std::string& path, uint64_t& size) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT) throw TiffReadFailure(path, "no such file");
        throw TiffReadFailure(path, Cause(error));
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        throw TiffReadFailure(path, "not a regular file");
    }
    size = static_cast<uint64_t>(info.st_size);
    // Mapped, a page that cannot be read (a hole on a full tmpfs, an I/O
    // error) would end the program with SIGBUS instead of a read error.
    TIFF* tif = TIFFFdOpen(fd, path.c_str(), "rm");
    if (!tif) {
        const std::string why = NotOpened(fd);
        close(fd);
        throw TiffReadFailure(path, why);
    }
    return TiffHandle(tif);
}

struct Layout {
    uint32_t width = 0, height = 0;
    uint16_t bits = 0, format = SAMPLEFORMAT_UINT, compression = COMPRESSION_NONE;
    uint16_t orientation = ORIENTATION_TOPLEFT;
    uint64_t line = 0;  // bytes per row
};

// Refuses, before anything is allocated for them, pixels that the file's
// bytes cannot hold: uncompressed, every byte is in the file; compressed,
// no real frame is larger than the bounds above.
void CheckSizeAgainstFile(const std::string& path, const Layout& l, uint64_t file_size) {
    const std::string declared =
        std::to_string(l.width) + " x " + std::to_string(l.height) + " pixels of " + std::to_string(l.bits) + " bits";
    if (l.compression == COMPRESSION_NONE) {
        if (l.height > file_size / l.line)
            throw TiffReadFailure(path, "it declares " + declared + ", more than the file's " +
                                            std::to_string(file_size) + " bytes hold; it is damaged");
        return;
    }
    if (!TIFFIsCODECConfigured(l.compression))
        throw TiffReadFailure(
            path, "compressed in a way that cannot be read (compression " + std::to_string(l.compression) + ")");
    if (static_cast<uint64_t>(l.width) * l.height > kMostCompressedPixels)
        throw TiffReadFailure(path, "it declares " + declared + "; a compressed image may hold at most " +
                                        std::to_string(kMostCompressedPixels) + " pixels (16384 x 16384)");
    const uint64_t ratio = l.compression == COMPRESSION_PACKBITS ? kMostPackBitsRatio : kMostCompressionRatio;
    const uint64_t most = file_size > UINT64_MAX / ratio ? UINT64_MAX : file_size * ratio;
    if (l.height > most / l.line)
        throw TiffReadFailure(path, "it declares " + declared + ", more than any compression fits in the file's " +
                                        std::to_string(file_size) + " bytes; it is damaged");
}

template <typename T>
void Convert(const unsigned char* raw, size_t n, float* out) {
    for (size_t i = 0; i < n; ++i) {
        T v;
        std::memcpy(&v, raw + i * sizeof(T), sizeof(T));
        out[i] = static_cast<float>(v);
    }
}

// Turns n samples into floats, front to back. The samples may lie at the
// end of the floats' own room: each float then covers only samples already
// converted.
void ToFloats(const Layout& l, const unsigned char* raw, size_t n, float* out) {
    const bool sign = l.format == SAMPLEFORMAT_INT;
    if (l.format == SAMPLEFORMAT_IEEEFP)
        std::memmove(out, raw, n * sizeof(float));
    else if (l.bits == 8)
        sign ? Convert<int8_t>(raw, n, out) : Convert<uint8_t>(raw, n, out);
    else if (l.bits == 16)
        sign ? Convert<int16_t>(raw, n, out) : Convert<uint16_t>(raw, n, out);
    else
        sign ? Convert<int32_t>(raw, n, out) : Convert<uint32_t>(raw, n, out);
}

// Row by row, into the room when there is one; without, every row is only
// decoded, to find that all of them do.
void ReadByRow(TIFF* tif, const std::string& path, const Layout& l, float* out) {
    std::vector<unsigned char> row(l.line);
    for (uint32_t y = 0; y < l.height; ++y) {
        if (TIFFReadScanline(tif, row.data(), y, 0) < 0)
            throw TiffReadFailure(path, "damaged at row " + std::to_string(y));
        if (out) ToFloats(l, row.data(), l.width, out + static_cast<size_t>(y) * l.width);
    }
}

// PackBits runs may cross a row's end, and libtiff, decoding one row at a
// time, drops what crosses: such data is decoded a strip at a time, each
// strip into the end of its own rows' room and turned into floats there.
// Without a room, each strip is decoded into a strip of its own, which the
// bound on PackBits keeps within 64 times the file's size.
void ReadByStrip(TIFF* tif, const std::string& path, const Layout& l, float* out) {
    uint32_t per_strip = l.height;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &per_strip);
    if (per_strip == 0 || per_strip > l.height) per_strip = l.height;
    std::vector<unsigned char> strip(out ? 0 : per_strip * l.line);
    for (uint32_t y = 0; y < l.height; y += per_strip) {
        const uint32_t rows = std::min(per_strip, l.height - y);
        const size_t n = static_cast<size_t>(rows) * l.width;
        const tmsize_t bytes = static_cast<tmsize_t>(rows * l.line);
        unsigned char* const room_start =
            out ? reinterpret_cast<unsigned char*>(out + static_cast<size_t>(y) * l.width) : strip.data();
        unsigned char* const raw = out ? room_start + n * sizeof(float) - static_cast<size_t>(bytes) : strip.data();
        if (TIFFReadEncodedStrip(tif, TIFFComputeStrip(tif, y, 0), raw, bytes) != bytes)
            throw TiffReadFailure(
                path, "damaged in the strip of rows " + std::to_string(y) + " to " + std::to_string(y + rows - 1));
        if (out) ToFloats(l, raw, n, reinterpret_cast<float*>(room_start));
    }
}

void Read(TIFF* tif, const std::string& path, const Layout& l, float* out) {
    if (l.compression == COMPRESSION_PACKBITS)
        ReadByStrip(tif, path, l, out);
    else
        ReadByRow(tif, path, l, out);
}

}  // namespace

std::string ReadTiff(const std::string& path, const PixelRoom& room) {
    static QuietLibtiff quiet;
    uint64_t file_size = 0;
    TiffHandle tif = Open(path, file_size);
    const std::string note = SelectImageDirectory(tif.get(), path, file_size);
    CheckImageKind(tif.get(), path);

    Layout l;
    if (!TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &l.width) ||
        !TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &l.height))
        throw TiffReadFailure(path, "no image size");
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &l.bits);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLEFORMAT, &l.format);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_COMPRESSION, &l.compression);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_ORIENTATION, &l.orientation);
    if (l.width == 0 || l.height == 0) throw TiffReadFailure(path, "empty image");
    // Strips are decoded where their floats go, which needs rows of exactly
    // width samples.
    const tmsize_t line = TIFFScanlineSize(tif.get());
    if (line <= 0 || static_cast<uint64_t>(line) != static_cast<uint64_t>(l.width) * (l.bits / 8))
        throw TiffReadFailure(path, "its rows' size does not match its width");
    l.line = static_cast<uint64_t>(line);
    CheckSizeAgainstFile(path, l, file_size);
    // Uncompressed, every pixel is in the file; compressed, a few good rows
    // could otherwise claim room for a whole image.
    if (l.compression != COMPRESSION_NONE) Read(tif.get(), path, l, nullptr);
    float* const out = SwapsSides(l.orientation) ? room(l.height, l.width) : room(l.width, l.height);
    Read(tif.get(), path, l, out);
    ApplyOrientation(out, l.width, l.height, l.orientation);
    return note;
}

TiffPixels ReadTiff(const std::string& path) {
    TiffPixels out;
    out.note = ReadTiff(path, [&out](uint32_t width, uint32_t height) {
        out.width = width;
        out.height = height;
        out.pixels.resize(static_cast<size_t>(width) * height);
        return out.pixels.data();
    });
    return out;
}

}  // namespace orvanhost
