// Direct least-squares ellipse fit (Fitzgibbon, Pilu and Fisher), with small
// 1-based dense matrices (indices 1 .. 6 of a 7 x 7 row-pointer storage).
#ifndef ORVAN_NUMERICS_ELLIPSE_FIT_H
#define ORVAN_NUMERICS_ELLIPSE_FIT_H

class CEllipseFit {
public:
    CEllipseFit();
    virtual ~CEllipseFit();
    CEllipseFit(const CEllipseFit&) = delete;
    CEllipseFit& operator=(const CEllipseFit&) = delete;

    // Fits an ellipse to the n points (x[i], y[i]) and writes out[0 .. 4] =
    // centre x, centre y, first and second semi-axis (first >= second), angle
    // of the first axis in radians (between -pi/4 and 3pi/4). n < 6: only
    // out[0] = -1.0 is written. Points that fix no ellipse (a scatter matrix
    // that is not positive definite, a singular factor, no negative
    // eigenvalue) give not-a-number in out[0 .. 4]. Throws std::bad_alloc
    // when the design matrix cannot be allocated.
    void Fit(int n, const double* x, const double* y, double* out);

    // rows arrays of cols doubles, zero-filled, and their row-pointer array;
    // released by FreeMatrix. Throws std::bad_alloc.
    static double** AllocateMatrix(int rows, int cols);
    static void FreeMatrix(double** m, int rows, int cols);
    // Z = X Y over indices 1 ..: Z[i][j] = sum_k=1..cx X[i][k] Y[k][j].
    static void Multiply(double** X, double** Y, double** Z, int rx, int cx, int ry, int cy);
    // Z = X^T Y: Z[i][j] = sum_k=1..rx X[k][i] Y[k][j], i <= cx, j <= cy.
    static void MultiplyTransposedLeft(double** X, double** Y, double** Z, int rx, int cx, int ry, int cy);
    // Z = X Y^T: Z[i][j] = sum_k=1..cx X[i][k] Y[j][k], i <= rx, j <= ry.
    static void MultiplyTransposedRight(double** X, double** Y, double** Z, int rx, int cx, int ry, int cy);
    // Lower Cholesky factor l of the symmetric a (its lower triangle is
    // overwritten). Returns 0, or -1 when a pivot is not positive; the factor
    // is then not usable.
    static int Cholesky(double** a, int n, double** l);
    // Gauss-Jordan inverse; 0, or -1 for a singular matrix (inv unwritten).
    static int Inverse(double** a, double** inv, int n);
    // Cyclic Jacobi eigen-decomposition of the symmetric a (upper triangle
    // destroyed): eigenvalues d[1 .. n], eigenvectors in the columns of v.
    // Stops without error after 50 sweeps.
    static void Jacobi(double** a, int n, double* d, double** v);
    static void JacobiRotate(double** a, int i, int j, int k, int l, double tau, double s);

private:
    double** scatter_;
    double** constraint_;
    double** temp_;
    double** factor_;
    double** product_;
    double** inverse_;
    double** eigenvectors_;
    double** solution_;
};

#endif
