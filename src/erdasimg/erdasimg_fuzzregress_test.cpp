// Inputs found by fuzzing the LAN reader and the display preparation.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "LanWriter.h"
#include "Platform/FileHandle.h"
#include "erdasimg/erdasimg.h"

namespace {

// Reads a single-band float64 image of cols x 1 holding the given samples.
void ReadDoubles(CErdasImage& img, const std::vector<double>& samples) {
    Platform::FilePtr f(std::tmpfile());
    ASSERT_TRUE(f);
    const LanHeader h = MakeLanHeader(7, 1, static_cast<int32_t>(samples.size()), 1);
    ASSERT_EQ(WriteLanRaw(f.get(), h, samples.data(), samples.size() * sizeof(double)), 1);
    std::rewind(f.get());
    ASSERT_EQ(img.ReadImage(f.get()), 1);
}

std::vector<unsigned char> Grey(CErdasImage& img, int columns) {
    if (!img.ExtractWindowFlipped(0, columns - 1, 0, 0)) return {};
    const unsigned char* g = img.GetDisplayWindow();
    if (!g) return {};
    return std::vector<unsigned char>(g, g + columns);
}

}  // namespace

// An infinite sample in an image whose finite samples all have one value: the
// stretch scale is zero and infinity times zero is NaN, which was converted to
// a grey byte (undefined behaviour). It now shows black like the rest.
TEST(ErdasFuzzRegress, InfiniteSampleInAConstantFloatImageIsBlack) {
    const double inf = std::numeric_limits<double>::infinity();
    CErdasImage img;
    ReadDoubles(img, {5.0, inf, 5.0, -inf});
    EXPECT_EQ(Grey(img, 4), (std::vector<unsigned char>{0, 0, 0, 0}));
}

// Finite float64 samples whose range is wider than the largest double: the
// difference max - min overflowed, the scale became zero and every sample at
// the top of the range turned into NaN. The stretch now spans the whole range.
TEST(ErdasFuzzRegress, RangeWiderThanTheLargestDoubleIsStretched) {
    const double big = std::numeric_limits<double>::max();
    const double inf = std::numeric_limits<double>::infinity();
    CErdasImage img;
    ReadDoubles(img, {-big, big, 0.0, inf, -inf, std::nan("")});
    EXPECT_EQ(Grey(img, 6), (std::vector<unsigned char>{0, 255, 128, 255, 0, 0}));
}
