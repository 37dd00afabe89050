// The surface is the Delaunay triangulation under the tie rule (checked by
// brute force against every vertex), covers the hull exactly, interpolates
// heights as a brute-force search does, and stays equal to a fresh build
// through random edits of every kind.
#include "Surface/Surface.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <tuple>
#include <vector>

#include "Surface/Contours.h"
#include "TIN/TINPoints.h"
#include "testing/SurfaceTestSupport.h"

using surface::InCircleTieBroken;
using surface::Orient;
using surface::XY;
using surfacetest::Canonical;
using surfacetest::MakeSet;

namespace {

// Twice the area of the convex hull of the live positions (monotone chain).
double HullArea2(const CTINPoints& set) {
    std::vector<XY> p;
    for (int i = 0; i < set.GetCount(); ++i)
        if (set.GetPoint(i)->id >= 0) p.push_back({set.GetPoint(i)->x, set.GetPoint(i)->y});
    std::sort(p.begin(), p.end(),
              [](const XY& a, const XY& b) { return std::tie(a.x, a.y) < std::tie(b.x, b.y); });
    std::vector<XY> hull(2 * p.size());
    size_t k = 0;
    for (size_t i = 0; i < p.size(); ++i) {
        while (k >= 2 && Orient(hull[k - 2], hull[k - 1], p[i]) <= 0) --k;
        hull[k++] = p[i];
    }
    for (size_t i = p.size() - 1, t = k + 1; i-- > 0;) {
        while (k >= t && Orient(hull[k - 2], hull[k - 1], p[i]) <= 0) --k;
        hull[k++] = p[i];
    }
    double area = 0.0;
    // About the first vertex: absolute coordinates of 10^6 would cancel.
    for (size_t i = 1; i + 1 < k; ++i) {
        area += (hull[i].x - hull[0].x) * (hull[i + 1].y - hull[0].y) -
                (hull[i + 1].x - hull[0].x) * (hull[i].y - hull[0].y);
    }
    return area;
}

// Every triangle's circle is empty of every vertex under the tie rule, the
// triangles' areas add up to the hull's, and every live position is a vertex.
void ExpectDelaunay(const CSurface& s, const CTINPoints& set) {
    std::string why;
    ASSERT_TRUE(s.CheckStructure(&why)) << why;
    std::vector<int> vertices;
    for (int r = 0; r < s.RecordCount(); ++r)
        if (s.IsVertex(r)) vertices.push_back(r);
    double area = 0.0;
    int empty = 0;
    for (int t = 0; t < s.Slots(); ++t) {
        if (!s.IsTriangle(t)) continue;
        const int a = s.Vertex(t, 0), b = s.Vertex(t, 1), c = s.Vertex(t, 2);
        const XY pa{s.X(a), s.Y(a)}, pb{s.X(b), s.Y(b)}, pc{s.X(c), s.Y(c)};
        area += (pb.x - pa.x) * (pc.y - pa.y) - (pb.y - pa.y) * (pc.x - pa.x);
        for (int d : vertices) {
            if (d == a || d == b || d == c) continue;
            if (InCircleTieBroken(pa, a, pb, b, pc, c, {s.X(d), s.Y(d)}, d) > 0) {
                ADD_FAILURE() << "vertex " << d << " inside the circle of " << a << " " << b << " "
                              << c;
                return;
            }
        }
        ++empty;
    }
    EXPECT_EQ(empty, s.TriangleCount());
    const double hull = HullArea2(set);
    EXPECT_NEAR(area, hull, 1e-9 * std::fabs(hull));
    // One vertex per distinct live position, the smallest record there.
    std::vector<std::tuple<double, double, int>> live;
    for (int i = 0; i < set.GetCount(); ++i) {
        const TINPoint& p = *set.GetPoint(i);
        if (p.id >= 0) live.emplace_back(double{p.x}, double{p.y}, i);
    }
    std::sort(live.begin(), live.end());
    std::vector<int> expected;
    for (size_t i = 0; i < live.size(); ++i) {
        if (i == 0 || std::get<0>(live[i]) != std::get<0>(live[i - 1]) ||
            std::get<1>(live[i]) != std::get<1>(live[i - 1]))
            expected.push_back(std::get<2>(live[i]));
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(vertices, expected);
}

TEST(SurfaceDelaunay, RandomPointsGridsAndDuplicates) {
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> u(0.0, 1000.0);
    std::vector<std::array<double, 3>> cloud;
    for (int i = 0; i < 3000; ++i)
        cloud.push_back({u(random) + 500000.0, u(random) + 4e6, u(random)});
    // A grid of whole metres, and one as the demo lays it (an origin and a
    // step that are not exact), both with a few duplicate positions.
    std::vector<std::array<double, 3>> whole, demo;
    for (int i = 0; i < 55; ++i) {
        for (int j = 0; j < 50; ++j) {
            whole.push_back({100.0 + 5.0 * j, 200.0 + 5.0 * i, u(random)});
            demo.push_back({512345.678 + 3.7 * j, 4100000.1 - 3.7 * i, u(random)});
        }
    }
    for (int i = 0; i < 20; ++i) {
        whole.push_back(whole[static_cast<size_t>(i * 97)]);
        demo.push_back(demo[static_cast<size_t>(i * 89)]);
    }
    // Points on a few lines only (collinear hull edges, long thin triangles).
    std::vector<std::array<double, 3>> lines;
    for (int i = 0; i < 300; ++i) lines.push_back({double(i % 100), double(i / 100) * 50.0, 1.0});
    // Few positions, each held by many records (the first triangles meet them).
    std::vector<std::array<double, 3>> stacked;
    for (int i = 0; i < 400; ++i) stacked.push_back({double(i % 7), double((i * 3) % 5), 1.0});
    for (const auto* points : {&cloud, &whole, &demo, &lines, &stacked}) {
        CTINPoints set;
        MakeSet(*points, set);
        CSurface s;
        s.Build(set);
        ASSERT_GT(s.TriangleCount(), 0);
        ExpectDelaunay(s, set);
    }
}

TEST(SurfaceHeight, EqualsBruteForceBarycentric) {
    std::mt19937_64 random(11);
    std::uniform_real_distribution<double> u(0.0, 100.0);
    std::vector<std::array<double, 3>> points;
    for (int i = 0; i < 1500; ++i) points.push_back({u(random), u(random), 50.0 + u(random)});
    CTINPoints set;
    MakeSet(points, set);
    CSurface s;
    s.Build(set);
    int inside = 0, outside = 0;
    for (int q = 0; q < 4000; ++q) {
        const double x = -5.0 + 1.1 * u(random), y = -5.0 + 1.1 * u(random);
        // Brute force: the triangle that holds (x, y), by its barycentric weights.
        bool found = false;
        double zb = 0.0;
        for (int t = 0; t < s.Slots() && !found; ++t) {
            if (!s.IsTriangle(t)) continue;
            const int a = s.Vertex(t, 0), b = s.Vertex(t, 1), c = s.Vertex(t, 2);
            const double area =
                (s.X(b) - s.X(a)) * (s.Y(c) - s.Y(a)) - (s.Y(b) - s.Y(a)) * (s.X(c) - s.X(a));
            const double wa = ((s.X(b) - x) * (s.Y(c) - y) - (s.Y(b) - y) * (s.X(c) - x)) / area;
            const double wb = ((s.X(c) - x) * (s.Y(a) - y) - (s.Y(c) - y) * (s.X(a) - x)) / area;
            const double wc = ((s.X(a) - x) * (s.Y(b) - y) - (s.Y(a) - y) * (s.X(b) - x)) / area;
            if (wa >= -1e-12 && wb >= -1e-12 && wc >= -1e-12) {
                found = true;
                zb = wa * s.Z(a) + wb * s.Z(b) + wc * s.Z(c);
            }
        }
        double z = 0.0;
        const bool got = s.Height(x, y, z);
        if (found && got) {
            EXPECT_NEAR(z, zb, 1e-9);
            ++inside;
        } else {
            // Only a position within rounding of the hull may disagree.
            EXPECT_EQ(got, found) << x << " " << y;
            ++outside;
        }
    }
    EXPECT_GT(inside, 3000);
    EXPECT_GT(outside, 100);
}

// Random edits of every kind on a point set, followed incrementally, equal a
// fresh build triangle for triangle after every batch.
TEST(SurfaceUpdate, RandomEditsEqualARebuild) {
    std::mt19937_64 random(5);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<std::array<double, 3>> points;
    for (int i = 0; i < 40; ++i)
        for (int j = 0; j < 40; ++j)
            points.push_back({10.0 * j, 10.0 * i, 100.0 + 20.0 * u(random)});
    CTINPoints set;
    MakeSet(points, set);
    CSurface s;
    s.Build(set);
    CContours contours;
    contours.Build(s, 2.0);
    for (int round = 0; round < 60; ++round) {
        std::vector<int> changed;
        const int kind = round % 6;
        const int n = set.GetCount();
        for (int e = 0; e < 25; ++e) {
            const int r = static_cast<int>(u(random) * n);
            TINPoint& p = set.m_pPoints[static_cast<size_t>(r)];
            changed.push_back(r);
            if (kind == 0) {
                p.z += 5.0 * (u(random) - 0.5);  // height only
            } else if (kind == 1) {
                p.x += 30.0 * (u(random) - 0.5), p.y += 30.0 * (u(random) - 0.5);  // a move
            } else if (kind == 2) {
                p.x = 10.0 * std::round(p.x / 10.0 + 1.0), p.y = 10.0 * std::round(p.y / 10.0);
            } else if (kind == 3) {
                p.id = p.id >= 0 ? -1 : r;  // delete, or bring back
            } else if (kind == 4) {
                TINPoint added{set.GetCount(), 400.0 * u(random) - 10.0,
                               10.0 * std::round(40.0 * u(random)), 100.0, 1.0};
                surfacetest::Append(set, added);
            }
        }
        if (kind == 5) {
            // Renumbering: drop the deleted records, or put a few empty
            // ones back between the others.
            std::vector<int> map;
            if (round % 12 == 5) {
                surfacetest::Compact(set, map);
            } else {
                surfacetest::Spread(set, map, random);
            }
            s.Renumber(map, set);
        } else {
            s.Update(set, changed);
        }
        contours.Refresh(s);
        CSurface fresh;
        fresh.Build(set);
        ASSERT_EQ(Canonical(s), Canonical(fresh)) << "round " << round;
        CContours again;
        again.Build(fresh, 2.0);
        ASSERT_EQ(surfacetest::Segments(contours), surfacetest::Segments(again))
            << "round " << round;
        std::string why;
        ASSERT_TRUE(s.CheckStructure(&why)) << why;
        for (int r = 0; r < set.GetCount(); ++r) {
            if (s.IsVertex(r)) {
                ASSERT_EQ(s.Z(r), double{set.GetPoint(r)->z});
            }
        }
    }
    ExpectDelaunay(s, set);
}

}  // namespace
