// The GL view hosted in the application's frames, as the operator sees it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QScreen>
#include <QTest>

#include "Framework/DocTemplate.h"
#include "Framework/MDIFrame.h"
#include "Framework/StatusBar.h"
#include "OpenGL/OpenGLDoc.h"
#include "OpenGL/OpenGLView.h"

namespace {

TEST(GLViewHosting, ViewInAChildFrameIsDrawnAndGetsTheMouse) {
    CMDIFrame frame;
    CStatusBar* bar = frame.CreateStatusBar({"", "CAP", "NUM", "SCRL"});
    auto tpl = CDocTemplate::Make<COpenGLDoc, COpenGLView>(
        "\nOrvane\nOrvane\nPoints(*.pts)\n.pts\nOrvane Document\nOrvane Document");
    tpl->SetMainFrame(&frame);
    frame.resize(900, 700);
    frame.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
    CDocument* doc = tpl->OpenDocumentFile(QString());
    ASSERT_NE(nullptr, doc);
    auto* view = static_cast<COpenGLView*>(doc->GetFirstView());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view->GetSurfaceWindow()));
    view->m_pStatusBar = bar;
    view->parentWidget()->showMaximized();
    // Maximised: the child frame fills the MDI area, its GL window shown at that size.
    QWidget* child = view->parentWidget();
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return child->size() == frame.GetMDIArea()->viewport()->size() &&
               view->GetSurfaceWindow()->isExposed();
    }));
    view->RedrawNow();
    QApplication::processEvents();

    // The base scene draws the axes from the origin (bottom-left corner), 10
    // pixels long with arrow heads: red and green pixels appear there.
    auto hasColour = [](const QImage& img, QRect area, bool red) {
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x) {
                QColor c = img.pixelColor(x, y);
                if (red ? c.red() > 200 : c.green() > 200) return true;
            }
        return false;
    };
    QImage shown = view->GrabPresentedImage();
    ASSERT_FALSE(shown.isNull());
    const QRect corner(0, shown.height() - 14, 14, 14);
    EXPECT_TRUE(hasColour(shown, corner, true));
    EXPECT_TRUE(hasColour(shown, corner, false));
    EXPECT_FALSE(hasColour(shown, QRect(100, 100, 20, 20), true));

    // What the X server shows: the frame is not black, and the axes are there.
    QWindow* surface = view->GetSurfaceWindow();
    QPoint origin = surface->mapToGlobal(QPoint(0, 0));
    QImage screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    EXPECT_TRUE(
        hasColour(screen, QRect(origin.x(), origin.y() + surface->height() - 14, 14, 14), true));
    QPoint barPos = bar->mapToGlobal(QPoint(bar->width() / 2, bar->height() / 2));
    EXPECT_NE(QColor(Qt::black), screen.pixelColor(barPos));

    // Mouse moves over the GL window reach the view's read-out.
    QTest::mouseMove(surface, QPoint(30, 40));
    QApplication::processEvents();
    EXPECT_EQ(QString("(30, 40)"), bar->GetPaneText(0));
}

}  // namespace
