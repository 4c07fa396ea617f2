// Whole numbers from the floats a script passes.
#pragma once

#include <climits>
#include <cstdint>

namespace orvan {

// Truncated toward zero; not-a-number and values outside the 32-bit range
// give INT_MIN, as the processor's own conversion would, without the
// undefined behaviour of converting them in C++.
inline std::int32_t TruncateScriptNumber(float v) {
    const double d = v;
    if (!(d > -2147483649.0 && d < 2147483648.0)) return INT_MIN;
    return static_cast<std::int32_t>(d);
}

}  // namespace orvan
