#include "TIN/TINPoints.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "Platform/Platform.h"
#include "testing/PlatformTestSupport.h"
#include "testing/TINTestSupport.h"

namespace {

const char* const kOutsideText = "There is error in points extension!!";

struct FileRecord {
    double x, y, z, weight;
};

using platformtest::TempDir;

struct Header {
    int32_t n;
    double minX, maxY, maxX, minY, spacingX, spacingY;
};

std::string Bytes(const Header& h, const std::vector<FileRecord>& records) {
    std::string bytes(52, '\0');
    std::memcpy(&bytes[0], &h.n, 4);
    const double fields[6] = {h.minX, h.maxY, h.maxX, h.minY, h.spacingX, h.spacingY};
    std::memcpy(&bytes[4], fields, sizeof fields);
    for (const FileRecord& r : records) {
        bytes.append(reinterpret_cast<const char*>(&r), sizeof r);
    }
    return bytes;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const std::vector<FileRecord> kRecords = {
    {10.5, 20.25, 101.0, 0.5}, {30.0, 40.0, 99.5, 1.0}, {15.0, 22.0, 120.0, 0.7}};

// A set of n records filled like a photograph fills its image-point set.
void Fill(CTINPoints& set, const std::vector<std::pair<double, double>>& xy, double minX,
          double maxX, double minY, double maxY) {
    for (size_t i = 0; i < xy.size(); ++i) {
        ASSERT_EQ(set.SetPoint(int(i), xy[i].first, xy[i].second, int(i)), 0);
    }
    set.m_dMinX = minX;
    set.m_dMaxX = maxX;
    set.m_dMinY = minY;
    set.m_dMaxY = maxY;
}

// ---------------------------------------------------------------- geometry

TEST(TINGeometry, TurnsAndConvexInside) {
    const PointXY a{0, 0};
    const PointXY b{10, 0};
    EXPECT_DOUBLE_EQ(Cross(a, b, {0, 5}), 50.0);
    EXPECT_FALSE(IsRightTurn(a, b, {0, 5}));
    EXPECT_TRUE(IsRightTurn(a, b, {0, -5}));
    EXPECT_FALSE(IsRightTurn(a, b, {20, 0}));  // on the line: not a right turn

    const PointXY square[] = {{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}};  // counter-clockwise
    EXPECT_GE(InsideConvex({5, 5}, square, 5, false), 0);
    EXPECT_EQ(InsideConvex({15, 5}, square, 5, false), -1);
    EXPECT_EQ(InsideConvex({5, 5}, square, 5, true), -1);
}

// ------------------------------------------------------------- construction

TEST(TINPointsAccess, SizedConstructionAndSetPoint) {
    CTINPoints set(3);
    EXPECT_EQ(set.GetCount(), 3);
    EXPECT_EQ(set.m_nCapacity, 3);
    EXPECT_EQ(set.SetPoint(7, 1.5, 2.5, 2), 0);
    EXPECT_EQ(set.SetPoint(7, 1.5, 2.5, 3), -1);
    EXPECT_EQ(set.SetPoint(7, 1.5, 2.5, -1), -1);
    const TINPoint* p = set.GetPoint(2);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->id, 7);
    EXPECT_EQ(double(p->x), 1.5);
    EXPECT_EQ(double(p->z), 0.0);  // untouched by SetPoint, and never garbage
    EXPECT_EQ(set.GetPoint(3), nullptr);
    EXPECT_EQ(set.GetPoint(-1), nullptr);
    EXPECT_EQ(set.GetIndex(), nullptr);

    set.SetSpacing(2.0, 3.0);
    double sx = 0;
    double sy = 0;
    set.GetSpacing(&sx, &sy);
    EXPECT_EQ(sx, 2.0);
    EXPECT_EQ(sy, 3.0);

    CTINPoints empty(0);
    EXPECT_EQ(empty.GetCount(), 0);
    EXPECT_EQ(empty.GetPoint(0), nullptr);
}

// ------------------------------------------------------------------ files

TEST(TINPointsFile, ReadNumbersRecordsAndWriteReproducesTheFile) {
    TempDir dir("tin_test");
    const std::string in = dir / "in.pts";
    const std::string out = dir / "out.pts";
    const std::string bytes = Bytes({3, 10.0, 40.0, 30.0, 20.0, 2.5, 3.5}, kRecords);
    WriteFile(in, bytes);

    CTINPoints set;
    ASSERT_EQ(set.ReadPts(in), 1);
    EXPECT_EQ(set.GetCount(), 3);
    EXPECT_EQ(set.m_nCapacity, 3);
    for (int i = 0; i < 3; ++i) {
        const TINPoint p = *set.GetPoint(i);
        EXPECT_EQ(p.id, i);
        EXPECT_EQ(double(p.x), kRecords[i].x);
        EXPECT_EQ(double(p.y), kRecords[i].y);
        EXPECT_EQ(double(p.z), kRecords[i].z);
        EXPECT_EQ(double(p.weight), kRecords[i].weight);
    }
    TINExtent e{};
    set.GetExtent(&e);
    EXPECT_EQ(e.xmin, 10.0);
    EXPECT_EQ(e.xmax, 30.0);
    EXPECT_EQ(e.ymin, 20.0);
    EXPECT_EQ(e.ymax, 40.0);
    EXPECT_EQ(e.zmin, 99.5);
    EXPECT_EQ(e.zmax, 120.0);
    double sx = 0;
    double sy = 0;
    set.GetSpacing(&sx, &sy);
    EXPECT_EQ(sx, 2.5);
    EXPECT_EQ(sy, 3.5);

    EXPECT_EQ(set.WritePts(out), 3);
    EXPECT_EQ(ReadFile(out), bytes);

    FILE* file = std::fopen(out.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(set.WritePts(file), 3);
    std::fclose(file);
    EXPECT_EQ(ReadFile(out), bytes);

    // Reading through an open stream leaves the stream to the caller.
    file = std::fopen(in.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    CTINPoints again;
    EXPECT_EQ(again.ReadPts(file), 1);
    EXPECT_EQ(again.GetCount(), 3);
    std::fclose(file);
}

TEST(TINPointsFile, HeaderCasesFromTheFileItself) {
    TempDir dir("tin_test");
    const std::string path = dir / "p.pts";
    CTINPoints set;

    // y bounds in either order.
    WriteFile(path, Bytes({3, 10.0, 20.0, 30.0, 40.0, 1, 1}, kRecords));
    ASSERT_EQ(set.ReadPts(path), 1);
    EXPECT_EQ(set.m_dMinY, 20.0);
    EXPECT_EQ(set.m_dMaxY, 40.0);

    WriteFile(path, Bytes({0, 10.0, 40.0, 30.0, 20.0, 1, 1}, {}));
    EXPECT_EQ(set.ReadPts(path), -1);
    EXPECT_EQ(set.GetCount(), 0);

    WriteFile(path, Bytes({3, 10.0, 40.0, 10.0, 20.0, 1, 1}, kRecords));
    EXPECT_EQ(set.ReadPts(path), -2);
    EXPECT_EQ(set.GetCount(), 0);
    WriteFile(path, Bytes({3, 10.0, 40.0, std::nan(""), 20.0, 1, 1}, kRecords));
    EXPECT_EQ(set.ReadPts(path), -2);

    EXPECT_EQ(set.ReadPts(dir / "missing.pts"), -1);
    EXPECT_EQ(set.GetCount(), 0);
    // No regular file: refused before it is read (a named pipe would block
    // the load, a link to /dev/zero feed it without end).
    ASSERT_EQ(mkfifo((dir / "fifo.pts").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", (dir / "zero.pts"));
    std::filesystem::create_directory((dir / "folder.pts"));
    for (const char* name : {"fifo.pts", "zero.pts", "folder.pts"})
        EXPECT_EQ(set.ReadPts((dir / name)), -1) << name;
}

TEST(TINPointsFile, CountsTheFileCannotHoldAreRefusedBeforeAllocating) {
    TempDir dir("tin_test");
    const std::string path = dir / "bad.pts";
    CTINPoints set;

    struct Case {
        int32_t n;
        size_t records;
        size_t extraBytes;
    };
    // Negative; far beyond the file; one record more than stored; half a
    // record missing at the end.
    for (const Case c : {Case{-1, 3, 0}, Case{std::numeric_limits<int32_t>::min(), 3, 0},
                         Case{2000000000, 3, 0}, Case{4, 3, 0}, Case{3, 2, 16}}) {
        // A good read first, so the refusal must also drop the old records.
        WriteFile(path, Bytes({3, 10.0, 40.0, 30.0, 20.0, 1, 1}, kRecords));
        ASSERT_EQ(set.ReadPts(path), 1);
        ASSERT_EQ(set.BuildIndex(1), 0);
        std::vector<FileRecord> records(kRecords.begin(), kRecords.begin() + long(c.records));
        std::string bytes = Bytes({c.n, 10.0, 40.0, 30.0, 20.0, 1, 1}, records);
        bytes.append(c.extraBytes, '\x7f');
        WriteFile(path, bytes);
        EXPECT_EQ(set.ReadPts(path), -5) << c.n;
        EXPECT_EQ(set.GetCount(), 0);
        EXPECT_EQ(set.m_nCapacity, 0);
        EXPECT_EQ(set.GetPoint(0), nullptr);
        EXPECT_EQ(set.GetIndex(), nullptr);
        EXPECT_EQ(set.FindNearest(10, 20, 100.0), -1);
    }

    // A header cut short.
    WriteFile(path, Bytes({3, 10.0, 40.0, 30.0, 20.0, 1, 1}, {}).substr(0, 30));
    EXPECT_EQ(set.ReadPts(path), -5);
    EXPECT_EQ(set.GetCount(), 0);

    // Trailing bytes beyond N records are not a failure.
    std::string longer = Bytes({2, 10.0, 40.0, 30.0, 20.0, 1, 1}, kRecords);
    WriteFile(path, longer);
    EXPECT_EQ(set.ReadPts(path), 1);
    EXPECT_EQ(set.GetCount(), 2);
}

TEST(TINPointsFile, WriteFailuresAreReported) {
    CTINPoints set;
    TempDir dir("tin_test");
    const std::string path = dir / "in.pts";
    WriteFile(path, Bytes({3, 10.0, 40.0, 30.0, 20.0, 1, 1}, kRecords));
    ASSERT_EQ(set.ReadPts(path), 1);
    EXPECT_EQ(set.WritePts(dir / "no/such/dir/out.pts"), -1);
    EXPECT_EQ(set.WritePts(static_cast<FILE*>(nullptr)), -1);
    if (FILE* full = std::fopen("/dev/full", "wb")) {
        std::fclose(full);
        // The device accepts the buffered writes and refuses the flush.
        EXPECT_EQ(set.WritePts(std::string("/dev/full")), -1);
    }
}

// ---------------------------------------------------------------- editing

TEST(TINPointsEdit, CompactDropsDeletedRecordsAndShrinksTheBounds) {
    CTINPoints set(5);
    // Record 0 holds the smallest x, record 3 the largest y; record 1, the
    // first survivor, holds the largest x and the smallest y.
    Fill(set, {{0, 5}, {9, 1}, {4, 4}, {5, 10}, {3, 6}}, 0, 9, 1, 10);
    set.m_dMinZ = -7;
    set.m_dMaxZ = 70;
    set.GetPoint(0)->id = -1;
    set.GetPoint(3)->id = -1;
    EXPECT_EQ(set.Compact(), 0);
    EXPECT_EQ(set.GetCount(), 3);
    EXPECT_EQ(set.m_nCapacity, 5);
    EXPECT_EQ(set.GetPoint(0)->id, 1);  // ids keep their values
    EXPECT_EQ(set.GetPoint(1)->id, 2);
    EXPECT_EQ(set.GetPoint(2)->id, 4);
    EXPECT_EQ(set.m_dMinX, 3.0);
    EXPECT_EQ(set.m_dMaxX, 9.0);
    EXPECT_EQ(set.m_dMinY, 1.0);
    EXPECT_EQ(set.m_dMaxY, 6.0);
    // The z range is the survivors' (all records were zero-filled).
    EXPECT_EQ(set.m_dMinZ, 0.0);
    EXPECT_EQ(set.m_dMaxZ, 0.0);

    for (int i = 0; i < 3; ++i) set.GetPoint(i)->id = -1;
    set.m_dMinZ = -7;
    EXPECT_EQ(set.Compact(), 0);
    EXPECT_EQ(set.GetCount(), 0);
    EXPECT_EQ(set.m_dMinX, 9.0);  // crosswise
    EXPECT_EQ(set.m_dMaxX, 3.0);
    EXPECT_EQ(set.m_dMinY, 6.0);
    EXPECT_EQ(set.m_dMaxY, 1.0);
    EXPECT_EQ(set.m_dMinZ, -7.0);  // nothing to take a range from
}

TEST(TINPointsEdit, DegenerateRangesWidenToAProperOne) {
    double lo = 5;
    double hi = 5;
    WidenDegenerateRange(lo, hi, 0.25);
    EXPECT_EQ(lo, 4.75);
    EXPECT_EQ(hi, 5.25);
    lo = hi = 1e300;  // a margin lost in the magnitude: the next doubles
    WidenDegenerateRange(lo, hi, 0.5);
    EXPECT_LT(lo, 1e300);
    EXPECT_GT(hi, 1e300);
    EXPECT_EQ(hi, std::nextafter(1e300, 2e300));
    lo = hi = -3;
    WidenDegenerateRange(lo, hi, 0.0);
    EXPECT_LT(lo, -3.0);
    EXPECT_GT(hi, -3.0);
    lo = 1;
    hi = 2;
    WidenDegenerateRange(lo, hi, 10);  // already proper
    EXPECT_EQ(lo, 1.0);
    EXPECT_EQ(hi, 2.0);
}

// Random sets, among them one point, all on one vertical or horizontal line,
// huge coordinates, deletions and moves that leave the old bounds: after
// Compact the bounds hold every point, the written file reads back into a
// fresh set and gives the same records, and its z range is the survivors'.
TEST(TINPointsEdit, CompactedSetsAlwaysReadBack) {
    TempDir dir("tin_test");
    const std::string path = dir / "compact.pts";
    std::mt19937 random(41);
    std::uniform_real_distribution<double> u(-1000, 1000);
    for (int trial = 0; trial < 120; ++trial) {
        const int n = trial % 6 == 0 ? 1 : 1 + int(random() % 300);
        const int shape = trial % 5;  // 0 free, 1 one x, 2 one y, 3 one position, 4 huge
        const double x0 = u(random);
        const double y0 = u(random);
        CTINPoints set(n);
        std::vector<std::pair<double, double>> xy(n);
        for (auto& p : xy) {
            p = {shape == 1 || shape == 3 ? x0 : u(random),
                 shape == 2 || shape == 3 ? y0 : u(random)};
            if (shape == 4) p = {p.first * 1e297, p.second * 1e-300};
        }
        Fill(set, xy, 0, 0, 0, 0);
        for (int i = 0; i < n; ++i) {
            set.GetPoint(i)->z = u(random) / 10;
            set.GetPoint(i)->weight = double(i % 7) / 7;
        }
        set.SetSpacing(trial % 3 == 0 ? 0.0 : 2.5, trial % 4 == 0 ? -1.0 : 2.5);
        set.Compact();  // bounds of the fresh set
        if (trial % 2 == 0) {
            ASSERT_EQ(set.BuildIndex(1), 0);
        }
        for (int i = 0; i < n; ++i) {
            const uint32_t what = random() % 10;
            if (what < 2 && i > 0) {
                set.GetPoint(i)->id = -1;
            } else if (what < 4 && shape != 4) {
                // Outside the old bounds, keeping the set's degenerate shape.
                const TINPoint p = *set.GetPoint(i);
                ASSERT_EQ(set.MovePoint(i, shape == 1 || shape == 3 ? double(p.x) : p.x + 3000,
                                        shape == 2 || shape == 3 ? double(p.y) : p.y - 3000),
                          1);
            }
        }
        std::vector<TINPoint> survivors;
        for (int i = 0; i < n; ++i) {
            if (set.GetPoint(i)->id >= 0) survivors.push_back(*set.GetPoint(i));
        }
        ASSERT_EQ(set.Compact(), 0);
        ASSERT_EQ(set.GetCount(), int(survivors.size()));
        ASSERT_GT(set.m_dMaxX, set.m_dMinX);
        ASSERT_GT(set.m_dMaxY, set.m_dMinY);
        double zmin = survivors[0].z, zmax = survivors[0].z;
        for (const TINPoint& p : survivors) {
            ASSERT_TRUE(p.x >= set.m_dMinX && p.x <= set.m_dMaxX);
            ASSERT_TRUE(p.y >= set.m_dMinY && p.y <= set.m_dMaxY);
            const double z = p.z;  // packed record: copy before binding a reference
            zmin = std::min(zmin, z);
            zmax = std::max(zmax, z);
        }
        EXPECT_EQ(set.m_dMinZ, zmin);
        EXPECT_EQ(set.m_dMaxZ, zmax);

        ASSERT_EQ(set.WritePts(path), set.GetCount());
        CTINPoints fresh;
        ASSERT_EQ(fresh.ReadPts(path), 1) << trial;
        ASSERT_EQ(fresh.GetCount(), set.GetCount());
        for (int i = 0; i < fresh.GetCount(); ++i) {
            const TINPoint a = *fresh.GetPoint(i);
            const TINPoint& b = survivors[size_t(i)];
            ASSERT_EQ(a.id, i);
            ASSERT_EQ(std::memcmp(&a.x, &b.x, 32), 0) << trial << " " << i;
        }
        EXPECT_EQ(fresh.m_dMinX, set.m_dMinX);
        EXPECT_EQ(fresh.m_dMaxY, set.m_dMaxY);
        EXPECT_EQ(fresh.m_dMinZ, zmin);
        EXPECT_EQ(fresh.m_dMaxZ, zmax);
        EXPECT_EQ(fresh.BuildIndex(1), 0);
    }
}

TEST(TINPointsEdit, AddPointGrowsByOnePercentAtLeastTen) {
    for (const auto& [capacity, grown] :
         {std::pair{500, 510}, {2000, 2020}, {0, 10}, {1500, 1515}}) {
        CTINPoints set(capacity);
        for (int i = 0; i < capacity; ++i) set.SetPoint(i, i, i, i);
        const TINPoint p{capacity, 1.0, 2.0, 3.0, 0.5};
        EXPECT_EQ(set.AddPoint(p), 1);
        EXPECT_EQ(set.m_nCapacity, grown);
        EXPECT_EQ(set.GetCount(), capacity + 1);
        EXPECT_EQ(std::memcmp(set.GetPoint(capacity), &p, sizeof p), 0);
        if (capacity > 0) {
            EXPECT_EQ(double(set.GetPoint(capacity - 1)->x), capacity - 1.0);
        }
        // No reallocation until the new room is used up.
        const TINPoint* before = set.GetPoint(0);
        set.AddPoint(p);
        EXPECT_EQ(set.GetPoint(0), before);
    }
}

TEST(TINPointsEdit, AddAndRemoveKeepTheIndexInStep) {
    CTINPoints set(4);
    Fill(set, {{1, 1}, {30, 30}, {60, 40}, {99, 49}}, 0, 100, 0, 50);
    Platform::ScopedMessageCapture capture;

    // No index: the point is not deleted.
    EXPECT_EQ(set.RemovePoint(1), -1);
    EXPECT_EQ(set.GetPoint(1)->id, 1);

    ASSERT_EQ(set.BuildIndex(1), 0);
    ASSERT_NE(set.GetIndex(), nullptr);
    capture.Clear();
    EXPECT_EQ(set.AddPoint({4, 31.0, 31.0, 0.0, 1.0}), 1);
    EXPECT_EQ(set.FindNearest(31, 31, 1.0), 4);
    EXPECT_EQ(set.RemovePoint(4), 1);
    EXPECT_EQ(set.GetPoint(4)->id, -1);
    EXPECT_EQ(set.FindNearest(31, 31, 1.0), -1);
    EXPECT_EQ(set.FindNearest(31, 31, 2.0), 1);
    EXPECT_EQ(set.RemovePoint(17), -1);
    EXPECT_TRUE(capture.Messages().empty());

    // Outside the grid: reported, the record stays appended.
    EXPECT_EQ(set.AddPoint({5, 500.0, 10.0, 0.0, 1.0}), -1);
    EXPECT_EQ(set.GetCount(), 6);
    EXPECT_EQ(capture.Texts(), std::vector<std::string>{kOutsideText});
    EXPECT_EQ(set.AddPoint({6, std::nan(""), 10.0, 0.0, 1.0}), -1);
    EXPECT_EQ(set.RemovePoint(5), -1);
    EXPECT_EQ(set.GetPoint(5)->id, 5);
}

// ---------------------------------------------------------------- index

TEST(TINPointsIndex, BulkBuildMatchesInsertingEveryRecord) {
    std::mt19937 random(11);
    std::uniform_real_distribution<double> u(0, 1000);
    const int n = 5000;
    CTINPoints set(n);
    std::vector<std::pair<double, double>> xy(n);
    for (auto& p : xy) p = {std::floor(u(random)), std::floor(u(random) / 2)};
    Fill(set, xy, 0, 1000, 0, 500);
    set.GetPoint(7)->id = -1;  // records are not filtered by id
    ASSERT_EQ(set.BuildIndex(1), 0);

    CGridIndex reference;
    reference.Setup(0, 1000, 0, 500, n, 1);
    for (int i = 0; i < n; ++i) ASSERT_EQ(reference.Insert(xy[i].first, xy[i].second, i), 1);
    const CGridIndex* index = set.GetIndex();
    ASSERT_NE(index, nullptr);
    ASSERT_EQ(index->m_nRows, reference.m_nRows);
    ASSERT_EQ(index->m_nCols, reference.m_nCols);
    for (int r = 0; r < index->m_nRows; ++r) {
        for (int c = 0; c < index->m_nCols; ++c) {
            const auto a = index->CellKeys(r, c);
            const auto b = reference.CellKeys(r, c);
            ASSERT_EQ(std::vector<int>(a.begin(), a.end()), std::vector<int>(b.begin(), b.end()));
        }
    }
    EXPECT_LE(index->MemoryBytes(), int64_t(n) * 24);
}

TEST(TINPointsIndex, BuildStopsAtTheFirstPointOutside) {
    CTINPoints set(5);
    Fill(set, {{1, 1}, {2, 2}, {300, 3}, {4, 4}, {-900, 5}}, 0, 100, 0, 50);
    Platform::ScopedMessageCapture capture;
    EXPECT_EQ(set.BuildIndex(1), -1);
    EXPECT_EQ(capture.Texts(), std::vector<std::string>{kOutsideText});
    ASSERT_EQ(capture.Traces().size(), 1u);
    std::vector<int> keys;
    ASSERT_NE(set.GetIndex(), nullptr);
    set.GetIndex()->QueryRect(-1000, -1000, 1000, 1000, keys);
    EXPECT_EQ(keys, (std::vector<int>{0, 1}));  // as many as inserting stopped at

    // The very first record outside: no cells at all.
    Fill(set, {{-900, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}}, 0, 100, 0, 50);
    EXPECT_EQ(set.BuildIndex(1), -1);
    EXPECT_EQ(set.GetIndex(), nullptr);

    Fill(set, {{1, 1}, {2, std::numeric_limits<double>::infinity()}, {3, 3}, {4, 4}, {5, 5}}, 0,
         100, 0, 50);
    EXPECT_EQ(set.BuildIndex(1), -1);
}

TEST(TINPointsIndex, EmptyAndSinglePositionSetsIndexWithoutFault) {
    CTINPoints empty;
    EXPECT_EQ(empty.BuildIndex(1), 0);
    EXPECT_EQ(empty.GetIndex(), nullptr);
    EXPECT_EQ(empty.FindNearest(0, 0, 10), -1);
    EXPECT_EQ(empty.FindNeighbour(0, 1), -1);

    CTINPoints same(3);
    Fill(same, {{5, 5}, {5, 5}, {5, 5}}, 5, 5, 5, 5);
    EXPECT_EQ(same.BuildIndex(1), 0);
    EXPECT_EQ(same.FindNearest(5, 5, 1.0), 0);
    std::vector<int> ids;
    SelectionShape rect{0, 0, {0, 0, 10, 10}};
    EXPECT_EQ(same.SelectInShape(rect, ids), 1);
    EXPECT_EQ(ids, (std::vector<int>{0, 1, 2}));
}

// Random moves of random sets: small steps, steps across cells, jumps far
// outside the grid, positions that are not numbers and back, deletions and
// additions. After every batch each live record with a position is listed
// exactly once, in the cell of where it is; one without a position nowhere;
// the bounds hold every live record; nothing was reported to the operator;
// and the nearest search agrees with a full scan.
// A point carried past the grid's edge makes the grid grow with room to
// spare, so that the next notches the same way do not rebuild it each time.
TEST(TINPointsMove, AGridOutgrownGrowsWithRoom) {
    std::mt19937 random(5);
    std::uniform_real_distribution<double> ux(0, 200), uy(0, 120);
    const int n = 400;
    CTINPoints set(n);
    std::vector<std::pair<double, double>> xy(n);
    for (auto& p : xy) p = {ux(random), uy(random)};
    Fill(set, xy, 0, 200, 0, 120);
    ASSERT_EQ(set.BuildIndex(1), 0);
    const int cols = set.GetIndex()->m_nCols;
    ASSERT_EQ(set.MovePoint(7, 230.0, 60.0), 1);
    EXPECT_GT(set.GetIndex()->m_nCols, cols);
    EXPECT_GT(set.m_dMaxX, 230.0 + 10.0);  // an eighth of the span beyond the point
    const int grown = set.GetIndex()->m_nCols;
    for (double x = 231.0; x < 236.0; x += 1.0) ASSERT_EQ(set.MovePoint(7, x, 60.0), 1);
    EXPECT_EQ(set.GetIndex()->m_nCols, grown);
}

TEST(TINPointsMove, IndexAndBoundsFollowEveryMove) {
    std::mt19937 random(31);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (int trial = 0; trial < 12; ++trial) {
        const int n = 50 + int(random() % 600);
        std::uniform_real_distribution<double> ux(0, 200);
        std::uniform_real_distribution<double> uy(0, 120);
        CTINPoints set(n);
        std::vector<std::pair<double, double>> xy(n);
        for (auto& p : xy) p = {ux(random), uy(random)};
        Fill(set, xy, 0, 200, 0, 120);
        const bool placed = trial % 2 == 1;
        if (placed) set.SetPoint(3, nan, 5, 3);  // an image point that does not project
        ASSERT_EQ(placed ? set.BuildPlacedIndex(1) : set.BuildIndex(1), 0);
        Platform::ScopedMessageCapture capture;
        for (int batch = 0; batch < 8; ++batch) {
            for (int m = 0; m < n; ++m) {
                const int i = int(random() % uint32_t(set.GetCount()));
                const TINPoint p = *set.GetPoint(i);
                double x = p.x;
                double y = p.y;
                if (!std::isfinite(x) || !std::isfinite(y)) {
                    x = ux(random);
                    y = uy(random);
                }
                const uint32_t kind = random() % 100;
                if (kind < 40) {
                    x += (double(random() % 200) - 100.0) / 1000.0;
                    y += (double(random() % 200) - 100.0) / 1000.0;
                } else if (kind < 80) {
                    x += (double(random() % 400) - 200.0) / 10.0;
                    y += (double(random() % 400) - 200.0) / 10.0;
                } else if (kind < 84) {
                    x += (double(random() % 2) - 0.5) * 2000.0;  // far outside
                    y -= 700.0;
                } else if (kind < 92) {
                    x = nan;
                } else if (kind < 95) {
                    y = std::numeric_limits<double>::infinity();
                } else if (kind < 98) {
                    // Deleted as the view deletes (the key may stay behind), or
                    // through the index.
                    if (kind == 95 || !std::isfinite(p.x) || !std::isfinite(p.y)) {
                        set.GetPoint(i)->id = -1;
                    } else if (p.id >= 0) {
                        ASSERT_EQ(set.RemovePoint(i), 1);
                    }
                    continue;
                } else {
                    // At a position the grid holds, as the view adds points.
                    const int id = set.GetCount();
                    ASSERT_EQ(set.AddPoint({id, ux(random), uy(random), 0, 1}), 1);
                    continue;
                }
                ASSERT_EQ(set.MovePoint(i, x, y), 1);
                const TINPoint moved = *set.GetPoint(i);
                ASSERT_TRUE((moved.x == x || (std::isnan(x) && std::isnan(moved.x))) &&
                            (moved.y == y || std::isinf(y)));
            }
            ASSERT_TRUE(capture.Messages().empty()) << capture.Messages()[0].text;
            const CGridIndex* index = set.GetIndex();
            ASSERT_NE(index, nullptr);
            std::vector<int> listed(size_t(set.GetCount()), 0);
            for (int r = 0; r < index->m_nRows; ++r) {
                for (int c = 0; c < index->m_nCols; ++c) {
                    for (const int32_t k : index->CellKeys(r, c)) {
                        ASSERT_TRUE(k >= 0 && k < set.GetCount());
                        const TINPoint p = *set.GetPoint(k);
                        if (p.id < 0) continue;  // deleted: never searched
                        ++listed[size_t(k)];
                        int column = -1;
                        int row = -1;
                        index->CellOf(p.x, p.y, column, row);
                        ASSERT_EQ(row, r);
                        ASSERT_EQ(column, c);
                    }
                }
            }
            for (int i = 0; i < set.GetCount(); ++i) {
                const TINPoint p = *set.GetPoint(i);
                if (p.id < 0) continue;
                const bool has = std::isfinite(p.x) && std::isfinite(p.y);
                ASSERT_EQ(listed[size_t(i)], has ? 1 : 0) << trial << " " << batch << " " << i;
                if (has) {
                    ASSERT_TRUE(p.x >= set.m_dMinX && p.x <= set.m_dMaxX);
                    ASSERT_TRUE(p.y >= set.m_dMinY && p.y <= set.m_dMaxY);
                }
            }
            for (int q = 0; q < 50; ++q) {
                const int x = int(random() % 400) - 100;
                const int y = int(random() % 300) - 100;
                double nearest = 15.0 * 15.0;
                for (int i = 0; i < set.GetCount(); ++i) {
                    const TINPoint p = *set.GetPoint(i);
                    if (p.id >= 0)
                        nearest = std::min(nearest, (p.x - x) * (p.x - x) + (p.y - y) * (p.y - y));
                }
                const int found = set.FindNearest(x, y, 15.0);
                if (nearest == 15.0 * 15.0) {
                    ASSERT_EQ(found, -1);
                } else {
                    ASSERT_GE(found, 0);
                    const TINPoint p = *set.GetPoint(found);
                    ASSERT_EQ((p.x - x) * (p.x - x) + (p.y - y) * (p.y - y), nearest);
                }
            }
        }
    }
    CTINPoints none(2);
    EXPECT_EQ(none.MovePoint(-1, 0, 0), -1);
    EXPECT_EQ(none.MovePoint(2, 0, 0), -1);
    EXPECT_EQ(none.MovePoint(1, 5, 6), 1);  // no index: the record and bounds only
    EXPECT_EQ(double(none.GetPoint(1)->x), 5.0);
    EXPECT_EQ(none.m_dMaxX, 5.0);
}

// ---------------------------------------------------------------- searches

TEST(TINPointsSearch, NearestReachesNeighbourCellsAndNeedsStrictlyLess) {
    CTINPoints set(4);
    // 200-point density over (0,100)x(0,50): 5-unit cells.
    Fill(set, {{12, 12}, {14.9, 12}, {15.2, 12}, {13, 17}}, 0, 100, 0, 50);
    ASSERT_EQ(set.BuildIndex(1), 0);
    set.m_index.Setup(0, 100, 0, 50, 200, 1);
    for (int i = 0; i < 4; ++i) {
        const TINPoint p = *set.GetPoint(i);
        ASSERT_EQ(set.m_index.Insert(p.x, p.y, i), 1);
    }
    EXPECT_EQ(set.FindNearest(14, 12, 2.0), 1);
    EXPECT_EQ(set.FindNearest(14, 12, 0.5), -1);
    // (14.9, 12) is nearer to (15, 12) than (15.2, 12), one cell over.
    EXPECT_EQ(set.FindNearest(15, 12, 0.5), 1);
    EXPECT_EQ(set.FindNearest(15, 12, 0.15), 1);
    EXPECT_EQ(set.FindNearest(10, 17, 3.0), -1);  // (13, 17) lies at exactly 3
    EXPECT_EQ(set.FindNearest(10, 17, 3.0001), 3);
    // An empty cell: the point within the radius next door is found.
    EXPECT_EQ(set.FindNearest(16, 16, 10.0), 3);
    EXPECT_EQ(set.FindNearest(16, 16, 3.0), -1);
    // Outside the grid, and with a radius that covers it all.
    EXPECT_EQ(set.FindNearest(-100, 12, 1e9), 0);
    EXPECT_EQ(set.FindNearest(-100, 12, std::numeric_limits<double>::infinity()), 0);
    EXPECT_EQ(set.FindNearest(-2, 12, 15.0), 0);
    EXPECT_EQ(set.FindNearest(-2, 12, 14.0), -1);
    EXPECT_EQ(set.FindNearest(14, 12, std::nan("")), -1);
    EXPECT_EQ(set.FindNearest(14, 12, 0.0), -1);
    set.GetPoint(1)->id = -1;
    EXPECT_EQ(set.FindNearest(14, 12, 2.0), 2);   // next door at 1.2
    EXPECT_EQ(set.FindNearest(14, 12, 1.1), -1);  // and (12, 12) at 2
    EXPECT_EQ(set.FindNearest(13, 12, 2.0), 0);
    EXPECT_EQ(set.FindNearest(15, 12, 0.5), 2);
}

// Random sets with clusters, repeated positions and deleted records; every
// answer is checked against a scan of all records.
TEST(TINPointsSearch, NearestAgreesWithAFullScanAndKeepsOwnCellAnswers) {
    std::mt19937 random(23);
    for (int trial = 0; trial < 40; ++trial) {
        const int n = 1 + int(random() % 400);
        const double w = 10.0 + double(random() % 500);
        const double h = 10.0 + double(random() % 500);
        std::uniform_real_distribution<double> ux(0, w);
        std::uniform_real_distribution<double> uy(0, h);
        CTINPoints set(n);
        std::vector<std::pair<double, double>> xy(n);
        for (int i = 0; i < n; ++i) {
            if (i > 0 && random() % 5 == 0) {
                xy[i] = xy[random() % i];  // same position as an earlier point
            } else if (random() % 3 == 0) {
                xy[i] = {std::floor(ux(random)), std::floor(uy(random))};  // on cell corners
            } else {
                xy[i] = {ux(random), uy(random)};
            }
        }
        Fill(set, xy, 0, w, 0, h);
        ASSERT_EQ(set.BuildIndex(1), 0);
        for (int i = 0; i < n; ++i) {
            if (random() % 7 == 0) set.GetPoint(i)->id = -1;
        }
        std::uniform_int_distribution<int> qx(int(-0.2 * w), int(1.2 * w));
        std::uniform_int_distribution<int> qy(int(-0.2 * h), int(1.2 * h));
        std::uniform_real_distribution<double> radius(0.0, 0.15 * (w + h));
        for (int q = 0; q < 400; ++q) {
            const int x = qx(random);
            const int y = qy(random);
            const double r = q % 10 == 0 ? 1e6 : radius(random);
            double nearest = r * r;
            int count = 0;
            for (int i = 0; i < set.GetCount(); ++i) {
                const TINPoint p = *set.GetPoint(i);
                if (p.id < 0) continue;
                const double d = (p.x - x) * (p.x - x) + (p.y - y) * (p.y - y);
                if (d < nearest) {
                    nearest = d;
                    count = 1;
                } else if (d == nearest && count > 0) {
                    ++count;
                }
            }
            const int found = set.FindNearest(x, y, r);
            if (count == 0) {
                ASSERT_EQ(found, -1) << trial << " " << x << " " << y << " " << r;
                continue;
            }
            ASSERT_GE(found, 0) << trial << " " << x << " " << y << " " << r;
            const TINPoint p = *set.GetPoint(found);
            EXPECT_EQ((p.x - x) * (p.x - x) + (p.y - y) * (p.y - y), nearest);
            // Where the old search found a nearest point, the answer is the same.
            const int own = tintest::NearestInOwnCell(set, x, y, r);
            if (own >= 0) {
                const TINPoint o = *set.GetPoint(own);
                if ((o.x - x) * (o.x - x) + (o.y - y) * (o.y - y) == nearest) {
                    EXPECT_EQ(found, own);
                }
            }
        }
    }
}

TEST(TINPointsSearch, NeighbourWalksCellsAndStopsAtTheEdge) {
    CTINPoints set(5);
    Fill(set, {{10, 10}, {13, 10.5}, {40, 11}, {12, 9}, {10, 45}}, 0, 100, 0, 50);
    set.SetSpacing(2.0, 2.0);
    set.m_index.Setup(0, 100, 0, 50, 200, 1);
    EXPECT_EQ(set.FindNeighbour(0, 1), -1);  // no cells
    ASSERT_EQ(set.BuildIndex(1), 0);

    // Point 3 is nearer along x but its score (2 + 1/2) loses to point 1 (3 + 0.25).
    EXPECT_EQ(set.FindNeighbour(0, 1), 3);
    set.GetPoint(3)->id = -1;
    EXPECT_EQ(set.FindNeighbour(0, 1), 1);
    // From the right-most point: walks to the last column, then -4.
    EXPECT_EQ(set.FindNeighbour(2, 1), -4);
    EXPECT_EQ(set.FindNeighbour(1, 1), 2);  // found cells away
    EXPECT_EQ(set.FindNeighbour(1, 0), 0);
    EXPECT_EQ(set.FindNeighbour(0, 2), -4);  // nothing below within the tolerance
    EXPECT_EQ(set.FindNeighbour(0, 3), 4);   // several cells up
    EXPECT_EQ(set.FindNeighbour(4, 2), 0);
    EXPECT_EQ(set.FindNeighbour(4, 3), -4);
    EXPECT_EQ(set.FindNeighbour(0, 4), -3);
    EXPECT_EQ(set.FindNeighbour(0, -1), -3);
    EXPECT_EQ(set.FindNeighbour(99, 0), -2);

    Platform::ScopedMessageCapture capture;
    set.SetPoint(0, std::nan(""), 10, 0);
    EXPECT_EQ(set.FindNeighbour(0, 1), -2);
    EXPECT_TRUE(capture.Messages().empty());
}

TEST(TINPointsSearch, RectangleExcludesRightAndBottomEdges) {
    CTINPoints set(7);
    Fill(set, {{2, 2}, {10, 5}, {9.9, 5}, {5, 8.7}, {5, 9}, {-0.5, 3}, {10.9, 3}}, -5, 100, 0, 50);
    ASSERT_EQ(set.BuildIndex(1), 0);
    std::vector<int> ids;
    // Truncated corners: (0, 2) - (10, 9); x 9.9 -> 9 in, 10 out; y 8.7 -> 8 in,
    // 9 out; x -0.5 -> 0 in.
    SelectionShape rect{0, 0, {10.8, 9.6, 0.3, 2.2}};
    EXPECT_EQ(set.SelectInShape(rect, ids), 1);
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, (std::vector<int>{0, 2, 3, 5}));

    // Deleted through RemovePoint: gone from the index and never selected.
    ASSERT_EQ(set.RemovePoint(2), 1);
    ids.clear();
    set.SelectInShape(rect, ids);
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, (std::vector<int>{0, 3, 5}));

    // Corners that are not numbers select nothing; huge ones select all.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    ids.clear();
    EXPECT_EQ(set.SelectInShape({0, 0, {nan, 0, 100, 100}}, ids), 1);
    EXPECT_TRUE(ids.empty());
    EXPECT_EQ(set.SelectInShape({0, 0, {-1e300, -1e300, 1e300, 1e300}}, ids), 1);
    EXPECT_EQ(ids.size(), 6u);
    ids.clear();
    EXPECT_EQ(set.SelectInShape({0, 0, {1, 2}}, ids), 1);            // too few values
    EXPECT_EQ(set.SelectInShape({5, 0, {0, 0, 100, 100}}, ids), 1);  // unknown kind
    EXPECT_TRUE(ids.empty());
}

TEST(TINPointsSearch, PolygonSelectsEdgesWhateverItsWindingAndNeedsFourVertices) {
    CTINPoints set(5);
    Fill(set, {{5, 5}, {15, 5}, {10, 0}, {2, 8}, {0, 5}}, 0, 20, 0, 10);
    ASSERT_EQ(set.BuildIndex(1), 0);
    std::vector<int> ids;
    EXPECT_EQ(set.SelectInShape({1, 3, {0, 0, 10, 0, 10, 10}}, ids), -1);
    EXPECT_EQ(set.SelectInShape({1, 4, {0, 0, 10, 0, 10, 10}}, ids), -1);  // count beyond coords
    EXPECT_TRUE(ids.empty());

    // A square either way round: the interior and the points on its edges.
    for (const std::vector<double>& square :
         {std::vector<double>{0, 0, 10, 0, 10, 10, 0, 10, 0, 0},
          std::vector<double>{0, 0, 0, 10, 10, 10, 10, 0, 0, 0}}) {
        ids.clear();
        EXPECT_EQ(set.SelectInShape({1, 5, square}, ids), 1);
        std::sort(ids.begin(), ids.end());
        EXPECT_EQ(ids, (std::vector<int>{0, 2, 3, 4}));
    }

    // A polygon away from every point.
    ids.clear();
    EXPECT_EQ(set.SelectInShape({1, 5, {50, 50, 60, 50, 60, 60, 50, 60, 50, 50}}, ids), 1);
    EXPECT_TRUE(ids.empty());
}

// An L around a building and a river bend: the points in the pockets stay
// out, the points in the arms are in.
TEST(TINPointsSearch, ConcavePolygonsSelectTheirOwnArea) {
    // A lattice at x, y = 0.5 .. 19.5.
    CTINPoints set(400);
    std::vector<std::pair<double, double>> xy;
    for (int i = 0; i < 400; ++i) xy.push_back({0.5 + i % 20, 0.5 + i / 20});
    Fill(set, xy, 0, 20, 0, 20);
    ASSERT_EQ(set.BuildIndex(1), 0);
    const std::vector<double> ell = {2, 2, 18, 2, 18, 6, 6, 6, 6, 18, 2, 18, 2, 2};
    // Clockwise through the bend: three arms around a pocket that opens upwards.
    const std::vector<double> bend = {1, 1, 1, 15, 5, 15, 5, 5, 14, 5, 14, 15, 19, 15, 19, 1, 1, 1};
    struct Case {
        std::vector<double> coords;
        bool (*expected)(double x, double y);
    };
    const Case cases[] = {
        {ell, [](double x, double y) { return (y < 6 || x < 6) && x < 18 && y < 18; }},
        {bend, [](double x, double y) { return x < 19 && y < 15 && !(x > 5 && x < 14 && y > 5); }}};
    for (const Case& c : cases) {
        const std::vector<double>& coords = c.coords;
        const auto expected = c.expected;
        std::vector<int> ids;
        ASSERT_EQ(set.SelectInShape({1, int(coords.size() / 2), coords}, ids), 1);
        std::sort(ids.begin(), ids.end());
        std::vector<int> want;
        for (int i = 0; i < 400; ++i) {
            const double x = xy[size_t(i)].first;
            const double y = xy[size_t(i)].second;
            if (x > coords[0] && y > coords[1] && expected(x, y)) want.push_back(i);
        }
        EXPECT_EQ(ids, want);
    }
}

namespace {

// Winding number of a closed polygon around p by adding up the angles its
// edges subtend at p.
int WindingByAngles(const PointXY& p, const std::vector<PointXY>& v) {
    double sum = 0.0;
    for (size_t k = 0; k + 1 < v.size(); ++k) {
        const double a = std::atan2(v[k].y - p.y, v[k].x - p.x);
        const double b = std::atan2(v[k + 1].y - p.y, v[k + 1].x - p.x);
        double d = b - a;
        while (d > M_PI) d -= 2 * M_PI;
        while (d < -M_PI) d += 2 * M_PI;
        sum += d;
    }
    return int(std::lround(sum / (2 * M_PI)));
}

// Distance from p to the polygon's outline.
double DistanceToOutline(const PointXY& p, const std::vector<PointXY>& v) {
    double best = 1e300;
    for (size_t k = 0; k + 1 < v.size(); ++k) {
        const double dx = v[k + 1].x - v[k].x;
        const double dy = v[k + 1].y - v[k].y;
        const double len = dx * dx + dy * dy;
        double t = len > 0 ? ((p.x - v[k].x) * dx + (p.y - v[k].y) * dy) / len : 0.0;
        t = std::clamp(t, 0.0, 1.0);
        best = std::min(best, std::hypot(p.x - v[k].x - t * dx, p.y - v[k].y - t * dy));
    }
    return best;
}

}  // namespace

// Random convex polygons of either orientation: the general test answers as
// the convex turn test did for every point off the outline. Random simple
// concave polygons (star-shaped around a centre): the selection equals the
// points the angle sum finds inside.
TEST(TINPointsSearch, PolygonTestAgreesWithTheTurnTestAndWithAngleSums) {
    std::mt19937 random(17);
    std::uniform_real_distribution<double> u(0.0, 100.0);
    for (int trial = 0; trial < 300; ++trial) {
        // Convex hull of random points (monotone chain), counter-clockwise.
        std::vector<PointXY> cloud(3 + random() % 30);
        for (auto& c : cloud) c = {u(random), u(random)};
        std::sort(cloud.begin(), cloud.end(), [](const PointXY& a, const PointXY& b) {
            return a.x < b.x || (a.x == b.x && a.y < b.y);
        });
        std::vector<PointXY> hull;
        for (int pass = 0; pass < 2; ++pass) {
            const size_t start = hull.size();
            for (const PointXY& c : cloud) {
                while (hull.size() >= start + 2 &&
                       Cross(hull[hull.size() - 2], hull.back(), c) <= 0) {
                    hull.pop_back();
                }
                hull.push_back(c);
            }
            hull.pop_back();
            std::reverse(cloud.begin(), cloud.end());
        }
        if (hull.size() < 3) continue;
        std::rotate(hull.begin(), hull.begin() + long(random() % hull.size()), hull.end());
        if (trial % 2 == 1) std::reverse(hull.begin(), hull.end());
        hull.push_back(hull.front());
        const bool orientation = IsRightTurn(hull[0], hull[1], hull[2]);
        for (int q = 0; q < 200; ++q) {
            const PointXY p{u(random) * 1.2 - 10, u(random) * 1.2 - 10};
            if (DistanceToOutline(p, hull) < 1e-6) continue;
            ASSERT_EQ(InsidePolygon(p, hull.data(), int(hull.size())),
                      InsideConvex(p, hull.data(), int(hull.size()), orientation) >= 0);
        }
    }

    CTINPoints set(3000);
    std::vector<std::pair<double, double>> xy(3000);
    for (auto& p : xy) p = {u(random), u(random)};
    Fill(set, xy, 0, 100, 0, 100);
    ASSERT_EQ(set.BuildIndex(1), 0);
    int pocketsSeen = 0;
    for (int trial = 0; trial < 200; ++trial) {
        const PointXY centre{20 + u(random) * 0.6, 20 + u(random) * 0.6};
        std::vector<double> angles(4 + random() % 20);
        for (double& a : angles) a = u(random) * 2 * M_PI / 100.0;
        std::sort(angles.begin(), angles.end());
        std::vector<PointXY> polygon;
        for (double a : angles) {
            const double r = 2 + u(random) * 0.3;
            polygon.push_back({centre.x + r * std::cos(a), centre.y + r * std::sin(a)});
        }
        if (trial % 2 == 1) std::reverse(polygon.begin(), polygon.end());
        polygon.push_back(polygon.front());
        SelectionShape shape{1, int(polygon.size()), {}};
        for (const PointXY& v : polygon) {
            shape.coords.push_back(v.x);
            shape.coords.push_back(v.y);
        }
        std::vector<int> ids;
        ASSERT_EQ(set.SelectInShape(shape, ids), 1);
        std::sort(ids.begin(), ids.end());
        const bool orientation = IsRightTurn(polygon[0], polygon[1], polygon[2]);
        double reach = 0;
        for (const PointXY& v : polygon)
            reach = std::max(reach, std::hypot(v.x - centre.x, v.y - centre.y));
        for (int i = 0; i < set.GetCount(); ++i) {
            const PointXY p{xy[size_t(i)].first, xy[size_t(i)].second};
            // Every vertex lies within `reach` of the centre, and so does the
            // polygon (the disc is convex): points beyond need no angle sum.
            if (std::hypot(p.x - centre.x, p.y - centre.y) > reach + 1e-3) {
                ASSERT_FALSE(std::binary_search(ids.begin(), ids.end(), i)) << trial << " " << i;
                continue;
            }
            if (DistanceToOutline(p, polygon) < 1e-6) continue;
            const bool inside = WindingByAngles(p, polygon) != 0;
            ASSERT_EQ(std::binary_search(ids.begin(), ids.end(), i), inside) << trial << " " << i;
            if (inside && InsideConvex(p, polygon.data(), int(polygon.size()), orientation) < 0) {
                ++pocketsSeen;  // the turn test would have left it out
            }
        }
    }
    EXPECT_GT(pocketsSeen, 100);
}

TEST(TINPointsSearch, StaleKeysAfterCompactNeverReadBeyondTheRecords) {
    CTINPoints set(4);
    Fill(set, {{1, 1}, {2, 2}, {3, 3}, {4, 4}}, 0, 10, 0, 10);
    ASSERT_EQ(set.BuildIndex(1), 0);
    set.GetPoint(0)->id = -1;
    set.GetPoint(1)->id = -1;
    set.Compact();  // the index still holds keys 2 and 3
    ASSERT_EQ(set.GetCount(), 2);
    std::vector<int> ids;
    set.SelectInShape({0, 0, {0, 0, 10, 10}}, ids);
    for (int id : ids) EXPECT_GE(id, 2);
    EXPECT_LT(set.FindNearest(4, 4, 5.0), 2);
}

}  // namespace

namespace {

TEST(TINPointsSwap, RecordsBoundsAndIndexChangePlaces) {
    CTINPoints fresh(3);
    Fill(fresh, {{1, 1}, {5, 5}, {9, 5.5}}, 0, 10, 0, 10);
    fresh.SetSpacing(1.5, 2.5);
    ASSERT_EQ(fresh.BuildIndex(1), 0);
    CTINPoints current;
    current.Swap(fresh);
    EXPECT_EQ(fresh.GetCount(), 0);
    EXPECT_EQ(fresh.GetIndex(), nullptr);
    EXPECT_EQ(current.GetCount(), 3);
    EXPECT_EQ(current.m_dMaxX, 10.0);
    double sx = 0;
    double sy = 0;
    current.GetSpacing(&sx, &sy);
    EXPECT_EQ(sx, 1.5);
    ASSERT_NE(current.GetIndex(), nullptr);
    EXPECT_EQ(current.FindNearest(5, 5, 1.0), 1);
    EXPECT_EQ(current.FindNeighbour(1, 1), 2);
}

}  // namespace

TEST(TINPointsIndex, PlacedIndexLeavesOutRecordsWithoutPositionSilently) {
    CTINPoints set(4);
    set.m_dMinX = 0, set.m_dMaxX = 10, set.m_dMinY = 0, set.m_dMaxY = 10;
    set.SetPoint(0, 1.0, 1.0, 0);
    set.SetPoint(1, std::nan(""), 2.0, 1);
    set.SetPoint(2, 5.0, std::numeric_limits<double>::infinity(), 2);
    set.SetPoint(3, 8.0, 8.0, 3);
    Platform::ScopedMessageCapture capture;
    EXPECT_EQ(set.BuildPlacedIndex(1), 0);
    EXPECT_TRUE(capture.Messages().empty());
    EXPECT_EQ(set.FindNearest(8, 8, 2.0), 3);
    EXPECT_EQ(set.FindNearest(1, 1, 2.0), 0);
    std::vector<int> ids;
    SelectionShape all;
    all.kind = 0;
    all.coords = {0, 0, 11, 11};
    set.SelectInShape(all, ids);
    EXPECT_EQ(ids, (std::vector<int>{0, 3}));
    // The ground set's build stays strict: it stops at the first such record.
    EXPECT_EQ(set.BuildIndex(1), -1);
    EXPECT_EQ(capture.Messages().size(), 1u);
}
