// Uniform cell grid over the x/y box of a point set. Keys are stored in one
// array of per-cell runs (offset and count per cell), packed by a full rebuild
// so that an index over millions of points costs about 12 bytes per point;
// cells that grow afterwards move their run to the end of the array with
// spare room, so that moving many points costs a few array writes each.
#include "TIN/GridIndex.h"

#include <algorithm>
#include <bit>
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
    m_dReciprocalOf = size;
    m_dReciprocal = 1.0 / size;
    m_nCols = static_cast<int>(w / size + 1.0);
    m_nRows = static_cast<int>(h / size + 1.0);
    return 0;
}

int CGridIndex::AllocateCells() {
    FreeCells();
    if (m_nRows <= 0 || m_nCols <= 0) return -1;
    const int64_t cells = CellCount();
    if (cells > INT32_MAX) return -1;
    m_cells.reset(new (std::nothrow) Cell[static_cast<size_t>(cells)]());
    if (!m_cells) return -1;
    m_nCellsAlloc = cells;
    return 0;
}

void CGridIndex::FreeCells() {
    m_cells.reset();
    m_keys.reset();
    m_nCellsAlloc = 0;
    m_nKeyCapacity = 0;
    m_nKeyEnd = 0;
    m_nReleased = 0;
}

bool CGridIndex::HasCells() const {
    return m_nCellsAlloc > 0;
}

void CGridIndex::ReportOutside(int row, int column) const {
    char line[1024];
    std::snprintf(line, sizeof line, "%f %f %d %d\n", m_dMinX, m_dMinY, row, column);
    Platform::DebugTrace(line);
    Platform::ShowMessage("There is error in points extension!!",
                          Platform::MessageKind::Exclamation);
}

bool CGridIndex::Repack(int64_t capacity) {
    std::unique_ptr<int32_t[]> keys(new (std::nothrow) int32_t[static_cast<size_t>(capacity)]);
    if (!keys) return false;
    // Runs in cell order; a run keeps its room so that a cell being edited
    // does not move again at once.
    int64_t end = 0;
    for (int64_t c = 0; c < m_nCellsAlloc; ++c) {
        Cell& cell = m_cells[static_cast<size_t>(c)];
        const uint32_t n = cell.count & kCountMask;
        if (n > 0) {
            std::memcpy(keys.get() + end, m_keys.get() + cell.offset, n * sizeof(int32_t));
        }
        cell.offset = static_cast<uint32_t>(end);
        end += Room(cell.count);
    }
    m_keys = std::move(keys);
    m_nKeyCapacity = capacity;
    m_nKeyEnd = end;
    m_nReleased = 0;
    return true;
}

bool CGridIndex::ReserveTail(int64_t slots) {
    if (m_nKeyEnd + slots <= m_nKeyCapacity) return true;
    constexpr int64_t kMaxSlots = int64_t{UINT32_MAX};  // offsets are 32-bit
    const int64_t inUse = m_nKeyEnd - m_nReleased;
    // Half again the space in use, so that growing costs O(1) per key; the
    // released space is dropped on the way when it is worth a pass.
    const int64_t wanted = std::min(kMaxSlots, inUse + slots + inUse / 2 + 1024);
    if (inUse + slots > kMaxSlots) return false;
    if (m_nReleased >= inUse / 4 || m_nKeyEnd + slots > kMaxSlots) return Repack(wanted);
    const int64_t capacity = std::min(kMaxSlots, std::max(wanted, m_nKeyEnd + slots));
    std::unique_ptr<int32_t[]> keys(new (std::nothrow) int32_t[static_cast<size_t>(capacity)]);
    if (!keys) return false;
    if (m_nKeyEnd > 0) {
        std::memcpy(keys.get(), m_keys.get(), static_cast<size_t>(m_nKeyEnd) * sizeof(int32_t));
    }
    m_keys = std::move(keys);
    m_nKeyCapacity = capacity;
    return true;
}

int CGridIndex::Append(uint32_t cellNumber, int32_t key) {
    Cell& cell = m_cells[cellNumber];
    const uint32_t n = cell.count & kCountMask;
    if (n < Room(cell.count) && (cell.count >> kCountBits) != 0) {
        m_keys[cell.offset + n] = key;
        ++cell.count;
        return 1;
    }
    if (n >= kCountMask) return -1;
    // The run moves to the end with room for the next power of two of keys.
    const uint32_t room = std::bit_ceil(n + 1);
    if (!ReserveTail(room)) return -1;
    const uint32_t released = Room(cell.count);  // read after a repack moved the run
    int32_t* run = m_keys.get() + m_nKeyEnd;
    if (n > 0) std::memcpy(run, m_keys.get() + cell.offset, n * sizeof(int32_t));
    run[n] = key;
    cell.offset = static_cast<uint32_t>(m_nKeyEnd);
    cell.count = (n + 1) | (static_cast<uint32_t>(std::countr_zero(room) + 1) << kCountBits);
    m_nKeyEnd += room;
    m_nReleased += released;
    return 1;
}

int CGridIndex::RemoveFrom(uint32_t cellNumber, int32_t key) {
    Cell& cell = m_cells[cellNumber];
    int32_t* first = m_keys.get() + cell.offset;
    int32_t* last = first + (cell.count & kCountMask);
    int32_t* it = std::find(first, last, key);
    if (it == last) return 0;
    std::memmove(it, it + 1, static_cast<size_t>(last - it - 1) * sizeof(int32_t));
    --cell.count;
    return 1;
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
    return Append(static_cast<uint32_t>(cell), key);
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
    if (!fresh || m_nKeyEnd != 0) {
        // Cells already hold keys: append one by one behind them.
        for (int i = 0; i < count; ++i) {
            if (cellOfKey[i] != kNoCell && Append(cellOfKey[i], i) < 0) return -1;
        }
        return 1;
    }

    // Counting pass, then each offset becomes the end of its cell's run.
    Cell* cells = m_cells.get();
    for (int i = 0; i < count; ++i) {
        if (cellOfKey[i] != kNoCell) ++cells[cellOfKey[i]].count;
    }
    uint32_t run = 0;
    for (int64_t c = 0; c < m_nCellsAlloc; ++c) {
        if (cells[c].count > kCountMask) {  // more keys in one cell than a run can hold
            FreeCells();
            return -1;
        }
        run += cells[c].count;
        cells[c].offset = run;
    }
    m_keys.reset(new (std::nothrow) int32_t[static_cast<size_t>(std::max<int64_t>(placed, 1))]);
    if (!m_keys) {
        FreeCells();
        return -1;
    }
    m_nKeyCapacity = std::max<int64_t>(placed, 1);
    m_nKeyEnd = placed;
    // Filling from the last key backwards leaves every run in key order and
    // every offset at the start of its run.
    int32_t* keys = m_keys.get();
    for (int i = count - 1; i >= 0; --i) {
        if (cellOfKey[i] != kNoCell) keys[--cells[cellOfKey[i]].offset] = i;
    }
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
    const int64_t cell = int64_t(row) * m_nCols + column;
    if (cell >= m_nCellsAlloc) return -1;
    return RemoveFrom(static_cast<uint32_t>(cell), key);
}

int CGridIndex::MoveKey(uint32_t from, uint32_t to, int key) {
    if (!HasCells()) return -1;
    if ((from != kNoCell && from >= m_nCellsAlloc) || (to != kNoCell && to >= m_nCellsAlloc)) {
        return -1;
    }
    if (from == to) {
        // Same cell: the key goes to the end of its list, as remove + insert would.
        if (from == kNoCell) return 1;
        if (RemoveFrom(from, key) == 0) return Append(to, key) < 0 ? -1 : 0;
        return Append(to, key) < 0 ? -1 : 1;
    }
    // Appending first: when it fails for want of memory, nothing has changed.
    if (to != kNoCell && Append(to, key) < 0) return -1;
    if (from == kNoCell) return 1;
    return RemoveFrom(from, key);
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
    return m_nCellsAlloc * int64_t(sizeof(Cell)) + m_nKeyCapacity * int64_t(sizeof(int32_t));
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
    swap(m_dReciprocal, other.m_dReciprocal);
    swap(m_dReciprocalOf, other.m_dReciprocalOf);
    swap(m_cells, other.m_cells);
    swap(m_keys, other.m_keys);
    swap(m_nCellsAlloc, other.m_nCellsAlloc);
    swap(m_nKeyCapacity, other.m_nKeyCapacity);
    swap(m_nKeyEnd, other.m_nKeyEnd);
    swap(m_nReleased, other.m_nReleased);
}
