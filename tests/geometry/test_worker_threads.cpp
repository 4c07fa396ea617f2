#include "geometry/worker_threads.h"
#include "geometry/cpu_budget.h"
#include "tests/geometry/thread_count_guard.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

TEST(WorkerThreads, EveryTaskRunsOnceAndErrorsReachTheCaller) {
    ThreadCountGuard guard;
    for (unsigned n : {1u, 2u, 3u, 8u}) {
        std::vector<std::atomic<int>> hits(n);
        ParallelTasks(n, [&](unsigned i) { ++hits[i]; });
        for (unsigned i = 0; i < n; ++i) EXPECT_EQ(hits[i].load(), 1) << n << " tasks, task " << i;
    }
    std::atomic<int> finished{0};
    EXPECT_THROW(ParallelTasks(4,
                               [&](unsigned i) {
                                   if (i == 2) throw std::runtime_error("task 2");
                                   ++finished;
                               }),
                 std::runtime_error);
    EXPECT_EQ(finished.load(), 3);  // the others still ran and were joined
}

TEST(WorkerThreads, TaskCountFollowsSizeAndSetting) {
    ThreadCountGuard guard;
    SetWorkerThreadCount(3);
    EXPECT_EQ(WorkerThreadCount(), 3u);
    EXPECT_EQ(TaskCountFor(10, 100), 1u);
    EXPECT_EQ(TaskCountFor(250, 100), 2u);
    EXPECT_EQ(TaskCountFor(1000000, 100), 3u);
    SetWorkerThreadCount(0);
    EXPECT_GE(WorkerThreadCount(), 1u);
}

// Pinned to one CPU (taskset -c 0, a batch slot), no loop starts a thread.
TEST(WorkerThreads, CountFollowsTheAffinityMask) {
    cpu_set_t original;
    ASSERT_EQ(sched_getaffinity(0, sizeof original, &original), 0);
    struct Restore {
        cpu_set_t* mask;
        ~Restore() { sched_setaffinity(0, sizeof *mask, mask); }
    } restore{&original};
    std::vector<int> cpus;
    for (int c = 0; c < CPU_SETSIZE; ++c)
        if (CPU_ISSET(c, &original)) cpus.push_back(c);
    ASSERT_FALSE(cpus.empty());

    cpu_set_t mask;
    CPU_ZERO(&mask);
    CPU_SET(cpus[0], &mask);
    ASSERT_EQ(sched_setaffinity(0, sizeof mask, &mask), 0);
    EXPECT_EQ(WorkerThreadCount(), 1u);
    EXPECT_EQ(TaskCountFor(std::uint64_t{1} << 40, 1), 1u);

    const unsigned quota = CgroupCpuLimit();
    if (cpus.size() >= 2 && (quota == 0 || quota >= 2)) {
        CPU_SET(cpus[1], &mask);
        ASSERT_EQ(sched_setaffinity(0, sizeof mask, &mask), 0);
        EXPECT_EQ(WorkerThreadCount(), 2u);
    }
}

// A made-up /proc and cgroup tree: the tightest quota of the process's cgroup
// and its ancestors, in the unified and the v1 cpu hierarchy.
TEST(WorkerThreads, CgroupQuotaBoundsTheCount) {
    std::string root = testing::TempDir() + "cgroup_XXXXXX";
    ASSERT_NE(mkdtemp(root.data()), nullptr);
    namespace fs = std::filesystem;
    auto write = [&](const std::string& path, const std::string& text) {
        fs::create_directories(fs::path(root + path).parent_path());
        std::ofstream(root + path) << text;
    };
    EXPECT_EQ(CgroupCpuLimit(root), 0u);  // nothing to read: no quota

    write("/proc/self/cgroup", "4:memory:/elsewhere\n3:cpu,cpuacct:/batch/job7\n0::/user.slice/job\n");
    write("/proc/self/mountinfo",
          "30 20 0:26 / /sys/fs/cgroup/unified rw,relatime - cgroup2 cgroup2 rw\n"
          "31 20 0:27 / /sys/fs/cgroup/cpu rw,relatime shared:9 - cgroup cgroup rw,cpu,cpuacct\n"
          "32 20 0:28 / /sys/fs/cgroup/memory rw,relatime - cgroup cgroup rw,memory\n");
    const std::string v2 = "/sys/fs/cgroup/unified", v1 = "/sys/fs/cgroup/cpu";
    write(v2 + "/user.slice/job/cpu.max", "max 100000\n");
    write(v2 + "/user.slice/cpu.max", "max 100000\n");
    write(v1 + "/batch/job7/cpu.cfs_quota_us", "-1\n");
    write(v1 + "/batch/job7/cpu.cfs_period_us", "100000\n");
    write("/sys/fs/cgroup/memory/elsewhere/cpu.max", "100000 100000\n");  // not a cpu hierarchy
    EXPECT_EQ(CgroupCpuLimit(root), 0u);

    write(v2 + "/user.slice/job/cpu.max", "250000 100000\n");  // 2.5 CPUs keep 3 threads busy
    EXPECT_EQ(CgroupCpuLimit(root), 3u);
    write(v2 + "/user.slice/cpu.max", "150000 100000\n");  // a parent binds its children
    EXPECT_EQ(CgroupCpuLimit(root), 2u);
    write(v1 + "/batch/job7/cpu.cfs_quota_us", "50000\n");
    EXPECT_EQ(CgroupCpuLimit(root), 1u);

    // A container's view: the v1 mount shows the subtree /batch as its top.
    write("/proc/self/mountinfo", "31 20 0:27 /batch /sys/fs/cgroup/cpu rw,relatime - cgroup cgroup rw,cpu,cpuacct\n");
    EXPECT_EQ(CgroupCpuLimit(root), 0u);
    write(v1 + "/job7/cpu.cfs_quota_us", "400000\n");
    write(v1 + "/job7/cpu.cfs_period_us", "100000\n");
    EXPECT_EQ(CgroupCpuLimit(root), 4u);
    fs::remove_all(root);
}

}  // namespace
