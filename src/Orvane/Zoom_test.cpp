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
// recorded from the drawing as it was before the view could zoom. Setting
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
    const CPoint positions[3] = {CPoint(0, 0), CPoint(330, 290), CPoint(100000, 100000)};
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
