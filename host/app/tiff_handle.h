// The libtiff handle and the silencing of its own messages, shared by the
// TIFF reader and writer.
#pragma once

#include <tiffio.h>

#include <cstdarg>
#include <memory>

namespace orvanhost {

struct TiffCloser {
    void operator()(TIFF* t) const { TIFFClose(t); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

// libtiff prints its complaints on stderr by default; our own error says
// what went wrong, so its handlers stay quiet.
inline void SilentTiff(const char*, const char*, va_list) {}

struct QuietLibtiff {
    QuietLibtiff() {
        TIFFSetErrorHandler(SilentTiff);
        TIFFSetWarningHandler(SilentTiff);
    }
};

}  // namespace orvanhost
