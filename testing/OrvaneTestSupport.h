// Shared by the application's tests: the generated demo projects (made once
// per test run, testing/DemoTestSupport.h) and a running application
// with its main frame, document and editing view on the X server.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMdiSubWindow>
#include <QPointer>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QWindow>
#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
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
#include "testing/DemoTestSupport.h"

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

// Grey levels (0..255) of the sample values under the min-max stretch of the
// whole band 0 of a photograph, computed here from the band itself.
inline std::array<int, 256> StretchedGreys(const CAerialPhoto& photo) {
    const unsigned char* band = photo.m_image.GetBands()[0];
    const size_t n = static_cast<size_t>(photo.m_image.GetSize().cx) * photo.m_image.GetSize().cy;
    const auto [lo, hi] = std::minmax_element(band, band + n);
    std::array<int, 256> grey{};
    for (int v = 0; v < 256; ++v)
        grey[v] = static_cast<int>(std::lround(255.0 * (v - *lo + 1) / (*hi - *lo + 1)));
    return grey;
}

// Processes events for `ms` milliseconds, whatever happens: for tests that
// need time to pass (a timed message running out).
inline void ProcessEvents(int ms = 50) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 10);
}

// Delivers the events already queued (posted events, deferred deletes, what
// the X server has sent) without waiting for more.
inline void ProcessPending() {
    for (int pass = 0; pass < 3; ++pass) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

// Processes events until `condition` holds or `timeoutMs` have passed (a guard
// against a hang, not a timing check); returns the condition.
inline bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs) return condition();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

inline bool IsExposed(const QWidget* widget) {
    return widget && widget->windowHandle() && widget->windowHandle()->isExposed();
}

// The application as the program starts it, with the view's child frame
// maximised in a 760 x 640 main window.
class AppHarness {
public:
    AppHarness() {
        // Settings go to the test program's own folder (the test main sets it).
        // The shared demo projects are read, never written: no project file
        // beside their points unless a test that works on a copy asks for it.
        COrvaneDoc::s_bWriteProjectFiles = false;
        app = std::make_unique<COrvaneApp>();
        if (!app->InitInstance(QStringList())) {
            ADD_FAILURE() << "InitInstance failed";
            return;
        }
        frame = app->GetMainFrame();
        frame->resize(760, 640);
        if (QMdiSubWindow* sub = frame->GetMDIArea()->activeSubWindow()) sub->showMaximized();
        view = dynamic_cast<COrvaneView*>(frame->GetActiveView());
        doc = view ? view->GetDocument() : nullptr;
        // Shown on the X server, the view's GL window too, and laid out.
        WaitFor([&] {
            return IsExposed(frame) && view && view->GetSurfaceWindow() &&
                   view->GetSurfaceWindow()->isExposed();
        });
        ProcessPending();
    }
    ~AppHarness() {
        if (doc) doc->SetModifiedFlag(false);
        if (frame) {
            QPointer<QWidget> closing = frame;
            frame->close();  // deletes itself (WA_DeleteOnClose)
            WaitFor([&] { return closing.isNull(); }, 2000);
        }
        app.reset();
    }
    int Load(const ProjectPaths& paths = DemoPaths()) {
        view->m_strLeftImage = paths.leftImage;
        view->m_strRightImage = paths.rightImage;
        view->m_strLeftOrientation = paths.leftOrientation;
        view->m_strRightOrientation = paths.rightOrientation;
        view->m_strMatchedPoints = paths.matchedPoints;
        return doc->LoadProject(paths);
    }
    // Loads the small demo with its points file copied to `pointsFile`, so a
    // test may save over it. 1, or the loader's result.
    int LoadWithPointsCopy(const std::string& pointsFile) {
        CopyFile(SmallDemo().pointsFile, pointsFile);
        ProjectPaths paths = DemoPaths();
        paths.matchedPoints = pointsFile;
        return Load(paths);
    }
    // Draws at once (the draw is synchronous; the buffers read back are its
    // result), then delivers what the draw queued.
    void Draw() {
        view->RedrawNow();
        ProcessPending();
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
