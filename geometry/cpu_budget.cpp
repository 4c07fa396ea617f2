#include "geometry/cpu_budget.h"

#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// Whole CPUs a quota of `quota` per `period` allows, rounded up (a quota of
// 1.5 CPUs keeps two threads busy part of the time); 0 for no quota.
unsigned QuotaCpus(long long quota, long long period) {
    if (quota <= 0 || period <= 0) return 0;
    const long long cpus = quota / period + (quota % period != 0);
    return static_cast<unsigned>(std::min<long long>(cpus, std::numeric_limits<unsigned>::max()));
}

bool ReadLine(const std::string& path, std::string& line) {
    std::ifstream in(path);
    return static_cast<bool>(std::getline(in, line));
}

// cgroup v2: cpu.max holds "max PERIOD" or "QUOTA PERIOD".
unsigned V2Limit(const std::string& dir) {
    std::string line;
    if (!ReadLine(dir + "/cpu.max", line)) return 0;
    std::istringstream fields(line);
    std::string quota;
    long long period = 0;
    if (!(fields >> quota >> period) || quota == "max") return 0;
    return QuotaCpus(std::atoll(quota.c_str()), period);
}

// cgroup v1: cpu.cfs_quota_us (-1 for none) over cpu.cfs_period_us.
unsigned V1Limit(const std::string& dir) {
    std::string quota, period;
    if (!ReadLine(dir + "/cpu.cfs_quota_us", quota) || !ReadLine(dir + "/cpu.cfs_period_us", period)) return 0;
    return QuotaCpus(std::atoll(quota.c_str()), std::atoll(period.c_str()));
}

// The smaller of two limits, 0 meaning none.
unsigned Tighter(unsigned a, unsigned b) {
    if (a == 0) return b;
    return b == 0 ? a : std::min(a, b);
}

// The tightest limit over a cgroup and its ancestors up to the mount's root:
// a parent's quota binds every child.
unsigned LimitUpTheTree(const std::string& mount, std::string path, unsigned (*limit)(const std::string&)) {
    unsigned tightest = 0;
    for (;;) {
        tightest = Tighter(tightest, limit(mount + path));
        const std::size_t slash = path.find_last_of('/');
        if (path.empty() || slash == std::string::npos) return tightest;
        path.erase(slash);
    }
}

bool HasOption(const std::string& list, const std::string& option) {
    std::istringstream items(list);
    std::string item;
    while (std::getline(items, item, ','))
        if (item == option) return true;
    return false;
}

struct Hierarchy {
    bool v2;
    std::string path;  // the process's cgroup in it, as /proc/self/cgroup names it
};

// The hierarchies that can hold a CPU quota: the unified one ("0::/path")
// and the v1 one whose controllers include cpu.
std::vector<Hierarchy> CpuHierarchies(const std::string& root) {
    std::vector<Hierarchy> found;
    std::ifstream in(root + "/proc/self/cgroup");
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t a = line.find(':'), b = line.find(':', a + 1);
        if (a == std::string::npos || b == std::string::npos) continue;
        const std::string id = line.substr(0, a), controllers = line.substr(a + 1, b - a - 1);
        if (id == "0" && controllers.empty())
            found.push_back({true, line.substr(b + 1)});
        else if (HasOption(controllers, "cpu"))
            found.push_back({false, line.substr(b + 1)});
    }
    return found;
}

// The limit of one hierarchy, from each of its mounts (mountinfo fields:
// id, parent, device, root, mount point, options, optional fields, "-",
// type, source, super options).
unsigned HierarchyLimit(const std::string& root, const Hierarchy& h) {
    unsigned tightest = 0;
    std::ifstream in(root + "/proc/self/mountinfo");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::vector<std::string> f;
        for (std::string field; fields >> field;) f.push_back(field);
        const auto dash = std::find(f.begin(), f.end(), "-");
        if (f.size() < 5 || f.end() - dash < 4) continue;
        const std::string &type = dash[1], &options = dash[3];
        if (h.v2 ? type != "cgroup2" : (type != "cgroup" || !HasOption(options, "cpu"))) continue;
        // A mount of a subtree (a container's view) names the cgroup
        // relative to that subtree; outside it only the mount's own top
        // can be read.
        const std::string& mount_root = f[3];
        std::string path = h.path;
        if (mount_root != "/") {
            if (path.compare(0, mount_root.size(), mount_root) == 0)
                path.erase(0, mount_root.size());
            else
                path.clear();
        }
        if (!path.empty() && path.back() == '/') path.pop_back();
        tightest = Tighter(tightest, LimitUpTheTree(root + f[4], path, h.v2 ? V2Limit : V1Limit));
    }
    return tightest;
}

}  // namespace

unsigned CgroupCpuLimit(const std::string& root) {
    try {
        unsigned tightest = 0;
        for (const Hierarchy& h : CpuHierarchies(root)) tightest = Tighter(tightest, HierarchyLimit(root, h));
        return tightest;
    } catch (...) {
        return 0;  // what cannot be read sets no limit
    }
}

unsigned AffinityCpuCount() {
    for (int n = CPU_SETSIZE; n <= (1 << 20); n *= 2) {
        cpu_set_t* set = CPU_ALLOC(n);
        if (!set) return 0;
        const std::size_t size = CPU_ALLOC_SIZE(n);
        CPU_ZERO_S(size, set);
        const int rc = sched_getaffinity(0, size, set);
        const int error = errno;
        const int count = rc == 0 ? CPU_COUNT_S(size, set) : 0;
        CPU_FREE(set);
        if (rc == 0) return static_cast<unsigned>(count);
        if (error != EINVAL) return 0;
    }
    return 0;
}

unsigned CpuBudget() {
    // A quota is read once: it hardly changes while a process runs, and the
    // loops ask for the count on every call.
    static const unsigned quota = CgroupCpuLimit();
    unsigned cpus = AffinityCpuCount();
    if (cpus == 0) cpus = std::thread::hardware_concurrency();
    cpus = Tighter(cpus, quota);
    return cpus ? cpus : 1;
}
