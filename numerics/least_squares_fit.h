// Least-squares fit driver over the Levenberg-Marquardt minimiser lmmin.
#ifndef ORVAN_NUMERICS_LEAST_SQUARES_FIT_H
#define ORVAN_NUMERICS_LEAST_SQUARES_FIT_H

#include <string>

class LeastSquaresFit {
public:
    // Vector model: writes the model value at each of the m_dat abscissae t
    // into out (m_dat doubles, owned by the driver's caller through lmmin).
    typedef void (*VectorModel)(int n_par, const double* par, int m_dat, const double* t, double* out);
    // Scalar model: the model value at one abscissa.
    typedef double (*ScalarModel)(int n_par, const double* par, double t);

    // Method "lmfit", tolerance 0.0001f, max_iter 500, verbose 1, no data.
    LeastSquaresFit();
    // The defaults, then the data and the model. t and y (m_dat doubles each)
    // are borrowed: the caller keeps them alive until every fit has returned.
    LeastSquaresFit(int m_dat, const double* t, const double* y, VectorModel model);
    LeastSquaresFit(int m_dat, const double* t, const double* y, ScalarModel scalar_model);

    void SetMethod(std::string method);
    // Stored narrowed to float; lmmin receives it widened back as ftol.
    void SetTolerance(double tolerance);
    void SetMaxIter(int max_iter);
    void SetVerbose(int verbose);

    // Fits the vector model; residuals are rounded to float, and lmmin's
    // difference step is sized for that precision (epsilon FLT_EPSILON). par (n_par
    // doubles) holds the start on entry and lmmin's result on return.
    // Returns 0 when lmmin reports a converged or exact fit (outcome < 4),
    // -1 otherwise; -1 without output or change of par for a method other
    // than "lmfit" or when no vector model was given. With verbose set it
    // prints "Fitting using ..." and "Status after ..." on standard output.
    // An exception thrown by the model passes through to the caller.
    int Fit(int n_par, double* par);
    // As Fit with the scalar model; residuals stay in double, and so does
    // lmmin's default epsilon.
    int FitScalar(int n_par, double* par);
    // As Fit inside [lower, upper] (n_par doubles each, borrowed): the model
    // sees lower + (upper - lower) * (sin(par) + 1) / 2; afterwards par is
    // clamped into [lower, upper].
    int FitBounded(int n_par, double* par, const double* lower, const double* upper);
    // lmmin's outcome code of the last fit (an index into lm_infmsg; 5 is a
    // spent evaluation budget), or -1 before any fit and after a fit refused
    // before lmmin ran.
    int LastOutcome() const { return last_outcome_; }

    // lmmin evaluation callbacks; data is the LeastSquaresFit object.
    static void ResidualsVector(const double* par, int m_dat, const void* data, double* fvec, int* userbreak);
    static void ResidualsScalar(const double* par, int m_dat, const void* data, double* fvec, int* userbreak);
    static void ResidualsBounded(const double* par, int m_dat, const void* data, double* fvec, int* userbreak);

private:
    std::string method_;
    float tolerance_;
    int max_iter_;
    int verbose_;
    int m_dat_;
    const double* t_;
    const double* y_;
    int n_par_;
    ScalarModel scalar_model_;
    const double* lower_;
    const double* upper_;
    VectorModel model_;
    int last_outcome_ = -1;
};

#endif
