#pragma once
// Tests that fix the worker-thread count give it back to the machine's when
// they end, whichever way they end.

#include "geometry/worker_threads.h"

struct ThreadCountGuard {
    ~ThreadCountGuard() { SetWorkerThreadCount(0); }
};
