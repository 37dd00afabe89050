// Points painted into the images' pictures against the same scene drawn with
// GL points over the image alone: both eyes read back and compared byte for
// byte while panning at point sizes 1 to 3, and with a selection and the
// image partly off the window; and an unchanged frame replays its lists
// without painting again. The squares themselves are compared with the GL's
// rule for points, in more sizes, colours and after edits, by the core test
// of PaintPointSquares (src/StereoView).
#include <algorithm>

#include "testing/OrvaneTestSupport.h"

using namespace orvane_test;

namespace {

class PointPassesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(h.view);
        const demo::DemoResult& d = DenseDemo();
        ASSERT_EQ(h.Load(ProjectPaths{d.leftImage, d.rightImage, d.leftOrientation,
                                      d.rightOrientation, d.pointsFile}),
                  1);
        CTINPoints& l = *h.doc->m_leftPhoto.m_pImagePoints;
        double sx = 0, sy = 0;
        for (int i = 0; i < l.GetCount(); ++i) sx += l.GetPoint(i)->x, sy += l.GetPoint(i)->y;
        centre = CPoint(static_cast<int>(sx / l.GetCount()), static_cast<int>(sy / l.GetCount()));
        rc = h.view->GetClientRect();
        h.view->ScrollToPosition(CPoint(centre.x - rc.Width() / 2, centre.y - rc.Height() / 2));
        h.view->m_ptMark = CPoint(rc.Width() / 3, rc.Height() / 3);
        SelectBlock();
        ASSERT_GT(h.doc->m_leftPhoto.m_selection.size(), CPointPasses::kIntoImageFrom);
    }
    // A block of selected points: the left third of the points.
    void SelectBlock() {
        const CTINPoints& l = *h.doc->m_leftPhoto.m_pImagePoints;
        for (int i = 0; i < l.GetCount(); ++i)
            if (l.GetPoint(i)->x < centre.x - rc.Width() / 6) h.doc->SelectPoint(i);
    }

    struct Frame {
        std::vector<unsigned char> left, right;
    };
    Frame Draw(bool intoImage) {
        h.view->m_bPointBitmaps = intoImage;
        h.Draw();
        return Frame{h.view->ReadBufferPixels(GL_FRONT_LEFT, 0, 0, rc.Width(), rc.Height()),
                     h.view->ReadBufferPixels(GL_FRONT_RIGHT, 0, 0, rc.Width(), rc.Height())};
    }
    // Painted and GL points give the same pixels; the painted frame took the
    // picture path. Both colours drawn, the selected one when there is a selection.
    void ExpectSameAsGLPoints(const char* what, bool withSelection = true) {
        const int pictures[2] = {Passes().m_nPictures[0], Passes().m_nPictures[1]};
        const Frame painted = Draw(true);
        EXPECT_TRUE(Passes().IntoImage(0) && Passes().IntoImage(1)) << what;
        EXPECT_GT(Passes().m_nPictures[0] + Passes().m_nPictures[1], pictures[0] + pictures[1])
            << what;
        const Frame points = Draw(false);
        EXPECT_FALSE(Passes().IntoImage(0) || Passes().IntoImage(1)) << what;
        ASSERT_FALSE(painted.left.empty());
        EXPECT_TRUE(painted.left == points.left) << what << ": left eye differs";
        EXPECT_TRUE(painted.right == points.right) << what << ": right eye differs";
        // Something of both colours was drawn.
        auto has = [](const std::vector<unsigned char>& px, RGBColor c) {
            for (size_t i = 0; i + 2 < px.size(); i += 3)
                if (px[i] == c.r && px[i + 1] == c.g && px[i + 2] == c.b) return true;
            return false;
        };
        EXPECT_TRUE(has(painted.left, h.view->m_rgbPoints)) << what;
        if (withSelection) {
            EXPECT_TRUE(has(painted.left, h.view->m_rgbSelected)) << what;
        }
    }
    const CPointPasses& Passes() const { return h.view->GetPointPasses(); }

    AppHarness h;
    CPoint centre;
    CRect rc;
};

}  // namespace

TEST_F(PointPassesTest, UnchangedFramesReplayPanningPaintsAgain) {
    Draw(true);
    const int pictures = Passes().m_nPictures[0] + Passes().m_nPictures[1];
    const int lists = h.view->m_nListBuilds[1] + h.view->m_nListBuilds[2];
    const Frame first = Draw(true);
    h.view->m_ptMark = CPoint(rc.Width() / 2, rc.Height() / 4);  // a mouse move
    const Frame moved = Draw(true);
    EXPECT_EQ(Passes().m_nPictures[0] + Passes().m_nPictures[1], pictures);
    EXPECT_EQ(h.view->m_nListBuilds[1] + h.view->m_nListBuilds[2], lists);
    EXPECT_FALSE(first.left == moved.left);  // the mark moved over the replayed picture
    // A new selection paints again, and so does every step of a pan.
    h.doc->ReleaseSelection();
    Draw(true);
    EXPECT_EQ(Passes().m_nPictures[0] + Passes().m_nPictures[1], pictures + 2);
    // Each step at another point size (1 to 3), the same pixels as GL points.
    const char* steps[] = {"pan step 1, size 1", "pan step 2, size 2", "pan step 3, size 3"};
    for (int step = 1; step <= 3; ++step) {
        const int before = Passes().m_nPictures[0] + Passes().m_nPictures[1];
        h.view->m_nPointSize = step;
        h.view->ScrollToPosition(
            CPoint(centre.x - rc.Width() / 2 + 3 * step, centre.y - rc.Height() / 2 + 2 * step));
        ExpectSameAsGLPoints(steps[step - 1], false);
        EXPECT_EQ(Passes().m_nPictures[0] + Passes().m_nPictures[1], before + 2);
    }
    // The right image starts 100 pixels into the window: the picture leaves
    // the rest of that eye alone, where the selection still draws.
    SelectBlock();
    h.view->ScrollToPosition(CPoint(0, centre.y - rc.Height() / 2));
    h.view->m_nXOffset = 100;
    h.view->m_bOffsetChanged = true;
    ExpectSameAsGLPoints("image partly off the window");
}
