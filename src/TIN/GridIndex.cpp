// Uniform cell grid over the x/y box of a point set. Keys of a full rebuild are
// stored in one compressed array (per-cell offset and count into a single key
// array) so that an index over millions of points costs about 12 bytes per
// point; cells that change afterwards keep their list in a small side table.
#include "TIN/GridIndex.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "Platform/IntConversion.h"
#include "Platform/Platform.h"

namespace {

using Platform::TruncClamped;
using Platform::TruncToInt;

}  // namespace

CGridIndex::CGridIndex() = default;

CGridIndex::~CGridIndex() = default;

int CGridIndex::Setup(double xmin, double xmax, double ymin, double ymax, int n, int k) {
    // The old cells were laid out for the old geometry.
    FreeCells();
    m_dMinX = xmin;
    m_dMinY = ymin;
    m_dMaxX = xmax;
    m_dMaxY = ymax;

    double w = std::fabs(xmax - xmin);
    double h = std::fabs(ymax - ymin);
    if (!std::isfinite(w) || !std::isfinite(h)) {
        // Unusable bounds: no box to divide (nothing will fit the grid anyway).
        w = 0.0;
        h = 0.0;
    }
    // An empty set still gets a usable grid: it is laid out as for one point.
    const double points = n > 0 ? static_cast<double>(n) : 1.0;
    const double perCell = k > 0 ? static_cast<double>(k) : 1.0;

    double size;
    if (w == 0.0 && h == 0.0) {
        // No box to divide: all points at one position.
        size = 1.0;
    } else if (xmin == xmax) {
        size = perCell * h / points;
    } else if (ymin == ymax) {
        size = perCell * w / points;
    } else {
        size = std::sqrt(w * h * perCell / points);
    }
    if (!(size > 0.0) || !std::isfinite(size)) {
        // The product underflowed: one cell over the longer side.
        size = std::max(w, h) > 0.0 ? std::max(w, h) : 1.0;
    }
    // A very thin box would give far more cells than points (and dimensions
    // beyond an int); coarsen the cells until the grid is of sensible size.
    const double maxCells = std::min(4.0 * points / perCell + 65536.0, 1073741824.0);
    for (;;) {
        const double cols = std::floor(w / size + 1.0);
        const double rows = std::floor(h / size + 1.0);
        if (cols * rows <= maxCells) break;
        size *= 2.0;
    }
    m_dCellSize = size;
    m_nCols = static_cast<int>(w / size + 1.0);
    m_nRows = static_cast<int>(h / size + 1.0);
    return 0;
}

int CGridIndex::AllocateCells() {
    FreeCells();
    if (m_nRows <= 0 || m_nCols <= 0) return -1;
    const int64_t cells = CellCount();
    if (cells > INT32_MAX) return -1;
    const auto n = static_cast<size_t>(cells);
    m_offsets.reset(new (std::nothrow) uint32_t[n]());
    m_counts.reset(new (std::nothrow) uint32_t[n]());
    if (!m_offsets || !m_counts) {
        FreeCells();
        return -1;
    }
    m_nCellsAlloc = cells;
    return 0;
}

void CGridIndex::FreeCells() {
    m_offsets.reset();
    m_counts.reset();
    m_keys.reset();
    m_nKeyCount = 0;
    m_nCellsAlloc = 0;
    m_overflow = {};
}

bool CGridIndex::HasCells() const {
    return m_nCellsAlloc > 0;
}

int CGridIndex::CellOf(double x, double y, int& column, int& row) const {
    if (!TruncToInt((x - m_dMinX) / m_dCellSize, column) ||
        !TruncToInt((y - m_dMinY) / m_dCellSize, row)) {
        column = -1;
        row = -1;
    }
    return 1;
}

void CGridIndex::ReportOutside(int row, int column) const {
    char line[1024];
    std::snprintf(line, sizeof line, "%f %f %d %d\n", m_dMinX, m_dMinY, row, column);
    Platform::DebugTrace(line);
    Platform::ShowMessage("There is error in points extension!!",
                          Platform::MessageKind::Exclamation);
}

std::vector<int32_t>& CGridIndex::OverflowList(uint32_t cell) {
    if (m_counts[cell] & kOverflowBit) return m_overflow[cell];
    std::vector<int32_t>& list = m_overflow[cell];
    const int32_t* first = m_keys.get() + m_offsets[cell];
    list.assign(first, first + m_counts[cell]);
    m_counts[cell] = kOverflowBit;
    return list;
}

int CGridIndex::Insert(double x, double y, int key) {
    int column = 0;
    int row = 0;
    CellOf(x, y, column, row);
    if (row < 0 || column < 0 || row >= m_nRows || column >= m_nCols) {
        ReportOutside(row, column);
        return -2;
    }
    if (!HasCells() && AllocateCells() == -1) return -1;
    const int64_t cell = int64_t(row) * m_nCols + column;
    if (cell >= m_nCellsAlloc) return -1;  // dimensions changed without Setup
    try {
        OverflowList(static_cast<uint32_t>(cell)).push_back(key);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    return 1;
}

int CGridIndex::InsertSequence(const uint32_t* cellOfKey, int count) {
    if (count <= 0) return 1;
    const bool fresh = !HasCells();
    if (fresh && AllocateCells() == -1) return -1;
    int64_t placed = 0;
    for (int i = 0; i < count; ++i) {
        if (cellOfKey[i] == kNoCell) continue;
        if (cellOfKey[i] >= m_nCellsAlloc) return -1;
        ++placed;
    }
    if (!fresh || m_nKeyCount != 0 || !m_overflow.empty()) {
        // Cells already hold keys: append one by one behind them.
        try {
            for (int i = 0; i < count; ++i)
                if (cellOfKey[i] != kNoCell) OverflowList(cellOfKey[i]).push_back(i);
        } catch (const std::bad_alloc&) {
            return -1;
        }
        return 1;
    }

    m_keys.reset(new (std::nothrow) int32_t[static_cast<size_t>(std::max<int64_t>(placed, 1))]);
    if (!m_keys) {
        FreeCells();
        return -1;
    }
    m_nKeyCount = placed;
    // Counting pass, then each offset becomes the end of its cell's run.
    uint32_t* counts = m_counts.get();
    uint32_t* offsets = m_offsets.get();
    for (int i = 0; i < count; ++i)
        if (cellOfKey[i] != kNoCell) ++counts[cellOfKey[i]];
    uint32_t run = 0;
    for (int64_t c = 0; c < m_nCellsAlloc; ++c) {
        run += counts[c];
        offsets[c] = run;
    }
    // Filling from the last key backwards leaves every run in key order and
    // every offset at the start of its run.
    int32_t* keys = m_keys.get();
    for (int i = count - 1; i >= 0; --i)
        if (cellOfKey[i] != kNoCell) keys[--offsets[cellOfKey[i]]] = i;
    return 1;
}

int CGridIndex::Remove(double x, double y, int key) {
    int column = 0;
    int row = 0;
    CellOf(x, y, column, row);
    if (row < 0 || column < 0 || row >= m_nRows || column >= m_nCols) {
        ReportOutside(row, column);
        return -2;
    }
    if (!HasCells()) return -1;
    const int64_t cell64 = int64_t(row) * m_nCols + column;
    if (cell64 >= m_nCellsAlloc) return -1;
    const auto cell = static_cast<uint32_t>(cell64);
    if (m_counts[cell] & kOverflowBit) {
        std::vector<int32_t>& list = m_overflow[cell];
        const auto it = std::find(list.begin(), list.end(), key);
        if (it == list.end()) return 0;
        list.erase(it);
        return 1;
    }
    int32_t* first = m_keys.get() + m_offsets[cell];
    int32_t* last = first + m_counts[cell];
    int32_t* it = std::find(first, last, key);
    if (it == last) return 0;
    std::memmove(it, it + 1, static_cast<size_t>(last - it - 1) * sizeof(int32_t));
    --m_counts[cell];
    return 1;
}

CGridIndex::KeyList CGridIndex::CellKeys(int row, int column) const {
    if (!HasCells() || row < 0 || column < 0 || row >= m_nRows || column >= m_nCols) {
        return {nullptr, 0};
    }
    const int64_t cell64 = int64_t(row) * m_nCols + column;
    if (cell64 >= m_nCellsAlloc) return {nullptr, 0};
    const auto cell = static_cast<uint32_t>(cell64);
    if (m_counts[cell] & kOverflowBit) {
        const auto it = m_overflow.find(cell);
        if (it == m_overflow.end()) return {nullptr, 0};
        return {it->second.data(), static_cast<int32_t>(it->second.size())};
    }
    return {m_keys.get() + m_offsets[cell], static_cast<int32_t>(m_counts[cell])};
}

int CGridIndex::QueryRect(int left, int top, int right, int bottom, std::vector<int>& out) const {
    if (left > right) std::swap(left, right);
    if (top > bottom) std::swap(top, bottom);
    // Cell coordinates of the corners, kept in double so that a corner far
    // outside the grid clamps instead of overflowing an int.
    const double c0 = std::trunc((left - m_dMinX) / m_dCellSize);
    const double r0 = std::trunc((top - m_dMinY) / m_dCellSize);
    const double c1 = std::trunc((right - m_dMinX) / m_dCellSize);
    const double r1 = std::trunc((bottom - m_dMinY) / m_dCellSize);
    if (std::isnan(c0) || std::isnan(r0) || std::isnan(c1) || std::isnan(r1)) return 0;
    if (r1 < 0.0 || c1 < 0.0) return 0;
    if (!HasCells()) return 1;
    const int rowFirst = r0 <= 0.0 ? 0 : static_cast<int>(std::min(r0, double(m_nRows)));
    const int colFirst = c0 <= 0.0 ? 0 : static_cast<int>(std::min(c0, double(m_nCols)));
    const int rowLast = static_cast<int>(std::min(r1, double(m_nRows - 1)));
    const int colLast = static_cast<int>(std::min(c1, double(m_nCols - 1)));
    for (int row = rowFirst; row <= rowLast; ++row) {
        for (int column = colFirst; column <= colLast; ++column) {
            const KeyList keys = CellKeys(row, column);
            out.insert(out.end(), keys.begin(), keys.end());
        }
    }
    return 1;
}

int CGridIndex::QueryPolygonBounds(const std::vector<double>& coords, std::vector<int>& out) const {
    const int64_t m = static_cast<int64_t>(coords.size() / 2) - 1;
    if (m < 3) return 0;
    double minX = coords[0];
    double maxX = coords[0];
    double minY = coords[1];
    double maxY = coords[1];
    for (int64_t i = 1; i < m; ++i) {
        const double x = coords[2 * i];
        const double y = coords[2 * i + 1];
        if (x < minX) minX = x;
        if (x > maxX) maxX = x;
        if (y < minY) minY = y;
        if (y > maxY) maxY = y;
    }
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    if (!TruncClamped(minX, left) || !TruncClamped(minY, top) || !TruncClamped(maxX, right) ||
        !TruncClamped(maxY, bottom)) {
        return 0;  // a vertex that is not a number bounds nothing
    }
    return QueryRect(left, top, right, bottom, out);
}

int64_t CGridIndex::MemoryBytes() const {
    int64_t bytes =
        m_nCellsAlloc * int64_t(2 * sizeof(uint32_t)) + m_nKeyCount * int64_t(sizeof(int32_t));
    if (!m_overflow.empty()) {
        bytes += int64_t(m_overflow.bucket_count() * sizeof(void*));
        for (const auto& entry : m_overflow) {
            bytes += int64_t(sizeof(entry) + 2 * sizeof(void*) +
                             entry.second.capacity() * sizeof(int32_t));
        }
    }
    return bytes;
}

void CGridIndex::Swap(CGridIndex& other) noexcept {
    using std::swap;
    swap(m_nRows, other.m_nRows);
    swap(m_nCols, other.m_nCols);
    swap(m_dMinX, other.m_dMinX);
    swap(m_dMaxY, other.m_dMaxY);
    swap(m_dMaxX, other.m_dMaxX);
    swap(m_dMinY, other.m_dMinY);
    swap(m_dCellSize, other.m_dCellSize);
    swap(m_offsets, other.m_offsets);
    swap(m_counts, other.m_counts);
    swap(m_keys, other.m_keys);
    swap(m_nKeyCount, other.m_nKeyCount);
    swap(m_nCellsAlloc, other.m_nCellsAlloc);
    swap(m_overflow, other.m_overflow);
}
