#include "erdasimg/erdasimg.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <numeric>
#include <vector>

#include "LanWriter.h"
#include "Platform/FileHandle.h"
#include "Platform/Platform.h"

// Under AddressSanitizer an impossible calloc must return null, as it does
// without it, so that the allocation failure path can be tested.
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}

namespace {

using Platform::FilePtr;

// An anonymous temporary file holding the header and the given bytes,
// positioned at the header.
FilePtr RawLan(const LanHeader& header, const std::vector<unsigned char>& data) {
    FilePtr f(std::tmpfile());
    EXPECT_TRUE(f);
    EXPECT_EQ(WriteLanRaw(f.get(), header, data.data(), data.size()), 1);
    std::rewind(f.get());
    return f;
}

FilePtr BytesFile(const std::vector<unsigned char>& bytes) {
    FilePtr f(std::tmpfile());
    EXPECT_TRUE(f);
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f.get());
    std::rewind(f.get());
    return f;
}

long FileLength(FILE* f) {
    std::fseek(f, 0, SEEK_END);
    const long n = std::ftell(f);
    std::rewind(f);
    return n;
}

std::vector<unsigned char> Band(const CErdasImage& img, int b) {
    const int64_t n = img.m_ppBands->BytesPerBand();
    const unsigned char* p = img.GetBands()[b];
    return std::vector<unsigned char>(p, p + n);
}

std::vector<unsigned char> Iota(size_t n, unsigned char first = 1) {
    std::vector<unsigned char> v(n);
    std::iota(v.begin(), v.end(), first);
    return v;
}

// A single-band 8-bit image of cols x rows whose sample at (c, r) is 10 * r + c.
void ReadRamp(CErdasImage& img, int cols, int rows) {
    std::vector<unsigned char> data(static_cast<size_t>(cols) * rows);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) data[r * cols + c] = static_cast<unsigned char>(10 * r + c);
    auto f = RawLan(MakeLanHeader(0, 1, cols, rows), data);
    ASSERT_EQ(img.ReadImage(f.get()), 1);
}

template <typename T>
void ReadTyped(CErdasImage& img, int code, int cols, int rows, const std::vector<T>& samples) {
    std::vector<unsigned char> data(samples.size() * sizeof(T));
    std::memcpy(data.data(), samples.data(), data.size());
    auto f = RawLan(MakeLanHeader(code, 1, cols, rows), data);
    ASSERT_EQ(img.ReadImage(f.get()), 1);
}

}  // namespace

TEST(ErdasHeader, LayoutAndNewImageDefaults) {
    EXPECT_EQ(offsetof(LanHeader, packing), 6u);
    EXPECT_EQ(offsetof(LanHeader, ncols), 16u);
    EXPECT_EQ(offsetof(LanHeader, xstart), 24u);
    EXPECT_EQ(offsetof(LanHeader, maptype), 88u);
    EXPECT_EQ(offsetof(LanHeader, iautyp), 106u);
    EXPECT_EQ(offsetof(LanHeader, ycell), 124u);

    CErdasImage img;
    const LanHeader& h = img.GetHeader();
    EXPECT_EQ(std::memcmp(h.magic, "HEAD74", 6), 0);
    EXPECT_EQ(h.packing, 0);
    EXPECT_EQ(h.nbands, 1);
    EXPECT_EQ(img.GetSize().cx, 1);
    EXPECT_EQ(img.GetSize().cy, 1);
    EXPECT_EQ(h.xstart, 0);
    EXPECT_EQ(h.ystart, 0);
    EXPECT_EQ(h.maptype, 1);
    EXPECT_EQ(h.nclass, 0);
    EXPECT_EQ(h.iautyp, 0);
    EXPECT_EQ(h.acre, 0.0f);
    EXPECT_EQ(h.xmap, 0.0f);
    EXPECT_EQ(h.ymap, 0.0f);
    EXPECT_EQ(h.xcell, 1.0f);
    EXPECT_EQ(h.ycell, -1.0f);
    const unsigned char zeros[56] = {};
    EXPECT_EQ(std::memcmp(h.reserved1, zeros, 6), 0);
    EXPECT_EQ(std::memcmp(h.reserved2, zeros, 56), 0);
    EXPECT_EQ(std::memcmp(h.reserved3, zeros, 14), 0);
    EXPECT_EQ(img.GetBytesPerSample(), 1);
    EXPECT_TRUE(img.m_strName.empty());
    EXPECT_EQ(img.GetBands(), nullptr);
    EXPECT_EQ(img.GetWindow(), nullptr);
    EXPECT_EQ(img.GetWindowSize().cx, 0);
    EXPECT_EQ(img.GetWindowSize().cy, 0);
    EXPECT_EQ(img.GetDisplayWindow(), nullptr);
}

TEST(ErdasHeader, SampleTypeTable) {
    const int expected[] = {1, 1, 2, 2, 4, 4, 4, 8, 1, 1};
    for (int code = 0; code < 10; ++code) EXPECT_EQ(BytesPerSampleOf(code), expected[code]) << code;
    EXPECT_EQ(BytesPerSampleOf(65535), 1);
    EXPECT_EQ(BytesPerSampleOf(-1), 1);
}

TEST(ErdasRead, SingleBandLandsInFileOrderAndHeaderIsKeptVerbatim) {
    LanHeader h = MakeLanHeader(0, 1, 3, 2, -7, 70000);
    h.reserved2[5] = 0xAB;  // fields the system does not interpret are carried
    h.nclass = 12;
    h.xmap = 512.5f;
    auto f = RawLan(h, {1, 2, 3, 4, 5, 6});
    EXPECT_EQ(FileLength(f.get()), 128 + 6);
    CErdasImage img;
    Platform::ScopedMessageCapture capture;
    ASSERT_EQ(img.ReadImage(f.get()), 1);
    EXPECT_TRUE(capture.Messages().empty());
    EXPECT_EQ(std::memcmp(&img.GetHeader(), &h, sizeof h), 0);
    EXPECT_EQ(img.GetSize().cx, 3);
    EXPECT_EQ(img.GetSize().cy, 2);
    EXPECT_EQ(Band(img, 0), (std::vector<unsigned char>{1, 2, 3, 4, 5, 6}));
}

TEST(ErdasRead, BandInterleavedLinesAreDeinterleaved) {
    // row 0 band 0, row 0 band 1, row 1 band 0, row 1 band 1
    auto f = RawLan(MakeLanHeader(0, 2, 2, 2), {1, 2, 3, 4, 5, 6, 7, 8});
    CErdasImage img;
    ASSERT_EQ(img.ReadImage(f.get()), 1);
    ASSERT_EQ(img.m_ppBands->Bands(), 2);
    EXPECT_EQ(Band(img, 0), (std::vector<unsigned char>{1, 2, 5, 6}));
    EXPECT_EQ(Band(img, 1), (std::vector<unsigned char>{3, 4, 7, 8}));
}

TEST(ErdasRead, WideSampleCodesGiveLongerRows) {
    // Code 3 (signed 16-bit), 4 columns: rows of 8 bytes; two bands, two rows.
    const auto data = Iota(32);
    auto f = RawLan(MakeLanHeader(3, 2, 4, 2), data);
    CErdasImage img;
    ASSERT_EQ(img.ReadImage(f.get()), 1);
    EXPECT_EQ(img.GetBytesPerSample(), 2);
    EXPECT_EQ(img.m_ppBands->BytesPerBand(), 16);
    std::vector<unsigned char> b0(data.begin(), data.begin() + 8);
    b0.insert(b0.end(), data.begin() + 16, data.begin() + 24);
    std::vector<unsigned char> b1(data.begin() + 8, data.begin() + 16);
    b1.insert(b1.end(), data.begin() + 24, data.end());
    EXPECT_EQ(Band(img, 0), b0);
    EXPECT_EQ(Band(img, 1), b1);

    // Code 9 is not in the table: one byte per sample.
    auto g = RawLan(MakeLanHeader(9, 1, 3, 1), {7, 8, 9});
    ASSERT_EQ(img.ReadImage(g.get()), 1);
    EXPECT_EQ(img.GetBytesPerSample(), 1);
    EXPECT_EQ(Band(img, 0), (std::vector<unsigned char>{7, 8, 9}));

    // Code 7 (float 64): 8 bytes per sample.
    auto d = RawLan(MakeLanHeader(7, 1, 2, 1), Iota(16));
    ASSERT_EQ(img.ReadImage(d.get()), 1);
    EXPECT_EQ(img.GetBytesPerSample(), 8);
    EXPECT_EQ(Band(img, 0), Iota(16));
}

TEST(ErdasRead, ReadingAgainReplacesAllOldBands) {
    CErdasImage img;
    auto three = RawLan(MakeLanHeader(0, 3, 2, 2), Iota(12));
    ASSERT_EQ(img.ReadImage(three.get()), 1);
    ASSERT_EQ(img.m_ppBands->Bands(), 3);
    auto one = RawLan(MakeLanHeader(0, 1, 4, 1), {9, 8, 7, 6});
    ASSERT_EQ(img.ReadImage(one.get()), 1);
    ASSERT_EQ(img.m_ppBands->Bands(), 1);
    EXPECT_EQ(img.GetHeader().nbands, 1);
    EXPECT_EQ(Band(img, 0), (std::vector<unsigned char>{9, 8, 7, 6}));
}

TEST(ErdasRead, ShortFileLeavesZeros) {
    CErdasImage img;
    Platform::ScopedMessageCapture capture;
    auto single = RawLan(MakeLanHeader(0, 1, 3, 2), {1, 2, 3, 4});
    ASSERT_EQ(img.ReadImage(single.get()), 1);
    EXPECT_EQ(Band(img, 0), (std::vector<unsigned char>{1, 2, 3, 4, 0, 0}));

    // Two bands of 3 x 2, the file ends inside row 0 of band 1.
    auto bil = RawLan(MakeLanHeader(0, 2, 3, 2), {1, 2, 3, 4});
    ASSERT_EQ(img.ReadImage(bil.get()), 1);
    EXPECT_EQ(Band(img, 0), (std::vector<unsigned char>{1, 2, 3, 0, 0, 0}));
    EXPECT_EQ(Band(img, 1), (std::vector<unsigned char>{4, 0, 0, 0, 0, 0}));

    // Header only.
    auto none = RawLan(MakeLanHeader(0, 2, 3, 2), {});
    ASSERT_EQ(img.ReadImage(none.get()), 1);
    EXPECT_EQ(Band(img, 0), std::vector<unsigned char>(6, 0));
    EXPECT_TRUE(capture.Messages().empty());
}

TEST(ErdasRead, ManyShortRowsAndLongRowsInterleaveCorrectlyAlsoWhenCutShort) {
    // Rows short enough to be read in chunks of many rows, and rows long
    // enough to be read one by one; each file is also cut inside a row.
    struct Case {
        int code, bands, cols, rows;
    };
    for (const Case c : {Case{0, 3, 1000, 700}, Case{3, 2, 300000, 4}}) {
        const int bps = BytesPerSampleOf(c.code);
        const size_t row = static_cast<size_t>(c.cols) * bps;
        std::vector<std::vector<unsigned char>> bands(c.bands);
        for (int b = 0; b < c.bands; ++b) {
            bands[b].resize(row * c.rows);
            for (size_t i = 0; i < bands[b].size(); ++i)
                bands[b][i] = static_cast<unsigned char>(i * 7 + b * 31 + i / 251);
        }
        std::vector<const void*> blocks;
        for (const auto& band : bands) blocks.push_back(band.data());
        FilePtr f(std::tmpfile());
        ASSERT_EQ(WriteLan(f.get(), MakeLanHeader(c.code, c.bands, c.cols, c.rows), blocks), 1);
        std::fflush(f.get());
        std::rewind(f.get());
        CErdasImage img;
        ASSERT_EQ(img.ReadImage(f.get()), 1);
        for (int b = 0; b < c.bands; ++b) EXPECT_EQ(Band(img, b), bands[b]) << b;

        // Cut the file a little after the middle, inside a row.
        const long full = FileLength(f.get());
        const long cut = 128 + (full - 128) / 2 + static_cast<long>(row / 3);
        std::vector<unsigned char> bytes(cut);
        ASSERT_EQ(std::fread(bytes.data(), 1, bytes.size(), f.get()), bytes.size());
        auto shortFile = BytesFile(bytes);
        ASSERT_EQ(img.ReadImage(shortFile.get()), 1);
        int64_t left = cut - 128;
        std::vector<std::vector<unsigned char>> expected(c.bands,
                                                         std::vector<unsigned char>(row * c.rows));
        for (int r = 0; r < c.rows; ++r)
            for (int b = 0; b < c.bands; ++b) {
                const int64_t n = std::max<int64_t>(0, std::min<int64_t>(row, left));
                std::memcpy(expected[b].data() + r * row, bands[b].data() + r * row, n);
                left -= n;
            }
        for (int b = 0; b < c.bands; ++b) EXPECT_EQ(Band(img, b), expected[b]) << b;
    }
}

TEST(ErdasRead, NonPositiveOrOverflowingSizesAreRefusedWithoutAllocating) {
    struct Case {
        int code, bands;
        int32_t cols, rows;
    };
    const int32_t big = std::numeric_limits<int32_t>::max();
    const Case cases[] = {{0, 1, 0, 5}, {0, 1, 5, 0},         {0, 1, -3, 5},   {0, 1, 5, -1},
                          {0, 0, 5, 5}, {7, 65535, big, big}, {7, 2, big, big}};
    for (const Case& c : cases) {
        CErdasImage img;
        ReadRamp(img, 3, 3);
        LanHeader h = MakeLanHeader(c.code, c.bands, c.cols, c.rows);
        auto f = RawLan(h, Iota(64));
        Platform::ScopedMessageCapture capture;
        EXPECT_EQ(img.ReadImage(f.get()), -2) << c.bands << " " << c.cols << " " << c.rows;
        EXPECT_EQ(img.GetBands(), nullptr);
        EXPECT_EQ(std::memcmp(&img.GetHeader(), &h, sizeof h), 0);
        EXPECT_TRUE(capture.Messages().empty());
    }
}

TEST(ErdasRead, SizesThatCannotBeAllocatedReportTheMessage) {
    // Fits 64-bit arithmetic but no address space: 2^31-1 squared bytes.
    const int32_t big = std::numeric_limits<int32_t>::max();
    LanHeader h = MakeLanHeader(0, 1, big, big);
    auto f = RawLan(h, Iota(16));
    CErdasImage img;
    Platform::ScopedMessageCapture capture;
    EXPECT_EQ(img.ReadImage(f.get()), -1);
    ASSERT_EQ(capture.Messages().size(), 1u);
    EXPECT_EQ(capture.Messages()[0].text, "Allocate Memory for Image Fails");
    EXPECT_EQ(capture.Messages()[0].kind, Platform::MessageKind::Exclamation);
    EXPECT_EQ(img.GetBands(), nullptr);
    EXPECT_EQ(img.GetSize().cx, big);
}

TEST(ErdasRead, FileEndingInsideTheHeaderIsAFailedRead) {
    const LanHeader h = MakeLanHeader(0, 1, 4, 4);
    std::vector<unsigned char> bytes(reinterpret_cast<const unsigned char*>(&h),
                                     reinterpret_cast<const unsigned char*>(&h) + 100);
    for (size_t length : {size_t{100}, size_t{0}}) {
        CErdasImage img;
        ReadRamp(img, 3, 3);
        bytes.resize(length);
        auto f = BytesFile(bytes);
        EXPECT_EQ(img.ReadImage(f.get()), -3);
        EXPECT_EQ(img.GetBands(), nullptr);
        EXPECT_EQ(img.GetSize().cx, 0);
        EXPECT_EQ(img.GetSize().cy, 0);
        EXPECT_EQ(img.GetBytesPerSample(), 1);
    }
    CErdasImage img;
    EXPECT_EQ(img.ReadImage(nullptr), -3);
}

TEST(ErdasWindow, FlippedCopyOfTheRectangle) {
    CErdasImage img;
    ReadRamp(img, 3, 4);  // stored row r holds 10r, 10r+1, 10r+2
    unsigned char** w = img.ExtractWindowFlipped(0, 1, 0, 0);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(img.GetWindowSize().cx, 2);
    EXPECT_EQ(img.GetWindowSize().cy, 1);
    EXPECT_EQ(w[0][0], 30);  // first two samples of the last stored row
    EXPECT_EQ(w[0][1], 31);

    w = img.ExtractWindowFlipped(0, 1, 0, 1);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(std::vector<unsigned char>(w[0], w[0] + 4),
              (std::vector<unsigned char>{30, 31, 20, 21}));
    EXPECT_EQ(img.GetWindow(), w);

    w = img.ExtractWindowFlipped(1, 2, 1, 3);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(std::vector<unsigned char>(w[0], w[0] + 6),
              (std::vector<unsigned char>{21, 22, 11, 12, 1, 2}));
}

TEST(ErdasWindow, EmptyOutsideOrDatalessRectanglesChangeNothing) {
    CErdasImage img;
    EXPECT_EQ(img.ExtractWindowFlipped(0, 0, 0, 0), nullptr);  // no data yet
    EXPECT_EQ(img.GetWindowSize().cx, 0);
    ReadRamp(img, 3, 4);
    unsigned char** w = img.ExtractWindowFlipped(0, 2, 0, 3);
    ASSERT_NE(w, nullptr);
    const int bad[][4] = {{1, 0, 0, 0},
                          {0, 0, 2, 1},
                          {-1, 1, 0, 0},
                          {0, 3, 0, 0},
                          {0, 1, -1, 0},
                          {0, 1, 0, 4},
                          {std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), 0, 0}};
    for (const auto& r : bad) {
        EXPECT_EQ(img.ExtractWindowFlipped(r[0], r[1], r[2], r[3]), nullptr);
        EXPECT_EQ(img.GetWindow(), w);
        EXPECT_EQ(img.GetWindowSize().cx, 3);
        EXPECT_EQ(img.GetWindowSize().cy, 4);
    }
}

TEST(ErdasWindow, BlocksAreReusedWhileTheSampleCountStays) {
    CErdasImage img;
    ReadRamp(img, 40, 40);
    unsigned char** w = img.ExtractWindowFlipped(0, 9, 0, 19);  // 10 x 20
    ASSERT_NE(w, nullptr);
    const unsigned char* block = w[0];
    EXPECT_EQ(img.ExtractWindowFlipped(5, 24, 3, 12), w);  // 20 x 10: same samples
    EXPECT_EQ(img.GetWindow()[0], block);
    EXPECT_EQ(img.GetWindowSize().cx, 20);
    EXPECT_EQ(img.GetWindowSize().cy, 10);
    EXPECT_EQ(img.GetWindow()[0][0], static_cast<unsigned char>(10 * (39 - 3) + 5));

    // Panning a window of constant size: no new blocks.
    for (int x = 0; x < 20; ++x) {
        ASSERT_EQ(img.ExtractWindowFlipped(x, x + 19, x, x + 9), w);
        ASSERT_EQ(img.GetWindow()[0], block);
        ASSERT_EQ(img.GetWindow()[0][0], static_cast<unsigned char>(10 * (39 - x) + x));
    }

    ASSERT_NE(img.ExtractWindowFlipped(0, 9, 0, 20), nullptr);  // 10 x 21
    EXPECT_EQ(img.m_ppWindow->BytesPerBand(), 210);
}

TEST(ErdasWindow, NewImageWithOtherBandsOrSampleSizeGetsNewBlocks) {
    CErdasImage img;
    auto two = RawLan(MakeLanHeader(0, 2, 4, 4), Iota(32));
    ASSERT_EQ(img.ReadImage(two.get()), 1);
    unsigned char** w = img.ExtractWindowFlipped(0, 1, 0, 1);
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(img.m_ppWindow->Bands(), 2);
    // Stored row 3 of band 0 is file bytes 24..27, of band 1 bytes 28..31.
    EXPECT_EQ(w[0][0], 25);
    EXPECT_EQ(w[1][0], 29);
    EXPECT_EQ(w[1][2], 21);

    auto one = RawLan(MakeLanHeader(0, 1, 4, 4), Iota(16));
    ASSERT_EQ(img.ReadImage(one.get()), 1);
    ASSERT_NE(img.ExtractWindowFlipped(0, 1, 0, 1), nullptr);
    EXPECT_EQ(img.m_ppWindow->Bands(), 1);

    auto wide = RawLan(MakeLanHeader(2, 1, 4, 4), Iota(32));
    ASSERT_EQ(img.ReadImage(wide.get()), 1);
    w = img.ExtractWindowFlipped(0, 1, 0, 1);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(img.m_ppWindow->BytesPerBand(), 8);
    EXPECT_EQ(std::vector<unsigned char>(w[0], w[0] + 8),
              (std::vector<unsigned char>{25, 26, 27, 28, 17, 18, 19, 20}));
}

TEST(ErdasDisplay, EightBitWindowIsDrawnAsItIs) {
    CErdasImage img;
    ReadRamp(img, 5, 5);
    unsigned char** w = img.ExtractWindowFlipped(1, 3, 1, 2);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(img.GetDisplayWindow(), w[0]);
}

TEST(ErdasDisplay, WideSamplesAreStretchedOverTheImageRange) {
    CErdasImage img;
    // 16-bit unsigned, 4 x 2, range 1000..3000 over the whole image.
    ReadTyped<uint16_t>(img, 2, 4, 2, {1000, 1500, 2000, 3000, 1000, 1000, 2500, 2999});
    ASSERT_NE(img.ExtractWindowFlipped(0, 3, 0, 1), nullptr);
    const unsigned char* g = img.GetDisplayWindow();
    ASSERT_NE(g, nullptr);
    // bottom stored row first
    EXPECT_EQ(std::vector<unsigned char>(g, g + 8),
              (std::vector<unsigned char>{0, 0, 191, 255, 0, 64, 128, 255}));
    // A window inside the image keeps the image's stretch.
    ASSERT_NE(img.ExtractWindowFlipped(1, 2, 1, 1), nullptr);
    g = img.GetDisplayWindow();
    EXPECT_EQ(g[0], 64);
    EXPECT_EQ(g[1], 128);

    // Signed 16-bit with negative values.
    ReadTyped<int16_t>(img, 3, 3, 1, {-32768, 0, 32767});
    ASSERT_NE(img.ExtractWindowFlipped(0, 2, 0, 0), nullptr);
    g = img.GetDisplayWindow();
    EXPECT_EQ(std::vector<unsigned char>(g, g + 3), (std::vector<unsigned char>{0, 128, 255}));

    // Unsigned and signed 32-bit.
    ReadTyped<uint32_t>(img, 4, 3, 1, {0, 4000000000u, 2000000000u});
    ASSERT_NE(img.ExtractWindowFlipped(0, 2, 0, 0), nullptr);
    g = img.GetDisplayWindow();
    EXPECT_EQ(std::vector<unsigned char>(g, g + 3), (std::vector<unsigned char>{0, 255, 128}));
    ReadTyped<int32_t>(img, 5, 2, 1, {-100000, 100000});
    ASSERT_NE(img.ExtractWindowFlipped(0, 1, 0, 0), nullptr);
    g = img.GetDisplayWindow();
    EXPECT_EQ(g[0], 0);
    EXPECT_EQ(g[1], 255);

    // A constant image shows black rather than dividing by zero.
    ReadTyped<uint16_t>(img, 2, 2, 1, {700, 700});
    ASSERT_NE(img.ExtractWindowFlipped(0, 1, 0, 0), nullptr);
    g = img.GetDisplayWindow();
    EXPECT_EQ(g[0], 0);
    EXPECT_EQ(g[1], 0);
}

TEST(ErdasDisplay, FloatSamplesIgnoreNaNAndInfinityForTheRange) {
    CErdasImage img;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    ReadTyped<float>(img, 6, 6, 1, {-1.0f, nan, 1.0f, 0.0f, inf, -inf});
    ASSERT_NE(img.ExtractWindowFlipped(0, 5, 0, 0), nullptr);
    const unsigned char* g = img.GetDisplayWindow();
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(std::vector<unsigned char>(g, g + 6),
              (std::vector<unsigned char>{0, 0, 255, 128, 255, 0}));

    ReadTyped<double>(img, 7, 3, 1, {2.5, 5.0, std::nan("")});
    ASSERT_NE(img.ExtractWindowFlipped(0, 2, 0, 0), nullptr);
    g = img.GetDisplayWindow();
    EXPECT_EQ(std::vector<unsigned char>(g, g + 3), (std::vector<unsigned char>{0, 255, 0}));
}

TEST(ErdasDisplay, PanningAWideWindowReusesTheGreyBuffer) {
    CErdasImage img;
    std::vector<uint16_t> samples(64 * 64);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<uint16_t>(i * 10);
    ReadTyped<uint16_t>(img, 2, 64, 64, samples);
    ASSERT_NE(img.ExtractWindowFlipped(0, 15, 0, 7), nullptr);
    const unsigned char* g = img.GetDisplayWindow();
    unsigned char** w = img.GetWindow();
    for (int x = 1; x < 40; ++x) {
        ASSERT_EQ(img.ExtractWindowFlipped(x, x + 15, x, x + 7), w);
        ASSERT_EQ(img.GetDisplayWindow(), g);
        // stored row 63 - x, column x, over the range 0..40950
        const double v = ((63 - x) * 64 + x) * 10.0;
        ASSERT_EQ(g[0], static_cast<unsigned char>(v * 255.0 / 40950.0 + 0.5));
    }
}

TEST(LanWriter, WritesHeaderFieldsAndInterleavedLines) {
    LanHeader h = MakeLanHeader(3, 2, 2, 2, 1234, -56);
    h.xmap = 100.5f;
    h.ymap = 200.25f;
    h.xcell = 0.5f;
    h.ycell = -0.5f;
    const std::vector<int16_t> b0 = {1, -2, 3, -4}, b1 = {100, 200, 300, 400};
    FilePtr f(std::tmpfile());
    ASSERT_EQ(WriteLan(f.get(), h, {b0.data(), b1.data()}), 1);
    EXPECT_EQ(FileLength(f.get()), 128 + 16);
    unsigned char bytes[144];
    ASSERT_EQ(std::fread(bytes, 1, 144, f.get()), 144u);
    EXPECT_EQ(std::memcmp(bytes, "HEAD74", 6), 0);
    EXPECT_EQ(bytes[6], 3);
    EXPECT_EQ(bytes[8], 2);
    int32_t xs;
    std::memcpy(&xs, bytes + 24, 4);
    EXPECT_EQ(xs, 1234);
    int16_t lines[8];
    std::memcpy(lines, bytes + 128, 16);
    EXPECT_EQ(std::vector<int16_t>(lines, lines + 8),
              (std::vector<int16_t>{1, -2, 100, 200, 3, -4, 300, 400}));

    std::rewind(f.get());
    CErdasImage img;
    ASSERT_EQ(img.ReadImage(f.get()), 1);
    EXPECT_EQ(std::memcmp(&img.GetHeader(), &h, sizeof h), 0);
    EXPECT_EQ(std::memcmp(img.GetBands()[1], b1.data(), 8), 0);

    EXPECT_EQ(WriteLan(f.get(), h, {b0.data()}), -2);  // band count differs
    EXPECT_EQ(WriteLan(f.get(), MakeLanHeader(0, 1, 0, 2), {b0.data()}), -2);
    EXPECT_EQ(WriteLanFile("/nonexistent-dir/x.lan", h, {b0.data(), b1.data()}), -1);
}
