// The editing view at other scales than 1:1, on the X server: the pictures at
// 1:1 stay those recorded before zooming existed (byte for byte), the zoom
// commands and keys, Ctrl+wheel, panning, picking and drawing at any scale.
#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>
#include <cmath>
#include <cstring>
#include <random>

#include "testing/OrvaneTestSupport.h"

using namespace orvane_test;

namespace {

// Pictures of the small demo at 1:1, both eyes at three scroll positions,
// recorded from the drawing as it was before the view could zoom (and again,
// with the 1:1 drawing unchanged, when the demo photographs began to average
// over each pixel). Setting
// ORVANE_RECORD_REFERENCE=1 writes them again (only ever from a drawing known
// to be right).
const QString kReferenceDir = QStringLiteral(ORVANE_SOURCE_DIR "/testing/data/view-1to1");

// The client area of one eye's back buffer as an RGB image, top row first.
QImage EyePicture(AppHarness& h, GLenum buffer) {
    const CRect rc = h.view->GetClientRect();
    const int w = rc.Width(), ht = rc.Height();
    const std::vector<unsigned char> rgb = h.view->ReadBufferPixels(buffer, 0, 0, w, ht);
    QImage image(w, ht, QImage::Format_RGB888);
    if (rgb.size() != static_cast<size_t>(3) * w * ht) return QImage();
    for (int y = 0; y < ht; ++y)
        std::memcpy(image.scanLine(ht - 1 - y), rgb.data() + static_cast<size_t>(3) * w * y,
                    static_cast<size_t>(3) * w);
    return image;
}

// The view state of the pictures: offsets that lay the right image roughly
// over the left one, a parallax, a mark, a rectangle's selection and the check
// queue's first suspect ringed.
void SetUpPictureState(AppHarness& h) {
    // A view of a fixed size, whatever the frame around it.
    h.view->setFixedSize(600, 380);
    ProcessPending();
    h.view->m_nXOffset = 35;
    h.view->m_nYOffset = -3;
    h.view->m_nParallax = 30;
    h.view->m_bOffsetChanged = true;
    h.view->m_ptMark = CPoint(140, 120);
    h.doc->ReleaseSelection();
    h.view->SelectInRect(380, 360, 470, 430);
    h.doc->NextSuspect();
}

}  // namespace

TEST(ZoomReference, OneToOnePicturesAreThoseRecordedBeforeZooming) {
    AppHarness h;
    ASSERT_TRUE(h.view);
    ASSERT_EQ(h.Load(), 1);
    SetUpPictureState(h);
    ASSERT_FALSE(h.doc->m_leftPhoto.m_selection.empty());
    ASSERT_GE(h.doc->m_checks.Current(), 0);
    ASSERT_EQ(h.view->GetClientRect().Width(), 600 - h.view->verticalScrollBar()->width());
    const bool record = qEnvironmentVariableIntValue("ORVANE_RECORD_REFERENCE") == 1;
    if (record) QDir().mkpath(kReferenceDir);
    // The top-left corner, the middle and the bottom-right end of the image
    // in a 586 x 366 view (as recorded; the scroll range now reaches past
    // the edges, which the pictures do not test).
    const CPoint positions[3] = {CPoint(0, 0), CPoint(314, 290), CPoint(314, 534)};
    for (int k = 0; k < 3; ++k) {
        h.view->ScrollToPosition(positions[k]);
        h.Draw();
        for (GLenum buffer : {GLenum(GL_BACK_LEFT), GLenum(GL_BACK_RIGHT)}) {
            const QImage now = EyePicture(h, buffer);
            ASSERT_FALSE(now.isNull());
            const QString file = QStringLiteral("%1/%2-%3.png")
                                     .arg(kReferenceDir)
                                     .arg(buffer == GL_BACK_LEFT ? "left" : "right")
                                     .arg(k);
            if (record) {
                ASSERT_TRUE(now.save(file, "PNG", 0));
                continue;
            }
            QImage ref(file);
            ASSERT_FALSE(ref.isNull()) << file.toStdString();
            ref = ref.convertToFormat(QImage::Format_RGB888);
            ASSERT_EQ(ref.size(), now.size()) << file.toStdString();
            int differing = 0;
            for (int y = 0; y < now.height(); ++y)
                differing += std::memcmp(ref.constScanLine(y), now.constScanLine(y),
                                         static_cast<size_t>(3) * now.width()) != 0;
            EXPECT_EQ(differing, 0) << "rows differ from " << file.toStdString();
        }
    }
}

namespace {

class Zoom : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(h.view);
        ASSERT_EQ(h.Load(), 1);
        h.Draw();
    }
    CPoint Centre() {
        const CRect rc = h.view->GetClientRect();
        return CPoint(rc.Width() / 2, rc.Height() / 2);
    }
    // Left sub-image position under a client point.
    StereoPoint Under(CPoint client) {
        return h.view->GetStereoFrame().ClientToSubImage(CStereoFrame::kLeft,
                                                         {1.0 * client.x, 1.0 * client.y});
    }
    QString ZoomPane() { return h.frame->GetStatusBar()->GetPaneText(kPaneZoom); }
    // A Ctrl+wheel notch as Qt delivers it to the view's GL window.
    void CtrlWheel(CPoint at, int delta) {
        QWindow* surface = h.view->GetSurfaceWindow();
        const QPointF p(at.x, at.y);
        QWheelEvent wheel(p, surface->mapToGlobal(p), QPoint(), QPoint(0, delta), Qt::NoButton,
                          Qt::ControlModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(surface, &wheel);
        ProcessPending();
    }
    AppHarness h;
};

}  // namespace

TEST(ZoomWithoutProject, CommandsDoNothing) {
    AppHarness h;
    ASSERT_TRUE(h.view);
    for (int id : {ID_VIEW_ZOOMIN, ID_VIEW_ZOOMOUT, ID_VIEW_ZOOMTOFIT, ID_VIEW_ACTUALPIXELS}) {
        EXPECT_TRUE(h.view->OnCommand(id));
        EXPECT_EQ(h.view->m_dScale, 1.0);
    }
    h.view->OnMouseWheel(MK_CONTROL, 120, CPoint(10, 10));
    EXPECT_EQ(h.view->m_dScale, 1.0);
}

TEST_F(Zoom, CommandsStepAboutTheCentreFitAndComeBackToActualPixels) {
    const CSize scene = h.doc->GetSceneSize();
    const StereoPoint centre = Under(Centre());
    h.frame->FindAction(ID_VIEW_ZOOMIN)->trigger();
    EXPECT_EQ(h.view->m_dScale, 2.0);
    h.frame->FindAction(ID_VIEW_ZOOMIN)->trigger();
    EXPECT_EQ(h.view->m_dScale, 4.0);
    h.Draw();
    EXPECT_EQ(ZoomPane(), "Zoom 400 %");
    // The scroll area is the scene times the scale; the centre stays within
    // a screen pixel.
    EXPECT_EQ(h.view->GetTotalSize().cx, scene.cx * 4);
    EXPECT_EQ(h.view->GetTotalSize().cy, scene.cy * 4);
    EXPECT_NEAR(Under(Centre()).x, centre.x, 1.0 / 4 + 1e-9);
    EXPECT_NEAR(Under(Centre()).y, centre.y, 1.0 / 4 + 1e-9);
    for (int k = 0; k < 4; ++k) h.view->OnCommand(ID_VIEW_ZOOMOUT);
    EXPECT_EQ(h.view->m_dScale, 0.25);
    h.Draw();
    EXPECT_EQ(ZoomPane(), "Zoom 25 %");
    // Never beyond 16, never below the fit or 1/64.
    for (int k = 0; k < 12; ++k) h.view->ZoomIn();
    EXPECT_EQ(h.view->m_dScale, COrvaneView::kMaxZoom);
    for (int k = 0; k < 20; ++k) h.view->ZoomOut();
    EXPECT_EQ(h.view->m_dScale, std::min(h.view->FitZoom(), 1.0 / 64));
    // Zoom To Fit: the whole left photograph in the view, touching two edges.
    h.view->OnCommand(ID_VIEW_ZOOMTOFIT);
    const double fit = h.view->m_dScale;
    EXPECT_EQ(fit, h.view->FitZoom());
    const CRect rc = h.view->GetClientRect();
    EXPECT_LE(h.view->GetTotalSize().cx, rc.Width());
    EXPECT_LE(h.view->GetTotalSize().cy, rc.Height());
    EXPECT_TRUE(std::abs(scene.cx * fit - rc.Width()) < 1.0 ||
                std::abs(scene.cy * fit - rc.Height()) < 1.0);
    // Actual Pixels: 1:1 with the image point at the centre kept (one the
    // scroll range lets reach the centre at 1:1).
    h.view->SetZoom(4.0, Centre());
    ASSERT_TRUE(h.view->CentreOn(450.3, 430.6));
    const StereoPoint zoomed = Under(Centre());
    h.view->OnCommand(ID_VIEW_ACTUALPIXELS);
    EXPECT_EQ(h.view->m_dScale, 1.0);
    EXPECT_NEAR(Under(Centre()).x, zoomed.x, 1.0);
    EXPECT_NEAR(Under(Centre()).y, zoomed.y, 1.0);
    h.Draw();
    EXPECT_EQ(ZoomPane(), "Zoom 100 %");
}

// Ctrl+wheel over a selection zooms about the pointer and leaves every
// record, the selection and the parallax (in sub-image pixels) as they were.
TEST_F(Zoom, CtrlWheelZoomsAboutThePointerAndChangesNoRecordNorTheParallax) {
    h.view->SelectInRect(0, 0, 100000, 100000);
    ASSERT_GT(h.doc->m_leftPhoto.m_selection.size(), 100u);
    auto records = [&] {
        std::string bytes;
        for (const CTINPoints* set : {&h.doc->m_points, h.doc->m_leftPhoto.m_pImagePoints.get(),
                                      h.doc->m_rightPhoto.m_pImagePoints.get()})
            bytes.append(reinterpret_cast<const char*>(set->GetPoint(0)),
                         sizeof(TINPoint) * static_cast<size_t>(set->GetCount()));
        return bytes;
    };
    const std::string before = records();
    const size_t selected = h.doc->m_leftPhoto.m_selection.size();
    h.view->m_nParallax = 7;  // as a key or a test sets it: 7 screen = 7 sub-image pixels at 1:1
    const CPoint at(Centre().x / 2, Centre().y / 3);
    const StereoPoint under = Under(at);
    const double steps[] = {1.189207115002721, 1.414213562373095, 1.681792830507429, 2.0};
    for (double expected : steps) {
        CtrlWheel(at, 120);
        EXPECT_NEAR(h.view->m_dScale, expected, 1e-12);
        // The point under the pointer stays within a screen pixel of it.
        EXPECT_NEAR(Under(at).x, under.x, 1.0 / h.view->m_dScale + 1e-9);
        EXPECT_NEAR(Under(at).y, under.y, 1.0 / h.view->m_dScale + 1e-9);
    }
    h.Draw();
    EXPECT_EQ(ZoomPane(), "Zoom 200 %");
    EXPECT_EQ(h.view->m_dParallax, 7.0);
    EXPECT_EQ(h.view->m_nParallax, 14);
    for (int k = 0; k < 5; ++k) CtrlWheel(at, -120);
    EXPECT_NEAR(h.view->m_dScale, std::exp2(-1.0 / 4), 1e-12);
    h.Draw();
    EXPECT_EQ(ZoomPane(), "Zoom 84 %");
    EXPECT_EQ(records(), before);
    EXPECT_EQ(h.doc->m_leftPhoto.m_selection.size(), selected);
    EXPECT_FALSE(h.doc->IsModified());
    EXPECT_EQ(h.view->m_dParallax, 7.0);
    // From the fit (between steps) a notch goes to the next step.
    h.view->OnZoomToFit();
    const double fit = h.view->m_dScale;
    CtrlWheel(Centre(), 120);
    const double e = 4 * std::log2(h.view->m_dScale);
    EXPECT_NEAR(e, std::ceil(4 * std::log2(fit)), 1e-9);
    EXPECT_GT(h.view->m_dScale, fit);
    // 2^(1/4) from 1 reads 119 %.
    h.view->OnActualPixels();
    CtrlWheel(Centre(), 120);
    h.Draw();
    EXPECT_EQ(ZoomPane(), "Zoom 119 %");
    EXPECT_EQ(records(), before);
}

TEST_F(Zoom, WheelStepsParallaxByAScreenPixelAboveOneToOne) {
    h.view->m_dParallax = 30.0;
    h.view->m_nParallax = 30;
    h.view->OnMouseWheel(0, -120, CPoint());
    EXPECT_EQ(h.view->m_nParallax, 31);
    EXPECT_EQ(h.view->m_dParallax, 31.0);
    h.view->SetZoom(4.0, Centre());
    EXPECT_EQ(h.view->m_nParallax, 124);
    h.view->OnMouseWheel(0, -120, CPoint());
    EXPECT_EQ(h.view->m_dParallax, 31.25);
    EXPECT_EQ(h.view->m_nParallax, 125);
    h.view->SetZoom(0.5, Centre());
    h.view->OnMouseWheel(0, 120, CPoint());
    EXPECT_EQ(h.view->m_dParallax, 30.25);  // a sub-image pixel below 1:1
    EXPECT_EQ(h.view->m_nParallax, 15);     // lround(15.125)
    const double step = h.view->m_dZIncrement;
    h.view->SetZoom(8.0, Centre());
    EXPECT_EQ(h.view->m_dZIncrement, step);
}

// Zoomed in and out, the photograph's pixels, the points and the pick are
// where the frame puts them.
TEST_F(Zoom, PixelsPointsAndPicksAtFourAndAQuarter) {
    const CAerialPhoto& left = h.doc->m_leftPhoto;
    const std::array<int, 256> grey = StretchedGreys(left);
    const unsigned char* band = left.m_image.GetBands()[0];
    const int cols = left.m_image.GetSize().cx;
    h.view->m_bSharpPixels = true;  // square pixels: each screen pixel one image pixel
    for (double scale : {4.0, 0.5, 1.5}) {
        h.view->SetZoom(scale, Centre());
        // Zoomed out: the subsample drawn until the levels are built (their
        // build, started by the first zoomed-out frame, is stopped here).
        for (COverviewBuilder& levels : h.doc->m_zoomLevels) levels.Cancel();
        h.Draw();
        const CStereoFrame f = h.view->GetStereoFrame();
        // Image pixels under a few screen pixels (no point near them).
        int checked = 0;
        for (int y = 20; y < f.m_nClientHeight - 20; y += 37)
            for (int x = 20; x < f.m_nClientWidth - 20; x += 41) {
                const StereoPoint s = f.GLToSubImage(CStereoFrame::kLeft, {x + 0.5, y + 0.5});
                const int c = static_cast<int>(std::floor(s.x)),
                          r = static_cast<int>(std::floor(s.y));
                if (c < 0 || r < 0 || c >= cols || r >= left.m_image.GetSize().cy) continue;
                if (left.m_pImagePoints->FindNearestAt(s.x, s.y, 8.0 / scale) >= 0) continue;
                const int g = grey[band[static_cast<size_t>(r) * cols + c]];
                EXPECT_EQ(h.Pixel(GL_BACK_LEFT, x, y), (std::array<int, 3>{g, g, g}))
                    << "scale " << scale << " at " << x << ", " << y;
                ++checked;
            }
        EXPECT_GT(checked, 10);
        // A live point alone on the screen: drawn at its frame position, picked there.
        const CTINPoints& pts = *left.m_pImagePoints;
        int found = -1;
        StereoPoint at;
        for (int i = 0; i < pts.GetCount() && found < 0; i += 7) {
            const TINPoint* p = pts.GetPoint(i);
            at = f.SubImageToGL(CStereoFrame::kLeft, {p->x, p->y});
            if (at.x < 30 || at.y < 30 || at.x > f.m_nClientWidth - 30 ||
                at.y > f.m_nClientHeight - 30)
                continue;
            bool alone = true;
            for (int j = 0; j < pts.GetCount() && alone; ++j)
                if (j != i &&
                    std::hypot(pts.GetPoint(j)->x - p->x, pts.GetPoint(j)->y - p->y) < 6.0 / scale)
                    alone = false;
            if (alone) found = i;
        }
        ASSERT_GE(found, 0) << "scale " << scale;
        const int gx = static_cast<int>(std::floor(at.x)), gy = static_cast<int>(std::floor(at.y));
        EXPECT_EQ(h.Pixel(GL_BACK_LEFT, gx, gy),
                  (std::array<int, 3>{h.view->m_rgbPoints.r, h.view->m_rgbPoints.g,
                                      h.view->m_rgbPoints.b}))
            << "scale " << scale;
        const StereoPoint client = f.GLToClient({gx + 0.5, gy + 0.5});
        const CPoint c(static_cast<int>(client.x), static_cast<int>(client.y));
        EXPECT_EQ(h.view->PickPoint(c), found);
    }
}

TEST_F(Zoom, MiddleButtonDragsPageKeysPageHomeAndEndGoToTheEnds) {
    h.view->SetZoom(2.0, Centre());
    const CPoint s = h.view->GetScrollPosition();
    h.view->OnMButtonDown(MK_MBUTTON, CPoint(200, 200));
    h.view->OnMouseMove(MK_MBUTTON, CPoint(150, 230));
    EXPECT_EQ(h.view->GetScrollPosition(), CPoint(s.x + 50, s.y - 30));
    h.view->OnMButtonUp(0, CPoint(150, 230));
    h.view->OnMouseMove(0, CPoint(100, 100));
    EXPECT_EQ(h.view->GetScrollPosition(), CPoint(s.x + 50, s.y - 30));
    const int page = h.view->GetClientRect().Height();
    h.view->OnKeyDown(VK_NEXT, 1, 0);
    EXPECT_EQ(h.view->GetScrollPosition().y, s.y - 30 + page);
    h.view->OnKeyDown(VK_PRIOR, 1, 0);
    EXPECT_EQ(h.view->GetScrollPosition().y, s.y - 30);
    h.view->OnKeyDown(VK_HOME, 1, 0);
    EXPECT_EQ(h.view->GetScrollPosition().y, h.view->verticalScrollBar()->minimum());
    h.view->OnKeyDown(VK_END, 1, 0);
    EXPECT_EQ(h.view->GetScrollPosition().y, h.view->verticalScrollBar()->maximum());
    EXPECT_GT(h.view->verticalScrollBar()->maximum(), h.view->verticalScrollBar()->minimum());
}

// Once built, the levels are drawn: each screen pixel at 1:2 the rounded mean
// of the 2 x 2 photograph pixels it covers, at 1:4 of 4 x 4; the levels of
// both photographs hold at most 0.35 of their band 0 bytes.
TEST_F(Zoom, ZoomedOutTheReducedLevelsAreDrawnOnceBuilt) {
    const CAerialPhoto& left = h.doc->m_leftPhoto;
    const std::array<int, 256> grey = StretchedGreys(left);
    const unsigned char* band = left.m_image.GetBands()[0];
    const int cols = left.m_image.GetSize().cx, rows = left.m_image.GetSize().cy;
    h.doc->CancelImageWorkers();
    for (int shift : {1, 2}) {
        h.view->SetZoom(std::ldexp(1.0, -shift), Centre());
        ASSERT_TRUE(WaitFor([&] { return h.doc->ZoomLevels(0) && h.doc->ZoomLevels(1); }, 30000));
        h.Draw();
        const CStereoFrame f = h.view->GetStereoFrame();
        const int n = 1 << shift;
        int checked = 0;
        for (int y = 10; y < f.m_nClientHeight; y += 13)
            for (int x = 10; x < f.m_nClientWidth; x += 17) {
                const StereoPoint s = f.GLToSubImage(CStereoFrame::kLeft, {x + 0.5, y + 0.5});
                const int c0 = static_cast<int>(std::floor(s.x)) / n * n,
                          r0 = static_cast<int>(std::floor(s.y)) / n * n;
                if (s.x < 0 || s.y < 0 || c0 + n > cols || r0 + n > rows) continue;
                if (left.m_pImagePoints->FindNearestAt(s.x, s.y, 6.0 / f.m_dScale) >= 0) continue;
                int sum = 0;
                for (int r = r0; r < r0 + n; ++r)
                    for (int c = c0; c < c0 + n; ++c)
                        sum += band[static_cast<size_t>(r) * cols + c];
                const int g = grey[(2 * sum + n * n) / (2 * n * n)];  // halves up
                EXPECT_EQ(h.Pixel(GL_BACK_LEFT, x, y), (std::array<int, 3>{g, g, g}))
                    << "1:" << n << " at " << x << ", " << y;
                ++checked;
            }
        EXPECT_GT(checked, 10);
    }
    const int64_t bandBytes =
        int64_t{cols} * rows + int64_t{h.doc->m_rightPhoto.m_image.GetSize().cx} *
                                   h.doc->m_rightPhoto.m_image.GetSize().cy;
    const int64_t levelBytes =
        h.doc->ZoomLevels(0)->GetMemoryBytes() + h.doc->ZoomLevels(1)->GetMemoryBytes();
    EXPECT_LE(levelBytes, static_cast<int64_t>(0.35 * bandBytes));
    EXPECT_GT(levelBytes, bandBytes / 4);
}

// At any zoom and scroll position, a rectangle dragged over the view selects
// the points that the same left image region selects when dragged at 1:1,
// and the mark's ground read-out is that of its image position at 1:1.
TEST_F(Zoom, RectanglesAndTheMarkMeanTheSameImageRegionAtEveryZoom) {
    std::mt19937 random(3);
    const CRect client = h.view->GetClientRect();
    const int ht = client.Height();
    auto uniform = [&](int lo, int hi) {
        return std::uniform_int_distribution<int>(lo, hi)(random);
    };
    auto drag = [&](CPoint a, CPoint b) {
        h.view->OnLButtonDown(MK_LBUTTON, a);
        h.view->OnMouseMove(MK_LBUTTON, b);
        h.view->OnLButtonUp(0, b);
        std::vector<int> ids;
        for (const TINPoint& p : h.doc->m_leftPhoto.m_selection) ids.push_back(p.id);
        std::sort(ids.begin(), ids.end());
        return ids;
    };
    auto floorPixel = [](StereoPoint p) {
        return CPoint(int(std::floor(p.x)), int(std::floor(p.y)));
    };
    const double scales[] = {h.view->FitZoom(), 0.25, 0.5, 1.189207115002721, 2.0, 4.0, 16.0};
    int nonEmpty = 0;
    for (int trial = 0; trial < 21; ++trial) {
        const double scale = scales[trial % 7];
        h.view->SetZoom(scale, Centre());
        // Over a random point of the project, the band around the view's centre.
        const CTINPoints& pts = *h.doc->m_leftPhoto.m_pImagePoints;
        const TINPoint* p = pts.GetPoint(uniform(0, pts.GetCount() - 1));
        h.view->CentreOn(p->x + uniform(-40, 40), p->y + uniform(-40, 40));
        h.Draw();
        // A band whose image region fits the client area at 1:1.
        const int side = std::max(3, static_cast<int>(std::min(300.0, 300.0 * scale)));
        const CPoint a(Centre().x - uniform(1, side / 2 + 1),
                       Centre().y - uniform(1, side / 2 + 1));
        const CPoint b(a.x + uniform(2, side), a.y + uniform(2, side));
        const CStereoFrame f = h.view->GetStereoFrame();
        const CPoint c =
            floorPixel(f.ClientToSubImage(CStereoFrame::kLeft, {1.0 * a.x, 1.0 * a.y}));
        const CPoint d =
            floorPixel(f.ClientToSubImage(CStereoFrame::kLeft, {1.0 * b.x, 1.0 * b.y}));
        const std::vector<int> zoomed = drag(a, b);
        // The mark over the band's first corner, the parallax in sub-image pixels.
        h.view->m_ptMark = CPoint(a.x, ht - a.y);
        h.view->m_dParallax = 24.0;
        h.view->m_nParallax = static_cast<int>(std::lround(24.0 * scale));
        const StereoPoint markAt = h.view->GetStereoFrame().MarkSubImage(CStereoFrame::kLeft);
        double X = 0, Y = 0, Z = 0;
        const bool marked = h.view->MarkGroundPosition(X, Y, Z) > 0;

        // The same region at 1:1, dragged from 100, 100 of the client area.
        h.view->SetZoom(1.0, Centre());
        h.view->ScrollToPosition(CPoint(c.x - 100, c.y - 100));
        h.Draw();
        const CPoint at = h.view->GetScrollPosition();
        const CPoint a1(c.x - at.x, c.y - at.y), b1(d.x - at.x, d.y - at.y);
        EXPECT_EQ(drag(a1, b1), zoomed) << "scale " << scale << " trial " << trial;
        nonEmpty += !zoomed.empty();
        if (!marked) continue;
        const CPoint m = floorPixel(markAt);
        const StereoPoint gl =
            h.view->GetStereoFrame().SubImageToGL(CStereoFrame::kLeft, {1.0 * m.x, 1.0 * m.y});
        h.view->m_ptMark = CPoint(int(std::lround(gl.x)), int(std::lround(gl.y)));
        h.view->m_nParallax = 24;
        h.view->m_dParallax = 24.0;
        ASSERT_EQ(h.view->GetStereoFrame().MarkSubImage(CStereoFrame::kLeft),
                  (StereoPoint{1.0 * m.x, 1.0 * m.y}));
        double X1 = 0, Y1 = 0, Z1 = 0;
        ASSERT_GT(h.view->MarkGroundPosition(X1, Y1, Z1), 0);
        // Within the ground footprint of the fraction of a pixel between them.
        EXPECT_NEAR(X, X1, 1.0) << "scale " << scale;
        EXPECT_NEAR(Y, Y1, 1.0) << "scale " << scale;
        EXPECT_NEAR(Z, Z1, 2.0) << "scale " << scale;
    }
    EXPECT_GT(nonEmpty, 10);
}
