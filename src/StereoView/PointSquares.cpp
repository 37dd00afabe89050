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

namespace {

// Liang-Barsky: cuts the segment to [x0, x1] x [y0, y1]; false when nothing is left.
bool ClipSegment(double& ax, double& ay, double& bx, double& by, double x0, double y0, double x1,
                 double y1) {
    double t0 = 0.0, t1 = 1.0;
    const double dx = bx - ax, dy = by - ay;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {ax - x0, x1 - ax, ay - y0, y1 - ay};
    for (int k = 0; k < 4; ++k) {
        if (p[k] == 0.0) {
            if (q[k] < 0.0) return false;
            continue;
        }
        const double t = q[k] / p[k];
        if (p[k] < 0.0)
            t0 = std::max(t0, t);
        else
            t1 = std::min(t1, t);
        if (t0 > t1) return false;
    }
    const double sx = ax, sy = ay;
    ax = sx + t0 * dx;
    ay = sy + t0 * dy;
    bx = sx + t1 * dx;
    by = sy + t1 * dy;
    return true;
}

}  // namespace

void PaintLineSegments(uint32_t* picture, int width, int height, const float* xy, size_t count,
                       int lineWidth, uint32_t colour) {
    if (!picture || width < 1 || height < 1) return;
    const int extra = lineWidth >= 2 ? 1 : 0;
    auto put = [&](int x, int y) {
        if (x >= 0 && x < width && y >= 0 && y < height)
            picture[static_cast<size_t>(y) * width + x] = colour;
    };
    for (size_t i = 0; i < count; ++i) {
        double ax = xy[4 * i], ay = xy[4 * i + 1], bx = xy[4 * i + 2], by = xy[4 * i + 3];
        if (!std::isfinite(ax) || !std::isfinite(ay) || !std::isfinite(bx) || !std::isfinite(by))
            continue;
        // Most segments lie wholly inside: only the others are cut.
        const bool inside = ax >= 0.0 && ax <= width && bx >= 0.0 && bx <= width && ay >= 0.0 &&
                            ay <= height && by >= 0.0 && by <= height;
        if (!inside && !ClipSegment(ax, ay, bx, by, 0.0, 0.0, width, height)) continue;
        // Pixel centres at whole + 0.5: step along the major axis through them.
        const double dx = bx - ax, dy = by - ay;
        if (std::fabs(dx) >= std::fabs(dy)) {
            if (ax > bx) std::swap(ax, bx), std::swap(ay, by);
            const double slope = dx != 0.0 ? (by - ay) / (bx - ax) : 0.0;
            const int from = static_cast<int>(std::floor(ax)),
                      to = static_cast<int>(std::floor(bx));
            for (int x = from; x <= to; ++x) {
                const double y = ay + slope * (x + 0.5 - ax);
                const int row = static_cast<int>(std::floor(y));
                put(x, row);
                if (extra) put(x, row + 1);
            }
        } else {
            if (ay > by) std::swap(ax, bx), std::swap(ay, by);
            const double slope = (bx - ax) / (by - ay);
            const int from = static_cast<int>(std::floor(ay)),
                      to = static_cast<int>(std::floor(by));
            for (int y = from; y <= to; ++y) {
                const double x = ax + slope * (y + 0.5 - ay);
                const int column = static_cast<int>(std::floor(x));
                put(column, y);
                if (extra) put(column + 1, y);
            }
        }
    }
}
