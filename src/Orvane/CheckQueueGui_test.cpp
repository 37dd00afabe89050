// The check queue in the running application: n goes to the worst suspect
// with the mark on it and a ring around it in both eyes, f reaches Set To
// Surface, the dock lists and chooses suspects, and a sidecar of another
// version of the points file is ignored with a message. The walk, the fix,
// its undo and the statuses' sidecar themselves: ProjectChecks in src/Project.
#include <QDoubleSpinBox>
#include <QScreen>
#include <QTableView>
#include <QTest>

#include "Orvane/CheckQueueDock.h"
#include "Orvane/OverviewDock.h"
#include "testing/OrvaneTestSupport.h"

using namespace orvane_test;

TEST(CheckQueueGui, NextFixDockAndSidecarMessage) {
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

    // f: Set To Surface, one step.
    v->OnChar('f', 1, 0);
    EXPECT_EQ(queue.Statuses().Get(worst), CheckState::Edited);
    EXPECT_EQ(h.doc->m_editor.UndoName(), "Set To Surface");
    // n moves on: the fixed point stays edited, the next becomes current
    // and stays unchecked (visiting says nothing about a point).
    v->OnChar('n', 1, 0);
    EXPECT_NE(queue.Current(), worst);
    EXPECT_EQ(queue.Statuses().Get(worst), CheckState::Edited);
    EXPECT_EQ(queue.Statuses().Get(queue.Current()), CheckState::Unchecked);

    // The dock lists the suspects; one click goes to one.
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
    EXPECT_EQ(queue.Current(), third);
    EXPECT_EQ(+h.doc->m_leftPhoto.m_selection[0].id, third);
    // The status comes right after the rank; the title counts the reviewed
    // suspects: the fixed one, then one more accepted with k.
    EXPECT_EQ(dock->Model()->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), "Status");
    const int above = static_cast<int>(queue.Suspects(0.0, false).size());
    EXPECT_EQ(dock->windowTitle(), QStringLiteral("Check Queue: 1 of %1 reviewed").arg(above));
    v->OnChar('k', 1, 0);
    EXPECT_EQ(queue.Statuses().Get(third), CheckState::Checked);
    EXPECT_EQ(dock->windowTitle(), QStringLiteral("Check Queue: 2 of %1 reviewed").arg(above));
    // (Escape in a dock gives the keys back to the stereo view: every dock
    // goes through CMainFrame::AddDock, tested with real X input.)

    ASSERT_TRUE(h.doc->OnSaveDocument(QString::fromStdString(pts)));
    ProjectPaths paths = DemoPaths();
    paths.matchedPoints = pts;
    // A sidecar of another state of the points file is ignored, with a message.
    CopyFile(SmallDemo().pointsFile, pts);
    ASSERT_EQ(h.Load(paths), 1);
    EXPECT_EQ(queue.Statuses().CountOf(CheckState::Edited), 0);
    EXPECT_TRUE(h.frame->GetStatusBar()->GetShownMessage().contains("another version"));
}

// After n in a maximised main window the suspect is at the centre of the
// view, wherever it lies in the photograph, and the right image's offsets
// put its picture on the left one's: the pair fuses there. The arrow keys
// still move the right image by hand afterwards.
TEST(CheckQueueGui, AfterNTheSuspectIsCentredAndFusedInAMaximisedWindow) {
    AppHarness h;
    ASSERT_TRUE(h.view);
    // Maximised (on an X server without a window manager: the whole screen).
    h.frame->setGeometry(h.frame->screen()->availableGeometry());
    h.frame->showMaximized();
    ASSERT_TRUE(WaitFor([&] { return h.frame->width() > 1000 && h.view->width() > 1000; }));
    ASSERT_EQ(h.Load(), 1);
    ProcessPending();
    COrvaneView* v = h.view;
    const CRect rc = v->GetClientRect();
    ASSERT_GT(rc.Width(), 900);  // wider than the photograph: no scrolling would centre
    for (int step = 0; step < 5; ++step) {
        v->OnChar('n', 1, 0);
        const int index = h.doc->m_checks.Current();
        ASSERT_GE(index, 0);
        const TINPoint l = *h.doc->m_leftPhoto.m_pImagePoints->GetPoint(index);
        const TINPoint r = *h.doc->m_rightPhoto.m_pImagePoints->GetPoint(index);
        const CStereoFrame f = v->GetStereoFrame();
        const StereoPoint a = f.SubImageToClient(CStereoFrame::kLeft, {l.x, l.y});
        const StereoPoint b = f.SubImageToClient(CStereoFrame::kRight, {r.x, r.y});
        EXPECT_NEAR(a.x, rc.Width() / 2, 1.0) << "suspect " << index;
        EXPECT_NEAR(a.y, rc.Height() / 2, 1.0) << "suspect " << index;
        EXPECT_NEAR(a.x, b.x, 0.51) << "suspect " << index;
        EXPECT_NEAR(a.y, b.y, 0.51) << "suspect " << index;
        // The mark stands on it in both eyes.
        EXPECT_EQ(v->m_ptMark.x, static_cast<int>(std::floor(a.x)));
        EXPECT_NEAR(v->m_ptMark.x + v->m_nParallax, b.x, 1.0);
    }
    const int xOffset = v->m_nXOffset;
    v->OnKeyDown(VK_RIGHT, 1, 0);
    EXPECT_EQ(v->m_nXOffset, xOffset + 5);
}
