#include "Checking/SurfaceTargets.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "testing/CheckingTestSupport.h"
#include "testing/PlatformTestSupport.h"

namespace {

using checktest::At;
using checktest::MakeGrid;

double Tilted(double x, double y) {
    return 300.0 + 0.2 * (x - 500000.0) - 0.1 * (y - 4000000.0);
}

// An oblique photograph 1800 m above the field and 300 m to its west, read
// from its orientation file (identity affine: pixels are photo millimetres).
class SurfaceTargetsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(m_dir.Path().empty());
        const std::string path = m_dir / "left.ORN";
        platformtest::SpitText(
            path,
            "ORIENTATION left test\n152.916\n499700 4000200 2100\n2 -3 30\n0 0 0\n1 0 0\n0 1 "
            "0\n0 0\n");
        ASSERT_EQ(m_left.ReadOrientation(path), 1);
    }

    // Scanned-image position of a ground point in the left photograph.
    std::pair<double, double> Pixel(double x, double y, double z) const {
        double c = 0.0, r = 0.0;
        m_left.GroundToImage(x, y, z, c, r);
        return {c, r};
    }

    platformtest::TempDir m_dir{"surface_targets"};
    CAerialPhoto m_left;
};

// Spikes and pits, single and side by side, go back onto the field along the
// left ray: on the surface within the noise, at the same left image position,
// moved in X/Y as the oblique ray requires; the set itself is not touched.
TEST_F(SurfaceTargetsTest, BlundersLandOnTheSurfaceAlongTheLeftRay) {
    CTINPoints set;
    MakeGrid(set, 60, 60, 2.0, 0.3, 0.03, Tilted, 21);
    const std::vector<int> picked = {At(60, 10, 10), At(60, 30, 40), At(60, 31, 40), At(60, 45, 20),
                                     At(60, 50, 50)};
    const double offsets[] = {8.0, -6.0, -5.5, 12.0, 0.0};
    for (size_t k = 0; k < picked.size(); ++k) set.GetPoint(picked[k])->z += offsets[k];
    std::vector<TINPoint> before(set.m_pPoints.get(), set.m_pPoints.get() + set.GetCount());

    CCheckRanking ranking(set);
    ranking.Rank();
    std::vector<SurfaceTarget> targets;
    EXPECT_EQ(ComputeSurfaceTargets(ranking, m_left, picked, targets), 5);
    ASSERT_EQ(targets.size(), picked.size());
    for (size_t k = 0; k < picked.size(); ++k) {
        const SurfaceTarget& t = targets[k];
        const TINPoint& p = before[picked[k]];
        EXPECT_EQ(t.index, picked[k]);
        ASSERT_EQ(t.status, TargetStatus::Converged) << k;
        EXPECT_NEAR(t.z, Tilted(t.x, t.y), 0.06) << k;
        const auto [c0, r0] = Pixel(p.x, p.y, p.z);
        const auto [c1, r1] = Pixel(t.x, t.y, t.z);
        EXPECT_NEAR(c1, c0, 1e-6);
        EXPECT_NEAR(r1, r0, 1e-6);
        // The ray leans by about 0.2 m per metre of height here.
        const double moved = std::hypot(t.x - p.x, t.y - p.y);
        EXPECT_GT(moved, 0.15 * std::fabs(t.z - p.z)) << k;
        EXPECT_LT(moved, 0.25 * std::fabs(t.z - p.z) + 1e-9) << k;
    }
    EXPECT_EQ(0, std::memcmp(before.data(), set.m_pPoints.get(), before.size() * sizeof(TINPoint)));

    // The same straight from the ground set.
    std::vector<SurfaceTarget> direct;
    EXPECT_EQ(ComputeSurfaceTargets(set, m_left, picked, direct), 5);
    for (size_t k = 0; k < picked.size(); ++k) {
        EXPECT_DOUBLE_EQ(direct[k].z, targets[k].z);
        EXPECT_DOUBLE_EQ(direct[k].x, targets[k].x);
    }
}

// Indices that name no live record, and points with no surface around them,
// are reported and left where they are.
TEST_F(SurfaceTargetsTest, PointsWithoutASurfaceStayPut) {
    CTINPoints set;
    MakeGrid(set, 20, 20, 2.0, 0.3, 0.03, Tilted, 22);
    set.AddPoint(TINPoint{400, 500500.0, 4000500.0, 310.0, 0.9});  // alone, far away
    set.GetPoint(5)->id = -1;
    std::vector<SurfaceTarget> targets;
    EXPECT_EQ(ComputeSurfaceTargets(set, m_left, {400, 5, -3, 999, 17}, targets), 1);
    ASSERT_EQ(targets.size(), 5u);
    EXPECT_EQ(targets[0].status, TargetStatus::Insufficient);
    EXPECT_EQ(targets[0].x, 500500.0);
    EXPECT_EQ(targets[0].z, 310.0);
    EXPECT_EQ(targets[1].status, TargetStatus::NotLive);
    EXPECT_EQ(targets[2].status, TargetStatus::NotLive);
    EXPECT_EQ(targets[3].status, TargetStatus::NotLive);
    EXPECT_EQ(targets[4].status, TargetStatus::Converged);
    CheckOptions bad;
    bad.neighbours = 100;
    EXPECT_EQ(ComputeSurfaceTargets(set, m_left, {17}, targets, bad), -1);
    EXPECT_TRUE(targets.empty());
}

// A terrace 10 m high: a point whose ray meets the terrace wall settles at
// the wall, where the surface climbs far more steeply than the ray leans,
// instead of swinging between the lower and the upper level.
TEST_F(SurfaceTargetsTest, SettlesWhereTheSurfaceJumps) {
    auto terrace = [](double x, double) { return x < 500040.0 ? 300.0 : 310.0; };
    CTINPoints set;
    MakeGrid(set, 40, 40, 2.0, 0.0, 0.0, terrace, 23);
    // A point on the upper level, lifted: its ray down to the east crosses
    // the wall line before it reaches the lower level.
    int settled = 0;
    for (int c = 17; c <= 23; ++c) {
        const int i = At(40, c, 20);
        set.GetPoint(i)->z += 15.0;
        std::vector<SurfaceTarget> targets;
        SurfaceTargetOptions fine;
        fine.tolerance = 1e-6;
        fine.maxIterations = 40;
        ComputeSurfaceTargets(set, m_left, {i}, targets, CheckOptions(), fine);
        set.GetPoint(i)->z -= 15.0;
        ASSERT_EQ(targets.size(), 1u);
        ASSERT_EQ(targets[0].status, TargetStatus::Converged) << c;
        EXPECT_GE(targets[0].z, 300.0 - 1e-6);
        EXPECT_LE(targets[0].z, 310.0 + 1e-6);
        settled += targets[0].z > 300.5 && targets[0].z < 309.5;
    }
    EXPECT_GT(settled, 0);  // some end on the wall itself
}

}  // namespace
