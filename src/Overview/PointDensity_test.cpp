// The overview's point density against counting, for every cell, the live
// points whose cell lies within the box around it; where no point lies the
// density is zero, and deleting every point clears it.
#include "Overview/PointDensity.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>

#include "TIN/TINPoints.h"

TEST(PointDensity, BoxCountsMatchCountingEachCellAndDeletedPointsLeaveIt) {
    std::mt19937 rng(31337);
    const int columns = 900, rows = 700;
    // Points in a block of the photograph (as the demo's overlap), a few
    // outside the photograph or not projectable, every seventh ground point deleted.
    const int n = 3000;
    CTINPoints ground(n), image(n);
    ASSERT_EQ(ground.GetCount(), n);
    ASSERT_EQ(image.GetCount(), n);
    std::uniform_real_distribution<double> x(300.0, 880.0), y(50.0, 650.0);
    for (int i = 0; i < n; ++i) {
        double px = x(rng), py = y(rng);
        if (i % 50 == 0) px = i % 100 ? columns + 5.0 : -5.0;
        if (i % 97 == 0) px = std::numeric_limits<double>::quiet_NaN();
        ground.SetPoint(i % 7 == 3 ? -1 : i, px, py, i);
        image.SetPoint(i, px, py, i);
    }
    for (auto [w, h] : {std::pair{180, 140}, std::pair{97, 61}, std::pair{900, 700}}) {
        PointDensity d;
        ASSERT_EQ(ComputePointDensity(ground, image, columns, rows, w, h, d), 1);
        ASSERT_EQ(d.width, w);
        ASSERT_EQ(d.height, h);
        // Each live point's cell, then the box around every cell summed directly.
        std::vector<int> cells(static_cast<size_t>(w) * h, 0);
        for (int i = 0; i < n; ++i) {
            const TINPoint* p = image.GetPoint(i);
            if (ground.GetPoint(i)->id < 0 || !std::isfinite(p->x)) continue;
            const double cx = std::floor(p->x * (static_cast<double>(w) / columns));
            const double cy = std::floor(p->y * (static_cast<double>(h) / rows));
            if (cx < 0 || cy < 0 || cx >= w || cy >= h) continue;
            ++cells[static_cast<size_t>(cy) * w + static_cast<size_t>(cx)];
        }
        int most = 0, mismatches = 0;
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c) {
                int count = 0;
                for (int rr = std::max(0, r - kDensityRadius);
                     rr <= std::min(h - 1, r + kDensityRadius); ++rr)
                    for (int cc = std::max(0, c - kDensityRadius);
                         cc <= std::min(w - 1, c + kDensityRadius); ++cc)
                        count += cells[static_cast<size_t>(rr) * w + cc];
                most = std::max(most, count);
                if (d.counts[static_cast<size_t>(r) * w + c] != count) ++mismatches;
            }
        EXPECT_EQ(mismatches, 0) << w << " x " << h;
        EXPECT_EQ(d.most, most);
        // Where no point lies (left of the block) nothing is shaded; in the
        // middle of the block it is.
        const int clear = static_cast<int>(250.0 * w / columns) - kDensityRadius - 1;
        for (int r = 0; r < h; r += 7)
            EXPECT_EQ(DensityAlpha(d.counts[static_cast<size_t>(r) * w + clear], d.most), 0);
        if (w < 200) {
            EXPECT_GT(DensityAlpha(d.counts[static_cast<size_t>(h / 2) * w + w * 2 / 3], d.most),
                      0);
        }
        EXPECT_GE(DensityAlpha(d.most, d.most), 119);
        EXPECT_LE(DensityAlpha(d.most, d.most), 120);
    }
    // Every point deleted: no cell is shaded.
    for (int i = 0; i < n; ++i) ground.GetPoint(i)->id = -1;
    PointDensity d;
    ASSERT_EQ(ComputePointDensity(ground, image, columns, rows, 180, 140, d), 1);
    EXPECT_EQ(d.most, 0);
    EXPECT_EQ(std::count(d.counts.begin(), d.counts.end(), 0), 180 * 140);
    EXPECT_EQ(ComputePointDensity(ground, image, columns, rows, 0, 140, d), -1);
}
