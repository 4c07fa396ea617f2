// The room for a copy in place, on small file systems mounted for the test:
// whatever the free space, the old file ends whole or the new one is
// written whole, and a copy that fits is not refused.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "file_replace/file_system_kind.h"
#include "file_replace/reserve_room.h"
#include "room_mount.h"

namespace {

using FileReplace::ReserveRoomForCopy;

constexpr off_t KiB = 1024;
constexpr off_t MiB = 1024 * KiB;

// Bytes no file system stores as holes, different for each seed.
std::string Pattern(off_t size, std::uint32_t seed) {
    std::string bytes(static_cast<std::size_t>(size), '\0');
    std::uint32_t x = seed * 2654435761u + 1;
    for (char& c : bytes) {
        x = x * 1664525u + 1013904223u;
        c = static_cast<char>((x >> 24) | 1);
    }
    return bytes;
}

bool WriteAt(int fd, const std::string& bytes, off_t at) {
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = pwrite(fd, bytes.data() + done, bytes.size() - done, at + static_cast<off_t>(done));
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool WriteFile(const std::string& path, const std::string& bytes) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const bool ok = WriteAt(fd, bytes, 0) && fsync(fd) == 0;
    return close(fd) == 0 && ok;
}

std::string ReadFile(const std::string& path) {
    std::string bytes;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return "(unreadable)";
    char buffer[1 << 16];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) bytes.append(buffer, static_cast<std::size_t>(n));
    close(fd);
    return bytes;
}

// How the old file is laid out on the disk.
enum class Old {
    Plain,
    Sparse,     // data only in its first and last 4 KiB
    Reflinked,  // sharing all its blocks with a copy (XFS, btrfs)
};

struct Case {
    const char* what;
    Old old;
    off_t oldSize, newSize;
    off_t free;   // left when the copy begins (the new file beside the old one)
    int reserve;  // what the reservation must answer
};

// The save's steps: the new file beside the old one, the room, the copy
// over the old file, which has a second link. Checks the file at the end.
void Save(ScratchMount& fs, const Case& c) {
    const std::string dir = fs.path();
    const std::string target = dir + "/old", incoming = dir + "/new";
    std::string before = Pattern(c.oldSize, 1);
    if (c.old == Old::Sparse) {
        before.assign(static_cast<std::size_t>(c.oldSize), '\0');
        before.replace(0, 4096, Pattern(4096, 3));
        before.replace(before.size() - 4096, 4096, Pattern(4096, 4));
        const int fd = open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(WriteAt(fd, before.substr(0, 4096), 0) &&
                    WriteAt(fd, before.substr(before.size() - 4096), c.oldSize - 4096));
        close(fd);
        struct stat info;
        ASSERT_EQ(stat(target.c_str(), &info), 0);
        ASSERT_LT(info.st_blocks * 512, c.oldSize / 2) << "the file system filled the holes itself";
    } else {
        ASSERT_TRUE(WriteFile(target, before));
    }
    if (c.old == Old::Reflinked) {
        const std::string copy = dir + "/copy";
        const int from = open(target.c_str(), O_RDONLY | O_CLOEXEC);
        const int to = open(copy.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ASSERT_EQ(ioctl(to, FICLONE, from), 0) << "no reflink here";
        close(from);
        close(to);
    }
    ASSERT_EQ(link(target.c_str(), (dir + "/second link").c_str()), 0);
    const std::string after = Pattern(c.newSize, 2);
    ASSERT_TRUE(WriteFile(incoming, after));
    ASSERT_TRUE(fs.LeaveFree(c.free)) << "only " << fs.Free() << " bytes free";

    const int fd = open(target.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const int reserved = ReserveRoomForCopy(fd, c.newSize);
    EXPECT_EQ(reserved, c.reserve) << "free " << fs.Free() << " bytes";
    if (reserved == 0) {
        // The promise: a reserved copy runs to its end.
        EXPECT_TRUE(WriteAt(fd, after, 0)) << "the copy ran out of room midway: " << std::strerror(errno);
        EXPECT_EQ(ftruncate(fd, c.newSize), 0);
        EXPECT_EQ(fsync(fd), 0);
    }
    close(fd);
    struct stat info;
    ASSERT_EQ(stat(target.c_str(), &info), 0);
    if (reserved == 0) {
        EXPECT_TRUE(ReadFile(target) == after) << "the new file is not whole";
    } else {
        EXPECT_EQ(info.st_size, c.oldSize) << "the refused file kept the length reserved for it";
        EXPECT_TRUE(ReadFile(target) == before) << "the refused file was changed";
    }
    if (c.old == Old::Reflinked) {
        EXPECT_TRUE(ReadFile(dir + "/copy") == before) << "the reflinked copy changed";
    }
}

// Removes what one case left, so the next finds the file system as mounted.
void Clear(const ScratchMount& fs) {
    const std::string dir = fs.path();
    for (const char* name : {"/old", "/new", "/copy", "/second link"}) unlink((dir + name).c_str());
    for (int i = 0; i < 64; ++i) unlink((dir + "/filler" + std::to_string(i)).c_str());
    fs.Free();  // commits the removal
}

class RoomOnFileSystem : public ::testing::TestWithParam<ScratchKind> {};

// Each file system with the cases that tell its rules apart: a growth with
// room for it but not for the whole new size (only the growth is new room
// where blocks are overwritten in place), a disk too full for it (some of
// it reserved before it ran out), holes, shared blocks, copy on write.
std::vector<Case> CasesFor(ScratchKind kind) {
    switch (kind) {
        case ScratchKind::Ext4:
        case ScratchKind::OverlayExt4:
            return {{"growth that fits", Old::Plain, 1 * MiB, 3 * MiB, 2 * MiB + 512 * KiB, 0},
                    {"growth beyond the room", Old::Plain, 1 * MiB, 3 * MiB, 1 * MiB, ENOSPC},
                    {"holes beyond the room", Old::Sparse, 2 * MiB, 2 * MiB, 1 * MiB, ENOSPC},
                    {"holes that fit", Old::Sparse, 2 * MiB, 2 * MiB, 2 * MiB + 512 * KiB, 0}};
        case ScratchKind::Tmpfs:
            return {{"growth that fits", Old::Plain, 1 * MiB, 3 * MiB, 2 * MiB + 512 * KiB, 0},
                    {"growth beyond the room", Old::Plain, 1 * MiB, 3 * MiB, 1 * MiB, ENOSPC},
                    {"holes beyond the room", Old::Sparse, 2 * MiB, 2 * MiB, 1 * MiB, ENOSPC},
                    {"holes that fit", Old::Sparse, 2 * MiB, 2 * MiB, 2 * MiB + 512 * KiB, 0},
                    {"shrinking on a full disk", Old::Plain, 2 * MiB, 1 * MiB, 0, 0},
                    {"an empty file beyond the room", Old::Plain, 0, 2 * MiB, 1 * MiB, ENOSPC}};
        case ScratchKind::Ext2:  // no fallocate: the free space stands in
            return {{"growth that fits", Old::Plain, 1 * MiB, 3 * MiB, 2 * MiB + 512 * KiB, 0},
                    {"growth beyond the room", Old::Plain, 1 * MiB, 3 * MiB, 1 * MiB, ENOSPC},
                    {"holes beyond the room", Old::Sparse, 2 * MiB, 2 * MiB, 1 * MiB, ENOSPC},
                    {"same size on a full disk", Old::Plain, 2 * MiB, 2 * MiB, 0, 0}};
        case ScratchKind::Xfs:
            return {{"growth that fits", Old::Plain, 1 * MiB, 3 * MiB, 2 * MiB + 512 * KiB, 0},
                    {"growth beyond the room", Old::Plain, 1 * MiB, 3 * MiB, 1 * MiB, ENOSPC},
                    {"reflinked beyond the room", Old::Reflinked, 2 * MiB, 2 * MiB, 1 * MiB, ENOSPC},
                    {"reflinked with room", Old::Reflinked, 2 * MiB, 2 * MiB, 3 * MiB, 0},
                    {"holes beyond the room", Old::Sparse, 2 * MiB, 2 * MiB, 1 * MiB, ENOSPC}};
        case ScratchKind::Btrfs:
        case ScratchKind::OverlayBtrfs:
            // Every block written is new room; the old ones are freed once
            // all of them are overwritten. The sizes of a workbook export
            // (3.1 -> 6.3 MB, 10 MiB free before its new file) and an image
            // (1 -> 4 MB, 8000 KiB free before) that were always written.
            return {
                {"workbook growth", Old::Plain, 3164160, 6325760, 10 * MiB - 6325760, 0},
                {"workbook growth, too little for the front", Old::Plain, 3164160, 6325760, 8 * MiB - 6325760, ENOSPC},
                {"image growth", Old::Plain, 1049490, 4197522, 8000 * KiB - 4197522, 0},
                {"same size beyond the room", Old::Plain, 4 * MiB, 4 * MiB, 3 * MiB, ENOSPC},
                {"same size with room", Old::Plain, 4 * MiB, 4 * MiB, 5 * MiB, 0},
                {"reflinked, freeing nothing", Old::Reflinked, 2 * MiB, 3 * MiB, 3 * MiB + 512 * KiB, 0},
                {"reflinked beyond the room", Old::Reflinked, 2 * MiB, 3 * MiB, 2 * MiB + 512 * KiB, ENOSPC}};
    }
    return {};
}

TEST_P(RoomOnFileSystem, OldFileWholeOrNewFileWhole) {
    ScratchMount fs(GetParam());
    if (!fs.mounted()) GTEST_SKIP() << KindName(GetParam()) << ": " << fs.why();
    for (const Case& c : CasesFor(GetParam())) {
        SCOPED_TRACE(std::string(KindName(GetParam())) + ", " + c.what);
        Save(fs, c);
        Clear(fs);
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, RoomOnFileSystem,
                         ::testing::Values(ScratchKind::Tmpfs, ScratchKind::Ext4, ScratchKind::Ext2, ScratchKind::Btrfs,
                                           ScratchKind::Xfs, ScratchKind::OverlayExt4, ScratchKind::OverlayBtrfs),
                         [](const ::testing::TestParamInfo<ScratchKind>& info) {
                             std::string name = KindName(info.param);
                             for (char& c : name)
                                 if (c == ' ') c = '_';
                             return name;
                         });

// Whether blocks are overwritten where they are: an overlay answers for its
// upper layer, and a btrfs file marked not to copy on write is written in
// place.
TEST(RoomMount, FileSystemKinds) {
    std::string skipped;
    for (ScratchKind kind : {ScratchKind::Tmpfs, ScratchKind::Ext4, ScratchKind::Btrfs, ScratchKind::OverlayExt4,
                             ScratchKind::OverlayBtrfs}) {
        SCOPED_TRACE(KindName(kind));
        ScratchMount fs(kind);
        if (!fs.mounted()) {
            skipped += std::string(KindName(kind)) + ": " + fs.why() + "; ";
            continue;
        }
        const bool cow = kind == ScratchKind::Btrfs || kind == ScratchKind::OverlayBtrfs;
        const std::string path = fs.path() + "/f";
        const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(FileReplace::WritesInPlace(fd) == FileReplace::Placement::CopyOnWrite, cow);
        int flags = 0;
        if (kind == ScratchKind::Btrfs && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags |= FS_NOCOW_FL;  // only an empty file takes it
            ASSERT_EQ(ioctl(fd, FS_IOC_SETFLAGS, &flags), 0);
            EXPECT_EQ(FileReplace::WritesInPlace(fd), FileReplace::Placement::InPlace);
        }
        close(fd);
    }
    if (!skipped.empty()) GTEST_SKIP() << skipped;
}

// A size beyond the file size limit is EFBIG before anything is written,
// without the SIGXFSZ that fallocate would raise.
TEST(RoomMount, BeyondTheFileSizeLimit) {
    char name[] = "/tmp/room-limit-XXXXXX";
    const int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    unlink(name);
    ASSERT_EQ(ftruncate(fd, 128 * 1024), 0);
    const pid_t child = fork();
    if (child == 0) {
        const rlimit limit = {64 * 1024, 64 * 1024};
        setrlimit(RLIMIT_FSIZE, &limit);
        // Even the old length: a write beyond the limit fails wherever it is.
        _exit(ReserveRoomForCopy(fd, 1 << 20) == EFBIG && ReserveRoomForCopy(fd, 128 * 1024) == EFBIG &&
                      ReserveRoomForCopy(fd, 4096) == 0
                  ? 0
                  : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    close(fd);
    EXPECT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
