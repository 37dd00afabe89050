// A uniform grid of square cells over the x/y box of a point set; each cell
// holds a list of integer keys (record indices or ids of the owning set), in
// insertion order, repeats allowed. Coordinates are those of the owning set:
// ground units for the ground set, sub-image pixels for image-point sets.
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "Platform/IntConversion.h"

class CGridIndex {
public:
    CGridIndex();
    virtual ~CGridIndex();
    CGridIndex(const CGridIndex&) = delete;
    CGridIndex& operator=(const CGridIndex&) = delete;

    // Exchanges geometry and cells with another index.
    void Swap(CGridIndex& other) noexcept;

    // Chooses the cell size and grid dimensions for n points, k per cell
    // (n <= 0 is laid out as one point, k <= 0 as one per cell; all points at
    // one position give one cell of size 1). Releases any existing cells
    // (their geometry would no longer match). 0.
    int Setup(double xmin, double xmax, double ymin, double ymax, int n, int k);
    // 0, or -1 when m_nRows or m_nCols is not positive.
    int AllocateCells();
    void FreeCells();
    bool HasCells() const;
    // column = trunc((x - m_dMinX) / size), row likewise; always 1. A position
    // that is not finite, or whose cell does not fit an int, gives -1/-1 there.
    int CellOf(double x, double y, int& column, int& row) const {
        if (!CellCoordinate(x - m_dMinX, column) || !CellCoordinate(y - m_dMinY, row)) {
            column = -1;
            row = -1;
        }
        return 1;
    }
    // 1 inserted; -1 no cells and they cannot be created; -2 outside the grid.
    int Insert(double x, double y, int key);
    // 1 removed; 0 not found; -1 no cells; -2 outside the grid.
    int Remove(double x, double y, int key);
    // Appends the keys of every touched cell; 1, or 0 when wholly before row/column 0.
    int QueryRect(int left, int top, int right, int bottom, std::vector<int>& out) const;
    // Keys under a closed polygon's bounding box; 0 with fewer than 3 vertices.
    int QueryPolygonBounds(const std::vector<double>& coords, std::vector<int>& out) const;

    // Keys of cell (row, column) in insertion order; empty outside the grid or
    // without cells. Valid until the index next changes.
    struct KeyList {
        const int32_t* data;
        int32_t size;
        const int32_t* begin() const { return data; }
        const int32_t* end() const { return data + size; }
    };
    KeyList CellKeys(int row, int column) const {
        if (row < 0 || column < 0 || row >= m_nRows || column >= m_nCols) return {nullptr, 0};
        const int64_t cell = int64_t(row) * m_nCols + column;
        if (cell >= m_nCellsAlloc) return {nullptr, 0};
        const Cell& c = m_cells[static_cast<size_t>(cell)];
        return {m_keys.get() + c.offset, static_cast<int32_t>(c.count & kCountMask)};
    }

    // Index memory in bytes beyond the owning set's records.
    int64_t MemoryBytes() const;

    // Cell number (row * m_nCols + column) of a position, or kNoCell when it
    // lies outside the grid or is not a number. Needs no cells.
    static constexpr uint32_t kNoCell = 0xFFFFFFFFu;
    uint32_t CellNumber(double x, double y) const {
        int column = 0;
        int row = 0;
        CellOf(x, y, column, row);
        if (row < 0 || column < 0 || row >= m_nRows || column >= m_nCols) return kNoCell;
        return static_cast<uint32_t>(row) * static_cast<uint32_t>(m_nCols) +
               static_cast<uint32_t>(column);
    }
    // CellNumber of two positions at once (a point's old and new position):
    // the four coordinates are multiplied by the reciprocal of the cell size,
    // and only where one of them lies within 2^-15 cell of a border, before
    // the origin, outside the grid or is not a number does CellNumber decide.
    void CellNumbers(double x0, double y0, double x1, double y1, uint32_t& first,
                     uint32_t& second) const {
        const double a0 = (x0 - m_dMinX) * m_dReciprocal;
        const double a1 = (x1 - m_dMinX) * m_dReciprocal;
        const double b0 = (y0 - m_dMinY) * m_dReciprocal;
        const double b1 = (y1 - m_dMinY) * m_dReciprocal;
        const double cols = m_nCols;
        const double rows = m_nRows;
        if (a0 >= 0.0 && a1 >= 0.0 && b0 >= 0.0 && b1 >= 0.0 && a0 < cols && a1 < cols &&
            b0 < rows && b1 < rows && m_dReciprocalOf == m_dCellSize) {
            const int c0 = static_cast<int>(a0);
            const int c1 = static_cast<int>(a1);
            const int r0 = static_cast<int>(b0);
            const int r1 = static_cast<int>(b1);
            constexpr double kLow = 0x1p-15;
            constexpr double kHigh = 1.0 - 0x1p-15;
            const double fa0 = a0 - c0, fa1 = a1 - c1, fb0 = b0 - r0, fb1 = b1 - r1;
            if (fa0 > kLow && fa0 < kHigh && fa1 > kLow && fa1 < kHigh && fb0 > kLow &&
                fb0 < kHigh && fb1 > kLow && fb1 < kHigh) {
                const auto columns = static_cast<uint32_t>(m_nCols);
                first = static_cast<uint32_t>(r0) * columns + static_cast<uint32_t>(c0);
                second = static_cast<uint32_t>(r1) * columns + static_cast<uint32_t>(c1);
                return;
            }
        }
        first = CellNumber(x0, y0);
        second = CellNumber(x1, y1);
    }
    // Moves a key between cells given by number: removes the first occurrence
    // of `key` from cell `from` (later keys move down) and appends it to cell
    // `to`; kNoCell on either side only appends or only removes. No message.
    // 1 done; 0 the key was not in `from` (it is still appended to `to`); -1
    // no cells, a cell number outside the grid, or no memory (nothing changed).
    int MoveKey(uint32_t from, uint32_t to, int key);

    // Bulk fill used by the owning set's full rebuild: key i goes to the cell
    // numbered cellOfKey[i] (row * m_nCols + column, inside the grid), for
    // i = 0 .. count-1. The result equals Insert of keys 0 .. count-1 in order.
    // A key whose cell is kNoCell is left out. 1, or -1 when the cells cannot
    // be created.
    int InsertSequence(const uint32_t* cellOfKey, int count);

    int m_nRows = 0;
    int m_nCols = 0;
    double m_dMinX = 0.0;
    double m_dMaxY = 0.0;
    double m_dMaxX = 0.0;
    double m_dMinY = 0.0;
    double m_dCellSize = 1.0;

private:
    // Every cell's keys are one contiguous run of m_keys, in insertion order:
    // m_keys[offset .. offset + count). After a bulk fill the runs are packed
    // back to back in cell order (8 bytes per cell plus 4 per key). A cell
    // that gains a key beyond its run's room moves its run to the end of
    // m_keys with room for a power of two of keys, recorded in the top bits of
    // count; the space it leaves is reclaimed when m_keys is repacked.
    struct Cell {
        uint32_t offset;
        uint32_t count;  // keys in the low kCountBits; the room exponent above
    };
    static constexpr int kCountBits = 27;
    static constexpr uint32_t kCountMask = (1u << kCountBits) - 1u;
    int64_t CellCount() const { return int64_t(m_nRows) * int64_t(m_nCols); }
    // trunc(offset / m_dCellSize) into out; false when it does not fit an int.
    // Multiplies by the stored reciprocal, which differs from the quotient by
    // a few units in the last place (relative): below 2^31 that is far less
    // than 2^-15, so where no integer lies within 2^-15 both truncate alike,
    // and only there is the division needed.
    bool CellCoordinate(double offset, int& out) const {
        const double f = offset * m_dReciprocal;
        if (f > -2147483648.0 && f < 2147483648.0 && m_dReciprocalOf == m_dCellSize) {
            const int t = static_cast<int>(f);
            const double fraction = std::fabs(f - t);  // exact
            if (fraction > 0x1p-15 && fraction < 1.0 - 0x1p-15) {
                out = t;
                return true;
            }
        }
        return Platform::TruncToInt(offset / m_dCellSize, out);
    }
    void ReportOutside(int row, int column) const;
    // Keys a cell's run has room for: its count for a packed run (room
    // exponent 0), 2^(e-1) for exponent e.
    static uint32_t Room(uint32_t count) {
        const uint32_t e = count >> kCountBits;
        return e == 0 ? (count & kCountMask) : (1u << (e - 1));
    }
    int Append(uint32_t cell, int32_t key);
    int RemoveFrom(uint32_t cell, int32_t key);
    // Makes room for `slots` more keys at the end of m_keys, repacking or
    // growing it; false when that would exceed 32-bit offsets or memory.
    bool ReserveTail(int64_t slots);
    bool Repack(int64_t capacity);

    double m_dReciprocal = 1.0;    // 1 / m_dReciprocalOf
    double m_dReciprocalOf = 1.0;  // the cell size the reciprocal belongs to
    std::unique_ptr<Cell[]> m_cells;
    std::unique_ptr<int32_t[]> m_keys;
    int64_t m_nCellsAlloc = 0;   // cells behind m_cells (0: no cells)
    int64_t m_nKeyCapacity = 0;  // length of m_keys
    int64_t m_nKeyEnd = 0;       // slots of m_keys in use, runs and released space
    int64_t m_nReleased = 0;     // released slots below m_nKeyEnd (at least)
};
