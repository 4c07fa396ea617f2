#include "file_replace/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace FileReplace {

FileLock::State FileLock::Acquire(const char* name) {
    Release();
    if (name == nullptr || name[0] == 0) return State::Unlocked;
    path = name;
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
            fd = open(name, O_RDWR | O_CREAT | O_EXCL | O_NONBLOCK | O_CLOEXEC, 0666);
            if (fd < 0) {
                if (errno == EEXIST) continue;
                return State::Unlocked;
            }
            made = true;
        } else {
            // Not even opened: opening a FIFO for reading waits for a writer.
            if (!S_ISREG(named.st_mode)) return State::NotRegular;
            if (faccessat(AT_FDCWD, name, W_OK, AT_EACCESS) != 0 &&
                (errno == EACCES || errno == EPERM || errno == EROFS))
                return State::NotWritable;
            fd = open(name, O_RDWR | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0) {
                if (errno == ENOENT) continue;
                return State::Unlocked;
            }
        }
        struct stat held;
        const bool known = fstat(fd, &held) == 0;
        if (!known || !S_ISREG(held.st_mode)) {
            Release();
            return known ? State::NotRegular : State::Unlocked;
        }
        int locked;
        while ((locked = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
        }
        if (locked != 0) {
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
    // A stand-in nothing was written to goes again, while it is still the
    // file at the path (other writers wait for the lock before replacing it).
    struct stat held;
    struct stat now;
    if (made && fstat(fd, &held) == 0 && held.st_size == 0 && stat(path.c_str(), &now) == 0 &&
        now.st_dev == held.st_dev && now.st_ino == held.st_ino)
        unlink(path.c_str());
    close(fd);
    fd = -1;
    made = false;
}

}  // namespace FileReplace
