// Picking on the generated demo project, as the view picks: the left
// photograph's image-point set, integer sub-image positions, tolerance 5
// pixels. For every left image point, every position within 4 pixels of it is
// picked; such a pick must always find a point (the clicked one lies strictly
// within the tolerance). Reported as counters, in one run over the same data:
//   miss_rate_own_cell   the search limited to the cell of the position
//                        (the earlier nearest search)
//   miss_rate            FindNearest
//   own_cell_ns, FindNearest_ns  time per pick of each
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "DemoProject.h"
#include "Photogrammetry/AerialPhoto.h"
#include "Platform/FileHandle.h"
#include "Project/Project.h"
#include "TIN/TINPoints.h"
#include "testing/PlatformTestSupport.h"
#include "testing/TINTestSupport.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kTolerance = 5.0;  // the view's default pick tolerance, pixels
constexpr int kNear = 4;            // clicks within this many pixels of a point

// The demo project (default size: two 2000 x 2000 images, 40,000 points) in a
// private folder, loaded as the document loads it: the left photograph with
// its image and its indexed image-point set (the right one is loaded too).
struct LoadedDemo {
    platformtest::TempDir dir{"pick_bench"};
    CProject project;
    CAerialPhoto& left = project.m_leftPhoto;
    std::string error;

    LoadedDemo() {
        if (dir.Path().empty()) {
            error = "no temporary folder";
            return;
        }
        demo::DemoOptions options;
        options.outDir = dir.Path();
        options.threads = 2;
        demo::DemoResult result;
        if (demo::MakeDemoProject(options, result, error) != 1) return;
        if (!project
                 .Load({result.leftImage, result.rightImage, result.leftOrientation,
                        result.rightOrientation, result.pointsFile})
                 .Loaded())
            error = "the demo project does not load";
    }
};

void BM_PickMissRate(benchmark::State& state) {
    static LoadedDemo demo;
    if (!demo.error.empty()) {
        state.SkipWithError(demo.error.c_str());
        return;
    }
    const CTINPoints& image = *demo.left.m_pImagePoints;
    std::vector<int> qx;
    std::vector<int> qy;
    for (int i = 0; i < image.GetCount(); ++i) {
        const TINPoint p = *image.GetPoint(i);
        if (p.id < 0 || !std::isfinite(p.x) || !std::isfinite(p.y)) continue;
        const int cx = static_cast<int>(std::floor(p.x));
        const int cy = static_cast<int>(std::floor(p.y));
        for (int y = cy - kNear; y <= cy + kNear + 1; ++y) {
            for (int x = cx - kNear; x <= cx + kNear + 1; ++x) {
                if ((x - p.x) * (x - p.x) + (y - p.y) * (y - p.y) <= kNear * kNear) {
                    qx.push_back(x);
                    qy.push_back(y);
                }
            }
        }
    }
    const size_t n = qx.size();
    int64_t ownMisses = 0;
    int64_t misses = 0;
    double ownSeconds = 0;
    double seconds = 0;
    for (auto _ : state) {
        ownMisses = 0;
        misses = 0;
        const auto t0 = Clock::now();
        for (size_t i = 0; i < n; ++i)
            ownMisses += tintest::NearestInOwnCell(image, qx[i], qy[i], kTolerance) < 0;
        const auto t1 = Clock::now();
        for (size_t i = 0; i < n; ++i)
            misses += demo.left.FindImagePoint(qx[i], qy[i], kTolerance) < 0;
        const auto t2 = Clock::now();
        ownSeconds += std::chrono::duration<double>(t1 - t0).count();
        seconds += std::chrono::duration<double>(t2 - t1).count();
    }
    const double picks = double(n) * double(state.iterations());
    state.counters["points"] = double(image.GetCount());
    state.counters["picks"] = double(n);
    state.counters["miss_rate_own_cell"] = double(ownMisses) / double(n);
    state.counters["miss_rate"] = double(misses) / double(n);
    state.counters["own_cell_ns"] = 1e9 * ownSeconds / picks;
    state.counters["FindNearest_ns"] = 1e9 * seconds / picks;
}
BENCHMARK(BM_PickMissRate)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
