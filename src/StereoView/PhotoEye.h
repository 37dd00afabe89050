// A photograph of the pair as an eye of the stereo frame.
//
// Core code: no Qt, no GL.
#pragma once

#include "StereoView/StereoFrame.h"

class CAerialPhoto;

// The photograph's size in sub-image pixels (0 x 0 without an image) and its
// display window as last computed.
StereoEye EyeOf(const CAerialPhoto& photo);

// Computes the photograph's display window for the frame's eye (the
// photograph keeps it, with its window-changed flag) and keeps it in the frame too.
void ComputeEyeWindow(CAerialPhoto& photo, CStereoFrame& frame, int eye);
