// Undo and redo against the edits themselves, on a project of 1,000,000
// points with 100,000 selected (each figure in the same run):
//   Set To A New Z (to the block's mean height): the edit, its undo and its
//   redo (ms), undo / edit and
//   redo / edit, and the history's bytes per changed record against the
//   bytes those records take in the three sets (3 x 36);
//   400 wheel notches merged into one step: one notch (ms) and the undo of
//   all 400 at once (ms).
// The project is generated once (orvane-makedemo's code, 4000 x 4000
// images) unless ORVANE_BENCH_DEMO names a folder holding one.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "DemoProject.h"
#include "Editing/PointEditor.h"
#include "Photogrammetry/AerialPhoto.h"
#include "Platform/FileHandle.h"
#include "Project/Project.h"
#include "TIN/TINPoints.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

std::string DemoFolder() {
    if (const char* dir = std::getenv("ORVANE_BENCH_DEMO")) return dir;
    static std::string made;
    if (made.empty()) {
        made = "/tmp/editing_bench_" + std::to_string(getpid());
        demo::DemoOptions options;
        options.outDir = made;
        options.cols = 4000;
        options.rows = 4000;
        options.points = 1000000;
        demo::DemoResult result;
        std::string error;
        if (demo::MakeDemoProject(options, result, error) != 1) {
            std::fprintf(stderr, "demo: %s\n", error.c_str());
            std::exit(1);
        }
        std::atexit([] { std::filesystem::remove_all(made); });
    }
    return made;
}

struct Project {
    CProject project;
    CTINPoints& ground = project.m_points;
    CAerialPhoto& left = project.m_leftPhoto;
    CAerialPhoto& right = project.m_rightPhoto;
    CPointEditor& editor = project.m_editor;
    double meanZ = 0.0;
    std::string error;  // why the project could not be loaded (empty: loaded)
    Project() {
        const std::string dir = DemoFolder();
        const ProjectLoadResult loaded =
            project.Load({dir + "/left.lan", dir + "/right.lan", dir + "/left.ORN",
                          dir + "/right.ORN", dir + "/points.pts"});
        if (!loaded.Loaded() || ground.GetCount() < 200000) {
            error = std::string("cannot load the project in ") + dir + ": " +
                    ProjectInputName(loaded.failed);
            return;
        }
        // 100,000 points: a square block around the middle of the left image
        // positions, as a rectangle selection makes it.
        const CTINPoints& l = *left.m_pImagePoints;
        double cx = 0, cy = 0;
        for (int i = 0; i < l.GetCount(); ++i) cx += l.GetPoint(i)->x, cy += l.GetPoint(i)->y;
        cx /= l.GetCount();
        cy /= l.GetCount();
        std::vector<double> reach;
        for (int i = 0; i < l.GetCount(); ++i)
            reach.push_back(
                std::max(std::fabs(l.GetPoint(i)->x - cx), std::fabs(l.GetPoint(i)->y - cy)));
        std::nth_element(reach.begin(), reach.begin() + 99999, reach.end());
        const double half = reach[99999];
        editor.SelectInRect(cx - half, cy - half, cx + half, cy + half);
        for (int i : editor.SelectionIndices()) meanZ += ground.GetPoint(i)->z;
        meanZ /= static_cast<double>(editor.SelectionIndices().size());
    }
};

Project& Shared() {
    static Project project;
    return project;
}

void BM_SetZEditUndoRedo(benchmark::State& state) {
    Project& p = Shared();
    if (!p.error.empty()) return state.SkipWithError(p.error.c_str());
    double edit = 0, undo = 0, redo = 0, bytes = 0;
    int rounds = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        p.editor.SetSelectionZ(p.meanZ + 0.5 * (rounds % 5));
        const auto t1 = Clock::now();
        bytes += double(p.editor.History().Last()->Bytes());
        p.editor.Undo();
        const auto t2 = Clock::now();
        p.editor.Redo();
        const auto t3 = Clock::now();
        p.editor.Undo();  // the next round starts from the same state
        edit += Ms(t0, t1);
        undo += Ms(t1, t2);
        redo += Ms(t2, t3);
        ++rounds;
    }
    const double changed = double(p.editor.SelectionIndices().size());
    state.counters["edit_ms"] = edit / rounds;
    state.counters["undo_ms"] = undo / rounds;
    state.counters["redo_ms"] = redo / rounds;
    state.counters["undo_per_edit"] = undo / edit;
    state.counters["redo_per_edit"] = redo / edit;
    state.counters["step_bytes_per_record_bytes"] =
        bytes / rounds / (changed * 3 * sizeof(TINPoint));
}
BENCHMARK(BM_SetZEditUndoRedo)->Iterations(10)->Unit(benchmark::kMillisecond);

void BM_FourHundredNotchesUndoneAtOnce(benchmark::State& state) {
    Project& p = Shared();
    if (!p.error.empty()) return state.SkipWithError(p.error.c_str());
    double notch = 0, undo = 0;
    int rounds = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        for (int k = 0; k < 400; ++k) p.editor.RaiseSelection(k % 2 ? 0.03 : -0.02, false);
        const auto t1 = Clock::now();
        p.editor.Undo();
        const auto t2 = Clock::now();
        notch += Ms(t0, t1) / 400;
        undo += Ms(t1, t2);
        ++rounds;
    }
    state.counters["notch_ms"] = notch / rounds;
    state.counters["undo_400_ms"] = undo / rounds;
}
BENCHMARK(BM_FourHundredNotchesUndoneAtOnce)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
