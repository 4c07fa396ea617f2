#include "numerics/simplex.h"

#include <cmath>
#include <cstdio>
#include <utility>
#include <vector>

namespace {

constexpr int kBudget = 100;
constexpr double kReflect = -1.0;
constexpr double kExpand = 2.0;
constexpr double kContract = 0.5;
constexpr double kShrink = 0.5;

void ColumnSums(double** vertices, int n, double* sums) {
    for (int j = 0; j < n; ++j) {
        double s = 0.0;
        for (int i = 0; i <= n; ++i) s += vertices[i][j];
        sums[j] = s;
    }
}

void MoveToFront(double** vertices, double* costs, int n, int lo) {
    std::swap(costs[0], costs[lo]);
    for (int j = 0; j < n; ++j) std::swap(vertices[0][j], vertices[lo][j]);
}

}  // namespace

// The cost functions are told no length (n = 0): they know their own size.
void SimplexBuild(int n, const double* base, const double* step, Minimize& f, double** vertices, double* costs) {
    for (int i = 0; i <= n; ++i)
        for (int j = 0; j < n; ++j) vertices[i][j] = base[j] + (i == j ? step[j] : 0.0);
    for (int i = 0; i <= n; ++i) costs[i] = f.Evaluate(vertices[i], 0);
}

double SimplexTry(double** vertices, double* costs, double* sums, int n, Minimize& f, int h, double fac) {
    std::vector<double> trial(n);
    double fac1 = (1.0 - fac) / n;
    double fac2 = fac1 - fac;
    for (int j = 0; j < n; ++j) trial[j] = sums[j] * fac1 - vertices[h][j] * fac2;
    double c = f.Evaluate(trial.data(), 0);
    if (c < costs[h]) {
        costs[h] = c;
        for (int j = 0; j < n; ++j) {
            sums[j] += trial[j] - vertices[h][j];
            vertices[h][j] = trial[j];
        }
    }
    return c;
}

void SimplexIterate(double** vertices, double* costs, int n, const double* tol, Minimize& f, int& evaluations) {
    std::vector<double> sums(n);
    evaluations = 0;
    ColumnSums(vertices, n, sums.data());
    for (;;) {
        int lo = 0, hi, nh;
        if (costs[0] > costs[1]) {
            hi = 0;
            nh = 1;
        } else {
            hi = 1;
            nh = 0;
        }
        for (int i = 0; i <= n; ++i) {
            if (costs[i] <= costs[lo]) lo = i;
            if (costs[i] > costs[hi]) {
                nh = hi;
                hi = i;
            } else if (costs[i] > costs[nh] && i != hi) {
                nh = i;
            }
        }

        bool converged = true;
        for (int j = 0; j < n; ++j)
            if (!(std::fabs(vertices[hi][j] - vertices[lo][j]) <= tol[j])) converged = false;
        if (converged || evaluations >= kBudget) {
            MoveToFront(vertices, costs, n, lo);
            return;
        }

        evaluations += 2;
        double r = SimplexTry(vertices, costs, sums.data(), n, f, hi, kReflect);
        if (r <= costs[lo]) {
            SimplexTry(vertices, costs, sums.data(), n, f, hi, kExpand);
        } else if (r >= costs[nh]) {
            double s = costs[hi];
            double c = SimplexTry(vertices, costs, sums.data(), n, f, hi, kContract);
            if (c >= s) {
                for (int i = 0; i <= n; ++i) {
                    if (i == lo) continue;
                    for (int j = 0; j < n; ++j) vertices[i][j] = kShrink * (vertices[i][j] + vertices[lo][j]);
                    costs[i] = f.Evaluate(vertices[i], 0);
                }
                evaluations += n;
                ColumnSums(vertices, n, sums.data());
            }
        } else {
            evaluations -= 1;  // a reflection alone counts once
        }
    }
}

int SimplexMinimize(double* x, int n, const double* step, const double* tol, Minimize& f) {
    if (n < 1) return 0;
    std::vector<std::vector<double>> storage(n + 1, std::vector<double>(n));
    std::vector<double*> vertices(n + 1);
    for (int i = 0; i <= n; ++i) vertices[i] = storage[i].data();
    std::vector<double> costs(n + 1);

    for (int j = 0; j < n; ++j) x[j] = x[j] - step[j] / 2.0;
    SimplexBuild(n, x, step, f, vertices.data(), costs.data());
    int evaluations = 0;
    SimplexIterate(vertices.data(), costs.data(), n, tol, f, evaluations);
    for (int j = 0; j < n; ++j) x[j] = vertices[0][j];

    std::printf("Status after %d function evaluations:\n ", evaluations);
    return 0;
}
