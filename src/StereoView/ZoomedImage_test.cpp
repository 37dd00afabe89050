// The picture of a zoomed eye against a brute force over the client area:
// exactly the screen pixels whose centres fall on the photograph, each the
// photograph's (or the level's) pixel under that centre, for random frames at
// scales from 1/64 to 16 and both eyes.
#include "StereoView/ZoomedImage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

TEST(ZoomedImage, EveryScreenPixelOnThePhotographShowsThePixelUnderItsCentre) {
    std::mt19937 rng(7);
    const double scales[] = {1.0 / 64, 0.125, 0.25, 0.3171, 0.5, 0.84, 1.189, 2.0, 5.657, 16.0};
    int shown = 0;
    for (int trial = 0; trial < 200; ++trial) {
        CStereoFrame f;
        f.m_dScale = scales[rng() % std::size(scales)];
        f.m_nClientWidth = 1 + static_cast<int>(rng() % 300);
        f.m_nClientHeight = 1 + static_cast<int>(rng() % 200);
        const int cols = 1 + static_cast<int>(rng() % 700),
                  rows = 1 + static_cast<int>(rng() % 700);
        f.m_nSceneHeight = rows;
        f.m_eyes[0] = {cols, rows, {}};
        f.m_eyes[1] = {cols, rows, {}};
        f.m_nXOffset = static_cast<int>(rng() % 200) - 100;
        f.m_nYOffset = static_cast<int>(rng() % 40) - 20;
        f.m_nScrollX = static_cast<int>(rng() % static_cast<unsigned>(cols * f.m_dScale + 50)) - 25;
        f.m_nScrollY = static_cast<int>(rng() % static_cast<unsigned>(rows * f.m_dScale + 50)) - 25;
        const int eye = static_cast<int>(rng() % 2);
        const int shift = f.m_dScale < 1.0 && rng() % 2 ? ZoomLevelFor(f.m_dScale) : 0;
        const int lc = (cols + (1 << shift) - 1) >> shift, lr = (rows + (1 << shift) - 1) >> shift;
        std::vector<unsigned char> pixels(static_cast<size_t>(lc) * lr);
        for (unsigned char& p : pixels) p = static_cast<unsigned char>(rng());
        ZoomedPicture picture;
        SampleZoomedPicture(f, eye, cols, rows, {pixels.data(), lc, lr, shift, 1}, picture);
        for (int y = 0; y < f.m_nClientHeight; ++y)
            for (int x = 0; x < f.m_nClientWidth; ++x) {
                const StereoPoint s = f.GLToSubImage(eye, {x + 0.5, y + 0.5});
                const double c = std::floor(s.x), r = std::floor(s.y);
                const bool on = c >= 0 && r >= 0 && c < cols && r < rows;
                const bool inside = x >= picture.x0 && x < picture.x0 + picture.width &&
                                    y >= picture.y0 && y < picture.y0 + picture.height;
                ASSERT_EQ(on, inside) << "scale " << f.m_dScale << " pixel " << x << ", " << y;
                if (!on) continue;
                const int v = pixels[static_cast<size_t>(static_cast<int>(r) >> shift) * lc +
                                     (static_cast<int>(c) >> shift)];
                ASSERT_EQ(picture.grey[static_cast<size_t>(y - picture.y0) * picture.width +
                                       (x - picture.x0)],
                          v);
                ++shown;
            }
    }
    EXPECT_GT(shown, 100000);
    EXPECT_EQ(ZoomLevelFor(1.0), 0);
    EXPECT_EQ(ZoomLevelFor(0.5), 1);
    EXPECT_EQ(ZoomLevelFor(0.3), 1);
    EXPECT_EQ(ZoomLevelFor(0.25), 2);
    EXPECT_EQ(ZoomLevelFor(1.0 / 64), 6);
}
