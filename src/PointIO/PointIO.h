// Point sets in the formats users have: the binary points file (.pts), ASPRS
// LAS (.las; compressed .laz is refused) and XYZ text (.xyz), chosen by the
// file name's extension (any case).
//
// Export writes the live points of a set (records with id >= 0), in record
// order, through a temporary file beside the target that replaces the target
// only when complete: a failed export leaves no partial file and the old
// target untouched. Import reads into a fresh set that replaces the caller's
// only on success; LAS and XYZ imports number the points 0 .. N-1 and derive
// the header of a points file (bounds and spacing, see DerivePointsHeader).
// Every failure is shown through Platform::ShowMessage, naming the file and,
// for bad input, the line or byte offset.
//
// Coordinates are ground X, Y, Z in the unit of the points file; the weight
// is carried unchanged.
#pragma once

#include <string>

#include "TIN/TINPoints.h"

enum class PointFileType { Unknown, Pts, Las, Laz, Xyz };

// Results (success: ExportPoints the number of points written, ImportPoints 1).
enum PointIOResult : int {
    kPointsCannotOpen = -1,    // read: the file cannot be opened; write: the temporary beside
                               // the target cannot be created (no permission, no such folder)
                               // or the target is not a file that may be replaced (a folder)
    kPointsWriteFailed = -2,   // a write, flush or close failed (full disk, size limit)
    kPointsRenameFailed = -3,  // the finished temporary cannot replace the target
    kPointsUnknownType = -4,   // an extension other than .pts, .las, .laz or .xyz
    kPointsBadFormat = -5,     // wrong signature, unsupported version or point format, bad sizes
    kPointsTruncated = -6,     // the file is shorter than its header says
    kPointsCompressed = -7,    // LAZ (compressed LAS) is not read
    kPointsBadText = -8,       // an XYZ line that is not 3 or 4 finite numbers
    kPointsNone = -9,          // no points to write, or none in the file
    kPointsNoMemory = -10,     // the points cannot be held in memory
    kPointsOutOfRange = -11    // coordinates not finite or too far apart for LAS at 0.001, or
                               // more points than a set can hold
};

// The type by extension: .pts, .las, .laz, .xyz (any case); Unknown otherwise.
PointFileType PointFileTypeOf(const std::string& path);

// Writes the live points to `path` in the format its extension names.
// .pts: the live records with the set's bounds and spacing (a compacted
// copy: deleted records are left out); .las: WriteLas; .xyz: WriteXyz.
int ExportPoints(const std::string& path, const CTINPoints& points);

// Reads `path` in the format its extension names into `points` (replaced
// only on success; the grid index is not built). 1 or a PointIOResult.
int ImportPoints(const std::string& path, CTINPoints& points);

// LAS 1.4, point data record format 6: X, Y, Z as int32 with scale 0.001 and
// per-axis offsets chosen so that no coordinate overflows: the middle of the
// set's bounds (x, y and z range) to whole units, or of the live points' own
// bounds when those do not hold every point (stale after edits); header
// bounds are those of the stored coordinates. Return 1 of 1; classification
// 2 (ground); GPS time 0; the weight as a float64 extra byte named "weight"
// (Extra Bytes VLR "LASF_Spec", record 4). The number of points written, or
// a PointIOResult.
int WriteLas(const std::string& path, const CTINPoints& points);

// XYZ text: one live point a line, "x y z weight", each number in its
// shortest form that reads back to the same double, in the C locale
// whatever the process locale. The number of points written, or a PointIOResult.
int WriteXyz(const std::string& path, const CTINPoints& points);

// LAS 1.0 to 1.4, point data record formats 0 to 10, uncompressed. X, Y, Z
// are the scaled coordinates; the weight comes from an extra byte named
// "weight" when the file has one, else 1.0. 1 or a PointIOResult.
int ReadLas(const std::string& path, CTINPoints& points);

// XYZ text: "x y z [weight]" a line, separated by blanks and tabs, or by
// one comma each (blanks around it allowed: "1.0, 2.0, 3.0"); a line that
// mixes the two, has two commas in a row or a comma before its first number is
// refused, naming the line. x, y and z finite numbers, the weight any
// number (1.0 when left out); blank lines and '#' comments (to the end of
// the line) skipped; Windows line ends and a UTF-8 byte-order mark
// accepted; lines of at most 4096 bytes. 1 or a PointIOResult.
int ReadXyz(const std::string& path, CTINPoints& points);

// Sets the bounds, z range and spacing of a set filled with `GetCount()` >= 1
// records, as a points file header needs them: the bounds are the smallest
// and largest x and y; the spacing (both axes) is the step s of a regular
// grid with as many points over the same rectangle, the positive root of
// N = (w / s + 1)(h / s + 1) for width w and height h: exact for a full
// grid, w / (N - 1) for points on a line, and 1.0 when all points coincide.
// Where all x (or all y) are equal the bounds are widened by half the spacing
// on each side, so that max X > min X and max Y > min Y always hold.
// False when a coordinate, the width or the height is not a finite number
// (points so far apart that no grid index can cover them).
bool DerivePointsHeader(CTINPoints& points);
