// Synthetic ground point sets for the checking tests: jittered grids over a
// height function, with Gaussian matching noise, in ground metres.
#pragma once

#include <cmath>
#include <functional>
#include <random>
#include <vector>

#include "TIN/TINPoints.h"

namespace checktest {

// A cols x rows grid of points spacing apart from (x0, y0), each moved by up
// to jitter x spacing in X and Y, with height surface(x, y) plus N(0, noise)
// and weight 0.97; record i is column i % cols of row i / cols. The header
// bounds and spacing are set as a points file would give them.
inline void MakeGrid(CTINPoints& set, int cols, int rows, double spacing, double jitter,
                     double noise, const std::function<double(double, double)>& surface,
                     unsigned seed, double x0 = 500000.0, double y0 = 4000000.0) {
    CTINPoints grid(cols * rows);
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> shift(-jitter * spacing, jitter * spacing);
    std::normal_distribution<double> error(0.0, noise > 0.0 ? noise : 1.0);
    for (int i = 0; i < cols * rows; ++i) {
        TINPoint& p = grid.m_pPoints[i];
        p.id = i;
        p.x = x0 + (i % cols) * spacing + shift(random);
        p.y = y0 + (i / cols) * spacing + shift(random);
        p.z = surface(p.x, p.y) + (noise > 0.0 ? error(random) : 0.0);
        p.weight = 0.97;
    }
    grid.m_dMinX = x0 - spacing;
    grid.m_dMaxX = x0 + cols * spacing;
    grid.m_dMinY = y0 - spacing;
    grid.m_dMaxY = y0 + rows * spacing;
    grid.SetSpacing(spacing, spacing);
    set.Swap(grid);
}

// Index of the grid point in column c, row r.
inline int At(int cols, int c, int r) {
    return r * cols + c;
}

}  // namespace checktest
