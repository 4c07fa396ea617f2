#include "numerics/powell.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>
#include <vector>

namespace {

constexpr double kGold = 1.618034;      // golden ratio of the bracket expansion
constexpr double kGrowthLimit = 100.0;  // largest parabolic step, in bracket widths
constexpr double kTiny = 1e-20;         // keeps the parabola's denominator off zero
constexpr double kGoldSection = 0.381966;
constexpr double kBrentTol = 2e-4;
constexpr double kBrentFloor = 1e-10;
constexpr int kIterationLimit = 100;

// |a| with the sign of b; a zero b counts as positive.
double WithSign(double a, double b) { return b >= 0.0 ? std::fabs(a) : -std::fabs(a); }

}  // namespace

LineMin::LineMin(::Minimize* cost, double* fret, int n, double* p, double* xi)
    : cost_(cost), fret_(fret), n_(n), p_(p), xi_(xi) {}

LineMin::~LineMin() {}

double LineMin::ValueAlong(double t) {
    std::vector<double> q(n_);
    for (int j = 0; j < n_; ++j) q[j] = p_[j] + t * xi_[j];
    return cost_->Evaluate(q.data(), n_);
}

void LineMin::Bracket(double& a, double& b, double& c, double& fa, double& fb, double& fc) {
    fa = ValueAlong(a);
    fb = ValueAlong(b);
    if (fb > fa) {
        std::swap(a, b);
        std::swap(fa, fb);
    }
    c = b + kGold * (b - a);
    fc = ValueAlong(c);
    while (fb > fc) {
        double r = (b - a) * (fc - fb);
        double q = (c - b) * (fb - fa);
        double s = WithSign(std::max(std::fabs(r - q), kTiny), r - q);
        double u = ((a + b) * r - (b + c) * q) / (2.0 * s);
        double ulim = b + kGrowthLimit * (c - b);
        double fu;
        if ((b - u) * (u - c) > 0.0) {
            fu = ValueAlong(u);
            if (fu < fc) {
                a = b;
                b = u;
                fa = fb;
                fb = fu;
                return;
            } else if (fu > fb) {
                c = u;
                fc = fu;
                return;
            }
            u = c + kGold * (c - b);
            fu = ValueAlong(u);
        } else if ((c - u) * (u - ulim) > 0.0) {
            fu = ValueAlong(u);
            if (fu < fc) {
                b = c;
                c = u;
                u = c + kGold * (c - b);
                fb = fc;
                fc = fu;
                fu = ValueAlong(u);
            }
        } else if ((u - ulim) * (ulim - c) >= 0.0) {
            u = ulim;
            fu = ValueAlong(u);
        } else {
            u = c + kGold * (c - b);
            fu = ValueAlong(u);
        }
        a = b;
        b = c;
        c = u;
        fa = fb;
        fb = fc;
        fc = fu;
    }
}

double LineMin::BrentMinimum(double a, double b, double c, double& tmin) {
    double lo = std::min(a, c), hi = std::max(a, c);
    double x = b, w = b, v = b;
    double fx = ValueAlong(b), fw = fx, fv = fx;
    double d = 0.0, e = 0.0;
    for (int iteration = 1;; ++iteration) {
        if (iteration > kIterationLimit) throw XIterationLimit();
        double xm = 0.5 * (lo + hi);
        double tol1 = kBrentTol * std::fabs(x) + kBrentFloor;
        double tol2 = 2.0 * tol1;
        if (std::fabs(x - xm) <= tol2 - 0.5 * (hi - lo)) {
            tmin = x;
            return fx;
        }
        bool golden = true;
        if (std::fabs(e) > tol1) {
            double r = (x - w) * (fx - fv);
            double q = (x - v) * (fx - fw);
            double p = (x - v) * q - (x - w) * r;
            q = 2.0 * (q - r);
            if (q > 0.0) p = -p;
            q = std::fabs(q);
            double etemp = e;
            e = d;
            if (!(std::fabs(p) >= std::fabs(0.5 * q * etemp) || p <= q * (lo - x) || p >= q * (hi - x))) {
                golden = false;
                d = p / q;
                double u = x + d;
                if (u - lo < tol2 || hi - u < tol2) d = WithSign(tol1, xm - x);
            }
        }
        if (golden) {
            e = (x >= xm) ? lo - x : hi - x;
            d = kGoldSection * e;
        }
        double u = (std::fabs(d) >= tol1) ? x + d : x + WithSign(tol1, d);
        double fu = ValueAlong(u);
        if (fu <= fx) {
            if (u >= x)
                lo = x;
            else
                hi = x;
            v = w;
            w = x;
            x = u;
            fv = fw;
            fw = fx;
            fx = fu;
        } else {
            if (u < x)
                lo = u;
            else
                hi = u;
            if (fu <= fw || w == x) {
                v = w;
                w = u;
                fv = fw;
                fw = fu;
            } else if (fu <= fv || v == x || v == w) {
                v = u;
                fv = fu;
            }
        }
    }
}

void LineMin::Minimize() {
    double a = 0.0, b = 1.0, c = 0.0, fa = 0.0, fb = 0.0, fc = 0.0;
    Bracket(a, b, c, fa, fb, fc);
    double tmin = 0.0;
    *fret_ = BrentMinimum(a, b, c, tmin);
    for (int j = 0; j < n_; ++j) {
        xi_[j] = xi_[j] * tmin;
        p_[j] = p_[j] + xi_[j];
    }
}

Powell::Powell(double* p, double** xi, int n, double ftol, int* iter, double* fret, ::Minimize& cost)
    : cost_(&cost), n_(n), iter_(iter), ftol_(ftol), fret_(fret), p_(p), xi_(xi) {
    // One block for the three work vectors, so a failed allocation leaks nothing.
    size_t len = static_cast<size_t>(n > 0 ? n : 0) + 1;
    pt_ = new double[3 * len]();
    ptt_ = pt_ + len;
    xit_ = ptt_ + len;
}

Powell::~Powell() { delete[] pt_; }

void Powell::Minimize() {
    const int n = n_;
    *fret_ = cost_->Evaluate(p_, n);
    for (int j = 0; j < n; ++j) pt_[j] = p_[j];
    *iter_ = 1;
    for (;;) {
        double fp = *fret_;
        int big = 0;
        double del = 0.0;
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j) xit_[j] = xi_[j][i];
            double before = *fret_;
            LineMin(cost_, fret_, n, p_, xit_).Minimize();
            if (std::fabs(before - *fret_) > del) {
                del = std::fabs(before - *fret_);
                big = i;
            }
        }
        if (ftol_ * (std::fabs(fp) + std::fabs(*fret_)) >= 2.0 * std::fabs(fp - *fret_)) return;
        if (*iter_ > kIterationLimit) throw XIterationLimit();
        for (int j = 0; j < n; ++j) {
            ptt_[j] = 2.0 * p_[j] - pt_[j];
            xit_[j] = p_[j] - pt_[j];
            pt_[j] = p_[j];
        }
        double fptt = cost_->Evaluate(ptt_, n);
        if (fptt < fp) {
            double fret = *fret_;
            double rest = fp - fret - del;
            double drop = fp - fptt;
            double t = 2.0 * (fp - 2.0 * fret + fptt) * (rest * rest) - del * (drop * drop);
            if (t < 0.0) {
                LineMin(cost_, fret_, n, p_, xit_).Minimize();
                for (int j = 0; j < n; ++j) {
                    xi_[j][big] = xi_[j][n - 1];
                    xi_[j][n - 1] = xit_[j];
                }
            }
        }
        *iter_ = *iter_ + 1;
    }
}

int PowellMinimize(double* x, int n, double ftol, double** xi, Minimize& cost) {
    if (n < 1) return 0;
    int iter = 0;
    double fret = 0.0;
    {
        Powell powell(x, xi, n, ftol, &iter, &fret, cost);
        powell.Minimize();
    }
    // No cost evaluations are counted; the number shown is the number of
    // sweeps begun (the iteration counter, starting at 1).
    std::printf("Status after %d function evaluations:\n ", iter);
    return 0;
}
