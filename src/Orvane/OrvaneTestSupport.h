// Shared by the application's tests: the generated demo projects (made once
// per test run, tools/makedemo/DemoTestSupport.h) and a running application
// with its main frame, document and editing view on the X server.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMdiSubWindow>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>

#include "DemoProject.h"
#include "DemoTestSupport.h"
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

// A generated project of two 900 x 900 images and `points` points: from the
// demo projects of the test run when they hold it (read-only: tests that save
// copy the points file first, see LoadWithPointsCopy), otherwise made once
// per test program.
inline const demo::DemoResult& GeneratedDemo(const std::string& name, int64_t points) {
    demo::DemoOptions options;
    options.cols = 900;
    options.rows = 900;
    options.points = points;
    options.threads = 2;
    std::string error;
    const demo::DemoResult& d = demo::SharedDemo(name, options, &error);
    if (d.pointsFile.empty()) ADD_FAILURE() << "demo project " << name << ": " << error;
    return d;
}

// A small project: a few thousand points.
inline const demo::DemoResult& SmallDemo() {
    return GeneratedDemo("small", 3000);
}

// Points dense enough (about one per 8 pixels of the overlap) that a view
// shows tens of thousands of them.
inline const demo::DemoResult& DenseDemo() {
    return GeneratedDemo("dense", 60000);
}

inline ProjectPaths DemoPaths() {
    const demo::DemoResult& d = SmallDemo();
    return ProjectPaths{d.leftImage, d.rightImage, d.leftOrientation, d.rightOrientation,
                        d.pointsFile};
}

inline std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline void CopyFile(const std::string& from, const std::string& to) {
    WriteAll(to, ReadAll(from));
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
        // Settings go to the test program's own folder (the test main sets it).
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
    // Loads the small demo with its points file copied to `pointsFile`, so a
    // test may save over it. 1, or the loader's result.
    int LoadWithPointsCopy(const std::string& pointsFile) {
        CopyFile(SmallDemo().pointsFile, pointsFile);
        ProjectPaths paths = DemoPaths();
        paths.matchedPoints = pointsFile;
        return Load(paths);
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
