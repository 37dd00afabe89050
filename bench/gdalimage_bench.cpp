// Photographs read through GDAL into the image's band blocks against GDAL's
// own RasterIO of the same file into one buffer, in the same run. The files
// are written at start-up (so they are in the page cache) and deleted at exit:
// /tmp/gdalimage_bench_<pid>_*.tif, 10000 x 10000 8-bit tiled and striped,
// and 6000 x 6000 with three pixel-interleaved 8-bit bands.
#include <benchmark/benchmark.h>
#include <gdal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "GdalImage/GdalImage.h"

namespace {

constexpr int kSide = 10000;
constexpr int kRgbSide = 6000;
std::string g_tiled, g_striped, g_rgb;
std::map<std::string, double> g_pairedRatio;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

bool WriteTiff(const std::string& path, int side, int bands, std::vector<const char*> options) {
    options.push_back(nullptr);
    GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GTiff"), path.c_str(), side, side, bands,
                                 GDT_Byte, const_cast<char**>(options.data()));
    if (!ds) return false;
    std::vector<unsigned char> row(static_cast<size_t>(side) * 256);
    bool ok = true;
    for (int b = 1; b <= bands && ok; ++b) {
        uint32_t x = 2463534242u + static_cast<uint32_t>(b);
        for (int r0 = 0; r0 < side && ok; r0 += 256) {
            const int n = std::min(256, side - r0);
            for (size_t i = 0; i < static_cast<size_t>(side) * n; ++i) {
                x ^= x << 13;
                x ^= x >> 17;
                x ^= x << 5;
                row[i] = static_cast<unsigned char>(x >> 24);
            }
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

// GDAL opening the file and reading every band into one new buffer.
void GdalBench(benchmark::State& state, const std::string& path) {
    for (auto _ : state) {
        GDALDatasetH ds = GDALOpen(path.c_str(), GA_ReadOnly);
        const int w = GDALGetRasterXSize(ds), h = GDALGetRasterYSize(ds);
        const int bands = GDALGetRasterCount(ds);
        std::unique_ptr<unsigned char, FreeDeleter> buf(static_cast<unsigned char*>(
            std::malloc(static_cast<size_t>(w) * h * static_cast<size_t>(bands))));
        const CPLErr err = GDALDatasetRasterIO(ds, GF_Read, 0, 0, w, h, buf.get(), w, h, GDT_Byte,
                                               bands, nullptr, 0, 0, 0);
        GDALClose(ds);
        if (err != CE_None) {
            state.SkipWithError("RasterIO failed");
            break;
        }
        benchmark::DoNotOptimize(buf.get());
    }
}

// Ours and GDAL alternately on the same file, each iteration timing both:
// on a shared machine the smallest time of each is the steadiest figure, and
// alternating exposes both to the same load. Counters: the two minima (ms)
// and their ratio.
void PairedBench(benchmark::State& state, const std::string& path, const char* what) {
    using Clock = std::chrono::steady_clock;
    double oursMin = 1e30, gdalMin = 1e30;
    CErdasImage image;
    benchmark::State* s = &state;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        if (ReadPhotograph(path, image) != kPhotoRead) {
            s->SkipWithError("ReadPhotograph failed");
            break;
        }
        const auto t1 = Clock::now();
        GDALDatasetH ds = GDALOpen(path.c_str(), GA_ReadOnly);
        const int w = GDALGetRasterXSize(ds), h = GDALGetRasterYSize(ds);
        const int bands = GDALGetRasterCount(ds);
        std::unique_ptr<unsigned char, FreeDeleter> buf(static_cast<unsigned char*>(
            std::malloc(static_cast<size_t>(w) * h * static_cast<size_t>(bands))));
        const CPLErr err = GDALDatasetRasterIO(ds, GF_Read, 0, 0, w, h, buf.get(), w, h, GDT_Byte,
                                               bands, nullptr, 0, 0, 0);
        GDALClose(ds);
        benchmark::DoNotOptimize(buf.get());
        buf.reset();
        const auto t2 = Clock::now();
        if (err != CE_None) {
            s->SkipWithError("RasterIO failed");
            break;
        }
        const double ours = std::chrono::duration<double>(t1 - t0).count();
        const double gdal = std::chrono::duration<double>(t2 - t1).count();
        oursMin = std::min(oursMin, ours);
        gdalMin = std::min(gdalMin, gdal);
        state.SetIterationTime(ours);
    }
    state.counters["ours_min_ms"] = oursMin * 1e3;
    state.counters["gdal_min_ms"] = gdalMin * 1e3;
    state.counters["ratio_of_min"] = oursMin / gdalMin;
    g_pairedRatio[what] = oursMin / gdalMin;
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

class RatioReporter : public benchmark::ConsoleReporter {
public:
    explicit RatioReporter(OutputOptions options) : ConsoleReporter(options) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs)
            if (r.aggregate_name == "median" && !r.error_occurred)
                m_median[r.run_name.function_name] = r.GetAdjustedRealTime();
    }
    void PrintRatio(const char* what, const std::string& ours, const std::string& base,
                    double limit) const {
        auto a = m_median.find(ours), b = m_median.find(base);
        if (a == m_median.end() || b == m_median.end()) {
            std::printf("%-48s n/a\n", what);
            return;
        }
        const double ratio = a->second / b->second;
        std::printf("%-48s %6.3f  (limit %.2f: %s)\n", what, ratio, limit,
                    ratio <= limit ? "met" : "NOT MET");
    }

private:
    std::map<std::string, double> m_median;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    GDALAllRegister();
    const std::string stem = "/tmp/gdalimage_bench_" + std::to_string(getpid());
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
        RatioReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_Defaults
                                                     : benchmark::ConsoleReporter::OO_Tabular);
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
        for (const auto& [name, ratio] : g_pairedRatio)
            std::printf("%-48s %6.3f  (limit 1.30: %s)\n", name.c_str(), ratio,
                        ratio <= 1.3 ? "met" : "NOT MET");
    }
    for (const std::string& p : {g_tiled, g_striped, g_rgb}) std::remove(p.c_str());
    benchmark::Shutdown();
    return ok ? 0 : 1;
}
