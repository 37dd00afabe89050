// Real X input for the tests in *_xtest.cpp: xdotool drives the pointer and
// the keyboard through the XTEST extension, so that the X server and the
// window manager (scripts/with-window-manager) take part as on a desktop.
// After each action the tests process events until what the action should
// bring about is there (WaitFor), never for a fixed time.
#pragma once

#include <QApplication>
#include <QProcess>
#include <QStringList>
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

}  // namespace orvane_test
