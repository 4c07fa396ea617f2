// Whether a file system writes an overwritten block where it was, which
// decides whether room for a copy in place can be reserved ahead.
#pragma once

namespace FileReplace {

enum class Placement {
    InPlace,      // an overwritten block stays where it is (ext2/3/4, XFS, tmpfs, ...)
    CopyOnWrite,  // every overwritten block is written anew (btrfs, bcachefs, ZFS, NILFS)
};

// How the file system holding the open file `fd` places overwritten blocks.
// On overlayfs the upper layer's file system answers. A btrfs file marked
// not to copy on write is InPlace. Where the file system cannot be told
// (fstatfs fails, an overlay's upper layer cannot be found), CopyOnWrite,
// the answer that reserves nothing it cannot keep.
Placement WritesInPlace(int fd);

}  // namespace FileReplace
