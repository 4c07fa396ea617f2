// Grayscale TIFF reading and writing for the script runner's OpenImage and
// SaveImage. Pixels are row-major: pixel (x, y) at index x + y * width, which
// is also the host image's pixel order.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace orvanhost {

struct TiffPixels {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<float> pixels;  // width * height values
    std::string note;           // what ReadTiff returned beside the pixels
};

// Asked once, when the image's size is known and, compressed, every row has
// been found to decode: room for width x height floats, which the reader
// then fills. It may throw; the reader passes its exception on.
using PixelRoom = std::function<float*(uint32_t width, uint32_t height)>;

// Reads one grayscale image: 8/16/32-bit unsigned or signed integers or
// 32-bit floats, one black-is-zero sample per pixel, in strips. Integer
// samples become floats, written straight into the room, so that the pixels
// are held once, beside one row and the compressed strip being decoded.
// Compressed data is first decoded without being kept (PackBits a strip at
// a time, the others a row at a time) and the room is taken only when all
// of it decodes, so that a damaged file takes little more memory than it
// holds. The Orientation tag is applied: the image is the one viewers show,
// orientations 5 to 8 swapping width and height (turning a non-square image
// so takes one bit a pixel more). Of several directories, the one
// full-resolution image is read and reduced-resolution ones (thumbnails,
// previews, marked by either SubfileType tag) are passed over.
// Returns "" or, when the image is read but the chain of directories is
// broken after it (its next pointer past the end, into the header, back to
// a directory read, or at a directory that cannot be read), a line for the
// Results window that says so.
// Throws std::runtime_error naming the file and the cause when it is not
// found, cannot be opened, is not a regular file or not a TIFF; holds
// another kind of image (named), a transparency mask or more than one
// full-resolution image; or is damaged, the chain of directories broken
// before a full-resolution image included. Pixels the file cannot hold are
// refused before any room is taken for them: uncompressed ones beyond the
// file's size, compressed ones beyond 16384 x 16384 or 65536 times the
// file's size in bytes (64 times for PackBits). The file is read, never
// mapped, so a failing read is an error, not a signal.
std::string ReadTiff(const std::string& path, const PixelRoom& room);

// The same, into pixels of its own.
TiffPixels ReadTiff(const std::string& path);

// Writes `width` x `height` floats as a 32-bit float grayscale TIFF,
// through FileReplace::ReplaceFile (an existing file is replaced only by a
// whole new image, keeping its mode, owner, attributes and links; a link is
// followed), holding the lock saves of the file take turns with. A save
// that waits for that lock says so once through `results`, when given.
// Throws std::runtime_error naming the file and the cause when it cannot be
// written: refused when it is not a regular file, a link that names no
// file, a file the user may not write, or one that cannot be locked.
void WriteTiff(const std::string& path, uint32_t width, uint32_t height, const float* pixels,
               const std::function<void(const std::string&)>& results = nullptr);

}  // namespace orvanhost
