// Writing a single-channel 32-bit float TIFF.
#ifndef ORVAN_EXAMPLES_TIFF_FLOAT_H
#define ORVAN_EXAMPLES_TIFF_FLOAT_H

#include <string>
#include <vector>

// Writes `pixels` (width * height floats, pixel (x, y) at x + y * width) as an
// uncompressed one-sample IEEE float TIFF: rows are y, columns x.
// Throws std::runtime_error on a size mismatch ("image size does not match
// its pixels"), a file that cannot be created ("cannot create PATH: reason")
// or a write failure ("write failed: PATH"). Silences libtiff's own message
// handlers for the whole process.
void WriteFloatTiff(const std::string& path, int width, int height, const std::vector<float>& pixels);

#endif
