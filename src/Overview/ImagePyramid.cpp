#include "Overview/ImagePyramid.h"

#include <algorithm>
#include <new>

#include "erdasimg/erdasimg.h"

namespace {

// Rows of the source between two polls of the cancel flag and progress reports.
constexpr int kPollRows = 64;

// The accumulators of one kept level below the first: the exact sums of the
// level row being gathered from two rows of the level above.
struct Cascade {
    std::vector<uint64_t> sums;
};

bool Cancelled(const std::atomic<bool>* cancel) {
    return cancel && cancel->load(std::memory_order_relaxed);
}

// Level pixels along a side of `side` sub-image pixels after `shift` halvings.
int64_t HalvedSide(int side, int shift) {
    return (static_cast<int64_t>(side) + (int64_t{1} << shift) - 1) >> shift;
}

// Pixels of the photograph that level pixel `index` covers along one side.
int64_t Covered(int index, int shift, int side) {
    const int64_t from = static_cast<int64_t>(index) << shift;
    return std::min<int64_t>(from + (int64_t{1} << shift), side) - from;
}

// Grey values of one level row from its exact sums: the mean, halves up.
// Level pixels that cover a whole 2^k x 2^k block divide by a power of two,
// a shift; only those cut at the right and bottom edges divide.
void RowFromSums(const uint64_t* sums, PyramidLevel& level, int row, int columns, int rows) {
    const int shift = level.shift;
    const uint64_t h = static_cast<uint64_t>(Covered(row, shift, rows));
    unsigned char* out = level.pixels.data() + static_cast<size_t>(row) * level.width;
    int j = 0;
    if (h == (uint64_t{1} << shift)) {
        const int bits = 2 * shift;
        const uint64_t half = bits > 0 ? uint64_t{1} << (bits - 1) : 0;
        const int whole = std::min(level.width, columns >> shift);
        for (; j < whole; ++j) out[j] = static_cast<unsigned char>((sums[j] + half) >> bits);
    }
    for (; j < level.width; ++j) {
        const uint64_t count = h * static_cast<uint64_t>(Covered(j, shift, columns));
        out[j] = static_cast<unsigned char>((2 * sums[j] + count) / (2 * count));
    }
}

// Column sums of `blockRows` grey rows, then the sums of each block of 2^shift
// of them: accumulated in T, wide enough for 255 x 2^shift.
template <typename T>
class BlockRowSummer {
public:
    bool Allocate(int columns) {
        try {
            m_columnSums.assign(static_cast<size_t>(columns), 0);
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }
    int64_t Bytes() const { return static_cast<int64_t>(m_columnSums.size() * sizeof(T)); }

    void Start(const unsigned char* grey) {
        T* acc = m_columnSums.data();
        const size_t n = m_columnSums.size();
        for (size_t x = 0; x < n; ++x) acc[x] = grey[x];
    }
    void Add(const unsigned char* grey) {
        T* acc = m_columnSums.data();
        const size_t n = m_columnSums.size();
        for (size_t x = 0; x < n; ++x) acc[x] = static_cast<T>(acc[x] + grey[x]);
    }
    void Finish(int shift, int width, uint64_t* sums) const {
        const T* acc = m_columnSums.data();
        const int64_t columns = static_cast<int64_t>(m_columnSums.size());
        int j = 0;
        if (shift == 1) {
            // The common first halving: pairs of columns.
            const int pairs = static_cast<int>(std::min<int64_t>(width, columns / 2));
            for (; j < pairs; ++j) sums[j] = uint64_t{acc[2 * j]} + acc[2 * j + 1];
        }
        for (; j < width; ++j) {
            const int64_t from = static_cast<int64_t>(j) << shift;
            const int64_t to = std::min<int64_t>(from + (int64_t{1} << shift), columns);
            uint64_t s = 0;
            for (int64_t x = from; x < to; ++x) s += acc[x];
            sums[j] = s;
        }
    }

private:
    std::vector<T> m_columnSums;
};

class LevelBuilder {
public:
    LevelBuilder(const PyramidSource& source, std::vector<PyramidLevel>& levels,
                 const CImagePyramid::Progress& progress, const std::atomic<bool>* cancel)
        : m_source(source), m_levels(levels), m_progress(progress), m_cancel(cancel) {}

    // The kept levels' sizes and storage, and the working rows: false without memory.
    bool Allocate(int firstShift, int64_t& bytes) {
        try {
            for (int shift = firstShift;; ++shift) {
                PyramidLevel level;
                level.shift = shift;
                level.width = static_cast<int>(HalvedSide(m_source.columns, shift));
                level.height = static_cast<int>(HalvedSide(m_source.rows, shift));
                level.pixels.resize(static_cast<size_t>(level.width) * level.height);
                bytes += static_cast<int64_t>(level.pixels.size());
                const bool last = level.width == 1 && level.height == 1;
                m_levels.push_back(std::move(level));
                if (last) break;
            }
            m_firstSums.resize(static_cast<size_t>(m_levels[0].width));
            bytes += static_cast<int64_t>(m_firstSums.size() * sizeof(uint64_t));
            m_cascade.resize(m_levels.size());
            for (size_t k = 1; k < m_levels.size(); ++k) {
                m_cascade[k].sums.assign(static_cast<size_t>(m_levels[k].width), 0);
                bytes += static_cast<int64_t>(m_levels[k].width * sizeof(uint64_t));
            }
            if (firstShift == 1) {
                m_columnPairs.resize(static_cast<size_t>(m_source.columns));
                m_blockSums.resize(static_cast<size_t>(m_levels[0].width));
                bytes += 2 * (m_source.columns + m_levels[0].width);
                if (m_levels.size() > 1) {
                    m_nextSums.assign(static_cast<size_t>(m_levels[1].width), 0);
                    bytes += 2 * m_levels[1].width;
                }
            }
            if (BytesPerSampleOf(m_source.packing) != 1) {
                m_greyRow.resize(static_cast<size_t>(m_source.columns));
                bytes += m_source.columns;
            }
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }

    // Reads the source once; false when cancelled.
    template <typename T>
    bool Run(BlockRowSummer<T>& summer) {
        const int bytesPerSample = BytesPerSampleOf(m_source.packing);
        if (bytesPerSample != 1 && !FindRange()) return false;
        const int64_t rowBytes = static_cast<int64_t>(m_source.columns) * bytesPerSample;
        const PyramidLevel& first = m_levels[0];
        if (bytesPerSample == 1 && first.shift == 1) return RunHalving();
        const int block = 1 << first.shift;
        for (int blockRow = 0; blockRow < first.height; ++blockRow) {
            const int from = blockRow * block;
            const int to = std::min(from + block, m_source.rows);
            for (int r = from; r < to; ++r) {
                const unsigned char* samples = m_source.band + r * rowBytes;
                const unsigned char* grey = samples;
                if (bytesPerSample != 1) {
                    StretchSamplesToGrey(m_source.packing, samples, m_source.columns, m_lo, m_hi,
                                         m_greyRow.data());
                    grey = m_greyRow.data();
                }
                if (r == from)
                    summer.Start(grey);
                else
                    summer.Add(grey);
                if (r % kPollRows == kPollRows - 1 && !Poll(r + 1)) return false;
            }
            summer.Finish(first.shift, first.width, m_firstSums.data());
            Emit(0, m_firstSums.data(), blockRow);
        }
        return !Cancelled(m_cancel);
    }

private:
    // The first kept level is the first halving of 8-bit samples (the zoom
    // levels): each pair of rows gives its level row straight away, and its
    // sums go into the next level's as they are made, in one pass.
    bool RunHalving() {
        const int64_t columns = m_source.columns;
        PyramidLevel& first = m_levels[0];
        const int pairs = static_cast<int>(columns / 2);
        const bool more = m_levels.size() > 1;
        uint64_t* next = more ? m_cascade[1].sums.data() : nullptr;
        for (int row = 0; row < first.height; ++row) {
            const int r = 2 * row;
            const unsigned char* a = m_source.band + r * columns;
            // The last row of an odd number of rows is its block alone.
            const unsigned char* b = r + 1 < m_source.rows ? a + columns : nullptr;
            unsigned char* out = first.pixels.data() + static_cast<size_t>(row) * first.width;
            if (b) {
                // Simple loops over 16-bit sums, which the compiler vectorises:
                // columns of the two rows, then pairs of columns.
                uint16_t* v = m_columnPairs.data();
                uint16_t* sums = m_blockSums.data();
                for (int64_t x = 0; x < columns; ++x) v[x] = static_cast<uint16_t>(a[x] + b[x]);
                for (int j = 0; j < pairs; ++j)
                    sums[j] = static_cast<uint16_t>(v[2 * j] + v[2 * j + 1]);
                for (int j = 0; j < pairs; ++j)
                    out[j] = static_cast<unsigned char>((sums[j] + 2) >> 2);
                if (pairs < first.width) {
                    // The last column of an odd number of columns: two pixels.
                    sums[pairs] = v[columns - 1];
                    out[pairs] = static_cast<unsigned char>((sums[pairs] + 1) >> 1);
                }
                if (more) {
                    // The next level's 4 x 4 sums (at most 4080) in 16 bits too.
                    uint16_t* acc = m_nextSums.data();
                    const int whole = first.width / 2;
                    for (int k = 0; k < whole; ++k)
                        acc[k] = static_cast<uint16_t>(acc[k] + sums[2 * k] + sums[2 * k + 1]);
                    if (whole * 2 < first.width)
                        acc[whole] = static_cast<uint16_t>(acc[whole] + sums[2 * whole]);
                }
            } else {
                m_firstSums.assign(m_firstSums.size(), 0);
                for (int j = 0; j < pairs; ++j) m_firstSums[j] = a[2 * j] + a[2 * j + 1];
                if (pairs < first.width) m_firstSums[pairs] = a[columns - 1];
                RowFromSums(m_firstSums.data(), first, row, m_source.columns, m_source.rows);
                if (more)
                    for (int j = 0; j < first.width; ++j)
                        m_nextSums[static_cast<size_t>(j >> 1)] = static_cast<uint16_t>(
                            m_nextSums[static_cast<size_t>(j >> 1)] + m_firstSums[j]);
            }
            if (more && ((row & 1) == 1 || row == first.height - 1)) {
                for (size_t k = 0; k < m_nextSums.size(); ++k) next[k] = m_nextSums[k];
                Emit(1, next, row >> 1);
                std::fill(m_cascade[1].sums.begin(), m_cascade[1].sums.end(), 0);
                std::fill(m_nextSums.begin(), m_nextSums.end(), 0);
            }
            if (row % (kPollRows / 2) == kPollRows / 2 - 1 && !Poll(r + 2)) return false;
        }
        return !Cancelled(m_cancel);
    }

    // Band 0's finite range for the stretch of wider sample types, read in
    // slices so that the cancel flag is polled; false when cancelled.
    bool FindRange() {
        const int bytesPerSample = BytesPerSampleOf(m_source.packing);
        const int64_t rowBytes = static_cast<int64_t>(m_source.columns) * bytesPerSample;
        bool any = false;
        for (int r = 0; r < m_source.rows; r += kPollRows) {
            const int n = std::min(kPollRows, m_source.rows - r);
            double lo = 0.0, hi = 0.0;
            if (SampleValueRange(m_source.packing, m_source.band + r * rowBytes,
                                 static_cast<int64_t>(n) * m_source.columns, &lo, &hi) > 0) {
                m_lo = any ? std::min(m_lo, lo) : lo;
                m_hi = any ? std::max(m_hi, hi) : hi;
                any = true;
            }
            m_rangeRows = r + n;
            if (!Poll(0)) return false;
        }
        return true;
    }

    // Reports progress (range rows count as much as reduction rows); false when cancelled.
    bool Poll(int reducedRows) {
        if (Cancelled(m_cancel)) return false;
        if (m_progress) {
            const bool wide = BytesPerSampleOf(m_source.packing) != 1;
            const double total = static_cast<double>(m_source.rows) * (wide ? 2.0 : 1.0);
            m_progress((static_cast<double>(m_rangeRows) + reducedRows) / total);
        }
        return true;
    }

    // Level `k`'s row `row` is complete in `sums`: its grey values, and its
    // share of the next level's row.
    void Emit(size_t k, const uint64_t* sums, int row) {
        PyramidLevel& level = m_levels[k];
        RowFromSums(sums, level, row, m_source.columns, m_source.rows);
        if (k + 1 >= m_levels.size()) return;
        Cascade& next = m_cascade[k + 1];
        uint64_t* acc = next.sums.data();
        for (int j = 0; j < level.width; ++j) acc[j >> 1] += sums[j];
        if ((row & 1) == 1 || row == level.height - 1) {
            Emit(k + 1, acc, row >> 1);
            std::fill(next.sums.begin(), next.sums.end(), 0);
        }
    }

    const PyramidSource& m_source;
    std::vector<PyramidLevel>& m_levels;
    const CImagePyramid::Progress& m_progress;
    const std::atomic<bool>* m_cancel;
    std::vector<uint64_t> m_firstSums;
    std::vector<Cascade> m_cascade;
    std::vector<unsigned char> m_greyRow;
    std::vector<uint16_t> m_columnPairs;  // first halving: sums of two rows' columns
    std::vector<uint16_t> m_blockSums;    // and of 2 x 2 blocks
    std::vector<uint16_t> m_nextSums;     // and of the next level's 4 x 4 blocks
    double m_lo = 0.0, m_hi = 0.0;
    int m_rangeRows = 0;
};

}  // namespace

int CImagePyramid::Build(const PyramidSource& source, int maxSide, const Progress& progress,
                         const std::atomic<bool>* cancel) {
    Clear();
    if (!source.band || source.columns < 1 || source.rows < 1 || maxSide < 1) return -2;
    // The first kept level: the fewest halvings that bring both sides within maxSide.
    int shift = 0;
    while (HalvedSide(source.columns, shift) > maxSide || HalvedSide(source.rows, shift) > maxSide)
        ++shift;

    std::vector<PyramidLevel> levels;
    LevelBuilder builder(source, levels, progress, cancel);
    int64_t bytes = 0;
    if (!builder.Allocate(shift, bytes)) return -3;
    bool done = false;
    // Column sums of up to 2^shift rows of 8-bit values: 16 bits hold 256 rows.
    if (shift <= 8) {
        BlockRowSummer<uint16_t> summer;
        if (!summer.Allocate(source.columns)) return -3;
        m_nPeakBytes = bytes + summer.Bytes();
        done = builder.Run(summer);
    } else {
        BlockRowSummer<uint32_t> summer;
        if (!summer.Allocate(source.columns)) return -3;
        m_nPeakBytes = bytes + summer.Bytes();
        done = builder.Run(summer);
    }
    if (!done) return -1;
    m_levels = std::move(levels);
    m_nColumns = source.columns;
    m_nRows = source.rows;
    if (progress) progress(1.0);
    return 1;
}

void CImagePyramid::Clear() {
    m_levels.clear();
    m_nColumns = 0;
    m_nRows = 0;
}

const PyramidLevel* CImagePyramid::GetLevel(int index) const {
    if (index < 0 || index >= GetLevelCount()) return nullptr;
    return &m_levels[static_cast<size_t>(index)];
}

const PyramidLevel* CImagePyramid::LevelFor(int width, int height) const {
    if (m_levels.empty()) return nullptr;
    for (auto it = m_levels.rbegin(); it != m_levels.rend(); ++it)
        if (it->width >= width && it->height >= height) return &*it;
    return &m_levels.front();
}

int64_t CImagePyramid::GetMemoryBytes() const {
    int64_t bytes = 0;
    for (const PyramidLevel& level : m_levels) bytes += static_cast<int64_t>(level.pixels.size());
    return bytes;
}
