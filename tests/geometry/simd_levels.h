#pragma once
// Runs a bit-for-bit check at every packed level the processor has (AVX,
// SSE2, scalar), so that each form of the binning meets the same data; the
// level is given back to the machine's whichever way the check ends.

#include "geometry/bin_shares.h"

#include <gtest/gtest.h>

template <class Check>
void AtEverySimdLevel(const Check& check) {
    struct Restore {
        ~Restore() { SetSimdLevel(SimdLevel::Avx); }
    } restore;
    for (int level = static_cast<int>(AvailableSimdLevel()); level >= 0; --level) {
        SetSimdLevel(static_cast<SimdLevel>(level));
        const char* names[] = {"scalar", "SSE2", "AVX"};
        SCOPED_TRACE(testing::Message() << names[level] << " level");
        check();
    }
}
