#include "TIN/GridIndex.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// The cell of a position is trunc((x - min X) / size) exactly, also at cell
// borders and one unit in the last place beside them, whatever shortcut the
// index takes, for one position or two at once.
TEST(GridIndexCells, CellOfIsTheTruncatedQuotientEverywhere) {
    std::mt19937_64 random(9);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int trial = 0; trial < 200; ++trial) {
        const double minX = (unit(random) - 0.5) * std::pow(10.0, double(random() % 13));
        const double minY = (unit(random) - 0.5) * 1e6;
        const double w = 0.001 + unit(random) * std::pow(10.0, double(random() % 9));
        CGridIndex index;
        index.Setup(minX, minX + w, minY, minY + w, 1 + int(random() % 100000), 1);
        const double size = index.m_dCellSize;
        for (int q = 0; q < 500; ++q) {
            double x = minX + (unit(random) * 1.2 - 0.1) * w;
            if (q % 3 == 0) {  // on a border, or one unit in the last place beside it
                x = minX + std::floor((x - minX) / size) * size;
                if (q % 2 == 0) x = std::nextafter(x, q % 4 == 0 ? 1e300 : -1e300);
            }
            const double y = minY + (unit(random) * 1.2 - 0.1) * w;
            int column = 0;
            int row = 0;
            index.CellOf(x, y, column, row);
            ASSERT_EQ(column, int(std::trunc((x - minX) / size))) << x << " " << size;
            ASSERT_EQ(row, int(std::trunc((y - minY) / size)));
            const double x2 = x + (unit(random) - 0.5) * size;
            const double y2 = q % 5 == 0 ? std::nan("") : y - (unit(random) - 0.5) * size;
            uint32_t first = 0;
            uint32_t second = 0;
            index.CellNumbers(x, y, x2, y2, first, second);
            ASSERT_EQ(first, index.CellNumber(x, y));
            ASSERT_EQ(second, index.CellNumber(x2, y2));
            if (first != CGridIndex::kNoCell) {
                ASSERT_EQ(first, uint32_t(row * index.m_nCols + column));
            }
        }
    }
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

// Long random edit sequences against a plain list per cell: inserts append,
// removes take the first occurrence and close up, moves do both; the runs are
// moved, grown and repacked along the way and every list stays as the model's.
TEST(GridIndexEdit, RandomEditsMatchPlainListsPerCell) {
    std::mt19937 random(5);
    for (int trial = 0; trial < 6; ++trial) {
        const int n = 200 + int(random() % 3000);
        CGridIndex index;
        index.Setup(0, 100, 0, 80, n, 1 + trial % 3);
        const uint32_t cells = uint32_t(index.m_nRows * index.m_nCols);
        std::vector<std::vector<int>> model(cells);
        std::uniform_int_distribution<uint32_t> anyCell(0, cells - 1);
        std::vector<uint32_t> start(n);
        for (int i = 0; i < n; ++i) {
            // Clustered: a few cells receive many keys.
            start[i] = random() % 4 == 0 ? anyCell(random) % 7 : anyCell(random);
            if (trial % 2 == 0) model[start[i]].push_back(i);
        }
        if (trial % 2 == 0) {
            ASSERT_EQ(index.InsertSequence(start.data(), n), 1);
            const int64_t bytes = index.MemoryBytes();
            EXPECT_EQ(bytes, int64_t(cells) * 8 + int64_t(n) * 4);
        } else {
            ASSERT_EQ(index.AllocateCells(), 0);
        }
        std::vector<int> keys(n);
        for (int i = 0; i < n; ++i) keys[i] = i;
        for (int step = 0; step < 20 * n; ++step) {
            const int key = int(random() % uint32_t(n + 5));  // sometimes absent
            const uint32_t op = random() % 10;
            const uint32_t a = random() % 3 == 0 ? anyCell(random) % 5 : anyCell(random);
            const uint32_t b = random() % 3 == 0 ? anyCell(random) % 5 : anyCell(random);
            if (op < 6) {
                const uint32_t from = op == 0 ? CGridIndex::kNoCell : a;
                const uint32_t to = op == 1 ? CGridIndex::kNoCell : b;
                int expected = 1;
                if (from != CGridIndex::kNoCell) {
                    auto& list = model[from];
                    const auto it = std::find(list.begin(), list.end(), key);
                    if (it == list.end()) {
                        expected = 0;
                    } else {
                        list.erase(it);
                    }
                }
                if (to != CGridIndex::kNoCell) model[to].push_back(key);
                ASSERT_EQ(index.MoveKey(from, to, key), expected);
            } else {
                const int row = int(a) / index.m_nCols;
                const int column = int(a) % index.m_nCols;
                const double x = (column + 0.5) * index.m_dCellSize;
                const double y = (row + 0.5) * index.m_dCellSize;
                if (op < 8) {
                    ASSERT_EQ(index.Insert(x, y, key), 1);
                    model[a].push_back(key);
                } else {
                    auto& list = model[a];
                    const auto it = std::find(list.begin(), list.end(), key);
                    const bool present = it != list.end();
                    if (present) list.erase(it);
                    ASSERT_EQ(index.Remove(x, y, key), present ? 1 : 0);
                }
            }
            if (step % (2 * n) == 0 || step == 20 * n - 1) {
                for (uint32_t c = 0; c < cells; ++c) {
                    ASSERT_EQ(Keys(index, int(c) / index.m_nCols, int(c) % index.m_nCols), model[c])
                        << trial << " " << step << " " << c;
                }
            }
        }
        // Space left behind by moved lists is reclaimed: the index stays
        // within a small multiple of what it holds.
        int64_t held = 0;
        for (const auto& list : model) held += int64_t(list.size());
        EXPECT_LE(index.MemoryBytes(), int64_t(cells) * 8 + (4 * held + 4096) * 4);
        EXPECT_EQ(index.MoveKey(cells, 0, 1), -1);  // a cell beyond the grid
        EXPECT_EQ(index.MoveKey(0, cells, 1), -1);
    }
    CGridIndex empty;
    empty.Setup(0, 10, 0, 10, 4, 1);
    EXPECT_EQ(empty.MoveKey(0, 1, 1), -1);  // no cells
    EXPECT_EQ(empty.CellNumber(14.9, 5.1), uint32_t(empty.m_nCols + 2));
    EXPECT_EQ(empty.CellNumber(-6, 0.1), CGridIndex::kNoCell);
    EXPECT_EQ(empty.CellNumber(std::nan(""), 0.1), CGridIndex::kNoCell);
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
