// Point sets through LAS and XYZ files. LAS files are checked and produced
// by a small reader and writer written here, independently of the library,
// from the ASPRS LAS 1.4 (R15) document: public header block, variable length
// records, Extra Bytes descriptors and the point data record formats 0 to 10.
#include "PointIO/PointIO.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "Platform/Platform.h"
#include "testing/PlatformTestSupport.h"

namespace fs = std::filesystem;

namespace {

using platformtest::FileSizeLimit;
using platformtest::Slurp;
using platformtest::Spit;
using platformtest::TempDir;

// ---------------------------------------------------------------------------
// Test LAS reader and writer (from the ASPRS document).

template <typename T>
T Get(const std::vector<unsigned char>& b, size_t off) {
    T v;
    std::memcpy(&v, b.data() + off, sizeof v);
    return v;
}

template <typename T>
void Put(std::vector<unsigned char>& b, size_t off, T v) {
    std::memcpy(b.data() + off, &v, sizeof v);
}

struct LasVlr {
    std::string userId;
    uint16_t recordId = 0;
    std::vector<unsigned char> payload;
};

struct LasFile {
    std::string signature;
    uint16_t globalEncoding = 0;
    int major = 0, minor = 0;
    uint16_t headerSize = 0;
    uint32_t offsetToPoints = 0;
    uint32_t vlrCount = 0;
    int format = 0;
    uint16_t recordLength = 0;
    uint32_t legacyCount = 0;
    uint32_t legacyByReturn[5] = {};
    double scale[3] = {}, offset[3] = {}, max[3] = {}, min[3] = {};
    uint64_t count = 0;
    uint64_t byReturn[15] = {};
    std::vector<LasVlr> vlrs;
    std::vector<std::vector<unsigned char>> records;
};

LasFile ParseLas(const std::string& path) {
    const std::vector<unsigned char> b = Slurp(path);
    LasFile f;
    if (b.size() < 227) return f;
    f.signature.assign(reinterpret_cast<const char*>(b.data()), 4);
    f.globalEncoding = Get<uint16_t>(b, 6);
    f.major = b[24];
    f.minor = b[25];
    f.headerSize = Get<uint16_t>(b, 94);
    f.offsetToPoints = Get<uint32_t>(b, 96);
    f.vlrCount = Get<uint32_t>(b, 100);
    f.format = b[104];
    f.recordLength = Get<uint16_t>(b, 105);
    f.legacyCount = Get<uint32_t>(b, 107);
    for (int i = 0; i < 5; ++i) f.legacyByReturn[i] = Get<uint32_t>(b, 111 + 4 * i);
    for (int a = 0; a < 3; ++a) {
        f.scale[a] = Get<double>(b, 131 + 8 * a);
        f.offset[a] = Get<double>(b, 155 + 8 * a);
        f.max[a] = Get<double>(b, 179 + 16 * a);
        f.min[a] = Get<double>(b, 187 + 16 * a);
    }
    f.count = f.legacyCount;
    if (f.minor >= 4 && f.headerSize >= 375) {
        f.count = Get<uint64_t>(b, 247);
        for (int i = 0; i < 15; ++i) f.byReturn[i] = Get<uint64_t>(b, 255 + 8 * i);
    }
    size_t pos = f.headerSize;
    for (uint32_t v = 0; v < f.vlrCount && pos + 54 <= b.size(); ++v) {
        LasVlr r;
        r.userId = std::string(reinterpret_cast<const char*>(b.data() + pos + 2), 16);
        r.userId = r.userId.c_str();
        r.recordId = Get<uint16_t>(b, pos + 18);
        const uint16_t len = Get<uint16_t>(b, pos + 20);
        r.payload.assign(b.begin() + pos + 54, b.begin() + pos + 54 + len);
        f.vlrs.push_back(r);
        pos += 54 + len;
    }
    for (uint64_t i = 0; i < f.count; ++i) {
        const size_t at = f.offsetToPoints + i * f.recordLength;
        if (at + f.recordLength > b.size()) break;
        f.records.emplace_back(b.begin() + at, b.begin() + at + f.recordLength);
    }
    return f;
}

// Bytes of each point data record format 0..10 without extra bytes.
const int kRecordSize[11] = {20, 28, 26, 34, 57, 63, 30, 36, 38, 59, 67};

struct TestPoint {
    int32_t X, Y, Z;  // stored integers
    double weight;    // only stored when the file has a weight extra byte
};

// Writes a LAS file of the given version and point format with the stored
// integers; extra bytes (formats 6-10): a uint16 "other" and a float32
// "weight" with scale 0.5 and offset 0.25. Header fields other than the ones
// a reader needs are filled as the document describes, the rest of each
// record with noise.
void WriteTestLas(const std::string& path, int minor, int format, const double scale[3],
                  const double offset[3], const std::vector<TestPoint>& pts, bool extraBytes,
                  std::mt19937_64& rng) {
    const int headerSize = minor <= 2 ? 227 : minor == 3 ? 235 : 375;
    std::vector<std::vector<unsigned char>> vlrs;
    auto vlr = [](const char* user, uint16_t id, const std::vector<unsigned char>& payload) {
        std::vector<unsigned char> v(54, 0);
        std::memcpy(v.data() + 2, user, std::strlen(user));
        Put<uint16_t>(v, 18, id);
        Put<uint16_t>(v, 20, static_cast<uint16_t>(payload.size()));
        v.insert(v.end(), payload.begin(), payload.end());
        return v;
    };
    // A GeoKey directory record of another kind, to be stepped over.
    vlrs.push_back(vlr("LASF_Projection", 34735, std::vector<unsigned char>(16, 1)));
    int extra = 0;
    if (extraBytes) {
        std::vector<unsigned char> d(2 * 192, 0);
        d[2] = 3;  // unsigned short
        std::memcpy(d.data() + 4, "other", 5);
        d[192 + 2] = 9;            // float
        d[192 + 3] = 0x08 | 0x10;  // scale and offset present
        std::memcpy(d.data() + 192 + 4, "weight", 6);
        Put<double>(d, 192 + 112, 0.5);
        Put<double>(d, 192 + 136, 0.25);
        vlrs.push_back(vlr("LASF_Spec", 4, d));
        extra = 2 + 4;
    }
    size_t vlrBytes = 0;
    for (const auto& v : vlrs) vlrBytes += v.size();
    const int gap = minor <= 2 ? 2 : 0;  // the old "start of data" bytes
    const uint32_t offsetToPoints = static_cast<uint32_t>(headerSize + vlrBytes + gap);
    const uint16_t recordLength = static_cast<uint16_t>(kRecordSize[format] + extra);

    std::vector<unsigned char> h(headerSize, 0);
    std::memcpy(h.data(), "LASF", 4);
    h[24] = 1;
    h[25] = static_cast<unsigned char>(minor);
    std::memcpy(h.data() + 26, "TEST", 4);
    Put<uint16_t>(h, 94, static_cast<uint16_t>(headerSize));
    Put<uint32_t>(h, 96, offsetToPoints);
    Put<uint32_t>(h, 100, static_cast<uint32_t>(vlrs.size()));
    h[104] = static_cast<unsigned char>(format);
    Put<uint16_t>(h, 105, recordLength);
    const uint32_t n = static_cast<uint32_t>(pts.size());
    if (format < 6) {
        Put<uint32_t>(h, 107, n);
        Put<uint32_t>(h, 111, n);
    }
    for (int a = 0; a < 3; ++a) {
        Put<double>(h, 131 + 8 * a, scale[a]);
        Put<double>(h, 155 + 8 * a, offset[a]);
    }
    if (minor >= 4) {
        Put<uint64_t>(h, 247, n);
        Put<uint64_t>(h, 255, n);
    }
    std::vector<unsigned char> file = h;
    for (const auto& v : vlrs) file.insert(file.end(), v.begin(), v.end());
    file.insert(file.end(), gap, 0xDD);
    for (const TestPoint& p : pts) {
        std::vector<unsigned char> r(recordLength);
        for (auto& c : r) c = static_cast<unsigned char>(rng());
        Put<int32_t>(r, 0, p.X);
        Put<int32_t>(r, 4, p.Y);
        Put<int32_t>(r, 8, p.Z);
        if (extraBytes) {
            const int at = kRecordSize[format];
            Put<float>(r, at + 2, static_cast<float>((p.weight - 0.25) / 0.5));
        }
        file.insert(file.end(), r.begin(), r.end());
    }
    Spit(path, file);
}

// A set of n points around (x0, y0) with some records deleted.
void RandomSet(CTINPoints& set, int n, double x0, double y0, double spread, std::mt19937_64& rng,
               bool deleteSome) {
    CTINPoints s(n);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int i = 0; i < n; ++i) {
        TINPoint& p = s.m_pPoints[static_cast<size_t>(i)];
        p.id = deleteSome && i % 7 == 3 ? -1 : i;
        p.x = x0 + spread * u(rng);
        p.y = y0 + spread * u(rng);
        p.z = 300.0 + 50.0 * u(rng);
        p.weight = 0.5 + 0.5 * std::fabs(u(rng));
    }
    DerivePointsHeader(s);
    set.Swap(s);
}

std::vector<TINPoint> Live(const CTINPoints& set) {
    std::vector<TINPoint> out;
    for (int i = 0; i < set.GetCount(); ++i)
        if (set.GetPoint(i)->id >= 0) out.push_back(*set.GetPoint(i));
    return out;
}

TEST(LasExport, HeaderRecordsAndExtraBytesFollowTheDocument) {
    TempDir dir("pointio_test");
    std::mt19937_64 rng(11);
    // The last case states bounds that no longer hold the points (as after
    // edits): the offsets must come from the points themselves.
    for (double x0 : {0.0, 431250.0, -2.0e6, 1.0}) {
        SCOPED_TRACE(x0);
        CTINPoints set;
        RandomSet(set, 1000, x0, 5378400.0, 2.0e6 - 1.0, rng, true);
        if (x0 == 1.0) {
            set.m_dMinX += 3.0e6;
            set.m_dMaxX += 3.0e6;
            set.m_dMaxZ = set.m_dMinZ;
        }
        const std::vector<TINPoint> live = Live(set);
        const std::string path = dir / "out.las";
        ASSERT_EQ(ExportPoints(path, set), static_cast<int>(live.size()));
        const LasFile f = ParseLas(path);
        EXPECT_EQ(f.signature, "LASF");
        EXPECT_EQ(f.major, 1);
        EXPECT_EQ(f.minor, 4);
        EXPECT_EQ(f.headerSize, 375);
        EXPECT_TRUE(f.globalEncoding & 0x10);  // WKT, required for formats 6 to 10
        EXPECT_EQ(f.format, 6);
        EXPECT_EQ(f.recordLength, 30 + 8);
        EXPECT_EQ(f.legacyCount, 0u);
        for (uint32_t c : f.legacyByReturn) EXPECT_EQ(c, 0u);
        EXPECT_EQ(f.count, live.size());
        EXPECT_EQ(f.byReturn[0], live.size());
        for (int r = 1; r < 15; ++r) EXPECT_EQ(f.byReturn[r], 0u);
        ASSERT_EQ(f.vlrCount, 1u);
        ASSERT_EQ(f.vlrs.size(), 1u);
        EXPECT_EQ(f.vlrs[0].userId, "LASF_Spec");
        EXPECT_EQ(f.vlrs[0].recordId, 4);
        ASSERT_EQ(f.vlrs[0].payload.size(), 192u);
        const std::vector<unsigned char>& d = f.vlrs[0].payload;
        EXPECT_EQ(d[2], 10);  // double
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(d.data() + 4)), "weight");
        EXPECT_EQ(f.offsetToPoints, 375u + 54u + 192u);
        EXPECT_EQ(fs::file_size(path), f.offsetToPoints + live.size() * 38u);
        ASSERT_EQ(f.records.size(), live.size());

        double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300};
        for (size_t i = 0; i < live.size(); ++i) {
            const std::vector<unsigned char>& r = f.records[i];
            const double v[3] = {live[i].x, live[i].y, live[i].z};
            for (int a = 0; a < 3; ++a) {
                EXPECT_EQ(f.scale[a], 0.001);
                const double back = Get<int32_t>(r, 4 * a) * f.scale[a] + f.offset[a];
                ASSERT_NEAR(back, v[a], 0.0005 + 1e-15 * std::fabs(v[a]) * 8);
                lo[a] = std::min(lo[a], back);
                hi[a] = std::max(hi[a], back);
            }
            EXPECT_EQ(r[14] & 0x0F, 1);  // return number
            EXPECT_EQ(r[14] >> 4, 1);    // number of returns
            EXPECT_EQ(r[16], 2);         // ground
            EXPECT_EQ(Get<double>(r, 30), double{live[i].weight});
        }
        for (int a = 0; a < 3; ++a) {
            EXPECT_EQ(f.min[a], lo[a]);
            EXPECT_EQ(f.max[a], hi[a]);
        }
    }

    // A coordinate that is not a number is refused, naming the point.
    CTINPoints bad;
    RandomSet(bad, 10, 0.0, 0.0, 1.0, rng, false);
    bad.m_pPoints[6].z = std::nan("");
    {
        Platform::ScopedMessageCapture capture;
        EXPECT_EQ(ExportPoints(dir / "nan.las", bad), kPointsOutOfRange);
        ASSERT_EQ(capture.Texts().size(), 1u);
        EXPECT_NE(capture.Texts()[0].find("point 6"), std::string::npos);
        EXPECT_FALSE(fs::exists(dir / "nan.las"));
    }

    // A set wider than 32-bit integers at 1 mm can span is refused; nothing is written.
    CTINPoints wide;
    RandomSet(wide, 10, 0.0, 0.0, 1.0, rng, false);
    wide.m_pPoints[3].x = 5.0e6;
    wide.m_pPoints[4].x = -5.0e6;
    Platform::ScopedMessageCapture capture;
    EXPECT_EQ(ExportPoints(dir / "wide.las", wide), kPointsOutOfRange);
    ASSERT_EQ(capture.Texts().size(), 1u);
    EXPECT_NE(capture.Texts()[0].find(dir / "wide.las"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "wide.las"));
}

TEST(LasImport, EveryPointFormatWithOddScalesAndOffsets) {
    TempDir dir("pointio_test");
    std::mt19937_64 rng(5);
    const int minorOf[11] = {0, 1, 2, 2, 3, 3, 4, 4, 4, 4, 4};
    const double scale[3] = {0.0025, 0.01, 0.00037};
    const double offset[3] = {123456.789, -9876.5, 0.125};
    for (int format = 0; format <= 10; ++format) {
        for (bool extra : {false, true}) {
            if (extra && format < 6) continue;
            SCOPED_TRACE("format " + std::to_string(format) + (extra ? " with extra bytes" : ""));
            std::vector<TestPoint> pts(57 + format);
            std::uniform_int_distribution<int32_t> any(INT32_MIN, INT32_MAX);
            for (TestPoint& p : pts) {
                p = {any(rng), any(rng), any(rng) / 1000, 0.25 + (rng() % 1000) * 0.5};
            }
            const std::string path = dir / ("f" + std::to_string(format) + ".las");
            WriteTestLas(path, minorOf[format], format, scale, offset, pts, extra, rng);
            CTINPoints set;
            ASSERT_EQ(ImportPoints(path, set), 1);
            ASSERT_EQ(set.GetCount(), static_cast<int>(pts.size()));
            for (size_t i = 0; i < pts.size(); ++i) {
                const TINPoint& p = *set.GetPoint(static_cast<int>(i));
                EXPECT_EQ(+p.id, static_cast<int>(i));
                EXPECT_EQ(double{p.x}, pts[i].X * scale[0] + offset[0]);
                EXPECT_EQ(double{p.y}, pts[i].Y * scale[1] + offset[1]);
                EXPECT_EQ(double{p.z}, pts[i].Z * scale[2] + offset[2]);
                EXPECT_EQ(double{p.weight}, extra ? pts[i].weight : 1.0);
            }
            EXPECT_EQ(set.BuildIndex(1), 0);  // the derived bounds hold every point
        }
    }
    // An extra bytes field of a type unknown to the reader comes before the
    // weight: its size, and so the weight's place, cannot be known. The
    // weight is taken as absent rather than read from the wrong bytes.
    std::vector<TestPoint> pts(20, TestPoint{1000, 2000, 300, 0.75});
    const std::string path = dir / "unknown.las";
    WriteTestLas(path, 4, 6, scale, offset, pts, true, rng);
    std::vector<unsigned char> bytes = Slurp(path);
    const size_t typeOfOther = 375 + (54 + 16) + 54 + 2;  // header, GeoKey record, descriptor
    ASSERT_EQ(bytes[typeOfOther], 3);
    bytes[typeOfOther] = 50;
    Spit(path, bytes);
    CTINPoints set;
    ASSERT_EQ(ImportPoints(path, set), 1);
    for (int i = 0; i < set.GetCount(); ++i) EXPECT_EQ(double{set.GetPoint(i)->weight}, 1.0);
}

TEST(PointRoundTrips, PtsThroughLasAndXyzGiveTheSamePoints) {
    TempDir dir("pointio_test");
    std::mt19937_64 rng(77);
    for (int trial = 0; trial < 12; ++trial) {
        SCOPED_TRACE(trial);
        const int n = trial < 2 ? trial + 1 : static_cast<int>(rng() % 3000) + 3;
        CTINPoints original;
        RandomSet(original, n, 431250.0 + trial * 1000.0, 5378400.0, 10.0 + trial * 300.0, rng,
                  false);
        if (trial == 2) {  // all on one east-west line
            for (int i = 0; i < n; ++i) original.m_pPoints[static_cast<size_t>(i)].y = 5.0;
            DerivePointsHeader(original);
        }
        ASSERT_EQ(original.WritePts(dir / "a.pts"), n);

        CTINPoints viaLas, viaXyz, las, xyz;
        ASSERT_EQ(ImportPoints(dir / "a.pts", viaLas), 1);
        ASSERT_EQ(ExportPoints(dir / "a.las", viaLas), n);
        ASSERT_EQ(ImportPoints(dir / "a.las", las), 1);
        ASSERT_EQ(ExportPoints(dir / "b.pts", las), n);
        ASSERT_EQ(ImportPoints(dir / "a.pts", viaXyz), 1);
        ASSERT_EQ(ExportPoints(dir / "a.xyz", viaXyz), n);
        ASSERT_EQ(ImportPoints(dir / "a.xyz", xyz), 1);
        ASSERT_EQ(ExportPoints(dir / "c.pts", xyz), n);

        CTINPoints b, c;
        ASSERT_EQ(b.ReadPts(dir / "b.pts"), 1);
        ASSERT_EQ(c.ReadPts(dir / "c.pts"), 1);
        ASSERT_EQ(b.GetCount(), n);
        ASSERT_EQ(c.GetCount(), n);
        for (int i = 0; i < n; ++i) {
            const TINPoint& o = *original.GetPoint(i);
            const TINPoint& p = *b.GetPoint(i);
            const TINPoint& q = *c.GetPoint(i);
            EXPECT_EQ(+p.id, i);
            EXPECT_NEAR(p.x, o.x, 0.0005 + 1e-9);
            EXPECT_NEAR(p.y, o.y, 0.0005 + 1e-9);
            EXPECT_NEAR(p.z, o.z, 0.0005 + 1e-9);
            EXPECT_EQ(double{p.weight}, double{o.weight});
            EXPECT_EQ(std::memcmp(&q, &o, sizeof q), 0) << "XYZ is exact, point " << i;
        }
        for (CTINPoints* s : {&b, &c}) {
            EXPECT_GT(s->m_dMaxX, s->m_dMinX);
            EXPECT_GT(s->m_dMaxY, s->m_dMinY);
            EXPECT_GT(s->m_dSpacingX, 0.0);
            EXPECT_EQ(s->BuildIndex(1), 0);
        }
    }
}

TEST(PointsHeader, SpacingOfGridsLinesAndSinglePoints) {
    // A full grid of 40 x 25 points 2.5 apart: the spacing is the step.
    CTINPoints grid(1000);
    for (int i = 0; i < 1000; ++i)
        grid.m_pPoints[static_cast<size_t>(i)] = {i, 1000.0 + 2.5 * (i % 40), 50.0 - 2.5 * (i / 40),
                                                  7.0 + i, 1.0};
    EXPECT_TRUE(DerivePointsHeader(grid));
    EXPECT_NEAR(grid.m_dSpacingX, 2.5, 1e-12);
    EXPECT_EQ(grid.m_dSpacingX, grid.m_dSpacingY);
    EXPECT_EQ(grid.m_dMinX, 1000.0);
    EXPECT_EQ(grid.m_dMaxX, 1000.0 + 2.5 * 39);
    EXPECT_EQ(grid.m_dMinY, 50.0 - 2.5 * 24);
    EXPECT_EQ(grid.m_dMaxY, 50.0);
    EXPECT_EQ(grid.m_dMinZ, 7.0);
    EXPECT_EQ(grid.m_dMaxZ, 1006.0);

    // Points on a north-south line: spacing length / (N - 1), x bounds widened by half of it.
    CTINPoints line(5);
    for (int i = 0; i < 5; ++i)
        line.m_pPoints[static_cast<size_t>(i)] = {i, 3.0, 4.0 * i, 0.0, 1.0};
    DerivePointsHeader(line);
    EXPECT_DOUBLE_EQ(line.m_dSpacingX, 4.0);
    EXPECT_DOUBLE_EQ(line.m_dMinX, 1.0);
    EXPECT_DOUBLE_EQ(line.m_dMaxX, 5.0);

    // Points farther apart than a double can measure have no usable extent.
    CTINPoints far(2);
    far.m_pPoints[0] = {0, 1e308, 0.0, 0.0, 1.0};
    far.m_pPoints[1] = {1, -1e308, 1.0, 0.0, 1.0};
    EXPECT_FALSE(DerivePointsHeader(far));

    // One point, and coinciding points far from the origin: spacing 1, bounds still ordered.
    for (double at : {0.0, 1.0e300}) {
        CTINPoints one(3);
        for (int i = 0; i < 3; ++i) one.m_pPoints[static_cast<size_t>(i)] = {i, at, -at, 1.0, 1.0};
        EXPECT_TRUE(DerivePointsHeader(one));
        EXPECT_EQ(one.m_dSpacingX, 1.0);
        EXPECT_GT(one.m_dMaxX, one.m_dMinX);
        EXPECT_GT(one.m_dMaxY, one.m_dMinY);
    }
}

TEST(XyzImport, CommentsBlankLinesSeparatorsAndDefaultWeight) {
    TempDir dir("pointio_test");
    const std::string text =
        "# survey points\r\n"
        "\n"
        "1.5 2.5 3.5\r\n"
        "   \t\n"
        "+10,-20,3e2,0.75   # a comma-separated line with a comment\n"
        "\t4\t5\t6\t1e-3\n"
        "7 8 9";  // no newline at the end
    std::ofstream(dir / "p.xyz") << text;
    CTINPoints set;
    ASSERT_EQ(ImportPoints(dir / "p.xyz", set), 1);
    ASSERT_EQ(set.GetCount(), 4);
    const double expect[4][4] = {
        {1.5, 2.5, 3.5, 1.0}, {10, -20, 300, 0.75}, {4, 5, 6, 0.001}, {7, 8, 9, 1.0}};
    for (int i = 0; i < 4; ++i) {
        const TINPoint& p = *set.GetPoint(i);
        EXPECT_EQ(+p.id, i);
        EXPECT_EQ(double{p.x}, expect[i][0]);
        EXPECT_EQ(double{p.y}, expect[i][1]);
        EXPECT_EQ(double{p.z}, expect[i][2]);
        EXPECT_EQ(double{p.weight}, expect[i][3]);
    }
}

TEST(XyzExport, SeventeenDigitsInTheCLocaleWhateverTheProcessLocale) {
    TempDir dir("pointio_test");
    CTINPoints set(3);
    set.m_pPoints[0] = {0, 0.1, 431250.123456789, -2.5e-7, 1.0};
    set.m_pPoints[1] = {-1, 9, 9, 9, 9};  // deleted: not written
    set.m_pPoints[2] = {2, 1.0 / 3.0, 5378400.0, 1e300, 0.95};
    DerivePointsHeader(set);
    const char* locales[] = {"de_DE.UTF-8", "fr_FR.UTF-8", "de_DE", "C"};
    std::string saved = std::setlocale(LC_ALL, nullptr);
    for (const char* loc : locales)
        if (std::setlocale(LC_ALL, loc)) break;
    const int written = ExportPoints(dir / "p.xyz", set);
    std::setlocale(LC_ALL, saved.c_str());
    ASSERT_EQ(written, 2);
    std::ifstream in(dir / "p.xyz");
    std::string all((std::istreambuf_iterator<char>(in)), {});
    // Each number in its shortest form that reads back to the same double.
    EXPECT_EQ(all, "0.1 431250.123456789 -2.5e-07 1\n0.3333333333333333 5378400 1e+300 0.95\n");
}

// Over random doubles of every magnitude: each number written reads back to
// the same double, and has as many significant digits as the fewest that
// %.Ng needs to round-trip it (an independent search), not more.
TEST(PointExport, XyzNumbersAreTheShortestThatReadBackExactly) {
    TempDir dir("pointio_test");
    std::mt19937_64 rng(23);
    std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
    std::uniform_int_distribution<int> exponent(-12, 12);
    const int n = 500;
    CTINPoints set(n);
    for (int i = 0; i < n; ++i) {
        double v[4];
        for (double& x : v) x = mantissa(rng) * std::pow(10.0, exponent(rng));
        v[3] = std::round(v[3] * 1000.0) / 1000.0;  // a weight such as 0.95
        set.m_pPoints[i] = {i, v[0], v[1], v[2], v[3]};
    }
    DerivePointsHeader(set);
    ASSERT_EQ(ExportPoints(dir / "r.xyz", set), n);
    std::ifstream in(dir / "r.xyz");
    for (int i = 0; i < n; ++i) {
        const TINPoint& p = set.m_pPoints[i];
        for (double expected : {p.x, p.y, p.z, p.weight}) {
            std::string token;
            ASSERT_TRUE(in >> token);
            EXPECT_EQ(std::strtod(token.c_str(), nullptr), expected) << token;
            int fewest = 17;
            for (int digits = 1; digits <= 17; ++digits) {
                char text[64];
                std::snprintf(text, sizeof text, "%.*g", digits, expected);
                if (std::strtod(text, nullptr) == expected) {
                    fewest = digits;
                    break;
                }
            }
            // Significant digits of the token: its mantissa without sign,
            // point, leading and trailing zeros (5378400 has five).
            std::string m = token.substr(0, token.find('e'));
            if (!m.empty() && m[0] == '-') m.erase(0, 1);
            m.erase(std::remove(m.begin(), m.end(), '.'), m.end());
            m.erase(0, m.find_first_not_of('0'));
            m.erase(m.find_last_not_of('0') + 1);
            if (m.empty()) m = "0";  // a zero weight: one digit
            EXPECT_EQ(static_cast<int>(m.size()), fewest) << token;
        }
    }
}

TEST(PointImportErrors, BadFilesNameTheFileAndTheLineOrByte) {
    TempDir dir("pointio_test");
    std::mt19937_64 rng(9);
    CTINPoints keep;
    RandomSet(keep, 20, 0, 0, 10, rng, false);
    ASSERT_EQ(ExportPoints(dir / "good.las", keep), 20);
    const std::vector<unsigned char> good = Slurp(dir / "good.las");

    struct Case {
        std::string name;
        std::string content;  // written as is
        int result;
        std::string where;  // expected in the message
    };
    std::vector<Case> cases = {
        {"a.xyz", "1 2 3\n4 5 six\n", kPointsBadText, "line 2"},
        {"b.xyz", "# header\n\n1 2\n", kPointsBadText, "line 3"},
        {"c.xyz", "1 2 3 4 5\n", kPointsBadText, "line 1"},
        {"d.xyz", "1 2 3\n1 nan 3\n", kPointsBadText, "line 2"},
        {"e.xyz", "1 2 3\n4 5 6,\n7 8 9 1 x\n", kPointsBadText, "line 3"},
        {"f.xyz", "# nothing\n\n", kPointsNone, "no points"},
        // Commas: an empty value would shift the weight into z, a decimal
        // comma split one number in two.
        {"empty.xyz", "1 2 3\n431000,5378000,,0.9\n", kPointsBadText, "line 2: two commas"},
        {"decimal.xyz", "431000 5378000,25 300\n", kPointsBadText, "line 1: some numbers"},
        {"mixed.xyz", "1, 2 3\n", kPointsBadText, "line 1: some numbers"},
        {"lead.xyz", "1 2 3\n,1,2,3\n", kPointsBadText, "line 2: a comma"},
        {"long.xyz", "1 2 3\n" + std::string(5000, ' ') + "4 5 6\n", kPointsBadText,
         "line 2: longer than"},
        // Not regular files: refused before anything is read from them.
        {"folder.xyz", "", kPointsCannotOpen, "it is a folder"},
        {"fifo.xyz", "", kPointsCannotOpen, "it is a named pipe"},
        {"zero.pts", "", kPointsCannotOpen, "it is a device"},
        {"g.txt", "1 2 3\n", kPointsUnknownType, "unknown file type"},
        {"h.laz", std::string(good.begin(), good.end()), kPointsCompressed, "LAZ"},
    };
    auto bytes = [&](auto edit) {
        std::vector<unsigned char> b = good;
        edit(b);
        return std::string(b.begin(), b.end());
    };
    cases.push_back({"sig.las", bytes([](auto& b) { b[0] = 'X'; }), kPointsBadFormat, "byte 0"});
    cases.push_back(
        {"cut.las", bytes([](auto& b) { b.resize(b.size() - 50); }), kPointsTruncated, "byte"});
    cases.push_back(
        {"head.las", bytes([](auto& b) { b.resize(300); }), kPointsTruncated, "byte 300"});
    cases.push_back({"count.las", bytes([](auto& b) { Put<uint64_t>(b, 247, 1u << 30); }),
                     kPointsTruncated, "1073741824 points"});
    cases.push_back(
        {"laz.las", bytes([](auto& b) { b[104] |= 0x80; }), kPointsCompressed, "byte 104"});
    cases.push_back({"ver.las", bytes([](auto& b) { b[24] = 2; }), kPointsBadFormat, "byte 24"});
    cases.push_back({"len.las", bytes([](auto& b) { Put<uint16_t>(b, 105, 29); }), kPointsBadFormat,
                     "byte 105"});
    cases.push_back({"fmt.las", bytes([](auto& b) { b[104] = 11; }), kPointsBadFormat, "byte 104"});
    // A scale that takes the first point beyond the largest double.
    cases.push_back({"inf.las", bytes([](auto& b) {
                         Put<double>(b, 131, 1e305);
                         Put<int32_t>(b, 621, 100000);
                     }),
                     kPointsOutOfRange, "byte 621: point 1"});
    cases.push_back({"far.xyz", "1e308 0 0\n-1e308 1 1\n", kPointsOutOfRange, "too far apart"});
    cases.push_back({"vlr.las", bytes([](auto& b) { Put<uint16_t>(b, 375 + 20, 5000); }),
                     kPointsBadFormat, "byte 375"});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.name == "folder.xyz") {
            fs::create_directory(dir / c.name);
        } else if (c.name == "fifo.xyz") {
            ASSERT_EQ(mkfifo((dir / c.name).c_str(), 0600), 0);
        } else if (c.name == "zero.pts") {
            fs::create_symlink("/dev/zero", dir / c.name);
        } else {
            std::ofstream(dir / c.name, std::ios::binary) << c.content;
        }
        CTINPoints set;
        RandomSet(set, 5, 0, 0, 1, rng, false);
        const TINPoint first = *set.GetPoint(0);
        Platform::ScopedMessageCapture capture;
        EXPECT_EQ(ImportPoints(dir / c.name, set), c.result);
        ASSERT_EQ(capture.Texts().size(), 1u);
        const std::string msg = capture.Texts()[0];
        EXPECT_NE(msg.find(dir / c.name), std::string::npos) << msg;
        EXPECT_NE(msg.find(c.where), std::string::npos) << msg;
        // The set is left as it was.
        ASSERT_EQ(set.GetCount(), 5);
        EXPECT_EQ(std::memcmp(set.GetPoint(0), &first, sizeof first), 0);
    }
    // What does read: one comma between each two numbers, blanks around it,
    // after a UTF-8 byte-order mark.
    std::ofstream(dir / "commas.xyz") << "\xEF\xBB\xBF"
                                         "1.0, 2.0, 3.0\n4,5,6,0.5\n7 8 9\n";
    CTINPoints read;
    ASSERT_EQ(ImportPoints(dir / "commas.xyz", read), 1);
    ASSERT_EQ(read.GetCount(), 3);
    EXPECT_EQ(+read.GetPoint(0)->x, 1.0);
    EXPECT_EQ(+read.GetPoint(0)->z, 3.0);
    EXPECT_EQ(+read.GetPoint(1)->z, 6.0);
    EXPECT_EQ(+read.GetPoint(1)->weight, 0.5);
}

TEST(PointExportErrors, FailuresLeaveNoFileAndTheOldTargetIntact) {
    TempDir dir("pointio_test");
    std::mt19937_64 rng(4);
    CTINPoints set;
    RandomSet(set, 20000, 0, 0, 100, rng, true);
    const int live = static_cast<int>(Live(set).size());
    std::ofstream(dir / "old.las") << "previous contents";
    std::ofstream(dir / "old.xyz") << "previous contents";
    std::ofstream(dir / "old.pts") << "previous contents";
    const std::vector<std::string> before = dir.Names();

    for (const char* name : {"old.las", "old.xyz", "old.pts", "new.las", "new.xyz", "new.pts"}) {
        SCOPED_TRACE(name);
        Platform::ScopedMessageCapture capture;
        int rc = 0;
        {
            FileSizeLimit limit(64 * 1024);  // a disk that fills up after 64 KiB
            rc = ExportPoints(dir / name, set);
        }
        EXPECT_EQ(rc, kPointsWriteFailed);
        ASSERT_EQ(capture.Texts().size(), 1u);
        EXPECT_NE(capture.Texts()[0].find(dir / name), std::string::npos);
        EXPECT_NE(capture.Texts()[0].find(std::strerror(EFBIG)), std::string::npos)
            << capture.Texts()[0];
        EXPECT_EQ(dir.Names(), before);  // no temporary, no new file
    }
    std::ifstream in(dir / "old.las");
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), {}), "previous contents");

    // A folder that does not exist, and a file system that takes no files.
    for (const std::string& path : {dir / "missing/p.las", std::string("/proc/orvane_test.xyz")}) {
        Platform::ScopedMessageCapture capture;
        EXPECT_EQ(ExportPoints(path, set), kPointsCannotOpen) << path;
        ASSERT_EQ(capture.Texts().size(), 1u);
        EXPECT_NE(capture.Texts()[0].find(path), std::string::npos);
        EXPECT_FALSE(fs::exists(path));
    }
    if (geteuid() != 0) {  // permissions do not stop root
        fs::create_directory(dir / "ro");
        fs::permissions(dir / "ro", fs::perms::owner_read | fs::perms::owner_exec);
        Platform::ScopedMessageCapture capture;
        EXPECT_EQ(ExportPoints(dir / "ro/p.las", set), kPointsCannotOpen);
        fs::permissions(dir / "ro", fs::perms::owner_all);
        EXPECT_TRUE(fs::is_empty(dir / "ro"));
        fs::remove(dir / "ro");
    }
    // Unknown and compressed types are refused before anything is created.
    Platform::ScopedMessageCapture capture;
    EXPECT_EQ(ExportPoints(dir / "p.laz", set), kPointsCompressed);
    EXPECT_EQ(ExportPoints(dir / "p.csv", set), kPointsUnknownType);
    EXPECT_EQ(dir.Names(), before);

    // The .pts export leaves the deleted records out.
    ASSERT_EQ(ExportPoints(dir / "live.pts", set), live);
    CTINPoints back;
    ASSERT_EQ(back.ReadPts(dir / "live.pts"), 1);
    ASSERT_EQ(back.GetCount(), live);
    const std::vector<TINPoint> kept = Live(set);
    for (int i = 0; i < live; ++i) {
        EXPECT_EQ(double{back.GetPoint(i)->x}, double{kept[static_cast<size_t>(i)].x});
        EXPECT_EQ(double{back.GetPoint(i)->weight}, double{kept[static_cast<size_t>(i)].weight});
    }
}

}  // namespace
