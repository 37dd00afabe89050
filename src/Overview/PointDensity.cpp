#include "Overview/PointDensity.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "TIN/TINPoints.h"

int ComputePointDensity(const CTINPoints& ground, const CTINPoints& imagePoints, int columns,
                        int rows, int width, int height, PointDensity& out) {
    out = PointDensity();
    const int64_t cells = static_cast<int64_t>(width) * height;
    if (columns < 1 || rows < 1 || width < 1 || height < 1 || cells > (int64_t{1} << 28)) return -1;
    const int w = width, h = height;
    std::vector<int> counts(static_cast<size_t>(cells), 0);
    const int n = std::min(ground.GetCount(), imagePoints.GetCount());
    const double sx = static_cast<double>(w) / columns, sy = static_cast<double>(h) / rows;
    for (int i = 0; i < n; ++i) {
        if (ground.GetPoint(i)->id < 0) continue;
        const TINPoint* p = imagePoints.GetPoint(i);
        const double x = p->x * sx, y = p->y * sy;
        if (!(x >= 0.0 && y >= 0.0 && x < w && y < h)) continue;  // NaN too
        ++counts[static_cast<size_t>(y) * w + static_cast<size_t>(x)];
    }
    // The box sums: along each row, then down each column of the row sums.
    constexpr int kRadius = kDensityRadius;
    std::vector<int> rowSums(counts.size(), 0), boxes(counts.size(), 0);
    for (int r = 0; r < h; ++r) {
        const int* src = counts.data() + static_cast<size_t>(r) * w;
        int* dst = rowSums.data() + static_cast<size_t>(r) * w;
        int sum = 0;
        for (int c = 0; c < std::min(kRadius, w); ++c) sum += src[c];
        for (int c = 0; c < w; ++c) {
            if (c + kRadius < w) sum += src[c + kRadius];
            if (c - kRadius - 1 >= 0) sum -= src[c - kRadius - 1];
            dst[c] = sum;
        }
    }
    int most = 0;
    for (int c = 0; c < w; ++c) {
        int sum = 0;
        for (int r = 0; r < std::min(kRadius, h); ++r)
            sum += rowSums[static_cast<size_t>(r) * w + c];
        for (int r = 0; r < h; ++r) {
            if (r + kRadius < h) sum += rowSums[static_cast<size_t>(r + kRadius) * w + c];
            if (r - kRadius - 1 >= 0) sum -= rowSums[static_cast<size_t>(r - kRadius - 1) * w + c];
            boxes[static_cast<size_t>(r) * w + c] = sum;
            most = std::max(most, sum);
        }
    }
    out.width = w;
    out.height = h;
    out.counts = std::move(boxes);
    out.most = most;
    return 1;
}

int DensityAlpha(int count, int most) {
    if (count <= 0 || most <= 0) return 0;
    const double norm = 1.0 / std::log1p(most);
    return 35 + static_cast<int>(85.0 * std::log1p(count) * norm);
}
