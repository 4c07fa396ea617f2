#include "host/app/tiff_directory.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "host/app/tiff_raw_directory.h"

namespace orvanhost {
namespace {

enum class Kind { Image, Reduced, Mask };

Kind KindOf(TIFF* tif, uint32_t old_subfile_type) {
    uint32_t subfile = 0;
    uint16_t photometric = PHOTOMETRIC_MINISBLACK;
    if (!TIFFGetField(tif, TIFFTAG_SUBFILETYPE, &subfile) && old_subfile_type == OFILETYPE_REDUCEDIMAGE)
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

struct ChainBreak {
    bool loops = false;
    std::string why;  // "": no break seen
};

// Why the pointer after the last of the directories at `offsets` cannot be
// followed, before libtiff tries it: it leads back into the chain, into the
// header or past the end of the file.
ChainBreak FollowChain(const std::optional<RawDirectory>& raw, const std::vector<uint64_t>& offsets,
                       uint64_t header_size, uint64_t file_size) {
    if (!raw) return {};
    const std::string from = "directory " + std::to_string(offsets.size());
    const auto back = std::find(offsets.begin(), offsets.end(), raw->next);
    if (back != offsets.end())
        return {true, from + " points back to directory " + std::to_string(back - offsets.begin() + 1)};
    if (raw->next < header_size) return {false, "the next one would start inside the file's header"};
    if (raw->next >= file_size) return {false, "the next one would start past the end of the file"};
    return {};
}

}  // namespace

std::string SelectImageDirectory(TIFF* tif, const std::string& path, uint64_t file_size) {
    std::vector<uint64_t> offsets;  // of the directories read, in the chain's order
    tdir_t full = 0, first = 0;
    bool held = true;  // libtiff still holds the last directory read
    ChainBreak broken;
    for (;;) {
        const std::optional<RawDirectory> raw = ReadRawDirectory(tif);
        offsets.push_back(TIFFCurrentDirOffset(tif));
        const Kind kind = KindOf(tif, raw ? raw->old_subfile_type : 0);
        if (kind == Kind::Mask)
            throw TiffReadFailure(path, "directory " + std::to_string(offsets.size()) +
                                            " is a transparency mask; images with a mask cannot be read");
        if (kind == Kind::Image && full++ == 0) first = static_cast<tdir_t>(offsets.size() - 1);
        if (TIFFLastDirectory(tif)) break;
        broken = FollowChain(raw, offsets, TIFFIsBigTIFF(tif) ? 16 : 8, file_size);
        if (broken.why.empty() && TIFFReadDirectory(tif)) continue;
        held = !broken.why.empty();
        break;
    }
    const std::string damaged = "directory " + std::to_string(offsets.size() + 1) + " is damaged or cut short";
    if (!held) broken.why = damaged;
    // Taken for the end of the chain, a break would leave a thumbnail to be
    // read as the image.
    if (!broken.why.empty() && full == 0)
        throw TiffReadFailure(path, broken.loops ? "its chain of directories loops: " + broken.why : damaged);
    const tdir_t pages = full > 0 ? full : static_cast<tdir_t>(offsets.size());
    // Reading the first page alone would pass the others over without a word.
    if (pages > 1)
        throw TiffReadFailure(path, "holds " + std::to_string(pages) + " pages; only single-page images can be read");
    if ((!held || first + 1 != offsets.size()) && !TIFFSetDirectory(tif, first))
        throw TiffReadFailure(path, "directory " + std::to_string(first + 1) + " is damaged");
    if (broken.why.empty()) return "";
    return "image file \"" + path + "\" read, but its chain of directories " +
           (broken.loops ? "loops: " : "is broken after directory " + std::to_string(offsets.size()) + ": ") +
           broken.why;
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
