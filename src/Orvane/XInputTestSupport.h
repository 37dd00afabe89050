// Real X input for the tests in *_xtest.cpp: xdotool drives the pointer and
// the keyboard through the XTEST extension, so that the X server and the
// window manager (scripts/with-window-manager) take part as on a desktop.
#pragma once

#include <QProcess>
#include <QStringList>

#include "OrvaneTestSupport.h"

namespace orvane_test {

inline bool XDo(const QStringList& args) {
    return QProcess::execute(QStringLiteral("xdotool"), args) == 0;
}

inline bool HaveXDo() {
    return QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("version")}) == 0;
}

// A left click at a global position, then the events it caused.
inline void Click(QPoint global) {
    ASSERT_TRUE(
        XDo({"mousemove", QString::number(global.x()), QString::number(global.y()), "click", "1"}));
    ProcessEvents(300);
}

// A key by its X name ("x", "Escape", "ctrl+z"), then the events it caused.
inline void Key(const QString& key) {
    ASSERT_TRUE(XDo({"key", key}));
    ProcessEvents(200);
}

}  // namespace orvane_test
