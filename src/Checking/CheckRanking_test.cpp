#include "Checking/CheckRanking.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "testing/CheckingTestSupport.h"

namespace {

using checktest::At;
using checktest::MakeGrid;

double Flat(double, double) {
    return 250.0;
}

// A point 5 m above a flat field ranks first by far, and the surface height
// at it is the field's, within the matching noise; with no noise at all
// (every neighbourhood exactly planar) the scores stay finite.
TEST(CheckRanking, SpikeOnAFlatFieldRanksFirstAndItsSurfaceIsTheField) {
    for (double noise : {0.0, 0.05}) {
        CTINPoints set;
        MakeGrid(set, 40, 40, 2.0, 0.3, noise, Flat, 1);
        const int spike = At(40, 17, 23);
        set.GetPoint(spike)->z += 5.0;
        CCheckRanking ranking(set);
        ASSERT_EQ(ranking.Rank(), 1600);
        std::vector<int> worst;
        ASSERT_EQ(ranking.Worst(2, 0.0, worst), 2);
        EXPECT_EQ(worst[0], spike);
        EXPECT_GT(ranking.Score(spike), 10.0 * ranking.Score(worst[1])) << noise;
        EXPECT_NEAR(ranking.SurfaceHeight(spike), 250.0, noise > 0 ? 0.1 : 1e-9);
        const PointScore s = ranking.Get(spike);
        EXPECT_NEAR(s.residual, set.GetPoint(spike)->z - s.surface, 1e-12);
        for (int i = 0; i < set.GetCount(); ++i) ASSERT_TRUE(std::isfinite(ranking.Score(i)));
        // The surface at any position, here between grid points.
        const SurfaceEstimate e =
            ranking.SurfaceAt(set.GetPoint(spike)->x + 0.7, set.GetPoint(spike)->y - 0.4, spike);
        EXPECT_EQ(e.status, SurfaceStatus::Fitted);
        EXPECT_NEAR(e.height, 250.0, noise > 0 ? 0.1 : 1e-9);
    }
}

// A slope of 63 degrees with gentle curvature scores nothing near a blunder,
// and a 1 m blunder on it still ranks first.
TEST(CheckRanking, SteepSmoothSlopeRanksNothingHigh) {
    auto slope = [](double x, double y) {
        return 2.0 * (x - 500000.0) - 0.5 * (y - 4000000.0) + 3.0 * std::sin((x - 500000.0) / 40.0);
    };
    CTINPoints set;
    MakeGrid(set, 60, 60, 2.0, 0.3, 0.05, slope, 2);
    CCheckRanking ranking(set);
    ASSERT_EQ(ranking.Rank(), 3600);
    std::vector<int> worst;
    ranking.Worst(1, 0.0, worst);
    EXPECT_LT(ranking.Score(worst[0]), 12.0);

    const int blunder = At(60, 30, 30);
    set.GetPoint(blunder)->z += 1.0;
    EXPECT_GT(ranking.Update({blunder}), 1);
    worst.clear();
    ranking.Worst(1, 0.0, worst);
    EXPECT_EQ(worst[0], blunder);
    EXPECT_GT(ranking.Score(blunder), 12.0);
}

// Three neighbouring blunders (a corner of three grid points, 4 to 5 m up)
// on a tilted noisy field are the three worst points, and the surface at each
// is the field's: robust statistics, not the mean of the neighbours.
TEST(CheckRanking, ClusterOfThreeBlundersIsFound) {
    auto tilted = [](double x, double y) {
        return 300.0 + 0.3 * (x - 500000.0) + 0.1 * (y - 4000000.0);
    };
    CTINPoints set;
    MakeGrid(set, 50, 50, 2.0, 0.2, 0.05, tilted, 3);
    const int cluster[3] = {At(50, 20, 20), At(50, 21, 20), At(50, 20, 21)};
    const double up[3] = {5.0, 4.2, 4.6};
    for (int k = 0; k < 3; ++k) set.GetPoint(cluster[k])->z += up[k];
    CCheckRanking ranking(set);
    ranking.Rank();
    std::vector<int> worst;
    ranking.Worst(3, 0.0, worst);
    std::sort(worst.begin(), worst.end());
    EXPECT_EQ(worst, std::vector<int>(cluster, cluster + 3));
    std::vector<int> fourth;
    ranking.Worst(4, 0.0, fourth);
    for (int k = 0; k < 3; ++k) {
        const TINPoint* p = set.GetPoint(cluster[k]);
        EXPECT_NEAR(ranking.SurfaceHeight(cluster[k]), tilted(p->x, p->y), 0.15);
        EXPECT_GT(ranking.Score(cluster[k]), 5.0 * ranking.Score(fourth[3]));
    }
}

// Points far from the others, sets too small, and points whose neighbours
// all lie on one line get the status Insufficient and no score.
TEST(CheckRanking, TooFewNeighboursGiveInsufficient) {
    CTINPoints set;
    MakeGrid(set, 20, 20, 2.0, 0.3, 0.05, Flat, 4);
    // Two points 100 m off the grid: each has only the other within reach.
    TINPoint far{400, 500100.0, 4000100.0, 250.0, 0.97};
    set.AddPoint(far);
    far.id = 401;
    far.x += 3.0;
    set.AddPoint(far);
    CCheckRanking ranking(set);
    EXPECT_EQ(ranking.Rank(), 400);
    EXPECT_EQ(ranking.InsufficientCount(), 2);
    for (int i : {400, 401}) {
        EXPECT_EQ(ranking.Status(i), SurfaceStatus::Insufficient);
        EXPECT_TRUE(std::isnan(ranking.Score(i)));
        EXPECT_TRUE(std::isnan(ranking.SurfaceHeight(i)));
    }
    std::vector<int> all;
    EXPECT_EQ(ranking.Worst(-1, -1.0, all), 400);  // only scored points are ranked

    // Five points in all: none has minNeighbours (6) others.
    CTINPoints five;
    MakeGrid(five, 5, 1, 2.0, 0.0, 0.0, Flat, 5);
    CCheckRanking small(five);
    EXPECT_EQ(small.Rank(), 0);
    EXPECT_EQ(small.InsufficientCount(), 5);

    // A single row: every neighbourhood lies on one line.
    CTINPoints row;
    MakeGrid(row, 30, 1, 2.0, 0.0, 0.0, Flat, 6);
    CCheckRanking line(row);
    EXPECT_EQ(line.Rank(), 0);
    EXPECT_EQ(line.InsufficientCount(), 30);

    // Deleted records are neither scored nor insufficient.
    set.GetPoint(7)->id = -1;
    EXPECT_EQ(ranking.Update({}), 0);
    EXPECT_GT(ranking.Update({7}), 1);
    EXPECT_EQ(ranking.Status(7), SurfaceStatus::Deleted);

    // No points at all.
    CTINPoints empty;
    CCheckRanking none(empty);
    EXPECT_EQ(none.Rank(), 0);
    EXPECT_EQ(none.Next(INFINITY, -1), -1);
    EXPECT_EQ(none.Update({0}), 0);

    CheckOptions bad;
    bad.minNeighbours = 3;
    EXPECT_EQ(ranking.Rank(bad), -1);
    EXPECT_EQ(ranking.Update({1}), -1);  // not ranked
}

// A low matching weight raises the score by the stated factor.
TEST(CheckRanking, LowWeightRaisesTheScore) {
    CTINPoints set;
    MakeGrid(set, 30, 30, 2.0, 0.3, 0.05, Flat, 7);
    const int p = At(30, 12, 12);
    set.GetPoint(p)->z += 1.0;
    CCheckRanking ranking(set);
    ranking.Rank();
    const double checked = ranking.Score(p);
    set.GetPoint(p)->weight = 0.475;  // half of 0.95: factor 1.5
    ranking.Update({p});
    EXPECT_NEAR(ranking.Score(p), 1.5 * checked, 1e-9 * checked);
    set.GetPoint(p)->weight = std::nan("");  // counts as 0: factor 2
    ranking.Update({p});
    EXPECT_NEAR(ranking.Score(p), 2.0 * checked, 1e-9 * checked);
}

// Property: after random sequences of edits (moves in Z and a little in X/Y,
// jumps far away, deletions, undeletions, weight changes, appended points),
// Update gives exactly the scores that ranking the edited set anew gives
// with the same options.
TEST(CheckRanking, UpdateEqualsFullRankingAfterRandomEdits) {
    auto hills = [](double x, double y) {
        return 280.0 + 5.0 * std::sin((x - 500000.0) / 25.0) * std::cos((y - 4000000.0) / 30.0);
    };
    CTINPoints set;
    MakeGrid(set, 70, 70, 2.0, 0.3, 0.05, hills, 8);
    for (int i = 0; i < set.GetCount(); i += 97) set.GetPoint(i)->z += 8.0;  // some blunders
    CCheckRanking ranking(set);
    ASSERT_GT(ranking.Rank(), 0);
    std::mt19937 random(9);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<int> deleted;
    for (int round = 0; round < 25; ++round) {
        std::vector<int> changed;
        const int edits = 1 + static_cast<int>(unit(random) * 100.0);
        for (int e = 0; e < edits; ++e) {
            const double kind = unit(random);
            if (kind < 0.08 && !deleted.empty()) {
                const int i = deleted.back();  // undo a deletion
                deleted.pop_back();
                set.GetPoint(i)->id = i;
                changed.push_back(i);
                continue;
            }
            if (kind < 0.12) {
                TINPoint p{set.GetCount(), 500000.0 + 140.0 * unit(random),
                           4000000.0 + 140.0 * unit(random), 280.0 + 10.0 * unit(random),
                           unit(random)};
                set.AddPoint(p);  // not listed: Update finds appended records itself
                continue;
            }
            const int i = static_cast<int>(unit(random) * set.GetCount());
            TINPoint* p = set.GetPoint(i);
            changed.push_back(i);
            if (kind < 0.25) {
                if (p->id >= 0) deleted.push_back(i);
                p->id = -1;
            } else if (kind < 0.3) {
                p->x += 60.0 * (unit(random) - 0.5);  // far
                p->y += 60.0 * (unit(random) - 0.5);
            } else if (kind < 0.4) {
                p->weight = unit(random);
            } else {
                p->z += 6.0 * (unit(random) - 0.5);
                p->x += 0.8 * (unit(random) - 0.5);
                p->y += 0.8 * (unit(random) - 0.5);
            }
        }
        ASSERT_GE(ranking.Update(changed), static_cast<int>(changed.size()) > 0 ? 1 : 0);
        ASSERT_EQ(ranking.GetCount(), set.GetCount());

        CCheckRanking fresh(set);
        ASSERT_GE(fresh.Rank(ranking.Options()), 0);
        int differing = 0;
        for (int i = 0; i < set.GetCount(); ++i) {
            const PointScore a = ranking.Get(i), b = fresh.Get(i);
            const bool same =
                a.status == b.status &&
                (a.status != SurfaceStatus::Fitted ||
                 (a.score == b.score && a.surface == b.surface && a.spread == b.spread));
            differing += same ? 0 : 1;
        }
        ASSERT_EQ(differing, 0) << "round " << round;
    }
}

// One moved point is scored again with its neighbourhood only, not the set.
TEST(CheckRanking, UpdateAfterOneEditStaysLocal) {
    CTINPoints set;
    MakeGrid(set, 100, 100, 2.0, 0.3, 0.05, Flat, 10);
    CCheckRanking ranking(set);
    ranking.Rank();
    const int p = At(100, 50, 50);
    set.GetPoint(p)->z += 2.0;
    set.GetPoint(p)->x += 0.5;
    const int rescored = ranking.Update({p});
    EXPECT_GT(rescored, 12);
    EXPECT_LT(rescored, 60);
    std::vector<int> worst;
    ranking.Worst(1, 0.0, worst);
    EXPECT_EQ(worst, std::vector<int>{p});
}

// Next and Previous walk the order that Worst lists, from either end, and
// keep their place when a visited point's score changes.
TEST(CheckRanking, NextAndPreviousWalkTheOrderOfWorst) {
    CTINPoints set;
    MakeGrid(set, 30, 30, 2.0, 0.3, 0.05, Flat, 11);
    for (int i = 0; i < set.GetCount(); i += 37) set.GetPoint(i)->z += 1.0 + 0.01 * i;
    CCheckRanking ranking(set);
    ranking.Rank();
    std::vector<int> order;
    ranking.Worst(-1, 0.0, order);
    ASSERT_EQ(order.size(), 900u);
    for (size_t t = 1; t < order.size(); ++t) {
        ASSERT_GE(ranking.Score(order[t - 1]), ranking.Score(order[t]));
    }
    int at = ranking.Next(INFINITY, -1);
    for (size_t t = 0; t < order.size(); ++t) {
        ASSERT_EQ(at, order[t]) << t;
        at = ranking.Next(ranking.Score(at), at);
    }
    EXPECT_EQ(at, -1);
    at = ranking.Previous(-INFINITY, 1 << 30);
    for (size_t t = order.size(); t-- > 0;) {
        ASSERT_EQ(at, order[t]) << t;
        at = ranking.Previous(ranking.Score(at), at);
    }
    EXPECT_EQ(at, -1);
    // The worst point fixed: walking on from where it was still reaches the second.
    const double visited = ranking.Score(order[0]);
    set.GetPoint(order[0])->z = ranking.SurfaceHeight(order[0]);
    ranking.Update({order[0]});
    EXPECT_EQ(ranking.Next(visited, order[0]), order[1]);
    std::vector<int> above;
    ranking.Worst(5, ranking.Score(order[3]), above);
    EXPECT_EQ(above.size(), 3u);  // order[0] has dropped below
}

}  // namespace

namespace {

// The ranking does not trust the header's spacing: with the header saying a
// tenth, the same or a hundredfold of the points' real spacing, the same
// planted blunders are the worst points, with the very same scores, and the
// point set keeps the header's spacing.
TEST(CheckRanking, PlantedBlundersRankFirstWhateverSpacingTheHeaderStates) {
    auto hills = [](double x, double y) {
        return 120.0 + 6.0 * std::sin((x - 500000.0) / 35.0) * std::cos((y - 4000000.0) / 50.0);
    };
    std::mt19937 rng(17);
    std::vector<int> planted;
    std::vector<double> reference;
    for (double factor : {0.1, 1.0, 100.0}) {
        CTINPoints set;
        MakeGrid(set, 120, 100, 2.0, 0.25, 0.03, hills, 7);
        if (planted.empty()) {
            std::uniform_int_distribution<int> pick(0, set.GetCount() - 1);
            while (planted.size() < 12) {
                const int i = pick(rng);
                if (std::find(planted.begin(), planted.end(), i) == planted.end())
                    planted.push_back(i);
            }
            std::sort(planted.begin(), planted.end());
        }
        for (size_t k = 0; k < planted.size(); ++k)
            set.GetPoint(planted[k])->z += (k % 2 ? -1.0 : 1.0) * (1.5 + 0.25 * k);
        set.SetSpacing(2.0 * factor, 2.0 * factor);
        CCheckRanking ranking(set);
        ASSERT_EQ(ranking.Rank(), set.GetCount()) << factor;
        std::vector<int> worst;
        ASSERT_EQ(ranking.Worst(static_cast<int>(planted.size()), 0.0, worst),
                  static_cast<int>(planted.size()));
        std::sort(worst.begin(), worst.end());
        EXPECT_EQ(worst, planted) << "header spacing x " << factor;
        // The points' spacing as measured: below the grid's 2 m (jitter makes
        // neighbours closer), far from 0.2 m or 200 m.
        EXPECT_GT(ranking.Surface().Spacing(), 1.0);
        EXPECT_LT(ranking.Surface().Spacing(), 2.0);
        double sx = 0.0, sy = 0.0;
        set.GetSpacing(&sx, &sy);
        EXPECT_EQ(sx, 2.0 * factor);
        std::vector<double> scores;
        for (int i = 0; i < set.GetCount(); ++i) scores.push_back(ranking.Score(i));
        if (reference.empty()) reference = scores;
        EXPECT_TRUE(std::equal(scores.begin(), scores.end(), reference.begin(),
                               [](double a, double b) { return a == b; }))
            << "header spacing x " << factor;
    }
}

}  // namespace
