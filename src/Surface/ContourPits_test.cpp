// The contours' pits and peaks against the closed lines themselves: every
// closed line traced, every live point tested against it as a polygon.
#include "Surface/ContourPits.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>
#include <set>

#include "testing/SurfaceTestSupport.h"

namespace {

// The live points inside closed lines that hold one or two of them, by
// crossing number over every point (heights off every level: none on a line).
std::vector<int> BruteForcePits(const CSurface& surface, const CContours& contours,
                                const CTINPoints& ground, int* closed) {
    std::vector<ContourLine> lines;
    contours.Lines(surface, lines);
    std::set<int> found;
    *closed = 0;
    for (const ContourLine& line : lines) {
        if (!line.closed) continue;
        ++*closed;
        std::vector<int> inside;
        for (int r = 0; r < ground.GetCount(); ++r) {
            const TINPoint& p = *ground.GetPoint(r);
            const double x = p.x, y = p.y;
            bool in = false;
            for (size_t k = 0; k + 1 < line.points.size(); ++k) {
                const surface::XY a = line.points[k], b = line.points[k + 1];
                if ((a.y > y) != (b.y > y) && x < a.x + (y - a.y) * (b.x - a.x) / (b.y - a.y))
                    in = !in;
            }
            if (in && p.id >= 0) inside.push_back(r);
        }
        if (inside.size() <= 2) found.insert(inside.begin(), inside.end());
    }
    return std::vector<int>(found.begin(), found.end());
}

TEST(ContourPits, EqualTheClosedLinesTestedPointByPoint) {
    // Hills in metres over a jittered 5 m grid with 80 cm of noise, contoured
    // every 2 m; planted: single peaks and pits, a pair, a peak with a twin
    // at its X, Y (two points) and a three-point bump (none of its points).
    constexpr int kSide = 70;
    std::mt19937_64 random(11);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<std::array<double, 3>> p;
    for (int i = 0; i < kSide * kSide; ++i) {
        const double x = 5.0 * (i % kSide) + 1.5 * u(random),
                     y = 5.0 * (i / kSide) + 1.5 * u(random);
        p.push_back(
            {x, y, 100.0 + 25.0 * std::sin(x / 50.0) * std::cos(y / 70.0) + 0.8 * u(random)});
    }
    const std::vector<int> planted = {500, 1234, 2222, 3030, 4100, 4101, 1800};
    const double offsets[] = {6.3, -5.7, 7.1, -6.9, 5.5, 5.9, 8.1};
    for (size_t k = 0; k < planted.size(); ++k) p[static_cast<size_t>(planted[k])][2] += offsets[k];
    p.push_back(p[1800]);  // record 4900: the twin of 1800
    const int bump[] = {2600, 2601, 2600 + kSide};
    const double bumpZ = p[2601][2] + 9.3;  // all three at one height: no level between them
    for (int b : bump) p[static_cast<size_t>(b)][2] = bumpZ;
    p.push_back({1e9, 1e9, 1e9});  // a deleted record
    CTINPoints set;
    surfacetest::MakeSet(p, set);
    set.m_pPoints[4901].id = -1;

    CSurface surface;
    surface.Build(set);
    CContours contours;
    ASSERT_EQ(contours.Build(surface, 2.0), 1);
    int closed = 0;
    const std::vector<int> pits = FindContourPits(surface, contours, set);
    EXPECT_EQ(pits, BruteForcePits(surface, contours, set, &closed));
    EXPECT_GT(closed, 20);
    for (int r : planted) EXPECT_TRUE(std::binary_search(pits.begin(), pits.end(), r)) << r;
    EXPECT_TRUE(std::binary_search(pits.begin(), pits.end(), 4900));
    for (int r : bump) EXPECT_FALSE(std::binary_search(pits.begin(), pits.end(), r)) << r;

    // A clean hill (its top half an interval above a level) on a tilted
    // plane: closed lines around it, but none around one or two points.
    p.pop_back(), p.pop_back();
    double top = -INFINITY;
    for (auto& q : p) {
        const double dx = q[0] - 170.0, dy = q[1] - 160.0;
        q[2] = 0.05 * q[0] + 40.0 * std::exp(-(dx * dx + dy * dy) / (2.0 * 60.0 * 60.0));
        top = std::max(top, q[2]);
    }
    for (auto& q : p) q[2] += 101.0 - top;
    surfacetest::MakeSet(p, set);
    surface.Build(set);
    contours.Build(surface, 2.0);
    EXPECT_EQ(FindContourPits(surface, contours, set), std::vector<int>());
    EXPECT_EQ(BruteForcePits(surface, contours, set, &closed), std::vector<int>());
    EXPECT_GT(closed, 3);
}

}  // namespace
