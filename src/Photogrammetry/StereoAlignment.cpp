#include "Photogrammetry/StereoAlignment.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "Photogrammetry/AerialPhoto.h"
#include "TIN/TINPoints.h"

double MedianHeight(const CTINPoints& ground) {
    std::vector<double> z;
    z.reserve(static_cast<size_t>(ground.GetCount()));
    for (int i = 0; i < ground.GetCount(); ++i) {
        const TINPoint* p = ground.GetPoint(i);
        const double height = p->z;  // by value: the packed field is misaligned
        if (p->id >= 0 && std::isfinite(height)) z.push_back(height);
    }
    if (z.empty()) return std::numeric_limits<double>::quiet_NaN();
    const auto middle = z.begin() + static_cast<std::ptrdiff_t>(z.size() / 2);
    std::nth_element(z.begin(), middle, z.end());
    return *middle;
}

int SeenAtLeftPixel(const CAerialPhoto& left, const CAerialPhoto& right, double column, double row,
                    double Z, double& X, double& Y, double& rightColumn, double& rightRow) {
    double pixel[3] = {0.0, 0.0, 1.0};  // scanned-image pixel
    left.SubImageToScanned(column, row, pixel[0], pixel[1]);
    double gx = 0.0, gy = 0.0;
    if (left.ImageToGround(pixel, &Z, gx, gy) < 0) return -1;
    X = gx;
    Y = gy;
    double rc = 0.0, rr = 0.0;
    if (right.GroundToImage(X, Y, Z, rc, rr) < 0) {
        rightColumn = rightRow = std::numeric_limits<double>::quiet_NaN();
        return 1;
    }
    right.ScannedToSubImage(rc, rr, rightColumn, rightRow);
    return 1;
}

int FusingOffsets(const CAerialPhoto& left, const CAerialPhoto& right, double column, double row,
                  double Z, int& xOffset, int& yOffset) {
    double X = 0.0, Y = 0.0, rc = 0.0, rr = 0.0;
    if (SeenAtLeftPixel(left, right, column, row, Z, X, Y, rc, rr) < 0) return -1;
    const double dx = std::round(column - rc), dy = std::round(rr - row);
    if (!(std::fabs(dx) < 1e9 && std::fabs(dy) < 1e9)) return -1;
    xOffset = static_cast<int>(dx);
    yOffset = static_cast<int>(dy);
    return 1;
}
