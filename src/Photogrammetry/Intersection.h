// Space intersection: the ground point seen at a pixel of each photograph of
// the pair, found from the two rays rather than from one ray and a height.
//
// Pixels are scanned-image pixels (add the LAN header's x/y start to a
// sub-image position); the result is in ground coordinates.
#pragma once

class CAerialPhoto;

// Rays of the pair through one scanned-image pixel of each photograph, and
// the ground point that best fits both: the point whose summed squared
// distance to the two rays is least (the midpoint of their common
// perpendicular). 1 on success; -1 when either photograph has no orientation,
// the rays are nearer to parallel than a tenth of a degree, the point lies
// behind either projection centre, or the rays pass each other so far apart
// that the point projects more than `maxMissPixels` from either pixel (the
// pixels then do not show one ground point: the marks have a y-parallax).
// X, Y, Z are NaN on failure.
int IntersectRays(const CAerialPhoto& left, double leftColumn, double leftRow,
                  const CAerialPhoto& right, double rightColumn, double rightRow, double& X,
                  double& Y, double& Z, double maxMissPixels = 2.0);
