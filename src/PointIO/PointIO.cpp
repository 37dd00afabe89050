// Choosing the point file format by extension, points-file import and
// export through the common paths, and the points header of imported sets.
#include "PointIO/PointIO.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "Platform/AtomicFile.h"
#include "Platform/FileHandle.h"
#include "Platform/Platform.h"
#include "PointIO/PointIOCommon.h"

namespace pointio {

int ReadError(const std::string& path, const std::string& reason, int result) {
    Platform::ShowMessage("Cannot read points file " + path + ": " + reason,
                          Platform::MessageKind::Exclamation);
    return result;
}

int WriteError(const std::string& path, const std::string& reason, int result) {
    Platform::ShowMessage("Cannot write points file " + path + ": " + reason,
                          Platform::MessageKind::Exclamation);
    return result;
}

std::string OpenFailure(const std::string& path) {
    const int error = errno;
    const std::string what = Platform::NotARegularFile(path);
    return what.empty() ? std::strerror(error ? error : EIO) : what;
}

int WriteFailed(const std::string& path) {
    return WriteError(path, std::strerror(errno ? errno : EIO), kPointsWriteFailed);
}

int SaveAtomically(const std::string& path, const std::function<int(FILE*)>& write) {
    int written = 1;
    Platform::SaveFailure failure;
    // An export can be made again from the project: it is not synced, which
    // for a large set costs several times the writing itself.
    const int rc = Platform::SaveFileAtomically(
        path,
        [&](FILE* file) {
            written = write(file);
            return written == 1;
        },
        &failure, Platform::SaveDurability::Unsynced);
    if (rc == 1) return 1;
    if (rc == Platform::kSaveOpenError)
        return WriteError(path, std::strerror(failure.error), kPointsCannotOpen);
    if (written != 1) return written;
    return WriteError(path, std::strerror(failure.error ? failure.error : EIO),
                      failure.replacing ? kPointsRenameFailed : kPointsWriteFailed);
}

int64_t CountLive(const CTINPoints& points) {
    int64_t n = 0;
    ForEachLive(points, [&](const TINPoint&) { ++n; });
    return n;
}

bool MakeSet(int n, CTINPoints& out) {
    CTINPoints set(n);
    if (set.GetCount() != n) return false;
    for (int i = 0; i < n; ++i) {
        TINPoint& p = set.m_pPoints[static_cast<size_t>(i)];
        p = TINPoint{i, 0.0, 0.0, 0.0, 1.0};
    }
    out.Swap(set);
    return true;
}

int FinishImportedSet(const std::string& path, CTINPoints& set, CTINPoints& points) {
    if (!DerivePointsHeader(set))
        return ReadError(path, "the points lie too far apart to be indexed", kPointsOutOfRange);
    points.Swap(set);
    return 1;
}

int64_t FileSize(FILE* file) {
    struct stat st;
    if (fstat(fileno(file), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<int64_t>(st.st_size);
}

}  // namespace pointio

using namespace pointio;

namespace {

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The .pts export: the live records, the set's bounds and spacing.
int WritePtsLive(const std::string& path, const CTINPoints& points) {
    const int64_t n = CountLive(points);
    if (n == 0) return WriteError(path, "there are no points", kPointsNone);
    CTINPoints live(static_cast<int>(n));
    if (live.GetCount() != n) return WriteError(path, "out of memory", kPointsNoMemory);
    int k = 0;
    ForEachLive(points, [&](const TINPoint& p) { live.m_pPoints[static_cast<size_t>(k++)] = p; });
    live.m_dMinX = points.m_dMinX;
    live.m_dMaxY = points.m_dMaxY;
    live.m_dMaxX = points.m_dMaxX;
    live.m_dMinY = points.m_dMinY;
    live.SetSpacing(points.m_dSpacingX, points.m_dSpacingY);

    const int rc = SaveAtomically(path, [&](FILE* file) {
        errno = 0;
        return live.WritePts(file) == n ? 1 : WriteFailed(path);
    });
    return rc == 1 ? static_cast<int>(n) : rc;
}

int ReadPtsFile(const std::string& path, CTINPoints& points) {
    Platform::FilePtr file = Platform::OpenRegularFile(path, "rb");
    if (!file) return ReadError(path, OpenFailure(path), kPointsCannotOpen);
    CTINPoints set;
    const int read = set.ReadPts(file.get());
    if (read < 0) {
        const int code = read == -1                 ? kPointsNone
                         : read == -2               ? kPointsBadFormat
                         : read == -3 || read == -4 ? kPointsNoMemory
                         : read == -6               ? kPointsOutOfRange
                                                    : kPointsTruncated;
        return ReadError(path, CTINPoints::ReadPtsFailure(read), code);
    }
    points.Swap(set);
    return 1;
}

}  // namespace

PointFileType PointFileTypeOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return PointFileType::Unknown;
    const std::string ext = Lower(path.substr(dot + 1));
    if (ext == "pts") return PointFileType::Pts;
    if (ext == "las") return PointFileType::Las;
    if (ext == "laz") return PointFileType::Laz;
    if (ext == "xyz") return PointFileType::Xyz;
    return PointFileType::Unknown;
}

int ExportPoints(const std::string& path, const CTINPoints& points) {
    switch (PointFileTypeOf(path)) {
        case PointFileType::Pts:
            return WritePtsLive(path, points);
        case PointFileType::Las:
            return WriteLas(path, points);
        case PointFileType::Xyz:
            return WriteXyz(path, points);
        case PointFileType::Laz:
            return WriteError(path, "compressed LAS (LAZ) is not written; use .las",
                              kPointsCompressed);
        default:
            return WriteError(path, "unknown file type (use .pts, .las or .xyz)",
                              kPointsUnknownType);
    }
}

int ImportPoints(const std::string& path, CTINPoints& points) {
    switch (PointFileTypeOf(path)) {
        case PointFileType::Pts:
            return ReadPtsFile(path, points);
        case PointFileType::Las:
            return ReadLas(path, points);
        case PointFileType::Xyz:
            return ReadXyz(path, points);
        case PointFileType::Laz:
            return ReadError(path, "compressed LAS (LAZ) is not supported; decompress it to .las",
                             kPointsCompressed);
        default:
            return ReadError(path, "unknown file type (use .pts, .las or .xyz)",
                             kPointsUnknownType);
    }
}

bool DerivePointsHeader(CTINPoints& points) {
    const int n = points.GetCount();
    if (n < 1) return false;
    const TINPoint* p = points.GetPoint(0);
    double minX = p->x, maxX = p->x, minY = p->y, maxY = p->y, minZ = p->z, maxZ = p->z;
    for (int i = 1; i < n; ++i) {
        p = points.GetPoint(i);
        const double x = p->x, y = p->y, z = p->z;  // packed fields, read by value
        minX = std::min(minX, x);
        maxX = std::max(maxX, x);
        minY = std::min(minY, y);
        maxY = std::max(maxY, y);
        minZ = std::min(minZ, z);
        maxZ = std::max(maxZ, z);
    }
    // Grid step s with N = (w / s + 1)(h / s + 1): (N - 1) s^2 - (w + h) s - w h = 0.
    const double w = maxX - minX, h = maxY - minY;
    double s = 0.0;
    if (n > 1) {
        const double b = w + h;
        s = (b + std::sqrt(b * b + 4.0 * (n - 1) * w * h)) / (2.0 * (n - 1));
    }
    if (!(s > 0.0) || !std::isfinite(s)) s = 1.0;
    WidenDegenerateRange(minX, maxX, 0.5 * s);
    WidenDegenerateRange(minY, maxY, 0.5 * s);
    points.m_dMinX = minX;
    points.m_dMaxX = maxX;
    points.m_dMinY = minY;
    points.m_dMaxY = maxY;
    points.m_dMinZ = minZ;
    points.m_dMaxZ = maxZ;
    points.SetSpacing(s, s);
    return std::isfinite(maxX - minX) && std::isfinite(maxY - minY) && std::isfinite(minZ) &&
           std::isfinite(maxZ);
}
