#include "numerics/simplex.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Records every trial; cost is a bowl around (cx, cy), or constant.
class Recorder : public Minimize {
public:
    double cx = 0, cy = 0;
    bool flat = false;
    int throw_at = -1;
    std::vector<std::vector<double>> seen;
    std::vector<double> costs;
    double Evaluate(const double* x, int n) override {
        EXPECT_EQ(n, 0);
        if (static_cast<int>(seen.size()) == throw_at) throw std::runtime_error("cost failed");
        seen.push_back({x[0], x[1]});
        double c = flat ? 7.0 : (x[0] - cx) * (x[0] - cx) + 2.0 * (x[1] - cy) * (x[1] - cy);
        costs.push_back(c);
        return c;
    }
};

std::string Minimise(Recorder& f, double* x, const double* step, const double* tol) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(SimplexMinimize(x, 2, step, tol, f), 0);
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

TEST(SimplexTest, StartVerticesAndConvergenceOnBowl) {
    Recorder f;
    f.cx = 97.0;
    f.cy = 103.0;
    double x[2] = {100.0, 100.0}, step[2] = {10.0, 10.0}, tol[2] = {0.01, 0.01};
    std::string out = Minimise(f, x, step, tol);
    ASSERT_GE(f.seen.size(), 3u);
    EXPECT_EQ(f.seen[0], (std::vector<double>{105.0, 95.0}));
    EXPECT_EQ(f.seen[1], (std::vector<double>{95.0, 105.0}));
    EXPECT_EQ(f.seen[2], (std::vector<double>{95.0, 95.0}));
    EXPECT_NEAR(x[0], 97.0, 0.05);
    EXPECT_NEAR(x[1], 103.0, 0.05);
    int counted = -1;
    ASSERT_EQ(std::sscanf(out.c_str(), "Status after %d function evaluations:", &counted), 1);
    EXPECT_LT(counted, 100);  // ended by the tolerance, not the budget
    EXPECT_EQ(out.substr(out.size() - 3), ":\n ");
}

TEST(SimplexTest, ConstantCostEndsAtBudgetOnShiftedStart) {
    Recorder f;
    f.flat = true;
    double x[2] = {100.0, 100.0}, step[2] = {10.0, 10.0}, tol[2] = {0.5, 0.5};
    std::string out = Minimise(f, x, step, tol);
    EXPECT_EQ(out, "Status after 100 function evaluations:\n ");
    EXPECT_EQ(f.seen.size(), 103u);  // 3 uncounted + 50 reflect-and-expand pairs
    EXPECT_EQ(x[0], 95.0);
    EXPECT_EQ(x[1], 95.0);

    // The base cost function behaves the same way.
    Minimize zero;
    double z[2] = {100.0, 100.0};
    testing::internal::CaptureStdout();
    SimplexMinimize(z, 2, step, tol, zero);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Status after 100 function evaluations:\n ");
    EXPECT_EQ(z[0], 95.0);
    EXPECT_EQ(z[1], 95.0);
}

TEST(SimplexTest, BudgetEndKeepsLowestVertex) {
    Recorder f;
    f.cx = 3.0;
    f.cy = -1.0;
    double x[2] = {0.0, 0.0}, step[2] = {1.0, 1.0}, tol[2] = {0.0, 0.0};
    std::string out = Minimise(f, x, step, tol);
    int counted = -1;
    ASSERT_EQ(std::sscanf(out.c_str(), "Status after %d function evaluations:", &counted), 1);
    EXPECT_GE(counted, 100);
    EXPECT_LE(counted, 103);
    double best = std::numeric_limits<double>::infinity();
    for (double c : f.costs) best = std::min(best, c);
    double at_x = (x[0] - 3.0) * (x[0] - 3.0) + 2.0 * (x[1] + 1.0) * (x[1] + 1.0);
    EXPECT_EQ(at_x, best);
}

TEST(SimplexTest, CostExceptionPassesThrough) {
    Recorder f;
    f.throw_at = 10;
    double x[2] = {0.0, 0.0}, step[2] = {1.0, 1.0}, tol[2] = {0.0, 0.0};
    EXPECT_THROW(SimplexMinimize(x, 2, step, tol, f), std::runtime_error);
}

}  // namespace
