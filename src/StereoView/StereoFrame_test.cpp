// The stereo frame over random frames and scales: client, logical, GL window
// and both eyes' sub-image positions converted and converted back (exactly
// at scale 1 and powers of two, within 1e-9 pixel otherwise), the floating
// mark and its parallax, and at scale 1 the display window that the
// photograph computes from the frame's request, drawn where the frame puts
// its pixels.
#include "StereoView/StereoFrame.h"

#include <gtest/gtest.h>

#include <random>

#include "Photogrammetry/AerialPhoto.h"
#include "StereoView/PhotoEye.h"
#include "erdasimg/erdasimg.h"

namespace {

// A random frame; photographs of at most maxSide pixels a side.
CStereoFrame RandomFrame(std::mt19937& rng, double scale, int maxSide) {
    std::uniform_int_distribution<int> scroll(-500, 20000), client(1, 2500), side(1, maxSide),
        offset(-3000, 3000), mark(-50, 2600);
    CStereoFrame f;
    f.m_nScrollX = scroll(rng);
    f.m_nScrollY = scroll(rng);
    f.m_nClientWidth = client(rng);
    f.m_nClientHeight = client(rng);
    f.m_dScale = scale;
    f.m_nMarkX = mark(rng);
    f.m_nMarkY = mark(rng);
    f.m_dParallax = offset(rng) / 10;
    f.m_nXOffset = offset(rng);
    f.m_nYOffset = offset(rng) / 10;
    for (StereoEye& e : f.m_eyes) {
        e.columns = side(rng);
        e.rows = side(rng);
    }
    f.m_nSceneHeight = rng() % 4 ? f.m_eyes[0].rows : side(rng);
    return f;
}

// A position on the 1/256 pixel grid within `range` of the origin.
StereoPoint GridPoint(std::mt19937& rng, int range) {
    std::uniform_int_distribution<int> v(-range * 256, range * 256);
    return {v(rng) / 256.0, v(rng) / 256.0};
}

void ExpectSame(StereoPoint a, StereoPoint b, bool exact, const char* what) {
    if (exact) {
        EXPECT_EQ(a.x, b.x) << what;
        EXPECT_EQ(a.y, b.y) << what;
    } else {
        EXPECT_NEAR(a.x, b.x, 1e-9) << what;
        EXPECT_NEAR(a.y, b.y, 1e-9) << what;
    }
}

}  // namespace

TEST(StereoFrame, ConversionsRoundTripOverRandomFramesAndScales) {
    std::mt19937 rng(20240521);
    std::uniform_real_distribution<double> anyScale(0.1, 10.0);
    const double exactScales[] = {1.0, 2.0, 4.0, 0.5, 0.25, 8.0, 0.125};
    for (int trial = 0; trial < 400; ++trial) {
        const bool exact = trial % 2 == 0;
        const double scale = exact ? exactScales[(trial / 2) % 7] : anyScale(rng);
        const CStereoFrame f = RandomFrame(rng, scale, 20000);
        for (int k = 0; k < 20; ++k) {
            const StereoPoint c = GridPoint(rng, 4000);
            ExpectSame(f.LogicalToClient(f.ClientToLogical(c)), c, true, "client-logical");
            ExpectSame(f.GLToClient(f.ClientToGL(c)), c, true, "client-GL");
            for (int eye : {CStereoFrame::kLeft, CStereoFrame::kRight}) {
                // Client to sub-image and on to the GL window comes back to the client point.
                const StereoPoint s = f.ClientToSubImage(eye, c);
                ExpectSame(f.GLToClient(f.SubImageToGL(eye, s)), c, exact, "client-sub-GL");
                ExpectSame(f.SubImageToClient(eye, s), c, exact, "client-sub-client");
                ExpectSame(f.GLToSubImage(eye, f.ClientToGL(c)), s, exact, "GL-sub");
                // A sub-image position through logical and GL window positions.
                const StereoPoint p = GridPoint(rng, 20000);
                ExpectSame(f.LogicalToSubImage(eye, f.SubImageToLogical(eye, p)), p, exact,
                           "sub-logical");
                ExpectSame(f.GLToSubImage(eye, f.SubImageToGL(eye, p)), p, exact, "sub-GL");
                // The other eye's pixel at the same screen position.
                const StereoPoint q = f.ClientToSubImage(1 - eye, f.SubImageToClient(eye, p));
                ExpectSame(f.SubImageToGL(1 - eye, q), f.SubImageToGL(eye, p), exact, "eye-eye");
            }
        }
        // The crosses: the right one parallax pixels right of the left one,
        // each over the sub-image position the frame gives for it.
        EXPECT_EQ(f.MarkGL(CStereoFrame::kRight).x - f.MarkGL(CStereoFrame::kLeft).x,
                  f.m_dParallax);
        for (int eye : {CStereoFrame::kLeft, CStereoFrame::kRight})
            ExpectSame(f.SubImageToGL(eye, f.MarkSubImage(eye)), f.MarkGL(eye), exact, "mark");
        // Scrolling to centre a position puts it at the middle of the client area.
        const StereoPoint target = GridPoint(rng, 20000);
        CStereoFrame centred = f;
        ASSERT_TRUE(centred.ScrollToCentre(CStereoFrame::kLeft, target, centred.m_nScrollX,
                                           centred.m_nScrollY));
        const StereoPoint at = centred.SubImageToClient(CStereoFrame::kLeft, target);
        EXPECT_NEAR(at.x, f.m_nClientWidth / 2, 1.0 + 1e-9);
        EXPECT_NEAR(at.y, f.m_nClientHeight / 2, 1.0 + 1e-9);
        // The parallax of a point seen at l and r puts the crosses on their pixels.
        if (scale >= 1.0 && exact) {
            const StereoPoint l = GridPoint(rng, 20000), r = GridPoint(rng, 20000);
            CStereoFrame marked = f;
            const StereoPoint m = marked.MarkAt(l);
            marked.m_nMarkX = static_cast<int>(m.x);
            marked.m_nMarkY = static_cast<int>(m.y);
            marked.m_dParallax = marked.MarkParallax(l, r);
            const StereoPoint ml = marked.MarkSubImage(CStereoFrame::kLeft);
            EXPECT_EQ(ml.x, std::floor(l.x));
            EXPECT_EQ(ml.y, std::floor(l.y));
            EXPECT_EQ(marked.MarkSubImage(CStereoFrame::kRight).x, std::floor(r.x));
        }
    }
    // At scale 1 the photograph's display window, made from the frame's
    // request, has its lower-left pixel drawn (at the raster position) where
    // the frame puts that sub-image pixel.
    for (int trial = 0; trial < 60; ++trial) {
        CStereoFrame f = RandomFrame(rng, 1.0, 400);
        f.m_nScrollX %= 500;
        f.m_nScrollY %= 500;
        f.m_nClientWidth = 1 + f.m_nClientWidth % 500;
        f.m_nClientHeight = 1 + f.m_nClientHeight % 500;
        f.m_nXOffset %= 300;
        for (int eye : {CStereoFrame::kLeft, CStereoFrame::kRight}) {
            CAerialPhoto photo;
            LanHeader header = MakeDefaultLanHeader();
            header.ncols = f.m_eyes[eye].columns;
            header.nrows = f.m_eyes[eye].rows;
            ASSERT_EQ(
                photo.m_image.AdoptBands(header, AllocBands(1, header.nrows, header.ncols, 1)), 1);
            ComputeEyeWindow(photo, f, eye);
            // The window's lower-left pixel: its lower-left corner in the GL window.
            const StereoRect v = f.VisibleSubImage(eye);
            const StereoPoint corner = f.SubImageToGL(eye, {1.0 * v.left, v.bottom + 1.0});
            EXPECT_EQ(corner.x, photo.m_nRasterX) << "eye " << eye << " trial " << trial;
            EXPECT_EQ(corner.y, photo.m_nRasterY) << "eye " << eye << " trial " << trial;
        }
    }
}
