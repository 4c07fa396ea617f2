// Making sure, before the first byte of a copy in place is written, that the
// whole copy will find room: a full disk must be found while the old file is
// still whole.
#pragma once

#include <sys/types.h>

namespace FileReplace {

// Makes sure that `newSize` bytes can be written over the open regular file
// `fd` from offset 0 without running out of room part of the way. Returns 0,
// or the errno that is the cause: ENOSPC (or EDQUOT) when the room is not
// there, EFBIG when the file may not grow that long, EOPNOTSUPP when the room
// cannot be made sure of on this file system, or the errno of a failed
// system call. On failure the file has its old length and contents again
// (unless even cutting it back failed, which only a failing disk does).
int ReserveRoomForCopy(int fd, off_t newSize);

}  // namespace FileReplace
