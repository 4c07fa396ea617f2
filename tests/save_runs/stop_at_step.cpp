// Preloaded into orvanhost by the save tests: the program kills itself
// (SIGKILL, which nothing can catch or clean up after) just before its
// ORVAN_STOP_AT_STEP-th step on a file in the folder ORVAN_STOP_FOLDER. A
// step is a write, a sync, a cut to length, a rename or a link.
#include <dlfcn.h>
#include <signal.h>
#include <sys/uio.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

long steps = 0;

const char* Folder() {
    static const char* folder = std::getenv("ORVAN_STOP_FOLDER");
    return folder;
}

bool InFolder(const char* path) {
    const char* folder = Folder();
    if (folder == nullptr || path == nullptr) return false;
    const std::size_t n = std::strlen(folder);
    return std::strncmp(path, folder, n) == 0 && (path[n] == '/' || path[n] == '\0');
}

bool Watched(int fd) {
    char link[64], path[PATH_MAX];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, path, sizeof path - 1);
    if (n < 0) return false;
    path[n] = '\0';
    return InFolder(path);
}

// A relative name is taken to be in the folder: orvanhost runs there.
bool WatchedName(const char* name) {
    if (name == nullptr) return false;
    if (name[0] != '/') return Folder() != nullptr;
    return InFolder(name);
}

void Step() {
    static const long stopAt = [] {
        const char* text = std::getenv("ORVAN_STOP_AT_STEP");
        return text != nullptr ? std::atol(text) : 0L;
    }();
    if (++steps == stopAt) kill(getpid(), SIGKILL);
}

template <typename F>
F Real(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" ssize_t write(int fd, const void* data, size_t size) {
    static const auto real = Real<ssize_t (*)(int, const void*, size_t)>("write");
    if (Watched(fd)) Step();
    return real(fd, data, size);
}

extern "C" ssize_t writev(int fd, const struct iovec* parts, int count) {
    static const auto real = Real<ssize_t (*)(int, const struct iovec*, int)>("writev");
    if (Watched(fd)) Step();
    return real(fd, parts, count);
}

extern "C" ssize_t pwrite(int fd, const void* data, size_t size, off_t at) {
    static const auto real = Real<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
    if (Watched(fd)) Step();
    return real(fd, data, size, at);
}

extern "C" ssize_t pwrite64(int fd, const void* data, size_t size, off_t at) {
    static const auto real = Real<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite64");
    if (Watched(fd)) Step();
    return real(fd, data, size, at);
}

extern "C" int fsync(int fd) {
    static const auto real = Real<int (*)(int)>("fsync");
    if (Watched(fd)) Step();
    return real(fd);
}

extern "C" int ftruncate(int fd, off_t length) {
    static const auto real = Real<int (*)(int, off_t)>("ftruncate");
    if (Watched(fd)) Step();
    return real(fd, length);
}

extern "C" int ftruncate64(int fd, off_t length) {
    static const auto real = Real<int (*)(int, off_t)>("ftruncate64");
    if (Watched(fd)) Step();
    return real(fd, length);
}

extern "C" int rename(const char* from, const char* to) {
    static const auto real = Real<int (*)(const char*, const char*)>("rename");
    if (WatchedName(to)) Step();
    return real(from, to);
}

extern "C" int renameat2(int fromFolder, const char* from, int toFolder, const char* to, unsigned flags) {
    static const auto real = Real<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
    if (WatchedName(to)) Step();
    return real(fromFolder, from, toFolder, to, flags);
}

extern "C" int link(const char* from, const char* to) {
    static const auto real = Real<int (*)(const char*, const char*)>("link");
    if (WatchedName(to)) Step();
    return real(from, to);
}
