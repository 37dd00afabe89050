// GDAL as an independent LAN producer and reader: small GeoTIFFs are turned
// into LAN files by gdal_translate, read by CErdasImage, and every band (and a
// flipped window) is compared with what GDAL itself reads from the same file.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "Platform/FileHandle.h"
#include "erdasimg/erdasimg.h"

namespace {

// Debian's interpreter, the one python3-gdal installs into.
const char kPython[] = "/usr/bin/python3";

const char kScript[] = R"PY(
import sys
import numpy as np
from osgeo import gdal
gdal.UseExceptions()
cmd = sys.argv[1]
if cmd == "make":
    path, typ, bands, cols, rows = sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5]), int(sys.argv[6])
    gtype = {"Byte": gdal.GDT_Byte, "Int16": gdal.GDT_Int16}[typ]
    npt = {"Byte": np.uint8, "Int16": np.int16}[typ]
    rng = np.random.default_rng(cols * 1000 + rows * 10 + bands)
    info = np.iinfo(npt)
    ds = gdal.GetDriverByName("GTiff").Create(path, cols, rows, bands, gtype)
    for b in range(bands):
        a = rng.integers(info.min, info.max, size=(rows, cols), endpoint=True).astype(npt)
        ds.GetRasterBand(b + 1).WriteArray(a)
    ds = None
elif cmd == "dump":
    path, out, x0, y0, w, h = sys.argv[2], sys.argv[3], *map(int, sys.argv[4:8])
    ds = gdal.Open(path)
    with open(out, "wb") as f:
        for b in range(ds.RasterCount):
            f.write(ds.GetRasterBand(b + 1).ReadAsArray().tobytes())
        for b in range(ds.RasterCount):
            # window rows bottom first, as the drawing copy holds them
            f.write(ds.GetRasterBand(b + 1).ReadAsArray(x0, y0, w, h)[::-1].tobytes())
)PY";

bool RunShell(const std::string& cmd) {
    return std::system(cmd.c_str()) == 0;
}

std::vector<unsigned char> Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

class GdalOracle : public ::testing::Test {
protected:
    void SetUp() override {
        if (!RunShell("command -v gdal_translate >/dev/null 2>&1"))
            GTEST_SKIP() << "gdal_translate is not installed";
        if (!RunShell(std::string(kPython) +
                      " -c 'from osgeo import gdal; import numpy' 2>/dev/null"))
            GTEST_SKIP() << kPython << " has no GDAL Python bindings";
        char tmpl[] = "/tmp/erdasimg_gdal_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        std::ofstream(m_dir + "/lan.py") << kScript;
    }
    void TearDown() override {
        if (!m_dir.empty()) std::filesystem::remove_all(m_dir);
    }

    // Makes a GeoTIFF, converts it to LAN with GDAL, reads it and compares
    // with GDAL's own reading of the LAN file.
    void Check(const std::string& type, int bands, int cols, int rows) {
        SCOPED_TRACE(type + " " + std::to_string(bands) + " bands " + std::to_string(cols) + " x " +
                     std::to_string(rows));
        const std::string py = std::string(kPython) + " " + m_dir + "/lan.py ";
        const std::string tif = m_dir + "/in.tif", lan = m_dir + "/out.lan",
                          raw = m_dir + "/gdal.raw";
        ASSERT_TRUE(RunShell(py + "make " + tif + " " + type + " " + std::to_string(bands) + " " +
                             std::to_string(cols) + " " + std::to_string(rows)));
        ASSERT_TRUE(RunShell("gdal_translate -q -of LAN " + tif + " " + lan));

        // A window in the lower right part: columns x0..x1, rows y0..y1
        // counted from the bottom; GDAL's row offset counts from the top.
        const int x0 = cols / 3, x1 = cols - 1, y0 = 0, y1 = rows / 2;
        const int w = x1 - x0 + 1, h = y1 - y0 + 1;
        ASSERT_TRUE(RunShell(py + "dump " + lan + " " + raw + " " + std::to_string(x0) + " " +
                             std::to_string(rows - 1 - y1) + " " + std::to_string(w) + " " +
                             std::to_string(h)));

        Platform::FilePtr f = Platform::OpenFile(lan, "rb");
        ASSERT_TRUE(f);
        CErdasImage img;
        ASSERT_EQ(img.ReadImage(f.get()), 1);
        const LanHeader& hd = img.GetHeader();
        const int bps = type == "Byte" ? 1 : 2;
        EXPECT_EQ(std::memcmp(hd.magic, "HEAD74", 6), 0);
        EXPECT_EQ(hd.packing, type == "Byte" ? 0 : 2);
        EXPECT_EQ(img.GetBytesPerSample(), bps);
        EXPECT_EQ(hd.nbands, bands);
        EXPECT_EQ(img.GetSize().cx, cols);
        EXPECT_EQ(img.GetSize().cy, rows);

        const std::vector<unsigned char> oracle = Slurp(raw);
        const size_t bandBytes = static_cast<size_t>(cols) * rows * bps;
        const size_t windowBytes = static_cast<size_t>(w) * h * bps;
        ASSERT_EQ(oracle.size(), bands * (bandBytes + windowBytes));
        for (int b = 0; b < bands; ++b) {
            EXPECT_EQ(std::memcmp(img.GetBands()[b], oracle.data() + b * bandBytes, bandBytes), 0)
                << "band " << b;
        }
        unsigned char** win = img.ExtractWindowFlipped(x0, x1, y0, y1);
        ASSERT_NE(win, nullptr);
        const unsigned char* wo = oracle.data() + bands * bandBytes;
        for (int b = 0; b < bands; ++b) {
            EXPECT_EQ(std::memcmp(win[b], wo + b * windowBytes, windowBytes), 0)
                << "window band " << b;
        }
    }

    std::string m_dir;
};

}  // namespace

TEST_F(GdalOracle, EightBitImages) {
    Check("Byte", 1, 7, 5);
    Check("Byte", 3, 13, 9);
    Check("Byte", 1, 1, 1);
    Check("Byte", 2, 1500, 800);  // interleaved lines read in several chunks
}

TEST_F(GdalOracle, SignedSixteenBitImages) {
    Check("Int16", 1, 11, 6);
    Check("Int16", 2, 11, 6);
    Check("Int16", 4, 333, 257);
}
