#include "workbook/rk_codec.h"

#include <cstring>

namespace CompoundFiles {
namespace XlsBiff {

namespace {

// Toward zero; out of range and NaN give INT32_MIN, as the hardware does.
std::int32_t Truncate32(double d) {
    if (d > -2147483649.0 && d < 2147483648.0) return static_cast<std::int32_t>(d);
    return INT32_MIN;
}

// 32-bit product that wraps instead of overflowing.
std::int32_t WrapMul(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}

std::uint64_t Bits(double d) {
    std::uint64_t u;
    std::memcpy(&u, &d, sizeof u);
    return u;
}

double FromBits(std::uint64_t u) {
    double d;
    std::memcpy(&d, &u, sizeof d);
    return d;
}

// Arithmetic shift right by 2 of the RK value read as signed.
std::int32_t Payload(std::uint32_t rk) {
    std::int32_t v = static_cast<std::int32_t>(rk);
    // Division would round toward zero; shift semantics are wanted.
    return v >= 0 ? v >> 2 : ~(~v >> 2);
}

}  // namespace

bool IsRkInteger(std::uint32_t rk) { return (rk & 2u) != 0; }

bool IsRkDouble(std::uint32_t rk) { return (rk & 2u) == 0; }

double RkToDouble(std::uint32_t rk) {
    std::int64_t v = Payload(rk);
    double d = FromBits(static_cast<std::uint64_t>(v) << 34);
    if (rk & 1u) d *= 0.01;
    return d;
}

std::int32_t RkToInteger(std::uint32_t rk) {
    std::int32_t v = Payload(rk);
    if (rk & 1u) v = Truncate32(v * 0.01);
    return v;
}

std::uint32_t DoubleToRk(double d) {
    std::int32_t a = WrapMul(Truncate32(d), 100);
    std::int32_t b = Truncate32(d * 100.0);
    std::uint32_t scaled = 0;
    if (a != b) {
        d *= 100.0;
        scaled = 1;
    }
    std::uint32_t high = static_cast<std::uint32_t>(Bits(d) >> 32);
    return (high & ~3u) | scaled;
}

std::uint32_t IntegerToRk(std::int32_t v) { return (static_cast<std::uint32_t>(v) << 2) | 2u; }

bool CanStoreAsRk(double d) {
    bool decimals = WrapMul(Truncate32(d * 100.0), 100) == Truncate32(d * 10000.0);
    if (!decimals) return false;
    // The decimal test alone passes values whose mantissa needs more than the
    // 30 bits an RK keeps (123456.78, 0.5 + 2^-40); those would be stored
    // rounded, so they must go out as NUMBER instead.
    return Bits(RkToDouble(DoubleToRk(d))) == Bits(d);
}

}  // namespace XlsBiff
}  // namespace CompoundFiles
