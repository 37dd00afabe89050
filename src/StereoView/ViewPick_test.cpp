// Picking at any scale against a brute-force search: the pick is the nearest
// live point strictly within tolerance / scale of the click's left sub-image
// position, for random frames, scales from 1/64 to 16 (steps and the odd
// scales a fit gives), random point sets with deleted points and clicks near
// points, between them and off the photograph; and at 1:1 exactly what the
// set's FindNearest gives for the whole pixel clicked.
#include "StereoView/ViewPick.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "TIN/TINPoints.h"

namespace {

// Squared distance of the nearest live point strictly within radius, by
// looking at every record; infinity when there is none.
double BruteNearest(const CTINPoints& set, StereoPoint at, double radius) {
    double best = std::numeric_limits<double>::infinity();
    for (int i = 0; i < set.GetCount(); ++i) {
        const TINPoint* p = set.GetPoint(i);
        if (p->id < 0) continue;
        const double dx = p->x - at.x, dy = p->y - at.y, d = dx * dx + dy * dy;
        if (d < radius * radius && d < best) best = d;
    }
    return best;
}

}  // namespace

TEST(ViewPick, NearestLivePointWithinToleranceOverScaleAtAnyScale) {
    std::mt19937 rng(20261207);
    const double scales[] = {1.0 / 64, 1.0 / 16,    0.25, 0.5, 0.0839, 0.3171,
                             1.0,      1.189207115, 2.0,  4.0, 5.657,  16.0};
    int picked = 0, missed = 0;
    for (int trial = 0; trial < 120; ++trial) {
        // Points over a photograph of up to 3000 pixels a side, clustered or
        // sparse, a tenth of them deleted.
        std::uniform_int_distribution<int> side(200, 3000);
        const int cols = side(rng), rows = side(rng);
        CTINPoints set;
        const int n = 50 + static_cast<int>(rng() % 2000);
        std::uniform_real_distribution<double> ux(0.0, cols), uy(0.0, rows);
        for (int i = 0; i < n; ++i)
            ASSERT_EQ(set.AddPoint(TINPoint{i, ux(rng), uy(rng), 0.0, 1.0}), 1);
        set.Compact();  // bounds of the fresh set
        ASSERT_EQ(set.BuildIndex(1 + static_cast<int>(rng() % 12)), 0);
        for (int i = 0; i < n; i += 10) ASSERT_EQ(set.RemovePoint(i), 1);

        CStereoFrame f;
        f.m_dScale = scales[rng() % std::size(scales)];
        f.m_nClientWidth = 300 + static_cast<int>(rng() % 1000);
        f.m_nClientHeight = 300 + static_cast<int>(rng() % 800);
        f.m_nSceneHeight = rows;
        f.m_eyes[0].columns = cols;
        f.m_eyes[0].rows = rows;
        f.m_nScrollX = static_cast<int>(rng() % static_cast<unsigned>(cols * f.m_dScale + 1));
        f.m_nScrollY = static_cast<int>(rng() % static_cast<unsigned>(rows * f.m_dScale + 1));
        const double tolerance = 1.0 + rng() % 9;
        for (int click = 0; click < 60; ++click) {
            StereoPoint c;
            if (click % 2 == 0) {
                // Beside a live point drawn in the client area.
                const TINPoint* p = set.GetPoint(static_cast<int>(rng() % n));
                const StereoPoint at = f.SubImageToClient(CStereoFrame::kLeft, {p->x, p->y});
                c = {std::floor(at.x) + static_cast<double>(rng() % 9) - 4.0,
                     std::floor(at.y) + static_cast<double>(rng() % 9) - 4.0};
            } else {
                c = {-20.0 + rng() % (f.m_nClientWidth + 40),
                     -20.0 + rng() % (f.m_nClientHeight + 40)};
            }
            const int got = PickLeftPoint(f, set, c, tolerance);
            StereoPoint at = ClickSubImage(f, c);
            if (f.m_dScale == 1.0) {
                at = {std::floor(at.x), std::floor(at.y)};
                EXPECT_EQ(got, set.FindNearest(static_cast<int>(at.x), static_cast<int>(at.y),
                                               tolerance));
            }
            const double best = BruteNearest(set, at, tolerance / f.m_dScale);
            if (std::isinf(best)) {
                EXPECT_EQ(got, -1) << "scale " << f.m_dScale;
                ++missed;
                continue;
            }
            ASSERT_GE(got, 0) << "scale " << f.m_dScale << " click " << c.x << ", " << c.y;
            const TINPoint* p = set.GetPoint(got);
            EXPECT_GE(p->id, 0);
            EXPECT_EQ((p->x - at.x) * (p->x - at.x) + (p->y - at.y) * (p->y - at.y), best);
            ++picked;
        }
    }
    // Both outcomes were exercised often.
    EXPECT_GT(picked, 1000);
    EXPECT_GT(missed, 1000);
}

TEST(ViewPick, FindNearestAtIsFindNearestOnWholePixelsAndRefusesNonFinite) {
    CTINPoints set;
    for (int i = 0; i < 400; ++i)
        ASSERT_EQ(set.AddPoint(TINPoint{i, (i * 37) % 200 + 0.25, (i * 91) % 200 + 0.75, 0, 1}), 1);
    set.Compact();
    ASSERT_EQ(set.BuildIndex(4), 0);
    for (int y = -10; y < 210; y += 7)
        for (int x = -10; x < 210; x += 5)
            EXPECT_EQ(set.FindNearestAt(x, y, 6.0), set.FindNearest(x, y, 6.0));
    EXPECT_EQ(set.FindNearestAt(std::nan(""), 5.0, 6.0), -1);
    EXPECT_EQ(set.FindNearestAt(5.0, std::numeric_limits<double>::infinity(), 1e9), -1);
}
