// Preloaded into orvanhost by the allocation-failure sweep: every form of
// operator new counts its calls, and the one numbered ORVAN_FAIL_AT fails
// (bad_alloc, or null for the nothrow forms); the others succeed. With
// ORVAN_ALLOC_COUNT set to a file, the count of calls is written there at
// exit, so the sweep knows how far a full run goes.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

std::atomic<unsigned long> calls{0};
unsigned long fail_at = 0;

__attribute__((constructor)) void ReadSetting() {
    if (const char* n = std::getenv("ORVAN_FAIL_AT")) fail_at = std::strtoul(n, nullptr, 10);
}

// Runs after the program's own static destructors and dlclose.
__attribute__((destructor)) void WriteCount() {
    const char* path = std::getenv("ORVAN_ALLOC_COUNT");
    if (!path) return;
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return;
    char buf[32];
    int n = std::snprintf(buf, sizeof buf, "%lu\n", calls.load());
    if (n > 0 && write(fd, buf, static_cast<size_t>(n)) < 0) {
    }
    close(fd);
}

bool Fails() { return ++calls == fail_at; }

void* Get(std::size_t n) {
    if (Fails()) return nullptr;
    return std::malloc(n ? n : 1);
}

void* GetAligned(std::size_t n, std::align_val_t a) {
    if (Fails()) return nullptr;
    const std::size_t al = static_cast<std::size_t>(a) < sizeof(void*) ? sizeof(void*) : static_cast<std::size_t>(a);
    void* p = nullptr;
    return posix_memalign(&p, al, n ? n : 1) == 0 ? p : nullptr;
}

void* OrThrow(void* p) {
    if (!p) throw std::bad_alloc();
    return p;
}

}  // namespace

void* operator new(std::size_t n) { return OrThrow(Get(n)); }
void* operator new[](std::size_t n) { return OrThrow(Get(n)); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return Get(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return Get(n); }
void* operator new(std::size_t n, std::align_val_t a) { return OrThrow(GetAligned(n, a)); }
void* operator new[](std::size_t n, std::align_val_t a) { return OrThrow(GetAligned(n, a)); }
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept { return GetAligned(n, a); }
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept { return GetAligned(n, a); }

void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
