// Grayscale TIFF reading and writing for the script runner's OpenImage and
// SaveImage. Pixels are row-major: pixel (x, y) at index x + y * width, which
// is also the host image's pixel order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dmhost {

struct TiffPixels {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<float> pixels;  // width * height values
};

// Reads one grayscale image: 8/16/32-bit unsigned or signed integers or
// 32-bit floats, one sample per pixel. Integer samples become floats.
// Throws std::runtime_error naming the file when it cannot be opened, holds
// another kind of image or more than one page.
TiffPixels ReadTiff(const std::string& path);

// Writes `width` x `height` floats as a 32-bit float grayscale TIFF.
// Throws std::runtime_error naming the file when it cannot be written; an
// existing file is replaced only by a whole new image, keeping its mode,
// owner and links (where it is written in place, the room it grows by is
// reserved first), and is refused when it is not a regular file or the user
// may not write it. A link is followed; one that names no file is refused.
void WriteTiff(const std::string& path, uint32_t width, uint32_t height, const float* pixels);

// Called, when set, just before an image is copied into the old file in
// place; tests change the file system there.
extern void (*beforeCopyIntoOld)(const std::string& target);

}  // namespace dmhost
