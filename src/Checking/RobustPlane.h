// Robust fit of a plane to a small set of sample points: the local surface
// that a ground point is compared with.
//
// Coordinates: u, v are ground X, Y relative to the point where the surface
// is wanted (so the plane's constant is the surface height there), z is the
// ground height; all in the unit of the points file.
#pragma once

// z = height + slopeX * u + slopeY * v.
struct PlaneCoefficients {
    double height = 0.0;  // at u = v = 0
    double slopeX = 0.0;  // dz/dX
    double slopeY = 0.0;  // dz/dY
};

// Largest sample that FitRobustPlane takes.
constexpr int kMaxPlaneSamples = 64;

// Fits a plane to n samples (4 <= n <= kMaxPlaneSamples) so that up to
// about half of them may lie far off it (a spike, a cluster of them, or the
// top of a wall next to the ground) without pulling it:
//   1. a starting plane resistant to them: of the planes through ceil(n / 3)
//      triples of samples spread around the origin (taken in order of their
//      direction from it, a third of the way round apart), the one with the
//      smallest sum of its h smallest squared residuals, h = floor(n / 2) + 1
//      (the criterion of least trimmed squares); the least-squares plane of
//      all samples when no triple is well shaped;
//   2. least-squares refits on the samples whose residual from the current
//      plane is at most 2.5 s, s = max(1.4826 (1 + 5 / (n - 3)) sqrt(median
//      r^2), floor) over all n residuals, starting from that plane and
//      repeated until the samples taken stay the same (at most 8 times, and
//      never on fewer than h samples);
//   3. when that leaves out any sample (every triple may have held one of
//      them), steps 1 and 2 again with triples paired a step further round,
//      and of the two fits the one with the smaller sum of its h smallest
//      squared residuals.
// It finds the plane through 12 samples with up to 3 of them far off it in
// effectively every case, with 4 in about 19 of 20 (RobustPlane_test).
// `floor` (ground units, >= 0) keeps s positive when the samples lie exactly
// on a plane. residuals[i] receives z[i] minus the fitted plane at (u[i],
// v[i]), and spread the robust spread of the samples about it,
// max(1.4826 median |residual|, floor). 1; -1 when n is outside the range or
// the samples do not span a plane (all on one line or one spot), in which
// case nothing is set.
int FitRobustPlane(const double* u, const double* v, const double* z, int n, double floor,
                   PlaneCoefficients& plane, double* residuals, double& spread);

// Median of n values (mean of the two middle ones for even n); values may
// be reordered. NaN for n <= 0.
double MedianOf(double* values, int n);
