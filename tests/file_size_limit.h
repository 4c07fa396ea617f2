#pragma once
// A disk that fills up, for one scope: writes past `bytes` fail with EFBIG
// instead of raising SIGXFSZ. The old limit and signal action come back when
// the scope ends, also when an assertion leaves it early.

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string>

class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        if (getrlimit(RLIMIT_FSIZE, &old_) != 0) return;
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limited = old_;
        limited.rlim_cur = bytes;
        active_ = setrlimit(RLIMIT_FSIZE, &limited) == 0;
        if (!active_) std::signal(SIGXFSZ, previous_);
    }
    ~FileSizeLimit() { Lift(); }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    // False when the limit could not be set.
    bool Active() const { return active_; }

    void Lift() {
        if (!active_) return;
        setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, previous_);
        active_ = false;
    }

private:
    struct rlimit old_ {};
    void (*previous_)(int) = SIG_DFL;
    bool active_ = false;
};

// Whether the file system that holds `probe` (a path that is not there yet)
// reserves room ahead: where it cannot, a copy in place goes on unreserved
// and a full disk still cuts it short.
inline bool CanReserveRoom(const std::string& probe) {
    const int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const bool reserved = fallocate(fd, 0, 0, 4096) == 0;
    close(fd);
    unlink(probe.c_str());
    return reserved;
}
