// Exporting 1,000,000 points to LAS 1.4 and XYZ text against writing the
// same set as a points file (CTINPoints::WritePts by path), in the same run.
// Each paired iteration writes the points file and the LAS file in turn, so
// both meet the same load on a shared machine; the smallest times are
// compared. Files: /tmp/pointio_bench_<pid>.*, deleted at exit.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>

#include "BenchReport.h"
#include "BenchSupport.h"
#include "PointIO/PointIO.h"
#include "TIN/TINPoints.h"

namespace {

constexpr int kPoints = 1000000;
std::string g_stem;
CTINPoints* g_set = nullptr;
std::map<std::string, double> g_ratio;

void MakeSet(CTINPoints& set) {
    CTINPoints s(kPoints);
    std::mt19937_64 rng(1);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (int i = 0; i < kPoints; ++i)
        s.m_pPoints[static_cast<size_t>(i)] = {i, 431000.0 + 1000.0 * u(rng),
                                               5378000.0 + 1000.0 * u(rng), 300.0 + 50.0 * u(rng),
                                               u(rng)};
    DerivePointsHeader(s);
    set.Swap(s);
}

// Writes the points file, then exports to `ext`, each iteration
// (bench::PairedMinima).
void Paired(benchmark::State& state, const std::string& ext, const char* what) {
    using bench::Clock;
    const std::string pts = g_stem + ".pts", out = g_stem + ext;
    bench::PairedMinima minima;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        if (g_set->WritePts(pts) != kPoints) {
            state.SkipWithError("WritePts failed");
            break;
        }
        const auto t1 = Clock::now();
        if (ExportPoints(out, *g_set) != kPoints) {
            state.SkipWithError("ExportPoints failed");
            break;
        }
        const auto t2 = Clock::now();
        minima.Add(bench::Seconds(t1, t2), bench::Seconds(t0, t1));
        state.SetIterationTime(bench::Seconds(t1, t2));
    }
    minima.Report(state, "export", "pts");
    g_ratio[what] = minima.Ratio();
}

void BM_Las_vs_WritePts_1M(benchmark::State& s) {
    Paired(s, ".las", "LAS export / WritePts, 1,000,000 points");
}
void BM_Xyz_vs_WritePts_1M(benchmark::State& s) {
    Paired(s, ".xyz", "XYZ export / WritePts, 1,000,000 points");
}

BENCHMARK(BM_Las_vs_WritePts_1M)->Unit(benchmark::kMillisecond)->Iterations(20)->UseManualTime();
BENCHMARK(BM_Xyz_vs_WritePts_1M)->Unit(benchmark::kMillisecond)->Iterations(5)->UseManualTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    g_stem = bench::TempStem("pointio_bench");
    CTINPoints set;
    MakeSet(set);
    g_set = &set;
    benchmark::RunSpecifiedBenchmarks();
    for (const char* ext : {".pts", ".las", ".xyz"}) std::remove((g_stem + ext).c_str());
    std::printf("\nRatios of the smallest times (export / points file):\n");
    for (const auto& [what, ratio] : g_ratio) {
        const bool las = what.rfind("LAS", 0) == 0;
        bench::PrintRatio(44, what, ratio, las ? 2.0 : 0.0);
    }
    benchmark::Shutdown();
    return 0;
}
