// The surface (src/Surface) on 1,000,000 points laid as the demo lays them (a
// regular grid whose origin and step are not exact in binary, so that every
// grid square is a near tie for the in-circle test), and on the same grid
// jittered. Each figure is measured in one run:
//   Build vs std::sort of the same points (by X, then Y): ratio, limit 15
//   the triangulation's own arrays per point: limit 60 bytes (the copy of
//   the points' X, Y, Z reported beside them)
//   Update and contour refresh after a Z-only edit of 10,000 points, and
//   after moves of 10,000 points along a ray (X, Y change by up to 0.9 dZ)
//   Height per query: successive positions a pixel apart (as a mouse moves)
//   and positions anywhere (the walk from the previous triangle is long)
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "BenchSupport.h"
#include "Surface/Contours.h"
#include "Surface/Surface.h"
#include "TIN/TINPoints.h"

namespace {

using bench::ThreadSeconds;

constexpr int kSide = 1000;  // 1,000,000 points
constexpr double kStep = 3.7;
constexpr double kX0 = 512345.678, kY0 = 4100000.1;

// The ground set: jitter 0 gives the exact grid.
void MakeGround(CTINPoints& set, double jitter) {
    std::mt19937_64 random(3);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    set.m_pPoints = std::make_unique<TINPoint[]>(size_t(kSide) * kSide);
    set.m_nCount = set.m_nCapacity = kSide * kSide;
    for (int i = 0; i < kSide; ++i) {
        for (int j = 0; j < kSide; ++j) {
            const double x = kX0 + kStep * j + jitter * u(random);
            const double y = kY0 - kStep * i + jitter * u(random);
            const double z = 300.0 + 80.0 * std::sin(j / 90.0) * std::cos(i / 70.0) +
                             20.0 * std::sin(j / 13.0 + i / 17.0) + 0.3 * u(random);
            const int r = i * kSide + j;
            set.m_pPoints[size_t(r)] = TINPoint{r, x, y, z, 1.0};
        }
    }
}

CTINPoints& Ground(bool jittered) {
    static CTINPoints grid, jitter;
    static bool made = false;
    if (!made) {
        MakeGround(grid, 0.0);
        MakeGround(jitter, 0.4 * kStep);
        made = true;
    }
    return jittered ? jitter : grid;
}

void BM_Build_vs_sort(benchmark::State& state) {
    const CTINPoints& ground = Ground(state.range(0) != 0);
    double ours = 0.0, sorting = 0.0;
    size_t arrays = 0, points = 0;
    int n = 0;
    for (auto _ : state) {
        std::vector<std::array<double, 2>> xy(size_t(ground.GetCount()));
        for (int i = 0; i < ground.GetCount(); ++i)
            xy[size_t(i)] = {ground.GetPoint(i)->x, ground.GetPoint(i)->y};
        std::shuffle(xy.begin(), xy.end(), std::mt19937_64(1));
        double t0 = ThreadSeconds();
        std::sort(xy.begin(), xy.end());
        sorting += ThreadSeconds() - t0;
        benchmark::DoNotOptimize(xy.data());
        CSurface surface;
        t0 = ThreadSeconds();
        n = surface.Build(ground);
        ours += ThreadSeconds() - t0;
        arrays = surface.ArrayBytes();
        points = surface.PointBytes();
    }
    const double iterations = double(state.iterations());
    state.counters["Build_ms"] = 1e3 * ours / iterations;
    state.counters["sort_ms"] = 1e3 * sorting / iterations;
    state.counters["ratio"] = ours / sorting;
    state.counters["triangles"] = n;
    state.counters["array_bytes_per_point"] = double(arrays) / ground.GetCount();
    state.counters["copy_bytes_per_point"] = double(points) / ground.GetCount();
}
BENCHMARK(BM_Build_vs_sort)->Arg(0)->Arg(1)->Iterations(3)->Unit(benchmark::kMillisecond);

// Edits of 10,000 points: Z only, or moves along a ray (dZ up to 2 m, X and
// Y by up to 0.9 dZ towards the frame's edge); the points a block of 100 x
// 100 (a selection as the operator makes one) or spread over the whole set.
void BM_Update(benchmark::State& state) {
    const bool moves = state.range(0) != 0;
    const bool spread = state.range(1) != 0;
    CTINPoints& ground = Ground(false);
    CSurface surface;
    surface.Build(ground);
    CContours contours;
    contours.Build(surface, 5.0);
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    double update = 0.0, refresh = 0.0;
    int retouched = 0;
    for (auto _ : state) {
        std::vector<int> changed;
        if (spread) {
            for (int k = 0; k < 10000; ++k) changed.push_back(int(random() % ground.GetCount()));
        } else {
            const int row = int(random() % (kSide - 100)), column = int(random() % (kSide - 100));
            for (int i = row; i < row + 100; ++i)
                for (int j = column; j < column + 100; ++j) changed.push_back(i * kSide + j);
        }
        for (int r : changed) {
            TINPoint& p = ground.m_pPoints[size_t(r)];
            const double dZ = 2.0 * u(random);
            p.z += dZ;
            if (moves) {
                p.x += 0.9 * dZ * (p.x - kX0 - 1850.0) / 1850.0;
                p.y += 0.9 * dZ * (p.y - kY0 + 1850.0) / 1850.0;
            }
        }
        double t0 = ThreadSeconds();
        surface.Update(ground, changed);
        update += ThreadSeconds() - t0;
        t0 = ThreadSeconds();
        retouched += contours.Refresh(surface);
        refresh += ThreadSeconds() - t0;
    }
    const double iterations = double(state.iterations());
    state.counters["Update_ms"] = 1e3 * update / iterations;
    state.counters["contours_ms"] = 1e3 * refresh / iterations;
    state.counters["total_ms"] = 1e3 * (update + refresh) / iterations;
    state.counters["triangles_recontoured"] = retouched / iterations;
    // Put the set back for the other benchmarks.
    MakeGround(ground, 0.0);
}
BENCHMARK(BM_Update)->Args({0, 0})->Args({1, 0})->Args({0, 1})->Args({1, 1})->Iterations(5)->Unit(
    benchmark::kMillisecond);

void BM_Height(benchmark::State& state) {
    const bool anywhere = state.range(0) != 0;
    const CTINPoints& ground = Ground(false);
    CSurface surface;
    surface.Build(ground);
    std::mt19937_64 random(9);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    const double w = kStep * (kSide - 1);
    // A ground pixel of about 0.3 m, as the demo's photographs have.
    std::vector<std::array<double, 2>> queries;
    double x = kX0 + w / 2, y = kY0 - w / 2;
    // Positions anywhere walk far from the previous triangle: fewer of them.
    for (int k = 0; k < (anywhere ? 20000 : 1000000); ++k) {
        if (anywhere) {
            x = kX0 + w * u(random), y = kY0 - w * u(random);
        } else {
            x = std::clamp(x + 0.6 * (u(random) - 0.5), kX0, kX0 + w);
            y = std::clamp(y + 0.6 * (u(random) - 0.5), kY0 - w, kY0);
        }
        queries.push_back({x, y});
    }
    double seconds = 0.0, sum = 0.0;
    for (auto _ : state) {
        const double t0 = ThreadSeconds();
        for (const auto& q : queries) {
            double z = 0.0;
            if (surface.Height(q[0], q[1], z)) sum += z;
        }
        seconds += ThreadSeconds() - t0;
    }
    benchmark::DoNotOptimize(sum);
    state.counters["ns_per_query"] = 1e9 * seconds / (double(state.iterations()) * queries.size());
}
BENCHMARK(BM_Height)->Arg(0)->Arg(1)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
