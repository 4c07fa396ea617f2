#include "geometry/worker_threads.h"

#include <atomic>
#include <exception>
#include <system_error>
#include <thread>
#include <vector>

namespace {
std::atomic<unsigned> fixed_count{0};
}

unsigned WorkerThreadCount()
{
    const unsigned n = fixed_count.load();
    if (n)
        return n;
    const unsigned hw = std::thread::hardware_concurrency();
    return hw ? hw : 1;
}

void SetWorkerThreadCount(unsigned n) { fixed_count.store(n); }

unsigned TaskCountFor(std::uint64_t items, std::uint64_t min_per_task)
{
    const std::uint64_t by_size = min_per_task ? items / min_per_task : items;
    const unsigned limit = WorkerThreadCount();
    if (by_size <= 1)
        return 1;
    return by_size < limit ? static_cast<unsigned>(by_size) : limit;
}

void ParallelTasks(unsigned n_tasks, const std::function<void(unsigned)> &task)
{
    if (n_tasks == 0)
        return;
    std::vector<std::exception_ptr> errors(n_tasks);
    auto run = [&](unsigned i) {
        try {
            task(i);
        } catch (...) {
            errors[i] = std::current_exception();
        }
    };
    std::vector<std::thread> threads;
    std::vector<unsigned> inline_tasks;
    threads.reserve(n_tasks - 1);
    for (unsigned i = 1; i < n_tasks; ++i) {
        try {
            threads.emplace_back(run, i);
        } catch (const std::system_error &) {
            inline_tasks.push_back(i);
        }
    }
    run(0);
    for (unsigned i : inline_tasks)
        run(i);
    for (auto &t : threads)
        t.join();
    for (auto &e : errors)
        if (e)
            std::rethrow_exception(e);
}
