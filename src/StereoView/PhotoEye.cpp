#include "StereoView/PhotoEye.h"

#include "Photogrammetry/AerialPhoto.h"

StereoEye EyeOf(const CAerialPhoto& photo) {
    StereoEye eye;
    if (photo.m_image.GetBands()) {
        eye.columns = photo.m_image.GetSize().cx;
        eye.rows = photo.m_image.GetSize().cy;
    }
    eye.window = {photo.m_nFirstCol, photo.m_nLastCol, photo.m_nFirstRow,
                  photo.m_nLastRow,  photo.m_nRasterX, photo.m_nRasterY};
    return eye;
}

void ComputeEyeWindow(CAerialPhoto& photo, CStereoFrame& frame, int eye) {
    const StereoWindowRequest r = frame.WindowRequest(eye);
    photo.ComputeWindow(r.xOffset, r.yOffset, r.visible.left, r.visible.top, r.visible.right,
                        r.visible.bottom, r.sceneHeight);
    frame.m_eyes[eye] = EyeOf(photo);
}
