#include "Surface/SurfaceImages.h"

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
    m_left = m_right = nullptr;
    m_nLayout = UINT64_MAX;
}

void CContourImages::Update(const CContours& contours, const CAerialPhoto& left,
                            const CAerialPhoto& right) {
    if (contours.Layout() != m_nLayout || &left != m_left || &right != m_right) {
        m_images.clear();
        m_nLayout = contours.Layout();
        m_left = &left;
        m_right = &right;
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
