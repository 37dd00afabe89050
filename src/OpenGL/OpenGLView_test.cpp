// GL view base on a real X server: buffers are read back after drawing.
#include "OpenGL/OpenGLView.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QOpenGLContext>
#include <QPrinter>
#include <QTest>

#include "Framework/StatusBar.h"
#include "OpenGL/OpenGLDoc.h"
#include "Platform/Platform.h"

namespace {

// A view that draws nothing by itself, so that the tests decide what is in the buffers.
class QuietView : public COpenGLView {
public:
    void OnDraw(QPainter*) override { ++m_nDraws; }
    int m_nDraws = 0;
};

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Rgb& c) {
    return os << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}

class GLViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_view = std::make_unique<QuietView>();
        m_view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        m_view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        ASSERT_TRUE(m_view->Create());
        m_view->resize(640, 480);
        m_view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_view.get()));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_view->GetSurfaceWindow()));
        QApplication::processEvents();
        m_view->OnInitialUpdate();
        ASSERT_EQ(640, m_view->m_nWidth);
        ASSERT_EQ(480, m_view->m_nHeight);
    }
    void TearDown() override { m_view.reset(); }

    Rgb Pixel(GLenum buffer, int x, int y) {
        std::vector<unsigned char> p = m_view->ReadBufferPixels(buffer, x, y, 1, 1);
        if (p.size() != 3) return {-1, -1, -1};
        return {p[0], p[1], p[2]};
    }

    // Clears both back buffers and the front left buffer to black.
    void ClearAll() {
        ASSERT_TRUE(m_view->MakeCurrent());
        m_view->SelectBuffer(GL_BACK);
        glClearColor(0, 0, 0, 0);
        m_view->ClearBuffers();
        m_view->SelectBuffer(GL_FRONT_LEFT);
        m_view->ClearBuffers();
        m_view->ReleaseCurrent();
    }

    void DrawPoint(GLenum buffer, float x, float y, float r, float g, float b) {
        ASSERT_TRUE(m_view->MakeCurrent());
        m_view->SelectBuffer(buffer);
        glPointSize(1.0f);
        glColor3f(r, g, b);
        glBegin(GL_POINTS);
        glVertex2f(x, y);
        glEnd();
        glFinish();
        m_view->ReleaseCurrent();
    }

    std::unique_ptr<QuietView> m_view;
};

TEST_F(GLViewTest, ContextIsNeverLeftCurrent) {
    EXPECT_EQ(nullptr, QOpenGLContext::currentContext());
    ClearAll();
    EXPECT_EQ(nullptr, QOpenGLContext::currentContext());
    m_view->ReadBufferPixels(GL_BACK_LEFT, 0, 0, 1, 1);
    EXPECT_EQ(nullptr, QOpenGLContext::currentContext());
    m_view->m_rubberBand.Track(CPoint(3, 3), false);
    EXPECT_EQ(nullptr, QOpenGLContext::currentContext());
}

TEST_F(GLViewTest, ContextIsACompatibilityContext) {
    ASSERT_TRUE(m_view->MakeCurrent());
    // Display lists and colour-index pixel rectangles need the fixed pipeline.
    EXPECT_NE(QSurfaceFormat::CoreProfile, m_view->GetRC()->format().profile());
    GLuint list = glGenLists(1);
    EXPECT_NE(0u, list);
    glDeleteLists(list, 1);
    EXPECT_EQ(GLenum(GL_NO_ERROR), glGetError());
    m_view->ReleaseCurrent();
}

// The pixel projection: GL window (x, y) is the pixel x columns from the left
// and y rows from the bottom edge, in each eye's own buffer.
TEST_F(GLViewTest, PixelProjectionPutsPointsWhereTheyBelongInEachEye) {
    ClearAll();
    DrawPoint(GL_BACK_LEFT, 10.5f, 20.5f, 1, 0, 0);
    DrawPoint(GL_BACK_RIGHT, 30.5f, 40.5f, 0, 1, 0);
    DrawPoint(GL_BACK_LEFT, 0.5f, 0.5f, 0, 0, 1);
    DrawPoint(GL_BACK_LEFT, 639.5f, 479.5f, 1, 1, 1);

    EXPECT_EQ((Rgb{255, 0, 0}), Pixel(GL_BACK_LEFT, 10, 20));
    EXPECT_EQ((Rgb{0, 0, 0}), Pixel(GL_BACK_LEFT, 11, 20));
    EXPECT_EQ((Rgb{0, 0, 0}), Pixel(GL_BACK_LEFT, 10, 21));
    EXPECT_EQ((Rgb{0, 0, 0}), Pixel(GL_BACK_LEFT, 30, 40));
    EXPECT_EQ((Rgb{0, 0, 255}), Pixel(GL_BACK_LEFT, 0, 0));
    EXPECT_EQ((Rgb{255, 255, 255}), Pixel(GL_BACK_LEFT, 639, 479));

    EXPECT_EQ((Rgb{0, 255, 0}), Pixel(GL_BACK_RIGHT, 30, 40));
    EXPECT_EQ((Rgb{0, 0, 0}), Pixel(GL_BACK_RIGHT, 10, 20));
    EXPECT_EQ((Rgb{0, 0, 0}), Pixel(GL_BACK_RIGHT, 0, 0));
}

TEST_F(GLViewTest, SwapBringsTheBackLeftBufferToTheFront) {
    ClearAll();
    DrawPoint(GL_BACK_LEFT, 5.5f, 6.5f, 1, 1, 0);
    ASSERT_TRUE(m_view->MakeCurrent());
    m_view->SwapBuffers();
    m_view->ReleaseCurrent();
    EXPECT_EQ((Rgb{255, 255, 0}), Pixel(GL_FRONT_LEFT, 5, 6));
}

TEST_F(GLViewTest, ResizeToEmptyChangesNothing) {
    Platform::ScopedMessageCapture capture;
    const double aspect = m_view->m_dAspect;
    m_view->OnSize(0, 300);
    m_view->OnSize(300, 0);
    EXPECT_EQ(640, m_view->m_nWidth);
    EXPECT_EQ(480, m_view->m_nHeight);
    EXPECT_DOUBLE_EQ(aspect, m_view->m_dAspect);
    EXPECT_DOUBLE_EQ(640.0 / 480.0, aspect);
    EXPECT_TRUE(capture.Messages().empty());
    // Viewport and projection are still those of 640 x 480.
    ClearAll();
    DrawPoint(GL_BACK_LEFT, 639.5f, 479.5f, 1, 0, 0);
    EXPECT_EQ((Rgb{255, 0, 0}), Pixel(GL_BACK_LEFT, 639, 479));
    ASSERT_TRUE(m_view->MakeCurrent());
    GLint vp[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, vp);
    m_view->ReleaseCurrent();
    EXPECT_EQ(640, vp[2]);
    EXPECT_EQ(480, vp[3]);
}

TEST_F(GLViewTest, ResizeSetsProjectionAndTellsTheRubberBand) {
    m_view->resize(320, 200);
    QApplication::processEvents();
    EXPECT_EQ(320, m_view->m_nWidth);
    EXPECT_EQ(200, m_view->m_nHeight);
    EXPECT_EQ(200, m_view->m_rubberBand.GetClientSize().cy);
    ClearAll();
    DrawPoint(GL_BACK_LEFT, 319.5f, 199.5f, 0, 1, 0);
    EXPECT_EQ((Rgb{0, 255, 0}), Pixel(GL_BACK_LEFT, 319, 199));
}

// 8-bit samples go through the grey map: byte b becomes b / 255 in R, G and B.
TEST_F(GLViewTest, GreyMapTurnsBytesIntoGreyLevelsAndChangesTakeEffect) {
    ASSERT_TRUE(m_view->InitGreyMap());
    ASSERT_TRUE(m_view->InitAlphaMap());
    EXPECT_FLOAT_EQ(1.0f, m_view->m_alphaMap[0]);
    EXPECT_FLOAT_EQ(128.0f / 255.0f, m_view->m_greyMap[128]);
    std::vector<unsigned char> image(256 * 3);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 256; ++c)
            image[static_cast<size_t>(r * 256 + c)] = static_cast<unsigned char>(c);
    ClearAll();
    ASSERT_TRUE(m_view->MakeCurrent());
    m_view->SelectBuffer(GL_BACK_LEFT);
    m_view->DrawIndexedPixels(100, 50, 256, 3, image.data());
    m_view->ReleaseCurrent();
    std::vector<unsigned char> got = m_view->ReadBufferPixels(GL_BACK_LEFT, 100, 50, 256, 3);
    ASSERT_EQ(256u * 3u * 3u, got.size());
    for (int c = 0; c < 256; ++c) {
        for (int r = 0; r < 3; ++r) {
            const size_t i = static_cast<size_t>((r * 256 + c) * 3);
            ASSERT_EQ(c, got[i]) << "column " << c;
            ASSERT_EQ(c, got[i + 1]);
            ASSERT_EQ(c, got[i + 2]);
        }
    }

    // The same pixels at the same address with an inverted map.
    for (int i = 0; i < 256; ++i) m_view->m_greyMap[static_cast<size_t>(i)] = (255 - i) / 255.0f;
    ASSERT_TRUE(m_view->MakeCurrent());
    m_view->SelectBuffer(GL_BACK_LEFT);
    m_view->DrawIndexedPixels(100, 50, 256, 3, image.data());
    m_view->ReleaseCurrent();
    got = m_view->ReadBufferPixels(GL_BACK_LEFT, 100, 50, 256, 3);
    ASSERT_EQ(256u * 3u * 3u, got.size());
    for (int c = 0; c < 256; ++c) ASSERT_EQ(255 - c, got[static_cast<size_t>(c * 3)]) << c;
}

TEST_F(GLViewTest, IndexedPixelsInADisplayListReplayAndRecompileWithANewMap) {
    m_view->InitGreyMap();
    std::vector<unsigned char> image(40 * 30);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<unsigned char>(i % 251);
    ClearAll();
    ASSERT_TRUE(m_view->MakeCurrent());
    GLuint list = glGenLists(1);
    m_view->SelectBuffer(GL_BACK_RIGHT);
    glNewList(list, GL_COMPILE_AND_EXECUTE);
    m_view->DrawIndexedPixels(7, 9, 40, 30, image.data());
    glEndList();
    m_view->ReleaseCurrent();
    EXPECT_EQ((Rgb{0, 0, 0}), Pixel(GL_BACK_RIGHT, 6, 9));
    EXPECT_EQ((Rgb{0, 0, 0}), Pixel(GL_BACK_RIGHT, 7 + 40, 9));
    EXPECT_EQ((Rgb{image[5 * 40 + 3], image[5 * 40 + 3], image[5 * 40 + 3]}),
              Pixel(GL_BACK_RIGHT, 7 + 3, 9 + 5));
    EXPECT_EQ((Rgb{0, 0, 0}), Pixel(GL_BACK_LEFT, 10, 14));

    // Replayed into a cleared buffer, the list draws the same.
    ASSERT_TRUE(m_view->MakeCurrent());
    m_view->SelectBuffer(GL_BACK_RIGHT);
    m_view->ClearBuffers();
    glCallList(list);
    m_view->ReleaseCurrent();
    const int v = image[29 * 40 + 39];
    EXPECT_EQ((Rgb{v, v, v}), Pixel(GL_BACK_RIGHT, 7 + 39, 9 + 29));

    // A changed map and a recompiled list.
    m_view->m_greyMap.fill(1.0f);
    ASSERT_TRUE(m_view->MakeCurrent());
    m_view->SelectBuffer(GL_BACK_RIGHT);
    m_view->ClearBuffers();
    glNewList(list, GL_COMPILE_AND_EXECUTE);
    m_view->DrawIndexedPixels(7, 9, 40, 30, image.data());
    glEndList();
    m_view->ClearBuffers();
    glCallList(list);
    glDeleteLists(list, 1);
    m_view->ReleaseCurrent();
    EXPECT_EQ((Rgb{255, 255, 255}), Pixel(GL_BACK_RIGHT, 7, 9));
    EXPECT_EQ((Rgb{255, 255, 255}), Pixel(GL_BACK_RIGHT, 7 + 39, 9 + 29));
}

// Images reaching past the viewport are cropped, not shifted or dropped.
TEST_F(GLViewTest, IndexedPixelsAreCroppedAtTheViewportEdges) {
    m_view->InitGreyMap();
    const int w = 50, h = 40;
    std::vector<unsigned char> image(static_cast<size_t>(w * h));
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c)
            image[static_cast<size_t>(r * w + c)] = static_cast<unsigned char>(c * 5 + r);
    auto sample = [&](int c, int r) { return image[static_cast<size_t>(r * w + c)]; };

    ClearAll();
    ASSERT_TRUE(m_view->MakeCurrent());
    m_view->SelectBuffer(GL_BACK_LEFT);
    m_view->DrawIndexedPixels(-10, -5, w, h, image.data());   // lower-left corner
    m_view->DrawIndexedPixels(620, 460, w, h, image.data());  // upper-right corner
    m_view->DrawIndexedPixels(700, 100, w, h, image.data());  // wholly outside: nothing
    m_view->ReleaseCurrent();

    int s = sample(10, 5);
    EXPECT_EQ((Rgb{s, s, s}), Pixel(GL_BACK_LEFT, 0, 0));
    s = sample(49, 39);
    EXPECT_EQ((Rgb{s, s, s}), Pixel(GL_BACK_LEFT, 39, 34));
    s = sample(12, 20);
    EXPECT_EQ((Rgb{s, s, s}), Pixel(GL_BACK_LEFT, 2, 15));
    EXPECT_EQ((Rgb{0, 0, 0}), Pixel(GL_BACK_LEFT, 40, 10));
    s = sample(0, 0);
    EXPECT_EQ((Rgb{s, s, s}), Pixel(GL_BACK_LEFT, 620, 460));
    s = sample(19, 19);
    EXPECT_EQ((Rgb{s, s, s}), Pixel(GL_BACK_LEFT, 639, 479));
    EXPECT_EQ((Rgb{0, 0, 0}), Pixel(GL_BACK_LEFT, 619, 470));
}

TEST_F(GLViewTest, ShowValuesAndShowRectFormatPaneZero) {
    CStatusBar bar;
    bar.SetIndicators({"", "CAP", "NUM", "SCRL"});
    m_view->m_pStatusBar = &bar;
    m_view->ShowValues({7, 8});
    EXPECT_EQ(QString("(7, 8)"), bar.GetPaneText(0));
    m_view->ShowValues({0.5});
    EXPECT_EQ(QString("(0.500000)"), bar.GetPaneText(0));
    const int three[] = {3, 4, 5};
    m_view->ShowValues(3, three);
    EXPECT_EQ(QString("(3, 4, 5)"), bar.GetPaneText(0));
    m_view->ShowValues({1.0, 2.5});
    EXPECT_EQ(QString("(1.000000, 2.500000)"), bar.GetPaneText(0));
    m_view->ShowRect(1, -2, 3, 4);
    EXPECT_EQ(QString("(1, -2, 3, 4)"), bar.GetPaneText(0));
    m_view->m_pStatusBar = nullptr;
}

TEST_F(GLViewTest, MouseMoveShowsTheLogicalPositionOnlyWithAStatusBar) {
    CStatusBar bar;
    bar.SetIndicators({"", "CAP"});
    bar.SetPaneText(0, "Ready");
    m_view->OnMouseMove(0, CPoint(5, 6));  // no status bar yet: nothing shown
    EXPECT_EQ(QString("Ready"), bar.GetPaneText(0));
    m_view->m_pStatusBar = &bar;
    auto* doc = new COpenGLDoc;  // a scene larger than the client, so the view scrolls
    std::unique_ptr<COpenGLDoc> owner(doc);
    m_view->SetDocument(doc);
    doc->ExtendSceneSize(2000, 1500);
    m_view->SetScrollSizes(doc->GetSceneSize());
    m_view->ScrollToPosition(CPoint(100, 30));
    m_view->OnMouseMove(0, CPoint(5, 6));
    EXPECT_EQ(QString("(105, 36)"), bar.GetPaneText(0));
    m_view->m_pStatusBar = nullptr;
    m_view->SetDocument(nullptr);
}

TEST_F(GLViewTest, ZoomKeepsTheCentreAndScalesTheScrollArea) {
    std::unique_ptr<COpenGLDoc> doc = std::make_unique<COpenGLDoc>();
    m_view->SetDocument(doc.get());
    doc->ExtendSceneSize(1000, 800);
    doc->ExtendSceneSize(900, 900);
    EXPECT_EQ(CSize(1000, 900), doc->GetSceneSize());
    m_view->ZoomReset();
    EXPECT_EQ(CSize(1000, 900), m_view->GetTotalSize());
    m_view->ScrollToPosition(CPoint(100, 50));
    m_view->ZoomIn();
    EXPECT_DOUBLE_EQ(2.0, m_view->m_dScale);
    EXPECT_EQ(CSize(2000, 1800), m_view->GetTotalSize());
    // (100 + 320) * 2 - 320 and (50 + 240) * 2 - 240
    EXPECT_EQ(CPoint(520, 340), m_view->GetScrollPosition());
    m_view->ZoomOut();
    m_view->ZoomOut();
    EXPECT_DOUBLE_EQ(0.5, m_view->m_dScale);
    EXPECT_EQ(CSize(500, 450), m_view->GetTotalSize());
    EXPECT_EQ(CPoint(0, 0), m_view->GetScrollPosition());  // smaller than the client area
    m_view->ZoomReset();
    EXPECT_DOUBLE_EQ(1.0, m_view->m_dScale);
    EXPECT_EQ(CSize(1000, 900), m_view->GetTotalSize());
    m_view->SetDocument(nullptr);
}

// Without stereo visuals the four buffers are emulated and shown as an anaglyph.
TEST_F(GLViewTest, PresentationCompositesTheFrontPair) {
    if (m_view->IsRealStereo()) GTEST_SKIP() << "real stereo buffers: no composite";
    ClearAll();
    ASSERT_TRUE(m_view->MakeCurrent());
    m_view->SelectBuffer(GL_BACK_LEFT);
    glClearColor(1, 1, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glClearColor(0, 0, 0, 0);
    m_view->SwapBuffers();
    m_view->ReleaseCurrent();

    auto centre = [&](int x) {
        QImage img = m_view->GrabPresentedImage();
        EXPECT_FALSE(img.isNull());
        QColor c = img.pixelColor(x, img.height() / 2);
        return Rgb{c.red(), c.green(), c.blue()};
    };
    EXPECT_EQ(StereoPresentation::Anaglyph, m_view->GetPresentation());
    EXPECT_EQ((Rgb{255, 0, 0}), centre(320));
    m_view->SetSwapEyes(true);
    EXPECT_EQ((Rgb{0, 255, 255}), centre(320));
    m_view->SetSwapEyes(false);
    ASSERT_TRUE(m_view->SetPresentation(StereoPresentation::LeftOnly));
    EXPECT_EQ((Rgb{255, 255, 255}), centre(320));
    ASSERT_TRUE(m_view->SetPresentation(StereoPresentation::RightOnly));
    EXPECT_EQ((Rgb{0, 0, 0}), centre(320));
    ASSERT_TRUE(m_view->SetPresentation(StereoPresentation::SideBySide));
    EXPECT_EQ((Rgb{255, 255, 255}), centre(100));
    EXPECT_EQ((Rgb{0, 0, 0}), centre(500));
}

TEST_F(GLViewTest, StereoProbeDecidesBetweenRealAndEmulatedBuffers) {
    if (CGLWindowDC::IsStereoGranted()) {
        EXPECT_TRUE(m_view->IsRealStereo());
        EXPECT_EQ(StereoPresentation::Stereo, m_view->GetPresentation());
        EXPECT_TRUE(m_view->GetDC()->GetPixelFormat().stereo());
    } else {
        EXPECT_FALSE(m_view->IsRealStereo());
        EXPECT_EQ(StereoPresentation::Anaglyph, m_view->GetPresentation());
        EXPECT_FALSE(m_view->SetPresentation(StereoPresentation::Stereo));
        EXPECT_EQ(StereoPresentation::Anaglyph, m_view->GetPresentation());
        // The emulated format keeps double buffering and depth.
        EXPECT_EQ(QSurfaceFormat::DoubleBuffer, m_view->GetDC()->GetPixelFormat().swapBehavior());
        EXPECT_GT(m_view->GetDC()->GetPixelFormat().depthBufferSize(), 0);
    }
}

TEST(GLStereoProbe, GrantedStereoGivesRealQuadBuffers) {
    if (!CGLWindowDC::IsStereoGranted()) GTEST_SKIP() << "no stereo visual on this display";
    QuietView view;
    ASSERT_TRUE(view.Create());
    view.resize(200, 100);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view.GetSurfaceWindow()));
    QApplication::processEvents();
    ASSERT_TRUE(view.IsRealStereo());
    ASSERT_TRUE(view.MakeCurrent());
    GLboolean stereo = GL_FALSE;
    glGetBooleanv(GL_STEREO, &stereo);
    view.ReleaseCurrent();
    EXPECT_TRUE(stereo);
}

class FailingContextView : public QuietView {
protected:
    std::unique_ptr<QOpenGLContext> CreateRenderingContext() override { return nullptr; }
};

TEST(GLViewCreation, FailingContextCreationIsReportedOnceAndTheWindowStays) {
    Platform::ScopedMessageCapture capture;
    FailingContextView view;
    EXPECT_TRUE(view.Create());  // creation still succeeds
    ASSERT_EQ(1u, capture.Messages().size());
    EXPECT_EQ("wglCreateContext failed.", capture.Messages()[0].text);
    EXPECT_EQ(Platform::MessageKind::Plain, capture.Messages()[0].kind);
    EXPECT_FALSE(view.MakeCurrent());
    capture.Clear();
    view.OnSize(300, 200);
    ASSERT_EQ(1u, capture.Texts().size());
    EXPECT_EQ("OnSize: wglMakeCurrent() failed.", capture.Texts()[0]);
}

}  // namespace

namespace {
// A window that changed is compiled into a fresh list, whose storage may lie
// where the old list's did; the replay must show the new pixels all the same.
TEST_F(GLViewTest, RecompiledListShowsNewPixelsOnReplay) {
    m_view->InitGreyMap();
    const int w = 64, h = 32;
    std::vector<unsigned char> a(static_cast<size_t>(w * h), 10);
    std::vector<unsigned char> b(static_cast<size_t>(w * h), 200);
    ASSERT_TRUE(m_view->MakeCurrent());
    GLuint lists = glGenLists(2);
    for (int round = 0; round < 6; ++round) {
        const std::vector<unsigned char>& img = (round % 2) ? b : a;
        for (GLuint l = 0; l < 2; ++l) {
            m_view->SelectBuffer(l == 0 ? GL_BACK_LEFT : GL_BACK_RIGHT);
            glDeleteLists(lists + l, 1);
            glNewList(lists + l, GL_COMPILE_AND_EXECUTE);
            m_view->DrawIndexedPixels(3, 4, w, h, img.data());
            glEndList();
        }
        for (int replay = 0; replay < 2; ++replay) {
            for (GLuint l = 0; l < 2; ++l) {
                m_view->SelectBuffer(l == 0 ? GL_BACK_LEFT : GL_BACK_RIGHT);
                m_view->ClearBuffers();
                glCallList(lists + l);
            }
        }
        m_view->ReleaseCurrent();
        const int v = img[0];
        ASSERT_EQ((Rgb{v, v, v}), Pixel(GL_BACK_LEFT, 10, 10)) << "round " << round;
        ASSERT_EQ((Rgb{v, v, v}), Pixel(GL_BACK_RIGHT, 10, 10)) << "round " << round;
        ASSERT_TRUE(m_view->MakeCurrent());
    }
    glDeleteLists(lists, 2);
    m_view->ReleaseCurrent();
}
}  // namespace

namespace {
TEST_F(GLViewTest, PrintingWritesWhatTheWindowShows) {
    ClearAll();
    ASSERT_TRUE(m_view->MakeCurrent());
    m_view->SelectBuffer(GL_BACK);
    glClearColor(1, 1, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glClearColor(0, 0, 0, 0);
    m_view->SwapBuffers();
    m_view->ReleaseCurrent();
    const QString path = QDir::temp().filePath("orvane-print-test.pdf");
    QFile::remove(path);
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
    m_view->PrintTo(printer);
    QFileInfo info(path);
    EXPECT_TRUE(info.exists());
    EXPECT_GT(info.size(), 1000);
    QFile::remove(path);
}
}  // namespace
