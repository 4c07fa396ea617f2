#pragma once
// How many CPUs this process may keep busy: what the scheduler and the
// cgroup CPU controller allow, not the machine's count (a job pinned with
// taskset or by a batch scheduler would otherwise start threads that only
// take turns on its cores).

#include <string>

// CPUs in the calling thread's affinity mask; 0 when it cannot be read.
unsigned AffinityCpuCount();

// Whole CPUs the tightest cgroup CPU quota over the process's cgroup and its
// ancestors allows (quota / period, rounded up), from the unified hierarchy's
// cpu.max and the v1 cpu controller's cpu.cfs_quota_us and cpu.cfs_period_us;
// 0 where no quota is set or nothing can be read. Every path read is
// prefixed with `root` (tests give a made-up tree). Never throws.
unsigned CgroupCpuLimit(const std::string& root = "");

// The CPUs in the affinity mask (the machine's hardware threads where the
// mask cannot be read), no more than the cgroup quota allows, at least 1.
// The quota is read once per process, the mask on every call.
unsigned CpuBudget();
