// Many calls in one process: after a warm-up, rounds of valid calls of all
// 23 script functions leave the number of host images and strings and the
// heap in use where they were (the script tests/scripts/stress_calls.s does
// the same through orvanhost, watched from outside).
#include <gtest/gtest.h>

#include <malloc.h>

#include <cstddef>

#include "tests/robustness/robust_fixture.h"

#if defined(__SANITIZE_ADDRESS__)
#define ORVAN_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORVAN_ASAN 1
#endif
#endif
#ifdef ORVAN_ASAN
#include <sanitizer/allocator_interface.h>
#endif

namespace {

// Bytes the allocator has handed out and not had back.
std::size_t HeapInUse() {
#ifdef ORVAN_ASAN
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

class ManyCalls : public robust::RobustFixture {
protected:
    void Round() {
        for (const robust::FunctionSpec& f : robust::Functions()) {
            const robust::Outcome o = RunChecked(f.name, [&] { return f.valid(kit); });
            ASSERT_EQ(o.kind, robust::OutcomeKind::Accepted) << f.name << ": " << o.results;
        }
    }
};

TEST_F(ManyCalls, HostObjectsAndHeapStaySteady) {
    for (int i = 0; i < 10; ++i) ASSERT_NO_FATAL_FAILURE(Round());
    const long images = orvanhost::Image::LiveCount(), strings = orvanhost::HostString::LiveCount();
    const std::size_t heap = HeapInUse();
    constexpr int kRounds = 100;
    for (int i = 0; i < kRounds; ++i) ASSERT_NO_FATAL_FAILURE(Round());
    EXPECT_EQ(orvanhost::Image::LiveCount(), images);
    EXPECT_EQ(orvanhost::HostString::LiveCount(), strings);
    // The host's own logs of key events grow by about 50 bytes a round (7 KB
    // here, with their vectors' spare room); anything a handler kept, even one
    // short profile a round, would grow it by more than the 16 KB allowed.
    EXPECT_LT(HeapInUse(), heap + 16 * 1024) << "heap grew from " << heap << " to " << HeapInUse();
}

}  // namespace
