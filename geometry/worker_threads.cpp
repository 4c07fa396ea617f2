#include "geometry/worker_threads.h"

#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "geometry/cpu_budget.h"

namespace {
std::atomic<unsigned> fixed_count{0};
}  // namespace

unsigned WorkerThreadCount() {
    const unsigned n = fixed_count.load();
    return n ? n : CpuBudget();
}

void SetWorkerThreadCount(unsigned n) { fixed_count.store(n); }

unsigned TaskCountFor(std::uint64_t items, std::uint64_t min_per_task) {
    const std::uint64_t by_size = min_per_task ? items / min_per_task : items;
    const unsigned limit = WorkerThreadCount();
    if (by_size <= 1) return 1;
    return by_size < limit ? static_cast<unsigned>(by_size) : limit;
}

namespace {

// The exception of the lowest failed task index; kept without allocating, so
// that recording a failure cannot fail.
class FirstFailure {
public:
    void Keep(unsigned task) noexcept {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!error_ || task < task_) {
            task_ = task;
            error_ = std::current_exception();
        }
    }
    void Rethrow() const {
        if (error_) std::rethrow_exception(error_);
    }

private:
    std::mutex mutex_;
    unsigned task_ = 0;
    std::exception_ptr error_;
};

}  // namespace

void ParallelTasks(unsigned n_tasks, const std::function<void(unsigned)>& task) {
    if (n_tasks == 0) return;
    FirstFailure failure;
    auto run = [&](unsigned i) noexcept {
        try {
            task(i);
        } catch (...) {
            failure.Keep(i);
        }
    };
    // Tasks 1 .. started - 1 get threads. The first thread that cannot be
    // started (no memory for its state or stack, no thread left: whatever it
    // throws) ends the starting, and the calling thread takes the rest.
    std::vector<std::thread> threads;
    unsigned started = 1;
    try {
        threads.reserve(n_tasks - 1);
        for (; started < n_tasks; ++started) threads.emplace_back(run, started);
    } catch (...) {
    }
    run(0);
    for (unsigned i = started; i < n_tasks; ++i) run(i);
    for (auto& t : threads) t.join();
    failure.Rethrow();
}
