// Keyboard focus after menus, toolbars and dialogs, and the windows the
// program starts with, driven by real X input (xdotool through the XTEST
// extension) on an X server of their own under a window manager, so that the
// server's and the window manager's focus handling take part.
#include <QMenuBar>
#include <QProcess>
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <functional>

#include "testing/XInputTestSupport.h"

using namespace orvane_test;

namespace {

class FocusTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveXDo()) GTEST_SKIP() << "xdotool missing";
        ASSERT_TRUE(h.view);
        ASSERT_EQ(h.Load(), 1);
        h.frame->move(0, 0);
        h.frame->raise();
        h.frame->activateWindow();
        ASSERT_TRUE(WaitFor([&] { return h.frame->isActiveWindow(); }));
        // A click into the view, as an operator starts.
        const CRect rc = h.view->GetClientRect();
        Click(h.view->viewport()->mapToGlobal(QPoint(rc.Width() / 3, rc.Height() / 3)),
              [&] { return ViewHasFocus(); });
    }
    // The view has the keyboard focus in the active window.
    bool ViewHasFocus() { return h.frame->isActiveWindow() && h.view->hasFocus(); }
    // Gives the window manager and the application up to a second to give the
    // focus back after a menu or dialog closed (an operator types no sooner).
    void Settle() {
        WaitFor([&] { return ViewHasFocus(); }, 1000);
    }
    QPoint MenuTitle(const QString& title) {
        QMenuBar* bar = h.frame->menuBar();
        for (QAction* a : bar->actions())
            if (a->text() == title) return bar->mapToGlobal(bar->actionGeometry(a).center());
        ADD_FAILURE() << "no menu " << title.toStdString();
        return QPoint();
    }
    // The step doubles when 'x' reaches the view.
    bool KeysReachTheView() {
        Settle();
        const double before = h.view->m_dZIncrement;
        return Key("x", [&] { return h.view->m_dZIncrement == 2 * before; });
    }
    AppHarness h;
};

}  // namespace

TEST_F(FocusTest, KeysReachTheViewAfterAClick) {
    EXPECT_TRUE(KeysReachTheView());
}

TEST_F(FocusTest, KeysReachTheViewAfterAMenuClosedByItsTitle) {
    Click(MenuTitle("TIN"), [] { return !NoPopup(); });
    Click(MenuTitle("TIN"), NoPopup);
    EXPECT_TRUE(KeysReachTheView());
}

TEST_F(FocusTest, KeysReachTheViewAfterAMenuLeftWithEscape) {
    Click(MenuTitle("&File"), [] { return !NoPopup(); });
    EXPECT_TRUE(Key("Escape", NoPopup));
    // The second Escape leaves the menu bar: nothing to wait for but the key.
    EXPECT_TRUE(Key("Escape", [] { return true; }));
    EXPECT_TRUE(KeysReachTheView());
    // The arrows too.
    const int offset = h.view->m_nXOffset;
    Key("Right", [&] { return h.view->m_nXOffset != offset; });
    EXPECT_EQ(h.view->m_nXOffset, offset + 5);
}

TEST_F(FocusTest, KeysReachTheViewAfterAToolbarDialog) {
    // The About box runs its own loop: it is answered with a real Return from
    // there, once it is the active window.
    EXPECT_TRUE(AboutBoxOpenedAndClosed(h.frame));
    EXPECT_FALSE(QApplication::activeModalWidget());
    EXPECT_TRUE(KeysReachTheView());
}

// The program as it starts from the command line: a maximised main window
// whose first document window is maximised too (the title then shows the
// document once, in brackets).
TEST(StartUp, MainWindowAndFirstDocumentWindowOpenMaximised) {
    if (!HaveXDo()) GTEST_SKIP() << "xdotool missing";
    QProcess program;
    program.start(QStringLiteral(ORVANE_PROGRAM), {});
    ASSERT_TRUE(program.waitForStarted());
    // The program's own shown window (windows of this test process, and the
    // program's hidden ones, may carry the same title), looked up again each
    // time: the window manager maximises after mapping, the program names its
    // document after the window shows, and a top-level window may be made
    // anew on the way. Read until all is there (5 s at most).
    QString window, props;
    for (int tries = 0; tries < 100; ++tries) {
        QProcess search;
        search.start("xdotool", {"search", "--onlyvisible", "--pid",
                                 QString::number(program.processId()), "--name", "^Orvane"});
        search.waitForFinished();
        window = QString::fromLatin1(search.readAllStandardOutput()).split('\n').value(0).trimmed();
        if (!window.isEmpty()) {
            QProcess prop;
            prop.start("xprop", {"-id", window, "_NET_WM_STATE", "WM_NAME"});
            prop.waitForFinished();
            props = QString::fromLatin1(prop.readAllStandardOutput());
            if (props.contains("_NET_WM_STATE_MAXIMIZED_VERT") &&
                props.contains("_NET_WM_STATE_MAXIMIZED_HORZ") &&
                props.contains("\"Orvane - [Orvane1]\""))
                break;
        }
        QThread::msleep(50);
    }
    EXPECT_FALSE(window.isEmpty());
    program.terminate();
    program.waitForFinished(3000);
    EXPECT_TRUE(props.contains("_NET_WM_STATE_MAXIMIZED_VERT")) << props.toStdString();
    EXPECT_TRUE(props.contains("_NET_WM_STATE_MAXIMIZED_HORZ")) << props.toStdString();
    EXPECT_TRUE(props.contains("\"Orvane - [Orvane1]\"")) << props.toStdString();
}
