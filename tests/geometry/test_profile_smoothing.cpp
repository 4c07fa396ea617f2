#include "geometry/profile_smoothing.h"

#include <gtest/gtest.h>

TEST(Smoothing, TriangleKernels) {
    const arma::vec k0 = TriangleKernel(0);
    ASSERT_EQ(k0.n_elem, 1u);
    EXPECT_EQ(k0[0], 1.0);
    const arma::vec k2 = TriangleKernel(2);
    const double expected[5] = {1, 2, 3, 2, 1};
    ASSERT_EQ(k2.n_elem, 5u);
    for (int j = 0; j < 5; ++j) EXPECT_DOUBLE_EQ(k2[j], expected[j] / 9.0);

    const arma::vec p{4, 0, 9, 1, 3, 7};
    const arma::vec same = SmoothProfile(p, k0, 0);
    EXPECT_TRUE(arma::approx_equal(same, p, "absdiff", 0.0));
    const arma::vec sm = SmoothProfile(p, k2, 2);
    ASSERT_EQ(sm.n_elem, 6u);
    EXPECT_NEAR(sm[2], (4 * 1 + 0 * 2 + 9 * 3 + 1 * 2 + 3 * 1) / 9.0, 1e-12);
    EXPECT_NEAR(sm[0], (4 * 3 + 0 * 2 + 9 * 1) / 9.0, 1e-12);  // zeros beyond the end

    // Without the zeros: the ends average what the kernel reaches of p, the
    // rest is the same bits.
    const arma::vec inside = SmoothProfileInside(p, k2, 2);
    ASSERT_EQ(inside.n_elem, 6u);
    EXPECT_NEAR(inside[0], (4 * 3 + 0 * 2 + 9 * 1) / 6.0, 1e-12);
    EXPECT_NEAR(inside[1], (4 * 2 + 0 * 3 + 9 * 2 + 1 * 1) / 8.0, 1e-12);
    EXPECT_NEAR(inside[5], (1 * 1 + 3 * 2 + 7 * 3) / 6.0, 1e-12);
    EXPECT_EQ(inside[2], sm[2]);
    EXPECT_EQ(inside[3], sm[3]);
    const arma::vec wide = SmoothProfileInside(arma::vec{2, 2, 2}, TriangleKernel(5), 5);
    EXPECT_TRUE(arma::approx_equal(wide, arma::vec{2, 2, 2}, "absdiff", 1e-12));
}
