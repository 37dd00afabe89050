#include "Numerics/NumericArray.h"

#include <gtest/gtest.h>

TEST(IntVector, OffsetRangesGiveExactlyTheRequestedIndices) {
    int* zeroBased = ivector(0, 2);
    for (int i = 0; i <= 2; ++i) {
        zeroBased[i] = 10 + i;
    }
    int* oneBased = ivector(1, 3);
    for (int i = 1; i <= 3; ++i) {
        oneBased[i] = 20 + i;
    }
    EXPECT_EQ(zeroBased[0] + zeroBased[1] + zeroBased[2], 33);
    EXPECT_EQ(oneBased[1], 21);
    EXPECT_EQ(oneBased[3], 23);
    // Element nl is the first element of the block: consecutive indices are adjacent.
    EXPECT_EQ(&oneBased[2] - &oneBased[1], 1);
    release_ivector(zeroBased, 0, 2);
    release_ivector(oneBased, 1, 3);  // frees the block starting at element 1
    release_ivector(nullptr, 0, 0);

    CIntVector owned(-2, 2);
    for (int i = -2; i <= 2; ++i) {
        owned[i] = i * i;
    }
    EXPECT_EQ(owned[-2], 4);
    EXPECT_EQ(owned[2], 4);
}

TEST(IntVectorDeathTest, ErrorRoutineWritesThreeLinesAndExitsWithOne) {
    EXPECT_EXIT(numeric_error("something failed"), testing::ExitedWithCode(1),
                "Numerical Recipes run-time error\\.\\.\\.\nsomething failed\n"
                "\\.\\.\\.now exiting to system\\.\\.\\.\n");
}

TEST(IntVectorDeathTest, EmptyRangeIsAnAllocationFailure) {
    EXPECT_EXIT(ivector(5, 4), testing::ExitedWithCode(1), "allocation failure in ivector\\(\\)");
}
