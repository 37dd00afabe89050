// Measures the check ranking against the truth of a generated demo project
// (orvane-makedemo writes blunders.txt beside the points):
//   - precision and recall of the planted gross errors among the top N of
//     the ranking, N = number planted (the two are equal for that N; recall
//     at 2 N and the rank of the last planted error are given too);
//   - how many of the top N are real steep relief (building edges, the road's
//     cut and fill slopes; CDemoTerrain::ReliefAt within one point spacing);
//   - Set To Surface on the top N, along the left photograph's rays: how many
//     planted errors end within 0.3 m of the true surface at the position they
//     end at (and of the true height at their original position);
//   - times: ranking, and updating after those edits.
//
//   check_measure DEMO_DIR [--threads N] [--repeat R] [--list]
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "BenchSupport.h"
#include "Checking/CheckRanking.h"
#include "Checking/SurfaceTargets.h"
#include "DemoProject.h"
#include "DemoTerrain.h"
#include "Photogrammetry/AerialPhoto.h"
#include "TIN/TINPoints.h"

namespace {

using bench::Clock;
using bench::ProcessSeconds;
using bench::Seconds;

const char* ReliefName(demo::ReliefKind k) {
    switch (k) {
        case demo::ReliefKind::BuildingEdge:
            return "building edge";
        case demo::ReliefKind::RoadSlope:
            return "road slope";
        default:
            return "-";
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: check_measure DEMO_DIR [--threads N] [--repeat R] [--list]\n");
        return 2;
    }
    const std::string dir = argv[1];
    CheckOptions options;
    bool list = false;
    int repeat = 1;
    for (int a = 2; a < argc; ++a) {
        if (std::strcmp(argv[a], "--threads") == 0 && a + 1 < argc) {
            options.threads = std::atoi(argv[++a]);
        } else if (std::strcmp(argv[a], "--repeat") == 0 && a + 1 < argc) {
            repeat = std::max(1, std::atoi(argv[++a]));
        } else if (std::strcmp(argv[a], "--list") == 0) {
            list = true;
        }
    }

    demo::DemoOptions made;
    std::vector<demo::DemoBlunder> planted;
    if (demo::ReadDemoTruth(dir + "/blunders.txt", made, planted) < 0) {
        std::fprintf(stderr, "cannot read %s/blunders.txt\n", dir.c_str());
        return 1;
    }
    CTINPoints ground;
    const int read = ground.ReadPts(dir + "/points.pts");
    if (read < 0) {
        std::fprintf(stderr, "cannot read %s/points.pts (%d)\n", dir.c_str(), read);
        return 1;
    }
    // The planted ids are record indices of the file as generated: a file
    // saved since (compacted, edited) does not fit them.
    for (const demo::DemoBlunder& b : planted) {
        if (b.id < 0 || b.id >= ground.GetCount()) {
            std::fprintf(stderr, "%s/points.pts is not the generated file of blunders.txt\n",
                         dir.c_str());
            return 1;
        }
    }
    CAerialPhoto left;
    if (left.ReadOrientation(dir + "/left.ORN") < 0) {
        std::fprintf(stderr, "cannot read %s/left.ORN\n", dir.c_str());
        return 1;
    }
    const demo::DemoLayout layout = demo::MakeDemoLayout(made);
    const demo::CDemoTerrain terrain(made.seed, layout.originX, layout.originY, layout.baseZ,
                                     layout.groundPixel);
    double spacingX = 0.0, spacingY = 0.0;
    ground.GetSpacing(&spacingX, &spacingY);

    CCheckRanking ranking(ground);
    // The fastest of `repeat` rankings: on a shared machine the others show
    // the neighbours' load, not the ranking's work.
    int scored = 0;
    double wall = 1e300, cpu = 1e300;
    for (int r = 0; r < repeat; ++r) {
        const double c0 = ProcessSeconds();
        const auto t0 = Clock::now();
        scored = ranking.Rank(options);
        const auto t1 = Clock::now();
        const double c1 = ProcessSeconds();
        wall = std::min(wall, Seconds(t0, t1));
        cpu = std::min(cpu, c1 - c0);
    }
    const int n = static_cast<int>(planted.size());
    std::vector<int> top;
    ranking.Worst(2 * n, 0.0, top);
    std::unordered_map<int, int> rankOf;
    for (size_t r = 0; r < top.size(); ++r) rankOf[top[r]] = static_cast<int>(r);
    std::vector<int> all;
    ranking.Worst(-1, 0.0, all);
    std::vector<int> fullRank(static_cast<size_t>(ground.GetCount()), -1);
    for (size_t r = 0; r < all.size(); ++r) fullRank[all[r]] = static_cast<int>(r);

    std::vector<uint8_t> isPlanted(static_cast<size_t>(ground.GetCount()), 0);
    for (const demo::DemoBlunder& b : planted) isPlanted[b.id] = 1;
    int hitsN = 0, hits2N = 0, lastRank = -1;
    for (const demo::DemoBlunder& b : planted) {
        const int r = fullRank[b.id];
        if (r >= 0 && r < n) ++hitsN;
        if (r >= 0 && r < 2 * n) ++hits2N;
        lastRank = r < 0 ? ground.GetCount() : std::max(lastRank, r);
    }
    int relief = 0, reliefBuilding = 0, reliefRoad = 0, otherFalse = 0;
    for (int r = 0; r < n && r < static_cast<int>(top.size()); ++r) {
        const int i = top[r];
        if (isPlanted[i]) continue;
        const TINPoint* p = ground.GetPoint(i);
        const demo::ReliefKind k = terrain.ReliefAt(p->x, p->y, spacingX);
        relief += k != demo::ReliefKind::None;
        reliefBuilding += k == demo::ReliefKind::BuildingEdge;
        reliefRoad += k == demo::ReliefKind::RoadSlope;
        otherFalse += k == demo::ReliefKind::None;
    }

    // Set To Surface on the top N.
    std::vector<int> topN(top.begin(), top.begin() + std::min<size_t>(n, top.size()));
    std::vector<SurfaceTarget> targets;
    const auto t2 = Clock::now();
    const int converged = ComputeSurfaceTargets(ranking, left, topN, targets);
    const auto t3 = Clock::now();
    int fixedSurface = 0, fixedTrue = 0;
    double worstSurface = 0.0;
    std::unordered_map<int, const SurfaceTarget*> targetOf;
    for (const SurfaceTarget& t : targets) targetOf[t.index] = &t;
    for (const demo::DemoBlunder& b : planted) {
        auto it = targetOf.find(static_cast<int>(b.id));
        if (it == targetOf.end() || it->second->status != TargetStatus::Converged) continue;
        const SurfaceTarget& t = *it->second;
        const double e = std::fabs(t.z - terrain.SurfaceHeight(t.x, t.y));
        worstSurface = std::max(worstSurface, e);
        fixedSurface += e <= 0.3;
        fixedTrue += std::fabs(t.z - b.trueZ) <= 0.3;
    }

    if (list) {
        std::printf("planted: id rank score weight relief | target dz(surface) dz(true) moved\n");
        for (const demo::DemoBlunder& b : planted) {
            const TINPoint* p = ground.GetPoint(static_cast<int>(b.id));
            const PointScore s = ranking.Get(static_cast<int>(b.id));
            std::printf("  %8lld %7d %9.2f %5.3f %-13s", static_cast<long long>(b.id),
                        fullRank[b.id], s.score, p->weight,
                        ReliefName(terrain.ReliefAt(p->x, p->y, spacingX)));
            auto it = targetOf.find(static_cast<int>(b.id));
            if (it != targetOf.end()) {
                const SurfaceTarget& t = *it->second;
                std::printf(" | %d %7.3f %7.3f %6.2f", static_cast<int>(t.status),
                            t.z - terrain.SurfaceHeight(t.x, t.y), t.z - b.trueZ,
                            std::hypot(t.x - p->x, t.y - p->y));
            }
            std::printf("\n");
        }
        std::printf("false alarms in the top N: rank id score weight relief residual spread\n");
        for (int r = 0; r < n && r < static_cast<int>(top.size()); ++r) {
            const int i = top[r];
            if (isPlanted[i]) continue;
            const TINPoint* p = ground.GetPoint(i);
            const PointScore s = ranking.Get(i);
            std::printf("  %5d %8d %9.2f %5.3f %-13s %8.3f %7.3f\n", r, i, s.score, p->weight,
                        ReliefName(terrain.ReliefAt(p->x, p->y, spacingX)), s.residual, s.spread);
        }
    }

    // Apply the targets as the editing layer would, then update the ranking.
    std::vector<int> changed;
    for (const SurfaceTarget& t : targets) {
        if (t.status != TargetStatus::Converged) continue;
        TINPoint* p = ground.GetPoint(t.index);
        p->x = t.x;
        p->y = t.y;
        p->z = t.z;
        p->weight = 0.95;
        changed.push_back(t.index);
    }
    const double c4 = ProcessSeconds();
    const auto t4 = Clock::now();
    const int rescored = ranking.Update(changed);
    const auto t5 = Clock::now();
    const double c5 = ProcessSeconds();
    std::vector<int> after;
    ranking.Worst(n, 0.0, after);
    int stillTop = 0;
    for (int i : after) stillTop += isPlanted[i];

    std::printf("demo %s: %d points (%d scored, %d insufficient), spacing %.3f m\n", dir.c_str(),
                ground.GetCount(), scored, ranking.InsufficientCount(), spacingX);
    std::printf("ranking: %.3f s wall, %.3f s processor (threads %d: 0 = all; best of %d)\n", wall,
                cpu, options.threads, repeat);
    std::printf("planted gross errors: N = %d\n", n);
    std::printf("  top N:  precision %.4f, recall %.4f (%d of %d)\n", n ? double(hitsN) / n : 0.0,
                n ? double(hitsN) / n : 0.0, hitsN, n);
    std::printf("  top 2N: recall %.4f; last planted error at rank %d\n",
                n ? double(hits2N) / n : 0.0, lastRank + 1);
    std::printf(
        "  false alarms in the top N: %d relief (%d building edge, %d road slope), %d other\n",
        relief, reliefBuilding, reliefRoad, otherFalse);
    std::printf("set to surface on the top N: %d converged in %.4f s\n", converged,
                Seconds(t2, t3));
    std::printf(
        "  planted errors within 0.3 m of the surface where they end: %d of %d (worst %.3f m)\n",
        fixedSurface, n, worstSurface);
    std::printf(
        "  planted errors within 0.3 m of the true height at their grid position: %d of %d\n",
        fixedTrue, n);
    std::printf(
        "update after applying %zu targets: %d points scored again in %.4f s wall, %.4f s "
        "processor\n",
        changed.size(), rescored, Seconds(t4, t5), c5 - c4);
    std::printf("  planted errors still in the new top N: %d\n", stillTop);
    return 0;
}
