#include "Numerics/LinearAlgebra.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include "Numerics/NumericArray.h"

double** AllocMatrix(int rows, int columns, int elementSize) {
    if (rows < 1 || columns < 1 || elementSize < 1) {
        return nullptr;
    }
    // Sizes in 64 bits: columns * elementSize fits, the product with rows is checked first.
    const int64_t rowBytes = static_cast<int64_t>(columns) * elementSize;
    if (rowBytes > INT64_MAX / rows) {
        return nullptr;
    }
    const int64_t totalBytes = rowBytes * rows;
    if (static_cast<uint64_t>(totalBytes) > static_cast<uint64_t>(SIZE_MAX)) {
        return nullptr;
    }
    auto** m = static_cast<double**>(std::malloc(static_cast<size_t>(rows) * sizeof(double*)));
    if (m == nullptr) {
        return nullptr;
    }
    auto* block = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(totalBytes)));
    for (int i = 0; i < rows; ++i) {
        m[i] = block == nullptr ? nullptr : reinterpret_cast<double*>(block + rowBytes * i);
    }
    return m;
}

void FreeMatrix(double** m) {
    if (m == nullptr) {
        return;
    }
    std::free(m[0]);
    std::free(m);
}

CMatrix MakeMatrix(int rows, int columns) {
    CMatrix m(AllocMatrix(rows, columns, static_cast<int>(sizeof(double))));
    if (m && m[0] == nullptr) {
        m.reset();
    }
    return m;
}

void SetIdentity(double*** a, int n) {
    if (n < 1) {
        return;
    }
    if (*a == nullptr) {
        *a = AllocMatrix(n, n, static_cast<int>(sizeof(double)));
        if (*a == nullptr) {
            return;
        }
    }
    double** m = *a;
    if (m[0] == nullptr) {
        return;
    }
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            m[i][j] = 0.0;
        }
        m[i][i] = 1.0;
    }
}

void SetIdentity(CMatrix& a, int n) {
    double** raw = a.release();
    SetIdentity(&raw, n);
    a.reset(raw);
}

int MultiplyMatrix(const double* const* a, const double* const* b, double** c, int n, int k) {
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            double sum = 0.0;
            for (int t = 0; t < k; ++t) {
                sum += a[i][t] * b[t][j];
            }
            c[i][j] = sum;
        }
    }
    return 1;
}

void CopyMatrix(double** destination, const double* const* source, int rows, int columns,
                int elementSize) {
    if (rows < 1 || columns < 1 || elementSize < 1) {
        return;
    }
    const int64_t bytes = static_cast<int64_t>(rows) * columns * elementSize;
    std::memcpy(destination[0], source[0], static_cast<size_t>(bytes));
}

int GaussJordan(double** a, int n, double** b, int m) {
    if (n < 0) {
        return -1;
    }
    if (n == 0) {
        return 1;
    }
    // A pivot at most n * epsilon * the largest magnitude of the input is zero:
    // below that, rounding alone can have made it what it is (a matrix that
    // is singular up to rounding, such as one whose rows were scaled by a
    // factor with no exact binary form).
    double largest = 0.0;
    for (int r = 0; r < n; ++r) {
        for (int c = 0; c < n; ++c) {
            const double v = std::fabs(a[r][c]);
            if (!(v <= largest)) {
                largest = v;  // also takes a NaN, which refuses every pivot
            }
        }
    }
    const double zeroPivot = n * std::numeric_limits<double>::epsilon() * largest;
    // Pivot column and pivot row of each step, and pivot count per column.
    CIntVector indxc(0, n - 1);
    CIntVector indxr(0, n - 1);
    CIntVector ipiv(0, n - 1);
    for (int j = 0; j < n; ++j) {
        ipiv[j] = 0;
    }
    for (int i = 0; i < n; ++i) {
        double big = 0.0;
        int irow = 0;
        int icol = 0;
        for (int j = 0; j < n; ++j) {
            if (ipiv[j] == 1) {
                continue;
            }
            for (int k = 0; k < n; ++k) {
                if (ipiv[k] == 0) {
                    if (std::fabs(a[j][k]) >= big) {
                        big = std::fabs(a[j][k]);
                        irow = j;
                        icol = k;
                    }
                } else if (ipiv[k] > 1) {
                    return -1;
                }
            }
        }
        ++ipiv[icol];
        if (irow != icol) {
            for (int l = 0; l < n; ++l) {
                std::swap(a[irow][l], a[icol][l]);
            }
            for (int l = 0; l < m; ++l) {
                std::swap(b[irow][l], b[icol][l]);
            }
        }
        indxr[i] = irow;
        indxc[i] = icol;
        if (!(std::fabs(a[icol][icol]) > zeroPivot)) {
            return -1;
        }
        const double pivinv = 1.0 / a[icol][icol];
        a[icol][icol] = 1.0;
        for (int l = 0; l < n; ++l) {
            a[icol][l] *= pivinv;
        }
        for (int l = 0; l < m; ++l) {
            b[icol][l] *= pivinv;
        }
        for (int r = 0; r < n; ++r) {
            if (r == icol) {
                continue;
            }
            const double d = a[r][icol];
            a[r][icol] = 0.0;
            for (int l = 0; l < n; ++l) {
                a[r][l] -= a[icol][l] * d;
            }
            for (int l = 0; l < m; ++l) {
                b[r][l] -= b[icol][l] * d;
            }
        }
    }
    for (int l = n - 1; l >= 0; --l) {
        if (indxr[l] != indxc[l]) {
            for (int k = 0; k < n; ++k) {
                std::swap(a[k][indxr[l]], a[k][indxc[l]]);
            }
        }
    }
    return 1;
}

namespace {

// Largest column sum of absolute values (the 1-norm) of an n x n matrix.
double NormOne(const double* const* a, int n) {
    double largest = 0.0;
    for (int j = 0; j < n; ++j) {
        double sum = 0.0;
        for (int i = 0; i < n; ++i) {
            sum += std::fabs(a[i][j]);
        }
        if (!(sum <= largest)) {  // also carries a NaN through
            largest = sum;
        }
    }
    return largest;
}

// A normal matrix whose condition number, after scaling its diagonal to 1,
// reaches this is singular to working precision (1 / condition is a few units
// of double rounding): its solution carries no significant digits. Scaling
// first keeps columns of different units (ground offsets beside the constant
// term) from counting as ill-conditioned.
constexpr double kSingularCondition = 1e14;

}  // namespace

int SolveNormalEquations(const double* const* design, const double* observations, int count, int n,
                         double* coefficients) {
    if (count < 1 || n < 1) {
        return -1;
    }
    CMatrix normal = MakeMatrix(n, n);
    CMatrix rhs = MakeMatrix(n, 1);
    if (!normal || !rhs) {
        return -1;
    }
    for (int i = 0; i < n; ++i) {
        for (int j = i; j < n; ++j) {
            double sum = 0.0;
            for (int k = 0; k < count; ++k) {
                sum += design[k][i] * design[k][j];
            }
            normal[i][j] = sum;
            normal[j][i] = sum;
        }
    }
    for (int i = 0; i < n; ++i) {
        double sum = 0.0;
        for (int k = 0; k < count; ++k) {
            sum += design[k][i] * observations[k];
        }
        rhs[i][0] = sum;
    }
    std::unique_ptr<double[]> scale(new (std::nothrow) double[n]);
    if (!scale) {
        return -1;
    }
    for (int i = 0; i < n; ++i) {
        if (!(normal[i][i] > 0.0)) {
            return -2;  // a column of zeros (or not a number)
        }
        scale[i] = 1.0 / std::sqrt(normal[i][i]);
    }
    // The system is solved with its diagonal scaled to 1, S = D N D with
    // D = diag(1 / sqrt(N(i,i))), S z = D u, c = D z: the same solution, but
    // the elimination's zero-pivot threshold (relative to the largest element)
    // then judges the columns alike, whatever their units and however far the
    // data lie from the origin.
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            normal[i][j] *= scale[i] * scale[j];
        }
        rhs[i][0] *= scale[i];
    }
    const double normBefore = NormOne(normal.get(), n);
    if (GaussJordan(normal.get(), n, rhs.get(), 1) < 0) {
        return -2;
    }
    // normal now holds the inverse: the product of the two norms is the condition number.
    const double condition = normBefore * NormOne(normal.get(), n);
    if (!(condition < kSingularCondition)) {
        return -2;
    }
    for (int i = 0; i < n; ++i) {
        rhs[i][0] *= scale[i];
    }
    for (int i = 0; i < n; ++i) {
        if (!std::isfinite(rhs[i][0])) {
            return -2;
        }
    }
    for (int i = 0; i < n; ++i) {
        coefficients[i] = rhs[i][0];
    }
    return 1;
}

int FitLinear(const double* const* data, int count, int n, double* coefficients) {
    if (count < 1 || n < 1) {
        return -1;
    }
    CMatrix design = MakeMatrix(count, n);
    std::unique_ptr<double[]> observations(new (std::nothrow) double[count]);
    if (!design || !observations) {
        return -1;
    }
    for (int i = 0; i < count; ++i) {
        for (int j = 0; j < n - 1; ++j) {
            design[i][j] = data[i][j];
        }
        design[i][n - 1] = 1.0;
        observations[i] = data[i][n - 1];
    }
    return SolveNormalEquations(design.get(), observations.get(), count, n, coefficients);
}

int ByteColumnMinMax(const unsigned char* data, int count, int length, unsigned char* output) {
    if (count < 1 || length < 1) {
        return -1;
    }
    for (int c = 0; c < length; ++c) {
        unsigned char lo = data[c];
        unsigned char hi = data[c];
        for (int64_t r = 1; r < count; ++r) {
            const unsigned char v = data[r * length + c];
            if (v < lo) {
                lo = v;
            } else if (v > hi) {
                hi = v;
            }
        }
        output[c] = lo;
        output[length + c] = hi;
    }
    return 1;
}
