// What the application benchmarks share: a generated 10,000 x 10,000 demo
// project with 1,000,000 points (and a densified copy), the application made
// once with its main window at a fixed client size, loading a project into
// it, and timing helpers. Included by each *_glbench.cpp program.
#pragma once

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
[[maybe_unused]] bool EnsureDensePoints(std::string& error) {
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
[[maybe_unused]] double ProcessCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

// One draw cycle of the editing view, until the presented frame is complete:
// wall time, and the process CPU time it took under `name` + " (cpu)" (less
// disturbed by the other work on a shared machine than the wall time).
[[maybe_unused]] double Frame(const std::string& name = std::string()) {
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

// The levels of both photographs, built and waited for, so that the zoomed-out
// frames draw from them (the first frames after a load draw the subsample).
[[maybe_unused]] void WaitForLevels() {
    COrvaneDoc* doc = g_app->doc;
    QElapsedTimer timer;
    timer.start();
    while ((!doc->ZoomLevels(0) || !doc->ZoomLevels(1)) && timer.elapsed() < 120000)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
}

// The medians of every sample series, the counts and the notes, then the
// presentation the frames were drawn in.
[[maybe_unused]] void PrintMedians() {
    std::printf("\nMedians (ms)\n");
    for (const auto& [name, v] : g_samples)
        std::printf("  %-52s %11.4f  (n=%zu, min %.4f, max %.4f)\n", name.c_str(), Median(v) * 1e3,
                    v.size(), *std::min_element(v.begin(), v.end()) * 1e3,
                    *std::max_element(v.begin(), v.end()) * 1e3);
    std::printf("\nCounts\n");
    for (const auto& [name, v] : g_counts) std::printf("  %-52s %.2f\n", name.c_str(), v);
    for (const std::string& n : g_notes) std::printf("  note: %s\n", n.c_str());
    if (g_app && g_app->view)
        std::printf(
            "  presentation: %s, real stereo: %s\n",
            g_app->view->GetPresentation() == StereoPresentation::Anaglyph ? "anaglyph" : "other",
            g_app->view->IsRealStereo() ? "yes" : "no");
}

// The main program of an application benchmark: the application started on
// the demo project (with its densified points when `dense`), the benchmarks
// run, then `summary`.
int RunAppBenchmarks(int argc, char** argv, bool dense, void (*summary)()) {
    static int qtArgc = 1;
    static char* qtArgv[] = {argv[0], nullptr};
    QApplication qapp(qtArgc, qtArgv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    std::string error;
    g_app = std::make_unique<App>();
    if (!EnsureDemo(error) || (dense && !EnsureDensePoints(error)))
        std::fprintf(stderr, "demo project: %s\n", error.c_str());
    else if (!g_app->Start())
        std::fprintf(stderr, "the application does not start\n");
    else
        g_ready = true;
    benchmark::RunSpecifiedBenchmarks();
    summary();
    benchmark::Shutdown();
    g_app.reset();
    return 0;
}

}  // namespace
