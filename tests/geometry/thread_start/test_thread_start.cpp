// ParallelTasks when threads cannot be started: this program's operator new
// fails at the N-th allocation once it is armed, and every N of a call is
// tried in turn (the vector of threads, then each thread's start).
#include "geometry/worker_threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <new>
#include <vector>

namespace {
// Above 0: the allocation that brings it to 0 fails.
std::atomic<long> countdown{0};
}  // namespace

void* operator new(std::size_t n) {
    if (countdown.load() > 0 && countdown.fetch_sub(1) == 1) throw std::bad_alloc();
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
// GCC takes free() here for a mismatch with the operator new it sees inlined.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpragmas"
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace {

constexpr unsigned kTasks = 8;

// A task's failure that needs no allocation of its own.
struct TaskFailed {};

// Runs ParallelTasks with the n-th allocation failing; true when that
// allocation was reached.
bool RunFailingAt(long n, const std::function<void(unsigned)>& task) {
    countdown = n;
    try {
        ParallelTasks(kTasks, task);
    } catch (...) {
        countdown = 0;
        throw;
    }
    return countdown.exchange(0) == 0;
}

TEST(ThreadStart, TasksOfThreadsThatCannotStartRunOnTheCaller) {
    std::vector<std::atomic<int>> hits(kTasks);
    const std::function<void(unsigned)> count = [&](unsigned i) { ++hits[i]; };
    long failures = 0;
    for (long n = 1;; ++n) {
        for (auto& h : hits) h = 0;
        bool failed = false;
        ASSERT_NO_THROW(failed = RunFailingAt(n, count)) << "allocation " << n;
        for (unsigned i = 0; i < kTasks; ++i) EXPECT_EQ(hits[i].load(), 1) << "allocation " << n << ", task " << i;
        if (!failed) break;
        ++failures;
    }
    // The vector and seven thread starts at least were made to fail.
    EXPECT_GE(failures, static_cast<long>(kTasks));
}

TEST(ThreadStart, AFailingTaskStillReachesTheCaller) {
    std::vector<std::atomic<int>> hits(kTasks);
    const std::function<void(unsigned)> fail5 = [&](unsigned i) {
        ++hits[i];
        if (i == 5) throw TaskFailed{};
    };
    for (long n = 1; n <= 2 * static_cast<long>(kTasks); ++n) {
        for (auto& h : hits) h = 0;
        EXPECT_THROW(RunFailingAt(n, fail5), TaskFailed) << "allocation " << n;
        for (unsigned i = 0; i < kTasks; ++i) EXPECT_EQ(hits[i].load(), 1) << "allocation " << n << ", task " << i;
    }
}

}  // namespace
