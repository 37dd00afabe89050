// What an operator sees first: the picture after loading, a new window on the
// project, the status panes and the start hint.
#include <QDir>
#include <QMenu>
#include <QMenuBar>
#include <algorithm>
#include <cmath>

#include "LanWriter.h"
#include "Orvane/3DImgInput.h"
#include "Photogrammetry/StereoAlignment.h"
#include "testing/OrvaneTestSupport.h"

using namespace orvane_test;

namespace {

// Share of sampled pixels of a view's left eye that show the left photograph's
// stretched grey (points and marks aside).
double ShareShowingLeftPhotograph(COrvaneView* view, const CAerialPhoto& left) {
    const CRect rc = view->GetClientRect();
    const CPoint s = view->GetScrollPosition();
    std::vector<unsigned char> px =
        view->ReadBufferPixels(GL_FRONT_LEFT, 0, 0, rc.Width(), rc.Height());
    const unsigned char* band = left.m_image.GetBands()[0];
    const int cols = left.m_image.GetSize().cx, rows = left.m_image.GetSize().cy;
    const std::array<int, 256> grey = StretchedGreys(left);
    int checked = 0, matched = 0;
    for (int y = 20; y < rc.Height() - 20; y += 23) {
        for (int x = 20; x < rc.Width() - 20; x += 29) {
            const int col = x + s.x, row = (rc.Height() - 1 - y) + s.y;
            if (col >= cols || row >= rows) continue;
            const size_t i = (static_cast<size_t>(y) * rc.Width() + x) * 3;
            ++checked;
            const int expected = grey[band[static_cast<size_t>(row) * cols + col]];
            matched += std::abs(px[i] - expected) <= 1 && px[i] == px[i + 1];
        }
    }
    return checked ? static_cast<double>(matched) / checked : 0.0;
}

}  // namespace

// The first picture after loading shows the middle of the points with the
// pair fused there: the two eyes' pictures around the view centre coincide.
TEST(FirstPicture, LoadingCentresThePointsAndFusesThePair) {
    AppHarness h;
    ASSERT_EQ(h.Load(), 1);
    h.Draw();
    COrvaneView* v = h.view;
    EXPECT_EQ(v->m_nParallax, 0);
    const CRect rc = v->GetClientRect();
    const CPoint s = v->GetScrollPosition();
    // The middle of the points' extent, at their median height, is at the
    // centre (the scroll range reaches half a view beyond the photograph).
    const CTINPoints& g = h.doc->m_points;
    double c = 0, r = 0;
    h.doc->m_leftPhoto.GroundToImage((g.m_dMinX + g.m_dMaxX) / 2, (g.m_dMinY + g.m_dMaxY) / 2,
                                     MedianHeight(g), c, r);
    const double wantX = c - h.doc->m_leftPhoto.GetXStart() - rc.Width() / 2.0;
    const double wantY = r - h.doc->m_leftPhoto.GetYStart() - rc.Height() / 2.0;
    EXPECT_NEAR(s.x, wantX, 1.5);
    EXPECT_NEAR(s.y, wantY, 1.5);

    // Shift of the right eye's picture against the left one around the centre.
    const int half = 60, w = 2 * half + 1;
    const int x0 = rc.Width() / 2 - half, y0 = rc.Height() / 2 - half;
    auto left = v->ReadBufferPixels(GL_FRONT_LEFT, x0, y0, w, w);
    const int reach = 10;
    auto right =
        v->ReadBufferPixels(GL_FRONT_RIGHT, x0 - reach, y0 - reach, w + 2 * reach, w + 2 * reach);
    ASSERT_EQ(left.size(), static_cast<size_t>(w * w * 3));
    double best = 1e300;
    int bestDx = 99, bestDy = 99;
    for (int dy = -reach; dy <= reach; ++dy) {
        for (int dx = -reach; dx <= reach; ++dx) {
            double ssd = 0;
            for (int y = 0; y < w; ++y)
                for (int x = 0; x < w; ++x) {
                    const int a = left[(static_cast<size_t>(y) * w + x) * 3 + 1];
                    const int b = right[(static_cast<size_t>(y + reach + dy) * (w + 2 * reach) +
                                         (x + reach + dx)) *
                                            3 +
                                        1];
                    ssd += double(a - b) * (a - b);
                }
            if (ssd < best) best = ssd, bestDx = dx, bestDy = dy;
        }
    }
    // Within a few pixels: the terrain at the centre need not lie at the median height.
    EXPECT_LE(std::abs(bestDx), 5);
    EXPECT_LE(std::abs(bestDy), 1);
}

// A new window on a loaded project shows both photographs through their own
// contrast from the first draw, and a second load recomputes each stretch.
TEST(FirstPicture, NewWindowAndSecondLoadDrawEachPhotographWithItsOwnStretch) {
    AppHarness h;
    ASSERT_EQ(h.Load(), 1);
    h.Draw();
    EXPECT_GT(ShareShowingLeftPhotograph(h.view, h.doc->m_leftPhoto), 0.8);

    // A right photograph of narrow range: its stretch differs from the left's.
    QTemporaryDir dir;
    CErdasImage right;
    {
        FILE* f = std::fopen(DemoPaths().rightImage.c_str(), "rb");
        ASSERT_TRUE(f);
        ASSERT_EQ(right.ReadImage(f), 1);
        std::fclose(f);
    }
    const ImageSize size = right.GetSize();
    std::vector<unsigned char> dim(static_cast<size_t>(size.cx) * size.cy);
    for (size_t i = 0; i < dim.size(); ++i)
        dim[i] = static_cast<unsigned char>(70 + right.GetBands()[0][i] / 4);
    ProjectPaths paths = DemoPaths();
    paths.rightImage = dir.path().toStdString() + "/dim.lan";
    const LanHeader& hd = right.GetHeader();
    ASSERT_EQ(
        WriteLanFile(paths.rightImage, MakeLanHeader(0, 1, size.cx, size.cy, hd.xstart, hd.ystart),
                     {dim.data()}),
        1);
    ASSERT_EQ(h.Load(paths), 1);

    h.frame->OnWindowNew();
    COrvaneView* second = nullptr;
    ASSERT_TRUE(WaitFor([&] {
        second = dynamic_cast<COrvaneView*>(h.frame->GetActiveView());
        return second && second != h.view && second->GetSurfaceWindow() &&
               second->GetSurfaceWindow()->isExposed();
    }));
    ProcessPending();
    second->RedrawNow();
    EXPECT_GT(ShareShowingLeftPhotograph(second, h.doc->m_leftPhoto), 0.8);
    // The right eye at the centre shows the dim photograph stretched over its own range.
    const CRect rc = second->GetClientRect();
    const CPoint s = second->GetScrollPosition();
    const int x = rc.Width() / 2 + 7, y = rc.Height() / 2 + 3;
    const int col = x + s.x - second->m_nXOffset,
              row = (rc.Height() - 1 - y) + s.y + second->m_nYOffset;
    const CAerialPhoto& rp = h.doc->m_rightPhoto;
    if (rp.FindImagePoint(col, row, 4.0) < 0) {
        auto px = second->ReadBufferPixels(GL_FRONT_RIGHT, x, y, 1, 1);
        EXPECT_NEAR(
            px[0],
            StretchedGreys(rp)[rp.m_image.GetBands()[0][static_cast<size_t>(row) * size.cx + col]],
            1);
    }

    // Two windows are told apart by their titles and listed in the Window menu.
    auto titleOf = [](COrvaneView* v) {
        return static_cast<QWidget*>(v->parentWidget())->windowTitle();
    };
    EXPECT_EQ(titleOf(h.view), "points.pts:1");
    EXPECT_EQ(titleOf(second), "points.pts:2");
    QMenu* window = nullptr;
    for (QAction* a : h.frame->menuBar()->actions())
        if (a->text() == "&Window") window = a->menu();
    ASSERT_TRUE(window);
    emit window->aboutToShow();
    QStringList entries;
    for (QAction* a : window->actions())
        if (a->text().startsWith('&') && a->text().contains("points.pts")) entries << a->text();
    EXPECT_EQ(entries, (QStringList{"&1 points.pts:1", "&2 points.pts:2"}));
    // Choosing the first entry activates the first window.
    for (QAction* a : window->actions())
        if (a->text() == "&1 points.pts:1") a->trigger();
    EXPECT_TRUE(WaitFor([&] { return h.frame->GetActiveView() == h.view; }));

    // Cascading keeps windows big enough to work in.
    h.frame->OnWindowCascade();
    ProcessPending();
    const QSize area = h.frame->GetMDIArea()->viewport()->size();
    for (QMdiSubWindow* sub : h.frame->GetMDIArea()->subWindowList()) {
        EXPECT_GE(sub->width(), area.width() / 2);
        EXPECT_GE(sub->height(), area.height() / 2);
    }
    // Closing the second window leaves one window with the plain title.
    static_cast<QWidget*>(second->parentWidget())->close();
    EXPECT_TRUE(WaitFor([&] { return titleOf(h.view) == "points.pts"; }));
}

// The floating mark set on a control target in both photographs reads that
// target's ground position: X, Y within a ground pixel, Z within a ground
// pixel times the height-to-base ratio.
TEST(StatusPanes, MarkOnAControlTargetReadsItsGroundPosition) {
    AppHarness h;
    ASSERT_EQ(h.Load(), 1);
    const demo::DemoResult& d = SmallDemo();
    const demo::DemoLayout& L = d.layout;
    const double base = std::hypot(L.right.xs - L.left.xs, L.right.ys - L.left.ys);
    CAerialPhoto& left = h.doc->m_leftPhoto;
    CAerialPhoto& right = h.doc->m_rightPhoto;
    COrvaneView* v = h.view;
    h.Draw();  // the scroll bars settle first: they change the client height
    const CRect rc = v->GetClientRect();
    int tested = 0;
    for (const demo::DemoTarget& t : d.targets) {
        double lc, lr, rcol, rrow;
        if (left.GroundToImage(t.x, t.y, t.z, lc, lr) < 0) continue;
        if (right.GroundToImage(t.x, t.y, t.z, rcol, rrow) < 0) continue;
        lc -= left.GetXStart(), lr -= left.GetYStart();
        rcol -= right.GetXStart(), rrow -= right.GetYStart();
        const ImageSize ls = left.m_image.GetSize(), rs = right.m_image.GetSize();
        if (lc < 0 || lr < 0 || lc >= ls.cx || lr >= ls.cy) continue;
        if (rcol < 0 || rrow < 0 || rcol >= rs.cx || rrow >= rs.cy) continue;
        // The mark sits on whole pixels: the target's pixels, rounded.
        const int li = static_cast<int>(std::lround(lc)), lj = static_cast<int>(std::lround(lr));
        const int ri = static_cast<int>(std::lround(rcol)),
                  rj = static_cast<int>(std::lround(rrow));
        v->ScrollToPosition(CPoint(li - rc.Width() / 2, lj - rc.Height() / 2));
        const CPoint s = v->GetScrollPosition();
        v->m_ptMark = CPoint(li - s.x, rc.Height() - (lj - s.y));
        v->m_nXOffset = li - ri;
        v->m_nYOffset = rj - lj;
        v->m_nParallax = 0;
        h.Draw();
        double X, Y, Z;
        ASSERT_EQ(v->MarkGroundPosition(X, Y, Z), 1);
        const double heightToBase = (L.left.zs - t.z) / base;
        EXPECT_NEAR(X, t.x, L.groundPixel);
        EXPECT_NEAR(Y, t.y, L.groundPixel);
        EXPECT_NEAR(Z, t.z, L.groundPixel * heightToBase);
        // The pane shows the same numbers.
        const QStringList parts =
            h.frame->GetStatusBar()->GetPaneText(kPaneMark).split(' ', Qt::SkipEmptyParts);
        ASSERT_EQ(parts.size(), 6);
        EXPECT_NEAR(parts[5].toDouble(), Z, 0.01);
        ++tested;
    }
    EXPECT_GE(tested, 2);
    // Marks on two different ground points (y-parallax): no position.
    v->m_nYOffset += 30;
    h.Draw();
    EXPECT_EQ(h.frame->GetStatusBar()->GetPaneText(kPaneMark), "");
    EXPECT_EQ(h.frame->GetStatusBar()->GetPaneText(kPaneParallax), "Parallax 0");
}

TEST(StatusPanes, StartHintHeldUntilAProjectLoadsAndBackForFileOpen) {
    AppHarness h;
    CStatusBar* bar = h.frame->GetStatusBar();
    const QString hint = "Load a project with TIN > Editing (Orvane).";
    EXPECT_EQ(bar->GetShownMessage(), hint);
    // Read-outs go under it, not over it.
    h.view->ShowValues({1.5});
    EXPECT_EQ(bar->GetShownMessage(), hint);
    ASSERT_EQ(h.Load(), 1);
    h.frame->UpdateMenus();
    EXPECT_EQ(bar->GetShownMessage(), "");
    // File > Open of a points file without a project file opens a document
    // without a project, and the image-pair picker with the points filled in.
    QTemporaryDir dir;
    const QString other = dir.path() + "/other.pts";
    CopyFile(DemoPaths().matchedPoints, other.toStdString());
    ASSERT_TRUE(h.app->OpenDocumentFile(other));
    auto* opened = dynamic_cast<COrvaneView*>(h.frame->GetActiveView());
    ASSERT_TRUE(opened && opened != h.view);
    std::string proposedPoints;
    opened->m_fnRunDialog = [&](QDialog& d) {
        proposedPoints = dynamic_cast<C3DImgInput&>(d).m_strMatchedPoints;
        return false;  // cancelled: the document stays without a project
    };
    EXPECT_TRUE(WaitFor([&] { return !proposedPoints.empty(); }, 2000));
    EXPECT_EQ(proposedPoints, other.toStdString());
    {
        // A recent file that is gone is refused with a message and leaves the list.
        Platform::ScopedMessageCapture capture;
        const QString gone = dir.path() + "/gone.pts";
        h.app->AddToRecentFileList(gone);
        EXPECT_EQ(h.app->OpenDocumentFile(gone), nullptr);
        ASSERT_EQ(capture.Messages().size(), 1u);
        EXPECT_NE(capture.Messages()[0].text.find("gone.pts"), std::string::npos);
        EXPECT_FALSE(h.app->GetRecentFileList().contains(QDir::cleanPath(gone)));
    }
    ProcessPending();
    h.frame->UpdateMenus();
    EXPECT_EQ(bar->GetShownMessage(), hint);
    // A timed message shows, then the held hint comes back.
    bar->ShowTimedMessage("Saved.", 50);
    EXPECT_EQ(bar->GetShownMessage(), "Saved.");
    EXPECT_TRUE(WaitFor([&] { return bar->GetShownMessage() == hint; }, 2000));
}
