// The triangulated surface of the live ground points: the Delaunay
// triangulation of their ground X, Y, kept current while the points are
// edited, and the height of the surface at any ground position.
//
// Ties between points on one circle (a regular grid has them everywhere) are
// broken by the record indices (InCircleTieBroken), so a point set has
// exactly one triangulation whatever the order of insertion, and the
// surface kept through any sequence of edits equals the one built afresh.
// Points at one X, Y: the one with the smallest record index is the
// vertex, the others wait hidden behind it.
//
// Storage: per triangle three vertex record indices (counter-clockwise) and
// three neighbour codes (3 x triangle + the neighbour's corner opposite the
// shared edge, -1 on the hull); neighbour k lies across the edge opposite
// corner k. Per record one code (a corner of a triangle holding it, or a
// state below 0) and a copy of X, Y, Z as the surface last took them.
//
// Units: ground coordinates in the unit of the points file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "Surface/Predicates.h"

class CTINPoints;

class CSurface {
public:
    CSurface() = default;
    CSurface(const CSurface&) = delete;
    CSurface& operator=(const CSurface&) = delete;

    // Triangulates the live records of `ground` (id >= 0, X, Y and Z
    // finite) afresh. The number of triangles.
    int Build(const CTINPoints& ground);

    // Follows `ground` after the records in `changed` (record indices,
    // repeats and indices out of range allowed) and every record appended
    // since the last call changed: a record whose X or Y changed, or that
    // was deleted, leaves the triangulation locally (its star is filled by
    // Delaunay ears); one added or moved enters it (a cavity of triangles
    // whose circles hold it); a change of Z alone changes no triangle. The
    // number of records that changed for the surface.
    int Update(const CTINPoints& ground, const std::vector<int>& changed);

    // The records were renumbered (a save's compaction, or its undo or
    // redo): record i is now newIndexOfOld[i] (-1: dropped, which deleted
    // records are). The triangles take the new numbers; records that have
    // no old number are then taken from `ground` as appended ones. A map
    // that does not keep the order of the records it keeps would change the
    // tie rule: the surface is then built afresh. 1.
    int Renumber(const std::vector<int>& newIndexOfOld, const CTINPoints& ground);

    // The height of the triangle under ground (x, y), interpolated
    // barycentrically; false beyond the hull (or without triangles). The walk
    // starts at the triangle of the previous call (not thread-safe).
    bool Height(double x, double y, double& z) const;

    // --- Reading the triangles.
    int TriangleCount() const { return m_nTriangles; }
    // Triangle slots; a slot in use holds a triangle (IsTriangle).
    int Slots() const { return static_cast<int>(m_tn.size() / 3); }
    bool IsTriangle(int t) const { return m_tv[3 * static_cast<size_t>(t)] >= 0; }
    // Record index of corner k (0..2, counter-clockwise).
    int Vertex(int t, int k) const { return m_tv[3 * static_cast<size_t>(t) + k]; }
    // The triangle across the edge opposite corner k, or -1 on the hull.
    int Neighbour(int t, int k) const {
        const int code = m_tn[3 * static_cast<size_t>(t) + k];
        return code < 0 ? -1 : code / 3;
    }
    // The corner of Neighbour(t, k) opposite the shared edge.
    int NeighbourCorner(int t, int k) const { return m_tn[3 * static_cast<size_t>(t) + k] % 3; }
    double X(int r) const { return m_x[static_cast<size_t>(r)]; }
    double Y(int r) const { return m_y[static_cast<size_t>(r)]; }
    double Z(int r) const { return m_z[static_cast<size_t>(r)]; }
    int RecordCount() const { return static_cast<int>(m_vt.size()); }
    // True when record r is a vertex of the triangulation.
    bool IsVertex(int r) const { return m_vt[static_cast<size_t>(r)] >= 0; }

    // A corner holding record r, as 3 x triangle + corner, or below 0 when r is
    // no vertex.
    int CornerCode(int r) const {
        return r >= 0 && r < RecordCount() ? m_vt[static_cast<size_t>(r)] : -1;
    }
    // Calls f(other) for each record joined to vertex r by a triangle edge.
    template <class F>
    void ForEachEdgeOf(int r, F f) const;

    // Bytes held by the triangulation's own arrays (vertices, neighbours,
    // per-record corner, free slots, marks), not the copy of the points.
    size_t ArrayBytes() const;
    // Bytes of the copy of X, Y, Z.
    size_t PointBytes() const;

    // The triangle slots made, freed or whose heights changed since the
    // last call, for whatever derives from the triangles (contours); `all`
    // is true when everything must be taken again (a build). Clears the log.
    void TakeTouched(std::vector<int>& touched, bool& all);

    // Checks the structure: neighbours agree both ways, every triangle is
    // counter-clockwise, every vertex's corner names it. False with a reason.
    bool CheckStructure(std::string* why = nullptr) const;

private:
    static constexpr int kAbsent = -1;  // not live for the surface
    static constexpr int kHidden = -2;  // live, behind a vertex at the same X, Y
    static constexpr int kLoose = -3;   // live, but no triangle exists yet (all on a line)
    static constexpr int32_t kFreeSlot = INT32_MIN;

    surface::XY P(int r) const {
        return {m_x[static_cast<size_t>(r)], m_y[static_cast<size_t>(r)]};
    }
    int CornerOf(int t, int r) const {
        const int32_t* v = &m_tv[3 * static_cast<size_t>(t)];
        return v[0] == r ? 0 : (v[1] == r ? 1 : 2);
    }
    int NewTriangle(int a, int b, int c);
    void FreeTriangle(int t);
    void Link(int code, int other) {
        m_tn[static_cast<size_t>(code)] = other;
        if (other >= 0) m_tn[static_cast<size_t>(other)] = code;
    }
    void Touch(int t);
    bool InConflict(int t, int r) const;
    // Where p lies: 0 inside or on the boundary of triangle `t`; 1 beyond the
    // hull edge opposite corner `k` of `t`; 2 at vertex `k` (a record).
    int Locate(const surface::XY& p, int& t, int& k) const;
    void Clear(int records);
    // Triangulates the live records afresh from the copy.
    void Rebuild();
    // One attempt; false when it must be made again with the points at one
    // position sorted out first.
    bool Rebuild(bool sortOutDuplicates);
    void InsertRecord(int r);
    void RemoveRecord(int r);
    void InsertVertex(int r);
    // False when the removal could not be completed locally (a rebuild follows).
    bool RemoveVertex(int r);
    uint64_t PositionKey(int r) const;
    void Hide(int r);
    void Unhide(int r);
    void TouchStar(int r);

    std::vector<double> m_x, m_y, m_z;
    std::vector<int32_t> m_vt;  // per record: 3 t + corner, or a state above
    std::vector<int32_t> m_tv;  // 3 per slot; kFreeSlot in the first when free
    std::vector<int32_t> m_tn;  // 3 per slot
    std::vector<uint8_t> m_mark;
    std::vector<int32_t> m_free;
    int m_nTriangles = 0;
    bool m_bRebuild = false;
    mutable int m_nHint = -1;
    // Hidden records by position (only where points share an X, Y).
    std::unordered_map<uint64_t, std::vector<int>> m_hidden;
    std::vector<int32_t> m_touched;
    bool m_bAllTouched = true;
    // Where a walk to a far position starts: a coarse grid over the points'
    // box at the last build, each cell naming a triangle that then held a
    // vertex in it (a slot freed since is skipped; one reused is as good a
    // start as any).
    void BuildJumpGrid();
    int JumpStart(const surface::XY& p) const;
    std::vector<int32_t> m_jump;
    int m_nJumpSide = 0;
    double m_dJumpX0 = 0.0, m_dJumpY0 = 0.0, m_dJumpCell = 1.0;
    // Scratch of the insertion and removal.
    struct Edge {
        int a, b, outer;
    };
    std::vector<int> m_cavity, m_stack;
    std::vector<Edge> m_boundary;
    std::vector<std::pair<int, int>> m_starts;
};

template <class F>
void CSurface::ForEachEdgeOf(int r, F f) const {
    const int code = CornerCode(r);
    if (code < 0) return;
    // Around r one way (across the edge from r to the next corner), then,
    // when the hull stops the turn, the other way from the start.
    const int start = code / 3;
    int t = start, k = code % 3;
    for (;;) {
        f(Vertex(t, (k + 1) % 3));
        const int n = Neighbour(t, (k + 2) % 3);
        if (n < 0) break;
        t = n;
        k = CornerOf(t, r);
        if (t == start) return;
    }
    t = start;
    k = code % 3;
    for (;;) {
        f(Vertex(t, (k + 2) % 3));
        const int n = Neighbour(t, (k + 1) % 3);
        if (n < 0) return;
        t = n;
        k = CornerOf(t, r);
    }
}
