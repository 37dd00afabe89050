#include "StereoView/StereoFrame.h"

#include "Platform/IntConversion.h"

namespace {

// Whole pixels of a scene position, clamped to the int range (NaN gives 0).
int FloorClamped(double v) {
    int out = 0;
    Platform::TruncClamped(std::floor(v), out);
    return out;
}

int CeilClamped(double v) {
    int out = 0;
    Platform::TruncClamped(std::ceil(v), out);
    return out;
}

}  // namespace

bool CStereoFrame::ScrollToCentre(int eye, StereoPoint s, int& scrollX, int& scrollY) const {
    const StereoPoint l = SubImageToLogical(eye, s);
    int x = 0, y = 0;
    if (!Platform::TruncToInt(l.x - m_nClientWidth / 2, x) ||
        !Platform::TruncToInt(l.y - m_nClientHeight / 2, y))
        return false;
    scrollX = x;
    scrollY = y;
    return true;
}

StereoWindowRequest CStereoFrame::WindowRequest(int eye) const {
    StereoWindowRequest r;
    r.xOffset = XOffset(eye);
    r.yOffset = eye == kRight ? m_nYOffset : 0;
    r.sceneHeight = m_nSceneHeight;
    const StereoRect v = VisibleLogical();
    if (m_dScale == 1.0) {
        r.visible = v;
    } else {
        // Every scene pixel the client area touches.
        r.visible = {FloorClamped(v.left / m_dScale), FloorClamped(v.top / m_dScale),
                     CeilClamped(v.right / m_dScale), CeilClamped(v.bottom / m_dScale)};
    }
    return r;
}

StereoRect CStereoFrame::VisibleSubImage(int eye) const {
    const StereoEye& e = m_eyes[eye];
    return {e.window.firstCol, e.rows - e.window.lastRow - 1, e.window.lastCol,
            e.rows - e.window.firstRow - 1};
}

bool CStereoFrame::IsPixelProjection(const float m[16]) const {
    const int width = m_nClientWidth, height = m_nClientHeight;
    if (width < 1 || height < 1) return false;
    return m[0] == static_cast<float>(2.0 / width) && m[1] == 0.0f && m[3] == 0.0f &&
           m[4] == 0.0f && m[5] == static_cast<float>(2.0 / height) && m[7] == 0.0f &&
           m[12] == -1.0f && m[13] == -1.0f && m[15] == 1.0f;
}
