// Rubber band on a GL view of a real X server: the front buffers and the
// presented picture are read back.
#include "Utils/RubberBand.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QOpenGLContext>
#include <QTest>

#include "OpenGL/OpenGLView.h"

namespace {

class QuietView : public COpenGLView {
public:
    void OnDraw(QPainter*) override {}
};

class RubberBandTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_view = std::make_unique<QuietView>();
        m_view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        m_view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        ASSERT_TRUE(m_view->Create());
        m_view->resize(640, 480);
        m_view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_view->GetSurfaceWindow()));
        QApplication::processEvents();
        m_view->OnInitialUpdate();
        ASSERT_EQ(480, m_view->m_nHeight);
        // A picture in the front left buffer for the band to be drawn over.
        ASSERT_TRUE(m_view->MakeCurrent());
        m_view->SelectBuffer(GL_FRONT_LEFT);
        glClearColor(0.2f, 0.4f, 0.6f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        glColor3f(1.0f, 0.5f, 0.0f);
        glRecti(100, 100, 300, 200);
        glClearColor(0, 0, 0, 0);
        m_view->ReleaseCurrent();
    }

    std::vector<unsigned char> Front() {
        return m_view->ReadBufferPixels(GL_FRONT_LEFT, 0, 0, 640, 480);
    }
    std::array<int, 3> At(const std::vector<unsigned char>& img, int x, int glY) {
        size_t i = (static_cast<size_t>(glY) * 640 + static_cast<size_t>(x)) * 3;
        return {img[i], img[i + 1], img[i + 2]};
    }

    std::unique_ptr<QuietView> m_view;
};

TEST_F(RubberBandTest, TrackAnchorsThenMovesTheEndByTheRules) {
    CRubberBand& band = m_view->m_rubberBand;
    EXPECT_FALSE(band.Track(CPoint(10, 20), false));
    EXPECT_TRUE(band.m_bActive);
    EXPECT_EQ(CRect(10, 20, 10, 20), band.GetRect());
    EXPECT_TRUE(band.Track(CPoint(10, 20), false));
    EXPECT_EQ(CRect(10, 20, 10, 20), band.GetRect());
    // Up or left of the anchor: only with force.
    EXPECT_TRUE(band.Track(CPoint(5, 30), false));
    EXPECT_EQ(CRect(10, 20, 10, 20), band.GetRect());
    EXPECT_TRUE(band.Track(CPoint(5, 30), true));
    EXPECT_EQ(CRect(10, 20, 5, 30), band.GetRect());
    EXPECT_TRUE(band.Track(CPoint(40, 50), false));
    EXPECT_EQ(CRect(10, 20, 40, 50), band.GetRect());
}

TEST_F(RubberBandTest, TrackingToTheSamePointDrawsNothing) {
    CRubberBand& band = m_view->m_rubberBand;
    band.Track(CPoint(50, 60), false);
    band.Track(CPoint(150, 160), false);
    const std::vector<unsigned char> shown = Front();
    EXPECT_TRUE(band.Track(CPoint(150, 160), false));
    EXPECT_EQ(shown, Front());  // drawing again would have erased the band
}

TEST_F(RubberBandTest, DrawingTwiceRestoresTheFrontLeftBufferExactly) {
    const std::vector<unsigned char> before = Front();
    ASSERT_EQ(640u * 480u * 3u, before.size());
    CRubberBand& band = m_view->m_rubberBand;
    band.Track(CPoint(90, 250), false);
    band.Track(CPoint(320, 420), false);  // across the orange rectangle
    const std::vector<unsigned char> with = Front();
    EXPECT_NE(before, with);
    band.DrawBand();
    band.m_bActive = false;
    EXPECT_EQ(before, Front());
    // The back buffers are not touched by the band.
    EXPECT_EQ(nullptr, QOpenGLContext::currentContext());
}

TEST_F(RubberBandTest, WindowRowZeroIsDrawnAtTheTopGLRowOfBothEyes) {
    ASSERT_TRUE(m_view->MakeCurrent());
    m_view->SelectBuffer(GL_FRONT);
    glClear(GL_COLOR_BUFFER_BIT);
    m_view->ReleaseCurrent();
    CRubberBand& band = m_view->m_rubberBand;
    band.Track(CPoint(5, 0), false);
    band.Track(CPoint(30, 10), false);
    for (GLenum eye : {GL_FRONT_LEFT, GL_FRONT_RIGHT}) {
        const std::vector<unsigned char> img = m_view->ReadBufferPixels(eye, 0, 0, 640, 480);
        // Window y 0 -> GL y 479, window y 10 -> GL y 469; XOR of white over black.
        EXPECT_EQ((std::array<int, 3>{255, 255, 255}), At(img, 15, 479));
        EXPECT_EQ((std::array<int, 3>{255, 255, 255}), At(img, 15, 469));
        EXPECT_EQ((std::array<int, 3>{0, 0, 0}), At(img, 15, 474));
        EXPECT_EQ((std::array<int, 3>{255, 255, 255}), At(img, 5, 474));
        EXPECT_EQ((std::array<int, 3>{0, 0, 0}), At(img, 15, 478));
    }
}

// The band must show on the screen in every presentation of the two eyes
// while it is dragged, and leave the presented picture exactly as it was once
// it is erased.
TEST_F(RubberBandTest, BandIsVisibleInEveryPresentationAndErasedExactly) {
    std::vector<StereoPresentation> modes = {
        StereoPresentation::Anaglyph, StereoPresentation::SideBySide, StereoPresentation::LeftOnly,
        StereoPresentation::RightOnly};
    if (CGLWindowDC::IsStereoGranted()) modes.push_back(StereoPresentation::Stereo);
    for (StereoPresentation mode : modes) {
        ASSERT_TRUE(m_view->SetPresentation(mode));
        // A picture in both front buffers: red-orange left, blue right.
        ASSERT_TRUE(m_view->MakeCurrent());
        m_view->SelectBuffer(GL_FRONT_LEFT);
        glClearColor(0.8f, 0.3f, 0.1f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        m_view->SelectBuffer(GL_FRONT_RIGHT);
        glClearColor(0.1f, 0.3f, 0.8f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        glClearColor(0, 0, 0, 0);
        m_view->Finish();
        m_view->ReleaseCurrent();
        const QImage before = m_view->GrabPresentedImage();
        CRubberBand& band = m_view->m_rubberBand;
        band.Track(CPoint(40, 50), true);
        band.Track(CPoint(200, 180), true);
        const QImage during = m_view->GrabPresentedImage();
        ASSERT_EQ(before.size(), during.size());
        // Some pixel on the band's edge changed in each half that shows an eye.
        auto changedIn = [&](int x0, int x1) {
            int changed = 0;
            for (int y = 0; y < before.height(); ++y)
                for (int x = x0; x < x1; ++x) changed += before.pixel(x, y) != during.pixel(x, y);
            return changed;
        };
        const int w = before.width();
        if (mode == StereoPresentation::SideBySide) {
            EXPECT_GT(changedIn(0, w / 2), 100) << static_cast<int>(mode);
            EXPECT_GT(changedIn(w / 2, w), 100) << static_cast<int>(mode);
        } else {
            EXPECT_GT(changedIn(0, w), 200) << static_cast<int>(mode);
        }
        band.DrawBand();
        band.m_bActive = false;
        EXPECT_EQ(before, m_view->GrabPresentedImage()) << static_cast<int>(mode);
    }
}

TEST(RubberBandNoContext, WithoutContextNothingIsDrawnAndNothingIsShown) {
    CRubberBand band;
    EXPECT_FALSE(band.Track(CPoint(1, 2), false));
    EXPECT_TRUE(band.Track(CPoint(3, 4), false));
    band.DrawBand();
    EXPECT_EQ(CRect(1, 2, 3, 4), band.GetRect());
}

}  // namespace
