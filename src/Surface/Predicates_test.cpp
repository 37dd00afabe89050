// The exact predicates against an independent exact evaluation: points a few
// units in the last place off a line or a circle, where the plain
// floating-point formulas give the wrong sign or zero.
#include "Surface/Predicates.h"

#include <gtest/gtest.h>

#include <cmath>

using surface::InCircle;
using surface::InCircleTieBroken;
using surface::Orient;
using surface::XY;

namespace {

// Sign of an integer determinant, for coordinates that are whole multiples
// of 2^-53 below 2^5 (so that x 2^53 is an exact 59-bit integer).
int OrientOracle(const XY& a, const XY& b, const XY& c) {
    auto i = [](double v) { return static_cast<__int128>(std::ldexp(v, 53)); };
    const __int128 det =
        (i(a.x) - i(c.x)) * (i(b.y) - i(c.y)) - (i(a.y) - i(c.y)) * (i(b.x) - i(c.x));
    return det > 0 ? 1 : (det < 0 ? -1 : 0);
}

TEST(SurfacePredicates, OrientationNearALineIsExact) {
    // The classic failure: a 256 x 256 patch of positions one unit in the
    // last place apart near (0.5, 0.5), against the line through (12, 12)
    // and (24, 24). The differences to (24, 24) are not exact doubles.
    const double ulp = std::ldexp(1.0, -53);
    const XY b{12.0, 12.0}, c{24.0, 24.0};
    int naiveWrong = 0, zeros = 0;
    for (int i = 0; i < 256; ++i) {
        for (int j = 0; j < 256; ++j) {
            const XY a{0.5 + i * ulp, 0.5 + j * ulp};
            const int expected = OrientOracle(a, b, c);
            ASSERT_EQ(Orient(a, b, c), expected) << i << " " << j;
            ASSERT_EQ(Orient(b, c, a), expected);
            ASSERT_EQ(Orient(b, a, c), -expected);
            const double naive = (a.x - c.x) * (b.y - c.y) - (a.y - c.y) * (b.x - c.x);
            naiveWrong += (naive > 0) - (naive < 0) != expected;
            zeros += expected == 0;
        }
    }
    // The test means something: plain arithmetic gets many of these wrong.
    EXPECT_GT(naiveWrong, 1000);
    EXPECT_EQ(zeros, 256);
}

TEST(SurfacePredicates, InCircleOnAndOffACircleIsExact) {
    // Points of the circle x^2 + y^2 = 25 (whole numbers), scaled by powers
    // of two and moved by a dyadic offset (both exact): on the circle the
    // answer is 0; a point one unit in the last place farther out is
    // outside, one nearer in is inside, whatever the scale.
    const double circle[][2] = {{3, 4}, {-4, 3}, {-5, 0}, {0, -5}, {4, -3}, {5, 0}, {-3, -4}};
    for (int e = -30; e <= 30; e += 6) {
        const double s = std::ldexp(1.0, e);
        const double ox = std::ldexp(1.0, e + 3) * 3.0, oy = -std::ldexp(1.0, e + 2) * 5.0;
        auto at = [&](int k) { return XY{ox + s * circle[k][0], oy + s * circle[k][1]}; };
        const XY a = at(0), b = at(1), c = at(2);  // counter-clockwise
        ASSERT_EQ(Orient(a, b, c), 1);
        for (int k = 3; k < 7; ++k) {
            EXPECT_EQ(InCircle(a, b, c, at(k)), 0) << e << " " << k;
            // Ties broken by key: never 0, opposite when the order of keys
            // puts the fourth point first instead of last, and the same for
            // any rotation of the triangle.
            const int last = InCircleTieBroken(a, 0, b, 1, c, 2, at(k), 3);
            EXPECT_NE(last, 0);
            EXPECT_EQ(InCircleTieBroken(b, 1, c, 2, a, 0, at(k), 3), last);
            EXPECT_EQ(InCircleTieBroken(a, 1, b, 2, c, 3, at(k), 0), -last);
        }
        const XY east = at(5);
        EXPECT_EQ(InCircle(a, b, c, {std::nextafter(east.x, INFINITY), east.y}), -1) << e;
        EXPECT_EQ(InCircle(a, b, c, {std::nextafter(east.x, -INFINITY), east.y}), 1) << e;
        EXPECT_EQ(InCircle(a, c, b, {std::nextafter(east.x, -INFINITY), east.y}), -1) << e;
    }
}

}  // namespace
