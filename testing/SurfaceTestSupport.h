// Point sets for the surface tests: made from plain triples, grown,
// compacted and spread out again as the editor's saves and undos renumber
// them, and the triangles of a surface in a form that compares equal
// whatever slots they sit in.
#pragma once

#include <algorithm>
#include <array>
#include <memory>
#include <random>
#include <tuple>
#include <vector>

#include "Surface/Contours.h"
#include "Surface/Surface.h"
#include "TIN/TINPoints.h"

namespace surfacetest {

// Replaces the records of `set` with `points` (X, Y, Z; weight 1, id = index).
inline void MakeSet(const std::vector<std::array<double, 3>>& points, CTINPoints& set) {
    const int n = static_cast<int>(points.size());
    set.m_pPoints = std::make_unique<TINPoint[]>(static_cast<size_t>(n));
    set.m_nCount = set.m_nCapacity = n;
    for (int i = 0; i < n; ++i) {
        const auto& p = points[static_cast<size_t>(i)];
        set.m_pPoints[static_cast<size_t>(i)] = TINPoint{i, p[0], p[1], p[2], 1.0};
    }
}

// Replaces the records with `records` as they are.
inline void SetRecords(CTINPoints& set, const std::vector<TINPoint>& records) {
    const int n = static_cast<int>(records.size());
    set.m_pPoints = std::make_unique<TINPoint[]>(std::max<size_t>(1, records.size()));
    std::copy(records.begin(), records.end(), set.m_pPoints.get());
    set.m_nCount = set.m_nCapacity = n;
}

inline std::vector<TINPoint> Records(const CTINPoints& set) {
    return std::vector<TINPoint>(set.m_pPoints.get(), set.m_pPoints.get() + set.GetCount());
}

inline void Append(CTINPoints& set, const TINPoint& p) {
    std::vector<TINPoint> records = Records(set);
    records.push_back(p);
    SetRecords(set, records);
}

// Drops the deleted records as a save does; map: old index -> new (-1 dropped).
inline void Compact(CTINPoints& set, std::vector<int>& map) {
    std::vector<TINPoint> kept;
    map.assign(static_cast<size_t>(set.GetCount()), -1);
    for (int i = 0; i < set.GetCount(); ++i) {
        TINPoint p = *set.GetPoint(i);
        if (p.id < 0) continue;
        map[static_cast<size_t>(i)] = static_cast<int>(kept.size());
        p.id = static_cast<int>(kept.size());
        kept.push_back(p);
    }
    SetRecords(set, kept);
}

// Puts deleted records back between the others, as undoing a save does.
inline void Spread(CTINPoints& set, std::vector<int>& map, std::mt19937_64& random) {
    std::vector<TINPoint> out;
    map.assign(static_cast<size_t>(set.GetCount()), -1);
    for (int i = 0; i < set.GetCount(); ++i) {
        if (random() % 7 == 0) out.push_back(TINPoint{-1, 1e9, 1e9, 0.0, 0.0});
        TINPoint p = *set.GetPoint(i);
        map[static_cast<size_t>(i)] = static_cast<int>(out.size());
        if (p.id >= 0) p.id = static_cast<int>(out.size());
        out.push_back(p);
    }
    SetRecords(set, out);
}

// The triangles as vertex triples starting at their smallest record, sorted.
inline std::vector<std::array<int, 3>> Canonical(const CSurface& s) {
    std::vector<std::array<int, 3>> out;
    for (int t = 0; t < s.Slots(); ++t) {
        if (!s.IsTriangle(t)) continue;
        std::array<int, 3> v{s.Vertex(t, 0), s.Vertex(t, 1), s.Vertex(t, 2)};
        std::rotate(v.begin(), std::min_element(v.begin(), v.end()), v.end());
        out.push_back(v);
    }
    std::sort(out.begin(), out.end());
    return out;
}

// The contour segments as (level, x0, y0, x1, y1), sorted.
using Segment = std::tuple<int, double, double, double, double>;
inline std::vector<Segment> Segments(const CContours& c) {
    std::vector<Segment> out;
    c.ForEachSegment(
        [&](const ContourSegment& s) { out.emplace_back(s.level, s.x0, s.y0, s.x1, s.y1); });
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace surfacetest
