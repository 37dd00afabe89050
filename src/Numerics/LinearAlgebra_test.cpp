#include "Numerics/LinearAlgebra.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace {

CMatrix FromRows(std::initializer_list<std::initializer_list<double>> rows) {
    const int r = static_cast<int>(rows.size());
    const int c = static_cast<int>(rows.begin()->size());
    CMatrix m = MakeMatrix(r, c);
    int i = 0;
    for (const auto& row : rows) {
        int j = 0;
        for (double v : row) {
            m[i][j++] = v;
        }
        ++i;
    }
    return m;
}

void ExpectMatrix(const CMatrix& m, std::initializer_list<std::initializer_list<double>> rows,
                  double tolerance = 0.0) {
    int i = 0;
    for (const auto& row : rows) {
        int j = 0;
        for (double v : row) {
            EXPECT_NEAR(m[i][j], v, tolerance) << "element (" << i << ", " << j << ")";
            ++j;
        }
        ++i;
    }
}

}  // namespace

TEST(RowPointerMatrix, RowsPointIntoOneContiguousBlock) {
    CMatrix m(AllocMatrix(3, 4, sizeof(double)));
    ASSERT_TRUE(m);
    for (int i = 1; i < 3; ++i) {
        EXPECT_EQ(m[i], m[0] + 4 * i);
    }
    // Another element size spaces the rows by columns * size bytes.
    CMatrix narrow(AllocMatrix(3, 5, 4));
    ASSERT_TRUE(narrow);
    EXPECT_EQ(reinterpret_cast<char*>(narrow[2]) - reinterpret_cast<char*>(narrow[0]), 40);

    EXPECT_EQ(AllocMatrix(0, 3, 8), nullptr);
    EXPECT_EQ(AllocMatrix(3, -1, 8), nullptr);
    EXPECT_EQ(AllocMatrix(1 << 30, 1 << 30, 1 << 30), nullptr);
    FreeMatrix(nullptr);
}

TEST(RowPointerMatrix, IdentityProductAndCopy) {
    double** raw = nullptr;
    SetIdentity(&raw, 3);  // allocates first
    CMatrix identity(raw);
    ExpectMatrix(identity, {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}});

    CMatrix owned;
    SetIdentity(owned, 2);
    ASSERT_TRUE(owned);
    ExpectMatrix(owned, {{1, 0}, {0, 1}});
    owned[0][1] = 7.0;
    SetIdentity(owned, 2);  // overwrites an existing matrix
    ExpectMatrix(owned, {{1, 0}, {0, 1}});

    // (2 x 3) . (3 x 2) with n = 2, k = 3.
    CMatrix a = FromRows({{1, 2, 3}, {4, 5, 6}});
    CMatrix b = FromRows({{7, 8}, {9, 10}, {11, 12}});
    CMatrix c = MakeMatrix(2, 2);
    EXPECT_EQ(MultiplyMatrix(a.get(), b.get(), c.get(), 2, 3), 1);
    ExpectMatrix(c, {{58, 64}, {139, 154}});

    CMatrix copy = MakeMatrix(2, 3);
    CopyMatrix(copy.get(), a.get(), 2, 3, sizeof(double));
    ExpectMatrix(copy, {{1, 2, 3}, {4, 5, 6}});
}

TEST(GaussJordan, IdentityIsLeftUnchanged) {
    CMatrix a = FromRows({{1, 0, 0}, {0, 1, 0}, {0, 0, 1}});
    CMatrix b = FromRows({{1, 2}, {3, 4}, {5, 6}});
    EXPECT_EQ(GaussJordan(a.get(), 3, b.get(), 2), 1);
    ExpectMatrix(a, {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}});
    ExpectMatrix(b, {{1, 2}, {3, 4}, {5, 6}});
}

TEST(GaussJordan, PermutationNeedsRowAndColumnInterchanges) {
    CMatrix a = FromRows({{0, 1}, {1, 0}});
    CMatrix b = FromRows({{1, 0}, {0, 1}});
    EXPECT_EQ(GaussJordan(a.get(), 2, b.get(), 2), 1);
    ExpectMatrix(a, {{0, 1}, {1, 0}});
    ExpectMatrix(b, {{0, 1}, {1, 0}});

    // A 3-cycle: its inverse is its transpose; the solution of a . x = e.
    CMatrix p = FromRows({{0, 0, 2}, {3, 0, 0}, {0, 4, 0}});
    CMatrix rhs = FromRows({{2}, {6}, {12}});
    EXPECT_EQ(GaussJordan(p.get(), 3, rhs.get(), 1), 1);
    ExpectMatrix(p, {{0, 1.0 / 3, 0}, {0, 0, 0.25}, {0.5, 0, 0}}, 1e-15);
    ExpectMatrix(rhs, {{2}, {3}, {1}}, 1e-15);
}

TEST(GaussJordan, InvertsAndSolvesAGeneralSystem) {
    const double src[4][4] = {{4, -2, 1, 3}, {3, 6, -4, 2}, {2, 1, 8, -5}, {1, -3, 2, 7}};
    CMatrix a = MakeMatrix(4, 4);
    CMatrix original = MakeMatrix(4, 4);
    CMatrix b = MakeMatrix(4, 1);
    const double x[4] = {1, -2, 0.5, 3};
    for (int i = 0; i < 4; ++i) {
        b[i][0] = 0;
        for (int j = 0; j < 4; ++j) {
            a[i][j] = original[i][j] = src[i][j];
            b[i][0] += src[i][j] * x[j];
        }
    }
    ASSERT_EQ(GaussJordan(a.get(), 4, b.get(), 1), 1);
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(b[i][0], x[i], 1e-12);
        for (int j = 0; j < 4; ++j) {
            double sum = 0;
            for (int k = 0; k < 4; ++k) {
                sum += original[i][k] * a[k][j];
            }
            EXPECT_NEAR(sum, i == j ? 1.0 : 0.0, 1e-12);
        }
    }
}

TEST(GaussJordan, SingularMatricesReturnMinusOne) {
    CMatrix zeroRow = FromRows({{1, 2, 3}, {0, 0, 0}, {4, 5, 6}});
    CMatrix b3 = FromRows({{1}, {1}, {1}});
    EXPECT_EQ(GaussJordan(zeroRow.get(), 3, b3.get(), 1), -1);

    CMatrix rankOne = FromRows({{1, 2}, {2, 4}});
    CMatrix b2 = FromRows({{1}, {1}});
    EXPECT_EQ(GaussJordan(rankOne.get(), 2, b2.get(), 1), -1);

    CMatrix zero = FromRows({{0, 0}, {0, 0}});
    EXPECT_EQ(GaussJordan(zero.get(), 2, b2.get(), 1), -1);

    EXPECT_EQ(GaussJordan(nullptr, 0, nullptr, 0), 1);
    EXPECT_EQ(GaussJordan(nullptr, -1, nullptr, 0), -1);
}

// Matrices that are singular in exact arithmetic but whose stored rows are
// rounded (a row the sum of two others, all scaled by a factor with no exact
// binary form): the elimination meets a pivot of rounding size instead of an
// exact zero and must still refuse them.
TEST(GaussJordan, MatricesSingularUpToRoundingReturnMinusOne) {
    for (const double k : {0.1, 1.0 / 3.0, 0.7, 1e-3 / 3.0, 1e5 / 7.0}) {
        const double r0[3] = {1 * k, 2 * k, 3 * k};
        const double r1[3] = {4 * k, 5 * k, 7 * k};
        CMatrix a = FromRows({{r0[0], r0[1], r0[2]},
                              {r1[0], r1[1], r1[2]},
                              {r0[0] + r1[0], r0[1] + r1[1], r0[2] + r1[2]}});
        CMatrix b = MakeMatrix(3, 3);
        SetIdentity(b, 3);
        EXPECT_EQ(GaussJordan(a.get(), 3, b.get(), 3), -1) << k;
    }
    CMatrix proportional =
        FromRows({{0.012, 0.0007, -115.2}, {0.0036, 0.00021, -34.56}, {0, 0, -152.916}});
    CMatrix b = MakeMatrix(3, 3);
    SetIdentity(b, 3);
    EXPECT_EQ(GaussJordan(proportional.get(), 3, b.get(), 3), -1);
    // A regular matrix of the same size and magnitudes still inverts.
    CMatrix regular =
        FromRows({{0.012, 0.0007, -115.2}, {0.0036, -0.012, -34.56}, {0, 0, -152.916}});
    SetIdentity(b, 3);
    EXPECT_EQ(GaussJordan(regular.get(), 3, b.get(), 3), 1);
}

namespace {

int Fit(const std::vector<std::vector<double>>& rows, double* c) {
    CMatrix data = MakeMatrix(static_cast<int>(rows.size()), 3);
    for (size_t i = 0; i < rows.size(); ++i) {
        for (int j = 0; j < 3; ++j) {
            data[i][j] = rows[i][j];
        }
    }
    return FitLinear(data.get(), static_cast<int>(rows.size()), 3, c);
}

}  // namespace

TEST(FitLinear, PlaneThroughExactAndLeastSquaresData) {
    double c[3] = {0, 0, 0};
    ASSERT_EQ(Fit({{0, 0, 1}, {1, 0, 3}, {0, 1, 4}, {1, 1, 6}}, c), 1);
    EXPECT_NEAR(c[0], 2.0, 1e-12);
    EXPECT_NEAR(c[1], 3.0, 1e-12);
    EXPECT_NEAR(c[2], 1.0, 1e-12);

    ASSERT_EQ(Fit({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 1}}, c), 1);
    EXPECT_NEAR(c[0], 0.5, 1e-12);
    EXPECT_NEAR(c[1], 0.5, 1e-12);
    EXPECT_NEAR(c[2], -0.25, 1e-12);

    // Exactly three non-collinear rows: the plane through them.
    ASSERT_EQ(Fit({{2, 1, 5}, {-1, 4, 0.5}, {3, -2, 7}}, c), 1);
    for (const auto& r : std::vector<std::vector<double>>{{2, 1, 5}, {-1, 4, 0.5}, {3, -2, 7}}) {
        EXPECT_NEAR(c[0] * r[0] + c[1] * r[1] + c[2], r[2], 1e-11);
    }
}

TEST(FitLinear, SmallPatchFarFromTheOriginStillFits) {
    // Points 10 ground units apart, 20000 units from the set's minimum corner.
    std::vector<std::vector<double>> rows;
    for (double x : {20000.0, 20004.0, 20010.0}) {
        for (double y : {15000.0, 15007.0, 15010.0}) {
            rows.push_back({x, y, 0.01 * x - 0.02 * y + 120.0});
        }
    }
    double c[3];
    ASSERT_EQ(Fit(rows, c), 1);
    EXPECT_NEAR(c[0] * 20005 + c[1] * 15005 + c[2], 0.01 * 20005 - 0.02 * 15005 + 120.0, 1e-6);
}

// Plane fits of a few points kilometres from the set's minimum corner (the
// editing commands fit X - xmin, Y - ymin, Z) succeed and agree with the
// least-squares plane computed about the points' centroid in long double.
TEST(FitLinear, WellPosedFitsFarFromTheCornerMatchACentredSolution) {
    const std::vector<std::vector<double>> fourPoints = {{5000.0, 4990.0, 312.25},
                                                         {5030.5, 4992.0, 313.5},
                                                         {5012.0, 5021.0, 311.0},
                                                         {5041.0, 5030.5, 314.75}};
    std::vector<std::vector<std::vector<double>>> cases = {fourPoints};
    uint64_t state = 99;
    auto uniform = [&state] {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return double(state >> 11) / 9007199254740992.0;
    };
    for (int trial = 0; trial < 200; ++trial) {
        const double far = uniform() * 20000.0;  // up to 20 km from the corner
        const double spread = 5.0 + uniform() * 100.0;
        std::vector<std::vector<double>> rows(4 + size_t(uniform() * 20));
        for (auto& r : rows) {
            const double x = far + uniform() * spread;
            const double y = far * 0.7 + uniform() * spread;
            r = {x, y, 300.0 + 0.05 * x - 0.03 * y + uniform()};
        }
        cases.push_back(rows);
    }
    for (const auto& rows : cases) {
        long double mx = 0, my = 0, mz = 0;
        for (const auto& r : rows) {
            mx += r[0];
            my += r[1];
            mz += r[2];
        }
        const long double count = rows.size();
        mx /= count;
        my /= count;
        mz /= count;
        long double sxx = 0, sxy = 0, syy = 0, sxz = 0, syz = 0;
        for (const auto& r : rows) {
            const long double dx = r[0] - mx, dy = r[1] - my, dz = r[2] - mz;
            sxx += dx * dx;
            sxy += dx * dy;
            syy += dy * dy;
            sxz += dx * dz;
            syz += dy * dz;
        }
        const long double det = sxx * syy - sxy * sxy;
        const long double a = (sxz * syy - syz * sxy) / det;
        const long double b = (syz * sxx - sxz * sxy) / det;
        double c[3] = {0, 0, 0};
        ASSERT_EQ(Fit(rows, c), 1) << rows[0][0];
        EXPECT_NEAR(c[0], double(a), 1e-7);
        EXPECT_NEAR(c[1], double(b), 1e-7);
        // Heights on the fitted plane at the data, where the editing commands use it.
        for (const auto& r : rows) {
            const long double expected = mz + a * (r[0] - mx) + b * (r[1] - my);
            EXPECT_NEAR(c[0] * r[0] + c[1] * r[1] + c[2], double(expected), 1e-6);
        }
    }
}

TEST(FitLinear, SingularFitIsReportedAndLeavesTheCoefficients) {
    double c[3] = {7, 8, 9};
    // Three points on one line.
    EXPECT_EQ(Fit({{0, 0, 1}, {1, 1, 2}, {2, 2, 3}}, c), -2);
    // On one line, with coordinates that do not round exactly.
    EXPECT_EQ(Fit({{0.1, 0.3, 1}, {0.7, 2.1, 2}, {1.3, 3.9, 3}, {0.9, 2.7, 5}}, c), -2);
    // Fewer rows than coefficients.
    EXPECT_EQ(Fit({{1, 2, 3}, {4, 5, 6}}, c), -2);
    // All at one point.
    EXPECT_EQ(Fit({{5, 5, 1}, {5, 5, 2}, {5, 5, 3}}, c), -2);
    // A value that is not finite.
    EXPECT_EQ(Fit({{0, 0, 1}, {1, 0, NAN}, {0, 1, 4}}, c), -2);
    EXPECT_EQ(c[0], 7);
    EXPECT_EQ(c[1], 8);
    EXPECT_EQ(c[2], 9);

    EXPECT_EQ(FitLinear(nullptr, 0, 3, c), -1);
}

TEST(FitLinear, SolveNormalEquationsDirectly) {
    // Overdetermined y = 2 t + 1 with noise-free observations.
    CMatrix design = FromRows({{0, 1}, {1, 1}, {2, 1}, {3, 1}});
    const double y[4] = {1, 3, 5, 7};
    double c[2];
    ASSERT_EQ(SolveNormalEquations(design.get(), y, 4, 2, c), 1);
    EXPECT_NEAR(c[0], 2.0, 1e-12);
    EXPECT_NEAR(c[1], 1.0, 1e-12);
    CMatrix flat = FromRows({{1, 1}, {1, 1}});
    EXPECT_EQ(SolveNormalEquations(flat.get(), y, 2, 2, c), -2);
}

TEST(ByteColumnMinMax, PerColumnExtremes) {
    const unsigned char one[3] = {7, 3, 9};
    unsigned char out[4] = {0, 0, 0, 0};
    EXPECT_EQ(ByteColumnMinMax(one, 3, 1, out), 1);
    EXPECT_EQ(out[0], 3);
    EXPECT_EQ(out[1], 9);

    // Two columns: (5, 200), (255, 0), (6, 1).
    const unsigned char two[6] = {5, 200, 255, 0, 6, 1};
    EXPECT_EQ(ByteColumnMinMax(two, 3, 2, out), 1);
    EXPECT_EQ(out[0], 5);
    EXPECT_EQ(out[1], 0);
    EXPECT_EQ(out[2], 255);
    EXPECT_EQ(out[3], 200);

    unsigned char untouched[2] = {42, 43};
    EXPECT_EQ(ByteColumnMinMax(one, 0, 1, untouched), -1);
    EXPECT_EQ(untouched[0], 42);
}
