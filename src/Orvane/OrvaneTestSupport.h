// Shared by the application's tests: a generated demo project (made once per
// test program) and a running application with its main frame, document and
// editing view on the X server.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMdiSubWindow>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <memory>
#include <string>

#include "DemoProject.h"
#include "Framework/MDIFrame.h"
#include "Framework/StatusBar.h"
#include "Orvane/MainFrm.h"
#include "Orvane/Orvane.h"
#include "Orvane/OrvaneDoc.h"
#include "Orvane/OrvaneView.h"
#include "Platform/Platform.h"

// Fields of the packed point record are compared as values (+p->x): gtest
// takes its arguments by reference, and a reference to a packed double is
// misaligned.

namespace orvane_test {

// A small generated project (900 x 900 pixels per image, a few thousand points).
inline const demo::DemoResult& SmallDemo() {
    static std::unique_ptr<QTemporaryDir> dir;
    static demo::DemoResult result;
    if (!dir) {
        dir = std::make_unique<QTemporaryDir>();
        demo::DemoOptions options;
        options.outDir = dir->path().toStdString();
        options.cols = 900;
        options.rows = 900;
        options.points = 3000;
        options.threads = 2;
        std::string error;
        if (demo::MakeDemoProject(options, result, error) != 1)
            ADD_FAILURE() << "demo project: " << error;
    }
    return result;
}

// The same kind of project with points dense enough (about one per 8 pixels of
// the overlap) that a view shows tens of thousands of them.
inline const demo::DemoResult& DenseDemo() {
    static std::unique_ptr<QTemporaryDir> dir;
    static demo::DemoResult result;
    if (!dir) {
        dir = std::make_unique<QTemporaryDir>();
        demo::DemoOptions options;
        options.outDir = dir->path().toStdString();
        options.cols = 900;
        options.rows = 900;
        options.points = 60000;
        options.threads = 2;
        std::string error;
        if (demo::MakeDemoProject(options, result, error) != 1)
            ADD_FAILURE() << "demo project: " << error;
    }
    return result;
}

inline ProjectPaths DemoPaths() {
    const demo::DemoResult& d = SmallDemo();
    return ProjectPaths{d.leftImage, d.rightImage, d.leftOrientation, d.rightOrientation,
                        d.pointsFile};
}

inline void ProcessEvents(int ms = 50) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 10);
}

// The application as the program starts it, with the view's child frame
// maximised in a 760 x 640 main window.
class AppHarness {
public:
    AppHarness() {
        QStandardPaths::setTestModeEnabled(true);
        // Recent files go to a settings folder of the test run, not the user's.
        static QTemporaryDir settings;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
        app = std::make_unique<COrvaneApp>();
        if (!app->InitInstance(QStringList())) {
            ADD_FAILURE() << "InitInstance failed";
            return;
        }
        frame = app->GetMainFrame();
        frame->resize(760, 640);
        if (QMdiSubWindow* sub = frame->GetMDIArea()->activeSubWindow()) sub->showMaximized();
        ProcessEvents(200);
        view = dynamic_cast<COrvaneView*>(frame->GetActiveView());
        doc = view ? view->GetDocument() : nullptr;
    }
    ~AppHarness() {
        if (doc) doc->SetModifiedFlag(false);
        if (frame) frame->close();
        ProcessEvents(50);
        app.reset();
    }
    int Load(const ProjectPaths& paths = DemoPaths()) {
        view->m_strLeftImage = paths.leftImage;
        view->m_strRightImage = paths.rightImage;
        view->m_strLeftOrientation = paths.leftOrientation;
        view->m_strRightOrientation = paths.rightOrientation;
        view->m_strMatchedPoints = paths.matchedPoints;
        return doc->LoadProjectFiles(paths, view);
    }
    void Draw() {
        view->RedrawNow();
        ProcessEvents(20);
    }
    // RGB of one pixel of a buffer, GL window coordinates.
    std::array<int, 3> Pixel(GLenum buffer, int x, int y) {
        std::vector<unsigned char> p = view->ReadBufferPixels(buffer, x, y, 1, 1);
        if (p.size() < 3) return {-1, -1, -1};
        return {p[0], p[1], p[2]};
    }

    std::unique_ptr<COrvaneApp> app;
    CMainFrame* frame = nullptr;
    COrvaneView* view = nullptr;
    COrvaneDoc* doc = nullptr;
};

}  // namespace orvane_test
