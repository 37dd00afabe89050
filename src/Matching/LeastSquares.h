// Small dense weighted least squares for the matcher's refinement: Cholesky
// factorisation and solution of N x N normal equations, and the variance of
// one linear combination of the estimated parameters.
//
// The weights of a refinement are of two kinds. Robust weights (0..1) say
// how far a sample belongs to the fit; the samples' variance is taken over
// them as over that many samples. Place weights (a taper towards the
// window's centre) are no precisions: every sample is as noisy as the next,
// so a tapered estimate's variance is the sandwich N^-1 S N^-1 sigma^2, with
// N the normal equations weighted by w = place x robust and S those weighted
// by w x place.
#pragma once

#include <cmath>

namespace lsq {

// Cholesky factorisation of the symmetric matrix `a` (upper triangle read)
// in place into its lower triangle; false when not positive definite.
template <int N>
bool Cholesky(double (&a)[N][N]) {
    for (int j = 0; j < N; ++j) {
        double d = a[j][j];
        for (int k = 0; k < j; ++k) d -= a[j][k] * a[j][k];
        if (!(d > 0.0)) return false;
        a[j][j] = std::sqrt(d);
        for (int i = j + 1; i < N; ++i) {
            double s = a[j][i];
            for (int k = 0; k < j; ++k) s -= a[i][k] * a[j][k];
            a[i][j] = s / a[j][j];
        }
    }
    return true;
}

// Solves L L^T x = b with the factor from Cholesky.
template <int N>
void CholeskySolve(const double (&l)[N][N], const double* b, double* x) {
    double y[N];
    for (int i = 0; i < N; ++i) {
        double s = b[i];
        for (int k = 0; k < i; ++k) s -= l[i][k] * y[k];
        y[i] = s / l[i][i];
    }
    for (int i = N - 1; i >= 0; --i) {
        double s = y[i];
        for (int k = i + 1; k < N; ++k) s -= l[k][i] * x[k];
        x[i] = s / l[i][i];
    }
}

// The samples' variance from the weighted sum of squares `sse` (sum of
// w e^2): robustSum is the sum of the robust weights, weightSum that of w
// (equal to robustSum without a taper), `free` the parameters estimated.
// NaN when the robust weights leave no degree of freedom.
inline double SampleVariance(double sse, double weightSum, double robustSum, int free) {
    const double dof = robustSum - free;
    if (!(dof > 0.0) || !(weightSum > 0.0)) return NAN;
    return sse / weightSum * robustSum / dof;
}

// Variance of e0 . theta: `factor` is N's Cholesky factor, `spread` S (upper
// triangle; null without a taper, when S = N), s0 the samples' variance.
template <int N>
double CombinationVariance(const double (&factor)[N][N], const double (*spread)[N],
                           const double* e0, double s0) {
    double c[N];
    CholeskySolve(factor, e0, c);
    double v = 0.0;
    for (int r = 0; r < N; ++r) {
        if (!spread) {
            v += e0[r] * c[r];
            continue;
        }
        for (int k = 0; k < N; ++k) v += c[r] * spread[r < k ? r : k][r < k ? k : r] * c[k];
    }
    return s0 * v;
}

}  // namespace lsq
