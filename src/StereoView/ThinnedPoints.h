// The points an eye draws when the view is zoomed far out or holds very many
// of them: a fixed subsample, one record out of each block of `stride`
// records (a power of two) at a place in the block fixed by the block's
// number, so that the dots keep a density the eye can read, spread evenly
// over a grid of points, and the same records stay while the view pans. The subsample of one stride
// is kept (records and sub-image positions) until the points change, so a
// redraw or a pan looks at the kept points only, not at every point in view.
//
// Coordinates: image points in sub-image pixels of the eye's photograph;
// the drawn positions in GL window pixels through the frame.
//
// Core code: no Qt, no GL.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "StereoView/StereoFrame.h"
#include "TIN/TINPoints.h"

// Points in view from which the view draws a subsample at any zoom.
constexpr double kThinFromPointsInView = 200000.0;
// Below this zoom the view always draws a subsample.
constexpr double kThinBelowZoom = 0.25;

// The stride of the subsample the view draws at `scale` (screen pixels per
// sub-image pixel), for `livePoints` spread over `pointsArea` sub-image
// pixels (the extent of the points in the photograph) of which `visibleArea`
// are in view, points drawn as squares of `pointSize` pixels: 0 when every
// point in view is drawn, which it is with at most kThinFromPointsInView in
// view at 1:1 and above, and from 1:4 up as long as the squares would not
// cover the screen more than once over. Otherwise the smallest power of two
// that keeps the squares to a quarter of the screen (one dot per four
// squares' area) and at most kThinFromPointsInView in view. It depends on
// the zoom, not on the scroll position.
size_t ThinningStride(double scale, int64_t livePoints, double pointsArea, double visibleArea,
                      int pointSize);

class CThinnedPoints {
public:
    // Makes the subsample of `set` at `stride` current, unless it is already
    // (same set, same stride, same edit generation).
    void Update(const CTINPoints& set, size_t stride, uint64_t generation);
    // Appends the GL window position (x, y) of every kept point whose
    // sub-image position lies in `visible`.
    void AppendVisible(const CStereoFrame& frame, int eye, const StereoRect& visible,
                       std::vector<float>& xy) const;
    size_t Size() const { return m_xy.size() / 2; }
    // Times the subsample was made (tests, benchmarks).
    int Builds() const { return m_nBuilds; }

private:
    const CTINPoints* m_set = nullptr;
    size_t m_nStride = 0;
    uint64_t m_nGeneration = 0;
    std::vector<double> m_xy;  // sub-image column, row of each kept record
    int m_nBuilds = 0;
};
