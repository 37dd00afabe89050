// Exact geometric predicates on ground X, Y (doubles, any magnitude).
//
// Each answers with the sign of a determinant computed exactly: first in
// plain floating point with an error bound, and only when the bound cannot
// decide, exactly (a 256-bit integer evaluation when the coordinate
// differences are exact and close in scale, which covers points on a
// regular grid, else floating-point expansions). The triangulation's
// decisions therefore never depend on rounding.
#pragma once

namespace surface {

struct XY {
    double x, y;
};

// Sign of (b - a) x (c - a): +1 when a, b, c turn left (counter-clockwise),
// -1 right, 0 collinear.
int Orient(const XY& a, const XY& b, const XY& c);

// Sign of the in-circle determinant: +1 when d lies inside the circle
// through a, b, c (taken counter-clockwise), -1 outside, 0 on it. For
// clockwise a, b, c the sign is reversed.
int InCircle(const XY& a, const XY& b, const XY& c, const XY& d);

// The in-circle test with ties broken by symbolic perturbation: the lifted
// height x^2 + y^2 of each point is raised by an infinitesimal that is
// larger the smaller the point's key (record index), so four points on one
// circle are decided by the order of their keys alone and every point set
// has one triangulation whatever order its points came in. a, b, c must be
// counter-clockwise and not collinear, d distinct from them; then the result
// is never 0: +1 inside, -1 outside.
int InCircleTieBroken(const XY& a, int ka, const XY& b, int kb, const XY& c, int kc, const XY& d,
                      int kd);

}  // namespace surface
