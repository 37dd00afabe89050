// The overview dock on the X server: its rectangle against the stereo view's
// scroll position and size, a click read back from the drawn stereo picture,
// and the worker that builds the pyramid (the event loop runs meanwhile; a
// load or a close while it runs).
#include <QAction>
#include <QDockWidget>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <numeric>

#include "Orvane/OverviewDock.h"
#include "testing/OrvaneTestSupport.h"

using namespace orvane_test;

namespace {

// Waits (running the event loop) until the document's overview is built.
bool WaitForOverview(COrvaneDoc* doc, int ms = 20000) {
    QElapsedTimer timer;
    timer.start();
    while (!doc->m_overview.IsReady() && timer.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    return doc->m_overview.IsReady();
}

// A float photograph large enough that reducing it takes a while.
void SwapInLargeLeftImage(COrvaneDoc* doc, int side = 5000) {
    // As a load does: the workers that read the photographs stop first.
    doc->CancelImageWorkers();
    LanHeader header = MakeDefaultLanHeader();
    header.packing = 6;
    header.ncols = side;
    header.nrows = side;
    std::unique_ptr<CBandArray> bands = AllocBands(1, side, side, 4);
    ASSERT_TRUE(bands);
    auto* samples = reinterpret_cast<float*>(bands->Data()[0]);
    for (int64_t i = 0; i < int64_t{side} * side; ++i) samples[i] = static_cast<float>(i % 4093);
    ASSERT_EQ(doc->m_leftPhoto.m_image.AdoptBands(header, std::move(bands)), 1);
}

class OverviewTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(h.view);
        ASSERT_EQ(h.Load(), 1);
        QAction* action = h.frame->FindAction(ID_VIEW_OVERVIEW);
        ASSERT_TRUE(action);
        ASSERT_TRUE(action->isCheckable());
        action->trigger();
        dock = h.frame->GetOverviewDock();
        ASSERT_TRUE(WaitFor([&] { return dock && dock->isVisible(); }));
        ASSERT_TRUE(action->isChecked());
        ASSERT_TRUE(dock && dock->isVisible());
        overview = dock->GetOverview();
        ASSERT_EQ(overview->GetView(), h.view);
        ASSERT_TRUE(WaitForOverview(h.doc));
        overview->repaint();
        ASSERT_TRUE(overview->HasPicture());
    }
    // The drawn overview; yellow where the view's rectangle is drawn.
    bool YellowNear(const QImage& image, QPointF p) {
        for (int dy = -2; dy <= 2; ++dy)
            for (int dx = -2; dx <= 2; ++dx) {
                const QPoint q(static_cast<int>(p.x()) + dx, static_cast<int>(p.y()) + dy);
                if (!image.rect().contains(q)) continue;
                const QRgb c = image.pixel(q);
                if (qRed(c) > 200 && qGreen(c) > 200 && qBlue(c) < 80) return true;
            }
        return false;
    }
    void ExpectRectangleOfView() {
        const CPoint s = h.view->GetScrollPosition();
        const CRect c = h.view->GetClientRect();
        WaitFor([&] { return overview->ViewRect() == QRectF(s.x, s.y, c.Width(), c.Height()); });
        EXPECT_EQ(overview->ViewRect(), QRectF(s.x, s.y, c.Width(), c.Height()));
        const QImage drawn = overview->grab().toImage();
        // Corners and edge middles of the rectangle, where they lie on the photograph.
        const QRectF r = overview->ViewRect();
        int checked = 0;
        for (QPointF p : {r.topLeft(), r.bottomRight(), QPointF(r.center().x(), r.top()),
                          QPointF(r.left(), r.center().y())}) {
            if (p.x() > 898 || p.y() > 898) continue;
            ++checked;
            EXPECT_TRUE(YellowNear(drawn, overview->ToWidget(p)))
                << "no rectangle at " << p.x() << ", " << p.y();
        }
        EXPECT_GE(checked, 2);
    }

    AppHarness h;
    COverviewDock* dock = nullptr;
    COverviewWidget* overview = nullptr;
};

}  // namespace

TEST_F(OverviewTest, RectangleFollowsScrollingAndResizing) {
    h.view->ScrollToPosition(CPoint(120, 260));
    ExpectRectangleOfView();
    const CRect before = h.view->GetClientRect();
    h.frame->resize(h.frame->width() - 180, h.frame->height() - 90);
    WaitFor([&] { return h.view->GetClientRect().Width() != before.Width(); });
    ProcessPending();
    const CRect after = h.view->GetClientRect();
    ASSERT_NE(after.Width(), before.Width());
    h.view->ScrollToPosition(CPoint(300, 40));
    ExpectRectangleOfView();
    // The photograph fills the widget's shorter side, at its own aspect.
    const QRectF image = overview->ImageRect();
    EXPECT_NEAR(image.width() / image.height(), 1.0, 0.01);
    EXPECT_NEAR(std::min(image.width(), image.height()),
                std::min(overview->width(), overview->height()) - 4.0, 1.0);
}

TEST_F(OverviewTest, ClickCentresTheViewOnThePlaceAsDrawn) {
    const CAerialPhoto& left = h.doc->m_leftPhoto;
    const unsigned char* band = left.m_image.GetBands()[0];
    const int cols = left.m_image.GetSize().cx;
    // A place away from points, clicked in the overview.
    QPointF place(470, 430);
    for (int k = 0; k < 50 && left.FindImagePoint(place.x(), place.y(), 6.0) >= 0; ++k)
        place += QPointF(3, 2);
    const QPoint at = overview->ToWidget(place).toPoint();
    const CPoint start = h.view->GetScrollPosition();
    QTest::mouseClick(overview, Qt::LeftButton, Qt::NoModifier, at);
    WaitFor([&] { return !(h.view->GetScrollPosition() == start); });
    // The clicked widget pixel, in sub-image pixels, is at the view's centre.
    const QPointF clicked = overview->ToImage(QPointF(at));
    const CRect c = h.view->GetClientRect();
    const CPoint s = h.view->GetScrollPosition();
    EXPECT_EQ(+s.x, static_cast<int>(clicked.x() - c.Width() / 2));
    EXPECT_EQ(+s.y, static_cast<int>(clicked.y() - c.Height() / 2));
    // The stereo picture shows that photograph pixel at the centre of the view.
    h.Draw();
    const int cx = static_cast<int>(clicked.x()), cy = static_cast<int>(clicked.y());
    const int sample = band[static_cast<size_t>(cy) * cols + cx];
    const int expected = static_cast<int>(std::lround(left.m_greyMap[sample] * 255.0f));
    const CPoint client(cx - s.x, cy - s.y);
    const auto px = h.Pixel(GL_FRONT_LEFT, client.x, c.Height() - 1 - client.y);
    EXPECT_EQ(px[0], px[1]);
    EXPECT_NEAR(px[0], expected, 1);
    // A drag follows the mouse.
    const QPoint to = overview->ToWidget(QPointF(450, 500)).toPoint();
    QTest::mousePress(overview, Qt::LeftButton, Qt::NoModifier, at);
    QMouseEvent move(QEvent::MouseMove, QPointF(to), overview->mapToGlobal(QPointF(to)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(overview, &move);
    QTest::mouseRelease(overview, Qt::LeftButton, Qt::NoModifier, to);
    const QPointF dragged = overview->ToImage(QPointF(to));
    EXPECT_EQ(h.view->GetScrollPosition(), CPoint(static_cast<int>(dragged.x() - c.Width() / 2),
                                                  static_cast<int>(dragged.y() - c.Height() / 2)));
    // Zoomed in, a click keeps the zoom and centres the place clicked.
    h.view->SetZoom(4.0, CPoint(c.Width() / 2, c.Height() / 2));
    QTest::mouseClick(overview, Qt::LeftButton, Qt::NoModifier, at);
    ProcessPending();
    EXPECT_EQ(h.view->m_dScale, 4.0);
    const StereoPoint centre = h.view->GetStereoFrame().ClientToSubImage(
        CStereoFrame::kLeft, {c.Width() / 2.0, c.Height() / 2.0});
    EXPECT_NEAR(centre.x, clicked.x(), 1.0);
    EXPECT_NEAR(centre.y, clicked.y(), 1.0);
}

TEST_F(OverviewTest, DensityShowsWherePointsAreAndMarkedPositionsAsDots) {
    // The shading is drawn over the points (where none lie the density is
    // zero: the core test of ComputePointDensity, src/Overview).
    const CTINPoints& l = *h.doc->m_leftPhoto.m_pImagePoints;
    TINExtent e{};
    l.GetExtent(&e);
    const QImage drawn = overview->grab().toImage();
    auto tinted = [&](QPointF subImage) {
        const QRgb c = drawn.pixel(overview->ToWidget(subImage).toPoint());
        return qBlue(c) - qRed(c) > 25;  // the points' cyan over grey
    };
    EXPECT_TRUE(tinted(QPointF((e.xmin + e.xmax) / 2, (e.ymin + e.ymax) / 2)));
    // Deleting every point (as the editing commands do) removes the shading
    // at the next look.
    std::vector<int> all(static_cast<size_t>(h.doc->m_points.GetCount()));
    std::iota(all.begin(), all.end(), 0);
    h.doc->m_editor.SetSelection(all);
    ASSERT_EQ(h.doc->m_editor.DeleteSelection(), 1);
    const QPoint centre =
        overview->ToWidget(QPointF((e.xmin + e.xmax) / 2, (e.ymin + e.ymax) / 2)).toPoint();
    QRgb middle = 0;
    WaitFor(
        [&] {
            middle = overview->grab().toImage().pixel(centre);
            return std::abs(qBlue(middle) - qRed(middle)) <= 4;
        },
        5000);
    EXPECT_LE(std::abs(qBlue(middle) - qRed(middle)), 4);
    // Marked positions.
    overview->SetMarkedPositions({QPointF(200, 700)});
    const QImage marked = overview->grab().toImage();
    const QRgb dot = marked.pixel(overview->ToWidget(QPointF(200, 700)).toPoint());
    EXPECT_GT(qRed(dot), 200);
    EXPECT_LT(qBlue(dot), 60);
}

TEST(OverviewBuild, TheEventLoopRunsWhileThePyramidIsBuilt) {
    AppHarness h;
    ASSERT_TRUE(h.view);
    ASSERT_EQ(h.Load(), 1);
    ASSERT_TRUE(WaitForOverview(h.doc));
    SwapInLargeLeftImage(h.doc);
    // Progress reaches the user-interface thread only while the worker
    // runs (a report after the end is dropped): each one is the event loop
    // running during the build, with the progress text held in the status bar.
    std::vector<int> percents;
    QString shown;
    QObject::connect(&h.doc->m_overview, &COverviewBuilder::progressChanged, [&](int p) {
        percents.push_back(p);
        if (h.doc->m_overview.IsBuilding()) shown = h.frame->GetStatusBar()->GetHeldMessage();
    });
    ASSERT_TRUE(h.doc->m_overview.Start(h.doc->m_leftPhoto.m_image));
    ASSERT_TRUE(WaitForOverview(h.doc, 60000));
    EXPECT_TRUE(shown.startsWith(QString::fromLatin1(COverviewBuilder::kProgressPrefix)))
        << shown.toStdString();
    EXPECT_GE(percents.size(), 3u);
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    // Done: the progress text is gone, the pyramid fits the overview.
    EXPECT_FALSE(h.frame->GetStatusBar()->GetHeldMessage().startsWith(
        QString::fromLatin1(COverviewBuilder::kProgressPrefix)));
    const PyramidLevel* first = h.doc->m_overview.GetPyramid().GetLevel(0);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->width, 625);
}

TEST(OverviewBuild, ALoadOrACloseWhileBuildingStopsTheWorkerFirst) {
    AppHarness h;
    ASSERT_TRUE(h.view);
    ASSERT_EQ(h.Load(), 1);
    ASSERT_TRUE(WaitForOverview(h.doc));
    // A second load replaces (and frees) the large image while it is reduced.
    SwapInLargeLeftImage(h.doc);
    ASSERT_TRUE(h.doc->m_overview.Start(h.doc->m_leftPhoto.m_image));
    ProcessEvents(5);
    ASSERT_EQ(h.Load(), 1);
    ASSERT_TRUE(WaitForOverview(h.doc));
    EXPECT_EQ(h.doc->m_overview.GetPyramid().GetColumns(), 900);
    // Closing the document while a build runs.
    SwapInLargeLeftImage(h.doc);
    ASSERT_TRUE(h.doc->m_overview.Start(h.doc->m_leftPhoto.m_image));
    ProcessEvents(5);
    EXPECT_TRUE(h.doc->m_overview.IsBuilding());
    h.doc->SetModifiedFlag(false);
    h.doc->OnFileClose();
    WaitFor([&] { return h.frame->GetMDIArea()->subWindowList().isEmpty(); });
    EXPECT_TRUE(h.frame->GetMDIArea()->subWindowList().isEmpty());
    EXPECT_EQ(h.frame->GetOverviewDock()->GetOverview()->GetView(), nullptr);
    h.doc = nullptr;
    h.view = nullptr;
}
