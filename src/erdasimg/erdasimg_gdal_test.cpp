// GDAL as an independent LAN producer and reader: small GeoTIFFs are turned
// into LAN files by GDAL's translator, read by CErdasImage, and every band (and a
// flipped window) is compared with what GDAL itself reads from the same file.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Platform/FileHandle.h"
#include "erdasimg/erdasimg.h"
#include "testing/PlatformTestSupport.h"

namespace {

// Debian's interpreter, the one python3-gdal installs into.
const char kPython[] = "/usr/bin/python3";

// One run handles every image of a test (starting Python with numpy and GDAL
// takes longer than the work). Arguments in groups of eleven: the GeoTIFF made
// from random samples (path, type, bands, cols, rows), the LAN file GDAL's
// translator writes from it, and the dump of GDAL's own reading of that LAN
// file (path; window x0, y0 from the top, width, height).
const char kScript[] = R"PY(
import sys
try:
    import numpy as np
    from osgeo import gdal
except ImportError:
    sys.exit(77)
gdal.UseExceptions()
args = sys.argv[1:]
for i in range(0, len(args), 11):
    tif, typ, bands, cols, rows = args[i], args[i + 1], *map(int, args[i + 2:i + 5])
    lan, out, x0, y0, w, h = args[i + 5], args[i + 6], *map(int, args[i + 7:i + 11])
    gtype = {"Byte": gdal.GDT_Byte, "Int16": gdal.GDT_Int16}[typ]
    npt = {"Byte": np.uint8, "Int16": np.int16}[typ]
    rng = np.random.default_rng(cols * 1000 + rows * 10 + bands)
    info = np.iinfo(npt)
    ds = gdal.GetDriverByName("GTiff").Create(tif, cols, rows, bands, gtype)
    for b in range(bands):
        a = rng.integers(info.min, info.max, size=(rows, cols), endpoint=True).astype(npt)
        ds.GetRasterBand(b + 1).WriteArray(a)
    ds = None
    gdal.Translate(lan, tif, format="LAN")
    ds = gdal.Open(lan)
    with open(out, "wb") as f:
        for b in range(ds.RasterCount):
            f.write(ds.GetRasterBand(b + 1).ReadAsArray().tobytes())
        for b in range(ds.RasterCount):
            # window rows bottom first, as the drawing copy holds them
            f.write(ds.GetRasterBand(b + 1).ReadAsArray(x0, y0, w, h)[::-1].tobytes())
    ds = None
)PY";

// Exit status of a shell command, or -1 when it did not exit normally.
int RunShell(const std::string& cmd) {
    const int status = std::system(cmd.c_str());
    return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// One image: samples of `type` (Byte or Int16), `bands` bands of cols x rows.
struct ImageCase {
    std::string type;
    int bands, cols, rows;
    std::string Name() const {
        return type + " " + std::to_string(bands) + " bands " + std::to_string(cols) + " x " +
               std::to_string(rows);
    }
    // A window in the lower right part: columns x0..x1, rows y0..y1 counted
    // from the bottom.
    int X0() const { return cols / 3; }
    int X1() const { return cols - 1; }
    int Y0() const { return 0; }
    int Y1() const { return rows / 2; }
};

class GdalOracle : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(m_dir.Path().empty());
        platformtest::SpitText(m_dir / "lan.py", kScript);
    }
    std::string File(size_t k, const char* ext) const {
        return m_dir.Path() + "/" + std::to_string(k) + ext;
    }

    // Makes a GeoTIFF of each case, converts it to LAN with GDAL, reads it
    // and compares with GDAL's own reading of the LAN file.
    void Check(const std::vector<ImageCase>& cases) {
        std::string run = std::string(kPython) + " " + m_dir.Path() + "/lan.py";
        for (size_t k = 0; k < cases.size(); ++k) {
            const ImageCase& c = cases[k];
            // ' ' before a temporary string: GCC 12 at -O3 misreads " " + it as
            // an overlapping copy (-Wrestrict).
            run += ' ' + File(k, ".tif") + " " + c.type + " " + std::to_string(c.bands) + " " +
                   std::to_string(c.cols) + " " + std::to_string(c.rows);
            // GDAL's row offset counts from the top.
            run += ' ' + File(k, ".lan") + " " + File(k, ".raw") + " " + std::to_string(c.X0()) +
                   " " + std::to_string(c.rows - 1 - c.Y1()) + " " +
                   std::to_string(c.X1() - c.X0() + 1) + " " + std::to_string(c.Y1() - c.Y0() + 1);
        }
        const int status = RunShell(run);
        if (status == 77) GTEST_SKIP() << kPython << " has no GDAL Python bindings";
        ASSERT_EQ(status, 0);
        for (size_t k = 0; k < cases.size(); ++k)
            Compare(cases[k], File(k, ".lan"), File(k, ".raw"));
    }

    void Compare(const ImageCase& c, const std::string& lan, const std::string& raw) {
        SCOPED_TRACE(c.Name());
        const int x0 = c.X0(), x1 = c.X1(), y0 = c.Y0(), y1 = c.Y1();
        const int w = x1 - x0 + 1, h = y1 - y0 + 1;
        Platform::FilePtr f = Platform::OpenFile(lan, "rb");
        ASSERT_TRUE(f);
        CErdasImage img;
        ASSERT_EQ(img.ReadImage(f.get()), 1);
        const LanHeader& hd = img.GetHeader();
        const int bps = c.type == "Byte" ? 1 : 2;
        EXPECT_EQ(std::memcmp(hd.magic, "HEAD74", 6), 0);
        EXPECT_EQ(hd.packing, c.type == "Byte" ? 0 : 2);
        EXPECT_EQ(img.GetBytesPerSample(), bps);
        EXPECT_EQ(hd.nbands, c.bands);
        EXPECT_EQ(img.GetSize().cx, c.cols);
        EXPECT_EQ(img.GetSize().cy, c.rows);

        const std::vector<unsigned char> oracle = platformtest::Slurp(raw);
        const size_t bandBytes = static_cast<size_t>(c.cols) * c.rows * bps;
        const size_t windowBytes = static_cast<size_t>(w) * h * bps;
        ASSERT_EQ(oracle.size(), c.bands * (bandBytes + windowBytes));
        for (int b = 0; b < c.bands; ++b) {
            EXPECT_EQ(std::memcmp(img.GetBands()[b], oracle.data() + b * bandBytes, bandBytes), 0)
                << "band " << b;
        }
        unsigned char** win = img.ExtractWindowFlipped(x0, x1, y0, y1);
        ASSERT_NE(win, nullptr);
        const unsigned char* wo = oracle.data() + c.bands * bandBytes;
        for (int b = 0; b < c.bands; ++b) {
            EXPECT_EQ(std::memcmp(win[b], wo + b * windowBytes, windowBytes), 0)
                << "window band " << b;
        }
    }

    platformtest::TempDir m_dir{"erdasimg_gdal"};
};

}  // namespace

TEST_F(GdalOracle, EightBitImages) {
    Check({{"Byte", 1, 7, 5},
           {"Byte", 3, 13, 9},
           {"Byte", 1, 1, 1},
           {"Byte", 2, 1500, 800}});  // interleaved lines read in several chunks
}

TEST_F(GdalOracle, SignedSixteenBitImages) {
    Check({{"Int16", 1, 11, 6}, {"Int16", 2, 11, 6}, {"Int16", 4, 333, 257}});
}
