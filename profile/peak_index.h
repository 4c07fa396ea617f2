#pragma once
// Float-to-index conversion for positions that may come from a script.

#include <climits>
#include <cmath>

namespace peak_detail {

// Truncates toward zero like a C cast, but values beyond the int range
// saturate and not-a-number gives 0, so no conversion is undefined.
inline int TruncToInt(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0) return INT_MAX;
    if (v <= -2147483648.0) return INT_MIN;
    return static_cast<int>(v);
}

// Index clipped into [0, size - 1]; size must be at least 1.
inline long long ClipIndex(long long i, long long size) { return i < 0 ? 0 : (i > size - 1 ? size - 1 : i); }

}  // namespace peak_detail
