// The window's shortcuts and menu keys after a dialog has closed and after a
// click into the view, driven by real X input (xdotool) on an X server of its
// own. CTest runs this suite under openbox, under twm and on a bare X server
// with no window manager (ORVANE_WINDOW_MANAGER of scripts/with-window-manager):
// without a window manager only the program itself gives the X input focus
// back to its main window.
#include <QMenu>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include "testing/XInputTestSupport.h"

using namespace orvane_test;

namespace {

// The About box opened from its toolbar button with a real click and answered
// with a real Return once it is the active window; true when it showed and
// has gone.
bool AboutBoxOpenedAndClosed(CMainFrame* frame) {
    QToolButton* about = nullptr;
    for (QAction* a : frame->m_wndToolBar->actions())
        if (a->data().toInt() == ID_APP_ABOUT)
            about = qobject_cast<QToolButton*>(frame->m_wndToolBar->widgetForAction(a));
    if (!about) return false;
    bool shown = false;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* box = QApplication::activeModalWidget();
        if (!box || !box->isActiveWindow()) return;
        poll.stop();
        shown = true;
        XDo({"key", "Return"});
    });
    poll.start();
    // A window manager may still be placing the window when the first click
    // comes (it then lands beside the button): clicked again while no box opened.
    for (int attempt = 0; attempt < 3 && !shown && !QApplication::activeModalWidget(); ++attempt) {
        const QPoint at = about->mapToGlobal(about->rect().center());
        XDo({"mousemove", QString::number(at.x()), QString::number(at.y()), "click", "1"});
        WaitFor([&] { return shown || QApplication::activeModalWidget(); }, 3000);
    }
    if (WaitFor([&] { return shown && !QApplication::activeModalWidget(); }, 15000)) return true;
    QWidget* box = QApplication::activeModalWidget();
    ADD_FAILURE() << "About box: answered " << shown << ", open " << (box != nullptr) << ", active "
                  << (box && box->isActiveWindow()) << ", main window active "
                  << frame->isActiveWindow();
    return false;
}

}  // namespace

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
