// Real X input for the tests in *_xtest.cpp: xdotool drives the pointer and
// the keyboard through the XTEST extension, so that the X server and the
// window manager (scripts/with-window-manager) take part as on a desktop.
// After each action the tests process events until what the action should
// bring about is there (WaitFor), never for a fixed time.
#pragma once

#include <QApplication>
#include <QProcess>
#include <QStringList>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <functional>

#include "testing/OrvaneTestSupport.h"

namespace orvane_test {

inline bool XDo(const QStringList& args) {
    return QProcess::execute(QStringLiteral("xdotool"), args) == 0;
}

inline bool HaveXDo() {
    return QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("version")}) == 0;
}

// A left click at a global position, then events until `done` holds (ten
// seconds at most: a loaded machine can be slow to deliver).
inline void Click(QPoint global, const std::function<bool()>& done) {
    ASSERT_TRUE(
        XDo({"mousemove", QString::number(global.x()), QString::number(global.y()), "click", "1"}));
    EXPECT_TRUE(WaitFor(done, 10000));
}

// A key by its X name ("x", "Escape", "ctrl+z"), then events until `done`
// holds (ten seconds at most); false when it does not.
inline bool Key(const QString& key, const std::function<bool()>& done) {
    return XDo({"key", key}) && WaitFor(done, 10000);
}

inline bool NoPopup() {
    return QApplication::activePopupWidget() == nullptr;
}

// The About box opened from its toolbar button with a real click and answered
// with a real Return once it is the active window; true when it showed and
// has gone.
inline bool AboutBoxOpenedAndClosed(CMainFrame* frame) {
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

}  // namespace orvane_test
