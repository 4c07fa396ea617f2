#include "workbook/rk_codec.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

using namespace CompoundFiles::XlsBiff;

namespace {

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

std::uint32_t High(double d) { return static_cast<std::uint32_t>(Bits(d) >> 32); }

}  // namespace

TEST(RkCodec, DoubleFormExamples) {
    // 1.5 is not whole, so it is stored as 150.0 with the scale bit.
    EXPECT_EQ(DoubleToRk(1.5), High(150.0) | 1u);
    EXPECT_EQ(DoubleToRk(1.5), 0x4062C001u);
    EXPECT_EQ(RkToDouble(DoubleToRk(1.5)), 1.5);
    EXPECT_TRUE(IsRkDouble(DoubleToRk(1.5)));

    EXPECT_EQ(DoubleToRk(2.0), High(2.0));
    EXPECT_EQ(DoubleToRk(2.0) & 3u, 0u);
    EXPECT_EQ(RkToDouble(DoubleToRk(2.0)), 2.0);

    std::uint32_t neg = DoubleToRk(-3.25);
    EXPECT_EQ(neg, High(-325.0) | 1u);
    EXPECT_NE(neg & 0x80000000u, 0u);
    EXPECT_EQ(RkToDouble(neg), -3.25);

    // Only 30 bits of the scaled value survive, without rounding.
    std::uint32_t lossy = DoubleToRk(1234.5678);
    EXPECT_EQ(lossy & 1u, 1u);
    EXPECT_DOUBLE_EQ(RkToDouble(lossy), 1234.5675);
    EXPECT_FALSE(CanStoreAsRk(1234.5678));
}

TEST(RkCodec, IntegerForm) {
    EXPECT_EQ(IntegerToRk(5), 0x16u);
    EXPECT_EQ(IntegerToRk(-1), 0xFFFFFFFEu);
    EXPECT_TRUE(IsRkInteger(IntegerToRk(-1)));
    EXPECT_EQ(RkToInteger(IntegerToRk(-1)), -1);
    EXPECT_EQ(RkToInteger(IntegerToRk(-(1 << 29))), -(1 << 29));
    EXPECT_EQ(RkToInteger(IntegerToRk((1 << 29) - 1)), (1 << 29) - 1);
    // 150 with the scale bit: 1.5 truncated.
    EXPECT_EQ(RkToInteger(0x25B), 1);
    EXPECT_EQ(RkToInteger(IntegerToRk(-150) | 1u), -1);
    // Outside 30 bits the top bits are lost.
    EXPECT_NE(RkToInteger(IntegerToRk(1 << 29)), 1 << 29);
}

TEST(RkCodec, WrappingAndTruncationRules) {
    // 2e7: 2e7*100 = 2e9 still fits in int32, so no scaling.
    EXPECT_EQ(DoubleToRk(2.0e7), High(2.0e7));
    // 3e7: the int product wraps and d*100 is out of range (INT32_MIN), so
    // they disagree and the value is scaled.
    EXPECT_EQ(DoubleToRk(3.0e7), (High(3.0e9) & ~3u) | 1u);
    // 1e10: both sides are INT32_MIN-derived but differ (0 after wrapping
    // INT32_MIN*100 against INT32_MIN), so scaled too.
    EXPECT_EQ(DoubleToRk(1.0e10), (High(1.0e12) & ~3u) | 1u);
    // -0.0 keeps its sign bit and is not scaled.
    EXPECT_EQ(DoubleToRk(-0.0), 0x80000000u);
    EXPECT_EQ(Bits(RkToDouble(0x80000000u)), Bits(-0.0));
}

TEST(RkCodec, CanStoreAsRkExamples) {
    EXPECT_TRUE(CanStoreAsRk(1.25));
    EXPECT_FALSE(CanStoreAsRk(0.125));
    EXPECT_TRUE(CanStoreAsRk(0.0));
    EXPECT_TRUE(CanStoreAsRk(-0.0));
    EXPECT_TRUE(CanStoreAsRk(1.5));
    EXPECT_TRUE(CanStoreAsRk(-3.25));
    EXPECT_FALSE(CanStoreAsRk(std::numeric_limits<double>::quiet_NaN()));
    EXPECT_FALSE(CanStoreAsRk(std::numeric_limits<double>::infinity()));
    EXPECT_FALSE(CanStoreAsRk(-std::numeric_limits<double>::infinity()));
    EXPECT_FALSE(CanStoreAsRk(DBL_MAX));
    // Two decimals, but more mantissa than an RK holds: must not be claimed.
    EXPECT_FALSE(CanStoreAsRk(123456.78));
    EXPECT_FALSE(CanStoreAsRk(0.5 + std::ldexp(1.0, -40)));
}

TEST(RkCodec, WholeNumbersInRangeAreStorable) {
    // Whole numbers are never scaled and need at most 18 bits of mantissa
    // here, so every one must be accepted and come back unchanged.
    for (int n = -214748; n <= 214748; ++n) {
        double d = n;
        ASSERT_TRUE(CanStoreAsRk(d)) << n;
        ASSERT_EQ(RkToDouble(DoubleToRk(d)), d) << n;
    }
}

TEST(RkCodec, AcceptedValuesRoundTripExactly) {
    std::mt19937_64 rng(20240611);
    std::vector<double> values = {0.0,
                                  -0.0,
                                  DBL_MIN,
                                  -DBL_MIN,
                                  DBL_TRUE_MIN,
                                  -DBL_TRUE_MIN,
                                  DBL_MAX,
                                  -DBL_MAX,
                                  FromBits(0x0000000400000000ull),  // subnormal that fits the 30 kept bits
                                  FromBits(0x000FFFFFFFFFFFFFull),
                                  1e-300,
                                  1e300,
                                  0.01,
                                  0.07,
                                  0.29,
                                  99.99,
                                  std::numeric_limits<double>::infinity(),
                                  std::numeric_limits<double>::quiet_NaN()};
    // Arbitrary bit patterns: every class of double, subnormals included.
    for (int i = 0; i < 200000; ++i) values.push_back(FromBits(rng()));
    // Patterns with only the 30 kept bits: these encode without loss.
    for (int i = 0; i < 100000; ++i) values.push_back(FromBits(rng() & 0xFFFFFFFC00000000ull));
    // Decimals with up to two places across magnitudes, the common case.
    std::uniform_int_distribution<std::int64_t> cents(-100000000, 100000000);
    for (int i = 0; i < 200000; ++i) values.push_back(static_cast<double>(cents(rng)) / 100.0);
    std::uniform_real_distribution<double> wide(-1e6, 1e6);
    for (int i = 0; i < 100000; ++i) values.push_back(wide(rng));

    std::size_t accepted = 0, acceptedScaled = 0;
    for (double d : values) {
        if (!CanStoreAsRk(d)) continue;
        ++accepted;
        std::uint32_t rk = DoubleToRk(d);
        ASSERT_TRUE(IsRkDouble(rk));
        ASSERT_EQ(Bits(RkToDouble(rk)), Bits(d)) << std::hexfloat << d;
        if (rk & 1u) ++acceptedScaled;
    }
    // Both the plain and the scaled form must be in use for real data.
    EXPECT_GT(accepted, 20000u);
    EXPECT_GT(acceptedScaled, 1000u);
}
