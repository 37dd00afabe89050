// Points painted into a picture of the GL window as the GL rasterises them:
// the stereo view paints many points into its image pictures instead of
// drawing them as GL points, and the pixels must be the same.
//
// Coordinates: GL window (one unit per screen pixel, y up from the bottom
// edge); the picture is width x height words, bottom row first (as
// glDrawPixels takes it).
//
// Core code: no Qt, no GL.
#pragma once

#include <cstddef>
#include <cstdint>

// Paints `count` points, given as GL window x, y pairs in `xy`, as squares of
// `size` pixels filled with `colour`, where the GL puts an aliased point of
// that size under the one-unit-per-pixel projection: the window position is
// formed as the vertex and viewport transforms form it in single precision,
// snapped to 1/256 pixel; an odd-sized square is centred on the pixel holding
// the point, an even-sized one on the nearest pixel corner; a point whose
// centre lies outside the window is not drawn at all, as the GL clips points;
// squares are cut at the picture's edges. Nothing for a size outside 1 ..
// kMaxPointSquare or a picture without pixels.
constexpr int kMaxPointSquare = 4096;
void PaintPointSquares(uint32_t* picture, int width, int height, const float* xy, size_t count,
                       int size, uint32_t colour);

// Paints `count` line segments, given as GL window x0, y0, x1, y1 in `xy`, in
// `colour`, `lineWidth` (1 or 2) pixels wide: the pixels whose centres a
// segment passes nearest along its major axis, one per column (or row), the
// second pixel of a wide line beside it across that axis. Segments are cut
// to the picture first, so one reaching far outside costs no more than its
// visible part.
void PaintLineSegments(uint32_t* picture, int width, int height, const float* xy, size_t count,
                       int lineWidth, uint32_t colour);
