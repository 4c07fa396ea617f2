#pragma once
// Conversions from floating point to integers that truncate toward zero like a
// C cast, but stay defined for values the cast cannot represent.

#include <cmath>
#include <cstdint>
#include <limits>

// Truncation toward zero; not-a-number gives 0, values beyond the range
// saturate at its ends.
inline std::int32_t TruncToInt32(double v) {
    if (!(v == v)) return 0;
    if (v >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
    if (v <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(v);
}

// Same rule over the 64-bit range.
inline std::int64_t TruncToInt64(double v) {
    if (!(v == v)) return 0;
    if (v >= 9.2e18) return std::numeric_limits<std::int64_t>::max();
    if (v <= -9.2e18) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(v);
}
