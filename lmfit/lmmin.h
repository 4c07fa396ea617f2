// Levenberg-Marquardt least-squares minimiser with the lmmin calling
// convention, written over cminpack's lmdif (the same MINPACK algorithm).
#ifndef ORVAN_LMFIT_LMMIN_H
#define ORVAN_LMFIT_LMMIN_H

#include <cstdio>

// Settings of one minimisation. Copy lm_control_double and change fields.
struct lm_control_struct {
    double ftol;       // relative reduction of the sum of squares that counts as converged
    double xtol;       // relative change of the parameters that counts as converged
    double gtol;       // orthogonality of residuals and Jacobian columns that counts as stuck
    double epsilon;    // relative step of the forward-difference Jacobian
    double stepbound;  // initial bound on the scaled step
    int patience;      // at most patience * (n_par + 1) evaluations
    int scale_diag;    // 1: scale the parameters automatically; 0: unscaled
    FILE* msgfile;     // trace destination; null means standard output
    int verbosity;     // > 0: write a short trace per iteration
    int n_maxpri;      // trace shows at most this many parameters (-1: all)
    int m_maxpri;      // trace shows at most this many residuals (-1: none shown)
};

// Result of one minimisation.
struct lm_status_struct {
    double fnorm;   // Euclidean norm of the residual vector at the returned parameters
    int nfev;       // number of evaluations made
    int outcome;    // index into lm_infmsg (0 .. 12)
    int userbreak;  // set when the evaluation raised the user-break flag
};

// ftol = xtol = gtol = epsilon = 30 * DBL_EPSILON, stepbound 100, patience 100,
// scale_diag 1, msgfile null, verbosity 0, n_maxpri -1, m_maxpri -1.
extern const lm_control_struct lm_control_double;

// One text per outcome code, lm_infmsg[0] .. lm_infmsg[12]:
//  0 sum of squares below the double underflow limit (an exact fit)
//  1 converged: relative reduction of the sum of squares within ftol
//  2 converged: relative change of the parameters within xtol
//  3 converged: both of the above
//  4 trapped by degeneracy (residuals orthogonal to the Jacobian within gtol)
//  5 evaluation budget (patience) exhausted
//  6, 7, 8 ftol, xtol, gtol too small to make further progress
//  9 out of memory
// 10 improper input (n_par < 1, m_dat < n_par, null pointers, bad control values)
// 11 stopped by the user-break flag
// 12 a residual was not finite
extern const char* lm_infmsg[];
constexpr int lm_outcome_count = 13;

// Evaluation callback: writes the m_dat residuals for the parameters par into
// fvec; may set *userbreak non-zero to stop the fit.
typedef void (*lm_evaluate_ftype)(const double* par, int m_dat, const void* data, double* fvec, int* userbreak);

// Minimises the sum of squares of the residuals that evaluate produces.
// par (n_par doubles, caller-owned) holds the start on entry and the result on
// return: the last accepted point of a normal end, or the best point evaluated
// when the fit stops early (outcomes 0, 5 by budget, 11, 12); it is unchanged
// when no finite evaluation was made. Failures are reported only through
// status->outcome (see lm_infmsg); nothing is thrown by lmmin itself, but an
// exception thrown by evaluate stops the fit and is rethrown to the caller
// (par then holds the best point evaluated before it). control may be null
// (lm_control_double is used); status may be null (the result is dropped).
void lmmin(int n_par, double* par, int m_dat, const void* data, lm_evaluate_ftype evaluate,
           const lm_control_struct* control, lm_status_struct* status);

#endif
