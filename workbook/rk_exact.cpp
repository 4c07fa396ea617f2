#include "workbook/rk_exact.h"

#include <cstring>

#include "workbook/rk_codec.h"

namespace CompoundFiles {

namespace {
std::uint64_t Bits(double d) {
    std::uint64_t u;
    std::memcpy(&u, &d, sizeof u);
    return u;
}
}  // namespace

double RkNumber(std::uint32_t rk) {
    const bool scaled = (rk & 1u) != 0;
    double value = XlsBiff::IsRkInteger(rk) ? static_cast<double>(static_cast<std::int32_t>(rk) >> 2)
                                            : XlsBiff::RkToDouble(rk & ~1u);
    return scaled ? value / 100.0 : value;
}

bool RkKeepsExactly(double d) {
    if (!XlsBiff::CanStoreAsRk(d)) return false;
    return Bits(RkNumber(XlsBiff::DoubleToRk(d))) == Bits(d);
}

}  // namespace CompoundFiles
