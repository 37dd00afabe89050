#include "StereoView/ThinnedPoints.h"

#include <algorithm>
#include <cmath>

size_t ThinningStride(double scale, int64_t livePoints, double pointsArea, double visibleArea,
                      int pointSize) {
    if (!(scale > 0.0) || livePoints <= 0 || !(pointsArea > 0.0)) return 0;
    const double perPixel = static_cast<double>(livePoints) / pointsArea;  // per sub-image pixel
    const double inView = perPixel * std::max(0.0, visibleArea);
    // The share of the screen the squares cover at stride 1.
    const double side = std::max(1, pointSize);
    const double coverage = perPixel / (scale * scale) * side * side;
    if (inView <= kThinFromPointsInView &&
        (scale >= 1.0 || (scale >= kThinBelowZoom && coverage <= 1.0)))
        return 0;
    const double wantStride = std::max(coverage * 4.0, inView / kThinFromPointsInView);
    size_t stride = 1;
    while (static_cast<double>(stride) < wantStride && stride < (size_t{1} << 40)) stride *= 2;
    return stride;
}

void CThinnedPoints::Update(const CTINPoints& set, size_t stride, uint64_t generation) {
    if (stride < 1) stride = 1;
    if (&set == m_set && stride == m_nStride && generation == m_nGeneration) return;
    m_set = &set;
    m_nStride = stride;
    m_nGeneration = generation;
    m_xy.clear();
    const size_t count = static_cast<size_t>(std::max(0, set.GetCount()));
    m_xy.reserve(2 * (count / stride + 1));
    // One record out of each block of `stride`, at a place in the block that
    // a hash of the block's number chooses: records in grid order would
    // otherwise keep whole columns of the grid and drop the others.
    for (size_t block = 0; block * stride < count; ++block) {
        uint64_t h = block * 0x9E3779B97F4A7C15ull;
        h ^= h >> 29;
        h *= 0xBF58476D1CE4E5B9ull;
        h ^= h >> 32;
        const size_t i = block * stride + static_cast<size_t>(h % stride);
        if (i >= count) continue;
        const TINPoint* p = set.GetPoint(static_cast<int>(i));
        if (!p || p->id < 0) continue;
        // Copies: the records are packed as the points file holds them.
        const double x = p->x, y = p->y;
        if (!std::isfinite(x) || !std::isfinite(y)) continue;
        m_xy.push_back(x);
        m_xy.push_back(y);
    }
    ++m_nBuilds;
}

void CThinnedPoints::AppendVisible(const CStereoFrame& frame, int eye, const StereoRect& visible,
                                   std::vector<float>& xy) const {
    for (size_t k = 0; k + 1 < m_xy.size(); k += 2) {
        const double x = m_xy[k], y = m_xy[k + 1];
        if (x < visible.left || x > visible.right || y < visible.top || y > visible.bottom)
            continue;
        const StereoPoint at = frame.SubImageToGL(eye, {x, y});
        xy.push_back(static_cast<float>(at.x));
        xy.push_back(static_cast<float>(at.y));
    }
}
