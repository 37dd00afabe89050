#include "StereoView/ViewPick.h"

#include <cmath>

#include "TIN/TINPoints.h"

StereoPoint ClickSubImage(const CStereoFrame& frame, StereoPoint client) {
    return frame.ClientToSubImage(CStereoFrame::kLeft, client);
}

int PickLeftPoint(const CStereoFrame& frame, const CTINPoints& leftPoints, StereoPoint client,
                  double tolerance) {
    if (!(frame.m_dScale > 0.0)) return -1;
    const StereoPoint at = ClickSubImage(frame, client);
    if (frame.m_dScale == 1.0) {
        // Whole pixels at 1:1 (the click and the scroll position are whole).
        const double x = std::floor(at.x), y = std::floor(at.y);
        if (!(std::fabs(x) < 2e9 && std::fabs(y) < 2e9)) return -1;
        return leftPoints.FindNearest(static_cast<int>(x), static_cast<int>(y), tolerance);
    }
    return leftPoints.FindNearestAt(at.x, at.y, tolerance / frame.m_dScale);
}
