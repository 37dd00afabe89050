// Contour lines as a vector file through GDAL's drivers, chosen by the
// output's extension: .geojson (GeoJSON), .shp (ESRI Shapefile, with its
// .shx and .dbf), .dxf (DXF). Each line is one 3-D line string whose
// vertices carry the line's height as Z, with the attributes "height"
// (ground units of Z), "level" (height / interval) and "index" (1 for an
// index contour, else 0); DXF keeps no attributes of its own, so there the
// layer is "INDEX" or "CONTOUR".
//
// The file is made in GDAL's memory first and then saved through the atomic
// writer (a temporary beside each file, renamed over it), so a failure leaves
// the old files as they were and never a half-written one.
#pragma once

#include <string>
#include <vector>

#include "Surface/Contours.h"

// Results of WriteContours besides 1 (written).
constexpr int kContourUnknownFormat = -1;  // an extension of none of the three formats
constexpr int kContourDriverFailed = -2;   // GDAL could not make the file
constexpr int kContourSaveFailed = -3;     // the file could not be saved where asked

// The GDAL driver for the extension of `path` (case ignored), or "" when none.
std::string ContourDriverFor(const std::string& path);

// Writes `lines` to `path`. 1, or one of the results above with `error`
// (optional) saying why.
int WriteContours(const std::string& path, const std::vector<ContourLine>& lines,
                  std::string* error = nullptr);
