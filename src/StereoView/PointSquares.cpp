#include "StereoView/PointSquares.h"

#include <algorithm>
#include <cmath>

void PaintPointSquares(uint32_t* picture, int width, int height, const float* xy, size_t count,
                       int size, uint32_t colour) {
    if (!picture || width < 1 || height < 1 || size < 1 || size > kMaxPointSquare) return;
    // The projection (one unit per pixel) and the viewport, in single precision.
    const float sx = static_cast<float>(2.0 / width), sy = static_cast<float>(2.0 / height);
    const float hw = static_cast<float>(width) * 0.5f, hh = static_cast<float>(height) * 0.5f;
    for (size_t i = 0; i < count; ++i) {
        // Clip coordinates: the product rounded, then the translation added.
        const float px = xy[2 * i] * sx, py = xy[2 * i + 1] * sy;
        const float cx = px + -1.0f, cy = py + -1.0f;
        if (!(cx >= -1.0f && cx <= 1.0f && cy >= -1.0f && cy <= 1.0f)) continue;
        // GL window position in 1/256 pixel, then the square's lower-left pixel.
        const float xw = std::fma(cx, hw, hw), yw = std::fma(cy, hh, hh);
        const int fx = static_cast<int>(std::lrint(xw * 256.0f));
        const int fy = static_cast<int>(std::lrint(yw * 256.0f));
        const int x0 = (fx + 128 - 128 * size) >> 8, y0 = (fy + 128 - 128 * size) >> 8;
        const int a = std::max(x0, 0), b = std::min(x0 + size, width);  // columns [a, b)
        if (a >= b) continue;
        for (int r = std::max(y0, 0); r < std::min(y0 + size, height); ++r)
            std::fill(picture + static_cast<size_t>(r) * width + a,
                      picture + static_cast<size_t>(r) * width + b, colour);
    }
}
