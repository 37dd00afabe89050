// Application-level costs of the editing workstation on a large generated
// project (two 10000 x 10000 8-bit LAN images, 1,000,000 ground points):
//
//   Load    - LoadProject as a whole and each of its steps (reading each
//             image, reading the points, indexing them, projecting them into
//             both photographs and indexing the image-point sets), against a
//             plain fread of the three files' bytes;
//   Frame   - the editing view's draw cycle at a 1280 x 1024 client area in the
//             default presentation (anaglyph without quad buffers): a redraw of
//             an unchanged window and a pan of a few pixels per frame, each with
//             the image points and with the image-point sets detached (images
//             alone);
//   Edit    - one wheel notch over a selection of 100,000 points, a rectangle
//             selection over every point and the nearest-point search run on
//             every mouse move.
//
// The demo's points form a regular grid over the overlap of the two images,
// about one point per 60 pixels, so a 1280 x 1024 window holds some 20,000 of
// them. The frame benchmarks are therefore also run on a densified copy of the
// same project (4,000,000 points, about 100,000 per window).
//
// The project is generated once into /tmp/orvane-bench-demo (or the folder
// named by ORVANE_BENCH_DEMO) and reused while its files are complete. A table
// of medians, ratios and targets is printed after the benchmarks.
//
// Run on a real X server:
//   QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1920x1200x24 -noreset" ./orvane_glbench
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

#include "AppBenchSupport.h"
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

constexpr int kSelection = 100000;

// Visible points of a photograph's current display window (records with a
// non-negative id inside it, bounds inclusive).
int VisiblePoints(const CAerialPhoto& photo) {
    if (!photo.m_pImagePoints) return 0;
    const int rows = photo.m_image.GetSize().cy;
    const double top = rows - photo.m_nLastRow - 1, bottom = rows - photo.m_nFirstRow - 1;
    int count = 0;
    const CTINPoints& set = *photo.m_pImagePoints;
    for (int i = 0; i < set.GetCount(); ++i) {
        const TINPoint* p = set.GetPoint(i);
        if (p->id >= 0 && p->x >= photo.m_nFirstCol && p->x <= photo.m_nLastCol && p->y >= top &&
            p->y <= bottom)
            ++count;
    }
    return count;
}

// The scroll position whose window holds the most points in both eyes: the
// left window at (x, y), the right one m_nXOffset further left in its image.
// y centres the window on the left image points; x is searched in 16-pixel
// steps over per-column counts of the points in the window's rows.
CPoint DensestScroll() {
    const COrvaneDoc& doc = *g_app->doc;
    const CTINPoints& l = *doc.m_leftPhoto.m_pImagePoints;
    const CTINPoints& r = *doc.m_rightPhoto.m_pImagePoints;
    TINExtent e{};
    l.GetExtent(&e);
    const int y = std::max(0, static_cast<int>((e.ymin + e.ymax) / 2.0) - kClientH / 2);
    const int xOffset = g_app->view->m_nXOffset;
    // Points per column of the left window's coordinates (the right image's
    // columns shifted by the offset), rows y .. y + kClientH - 1.
    std::vector<int64_t> left(kImageSide + 1, 0), right(kImageSide + 1, 0);
    auto count = [&](const CTINPoints& set, std::vector<int64_t>& columns, int shift) {
        for (int i = 0; i < set.GetCount(); ++i) {
            const TINPoint* p = set.GetPoint(i);
            const double c = p->x + shift;
            if (p->y >= y && p->y < y + kClientH && c >= 0 && c < kImageSide)
                ++columns[static_cast<size_t>(c) + 1];
        }
        for (size_t k = 1; k < columns.size(); ++k) columns[k] += columns[k - 1];  // prefix sums
    };
    count(l, left, 0);
    count(r, right, xOffset);
    int best = 0;
    int64_t bestCount = -1;
    for (int x = 0; x + kClientW <= kImageSide; x += 16) {
        const int64_t cl = left[x + kClientW] - left[x], cr = right[x + kClientW] - right[x];
        if (std::min(cl, cr) > bestCount) {
            bestCount = std::min(cl, cr);
            best = x;
        }
    }
    return CPoint(best, y);
}

// Prepares a frame benchmark: project loaded, no selection, view scrolled to
// the densest window, pending paints done, one frame drawn to build the lists.
bool PrepareFrames(benchmark::State& state, const std::string& points, const char* tag) {
    if (!EnsureLoaded(state, points)) return false;
    if (!g_app->FitClient()) {
        state.SkipWithError("the client area cannot be made 1280 x 1024");
        return false;
    }
    App& a = *g_app;
    a.doc->ReleaseSelection();
    a.view->m_ptMark = CPoint(kClientW / 2, kClientH / 2);
    if (a.scroll.x == 0 && a.scroll.y == 0) a.scroll = DensestScroll();
    a.view->ScrollToPosition(a.scroll);
    ProcessEvents(50);
    for (int k = 0; k < 5; ++k) Frame();  // lists built, shaders compiled
    const std::string t = tag;
    if (!g_counts.count("visible left " + t)) {
        g_counts["visible left " + t] = VisiblePoints(a.doc->m_leftPhoto);
        g_counts["visible right " + t] = VisiblePoints(a.doc->m_rightPhoto);
        // Where the points are drawn, as a checksum over both eyes of the
        // positions of the pixels in the points' colour (the grey levels of
        // the images depend on the window the grey map was first made from):
        // a change of the point drawing must leave it as it is.
        const RGBColor c = a.view->m_rgbPoints;
        uint64_t hash = 1469598103934665603ull;
        for (GLenum eye : {GLenum(GL_FRONT_LEFT), GLenum(GL_FRONT_RIGHT)}) {
            std::vector<unsigned char> px = a.view->ReadBufferPixels(eye, 0, 0, kClientW, kClientH);
            for (size_t i = 0; i + 2 < px.size(); i += 3)
                if (px[i] == c.r && px[i + 1] == c.g && px[i + 2] == c.b)
                    hash = (hash ^ i) * 1099511628211ull;
        }
        char text[32];
        std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
        g_notes.push_back("frame checksum " + t + ": " + text);
    }
    return true;
}

// ---------------------------------------------------------------------------
// Load

void BM_Load_FreadThreeFiles(benchmark::State& state) {
    if (!Ready(state)) return;
    const ProjectPaths p = DemoPaths();
    const std::string files[3] = {p.leftImage, p.rightImage, p.matchedPoints};
    int64_t bytes = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        bytes = 0;
        for (const std::string& path : files) {
            FILE* f = std::fopen(path.c_str(), "rb");
            const int64_t size = FileSize(path);
            if (!f || size <= 0) {
                if (f) std::fclose(f);
                continue;
            }
            std::unique_ptr<char[]> data(new char[static_cast<size_t>(size)]);
            bytes += static_cast<int64_t>(std::fread(data.get(), 1, static_cast<size_t>(size), f));
            std::fclose(f);
            benchmark::DoNotOptimize(data.get());
        }
        Record(state, "fread", Seconds(t0, Clock::now()));
    }
    state.SetBytesProcessed(state.iterations() * bytes);
    g_counts["bytes of the three files"] = static_cast<double>(bytes);
}

void ReadImageBench(benchmark::State& state, const std::string& path, const char* name) {
    if (!Ready(state)) return;
    for (auto _ : state) {
        CErdasImage image;
        const auto t0 = Clock::now();
        FILE* f = std::fopen(path.c_str(), "rb");
        const int result = image.ReadImage(f);
        if (f) std::fclose(f);
        Record(state, name, Seconds(t0, Clock::now()));
        if (result != 1) state.SkipWithError("ReadImage failed");
    }
}

void BM_Load_ReadImageLeft(benchmark::State& state) {
    ReadImageBench(state, DemoPaths().leftImage, "ReadImage left");
}

void BM_Load_ReadImageRight(benchmark::State& state) {
    ReadImageBench(state, DemoPaths().rightImage, "ReadImage right");
}

void BM_Load_ReadPts(benchmark::State& state) {
    if (!Ready(state)) return;
    for (auto _ : state) {
        CTINPoints set;
        const auto t0 = Clock::now();
        FILE* f = std::fopen(DemoPaths().matchedPoints.c_str(), "rb");
        const int result = set.ReadPts(f);
        if (f) std::fclose(f);
        Record(state, "ReadPts", Seconds(t0, Clock::now()));
        if (result != 1) state.SkipWithError("ReadPts failed");
    }
}

void BM_Load_BuildIndexGround(benchmark::State& state) {
    if (!Ready(state)) return;
    CTINPoints set;
    if (set.ReadPts(DemoPaths().matchedPoints) != 1) return state.SkipWithError("ReadPts failed");
    for (auto _ : state) {
        const auto t0 = Clock::now();
        const int result = set.BuildIndex(1);
        Record(state, "BuildIndex ground", Seconds(t0, Clock::now()));
        if (result < 0) state.SkipWithError("BuildIndex failed");
    }
}

void BM_Load_ProjectAllAndIndex(benchmark::State& state) {
    if (!Ready(state)) return;
    const ProjectPaths p = DemoPaths();
    CAerialPhoto left, right;
    CTINPoints ground;
    if (left.ReadOrientation(p.leftOrientation) != 1 ||
        right.ReadOrientation(p.rightOrientation) != 1 || ground.ReadPts(p.matchedPoints) != 1)
        return state.SkipWithError("the project does not read");
    // The photographs need their LAN headers for the sub-image origin.
    for (CAerialPhoto* photo : {&left, &right}) {
        FILE* f = std::fopen((photo == &left ? p.leftImage : p.rightImage).c_str(), "rb");
        photo->m_image.ReadImage(f);
        if (f) std::fclose(f);
    }
    ground.BuildIndex(1);
    for (auto _ : state) {
        const auto t0 = Clock::now();
        left.ProjectAll(ground);
        right.ProjectAll(ground);
        const auto t1 = Clock::now();
        left.m_pImagePoints->BuildIndex(1);
        right.m_pImagePoints->BuildIndex(1);
        const auto t2 = Clock::now();
        g_samples["ProjectAll (both)"].push_back(Seconds(t0, t1));
        g_samples["BuildIndex image sets (both)"].push_back(Seconds(t1, t2));
        Record(state, "projections and their indexes", Seconds(t0, t2));
    }
}

void BM_Load_LoadProject(benchmark::State& state) {
    if (!Ready(state)) return;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        const int result = g_app->Load(DemoPaths());
        Record(state, "LoadProject", Seconds(t0, Clock::now()));
        if (result != 1) state.SkipWithError("LoadProject failed");
    }
    g_app->scroll = CPoint();
}

// ---------------------------------------------------------------------------
// Frames

std::string FrameName(const char* tag, bool pan, bool detach) {
    return std::string(tag) + (pan ? " pan" : " redraw") +
           (detach ? " images only" : " with points");
}

// Frames with the points and frames of the images alone, alternately, so that
// both series meet the same load of the shared machine. The iteration time is
// that of the frame with the points.
void FrameBench(benchmark::State& state, const std::string& points, const char* tag, bool pan) {
    if (!PrepareFrames(state, points, tag)) return;
    App& a = *g_app;
    state.SetLabel(a.view->GetPresentation() == StereoPresentation::Anaglyph
                       ? "anaglyph"
                       : "other presentation");
    const std::string with = FrameName(tag, pan, false), without = FrameName(tag, pan, true);
    int step = 0;
    auto frame = [&](bool detach, const std::string& name) {
        if (pan) {
            // A triangle wave of 3 x 2 pixel steps around the chosen window.
            const int k = step++ % 40;
            const int s = k < 20 ? k : 40 - k;
            a.view->ScrollToPosition(CPoint(a.scroll.x + 3 * s, a.scroll.y + 2 * s));
        }
        DetachedPoints detached(detach);
        const double t = Frame(name);
        g_samples[name].push_back(t);
        return t;
    };
    for (auto _ : state) {
        state.SetIterationTime(frame(false, with));
        frame(true, without);
    }
    a.view->ScrollToPosition(a.scroll);
    ProcessEvents(20);
}

void BM_Frame_Redraw(benchmark::State& s) {
    FrameBench(s, "points.pts", "1M", false);
}
void BM_Frame_Pan(benchmark::State& s) {
    FrameBench(s, "points.pts", "1M", true);
}

// ---------------------------------------------------------------------------
// Editing on the 1,000,000-point project

// Selects kSelection consecutive points from the middle of the set.
void SelectBlock() {
    COrvaneDoc* doc = g_app->doc;
    doc->m_bZEdited = false;
    doc->ReleaseSelection();
    const int first = doc->m_points.GetCount() / 2 - kSelection / 2;
    for (int i = first; i < first + kSelection; ++i) doc->SelectPoint(i);
}

void WheelBench(benchmark::State& state, unsigned int flags, const char* name) {
    if (!PrepareFrames(state, "points.pts", "1M")) return;
    SelectBlock();
    COrvaneView* view = g_app->view;
    g_counts["wheel selection"] = static_cast<double>(g_app->doc->m_leftPhoto.m_selection.size());
    short delta = 120;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        view->OnMouseWheel(flags, delta, CPoint(kClientW / 2, kClientH / 2));
        Record(state, name, Seconds(t0, Clock::now()));
        delta = static_cast<short>(-delta);  // up and down again: the heights stay put
    }
}

void BM_Edit_Wheel100k(benchmark::State& s) {
    WheelBench(s, 0, "wheel notch, 100k selected");
}
void BM_Edit_WheelShift100k(benchmark::State& s) {
    WheelBench(s, MK_SHIFT, "wheel notch + Shift, 100k selected");
}

// The redraw that follows a notch: the 100,000 selected points drawn over both images.
void BM_Edit_FrameWith100kSelected(benchmark::State& state) {
    if (!PrepareFrames(state, "points.pts", "1M")) return;
    SelectBlock();
    for (auto _ : state)
        Record(state, "1M redraw, 100k selected", Frame("1M redraw, 100k selected"));
    g_app->doc->ReleaseSelection();
}

void BM_Edit_SelectInRectAll(benchmark::State& state) {
    if (!PrepareFrames(state, "points.pts", "1M")) return;
    COrvaneDoc* doc = g_app->doc;
    TINExtent e{};
    doc->m_leftPhoto.m_pImagePoints->GetExtent(&e);
    const int left = static_cast<int>(std::floor(e.xmin)) - 1;
    const int top = static_cast<int>(std::floor(e.ymin)) - 1;
    const int right = static_cast<int>(std::ceil(e.xmax)) + 1;
    const int bottom = static_cast<int>(std::ceil(e.ymax)) + 1;
    bool first = true;
    for (auto _ : state) {
        doc->m_bZEdited = false;
        doc->ReleaseSelection();
        const auto t0 = Clock::now();
        g_app->view->SelectInRect(left, top, right, bottom);
        const double t = Seconds(t0, Clock::now());
        Record(state, "SelectInRect, whole set", t);
        if (first) g_samples["SelectInRect, whole set (first, lists empty)"].push_back(t);
        first = false;
    }
    g_counts["rectangle selection"] = static_cast<double>(doc->m_leftPhoto.m_selection.size());
    doc->ReleaseSelection();
    doc->m_leftPhoto.m_selection.shrink_to_fit();
    doc->m_rightPhoto.m_selection.shrink_to_fit();
}

// FindImagePoint at the logical position of a mouse moving over the window.
void BM_Edit_FindImagePoint(benchmark::State& state) {
    if (!PrepareFrames(state, "points.pts", "1M")) return;
    const CAerialPhoto& left = g_app->doc->m_leftPhoto;
    const CPoint s = g_app->scroll;
    const double tolerance = g_app->view->m_dPickTolerance;
    constexpr int kMoves = 1000;
    int k = 0, found = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        for (int m = 0; m < kMoves; ++m, ++k) {
            const int x = s.x + (k * 7) % kClientW, y = s.y + (k * 5) % kClientH;
            found += left.FindImagePoint(x, y, tolerance) >= 0;
        }
        const double t = Seconds(t0, Clock::now());
        state.SetIterationTime(t);
        g_samples["FindImagePoint per mouse move"].push_back(t / kMoves);
    }
    g_counts["mouse moves that found a point (%)"] = 100.0 * found / std::max(k, 1);
}

// ---------------------------------------------------------------------------
// Frames on the densified project (about 100,000 points per window)

void BM_Dense_Redraw(benchmark::State& s) {
    FrameBench(s, "points-dense.pts", "4M", false);
}
void BM_Dense_Pan(benchmark::State& s) {
    FrameBench(s, "points-dense.pts", "4M", true);
}

// ---------------------------------------------------------------------------
// Summary

void Row(const char* what, double ours, double reference, const char* refName, double target,
         bool lessOrEqual = true) {
    const double ratio = ours / reference;
    if (target <= 0.0) {  // a step of a whole: shown with its share, no target of its own
        std::printf("| %-44s | %11.5f ms | %-36s %10.3f ms | %8.4f | %-9s | %-3s |\n", what,
                    ours * 1e3, refName, reference * 1e3, ratio, "-", "");
        return;
    }
    const bool met = lessOrEqual ? ratio <= target : ratio >= target;
    std::printf("| %-44s | %11.5f ms | %-36s %10.3f ms | %8.4f | <= %-6g | %-3s |\n", what,
                ours * 1e3, refName, reference * 1e3, ratio, target, met ? "met" : "NOT");
}

void PrintSummary() {
    PrintMedians();

    std::printf("\n| %-44s | %14s | %-50s | %8s | %-9s | %-3s |\n", "measure", "ours", "reference",
                "ratio", "target", "");
    const double fread = MedianOf("fread");
    Row("LoadProject (whole)", MedianOf("LoadProject"), fread, "fread of the 3 files", 3.0);
    Row("  ReadImage left", MedianOf("ReadImage left"), fread, "fread of the 3 files", 0);
    Row("  ReadImage right", MedianOf("ReadImage right"), fread, "fread of the 3 files", 0);
    Row("  ReadPts", MedianOf("ReadPts"), fread, "fread of the 3 files", 0);
    Row("  BuildIndex(1) ground", MedianOf("BuildIndex ground"), fread, "fread of the 3 files", 0);
    Row("  ProjectAll (both)", MedianOf("ProjectAll (both)"), fread, "fread of the 3 files", 0);
    Row("  BuildIndex(1) image sets (both)", MedianOf("BuildIndex image sets (both)"), fread,
        "fread of the 3 files", 0);
    for (const char* tag : {"1M", "4M"}) {
        for (bool pan : {false, true}) {
            const std::string with = FrameName(tag, pan, false);
            const std::string without = FrameName(tag, pan, true);
            Row(with.c_str(), MedianOf(with), MedianOf(without), without.c_str(), 1.3);
            Row((with + " (cpu)").c_str(), MedianOf(with + " (cpu)"), MedianOf(without + " (cpu)"),
                (without + " (cpu)").c_str(), 1.3);
        }
    }
    const double frame = MedianOf(FrameName("1M", false, false));
    const char* frameName = "1M redraw with points";
    Row("wheel notch, 100k selected", MedianOf("wheel notch, 100k selected"), frame, frameName,
        1.0);
    Row("wheel notch + Shift, 100k selected", MedianOf("wheel notch + Shift, 100k selected"), frame,
        frameName, 1.0);
    Row("SelectInRect, whole set", MedianOf("SelectInRect, whole set"), frame, frameName, 1.0);
    Row("SelectInRect, whole set (first)", MedianOf("SelectInRect, whole set (first, lists empty)"),
        frame, frameName, 1.0);
    Row("FindImagePoint per mouse move", MedianOf("FindImagePoint per mouse move"), frame,
        frameName, 0.01);
    Row("1M redraw, 100k selected", MedianOf("1M redraw, 100k selected"), frame, frameName, 0);
    if (g_app && g_app->capture) {
        for (const auto& m : g_app->capture->Messages())
            std::printf("  message during the run: %s\n", m.text.c_str());
    }
}

}  // namespace

BENCHMARK(BM_Load_FreadThreeFiles)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Load_ReadImageLeft)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Load_ReadImageRight)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Load_ReadPts)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Load_BuildIndexGround)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Load_ProjectAllAndIndex)
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Load_LoadProject)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Frame_Redraw)->Iterations(60)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Frame_Pan)->Iterations(60)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Edit_Wheel100k)->Iterations(30)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Edit_WheelShift100k)->Iterations(30)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Edit_FrameWith100kSelected)
    ->Iterations(30)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Edit_SelectInRectAll)->Iterations(15)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Edit_FindImagePoint)->Iterations(50)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Dense_Redraw)->Iterations(60)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Dense_Pan)->Iterations(60)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    return RunAppBenchmarks(argc, argv, true, PrintSummary);
}
