// The painted point squares against the GL's rule for aliased points worked
// out here pixel by pixel in double precision: a point at GL window position
// (x, y), snapped to 1/256 pixel, is drawn when its centre lies in the window
// (edges included) and covers the pixels whose centres lie in the square of
// side `size` around (floor(x) + 1/2, floor(y) + 1/2) for an odd size and
// around (floor(x + 1/2), floor(y + 1/2)) for an even one (half-open: left
// and bottom edges in). Two passes in two colours (the points, then the
// selection over them), at point sizes 1 to 3 and larger, points deleted
// between frames, and points off the picture's edges.
#include "StereoView/PointSquares.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {

void PaintByRule(std::vector<uint32_t>& picture, int width, int height,
                 const std::vector<float>& xy, int size, uint32_t colour) {
    for (size_t i = 0; i + 1 < xy.size(); i += 2) {
        const double x = std::round(xy[i] * 256.0) / 256.0;
        const double y = std::round(xy[i + 1] * 256.0) / 256.0;
        if (!(x >= 0.0 && x <= width && y >= 0.0 && y <= height)) continue;
        const double cx = size % 2 ? std::floor(x) + 0.5 : std::floor(x + 0.5);
        const double cy = size % 2 ? std::floor(y) + 0.5 : std::floor(y + 0.5);
        for (int r = 0; r < height; ++r) {
            const double pr = r + 0.5;
            if (!(pr >= cy - size / 2.0 && pr < cy + size / 2.0)) continue;
            for (int c = 0; c < width; ++c) {
                const double pc = c + 0.5;
                if (pc >= cx - size / 2.0 && pc < cx + size / 2.0)
                    picture[static_cast<size_t>(r) * width + c] = colour;
            }
        }
    }
}

}  // namespace

TEST(PointSquares, PaintedSquaresMatchTheGLPointRule) {
    std::mt19937 rng(4242);
    // Powers of two make the single-precision transform exact, so positions
    // on pixel edges and centres are compared too; other sizes keep the
    // grid positions 1/64 pixel away from the edges the rule turns on.
    const int sizes[][2] = {{64, 32}, {128, 64}, {97, 53}, {160, 90}};
    for (const auto& wh : sizes) {
        const int width = wh[0], height = wh[1];
        const bool exact = (width & (width - 1)) == 0 && (height & (height - 1)) == 0;
        auto coordinate = [&](int extent) {
            std::uniform_int_distribution<int> grid(-8 * 256, (extent + 8) * 256);
            for (;;) {
                const int v = grid(rng);
                const int f = ((v % 128) + 128) % 128;  // 1/256 pixels past a half pixel
                if (!exact && (f < 4 || f > 124 || v == extent * 256)) continue;
                return static_cast<float>(v / 256.0);
            }
        };
        for (int size : {1, 2, 3, 4, 5, 8}) {
            std::vector<float> points, selected;
            for (int k = 0; k < 120; ++k) {
                points.push_back(coordinate(width));
                points.push_back(coordinate(height));
            }
            for (int k = 0; k < 30; ++k) {
                selected.push_back(coordinate(width));
                selected.push_back(coordinate(height));
            }
            for (int frame = 0; frame < 2; ++frame) {
                std::vector<uint32_t> painted(static_cast<size_t>(width) * height, 7u);
                std::vector<uint32_t> expected = painted;
                PaintPointSquares(painted.data(), width, height, points.data(), points.size() / 2,
                                  size, 1u);
                PaintPointSquares(painted.data(), width, height, selected.data(),
                                  selected.size() / 2, size, 2u);
                PaintByRule(expected, width, height, points, size, 1u);
                PaintByRule(expected, width, height, selected, size, 2u);
                EXPECT_TRUE(painted == expected)
                    << width << " x " << height << ", size " << size << ", frame " << frame;
                // Both colours were drawn, and the background left where no point lies.
                EXPECT_NE(std::count(painted.begin(), painted.end(), 1u), 0);
                EXPECT_NE(std::count(painted.begin(), painted.end(), 2u), 0);
                EXPECT_NE(std::count(painted.begin(), painted.end(), 7u), 0);
                // Every third point deleted, as the editing commands leave the sets.
                std::vector<float> kept;
                for (size_t i = 0; i < points.size(); i += 2)
                    if ((i / 2) % 3) kept.insert(kept.end(), {points[i], points[i + 1]});
                points.swap(kept);
            }
        }
    }
}
