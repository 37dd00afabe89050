// The check queue on a synthetic field: the walk goes worst first, visiting
// changes nothing, accepting marks checked, edits of visited points mark them
// edited, a save's renumbering keeps statuses and the current suspect with
// their records.
#include "Checking/CheckQueue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "TIN/PointsFileSave.h"
#include "testing/PlatformTestSupport.h"

namespace {

// A 40 x 40 grid of points on a gentle slope with three spikes of 3, 5 and
// 8 m; spacing 1 m, noise 1 cm.
void MakeField(CTINPoints& set, int spikes[3]) {
    std::vector<TINPoint> points;
    std::mt19937 rng(3);
    std::normal_distribution<double> noise(0.0, 0.01);
    for (int r = 0; r < 40; ++r)
        for (int c = 0; c < 40; ++c)
            points.push_back({static_cast<int>(points.size()), 1000.0 + c, 2000.0 + r,
                              100.0 + 0.05 * c + noise(rng), 0.97});
    spikes[0] = 10 * 40 + 10, spikes[1] = 20 * 40 + 25, spikes[2] = 30 * 40 + 12;
    points[static_cast<size_t>(spikes[0])].z += 3.0;
    points[static_cast<size_t>(spikes[1])].z += 5.0;
    points[static_cast<size_t>(spikes[2])].z += 8.0;
    CTINPoints made(static_cast<int>(points.size()));
    for (const TINPoint& p : points) {
        made.SetPoint(p.id, p.x, p.y, p.id);
        made.GetPoint(p.id)->z = p.z;
        made.GetPoint(p.id)->weight = p.weight;
    }
    made.m_dMinX = 1000, made.m_dMaxX = 1039, made.m_dMinY = 2000, made.m_dMaxY = 2039;
    made.SetSpacing(1.0, 1.0);
    set.Swap(made);
    set.BuildIndex(1);
}

// What a save does to the set and the queue: the deleted records dropped,
// the others renumbered in order, the queue following them.
void SaveCompacting(CTINPoints& ground, CCheckQueue& queue) {
    const std::vector<int> map = CompactionMap(ground);
    ground.Compact();
    for (int i = 0; i < ground.GetCount(); ++i) ground.GetPoint(i)->id = i;
    ground.BuildIndex(1);
    queue.PointsRenumbered(map);
}

}  // namespace

TEST(CheckQueue, WalksWorstFirstAndRecordsWhatWasDone) {
    CTINPoints ground;
    int spikes[3];
    MakeField(ground, spikes);
    CCheckQueue queue(ground);
    queue.Reset();
    EXPECT_FALSE(queue.IsRanked());
    // The walk ranks on first use and starts at the highest spike.
    EXPECT_EQ(queue.Next(), spikes[2]);
    EXPECT_TRUE(queue.IsRanked());
    EXPECT_EQ(queue.Statuses().Get(spikes[2]), CheckState::Unchecked);
    EXPECT_EQ(queue.Accept(), spikes[2]);
    EXPECT_EQ(queue.Next(), spikes[1]);
    EXPECT_EQ(queue.Statuses().Get(spikes[2]), CheckState::Checked);
    // Fixing the current suspect marks it edited; its place in the walk stays.
    ground.GetPoint(spikes[1])->z -= 5.0;
    queue.PointsChanged({spikes[1]});
    EXPECT_EQ(queue.Statuses().Get(spikes[1]), CheckState::Edited);
    EXPECT_LT(queue.Ranking()->Score(spikes[1]), 5.0);
    EXPECT_EQ(queue.Next(), spikes[0]);
    EXPECT_EQ(queue.Statuses().Get(spikes[1]), CheckState::Edited);  // not downgraded
    // Back through the visits, the fixed point included.
    EXPECT_EQ(queue.Previous(), spikes[1]);
    EXPECT_EQ(queue.Previous(), spikes[2]);
    EXPECT_EQ(queue.Previous(), -1);
    EXPECT_EQ(queue.Current(), spikes[2]);
    // An edit of a point never visited leaves it unchecked.
    const int other = 5;
    ground.GetPoint(other)->z += 0.001;
    queue.PointsChanged({other});
    EXPECT_EQ(queue.Statuses().Get(other), CheckState::Unchecked);

    // The table: suspects above a threshold, worst first; visited ones hidden on request.
    const std::vector<int> all = queue.Suspects(20.0, false);
    ASSERT_GE(all.size(), 2u);
    EXPECT_EQ(all[0], spikes[2]);
    const std::vector<int> open = queue.Suspects(20.0, true);
    for (int i : open) EXPECT_EQ(queue.Statuses().Get(i), CheckState::Unchecked);
    EXPECT_LT(open.size(), all.size());
    EXPECT_TRUE(queue.TakeStatusesChanged());
    EXPECT_FALSE(queue.TakeStatusesChanged());

    // A save drops record 0: everything moves down one and keeps its status.
    ground.GetPoint(0)->id = -1;
    SaveCompacting(ground, queue);
    EXPECT_EQ(queue.Current(), spikes[2] - 1);
    EXPECT_EQ(queue.Statuses().Get(spikes[2] - 1), CheckState::Checked);
    EXPECT_EQ(queue.Statuses().Get(spikes[1] - 1), CheckState::Edited);
    EXPECT_EQ(queue.Statuses().GetCount(), ground.GetCount());
    EXPECT_TRUE(queue.IsRanked());
}

// The sidecar only calls a point edited once its edit is in the points file:
// an edit lost with the session must leave its blunder in the queue.
TEST(CheckQueue, OnlySavedEditsAreKeptAsEdited) {
    CTINPoints ground;
    int spikes[3];
    MakeField(ground, spikes);
    CCheckQueue queue(ground);
    queue.Reset();
    queue.MarkSaved();
    ASSERT_EQ(queue.Next(), spikes[2]);
    ASSERT_EQ(queue.Accept(), spikes[2]);
    ASSERT_EQ(queue.Next(), spikes[1]);
    ground.GetPoint(spikes[1])->z -= 5.0;
    queue.PointsChanged({spikes[1]});
    ASSERT_EQ(queue.Statuses().Get(spikes[1]), CheckState::Edited);
    CCheckStatuses keep = queue.StatusesToKeep();
    EXPECT_EQ(keep.Get(spikes[1]), CheckState::Unchecked);  // not saved: still to do
    EXPECT_EQ(keep.Get(spikes[2]), CheckState::Checked);    // looking needs no save
    // A compacting save that drops record 0: the edit now lasts, renumbered.
    ground.GetPoint(0)->id = -1;
    SaveCompacting(ground, queue);
    // Until the save succeeds the sidecar stays in the file's numbering.
    keep = queue.StatusesToKeep();
    EXPECT_EQ(keep.GetCount(), ground.GetCount() + 1);
    EXPECT_EQ(keep.Get(spikes[1]), CheckState::Unchecked);
    EXPECT_EQ(keep.Get(spikes[2]), CheckState::Checked);
    queue.MarkSaved();
    keep = queue.StatusesToKeep();
    EXPECT_EQ(keep.Get(spikes[1] - 1), CheckState::Edited);
    EXPECT_EQ(keep.Get(spikes[2] - 1), CheckState::Checked);
    EXPECT_EQ(keep.GetCount(), ground.GetCount());
}

// Undoing past a save puts dropped records back between the others: the
// statuses, the current suspect and the scores follow the records.
TEST(CheckQueue, RecordsPutBackByAnUndoKeepTheirNeighboursStatuses) {
    CTINPoints ground;
    int spikes[3];
    MakeField(ground, spikes);
    const std::vector<TINPoint> all(ground.GetPoint(0), ground.GetPoint(0) + ground.GetCount());
    CCheckQueue queue(ground);
    queue.Reset();
    queue.MarkSaved();
    ASSERT_EQ(queue.Next(), spikes[2]);
    ASSERT_EQ(queue.Accept(), spikes[2]);
    ASSERT_EQ(queue.Next(), spikes[1]);
    // Saved with records 3 and 7 deleted.
    ground.GetPoint(3)->id = -1;
    ground.GetPoint(7)->id = -1;
    queue.PointsChanged({3, 7});
    SaveCompacting(ground, queue);
    queue.MarkSaved();
    // Undo: the two records come back where they were.
    std::vector<int> back;
    for (int i = 0; i < static_cast<int>(all.size()); ++i)
        if (i != 3 && i != 7) back.push_back(i);
    CTINPoints restored(static_cast<int>(all.size()));
    for (const TINPoint& p : all) {
        restored.SetPoint(p.id, p.x, p.y, p.id);
        restored.GetPoint(p.id)->z = p.z;
        restored.GetPoint(p.id)->weight = p.weight;
    }
    restored.m_dMinX = ground.m_dMinX, restored.m_dMaxX = ground.m_dMaxX;
    restored.m_dMinY = ground.m_dMinY, restored.m_dMaxY = ground.m_dMaxY;
    restored.SetSpacing(1.0, 1.0);
    ground.Swap(restored);
    ground.BuildIndex(1);
    queue.PointsRenumbered(back);
    EXPECT_EQ(queue.Current(), spikes[1]);
    EXPECT_EQ(queue.Statuses().Get(spikes[2]), CheckState::Checked);
    EXPECT_EQ(queue.Statuses().Get(3), CheckState::Unchecked);
    EXPECT_EQ(queue.Statuses().GetCount(), ground.GetCount());
    CCheckRanking fresh(ground);
    fresh.Rank();
    for (int i = 0; i < ground.GetCount(); ++i)
        ASSERT_EQ(queue.Ranking()->Score(i), fresh.Score(i)) << "record " << i;
    // The sidecar still speaks of the file as saved, without the two.
    EXPECT_EQ(queue.StatusesToKeep().GetCount(), ground.GetCount() - 2);
    EXPECT_EQ(queue.StatusesToKeep().Get(spikes[2] - 2), CheckState::Checked);
}

// Two programs with one points file, each with its queue: B deletes a point
// and saves; A, which walked its queue on the file as it loaded it, may not
// write its statuses under B's records (they would mark points one record
// off), and keeps them for its own next save. The same records re-ordered
// under the same count and bounds do not take the sidecar either; a sidecar
// of version 1 is read while count and bounds match, and written again as
// version 2.
TEST(CheckQueueSidecar, StatusesAreWrittenOnlyUnderThePointsTheyWereMadeOn) {
    platformtest::TempDir dir("check_two_queues");
    ASSERT_FALSE(dir.Path().empty());
    const std::string path = dir / "points.pts";
    const std::string sidecar = CCheckStatuses::SidecarPath(path);
    int spikes[3];
    {
        CTINPoints made;
        MakeField(made, spikes);
        ASSERT_EQ(SavePointsFile(made, path), 1);
    }
    struct Program {
        CTINPoints ground;
        CCheckQueue queue{ground};
        explicit Program(const std::string& path) {
            EXPECT_EQ(ground.ReadPts(path), 1);
            ground.BuildIndex(1);
            queue.Reset();
            PointsFileIdentity identity;
            EXPECT_GE(queue.Statuses().Load(path, &identity), 0);
            EXPECT_TRUE(identity.known);
            queue.SetPointsFileIdentity(identity);
            queue.MarkSaved();
        }
        void Save(const std::string& path) {
            SaveCompacting(ground, queue);
            ASSERT_EQ(SavePointsFile(ground, path), 1);
            queue.MarkSaved();
            PointsFileIdentity identity;
            ASSERT_EQ(ReadPointsFileIdentity(path, identity), 1);
            queue.SetPointsFileIdentity(identity);
            queue.MarkStatusesChanged();
        }
    };
    Program a(path), b(path);
    // A accepts the two worst spikes and stands on the third.
    EXPECT_EQ(a.queue.Next(), spikes[2]);
    EXPECT_EQ(a.queue.Accept(), spikes[2]);
    EXPECT_EQ(a.queue.Next(), spikes[1]);
    EXPECT_EQ(a.queue.Accept(), spikes[1]);
    EXPECT_EQ(a.queue.Next(), spikes[0]);
    // B deletes record 5 (before every spike), saves, and checks one point.
    b.ground.GetPoint(5)->id = -1;
    b.Save(path);
    EXPECT_EQ(b.queue.Next(), spikes[2] - 1);
    EXPECT_EQ(b.queue.Accept(), spikes[2] - 1);
    EXPECT_EQ(b.queue.Next(), spikes[1] - 1);
    ASSERT_EQ(b.queue.SaveStatuses(path), 1);
    const std::string written = platformtest::SlurpText(sidecar);

    EXPECT_EQ(a.queue.SaveStatuses(path), kSidecarPointsReplaced);
    EXPECT_EQ(platformtest::SlurpText(sidecar), written);
    EXPECT_EQ(a.queue.SaveStatuses(path), kSidecarPointsReplaced);  // still pending
    CCheckStatuses back;
    ASSERT_EQ(back.Load(path), 1);
    EXPECT_EQ(back.GetCount(), 1599);
    EXPECT_EQ(back.CountOf(CheckState::Checked), 1);
    EXPECT_EQ(back.Get(spikes[2] - 1), CheckState::Checked);

    // A saves its points: its statuses go with them.
    a.Save(path);
    ASSERT_EQ(a.queue.SaveStatuses(path), 1);
    ASSERT_EQ(back.Load(path), 1);
    EXPECT_EQ(back.CountOf(CheckState::Checked), 2);
    EXPECT_EQ(back.Get(spikes[2]), CheckState::Checked);
    EXPECT_EQ(back.Get(spikes[1]), CheckState::Checked);

    // Another tool writes the same records in reverse order: same count,
    // same bounds, other records at each index.
    {
        CTINPoints reversed;
        ASSERT_EQ(reversed.ReadPts(path), 1);
        std::reverse(reversed.GetPoint(0), reversed.GetPoint(0) + reversed.GetCount());
        const std::string saved = platformtest::SlurpText(sidecar);
        ASSERT_EQ(reversed.WritePts(path + ".new"), 1600);
        std::rename((path + ".new").c_str(), path.c_str());
        EXPECT_EQ(back.Load(path), -2);
        EXPECT_EQ(back.CountOf(CheckState::Unchecked), 1600);
        // A version 1 sidecar (no checksum) of that file is still read.
        std::string v1 = saved.substr(0, saved.find(" records="));
        v1.replace(v1.find("check 2"), 7, "check 1");
        platformtest::SpitText(sidecar, v1 + saved.substr(saved.find('\n')));
        ASSERT_EQ(back.Load(path), 1);
        EXPECT_EQ(back.CountOf(CheckState::Checked), 2);
        ASSERT_EQ(back.Save(path), 1);
        EXPECT_EQ(platformtest::SlurpText(sidecar).rfind("# orvane-check 2 count=1600", 0), 0u);
        EXPECT_EQ(back.Load(path), 1);
    }
}
