#include "file_replace/file_lock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <limits>
#include <thread>

namespace FileReplace {

namespace {

// Saves lock one byte far past any file's end with an open-file-description
// lock (F_OFD_SETLK). On Linux these never meet flock() locks, so a reader's
// `flock -s` on the file stops no save, and a reader's record lock on part
// of the file misses the byte; only a lock on the whole file (fcntl with
// length 0, as some editors take, or flock on NFS, which becomes one) makes
// a save wait, and the save says so. Unlike a classic record lock it
// belongs to the descriptor, not the process: a save that opens and closes
// the file again (libtiff, the workbook loader) keeps it, and two threads
// of one process take turns too.
struct flock TurnByte(short type) {
    struct flock turn {};
    turn.l_type = type;
    turn.l_whence = SEEK_SET;
    turn.l_start = std::numeric_limits<off_t>::max() - 1;
    turn.l_len = 1;
    return turn;
}

// Who holds what keeps fd from the lock: a process id, or 0 for an
// open-file-description lock (another save) or one gone meanwhile.
pid_t Holder(int fd) {
    struct flock who = TurnByte(F_WRLCK);
    if (fcntl(fd, F_OFD_GETLK, &who) != 0 || who.l_type == F_UNLCK) return 0;
    return who.l_pid > 0 ? who.l_pid : 0;
}

// Waits for the lock on fd; 0, or the errno where it cannot be had. Asks
// again and again for the first second, so that `waiting` hears of a wait
// in time; then waits in the kernel.
int TakeTurn(int fd, const FileLock::Waiting& waiting) {
    struct flock turn = TurnByte(F_WRLCK);
    if (waiting) {
        const auto start = std::chrono::steady_clock::now();
        for (int pause = 1; std::chrono::steady_clock::now() - start < std::chrono::seconds(1);
             pause = std::min(pause * 2, 50)) {
            if (fcntl(fd, F_OFD_SETLK, &turn) == 0) return 0;
            if (errno != EAGAIN && errno != EACCES && errno != EINTR) return errno;
            std::this_thread::sleep_for(std::chrono::milliseconds(pause));
        }
        if (fcntl(fd, F_OFD_SETLK, &turn) == 0) return 0;
        waiting(Holder(fd));
    }
    while (fcntl(fd, F_OFD_SETLKW, &turn) != 0)
        if (errno != EINTR) return errno;
    return 0;
}

}  // namespace

FileLock::State FileLock::Acquire(const char* name, const Waiting& waiting) {
    Release();
    if (name == nullptr || name[0] == 0) return State::Unsure;
    for (;;) {
        struct stat named;
        if (stat(name, &named) != 0) {
            if (errno != ENOENT) return State::Unsure;
            struct stat link;
            if (lstat(name, &link) == 0) {
                // A link to no file is left to the save, which refuses it;
                // anything else was made meanwhile.
                if (S_ISLNK(link.st_mode)) return State::Unsure;
                continue;
            }
            return errno == ENOENT ? State::Absent : State::Unsure;
        }
        // Not even opened: opening a FIFO for reading waits for a writer.
        if (!S_ISREG(named.st_mode)) return State::NotRegular;
        if (faccessat(AT_FDCWD, name, W_OK, AT_EACCESS) != 0 && (errno == EACCES || errno == EPERM))
            return State::NotWritable;
        // Open for writing, as a write lock needs; on a read-only mount this
        // fails (EROFS) and the save names that.
        fd = open(name, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            if (errno == ENOENT) continue;
            return State::Unsure;
        }
        struct stat held;
        const bool known = fstat(fd, &held) == 0;
        if (!known || !S_ISREG(held.st_mode)) {
            Release();
            return known ? State::NotRegular : State::Unsure;
        }
        if (const int error = TakeTurn(fd, waiting)) {
            Release();
            cause = error;
            return State::NoLocks;
        }
        // The save before may have put a new file in the place of the one
        // locked here while this one waited: then it is that file's turn.
        struct stat now;
        if (stat(name, &now) == 0 && now.st_dev == held.st_dev && now.st_ino == held.st_ino && fstat(fd, &held) == 0)
            return held.st_size == 0 ? State::HeldEmpty : State::Held;
        Release();
    }
}

void FileLock::Release() {
    cause = 0;
    if (fd < 0) return;
    close(fd);
    fd = -1;
}

std::string WaitingFor(const std::string& path, pid_t holder) {
    if (holder == 0) return "waits for another save of \"" + path + "\"";
    return "waits for process " + std::to_string(holder) + ", which holds a lock on \"" + path + "\"";
}

}  // namespace FileReplace
