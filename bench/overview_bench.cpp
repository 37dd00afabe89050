// The overview pyramid of a 10,000 x 10,000 8-bit photograph against a plain
// loop that reads every byte of the same band once and sums them (the least
// any reduction of the band must do). Both run alternately in one loop, so
// they meet the same load of the shared machine; the summary gives the ratio
// of the medians and the memory the pyramid held at its peak against the
// image's bytes.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "Overview/ImagePyramid.h"
#include "erdasimg/erdasimg.h"

namespace {

constexpr int kSide = 10000;

using Clock = std::chrono::steady_clock;

// Band 0 of the photograph: a smooth pattern with fine noise, every page touched.
const std::vector<unsigned char>& Band() {
    static const std::vector<unsigned char> band = [] {
        std::vector<unsigned char> b(static_cast<size_t>(kSide) * kSide);
        uint32_t state = 12345;
        for (int r = 0; r < kSide; ++r)
            for (int c = 0; c < kSide; ++c) {
                state = state * 1664525u + 1013904223u;
                b[static_cast<size_t>(r) * kSide + c] =
                    static_cast<unsigned char>(((r / 37 + c / 53) * 9 + (state >> 28)) & 0xFF);
            }
        return b;
    }();
    return band;
}

std::vector<double> g_sum, g_pyramid;
int64_t g_peakBytes = 0;
int64_t g_keptBytes = 0;

double Median(std::vector<double> v) {
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

uint64_t SumOfBytes(const unsigned char* p, size_t n) {
    uint64_t sum = 0;
    for (size_t i = 0; i < n; ++i) sum += p[i];
    return sum;
}

void BM_PyramidAgainstSum(benchmark::State& state) {
    const std::vector<unsigned char>& band = Band();
    const PyramidSource source{band.data(), kSide, kSide, 0};
    CImagePyramid pyramid;
    for (auto _ : state) {
        auto t0 = Clock::now();
        benchmark::DoNotOptimize(SumOfBytes(band.data(), band.size()));
        auto t1 = Clock::now();
        const int result = pyramid.Build(source);
        auto t2 = Clock::now();
        if (result != 1) state.SkipWithError("Build failed");
        g_sum.push_back(std::chrono::duration<double>(t1 - t0).count());
        g_pyramid.push_back(std::chrono::duration<double>(t2 - t1).count());
        state.SetIterationTime(std::chrono::duration<double>(t2 - t1).count());
    }
    g_peakBytes = pyramid.GetPeakBuildBytes();
    g_keptBytes = pyramid.GetMemoryBytes();
    state.counters["levels"] = pyramid.GetLevelCount();
}

}  // namespace

BENCHMARK(BM_PyramidAgainstSum)->Iterations(15)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    Band();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const double sum = Median(g_sum), pyramid = Median(g_pyramid);
    const double image = static_cast<double>(kSide) * kSide;
    std::printf("\n| measure | ours | reference | ratio | target |\n");
    std::printf(
        "| pyramid of %d x %d 8-bit | %.2f ms | sum of every byte %.2f ms | %.3f | <= 1.5 "
        "%s |\n",
        kSide, kSide, pyramid * 1e3, sum * 1e3, pyramid / sum,
        pyramid / sum <= 1.5 ? "met" : "NOT");
    std::printf("| peak memory of the build | %.2f MB | image %.2f MB | %.4f | <= 0.333 %s |\n",
                g_peakBytes / 1e6, image / 1e6, g_peakBytes / image,
                g_peakBytes / image <= 1.0 / 3.0 ? "met" : "NOT");
    std::printf("| kept levels | %.2f MB | image %.2f MB | %.4f | |\n", g_keptBytes / 1e6,
                image / 1e6, g_keptBytes / image);
    return 0;
}
