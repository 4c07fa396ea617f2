// RK numbers as spreadsheet readers take them: a scaled value is divided by
// 100 (RkToDouble multiplies by 0.01, which is one unit in the last place
// off for some values, 0.57 among them).
#ifndef WORKBOOK_RK_EXACT_H
#define WORKBOOK_RK_EXACT_H

#include <cstdint>

namespace CompoundFiles {

// The number an RK value stands for: the 30-bit integer or the 30-bit
// double, divided by 100 when bit 0 is set. Never fails.
double RkNumber(std::uint32_t rk);

// True when DoubleToRk(d) reads back as exactly the bits of d, both by
// RkNumber and by RkToDouble. False for NaN and infinities.
bool RkKeepsExactly(double d);

}  // namespace CompoundFiles

#endif
