// How densely the points lie over a photograph, for the overview's shading:
// the photograph drawn into a grid of width x height cells (one per overview
// pixel it covers), each cell holding the number of live points within a box
// of (2 kDensityRadius + 1) x (2 kDensityRadius + 1) cells around it, so that
// a sparse area shows as a shade rather than as scattered dots.
//
// Coordinates: the points' sub-image pixels (column, row down from the top)
// of a columns x rows photograph; cell (c, r) covers the sub-image columns
// c * columns / width .. (c + 1) * columns / width, and rows alike; cells are
// stored row by row, top row first.
//
// Core code: no Qt, no GL.
#pragma once

#include <vector>

class CTINPoints;

constexpr int kDensityRadius = 3;

struct PointDensity {
    int width = 0;
    int height = 0;
    std::vector<int> counts;  // width x height box counts, top row first
    int most = 0;             // the largest count
};

// Counts the image points whose ground point (same index) is live (id >= 0)
// at their positions in `imagePoints`; positions outside the photograph, or
// not finite, count nowhere. 1; -1 (out emptied) for a size below 1 or a grid
// of more than 2^28 cells.
int ComputePointDensity(const CTINPoints& ground, const CTINPoints& imagePoints, int columns,
                        int rows, int width, int height, PointDensity& out);

// Opacity 0..255 of a cell's shading: 0 without points, otherwise rising
// logarithmically with the count (so that a sparse area still shows) from 35
// to about 120 at the largest count.
int DensityAlpha(int count, int most);
