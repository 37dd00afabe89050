#include "TIN/GridIndex.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "Platform/Platform.h"

namespace {

const char* const kOutsideText = "There is error in points extension!!";

std::vector<int> Keys(const CGridIndex& index, int row, int column) {
    const CGridIndex::KeyList list = index.CellKeys(row, column);
    return std::vector<int>(list.begin(), list.end());
}

TEST(GridIndexSetup, CellSizeAndDimensionsFollowThePointDensity) {
    CGridIndex index;
    EXPECT_EQ(index.Setup(0, 100, 0, 50, 200, 1), 0);
    EXPECT_DOUBLE_EQ(index.m_dCellSize, 5.0);
    EXPECT_EQ(index.m_nCols, 21);
    EXPECT_EQ(index.m_nRows, 11);
    int column = 0;
    int row = 0;
    EXPECT_EQ(index.CellOf(100, 50, column, row), 1);
    EXPECT_EQ(column, 20);
    EXPECT_EQ(row, 10);
    EXPECT_DOUBLE_EQ(index.m_dMinX, 0);
    EXPECT_DOUBLE_EQ(index.m_dMaxX, 100);
    EXPECT_DOUBLE_EQ(index.m_dMinY, 0);
    EXPECT_DOUBLE_EQ(index.m_dMaxY, 50);

    // A vertical line of points: one column, the size from the height alone.
    EXPECT_EQ(index.Setup(3, 3, 0, 10, 5, 1), 0);
    EXPECT_EQ(index.m_nCols, 1);
    EXPECT_DOUBLE_EQ(index.m_dCellSize, 2.0);
    EXPECT_EQ(index.m_nRows, 6);

    EXPECT_EQ(index.Setup(0, 10, 4, 4, 5, 1), 0);
    EXPECT_EQ(index.m_nRows, 1);
    EXPECT_DOUBLE_EQ(index.m_dCellSize, 2.0);
    EXPECT_EQ(index.m_nCols, 6);
}

TEST(GridIndexSetup, DegenerateInputsGiveAUsableGrid) {
    CGridIndex index;
    // No points, and every point at one position: no division by zero.
    for (int n : {0, -3}) {
        index.Setup(0, 100, 0, 50, n, 1);
        EXPECT_TRUE(std::isfinite(index.m_dCellSize) && index.m_dCellSize > 0);
        EXPECT_GE(index.m_nCols, 1);
        EXPECT_GE(index.m_nRows, 1);
        EXPECT_EQ(index.Insert(100, 50, 7), 1);
    }
    index.Setup(7, 7, 9, 9, 1000, 1);
    EXPECT_DOUBLE_EQ(index.m_dCellSize, 1.0);
    EXPECT_EQ(index.m_nCols, 1);
    EXPECT_EQ(index.m_nRows, 1);
    EXPECT_EQ(index.Insert(7, 9, 3), 1);
    EXPECT_EQ(Keys(index, 0, 0), std::vector<int>{3});

    // A zero points-per-cell target is treated as one.
    index.Setup(0, 100, 0, 50, 200, 0);
    EXPECT_DOUBLE_EQ(index.m_dCellSize, 5.0);

    // Unusable bounds still give a finite one-cell grid, and nothing fits it.
    index.Setup(std::nan(""), 1, 0, std::numeric_limits<double>::infinity(), 10, 1);
    EXPECT_EQ(index.m_nCols, 1);
    EXPECT_EQ(index.m_nRows, 1);
    Platform::ScopedMessageCapture capture;
    EXPECT_EQ(index.Insert(0.5, 0.5, 1), -2);

    // A hair-thin box would ask for trillions of cells; the grid stays near
    // the point count instead.
    index.Setup(0, 1e6, 0, 1e-12, 1000, 1);
    EXPECT_GE(index.m_nCols, 1);
    EXPECT_GE(index.m_nRows, 1);
    EXPECT_LE(int64_t(index.m_nCols) * index.m_nRows, 4 * 1000 + 65536);
    EXPECT_EQ(index.Insert(1e6, 1e-12, 1), 1);
}

TEST(GridIndexSetup, SetupReleasesExistingCells) {
    CGridIndex index;
    index.Setup(0, 100, 0, 50, 200, 1);
    ASSERT_EQ(index.Insert(50, 25, 1), 1);
    ASSERT_TRUE(index.HasCells());
    index.Setup(0, 10, 0, 10, 4, 1);
    EXPECT_FALSE(index.HasCells());
    EXPECT_EQ(index.Insert(9, 9, 2), 1);
    std::vector<int> all;
    EXPECT_EQ(index.QueryRect(0, 0, 10, 10, all), 1);
    EXPECT_EQ(all, std::vector<int>{2});
}

TEST(GridIndexCells, AllocateNeedsDimensionsAndFreeDropsEverything) {
    CGridIndex index;
    EXPECT_EQ(index.AllocateCells(), -1);
    EXPECT_FALSE(index.HasCells());
    index.Setup(0, 100, 0, 50, 200, 1);
    EXPECT_EQ(index.AllocateCells(), 0);
    EXPECT_TRUE(index.HasCells());
    EXPECT_EQ(index.CellKeys(3, 4).size, 0);
    index.FreeCells();
    EXPECT_FALSE(index.HasCells());
    EXPECT_EQ(index.MemoryBytes(), 0);
}

TEST(GridIndexInsert, OutsideTheGridIsReportedAndRefused) {
    CGridIndex index;
    index.Setup(0, 100, 0, 50, 200, 1);
    Platform::ScopedMessageCapture capture;
    // Truncation toward zero keeps a position less than a cell before the
    // origin in column 0.
    EXPECT_EQ(index.Insert(-0.4 * 5.0, 0, 1), 1);
    EXPECT_EQ(Keys(index, 0, 0), std::vector<int>{1});
    EXPECT_TRUE(capture.Messages().empty());

    EXPECT_EQ(index.Insert(-1.2 * 5.0, 0, 2), -2);
    ASSERT_EQ(capture.Messages().size(), 1u);
    EXPECT_EQ(capture.Messages()[0].text, kOutsideText);
    EXPECT_EQ(capture.Messages()[0].kind, Platform::MessageKind::Exclamation);
    ASSERT_EQ(capture.Traces().size(), 1u);
    EXPECT_EQ(capture.Traces()[0], "0.000000 0.000000 0 -1\n");
    EXPECT_EQ(Keys(index, 0, 0), std::vector<int>{1});

    EXPECT_EQ(index.Insert(105, 10, 3), -2);  // column 21 of 21
    EXPECT_EQ(capture.Traces().back(), "0.000000 0.000000 2 21\n");
    EXPECT_EQ(index.Remove(50, 55, 1), -2);  // row 11 of 11
    EXPECT_EQ(capture.Messages().size(), 3u);
}

TEST(GridIndexInsert, PositionsThatAreNotNumbersOrTooFarNeverReachACell) {
    CGridIndex index;
    index.Setup(0, 100, 0, 50, 200, 1);
    ASSERT_EQ(index.Insert(1, 1, 1), 1);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    int column = 5;
    int row = 5;
    EXPECT_EQ(index.CellOf(nan, 1, column, row), 1);
    EXPECT_EQ(column, -1);
    EXPECT_EQ(row, -1);
    index.CellOf(1, -inf, column, row);
    EXPECT_EQ(row, -1);
    index.CellOf(1e300, 1, column, row);  // column beyond an int
    EXPECT_EQ(column, -1);

    Platform::ScopedMessageCapture capture;
    EXPECT_EQ(index.Insert(nan, 1, 2), -2);
    EXPECT_EQ(index.Insert(1, inf, 2), -2);
    EXPECT_EQ(index.Insert(1e300, 1e300, 2), -2);
    EXPECT_EQ(index.Insert(-1e300, 1, 2), -2);
    EXPECT_EQ(index.Remove(nan, nan, 1), -2);
    EXPECT_EQ(capture.Messages().size(), 5u);
    EXPECT_EQ(Keys(index, 0, 0), std::vector<int>{1});
}

TEST(GridIndexRemove, FirstOccurrenceGoesAndLaterKeysMoveDown) {
    CGridIndex index;
    index.Setup(0, 100, 0, 50, 200, 1);
    // Without cells a position inside the grid gives -1.
    EXPECT_EQ(index.Remove(1, 1, 1), -1);
    for (int key : {4, 7, 4, 9}) ASSERT_EQ(index.Insert(1, 1, key), 1);
    EXPECT_EQ(index.Remove(1, 1, 4), 1);
    EXPECT_EQ(Keys(index, 0, 0), (std::vector<int>{7, 4, 9}));
    EXPECT_EQ(index.Remove(1, 1, 5), 0);
    EXPECT_EQ(index.Remove(2, 2, 4), 1);
    EXPECT_EQ(Keys(index, 0, 0), (std::vector<int>{7, 9}));
    EXPECT_EQ(index.Remove(1, 1, 4), 0);
}

// Builds the same keys both ways and compares every cell.
TEST(GridIndexBulk, SequenceEqualsInsertInOrderAndStaysEditable) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> ux(0, 100);
    std::uniform_real_distribution<double> uy(0, 50);
    const int n = 3000;
    std::vector<double> xs(n);
    std::vector<double> ys(n);
    for (int i = 0; i < n; ++i) {
        xs[i] = std::floor(ux(random));  // many repeats per cell
        ys[i] = std::floor(uy(random));
    }
    CGridIndex one;
    CGridIndex bulk;
    one.Setup(0, 100, 0, 50, n, 1);
    bulk.Setup(0, 100, 0, 50, n, 1);
    std::vector<uint32_t> cells(n);
    for (int i = 0; i < n; ++i) {
        ASSERT_EQ(one.Insert(xs[i], ys[i], i), 1);
        int c = 0;
        int r = 0;
        bulk.CellOf(xs[i], ys[i], c, r);
        cells[i] = uint32_t(r * bulk.m_nCols + c);
    }
    ASSERT_EQ(bulk.InsertSequence(cells.data(), n), 1);
    for (int r = 0; r < one.m_nRows; ++r) {
        for (int c = 0; c < one.m_nCols; ++c) ASSERT_EQ(Keys(one, r, c), Keys(bulk, r, c));
    }
    EXPECT_LE(bulk.MemoryBytes(), int64_t(n) * 24);

    // Later edits behave the same on both: inserts append, removes close up.
    for (CGridIndex* index : {&one, &bulk}) {
        ASSERT_EQ(index->Insert(xs[0], ys[0], 9999), 1);
        ASSERT_EQ(index->Remove(xs[0], ys[0], 0), 1);
        ASSERT_EQ(index->Remove(xs[5], ys[5], 5), 1);
        ASSERT_EQ(index->Insert(xs[5], ys[5], 5), 1);
    }
    int c = 0;
    int r = 0;
    bulk.CellOf(xs[0], ys[0], c, r);
    EXPECT_EQ(Keys(bulk, r, c).back(), 9999);
    EXPECT_EQ(Keys(bulk, r, c), Keys(one, r, c));
    bulk.CellOf(xs[5], ys[5], c, r);
    EXPECT_EQ(Keys(bulk, r, c).back(), 5);
    EXPECT_EQ(Keys(bulk, r, c), Keys(one, r, c));
    std::vector<int> a;
    std::vector<int> b;
    one.QueryRect(0, 0, 100, 50, a);
    bulk.QueryRect(0, 0, 100, 50, b);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a.size(), size_t(n));

    // A second sequence behind existing keys appends, as Insert would.
    ASSERT_EQ(bulk.InsertSequence(cells.data(), 1), 1);
    bulk.CellOf(xs[0], ys[0], c, r);
    EXPECT_EQ(Keys(bulk, r, c).back(), 0);
}

TEST(GridIndexQuery, RectangleListsTouchedCellsInRowOrder) {
    CGridIndex index;
    index.Setup(0, 100, 0, 50, 200, 1);  // 5-unit cells
    std::vector<int> out;
    // No cells: nothing, but the rectangle is not before the grid.
    EXPECT_EQ(index.QueryRect(0, 0, 10, 10, out), 1);
    EXPECT_TRUE(out.empty());

    index.Insert(1, 1, 10);                           // row 0, column 0
    index.Insert(12, 1, 11);                          // row 0, column 2
    index.Insert(1, 7, 12);                           // row 1, column 0
    index.Insert(60, 40, 13);                         // far away
    EXPECT_EQ(index.QueryRect(12, 9, 0, 0, out), 1);  // corners swapped
    EXPECT_EQ(out, (std::vector<int>{10, 11, 12}));

    out.clear();
    EXPECT_EQ(index.QueryRect(-20, 0, -6, 50, out), 0);  // right edge over a cell left of 0
    EXPECT_EQ(index.QueryRect(0, -20, 50, -6, out), 0);
    EXPECT_EQ(index.QueryRect(-4, -4, 2, 2, out), 1);  // within a cell before: row/column 0
    EXPECT_EQ(out, std::vector<int>{10});
    out.clear();
    EXPECT_EQ(index.QueryRect(200, 0, 300, 50, out), 1);  // wholly beyond the last column
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(index.QueryRect(INT_MIN, INT_MIN, INT_MAX, INT_MAX, out), 1);
    EXPECT_EQ(out.size(), 4u);

    // Tiny cells: corners far beyond an int cell number still clamp.
    CGridIndex fine;
    fine.Setup(0, 1e-6, 0, 1e-6, 100, 1);
    fine.Insert(5e-7, 5e-7, 1);
    out.clear();
    EXPECT_EQ(fine.QueryRect(-1000000, -1000000, 1000000, 1000000, out), 1);
    EXPECT_EQ(out, std::vector<int>{1});
}

TEST(GridIndexQuery, PolygonBoundsNeedThreeVerticesAndClampHugeOnes) {
    CGridIndex index;
    index.Setup(0, 100, 0, 50, 200, 1);
    index.Insert(1, 1, 10);
    index.Insert(12, 1, 11);
    index.Insert(60, 40, 13);
    std::vector<int> out;
    EXPECT_EQ(index.QueryPolygonBounds({0, 0, 10, 0, 0, 0}, out), 0);  // two vertices + repeat
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(index.QueryPolygonBounds({0, 0, 13, 0, 13, 4, 0, 0}, out), 1);
    EXPECT_EQ(out, (std::vector<int>{10, 11}));
    // The closing repeat is not part of the bounds.
    out.clear();
    index.QueryPolygonBounds({11, 0, 13, 0, 13, 4, 1000, 1000}, out);
    EXPECT_EQ(out, std::vector<int>{11});

    out.clear();
    EXPECT_EQ(index.QueryPolygonBounds(
                  {-1e300, -1e300, 1e300, -1e300, 1e300, 1e300, -1e300, -1e300}, out),
              1);
    EXPECT_EQ(out.size(), 3u);
    out.clear();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(index.QueryPolygonBounds({nan, 0, 10, 0, 10, 10, nan, 0}, out), 0);
    EXPECT_TRUE(out.empty());
}

}  // namespace
