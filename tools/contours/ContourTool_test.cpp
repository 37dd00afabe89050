// orvane-contours on real files: the lines it writes read back through GDAL
// equal the ones computed, in each of the three formats; bad input is refused
// with a message and a non-zero status, and nothing is written.
#include "ContourTool.h"

#include <gdal.h>
#include <gtest/gtest.h>
#include <ogr_api.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <random>

#include "Surface/Contours.h"
#include "Surface/Surface.h"
#include "TIN/TINPoints.h"
#include "testing/PlatformTestSupport.h"
#include "testing/SurfaceTestSupport.h"

namespace fs = std::filesystem;

namespace {

// Hills over a jittered grid with a flat hollow, written as a points file.
void WriteHills(const std::string& path, CTINPoints& set) {
    std::mt19937_64 random(21);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<std::array<double, 3>> p;
    for (int i = 0; i < 45; ++i) {
        for (int j = 0; j < 45; ++j) {
            const double x = 600000.0 + 4.0 * j + u(random), y = 5200000.0 + 4.0 * i + u(random);
            p.push_back(
                {x, y, 250.0 + 12.0 * std::sin(j / 6.0) * std::cos(i / 7.0) + 0.2 * u(random)});
        }
    }
    surfacetest::MakeSet(p, set);
    set.m_dMinX = 599990.0, set.m_dMaxX = 600200.0, set.m_dMinY = 5199990.0,
    set.m_dMaxY = 5200200.0;
    set.SetSpacing(4.0, 4.0);
    ASSERT_EQ(set.WritePts(path), set.GetCount());
}

using platformtest::ToolRun;

ToolRun RunTool(const std::vector<std::string>& args) {
    return platformtest::RunCaptured([&](FILE* o, FILE* e) { return RunContourTool(args, o, e); });
}

std::vector<std::string> Listing(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(ContourTool, WrittenLinesReadBackThroughGdalAsComputed) {
    platformtest::TempDir dir("orvane_contours");
    const std::string points = dir / "hills.pts";
    CTINPoints set;
    WriteHills(points, set);
    // The lines as computed here, from the file as read back.
    CTINPoints read;
    ASSERT_EQ(read.ReadPts(points), 1);
    CSurface surface;
    surface.Build(read);
    CContours contours;
    contours.Build(surface, 2.0);
    std::vector<ContourLine> lines;
    contours.Lines(surface, lines);
    ASSERT_GT(lines.size(), 20u);

    GDALAllRegister();
    for (const std::string name : {"c.geojson", "c.shp", "c.DXF"}) {
        const std::string output = dir / name;
        const ToolRun run = RunTool({points, "--interval", "2", output});
        ASSERT_EQ(run.status, 0) << run.err;
        GDALDatasetH dataset = GDALOpenEx(output.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY,
                                          nullptr, nullptr, nullptr);
        ASSERT_NE(dataset, nullptr) << name;
        OGRLayerH layer = GDALDatasetGetLayer(dataset, 0);
        ASSERT_EQ(OGR_L_GetFeatureCount(layer, TRUE), static_cast<GIntBig>(lines.size())) << name;
        const bool dxf = name == "c.DXF";
        OGR_L_ResetReading(layer);
        size_t k = 0;
        int index = 0;
        for (OGRFeatureH f; (f = OGR_L_GetNextFeature(layer)) != nullptr; ++k) {
            const ContourLine& line = lines[k];
            OGRGeometryH g = OGR_F_GetGeometryRef(f);
            ASSERT_EQ(OGR_G_GetPointCount(g), static_cast<int>(line.points.size()))
                << name << " " << k;
            for (int i = 0; i < OGR_G_GetPointCount(g); ++i) {
                const surface::XY& p = line.points[static_cast<size_t>(i)];
                // Shapefiles hold the doubles; the text formats all their digits but the last.
                EXPECT_NEAR(OGR_G_GetX(g, i), p.x, 1e-8) << name;
                EXPECT_NEAR(OGR_G_GetY(g, i), p.y, 1e-8) << name;
                EXPECT_NEAR(OGR_G_GetZ(g, i), line.height, 1e-9) << name;
            }
            if (dxf) {
                const char* layerName = OGR_F_GetFieldAsString(f, OGR_F_GetFieldIndex(f, "Layer"));
                EXPECT_STREQ(layerName, line.index ? "INDEX" : "CONTOUR");
            } else {
                EXPECT_DOUBLE_EQ(OGR_F_GetFieldAsDouble(f, OGR_F_GetFieldIndex(f, "height")),
                                 line.height);
                EXPECT_EQ(OGR_F_GetFieldAsInteger(f, OGR_F_GetFieldIndex(f, "index")),
                          line.index ? 1 : 0);
                EXPECT_EQ(OGR_F_GetFieldAsInteger(f, OGR_F_GetFieldIndex(f, "level")), line.level);
            }
            index += line.index;
            OGR_F_Destroy(f);
        }
        EXPECT_EQ(k, lines.size());
        EXPECT_GT(index, 0);
        GDALClose(dataset);
    }
    // The shapefile's parts sit beside it, and no temporary is left.
    for (const std::string& n : Listing(dir.Path()))
        EXPECT_EQ(n.find("orvane-save"), std::string::npos) << n;
    EXPECT_TRUE(fs::exists(dir / std::string("c.shx")));
    EXPECT_TRUE(fs::exists(dir / std::string("c.dbf")));
}

TEST(ContourTool, BadInputIsRefusedAndNothingWritten) {
    platformtest::TempDir dir("orvane_contours");
    const std::string points = dir / "hills.pts";
    CTINPoints set;
    WriteHills(points, set);
    // Points all on one line give no surface.
    const std::string line = dir / "line.pts";
    {
        CTINPoints l;
        surfacetest::MakeSet({{0, 0, 1}, {1, 1, 2}, {2, 2, 3}, {5, 5, 4}}, l);
        l.m_dMinX = -1, l.m_dMaxX = 6, l.m_dMinY = -1, l.m_dMaxY = 6;
        ASSERT_EQ(l.WritePts(line), 4);
    }
    const std::string garbage = dir / "garbage.pts";
    dir.Write("garbage.pts", "not points");
    const std::vector<std::string> before = Listing(dir.Path());
    const std::string out = dir / "out.geojson";
    const struct {
        std::vector<std::string> args;
        int status;
        const char* says;
    } cases[] = {
        {{points, "--interval", "0", out}, kContourToolUsage, "above 0"},
        {{points, "--interval", "-2", out}, kContourToolUsage, "above 0"},
        {{points, "--interval", "nan", out}, kContourToolUsage, "above 0"},
        {{points, "--interval", "2m", out}, kContourToolUsage, "above 0"},
        {{points, "--interval"}, kContourToolUsage, "needs a number"},
        {{points, "--interval", "2", dir / "out.kml"}, kContourToolUsage, ".geojson, .shp or .dxf"},
        {{points, "--interval", "2", dir / "no/such/folder/out.geojson"},
         kContourToolOutput,
         "cannot write"},
        {{points, "--colour", "red", out}, kContourToolUsage, "unknown option"},
        {{points}, kContourToolUsage, "one points file and one output"},
        {{dir / "missing.pts", "--interval", "2", out}, 1, "cannot read"},
        {{garbage, "--interval", "2", out}, 1, "cannot read"},
        {{dir.Path(), "--interval", "2", out}, 1, "not a points file"},
        {{line, "--interval", "2", out}, kContourToolNoSurface, "no surface"},
        {{points, "--interval", "1e-7", out}, kContourToolTooManyLevels, "levels"},
    };
    for (const auto& c : cases) {
        const ToolRun run = RunTool(c.args);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_EQ(Listing(dir.Path()), before) << run.err;
    }
    // Without --interval the points' default is used and said.
    const ToolRun run = RunTool({points, out});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("default"), std::string::npos);
    EXPECT_TRUE(fs::exists(out));
}

}  // namespace
