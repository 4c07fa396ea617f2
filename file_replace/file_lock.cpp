#include "file_replace/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace FileReplace {

namespace {

// Waits for the lock on fd; false (fd still open) when it cannot be had.
bool LockExclusive(int fd) {
    int locked;
    while ((locked = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
    }
    return locked == 0;
}

std::string FolderOf(const std::string& path) {
    const std::string::size_type slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
}

}  // namespace

FileLock::State FileLock::Acquire(const char* name) {
    Release();
    if (name == nullptr || name[0] == 0) return State::Unlocked;
    for (;;) {
        struct stat named;
        if (stat(name, &named) != 0) {
            if (errno != ENOENT) return State::Unlocked;
            struct stat link;
            if (lstat(name, &link) == 0) {
                // A link to no file is left to the save, which refuses it;
                // anything else was made meanwhile.
                if (S_ISLNK(link.st_mode)) return State::Unlocked;
                continue;
            }
            fd = open(FolderOf(name).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (fd < 0) return State::Unlocked;
            if (!LockExclusive(fd)) {
                Release();
                return State::Unlocked;
            }
            // The writer before may have made the file while this one
            // waited: then the file's own lock is next.
            if (lstat(name, &link) != 0 && errno == ENOENT) return State::HeldEmpty;
            Release();
            continue;
        }
        // Not even opened: opening a FIFO for reading waits for a writer.
        if (!S_ISREG(named.st_mode)) return State::NotRegular;
        if (faccessat(AT_FDCWD, name, W_OK, AT_EACCESS) != 0 && (errno == EACCES || errno == EPERM))
            return State::NotWritable;
        // On a read-only mount this fails (EROFS): the save names that.
        fd = open(name, O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            if (errno == ENOENT) continue;
            return State::Unlocked;
        }
        struct stat held;
        const bool known = fstat(fd, &held) == 0;
        if (!known || !S_ISREG(held.st_mode)) {
            Release();
            return known ? State::NotRegular : State::Unlocked;
        }
        if (!LockExclusive(fd)) {
            Release();
            return State::Unlocked;
        }
        // The writer before may have renamed a new file over the one locked
        // here while this one waited: then it is that file's turn.
        struct stat now;
        if (stat(name, &now) == 0 && now.st_dev == held.st_dev && now.st_ino == held.st_ino && fstat(fd, &held) == 0)
            return held.st_size == 0 ? State::HeldEmpty : State::Held;
        Release();
    }
}

void FileLock::Release() {
    if (fd < 0) return;
    close(fd);
    fd = -1;
}

}  // namespace FileReplace
