#include "host/app/tiff_raw_directory.h"

#include <unistd.h>

#include <vector>

namespace orvanhost {
namespace {

uint64_t Unpack(const unsigned char* p, int bytes, bool big_endian) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= uint64_t(p[big_endian ? bytes - 1 - i : i]) << (8 * i);
    return v;
}

}  // namespace

std::optional<RawDirectory> ReadRawDirectory(TIFF* tif) {
    const int fd = TIFFFileno(tif);
    const bool big = TIFFIsBigTIFF(tif), msb = TIFFIsBigEndian(tif);
    const int count_size = big ? 8 : 2, entry_size = big ? 20 : 12, offset_size = big ? 8 : 4;
    const off_t at = static_cast<off_t>(TIFFCurrentDirOffset(tif));
    unsigned char head[8];
    if (pread(fd, head, count_size, at) != count_size) return std::nullopt;
    const uint64_t count = Unpack(head, count_size, msb);
    if (count > 65536) return std::nullopt;
    // The entries and the next directory's offset after them.
    std::vector<unsigned char> bytes(count * entry_size + offset_size);
    if (pread(fd, bytes.data(), bytes.size(), at + count_size) != static_cast<ssize_t>(bytes.size()))
        return std::nullopt;
    RawDirectory raw;
    raw.next = Unpack(bytes.data() + count * entry_size, offset_size, msb);
    for (uint64_t i = 0; i < count; ++i) {
        const unsigned char* e = bytes.data() + i * entry_size;
        const unsigned char* value = e + (big ? 12 : 8);
        if (Unpack(e, 2, msb) != TIFFTAG_OSUBFILETYPE || Unpack(e + 4, big ? 8 : 4, msb) != 1) continue;
        const uint64_t type = Unpack(e + 2, 2, msb);
        if (type != TIFF_SHORT && type != TIFF_LONG) continue;
        raw.old_subfile_type = static_cast<uint32_t>(Unpack(value, type == TIFF_SHORT ? 2 : 4, msb));
        break;
    }
    return raw;
}

}  // namespace orvanhost
