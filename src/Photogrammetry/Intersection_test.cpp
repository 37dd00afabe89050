#include "Photogrammetry/Intersection.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "Photogrammetry/AerialPhoto.h"

namespace {

// An oriented photograph read from orientation text (the stream overload).
void Orient(CAerialPhoto& photo, const std::string& text) {
    FILE* f = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(photo.ReadOrientation(f), 1);
    std::fclose(f);
}

// A tilted stereo pair 600 m apart, 1500 m above ground near 0, with a
// 20 micrometre scan whose rows run downwards.
void MakePair(CAerialPhoto& left, CAerialPhoto& right) {
    Orient(left,
           "ORIENTATION left photo\n153.0\n1000 2000 1800\n1.5 -2 3\n0 0 0\n"
           "0.02 0 -115\n0 -0.02 115\n0.01 -0.02\n");
    Orient(right,
           "ORIENTATION right photo\n153.0\n1600 2010 1795\n-1 1.2 2.5\n0 0 0\n"
           "0.02 0 -115\n0 -0.02 115\n0.01 -0.02\n");
}

}  // namespace

TEST(SpaceIntersection, RecoversGroundPointsFromTheirTwoImages) {
    CAerialPhoto left, right;
    MakePair(left, right);
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> x(1100, 1500), y(1800, 2200), z(-60, 150);
    for (int k = 0; k < 200; ++k) {
        const double X = x(rng), Y = y(rng), Z = z(rng);
        double lc, lr, rc, rr, gx, gy, gz;
        ASSERT_EQ(left.GroundToImage(X, Y, Z, lc, lr), 1);
        ASSERT_EQ(right.GroundToImage(X, Y, Z, rc, rr), 1);
        ASSERT_EQ(IntersectRays(left, lc, lr, right, rc, rr, gx, gy, gz), 1);
        EXPECT_NEAR(gx, X, 1e-6);
        EXPECT_NEAR(gy, Y, 1e-6);
        EXPECT_NEAR(gz, Z, 1e-6);
        // Half a pixel off in each image moves the point by a fraction of a
        // ground pixel (about 0.23 m here) in X and Y.
        ASSERT_EQ(IntersectRays(left, lc + 0.5, lr, right, rc - 0.5, rr + 0.5, gx, gy, gz), 1);
        EXPECT_NEAR(gx, X, 0.5);
        EXPECT_NEAR(gy, Y, 0.5);
    }
}

TEST(SpaceIntersection, RaysThatDoNotMeetGiveNoPoint) {
    CAerialPhoto left, right;
    MakePair(left, right);
    double lc, lr, rc, rr, X, Y, Z;
    ASSERT_EQ(left.GroundToImage(1300, 2000, 50, lc, lr), 1);
    ASSERT_EQ(right.GroundToImage(1300, 2000, 50, rc, rr), 1);
    // Ten pixels of y-parallax: the marks show two different ground points.
    EXPECT_EQ(IntersectRays(left, lc, lr, right, rc, rr + 10, X, Y, Z), -1);
    EXPECT_TRUE(std::isnan(X));
    // One photograph twice: parallel rays.
    EXPECT_EQ(IntersectRays(left, lc, lr, left, lc, lr, X, Y, Z), -1);
    // A point "above" both cameras: the rays cross behind the projection centres.
    EXPECT_EQ(IntersectRays(left, lc, lr, right, lc, lr, X, Y, Z), -1);
    // No orientation read.
    CAerialPhoto blank;
    EXPECT_EQ(IntersectRays(blank, lc, lr, right, rc, rr, X, Y, Z), -1);
}
