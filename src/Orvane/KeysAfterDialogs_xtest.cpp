// The window's shortcuts and menu keys after a dialog has closed and after a
// click into the view, driven by real X input (xdotool) on an X server of its
// own. CTest runs this suite under openbox, under twm and on a bare X server
// with no window manager (ORVANE_WINDOW_MANAGER of scripts/with-window-manager):
// without a window manager only the program itself gives the X input focus
// back to its main window.
#include <QMenu>

#include "testing/XInputTestSupport.h"

using namespace orvane_test;

TEST(KeysAfterDialogs, ShortcutsAndMenuKeysWorkAfterADialogAndAfterAClickIntoTheView) {
    if (!HaveXDo()) GTEST_SKIP() << "xdotool missing";
    AppHarness h;
    ASSERT_TRUE(h.view);
    ASSERT_EQ(h.Load(), 1);
    h.frame->move(0, 0);
    h.frame->raise();
    h.frame->activateWindow();
    ASSERT_TRUE(WaitFor([&] { return h.frame->isActiveWindow(); }));
    // An edit to undo and redo: one wheel notch on a selected point.
    h.doc->SelectPoint(7);
    const double before = h.doc->m_points.GetPoint(7)->z;
    h.view->OnMouseWheel(0, 120, CPoint());
    const double after = h.doc->m_points.GetPoint(7)->z;
    ASSERT_NE(after, before);
    h.doc->ReleaseSelection();
    auto z = [&] { return +h.doc->m_points.GetPoint(7)->z; };

    // Right after a dialog closes, with no click: Ctrl+Z undoes the notch.
    ASSERT_TRUE(AboutBoxOpenedAndClosed(h.frame));
    EXPECT_TRUE(Key("ctrl+z", [&] { return z() == before; }));
    EXPECT_EQ(z(), before);

    // Another window takes the focus (with no window manager nothing gives it
    // back): a click into the view makes the main window active again, and
    // Ctrl+Y redoes.
    QWidget other;
    other.setGeometry(1200, 700, 200, 100);
    other.show();
    other.activateWindow();
    ASSERT_TRUE(WaitFor([&] { return other.isActiveWindow() && !h.frame->isActiveWindow(); }));
    const CRect rc = h.view->GetClientRect();
    Click(h.view->viewport()->mapToGlobal(QPoint(rc.Width() / 3, rc.Height() / 3)),
          [&] { return h.frame->isActiveWindow() && h.view->hasFocus(); });
    EXPECT_TRUE(Key("ctrl+y", [&] { return z() == after; }));
    EXPECT_EQ(z(), after);

    // The menu keys: Alt+F opens the File menu; plain keys still reach the view.
    EXPECT_TRUE(Key("alt+f", [] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        return menu && menu->title() == "&File";
    }));
    EXPECT_TRUE(Key("Escape", NoPopup));
    EXPECT_TRUE(Key("Escape", [] { return true; }));  // leaves the menu bar
    const double step = h.view->m_dZIncrement;
    EXPECT_TRUE(Key("x", [&] { return h.view->m_dZIncrement == 2 * step; }));
}
