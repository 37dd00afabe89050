// Nearest-neighbour search over ground X/Y for the checking code: a uniform
// grid of square cells holding record indices with their positions, which
// stays exact while points move, appear and disappear.
//
// Coordinates are ground X, Y in the unit of the points file. A position
// outside the grid's box is kept in the nearest border cell; searches treat
// border cells as reaching without end outwards, so their results are exact
// for any position, not only for those inside the box the grid was built over.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <unordered_map>
#include <vector>

// One point found by a search: its record index and squared X/Y distance to
// the query (ground units squared).
struct NeighbourHit {
    double distance2;
    int index;
};

// Nearer first; at equal distance the smaller record index first. This total
// order makes "the k nearest" one well-defined set whatever order the cells
// are visited in.
inline bool IsCloser(const NeighbourHit& a, const NeighbourHit& b) {
    return a.distance2 < b.distance2 || (a.distance2 == b.distance2 && a.index < b.index);
}

class CNeighbourGrid {
public:
    CNeighbourGrid() = default;
    CNeighbourGrid(const CNeighbourGrid&) = delete;
    CNeighbourGrid& operator=(const CNeighbourGrid&) = delete;

    // Lays the grid over the box of the positions (x[i], y[i]) with keep[i] != 0,
    // cells of side cellSize (ground units; enlarged when the box would need
    // more than about four cells per point), and inserts those records. Records
    // whose x or y is not finite are left out. 1; -1 when cellSize is not a
    // positive finite number or count is negative (the grid is then empty).
    int Build(const double* x, const double* y, const uint8_t* keep, int count, double cellSize);
    void Clear();

    // Adds record `index` at (x, y). 1; -1 when x or y is not finite or the grid was never built.
    int Insert(int index, double x, double y);
    // Removes record `index`, inserted at (x, y). 1 removed; 0 not found.
    int Remove(int index, double x, double y);

    int Size() const { return m_nSize; }
    double CellSize() const { return m_dCellSize; }

    // The up-to-k nearest records to (x, y) with squared distance at most
    // radius2 and accept(index) true, nearest first (IsCloser), written to
    // out[0 .. result-1]; out must hold k entries. Returns how many were found.
    template <class Accept>
    int Nearest(double x, double y, int k, double radius2, const Accept& accept,
                NeighbourHit* out) const;

    // Calls visit(index, x, y) for every record of every cell that can hold a
    // position within `radius` of (x, y): a superset of the records within it.
    template <class Visit>
    void ForEachNear(double x, double y, double radius, const Visit& visit) const;

    // The records in storage order, cell after cell: neighbouring records lie
    // close together, so work done in this order reuses what is cached.
    void StorageOrder(std::vector<int>& indices) const;

private:
    struct Entry {
        double x, y;
        int32_t index;  // -1: removed
    };

    int64_t CellOf(double x, double y) const {
        return Row(y) * static_cast<int64_t>(m_nCols) + Column(x);
    }
    int Column(double x) const { return Clamp((x - m_dMinX) / m_dCellSize, m_nCols); }
    int Row(double y) const { return Clamp((y - m_dMinY) / m_dCellSize, m_nRows); }
    static int Clamp(double f, int n) {
        if (!(f > 0.0)) return 0;  // also NaN
        if (f >= static_cast<double>(n - 1)) return n - 1;
        return static_cast<int>(f);
    }
    template <class Accept>
    static void Offer(const Entry& e, double x, double y, int k, double radius2,
                      const Accept& accept, NeighbourHit* out, int& found);
    // Packs every entry (overflow included, removed ones dropped) into the
    // per-cell arrays again.
    void Repack();
    // The entries inserted into cell c after the build (none when there are none).
    const std::vector<Entry>& OverflowOf(int64_t c) const {
        static const std::vector<Entry> kNone;
        const auto it = m_overflow.find(c);
        return it == m_overflow.end() ? kNone : it->second;
    }

    int m_nCols = 0, m_nRows = 0;
    double m_dMinX = 0.0, m_dMinY = 0.0, m_dCellSize = 1.0;
    int m_nSize = 0;  // records held
    // Entries of cell c: m_entries[m_start[c] .. m_start[c + 1]), then
    // m_overflow[c] when m_hasOverflow[c] (records inserted after the build).
    std::vector<uint32_t> m_start;
    std::vector<Entry> m_entries;
    std::vector<uint8_t> m_hasOverflow;
    std::unordered_map<int64_t, std::vector<Entry>> m_overflow;
    int64_t m_nOverflow = 0;  // entries in m_overflow
    int64_t m_nRemoved = 0;   // removed entries still in m_entries
};

template <class Accept>
void CNeighbourGrid::Offer(const Entry& e, double x, double y, int k, double radius2,
                           const Accept& accept, NeighbourHit* out, int& found) {
    if (e.index < 0) return;
    const double dx = e.x - x;
    const double dy = e.y - y;
    const NeighbourHit hit{dx * dx + dy * dy, e.index};
    if (!(hit.distance2 <= radius2)) return;
    if (found == k && !IsCloser(hit, out[k - 1])) return;
    if (!accept(e.index)) return;
    int i = found < k ? found++ : k - 1;
    while (i > 0 && IsCloser(hit, out[i - 1])) {
        out[i] = out[i - 1];
        --i;
    }
    out[i] = hit;
}

template <class Accept>
int CNeighbourGrid::Nearest(double x, double y, int k, double radius2, const Accept& accept,
                            NeighbourHit* out) const {
    if (k <= 0 || m_nCols <= 0 || !std::isfinite(x) || !std::isfinite(y)) return 0;
    const int cq = Column(x);
    const int rq = Row(y);
    int found = 0;
    // A small allowance for rounding in the cell assignment near cell borders.
    const double slack = m_dCellSize * 1e-9;
    auto visitCell = [&](int row, int column) {
        const int64_t c = static_cast<int64_t>(row) * m_nCols + column;
        if (found == k) {
            // Skip a cell lying wholly farther away than the k-th nearest so far
            // (border cells reach without end outwards).
            const double left = m_dMinX + column * m_dCellSize;
            const double bottom = m_dMinY + row * m_dCellSize;
            double dx = 0.0, dy = 0.0;
            if (x < left - slack && column > 0) {
                dx = left - slack - x;
            } else if (x > left + m_dCellSize + slack && column < m_nCols - 1) {
                dx = x - (left + m_dCellSize + slack);
            }
            if (y < bottom - slack && row > 0) {
                dy = bottom - slack - y;
            } else if (y > bottom + m_dCellSize + slack && row < m_nRows - 1) {
                dy = y - (bottom + m_dCellSize + slack);
            }
            if (dx * dx + dy * dy > out[k - 1].distance2) return;
        }
        for (uint32_t s = m_start[c], e = m_start[c + 1]; s < e; ++s) {
            Offer(m_entries[s], x, y, k, radius2, accept, out, found);
        }
        if (m_hasOverflow[c]) {
            for (const Entry& entry : OverflowOf(c)) {
                Offer(entry, x, y, k, radius2, accept, out, found);
            }
        }
    };
    for (int r = 0;; ++r) {
        const int c0 = cq - r, c1 = cq + r, r0 = rq - r, r1 = rq + r;
        for (int row = std::max(r0, 0); row <= std::min(r1, m_nRows - 1); ++row) {
            if (row == r0 || row == r1) {
                for (int column = std::max(c0, 0); column <= std::min(c1, m_nCols - 1); ++column) {
                    visitCell(row, column);
                }
            } else {
                if (c0 >= 0) visitCell(row, c0);
                if (c1 < m_nCols && c1 != c0) visitCell(row, c1);
            }
        }
        // Every cell not yet visited lies beyond one side of the visited block
        // that the grid extends past; its records are at least this far away.
        double bound = std::numeric_limits<double>::infinity();
        if (c0 > 0) bound = std::min(bound, x - (m_dMinX + c0 * m_dCellSize));
        if (c1 < m_nCols - 1) bound = std::min(bound, m_dMinX + (c1 + 1) * m_dCellSize - x);
        if (r0 > 0) bound = std::min(bound, y - (m_dMinY + r0 * m_dCellSize));
        if (r1 < m_nRows - 1) bound = std::min(bound, m_dMinY + (r1 + 1) * m_dCellSize - y);
        if (bound == std::numeric_limits<double>::infinity()) break;
        bound = std::max(bound - slack, 0.0);
        const double bound2 = bound * bound;
        if (bound2 > radius2) break;
        if (found == k && out[k - 1].distance2 < bound2) break;
    }
    return found;
}

template <class Visit>
void CNeighbourGrid::ForEachNear(double x, double y, double radius, const Visit& visit) const {
    if (m_nCols <= 0 || !std::isfinite(x) || !std::isfinite(y) || !(radius >= 0.0)) return;
    const int c0 = std::max(Column(x - radius) - 1, 0);
    const int c1 = std::min(Column(x + radius) + 1, m_nCols - 1);
    const int r0 = std::max(Row(y - radius) - 1, 0);
    const int r1 = std::min(Row(y + radius) + 1, m_nRows - 1);
    for (int row = r0; row <= r1; ++row) {
        for (int column = c0; column <= c1; ++column) {
            const int64_t c = static_cast<int64_t>(row) * m_nCols + column;
            for (uint32_t s = m_start[c], e = m_start[c + 1]; s < e; ++s) {
                const Entry& entry = m_entries[s];
                if (entry.index >= 0) visit(entry.index, entry.x, entry.y);
            }
            if (m_hasOverflow[c]) {
                for (const Entry& entry : OverflowOf(c)) visit(entry.index, entry.x, entry.y);
            }
        }
    }
}
