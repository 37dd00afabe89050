#include "Surface/SurfaceImages.h"

#include <algorithm>
#include <cmath>
#include <limits>

bool GroundToSubImage(const CAerialPhoto& photo, double x, double y, double z, double& column,
                      double& row) {
    double c = 0.0, r = 0.0;
    if (photo.GroundToImage(x, y, z, c, r) < 0 || !std::isfinite(c) || !std::isfinite(r)) {
        column = row = std::numeric_limits<double>::quiet_NaN();
        return false;
    }
    photo.ScannedToSubImage(c, r, column, row);
    return true;
}

void CContourImages::Clear() {
    m_images.clear();
    for (Grid& g : m_grids) g = Grid();
    m_stamps.clear();
    m_left = m_right = nullptr;
    m_nLayout = UINT64_MAX;
}

void CContourImages::Update(const CContours& contours, const CAerialPhoto& left,
                            const CAerialPhoto& right) {
    if (contours.Layout() != m_nLayout || &left != m_left || &right != m_right) {
        Clear();
        m_nLayout = contours.Layout();
        m_left = &left;
        m_right = &right;
        const CAerialPhoto* photos[2] = {&left, &right};
        for (int eye = 0; eye < 2; ++eye) {
            const ImageSize size = photos[eye]->m_image.GetSize();
            Grid& g = m_grids[eye];
            g.columns = std::max(1, (size.cx + kCellSide - 1) / kCellSide);
            g.rows = std::max(1, (size.cy + kCellSide - 1) / kCellSide);
            for (auto& cells : g.cells) cells.assign(static_cast<size_t>(g.columns) * g.rows, {});
        }
    }
    const std::vector<ContourSegment>& segments = contours.Segments();
    const size_t from = m_images.size();
    if (segments.size() <= from) return;
    m_images.resize(segments.size());
    const double interval = contours.Interval();
    for (size_t i = from; i < segments.size(); ++i) {
        const ContourSegment& s = segments[i];
        const double z = s.level * interval;
        SegmentImages& out = m_images[i];
        const double ends[2][2] = {{s.x0, s.y0}, {s.x1, s.y1}};
        for (int e = 0; e < 2; ++e) {
            double c = 0.0, r = 0.0;
            GroundToSubImage(left, ends[e][0], ends[e][1], z, c, r);
            out.left[2 * e] = static_cast<float>(c);
            out.left[2 * e + 1] = static_cast<float>(r);
            GroundToSubImage(right, ends[e][0], ends[e][1], z, c, r);
            out.right[2 * e] = static_cast<float>(c);
            out.right[2 * e + 1] = static_cast<float>(r);
        }
        const bool index = CContours::IsIndexLevel(s.level);
        AddToGrid(0, index, static_cast<int32_t>(i), out.left);
        AddToGrid(1, index, static_cast<int32_t>(i), out.right);
    }
}

void CContourImages::AddToGrid(int eye, bool index, int32_t slot, const float* e) {
    for (int k = 0; k < 4; ++k)
        if (!std::isfinite(e[k])) return;
    Grid& g = m_grids[eye];
    // Cells of the segment's bounding box, cut to the grid (positions beyond
    // the photograph go to its edge cells).
    auto cell = [](float v, int n) {
        return std::clamp(static_cast<int>(std::floor(v / kCellSide)), 0, n - 1);
    };
    const int c0 = cell(std::min(e[0], e[2]), g.columns),
              c1 = cell(std::max(e[0], e[2]), g.columns);
    const int r0 = cell(std::min(e[1], e[3]), g.rows), r1 = cell(std::max(e[1], e[3]), g.rows);
    std::vector<std::vector<int32_t>>& cells = g.cells[index ? 1 : 0];
    for (int r = r0; r <= r1; ++r)
        for (int c = c0; c <= c1; ++c)
            cells[static_cast<size_t>(r) * g.columns + c].push_back(slot);
}

void CContourImages::SlotsIn(int eye, bool index, double left, double top, double right,
                             double bottom, std::vector<int32_t>& slots) const {
    slots.clear();
    const Grid& g = m_grids[eye];
    if (g.columns < 1 || !(right >= left) || !(bottom >= top)) return;
    if (m_stamps.size() < m_images.size()) m_stamps.resize(m_images.size(), 0);
    if (++m_nQuery == 0) {  // the stamps wrapped: start again
        std::fill(m_stamps.begin(), m_stamps.end(), 0);
        m_nQuery = 1;
    }
    auto cell = [](double v, int n) {
        return static_cast<int>(std::clamp(std::floor(v / kCellSide), 0.0, n - 1.0));
    };
    const int c0 = cell(left, g.columns), c1 = cell(right, g.columns);
    const int r0 = cell(top, g.rows), r1 = cell(bottom, g.rows);
    const std::vector<std::vector<int32_t>>& cells = g.cells[index ? 1 : 0];
    for (int r = r0; r <= r1; ++r)
        for (int c = c0; c <= c1; ++c)
            for (int32_t slot : cells[static_cast<size_t>(r) * g.columns + c]) {
                uint32_t& stamp = m_stamps[static_cast<size_t>(slot)];
                if (stamp == m_nQuery) continue;
                stamp = m_nQuery;
                slots.push_back(slot);
            }
}

DrapeResult DrapeOnSurface(const CSurface& surface, const CAerialPhoto& left, double column,
                           double row, double startZ, double& X, double& Y, double& Z,
                           double tolerance, int maxSteps) {
    double pixel[2] = {0.0, 0.0};
    left.SubImageToScanned(column, row, pixel[0], pixel[1]);
    double z = startZ;
    for (int step = 0; step < maxSteps; ++step) {
        double x = 0.0, y = 0.0, h = 0.0;
        if (!std::isfinite(z) || left.ImageToGround(pixel, &z, x, y) < 0)
            return DrapeResult::NotConverged;
        if (!surface.Height(x, y, h)) return DrapeResult::Outside;
        const double change = std::fabs(h - z);
        z = h;
        if (change < tolerance) {
            if (left.ImageToGround(pixel, &z, X, Y) < 0) return DrapeResult::NotConverged;
            Z = z;
            return DrapeResult::Found;
        }
    }
    return DrapeResult::NotConverged;
}
