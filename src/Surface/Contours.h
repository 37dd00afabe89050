// Contour lines of the triangulated surface, by marching triangles: a level
// crosses a triangle when some corner lies below it and some at or above,
// in one straight segment between the two edges that join the lower corners
// to the upper ones. Levels are the whole multiples of the interval; every
// fifth (level 0 among them) is an index contour.
//
// The segments are kept per triangle; after an edit only the triangles the
// surface reports as touched are contoured again. A crossing is computed
// from the edge's lower corner towards its upper one, so both triangles of
// an edge put its crossing at the same point, and the segments of one level
// join into lines exactly. Each segment runs with the higher ground on its
// left.
//
// Units: ground coordinates; the interval and the heights in the unit of Z.
#pragma once

#include <cstdint>
#include <vector>

#include "Surface/Surface.h"

class CTINPoints;

struct ContourSegment {
    int32_t triangle;  // slot of the surface; -1 once the triangle was contoured again
    int32_t level;     // height = level x interval
    uint8_t from, to;  // corners opposite the edges it starts and ends on
    double x0, y0, x1, y1;
};

// A contour line: its vertices in order (higher ground on the left), the
// last repeating the first when the line closes.
struct ContourLine {
    int32_t level = 0;
    double height = 0.0;
    bool index = false;
    bool closed = false;
    std::vector<surface::XY> points;
};

class CContours {
public:
    // Contours the whole surface at `interval` (and takes its touched log).
    // 1; -1 for an interval that is not a positive finite number.
    int Build(CSurface& surface, double interval);
    // Contours again the triangles the surface touched since the last Build
    // or Refresh (all of them after a rebuild). The number of triangles
    // contoured again.
    int Refresh(CSurface& surface);

    double Interval() const { return m_dInterval; }
    static bool IsIndexLevel(int level) { return level % 5 == 0; }
    int SegmentCount() const { return m_nLive; }
    // Every segment slot: a slot whose triangle is -1 was contoured again
    // (dropped). Between two changes of Layout() slots are only appended or
    // dropped, never moved, so whatever is kept per slot stays valid.
    const std::vector<ContourSegment>& Segments() const { return m_segments; }
    uint64_t Layout() const { return m_nLayout; }
    // Calls f(segment) for every current segment.
    template <class F>
    void ForEachSegment(F f) const {
        for (const ContourSegment& s : m_segments)
            if (s.triangle >= 0) f(s);
    }
    // The segments joined into lines, level by level (lines that stop at the
    // hull first, then closed ones).
    void Lines(const CSurface& surface, std::vector<ContourLine>& out) const;

private:
    void ContourTriangle(const CSurface& surface, int t);
    void Drop(int t);
    void Pack();

    double m_dInterval = 0.0;
    std::vector<ContourSegment> m_segments;
    std::vector<int32_t> m_first;  // per slot: first segment, or -1
    std::vector<int32_t> m_count;  // per slot
    int m_nLive = 0;
    uint64_t m_nLayout = 0;  // counts builds and packings
    std::vector<int> m_touched;
};

// 1, 2 or 5 times a power of ten, the smallest at least `value` (> 0).
double RoundUpOneTwoFive(double value);

// The default contour interval of a set of heights: the range between their
// 2nd and 98th percentiles in about 40 levels, but never below 2.5 x
// `spread` (the spread of the heights about their neighbours' surface),
// rounded up to the 1-2-5 series. 1 when there is nothing to measure.
double DefaultContourInterval(std::vector<double> heights, double spread);

// The robust spread of the live points' heights about the surface of their
// neighbours (CLocalSurface, the check ranking's): 1.4826 x the median of
// |Z - surface| over up to `samples` points spread through the set; 0 when
// none can be judged.
double HeightSpread(const CTINPoints& ground, int samples = 4096);

// DefaultContourInterval of the live points of `ground` with their HeightSpread.
double DefaultContourInterval(const CTINPoints& ground);
