// What libtiff keeps to itself of a directory, read from the file's own
// bytes: the old SubfileType tag, which it passes over unread, and the
// offset of the next directory.
#pragma once

#include <tiffio.h>

#include <cstdint>
#include <optional>

namespace orvanhost {

struct RawDirectory {
    uint32_t old_subfile_type = 0;  // 0 when the tag is not there
    uint64_t next = 0;              // the next directory's offset; 0 ends the chain
};

// The current directory's; nothing when its bytes cannot be read again (a
// count beyond any directory libtiff reads, a read that fails or is short).
std::optional<RawDirectory> ReadRawDirectory(TIFF* tif);

}  // namespace orvanhost
