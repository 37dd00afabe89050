#include "StereoView/ZoomedImage.h"

#include <algorithm>
#include <cmath>

namespace {

// Sub-image column under the centre of GL window column x, row under the
// centre of GL window row y (floors of exact positions).
double ColumnAt(const CStereoFrame& f, int eye, int x) {
    return std::floor(f.GLToSubImage(eye, {x + 0.5, 0.0}).x);
}
double RowAt(const CStereoFrame& f, int eye, int y) {
    return std::floor(f.GLToSubImage(eye, {0.0, y + 0.5}).y);
}

// The first of [lo, hi] where `on` holds, `on` being false and then true
// over the range, from an estimate within a pixel or two of it.
template <class On>
int FirstWhere(double estimate, int lo, int hi, On on) {
    int x = static_cast<int>(std::clamp(std::ceil(estimate), double(lo), double(hi)));
    while (x > lo && on(x - 1)) --x;
    while (x < hi && !on(x)) ++x;
    return x;
}

}  // namespace

bool ZoomedScreenRect(const CStereoFrame& f, int eye, int columns, int rows, int& x0, int& y0,
                      int& width, int& height) {
    x0 = y0 = width = height = 0;
    if (columns < 1 || rows < 1 || !(f.m_dScale > 0.0)) return false;
    const int w = f.m_nClientWidth, h = f.m_nClientHeight;
    // Columns grow with x, rows shrink with y; a pixel shows the photograph
    // when the column and row under its centre are inside it.
    const int xa = FirstWhere(f.SubImageToGL(eye, {0.0, 0.0}).x - 0.5, 0, w,
                              [&](int x) { return ColumnAt(f, eye, x) >= 0; });
    const int xb = FirstWhere(f.SubImageToGL(eye, {1.0 * columns, 0.0}).x - 0.5, xa, w,
                              [&](int x) { return ColumnAt(f, eye, x) >= columns; });
    const int ya = FirstWhere(f.SubImageToGL(eye, {0.0, 1.0 * rows}).y - 0.5, 0, h,
                              [&](int y) { return RowAt(f, eye, y) < rows; });
    const int yb = FirstWhere(f.SubImageToGL(eye, {0.0, 0.0}).y - 0.5, ya, h,
                              [&](int y) { return RowAt(f, eye, y) < 0; });
    if (xb <= xa || yb <= ya) return false;
    x0 = xa;
    y0 = ya;
    width = xb - xa;
    height = yb - ya;
    return true;
}

void SampleZoomedPicture(const CStereoFrame& f, int eye, int columns, int rows,
                         const ZoomSource& source, ZoomedPicture& out) {
    out.width = out.height = 0;
    if (!source.grey || source.columns < 1 || source.rows < 1) return;
    if (!ZoomedScreenRect(f, eye, columns, rows, out.x0, out.y0, out.width, out.height)) return;
    const size_t bps = static_cast<size_t>(std::max(1, source.bytesPerSample));
    out.grey.resize(static_cast<size_t>(out.width) * static_cast<size_t>(out.height) * bps);
    // Source column of each screen column, source row of each screen row.
    std::vector<int> col(static_cast<size_t>(out.width));
    for (int x = 0; x < out.width; ++x) {
        const double c = std::clamp(ColumnAt(f, eye, out.x0 + x), 0.0, columns - 1.0);
        col[static_cast<size_t>(x)] =
            std::min(source.columns - 1, static_cast<int>(c) >> source.shift);
    }
    for (int y = 0; y < out.height; ++y) {
        const double r = std::clamp(RowAt(f, eye, out.y0 + y), 0.0, rows - 1.0);
        const int sr = std::min(source.rows - 1, static_cast<int>(r) >> source.shift);
        const unsigned char* src = source.grey + static_cast<size_t>(sr) * source.columns * bps;
        unsigned char* dst = out.grey.data() + static_cast<size_t>(y) * out.width * bps;
        if (bps == 1) {
            for (int x = 0; x < out.width; ++x) dst[x] = src[col[static_cast<size_t>(x)]];
        } else {
            for (int x = 0; x < out.width; ++x)
                std::copy_n(src + col[static_cast<size_t>(x)] * bps, bps, dst + x * bps);
        }
    }
}

int ZoomLevelFor(double scale) {
    if (!(scale > 0.0) || scale >= 1.0) return 0;
    return std::max(0, static_cast<int>(std::floor(std::log2(1.0 / scale) + 1e-9)));
}
