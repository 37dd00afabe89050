// The project reports every kind of change through its events, whoever
// makes it: an edit through the editor, a selection, an undo across a save,
// a step through the check queue, a load.
#include "Project/Project.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "DemoTestSupport.h"
#include "Platform/PlatformTestSupport.h"

namespace {

struct Recorder : IProjectEvents {
    std::vector<ProjectEvent> events;
    std::vector<std::vector<int>> records;  // copies: the event's list lives only during the call
    void OnProjectEvent(const ProjectEvent& e) override {
        events.push_back(e);
        records.push_back(e.records ? *e.records : std::vector<int>{});
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

ProjectPaths DemoProjectPaths(const std::string& points) {
    demo::DemoOptions options;
    options.threads = 2;
    std::string error;
    const demo::DemoResult& d = demo::SharedDemo("small", options, &error);
    EXPECT_FALSE(d.pointsFile.empty()) << error;
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

}  // namespace
