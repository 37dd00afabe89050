// The surface over the photographs, on the X server: each contour is drawn in
// both eyes where its 3-D vertices project, so it floats at its height, as GL
// lines (few points in view) and painted into the picture with many points.
#include <gtest/gtest.h>

#include <cmath>

#include "Surface/SurfaceImages.h"
#include "testing/OrvaneTestSupport.h"

using namespace orvane_test;

TEST(SurfaceView, ContoursAreDrawnInBothEyesWhereTheirVerticesProject) {
    AppHarness h;
    ASSERT_TRUE(h.view);
    ASSERT_EQ(h.Load(), 1);
    COrvaneDoc* doc = h.doc;
    h.view->m_nPointSize = 1;  // the points hide little of the lines under them
    const RGBColor magenta{255, 0, 255}, orange{255, 128, 0};  // neither the points' colour
    h.view->m_rgbContours = magenta;
    h.view->m_rgbIndexContours = orange;
    const CTINPoints& ground = doc->m_points;
    double column = 0.0, row = 0.0;
    const TINPoint& middle = *ground.GetPoint(ground.GetCount() / 2);
    ASSERT_TRUE(GroundToSubImage(doc->m_leftPhoto, middle.x, middle.y, middle.z, column, row));
    h.view->CentreOn(column, row);

    // The 3-D middle of each segment projected into each eye: is a pixel
    // next to it in a contour colour on the screen? Counted with the contours
    // on and off.
    auto hits = [&](int eye, int& tried) {
        h.Draw();
        const CStereoFrame f = h.view->GetStereoFrame();
        const CAerialPhoto& photo =
            eye == CStereoFrame::kLeft ? doc->m_leftPhoto : doc->m_rightPhoto;
        const CContours& contours = doc->m_surface.Contours();
        int hit = 0;
        tried = 0;
        for (const ContourSegment& s : contours.Segments()) {
            if (s.triangle < 0 || tried >= 300) continue;
            double c = 0.0, r = 0.0;
            if (!GroundToSubImage(photo, (s.x0 + s.x1) / 2, (s.y0 + s.y1) / 2,
                                  s.level * contours.Interval(), c, r))
                continue;
            const StereoPoint g = f.SubImageToGL(eye, {c, r});
            if (g.x < 2 || g.y < 2 || g.x > f.m_nClientWidth - 3 || g.y > f.m_nClientHeight - 3)
                continue;
            ++tried;
            bool found = false;
            for (int dy = -1; dy <= 1 && !found; ++dy)
                for (int dx = -1; dx <= 1 && !found; ++dx) {
                    const auto px = h.Pixel(eye == 0 ? GL_FRONT_LEFT : GL_FRONT_RIGHT,
                                            int(std::floor(g.x)) + dx, int(std::floor(g.y)) + dy);
                    found = px == std::array<int, 3>{magenta.r, magenta.g, magenta.b} ||
                            px == std::array<int, 3>{orange.r, orange.g, orange.b};
                }
            hit += found;
        }
        return hit;
    };
    for (bool withPoints : {true, false}) {
        // Without points the lines are GL lines; with the demo's points in
        // view they are painted into the picture with them.
        std::unique_ptr<CTINPoints> kept[2];
        if (!withPoints) {
            kept[0] = std::move(doc->m_leftPhoto.m_pImagePoints);
            kept[1] = std::move(doc->m_rightPhoto.m_pImagePoints);
        }
        for (int eye : {CStereoFrame::kLeft, CStereoFrame::kRight}) {
            int tried = 0;
            h.view->m_bShowContours = true;
            const int pictures = h.view->GetPointPasses().m_nPictures[eye];
            const int on = hits(eye, tried);
            EXPECT_EQ(h.view->GetPointPasses().m_nPictures[eye] > pictures, withPoints);
            ASSERT_GT(tried, 50) << "eye " << eye;
            EXPECT_GE(on, tried * (withPoints ? 93 : 97) / 100) << "eye " << eye;
            h.view->m_bShowContours = false;
            EXPECT_EQ(hits(eye, tried), 0) << "eye " << eye;
        }
        if (!withPoints) {
            doc->m_leftPhoto.m_pImagePoints = std::move(kept[0]);
            doc->m_rightPhoto.m_pImagePoints = std::move(kept[1]);
        }
    }
}

// Drape: a mouse move puts the mark on the surface under it (once, in the
// next frame); A then adds the point there, at the mark's height.
TEST(SurfaceView, DrapedMarkFollowsTheMouseAndAAddsAtItsHeight) {
    AppHarness h;
    ASSERT_TRUE(h.view);
    ASSERT_EQ(h.Load(), 1);
    COrvaneDoc* doc = h.doc;
    h.view->SetMarkHeightMode(COrvaneView::MarkHeightMode::Drape);
    const CRect client = h.view->GetClientRect();
    const CPoint at(client.Width() / 2 + 7, client.Height() / 2 - 5);
    h.view->OnMouseMove(0, at);
    h.Draw();
    ASSERT_TRUE(std::isfinite(h.view->m_dMarkZ));
    // The parallax follows: the mark's rays meet at that height.
    double X = 0, Y = 0, Z = 0;
    ASSERT_GT(h.view->MarkGroundPosition(X, Y, Z), 0);
    EXPECT_NEAR(Z, h.view->m_dMarkZ, 0.5);  // the crosses sit on whole screen pixels
    const int before = doc->m_points.GetCount();
    h.view->OnChar('A', 1, 0);
    ASSERT_EQ(doc->m_points.GetCount(), before + 1);
    EXPECT_DOUBLE_EQ(doc->m_points.GetPoint(before)->z, h.view->m_dMarkZ);
    // Off again: A adds at the default height.
    h.view->SetMarkHeightMode(COrvaneView::MarkHeightMode::Off);
    h.view->OnChar('A', 1, 0);
    EXPECT_DOUBLE_EQ(doc->m_points.GetPoint(before + 1)->z, h.view->m_dDefaultZ);
}
