// Point set and grid index benchmarks. Each comparison runs both sides in the
// same iteration over the same data and reports their times and ratio as
// counters: ours / baseline (below 1 means ours is faster).
//   ReadPts vs plain fread of the same 5,000,000-point file (page cache)
//   WritePts vs plain fwrite of the same bytes
//   BuildIndex(1) over 5,000,000 points: ns per point and index bytes per point
//   FindNearest vs a nanoflann KD-tree radius search over the same image points
//   MovePoint of 100,000 points of a 1,000,000-point indexed set vs storing
//   the same positions without index upkeep
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "PointsKDTree.h"
#include "TIN/TINPoints.h"

namespace {

using bench::Clock;
using bench::Seconds;
// The short loops are timed in this thread's processor time.
using bench::ThreadSeconds;

constexpr int kFilePoints = 5'000'000;

std::string TempPath(const std::string& name) {
    return bench::TempStem("tin_bench") + "_" + name;
}

// A generated ground points file in /tmp: a jittered 2500 x 2000 grid with
// heights and weights, written once and removed at exit.
class PointsFile {
public:
    PointsFile() : m_path(TempPath("in.pts")) {
        std::mt19937_64 random(42);
        std::uniform_real_distribution<double> jitter(-0.4, 0.4);
        std::uniform_real_distribution<double> height(100.0, 900.0);
        const int cols = 2500;
        m_bytes.resize(52 + size_t(kFilePoints) * 32);
        const int32_t n = kFilePoints;
        const double header[6] = {500000.0, 4002000.0, 502500.0, 4000000.0, 1.0, 1.0};
        std::memcpy(m_bytes.data(), &n, 4);
        std::memcpy(m_bytes.data() + 4, header, sizeof header);
        for (int i = 0; i < kFilePoints; ++i) {
            const double record[4] = {500000.0 + (i % cols) + 0.5 + jitter(random),
                                      4000000.0 + (i / cols) + 0.5 + jitter(random), height(random),
                                      0.5};
            std::memcpy(m_bytes.data() + 52 + size_t(i) * 32, record, 32);
        }
        FILE* file = std::fopen(m_path.c_str(), "wb");
        if (!file || std::fwrite(m_bytes.data(), 1, m_bytes.size(), file) != m_bytes.size()) {
            std::fprintf(stderr, "cannot write %s\n", m_path.c_str());
            std::exit(1);
        }
        std::fclose(file);
    }
    ~PointsFile() { std::remove(m_path.c_str()); }
    const std::string& Path() const { return m_path; }
    const std::vector<unsigned char>& Bytes() const { return m_bytes; }

private:
    std::string m_path;
    std::vector<unsigned char> m_bytes;
};

PointsFile& File() {
    static PointsFile file;
    return file;
}

CTINPoints& LoadedSet() {
    static CTINPoints set;
    static const bool loaded = set.ReadPts(File().Path()) == 1;
    if (!loaded) std::exit(1);
    return set;
}

void BM_ReadPts_vs_fread(benchmark::State& state) {
    const std::string& path = File().Path();
    const size_t bytes = File().Bytes().size();
    // Warm the page cache.
    {
        CTINPoints warm;
        warm.ReadPts(path);
    }
    double ours = 0;
    double plain = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        {
            CTINPoints set;
            const int result = set.ReadPts(path);
            benchmark::DoNotOptimize(result);
            benchmark::DoNotOptimize(set.GetPoint(kFilePoints - 1));
        }
        const auto t1 = Clock::now();
        {
            FILE* file = std::fopen(path.c_str(), "rb");
            std::unique_ptr<unsigned char[]> buffer(new unsigned char[bytes]);
            const size_t got = std::fread(buffer.get(), 1, bytes, file);
            std::fclose(file);
            benchmark::DoNotOptimize(got);
            benchmark::DoNotOptimize(buffer.get());
        }
        const auto t2 = Clock::now();
        ours += Seconds(t0, t1);
        plain += Seconds(t1, t2);
    }
    const double n = double(state.iterations());
    state.counters["ReadPts_ms"] = 1e3 * ours / n;
    state.counters["fread_ms"] = 1e3 * plain / n;
    state.counters["ratio"] = ours / plain;
}
BENCHMARK(BM_ReadPts_vs_fread)->Iterations(8)->Unit(benchmark::kMillisecond);

void BM_WritePts_vs_fwrite(benchmark::State& state) {
    const CTINPoints& set = LoadedSet();
    const std::vector<unsigned char>& bytes = File().Bytes();
    const std::string ourPath = TempPath("ours.pts");
    const std::string plainPath = TempPath("plain.pts");
    double ours = 0;
    double plain = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        const int written = set.WritePts(ourPath);
        const auto t1 = Clock::now();
        FILE* file = std::fopen(plainPath.c_str(), "wb");
        const size_t put = std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
        const auto t2 = Clock::now();
        benchmark::DoNotOptimize(written);
        benchmark::DoNotOptimize(put);
        if (written != kFilePoints || put != bytes.size()) state.SkipWithError("write failed");
        ours += Seconds(t0, t1);
        plain += Seconds(t1, t2);
        std::remove(ourPath.c_str());
        std::remove(plainPath.c_str());
    }
    const double n = double(state.iterations());
    state.counters["WritePts_ms"] = 1e3 * ours / n;
    state.counters["fwrite_ms"] = 1e3 * plain / n;
    state.counters["ratio"] = ours / plain;
}
BENCHMARK(BM_WritePts_vs_fwrite)->Iterations(6)->Unit(benchmark::kMillisecond);

void BM_BuildIndex(benchmark::State& state) {
    CTINPoints& set = LoadedSet();
    int64_t bytes = 0;
    for (auto _ : state) {
        const int result = set.BuildIndex(1);
        if (result != 0) state.SkipWithError("BuildIndex failed");
        bytes = set.m_index.MemoryBytes();
    }
    const double n = double(set.GetCount());
    state.counters["ns_per_point"] = benchmark::Counter(
        n * double(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["index_bytes_per_point"] = double(bytes) / n;
    state.counters["cells_per_point"] =
        double(int64_t(set.m_index.m_nRows) * set.m_index.m_nCols) / n;
}
BENCHMARK(BM_BuildIndex)->Iterations(5)->Unit(benchmark::kMillisecond);

void BM_FindNearest_vs_KDTree(benchmark::State& state) {
    // Image-point set as a photograph builds it: one matched point about every
    // 16 sub-image pixels over a 16000 x 16000 window, indexed with 1 per cell.
    const int side = 1000;
    const int n = side * side;
    CTINPoints set(n);
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> jitter(-5.0, 5.0);
    for (int i = 0; i < n; ++i) {
        set.SetPoint(i, 8.0 + 16.0 * (i % side) + jitter(random),
                     8.0 + 16.0 * (i / side) + jitter(random), i);
    }
    set.m_dMinX = 0;
    set.m_dMaxX = 16000;
    set.m_dMinY = 0;
    set.m_dMaxY = 16000;
    if (set.BuildIndex(1) != 0) {
        state.SkipWithError("BuildIndex failed");
        return;
    }
    bench::PointsXYAdaptor adaptor{&set};
    bench::PointsKDTree tree(2, adaptor, nanoflann::KDTreeSingleIndexAdaptorParams(10));
    tree.buildIndex();

    const int queries = 1'000'000;
    const double radius = 5.0;  // the view's pick tolerance
    std::vector<int> qx(queries);
    std::vector<int> qy(queries);
    std::uniform_int_distribution<int> position(0, 15999);
    for (int i = 0; i < queries; ++i) {
        qx[i] = position(random);
        qy[i] = position(random);
    }
    double ours = 0;
    double kd = 0;
    int64_t oursFound = 0;
    int64_t kdFound = 0;
    std::vector<std::pair<uint32_t, double>> matches;
    matches.reserve(16);
    const nanoflann::SearchParams params(32, 0.0f, false);
    for (auto _ : state) {
        oursFound = 0;
        kdFound = 0;
        const auto t0 = Clock::now();
        for (int i = 0; i < queries; ++i) oursFound += set.FindNearest(qx[i], qy[i], radius) >= 0;
        const auto t1 = Clock::now();
        for (int i = 0; i < queries; ++i) {
            const double query[2] = {double(qx[i]), double(qy[i])};
            tree.radiusSearch(query, radius * radius, matches, params);
            if (!matches.empty()) {
                size_t best = 0;
                for (size_t m = 1; m < matches.size(); ++m) {
                    if (matches[m].second < matches[best].second) best = m;
                }
                benchmark::DoNotOptimize(matches[best].first);
                ++kdFound;
            }
        }
        const auto t2 = Clock::now();
        ours += Seconds(t0, t1);
        kd += Seconds(t1, t2);
    }
    const double total = double(state.iterations()) * queries;
    state.counters["FindNearest_ns"] = 1e9 * ours / total;
    state.counters["kdtree_ns"] = 1e9 * kd / total;
    state.counters["ratio"] = ours / kd;
    state.counters["found_ours"] = double(oursFound);
    state.counters["found_kdtree"] = double(kdFound);
}
BENCHMARK(BM_FindNearest_vs_KDTree)->Iterations(5)->Unit(benchmark::kMillisecond);

// 100,000 points of a 1,000,000-point set (a jittered 1000 x 1000 lattice,
// one unit apart, indexed with 1 point per cell) move by `step` units along x
// and y, forth and back on alternate iterations. The selection is a 316 x 316
// block (a selected area) or 100,000 points scattered over the set. Baseline:
// SetPoint of the same positions into a copy of the records without index.
void BM_MovePoints(benchmark::State& state) {
    const double step = double(state.range(0)) / 100.0;
    const bool scattered = state.range(1) != 0;
    const int side = 1000;
    const int n = side * side;
    CTINPoints set(n);
    std::mt19937_64 random(3);
    std::uniform_real_distribution<double> jitter(-0.3, 0.3);
    for (int i = 0; i < n; ++i) {
        set.SetPoint(i, 0.5 + (i % side) + jitter(random), 0.5 + (i / side) + jitter(random), i);
    }
    set.m_dMinX = 0;
    set.m_dMaxX = side;
    set.m_dMinY = 0;
    set.m_dMaxY = side;
    if (set.BuildIndex(1) != 0) {
        state.SkipWithError("BuildIndex failed");
        return;
    }
    std::vector<int> selected;
    if (scattered) {
        for (int i = 0; i < n; i += 10) selected.push_back(i);
    } else {
        selected = bench::LatticeBlock(side, 300, 616);
    }
    const int64_t bytesBefore = set.m_index.MemoryBytes();
    // The same records without an index, for the baseline.
    CTINPoints plainSet(n);
    std::memcpy(plainSet.m_pPoints.get(), set.m_pPoints.get(), sizeof(TINPoint) * size_t(n));
    double ours = 0;
    double plain = 0;
    double sign = 1.0;
    int failures = 0;
    for (auto _ : state) {
        const double d = sign * step;
        sign = -sign;
        const double t0 = ThreadSeconds();
        for (const int i : selected) {
            const TINPoint* p = set.GetPoint(i);
            failures += set.MovePoint(i, p->x + d, p->y + d) != 1;
        }
        const double t1 = ThreadSeconds();
        for (const int i : selected) {
            const TINPoint* p = plainSet.GetPoint(i);
            failures += plainSet.SetPoint(i, p->x + d, p->y + d, i) != 0;
        }
        benchmark::ClobberMemory();
        const double t2 = ThreadSeconds();
        ours += t1 - t0;
        plain += t2 - t1;
    }
    if (failures != 0) state.SkipWithError("MovePoint failed");
    const double iterations = double(state.iterations());
    state.counters["moves"] = double(selected.size());
    state.counters["MovePoint_ms"] = 1e3 * ours / iterations;
    state.counters["SetPoint_ms"] = 1e3 * plain / iterations;
    state.counters["ratio"] = ours / plain;
    state.counters["cell_size"] = set.m_index.m_dCellSize;
    state.counters["index_bytes_per_point_built"] = double(bytesBefore) / n;
    state.counters["index_bytes_per_point_after"] = double(set.m_index.MemoryBytes()) / n;
}
// Steps in hundredths of a unit: 0.05 (stays in its cell nearly always) and
// 1.5 (crosses a cell border in both directions).
BENCHMARK(BM_MovePoints)
    ->Args({5, 0})
    ->Args({150, 0})
    ->Args({150, 1})
    ->Iterations(40)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
