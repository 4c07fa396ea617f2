#pragma once
// A few standard threads for loops whose results do not depend on how the work
// is split (each task writes only its own outputs, and every floating-point sum
// keeps its order inside one task).
//
// The calling thread runs task 0 itself; tasks 1 .. n-1 run on threads started
// for this call and joined before it returns, so a caller's data outlives them.
// Nothing here is shared between calls except the thread-count setting.

#include <cstdint>
#include <functional>

// Threads a loop may use: CpuBudget(), or the count set by
// SetWorkerThreadCount.
unsigned WorkerThreadCount();

// Fixes the thread count (0 restores the machine's); tests use it to compare
// several counts with the single-thread order. Not for use while a
// ParallelTasks call runs.
void SetWorkerThreadCount(unsigned n);

// How many tasks work of `items` units deserves: 1 below `min_per_task` units a
// task, at most WorkerThreadCount().
unsigned TaskCountFor(std::uint64_t items, std::uint64_t min_per_task);

// Runs task(0) .. task(n_tasks - 1), each exactly once, all of them finished on
// return. An exception from a task is rethrown here after every thread has
// been joined (the first one, by task index). If a thread cannot be started
// (whatever the failure: no thread left, no memory), no further one is tried
// and the calling thread runs the remaining tasks itself.
void ParallelTasks(unsigned n_tasks, const std::function<void(unsigned)>& task);
