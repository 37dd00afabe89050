#include "Checking/CheckStatuses.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "testing/CheckingTestSupport.h"
#include "testing/PlatformTestSupport.h"

namespace {

namespace fs = std::filesystem;
using platformtest::SlurpText;
using platformtest::SpitText;

double Flat(double, double) {
    return 250.0;
}

// A folder with a points file of 30 x 20 records, removed afterwards.
class CheckStatusesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(m_dir.Path().empty());
        m_points = m_dir / "points.pts";
        checktest::MakeGrid(m_set, 30, 20, 2.0, 0.3, 0.05, Flat, 31);
        ASSERT_EQ(m_set.WritePts(m_points), 600);
    }

    platformtest::TempDir m_dir{"check_statuses"};
    std::string m_points;
    CTINPoints m_set;
};

// Statuses written beside the points file read back as they were, through
// the file; the points file is not touched and no temporary file is left.
TEST_F(CheckStatusesTest, RoundTripThroughTheSidecar) {
    const std::string pointsBytes = SlurpText(m_points);
    CCheckStatuses statuses(600);
    std::mt19937 random(1);
    for (int i = 0; i < 600; ++i) {
        const unsigned r = random() % 10;
        statuses.Set(i, r == 0  ? CheckState::Edited
                        : r < 4 ? CheckState::Checked
                                : CheckState::Unchecked);
    }
    EXPECT_EQ(statuses.Set(600, CheckState::Checked), -1);
    EXPECT_EQ(statuses.Set(-1, CheckState::Checked), -1);
    ASSERT_EQ(statuses.Save(m_points), 1);
    EXPECT_EQ(CCheckStatuses::SidecarPath(m_points), m_points + ".check.csv");
    EXPECT_EQ(SlurpText(m_points), pointsBytes);
    int files = 0;
    for (const auto& entry : fs::directory_iterator(m_dir.Path())) files += entry.is_regular_file();
    EXPECT_EQ(files, 2);

    CCheckStatuses back;
    ASSERT_EQ(back.Load(m_points), 1);
    ASSERT_EQ(back.GetCount(), 600);
    for (int i = 0; i < 600; ++i) ASSERT_EQ(back.Get(i), statuses.Get(i)) << i;
    EXPECT_EQ(back.CountOf(CheckState::Edited), statuses.CountOf(CheckState::Edited));

    // The file states the count, bounds and records' checksum of the points
    // file on its first line.
    const std::string text = SlurpText(CCheckStatuses::SidecarPath(m_points));
    EXPECT_EQ(text.rfind("# orvane-check 2 count=600 minx=", 0), 0u) << text.substr(0, 80);
    EXPECT_NE(text.find("\nrecord,status\n"), std::string::npos);
}

// No sidecar: all unchecked. A sidecar of another state of the points file
// (another count, or other bounds) or one that is not in the format is
// ignored with its own result, and everything is unchecked.
TEST_F(CheckStatusesTest, MismatchedOrBrokenSidecarsAreIgnored) {
    CCheckStatuses statuses;
    EXPECT_EQ(statuses.Load(m_points), 0);
    EXPECT_EQ(statuses.GetCount(), 600);
    statuses.Set(10, CheckState::Checked);
    ASSERT_EQ(statuses.Save(m_points), 1);

    // The points file saved again with one record fewer.
    m_set.GetPoint(3)->id = -1;
    m_set.Compact();
    ASSERT_EQ(m_set.WritePts(m_points), 599);
    CCheckStatuses other;
    other.Set(0, CheckState::Edited);
    EXPECT_EQ(other.Load(m_points), -2);
    EXPECT_EQ(other.GetCount(), 599);
    EXPECT_EQ(other.CountOf(CheckState::Unchecked), 599);

    // Same count, other bounds.
    CTINPoints moved;
    checktest::MakeGrid(moved, 30, 20, 2.0, 0.3, 0.05, Flat, 31, 500001.0);
    ASSERT_EQ(moved.WritePts(m_points), 600);
    EXPECT_EQ(other.Load(m_points), -2);

    // The matching points file again, with broken sidecars.
    ASSERT_EQ(m_set.WritePts(m_points), 599);
    ASSERT_EQ(CCheckStatuses(599).Save(m_points), 1);
    const std::string sidecar = CCheckStatuses::SidecarPath(m_points);
    const std::string good = SlurpText(sidecar);
    EXPECT_EQ(other.Load(m_points), 1);
    for (const std::string& bad :
         {std::string(""), std::string("hello\n"), good + "12,maybe\n", good + "599,checked\n",
          good + "-1,checked\n", good + "x,checked\n",
          good.substr(0, good.find('\n') + 1) + "index,state\n",
          good + std::string(5000, '7') + ",checked\n"}) {
        SpitText(sidecar, bad);
        other.Set(1, CheckState::Edited);
        EXPECT_EQ(other.Load(m_points), -3) << bad;
        EXPECT_EQ(other.CountOf(CheckState::Unchecked), 599);
    }
    // A sidecar that is no regular file is not read (a named pipe would block).
    fs::remove(sidecar);
    ASSERT_EQ(mkfifo(sidecar.c_str(), 0600), 0);
    EXPECT_EQ(other.Load(m_points), -3);
    fs::remove(sidecar);
    fs::create_symlink("/dev/zero", sidecar);
    EXPECT_EQ(other.Load(m_points), -3);
    fs::remove(sidecar);
    // A points file that cannot be read: nothing changes.
    other.Set(2, CheckState::Checked);
    EXPECT_EQ(other.Load(m_dir / "missing.pts"), -1);
    EXPECT_EQ(other.Get(2), CheckState::Checked);
    EXPECT_EQ(other.Save(m_dir / "missing.pts"), -1);
    // Fewer statuses than the file has records.
    EXPECT_EQ(CCheckStatuses(10).Save(m_points), -2);
}

// A save that compacts the set renumbers the records: the statuses follow
// their records through the map, and the sidecar written for the new file
// matches it.
TEST_F(CheckStatusesTest, RemapFollowsACompactingSave) {
    CCheckStatuses statuses(600);
    for (int i = 0; i < 600; i += 7) statuses.Set(i, CheckState::Checked);
    for (int i = 0; i < 600; i += 11) statuses.Set(i, CheckState::Edited);
    std::vector<CheckState> before;
    for (int i = 0; i < 600; ++i) before.push_back(statuses.Get(i));
    for (int i = 0; i < 600; i += 5) m_set.GetPoint(i)->id = -1;

    const std::vector<int> map = CompactionMap(m_set);
    ASSERT_EQ(statuses.Remap(map), 1);
    m_set.Compact();
    ASSERT_EQ(statuses.GetCount(), m_set.GetCount());
    ASSERT_EQ(m_set.GetCount(), 480);
    for (int i = 0; i < 600; ++i) {
        if (i % 5 == 0) {
            EXPECT_EQ(map[i], -1);
        } else {
            EXPECT_EQ(statuses.Get(map[i]), before[i]) << i;
        }
    }
    ASSERT_EQ(m_set.WritePts(m_points), 480);
    ASSERT_EQ(statuses.Save(m_points), 1);
    CCheckStatuses back;
    EXPECT_EQ(back.Load(m_points), 1);
    EXPECT_EQ(back.CountOf(CheckState::Edited), statuses.CountOf(CheckState::Edited));

    // Maps that are not a compaction are refused.
    EXPECT_EQ(back.Remap(std::vector<int>(479, 0)), -1);
    std::vector<int> swapped(480);
    for (int i = 0; i < 480; ++i) swapped[i] = i;
    std::swap(swapped[3], swapped[4]);
    EXPECT_EQ(back.Remap(swapped), -1);
    EXPECT_EQ(back.GetCount(), 480);
}

TEST_F(CheckStatusesTest, PointsFileKeyFollowsTheHeader) {
    PointsFileKey key;
    ASSERT_EQ(ReadPointsFileKey(m_points, key), 1);
    EXPECT_EQ(key.count, 600);
    EXPECT_EQ(key.minX, m_set.m_dMinX);
    EXPECT_EQ(key.maxY, m_set.m_dMaxY);
    EXPECT_EQ(ReadPointsFileKey(m_dir / "missing.pts", key), -1);
    SpitText(m_dir / "short.pts", "abc");
    EXPECT_EQ(ReadPointsFileKey(m_dir / "short.pts", key), -5);
    // Max X not above min X, as the points reader says it.
    CTINPoints bad;
    checktest::MakeGrid(bad, 3, 3, 2.0, 0.0, 0.0, Flat, 1);
    bad.m_dMaxX = bad.m_dMinX;
    ASSERT_EQ(bad.WritePts(m_dir / "bad.pts"), 9);
    EXPECT_EQ(ReadPointsFileKey(m_dir / "bad.pts", key), -2);
    EXPECT_EQ(CTINPoints().ReadPts(m_dir / "bad.pts"), -2);
    // A count the file cannot hold is refused before anything is sized by it.
    std::string text = SlurpText(m_points);
    const int32_t huge = 2000000000;
    std::memcpy(text.data(), &huge, 4);
    SpitText(m_dir / "huge.pts", text);
    EXPECT_EQ(ReadPointsFileKey(m_dir / "huge.pts", key), -5);
    CCheckStatuses statuses(3);
    EXPECT_EQ(statuses.Load(m_dir / "huge.pts"), -1);
    EXPECT_EQ(statuses.GetCount(), 3);
}

}  // namespace
