// Reduced copies of a photograph's band 0 for the overview of the whole
// photograph: box-filter halvings of the grey values the stereo view shows.
//
// Grey values are the 8-bit display values before the photograph's grey map:
// the byte itself for 8-bit samples, the linear stretch over band 0's finite
// range for wider sample types (as CErdasImage::GetDisplayWindow gives them).
//
// Level k halves the photograph k times: one level pixel covers a square of
// 2^k x 2^k sub-image pixels, level pixel (j, i) the sub-image columns
// j*2^k .. (j+1)*2^k - 1 and rows i*2^k .. (i+1)*2^k - 1, cut at the right and
// bottom edges. Its value is the mean of the grey values it covers, rounded
// to the nearest integer (halves up); the sums are carried exactly from level
// to level, so no rounding accumulates. A level is ceil(columns / 2^k) x
// ceil(rows / 2^k) pixels, rows top first (sub-image order).
//
// Only the levels that fit the overview are kept: the first whose sides are
// both at most the maximum side, and every halving of it down to one pixel.
// The photograph is read once, row by row, and none of the larger levels is
// ever held, so building costs about one pass over the band, and memory 4/3
// of the first kept level and a few rows.
//
// Core code: no Qt, no GL, no message boxes (it runs on a worker thread); the
// caller reports failures.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

struct PyramidLevel {
    int width = 0;                      // level pixels
    int height = 0;                     // level pixels
    int shift = 0;                      // one level pixel covers 2^shift x 2^shift sub-image pixels
    std::vector<unsigned char> pixels;  // width x height grey values, top row first
};

// Band 0 of a photograph as its image holds it: rows x columns samples of the
// sample type code `packing` (the LAN header's packing field), row 0 first,
// rows without gaps.
struct PyramidSource {
    const unsigned char* band = nullptr;
    int columns = 0;
    int rows = 0;
    int packing = 0;
};

class CImagePyramid {
public:
    static constexpr int kMaxSide = 1024;

    // Progress as the fraction 0..1 of the work done; called on the building
    // thread, a few hundred times at most.
    using Progress = std::function<void(double fraction)>;

    // Builds the kept levels from `source`, replacing any built before. The
    // cancel flag (may be null) is polled every few rows. 1 built; -1
    // cancelled (no level kept); -2 no band or a size below 1 or maxSide
    // below 1; -3 memory could not be had.
    int Build(const PyramidSource& source, int maxSide = kMaxSide,
              const Progress& progress = Progress(), const std::atomic<bool>* cancel = nullptr);

    void Clear();
    bool IsEmpty() const { return m_levels.empty(); }
    // Kept levels, the largest first; each the halving of the one before.
    int GetLevelCount() const { return static_cast<int>(m_levels.size()); }
    const PyramidLevel* GetLevel(int index) const;
    // The smallest kept level whose sides are both at least (width, height),
    // or the largest when none is; null when empty.
    const PyramidLevel* LevelFor(int width, int height) const;
    // Size of the photograph the levels were built from (sub-image pixels).
    int GetColumns() const { return m_nColumns; }
    int GetRows() const { return m_nRows; }

    // Bytes of the kept levels.
    int64_t GetMemoryBytes() const;
    // Largest number of bytes held at once while the last build ran (its
    // working rows and the levels).
    int64_t GetPeakBuildBytes() const { return m_nPeakBytes; }

private:
    std::vector<PyramidLevel> m_levels;
    int m_nColumns = 0;
    int m_nRows = 0;
    int64_t m_nPeakBytes = 0;
};
