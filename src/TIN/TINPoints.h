// The editable point set and its binary points file (.pts).
//
// One class serves two coordinate systems: the document's ground set holds
// ground X, Y, Z and weight; each photograph's image-point set holds the
// sub-image column and row of the same points in x and y, under the same id and
// at the same index. Every set embeds a grid index over its x/y extent.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "TIN/GridIndex.h"

#pragma pack(push, 1)
// One point record, 36 bytes, no padding; the same layout in memory and when
// records are copied. id is the record's index after loading, -1 once deleted.
struct TINPoint {
    int32_t id;
    double x;       // ground X, or sub-image column in an image-point set
    double y;       // ground Y, or sub-image row in an image-point set
    double z;       // elevation
    double weight;  // matching confidence, carried through unchanged
};
#pragma pack(pop)
static_assert(sizeof(TINPoint) == 36, "TINPoint must be 36 packed bytes");

// The six bounds of a set, in this order.
struct TINExtent {
    double xmin, xmax, ymin, ymax, zmin, zmax;
};

// A rectangle (kind 0: left, top, right, bottom) or a closed polygon (kind 1:
// x0, y0, x1, y1, ... with the last vertex repeating the first) for SelectInShape.
struct SelectionShape {
    int32_t kind = 0;
    int32_t count = 0;
    std::vector<double> coords;
};

// A plain 2-D position for the turn tests.
struct PointXY {
    double x, y;
};

// (b - a) x (c - a): positive for a left turn, negative for a right turn.
double Cross(const PointXY& a, const PointXY& b, const PointXY& c);
bool IsRightTurn(const PointXY& a, const PointXY& b, const PointXY& c);
// Non-negative when every consecutive vertex pair (count vertices, the last
// repeating the first) turns towards p the way `orientation` says, -1 at the
// first pair that does not.
int InsideConvex(const PointXY& p, const PointXY* vertices, int count, bool orientation);
// Inside test for any polygon, convex or not, by the non-zero winding rule:
// true when the polygon winds around p (for a simple polygon, of either
// orientation, that is its interior; where a self-crossing polygon winds
// twice the point is inside too), and true for a point exactly on an edge or
// a vertex (within the turn test's arithmetic). count vertices, the last
// repeating the first; an open polygon is closed from its last vertex back to
// its first. Fewer than 2 vertices enclose nothing.
bool InsidePolygon(const PointXY& p, const PointXY* vertices, int count);

// Makes a range whose ends coincide (every value the same: one point, or all
// points on one line) a proper one, lo < hi, still holding the value: each
// end moves out by `margin` (half a point spacing is a natural choice), or,
// where the margin is not positive or too small to separate the ends at their
// magnitude, by the smallest step that does. A range with hi > lo, or with an
// end that is not finite, is left as it is. Points files need max X above
// min X to be read back.
void WidenDegenerateRange(double& lo, double& hi, double margin);

class CTINPoints {
public:
    CTINPoints();
    // count = capacity = n records, zero-filled until SetPoint fills them
    // (count 0 when they cannot be allocated).
    explicit CTINPoints(int n);
    virtual ~CTINPoints();
    CTINPoints(const CTINPoints&) = delete;
    CTINPoints& operator=(const CTINPoints&) = delete;

    // Exchanges records, bounds, spacing and index with another set: a loader
    // reads and indexes a fresh set and swaps it in once complete.
    void Swap(CTINPoints& other) noexcept;

    int GetCount() const { return m_nCount; }
    // The record at index i, or null when i is outside [0, count).
    TINPoint* GetPoint(int i) {
        return i >= 0 && i < m_nCount ? &m_pPoints[static_cast<size_t>(i)] : nullptr;
    }
    const TINPoint* GetPoint(int i) const {
        return i >= 0 && i < m_nCount ? &m_pPoints[static_cast<size_t>(i)] : nullptr;
    }
    void GetExtent(TINExtent* extent) const;
    void GetSpacing(double* sx, double* sy) const;
    void SetSpacing(double sx, double sy);
    // Stores id, x, y at `index` (z, weight untouched): 0, or -1 when index is outside [0, count).
    int SetPoint(int id, double x, double y, int index);
    // The embedded index when it has cells, else null.
    CGridIndex* GetIndex();
    const CGridIndex* GetIndex() const;

    // Points file. Results: 1 read; -1 N = 0 (or, by path, file cannot be
    // opened); -2 max X not greater than min X; -3/-4 out of memory; -5 a
    // negative count, or a count larger than the file holds, or a short read;
    // -6 a record whose z is not a finite number.
    // After any failure the set claims no records (count 0, capacity 0) and
    // the old index is released. A stream whose size cannot be told gives -5.
    int ReadPts(FILE* file);
    int ReadPts(const std::string& path);
    // Why ReadPts gave `result` (a negative value), in words for a message
    // that names the file first ("cannot read F: ...").
    static const char* ReadPtsFailure(int result);
    // Number of records written (fewer on a short write), or -1 when the
    // header cannot be written or no staging memory is available.
    int WritePts(FILE* file) const;
    // The record count, or -1 when the file cannot be opened or any write,
    // flush or close fails.
    int WritePts(const std::string& path) const;

    // Drops records with a negative id (the others keep their order and ids)
    // and recomputes the bounds from the survivors: x and y as the smallest
    // box around their finite positions, widened with WidenDegenerateRange by
    // half the spacing (0.5 without a spacing) where all share one x or one
    // y, so that the written file reads back; and the z range from their
    // heights (as reading the written file would). Without survivors the
    // count is 0, the x/y bounds are crossed (min takes the old max and the
    // reverse) and the z range is kept. The index is not rebuilt. 0.
    int Compact();
    // Setup + insertion of every record under its index; 0, or -1 at the
    // first record outside the grid (reported by the index).
    int BuildIndex(int pointsPerCell);
    // As BuildIndex, but a record without a position (x or y not finite: a
    // ground point that does not project into a photograph) is left out of
    // the index silently instead of stopping the build. For image-point sets.
    int BuildPlacedIndex(int pointsPerCell);
    // 1, or -1 when the index rejects it (the record stays appended) or no
    // room can be made.
    int AddPoint(const TINPoint& p);
    // 1 marked deleted; -1 index outside [0, count) or the index cannot remove it.
    int RemovePoint(int index);
    // Takes back the records from `count` on (the last ones appended): their
    // keys leave the index and the count becomes `count`; storage stays.
    // 1, or -1 when count is negative or above the count.
    int Truncate(int count);
    // Sets x and y of record `index` and keeps the set in step: a live record
    // (id >= 0) with a finite position widens the bounds to hold it, and when
    // the index has cells the record's key (its index) moves to the cell of
    // the new position (to the end of that cell's list; nothing changes when
    // the cell stays the same). A position that is not finite leaves the
    // record out of the index, as BuildPlacedIndex does, and a later finite
    // one puts it back. A position outside the grid rebuilds the index over
    // bounds widened to hold every record with a finite position (and some
    // room beyond in the direction they had to grow), silently. Deleted
    // records only change their x and y. 1; -1 index outside [0, count); -2
    // the index could not be rebuilt for want of memory (the set then has no
    // index; the record is moved).
    int MovePoint(int index, double x, double y);
    // Record index of the nearest live point strictly within radius of (x, y)
    // (squared distance below radius * radius), searched in every cell the
    // radius reaches; -1 when there is none or no index. (x, y) may lie
    // outside the grid. Ties: the query's own cell wins, and within a cell the
    // first of equal distances in list order; then the other cells in row
    // order (row, then column, ascending). Deleted records and keys that name
    // no record in use are skipped.
    int FindNearest(int x, int y, double radius) const;
    // The same search from a position between pixels (sub-image pixels, as a
    // click lands on a zoomed view): every cell the circle of `radius` around
    // (x, y) touches, the same ties. -1 also for a position that is not finite.
    int FindNearestAt(double x, double y, double radius) const;
    // Record index; -1 no index, -2 index out of range or point outside the
    // index, -3 direction not 0..3, -4 edge reached.
    int FindNeighbour(int index, int direction) const;
    // Appends the ids of the points in a rectangle (kind 0: truncated
    // corners, right and bottom edges excluded) or a closed polygon (kind 1:
    // InsidePolygon, so concave polygons select their pockets right and
    // points on an edge or a vertex are selected whatever the winding). 1, or
    // -1 for a polygon with fewer than 4 vertices. Keys of the index that
    // name no record in use are skipped.
    int SelectInShape(const SelectionShape& shape, std::vector<int>& ids) const;

    // Bounds in the file's order: upper-left then lower-right corner. They
    // hold every live record with a finite position: ReadPts takes them from
    // the file's header (which holds the file's records), MovePoint widens
    // them when a record leaves them, Compact makes them the smallest box
    // around the records (widened where all records share one x or one y, so
    // that max > min and the written file reads back). They may be larger
    // than the records' box; the index is built over them. In an image-point
    // set they are set by the photograph (projected extent plus a margin).
    double m_dMinX = 0.0;
    double m_dMaxY = 0.0;
    double m_dMaxX = 0.0;
    double m_dMinY = 0.0;
    double m_dMinZ = 0.0;
    double m_dMaxZ = 0.0;
    int m_nCount = 0;     // records in use, deleted ones included until Compact
    int m_nCapacity = 0;  // records allocated
    double m_dSpacingX = 0.0;
    double m_dSpacingY = 0.0;
    std::unique_ptr<TINPoint[]> m_pPoints;
    CGridIndex m_index;

private:
    int Build(int pointsPerCell, bool skipUnplaced);
    // Widens the bounds to hold every record with a finite position (with
    // room beyond on each side that had to grow) and rebuilds the index over
    // them, leaving records without a position out. 0, or -1 without memory.
    int RebuildToHoldEveryRecord();

    int m_nPointsPerCell = 1;  // of the last index build
};
