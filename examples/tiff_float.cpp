#include "tiff_float.h"

#include <tiffio.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>

void WriteFloatTiff(const std::string& path, int width, int height, const std::vector<float>& pixels) {
    if (width <= 0 || height <= 0 || pixels.size() != static_cast<size_t>(width) * static_cast<size_t>(height))
        throw std::runtime_error("image size does not match its pixels");
    // The caller says what failed; libtiff's own handlers would print a
    // second, differently worded line beside it.
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    errno = 0;
    std::unique_ptr<TIFF, void (*)(TIFF*)> tif(TIFFOpen(path.c_str(), "w"), TIFFClose);
    if (!tif)
        throw std::runtime_error("cannot create " + path + (errno ? std::string(": ") + std::strerror(errno) : ""));
    TIFFSetField(tif.get(), TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(width));
    TIFFSetField(tif.get(), TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(height));
    TIFFSetField(tif.get(), TIFFTAG_BITSPERSAMPLE, 32);
    TIFFSetField(tif.get(), TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif.get(), TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP);
    TIFFSetField(tif.get(), TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif.get(), TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif.get(), TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tif.get(), TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif.get(), 0));
    std::vector<float> row(static_cast<size_t>(width));
    for (int y = 0; y < height; ++y) {
        std::copy_n(pixels.begin() + static_cast<ptrdiff_t>(y) * width, width, row.begin());
        if (TIFFWriteScanline(tif.get(), row.data(), static_cast<uint32_t>(y), 0) < 0)
            throw std::runtime_error("write failed: " + path);
    }
    if (!TIFFFlush(tif.get())) throw std::runtime_error("write failed: " + path);
}
