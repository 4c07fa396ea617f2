// TIFF reader: any bytes give an image of the size it declares or a refusal,
// never a read outside a buffer, a crash or room beyond the reader's bounds.
// The bytes are a file in memory, so the reader opens them as any file.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "host/app/tiff_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int fd = memfd_create("fuzz_tiff", MFD_CLOEXEC);
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) std::abort();
    try {
        const orvanhost::TiffPixels image = orvanhost::ReadTiff(path);
        if (image.pixels.size() != static_cast<size_t>(image.width) * image.height) std::abort();
    } catch (const std::runtime_error&) {
    }
    return 0;
}
