// ProjectAll of a large ground set into both photographs of a pair, against the
// time of copying the same records into two new sets (allocation included on
// both sides, so the difference is the projection itself).
//
// One wheel notch over 100,000 selected points of a 1,000,000-point project:
// for each selected point the ground set's MovePoint and UpdateImagePoint of
// both photographs, all three grid indexes kept in step, against the same
// arithmetic with the positions stored into the records alone.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "BenchSupport.h"
#include "Photogrammetry/AerialPhoto.h"
#include "TIN/TINPoints.h"

namespace {

// The loops are timed in this thread's processor time.
using bench::ThreadSeconds;

constexpr int kPoints = 5'000'000;

const char* const kLeft =
    "ORIENTATION left photo\n152.916\n1000 1000 1800\n2 -3 30\n0 0 0\n"
    "0.012 0.0001 -115.2\n-0.0001 -0.012 115.2\n0.01 -0.02\n";
const char* const kRight =
    "ORIENTATION right photo\n152.916\n1600 1020 1790\n-1.5 2.5 -12\n0 0 0\n"
    "0.012 0.0001 -115.2\n-0.0001 -0.012 115.2\n0.01 -0.02\n";

// A cols x rows lattice 0.4 ground units apart from (x0, y0) with rolling
// heights (within +-20), records numbered row by row, with the header of its
// points file.
std::unique_ptr<CTINPoints> RollingLattice(int cols, int rows, double x0, double y0) {
    const int n = cols * rows;
    auto set = std::make_unique<CTINPoints>(n);
    for (int i = 0; i < n; ++i) {
        const double x = x0 + 0.4 * (i % cols);
        const double y = y0 + 0.4 * (i / cols);
        set->SetPoint(i, x, y, i);
        TINPoint* p = set->GetPoint(i);
        p->z = 20.0 * std::sin(x * 0.01) * std::cos(y * 0.013);
        p->weight = 1.0;
    }
    set->m_dMinX = x0;
    set->m_dMaxX = x0 + 0.4 * (cols - 1);
    set->m_dMinY = y0;
    set->m_dMaxY = y0 + 0.4 * (rows - 1);
    set->m_dMinZ = -20.0;
    set->m_dMaxZ = 20.0;
    set->SetSpacing(0.4, 0.4);
    return set;
}

// A 2500 x 2000 lattice.
const CTINPoints& Ground() {
    static const std::unique_ptr<CTINPoints> ground =
        RollingLattice(2500, kPoints / 2500, 800.0, 700.0);
    return *ground;
}

bool Orient(CAerialPhoto& photo, const char* text) {
    FILE* f = std::tmpfile();
    if (f == nullptr) {
        return false;
    }
    std::fputs(text, f);
    std::rewind(f);
    const int result = photo.ReadOrientation(f);
    std::fclose(f);
    return result == 1;
}

void BM_ProjectAllIntoPair(benchmark::State& state) {
    const CTINPoints& ground = Ground();
    CAerialPhoto left, right;
    if (!Orient(left, kLeft) || !Orient(right, kRight)) {
        state.SkipWithError("orientation");
        return;
    }
    for (auto _ : state) {
        left.ProjectAll(ground);
        right.ProjectAll(ground);
        benchmark::DoNotOptimize(left.m_pImagePoints->GetPoint(kPoints - 1)->x);
        benchmark::DoNotOptimize(right.m_pImagePoints->GetPoint(kPoints - 1)->x);
        benchmark::ClobberMemory();
    }
    state.counters["points/s"] =
        benchmark::Counter(2.0 * kPoints, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_CopyRecordsIntoPair(benchmark::State& state) {
    const CTINPoints& ground = Ground();
    std::unique_ptr<CTINPoints> a, b;
    for (auto _ : state) {
        // Released first, like ProjectAll releases the previous image-point set.
        a.reset();
        a = std::make_unique<CTINPoints>(kPoints);
        std::memcpy(a->m_pPoints.get(), ground.m_pPoints.get(), sizeof(TINPoint) * kPoints);
        b.reset();
        b = std::make_unique<CTINPoints>(kPoints);
        std::memcpy(b->m_pPoints.get(), ground.m_pPoints.get(), sizeof(TINPoint) * kPoints);
        benchmark::DoNotOptimize(a->GetPoint(kPoints - 1)->x);
        benchmark::DoNotOptimize(b->GetPoint(kPoints - 1)->x);
        benchmark::ClobberMemory();
    }
    state.counters["points/s"] =
        benchmark::Counter(2.0 * kPoints, benchmark::Counter::kIsIterationInvariantRate);
}

// A 1000 x 1000 lattice 0.4 ground units apart with rolling heights, indexed
// as the project loader indexes it, and both photographs' indexed image-point
// sets.
struct WheelProject {
    std::unique_ptr<CTINPoints> ground;
    CAerialPhoto left, right;
    bool ok = false;
    WheelProject() {
        ground = RollingLattice(1000, 1000, 900.0, 800.0);
        ok = ground->BuildIndex(1) == 0 && Orient(left, kLeft) && Orient(right, kRight) &&
             left.ProjectAll(*ground) == 1 && right.ProjectAll(*ground) == 1 &&
             left.m_pImagePoints->BuildPlacedIndex(1) == 0 &&
             right.m_pImagePoints->BuildPlacedIndex(1) == 0;
    }
};

// Argument: the height step in millimetres, up and down on alternate notches;
// 100 mm moves the image points by a fraction of a pixel, 20 m across cells
// of the image-point indexes. Argument 2: 1 moves the points along the left
// photograph's ray (Shift + wheel), so the ground positions move too.
void BM_WheelNotch100k(benchmark::State& state) {
    static WheelProject project;
    if (!project.ok) {
        state.SkipWithError("project");
        return;
    }
    const double step = double(state.range(0)) / 1000.0;
    const bool alongRay = state.range(1) != 0;
    CTINPoints& ground = *project.ground;
    // A selected area: a 316 x 316 block of the lattice.
    const std::vector<int> selected = bench::LatticeBlock(1000, 300, 616);
    // Baseline copies: the same records without index upkeep.
    CTINPoints plainGround(ground.GetCount());
    CTINPoints plainLeft(ground.GetCount());
    CTINPoints plainRight(ground.GetCount());
    const size_t bytes = sizeof(TINPoint) * size_t(ground.GetCount());
    std::memcpy(plainGround.m_pPoints.get(), ground.m_pPoints.get(), bytes);
    std::memcpy(plainLeft.m_pPoints.get(), project.left.m_pImagePoints->m_pPoints.get(), bytes);
    std::memcpy(plainRight.m_pPoints.get(), project.right.m_pImagePoints->m_pPoints.get(), bytes);
    const double xl = project.left.GetXStart(), yl = project.left.GetYStart();
    const double xr = project.right.GetXStart(), yr = project.right.GetYStart();

    double ours = 0;
    double plain = 0;
    double sign = 1.0;
    for (auto _ : state) {
        const double dZ = sign * step;
        sign = -sign;
        const double t0 = ThreadSeconds();
        for (const int i : selected) {
            TINPoint p = *ground.GetPoint(i);
            if (alongRay)
                project.left.MoveAlongRay(p, dZ);
            else
                p.z += dZ;
            ground.MovePoint(i, p.x, p.y);
            ground.GetPoint(i)->z = p.z;
            project.left.UpdateImagePoint(p, i);
            project.right.UpdateImagePoint(p, i);
        }
        const double t1 = ThreadSeconds();
        for (const int i : selected) {
            TINPoint p = *plainGround.GetPoint(i);
            if (alongRay)
                project.left.MoveAlongRay(p, dZ);
            else
                p.z += dZ;
            *plainGround.GetPoint(i) = p;
            double c, r;
            project.left.GroundToImage(p.x, p.y, p.z, c, r);
            plainLeft.SetPoint(p.id, c - xl, r - yl, i);
            project.right.GroundToImage(p.x, p.y, p.z, c, r);
            plainRight.SetPoint(p.id, c - xr, r - yr, i);
        }
        benchmark::ClobberMemory();
        const double t2 = ThreadSeconds();
        ours += t1 - t0;
        plain += t2 - t1;
    }
    const double iterations = double(state.iterations());
    state.counters["points"] = double(selected.size());
    state.counters["notch_ms"] = 1e3 * ours / iterations;
    state.counters["no_index_ms"] = 1e3 * plain / iterations;
    state.counters["ratio"] = ours / plain;
    state.counters["image_cell_px"] = project.left.m_pImagePoints->m_index.m_dCellSize;
}

}  // namespace

BENCHMARK(BM_WheelNotch100k)
    ->Args({100, 0})
    ->Args({20000, 0})
    ->Args({100, 1})
    ->Args({20000, 1})
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopyRecordsIntoPair)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ProjectAllIntoPair)->Unit(benchmark::kMillisecond)->MinTime(2.0);

BENCHMARK_MAIN();
