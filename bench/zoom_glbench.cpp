// The zoomed editing view on the large generated project (two 10000 x 10000
// 8-bit LAN images, the 4,000,000-point densified copy of orvane_glbench),
// 1280 x 1024 client area, both eyes (anaglyph without quad buffers):
//
//   Redraw / Pan - an unchanged frame and a pan of a few pixels per frame at
//                  the fit, 1:4, 1:1, 4:1 and 16:1, each against the same
//                  frame at 1:1 with the image-point sets detached (the
//                  images alone); target 1.3x;
//   CtrlWheel    - the frame after one Ctrl+wheel notch (from 1:1 to 2^(1/4)
//                  and back) against a 1:1 pan frame; target 1.3x;
//   Levels       - building the reduced levels of both photographs (two
//                  workers at once, as the document builds them) against one
//                  pass reading their band 0 bytes; target 1.5x.
//
// The project is generated once into /tmp/orvane-bench-demo (or the folder
// named by ORVANE_BENCH_DEMO), as orvane_glbench does, and reused.
//
// Run on a real X server:
//   QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1920x1200x24 -noreset" ./zoom_glbench
#include <GL/gl.h>
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <time.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "AppBenchSupport.h"
#include "DemoProject.h"
#include "Framework/MDIFrame.h"
#include "Orvane/MainFrm.h"
#include "Orvane/Orvane.h"
#include "Orvane/OrvaneDoc.h"
#include "Orvane/OrvaneView.h"
#include "Overview/ImagePyramid.h"
#include "Photogrammetry/AerialPhoto.h"
#include "Platform/Platform.h"
#include "TIN/TINPoints.h"
#include "erdasimg/erdasimg.h"

namespace {

// Loads the dense project (once), sizes the client area, centres the view on
// the middle of the points at `scale` and draws a few frames.
bool PrepareZoom(benchmark::State& state, double scale) {
    if (!EnsureLoaded(state, "points-dense.pts")) return false;
    if (!g_app->FitClient()) {
        state.SkipWithError("the client area cannot be made 1280 x 1024");
        return false;
    }
    App& a = *g_app;
    a.doc->ReleaseSelection();
    a.view->SetZoom(1.0, CPoint(kClientW / 2, kClientH / 2));
    a.view->CentreOn(kImageSide / 2.0, kImageSide / 2.0);
    if (scale > 0.0)
        a.view->SetZoom(scale, CPoint(kClientW / 2, kClientH / 2));
    else
        a.view->OnZoomToFit();
    a.view->m_ptMark = CPoint(kClientW / 2, kClientH / 2);
    ProcessEvents(50);
    for (int k = 0; k < 5; ++k) Frame();
    return true;
}

std::string ScaleName(double scale) {
    if (scale <= 0.0) return "fit";
    char text[16];
    if (scale < 1.0)
        std::snprintf(text, sizeof text, "1:%g", 1.0 / scale);
    else
        std::snprintf(text, sizeof text, "%g:1", scale);
    return text;
}

void RedrawAt(benchmark::State& state, double scale, bool points) {
    if (!PrepareZoom(state, scale)) return;
    if (scale < 1.0) WaitForLevels();
    DetachedPoints detached(!points);
    Frame();
    const std::string name = std::string(points ? "redraw " : "redraw images ") + ScaleName(scale);
    for (auto _ : state) Record(state, name, Frame(name));
}

void PanAt(benchmark::State& state, double scale, bool points) {
    if (!PrepareZoom(state, scale)) return;
    if (scale < 1.0) WaitForLevels();
    DetachedPoints detached(!points);
    const std::string name = std::string(points ? "pan " : "pan images ") + ScaleName(scale);
    int step = 0;
    for (auto _ : state) {
        const CPoint s = g_app->view->GetScrollPosition();
        const int d = (step++ % 2) ? -4 : 4;
        g_app->view->ScrollToPosition(CPoint(s.x + d, s.y + d));
        Record(state, name, Frame(name));
    }
}

const double kScales[] = {0.0, 0.25, 1.0, 4.0, 16.0};

void BM_Redraw(benchmark::State& state) {
    RedrawAt(state, kScales[state.range(0)], true);
}
void BM_Pan(benchmark::State& state) {
    PanAt(state, kScales[state.range(0)], true);
}
void BM_RedrawImagesOneToOne(benchmark::State& state) {
    RedrawAt(state, 1.0, false);
}
void BM_PanImagesOneToOne(benchmark::State& state) {
    PanAt(state, 1.0, false);
}

// One Ctrl+wheel notch about the middle of the view, in and out in turn.
void BM_CtrlWheelNotch(benchmark::State& state) {
    if (!PrepareZoom(state, 1.0)) return;
    int notch = 0;
    for (auto _ : state) {
        // The notch redraws at once (SetZoom): its frame, until complete.
        const auto t0 = Clock::now();
        g_app->view->OnMouseWheel(MK_CONTROL, (notch++ % 2) ? -120 : 120,
                                  CPoint(kClientW / 2, kClientH / 2));
        if (g_app->view->MakeCurrent()) {
            glFinish();
            g_app->view->ReleaseCurrent();
        }
        Record(state, "Ctrl+wheel notch", Seconds(t0, Clock::now()));
    }
}

// Building the levels of both photographs as the document does, each on its
// own worker at the same time, against reading their band 0 once on this
// thread (a sum over the bytes).
void BM_LevelsBuild(benchmark::State& state) {
    if (!EnsureLoaded(state, "points.pts")) return;
    const CErdasImage* images[2] = {&g_app->doc->m_leftPhoto.m_image,
                                    &g_app->doc->m_rightPhoto.m_image};
    int64_t bytes = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        CImagePyramid pyramids[2];
        std::vector<std::thread> workers;
        for (int eye = 0; eye < 2; ++eye)
            workers.emplace_back([&, eye] {
                const CErdasImage* image = images[eye];
                const PyramidSource source{image->GetBands()[0], image->GetSize().cx,
                                           image->GetSize().cy, image->GetHeader().packing};
                pyramids[eye].Build(source, (std::max(source.columns, source.rows) + 1) / 2);
            });
        for (std::thread& worker : workers) worker.join();
        Record(state, "levels of both photographs", Seconds(t0, Clock::now()));
        bytes += pyramids[0].GetMemoryBytes() + pyramids[1].GetMemoryBytes();
    }
    g_counts["level bytes per build"] = static_cast<double>(bytes) / state.iterations();
}

void BM_LevelsReadPass(benchmark::State& state) {
    if (!EnsureLoaded(state, "points.pts")) return;
    const CErdasImage* images[2] = {&g_app->doc->m_leftPhoto.m_image,
                                    &g_app->doc->m_rightPhoto.m_image};
    for (auto _ : state) {
        const auto t0 = Clock::now();
        uint64_t sum = 0;
        for (const CErdasImage* image : images) {
            const unsigned char* band = image->GetBands()[0];
            const size_t n = static_cast<size_t>(image->GetSize().cx) * image->GetSize().cy;
            for (size_t i = 0; i < n; ++i) sum += band[i];
        }
        benchmark::DoNotOptimize(sum);
        Record(state, "read pass over both band 0", Seconds(t0, Clock::now()));
    }
}

BENCHMARK(BM_RedrawImagesOneToOne)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PanImagesOneToOne)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Redraw)->DenseRange(0, 4)->UseManualTime()->Iterations(20)->Unit(
    benchmark::kMillisecond);
BENCHMARK(BM_Pan)->DenseRange(0, 4)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CtrlWheelNotch)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LevelsBuild)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LevelsReadPass)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

void Summary() {
    std::printf("\n%-34s %12s %10s %8s\n", "measure", "median ms", "ratio", "target");
    auto row = [](const std::string& name, const std::string& base, double target) {
        const double m = MedianOf(name), b = MedianOf(base);
        std::printf("%-34s %12.2f %10.2f %8.2f\n", name.c_str(), 1e3 * m, m / b, target);
    };
    for (double s : kScales) row("redraw " + ScaleName(s), "redraw images 1:1", 1.3);
    for (double s : kScales) row("pan " + ScaleName(s), "pan images 1:1", 1.3);
    row("Ctrl+wheel notch", "pan images 1:1", 1.3);
    row("levels of both photographs", "read pass over both band 0", 1.5);
    for (const auto& [name, value] : g_counts) std::printf("%s: %.0f\n", name.c_str(), value);
    for (const std::string& note : g_notes) std::printf("%s\n", note.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    return RunAppBenchmarks(argc, argv, true, Summary);
}
