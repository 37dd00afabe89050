#include "Checking/RobustPlane.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {

// Random planes sampled at 12 scattered positions with 5 cm of noise, some
// samples replaced by gross errors of 2 to 20 m (all up, all down, or
// mixed): the fit finds the true plane within the noise and reports the
// noise, not the errors, as the spread. With up to 2 gross errors in 12 it
// always does, with 3 nearly always, and with 4 or 5 (a third and more) in
// most cases.
TEST(RobustPlane, RecoversThePlaneUnderGrossErrors) {
    std::mt19937 random(5);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::normal_distribution<double> noise(0.0, 0.05);
    int failures[6] = {};
    int trials[6] = {};
    for (int trial = 0; trial < 3000; ++trial) {
        const int outliers = trial % 6;
        const double a = 4.0 * unit(random) - 2.0;  // slopes up to 2 (63 degrees)
        const double b = 4.0 * unit(random) - 2.0;
        const double c = 300.0 + 50.0 * unit(random);
        const int n = 12;
        double u[n], v[n], z[n];
        for (int i = 0; i < n; ++i) {
            const double r = 1.0 + 2.5 * unit(random), t = 6.283185307 * unit(random);
            u[i] = r * std::cos(t);
            v[i] = r * std::sin(t);
            z[i] = c + a * u[i] + b * v[i] + noise(random);
        }
        const double sign = trial % 3 == 0 ? 1.0 : -1.0;
        for (int k = 0; k < outliers; ++k) {
            const int i = static_cast<int>(unit(random) * n);
            z[i] = c + a * u[i] + b * v[i] +
                   sign * (k % 2 == 0 || trial % 3 != 2 ? 1 : -1) * (2.0 + 18.0 * unit(random));
        }
        PlaneCoefficients plane;
        double residuals[n];
        double spread = 0.0;
        ASSERT_EQ(FitRobustPlane(u, v, z, n, 0.001, plane, residuals, spread), 1);
        for (int i = 0; i < n; ++i) {
            EXPECT_NEAR(residuals[i],
                        z[i] - (plane.height + plane.slopeX * u[i] + plane.slopeY * v[i]), 1e-9);
        }
        ++trials[outliers];
        const bool good = std::fabs(plane.height - c) < 0.15 && std::fabs(plane.slopeX - a) < 0.1 &&
                          std::fabs(plane.slopeY - b) < 0.1 && spread < 0.15;
        failures[outliers] += good ? 0 : 1;
        if (!good && outliers < 3) {
            ADD_FAILURE() << outliers << " " << plane.height - c << " " << plane.slopeX - a << " "
                          << plane.slopeY - b << " " << spread;
        }
    }
    EXPECT_EQ(failures[0], 0);
    EXPECT_EQ(failures[1], 0);
    EXPECT_EQ(failures[2], 0);
    EXPECT_LE(failures[3], trials[3] / 100);
    EXPECT_LE(failures[4], trials[4] / 12);
    EXPECT_LE(failures[5], trials[5] / 5);
}

// Six samples (the fewest a point is scored with) evenly round the point,
// two of them gross errors: of the 15 placements of the two, the first
// round's triples find the plane for 6; its second round, with triples of
// its own, for 2 more.
TEST(RobustPlane, SixSamplesWithTwoGrossErrors) {
    int found = 0;
    const int n = 6;
    for (int first = 0; first < n; ++first) {
        for (int second = first + 1; second < n; ++second) {
            double u[n], v[n], z[n];
            for (int i = 0; i < n; ++i) {
                u[i] = 2.0 * std::cos(6.283185307 * (i + 0.1) / n);
                v[i] = 2.0 * std::sin(6.283185307 * (i + 0.1) / n);
                z[i] = 300.0 + 0.3 * u[i] - 0.2 * v[i];
            }
            z[first] += 7.0;
            z[second] += 11.0;
            PlaneCoefficients plane;
            double residuals[n];
            double spread = 0.0;
            ASSERT_EQ(FitRobustPlane(u, v, z, n, 0.001, plane, residuals, spread), 1);
            found += std::fabs(plane.height - 300.0) < 1e-6;
        }
    }
    EXPECT_EQ(found, 8);
}

// Samples exactly on a plane: the plane comes back exactly and the spread is
// the floor, never zero.
TEST(RobustPlane, ExactPlaneGivesTheFloorAsSpread) {
    double u[6] = {1, -1, 0, 0, 2, -2}, v[6] = {0, 0, 1, -1, 2, 1}, z[6];
    for (int i = 0; i < 6; ++i) z[i] = 10.0 + 0.5 * u[i] - 0.25 * v[i];
    PlaneCoefficients plane;
    double residuals[6], spread = -1.0;
    ASSERT_EQ(FitRobustPlane(u, v, z, 6, 0.002, plane, residuals, spread), 1);
    EXPECT_NEAR(plane.height, 10.0, 1e-12);
    EXPECT_NEAR(plane.slopeX, 0.5, 1e-12);
    EXPECT_NEAR(plane.slopeY, -0.25, 1e-12);
    EXPECT_EQ(spread, 0.002);
}

TEST(RobustPlane, RefusesSamplesThatSpanNoPlane) {
    double u[6] = {0, 1, 2, 3, 4, 5}, v[6] = {0, 2, 4, 6, 8, 10}, z[6] = {1, 2, 3, 4, 5, 6};
    PlaneCoefficients plane;
    plane.height = 42.0;
    double residuals[6], spread = 0.0;
    EXPECT_EQ(FitRobustPlane(u, v, z, 6, 0.0, plane, residuals, spread), -1);  // one line
    EXPECT_EQ(plane.height, 42.0);
    EXPECT_EQ(FitRobustPlane(u, v, z, 3, 0.0, plane, residuals, spread), -1);  // too few
}

TEST(RobustPlane, MedianOfOddEvenAndLongArrays) {
    std::mt19937 random(3);
    std::uniform_real_distribution<double> unit(-5.0, 5.0);
    for (int n : {1, 2, 7, 12, 16, 17, 40}) {
        std::vector<double> a(static_cast<size_t>(n));
        for (double& x : a) x = unit(random);
        std::vector<double> s = a;
        std::sort(s.begin(), s.end());
        const double expected = n % 2 ? s[n / 2] : 0.5 * (s[n / 2 - 1] + s[n / 2]);
        EXPECT_DOUBLE_EQ(MedianOf(a.data(), n), expected) << n;
    }
    EXPECT_TRUE(std::isnan(MedianOf(nullptr, 0)));
}

}  // namespace
