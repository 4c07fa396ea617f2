#include "file_replace/copy_in_place.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "file_replace/reserve_room.h"
#include "file_replace/seams.h"

namespace FileReplace {

namespace {

bool Fail(Outcome& outcome, Outcome::Failure failure, Outcome::Step step, int error) {
    outcome.failure = failure;
    outcome.step = step;
    outcome.error = error;
    return false;
}

// Writes all of data; 0 or the errno of the failure (EIO for a write that
// wrote nothing and said nothing).
int WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = seams.copyWrite != nullptr ? seams.copyWrite(fd, data, size) : write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return EIO;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

// Copies `from` into `out` from the start of both; 0 or the errno.
int CopyAll(int from, int out, off_t& total) {
    std::vector<char> buffer(1 << 16);
    total = 0;
    for (;;) {
        const ssize_t n = pread(from, buffer.data(), buffer.size(), total);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return 0;
        if (const int error = WriteAll(out, buffer.data(), static_cast<std::size_t>(n))) return error;
        total += n;
    }
}

}  // namespace

bool CopyInPlace(int from, const Target& to, Outcome& outcome) {
    using Failure = Outcome::Failure;
    using Step = Outcome::Step;
    struct stat incoming;
    if (fstat(from, &incoming) != 0) return Fail(outcome, Failure::Failed, Step::Write, errno);
    if (seams.beforeInPlaceOpen != nullptr) seams.beforeInPlaceOpen(to.name);
    // Not blocking: what is there by now may be a FIFO.
    const int out = open(to.name.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (out < 0) return Fail(outcome, Failure::Failed, Step::OpenOld, errno);
    struct stat now;
    if (fstat(out, &now) != 0) {
        const int error = errno;
        close(out);
        return Fail(outcome, Failure::Failed, Step::OpenOld, error);
    }
    // Another file put in the old one's place meanwhile is not written into.
    if (now.st_dev != to.info.st_dev || now.st_ino != to.info.st_ino) {
        close(out);
        return Fail(outcome, Failure::Failed, Step::OpenOld, 0);
    }
    if (const int error = ReserveRoomForCopy(out, incoming.st_size)) {
        struct stat after;
        const bool whole = fstat(out, &after) == 0 && after.st_size == now.st_size;
        close(out);
        return Fail(outcome, whole ? Failure::Failed : Failure::CopyFailed, Step::Reserve, error);
    }
    off_t total = 0;
    int error = CopyAll(from, out, total);
    if (error == 0 && ftruncate(out, total) != 0) error = errno;
    if (error == 0 && fsync(out) != 0) error = errno;
    if (close(out) != 0 && error == 0) error = errno;
    if (error != 0) return Fail(outcome, Failure::CopyFailed, Step::Copy, error);
    return true;
}

}  // namespace FileReplace
