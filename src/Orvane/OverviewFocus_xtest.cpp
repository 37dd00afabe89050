// Keyboard focus between the stereo view and a dock, driven by real X input
// (xdotool) under a window manager: a click into the overview navigates the
// view and gives the keys back to it.
#include <QAction>
#include <QProcess>

#include "Orvane/OverviewDock.h"
#include "testing/XInputTestSupport.h"

using namespace orvane_test;

TEST(OverviewFocus, AClickNavigatesAndGivesTheKeysBackToTheView) {
    if (!HaveXDo()) GTEST_SKIP() << "xdotool missing";
    AppHarness h;
    ASSERT_TRUE(h.view);
    ASSERT_EQ(h.Load(), 1);
    h.frame->move(0, 0);
    h.frame->resize(1100, 700);
    h.frame->raise();
    h.frame->activateWindow();
    h.frame->FindAction(ID_VIEW_OVERVIEW)->trigger();
    COverviewWidget* overview = h.frame->GetOverviewDock()->GetOverview();
    ASSERT_TRUE(WaitFor([&] { return overview->isVisible() && h.frame->isActiveWindow(); }));
    // Start in the view.
    const CRect rc = h.view->GetClientRect();
    Click(h.view->viewport()->mapToGlobal(QPoint(rc.Width() / 3, rc.Height() / 3)),
          [&] { return h.view->hasFocus(); });
    ASSERT_TRUE(h.view->hasFocus());

    // A click into the overview navigates and leaves the keyboard with the
    // view: keys reach it at once.
    const CPoint scroll = h.view->GetScrollPosition();
    Click(overview->mapToGlobal(overview->rect().center()),
          [&] { return h.view->hasFocus() && !(h.view->GetScrollPosition() == scroll); });
    EXPECT_FALSE(overview->hasFocus());
    EXPECT_FALSE(h.view->GetScrollPosition() == scroll);  // the click moved the view
    const double step = h.view->m_dZIncrement;
    EXPECT_TRUE(Key("x", [&] { return h.view->m_dZIncrement == 2 * step; }));
    EXPECT_EQ(h.view->m_dZIncrement, 2 * step);
}
