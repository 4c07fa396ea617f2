#include "host/app/tiff_directory.h"

#include <unistd.h>

#include <cstdint>
#include <vector>

namespace orvanhost {
namespace {

uint64_t Unpack(const unsigned char* p, int bytes, bool big_endian) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= uint64_t(p[big_endian ? bytes - 1 - i : i]) << (8 * i);
    return v;
}

// libtiff passes the old SubfileType tag over unread, so the current
// directory's entries are read here. Its value, or 0 when the tag is not
// there or the entries cannot be read again.
uint32_t OldSubfileType(TIFF* tif) {
    const int fd = TIFFFileno(tif);
    const bool big = TIFFIsBigTIFF(tif), msb = TIFFIsBigEndian(tif);
    const int count_size = big ? 8 : 2, entry_size = big ? 20 : 12;
    const off_t at = static_cast<off_t>(TIFFCurrentDirOffset(tif));
    unsigned char head[8];
    if (pread(fd, head, count_size, at) != count_size) return 0;
    const uint64_t count = Unpack(head, count_size, msb);
    if (count == 0 || count > 65536) return 0;
    std::vector<unsigned char> entries(count * entry_size);
    if (pread(fd, entries.data(), entries.size(), at + count_size) != static_cast<ssize_t>(entries.size())) return 0;
    for (uint64_t i = 0; i < count; ++i) {
        const unsigned char* e = entries.data() + i * entry_size;
        const unsigned char* value = e + (big ? 12 : 8);
        if (Unpack(e, 2, msb) != TIFFTAG_OSUBFILETYPE || Unpack(e + 4, big ? 8 : 4, msb) != 1) continue;
        const uint64_t type = Unpack(e + 2, 2, msb);
        if (type == TIFF_SHORT) return static_cast<uint32_t>(Unpack(value, 2, msb));
        if (type == TIFF_LONG) return static_cast<uint32_t>(Unpack(value, 4, msb));
    }
    return 0;
}

enum class Kind { Image, Reduced, Mask };

Kind KindOf(TIFF* tif) {
    uint32_t subfile = 0;
    uint16_t photometric = PHOTOMETRIC_MINISBLACK;
    if (!TIFFGetField(tif, TIFFTAG_SUBFILETYPE, &subfile) && OldSubfileType(tif) == OFILETYPE_REDUCEDIMAGE)
        subfile = FILETYPE_REDUCEDIMAGE;
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    if ((subfile & FILETYPE_MASK) || photometric == PHOTOMETRIC_MASK) return Kind::Mask;
    return (subfile & FILETYPE_REDUCEDIMAGE) ? Kind::Reduced : Kind::Image;
}

std::string PhotometricName(uint16_t photometric) {
    switch (photometric) {
        case PHOTOMETRIC_MINISWHITE: return "white-is-zero grayscale";
        case PHOTOMETRIC_MINISBLACK: return "black-is-zero grayscale";
        case PHOTOMETRIC_RGB: return "RGB colour";
        case PHOTOMETRIC_PALETTE: return "palette colour";
        case PHOTOMETRIC_MASK: return "a transparency mask";
        case PHOTOMETRIC_SEPARATED: return "separated (CMYK) colour";
        case PHOTOMETRIC_YCBCR: return "YCbCr colour";
        case PHOTOMETRIC_CIELAB:
        case PHOTOMETRIC_ICCLAB:
        case PHOTOMETRIC_ITULAB: return "L*a*b* colour";
        case PHOTOMETRIC_CFA: return "a colour filter array";
        case PHOTOMETRIC_LOGL: return "LogL luminance";
        case PHOTOMETRIC_LOGLUV: return "LogLuv colour";
        default: return "an unknown kind";
    }
}

std::string SampleName(uint16_t format, uint16_t bits) {
    const std::string size = std::to_string(bits) + "-bit ";
    switch (format) {
        case SAMPLEFORMAT_UINT: return size + "unsigned integers";
        case SAMPLEFORMAT_INT: return size + "signed integers";
        case SAMPLEFORMAT_IEEEFP: return size + "floats";
        case SAMPLEFORMAT_COMPLEXINT: return "complex numbers of " + size + "integers";
        case SAMPLEFORMAT_COMPLEXIEEEFP: return "complex numbers of " + size + "floats";
        case SAMPLEFORMAT_VOID: return size + "samples of no stated type";
        default: return size + "samples of format " + std::to_string(format);
    }
}

}  // namespace

void SelectImageDirectory(TIFF* tif, const std::string& path) {
    tdir_t directories = 0, full = 0, first = 0;
    for (;;) {
        const Kind kind = KindOf(tif);
        if (kind == Kind::Mask)
            throw TiffReadFailure(path, "directory " + std::to_string(directories + 1) +
                                            " is a transparency mask; images with a mask cannot be read");
        if (kind == Kind::Image && full++ == 0) first = directories;
        ++directories;
        if (TIFFLastDirectory(tif)) break;
        // Taken for the end of the chain, it would leave a thumbnail to be
        // read as the image.
        if (!TIFFReadDirectory(tif))
            throw TiffReadFailure(path, "directory " + std::to_string(directories + 1) + " is damaged or cut short");
    }
    const tdir_t pages = full > 0 ? full : directories;
    // Reading the first page alone would pass the others over without a word.
    if (pages > 1)
        throw TiffReadFailure(path, "holds " + std::to_string(pages) + " pages; only single-page images can be read");
    if (directories > 1 && !TIFFSetDirectory(tif, first))
        throw TiffReadFailure(path, "directory " + std::to_string(first + 1) + " is damaged");
}

void CheckImageKind(TIFF* tif, const std::string& path) {
    uint16_t bits = 0, spp = 1, format = SAMPLEFORMAT_UINT, photometric = PHOTOMETRIC_MINISBLACK;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
    // Some grayscale writers leave the tag out; black-is-zero is what they
    // mean.
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    const std::string kind = PhotometricName(photometric) + " (photometric " + std::to_string(photometric) + ")";
    if (spp != 1)
        throw TiffReadFailure(path, "not a grayscale image: " + std::to_string(spp) + " samples per pixel, " + kind);
    // White-is-zero is refused rather than inverted: its largest value is not
    // always the sample type's.
    if (photometric != PHOTOMETRIC_MINISBLACK)
        throw TiffReadFailure(path, "its pixels are " + kind + "; only black-is-zero grayscale can be read");
    if (TIFFIsTiled(tif)) throw TiffReadFailure(path, "tiled images are not supported");
    const bool ok =
        (format == SAMPLEFORMAT_IEEEFP && bits == 32) ||
        ((format == SAMPLEFORMAT_UINT || format == SAMPLEFORMAT_INT) && (bits == 8 || bits == 16 || bits == 32));
    if (!ok) throw TiffReadFailure(path, "unsupported pixel type (" + SampleName(format, bits) + ")");
}

}  // namespace orvanhost
