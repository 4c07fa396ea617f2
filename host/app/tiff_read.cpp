#include "host/app/tiff_io.h"

#include <tiffio.h>

#include <cstring>
#include <stdexcept>

#include "host/app/tiff_handle.h"

namespace dmhost {
namespace {

std::runtime_error Fail(const std::string& path, const std::string& why) {
    return std::runtime_error("cannot read image file \"" + path + "\": " + why);
}

template <typename T>
void Convert(const unsigned char* row, uint32_t n, float* out) {
    for (uint32_t i = 0; i < n; ++i) {
        T v;
        std::memcpy(&v, row + i * sizeof(T), sizeof(T));
        out[i] = static_cast<float>(v);
    }
}

}  // namespace

TiffPixels ReadTiff(const std::string& path) {
    static QuietLibtiff quiet;
    TiffHandle tif(TIFFOpen(path.c_str(), "r"));
    if (!tif) throw Fail(path, "not found or not a TIFF file");
    // Reading the first page alone would pass the others over without a word.
    const tdir_t pages = TIFFNumberOfDirectories(tif.get());
    if (pages > 1) throw Fail(path, "holds " + std::to_string(pages) + " pages; only single-page images can be read");

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

}  // namespace dmhost
