// ASPRS LAS: writing LAS 1.4 with point data record format 6 and an extra
// byte "weight"; reading LAS 1.0 to 1.4, point formats 0 to 10, uncompressed.
//
// Layout (all little-endian): the public header block (227 bytes in 1.0 to
// 1.2, 235 in 1.3, 375 in 1.4), the variable length records (54-byte header
// each), the point records from "offset to point data" on, each "point data
// record length" bytes, every format starting with int32 X, Y, Z (ground
// coordinate = integer x scale + offset).
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <ctime>
#include <limits>
#include <new>
#include <vector>

#include "Platform/FileHandle.h"
#include "PointIO/PointIOCommon.h"

using namespace pointio;

namespace {

// Public header block offsets.
constexpr int kHeaderSize14 = 375;
constexpr int kOffVersionMajor = 24, kOffVersionMinor = 25, kOffSystem = 26, kOffSoftware = 58;
constexpr int kOffDay = 90, kOffYear = 92, kOffHeaderSize = 94, kOffPointData = 96;
constexpr int kOffVlrCount = 100, kOffFormat = 104, kOffRecordLength = 105;
constexpr int kOffLegacyCount = 107, kOffLegacyByReturn = 111, kOffScale = 131, kOffOffset = 155;
constexpr int kOffMaxX = 179, kOffCount64 = 247, kOffByReturn64 = 255;
constexpr int kVlrHeader = 54, kExtraBytesDescriptor = 192;

// Smallest record length of each point data record format 0 .. 10.
constexpr int kFormatSize[11] = {20, 28, 26, 34, 57, 63, 30, 36, 38, 59, 67};

// Written files: scale and record.
constexpr double kScale = 0.001;
constexpr int kFormat6Size = 30;
constexpr int kRecordLength = kFormat6Size + 8;  // the weight as float64
constexpr int kPointData = kHeaderSize14 + kVlrHeader + kExtraBytesDescriptor;

constexpr double kInverseScale = 1000.0;

// Round half away from zero of (v - offset) / scale, as a 64-bit integer
// (multiplied by the exact inverse 1000 rather than divided by 0.001, which
// is not exact in binary; the result differs at most at exact halves).
inline int64_t Quantise(double v, double offset) {
    const double t = (v - offset) * kInverseScale;
    return static_cast<int64_t>(t + std::copysign(0.5, t));  // no branch on the sign
}

bool FitsInt32(double v, double offset) {
    const double t = (v - offset) * kInverseScale;
    return std::fabs(t) < 2.0e9 && Quantise(v, offset) >= INT32_MIN &&
           Quantise(v, offset) <= INT32_MAX;
}

// Offset for one axis: the middle of the bounds in whole units, or exactly
// the middle when rounding would push an end out of range.
bool ChooseOffset(double lo, double hi, double* offset) {
    const double mid = 0.5 * lo + 0.5 * hi;
    for (double o : {std::round(mid), mid}) {
        if (FitsInt32(lo, o) && FitsInt32(hi, o)) {
            *offset = o;
            return true;
        }
    }
    return false;
}

void PutText(unsigned char* p, const char* text, size_t width) {
    std::memset(p, 0, width);
    std::memcpy(p, text, std::min(width, std::strlen(text)));
}

// Bytes one extra-bytes field takes for its data type (0: `options` bytes
// of undocumented data; 11-30: the deprecated tuples of types 1-10); 0 for unknown.
int ExtraBytesSize(int type, int options) {
    static const int kSize[11] = {0, 1, 1, 2, 2, 4, 4, 8, 8, 4, 8};
    if (type == 0) return options;
    if (type <= 10) return kSize[type];
    if (type <= 20) return 2 * kSize[type - 10];
    if (type <= 30) return 3 * kSize[type - 20];
    return 0;
}

double ExtraBytesValue(int type, const unsigned char* p) {
    switch (type) {
        case 1:
            return Load<uint8_t>(p);
        case 2:
            return Load<int8_t>(p);
        case 3:
            return Load<uint16_t>(p);
        case 4:
            return Load<int16_t>(p);
        case 5:
            return Load<uint32_t>(p);
        case 6:
            return Load<int32_t>(p);
        case 7:
            return static_cast<double>(Load<uint64_t>(p));
        case 8:
            return static_cast<double>(Load<int64_t>(p));
        case 9:
            return Load<float>(p);
        default:
            return Load<double>(p);
    }
}

// Where a file keeps the weight of each point, when it does.
struct WeightField {
    bool present = false;
    int offset = 0;  // within the record
    int type = 10;
    double scale = 1.0, add = 0.0;
};

std::string At(int64_t byte) {
    return "byte " + std::to_string(byte) + ": ";
}

// Public header block of a written file (LAS 1.4), with the Extra Bytes VLR
// describing the weight; bounds and counts are filled in after the records.
void MakeHeader(unsigned char* head, const double offset[3]) {
    std::memset(head, 0, kPointData);
    std::memcpy(head, "LASF", 4);
    // Global encoding: GPS time is standard GPS time (bit 0); the coordinate
    // reference system, when one is added, is WKT (bit 4, required for format 6).
    Store<uint16_t>(head + 6, 0x0011);
    head[kOffVersionMajor] = 1;
    head[kOffVersionMinor] = 4;
    PutText(head + kOffSystem, "OTHER", 32);
    PutText(head + kOffSoftware, "Orvane", 32);
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    Store<uint16_t>(head + kOffDay, static_cast<uint16_t>(utc.tm_yday + 1));
    Store<uint16_t>(head + kOffYear, static_cast<uint16_t>(utc.tm_year + 1900));
    Store<uint16_t>(head + kOffHeaderSize, kHeaderSize14);
    Store<uint32_t>(head + kOffPointData, kPointData);
    Store<uint32_t>(head + kOffVlrCount, 1);
    head[kOffFormat] = 6;
    Store<uint16_t>(head + kOffRecordLength, kRecordLength);
    // Legacy counts stay zero: formats 6 to 10 keep their counts in the 64-bit fields.
    for (int a = 0; a < 3; ++a) {
        Store<double>(head + kOffScale + 8 * a, kScale);
        Store<double>(head + kOffOffset + 8 * a, offset[a]);
    }

    // Extra Bytes VLR with one descriptor: "weight", float64.
    unsigned char* vlr = head + kHeaderSize14;
    PutText(vlr + 2, "LASF_Spec", 16);
    Store<uint16_t>(vlr + 18, 4);
    Store<uint16_t>(vlr + 20, kExtraBytesDescriptor);
    PutText(vlr + 22, "Extra Bytes", 32);
    unsigned char* eb = vlr + kVlrHeader;
    eb[2] = 10;  // double
    eb[3] = 0;   // no no_data, min, max, scale or offset
    PutText(eb + 4, "weight", 32);
    PutText(eb + 160, "matching confidence", 32);
}

// What one pass over the live points wrote.
struct RecordPass {
    int64_t n = 0;
    int64_t qlo[3] = {INT64_MAX, INT64_MAX, INT64_MAX};  // stored integers, smallest
    int64_t qhi[3] = {INT64_MIN, INT64_MIN, INT64_MIN};  // and largest
    bool written = true;
    bool Fits() const {
        for (int a = 0; a < 3; ++a)
            if (n > 0 && (qlo[a] < INT32_MIN || qhi[a] > INT32_MAX)) return false;
        return true;
    }
};

// Writes the point records, format 6 plus the weight: X, Y, Z, intensity 0,
// return 1 of 1, no flags, class 2 (ground), user data 0, scan angle 0, point
// source 0, GPS time 0, weight. A coordinate that does not fit (or is not a
// number) shows in the pass's integer range; the caller writes again then.
RecordPass WriteRecords(FILE* file, const CTINPoints& points, const double offset[3]) {
    constexpr int kChunk = 8192;
    std::vector<unsigned char> buffer(static_cast<size_t>(kChunk) * kRecordLength, 0);
    for (int k = 0; k < kChunk; ++k) {
        unsigned char* r = buffer.data() + static_cast<size_t>(k) * kRecordLength;
        r[14] = 0x11;
        r[16] = 2;
    }
    RecordPass pass;
    int used = 0;
    ForEachLive(points, [&](const TINPoint& p) {
        if (!pass.written) return;
        unsigned char* r = buffer.data() + static_cast<size_t>(used) * kRecordLength;
        const double v[3] = {p.x, p.y, p.z};
        for (int a = 0; a < 3; ++a) {
            // Clamped first (NaN too) so that the conversion is always defined.
            const double t = std::min(3.0e9, std::max(-3.0e9, (v[a] - offset[a]) * kInverseScale));
            const int64_t q = static_cast<int64_t>(t + std::copysign(0.5, t));
            pass.qlo[a] = std::min(pass.qlo[a], q);
            pass.qhi[a] = std::max(pass.qhi[a], q);
            Store<int32_t>(r + 4 * a, static_cast<int32_t>(q));
        }
        Store<double>(r + kFormat6Size, p.weight);
        ++pass.n;
        if (++used == kChunk) {
            pass.written = std::fwrite(buffer.data(), kRecordLength, kChunk, file) == kChunk;
            used = 0;
        }
    });
    if (pass.written && used > 0)
        pass.written = std::fwrite(buffer.data(), kRecordLength, static_cast<size_t>(used), file) ==
                       static_cast<size_t>(used);
    return pass;
}

// Offsets from the true bounds of the live points. 1; kPointsOutOfRange
// (shown) for a coordinate that is not a number or points too far apart.
int OffsetsFromPoints(const std::string& path, const CTINPoints& points, double offset[3]) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    double lo[3] = {kInf, kInf, kInf}, hi[3] = {-kInf, -kInf, -kInf};
    int bad = -1;
    ForEachLive(points, [&](const TINPoint& p) {
        const double v[3] = {p.x, p.y, p.z};
        for (int a = 0; a < 3; ++a) {
            if (bad < 0 && !std::isfinite(v[a])) bad = p.id;
            lo[a] = std::min(lo[a], v[a]);
            hi[a] = std::max(hi[a], v[a]);
        }
    });
    if (bad >= 0)
        return WriteError(path,
                          "point " + std::to_string(bad) + " has a coordinate that is not a number",
                          kPointsOutOfRange);
    for (int a = 0; a < 3; ++a) {
        if (!ChooseOffset(lo[a], hi[a], &offset[a])) {
            return WriteError(path,
                              std::string("the points span too far in ") + "XYZ"[a] +
                                  " for LAS coordinates at 0.001 (4000000 units at most)",
                              kPointsOutOfRange);
        }
    }
    return 1;
}

// Writes the header, the records and then the bounds and counts of the
// stored coordinates into `file`, with offsets from `offset` or, when a
// point does not fit them, from the points (a second pass). 1 with the
// number of records in *written, or a PointIOResult (shown).
int WriteLasFile(const std::string& path, FILE* file, const CTINPoints& points, double offset[3],
                 int64_t* written) {
    unsigned char head[kPointData];
    RecordPass pass;
    for (int attempt = 0; attempt < 2; ++attempt) {
        MakeHeader(head, offset);
        errno = 0;
        if (std::fseek(file, 0, SEEK_SET) != 0 ||
            std::fwrite(head, 1, sizeof head, file) != sizeof head)
            return WriteFailed(path);
        pass = WriteRecords(file, points, offset);
        if (!pass.written) return WriteFailed(path);
        if (pass.Fits() || attempt == 1) break;
        const int rc = OffsetsFromPoints(path, points, offset);
        if (rc != 1) return rc;
    }
    if (pass.n == 0) return WriteError(path, "there are no points", kPointsNone);
    if (!pass.Fits()) return WriteError(path, "coordinates out of range", kPointsOutOfRange);

    // Bounds of the stored coordinates, and the counts (all points are return 1).
    unsigned char bounds[48];
    for (int a = 0; a < 3; ++a) {
        Store<double>(bounds + 16 * a, static_cast<double>(pass.qhi[a]) * kScale + offset[a]);
        Store<double>(bounds + 16 * a + 8, static_cast<double>(pass.qlo[a]) * kScale + offset[a]);
    }
    unsigned char counts[16];
    Store<uint64_t>(counts, static_cast<uint64_t>(pass.n));      // number of point records
    Store<uint64_t>(counts + 8, static_cast<uint64_t>(pass.n));  // points by return: return 1
    if (std::fseek(file, kOffMaxX, SEEK_SET) != 0 ||
        std::fwrite(bounds, 1, sizeof bounds, file) != sizeof bounds ||
        std::fseek(file, kOffCount64, SEEK_SET) != 0 ||
        std::fwrite(counts, 1, sizeof counts, file) != sizeof counts)
        return WriteFailed(path);
    *written = pass.n;
    return 1;
}

}  // namespace

int WriteLas(const std::string& path, const CTINPoints& points) {
    if (points.GetCount() < 1) return WriteError(path, "there are no points", kPointsNone);
    // Offsets from the middle of the set's own bounds, which normally hold
    // every point: the file is then written in one pass. When a point does
    // not fit those offsets (bounds out of date after edits, or never set),
    // the offsets come from the points themselves and the file is written again.
    double offset[3];
    const bool guessed = ChooseOffset(points.m_dMinX, points.m_dMaxX, &offset[0]) &&
                         ChooseOffset(points.m_dMinY, points.m_dMaxY, &offset[1]) &&
                         ChooseOffset(points.m_dMinZ, points.m_dMaxZ, &offset[2]);
    if (!guessed) {
        const int rc = OffsetsFromPoints(path, points, offset);
        if (rc != 1) return rc;
    }

    int64_t written = 0;
    const int rc = SaveAtomically(
        path, [&](FILE* file) { return WriteLasFile(path, file, points, offset, &written); });
    return rc == 1 ? static_cast<int>(written) : rc;
}

int ReadLas(const std::string& path, CTINPoints& points) {
    Platform::FilePtr file = Platform::OpenRegularFile(path, "rb");
    if (!file) return ReadError(path, OpenFailure(path), kPointsCannotOpen);
    const int64_t size = FileSize(file.get());
    if (size < 0) return ReadError(path, "not a regular file", kPointsCannotOpen);

    unsigned char head[kHeaderSize14] = {};
    const size_t got = std::fread(head, 1, sizeof head, file.get());
    if (got < 4 || std::memcmp(head, "LASF", 4) != 0)
        return ReadError(path, At(0) + "not a LAS file (no \"LASF\" signature)", kPointsBadFormat);
    if (got < 227)
        return ReadError(path, At(static_cast<int64_t>(got)) + "the file ends inside the header",
                         kPointsTruncated);
    const int major = head[kOffVersionMajor], minor = head[kOffVersionMinor];
    if (major != 1 || minor > 4) {
        return ReadError(path,
                         At(kOffVersionMajor) + "LAS version " + std::to_string(major) + "." +
                             std::to_string(minor) + " is not supported (1.0 to 1.4)",
                         kPointsBadFormat);
    }
    const int headerSize = Load<uint16_t>(head + kOffHeaderSize);
    const int minHeader = minor <= 2 ? 227 : minor == 3 ? 235 : kHeaderSize14;
    if (headerSize < minHeader) {
        return ReadError(path,
                         At(kOffHeaderSize) + "header size " + std::to_string(headerSize) +
                             " is below " + std::to_string(minHeader) + " for LAS 1." +
                             std::to_string(minor),
                         kPointsBadFormat);
    }
    if (static_cast<int64_t>(got) < std::min(headerSize, kHeaderSize14))
        return ReadError(path, At(static_cast<int64_t>(got)) + "the file ends inside the header",
                         kPointsTruncated);

    const int formatByte = head[kOffFormat];
    if (formatByte & 0xC0) {
        return ReadError(
            path,
            At(kOffFormat) + "the points are compressed (LAZ); decompress the file to LAS first",
            kPointsCompressed);
    }
    const int format = formatByte;
    if (format > 10) {
        return ReadError(path,
                         At(kOffFormat) + "point data record format " + std::to_string(format) +
                             " is not supported (0 to 10)",
                         kPointsBadFormat);
    }
    const int recordLength = Load<uint16_t>(head + kOffRecordLength);
    if (recordLength < kFormatSize[format]) {
        return ReadError(path,
                         At(kOffRecordLength) + "point record length " +
                             std::to_string(recordLength) + " is below " +
                             std::to_string(kFormatSize[format]) + " for point format " +
                             std::to_string(format),
                         kPointsBadFormat);
    }
    const int64_t pointData = Load<uint32_t>(head + kOffPointData);
    if (pointData < headerSize) {
        return ReadError(path, At(kOffPointData) + "the point data would start inside the header",
                         kPointsBadFormat);
    }
    uint64_t count = Load<uint32_t>(head + kOffLegacyCount);
    if (minor >= 4) {
        const uint64_t count64 = Load<uint64_t>(head + kOffCount64);
        if (count64 != 0) count = count64;
    }
    double scale[3], offset[3];
    for (int a = 0; a < 3; ++a) {
        scale[a] = Load<double>(head + kOffScale + 8 * a);
        offset[a] = Load<double>(head + kOffOffset + 8 * a);
        if (!std::isfinite(scale[a]) || scale[a] == 0.0 || !std::isfinite(offset[a])) {
            return ReadError(path, At(kOffScale + 8 * a) + "scale or offset is not a usable number",
                             kPointsBadFormat);
        }
    }
    if (count == 0) return ReadError(path, "the file holds no points", kPointsNone);
    const uint64_t available = size > pointData ? static_cast<uint64_t>(size - pointData) : 0;
    if (count > available / static_cast<uint64_t>(recordLength)) {
        return ReadError(path,
                         "the file ends at byte " + std::to_string(size) +
                             ", but its header gives " + std::to_string(count) + " points of " +
                             std::to_string(recordLength) + " bytes from byte " +
                             std::to_string(pointData),
                         kPointsTruncated);
    }
    if (count > static_cast<uint64_t>(INT_MAX)) {
        return ReadError(path, "more than " + std::to_string(INT_MAX) + " points",
                         kPointsOutOfRange);
    }

    // Variable length records: an Extra Bytes record may describe the weight.
    WeightField weight;
    const uint32_t nVlr = Load<uint32_t>(head + kOffVlrCount);
    int64_t pos = headerSize;
    for (uint32_t v = 0; v < nVlr; ++v) {
        unsigned char vh[kVlrHeader];
        if (pos + kVlrHeader > pointData || std::fseek(file.get(), pos, SEEK_SET) != 0 ||
            std::fread(vh, 1, sizeof vh, file.get()) != sizeof vh) {
            return ReadError(path,
                             At(pos) + "variable length record " + std::to_string(v + 1) + " of " +
                                 std::to_string(nVlr) + " runs into the point data",
                             kPointsBadFormat);
        }
        const int64_t length = Load<uint16_t>(vh + 20);
        if (pos + kVlrHeader + length > pointData) {
            return ReadError(path,
                             At(pos) + "variable length record " + std::to_string(v + 1) +
                                 " runs into the point data",
                             kPointsBadFormat);
        }
        char user[17] = {};
        std::memcpy(user, vh + 2, 16);
        if (std::strcmp(user, "LASF_Spec") == 0 && Load<uint16_t>(vh + 18) == 4) {
            std::vector<unsigned char> d(static_cast<size_t>(length));
            if (length > 0 && std::fread(d.data(), 1, d.size(), file.get()) != d.size())
                return ReadError(path, At(pos + kVlrHeader) + "cannot read the extra bytes",
                                 kPointsTruncated);
            int field = kFormatSize[format];
            for (int64_t k = 0; k + kExtraBytesDescriptor <= length; k += kExtraBytesDescriptor) {
                const unsigned char* e = d.data() + k;
                const int type = e[2], options = e[3];
                char name[33] = {};
                std::memcpy(name, e + 4, 32);
                const int bytes = ExtraBytesSize(type, options);
                // A field of a type this reader does not know has no known
                // size: the fields after it cannot be found.
                if (bytes == 0 && type != 0) break;
                if (std::strcmp(name, "weight") == 0 && type >= 1 && type <= 10 &&
                    field + bytes <= recordLength) {
                    weight.present = true;
                    weight.offset = field;
                    weight.type = type;
                    if (options & 0x08) weight.scale = Load<double>(e + 112);
                    if (options & 0x10) weight.add = Load<double>(e + 136);
                }
                field += bytes;
            }
        }
        pos += kVlrHeader + length;
    }

    const int n = static_cast<int>(count);
    CTINPoints set;
    if (!MakeSet(n, set)) return ReadError(path, "out of memory", kPointsNoMemory);
    if (std::fseek(file.get(), pointData, SEEK_SET) != 0)
        return ReadError(path, At(pointData) + "cannot reach the point data", kPointsTruncated);
    constexpr int kChunk = 16384;
    std::vector<unsigned char> buffer;
    try {
        buffer.resize(static_cast<size_t>(std::min(n, kChunk)) * recordLength);
    } catch (const std::bad_alloc&) {
        return ReadError(path, "out of memory", kPointsNoMemory);
    }
    for (int first = 0; first < n; first += kChunk) {
        const int m = std::min(kChunk, n - first);
        const size_t read =
            std::fread(buffer.data(), recordLength, static_cast<size_t>(m), file.get());
        if (read != static_cast<size_t>(m)) {
            const int64_t end =
                pointData +
                (static_cast<int64_t>(first) + static_cast<int64_t>(read)) * recordLength;
            return ReadError(path,
                             At(end) + "the file ends inside point " +
                                 std::to_string(first + static_cast<int64_t>(read) + 1),
                             kPointsTruncated);
        }
        for (int k = 0; k < m; ++k) {
            const unsigned char* r = buffer.data() + static_cast<size_t>(k) * recordLength;
            TINPoint& p = set.m_pPoints[static_cast<size_t>(first + k)];
            p.x = Load<int32_t>(r) * scale[0] + offset[0];
            p.y = Load<int32_t>(r + 4) * scale[1] + offset[1];
            p.z = Load<int32_t>(r + 8) * scale[2] + offset[2];
            if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
                const int64_t at = pointData + (static_cast<int64_t>(first) + k) * recordLength;
                return ReadError(path,
                                 At(at) + "point " + std::to_string(first + k + 1) +
                                     ": the scaled coordinates are not finite numbers",
                                 kPointsOutOfRange);
            }
            if (weight.present)
                p.weight =
                    ExtraBytesValue(weight.type, r + weight.offset) * weight.scale + weight.add;
        }
    }
    return FinishImportedSet(path, set, points);
}
