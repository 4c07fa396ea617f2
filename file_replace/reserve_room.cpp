#include "file_replace/reserve_room.h"

#include <fcntl.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <vector>

#include "file_replace/file_system_kind.h"

namespace FileReplace {

namespace {

// What the old file's extents say about the bytes the copy will write.
struct ExtentMap {
    bool known = false;   // the file system answered FIEMAP
    off_t allocated = 0;  // bytes of [0, front) that have blocks
    off_t shared = 0;     // bytes of [0, front) whose blocks another file holds too
    off_t released = 0;   // bytes of blocks only this file holds, wholly in [0, newSize):
                          // a file system that copies on write frees them once overwritten
};

ExtentMap MapExtents(int fd, off_t front, off_t newSize, off_t size) {
    ExtentMap map;
    const off_t end = std::max(size, newSize);
    constexpr unsigned kBatch = 64;
    std::vector<std::uint64_t> buffer((sizeof(fiemap) + kBatch * sizeof(fiemap_extent)) / sizeof(std::uint64_t) + 1);
    auto* request = reinterpret_cast<fiemap*>(buffer.data());
    std::uint64_t start = 0;
    while (start < static_cast<std::uint64_t>(end)) {
        std::fill(buffer.begin(), buffer.end(), 0);
        request->fm_start = start;
        request->fm_length = static_cast<std::uint64_t>(end) - start;
        request->fm_flags = FIEMAP_FLAG_SYNC;
        request->fm_extent_count = kBatch;
        if (ioctl(fd, FS_IOC_FIEMAP, request) != 0) return ExtentMap();
        if (request->fm_mapped_extents == 0) break;
        bool last = false;
        for (unsigned i = 0; i < request->fm_mapped_extents; ++i) {
            const fiemap_extent& e = request->fm_extents[i];
            const std::uint64_t from = e.fe_logical, to = e.fe_logical + e.fe_length;
            const auto overlap = [&](std::uint64_t limit) {
                return to > from && from < limit ? std::min(to, limit) - from : std::uint64_t{0};
            };
            map.allocated += static_cast<off_t>(overlap(static_cast<std::uint64_t>(front)));
            if ((e.fe_flags & FIEMAP_EXTENT_SHARED) != 0)
                map.shared += static_cast<off_t>(overlap(static_cast<std::uint64_t>(front)));
            // Inline, packed or compressed data frees less than its length.
            const unsigned keeps = FIEMAP_EXTENT_SHARED | FIEMAP_EXTENT_NOT_ALIGNED | FIEMAP_EXTENT_DATA_INLINE |
                                   FIEMAP_EXTENT_ENCODED | FIEMAP_EXTENT_DATA_TAIL | FIEMAP_EXTENT_UNKNOWN;
            if ((e.fe_flags & keeps) == 0 && to <= static_cast<std::uint64_t>(newSize))
                map.released += static_cast<off_t>(e.fe_length);
            start = std::max(start, to);
            last = last || (e.fe_flags & FIEMAP_EXTENT_LAST) != 0;
        }
        if (last) break;
    }
    map.known = true;
    return map;
}

off_t RoundUp(off_t bytes, off_t block) { return block > 0 ? (bytes + block - 1) / block * block : bytes; }

// The bytes this process may still write on the file system; `root` also
// counts the blocks kept back for root (ext2/3/4).
bool FreeBytes(int fd, bool root, off_t& free) {
    struct statfs fs;
    if (fstatfs(fd, &fs) != 0) return false;
    const auto blocks = root && geteuid() == 0 ? fs.f_bfree : fs.f_bavail;
    const auto unit = static_cast<unsigned long long>(fs.f_frsize > 0 ? fs.f_frsize : fs.f_bsize);
    free = static_cast<off_t>(std::min<unsigned long long>(blocks, INT64_MAX / unit) * unit);
    return true;
}

// Puts the old length back after a reservation that failed: ext4 keeps the
// blocks and the length it got midway, XFS blocks beyond the end.
int CutBack(int fd, const struct stat& old, int cause) {
    struct stat now;
    if (fstat(fd, &now) != 0) return cause;
    if ((now.st_size != old.st_size || now.st_blocks > old.st_blocks) && ftruncate(fd, old.st_size) != 0) return errno;
    return cause;
}

// Answers of fallocate that mean the file system cannot reserve at all.
bool CannotReserve(int cause) { return cause == EOPNOTSUPP || cause == EINVAL || cause == ENOSYS; }

// Indirect blocks and metadata that writing `bytes` may take besides the
// data (ext2): generous, since the check only stands in for a reservation.
off_t Overhead(off_t bytes, off_t block) { return bytes / 64 + 16 * block; }

// Where the file system copies every overwritten block, nothing can be
// reserved ahead: the copy needs room for the range it overwrites first, and
// for the whole new file once the old blocks it replaced are freed.
int CheckCopyOnWrite(int fd, const struct stat& old, off_t newSize) {
    // btrfs counts what was just written only once its transaction is
    // committed: the new copy beside the old file must be counted.
    syncfs(fd);
    off_t free = 0;
    if (!FreeBytes(fd, false, free)) return errno;
    const off_t block = old.st_blksize > 0 ? old.st_blksize : 4096;
    const off_t front = std::min(old.st_size, newSize);
    const ExtentMap map = MapExtents(fd, front, newSize, old.st_size);
    const off_t whole = RoundUp(newSize, block);
    // btrfs keeps metadata apart from data: the free data space is counted
    // to the block, and a few blocks spare are enough.
    const off_t margin = 4 * block;
    if (free < RoundUp(front, block) + margin || free + map.released < whole + margin) return ENOSPC;
    return 0;
}

// Where fallocate is not there, the free space stands in for it: the
// growth, the holes and the shared blocks of the overwritten range need
// blocks.
int CheckWithoutReservation(int fd, const struct stat& old, const ExtentMap& map, off_t newSize) {
    const off_t block = old.st_blksize > 0 ? old.st_blksize : 4096;
    const off_t front = std::min(old.st_size, newSize);
    const off_t held = map.known ? map.allocated : std::min<off_t>(old.st_blocks * 512, RoundUp(front, block));
    const off_t need = RoundUp(front, block) - std::min(held, RoundUp(front, block)) + map.shared +
                       RoundUp(std::max<off_t>(newSize - old.st_size, 0), block);
    if (need == 0) return 0;
    off_t free = 0;
    if (!FreeBytes(fd, true, free)) return errno;
    return free < need + Overhead(need, block) ? ENOSPC : 0;
}

}  // namespace

int ReserveRoomForCopy(int fd, off_t newSize) {
    struct stat old;
    if (fstat(fd, &old) != 0) return errno;
    if (!S_ISREG(old.st_mode) || newSize < 0) return EINVAL;
    // A write past the limit fails even inside the old length, and fallocate
    // would raise SIGXFSZ.
    struct rlimit limit;
    if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        static_cast<unsigned long long>(newSize) > limit.rlim_cur)
        return EFBIG;
    if (newSize == 0) return 0;
    if (WritesInPlace(fd) == Placement::CopyOnWrite) return CheckCopyOnWrite(fd, old, newSize);

    const off_t front = std::min(old.st_size, newSize);
    const ExtentMap map = MapExtents(fd, front, newSize, old.st_size);
    // Holes in the overwritten range need blocks as much as the growth does.
    const bool holes = front > 0 && (!map.known || map.allocated < front);
    // The growth is reserved beyond the end: a file made longer now would
    // hold zeros after the old contents if the copy were killed.
    const bool reserved =
        (!holes || fallocate(fd, 0, 0, front) == 0) &&
        (newSize <= old.st_size || fallocate(fd, FALLOC_FL_KEEP_SIZE, old.st_size, newSize - old.st_size) == 0);
    if (!reserved) {
        const int cause = errno;
        if (CannotReserve(cause)) return CheckWithoutReservation(fd, old, map, newSize);
        return CutBack(fd, old, cause);
    }
    // A block shared with a reflinked copy gets a new one when overwritten;
    // unsharing ahead (FALLOC_FL_UNSHARE_RANGE) would reserve it, but XFS
    // asks twice the room for that and keeps it for a while when it fails.
    if (map.shared > 0) {
        off_t free = 0;
        if (!FreeBytes(fd, true, free)) return CutBack(fd, old, errno);
        const off_t block = old.st_blksize > 0 ? old.st_blksize : 4096;
        // The new blocks' metadata comes from what XFS keeps back per group.
        if (free < map.shared + 16 * block) return CutBack(fd, old, ENOSPC);
    }
    return 0;
}

}  // namespace FileReplace
