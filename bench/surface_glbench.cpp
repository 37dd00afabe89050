// The surface of the points in the editing view, on the large generated
// project (two 10000 x 10000 8-bit LAN images, 1,000,000 ground points),
// 1280 x 1024 client area, both eyes (anaglyph without quad buffers):
//
//   Frames    - an unchanged frame and a pan of a few pixels per frame with
//               the contours and triangle edges on, and with the contours
//               alone, against the same frame with the points alone, at 1:1;
//               at the fit zoom the contours alone (the triangle edges are
//               drawn from 1:4 on); target 1.3x;
//   Mark      - the floating mark's height found under a moving mouse, by
//               Drape (the surface) and by Auto Height (matching), per mouse
//               move against the 1:1 frame with the points; targets 1 % and
//               a quarter of a frame;
//   Edits     - 10,000 points raised (Z alone) or moved along their left
//               rays (X, Y and Z), as a block of 100 x 100 grid points in
//               view or every 100th record: the edit call (the document
//               passes the event to the surface, which updates itself) and
//               the next frame with the contours on; Z alone within one
//               frame beyond the frame itself, moves within 0.5 s;
//   Memory    - the triangulation's own arrays per live point; target 60 B.
//
// Frames that are compared are drawn alternately in the same iterations, so
// that both meet the same load of the shared machine.
//
// The project is generated once into /tmp/orvane-bench-demo (or the folder
// named by ORVANE_BENCH_DEMO), as orvane_glbench does, and reused.
//
// Run on a real X server:
//   QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1920x1200x24 -noreset" ./surface_glbench
#include <GL/gl.h>
#include <benchmark/benchmark.h>
#include <time.h>

#include <QApplication>
#include <QElapsedTimer>
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
#include "Orvane/OrvaneDoc.h"
#include "Orvane/OrvaneView.h"
#include "Surface/ProjectSurface.h"
#include "TIN/TINPoints.h"

namespace {

constexpr int kEdited = 10000;   // points of each edit
constexpr int kBlockSide = 100;  // the block edit: kBlockSide x kBlockSide grid points

std::string ScaleName(double scale) {
    return scale > 0.0 ? (scale == 1.0 ? "1:1" : std::to_string(scale)) : "fit";
}

// The middle of the left image points' extent (left sub-image pixels): the
// frames are centred there, so that the whole client area shows points.
StereoPoint PointsCentre() {
    TINExtent e{};
    g_app->doc->m_leftPhoto.m_pImagePoints->GetExtent(&e);
    return {(e.xmin + e.xmax) / 2.0, (e.ymin + e.ymax) / 2.0};
}

bool g_firstContourFrameDone = false;

// Loads the 1,000,000-point project (once), sizes the client area, centres
// the view on the middle of the points at `scale` (0: the fit zoom), with the
// surface off and no selection, and draws a few frames.
bool PrepareView(benchmark::State& state, double scale) {
    if (!EnsureLoaded(state, "points.pts")) return false;
    if (!g_app->FitClient()) {
        state.SkipWithError("the client area cannot be made 1280 x 1024");
        return false;
    }
    App& a = *g_app;
    a.doc->ReleaseSelection();
    a.view->m_bShowContours = false;
    a.view->m_bShowTriangles = false;
    a.view->SetMarkHeightMode(COrvaneView::MarkHeightMode::Off);
    const StereoPoint centre = PointsCentre();
    a.view->SetZoom(1.0, CPoint(kClientW / 2, kClientH / 2));
    a.view->CentreOn(centre.x, centre.y);
    if (scale > 0.0)
        a.view->SetZoom(scale, CPoint(kClientW / 2, kClientH / 2));
    else
        a.view->OnZoomToFit();
    if (scale < 1.0) WaitForLevels();
    a.view->m_ptMark = CPoint(kClientW / 2, kClientH / 2);
    ProcessEvents(50);
    for (int k = 0; k < 5; ++k) Frame();  // lists built, pictures sampled
    if (!g_firstContourFrameDone) {
        // The first frame with the contours projects every segment into both
        // photographs; later frames reuse those positions.
        g_firstContourFrameDone = true;
        a.view->m_bShowContours = true;
        g_samples["first frame with contours after the load"].push_back(Frame());
        a.view->m_bShowContours = false;
        Frame();
    }
    return true;
}

struct Variant {
    std::string name;
    bool contours, triangles;
};

// Frames of every variant in turn in each iteration (the iteration time is
// the first variant's), each timed frame after an untimed one of the same
// variant; each frame a pan of a few pixels when `pan` (a triangle wave of
// 3 x 2 pixel steps around the starting position).
void FrameBench(benchmark::State& state, double scale, bool pan,
                const std::vector<Variant>& variants) {
    if (!PrepareView(state, scale)) return;
    COrvaneView* view = g_app->view;
    state.SetLabel(view->GetPresentation() == StereoPresentation::Anaglyph ? "anaglyph"
                                                                           : "other presentation");
    const CPoint start = view->GetScrollPosition();
    for (const Variant& v : variants) {  // the surface's lines of this window gathered once
        view->m_bShowContours = v.contours;
        view->m_bShowTriangles = v.triangles;
        Frame();
    }
    int step = 0;
    for (auto _ : state) {
        double first = 0.0;
        for (size_t i = 0; i < variants.size(); ++i) {
            const Variant& v = variants[i];
            view->m_bShowContours = v.contours;
            view->m_bShowTriangles = v.triangles;
            // A frame after the switch, not timed: a redraw is a frame in which
            // nothing changed, as it is for the operator, not the first one
            // after the lines were turned on or off.
            for (int k = 0; k < 2; ++k) {
                if (pan) {
                    const int w = step++ % 40;
                    const int s = w < 20 ? w : 40 - w;
                    view->ScrollToPosition(CPoint(start.x + 3 * s, start.y + 2 * s));
                }
                if (k == 0) Frame();
            }
            const double t = Frame(v.name);
            g_samples[v.name].push_back(t);
            if (i == 0) first = t;
        }
        state.SetIterationTime(first);
    }
    view->m_bShowContours = false;
    view->m_bShowTriangles = false;
    view->ScrollToPosition(start);
    ProcessEvents(20);
}

std::string FrameName(double scale, bool pan, const char* what) {
    return ScaleName(scale) + (pan ? " pan, " : " redraw, ") + what;
}

std::vector<Variant> OneToOneVariants(bool pan) {
    return {{FrameName(1.0, pan, "contours + triangles"), true, true},
            {FrameName(1.0, pan, "contours"), true, false},
            {FrameName(1.0, pan, "points only"), false, false}};
}

std::vector<Variant> FitVariants(bool pan) {
    return {{FrameName(0.0, pan, "contours"), true, false},
            {FrameName(0.0, pan, "points only"), false, false}};
}

void BM_Frames_OneToOneRedraw(benchmark::State& s) {
    FrameBench(s, 1.0, false, OneToOneVariants(false));
}
void BM_Frames_OneToOnePan(benchmark::State& s) {
    FrameBench(s, 1.0, true, OneToOneVariants(true));
}
void BM_Frames_FitRedraw(benchmark::State& s) {
    FrameBench(s, 0.0, false, FitVariants(false));
}
void BM_Frames_FitPan(benchmark::State& s) {
    FrameBench(s, 0.0, true, FitVariants(true));
}

// ---------------------------------------------------------------------------
// The floating mark's height under a moving mouse

// The mark's GL window position at mouse move k: a slow Lissajous path over
// the middle of the client area, a couple of pixels per move.
CPoint MousePath(int k) {
    const double x = kClientW / 2.0 + 0.38 * kClientW * std::sin(0.004 * k);
    const double y = kClientH / 2.0 + 0.38 * kClientH * std::sin(0.0057 * k + 1.0);
    return CPoint(static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y)));
}

void MarkBench(benchmark::State& state, COrvaneView::MarkHeightMode mode, int moves,
               const std::string& name) {
    if (!PrepareView(state, 1.0)) return;
    COrvaneView* view = g_app->view;
    view->SetMarkHeightMode(mode);
    if (view->GetMarkHeightMode() != mode) {
        state.SkipWithError("the mode does not turn on");
        return;
    }
    int k = 0, found = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        for (int m = 0; m < moves; ++m) {
            view->m_ptMark = MousePath(k++);
            const auto m0 = Clock::now();
            const bool hit = view->UpdateMarkHeight();
            // Moves that find a height and moves that do not, apart: a
            // failed search can stop early or run to its limit.
            g_samples[name + (hit ? ", height found" : ", no height")].push_back(
                Seconds(m0, Clock::now()));
            found += hit ? 1 : 0;
        }
        const double t = Seconds(t0, Clock::now());
        state.SetIterationTime(t);
        g_samples[name].push_back(t / moves);
    }
    g_counts[name + ": moves"] = k;
    g_counts[name + ": heights found (%)"] = 100.0 * found / std::max(k, 1);
    view->SetMarkHeightMode(COrvaneView::MarkHeightMode::Off);
    view->m_ptMark = CPoint(kClientW / 2, kClientH / 2);
}

const char* const kDrape = "Drape per mouse move";
const char* const kAutoHeight = "Auto Height per mouse move";

void BM_Mark_Drape(benchmark::State& s) {
    MarkBench(s, COrvaneView::MarkHeightMode::Drape, 200, kDrape);
}
void BM_Mark_AutoHeight(benchmark::State& s) {
    MarkBench(s, COrvaneView::MarkHeightMode::AutoHeight, 20, kAutoHeight);
}

// ---------------------------------------------------------------------------
// Memory

void BM_Memory(benchmark::State& state) {
    if (!EnsureLoaded(state, "points.pts")) return;
    const COrvaneDoc& doc = *g_app->doc;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        int live = 0;
        for (int i = 0; i < doc.m_points.GetCount(); ++i) live += doc.m_points.GetPoint(i)->id >= 0;
        state.SetIterationTime(Seconds(t0, Clock::now()));
        const CSurface& surface = doc.m_surface.Surface();
        g_counts["live points"] = live;
        g_counts["triangles"] = surface.TriangleCount();
        g_counts["contour segments"] =
            static_cast<double>(doc.m_surface.Contours().Segments().size());
        g_counts["array bytes per live point"] =
            static_cast<double>(surface.ArrayBytes()) / std::max(live, 1);
        g_counts["copy of X, Y, Z: bytes per live point"] =
            static_cast<double>(surface.PointBytes()) / std::max(live, 1);
    }
    char text[64];
    std::snprintf(text, sizeof text, "contour interval %.3f (ground units of Z)",
                  doc.m_surface.Interval());
    g_notes.push_back(text);
}

// ---------------------------------------------------------------------------
// Edits of 10,000 points and the frame that shows them

// The grid's columns: records are laid north row first, west to east, so the
// first row is the run of records with the first record's Y.
int GridColumns(const CTINPoints& ground) {
    const double y0 = ground.GetPoint(0)->y;
    int n = 1;
    while (n < ground.GetCount() && ground.GetPoint(n)->y == y0) ++n;
    return n;
}

// A block of kBlockSide x kBlockSide grid points around the record nearest
// the middle of the view, or every 100th record.
std::vector<int> EditedRecords(bool scattered) {
    const COrvaneDoc& doc = *g_app->doc;
    const int count = doc.m_points.GetCount();
    std::vector<int> records;
    if (scattered) {
        for (int i = 0; i < kEdited && 100 * i < count; ++i) records.push_back(100 * i);
        return records;
    }
    const StereoPoint centre = PointsCentre();
    const CTINPoints& left = *doc.m_leftPhoto.m_pImagePoints;
    int nearest = 0;
    double best = 1e300;
    for (int i = 0; i < left.GetCount(); ++i) {
        const TINPoint* p = left.GetPoint(i);
        if (p->id < 0) continue;
        const double d = std::hypot(p->x - centre.x, p->y - centre.y);
        if (d < best) {
            best = d;
            nearest = i;
        }
    }
    const int columns = GridColumns(doc.m_points);
    const int row0 = nearest / columns - kBlockSide / 2,
              column0 = nearest % columns - kBlockSide / 2;
    for (int r = row0; r < row0 + kBlockSide; ++r)
        for (int c = column0; c < column0 + kBlockSide; ++c) {
            const int i = r * columns + c;
            if (r >= 0 && c >= 0 && c < columns && i < count && doc.m_points.GetPoint(i)->id >= 0)
                records.push_back(i);
        }
    g_counts["grid columns"] = columns;
    return records;
}

std::string EditName(bool moves, bool scattered) {
    return std::string(moves ? "move" : "Z edit") + (scattered ? " 10k every 100th" : " 10k block");
}

// Each iteration: the records selected (not timed), then the edit (up and
// down in turn, so that the points stay near the surface) and the next frame
// with the contours on, until it is complete.
void EditBench(benchmark::State& state, bool moves, bool scattered) {
    if (!PrepareView(state, 1.0)) return;
    COrvaneDoc* doc = g_app->doc;
    COrvaneView* view = g_app->view;
    view->m_bShowContours = true;
    for (int k = 0; k < 3; ++k) Frame();
    const std::vector<int> records = EditedRecords(scattered);
    const std::string name = EditName(moves, scattered);
    g_counts[name + ": records"] = static_cast<double>(records.size());
    double dZ = 0.5;
    for (auto _ : state) {
        doc->m_editor.SetSelection(records);
        ProcessEvents(2);
        const auto t0 = Clock::now();
        const int result = doc->m_editor.RaiseSelection(dZ, moves);
        const auto t1 = Clock::now();
        const double frame = Frame(name + ": next frame");
        const double edit = Seconds(t0, t1);
        if (result != 1) {
            state.SkipWithError("RaiseSelection failed");
            break;
        }
        g_samples[name + ": edit call"].push_back(edit);
        g_samples[name + ": next frame"].push_back(frame);
        Record(state, name + ": edit + next frame", edit + frame);
        dZ = -dZ;
    }
    doc->ReleaseSelection();
    view->m_bShowContours = false;
    ProcessEvents(400);  // the pits and peaks after the run of edits
}

void BM_Edit_ZBlock(benchmark::State& s) {
    EditBench(s, false, false);
}
void BM_Edit_ZScattered(benchmark::State& s) {
    EditBench(s, false, true);
}
void BM_Edit_MoveBlock(benchmark::State& s) {
    EditBench(s, true, false);
}
void BM_Edit_MoveScattered(benchmark::State& s) {
    EditBench(s, true, true);
}

// The pits and peaks among the contours, found again once a run of edits
// pauses (a timer of the document): for reference against a frame.
void BM_Edit_ContourSuspects(benchmark::State& state) {
    if (!EnsureLoaded(state, "points.pts")) return;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        g_app->doc->RefreshContourSuspects();
        Record(state, "contour suspects after a run of edits", Seconds(t0, Clock::now()));
    }
}

BENCHMARK(BM_Memory)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Frames_OneToOneRedraw)->UseManualTime()->Iterations(30)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Frames_OneToOnePan)->UseManualTime()->Iterations(30)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Frames_FitRedraw)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Frames_FitPan)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Mark_Drape)->UseManualTime()->Iterations(30)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Mark_AutoHeight)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Edit_ZBlock)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Edit_ZScattered)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Edit_MoveBlock)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Edit_MoveScattered)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Edit_ContourSuspects)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------
// Summary

enum class Target { Ratio, Seconds, None };

// One line of the table: our median against a reference median, their ratio,
// and the target (on the ratio, on our time in seconds, or none).
void Row(const std::string& what, const std::string& ours, const std::string& reference,
         Target kind = Target::None, double target = 0.0) {
    const double a = MedianOf(ours), b = MedianOf(reference);
    const double ratio = a / b;
    char goal[24] = "-";
    const char* met = "";
    if (kind == Target::Ratio) {
        std::snprintf(goal, sizeof goal, "<= %gx", target);
        met = ratio <= target ? "met" : "NOT";
    } else if (kind == Target::Seconds) {
        std::snprintf(goal, sizeof goal, "<= %g s", target);
        met = a <= target ? "met" : "NOT";
    }
    std::printf("| %-46s | %10.4f | %-34s | %9.3f | %8.4f | %-9s | %-3s |\n", what.c_str(), a * 1e3,
                reference.c_str(), b * 1e3, ratio, goal, met);
}

void PrintSummary() {
    PrintMedians();

    std::printf("\n| %-46s | %10s | %-34s | %9s | %8s | %-9s | %-3s |\n", "measure", "ours ms",
                "reference", "ref ms", "ratio", "target", "");
    for (bool pan : {false, true}) {
        const std::string base = FrameName(1.0, pan, "points only");
        for (const char* what : {"contours + triangles", "contours"}) {
            const std::string name = FrameName(1.0, pan, what);
            Row(name, name, base, Target::Ratio, 1.3);
            Row(name + " (cpu)", name + " (cpu)", base + " (cpu)", Target::Ratio, 1.3);
        }
    }
    for (bool pan : {false, true}) {
        const std::string base = FrameName(0.0, pan, "points only");
        const std::string name = FrameName(0.0, pan, "contours");
        Row(name, name, base, Target::Ratio, 1.3);
        Row(name + " (cpu)", name + " (cpu)", base + " (cpu)", Target::Ratio, 1.3);
    }
    const std::string frame = FrameName(1.0, false, "points only");
    Row("first frame with contours after the load", "first frame with contours after the load",
        frame);
    Row(kDrape, kDrape, frame, Target::Ratio, 0.01);
    Row(kAutoHeight, kAutoHeight, frame, Target::Ratio, 0.25);
    for (const char* mode : {kDrape, kAutoHeight})
        for (const char* outcome : {", height found", ", no height"}) {
            const std::string name = std::string(mode) + outcome;
            if (g_samples.count(name)) Row(name, name, frame);
        }
    // Z alone: the contours current and drawn within one frame beyond the
    // frame itself (the frame with the contours on, unchanged, as the frame).
    const std::string contourFrame = FrameName(1.0, false, "contours");
    for (bool scattered : {false, true}) {
        const std::string name = EditName(false, scattered);
        Row(name + ": edit call", name + ": edit call", contourFrame, Target::Ratio, 1.0);
        Row(name + ": next frame", name + ": next frame", contourFrame);
        Row(name + ": edit + next frame", name + ": edit + next frame", contourFrame, Target::Ratio,
            2.0);
    }
    for (bool scattered : {false, true}) {
        const std::string name = EditName(true, scattered);
        Row(name + ": edit call", name + ": edit call", contourFrame);
        Row(name + ": next frame", name + ": next frame", contourFrame);
        Row(name + ": edit + next frame", name + ": edit + next frame", contourFrame,
            Target::Seconds, 0.5);
    }
    Row("contour suspects after a run of edits", "contour suspects after a run of edits",
        contourFrame);
    const double bytes =
        g_counts.count("array bytes per live point") ? g_counts["array bytes per live point"] : NAN;
    std::printf("| %-46s | %10.2f | %-34s | %9s | %8s | %-9s | %-3s |\n",
                "surface arrays, bytes per live point", bytes, "", "", "", "<= 60 B",
                bytes <= 60.0 ? "met" : "NOT");
    if (g_app && g_app->capture) {
        for (const auto& m : g_app->capture->Messages())
            std::printf("  message during the run: %s\n", m.text.c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    return RunAppBenchmarks(argc, argv, false, PrintSummary);
}
