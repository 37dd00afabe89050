// LAN image reading and window copies against the plain floor of the same
// work: fread of the same bytes, memcpy of the same window bytes, and GDAL
// reading the same file. All figures come from one run, and the ratios are
// printed at the end (medians of the repetitions).
//
// Files: /tmp/lan_bench_<pid>_*.lan, written at start-up (so they are in the
// page cache) and deleted at exit.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "BenchReport.h"
#include "BenchSupport.h"
#include "LanWriter.h"
#include "Platform/FileHandle.h"
#include "erdasimg/erdasimg.h"

namespace {

constexpr int kBigSide = 10000;  // single band, 8-bit: 100 MB
constexpr int kBilSide = 8000;   // three bands, 8-bit, BIL: 192 MB
constexpr int kWinW = 1920, kWinH = 1080;

std::string g_big, g_bil;

using Platform::FilePtr;

bool WriteTestFile(const std::string& path, int bands, int side) {
    const size_t n = static_cast<size_t>(side) * side;
    std::vector<std::vector<unsigned char>> data(bands, std::vector<unsigned char>(n));
    std::vector<const void*> blocks;
    for (int b = 0; b < bands; ++b) {
        uint32_t noise = 2463534242u + b;
        bench::FillNoise(data[b].data(), n, noise);
        blocks.push_back(data[b].data());
    }
    return WriteLanFile(path, MakeLanHeader(0, bands, side, side), blocks) == 1;
}

void ReadImageBench(benchmark::State& state, const std::string& path) {
    CErdasImage img;
    for (auto _ : state) {
        FilePtr f(std::fopen(path.c_str(), "rb"));
        if (img.ReadImage(f.get()) != 1) {
            state.SkipWithError("ReadImage failed");
            break;
        }
        benchmark::DoNotOptimize(img.GetBands()[0]);
    }
}

// What any loader must do at least: get fresh memory for the samples and
// fread the file's bytes into it.
void FreadBench(benchmark::State& state, const std::string& path) {
    for (auto _ : state) {
        FilePtr f(std::fopen(path.c_str(), "rb"));
        std::fseek(f.get(), 0, SEEK_END);
        const size_t n = static_cast<size_t>(std::ftell(f.get()));
        std::rewind(f.get());
        bench::MallocBuffer buf = bench::Allocate(n);
        if (std::fread(buf.get(), 1, n, f.get()) != n) {
            state.SkipWithError("fread short");
            break;
        }
        benchmark::DoNotOptimize(buf.get());
    }
}

// fread into a buffer whose pages are already mapped: a lower bound no reader
// that allocates can reach.
void FreadWarmBench(benchmark::State& state, const std::string& path) {
    FilePtr probe(std::fopen(path.c_str(), "rb"));
    std::fseek(probe.get(), 0, SEEK_END);
    const size_t n = static_cast<size_t>(std::ftell(probe.get()));
    std::vector<unsigned char> buf(n, 1);
    for (auto _ : state) {
        FilePtr f(std::fopen(path.c_str(), "rb"));
        if (std::fread(buf.data(), 1, n, f.get()) != n) {
            state.SkipWithError("fread short");
            break;
        }
        benchmark::DoNotOptimize(buf.data());
    }
}

// GDAL opening the file and reading every band into a new array, timed inside
// Debian's Python (interpreter start and imports are not counted).
void GdalBench(benchmark::State& state, const std::string& path) {
    const std::string cmd =
        "/usr/bin/python3 -c 'import sys, time\n"
        "from osgeo import gdal\n"
        "gdal.UseExceptions()\n"
        "t = time.perf_counter()\n"
        "a = gdal.Open(sys.argv[1]).ReadAsArray()\n"
        "print(time.perf_counter() - t, a.nbytes)' " +
        path + " 2>/dev/null";
    for (auto _ : state) {
        FILE* p = popen(cmd.c_str(), "r");
        double seconds = -1.0;
        long long bytes = 0;
        if (p) {
            if (std::fscanf(p, "%lf %lld", &seconds, &bytes) != 2) seconds = -1.0;
            pclose(p);
        }
        if (seconds < 0.0) {
            state.SkipWithError("GDAL Python bindings not available");
            break;
        }
        state.SetIterationTime(seconds);
    }
}

void BM_ReadImage_10000sq_8bit(benchmark::State& s) {
    ReadImageBench(s, g_big);
}
void BM_Fread_10000sq(benchmark::State& s) {
    FreadBench(s, g_big);
}
void BM_FreadWarm_10000sq(benchmark::State& s) {
    FreadWarmBench(s, g_big);
}
void BM_Gdal_10000sq(benchmark::State& s) {
    GdalBench(s, g_big);
}
void BM_ReadImage_8000sq_3band_BIL(benchmark::State& s) {
    ReadImageBench(s, g_bil);
}
void BM_Fread_8000sq_3band(benchmark::State& s) {
    FreadBench(s, g_bil);
}
void BM_Gdal_8000sq_3band(benchmark::State& s) {
    GdalBench(s, g_bil);
}

// A window of 1920 x 1080 panned over the 10000 x 10000 image.
void BM_ExtractWindowFlipped_1920x1080(benchmark::State& state) {
    CErdasImage img;
    FilePtr f(std::fopen(g_big.c_str(), "rb"));
    img.ReadImage(f.get());
    int step = 0;
    for (auto _ : state) {
        const int x0 = (step * 397) % (kBigSide - kWinW);
        const int y0 = (step * 211) % (kBigSide - kWinH);
        ++step;
        benchmark::DoNotOptimize(img.ExtractWindowFlipped(x0, x0 + kWinW - 1, y0, y0 + kWinH - 1));
    }
    state.SetBytesProcessed(state.iterations() * kWinW * kWinH);
}

// One memcpy of the same number of bytes from the same image.
void BM_Memcpy_1920x1080(benchmark::State& state) {
    CErdasImage img;
    FilePtr f(std::fopen(g_big.c_str(), "rb"));
    img.ReadImage(f.get());
    const size_t n = static_cast<size_t>(kWinW) * kWinH;
    std::vector<unsigned char> dst(n, 1);
    const unsigned char* src = img.GetBands()[0];
    int step = 0;
    for (auto _ : state) {
        const size_t off = (static_cast<size_t>(step++) * 397 * kBigSide) %
                           (static_cast<size_t>(kBigSide) * kBigSide - n);
        std::memcpy(dst.data(), src + off, n);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(n));
}

// Display preparation of a 16-bit window (stretch to 8-bit grey).
void BM_DisplayWindow_1920x1080_16bit(benchmark::State& state) {
    const int cols = 4000, rows = 3000;
    std::vector<uint16_t> samples(static_cast<size_t>(cols) * rows);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<uint16_t>(i * 7);
    FilePtr f(std::tmpfile());
    WriteLan(f.get(), MakeLanHeader(2, 1, cols, rows), {samples.data()});
    std::rewind(f.get());
    CErdasImage img;
    img.ReadImage(f.get());
    int step = 0;
    for (auto _ : state) {
        const int x0 = (step * 97) % (cols - kWinW), y0 = (step * 53) % (rows - kWinH);
        ++step;
        img.ExtractWindowFlipped(x0, x0 + kWinW - 1, y0, y0 + kWinH - 1);
        benchmark::DoNotOptimize(img.GetDisplayWindow());
    }
}

#define LAN_BENCH(fn) BENCHMARK(fn)->Unit(benchmark::kMillisecond)->Repetitions(3)
LAN_BENCH(BM_ReadImage_10000sq_8bit)->MinTime(1.0)->UseRealTime();
LAN_BENCH(BM_Fread_10000sq)->MinTime(1.0)->UseRealTime();
LAN_BENCH(BM_FreadWarm_10000sq)->MinTime(1.0)->UseRealTime();
LAN_BENCH(BM_Gdal_10000sq)->Iterations(3)->UseManualTime();
LAN_BENCH(BM_ReadImage_8000sq_3band_BIL)->MinTime(1.0)->UseRealTime();
LAN_BENCH(BM_Fread_8000sq_3band)->MinTime(1.0)->UseRealTime();
LAN_BENCH(BM_Gdal_8000sq_3band)->Iterations(3)->UseManualTime();
LAN_BENCH(BM_ExtractWindowFlipped_1920x1080)->Unit(benchmark::kMicrosecond)->UseRealTime();
LAN_BENCH(BM_Memcpy_1920x1080)->Unit(benchmark::kMicrosecond)->UseRealTime();
LAN_BENCH(BM_DisplayWindow_1920x1080_16bit)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const std::string stem = bench::TempStem("lan_bench");
    g_big = stem + "_10000sq.lan";
    g_bil = stem + "_8000sq_bil3.lan";
    if (!WriteTestFile(g_big, 1, kBigSide) || !WriteTestFile(g_bil, 3, kBilSide)) {
        std::fprintf(stderr, "cannot write the test files in /tmp\n");
        std::remove(g_big.c_str());
        std::remove(g_bil.c_str());
        return 1;
    }
    bench::RatioReporter reporter(52);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::remove(g_big.c_str());
    std::remove(g_bil.c_str());

    std::printf("\nRatios (median real time, ours / reference):\n");
    reporter.PrintRatio("ReadImage 10000^2 8-bit / malloc+fread", "BM_ReadImage_10000sq_8bit",
                        "BM_Fread_10000sq", 1.3);
    reporter.PrintRatio("ReadImage 10000^2 8-bit / fread into mapped buffer",
                        "BM_ReadImage_10000sq_8bit", "BM_FreadWarm_10000sq", 0.0,
                        "lower bound, for reference");
    reporter.PrintRatio("ReadImage 10000^2 8-bit / GDAL ReadAsArray", "BM_ReadImage_10000sq_8bit",
                        "BM_Gdal_10000sq", 1.0);
    reporter.PrintRatio("ReadImage 8000^2 x3 BIL / malloc+fread", "BM_ReadImage_8000sq_3band_BIL",
                        "BM_Fread_8000sq_3band", 1.5);
    reporter.PrintRatio("ReadImage 8000^2 x3 BIL / GDAL ReadAsArray",
                        "BM_ReadImage_8000sq_3band_BIL", "BM_Gdal_8000sq_3band", 1.0);
    reporter.PrintRatio("ExtractWindowFlipped 1920x1080 / memcpy",
                        "BM_ExtractWindowFlipped_1920x1080", "BM_Memcpy_1920x1080", 2.0);
    benchmark::Shutdown();
    return 0;
}
