// The check queue in the running application: n goes to the worst suspect
// with the mark on it and a ring around it in both eyes, f puts it on the
// surface as one undoable step, the dock lists and chooses suspects, and the
// statuses survive closing in their sidecar.
#include <QDoubleSpinBox>
#include <QTableView>
#include <QTest>

#include "Orvane/CheckQueueDock.h"
#include "Orvane/OverviewDock.h"
#include "testing/OrvaneTestSupport.h"

using namespace orvane_test;

TEST(CheckQueueGui, NextFixUndoDockAndSidecar) {
    AppHarness h;
    QTemporaryDir dir;
    const std::string pts = dir.path().toStdString() + "/points.pts";
    ASSERT_EQ(h.LoadWithPointsCopy(pts), 1);
    COrvaneView* v = h.view;
    CCheckQueue& queue = h.doc->m_checks;

    // n: the worst suspect, selected, with the floating mark on it.
    v->OnChar('n', 1, 0);
    const int worst = queue.Current();
    ASSERT_GE(worst, 0);
    std::vector<int> top;
    queue.Ranking()->Worst(1, 0.0, top);
    EXPECT_EQ(worst, top[0]);
    ASSERT_EQ(h.doc->m_leftPhoto.m_selection.size(), 1u);
    EXPECT_EQ(+h.doc->m_leftPhoto.m_selection[0].id, worst);
    const TINPoint l = *h.doc->m_leftPhoto.m_pImagePoints->GetPoint(worst);
    const TINPoint r = *h.doc->m_rightPhoto.m_pImagePoints->GetPoint(worst);
    const CPoint s = v->GetScrollPosition();
    const int H = v->GetClientRect().Height();
    EXPECT_EQ(v->m_ptMark.x, static_cast<int>(std::floor(l.x)) - s.x);
    EXPECT_EQ(H - v->m_ptMark.y, static_cast<int>(std::floor(l.y)) - s.y);
    EXPECT_EQ(v->m_ptMark.x + v->m_nParallax,
              static_cast<int>(std::floor(r.x)) + v->m_nXOffset - s.x);
    // A ring in the suspect colour around it in the left eye.
    h.Draw();
    const int radius = v->m_nPointSize + 7;
    const int gx = static_cast<int>(std::floor(l.x)) - s.x;
    const int gy = H - 1 - (static_cast<int>(std::floor(l.y)) - s.y);
    int ring = 0;
    for (int dy = -radius - 1; dy <= radius + 1; ++dy)
        for (int dx = -radius - 1; dx <= radius + 1; ++dx)
            ring += h.Pixel(GL_FRONT_LEFT, gx + dx, gy + dy) ==
                    std::array<int, 3>{v->m_rgbSuspect.r, v->m_rgbSuspect.g, v->m_rgbSuspect.b};
    EXPECT_GT(ring, 2 * radius);

    // f: onto the surface, along the left ray (its left position stays), one step.
    const double z = h.doc->m_points.GetPoint(worst)->z;
    v->OnChar('f', 1, 0);
    // On the surface of its neighbours where the ray took it.
    const TINPoint fixed = *h.doc->m_points.GetPoint(worst);
    const SurfaceEstimate there = queue.Ranking()->SurfaceAt(fixed.x, fixed.y, worst);
    EXPECT_NEAR(fixed.z, there.height, 0.05);
    EXPECT_NEAR(h.doc->m_leftPhoto.m_pImagePoints->GetPoint(worst)->x, l.x, 1e-6);
    EXPECT_EQ(queue.Statuses().Get(worst), CheckState::Edited);
    EXPECT_LT(queue.Ranking()->Score(worst), 10.0);
    EXPECT_EQ(h.doc->m_editor.UndoName(), "Set To Surface");
    h.doc->OnEditUndo();
    EXPECT_EQ(+h.doc->m_points.GetPoint(worst)->z, z);
    h.doc->OnEditRedo();
    // n moves on: the fixed point stays edited, the next becomes current.
    v->OnChar('n', 1, 0);
    EXPECT_NE(queue.Current(), worst);
    EXPECT_EQ(queue.Statuses().Get(worst), CheckState::Edited);

    // The dock lists the suspects; a double click goes to one.
    h.frame->FindAction(32791)->trigger();
    CCheckQueueDock* dock = h.frame->CheckQueueDock();
    ASSERT_TRUE(WaitFor([&] { return dock->isVisible(); }));
    // With the overview open, its dots follow the dock's threshold.
    h.frame->FindAction(32790)->trigger();
    const size_t dotsAt20 = h.frame->GetOverviewDock()->GetOverview()->GetMarkedPositions().size();
    dock->Threshold()->setValue(0.0);
    WaitFor([&] { return dock->Model()->rowCount() > 3; });
    EXPECT_GT(h.frame->GetOverviewDock()->GetOverview()->GetMarkedPositions().size(), dotsAt20);
    ASSERT_GT(dock->Model()->rowCount(), 3);
    const int third = dock->Model()->RecordAt(2);
    const QRect cell = dock->Table()->visualRect(dock->Model()->index(2, 1));
    QTest::mouseClick(dock->Table()->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(dock->Table()->viewport(), Qt::LeftButton, {}, cell.center());
    EXPECT_EQ(queue.Current(), third);
    EXPECT_EQ(+h.doc->m_leftPhoto.m_selection[0].id, third);
    // (Escape in a dock gives the keys back to the stereo view: every dock
    // goes through CMainFrame::AddDock, tested with real X input.)

    // A save writes the statuses beside the points; a new load reads them back.
    ASSERT_TRUE(h.doc->OnSaveDocument(QString::fromStdString(pts)));
    const std::string sidecar = pts + ".check.csv";
    ASSERT_TRUE(QFile::exists(QString::fromStdString(sidecar)));
    // Save As: the statuses go beside the new file (its name is the
    // document's only after the save).
    const std::string other = dir.path().toStdString() + "/other.pts";
    ASSERT_TRUE(h.doc->OnSaveDocument(QString::fromStdString(other)));
    EXPECT_NE(ReadAll(other + ".check.csv").find(std::to_string(worst) + ",edited"),
              std::string::npos);
    const int checked = queue.Statuses().CountOf(CheckState::Checked);
    const int edited = queue.Statuses().CountOf(CheckState::Edited);
    ProjectPaths paths = DemoPaths();
    paths.matchedPoints = pts;
    ASSERT_EQ(h.Load(paths), 1);
    EXPECT_EQ(queue.Statuses().CountOf(CheckState::Checked), checked);
    EXPECT_EQ(queue.Statuses().CountOf(CheckState::Edited), edited);
    // A sidecar of another state of the points file is ignored, with a message.
    CopyFile(SmallDemo().pointsFile, pts);
    ASSERT_EQ(h.Load(paths), 1);
    EXPECT_EQ(queue.Statuses().CountOf(CheckState::Edited), 0);
    EXPECT_TRUE(h.frame->GetStatusBar()->GetShownMessage().contains("another version"));
}
