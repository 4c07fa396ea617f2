#include "file_replace/reserve_room.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace FileReplace {

int ReserveRoomForCopy(int fd, off_t newSize) {
    struct stat old;
    if (fstat(fd, &old) != 0) return errno;
    if (!S_ISREG(old.st_mode)) return EINVAL;
    if (newSize <= old.st_size || fallocate(fd, 0, old.st_size, newSize - old.st_size) == 0) return 0;
    const int cause = errno;
    if (cause == EOPNOTSUPP || cause == EINVAL || cause == ENOSYS) return 0;
    // A reservation that ran out part of the way may have lengthened the
    // file already (ext4 keeps the blocks it got): put the old length back.
    struct stat now;
    if (fstat(fd, &now) != 0 || (now.st_size != old.st_size && ftruncate(fd, old.st_size) != 0)) return errno;
    return cause;
}

}  // namespace FileReplace
