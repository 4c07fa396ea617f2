#ifndef WORKBOOK_RK_CODEC_H
#define WORKBOOK_RK_CODEC_H

#include <cstdint>

namespace CompoundFiles {
namespace XlsBiff {

// RK values: the 32-bit number form of RK and MULRK cells.
//   bit 0     the stored number is 100 times the value
//   bit 1     bits 31..2 are a 30-bit signed integer; when clear they are
//             bits 63..34 of an IEEE 754 double whose low 34 bits are zero
// None of these functions fails; out-of-range inputs follow the truncation
// rule below rather than raising anything.
//
// "Truncating to 32 bits" here means conversion toward zero to int32, where
// a value outside the int32 range, or NaN, gives INT32_MIN (what the x86
// conversion instruction yields). Products of 32-bit integers wrap.

// True when bit 1 (integer form) is set.
bool IsRkInteger(std::uint32_t rk);
// True when bit 1 is clear (double form).
bool IsRkDouble(std::uint32_t rk);

// Decodes the double form; bit 1 is not consulted, so test IsRkInteger first.
// A scaled value is multiplied by 0.01.
double RkToDouble(std::uint32_t rk);

// Decodes the integer form; a scaled value is divided by 100 in double and
// truncated toward zero (0x25B, that is 150 scaled, gives 1).
std::int32_t RkToInteger(std::uint32_t rk);

// Encodes d in the double form, scaled by 100 when the integer parts of d and
// d*100 disagree. The low 34 bits of the (scaled) double are dropped without
// rounding, so the result is exact only when CanStoreAsRk(d) holds.
std::uint32_t DoubleToRk(double d);

// Encodes v in the integer form. Only the low 30 bits of v survive: values
// outside -2^29 .. 2^29-1 come back as a different number.
std::uint32_t IntegerToRk(std::int32_t v);

// True when d has no third or fourth decimal digit (as the doubles compute
// it) and DoubleToRk(d) decodes back to exactly the bits of d. Never true for
// NaN or infinities.
bool CanStoreAsRk(double d);

}  // namespace XlsBiff
}  // namespace CompoundFiles

#endif
