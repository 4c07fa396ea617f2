// Downhill-simplex (Nelder-Mead) minimiser with a budget of 100 counted
// cost evaluations.
#ifndef ORVAN_NUMERICS_SIMPLEX_H
#define ORVAN_NUMERICS_SIMPLEX_H

#include "numerics/minimize.h"

// Minimises f from x (n doubles, caller-owned; n >= 1). x is first shifted by
// -step/2, and on return holds the lowest vertex found. step and tol hold n
// doubles each. Prints "Status after %d function evaluations:\n " on standard
// output. Always returns 0 (the budget ends the search like convergence);
// n < 1 returns 0 without evaluating or printing. Exceptions of f pass through
// (all work memory is released).
int SimplexMinimize(double* x, int n, const double* step, const double* tol, Minimize& f);

// Fills vertices (n + 1 rows of n doubles) from base and step and evaluates
// each vertex once into costs (n + 1 doubles).
void SimplexBuild(int n, const double* base, const double* step, Minimize& f, double** vertices, double* costs);

// Runs the search; on return row 0 of vertices is the lowest vertex and
// costs[0] its cost; evaluations receives the counted evaluations.
void SimplexIterate(double** vertices, double* costs, int n, const double* tol, Minimize& f, int& evaluations);

// Evaluates the point centroid * (1 - fac) + vertex h * fac (centroid of the
// other n vertices, from the column sums), replaces vertex h and updates sums
// when it is strictly better, and returns its cost.
double SimplexTry(double** vertices, double* costs, double* sums, int n, Minimize& f, int h, double fac);

#endif
