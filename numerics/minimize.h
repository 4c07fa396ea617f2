// Cost-function interface of the derivative-free minimisers.
#ifndef ORVAN_NUMERICS_MINIMIZE_H
#define ORVAN_NUMERICS_MINIMIZE_H

// A cost function of a parameter vector; smaller is better. Cost objects are
// built and destroyed by their concrete type (there is deliberately no virtual
// destructor); a minimiser only borrows one.
class Minimize {
public:
    // Cost of x (borrowed, read only). n is the length of x as far as the
    // caller knows it: the simplex passes 0, so implementations take their
    // parameter count from their own construction. Exceptions thrown here pass
    // through the minimisers to their callers. The base cost is 0.0 everywhere.
    virtual double Evaluate(const double* x, int n);
};

#endif
