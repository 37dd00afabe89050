// The zoom keys as a keyboard on a desktop gives them, through the X server
// (xdotool) under a window manager: Ctrl++ however it is typed (with Shift,
// without it as Ctrl+=, on the keypad), Ctrl+-, Ctrl+0 and Ctrl+1.
#include <QAction>
#include <cmath>

#include "testing/XInputTestSupport.h"

using namespace orvane_test;

TEST(ZoomKeys, CtrlPlusMinusZeroAndOneFromTheKeyboard) {
    if (!HaveXDo()) GTEST_SKIP() << "xdotool missing";
    AppHarness h;
    ASSERT_TRUE(h.view);
    ASSERT_EQ(h.Load(), 1);
    h.frame->move(0, 0);
    h.frame->resize(1000, 700);
    h.frame->raise();
    h.frame->activateWindow();
    const CRect rc = h.view->GetClientRect();
    Click(h.view->viewport()->mapToGlobal(QPoint(rc.Width() / 3, rc.Height() / 3)),
          [&] { return h.view->hasFocus() && h.frame->isActiveWindow(); });
    ASSERT_TRUE(h.view->hasFocus());
    COrvaneView* v = h.view;
    ASSERT_EQ(v->m_dScale, 1.0);
    // Each way of typing Ctrl++ doubles the scale.
    for (const char* key : {"ctrl+plus", "ctrl+equal", "ctrl+shift+equal", "ctrl+KP_Add"}) {
        const double expected = 2.0 * v->m_dScale;
        EXPECT_TRUE(Key(QString::fromLatin1(key), [&] { return v->m_dScale == expected; }))
            << key << ": scale " << v->m_dScale;
    }
    EXPECT_EQ(v->m_dScale, 16.0);
    EXPECT_TRUE(Key("ctrl+minus", [&] { return v->m_dScale == 8.0; })) << v->m_dScale;
    EXPECT_TRUE(Key("ctrl+0", [&] { return v->m_dScale == v->FitZoom(); })) << v->m_dScale;
    EXPECT_LT(v->m_dScale, 1.0);
    EXPECT_TRUE(Key("ctrl+1", [&] { return v->m_dScale == 1.0; })) << v->m_dScale;
    // The keys reached no character binding on their way.
    EXPECT_EQ(v->m_nPointSize, 3);
    EXPECT_DOUBLE_EQ(v->m_dZIncrement, 0.03);
}
