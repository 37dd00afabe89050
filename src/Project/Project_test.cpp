// The project reports every kind of change through its events, whoever
// makes it: an edit through the editor, a selection, an undo across a save,
// a step through the check queue, a load.
#include "Project/Project.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "Checking/SurfaceTargets.h"
#include "testing/DemoTestSupport.h"
#include "testing/PlatformTestSupport.h"

namespace {

struct Recorder : IProjectEvents {
    std::vector<ProjectEvent> events;
    std::vector<std::vector<int>> records;  // copies: the event's list lives only during the call
    void OnProjectEvent(const ProjectEvent& e) override {
        events.push_back(e);
        records.push_back(e.records       ? *e.records
                          : e.renumbering ? e.renumbering->NewIndexOfOld()
                                          : std::vector<int>{});
    }
    bool Saw(ProjectChange c) const {
        for (const ProjectEvent& e : events)
            if (e.change == c) return true;
        return false;
    }
    const ProjectEvent* Find(ProjectChange c, std::vector<int>* list = nullptr) const {
        for (size_t k = 0; k < events.size(); ++k) {
            if (events[k].change != c) continue;
            if (list) *list = records[k];
            return &events[k];
        }
        return nullptr;
    }
    void Clear() { events.clear(), records.clear(); }
};

// The "small" demo project of the test run (900 x 900, 3,000 points).
ProjectPaths DemoProjectPaths(const std::string& points) {
    const demo::DemoResult& d = demo::SmallProject();
    return {d.leftImage, d.rightImage, d.leftOrientation, d.rightOrientation,
            points.empty() ? d.pointsFile : points};
}

TEST(ProjectEvents, EveryKindOfChangeIsReported) {
    platformtest::TempDir dir("orvane_project");
    const std::string points = dir / "points.pts";
    std::filesystem::copy_file(DemoProjectPaths({}).matchedPoints, points);

    CProject project;
    Recorder rec;
    project.SetEventSink(&rec);

    // A failed load reports nothing and changes nothing.
    ProjectPaths bad = DemoProjectPaths(points);
    bad.rightOrientation = dir / "missing.ORN";
    const ProjectLoadResult failed = project.Load(bad);
    EXPECT_EQ(failed.failed, ProjectInput::RightOrientation);
    EXPECT_STREQ(ProjectInputName(failed.failed), "Right Orientation Parameters File");
    EXPECT_TRUE(rec.events.empty());
    EXPECT_FALSE(project.IsProjectLoaded());

    bool replaced = false;
    ASSERT_TRUE(project.Load(DemoProjectPaths(points), [&] { replaced = true; }).Loaded());
    EXPECT_TRUE(replaced);
    EXPECT_TRUE(rec.Saw(ProjectChange::Loaded));
    EXPECT_TRUE(rec.Saw(ProjectChange::HistoryChanged));
    const std::uint64_t loadedGeneration = project.EditGeneration();

    // Selecting through the editor: a selection change, no edit.
    rec.Clear();
    const int a = project.m_points.GetCount() / 2, b = a + 1;
    project.m_editor.Select(a);
    EXPECT_TRUE(rec.Saw(ProjectChange::SelectionChanged));
    EXPECT_FALSE(rec.Saw(ProjectChange::PointsEdited));
    EXPECT_EQ(project.EditGeneration(), loadedGeneration);

    // An edit through the editor: the changed records, not at the saved state.
    rec.Clear();
    ASSERT_EQ(project.m_editor.RaiseSelection(0.5, false), 1);
    std::vector<int> changed;
    const ProjectEvent* edited = rec.Find(ProjectChange::PointsEdited, &changed);
    ASSERT_NE(edited, nullptr);
    EXPECT_EQ(changed, std::vector<int>{a});
    EXPECT_FALSE(edited->atSavedState);
    EXPECT_TRUE(rec.Saw(ProjectChange::HistoryChanged));
    EXPECT_TRUE(rec.Saw(ProjectChange::ChecksChanged));
    EXPECT_GT(project.EditGeneration(), loadedGeneration);

    // Releasing the raised selection promotes its weight: an edit of the file too.
    rec.Clear();
    project.m_points.GetPoint(a)->weight = 0.5;
    ASSERT_TRUE(project.m_editor.ReleaseSelection());
    edited = rec.Find(ProjectChange::PointsEdited, &changed);
    ASSERT_NE(edited, nullptr);
    EXPECT_EQ(changed, std::vector<int>{a});

    // A delete and a save: the records are renumbered, b's old place is gone.
    project.m_editor.Select(b);
    ASSERT_EQ(project.m_editor.DeleteSelection(), 1);
    rec.Clear();
    ASSERT_EQ(project.Save(points), kSaved);
    std::vector<int> map;
    ASSERT_NE(rec.Find(ProjectChange::RecordsRenumbered, &map), nullptr);
    ASSERT_GT(map.size(), static_cast<size_t>(b + 1));
    EXPECT_EQ(map[static_cast<size_t>(b)], -1);
    EXPECT_EQ(map[static_cast<size_t>(b + 1)], b);
    EXPECT_FALSE(rec.Saw(ProjectChange::PointsEdited));
    EXPECT_TRUE(rec.Saw(ProjectChange::HistoryChanged));

    // Undoing the delete takes the save's compaction back first: the
    // renumbering goes out before the edit, and the state is not the saved one.
    rec.Clear();
    EXPECT_EQ(project.Undo(), "Delete Points");
    ASSERT_NE(rec.Find(ProjectChange::RecordsRenumbered, &map), nullptr);
    EXPECT_EQ(map[static_cast<size_t>(b)], b + 1);
    ASSERT_NE(rec.Find(ProjectChange::PointsEdited), nullptr);
    EXPECT_EQ(rec.events.front().change, ProjectChange::RecordsRenumbered);
    EXPECT_FALSE(rec.Find(ProjectChange::PointsEdited)->atSavedState);
    // Redoing it comes back to what the file holds.
    rec.Clear();
    EXPECT_EQ(project.Redo(), "Delete Points");
    ASSERT_NE(rec.Find(ProjectChange::PointsEdited), nullptr);
    EXPECT_TRUE(rec.Find(ProjectChange::PointsEdited)->atSavedState);

    // A step through the check queue.
    rec.Clear();
    const int suspect = project.NextSuspect();
    ASSERT_GE(suspect, 0);
    EXPECT_TRUE(rec.Saw(ProjectChange::ChecksChanged));
    rec.Clear();
    ASSERT_TRUE(project.SelectSuspect(suspect));
    EXPECT_TRUE(rec.Saw(ProjectChange::SelectionChanged));
    EXPECT_EQ(project.m_editor.SelectionIndices(), std::vector<int>{suspect});
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The walk through the check queue on a loaded project: the worst suspect
// first, put on its neighbours' surface as one undoable step, its status
// kept through a save (beside the file saved, Save As too) and a new load;
// a sidecar of another state of the points file is ignored.
TEST(ProjectChecks, NextFixUndoSaveAndReload) {
    platformtest::TempDir dir("orvane_checks");
    const std::string pts = dir / "points.pts";
    const std::string original = DemoProjectPaths({}).matchedPoints;
    std::filesystem::copy_file(original, pts);
    CProject project;
    ASSERT_TRUE(project.Load(DemoProjectPaths(pts)).Loaded());
    CCheckQueue& queue = project.m_checks;

    // Next: the worst suspect becomes current and the selection.
    const int worst = project.NextSuspect();
    ASSERT_GE(worst, 0);
    std::vector<int> top;
    queue.Ranking()->Worst(1, 0.0, top);
    EXPECT_EQ(worst, top[0]);
    ASSERT_TRUE(project.SelectSuspect(worst));
    EXPECT_EQ(project.m_editor.SelectionIndices(), std::vector<int>{worst});

    // Set To Surface: along the left ray (its left position stays), one step.
    const double z = project.m_points.GetPoint(worst)->z;
    const double column = project.m_leftPhoto.m_pImagePoints->GetPoint(worst)->x;
    ASSERT_EQ(project.SetSelectionToSurface(), 1);
    const TINPoint fixed = *project.m_points.GetPoint(worst);
    const SurfaceEstimate there = queue.Ranking()->SurfaceAt(fixed.x, fixed.y, worst);
    EXPECT_NEAR(fixed.z, there.height, 0.05);
    EXPECT_NEAR(project.m_leftPhoto.m_pImagePoints->GetPoint(worst)->x, column, 1e-6);
    EXPECT_EQ(queue.Statuses().Get(worst), CheckState::Edited);
    EXPECT_LT(queue.Ranking()->Score(worst), 10.0);
    EXPECT_EQ(project.m_editor.UndoName(), "Set To Surface");
    EXPECT_EQ(project.Undo(), "Set To Surface");
    EXPECT_EQ(+project.m_points.GetPoint(worst)->z, z);
    EXPECT_EQ(project.Redo(), "Set To Surface");
    // Next moves on: the fixed point stays edited.
    EXPECT_NE(project.NextSuspect(), worst);
    EXPECT_EQ(queue.Statuses().Get(worst), CheckState::Edited);

    // A save writes the statuses beside the points; Save As beside the new file.
    ASSERT_EQ(project.Save(pts), kSaved);
    ASSERT_EQ(project.SaveCheckStatuses(pts), 1);
    EXPECT_TRUE(std::filesystem::exists(pts + ".check.csv"));
    const std::string other = dir / "other.pts";
    ASSERT_EQ(project.Save(other), kSaved);
    ASSERT_EQ(project.SaveCheckStatuses(other), 1);
    EXPECT_NE(Slurp(other + ".check.csv").find(std::to_string(worst) + ",edited"),
              std::string::npos);
    const int checked = queue.Statuses().CountOf(CheckState::Checked);
    const int edited = queue.Statuses().CountOf(CheckState::Edited);
    EXPECT_EQ(edited, 1);

    // A new load reads them back.
    ASSERT_TRUE(project.Load(DemoProjectPaths(pts)).Loaded());
    EXPECT_EQ(queue.Statuses().CountOf(CheckState::Checked), checked);
    EXPECT_EQ(queue.Statuses().CountOf(CheckState::Edited), edited);
    // A sidecar of another state of the points file is ignored (-2).
    std::filesystem::copy_file(original, pts, std::filesystem::copy_options::overwrite_existing);
    const ProjectLoadResult reloaded = project.Load(DemoProjectPaths(pts));
    ASSERT_TRUE(reloaded.Loaded());
    EXPECT_EQ(reloaded.statuses, -2);
    EXPECT_EQ(queue.Statuses().CountOf(CheckState::Edited), 0);

    // Statuses changed just before another load are written first.
    ASSERT_GE(project.NextSuspect(), 0);
    ASSERT_GE(project.AcceptSuspect(), 0);  // accepted: checked
    ASSERT_TRUE(project.Load(DemoProjectPaths(pts)).Loaded());
    EXPECT_EQ(queue.Statuses().CountOf(CheckState::Checked), 1);
}

// The operator says what a suspect is: walking through the queue (n, p)
// leaves every status as it was, k accepts the current one as checked, an
// edit of a visited one makes it edited; p goes back through the session's
// visits (the fixed one too) and n goes on past what was accepted or fixed.
TEST(ProjectChecks, VisitingChangesNothingAcceptingAndEditingDoAndBackReachesAFixedPoint) {
    platformtest::TempDir dir("orvane_review");
    const std::string pts = dir / "points.pts";
    std::filesystem::copy_file(DemoProjectPaths({}).matchedPoints, pts);
    CProject project;
    ASSERT_TRUE(project.Load(DemoProjectPaths(pts)).Loaded());
    CCheckQueue& queue = project.m_checks;
    auto reviewed = [&] {
        return queue.Statuses().CountOf(CheckState::Checked) +
               queue.Statuses().CountOf(CheckState::Edited);
    };
    std::vector<int> order;
    ASSERT_GE(queue.Rank(), 0);
    queue.Ranking()->Worst(8, 0.0, order);
    ASSERT_EQ(order.size(), 8u);

    // n, n, n, p, p, n: the first three in rank order, back twice, and on
    // from where the walk had reached; nothing marked.
    EXPECT_EQ(project.NextSuspect(), order[0]);
    EXPECT_EQ(project.NextSuspect(), order[1]);
    EXPECT_EQ(project.NextSuspect(), order[2]);
    EXPECT_EQ(project.PreviousSuspect(), order[1]);
    EXPECT_EQ(project.PreviousSuspect(), order[0]);
    EXPECT_EQ(project.PreviousSuspect(), -1);
    EXPECT_EQ(reviewed(), 0);

    // k accepts the current one; an edit of a visited one makes it edited.
    Recorder events;
    project.SetEventSink(&events);
    EXPECT_EQ(project.AcceptSuspect(), order[0]);
    EXPECT_TRUE(events.Saw(ProjectChange::ChecksChanged));
    EXPECT_EQ(queue.Statuses().Get(order[0]), CheckState::Checked);
    ASSERT_TRUE(project.SelectSuspect(order[1]));
    ASSERT_GE(project.m_editor.RaiseSelection(0.05, false), 0);
    EXPECT_EQ(queue.Statuses().Get(order[1]), CheckState::Edited);
    EXPECT_EQ(reviewed(), 2);
    project.SetEventSink(nullptr);

    // n goes on past the walk's furthest point; p comes back through the
    // visits to the fixed point, which stays edited.
    EXPECT_EQ(project.NextSuspect(), order[3]);
    EXPECT_EQ(project.PreviousSuspect(), order[2]);
    EXPECT_EQ(project.PreviousSuspect(), order[1]);
    EXPECT_EQ(queue.Current(), order[1]);
    EXPECT_EQ(queue.Statuses().Get(order[1]), CheckState::Edited);
    EXPECT_EQ(queue.Statuses().Get(order[2]), CheckState::Unchecked);
    EXPECT_EQ(queue.Statuses().Get(order[3]), CheckState::Unchecked);
    EXPECT_EQ(queue.ReviewedCount(order), 2);

    // A new walk over the same statuses skips the two reviewed ones.
    queue.SetCurrent(order[0]);
    EXPECT_EQ(project.NextSuspect(), order[2]);
}

}  // namespace

// Match Z on a selection of planted blunders and ordinary points: one step,
// the matched points released (weight rule), the others the new selection;
// undo puts every record and the selection back. Keeping X and Y, neither
// Match Z nor Set To Surface moves a point sideways.
TEST(ProjectMatch, MatchZIsOneStepAndLeavesTheUnmatchedSelected) {
    const demo::DemoResult& d = demo::SmallProject();
    CProject project;
    ASSERT_TRUE(project.Load(DemoProjectPaths({})).Loaded());
    std::vector<int> selection;
    for (int64_t b : d.blunders) selection.push_back(static_cast<int>(b));
    for (int i = 0; i < 3000; i += 13) selection.push_back(i);
    project.m_editor.SetSelection(selection);
    selection = project.m_editor.SelectionIndices();  // in selection order, as Match Z reports
    std::vector<TINPoint> before;
    for (int i : selection) before.push_back(*project.m_points.GetPoint(i));

    int total = 0;
    std::vector<MatchResult> results;
    const int matched = project.MatchSelection(&total, &results);
    ASSERT_EQ(total, static_cast<int>(selection.size()));
    ASSERT_GT(matched, total / 2);
    ASSERT_LT(matched, total);
    EXPECT_EQ(project.m_editor.UndoName(), "Match Z");
    EXPECT_FALSE(project.m_bZEdited);
    std::vector<int> unmatched;
    for (size_t k = 0; k < results.size(); ++k) {
        const MatchResult& r = results[k];
        const TINPoint& p = *project.m_points.GetPoint(selection[k]);
        ASSERT_EQ(r.index, selection[k]);
        if (r.status != MatchStatus::Matched) {
            unmatched.push_back(r.index);
            EXPECT_EQ(std::memcmp(&p, &before[k], sizeof p), 0) << r.index;
            continue;
        }
        EXPECT_TRUE(p.x == r.x && p.y == r.y && p.z == r.z) << r.index;
        EXPECT_GE(+p.weight, 0.95);
    }
    EXPECT_EQ(project.m_editor.SelectionIndices(), unmatched);

    EXPECT_EQ(project.Undo(), "Match Z");
    for (size_t k = 0; k < selection.size(); ++k) {
        EXPECT_EQ(
            std::memcmp(project.m_points.GetPoint(selection[k]), &before[k], sizeof before[k]), 0)
            << selection[k];
    }
    EXPECT_EQ(project.m_editor.SelectionIndices(), selection);

    // Height fixes keep X and Y.
    project.m_bFixesKeepXY = true;
    ASSERT_GT(project.MatchSelection(&total, &results), 0);
    project.m_editor.SetSelection(selection);
    ASSERT_GT(project.SetSelectionToSurface(), 0);
    for (size_t k = 0; k < selection.size(); ++k) {
        const TINPoint& p = *project.m_points.GetPoint(selection[k]);
        EXPECT_TRUE(p.x == before[k].x && p.y == before[k].y) << selection[k];
    }
}
