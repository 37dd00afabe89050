#include "Photogrammetry/Intersection.h"

#include <cmath>
#include <limits>

#include "Photogrammetry/AerialPhoto.h"

namespace {

struct Ray {
    double origin[3];
    double direction[3];
};

// The ray of a scanned-image pixel in ground coordinates: from the projection
// centre along M^T (x - x0, y - y0, -f). M takes ground axes to photo axes, so
// its transpose takes the photo vector back to a ground direction.
bool RayOf(const CAerialPhoto& photo, double column, double row, Ray& ray) {
    double p[3];
    if (photo.ImageToPhoto(column, row, p) < 0 || !photo.m_ppRotation) return false;
    double** m = photo.m_ppRotation.get();
    for (int j = 0; j < 3; ++j) ray.direction[j] = m[0][j] * p[0] + m[1][j] * p[1] + m[2][j] * p[2];
    ray.origin[0] = photo.m_dXs;
    ray.origin[1] = photo.m_dYs;
    ray.origin[2] = photo.m_dZs;
    for (double v : ray.direction)
        if (!std::isfinite(v)) return false;
    return true;
}

double Dot(const double* a, const double* b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

}  // namespace

int IntersectRays(const CAerialPhoto& left, double leftColumn, double leftRow,
                  const CAerialPhoto& right, double rightColumn, double rightRow, double& X,
                  double& Y, double& Z, double maxMissPixels) {
    X = Y = Z = std::numeric_limits<double>::quiet_NaN();
    Ray a{}, b{};
    if (!RayOf(left, leftColumn, leftRow, a) || !RayOf(right, rightColumn, rightRow, b)) return -1;
    // Closest points a.origin + t a.direction and b.origin + s b.direction.
    const double w0[3] = {a.origin[0] - b.origin[0], a.origin[1] - b.origin[1],
                          a.origin[2] - b.origin[2]};
    const double aa = Dot(a.direction, a.direction), bb = Dot(b.direction, b.direction);
    const double ab = Dot(a.direction, b.direction);
    const double d = Dot(a.direction, w0), e = Dot(b.direction, w0);
    const double denominator = aa * bb - ab * ab;
    // sin^2 of the angle between the rays.
    const double minSine = std::sin(0.1 * 3.141592653589793 / 180.0);
    if (!(denominator > minSine * minSine * aa * bb)) return -1;
    const double t = (ab * e - bb * d) / denominator;
    const double s = (aa * e - ab * d) / denominator;
    if (!(t > 0.0) || !(s > 0.0)) return -1;
    double point[3];
    for (int k = 0; k < 3; ++k)
        point[k] = 0.5 * (a.origin[k] + t * a.direction[k] + b.origin[k] + s * b.direction[k]);
    // Rays that miss each other widely belong to two different ground points.
    double c = 0.0, r = 0.0;
    if (left.GroundToImage(point[0], point[1], point[2], c, r) < 0 ||
        std::hypot(c - leftColumn, r - leftRow) > maxMissPixels)
        return -1;
    if (right.GroundToImage(point[0], point[1], point[2], c, r) < 0 ||
        std::hypot(c - rightColumn, r - rightRow) > maxMissPixels)
        return -1;
    X = point[0];
    Y = point[1];
    Z = point[2];
    return 1;
}
