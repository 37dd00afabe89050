// Points files with heights that are not finite numbers. Such a height loaded
// without complaint, but it projects nowhere: the first such point stopped the
// photographs' image-point index, so every later point could no longer be
// drawn or picked, and a plane fit over it spread NaN into every selected
// height. The reader now refuses the file.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "Platform/FileHandle.h"
#include "TIN/TINPoints.h"

namespace {

using Platform::FilePtr;

// A points file of `heights.size()` records on a line, x = 10 + i, y = 20,
// weight 1, in an anonymous temporary file positioned at its start.
FilePtr PointsFile(const std::vector<double>& heights) {
    FilePtr f(std::tmpfile());
    EXPECT_TRUE(f);
    const int32_t n = static_cast<int32_t>(heights.size());
    const double header[6] = {10.0, 21.0, 10.0 + n, 19.0, 1.0, 1.0};
    std::fwrite(&n, sizeof n, 1, f.get());
    std::fwrite(header, sizeof header, 1, f.get());
    for (size_t i = 0; i < heights.size(); ++i) {
        const double record[4] = {10.0 + static_cast<double>(i), 20.0, heights[i], 1.0};
        std::fwrite(record, sizeof record, 1, f.get());
    }
    std::rewind(f.get());
    return f;
}

}  // namespace

TEST(TINPointsFuzzRegress, HeightsThatAreNotFiniteRefuseTheFile) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<std::vector<double>> bad = {
        {nan, 1.0, 2.0}, {1.0, nan, 2.0}, {1.0, 2.0, nan}, {1.0, inf, 2.0}, {-inf, 1.0}, {nan},
    };
    // Many records, the bad one far behind the first staging chunk.
    bad.emplace_back(40000, 5.0);
    bad.back()[39000] = nan;
    for (size_t k = 0; k < bad.size(); ++k) {
        CTINPoints set;
        FilePtr good = PointsFile({1.0, 2.0});
        ASSERT_EQ(set.ReadPts(good.get()), 1);
        FilePtr f = PointsFile(bad[k]);
        EXPECT_EQ(set.ReadPts(f.get()), -6) << k;
        EXPECT_EQ(set.GetCount(), 0) << k;
        EXPECT_EQ(set.GetPoint(0), nullptr) << k;
    }

    // Large but finite heights are heights.
    CTINPoints set;
    FilePtr f = PointsFile({1e300, -1e300, 0.0});
    ASSERT_EQ(set.ReadPts(f.get()), 1);
    EXPECT_EQ(set.m_dMinZ, -1e300);
    EXPECT_EQ(set.m_dMaxZ, 1e300);
}
