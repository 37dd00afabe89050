// orvane-contours POINTS.pts [--interval METRES] OUT: triangulates the live
// points of a points file (Surface/Surface.h), contours the surface
// (Surface/Contours.h; every fifth level an index contour) and writes the
// lines as 3-D line strings with their height and index flag
// (Surface/ContourExport.h), in the format of OUT's extension: .geojson,
// .shp or .dxf. Without --interval the default interval of the points is
// used (printed). The interval is in the unit of the points' Z.
//
// Bad input is refused with a message on the error stream, a non-zero exit
// status and nothing written.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// Exit statuses: 0 written; 1 the points file could not be read (or is no
// regular file); 2 the points give no surface (fewer than three live points
// off one line); 3 the interval gives too many levels; 64 bad command line
// (an interval that is not a positive number, an output of an unknown
// format); 73 the output could not be made or saved.
constexpr int kContourToolNoSurface = 2;
constexpr int kContourToolTooManyLevels = 3;
constexpr int kContourToolUsage = 64;
constexpr int kContourToolOutput = 73;

// Most levels one run may contour.
constexpr double kContourToolMostLevels = 100000.0;

int RunContourTool(const std::vector<std::string>& args, FILE* out, FILE* err);
