// Dense double matrices in the row-pointer layout and the routines on them:
// allocation, identity, product, copy, Gauss-Jordan elimination with full
// pivoting, the linear least-squares fit through the normal equations, and the
// per-column byte minimum/maximum used for contrast stretching.
//
// Row-pointer matrix: an array of r row pointers into one contiguous block of
// r * c elements, row after row; m[i][j] is row i, column j, counted from 0.
// Because the rows are contiguous, a whole matrix copies with one block copy.
// The caller owns every matrix and vector it passes; a CMatrix owns one matrix
// and releases it with FreeMatrix.
#pragma once

#include <memory>

// New rows x columns matrix of elements of elementSize bytes (contents not set).
// Null when the pointer array cannot be allocated or a size is not positive or
// overflows; when only the element block cannot be allocated, the pointer array
// is returned with null rows.
double** AllocMatrix(int rows, int columns, int elementSize);

// Releases the element block (through row 0) and then the pointer array; null is ignored.
void FreeMatrix(double** m);

struct MatrixDeleter {
    void operator()(double** m) const { FreeMatrix(m); }
};

// Owner of one row-pointer matrix; get() is the double** the routines take and
// m[i][j] indexes it.
using CMatrix = std::unique_ptr<double*[], MatrixDeleter>;

// A rows x columns double matrix, or an empty owner when either block cannot be had.
CMatrix MakeMatrix(int rows, int columns);

// If *a is null, allocates an n x n double matrix into it first; then zeros
// every row and sets the diagonal to 1.0.
void SetIdentity(double*** a, int n);
void SetIdentity(CMatrix& a, int n);

// c(i,j) = sum over t = 0..k-1 of a(i,t) * b(t,j), for i, j = 0..n-1. c must be
// neither a nor b. Always 1.
int MultiplyMatrix(const double* const* a, const double* const* b, double** c, int n, int k);

// One block copy of rows * columns * elementSize bytes from the source's element
// block to the destination's.
void CopyMatrix(double** destination, const double* const* source, int rows, int columns,
                int elementSize);

// Gauss-Jordan elimination with full pivoting: a (n x n) is replaced by its
// inverse and b (n x m) by the solution x of a . x = b. 1 on success; -1 when a
// is singular (a and b then hold partly reduced values) or n is negative.
// Singular includes singular up to rounding: a pivot whose magnitude is at
// most n * machine epsilon * the largest magnitude in the input a counts as
// zero (also a pivot that is not a number). Among pivots of equal magnitude
// the last one in row-major order is taken.
int GaussJordan(double** a, int n, double** b, int m);

// Least-squares fit of the last column of data (count x n) as an affine function
// of the other columns: minimises the sum over rows of
// (c0 * d(i,0) + ... + c(n-2) * d(i,n-2) + c(n-1) - d(i,n-1))^2, so the last
// coefficient is the constant term. 1 on success; -1 when work storage cannot be
// allocated or a size is not positive; -2 when the normal matrix is singular
// (fewer than n independent rows, such as three points on one line for a plane),
// singular to working precision (condition number of the diagonally scaled
// normal matrix 1e14 or more), or the solution is not finite. On a negative result the coefficients
// are not changed.
int FitLinear(const double* const* data, int count, int n, double* coefficients);

// Least-squares solution of design (count x n) . c = observations through the
// normal equations, solved with the normal matrix's diagonal scaled to 1 (so
// that data far from the origin, or columns of different units, are not taken
// for singular). Results as for FitLinear.
int SolveNormalEquations(const double* const* design, const double* observations, int count, int n,
                         double* coefficients);

// For each of the length columns of a count x length byte array: the smallest
// value to output[column], the largest to output[length + column]. 1, or -1
// (output untouched) when count or length is not positive.
int ByteColumnMinMax(const unsigned char* data, int count, int length, unsigned char* output);
