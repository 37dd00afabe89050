// Picking an image point of the left eye with the mouse at any scale.
//
// The tolerance is in screen pixels, so that the mouse must come as near a
// point on the screen whatever the zoom: in left sub-image pixels it is
// tolerance / scale around the click's sub-image position. At scale 1 the
// click is a whole sub-image pixel and the set's FindNearest answers, as it
// always has; at other scales the click lies between pixels and the search
// goes through every index cell that circle touches (FindNearestAt).
//
// Core code: no Qt, no GL.
#pragma once

#include "StereoView/StereoFrame.h"

class CTINPoints;

// Left sub-image position of a click (client pixels): exact at every scale.
StereoPoint ClickSubImage(const CStereoFrame& frame, StereoPoint client);

// Record index of the nearest live point of `leftPoints` strictly within
// tolerance / scale (sub-image pixels) of the click's left sub-image position,
// or -1 (none, no index, a scale that is not positive).
int PickLeftPoint(const CStereoFrame& frame, const CTINPoints& leftPoints, StereoPoint client,
                  double tolerance);
