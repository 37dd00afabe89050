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

#include "XInputTestSupport.h"

using namespace orvane_test;

namespace {

class FocusTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveXDo()) GTEST_SKIP() << "xdotool missing";
        ProcessEvents(200);
        ASSERT_TRUE(h.view);
        ASSERT_EQ(h.Load(), 1);
        h.frame->move(0, 0);
        h.frame->raise();
        h.frame->activateWindow();
        ProcessEvents(300);
        // A click into the view, as an operator starts.
        const CRect rc = h.view->GetClientRect();
        Click(h.view->viewport()->mapToGlobal(QPoint(rc.Width() / 3, rc.Height() / 3)));
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
        const double before = h.view->m_dZIncrement;
        Key("x");
        return h.view->m_dZIncrement == 2 * before;
    }
    AppHarness h;
};

}  // namespace

TEST_F(FocusTest, KeysReachTheViewAfterAClick) {
    EXPECT_TRUE(KeysReachTheView());
}

TEST_F(FocusTest, KeysReachTheViewAfterAMenuClosedByItsTitle) {
    Click(MenuTitle("TIN"));
    Click(MenuTitle("TIN"));
    EXPECT_TRUE(KeysReachTheView());
}

TEST_F(FocusTest, KeysReachTheViewAfterAMenuLeftWithEscape) {
    Click(MenuTitle("&File"));
    Key("Escape");
    Key("Escape");
    EXPECT_TRUE(KeysReachTheView());
    // The arrows too.
    const int offset = h.view->m_nXOffset;
    Key("Right");
    EXPECT_EQ(h.view->m_nXOffset, offset + 5);
}

TEST_F(FocusTest, KeysReachTheViewAfterAToolbarDialog) {
    QToolButton* about = nullptr;
    for (QAction* a : h.frame->m_wndToolBar->actions())
        if (a->data().toInt() == 57664)
            about = qobject_cast<QToolButton*>(h.frame->m_wndToolBar->widgetForAction(a));
    ASSERT_TRUE(about);
    // The box runs its own loop: it is answered with a real Return from there.
    bool shown = false;
    QTimer::singleShot(600, [&] {
        shown = QApplication::activeModalWidget() != nullptr;
        XDo({"key", "Return"});
    });
    Click(about->mapToGlobal(about->rect().center()));
    ProcessEvents(300);
    EXPECT_TRUE(shown);
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
    QString window;
    for (int tries = 0; tries < 100 && window.isEmpty(); ++tries) {
        QProcess search;
        search.start("xdotool", {"search", "--name", "^Orvane"});
        search.waitForFinished();
        window = QString::fromLatin1(search.readAllStandardOutput()).split('\n').value(0).trimmed();
        if (window.isEmpty()) QThread::msleep(100);
    }
    ASSERT_FALSE(window.isEmpty());
    QThread::msleep(800);  // the window manager maximises after mapping
    QProcess prop;
    prop.start("xprop", {"-id", window, "_NET_WM_STATE", "WM_NAME"});
    prop.waitForFinished();
    const QString props = QString::fromLatin1(prop.readAllStandardOutput());
    program.terminate();
    program.waitForFinished(3000);
    EXPECT_TRUE(props.contains("_NET_WM_STATE_MAXIMIZED_VERT")) << props.toStdString();
    EXPECT_TRUE(props.contains("_NET_WM_STATE_MAXIMIZED_HORZ")) << props.toStdString();
    EXPECT_TRUE(props.contains("\"Orvane - [Orvane1]\"")) << props.toStdString();
}
