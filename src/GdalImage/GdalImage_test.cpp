// Photographs read through GDAL against their LAN originals: a generated demo
// project converted by gdal_translate to GeoTIFF (tiled, striped, three bands)
// reads into the same band buffers as the LAN files; GeoTIFFs of every sample
// type match LAN files of the same type written by the LAN writer; damaged
// files fail and leave the image as it was; LAN files keep their reader.
#include "GdalImage/GdalImage.h"

#include <gdal.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "DemoProject.h"
#include "GdalConvert.h"
#include "LanWriter.h"
#include "Platform/FileHandle.h"
#include "Platform/Platform.h"
#include "testing/DemoTestSupport.h"
#include "testing/PlatformTestSupport.h"

namespace fs = std::filesystem;

namespace {

using platformtest::Slurp;
using platformtest::Spit;
using platformtest::TempDir;

bool HaveGdalTranslate() {
    return std::system("command -v gdal_translate >/dev/null 2>&1") == 0;
}

int ReadLan(const std::string& path, CErdasImage& image) {
    Platform::FilePtr f = Platform::OpenFile(path, "rb");
    return f ? image.ReadImage(f.get()) : -100;
}

// Everything a reader must leave alone when it fails.
struct Snapshot {
    explicit Snapshot(const CErdasImage& image) {
        std::memcpy(&header, &image.GetHeader(), sizeof header);
        bands = image.GetBands();
        window = image.GetWindow();
        name = image.m_strName;
        bps = image.GetBytesPerSample();
        if (bands) {
            const size_t n = static_cast<size_t>(header.ncols) * header.nrows * bps;
            for (int b = 0; b < header.nbands; ++b) data.emplace_back(bands[b], bands[b] + n);
        }
    }
    void ExpectSame(const CErdasImage& image) const {
        EXPECT_EQ(std::memcmp(&header, &image.GetHeader(), sizeof header), 0);
        EXPECT_EQ(bands, image.GetBands());
        EXPECT_EQ(window, image.GetWindow());
        EXPECT_EQ(name, image.m_strName);
        EXPECT_EQ(bps, image.GetBytesPerSample());
        for (size_t b = 0; b < data.size(); ++b)
            EXPECT_EQ(std::memcmp(data[b].data(), image.GetBands()[b], data[b].size()), 0);
    }
    LanHeader header;
    unsigned char** bands;
    unsigned char** window;
    std::string name;
    int bps;
    std::vector<std::vector<unsigned char>> data;
};

// The fields a photograph uses, the band blocks, a flipped window and its
// display copy agree.
void ExpectSameImage(CErdasImage& lan, CErdasImage& other) {
    const LanHeader& a = lan.GetHeader();
    const LanHeader& b = other.GetHeader();
    ASSERT_EQ(a.nbands, b.nbands);
    ASSERT_EQ(a.ncols, b.ncols);
    ASSERT_EQ(a.nrows, b.nrows);
    ASSERT_EQ(a.packing, b.packing);
    ASSERT_EQ(lan.GetBytesPerSample(), other.GetBytesPerSample());
    EXPECT_EQ(a.xstart, b.xstart);
    EXPECT_EQ(a.ystart, b.ystart);
    const size_t n = static_cast<size_t>(a.ncols) * a.nrows * lan.GetBytesPerSample();
    for (int k = 0; k < a.nbands; ++k)
        EXPECT_EQ(std::memcmp(lan.GetBands()[k], other.GetBands()[k], n), 0) << "band " << k;
    const int x0 = a.ncols / 3, x1 = a.ncols - 1, y0 = a.nrows / 4, y1 = a.nrows - 2;
    unsigned char** wa = lan.ExtractWindowFlipped(x0, x1, y0, y1);
    unsigned char** wb = other.ExtractWindowFlipped(x0, x1, y0, y1);
    ASSERT_TRUE(wa && wb);
    const size_t w = static_cast<size_t>(x1 - x0 + 1) * (y1 - y0 + 1);
    EXPECT_EQ(std::memcmp(wa[0], wb[0], w * lan.GetBytesPerSample()), 0);
    const unsigned char* da = lan.GetDisplayWindow();
    const unsigned char* db = other.GetDisplayWindow();
    ASSERT_TRUE(da && db);
    EXPECT_EQ(std::memcmp(da, db, w), 0);
}

// A generated project with x/y start 0, shared by the conversion tests: the
// test run's (read-only; the conversions write into a folder of their own).
class DemoGeoTiff : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = std::make_unique<TempDir>("gdalimage_test");
        demo::DemoOptions o;
        o.cols = 1600;  // three 8-bit bands of this size take two 4 MB strips
        o.rows = 1200;
        o.points = 500;
        o.threads = 2;
        o.zeroStart = true;
        const demo::DemoResult& r = demo::SharedDemo("geotiff", o, &s_error);
        s_rc = r.pointsFile.empty() ? -1 : 1;
        if (s_rc == 1) s_lanDir = fs::path(r.pointsFile).parent_path().string();
    }
    static void TearDownTestSuite() { s_dir.reset(); }
    void SetUp() override {
        // scripts/install-deps installs it (gdal-bin): without it the
        // comparisons would not run, and that must not pass unseen.
        ASSERT_TRUE(HaveGdalTranslate()) << "gdal_translate (Debian gdal-bin) is not installed";
        ASSERT_EQ(s_rc, 1) << s_error;
    }

    // Converts the project and compares both photographs with their LAN originals.
    void CheckLayout(const char* name, const GeoTiffLayout& layout, int bands) {
        SCOPED_TRACE(name);
        const std::string lanDir = s_lanDir, out = *s_dir / name;
        std::string error;
        ASSERT_EQ(MakeGeoTiffProject(lanDir, out, layout, bands, &error), 1) << error;
        for (const char* side : {"left", "right"}) {
            const std::string lan = lanDir + "/" + side + ".lan";
            CErdasImage original;
            ASSERT_EQ(ReadLan(lan, original), 1);
            ASSERT_EQ(original.GetHeader().xstart, 0);
            CErdasImage expected;
            if (bands == 3) {
                ASSERT_EQ(WriteThreeBandLan(lan, out + "/expected.lan"), 1);
                ASSERT_EQ(ReadLan(out + "/expected.lan", expected), 1);
            } else {
                ASSERT_EQ(ReadLan(lan, expected), 1);
            }
            CErdasImage tif;
            tif.m_strName = side;
            PhotoReader used = PhotoReader::None;
            ASSERT_EQ(ReadPhotograph(out + "/" + side + ".tif", tif, &used), kPhotoRead);
            EXPECT_EQ(used, PhotoReader::Gdal);
            EXPECT_EQ(tif.m_strName, side);
            EXPECT_EQ(tif.GetHeader().nbands, bands);
            ExpectSameImage(expected, tif);
            // Band 0, the one that is drawn, is the original's.
            const size_t n = static_cast<size_t>(original.GetSize().cx) * original.GetSize().cy;
            EXPECT_EQ(std::memcmp(original.GetBands()[0], tif.GetBands()[0], n), 0);
        }
        for (const char* file : {"left.ORN", "right.ORN", "points.pts"})
            EXPECT_TRUE(fs::exists(out + "/" + file)) << file;
    }

    static inline std::unique_ptr<TempDir> s_dir;  // the conversions
    static inline std::string s_lanDir;
    static inline int s_rc = 0;
    static inline std::string s_error;
};

TEST_F(DemoGeoTiff, TiledEightBitReadsLikeTheLanOriginal) {
    CheckLayout("tiled", TiledGeoTiff(), 1);
}

TEST_F(DemoGeoTiff, StripedAndCompressedEightBitReadLikeTheLanOriginal) {
    CheckLayout("striped", StripedGeoTiff(), 1);
    GeoTiffLayout deflate = StripedGeoTiff();
    deflate.compress = "DEFLATE";
    CheckLayout("deflate", deflate, 1);
}

TEST_F(DemoGeoTiff, ThreeBandsPixelAndBandInterleavedReadLikeTheLanOriginal) {
    CheckLayout("rgb-pixel", TiledGeoTiff(), 3);
    GeoTiffLayout band = StripedGeoTiff();
    band.interleave = "BAND";
    CheckLayout("rgb-band", band, 3);
}

// GeoTIFFs written by GDAL from the same samples as a LAN file of the same type.
struct TypeCase {
    int code;
    GDALDataType type;
};

std::vector<unsigned char> RandomSamples(int code, size_t count, std::mt19937_64& rng) {
    const int bps = BytesPerSampleOf(code);
    std::vector<unsigned char> out(count * bps);
    for (size_t i = 0; i < count; ++i) {
        unsigned char* p = out.data() + i * bps;
        const uint64_t bits = rng();
        if (code == 6) {
            const float v =
                static_cast<float>(static_cast<int64_t>(bits % 2000001) - 1000000) / 7.0f;
            std::memcpy(p, &v, 4);
        } else if (code == 7) {
            const double v = static_cast<double>(static_cast<int64_t>(bits)) * 1e-9;
            std::memcpy(p, &v, 8);
        } else {
            std::memcpy(p, &bits, bps);
        }
    }
    return out;
}

// Writes the bands with GDAL's GeoTIFF driver; true when written.
bool WriteGeoTiff(const std::string& path, GDALDataType type, int cols, int rows,
                  const std::vector<std::vector<unsigned char>>& bands,
                  const std::vector<std::string>& options) {
    GDALAllRegister();
    std::vector<const char*> co;
    for (const std::string& o : options) co.push_back(o.c_str());
    co.push_back(nullptr);
    GDALDatasetH ds =
        GDALCreate(GDALGetDriverByName("GTiff"), path.c_str(), cols, rows,
                   static_cast<int>(bands.size()), type, const_cast<char**>(co.data()));
    if (!ds) return false;
    bool ok = true;
    for (size_t b = 0; b < bands.size(); ++b) {
        ok = ok && GDALRasterIO(GDALGetRasterBand(ds, static_cast<int>(b) + 1), GF_Write, 0, 0,
                                cols, rows, const_cast<unsigned char*>(bands[b].data()), cols, rows,
                                type, 0, 0) == CE_None;
    }
    GDALClose(ds);
    return ok;
}

TEST(GdalImageTypes, EverySampleTypeMatchesALanFileOfTheSameType) {
    TempDir dir("gdalimage_test");
    std::mt19937_64 rng(20240611);
    const TypeCase cases[] = {{0, GDT_Byte},  {2, GDT_UInt16},  {3, GDT_Int16},  {4, GDT_UInt32},
                              {5, GDT_Int32}, {6, GDT_Float32}, {7, GDT_Float64}};
    const std::vector<std::vector<std::string>> layouts = {
        {"TILED=YES", "BLOCKXSIZE=16", "BLOCKYSIZE=16", "INTERLEAVE=PIXEL"},
        {"TILED=NO", "BLOCKYSIZE=5", "INTERLEAVE=BAND", "COMPRESS=DEFLATE"}};
    for (const TypeCase& c : cases) {
        for (int nBands : {1, 2}) {
            for (size_t l = 0; l < layouts.size(); ++l) {
                SCOPED_TRACE("code " + std::to_string(c.code) + ", " + std::to_string(nBands) +
                             " bands, layout " + std::to_string(l));
                const int cols = 37 + nBands, rows = 23 + static_cast<int>(l);
                std::vector<std::vector<unsigned char>> bands;
                std::vector<const void*> blocks;
                for (int b = 0; b < nBands; ++b)
                    bands.push_back(RandomSamples(c.code, static_cast<size_t>(cols) * rows, rng));
                for (const auto& b : bands) blocks.push_back(b.data());
                const std::string lan = dir / "t.lan", tif = dir / "t.tif";
                ASSERT_EQ(WriteLanFile(lan, MakeLanHeader(c.code, nBands, cols, rows), blocks), 1);
                ASSERT_TRUE(WriteGeoTiff(tif, c.type, cols, rows, bands, layouts[l]));
                CErdasImage a, b;
                ASSERT_EQ(ReadLan(lan, a), 1);
                PhotoReader used = PhotoReader::None;
                ASSERT_EQ(ReadPhotograph(tif, b, &used), kPhotoRead);
                EXPECT_EQ(used, PhotoReader::Gdal);
                ExpectSameImage(a, b);
            }
        }
    }
}

TEST(GdalImageTypes, WideAndSignedBytesAreConvertedAndComplexRefused) {
    TempDir dir("gdalimage_test");
    const int cols = 9, rows = 4, n = cols * rows;
    // 64-bit integers: read as float64.
    std::vector<int64_t> big(n);
    for (int i = 0; i < n; ++i) big[i] = (int64_t{1} << 40) * (i - 17) + i;
    std::vector<unsigned char> bytes(reinterpret_cast<unsigned char*>(big.data()),
                                     reinterpret_cast<unsigned char*>(big.data()) + 8 * n);
    ASSERT_TRUE(WriteGeoTiff(dir / "i64.tif", GDT_Int64, cols, rows, {bytes}, {}));
    CErdasImage image;
    ASSERT_EQ(ReadPhotograph(dir / "i64.tif", image), kPhotoRead);
    EXPECT_EQ(image.GetHeader().packing, 7);
    for (int i = 0; i < n; ++i) {
        double v;
        std::memcpy(&v, image.GetBands()[0] + 8 * i, 8);
        EXPECT_EQ(v, static_cast<double>(big[i]));
    }

    // Signed bytes: widened to int16 with their sign.
    std::vector<unsigned char> sb(n);
    for (int i = 0; i < n; ++i) sb[i] = static_cast<unsigned char>(i * 13 - 100);
    ASSERT_TRUE(WriteGeoTiff(dir / "s8.tif", GDT_Byte, cols, rows, {sb}, {"PIXELTYPE=SIGNEDBYTE"}));
    ASSERT_EQ(ReadPhotograph(dir / "s8.tif", image), kPhotoRead);
    EXPECT_EQ(image.GetHeader().packing, 3);
    for (int i = 0; i < n; ++i) {
        int16_t v;
        std::memcpy(&v, image.GetBands()[0] + 2 * i, 2);
        EXPECT_EQ(v, static_cast<int8_t>(sb[i]));
    }

    // Complex samples have no grey value: refused with a message, image kept.
    std::vector<unsigned char> cx(static_cast<size_t>(n) * 4, 7);
    ASSERT_TRUE(WriteGeoTiff(dir / "c.tif", GDT_CInt16, cols, rows, {cx}, {}));
    const Snapshot before(image);
    Platform::ScopedMessageCapture capture;
    EXPECT_EQ(ReadPhotograph(dir / "c.tif", image), kPhotoUnsupported);
    before.ExpectSame(image);
    ASSERT_EQ(capture.Texts().size(), 1u);
    EXPECT_NE(capture.Texts()[0].find("CInt16"), std::string::npos);
    EXPECT_NE(capture.Texts()[0].find(dir / "c.tif"), std::string::npos);
}

TEST(GdalImageFailures, DamagedTiffsFailAndLeaveTheImageAsItWas) {
    TempDir dir("gdalimage_test");
    const int cols = 300, rows = 200;
    std::mt19937_64 rng(3);
    const std::vector<unsigned char> samples = RandomSamples(0, cols * rows, rng);
    ASSERT_TRUE(WriteGeoTiff(dir / "plain.tif", GDT_Byte, cols, rows, {samples},
                             {"TILED=YES", "BLOCKXSIZE=64", "BLOCKYSIZE=64"}));
    ASSERT_TRUE(WriteGeoTiff(dir / "deflate.tif", GDT_Byte, cols, rows, {samples},
                             {"TILED=YES", "COMPRESS=DEFLATE"}));
    const std::vector<unsigned char> plain = Slurp(dir / "plain.tif");
    const std::vector<unsigned char> deflate = Slurp(dir / "deflate.tif");
    ASSERT_GT(plain.size(), 1000u);

    // The image holds a photograph with a window when the damaged files come.
    CErdasImage image;
    image.m_strName = "kept";
    ASSERT_EQ(ReadPhotograph(dir / "plain.tif", image), kPhotoRead);
    ASSERT_NE(image.ExtractWindowFlipped(0, 9, 0, 9), nullptr);
    EXPECT_EQ(std::memcmp(image.GetBands()[0], samples.data(), samples.size()), 0);
    const Snapshot before(image);

    std::vector<std::pair<std::string, std::vector<unsigned char>>> damaged;
    for (size_t keep : {plain.size() / 2, plain.size() - 100, size_t{64}})
        damaged.push_back({"truncated at " + std::to_string(keep),
                           std::vector<unsigned char>(plain.begin(), plain.begin() + keep)});
    {
        // First directory offset far beyond the end of the file.
        std::vector<unsigned char> d = plain;
        const uint32_t off = 0x7FFFFFF0u;
        std::memcpy(d.data() + 4, &off, 4);
        damaged.push_back({"directory beyond the end", d});
    }
    {
        // Compressed tiles overwritten with noise.
        std::vector<unsigned char> d = deflate;
        for (size_t i = 400; i < d.size() - 400; i += 3) d[i] ^= 0xA5;
        damaged.push_back({"compressed data garbled", d});
    }
    for (const auto& [what, bytes] : damaged) {
        SCOPED_TRACE(what);
        Spit(dir / "bad.tif", bytes);
        PhotoReader used = PhotoReader::None;
        Platform::ScopedMessageCapture capture;
        const int rc = ReadPhotograph(dir / "bad.tif", image, &used);
        EXPECT_EQ(used, PhotoReader::Gdal);
        EXPECT_EQ(rc, kPhotoUnreadable);
        before.ExpectSame(image);
        EXPECT_TRUE(capture.Texts().empty());
        EXPECT_FALSE(capture.Traces().empty());  // GDAL's reason, for the debug trace
    }

    // Inputs refused before anything is read or allocated: rasters whose
    // declared size is beyond a photograph's or the machine's memory (tiny
    // sparse files), a "left.tif" that is a VRT naming a local file (or,
    // as easily, a network address), virtual and network paths, and files
    // that are no regular files.
    auto declare = [](const std::string& path, GDALDataType type, int cols, int rows, int bands) {
        const char* options[] = {"TILED=YES",       "SPARSE_OK=TRUE",  "BIGTIFF=YES",
                                 "BLOCKXSIZE=1024", "BLOCKYSIZE=1024", nullptr};
        GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GTiff"), path.c_str(), cols, rows, bands,
                                     type, const_cast<char**>(options));
        if (ds) GDALClose(ds);
        return ds != nullptr;
    };
    ASSERT_TRUE(declare(dir / "wide.tif", GDT_Byte, 100001, 2, 1));
    ASSERT_TRUE(declare(dir / "huge.tif", GDT_Float64, 99999, 99999, 16));
    EXPECT_LT(fs::file_size(dir / "huge.tif"), 4u << 20);
    std::ofstream(dir / "left.tif")
        << "<VRTDataset rasterXSize=\"300\" rasterYSize=\"200\"><VRTRasterBand "
           "dataType=\"Byte\" band=\"1\"><SimpleSource><SourceFilename>"
        << (dir / "plain.tif")
        << "</SourceFilename><SourceBand>1</SourceBand></SimpleSource></VRTRasterBand>"
           "</VRTDataset>";
    ASSERT_EQ(mkfifo((dir / "fifo.tif").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", dir / "zero.tif");
    struct Refused {
        std::string path;
        int result;  // of ReadPhotograph; 0: any failure
        PhotoReader used;
        const char* trace;  // in the debug trace of ReadGdalImage
    };
    const Refused refused[] = {
        {dir / "wide.tif", kPhotoBadSize, PhotoReader::Gdal, "100000 a side"},
        {dir / "huge.tif", kPhotoBadSize, PhotoReader::Gdal, "more than this machine"},
        {dir / "left.tif", 0, PhotoReader::Lan, "cannot open"},
        {"/vsicurl/http://127.0.0.1:9/left.tif", kPhotoCannotOpen, PhotoReader::None, "virtual"},
        {"http://127.0.0.1:9/left.tif", kPhotoCannotOpen, PhotoReader::None, "URL"},
        {"/vsimem/left.tif", kPhotoCannotOpen, PhotoReader::None, "virtual"},
        {dir / "fifo.tif", kPhotoCannotOpen, PhotoReader::None, "named pipe"},
        {dir / "zero.tif", kPhotoCannotOpen, PhotoReader::None, "device"},
        {dir / "missing.tif", kPhotoCannotOpen, PhotoReader::None, "No such file"},
    };
    for (const Refused& r : refused) {
        SCOPED_TRACE(r.path);
        Platform::ScopedMessageCapture capture;
        PhotoReader used = PhotoReader::Gdal;
        const int rc = ReadPhotograph(r.path, image, &used);
        if (r.result != 0)
            EXPECT_EQ(rc, r.result);
        else
            EXPECT_LT(rc, 0);
        EXPECT_EQ(used, r.used);
        before.ExpectSame(image);
        EXPECT_LT(ReadGdalImage(r.path, image), 0);
        before.ExpectSame(image);
        bool traced = false;
        for (const std::string& t : capture.Traces())
            traced |= t.find(r.trace) != std::string::npos;
        EXPECT_TRUE(traced) << (capture.Traces().empty() ? "" : capture.Traces().back());
    }
    PhotoReader used = PhotoReader::Gdal;
    EXPECT_EQ(ReadPhotograph(dir / "missing.tif", image, &used), kPhotoCannotOpen);
    EXPECT_EQ(used, PhotoReader::None);
    before.ExpectSame(image);
}

TEST(GdalImageChoice, LanMagicInAnyCaseAndUnknownFilesGoToTheLanReader) {
    TempDir dir("gdalimage_test");
    const int cols = 5, rows = 3;
    std::vector<unsigned char> b0(cols * rows), b1(cols * rows);
    for (int i = 0; i < cols * rows; ++i) {
        b0[i] = static_cast<unsigned char>(i * 11);
        b1[i] = static_cast<unsigned char>(200 - i);
    }
    for (const char* magic : {"header", "HEADER", "Head74", "HEAD74"}) {
        SCOPED_TRACE(magic);
        LanHeader h = MakeLanHeader(0, 2, cols, rows, 12, 34);
        std::memcpy(h.magic, magic, 6);
        // A .tif name does not matter: the magic decides.
        const std::string path = dir / "photo.tif";
        ASSERT_EQ(WriteLanFile(path, h, {b0.data(), b1.data()}), 1);
        EXPECT_EQ(ChoosePhotographReader(path), PhotoReader::Lan);
        CErdasImage lan, photo;
        ASSERT_EQ(ReadLan(path, lan), 1);
        PhotoReader used = PhotoReader::None;
        ASSERT_EQ(ReadPhotograph(path, photo, &used), kPhotoRead);
        EXPECT_EQ(used, PhotoReader::Lan);
        EXPECT_EQ(std::memcmp(&lan.GetHeader(), &photo.GetHeader(), sizeof(LanHeader)), 0);
        EXPECT_EQ(photo.GetHeader().xstart, 12);
        EXPECT_EQ(std::memcmp(photo.GetBands()[1], b1.data(), b1.size()), 0);
    }

    // No magic and no GDAL driver that knows it: the LAN reader, as before.
    LanHeader h = MakeLanHeader(0, 1, cols, rows);
    std::memset(h.magic, 0, 6);
    ASSERT_EQ(WriteLanFile(dir / "plain.img", h, {b0.data()}), 1);
    CErdasImage photo;
    PhotoReader used = PhotoReader::None;
    ASSERT_EQ(ReadPhotograph(dir / "plain.img", photo, &used), kPhotoRead);
    EXPECT_EQ(used, PhotoReader::Lan);
    EXPECT_EQ(std::memcmp(photo.GetBands()[0], b0.data(), b0.size()), 0);

    // A file too short for a LAN header fails in the LAN reader and changes nothing.
    Spit(dir / "short.bin", {'H', 'E', 'A', 'D', '7', '4', 0, 0});
    const Snapshot before(photo);
    EXPECT_EQ(ReadPhotograph(dir / "short.bin", photo, &used), kPhotoShortHeader);
    EXPECT_EQ(used, PhotoReader::Lan);
    before.ExpectSame(photo);
}

}  // namespace
