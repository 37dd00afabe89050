// Uniform cell grid for exact nearest-neighbour searches in ground X/Y. See
// NeighbourGrid.h.
#include "Checking/NeighbourGrid.h"

#include <algorithm>
#include <cmath>

namespace {

// Grids of more cells than this are laid out with larger cells.
constexpr int64_t kMaxCells = int64_t{1} << 26;

}  // namespace

void CNeighbourGrid::Clear() {
    m_nCols = m_nRows = 0;
    m_nSize = 0;
    m_start.clear();
    m_entries.clear();
    m_hasOverflow.clear();
    m_overflow.clear();
    m_nOverflow = m_nRemoved = 0;
}

int CNeighbourGrid::Build(const double* x, const double* y, const uint8_t* keep, int count,
                          double cellSize) {
    Clear();
    if (!(cellSize > 0.0) || !std::isfinite(cellSize) || count < 0) return -1;
    double minX = std::numeric_limits<double>::infinity(), minY = minX;
    double maxX = -minX, maxY = -minX;
    int64_t kept = 0;
    for (int i = 0; i < count; ++i) {
        if (!keep[i] || !std::isfinite(x[i]) || !std::isfinite(y[i])) continue;
        minX = std::min(minX, x[i]);
        maxX = std::max(maxX, x[i]);
        minY = std::min(minY, y[i]);
        maxY = std::max(maxY, y[i]);
        ++kept;
    }
    if (kept == 0) minX = maxX = minY = maxY = 0.0;
    // At most about four cells per point (and never more than kMaxCells), so
    // that a scattered set does not spend its memory on empty cells.
    const int64_t cellLimit = std::min<int64_t>(kMaxCells, 4 * kept + 16);
    double size = cellSize;
    for (;;) {
        const double cols = std::floor((maxX - minX) / size) + 1.0;
        const double rows = std::floor((maxY - minY) / size) + 1.0;
        if (cols * rows <= static_cast<double>(cellLimit)) {
            m_nCols = static_cast<int>(cols);
            m_nRows = static_cast<int>(rows);
            break;
        }
        size *= std::max(1.01, std::sqrt(cols * rows / static_cast<double>(cellLimit)));
    }
    m_dMinX = minX;
    m_dMinY = minY;
    m_dCellSize = size;

    const int64_t cells = static_cast<int64_t>(m_nCols) * m_nRows;
    m_start.assign(static_cast<size_t>(cells) + 1, 0);
    m_hasOverflow.assign(static_cast<size_t>(cells), 0);
    std::vector<uint32_t> cellOf(static_cast<size_t>(count), 0);
    for (int i = 0; i < count; ++i) {
        if (!keep[i] || !std::isfinite(x[i]) || !std::isfinite(y[i])) continue;
        const int64_t c = CellOf(x[i], y[i]);
        cellOf[i] = static_cast<uint32_t>(c);
        ++m_start[c + 1];
    }
    for (int64_t c = 0; c < cells; ++c) m_start[c + 1] += m_start[c];
    m_entries.resize(static_cast<size_t>(kept));
    std::vector<uint32_t> fill(m_start.begin(), m_start.end() - 1);
    for (int i = 0; i < count; ++i) {
        if (!keep[i] || !std::isfinite(x[i]) || !std::isfinite(y[i])) continue;
        m_entries[fill[cellOf[i]]++] = Entry{x[i], y[i], i};
    }
    m_nSize = static_cast<int>(kept);
    return 1;
}

int CNeighbourGrid::Insert(int index, double x, double y) {
    if (m_nCols <= 0 || !std::isfinite(x) || !std::isfinite(y) || index < 0) return -1;
    const int64_t c = CellOf(x, y);
    m_overflow[c].push_back(Entry{x, y, index});
    m_hasOverflow[c] = 1;
    ++m_nOverflow;
    ++m_nSize;
    // Searches walk the overflow lists through a hash table; pack them into
    // the cell arrays once they hold a sizeable share of the records.
    if (m_nOverflow + m_nRemoved > std::max<int64_t>(4096, m_nSize / 4)) Repack();
    return 1;
}

int CNeighbourGrid::Remove(int index, double x, double y) {
    if (m_nCols <= 0 || !std::isfinite(x) || !std::isfinite(y)) return 0;
    const int64_t c = CellOf(x, y);
    for (uint32_t s = m_start[c], e = m_start[c + 1]; s < e; ++s) {
        if (m_entries[s].index == index) {
            m_entries[s].index = -1;
            ++m_nRemoved;
            --m_nSize;
            return 1;
        }
    }
    if (m_hasOverflow[c]) {
        std::vector<Entry>& list = m_overflow[c];
        for (size_t i = 0; i < list.size(); ++i) {
            if (list[i].index == index) {
                list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
                --m_nOverflow;
                --m_nSize;
                if (list.empty()) {
                    m_overflow.erase(c);
                    m_hasOverflow[c] = 0;
                }
                return 1;
            }
        }
    }
    return 0;
}

void CNeighbourGrid::Repack() {
    const int64_t cells = static_cast<int64_t>(m_nCols) * m_nRows;
    std::vector<uint32_t> start(static_cast<size_t>(cells) + 1, 0);
    std::vector<Entry> entries;
    entries.reserve(static_cast<size_t>(m_nSize));
    for (int64_t c = 0; c < cells; ++c) {
        for (uint32_t s = m_start[c], e = m_start[c + 1]; s < e; ++s) {
            if (m_entries[s].index >= 0) entries.push_back(m_entries[s]);
        }
        if (m_hasOverflow[c]) {
            const std::vector<Entry>& list = OverflowOf(c);
            entries.insert(entries.end(), list.begin(), list.end());
        }
        start[c + 1] = static_cast<uint32_t>(entries.size());
    }
    m_start.swap(start);
    m_entries.swap(entries);
    m_overflow.clear();
    std::fill(m_hasOverflow.begin(), m_hasOverflow.end(), 0);
    m_nOverflow = m_nRemoved = 0;
}

void CNeighbourGrid::StorageOrder(std::vector<int>& indices) const {
    indices.clear();
    indices.reserve(static_cast<size_t>(m_nSize));
    const int64_t cells = static_cast<int64_t>(m_nCols) * m_nRows;
    for (int64_t c = 0; c < cells; ++c) {
        for (uint32_t s = m_start[c], e = m_start[c + 1]; s < e; ++s) {
            if (m_entries[s].index >= 0) indices.push_back(m_entries[s].index);
        }
        if (m_hasOverflow[c]) {
            for (const Entry& entry : OverflowOf(c)) indices.push_back(entry.index);
        }
    }
}
