// Pits and peaks that a single bad height makes: the live points inside a
// closed contour line that encloses one or two live points only. They go to
// the check queue beside its own suspects (CCheckQueue::SetExtraSuspects).
//
// They are found from the triangulation, without tracing a line or testing a
// point against a polygon. A closed line of level L runs through the
// triangles around the points it encloses and crosses every edge from them to
// the points outside; the points it encloses lie on one side of L (at or
// above it: the contours' own rule), those just outside on the other. So the
// line of level L encloses
//   - record p alone exactly when p lies inside the hull (not on it) and
//     max(Z of its neighbours) < L <= Z(p) (a peak) or
//     Z(p) < L <= min(Z of its neighbours) (a pit);
//   - neighbours p and q alone exactly when both lie inside the hull and L
//     lies in the same way between both their heights and those of every
//     other neighbour of either.
// L must be a whole multiple of the contours' interval, as the drawn lines
// are. One pass over the triangles: time and memory grow with the number of
// points (40 bytes per record while it runs), not with the length of the lines.
// Live points hidden behind a vertex (at its X, Y) are inside with it and
// count as points.
//
// Units: ground coordinates; heights and the interval in the unit of Z.
#pragma once

#include <vector>

#include "Surface/Contours.h"
#include "Surface/Surface.h"

class CTINPoints;

// The records inside a closed contour line of `contours` (at its interval)
// that encloses one or two live points only, sorted and unique; empty
// without triangles or interval. `surface` and `contours` must be current
// for `ground`.
std::vector<int> FindContourPits(const CSurface& surface, const CContours& contours,
                                 const CTINPoints& ground);
