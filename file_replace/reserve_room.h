// Making sure, before the first byte of a copy in place is written, that the
// whole copy will find room: a full disk must be found while the old file is
// still whole.
#pragma once

#include <sys/types.h>

namespace FileReplace {

// Makes sure that `newSize` bytes can be written over the open regular file
// `fd` from offset 0 without running out of room midway. The
// blocks the copy needs anew (the growth, holes in the old file) are
// reserved with fallocate. Where they cannot be, the free space must hold
// them, which a writer filling the disk at the same moment can still undo:
// without fallocate (ext2), blocks shared with a reflinked copy, and a file
// system that writes every block anew (btrfs, also under overlayfs), where
// the free space must hold the overwritten range and, once its old blocks
// are freed, the whole new file. Returns 0, or the errno that is the cause:
// ENOSPC (or EDQUOT) when the room is not there, EFBIG when the file may
// not grow that long (checked first: fallocate would raise SIGXFSZ), or the
// errno of a failed system call. On failure the file has its old length
// and contents again (unless even cutting it back failed, which only a
// failing disk does).
int ReserveRoomForCopy(int fd, off_t newSize);

}  // namespace FileReplace
