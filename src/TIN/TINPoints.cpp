// The editable point set, its binary points file and its grid-index searches.
//
// Points file (.pts), little-endian, no padding: int32 N; float64 min X, max Y,
// max X, min Y, spacing X, spacing Y (52 bytes); then N records of float64 x,
// y, z, weight (32 bytes each). Ids are not stored: records are numbered in
// file order on reading.
#include "TIN/TINPoints.h"

#include <sys/stat.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include "Platform/FileHandle.h"
#include "Platform/IntConversion.h"

static_assert(std::endian::native == std::endian::little,
              "points files are little-endian and are copied byte for byte");

namespace {

using Platform::TruncClamped;

constexpr int64_t kHeaderBytes = 52;
constexpr int64_t kFileRecordBytes = 32;
// Records moved per staging transfer: large enough for few stream calls,
// small enough to stay in cache while the 36-byte records are filled.
constexpr int kStagingRecords = 16384;

template <typename T>
bool WriteField(const T& value, FILE* file) {
    return std::fwrite(&value, sizeof value, 1, file) == 1;
}

}  // namespace

double Cross(const PointXY& a, const PointXY& b, const PointXY& c) {
    return (b.x - a.x) * (c.y - a.y) - (c.x - a.x) * (b.y - a.y);
}

bool IsRightTurn(const PointXY& a, const PointXY& b, const PointXY& c) {
    return Cross(a, b, c) < 0.0;
}

int InsideConvex(const PointXY& p, const PointXY* vertices, int count, bool orientation) {
    for (int k = 1; k < count; ++k) {
        if (IsRightTurn(vertices[k - 1], vertices[k], p) != orientation) return -1;
    }
    return 1;
}

bool InsidePolygon(const PointXY& p, const PointXY* vertices, int count) {
    if (count < 2) return false;
    const PointXY& first = vertices[0];
    const PointXY& last = vertices[count - 1];
    const bool closed = first.x == last.x && first.y == last.y;
    const int edges = closed ? count - 1 : count;
    // Winding number: an edge crossing the horizontal line through p upwards
    // with p on its left counts +1, downwards with p on its right -1 (each
    // edge's lower end is taken as on the line, the upper one not, so a
    // vertex on the line is counted once). The side comes from the same
    // cross product as the turn test.
    int winding = 0;
    for (int k = 0; k < edges; ++k) {
        const PointXY& a = vertices[k];
        const PointXY& b = vertices[k + 1 < count ? k + 1 : 0];
        const double side = Cross(a, b, p);
        if (side == 0.0 && std::min(a.x, b.x) <= p.x && p.x <= std::max(a.x, b.x) &&
            std::min(a.y, b.y) <= p.y && p.y <= std::max(a.y, b.y)) {
            return true;  // on the edge
        }
        if (a.y <= p.y) {
            if (b.y > p.y && side > 0.0) ++winding;
        } else if (b.y <= p.y && side < 0.0) {
            --winding;
        }
    }
    return winding != 0;
}

CTINPoints::CTINPoints() = default;

CTINPoints::CTINPoints(int n) {
    if (n <= 0) return;
    // Zero-filled so that a record the caller has not yet set reads as zeros.
    m_pPoints.reset(new (std::nothrow) TINPoint[static_cast<size_t>(n)]());
    if (m_pPoints) {
        m_nCount = n;
        m_nCapacity = n;
    }
}

CTINPoints::~CTINPoints() = default;

void CTINPoints::GetExtent(TINExtent* extent) const {
    if (!extent) return;
    extent->xmin = m_dMinX;
    extent->xmax = m_dMaxX;
    extent->ymin = m_dMinY;
    extent->ymax = m_dMaxY;
    extent->zmin = m_dMinZ;
    extent->zmax = m_dMaxZ;
}

void CTINPoints::GetSpacing(double* sx, double* sy) const {
    if (sx) *sx = m_dSpacingX;
    if (sy) *sy = m_dSpacingY;
}

void CTINPoints::SetSpacing(double sx, double sy) {
    m_dSpacingX = sx;
    m_dSpacingY = sy;
}

int CTINPoints::SetPoint(int id, double x, double y, int index) {
    if (index < 0 || index >= m_nCount) return -1;
    TINPoint& p = m_pPoints[static_cast<size_t>(index)];
    p.id = id;
    p.x = x;
    p.y = y;
    return 0;
}

CGridIndex* CTINPoints::GetIndex() {
    return m_index.HasCells() ? &m_index : nullptr;
}

const CGridIndex* CTINPoints::GetIndex() const {
    return m_index.HasCells() ? &m_index : nullptr;
}

const char* CTINPoints::ReadPtsFailure(int result) {
    switch (result) {
        case -1:
            return "the file cannot be opened or holds no points";
        case -2:
            return "its header's max X (byte 20) is not greater than its min X (byte 4)";
        case -3:
        case -4:
            return "there is not enough memory for its points";
        case -5:
            return "the number of points its header (byte 0) gives is negative or more than "
                   "the file holds (the file is cut short or damaged)";
        case -6:
            return "a point's height is not a finite number";
        default:
            return "it is not a points file";
    }
}

int CTINPoints::ReadPts(FILE* file) {
    // Whatever happens, the old records and their index are gone: the set
    // never claims records it did not read.
    m_index.FreeCells();
    m_pPoints.reset();
    m_nCount = 0;
    m_nCapacity = 0;
    if (!file) return -1;

    unsigned char header[kHeaderBytes];
    if (std::fread(header, 1, sizeof header, file) != sizeof header) return -5;
    int32_t n = 0;
    std::memcpy(&n, header, 4);
    std::memcpy(&m_dMinX, header + 4, 8);
    std::memcpy(&m_dMaxY, header + 12, 8);
    std::memcpy(&m_dMaxX, header + 20, 8);
    std::memcpy(&m_dMinY, header + 28, 8);
    std::memcpy(&m_dSpacingX, header + 36, 8);
    std::memcpy(&m_dSpacingY, header + 44, 8);

    if (n == 0) return -1;
    if (!(m_dMaxX > m_dMinX)) return -2;
    // The count is checked against what the file holds before it sizes anything.
    if (n < 0) return -5;
    const int64_t available = Platform::BytesRemaining(file);
    if (available < 0 || int64_t(n) * kFileRecordBytes > available) return -5;
    if (m_dMaxY < m_dMinY) std::swap(m_dMaxY, m_dMinY);

    std::unique_ptr<TINPoint[]> points(new (std::nothrow) TINPoint[static_cast<size_t>(n)]);
    if (!points) return -3;
    const int chunk = std::min(n, kStagingRecords);
    std::unique_ptr<unsigned char[]> staging(
        new (std::nothrow) unsigned char[static_cast<size_t>(chunk * kFileRecordBytes)]);
    if (!staging) return -4;

    // z range: both ends start at the first z; a lower z lowers the minimum,
    // otherwise a higher one raises the maximum. Tracked while the staged
    // bytes are still in cache.
    double zmin = 0.0;
    double zmax = 0.0;
    for (int first = 0; first < n; first += chunk) {
        const int m = std::min(chunk, n - first);
        if (std::fread(staging.get(), kFileRecordBytes, static_cast<size_t>(m), file) !=
            static_cast<size_t>(m)) {
            return -5;
        }
        if (first == 0) {
            std::memcpy(&zmin, staging.get() + 16, 8);
            zmax = zmin;
        }
        // Record layout: int32 id, then the file's 32 bytes (x, y, z, weight).
        auto* out = reinterpret_cast<unsigned char*>(points.get() + first);
        const unsigned char* in = staging.get();
        for (int j = 0; j < m; ++j) {
            const int32_t id = first + j;
            double z;
            std::memcpy(&z, in + 16, 8);
            if (z < zmin) {
                zmin = z;
            } else if (z > zmax) {
                zmax = z;
            } else if (std::isnan(z)) {
                zmin = z;  // refused below
            }
            std::memcpy(out, &id, 4);
            std::memcpy(out + 4, in, kFileRecordBytes);
            out += sizeof(TINPoint);
            in += kFileRecordBytes;
        }
    }
    // A height that is not a finite number projects nowhere in the photographs
    // (and would spread into every plane fit): the file is refused.
    if (!std::isfinite(zmin) || !std::isfinite(zmax)) return -6;
    m_dMinZ = zmin;
    m_dMaxZ = zmax;
    m_pPoints = std::move(points);
    m_nCount = n;
    m_nCapacity = n;
    return 1;
}

int CTINPoints::ReadPts(const std::string& path) {
    Platform::FilePtr file = Platform::OpenRegularFile(path, "rb");
    if (!file) {
        ReadPts(static_cast<FILE*>(nullptr));  // drops the old records as any failed read does
        return -1;
    }
    return ReadPts(file.get());
}

int CTINPoints::WritePts(FILE* file) const {
    if (!file) return -1;
    const int32_t n = std::max(m_nCount, 0);
    if (!WriteField(n, file) || !WriteField(m_dMinX, file) || !WriteField(m_dMaxY, file) ||
        !WriteField(m_dMaxX, file) || !WriteField(m_dMinY, file) ||
        !WriteField(m_dSpacingX, file) || !WriteField(m_dSpacingY, file)) {
        return -1;
    }
    if (n == 0) return 0;
    const int chunk = std::min(n, kStagingRecords);
    std::unique_ptr<unsigned char[]> staging(
        new (std::nothrow) unsigned char[static_cast<size_t>(chunk * kFileRecordBytes)]);
    if (!staging) return -1;

    int written = 0;
    for (int first = 0; first < n; first += chunk) {
        const int m = std::min(chunk, n - first);
        const auto* in = reinterpret_cast<const unsigned char*>(m_pPoints.get() + first);
        unsigned char* out = staging.get();
        for (int j = 0; j < m; ++j) {
            std::memcpy(out, in + 4, kFileRecordBytes);
            in += sizeof(TINPoint);
            out += kFileRecordBytes;
        }
        const size_t done =
            std::fwrite(staging.get(), kFileRecordBytes, static_cast<size_t>(m), file);
        written += static_cast<int>(done);
        if (done != static_cast<size_t>(m)) break;
    }
    return written;
}

int CTINPoints::WritePts(const std::string& path) const {
    Platform::FilePtr file = Platform::OpenFile(path, "wb");
    if (!file) return -1;
    const int written = WritePts(file.get());
    const bool flushed = std::fflush(file.get()) == 0;
    const bool closed = std::fclose(file.release()) == 0;
    if (written != std::max(m_nCount, 0) || !flushed || !closed) return -1;
    return written;
}

void WidenDegenerateRange(double& lo, double& hi, double margin) {
    if (hi > lo || !std::isfinite(lo) || !std::isfinite(hi)) return;
    if (margin > 0.0 && std::isfinite(margin)) {
        const double low = lo - margin;
        const double high = hi + margin;
        if (high > low) {
            lo = low;
            hi = high;
            return;
        }
    }
    lo = std::nextafter(lo, -std::numeric_limits<double>::infinity());
    hi = std::nextafter(hi, std::numeric_limits<double>::infinity());
}

int CTINPoints::Compact() {
    int kept = 0;
    bool placed = false;
    bool heights = false;
    double minX = 0.0, maxX = 0.0, minY = 0.0, maxY = 0.0, minZ = 0.0, maxZ = 0.0;
    for (int i = 0; i < m_nCount; ++i) {
        const TINPoint p = m_pPoints[static_cast<size_t>(i)];
        if (p.id < 0) continue;
        const double x = p.x;
        const double y = p.y;
        const double z = p.z;
        if (std::isfinite(x) && std::isfinite(y)) {
            if (!placed) {
                minX = maxX = x;
                minY = maxY = y;
                placed = true;
            } else {
                minX = std::min(minX, x);
                maxX = std::max(maxX, x);
                minY = std::min(minY, y);
                maxY = std::max(maxY, y);
            }
        }
        if (std::isfinite(z)) {
            if (!heights) {
                minZ = maxZ = z;
                heights = true;
            } else {
                minZ = std::min(minZ, z);
                maxZ = std::max(maxZ, z);
            }
        }
        if (kept != i) m_pPoints[static_cast<size_t>(kept)] = p;
        ++kept;
    }
    if (kept == 0) {
        std::swap(m_dMinX, m_dMaxX);
        std::swap(m_dMinY, m_dMaxY);
    }
    if (placed) {
        // One point, or all on one line: half a spacing on either side.
        WidenDegenerateRange(minX, maxX, m_dSpacingX > 0.0 ? 0.5 * m_dSpacingX : 0.5);
        WidenDegenerateRange(minY, maxY, m_dSpacingY > 0.0 ? 0.5 * m_dSpacingY : 0.5);
        m_dMinX = minX;
        m_dMaxX = maxX;
        m_dMinY = minY;
        m_dMaxY = maxY;
    }
    if (heights) {
        m_dMinZ = minZ;
        m_dMaxZ = maxZ;
    }
    m_nCount = kept;
    return 0;
}

int CTINPoints::BuildIndex(int pointsPerCell) {
    return Build(pointsPerCell, false);
}

int CTINPoints::BuildPlacedIndex(int pointsPerCell) {
    return Build(pointsPerCell, true);
}

int CTINPoints::Build(int pointsPerCell, bool skipUnplaced) {
    m_nPointsPerCell = pointsPerCell;
    m_index.Setup(m_dMinX, m_dMaxX, m_dMinY, m_dMaxY, m_nCount, pointsPerCell);
    if (m_nCount <= 0) return 0;
    auto unplaced = [&](const TINPoint& p) {
        return skipUnplaced && !(std::isfinite(p.x) && std::isfinite(p.y));
    };

    // Cell of every record up to the first one outside the grid, then one bulk
    // fill; the result is the same as inserting the records one by one.
    std::unique_ptr<uint32_t[]> cells(new (std::nothrow) uint32_t[static_cast<size_t>(m_nCount)]);
    if (!cells) {
        for (int i = 0; i < m_nCount; ++i) {
            const TINPoint& p = m_pPoints[static_cast<size_t>(i)];
            if (unplaced(p)) continue;
            if (m_index.Insert(p.x, p.y, i) < 0) return -1;
        }
        return 0;
    }
    const int rows = m_index.m_nRows;
    const int cols = m_index.m_nCols;
    int inside = 0;
    for (; inside < m_nCount; ++inside) {
        const TINPoint& p = m_pPoints[static_cast<size_t>(inside)];
        if (unplaced(p)) {
            cells[static_cast<size_t>(inside)] = CGridIndex::kNoCell;
            continue;
        }
        int column = 0;
        int row = 0;
        m_index.CellOf(p.x, p.y, column, row);
        if (row < 0 || column < 0 || row >= rows || column >= cols) break;
        cells[static_cast<size_t>(inside)] =
            static_cast<uint32_t>(row) * uint32_t(cols) + static_cast<uint32_t>(column);
    }
    if (m_index.InsertSequence(cells.get(), inside) < 0) return -1;
    if (inside < m_nCount) {
        // Reports the point outside the extent and leaves the index as it is.
        const TINPoint& p = m_pPoints[static_cast<size_t>(inside)];
        m_index.Insert(p.x, p.y, inside);
        return -1;
    }
    return 0;
}

int CTINPoints::AddPoint(const TINPoint& p) {
    if (m_nCount >= m_nCapacity) {
        const int64_t increment = std::max<int64_t>(10, static_cast<int64_t>(m_nCapacity * 0.01));
        const int64_t capacity = int64_t(m_nCapacity) + increment;
        if (capacity > INT_MAX) return -1;
        std::unique_ptr<TINPoint[]> grown(new (std::nothrow)
                                              TINPoint[static_cast<size_t>(capacity)]);
        if (!grown) return -1;
        if (m_nCount > 0) {
            std::memcpy(grown.get(), m_pPoints.get(), size_t(m_nCount) * sizeof(TINPoint));
        }
        m_pPoints = std::move(grown);
        m_nCapacity = static_cast<int>(capacity);
    }
    std::memcpy(&m_pPoints[static_cast<size_t>(m_nCount)], &p, sizeof(TINPoint));
    ++m_nCount;
    if (m_index.HasCells() && m_index.Insert(p.x, p.y, p.id) < 0) return -1;
    return 1;
}

int CTINPoints::RemovePoint(int index) {
    if (index < 0 || index >= m_nCount) return -1;
    TINPoint& p = m_pPoints[static_cast<size_t>(index)];
    if (m_index.Remove(p.x, p.y, p.id) < 0) return -1;
    p.id = -1;
    return 1;
}

int CTINPoints::Truncate(int count) {
    if (count < 0 || count > m_nCount) return -1;
    for (int i = m_nCount - 1; i >= count; --i) {
        const TINPoint& p = m_pPoints[static_cast<size_t>(i)];
        // Appended records are indexed under their index (their id when added);
        // one whose position the grid refused holds no key, and says nothing.
        if (!m_index.HasCells()) continue;
        const uint32_t cell = m_index.CellNumber(p.x, p.y);
        if (cell != CGridIndex::kNoCell) m_index.MoveKey(cell, CGridIndex::kNoCell, i);
    }
    m_nCount = count;
    return 1;
}

int CTINPoints::MovePoint(int index, double x, double y) {
    if (index < 0 || index >= m_nCount) return -1;
    TINPoint& p = m_pPoints[static_cast<size_t>(index)];
    const double oldX = p.x;
    const double oldY = p.y;
    if (oldX == x && oldY == y) return 1;  // a height change alone: nothing to follow
    p.x = x;
    p.y = y;
    if (p.id < 0) return 1;
    const bool placed = std::isfinite(x) && std::isfinite(y);
    auto widenBounds = [&] {
        if (!placed) return;
        if (x < m_dMinX) m_dMinX = x;
        if (x > m_dMaxX) m_dMaxX = x;
        if (y < m_dMinY) m_dMinY = y;
        if (y > m_dMaxY) m_dMaxY = y;
    };
    if (!m_index.HasCells()) {
        widenBounds();
        return 1;
    }
    uint32_t from = CGridIndex::kNoCell;
    uint32_t to = CGridIndex::kNoCell;
    m_index.CellNumbers(oldX, oldY, x, y, from, to);
    if (placed && to == CGridIndex::kNoCell) {
        // Outside the grid: the rebuild widens the bounds itself, with room
        // beyond the point for the next moves the same way.
        return RebuildToHoldEveryRecord() < 0 ? -2 : 1;
    }
    widenBounds();
    if (from == to) return 1;
    if (m_index.MoveKey(from, to, index) < 0) {
        // No memory for the new cell's list: a full rebuild needs less.
        return RebuildToHoldEveryRecord() < 0 ? -2 : 1;
    }
    return 1;
}

int CTINPoints::RebuildToHoldEveryRecord() {
    double minX = m_dMinX;
    double maxX = m_dMaxX;
    double minY = m_dMinY;
    double maxY = m_dMaxY;
    bool any = minX <= maxX && minY <= maxY && std::isfinite(minX) && std::isfinite(maxX) &&
               std::isfinite(minY) && std::isfinite(maxY);
    double loX = 0.0, hiX = 0.0, loY = 0.0, hiY = 0.0;
    bool records = false;
    for (int i = 0; i < m_nCount; ++i) {
        const TINPoint& p = m_pPoints[static_cast<size_t>(i)];
        const double x = p.x;
        const double y = p.y;
        if (!std::isfinite(x) || !std::isfinite(y)) continue;
        if (!records) {
            loX = hiX = x;
            loY = hiY = y;
            records = true;
        } else {
            loX = std::min(loX, x);
            hiX = std::max(hiX, x);
            loY = std::min(loY, y);
            hiY = std::max(hiY, y);
        }
    }
    if (records) {
        if (!any) {
            minX = loX;
            maxX = hiX;
            minY = loY;
            maxY = hiY;
        } else {
            // Each side that has to grow goes an eighth of the span (at least
            // a cell) beyond the records, so that points moving on in the same
            // direction do not rebuild again at once.
            const double roomX =
                std::max((std::max(maxX, hiX) - std::min(minX, loX)) / 8.0, m_index.m_dCellSize);
            const double roomY =
                std::max((std::max(maxY, hiY) - std::min(minY, loY)) / 8.0, m_index.m_dCellSize);
            if (loX < minX) minX = loX - roomX;
            if (hiX > maxX) maxX = hiX + roomX;
            if (loY < minY) minY = loY - roomY;
            if (hiY > maxY) maxY = hiY + roomY;
        }
        m_dMinX = minX;
        m_dMaxX = maxX;
        m_dMinY = minY;
        m_dMaxY = maxY;
    }
    return Build(m_nPointsPerCell, true);
}

int CTINPoints::FindNearest(int x, int y, double radius) const {
    return FindNearestAt(x, y, radius);
}

int CTINPoints::FindNearestAt(double qx, double qy, double radius) const {
    if (!m_index.HasCells()) return -1;
    if (!std::isfinite(qx) || !std::isfinite(qy)) return -1;
    // Squared distance a point must be strictly below; not positive (or NaN)
    // when nothing can be within the radius.
    double bestDistance = radius * radius;
    if (!(bestDistance > 0.0)) return -1;
    const double reach = std::fabs(radius);
    const int rows = m_index.m_nRows;
    const int cols = m_index.m_nCols;
    const double size = m_index.m_dCellSize;

    // Cells the radius reaches. A key lies in column trunc((x - min X) / size),
    // so the first column is found with floor and the last with trunc (column
    // 0 also holds the positions up to one cell before min X); the bounds are
    // kept in double so that a far query or an infinite radius clamps.
    const double firstCol = std::max(0.0, std::floor((qx - reach - m_index.m_dMinX) / size));
    const double lastCol =
        std::min(double(cols - 1), std::trunc((qx + reach - m_index.m_dMinX) / size));
    const double firstRow = std::max(0.0, std::floor((qy - reach - m_index.m_dMinY) / size));
    const double lastRow =
        std::min(double(rows - 1), std::trunc((qy + reach - m_index.m_dMinY) / size));
    if (!(firstCol <= lastCol) || !(firstRow <= lastRow)) return -1;

    int best = -1;
    auto searchCell = [&](int row, int column) {
        for (const int32_t k : m_index.CellKeys(row, column)) {
            if (k < 0 || k >= m_nCount) continue;  // a stale key names no record in use
            const TINPoint& p = m_pPoints[static_cast<size_t>(k)];
            if (p.id < 0) continue;
            const double dx = p.x - qx;
            const double dy = p.y - qy;
            const double d = dx * dx + dy * dy;
            if (d < bestDistance) {
                bestDistance = d;
                best = k;
            }
        }
    };
    // Squared distance from the query to cell `cell` along one axis (origin is
    // the grid's min X or min Y). Cell 0 also holds the positions up to one
    // cell before the origin. Made a little smaller so that a key placed by a
    // rounded cell computation is never skipped.
    const double slack = 1e-9 * size;
    auto gap = [&](double q, double origin, int cell) {
        const double low = origin + (cell == 0 ? -size : cell * size) - slack;
        const double high = origin + (cell + 1) * size + slack;
        const double g = q < low ? low - q : (q > high ? q - high : 0.0);
        return g * g;
    };

    // The query's own cell first: where the nearest point lies there, the
    // answer is the first of equal distances in that cell's list. Then the
    // other cells in row order, each skipped when it cannot hold a point
    // nearer than the best so far; equal distances keep the earlier answer.
    int ownColumn = -1;
    int ownRow = -1;
    m_index.CellOf(qx, qy, ownColumn, ownRow);
    const bool ownInside = ownRow >= 0 && ownColumn >= 0 && ownRow < rows && ownColumn < cols;
    if (ownInside) searchCell(ownRow, ownColumn);
    const int r0 = static_cast<int>(firstRow);
    const int r1 = static_cast<int>(lastRow);
    const int c0 = static_cast<int>(firstCol);
    const int c1 = static_cast<int>(lastCol);
    for (int row = r0; row <= r1; ++row) {
        const double rowGap = gap(qy, m_index.m_dMinY, row);
        if (!(rowGap < bestDistance)) continue;
        for (int column = c0; column <= c1; ++column) {
            if (ownInside && row == ownRow && column == ownColumn) continue;
            if (rowGap + gap(qx, m_index.m_dMinX, column) < bestDistance) searchCell(row, column);
        }
    }
    return best;
}

int CTINPoints::FindNeighbour(int index, int direction) const {
    if (!m_index.HasCells()) return -1;
    if (index < 0 || index >= m_nCount) return -2;
    const TINPoint& current = m_pPoints[static_cast<size_t>(index)];
    const double px = current.x;
    const double py = current.y;
    int column = 0;
    int row = 0;
    m_index.CellOf(px, py, column, row);
    if (row < 0 || column < 0 || row >= m_index.m_nRows || column >= m_index.m_nCols) return -2;
    if (direction < 0 || direction > 3) return -3;

    const double tolerance = direction < 2 ? m_dSpacingX : m_dSpacingY;
    for (;;) {
        int best = -1;
        double bestScore = std::numeric_limits<double>::max();
        for (const int32_t k : m_index.CellKeys(row, column)) {
            if (k < 0 || k >= m_nCount) continue;
            const TINPoint& q = m_pPoints[static_cast<size_t>(k)];
            if (q.id < 0) continue;
            const double qx = q.x;
            const double qy = q.y;
            double along = 0.0;
            double across = 0.0;
            switch (direction) {
                case 0:
                    along = px - qx;
                    across = qy - py;
                    break;
                case 1:
                    along = qx - px;
                    across = qy - py;
                    break;
                case 2:
                    along = py - qy;
                    across = qx - px;
                    break;
                default:
                    along = qy - py;
                    across = qx - px;
                    break;
            }
            if (!(along > 0.0) || !(std::fabs(across) < tolerance)) continue;
            const double score = along + std::fabs(across) / 2.0;
            if (score < bestScore) {
                bestScore = score;
                best = k;
            }
        }
        if (best >= 0) return best;
        switch (direction) {
            case 0:
                --column;
                break;
            case 1:
                ++column;
                break;
            case 2:
                --row;
                break;
            default:
                ++row;
                break;
        }
        if (row < 0 || column < 0 || row >= m_index.m_nRows || column >= m_index.m_nCols) {
            return -4;
        }
    }
}

int CTINPoints::SelectInShape(const SelectionShape& shape, std::vector<int>& ids) const {
    std::vector<int> candidates;
    if (shape.kind == 0) {
        if (shape.coords.size() < 4) return 1;
        int left = 0;
        int top = 0;
        int right = 0;
        int bottom = 0;
        if (!TruncClamped(shape.coords[0], left) || !TruncClamped(shape.coords[1], top) ||
            !TruncClamped(shape.coords[2], right) || !TruncClamped(shape.coords[3], bottom)) {
            return 1;  // a corner that is not a number encloses nothing
        }
        if (left > right) std::swap(left, right);
        if (top > bottom) std::swap(top, bottom);
        m_index.QueryRect(left, top, right, bottom, candidates);
        for (const int k : candidates) {
            if (k < 0 || k >= m_nCount) continue;
            const TINPoint& p = m_pPoints[static_cast<size_t>(k)];
            // Truncated toward zero, compared in double so that no huge
            // coordinate is forced into an int.
            const double x = std::trunc(p.x);
            const double y = std::trunc(p.y);
            if (left <= x && x < right && top <= y && y < bottom) ids.push_back(p.id);
        }
        return 1;
    }
    if (shape.kind == 1) {
        const int count =
            static_cast<int>(std::min<int64_t>(shape.count, int64_t(shape.coords.size() / 2)));
        if (count < 4) return -1;
        std::vector<PointXY> vertices(static_cast<size_t>(count));
        double minX = shape.coords[0];
        double maxX = minX;
        double minY = shape.coords[1];
        double maxY = minY;
        for (int i = 0; i < count; ++i) {
            const PointXY v{shape.coords[2 * size_t(i)], shape.coords[2 * size_t(i) + 1]};
            vertices[static_cast<size_t>(i)] = v;
            minX = std::min(minX, v.x);
            maxX = std::max(maxX, v.x);
            minY = std::min(minY, v.y);
            maxY = std::max(maxY, v.y);
        }
        // Candidates: the cells under the polygon's bounding box rounded
        // outwards to whole units (truncating it would lose the cells holding
        // points within one unit of its right or lower edge).
        int left = 0;
        int top = 0;
        int right = 0;
        int bottom = 0;
        if (!TruncClamped(std::floor(minX), left) || !TruncClamped(std::floor(minY), top) ||
            !TruncClamped(std::ceil(maxX), right) || !TruncClamped(std::ceil(maxY), bottom)) {
            return 1;  // a vertex that is not a number encloses nothing
        }
        m_index.QueryRect(left, top, right, bottom, candidates);
        if (candidates.empty()) return 1;
        for (const int k : candidates) {
            if (k < 0 || k >= m_nCount) continue;
            const TINPoint& p = m_pPoints[static_cast<size_t>(k)];
            const PointXY position{p.x, p.y};
            if (InsidePolygon(position, vertices.data(), count)) ids.push_back(p.id);
        }
        return 1;
    }
    return 1;
}

void CTINPoints::Swap(CTINPoints& other) noexcept {
    using std::swap;
    swap(m_dMinX, other.m_dMinX);
    swap(m_dMaxY, other.m_dMaxY);
    swap(m_dMaxX, other.m_dMaxX);
    swap(m_dMinY, other.m_dMinY);
    swap(m_dMinZ, other.m_dMinZ);
    swap(m_dMaxZ, other.m_dMaxZ);
    swap(m_nCount, other.m_nCount);
    swap(m_nCapacity, other.m_nCapacity);
    swap(m_dSpacingX, other.m_dSpacingX);
    swap(m_dSpacingY, other.m_dSpacingY);
    swap(m_pPoints, other.m_pPoints);
    m_index.Swap(other.m_index);
    swap(m_nPointsPerCell, other.m_nPointsPerCell);
}
