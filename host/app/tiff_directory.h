// Finding the one image among a TIFF's directories, and refusing, by name,
// the kinds of image the reader cannot take.
#pragma once

#include <tiffio.h>

#include <stdexcept>
#include <string>

namespace orvanhost {

// The reader's one way of failing: the file's name and the cause.
inline std::runtime_error TiffReadFailure(const std::string& path, const std::string& why) {
    return std::runtime_error("cannot read image file \"" + path + "\": " + why);
}

// Makes the one full-resolution image current. Reduced-resolution images
// (thumbnails, previews), marked so by either SubfileType tag, are passed
// over; when every directory is marked reduced, each counts as a page.
// Returns "" or, when the chain of directories is broken after a
// full-resolution image was found, a line for the Results window saying
// where and how (a loop is told as one). Throws (TiffReadFailure) for a chain
// broken before a full-resolution image, a transparency mask, or more than
// one page.
std::string SelectImageDirectory(TIFF* tif, const std::string& path, uint64_t file_size);

// Throws (TiffReadFailure) naming the kind unless the current directory
// holds one black-is-zero sample per pixel, untiled, of 8, 16 or 32-bit
// integers or 32-bit floats.
void CheckImageKind(TIFF* tif, const std::string& path);

}  // namespace orvanhost
