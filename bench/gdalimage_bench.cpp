// Photographs read through GDAL into the image's band blocks against GDAL's
// own RasterIO of the same file into one buffer, in the same run. The files
// are written at start-up (so they are in the page cache) and deleted at exit:
// /tmp/gdalimage_bench_<pid>_*.tif, 10000 x 10000 8-bit tiled and striped,
// and 6000 x 6000 with three pixel-interleaved 8-bit bands.
#include <benchmark/benchmark.h>
#include <gdal.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "BenchReport.h"
#include "BenchSupport.h"
#include "GdalImage/GdalImage.h"

namespace {

constexpr int kSide = 10000;
constexpr int kRgbSide = 6000;
std::string g_tiled, g_striped, g_rgb;
std::map<std::string, double> g_pairedRatio;

bool WriteTiff(const std::string& path, int side, int bands, std::vector<const char*> options) {
    options.push_back(nullptr);
    GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GTiff"), path.c_str(), side, side, bands,
                                 GDT_Byte, const_cast<char**>(options.data()));
    if (!ds) return false;
    std::vector<unsigned char> row(static_cast<size_t>(side) * 256);
    bool ok = true;
    for (int b = 1; b <= bands && ok; ++b) {
        uint32_t noise = 2463534242u + static_cast<uint32_t>(b);
        for (int r0 = 0; r0 < side && ok; r0 += 256) {
            const int n = std::min(256, side - r0);
            bench::FillNoise(row.data(), static_cast<size_t>(side) * n, noise);
            ok = GDALRasterIO(GDALGetRasterBand(ds, b), GF_Write, 0, r0, side, n, row.data(), side,
                              n, GDT_Byte, 0, 0) == CE_None;
        }
    }
    GDALClose(ds);
    return ok;
}

void OursBench(benchmark::State& state, const std::string& path) {
    CErdasImage image;
    for (auto _ : state) {
        if (ReadPhotograph(path, image) != kPhotoRead) {
            state.SkipWithError("ReadPhotograph failed");
            break;
        }
        benchmark::DoNotOptimize(image.GetBands()[0]);
    }
}

// GDAL opening the file and reading every band into one new buffer; false
// when RasterIO fails.
bool GdalReadAll(const std::string& path) {
    GDALDatasetH ds = GDALOpen(path.c_str(), GA_ReadOnly);
    const int w = GDALGetRasterXSize(ds), h = GDALGetRasterYSize(ds);
    const int bands = GDALGetRasterCount(ds);
    bench::MallocBuffer buf =
        bench::Allocate(static_cast<size_t>(w) * h * static_cast<size_t>(bands));
    const CPLErr err = GDALDatasetRasterIO(ds, GF_Read, 0, 0, w, h, buf.get(), w, h, GDT_Byte,
                                           bands, nullptr, 0, 0, 0);
    GDALClose(ds);
    benchmark::DoNotOptimize(buf.get());
    return err == CE_None;
}

void GdalBench(benchmark::State& state, const std::string& path) {
    for (auto _ : state) {
        if (!GdalReadAll(path)) {
            state.SkipWithError("RasterIO failed");
            break;
        }
    }
}

// Ours and GDAL alternately on the same file, each iteration timing both
// (bench::PairedMinima). Counters: the two minima (ms) and their ratio.
void PairedBench(benchmark::State& state, const std::string& path, const char* what) {
    using bench::Clock;
    bench::PairedMinima minima;
    CErdasImage image;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        if (ReadPhotograph(path, image) != kPhotoRead) {
            state.SkipWithError("ReadPhotograph failed");
            break;
        }
        const auto t1 = Clock::now();
        const bool read = GdalReadAll(path);
        const auto t2 = Clock::now();
        if (!read) {
            state.SkipWithError("RasterIO failed");
            break;
        }
        minima.Add(bench::Seconds(t0, t1), bench::Seconds(t1, t2));
        state.SetIterationTime(bench::Seconds(t0, t1));
    }
    minima.Report(state, "ours", "gdal");
    g_pairedRatio[what] = minima.Ratio();
}

void BM_Paired_10000sq_tiled(benchmark::State& s) {
    PairedBench(s, g_tiled, "10000^2 8-bit tiled GeoTIFF");
}
void BM_Paired_10000sq_striped(benchmark::State& s) {
    PairedBench(s, g_striped, "10000^2 8-bit striped GeoTIFF");
}
void BM_Paired_6000sq_3band_pixel(benchmark::State& s) {
    PairedBench(s, g_rgb, "6000^2 x3 pixel-interleaved GeoTIFF");
}

void BM_Ours_10000sq_tiled(benchmark::State& s) {
    OursBench(s, g_tiled);
}
void BM_Gdal_10000sq_tiled(benchmark::State& s) {
    GdalBench(s, g_tiled);
}
void BM_Ours_10000sq_striped(benchmark::State& s) {
    OursBench(s, g_striped);
}
void BM_Gdal_10000sq_striped(benchmark::State& s) {
    GdalBench(s, g_striped);
}
void BM_Ours_6000sq_3band_pixel(benchmark::State& s) {
    OursBench(s, g_rgb);
}
void BM_Gdal_6000sq_3band_pixel(benchmark::State& s) {
    GdalBench(s, g_rgb);
}

#define IMG_BENCH(fn) \
    BENCHMARK(fn)->Unit(benchmark::kMillisecond)->Repetitions(3)->MinTime(1.0)->UseRealTime()
#define PAIRED_BENCH(fn) \
    BENCHMARK(fn)->Unit(benchmark::kMillisecond)->Iterations(15)->UseManualTime()
PAIRED_BENCH(BM_Paired_10000sq_tiled);
PAIRED_BENCH(BM_Paired_10000sq_striped);
PAIRED_BENCH(BM_Paired_6000sq_3band_pixel);
IMG_BENCH(BM_Ours_10000sq_tiled);
IMG_BENCH(BM_Gdal_10000sq_tiled);
IMG_BENCH(BM_Ours_10000sq_striped);
IMG_BENCH(BM_Gdal_10000sq_striped);
IMG_BENCH(BM_Ours_6000sq_3band_pixel);
IMG_BENCH(BM_Gdal_6000sq_3band_pixel);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    GDALAllRegister();
    const std::string stem = bench::TempStem("gdalimage_bench");
    g_tiled = stem + "_tiled.tif";
    g_striped = stem + "_striped.tif";
    g_rgb = stem + "_rgb.tif";
    const bool ok =
        WriteTiff(g_tiled, kSide, 1, {"TILED=YES", "BLOCKXSIZE=256", "BLOCKYSIZE=256"}) &&
        WriteTiff(g_striped, kSide, 1, {"TILED=NO"}) &&
        WriteTiff(g_rgb, kRgbSide, 3, {"TILED=YES", "INTERLEAVE=PIXEL"});
    if (!ok) {
        std::fprintf(stderr, "cannot write the test files in /tmp\n");
    } else {
        bench::RatioReporter reporter(48);
        benchmark::RunSpecifiedBenchmarks(&reporter);
        std::printf(
            "\nRatios (median real time, ReadPhotograph / GDAL RasterIO into one buffer):\n");
        reporter.PrintRatio("10000^2 8-bit tiled GeoTIFF", "BM_Ours_10000sq_tiled",
                            "BM_Gdal_10000sq_tiled", 1.3);
        reporter.PrintRatio("10000^2 8-bit striped GeoTIFF", "BM_Ours_10000sq_striped",
                            "BM_Gdal_10000sq_striped", 1.3);
        reporter.PrintRatio("6000^2 x3 pixel-interleaved GeoTIFF", "BM_Ours_6000sq_3band_pixel",
                            "BM_Gdal_6000sq_3band_pixel", 1.3);
        std::printf("\nRatios of the smallest times, ours and GDAL alternating:\n");
        for (const auto& [name, ratio] : g_pairedRatio) bench::PrintRatio(48, name, ratio, 1.3);
    }
    for (const std::string& p : {g_tiled, g_striped, g_rgb}) std::remove(p.c_str());
    benchmark::Shutdown();
    return ok ? 0 : 1;
}
