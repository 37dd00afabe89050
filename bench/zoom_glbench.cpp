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
//   Levels       - building the reduced levels of both photographs against
//                  one pass reading their band 0 bytes; target 1.5x.
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
#include <vector>

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

constexpr int kImageSide = 10000;
constexpr int64_t kPointCount = 1000000;
constexpr int kDenseFactor = 4;  // points of the densified copy per demo point
constexpr int kClientW = 1280;
constexpr int kClientH = 1024;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

// Per-iteration samples of every benchmark (seconds), for the summary.
std::map<std::string, std::vector<double>> g_samples;
// Counts and notes gathered on the way (visible points, selection sizes).
std::map<std::string, double> g_counts;
std::vector<std::string> g_notes;

void Record(benchmark::State& state, const std::string& name, double seconds) {
    state.SetIterationTime(seconds);
    g_samples[name].push_back(seconds);
}

double Median(std::vector<double> v) {
    if (v.empty()) return NAN;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

double MedianOf(const std::string& name) {
    auto it = g_samples.find(name);
    return it == g_samples.end() ? NAN : Median(it->second);
}

void ProcessEvents(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 10);
}

int64_t FileSize(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

// ---------------------------------------------------------------------------
// The project files

std::string DemoDir() {
    const char* dir = std::getenv("ORVANE_BENCH_DEMO");
    return dir && *dir ? dir : "/tmp/orvane-bench-demo";
}

ProjectPaths DemoPaths(const std::string& points = "points.pts") {
    const std::string d = DemoDir() + "/";
    return ProjectPaths{d + "left.lan", d + "right.lan", d + "left.ORN", d + "right.ORN",
                        d + points};
}

// First int32 of a points file: its record count.
int32_t PointsInFile(const std::string& path) {
    int32_t n = -1;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        if (std::fread(&n, sizeof n, 1, f) != 1) n = -1;
        std::fclose(f);
    }
    return n;
}

// Generates the demo project unless a complete one of the right size is there.
bool EnsureDemo(std::string& error) {
    const ProjectPaths p = DemoPaths();
    const int64_t lanBytes = 128 + int64_t(kImageSide) * kImageSide;
    if (FileSize(p.leftImage) == lanBytes && FileSize(p.rightImage) == lanBytes &&
        FileSize(p.leftOrientation) > 0 && FileSize(p.rightOrientation) > 0 &&
        PointsInFile(p.matchedPoints) == kPointCount) {
        g_notes.push_back("demo project reused from " + DemoDir());
        return true;
    }
    demo::DemoOptions options;
    options.outDir = DemoDir();
    options.cols = kImageSide;
    options.rows = kImageSide;
    options.points = kPointCount;
    demo::DemoResult result;
    std::fprintf(stderr, "generating the demo project into %s ...\n", DemoDir().c_str());
    if (demo::MakeDemoProject(options, result, error) != 1) return false;
    g_notes.push_back("demo project generated into " + DemoDir());
    return true;
}

// The densified copy: every demo point and kDenseFactor - 1 copies shifted by
// fractions of the grid spacing (ground units) at the same height, each
// record's id its index. Written once beside the demo.
bool EnsureDensePoints(std::string& error) {
    const std::string path = DemoPaths("points-dense.pts").matchedPoints;
    if (PointsInFile(path) == kPointCount * kDenseFactor) return true;
    CTINPoints src;
    if (src.ReadPts(DemoPaths().matchedPoints) != 1) {
        error = "cannot read the demo points";
        return false;
    }
    double sx = 0.0, sy = 0.0;
    src.GetSpacing(&sx, &sy);
    const int n = src.GetCount();
    CTINPoints dense(n * kDenseFactor);
    if (dense.GetCount() != n * kDenseFactor) {
        error = "cannot allocate the dense set";
        return false;
    }
    const double fx[kDenseFactor] = {0.0, 0.5, 0.0, 0.5};
    const double fy[kDenseFactor] = {0.0, 0.0, -0.5, -0.5};
    for (int k = 0; k < kDenseFactor; ++k) {
        for (int i = 0; i < n; ++i) {
            const TINPoint* p = src.GetPoint(i);
            const int index = k * n + i;
            dense.SetPoint(index, p->x + fx[k] * sx, p->y + fy[k] * sy, index);
            TINPoint* d = dense.GetPoint(index);
            d->z = p->z;
            d->weight = p->weight;
        }
    }
    // Bounds widened by one spacing to hold the shifted copies.
    dense.m_dMinX = src.m_dMinX;
    dense.m_dMaxX = src.m_dMaxX + sx;
    dense.m_dMinY = src.m_dMinY - sy;
    dense.m_dMaxY = src.m_dMaxY;
    dense.SetSpacing(sx / 2.0, sy / 2.0);
    if (dense.WritePts(path) != n * kDenseFactor) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// The running application

struct App {
    std::unique_ptr<COrvaneApp> app;
    CMainFrame* frame = nullptr;
    COrvaneView* view = nullptr;
    COrvaneDoc* doc = nullptr;
    std::unique_ptr<Platform::ScopedMessageCapture> capture;
    std::string loaded;  // points file of the loaded project
    CPoint scroll;       // scroll position of the frame benchmarks

    bool Start() {
        QStandardPaths::setTestModeEnabled(true);
        static QTemporaryDir settings;  // recent files of this run, not the user's
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
        app = std::make_unique<COrvaneApp>();
        if (!app->InitInstance(QStringList())) return false;
        capture = std::make_unique<Platform::ScopedMessageCapture>();
        frame = app->GetMainFrame();
        frame->resize(kClientW + 100, kClientH + 150);
        if (QMdiSubWindow* sub = frame->GetMDIArea()->activeSubWindow()) sub->showMaximized();
        ProcessEvents(300);
        view = dynamic_cast<COrvaneView*>(frame->GetActiveView());
        doc = view ? view->GetDocument() : nullptr;
        return doc != nullptr;
    }

    // Grows or shrinks the main window until the view's client area is exactly
    // kClientW x kClientH (scroll bars included in the frame's share).
    bool FitClient() {
        for (int pass = 0; pass < 6; ++pass) {
            const CRect c = view->GetClientRect();
            if (c.Width() == kClientW && c.Height() == kClientH && view->m_nWidth == kClientW &&
                view->m_nHeight == kClientH)
                return true;
            frame->resize(frame->width() + kClientW - c.Width(),
                          frame->height() + kClientH - c.Height());
            ProcessEvents(200);
        }
        const CRect c = view->GetClientRect();
        return c.Width() == kClientW && c.Height() == kClientH;
    }

    int Load(const ProjectPaths& paths) {
        view->m_strLeftImage = paths.leftImage;
        view->m_strRightImage = paths.rightImage;
        view->m_strLeftOrientation = paths.leftOrientation;
        view->m_strRightOrientation = paths.rightOrientation;
        view->m_strMatchedPoints = paths.matchedPoints;
        const int result = doc->LoadProject(paths);
        loaded = result == 1 ? paths.matchedPoints : std::string();
        return result;
    }

    ~App() {
        if (doc) doc->SetModifiedFlag(false);
        capture.reset();
        if (frame) frame->close();
        ProcessEvents(50);
        app.reset();
    }
};

std::unique_ptr<App> g_app;
bool g_ready = false;

bool Ready(benchmark::State& state) {
    if (!g_ready) state.SkipWithError("no application or demo project");
    return g_ready;
}

// Loads `points` (with the demo's images) unless it is the loaded project.
bool EnsureLoaded(benchmark::State& state, const std::string& points) {
    if (!Ready(state)) return false;
    const ProjectPaths paths = DemoPaths(points);
    if (g_app->loaded != paths.matchedPoints && g_app->Load(paths) != 1) {
        state.SkipWithError("the project does not load");
        return false;
    }
    return true;
}

// CPU time of the whole process (every thread, the GL rasteriser's included).
double ProcessCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

// One draw cycle of the editing view, until the presented frame is complete:
// wall time, and the process CPU time it took under `name` + " (cpu)" (less
// disturbed by the other work on a shared machine than the wall time).
double Frame(const std::string& name = std::string()) {
    COrvaneView* view = g_app->view;
    const double c0 = ProcessCpuSeconds();
    const auto t0 = Clock::now();
    view->RedrawNow();
    if (view->MakeCurrent()) {
        glFinish();
        view->ReleaseCurrent();
    }
    const double wall = Seconds(t0, Clock::now());
    if (!name.empty()) g_samples[name + " (cpu)"].push_back(ProcessCpuSeconds() - c0);
    return wall;
}

// Moves both image-point sets out of the photographs while it lives: the draw
// cycle then draws the images and marks alone.
struct DetachedPoints {
    std::unique_ptr<CTINPoints> left, right;
    explicit DetachedPoints(bool detach) {
        if (!detach) return;
        left = std::move(g_app->doc->m_leftPhoto.m_pImagePoints);
        right = std::move(g_app->doc->m_rightPhoto.m_pImagePoints);
    }
    ~DetachedPoints() {
        if (left) g_app->doc->m_leftPhoto.m_pImagePoints = std::move(left);
        if (right) g_app->doc->m_rightPhoto.m_pImagePoints = std::move(right);
    }
};

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

// The levels of both photographs, built and waited for, so that the zoomed-out
// frames draw from them (the first frames after a load draw the subsample).
void WaitForLevels() {
    COrvaneDoc* doc = g_app->doc;
    QElapsedTimer timer;
    timer.start();
    while ((!doc->ZoomLevels(0) || !doc->ZoomLevels(1)) && timer.elapsed() < 120000)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
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

// Building the levels of both photographs (one after the other, on this
// thread) against reading their band 0 once (a sum over the bytes).
void BM_LevelsBuild(benchmark::State& state) {
    if (!EnsureLoaded(state, "points.pts")) return;
    const CErdasImage* images[2] = {&g_app->doc->m_leftPhoto.m_image,
                                    &g_app->doc->m_rightPhoto.m_image};
    int64_t bytes = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        for (const CErdasImage* image : images) {
            CImagePyramid pyramid;
            const PyramidSource source{image->GetBands()[0], image->GetSize().cx,
                                       image->GetSize().cy, image->GetHeader().packing};
            pyramid.Build(source, (std::max(source.columns, source.rows) + 1) / 2);
            bytes += pyramid.GetMemoryBytes();
        }
        Record(state, "levels of both photographs", Seconds(t0, Clock::now()));
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
    static int qtArgc = 1;
    static char* qtArgv[] = {argv[0], nullptr};
    QApplication qapp(qtArgc, qtArgv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    std::string error;
    g_app = std::make_unique<App>();
    if (!EnsureDemo(error) || !EnsureDensePoints(error))
        std::fprintf(stderr, "demo project: %s\n", error.c_str());
    else if (!g_app->Start())
        std::fprintf(stderr, "the application does not start\n");
    else
        g_ready = true;
    benchmark::RunSpecifiedBenchmarks();
    Summary();
    benchmark::Shutdown();
    g_app.reset();
    return 0;
}
