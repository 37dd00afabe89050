// A uniform grid of square cells over the x/y box of a point set; each cell
// holds a list of integer keys (record indices or ids of the owning set), in
// insertion order, repeats allowed. Coordinates are those of the owning set:
// ground units for the ground set, sub-image pixels for image-point sets.
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

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
    int CellOf(double x, double y, int& column, int& row) const;
    // 1 inserted; -1 no cells and they cannot be created; -2 outside the grid.
    int Insert(double x, double y, int key);
    // 1 removed; 0 not found; -1 no cells; -2 outside the grid.
    int Remove(double x, double y, int key);
    // Appends the keys of every touched cell; 1, or 0 when wholly before row/column 0.
    int QueryRect(int left, int top, int right, int bottom, std::vector<int>& out) const;
    // Keys under a closed polygon's bounding box; 0 with fewer than 3 vertices.
    int QueryPolygonBounds(const std::vector<double>& coords, std::vector<int>& out) const;

    // Keys of cell (row, column), which must be inside the grid and cells must exist.
    struct KeyList {
        const int32_t* data;
        int32_t size;
        const int32_t* begin() const { return data; }
        const int32_t* end() const { return data + size; }
    };
    KeyList CellKeys(int row, int column) const;

    // Index memory in bytes beyond the owning set's records.
    int64_t MemoryBytes() const;

    // Bulk fill used by the owning set's full rebuild: key i goes to the cell
    // numbered cellOfKey[i] (row * m_nCols + column, inside the grid), for
    // i = 0 .. count-1. The result equals Insert of keys 0 .. count-1 in order.
    // A key whose cell is kNoCell is left out. 1, or -1 when the cells cannot
    // be created.
    static constexpr uint32_t kNoCell = 0xFFFFFFFFu;
    int InsertSequence(const uint32_t* cellOfKey, int count);

    int m_nRows = 0;
    int m_nCols = 0;
    double m_dMinX = 0.0;
    double m_dMaxY = 0.0;
    double m_dMaxX = 0.0;
    double m_dMinY = 0.0;
    double m_dCellSize = 1.0;

private:
    // Cells are held in a compressed layout: the keys of cell c occupy
    // m_keys[m_offsets[c] .. m_offsets[c] + count), count = m_counts[c] without
    // the overflow bit. A cell that receives a key after the bulk fill moves its
    // whole list to m_overflow (bit set in m_counts), so every list stays
    // contiguous and in insertion order.
    static constexpr uint32_t kOverflowBit = 0x80000000u;
    int64_t CellCount() const { return int64_t(m_nRows) * int64_t(m_nCols); }
    void ReportOutside(int row, int column) const;
    std::vector<int32_t>& OverflowList(uint32_t cell);

    std::unique_ptr<uint32_t[]> m_offsets;
    std::unique_ptr<uint32_t[]> m_counts;
    std::unique_ptr<int32_t[]> m_keys;
    int64_t m_nKeyCount = 0;    // length of m_keys
    int64_t m_nCellsAlloc = 0;  // cells behind m_offsets/m_counts (0: no cells)
    std::unordered_map<uint32_t, std::vector<int32_t>> m_overflow;
};
