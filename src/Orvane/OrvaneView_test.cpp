// The editing view on a generated project, on the X server: what each eye
// shows (read back from the buffers), and the mouse, wheel, key and menu
// operations driven with the view's handlers.
#include <QTest>
#include <QWheelEvent>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <fstream>

#include "Orvane/3DCoordInput.h"
#include "Orvane/MevrithOpt.h"
#include "Orvane/ValueInput.h"
#include "testing/OrvaneTestSupport.h"

using namespace orvane_test;
using Platform::ScopedMessageCapture;

namespace {

bool Is(const std::array<int, 3>& px, RGBColor c) {
    return px[0] == c.r && px[1] == c.g && px[2] == c.b;
}

bool IsGrey(const std::array<int, 3>& px) {
    return px[0] == px[1] && px[1] == px[2] && px[0] >= 0;
}

class ViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(h.view);
        ASSERT_EQ(h.Load(), 1);
        // The view state these tests start from: the initial values, not the
        // first picture that loading sets up (tested on its own).
        h.view->m_nXOffset = 660;
        h.view->m_nYOffset = 0;
        h.view->m_nParallax = 30;
        h.view->m_bOffsetChanged = true;
        h.view->m_ptMark = CPoint(5, 5);
        CenterOnPoints();
        h.Draw();
    }
    // Scrolls the middle of the points' left image positions to the view centre.
    void CenterOnPoints() {
        CTINPoints& l = *Left().m_pImagePoints;
        double sx = 0, sy = 0;
        for (int i = 0; i < l.GetCount(); ++i) sx += l.GetPoint(i)->x, sy += l.GetPoint(i)->y;
        CRect rc = h.view->GetClientRect();
        center = CPoint(static_cast<int>(sx / l.GetCount()), static_cast<int>(sy / l.GetCount()));
        h.view->ScrollToPosition(CPoint(center.x - rc.Width() / 2, center.y - rc.Height() / 2));
    }
    // Offsets that lay the right image over the left one.
    void AlignEyes() {
        CTINPoints& l = *Left().m_pImagePoints;
        CTINPoints& r = *Right().m_pImagePoints;
        double dx = 0, dy = 0;
        for (int i = 0; i < l.GetCount(); ++i)
            dx += l.GetPoint(i)->x - r.GetPoint(i)->x, dy += r.GetPoint(i)->y - l.GetPoint(i)->y;
        h.view->m_nXOffset = static_cast<int>(std::lround(dx / l.GetCount()));
        h.view->m_nYOffset = static_cast<int>(std::lround(dy / l.GetCount()));
        h.view->m_bOffsetChanged = true;
        h.Draw();
    }
    CPoint center;  // logical position of the middle of the points
    COrvaneDoc& Doc() { return *h.doc; }
    CAerialPhoto& Left() { return h.doc->m_leftPhoto; }
    CAerialPhoto& Right() { return h.doc->m_rightPhoto; }
    int ClientHeight() { return h.view->GetClientRect().Height(); }

    // A live point whose left image position is inside the view, away from its
    // edges, with no other point within `clear` pixels.
    int IsolatedVisiblePoint(double clear = 6.0, int margin = 40) {
        CTINPoints& l = *Left().m_pImagePoints;
        CRect rc = h.view->GetClientRect();
        CPoint s = h.view->GetScrollPosition();
        rc.OffsetRect(s.x, s.y);
        auto inside = [&](double x, double y) {
            return x > rc.left + margin && y > rc.top + margin && x < rc.right - margin &&
                   y < rc.bottom - margin;
        };
        for (int i = 0; i < l.GetCount(); ++i) {
            const TINPoint* p = l.GetPoint(i);
            if (p->id < 0 || !inside(p->x, p->y)) continue;
            // Its right image position must be inside the view too.
            const TINPoint* r = Right().m_pImagePoints->GetPoint(i);
            if (!inside(r->x + h.view->m_nXOffset, r->y - h.view->m_nYOffset)) continue;
            bool alone = true;
            for (int j = 0; j < l.GetCount() && alone; ++j)
                if (j != i && std::hypot(l.GetPoint(j)->x - p->x, l.GetPoint(j)->y - p->y) < clear)
                    alone = false;
            if (alone) return i;
        }
        return -1;
    }

    // GL window position of image point i of a photograph, with the view's transform.
    CPoint GLOf(CAerialPhoto& photo, int i) {
        const TINPoint* p = photo.m_pImagePoints->GetPoint(i);
        const int rows = photo.m_image.GetSize().cy;
        double x = p->x + photo.m_nRasterX - photo.m_nFirstCol;
        double y = photo.m_nRasterY + rows - photo.m_nFirstRow - p->y;
        return CPoint(static_cast<int>(std::floor(x)), static_cast<int>(std::floor(y)));
    }

    // Client point of a left image position.
    CPoint ClientOf(double column, double row) {
        CPoint s = h.view->GetScrollPosition();
        return CPoint(static_cast<int>(column) - s.x, static_cast<int>(row) - s.y);
    }

    AppHarness h;
};

// The mouse, wheel and key handlers and the selection modes; ViewTest holds
// the drawing and the commands (two suites: two processes that can run side
// by side).
class ViewInput : public ViewTest {};

}  // namespace

// --- Drawing ------------------------------------------------------------------

TEST_F(ViewTest, LeftImagePixelLandsWherePixelProjectionSays) {
    h.view->ScrollToPosition(CPoint(37, 21));
    h.Draw();
    const CPoint s = h.view->GetScrollPosition();
    ASSERT_EQ(+s.x, 37);
    ASSERT_EQ(+s.y, 21);
    const int H = ClientHeight();
    const unsigned char* const* bands = Left().m_image.GetBands();
    const int cols = Left().m_image.GetSize().cx;
    const std::array<int, 256> grey = StretchedGreys(Left());
    int checked = 0, matched = 0;
    for (int y = 100; y < 400; y += 37) {
        for (int x = 100; x < 500; x += 41) {
            // Stay clear of points.
            if (Left().FindImagePoint(x, y, 5.0) >= 0) continue;
            const int expected = grey[bands[0][static_cast<size_t>(y) * cols + x]];
            auto px = h.Pixel(GL_FRONT_LEFT, x - s.x, H - 1 - (y - s.y));
            ++checked;
            if (IsGrey(px) && std::abs(px[0] - expected) <= 1) ++matched;
        }
    }
    ASSERT_GT(checked, 20);
    EXPECT_GE(matched, checked * 9 / 10);
}

TEST_F(ViewTest, RightImageIsShiftedByTheOffsetsAndStartsFromPositiveRaster) {
    h.view->ScrollToPosition(CPoint(0, 0));
    h.view->m_nXOffset = 100;
    h.view->m_nYOffset = 7;
    h.view->m_bOffsetChanged = true;
    h.Draw();
    // The visible rectangle starts left of the right image: drawn from raster x 100.
    EXPECT_EQ(Right().m_nFirstCol, 0);
    EXPECT_EQ(Right().m_nRasterX, 100);
    const int H = ClientHeight();
    const unsigned char* const* bands = Right().m_image.GetBands();
    const int cols = Right().m_image.GetSize().cx;
    const std::array<int, 256> grey = StretchedGreys(Right());
    int checked = 0, matched = 0;
    for (int y = 60; y < 400; y += 31) {
        for (int x = 20; x < 400; x += 43) {
            if (Right().FindImagePoint(x, y, 5.0) >= 0) continue;
            const int expected = grey[bands[0][static_cast<size_t>(y) * cols + x]];
            // Shifted 100 right and 7 up.
            auto px = h.Pixel(GL_FRONT_RIGHT, x + 100, H - 1 - y + 7);
            ++checked;
            if (IsGrey(px) && std::abs(px[0] - expected) <= 1) ++matched;
        }
    }
    ASSERT_GT(checked, 20);
    EXPECT_GE(matched, checked * 9 / 10);
}

TEST_F(ViewTest, PointsDrawnInBothEyesSelectedInSelectedColourDeletedNeitherDrawnNorPicked) {
    AlignEyes();
    const int i = IsolatedVisiblePoint();
    ASSERT_GE(i, 0);
    CPoint l = GLOf(Left(), i), r = GLOf(Right(), i);
    EXPECT_TRUE(Is(h.Pixel(GL_FRONT_LEFT, l.x, l.y), h.view->m_rgbPoints));
    EXPECT_TRUE(Is(h.Pixel(GL_FRONT_RIGHT, r.x, r.y), h.view->m_rgbPoints));
    Doc().SelectPoint(i);
    h.Draw();
    EXPECT_TRUE(Is(h.Pixel(GL_FRONT_LEFT, l.x, l.y), h.view->m_rgbSelected));
    EXPECT_TRUE(Is(h.Pixel(GL_FRONT_RIGHT, r.x, r.y), h.view->m_rgbSelected));
    // The mouse picks it where it is drawn, and no longer once deleted.
    const TINPoint* p = Left().m_pImagePoints->GetPoint(i);
    const CPoint client = ClientOf(p->x, p->y);
    ASSERT_EQ(h.view->PickPoint(client), i);
    h.view->OnDeletePoints();
    EXPECT_TRUE(Left().m_selection.empty());
    EXPECT_EQ(h.view->PickPoint(client), -1);
    h.Draw();
    EXPECT_TRUE(IsGrey(h.Pixel(GL_FRONT_LEFT, l.x, l.y)));
    EXPECT_TRUE(IsGrey(h.Pixel(GL_FRONT_RIGHT, r.x, r.y)));
}

TEST_F(ViewTest, MarksAreParallaxApart) {
    h.view->m_ptMark = CPoint(300, 200);
    h.Draw();
    auto whiteArm = [&](GLenum buffer, int x, int y) {
        for (int row : {y, y - 1}) {
            bool all = true;
            for (int dx = -2; dx <= 2; ++dx)
                all &= Is(h.Pixel(buffer, x + dx, row), {255, 255, 255});
            if (all) return true;
        }
        return false;
    };
    EXPECT_TRUE(whiteArm(GL_FRONT_LEFT, 300, 200));
    EXPECT_TRUE(whiteArm(GL_FRONT_RIGHT, 330, 200));
    EXPECT_FALSE(whiteArm(GL_FRONT_RIGHT, 300, 200) && whiteArm(GL_FRONT_LEFT, 330, 200));
}

TEST_F(ViewTest, GreyStretchMapsLoToHiAndEqualSamplesToOne) {
    h.view->InitGreyMap();
    std::vector<unsigned char> copy = {10, 12, 20, 15};
    h.view->ComputeGreyMap(copy.data(), 2, 2);
    EXPECT_FLOAT_EQ(h.view->m_greyMap[10], 1.0f / 11.0f);
    EXPECT_FLOAT_EQ(h.view->m_greyMap[15], 6.0f / 11.0f);
    EXPECT_FLOAT_EQ(h.view->m_greyMap[20], 1.0f);
    EXPECT_FLOAT_EQ(h.view->m_greyMap[9], 9.0f / 255.0f);    // kept
    EXPECT_FLOAT_EQ(h.view->m_greyMap[21], 21.0f / 255.0f);  // kept
    std::vector<unsigned char> flat(6, 77);
    h.view->ComputeGreyMap(flat.data(), 2, 3);
    EXPECT_FLOAT_EQ(h.view->m_greyMap[77], 1.0f);
}

TEST_F(ViewTest, DisplayListsReplayedWhenNothingMovedRebuiltWhenScrolled) {
    const int left = h.view->m_nListBuilds[1], right = h.view->m_nListBuilds[2];
    h.Draw();
    h.Draw();
    EXPECT_EQ(h.view->m_nListBuilds[1], left);
    EXPECT_EQ(h.view->m_nListBuilds[2], right);
    h.view->ScrollToPosition(CPoint(50, 30));
    h.Draw();
    EXPECT_EQ(h.view->m_nListBuilds[1], left + 1);
    EXPECT_EQ(h.view->m_nListBuilds[2], right + 1);
    h.view->OnKeyDown(VK_UP, 1, 0);  // offset change rebuilds only the right list
    h.Draw();
    EXPECT_EQ(h.view->m_nListBuilds[1], left + 1);
    EXPECT_EQ(h.view->m_nListBuilds[2], right + 2);
}

// --- Mark, wheel and keys ---------------------------------------------------------

// A notch towards the user (negative delta) lowers, away raises; without a
// selection it steps the parallax. With Shift the points move along their
// left rays (the geometry of both moves: PointEditorEdits in src/Editing).
TEST_F(ViewInput, WheelStepsParallaxWithoutSelectionAndTheSelectionByTheStepWithIt) {
    EXPECT_EQ(h.view->m_nParallax, 30);
    h.view->OnMouseWheel(0, -120, CPoint());
    EXPECT_EQ(h.view->m_nParallax, 31);
    h.view->OnMouseWheel(0, 120, CPoint());
    h.view->OnMouseWheel(0, 120, CPoint());
    EXPECT_EQ(h.view->m_nParallax, 29);

    Doc().SelectPoint(100);
    Doc().SelectPoint(200);
    const double step = h.view->m_dZIncrement;
    const TINPoint g0 = *Doc().m_points.GetPoint(100);
    const TINPoint l0 = *Left().m_pImagePoints->GetPoint(100);
    h.view->OnMouseWheel(MK_SHIFT, 120, CPoint());
    const TINPoint g1 = *Doc().m_points.GetPoint(100);
    EXPECT_NEAR(+g1.z, +g0.z + step, 1e-9);
    EXPECT_NE(+g1.x, +g0.x);
    EXPECT_NEAR(+Left().m_pImagePoints->GetPoint(100)->x, +l0.x, 1e-9);
    EXPECT_NEAR(+Left().m_pImagePoints->GetPoint(100)->y, +l0.y, 1e-9);
    EXPECT_TRUE(Doc().m_bZEdited);
    EXPECT_TRUE(Doc().IsModified());
    // Without Shift: Z down by the step in place.
    h.view->OnMouseWheel(0, -120, CPoint());
    EXPECT_NEAR(+Doc().m_points.GetPoint(100)->z, +g1.z - step, 1e-9);
    EXPECT_EQ(+Doc().m_points.GetPoint(100)->x, +g1.x);
    EXPECT_EQ(h.view->m_nParallax, 29);
}

TEST_F(ViewInput, ArrowKeysUseRepeatCount) {
    h.view->OnKeyDown(VK_RIGHT, 3, 0);
    EXPECT_EQ(h.view->m_nXOffset, 675);
    EXPECT_TRUE(h.view->m_bOffsetChanged);
    h.view->OnKeyDown(VK_LEFT, 1, 0);
    EXPECT_EQ(h.view->m_nXOffset, 670);
    h.view->OnKeyDown(VK_UP, 2, 0);
    h.view->OnKeyDown(VK_DOWN, 5, 0);
    EXPECT_EQ(h.view->m_nYOffset, -3);
}

TEST_F(ViewInput, CharactersChangeStepAndPointSizeCaseSensitively) {
    for (int k = 0; k < 3; ++k) h.view->OnChar('x', 1, 0);
    EXPECT_DOUBLE_EQ(h.view->m_dZIncrement, 0.24);
    h.view->OnChar('z', 1, 0);
    EXPECT_DOUBLE_EQ(h.view->m_dZIncrement, 0.12);
    EXPECT_EQ(h.frame->GetStatusBar()->GetPaneText(0), "(0.120000)");
    h.view->OnChar('X', 1, 0);
    EXPECT_EQ(h.view->m_nPointSize, 4);
    for (int k = 0; k < 6; ++k) h.view->OnChar('Z', 1, 0);
    EXPECT_EQ(h.view->m_nPointSize, 1);
    EXPECT_EQ(h.frame->GetStatusBar()->GetPaneText(0), "(1)");
}

// "A" adds a point under the left mark at the Default Z (its right position
// and the editor's refusals: PointEditorEdits in src/Editing).
TEST_F(ViewInput, AddPointAtMarkUsesTheMarkAndDefaultZ) {
    const CPoint s = h.view->GetScrollPosition();
    h.view->m_ptMark = CPoint(320, ClientHeight() - 240);  // client (320, 240)
    const int n = Doc().m_points.GetCount();
    h.view->OnChar('A', 1, 0);
    ASSERT_EQ(Doc().m_points.GetCount(), n + 1);
    const TINPoint* g = Doc().m_points.GetPoint(n);
    const TINPoint* l = Left().m_pImagePoints->GetPoint(n);
    EXPECT_EQ(g->id, n);
    EXPECT_DOUBLE_EQ(+g->z, h.view->m_dDefaultZ);
    EXPECT_DOUBLE_EQ(+l->x, 320.0 + +s.x);
    EXPECT_DOUBLE_EQ(+l->y, 240.0 + +s.y);
    EXPECT_TRUE(Doc().IsModified());
    // Far outside the ground extent the editor refuses the point.
    h.view->m_dDefaultZ = 1e7;
    ScopedMessageCapture capture;
    EXPECT_LT(h.view->AddPointAtMark(), 0);
    EXPECT_EQ(Doc().m_points.GetCount(), n + 1);
}

TEST(ViewWithoutProject, AddPointIgnoredWithoutImagePointSets) {
    AppHarness h;
    ASSERT_TRUE(h.view);
    h.view->m_strLeftImage = "named.lan";  // a load that failed after naming the files
    h.view->OnChar('A', 1, 0);
    EXPECT_EQ(h.doc->m_points.GetCount(), 0);
}

TEST_F(ViewInput, NeighbourSteppingReleasesWithWeightRule) {
    // A point with a neighbour towards larger X.
    int start = -1, next = -1;
    for (int i = 0; i < Doc().m_points.GetCount() && next < 0; ++i) {
        h.view->m_nCurrentPoint = i;
        int n = h.view->MoveToNeighbour(1);
        if (n >= 0) start = i, next = n;
    }
    ASSERT_GE(next, 0);
    Doc().m_points.GetPoint(start)->weight = 0.5;
    Doc().SelectPoint(start);
    h.view->OnMouseWheel(0, 120, CPoint());  // an edit: the weight rule applies
    h.view->OnChar('d', 1, 0);
    EXPECT_EQ(+Doc().m_points.GetPoint(start)->weight, 0.95);
    ASSERT_EQ(Left().m_selection.size(), 1u);
    EXPECT_EQ(Left().m_selection[0].id, next);
    EXPECT_EQ(Right().m_selection[0].id, next);
    EXPECT_EQ(h.view->m_nCurrentPoint, next);
    EXPECT_GT(+Doc().m_points.GetPoint(next)->x, +Doc().m_points.GetPoint(start)->x);
}

TEST_F(ViewInput, GoToPointScrollsGroundPositionToCentre) {
    const TINPoint* g = Doc().m_points.GetPoint(Doc().m_points.GetCount() / 2);
    const TINPoint target = *g;
    h.view->m_fnRunDialog = [&](QDialog& d) {
        auto& dlg = dynamic_cast<C3DCoordInput&>(d);
        dlg.m_dX = target.x;
        dlg.m_dY = target.y;
        dlg.m_dZ = target.z;
        return true;
    };
    h.view->OnGoToPoint();
    const TINPoint* l = Left().m_pImagePoints->GetPoint(target.id);
    CRect rc = h.view->GetClientRect();
    CPoint s = h.view->GetScrollPosition();
    // Every point of the photograph can come to the centre: no clamping.
    EXPECT_EQ(+s.x, static_cast<int>(+l->x - rc.Width() / 2));
    EXPECT_EQ(+s.y, static_cast<int>(+l->y - rc.Height() / 2));
    // The pair fuses at the typed height there: the right image's picture
    // of the point lies on the left one's (whole pixels).
    const TINPoint* r = Right().m_pImagePoints->GetPoint(target.id);
    const CStereoFrame f = h.view->GetStereoFrame();
    const StereoPoint a = f.SubImageToClient(CStereoFrame::kLeft, {l->x, l->y});
    const StereoPoint b = f.SubImageToClient(CStereoFrame::kRight, {r->x, r->y});
    EXPECT_NEAR(a.x, b.x, 0.51);
    EXPECT_NEAR(a.y, b.y, 0.51);
}

// --- Selection ------------------------------------------------------------------

TEST_F(ViewInput, ClickWithoutMovingReleasesSelection) {
    Doc().SelectPoint(3);
    h.view->OnLButtonDown(MK_LBUTTON, CPoint(50, 50));
    h.view->OnLButtonUp(0, CPoint(50, 50));
    EXPECT_TRUE(Left().m_selection.empty());
    EXPECT_TRUE(Right().m_selection.empty());
}

TEST_F(ViewInput, RubberBandSelectsPointsInsideRectangle) {
    h.view->OnLButtonDown(MK_LBUTTON, CPoint(100, 100));
    h.view->OnMouseMove(MK_LBUTTON, CPoint(300, 250));
    EXPECT_EQ(h.frame->GetStatusBar()->GetPaneText(0), "(100, 100, 300, 250)");
    h.view->OnLButtonUp(0, CPoint(300, 250));
    CPoint s = h.view->GetScrollPosition();
    int expected = 0;
    for (int i = 0; i < Doc().m_points.GetCount(); ++i) {
        const TINPoint* p = Left().m_pImagePoints->GetPoint(i);
        if (p->x >= 100 + s.x && p->x <= 300 + s.x && p->y >= 100 + s.y && p->y <= 250 + s.y)
            ++expected;
    }
    EXPECT_GT(expected, 0);
    EXPECT_EQ(static_cast<int>(Left().m_selection.size()), expected);
    EXPECT_EQ(Right().m_selection.size(), Left().m_selection.size());
}

namespace {

// Clicks a left image point in polygon mode; true when it became a vertex.
bool ClickVertex(ViewTest* t, AppHarness& h, CAerialPhoto& left, int id) {
    (void)t;
    const TINPoint* p = left.m_pImagePoints->GetPoint(id);
    CPoint s = h.view->GetScrollPosition();
    const size_t before = left.m_polygon.size();
    for (int dx : {0, 1}) {
        for (int dy : {0, 1}) {
            h.view->OnLButtonDown(MK_LBUTTON, CPoint(static_cast<int>(p->x) + dx - s.x,
                                                     static_cast<int>(p->y) + dy - s.y));
            if (left.m_polygon.size() > before) return true;
        }
    }
    return false;
}

}  // namespace

TEST_F(ViewInput, PolygonOfThreeCornersSelectsCornersAndInside) {
    // Three corners around the middle of the view.
    CTINPoints& l = *Left().m_pImagePoints;
    auto nearest = [&](double x, double y) {
        int best = -1;
        double bd = 1e300;
        for (int i = 0; i < l.GetCount(); ++i) {
            double d = std::hypot(l.GetPoint(i)->x - x, l.GetPoint(i)->y - y);
            if (d < bd) bd = d, best = i;
        }
        return best;
    };
    const int a = nearest(center.x - 120, center.y - 100),
              b = nearest(center.x + 130, center.y - 90), c = nearest(center.x, center.y + 120);
    const double za = Doc().m_points.GetPoint(a)->z, zb = Doc().m_points.GetPoint(b)->z,
                 zc = Doc().m_points.GetPoint(c)->z;
    Doc().SelectPoint(7);
    h.view->OnCommand(ID_TIN_POLYGONSELECTING);
    EXPECT_EQ(h.view->m_nMode, 2);
    ASSERT_TRUE(ClickVertex(this, h, Left(), a));
    ASSERT_TRUE(ClickVertex(this, h, Left(), b));
    ASSERT_TRUE(ClickVertex(this, h, Left(), c));
    h.view->OnRButtonDown(MK_RBUTTON, CPoint(10, 10));
    EXPECT_EQ(h.view->m_nMode, 0);
    ASSERT_GE(Left().m_selection.size(), 4u);
    EXPECT_EQ(Left().m_selection[0].id, a);
    EXPECT_EQ(Left().m_selection[3].id, a);  // the closing copy
    EXPECT_EQ(Right().m_selection.size(), Left().m_selection.size());

    // Fit To Plane through the 3 corners keeps their heights and puts the
    // inner points on their plane.
    h.view->OnFitToPlane();
    EXPECT_NEAR(+Doc().m_points.GetPoint(a)->z, za, 1e-6);
    EXPECT_NEAR(+Doc().m_points.GetPoint(b)->z, zb, 1e-6);
    EXPECT_NEAR(+Doc().m_points.GetPoint(c)->z, zc, 1e-6);
    EXPECT_TRUE(Doc().m_bZEdited);
    EXPECT_TRUE(Doc().IsModified());
}

TEST_F(ViewInput, RightClickAfterTwoVerticesKeepsEarlierSelection) {
    Doc().SelectPoint(7);
    h.view->OnPolygonSelecting();
    CTINPoints& l = *Left().m_pImagePoints;
    int clicked = 0;
    for (int i = 0; i < l.GetCount() && clicked < 2; ++i) {
        const TINPoint* p = l.GetPoint(i);
        if (std::hypot(p->x - center.x, p->y - center.y) < 150 &&
            ClickVertex(nullptr, h, Left(), i))
            ++clicked;
    }
    ASSERT_EQ(Left().m_polygon.size(), 2u);
    h.view->OnRButtonDown(MK_RBUTTON, CPoint(10, 10));
    EXPECT_EQ(h.view->m_nMode, 0);
    EXPECT_TRUE(Left().m_polygon.empty());
    ASSERT_EQ(Left().m_selection.size(), 1u);
    EXPECT_EQ(Left().m_selection[0].id, 7);
}

// --- Editing commands ---------------------------------------------------------

// Fit To Plane, Smooth and Delete Points refuse what they cannot work on
// with their messages; smoothing four entries edits them and marks the
// document, one point repeated four times defines no plane and says so (the
// planes themselves: PointEditorEdits in src/Editing).
TEST_F(ViewTest, EditingCommandsRefuseWithTheirMessagesOrEditAndMarkTheDocument) {
    {
        ScopedMessageCapture capture;
        h.view->OnFitToPlane();
        h.view->OnSmoothSlope();
        h.view->OnDeletePoints();
        Doc().SelectPoint(1);
        Doc().SelectPoint(2);
        Doc().SelectPoint(3);
        h.view->OnSmoothAverage();
        std::vector<std::string> expected = {
            "Please select at least 3 points.", "Please select more than 3 points.",
            "Please select some points.", "Please select more than 3 points."};
        EXPECT_EQ(capture.Texts(), expected);
        for (const auto& m : capture.Messages()) EXPECT_EQ(m.kind, Platform::MessageKind::Plain);
    }
    EXPECT_FALSE(Doc().IsModified());
    Doc().ReleaseSelection();
    for (int i : {100, 101, 150, 151}) Doc().SelectPoint(i);
    const double z = Doc().m_points.GetPoint(100)->z;
    h.view->OnSmoothSlope();
    EXPECT_NE(+Doc().m_points.GetPoint(100)->z, z);
    EXPECT_FALSE(Doc().m_bZEdited);  // smoothing leaves the edited flag alone
    EXPECT_TRUE(Doc().IsModified());

    Doc().ReleaseSelection();
    for (int k = 0; k < 4; ++k) Doc().SelectPoint(42);
    const double z42 = Doc().m_points.GetPoint(42)->z;
    ScopedMessageCapture capture;
    h.view->OnSmoothSlope();
    EXPECT_EQ(+Doc().m_points.GetPoint(42)->z, z42);
    ASSERT_EQ(capture.Texts(), std::vector<std::string>{"The chosen points do not define a plane; "
                                                        "no height was changed."});
}

// Set To A New Z takes the dialog's value for the selection along the left
// rays (the geometry: PointEditorEdits in src/Editing); OK marks the
// document modified even with nothing selected.
TEST_F(ViewTest, SetToNewZTakesTheDialogsValue) {
    const int i = 300;
    const TINPoint l0 = *Left().m_pImagePoints->GetPoint(i);
    Doc().SelectPoint(i);
    h.view->m_fnRunDialog = [](QDialog& d) {
        dynamic_cast<CValueInput&>(d).m_dValue = 250.0;
        return true;
    };
    h.view->OnSetNewZ();
    EXPECT_NEAR(+Doc().m_points.GetPoint(i)->z, 250.0, 1e-9);
    EXPECT_EQ(+Left().m_pImagePoints->GetPoint(i)->x, +l0.x);
    EXPECT_EQ(+Left().m_pImagePoints->GetPoint(i)->y, +l0.y);
    EXPECT_TRUE(Doc().m_bZEdited);
    // An empty selection with OK still marks the document modified.
    Doc().ReleaseSelection();
    Doc().SetModifiedFlag(false);
    h.view->OnSetNewZ();
    EXPECT_TRUE(Doc().IsModified());
}

TEST_F(ViewTest, OptionsDialogFillsFromViewAndWritesSevenValuesBack) {
    h.view->m_fnRunDialog = [&](QDialog& d) {
        auto& dlg = dynamic_cast<CMevrithOpt&>(d);
        EXPECT_EQ(dlg.m_nXOffset, 660);
        EXPECT_EQ(dlg.m_nPointSize, 3);
        EXPECT_EQ(dlg.m_rgbPoints, (RGBColor{0, 255, 255}));
        dlg.m_nXOffset = 12;
        dlg.m_nYOffset = -4;
        dlg.m_nPointSize = 7;
        dlg.m_dZIncrement = 0.5;
        dlg.m_dDefaultZ = 99.0;
        dlg.m_rgbPoints = RGBColor{1, 2, 3};
        dlg.m_rgbSelected = RGBColor{4, 5, 6};
        return true;
    };
    h.view->OnOptions();
    EXPECT_EQ(h.view->m_nXOffset, 12);
    EXPECT_EQ(h.view->m_nYOffset, -4);
    EXPECT_EQ(h.view->m_nPointSize, 7);
    EXPECT_EQ(h.view->m_dZIncrement, 0.5);
    EXPECT_EQ(h.view->m_dDefaultZ, 99.0);
    EXPECT_EQ(h.view->m_rgbPoints, (RGBColor{1, 2, 3}));
    EXPECT_EQ(h.view->m_rgbSelected, (RGBColor{4, 5, 6}));
    EXPECT_TRUE(h.view->m_bOffsetChanged);
}

TEST_F(ViewTest, TestCommandIsHarmlessWithMissingOrBrokenFile) {
    h.view->m_strTestPoints = "/nonexistent/test.pts";
    h.view->OnTest();
    QTemporaryDir dir;
    h.view->m_strTestPoints = dir.path().toStdString() + "/broken.pts";
    std::ofstream(h.view->m_strTestPoints) << "not a points file";
    h.view->OnTest();
    h.view->m_strTestPoints = SmallDemo().pointsFile;
    const int n = Doc().m_points.GetCount();
    h.view->OnTest();
    EXPECT_EQ(Doc().m_points.GetCount(), n);
}

// --- The same operations through Qt events on the view's GL window ----------------

TEST_F(ViewInput, QtEventsOnTheGLWindowReachTheHandlers) {
    QWindow* surface = h.view->GetSurfaceWindow();
    ASSERT_TRUE(surface);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(surface));
    // The mark follows the mouse where no point is within the pick radius.
    CPoint s = h.view->GetScrollPosition();
    QPoint free;
    bool found = false;
    for (int y = 40; y < 300 && !found; y += 7)
        for (int x = 40; x < 300 && !found; x += 7)
            if (Left().FindImagePoint(x + s.x, y + s.y, 8.0) < 0) free = QPoint(x, y), found = true;
    ASSERT_TRUE(found);
    QTest::mouseMove(surface, free);
    WaitFor([&] { return h.view->m_ptMark.x == free.x(); });
    EXPECT_EQ(+h.view->m_ptMark.x, free.x());
    EXPECT_EQ(+h.view->m_ptMark.y, ClientHeight() - free.y());
    // Characters are case-sensitive: "x" doubles the step, "X" grows the points.
    QTest::keyClick(surface, 'x');
    QTest::keyClick(surface, 'X');
    WaitFor([&] { return h.view->m_nPointSize == 4; });
    EXPECT_DOUBLE_EQ(h.view->m_dZIncrement, 0.06);
    EXPECT_EQ(h.view->m_nPointSize, 4);
    QTest::keyClick(surface, Qt::Key_Right);
    WaitFor([&] { return h.view->m_nXOffset == 665; });
    EXPECT_EQ(h.view->m_nXOffset, 665);
    // A wheel notch towards the user with nothing selected: parallax + 1.
    QWheelEvent wheel(QPointF(free), surface->mapToGlobal(QPointF(free)), QPoint(), QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(surface, &wheel);
    WaitFor([&] { return h.view->m_nParallax == 31; });
    EXPECT_EQ(h.view->m_nParallax, 31);
    // A dragged rectangle selects the points inside it.
    const QPoint from(center.x - s.x - 80, center.y - s.y - 60), to(from + QPoint(160, 120));
    QTest::mousePress(surface, Qt::LeftButton, Qt::NoModifier, from);
    QTest::mouseMove(surface, to);
    QTest::mouseRelease(surface, Qt::LeftButton, Qt::NoModifier, to);
    WaitFor([&] { return !Left().m_selection.empty(); });
    int expected = 0;
    for (int i = 0; i < Doc().m_points.GetCount(); ++i) {
        const TINPoint* p = Left().m_pImagePoints->GetPoint(i);
        if (p->x >= from.x() + s.x && p->x <= to.x() + s.x && p->y >= from.y() + s.y &&
            p->y <= to.y() + s.y)
            ++expected;
    }
    EXPECT_GT(expected, 0);
    EXPECT_EQ(static_cast<int>(Left().m_selection.size()), expected);
}

TEST(ViewPointBitmaps, ManyPointsAsOneBitmapGiveTheSamePixelsAsGLPoints) {
    AppHarness h;
    ASSERT_TRUE(h.view);
    const demo::DemoResult& d = DenseDemo();
    ASSERT_EQ(h.Load(ProjectPaths{d.leftImage, d.rightImage, d.leftOrientation, d.rightOrientation,
                                  d.pointsFile}),
              1);
    // Scroll to the points, select a block of them so both passes are large.
    CTINPoints& l = *h.doc->m_leftPhoto.m_pImagePoints;
    double cx = 0, cy = 0;
    for (int i = 0; i < l.GetCount(); ++i) cx += l.GetPoint(i)->x, cy += l.GetPoint(i)->y;
    cx /= l.GetCount();
    cy /= l.GetCount();
    CRect rc = h.view->GetClientRect();
    h.view->ScrollToPosition(
        CPoint(static_cast<int>(cx) - rc.Width() / 2, static_cast<int>(cy) - rc.Height() / 2));
    h.view->SelectInRect(-100000, -100000, static_cast<int>(cx), 100000);
    ASSERT_GT(h.doc->m_leftPhoto.m_selection.size(),
              static_cast<size_t>(rc.Width()) * rc.Height() / 20);
    for (int size : {1, 2, 3}) {
        h.view->m_nPointSize = size;
        h.view->m_bPointBitmaps = true;
        h.Draw();
        auto bitmap = h.view->ReadBufferPixels(GL_FRONT_LEFT, 0, 0, rc.Width(), rc.Height());
        auto bitmapRight = h.view->ReadBufferPixels(GL_FRONT_RIGHT, 0, 0, rc.Width(), rc.Height());
        h.view->m_bPointBitmaps = false;
        h.Draw();
        auto points = h.view->ReadBufferPixels(GL_FRONT_LEFT, 0, 0, rc.Width(), rc.Height());
        auto pointsRight = h.view->ReadBufferPixels(GL_FRONT_RIGHT, 0, 0, rc.Width(), rc.Height());
        ASSERT_FALSE(bitmap.empty());
        EXPECT_TRUE(bitmap == points) << "point size " << size;
        EXPECT_TRUE(bitmapRight == pointsRight) << "point size " << size;
    }
    // An unchanged pass replays its recorded bitmap; moved points build a new one.
    h.view->m_bPointBitmaps = true;
    h.Draw();
    h.Draw();
    auto replayed = h.view->ReadBufferPixels(GL_FRONT_RIGHT, 0, 0, rc.Width(), rc.Height());
    for (int notch = 0; notch < 40; ++notch) h.view->OnMouseWheel(0, 120, CPoint());
    h.Draw();
    auto moved = h.view->ReadBufferPixels(GL_FRONT_RIGHT, 0, 0, rc.Width(), rc.Height());
    h.view->m_bPointBitmaps = false;
    h.Draw();
    auto movedPoints = h.view->ReadBufferPixels(GL_FRONT_RIGHT, 0, 0, rc.Width(), rc.Height());
    EXPECT_TRUE(moved == movedPoints);
    EXPECT_FALSE(moved == replayed);
}
