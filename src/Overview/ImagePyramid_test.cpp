// The overview pyramid against a box reduction computed here from the grey
// values the stereo view shows (the image's own display window of the whole
// photograph), for odd and even sizes and every sample type; cancelling.
#include "Overview/ImagePyramid.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <thread>

#include "erdasimg/erdasimg.h"

namespace {

// An image of `columns` x `rows` random samples of a sample type code.
struct TestImage {
    CErdasImage image;
    TestImage(int columns, int rows, int packing, std::mt19937& rng) {
        LanHeader header = MakeDefaultLanHeader();
        header.packing = static_cast<uint16_t>(packing);
        header.ncols = columns;
        header.nrows = rows;
        const int bps = BytesPerSampleOf(packing);
        std::unique_ptr<CBandArray> bands = AllocBands(1, rows, columns, bps);
        unsigned char* band = bands->Data()[0];
        const int64_t n = static_cast<int64_t>(columns) * rows;
        std::uniform_int_distribution<int> byte(0, 255);
        std::uniform_real_distribution<float> real(-300.0f, 9000.0f);
        for (int64_t i = 0; i < n; ++i) {
            switch (packing) {
                case 2: {
                    // A narrow range, so the stretch matters.
                    const uint16_t v = static_cast<uint16_t>(1000 + byte(rng) * 7);
                    std::memcpy(band + 2 * i, &v, 2);
                    break;
                }
                case 6: {
                    float v = real(rng);
                    if (i % 97 == 5) v = std::numeric_limits<float>::quiet_NaN();
                    std::memcpy(band + 4 * i, &v, 4);
                    break;
                }
                default:
                    band[i] = static_cast<unsigned char>(byte(rng));
                    break;
            }
        }
        image.AdoptBands(header, std::move(bands));
    }
    PyramidSource Source() const {
        return PyramidSource{image.GetBands()[0], image.GetSize().cx, image.GetSize().cy,
                             image.GetHeader().packing};
    }
    // Grey values as the stereo view shows them, top row first: the display
    // window of the whole image, whose rows come bottom first.
    std::vector<unsigned char> ShownGrey() {
        const int w = image.GetSize().cx, h = image.GetSize().cy;
        std::vector<unsigned char> grey(static_cast<size_t>(w) * h);
        if (!image.ExtractWindowFlipped(0, w - 1, 0, h - 1)) return {};
        const unsigned char* shown = image.GetDisplayWindow();
        if (!shown) return {};
        for (int r = 0; r < h; ++r)
            std::memcpy(grey.data() + static_cast<size_t>(r) * w,
                        shown + static_cast<size_t>(h - 1 - r) * w, static_cast<size_t>(w));
        return grey;
    }
};

// Mean of the grey values under each block of block x block pixels (cut at
// the edges), rounded to nearest with halves up.
std::vector<unsigned char> BoxReduce(const std::vector<unsigned char>& grey, int w, int h,
                                     int block, int& outW, int& outH) {
    outW = (w + block - 1) / block;
    outH = (h + block - 1) / block;
    std::vector<unsigned char> out(static_cast<size_t>(outW) * outH);
    for (int i = 0; i < outH; ++i)
        for (int j = 0; j < outW; ++j) {
            double sum = 0.0;
            int count = 0;
            for (int r = i * block; r < std::min(h, (i + 1) * block); ++r)
                for (int c = j * block; c < std::min(w, (j + 1) * block); ++c) {
                    sum += grey[static_cast<size_t>(r) * w + c];
                    ++count;
                }
            out[static_cast<size_t>(i) * outW + j] =
                static_cast<unsigned char>(std::floor(sum / count + 0.5));
        }
    return out;
}

void ExpectLevelsAreBoxReductions(TestImage& t, int maxSide) {
    const int w = t.image.GetSize().cx, h = t.image.GetSize().cy;
    const std::vector<unsigned char> grey = t.ShownGrey();
    ASSERT_FALSE(grey.empty());
    CImagePyramid pyramid;
    ASSERT_EQ(pyramid.Build(t.Source(), maxSide), 1);
    ASSERT_GE(pyramid.GetLevelCount(), 1);
    // The first kept level is the first halving that fits; the last is one pixel.
    const PyramidLevel* first = pyramid.GetLevel(0);
    EXPECT_LE(std::max(first->width, first->height), maxSide);
    if (first->shift > 0) {
        const int block = 1 << (first->shift - 1);
        EXPECT_GT(std::max((w + block - 1) / block, (h + block - 1) / block), maxSide);
    }
    const PyramidLevel* last = pyramid.GetLevel(pyramid.GetLevelCount() - 1);
    EXPECT_EQ(last->width, 1);
    EXPECT_EQ(last->height, 1);
    for (int k = 0; k < pyramid.GetLevelCount(); ++k) {
        const PyramidLevel* level = pyramid.GetLevel(k);
        EXPECT_EQ(level->shift, first->shift + k);
        int rw = 0, rh = 0;
        const std::vector<unsigned char> expected =
            BoxReduce(grey, w, h, 1 << level->shift, rw, rh);
        ASSERT_EQ(level->width, rw) << "level " << k;
        ASSERT_EQ(level->height, rh) << "level " << k;
        size_t differing = 0;
        for (size_t i = 0; i < expected.size(); ++i) differing += expected[i] != level->pixels[i];
        EXPECT_EQ(differing, 0u) << w << " x " << h << " level " << k << " (shift " << level->shift
                                 << ")";
    }
}

}  // namespace

TEST(ImagePyramid, EightBitLevelsEqualBoxReductionsForOddAndEvenSizes) {
    std::mt19937 rng(7);
    const int sizes[][3] = {{1, 1, 1},     {1, 37, 4},   {37, 1, 4},    {33, 17, 8},
                            {64, 64, 8},   {101, 77, 5}, {257, 130, 3}, {300, 299, 300},
                            {101, 77, 51}, {64, 63, 32}};
    for (const auto& s : sizes) {
        TestImage t(s[0], s[1], 0, rng);
        ExpectLevelsAreBoxReductions(t, s[2]);
    }
}

TEST(ImagePyramid, WiderSamplesUseTheStereoViewsStretch) {
    std::mt19937 rng(11);
    for (int packing : {2, 6}) {
        TestImage t(93, 61, packing, rng);
        ExpectLevelsAreBoxReductions(t, 10);
    }
}

TEST(ImagePyramid, LargeBlocksAreExact) {
    // 2^9 x 2^9 blocks of bright pixels overflow 16-bit column sums.
    std::mt19937 rng(3);
    LanHeader header = MakeDefaultLanHeader();
    header.ncols = 1030;
    header.nrows = 1100;
    std::unique_ptr<CBandArray> bands = AllocBands(1, header.nrows, header.ncols, 1);
    unsigned char* band = bands->Data()[0];
    for (int64_t i = 0; i < int64_t{header.ncols} * header.nrows; ++i)
        band[i] = static_cast<unsigned char>(250 + rng() % 6);
    TestImage t(1, 1, 0, rng);
    t.image.AdoptBands(header, std::move(bands));
    ExpectLevelsAreBoxReductions(t, 2);
}

TEST(ImagePyramid, ProgressRisesToOneAndCancellingKeepsNothing) {
    std::mt19937 rng(5);
    TestImage t(200, 700, 0, rng);
    CImagePyramid pyramid;
    std::vector<double> reported;
    ASSERT_EQ(pyramid.Build(t.Source(), 16, [&](double f) { reported.push_back(f); }), 1);
    ASSERT_GE(reported.size(), 3u);
    EXPECT_TRUE(std::is_sorted(reported.begin(), reported.end()));
    EXPECT_DOUBLE_EQ(reported.back(), 1.0);
    EXPECT_GT(pyramid.GetPeakBuildBytes(), pyramid.GetMemoryBytes());

    // Cancelled half way, from another thread's flag: nothing kept, even the earlier levels.
    std::atomic<bool> cancel{false};
    auto halfway = [&](double f) {
        if (f > 0.5) cancel = true;
    };
    EXPECT_EQ(pyramid.Build(t.Source(), 16, halfway, &cancel), -1);
    EXPECT_TRUE(pyramid.IsEmpty());
    EXPECT_EQ(pyramid.GetLevel(0), nullptr);
    // A wider type is cancelled while its range is read.
    TestImage f(50, 900, 6, rng);
    cancel = true;
    EXPECT_EQ(pyramid.Build(f.Source(), 16, {}, &cancel), -1);
    EXPECT_EQ(pyramid.Build(PyramidSource{}, 16), -2);
    EXPECT_EQ(pyramid.Build(t.Source(), 0), -2);
}

TEST(ImagePyramid, LevelForPicksTheSmallestLevelThatCoversTheSize) {
    std::mt19937 rng(9);
    TestImage t(400, 250, 0, rng);
    CImagePyramid pyramid;
    ASSERT_EQ(pyramid.Build(t.Source(), 256), 1);
    ASSERT_EQ(pyramid.GetLevel(0)->width, 200);
    EXPECT_EQ(pyramid.LevelFor(90, 40)->width, 100);
    EXPECT_EQ(pyramid.LevelFor(100, 63)->width, 100);
    EXPECT_EQ(pyramid.LevelFor(101, 10)->width, 200);
    EXPECT_EQ(pyramid.LevelFor(5000, 5000)->width, 200);
}
