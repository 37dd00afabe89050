// ProjectAll of a large ground set into both photographs of a pair, against the
// time of copying the same records into two new sets (allocation included on
// both sides, so the difference is the projection itself).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "Photogrammetry/AerialPhoto.h"
#include "TIN/TINPoints.h"

namespace {

constexpr int kPoints = 5'000'000;

const char* const kLeft =
    "ORIENTATION left photo\n152.916\n1000 1000 1800\n2 -3 30\n0 0 0\n"
    "0.012 0.0001 -115.2\n-0.0001 -0.012 115.2\n0.01 -0.02\n";
const char* const kRight =
    "ORIENTATION right photo\n152.916\n1600 1020 1790\n-1.5 2.5 -12\n0 0 0\n"
    "0.012 0.0001 -115.2\n-0.0001 -0.012 115.2\n0.01 -0.02\n";

// A 2500 x 2000 lattice with 0.4 ground units spacing and rolling heights.
const CTINPoints& Ground() {
    static std::unique_ptr<CTINPoints> ground = [] {
        auto set = std::make_unique<CTINPoints>(kPoints);
        const int cols = 2500;
        for (int i = 0; i < kPoints; ++i) {
            const double x = 800.0 + 0.4 * (i % cols);
            const double y = 700.0 + 0.4 * (i / cols);
            set->SetPoint(i, x, y, i);
            TINPoint* p = set->GetPoint(i);
            p->z = 20.0 * std::sin(x * 0.01) * std::cos(y * 0.013);
            p->weight = 1.0;
        }
        set->m_dMinX = 800.0;
        set->m_dMaxX = 800.0 + 0.4 * (cols - 1);
        set->m_dMinY = 700.0;
        set->m_dMaxY = 700.0 + 0.4 * (kPoints / cols - 1);
        set->m_dMinZ = -20.0;
        set->m_dMaxZ = 20.0;
        set->SetSpacing(0.4, 0.4);
        return set;
    }();
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

}  // namespace

BENCHMARK(BM_CopyRecordsIntoPair)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ProjectAllIntoPair)->Unit(benchmark::kMillisecond)->MinTime(2.0);

BENCHMARK_MAIN();
