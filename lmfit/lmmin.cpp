#include "lmfit/lmmin.h"

#include <cminpack-1/cminpack.h>

#include <cfloat>
#include <algorithm>
#include <climits>
#include <cmath>
#include <exception>
#include <limits>
#include <new>
#include <vector>

const lm_control_struct lm_control_double = {
    30 * DBL_EPSILON, 30 * DBL_EPSILON, 30 * DBL_EPSILON, 30 * DBL_EPSILON, 100.0, 100, 1, nullptr, 0, -1, -1};

const char* lm_infmsg[] = {
    "exact fit: sum of squares below the underflow limit",
    "converged: relative reduction of the sum of squares within ftol",
    "converged: relative change of the parameters within xtol",
    "converged: sum of squares and parameters both within tolerance",
    "trapped by degeneracy: residuals orthogonal to the Jacobian",
    "exhausted: evaluation budget (patience) used up",
    "failed: ftol too small, the sum of squares cannot shrink further",
    "failed: xtol too small, the parameters cannot improve further",
    "failed: gtol too small, the parameters cannot improve further",
    "failed: out of memory",
    "failed: improper input",
    "stopped by the user-break flag",
    "stopped: a residual is not finite",
};

namespace {

constexpr int kNotStopped = -1;

// Euclidean norm that neither overflows nor underflows for finite input.
double Norm(const double* v, int m) {
    double scale = 0.0;
    for (int i = 0; i < m; ++i) scale = std::fmax(scale, std::fabs(v[i]));
    if (scale == 0.0) return 0.0;
    double sum = 0.0;
    for (int i = 0; i < m; ++i) {
        double q = v[i] / scale;
        sum += q * q;
    }
    return scale * std::sqrt(sum);
}

struct Run {
    int n_par;
    int m_dat;
    const void* data;
    lm_evaluate_ftype evaluate;
    int maxfev;
    FILE* out;
    int verbosity;
    int n_maxpri;
    int m_maxpri;

    int nfev = 0;
    int iteration = 0;
    int stop = kNotStopped;  // outcome decided here rather than by lmdif
    bool userbreak = false;
    std::exception_ptr error;
    // lmdif leaves a perturbed parameter behind when it is stopped inside its
    // Jacobian, so an early stop reports the best point evaluated instead.
    std::vector<double> best;
    double best_norm = std::numeric_limits<double>::infinity();
    bool have_best = false;

    void Trace(const double* x, const double* fvec) {
        ++iteration;
        std::fprintf(out, "lmmin iteration %d: sum of squares %.10g, parameters", iteration,
                     std::pow(Norm(fvec, m_dat), 2));
        int np = n_maxpri < 0 ? n_par : std::min(n_maxpri, n_par);
        for (int j = 0; j < np; ++j) std::fprintf(out, " %.10g", x[j]);
        if (np < n_par) std::fprintf(out, " ...");
        std::fprintf(out, "\n");
        if (m_maxpri > 0) {
            int mp = std::min(m_maxpri, m_dat);
            std::fprintf(out, "  residuals");
            for (int i = 0; i < mp; ++i) std::fprintf(out, " %.6g", fvec[i]);
            if (mp < m_dat) std::fprintf(out, " ...");
            std::fprintf(out, "\n");
        }
    }
};

int Evaluate(void* p, int m, int n, const double* x, double* fvec, int iflag) {
    Run& run = *static_cast<Run*>(p);
    if (iflag == 0) {
        if (run.stop == kNotStopped && run.verbosity > 0) run.Trace(x, fvec);
        return 0;
    }
    if (run.stop != kNotStopped) return -1;
    if (run.nfev >= run.maxfev) {
        run.stop = 5;
        return -1;
    }
    ++run.nfev;
    int userbreak = 0;
    try {
        run.evaluate(x, m, run.data, fvec, &userbreak);
    } catch (...) {
        // C frames of lmdif must not be unwound; the error is rethrown later.
        run.error = std::current_exception();
        run.stop = 11;
        return -1;
    }
    if (userbreak) {
        run.userbreak = true;
        run.stop = 11;
        return -1;
    }
    for (int i = 0; i < m; ++i) {
        if (!std::isfinite(fvec[i])) {
            run.stop = 12;
            return -1;
        }
    }
    double norm = Norm(fvec, m);
    if (norm < run.best_norm) {
        run.best.assign(x, x + n);
        run.best_norm = norm;
        run.have_best = true;
    }
    if (norm * norm < DBL_MIN) {
        run.stop = 0;
        return -1;
    }
    return 0;
}

bool ImproperInput(int n_par, const double* par, int m_dat, lm_evaluate_ftype evaluate, const lm_control_struct& c) {
    return n_par < 1 || m_dat < n_par || par == nullptr || evaluate == nullptr || !(c.ftol >= 0) || !(c.xtol >= 0) ||
           !(c.gtol >= 0) || !(c.epsilon >= 0) || !(c.stepbound > 0) || c.patience < 1 ||
           (c.scale_diag != 0 && c.scale_diag != 1);
}

}  // namespace

void lmmin(int n_par, double* par, int m_dat, const void* data, lm_evaluate_ftype evaluate,
           const lm_control_struct* control, lm_status_struct* status) {
    lm_status_struct dropped;
    lm_status_struct& S = status ? *status : dropped;
    const lm_control_struct& C = control ? *control : lm_control_double;
    S.fnorm = std::numeric_limits<double>::quiet_NaN();
    S.nfev = 0;
    S.userbreak = 0;
    FILE* out = C.msgfile ? C.msgfile : stdout;

    if (ImproperInput(n_par, par, m_dat, evaluate, C)) {
        S.outcome = 10;
        if (C.verbosity > 0) std::fprintf(out, "lmmin: %s\n", lm_infmsg[10]);
        return;
    }

    long long budget = static_cast<long long>(C.patience) * (n_par + 1LL);
    Run run;
    run.n_par = n_par;
    run.m_dat = m_dat;
    run.data = data;
    run.evaluate = evaluate;
    run.maxfev = budget > INT_MAX ? INT_MAX : static_cast<int>(budget);
    run.out = out;
    run.verbosity = C.verbosity;
    run.n_maxpri = C.n_maxpri;
    run.m_maxpri = C.m_maxpri;

    std::vector<double> x, fvec, fjac, diag, qtf, wa1, wa2, wa3, wa4;
    std::vector<int> ipvt;
    try {
        x.assign(par, par + n_par);
        fvec.assign(m_dat, 0.0);
        fjac.assign(static_cast<size_t>(m_dat) * static_cast<size_t>(n_par), 0.0);
        diag.assign(n_par, 1.0);
        qtf.assign(n_par, 0.0);
        wa1.assign(n_par, 0.0);
        wa2.assign(n_par, 0.0);
        wa3.assign(n_par, 0.0);
        wa4.assign(m_dat, 0.0);
        ipvt.assign(n_par, 0);
        run.best.reserve(n_par);
    } catch (const std::bad_alloc&) {
        S.outcome = 9;
        if (C.verbosity > 0) std::fprintf(out, "lmmin: %s\n", lm_infmsg[9]);
        return;
    }

    if (C.verbosity > 0)
        std::fprintf(out, "lmmin: %d parameters, %d residuals, at most %d evaluations\n", n_par, m_dat, run.maxfev);

    int mode = C.scale_diag == 1 ? 1 : 2;
    int lmdif_nfev = 0;
    int info = lmdif(Evaluate, &run, m_dat, n_par, x.data(), fvec.data(), C.ftol, C.xtol, C.gtol, run.maxfev, C.epsilon,
                     diag.data(), mode, C.stepbound, C.verbosity > 0 ? 1 : 0, &lmdif_nfev, fjac.data(), m_dat,
                     ipvt.data(), qtf.data(), wa1.data(), wa2.data(), wa3.data(), wa4.data());

    S.nfev = run.nfev;
    S.userbreak = run.userbreak ? 1 : 0;
    if (run.stop != kNotStopped) {
        S.outcome = run.stop;
        if (run.have_best) {
            for (int j = 0; j < n_par; ++j) par[j] = run.best[j];
            S.fnorm = run.best_norm;
        }
    } else {
        // lmdif reports improper input as 0; ours was checked above.
        S.outcome = (info >= 1 && info <= 8) ? info : 10;
        for (int j = 0; j < n_par; ++j) par[j] = x[j];
        S.fnorm = Norm(fvec.data(), m_dat);
    }
    if (C.verbosity > 0)
        std::fprintf(out, "lmmin: %s after %d evaluations, norm of residuals %.10g\n", lm_infmsg[S.outcome], S.nfev,
                     S.fnorm);
    if (run.error) std::rethrow_exception(run.error);
}
