// Preloaded into orvanhost by script_reading_test.py: the file named by
// ORVAN_FAIL_READ_PATH gives its first ORVAN_FAIL_READ_AFTER bytes and then
// fails with EIO, as a disk with a bad sector does. Other files read as usual.
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using ReadFunction = ssize_t (*)(int, void*, size_t);

bool IsFailingFile(int fd, const char* wanted) {
    char link[64], path[PATH_MAX];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, path, sizeof path - 1);
    if (n < 0) return false;
    path[n] = '\0';
    return std::strcmp(path, wanted) == 0;
}

}  // namespace

extern "C" ssize_t read(int fd, void* buf, size_t count) {
    static const ReadFunction real = reinterpret_cast<ReadFunction>(dlsym(RTLD_NEXT, "read"));
    const char* wanted = std::getenv("ORVAN_FAIL_READ_PATH");
    const char* after_text = std::getenv("ORVAN_FAIL_READ_AFTER");
    if (wanted && after_text && IsFailingFile(fd, wanted)) {
        const off_t after = std::atol(after_text);
        const off_t at = lseek(fd, 0, SEEK_CUR);
        if (at >= after) {
            errno = EIO;
            return -1;
        }
        if (count > static_cast<size_t>(after - at)) count = static_cast<size_t>(after - at);
    }
    return real(fd, buf, count);
}
