// Powell's direction-set minimiser and its golden-section/Brent line minimiser.
#ifndef ORVAN_NUMERICS_POWELL_H
#define ORVAN_NUMERICS_POWELL_H

#include "numerics/minimize.h"

// Minimises a cost along one direction from a point. Owns nothing: the cost,
// the cost value, the point and the direction (n doubles each) are borrowed.
class LineMin {
public:
    // Thrown by value when Brent's search needs more than 100 iterations.
    class XIterationLimit {};

    LineMin(::Minimize* cost, double* fret, int n, double* p, double* xi);
    ~LineMin();

    // Cost at p + t * xi.
    double ValueAlong(double t);
    // Starting from a and b, returns a bracket a, b, c (b inner) with the
    // costs fa, fb, fc at its ends and centre.
    void Bracket(double& a, double& b, double& c, double& fa, double& fb, double& fc);
    // Brent's search inside the bracket (a, b, c); returns the smallest cost
    // and its position in tmin. Throws LineMin::XIterationLimit after 100
    // iterations.
    double BrentMinimum(double a, double b, double c, double& tmin);
    // Brackets and searches from t = 0, 1; then xi becomes the displacement
    // tmin * xi, p moves by it and *fret receives the cost there.
    void Minimize();

private:
    ::Minimize* cost_;
    double* fret_;
    int n_;
    double* p_;
    double* xi_;
};

// The direction-set search. The point p (n doubles), the direction matrix xi
// (n row pointers of n doubles; direction i is column i, updated in place),
// the iteration counter and the cost value are borrowed from the caller.
class Powell {
public:
    // Thrown by value when a sweep that did not converge ends with the
    // iteration counter above 100.
    class XIterationLimit {};

    Powell(double* p, double** xi, int n, double ftol, int* iter, double* fret, ::Minimize& cost);
    ~Powell();
    Powell(const Powell&) = delete;
    Powell& operator=(const Powell&) = delete;

    // Runs until ftol * (|fp| + |fret|) >= 2 |fp - fret| for one sweep.
    // Throws LineMin::XIterationLimit or Powell::XIterationLimit; p and xi
    // are then left as the interrupted search had them.
    void Minimize();

private:
    ::Minimize* cost_;
    int n_;
    int* iter_;
    double ftol_;
    double* fret_;
    double* p_;
    double** xi_;
    double* pt_;
    double* ptt_;
    double* xit_;
};

// Minimises cost from x (n doubles) with the direction matrix xi (n rows of n
// doubles, changed in place); x receives the minimum. Prints a status line
// "Status after %d function evaluations:\n " on standard output. Returns 0;
// the iteration-limit exceptions pass through to the caller. n < 1 returns 0
// at once.
int PowellMinimize(double* x, int n, double ftol, double** xi, Minimize& cost);

#endif
