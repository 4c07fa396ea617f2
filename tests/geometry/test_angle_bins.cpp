#include "geometry/angle_bins.h"

#include <gtest/gtest.h>

#include <cmath>

// Whenever a run of pixels gets one bin at once, each of its pixels has that
// bin by its own angle: runs across bin sides, across the zero angle, and
// offsets exactly on the axes.
TEST(AngleBins, RunBinsHoldForEveryPixel) {
    const float centres[][2] = {{0.37f, -0.21f}, {0.5f, 0.0f}, {0.0f, 0.0f}};
    for (std::int32_t n : {1, 2, 3, 17, 36, 360}) {
        const AngleBins bins(n, static_cast<float>(static_cast<double>(n) / (2.0 * M_PI)));
        int wrong = 0, decided = 0;
        for (const auto& c : centres) {
            for (int x = -150; x <= 150; x += 3) {
                const float dx = static_cast<float>(x) - c[0];
                for (int y0 = -160; y0 <= 150; y0 += 7) {
                    for (int len : {5, 32, 64}) {
                        const std::int64_t j = bins.SharedBy(dx, static_cast<float>(y0) - c[1], dx,
                                                             static_cast<float>(y0 + len - 1) - c[1]);
                        if (j < 0) continue;
                        ++decided;
                        for (int y = y0; y < y0 + len; ++y)
                            if (bins.Of(dx, static_cast<float>(y) - c[1]) != j && ++wrong <= 5)
                                ADD_FAILURE() << n << " bins, pixel (" << x << ", " << y << ") run from " << y0;
                    }
                }
            }
        }
        EXPECT_EQ(wrong, 0) << n << " bins";
        if (n >= 3)
            EXPECT_GT(decided, 1000) << n << " bins";
        else
            EXPECT_EQ(decided, 0) << n << " bins";
    }
}
