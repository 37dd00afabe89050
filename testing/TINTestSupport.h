// Reference searches for the tests and benchmarks of the grid index.
#pragma once

#include <cstdint>

#include "TIN/TINPoints.h"

namespace tintest {

// The nearest live point strictly within `radius` of (x, y) among the keys of
// the index cell holding (x, y) alone, as the search the index allowed before
// FindNearest: -1 when the set has no index, (x, y) lies outside the grid or
// that cell holds no such point. Coordinates and radius in the set's units.
inline int NearestInOwnCell(const CTINPoints& set, int x, int y, double radius) {
    const CGridIndex* index = set.GetIndex();
    if (!index) return -1;
    int column = 0;
    int row = 0;
    index->CellOf(x, y, column, row);
    if (row < 0 || column < 0 || row >= index->m_nRows || column >= index->m_nCols) return -1;
    int best = -1;
    double bestDistance = radius * radius;
    for (const int32_t k : index->CellKeys(row, column)) {
        const TINPoint* p = set.GetPoint(k);
        if (!p || p->id < 0) continue;
        const double dx = p->x - x;
        const double dy = p->y - y;
        const double d = dx * dx + dy * dy;
        if (d < bestDistance) {
            bestDistance = d;
            best = k;
        }
    }
    return best;
}

}  // namespace tintest
