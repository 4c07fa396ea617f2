#include "geometry/worker_threads.h"
#include "tests/geometry/thread_count_guard.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

namespace {

TEST(WorkerThreads, EveryTaskRunsOnceAndErrorsReachTheCaller)
{
    ThreadCountGuard guard;
    for (unsigned n : {1u, 2u, 3u, 8u}) {
        std::vector<std::atomic<int>> hits(n);
        ParallelTasks(n, [&](unsigned i) { ++hits[i]; });
        for (unsigned i = 0; i < n; ++i)
            EXPECT_EQ(hits[i].load(), 1) << n << " tasks, task " << i;
    }
    std::atomic<int> finished{0};
    EXPECT_THROW(ParallelTasks(4,
                               [&](unsigned i) {
                                   if (i == 2)
                                       throw std::runtime_error("task 2");
                                   ++finished;
                               }),
                 std::runtime_error);
    EXPECT_EQ(finished.load(), 3);  // the others still ran and were joined
}

TEST(WorkerThreads, TaskCountFollowsSizeAndSetting)
{
    ThreadCountGuard guard;
    SetWorkerThreadCount(3);
    EXPECT_EQ(WorkerThreadCount(), 3u);
    EXPECT_EQ(TaskCountFor(10, 100), 1u);
    EXPECT_EQ(TaskCountFor(250, 100), 2u);
    EXPECT_EQ(TaskCountFor(1000000, 100), 3u);
    SetWorkerThreadCount(0);
    EXPECT_GE(WorkerThreadCount(), 1u);
}

}  // namespace
