// Least trimmed squares plane with a reweighted refit. See RobustPlane.h.
#include "Checking/RobustPlane.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

namespace {

// Least-squares plane through the samples listed in sel[0 .. m-1], in
// coordinates centred on their mean for conditioning. False when they do not
// span a plane: det(cov(u, v)) at most `conditioning` times trace^2.
bool FitLeastSquares(const double* u, const double* v, const double* z, const int* sel, int m,
                     double conditioning, PlaneCoefficients& plane) {
    if (m < 3) return false;
    double mu = 0.0, mv = 0.0, mz = 0.0;
    for (int t = 0; t < m; ++t) {
        mu += u[sel[t]];
        mv += v[sel[t]];
        mz += z[sel[t]];
    }
    mu /= m;
    mv /= m;
    mz /= m;
    double suu = 0.0, suv = 0.0, svv = 0.0, suz = 0.0, svz = 0.0;
    for (int t = 0; t < m; ++t) {
        const double du = u[sel[t]] - mu;
        const double dv = v[sel[t]] - mv;
        const double dz = z[sel[t]] - mz;
        suu += du * du;
        suv += du * dv;
        svv += dv * dv;
        suz += du * dz;
        svz += dv * dz;
    }
    const double det = suu * svv - suv * suv;
    const double trace = suu + svv;
    if (!(trace > 0.0) || !(det > conditioning * trace * trace)) return false;
    const double a = (suz * svv - svz * suv) / det;
    const double b = (svz * suu - suz * suv) / det;
    if (!std::isfinite(a) || !std::isfinite(b)) return false;
    plane.slopeX = a;
    plane.slopeY = b;
    plane.height = mz - a * mu - b * mv;
    return true;
}

inline double Residual(const PlaneCoefficients& p, double u, double v, double z) {
    return z - (p.height + p.slopeX * u + p.slopeY * v);
}

// Batcher's odd-even merge network for 16 values: 63 fixed compare-exchanges
// in this order sort any input. Dropping those that touch a position >= N
// leaves a network that sorts N values (the positions past N, padded with
// +infinity, would never move).
struct Exchange {
    int i, j;
};
constexpr Exchange kNetwork[63] = {
    {0, 1},   {2, 3},   {0, 2},   {1, 3},   {1, 2},   {4, 5},  {6, 7},   {4, 6},   {5, 7},
    {5, 6},   {0, 4},   {2, 6},   {2, 4},   {1, 5},   {3, 7},  {3, 5},   {1, 2},   {3, 4},
    {5, 6},   {8, 9},   {10, 11}, {8, 10},  {9, 11},  {9, 10}, {12, 13}, {14, 15}, {12, 14},
    {13, 15}, {13, 14}, {8, 12},  {10, 14}, {10, 12}, {9, 13}, {11, 15}, {11, 13}, {9, 10},
    {11, 12}, {13, 14}, {0, 8},   {4, 12},  {4, 8},   {2, 10}, {6, 14},  {6, 10},  {2, 4},
    {6, 8},   {10, 12}, {1, 9},   {5, 13},  {5, 9},   {3, 11}, {7, 15},  {7, 11},  {3, 5},
    {7, 9},   {11, 13}, {1, 2},   {3, 4},   {5, 6},   {7, 8},  {9, 10},  {11, 12}, {13, 14}};

template <int N, size_t K>
inline void Exchange1(double* a) {
    if constexpr (kNetwork[K].j < N) {
        const double lo = std::min(a[kNetwork[K].i], a[kNetwork[K].j]);
        a[kNetwork[K].j] = std::max(a[kNetwork[K].i], a[kNetwork[K].j]);
        a[kNetwork[K].i] = lo;
    }
}

// Sorts a[0 .. N-1] in increasing order without branches.
template <int N, size_t... K>
inline void SortNetwork(double* a, std::index_sequence<K...>) {
    (Exchange1<N, K>(a), ...);
}

template <int N>
inline void SortPadded(double* a, int n) {
    std::fill(a + n, a + N, std::numeric_limits<double>::infinity());
    SortNetwork<N>(a, std::make_index_sequence<63>());
}

// Sorts a[0 .. n-1] (no NaN) in increasing order, in place; a holds at least
// max(n, 16) values (those past n are overwritten).
inline void SortInPlace(double* a, int n) {
    if (n <= 8) {
        SortPadded<8>(a, n);
    } else if (n <= 12) {
        SortPadded<12>(a, n);
    } else if (n <= 16) {
        SortPadded<16>(a, n);
    } else {
        std::sort(a, a + n);
    }
}

// Sum of the h smallest squared residuals of the plane.
double TrimmedSum(const PlaneCoefficients& p, const double* u, const double* v, const double* z,
                  int n, int h) {
    double r2[kMaxPlaneSamples];
    for (int i = 0; i < n; ++i) {
        const double r = Residual(p, u[i], v[i], z[i]);
        r2[i] = r * r;
    }
    SortInPlace(r2, n);
    double sum = 0.0;
    for (int t = 0; t < h; ++t) sum += r2[t];
    return sum;
}

// Pseudo-angle of (du, dv) in [0, 4): increases with the direction angle,
// cheaper than atan2.
inline double Direction(double du, double dv) {
    const double s = std::fabs(du) + std::fabs(dv);
    if (s == 0.0) return 0.0;
    const double p = dv / s;  // -1 .. 1
    if (du >= 0.0) return p < 0.0 ? 4.0 + p : p;
    return 2.0 - p;
}

}  // namespace

double MedianOf(double* values, int n) {
    if (n <= 0) return std::numeric_limits<double>::quiet_NaN();
    const int mid = n / 2;
    if (n <= 16) {
        double sorted[16];
        std::copy(values, values + n, sorted);
        SortInPlace(sorted, n);
        return n % 2 == 1 ? sorted[mid] : 0.5 * (sorted[mid - 1] + sorted[mid]);
    }
    std::nth_element(values, values + mid, values + n);
    if (n % 2 == 1) return values[mid];
    std::nth_element(values, values + mid - 1, values + mid);
    return 0.5 * (values[mid - 1] + values[mid]);
}

namespace {

// The samples in order of their direction from the origin, then index.
void DirectionOrder(const double* u, const double* v, int n, int* order) {
    // Each key holds the direction to 2^-20 and the sample's index, exactly,
    // in a double, so one sort of doubles orders both.
    double key[kMaxPlaneSamples];
    for (int i = 0; i < n; ++i) {
        const auto d = static_cast<int64_t>(Direction(u[i], v[i]) * 1048576.0);
        key[i] = static_cast<double>(d * kMaxPlaneSamples + i);
    }
    SortInPlace(key, n);
    for (int t = 0; t < n; ++t) {
        order[t] = static_cast<int>(static_cast<int64_t>(key[t]) % kMaxPlaneSamples);
    }
}

// Of the planes through the triples of one round, the one with the smallest
// trimmed sum; false when no triple is well shaped. Round 0 takes samples a
// third of the way round apart, round 1 pairs them a step further round.
bool BestTriple(const double* u, const double* v, const double* z, int n, int h, const int* order,
                int round, PlaneCoefficients& best) {
    const int third = n / 3;
    // For 4 and 6 samples the second round's last step would come full
    // circle to the first sample: it then goes one step less.
    int last = 2 * third + 2 * round;
    if (last % n == 0) last = 2 * third + round;
    double bestSum = std::numeric_limits<double>::infinity();
    for (int t = 0; t < (n + 2) / 3; ++t) {
        const int sel[3] = {order[t], order[(t + third + round) % n], order[(t + last) % n]};
        PlaneCoefficients p;
        if (!FitLeastSquares(u, v, z, sel, 3, 1e-4, p)) continue;
        const double sum = TrimmedSum(p, u, v, z, n, h);
        if (sum < bestSum) {
            bestSum = sum;
            best = p;
        }
    }
    return bestSum < std::numeric_limits<double>::infinity();
}

// Least squares on the samples within 2.5 s of the plane, s the robust scale
// of its residuals over all samples, repeated from the new plane until the
// samples taken stay the same. Leaves the final plane, its residuals and
// median squared residual, and returns how many samples it leaves out.
int Refine(const double* u, const double* v, const double* z, int n, int h, double floor,
           PlaneCoefficients& plane, double* r, double& median2) {
    const double correction = 1.4826 * (1.0 + 5.0 / (n - 3));
    bool taken[kMaxPlaneSamples] = {};
    int left = 0;
    for (int step = 0;; ++step) {
        double r2[kMaxPlaneSamples];
        for (int i = 0; i < n; ++i) {
            r[i] = Residual(plane, u[i], v[i], z[i]);
            r2[i] = r[i] * r[i];
        }
        median2 = MedianOf(r2, n);
        const double limit = 2.5 * std::max(correction * std::sqrt(median2), floor);
        int sel[kMaxPlaneSamples];
        int m = 0;
        bool same = true;
        for (int i = 0; i < n; ++i) {
            const bool take = std::fabs(r[i]) <= limit;
            if (take) sel[m++] = i;
            same = same && take == taken[i];
            taken[i] = take;
        }
        left = n - m;
        if (same || m < h || step == 8) break;
        PlaneCoefficients refit;
        if (!FitLeastSquares(u, v, z, sel, m, 1e-12, refit)) break;
        plane = refit;
    }
    return left;
}

}  // namespace

int FitRobustPlane(const double* u, const double* v, const double* z, int n, double floor,
                   PlaneCoefficients& plane, double* residuals, double& spread) {
    if (n < 4 || n > kMaxPlaneSamples) return -1;
    const int h = n / 2 + 1;
    int order[kMaxPlaneSamples];
    DirectionOrder(u, v, n, order);

    PlaneCoefficients best;
    if (!BestTriple(u, v, z, n, h, order, 0, best)) {
        // No well-shaped triple: least squares through everything, if the
        // samples span a plane at all.
        int all[kMaxPlaneSamples];
        for (int i = 0; i < n; ++i) all[i] = i;
        if (!FitLeastSquares(u, v, z, all, n, 1e-12, best)) return -1;
    }
    double r[kMaxPlaneSamples];
    double median2 = 0.0;
    const int left = Refine(u, v, z, n, h, floor, best, r, median2);
    // Samples left out: every triple of the first round may have held one of
    // them and the fit settled between them and the rest. Try the second
    // round too, and keep the fit with the smaller trimmed sum.
    PlaneCoefficients other;
    if (left > 0 && BestTriple(u, v, z, n, h, order, 1, other)) {
        double rOther[kMaxPlaneSamples];
        double median2Other = 0.0;
        Refine(u, v, z, n, h, floor, other, rOther, median2Other);
        if (TrimmedSum(other, u, v, z, n, h) < TrimmedSum(best, u, v, z, n, h)) {
            best = other;
            std::copy(rOther, rOther + n, r);
            median2 = median2Other;
        }
    }
    plane = best;
    std::copy(r, r + n, residuals);
    spread = std::max(1.4826 * std::sqrt(median2), floor);
    return 1;
}
