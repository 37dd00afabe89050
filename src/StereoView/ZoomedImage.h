// The picture of one eye at a scale other than 1:1: for every screen pixel of
// the client area that the photograph covers, the photograph's pixel under
// its centre (nearest neighbour). Zoomed in, a sub-image pixel becomes a
// square of screen pixels; zoomed out, the picture is every 2^k-th pixel of
// the photograph (a subsample) or, when a reduced level of the photograph is
// at hand, the level's pixels (box-filtered means).
//
// Coordinates: the picture covers GL window pixels [x0, x0 + width) x
// [y0, y0 + height), bottom row first (as glDrawPixels takes it); sources are
// rows top first (sub-image order).
//
// Core code: no Qt, no GL.
#pragma once

#include <cstdint>
#include <vector>

#include "StereoView/StereoFrame.h"

// What to sample: `columns` x `rows` samples of `bytesPerSample` bytes
// (8-bit grey values, or band 0 of a wider photograph, whose samples are
// copied as they are), one covering 2^shift x 2^shift sub-image pixels
// (shift 0: the photograph itself).
struct ZoomSource {
    const unsigned char* grey = nullptr;
    int columns = 0;
    int rows = 0;
    int shift = 0;
    int bytesPerSample = 1;
};

struct ZoomedPicture {
    int x0 = 0;  // GL window position of the lower-left pixel
    int y0 = 0;
    int width = 0;
    int height = 0;
    std::vector<unsigned char> grey;  // width x height samples, bottom row first
};

// The screen pixels whose centres fall on the eye's photograph (columns x
// rows sub-image pixels) within the client area; false when none do.
bool ZoomedScreenRect(const CStereoFrame& frame, int eye, int columns, int rows, int& x0, int& y0,
                      int& width, int& height);

// Samples `source` for the eye's screen pixels. `columns` and `rows` are the
// photograph's size in sub-image pixels. An empty picture when no screen
// pixel shows the photograph or the source is empty.
void SampleZoomedPicture(const CStereoFrame& frame, int eye, int columns, int rows,
                         const ZoomSource& source, ZoomedPicture& out);

// The level (number of halvings) to draw from at a scale below 1: the most
// reduced level that still has at least one level pixel per screen pixel.
int ZoomLevelFor(double scale);
