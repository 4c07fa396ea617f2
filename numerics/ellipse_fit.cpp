#include "numerics/ellipse_fit.h"

#include <cmath>
#include <limits>
#include <utility>
#include <vector>

namespace {

constexpr int kDim = 7;           // storage size; indices 1 .. 6 are used
constexpr double kPi = 3.141592;  // the orientation uses this rounded value
constexpr double kPivotFloor = 1e-19;
constexpr int kJacobiSweeps = 50;

// Releases a row-pointer matrix when it goes out of scope.
class ScopedMatrix {
public:
    ScopedMatrix(int rows, int cols) : m_(CEllipseFit::AllocateMatrix(rows, cols)), rows_(rows), cols_(cols) {}
    ~ScopedMatrix() { CEllipseFit::FreeMatrix(m_, rows_, cols_); }
    ScopedMatrix(const ScopedMatrix&) = delete;
    ScopedMatrix& operator=(const ScopedMatrix&) = delete;
    double** get() const { return m_; }

private:
    double** m_;
    int rows_, cols_;
};

double SignedRoot(double value) { return value >= 0 ? std::sqrt(value) : -std::sqrt(-value); }

}  // namespace

double** CEllipseFit::AllocateMatrix(int rows, int cols) {
    double** m = new double*[rows]();
    try {
        for (int i = 0; i < rows; ++i) m[i] = new double[cols]();
    } catch (...) {
        FreeMatrix(m, rows, cols);
        throw;
    }
    return m;
}

void CEllipseFit::FreeMatrix(double** m, int rows, int) {
    if (m == nullptr) return;
    for (int i = 0; i < rows; ++i) delete[] m[i];
    delete[] m;
}

CEllipseFit::CEllipseFit()
    : scatter_(nullptr),
      constraint_(nullptr),
      temp_(nullptr),
      factor_(nullptr),
      product_(nullptr),
      inverse_(nullptr),
      eigenvectors_(nullptr),
      solution_(nullptr) {
    double*** all[] = {&scatter_, &constraint_, &temp_, &factor_, &product_, &inverse_, &eigenvectors_, &solution_};
    try {
        for (double*** m : all) *m = AllocateMatrix(kDim, kDim);
    } catch (...) {
        for (double*** m : all) FreeMatrix(*m, kDim, kDim);
        throw;
    }
    constraint_[1][3] = -2;
    constraint_[2][2] = 1;
    constraint_[3][1] = -2;
}

CEllipseFit::~CEllipseFit() {
    for (double** m : {scatter_, constraint_, temp_, factor_, product_, inverse_, eigenvectors_, solution_})
        FreeMatrix(m, kDim, kDim);
}

void CEllipseFit::Multiply(double** X, double** Y, double** Z, int rx, int cx, int, int cy) {
    for (int i = 1; i <= rx; ++i)
        for (int j = 1; j <= cy; ++j) {
            Z[i][j] = 0.0;
            for (int k = 1; k <= cx; ++k) Z[i][j] += X[i][k] * Y[k][j];
        }
}

void CEllipseFit::MultiplyTransposedLeft(double** X, double** Y, double** Z, int rx, int cx, int, int cy) {
    for (int i = 1; i <= cx; ++i)
        for (int j = 1; j <= cy; ++j) {
            Z[i][j] = 0.0;
            for (int k = 1; k <= rx; ++k) Z[i][j] += X[k][i] * Y[k][j];
        }
}

void CEllipseFit::MultiplyTransposedRight(double** X, double** Y, double** Z, int rx, int cx, int ry, int) {
    for (int i = 1; i <= rx; ++i)
        for (int j = 1; j <= ry; ++j) {
            Z[i][j] = 0.0;
            for (int k = 1; k <= cx; ++k) Z[i][j] += X[i][k] * Y[j][k];
        }
}

int CEllipseFit::Cholesky(double** a, int n, double** l) {
    std::vector<double> p(n + 1);
    for (int i = 1; i <= n; ++i) {
        for (int j = i; j <= n; ++j) {
            double sum = a[i][j];
            for (int k = i - 1; k >= 1; --k) sum -= a[i][k] * a[j][k];
            if (i == j) {
                // Without a positive pivot the factor does not exist.
                if (!(sum > 0)) return -1;
                p[i] = std::sqrt(sum);
            } else {
                a[j][i] = sum / p[i];
            }
        }
    }
    for (int i = 1; i <= n; ++i) {
        l[i][i] = p[i];
        for (int j = i + 1; j <= n; ++j) {
            l[j][i] = a[j][i];
            l[i][j] = 0.0;
        }
    }
    return 0;
}

int CEllipseFit::Inverse(double** a, double** inv, int n) {
    const int last = 2 * n + 1;
    ScopedMatrix work(n + 1, 2 * n + 2);
    double** w = work.get();
    for (int i = 1; i <= n; ++i) {
        for (int j = 1; j <= n; ++j) w[i][j] = a[i][j];
        w[i][n + 1 + i] = 1.0;
    }
    for (int k = 1; k <= n; ++k) {
        int pivot_row = k;
        double largest = std::fabs(w[k][k]);
        for (int i = k + 1; i <= n; ++i)
            if (std::fabs(w[i][k]) > largest) {
                largest = std::fabs(w[i][k]);
                pivot_row = i;
            }
        if (!(largest >= kPivotFloor)) return -1;
        if (pivot_row != k)
            for (int j = k; j <= last; ++j) std::swap(w[pivot_row][j], w[k][j]);
        for (int j = last; j >= k; --j) w[k][j] /= w[k][k];
        for (int i = 1; i <= n; ++i) {
            if (i == k) continue;
            for (int j = last; j >= k; --j) w[i][j] -= w[i][k] * w[k][j];
        }
    }
    for (int i = 1; i <= n; ++i)
        for (int j = 1; j <= n; ++j) inv[i][j] = w[i][n + 1 + j];
    return 0;
}

void CEllipseFit::JacobiRotate(double** a, int i, int j, int k, int l, double tau, double s) {
    double g = a[i][j];
    double h = a[k][l];
    a[i][j] = g - s * (h + g * tau);
    a[k][l] = h + s * (g - h * tau);
}

void CEllipseFit::Jacobi(double** a, int n, double* d, double** v) {
    std::vector<double> b(n + 1), z(n + 1);
    for (int i = 1; i <= n; ++i) {
        for (int j = 1; j <= n; ++j) v[i][j] = 0.0;
        v[i][i] = 1.0;
        b[i] = d[i] = a[i][i];
        z[i] = 0.0;
    }
    for (int sweep = 1; sweep <= kJacobiSweeps; ++sweep) {
        double sm = 0.0;
        for (int p = 1; p < n; ++p)
            for (int q = p + 1; q <= n; ++q) sm += std::fabs(a[p][q]);
        if (sm == 0.0) return;
        double threshold = sweep < 4 ? 0.2 * sm / (n * n) : 0.0;
        for (int p = 1; p < n; ++p) {
            for (int q = p + 1; q <= n; ++q) {
                double g = 100.0 * std::fabs(a[p][q]);
                if (sweep > 4 && std::fabs(d[p]) + g == std::fabs(d[p]) && std::fabs(d[q]) + g == std::fabs(d[q])) {
                    a[p][q] = 0.0;
                } else if (std::fabs(a[p][q]) > threshold) {
                    double h = d[q] - d[p];
                    double t;
                    if (std::fabs(h) + g == std::fabs(h)) {
                        t = a[p][q] / h;
                    } else {
                        double theta = 0.5 * h / a[p][q];
                        t = 1.0 / (std::fabs(theta) + std::sqrt(1.0 + theta * theta));
                        if (theta < 0.0) t = -t;
                    }
                    double c = 1.0 / std::sqrt(1 + t * t);
                    double s = t * c;
                    double tau = s / (1.0 + c);
                    h = t * a[p][q];
                    z[p] -= h;
                    z[q] += h;
                    d[p] -= h;
                    d[q] += h;
                    a[p][q] = 0.0;
                    for (int j = 1; j < p; ++j) JacobiRotate(a, j, p, j, q, tau, s);
                    for (int j = p + 1; j < q; ++j) JacobiRotate(a, p, j, j, q, tau, s);
                    for (int j = q + 1; j <= n; ++j) JacobiRotate(a, p, j, q, j, tau, s);
                    for (int j = 1; j <= n; ++j) JacobiRotate(v, j, p, j, q, tau, s);
                }
            }
        }
        for (int i = 1; i <= n; ++i) {
            b[i] += z[i];
            d[i] = b[i];
            z[i] = 0.0;
        }
    }
}

void CEllipseFit::Fit(int n, const double* x, const double* y, double* out) {
    if (n < 6) {
        out[0] = -1.0;
        return;
    }
    const double nan = std::numeric_limits<double>::quiet_NaN();
    ScopedMatrix design(n + 1, kDim);
    double** D = design.get();
    for (int i = 1; i <= n; ++i) {
        double xi = x[i - 1], yi = y[i - 1];
        D[i][1] = xi * xi;
        D[i][2] = xi * yi;
        D[i][3] = yi * yi;
        D[i][4] = xi;
        D[i][5] = yi;
        D[i][6] = 1.0;
    }
    MultiplyTransposedLeft(D, D, scatter_, n, 6, n, 6);

    // A set that fixes no ellipse gives not-a-number rather than values left
    // over from an earlier fit.
    if (Cholesky(scatter_, 6, factor_) != 0 || Inverse(factor_, inverse_, 6) != 0) {
        for (int i = 0; i < 5; ++i) out[i] = nan;
        return;
    }
    MultiplyTransposedRight(constraint_, inverse_, temp_, 6, 6, 6, 6);
    Multiply(inverse_, temp_, product_, 6, 6, 6, 6);

    double d[kDim] = {0.0};
    Jacobi(product_, 6, d, eigenvectors_);
    MultiplyTransposedLeft(inverse_, eigenvectors_, solution_, 6, 6, 6, 6);
    for (int j = 1; j <= 6; ++j) {
        double sum = 0.0;
        for (int i = 1; i <= 6; ++i) sum += solution_[i][j] * solution_[i][j];
        double norm = std::sqrt(sum);
        for (int i = 1; i <= 6; ++i) solution_[i][j] /= norm;
    }
    int k = 0;
    for (int j = 1; j <= 6; ++j)
        if (d[j] < 0 && std::fabs(d[j]) > kPivotFloor) k = j;
    if (k == 0) {
        for (int i = 0; i < 5; ++i) out[i] = nan;
        return;
    }
    double a = solution_[1][k], b = solution_[2][k], c = solution_[3][k];
    double dd = solution_[4][k], e = solution_[5][k], f = solution_[6][k];

    double theta = (a != c) ? 0.5 * std::atan(b / (a - c)) : 0.25 * kPi;
    double co = std::cos(theta), si = std::sin(theta);
    double Ao = f;
    double Au = dd * co + e * si;
    double Av = -dd * si + e * co;
    double Auu = a * co * co + c * si * si + b * si * co;
    double Avv = a * si * si + c * co * co - b * si * co;

    double tu = -Au / (2 * Auu);
    double tv = -Av / (2 * Avv);
    double w = Ao - Auu * tu * tu - Avv * tv * tv;
    double u = tu * co - tv * si;
    double v = tu * si + tv * co;

    double Ru = SignedRoot(-w / Auu);
    double Rv = SignedRoot(-w / Avv);
    if (Rv > Ru) {
        std::swap(Ru, Rv);
        theta += kPi / 2.0;
    }
    out[0] = u;
    out[1] = v;
    out[2] = Ru;
    out[3] = Rv;
    out[4] = theta;
}
