// Scrolling view: scroll position, client-to-logical conversion and input codes;
// the wait cursor.
#include "Framework/ScrollView.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QTest>
#include <QWheelEvent>
#include <array>

#include "Framework/WaitCursor.h"
#include "testing/FrameworkTestViews.h"

namespace {

TEST(ScrollViewTest, ScrollPositionIsLimitedAndAddedToClientPoints) {
    RecordingView view;
    view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.resize(300, 200);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    view.SetScrollSizes(CSize(1000, 500));
    EXPECT_EQ(CRect(0, 0, 300, 200), view.GetClientRect());
    view.ScrollToPosition(CPoint(-40, 50));
    EXPECT_EQ(CPoint(0, 50), view.GetScrollPosition());
    view.ScrollToPosition(CPoint(5000, 5000));
    EXPECT_EQ(CPoint(700, 300), view.GetScrollPosition());
    EXPECT_EQ(CPoint(710, 320), view.DPtoLP(CPoint(10, 20)));
    CRect r = view.DPtoLP(CRect(1, 2, 3, 4));
    EXPECT_EQ(CRect(701, 302, 703, 304), r);
}

TEST(ScrollViewTest, KeysBecomeVirtualKeysAndCaseSensitiveCharacters) {
    RecordingView view;
    QKeyEvent upper(QEvent::KeyPress, Qt::Key_X, Qt::ShiftModifier, "X");
    QKeyEvent lower(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, "x");
    QKeyEvent right(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier);
    QApplication::sendEvent(&view, &upper);
    QApplication::sendEvent(&view, &lower);
    QApplication::sendEvent(&view, &right);
    EXPECT_EQ((std::vector<unsigned int>{'X', 'X', VK_RIGHT}), view.m_keys);
    EXPECT_EQ((std::vector<unsigned int>{1, 1, 1}), view.m_repeats);
    EXPECT_EQ((std::vector<unsigned int>{'X', 'x'}), view.m_chars);
    EXPECT_EQ(VK_LEFT, CScrollView::VirtualKey(Qt::Key_Left));
    EXPECT_EQ(VK_UP, CScrollView::VirtualKey(Qt::Key_Up));
    EXPECT_EQ(VK_DOWN, CScrollView::VirtualKey(Qt::Key_Down));
    EXPECT_EQ(VK_F1 + 5, CScrollView::VirtualKey(Qt::Key_F6));
}

TEST(ScrollViewTest, MouseFlagsAndWheel) {
    EXPECT_EQ(MK_LBUTTON, CScrollView::MouseFlags(Qt::LeftButton, Qt::NoModifier));
    EXPECT_EQ(MK_LBUTTON | MK_RBUTTON | MK_SHIFT,
              CScrollView::MouseFlags(Qt::LeftButton | Qt::RightButton, Qt::ShiftModifier));
    EXPECT_EQ(MK_CONTROL, CScrollView::MouseFlags(Qt::NoButton, Qt::ControlModifier));
    RecordingView view;
    view.resize(200, 100);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    QWheelEvent wheel(QPointF(12, 34), view.viewport()->mapToGlobal(QPointF(12, 34)), QPoint(),
                      QPoint(0, -120), Qt::NoButton, Qt::ShiftModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view.viewport(), &wheel);
    ASSERT_EQ(1u, view.m_wheel.size());
    EXPECT_EQ((std::array<int, 4>{static_cast<int>(MK_SHIFT), -120, 12, 34}), view.m_wheel[0]);
}

TEST(WaitCursorTest, ShowsAndRestoresTheOverrideCursor) {
    ASSERT_EQ(nullptr, QApplication::overrideCursor());
    {
        CWaitCursor wait;
        ASSERT_NE(nullptr, QApplication::overrideCursor());
        EXPECT_EQ(Qt::WaitCursor, QApplication::overrideCursor()->shape());
    }
    EXPECT_EQ(nullptr, QApplication::overrideCursor());
}

}  // namespace
