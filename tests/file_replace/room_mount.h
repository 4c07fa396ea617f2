// A small file system of one kind for one test: made in an image file,
// mounted from a loop device, and taken down again (unmounted, the loop
// device freed, the image removed) however the test ends.
#pragma once

#include <sys/types.h>

#include <string>

enum class ScratchKind { Tmpfs, Ext4, Ext2, Btrfs, Xfs, OverlayExt4, OverlayBtrfs };

const char* KindName(ScratchKind kind);

class ScratchMount {
public:
    // Mounts one; where it cannot (not root, no loop devices, no mkfs for
    // the kind, a mount refused), mounted() is false and why() says why.
    explicit ScratchMount(ScratchKind kind);
    ~ScratchMount();
    ScratchMount(const ScratchMount&) = delete;
    ScratchMount& operator=(const ScratchMount&) = delete;

    bool mounted() const { return why_.empty(); }
    const std::string& why() const { return why_; }
    // The mounted folder.
    const std::string& path() const { return path_; }
    // The bytes an unprivileged writer may still write (f_bavail), counted
    // after the file system has committed what was written.
    off_t Free() const;
    // Takes room with filler files until about `bytes` are left free; false
    // when there was less than that to begin with.
    bool LeaveFree(off_t bytes);

private:
    bool MakeOnLoop(const char* type, off_t size, const std::string& at);
    std::string why_;
    std::string folder_;  // holds the image files and the mount points
    std::string path_;
    std::string under_;  // an overlay's lower file system, when there is one
    int fillers_ = 0;
};
