#include "Checking/NeighbourGrid.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

struct Position {
    double x, y;
    bool live;
};

// The k nearest by brute force, in the same total order.
std::vector<NeighbourHit> BruteForce(const std::vector<Position>& points, double x, double y, int k,
                                     double radius2, int skip) {
    std::vector<NeighbourHit> all;
    for (size_t i = 0; i < points.size(); ++i) {
        if (!points[i].live || static_cast<int>(i) == skip) continue;
        const double dx = points[i].x - x, dy = points[i].y - y;
        const NeighbourHit h{dx * dx + dy * dy, static_cast<int>(i)};
        if (h.distance2 <= radius2) all.push_back(h);
    }
    std::sort(all.begin(), all.end(), IsCloser);
    if (static_cast<int>(all.size()) > k) all.resize(static_cast<size_t>(k));
    return all;
}

// Searches stay exact through insertions, removals and moves, for queries
// and points anywhere: on cell borders, on one spot, and far outside the box
// the grid was built over.
TEST(NeighbourGrid, NearestMatchesBruteForceThroughEdits) {
    std::mt19937 random(11);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double cell = 2.0;
    std::vector<Position> points;
    for (int i = 0; i < 600; ++i) {
        double x = 100.0 + 60.0 * unit(random), y = 50.0 + 40.0 * unit(random);
        if (i % 7 == 0) x = 100.0 + cell * std::floor(30.0 * unit(random));  // on a cell border
        if (i % 11 == 0) y = 50.0 + cell * std::floor(20.0 * unit(random));
        if (i % 13 == 0 && i > 0) {
            x = points[i - 1].x;  // two points on one spot
            y = points[i - 1].y;
        }
        points.push_back({x, y, i % 17 != 0});  // some records deleted from the start
    }
    std::vector<double> xs, ys;
    std::vector<uint8_t> keep;
    for (const Position& p : points) {
        xs.push_back(p.x);
        ys.push_back(p.y);
        keep.push_back(p.live ? 1 : 0);
    }
    CNeighbourGrid grid;
    ASSERT_EQ(grid.Build(xs.data(), ys.data(), keep.data(), static_cast<int>(points.size()), cell),
              1);
    EXPECT_EQ(grid.Size(), static_cast<int>(std::count(keep.begin(), keep.end(), 1)));

    auto check = [&](int round) {
        for (int q = 0; q < 60; ++q) {
            double x = 80.0 + 100.0 * unit(random), y = 30.0 + 80.0 * unit(random);
            if (q % 5 == 0) x = 100.0 + cell * std::floor(30.0 * unit(random));
            const int k = 1 + static_cast<int>(20.0 * unit(random));
            const double radius = q % 3 == 0 ? 5.0 : 1e9;
            const int skip = q % 2 == 0 ? static_cast<int>(unit(random) * points.size()) : -1;
            NeighbourHit out[21];
            const int found = grid.Nearest(
                x, y, k, radius * radius, [&](int i) { return i != skip; }, out);
            const std::vector<NeighbourHit> expected =
                BruteForce(points, x, y, k, radius * radius, skip);
            ASSERT_EQ(found, static_cast<int>(expected.size())) << round << " " << q;
            for (int t = 0; t < found; ++t) {
                EXPECT_EQ(out[t].index, expected[t].index) << round << " " << q << " " << t;
                EXPECT_EQ(out[t].distance2, expected[t].distance2);
            }
            // ForEachNear visits at least every record within the radius.
            std::vector<int> near;
            grid.ForEachNear(x, y, 5.0, [&](int i, double, double) { near.push_back(i); });
            std::sort(near.begin(), near.end());
            for (const NeighbourHit& h : BruteForce(points, x, y, 1 << 30, 25.0, -1)) {
                EXPECT_TRUE(std::binary_search(near.begin(), near.end(), h.index));
            }
        }
    };
    check(0);
    for (int round = 1; round <= 6; ++round) {
        for (int e = 0; e < 150; ++e) {
            const int i = static_cast<int>(unit(random) * points.size());
            Position& p = points[i];
            if (p.live) {
                EXPECT_EQ(grid.Remove(i, p.x, p.y), 1);
            }
            const double r = unit(random);
            if (r < 0.3) {
                p.live = false;  // deleted
            } else {
                // Moved a little, or far, even outside the box it was built over.
                const double reach = r < 0.8 ? 3.0 : 200.0;
                p.x += reach * (unit(random) - 0.5);
                p.y += reach * (unit(random) - 0.5);
                p.live = true;
                EXPECT_EQ(grid.Insert(i, p.x, p.y), 1);
            }
        }
        // New records beyond the old ones.
        for (int e = 0; e < 40; ++e) {
            points.push_back({60.0 + 150.0 * unit(random), 20.0 + 110.0 * unit(random), true});
            EXPECT_EQ(
                grid.Insert(static_cast<int>(points.size()) - 1, points.back().x, points.back().y),
                1);
        }
        int live = 0;
        for (const Position& p : points) live += p.live;
        EXPECT_EQ(grid.Size(), live);
        check(round);
    }
    // Removing a record that is not there changes nothing.
    EXPECT_EQ(grid.Remove(999999, 120.0, 60.0), 0);
}

TEST(NeighbourGrid, RefusesBadCellSizesAndNonFinitePositions) {
    const double x[2] = {0.0, 1.0}, y[2] = {0.0, 1.0};
    const uint8_t keep[2] = {1, 1};
    CNeighbourGrid grid;
    EXPECT_EQ(grid.Build(x, y, keep, 2, 0.0), -1);
    EXPECT_EQ(grid.Build(x, y, keep, 2, std::nan("")), -1);
    EXPECT_EQ(grid.Insert(0, 0.0, 0.0), -1);  // no grid
    ASSERT_EQ(grid.Build(x, y, keep, 2, 1.0), 1);
    EXPECT_EQ(grid.Insert(2, std::nan(""), 0.0), -1);
    NeighbourHit out[2];
    EXPECT_EQ(grid.Nearest(
                  std::nan(""), 0.0, 2, 1e9, [](int) { return true; }, out),
              0);
    EXPECT_EQ(grid.Nearest(
                  5.0, 5.0, 2, 1e9, [](int) { return true; }, out),
              2);
    EXPECT_EQ(out[0].index, 1);
}

}  // namespace
