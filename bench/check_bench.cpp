// Check ranking benchmarks. Each comparison runs both sides in the same
// iteration over the same data and reports their times and ratio as
// counters.
//   Rank of 40,000 and 1,000,000 ground points (all threads) vs a nanoflann
//     KD-tree finding the 12 nearest neighbours of every point (one thread):
//     the ranking's whole work against its neighbour search alone done by a
//     plain library; also the ranking's processor time, which on a shared
//     machine shows the work where the wall-clock time also shows waiting
//   Update after an edit of 100 points (scattered moves, one block of moves,
//     deletions, additions) vs the full Rank of the same 1,000,000 points
//   Set To Surface targets of 100 blunders along a photograph's rays
//
// The points: a jittered grid at 1.6 m over rolling hills with 6 cm of
// matching noise and one blunder in 2000, like the demo project's.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "Checking/CheckRanking.h"
#include "Checking/SurfaceTargets.h"
#include "PointsKDTree.h"
#include "TIN/TINPoints.h"

namespace {

using bench::Clock;
using bench::ProcessSeconds;
using bench::Seconds;

constexpr double kSpacing = 1.6;
constexpr double kX0 = 431000.0, kY0 = 5378000.0;

double Hills(double x, double y) {
    const double u = x - kX0, v = y - kY0;
    return 310.0 + 0.01 * u + 12.0 * std::sin(u / 150.0) * std::cos(v / 190.0) +
           2.0 * std::sin(u / 23.0 + v / 31.0);
}

// A side x side grid, built once per size.
CTINPoints& Points(int side) {
    static std::unique_ptr<CTINPoints> sets[2];
    std::unique_ptr<CTINPoints>& set = sets[side > 500 ? 1 : 0];
    if (!set) {
        set = std::make_unique<CTINPoints>(side * side);
        std::mt19937_64 random(17);
        std::uniform_real_distribution<double> jitter(-0.3 * kSpacing, 0.3 * kSpacing);
        std::normal_distribution<double> noise(0.0, 0.06);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        for (int i = 0; i < side * side; ++i) {
            TINPoint& p = set->m_pPoints[i];
            p.id = i;
            p.x = kX0 + kSpacing * (i % side) + jitter(random);
            p.y = kY0 + kSpacing * (i / side) + jitter(random);
            p.z = Hills(p.x, p.y) + noise(random);
            p.weight = unit(random) < 0.07 ? 0.6 : 0.97;
            if (i % 2000 == 1000)
                p.z += (i % 4000 == 1000 ? 1.0 : -1.0) * (6.0 + 14.0 * unit(random));
        }
        set->m_dMinX = kX0 - kSpacing;
        set->m_dMaxX = kX0 + kSpacing * side;
        set->m_dMinY = kY0 - kSpacing;
        set->m_dMaxY = kY0 + kSpacing * side;
        set->SetSpacing(kSpacing, kSpacing);
    }
    return *set;
}

void BM_Rank_vs_KDTreeNeighbours(benchmark::State& state) {
    const int side = static_cast<int>(state.range(0));
    CTINPoints& set = Points(side);
    const int n = set.GetCount();
    double ours = 0, cpu = 0, plain = 0;
    for (auto _ : state) {
        CCheckRanking ranking(set);
        const double c0 = ProcessSeconds();
        const auto t0 = Clock::now();
        const int scored = ranking.Rank();
        const auto t1 = Clock::now();
        const double c1 = ProcessSeconds();
        if (scored != n) state.SkipWithError("not every point was scored");
        // The baseline: the 12 nearest other points of every point.
        bench::PointsXYAdaptor adaptor{&set};
        bench::PointsKDTree tree(2, adaptor, nanoflann::KDTreeSingleIndexAdaptorParams(10));
        tree.buildIndex();
        uint32_t indices[13];
        double distances[13];
        double sum = 0;
        for (int i = 0; i < n; ++i) {
            const double query[2] = {set.GetPoint(i)->x, set.GetPoint(i)->y};
            tree.knnSearch(query, 13, indices, distances);
            sum += distances[12];
        }
        benchmark::DoNotOptimize(sum);
        const auto t2 = Clock::now();
        ours += Seconds(t0, t1);
        cpu += c1 - c0;
        plain += Seconds(t1, t2);
    }
    const double it = double(state.iterations());
    state.counters["Rank_s"] = ours / it;
    state.counters["Rank_processor_s"] = cpu / it;
    state.counters["Rank_us_per_point"] = 1e6 * ours / it / n;
    state.counters["KDTree_12NN_s"] = plain / it;
    state.counters["ratio"] = ours / plain;
}
BENCHMARK(BM_Rank_vs_KDTreeNeighbours)
    ->Arg(200)
    ->Arg(1000)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

// Edits of 100 points and their Update, against a full Rank of the same set.
// Each iteration makes the edit, updates (timed) and undoes it (updated, not timed).
void BM_Update100_vs_Rank(benchmark::State& state) {
    const int kind = static_cast<int>(state.range(0));
    CTINPoints& set = Points(1000);
    const int side = 1000;
    CCheckRanking ranking(set);
    const auto r0 = Clock::now();
    ranking.Rank();
    const double full = Seconds(r0, Clock::now());
    std::mt19937 random(23);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    double ours = 0, worst = 0;
    int64_t rescored = 0;
    for (auto _ : state) {
        std::vector<int> changed;
        if (kind == 1) {  // one 10 x 10 block
            const int c0 = 100 + static_cast<int>(unit(random) * 800);
            const int r0b = 100 + static_cast<int>(unit(random) * 800);
            for (int r = 0; r < 10; ++r) {
                for (int c = 0; c < 10; ++c) changed.push_back((r0b + r) * side + c0 + c);
            }
        } else if (kind != 3) {
            for (int e = 0; e < 100; ++e) {
                changed.push_back(static_cast<int>(unit(random) * (side * side - 1)));
            }
        }
        std::vector<TINPoint> saved;
        for (int i : changed) saved.push_back(*set.GetPoint(i));
        const int before = set.GetCount();
        for (int i : changed) {
            TINPoint* p = set.GetPoint(i);
            if (kind == 2) {
                p->id = -1;
            } else {
                p->z += 3.0 * (unit(random) - 0.5);
                p->x += 0.2 * kSpacing * (unit(random) - 0.5);
                p->y += 0.2 * kSpacing * (unit(random) - 0.5);
            }
        }
        if (kind == 3) {
            for (int e = 0; e < 100; ++e) {
                const double x = kX0 + kSpacing * side * unit(random);
                const double y = kY0 + kSpacing * side * unit(random);
                set.AddPoint(TINPoint{set.GetCount(), x, y, Hills(x, y), 0.95});
            }
        }
        const auto t0 = Clock::now();
        rescored += ranking.Update(changed);
        const double t = Seconds(t0, Clock::now());
        ours += t;
        worst = std::max(worst, t);
        // Undo, as the editing layer would.
        for (size_t k = 0; k < changed.size(); ++k) *set.GetPoint(changed[k]) = saved[k];
        std::vector<int> undo = changed;
        for (int i = before; i < set.GetCount(); ++i) {
            set.GetPoint(i)->id = -1;
            undo.push_back(i);
        }
        ranking.Update(undo);
    }
    const double it = double(state.iterations());
    state.counters["Update_ms"] = 1e3 * ours / it;
    state.counters["Update_worst_ms"] = 1e3 * worst;
    state.counters["rescored"] = double(rescored) / it;
    state.counters["Rank_ms"] = 1e3 * full;
    state.counters["ratio"] = ours / it / full;
}
BENCHMARK(BM_Update100_vs_Rank)
    ->ArgName("scattered_block_deleted_added")
    ->DenseRange(0, 3)
    ->Iterations(40)
    ->Unit(benchmark::kMillisecond);

// Set To Surface of 100 blunders along an oblique photograph's rays.
void BM_SetToSurface100(benchmark::State& state) {
    CTINPoints& set = Points(1000);
    CCheckRanking ranking(set);
    ranking.Rank();
    const std::string orn = bench::TempStem("check_bench") + ".ORN";
    FILE* f = std::fopen(orn.c_str(), "w");
    std::fputs(
        "ORIENTATION bench left\n152.916\n430500 5378800 2200\n0.3 -0.5 1.1\n0 0 0\n1 0 0\n0 1 "
        "0\n0 0\n",
        f);
    std::fclose(f);
    CAerialPhoto left;
    const bool read = left.ReadOrientation(orn) == 1;
    std::remove(orn.c_str());
    if (!read) {
        state.SkipWithError("orientation not read");
        return;
    }
    std::vector<int> blunders;
    for (int i = 1000; i < set.GetCount() && blunders.size() < 100; i += 2000)
        blunders.push_back(i);
    std::vector<SurfaceTarget> targets;
    int converged = 0;
    for (auto _ : state) {
        converged = ComputeSurfaceTargets(ranking, left, blunders, targets);
        benchmark::DoNotOptimize(targets.data());
    }
    state.counters["converged"] = converged;
}
BENCHMARK(BM_SetToSurface100)->Iterations(20)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
