// Tests of the demo project generator: the images agree with the orientation
// files (painted targets appear where the collinearity equations put them),
// the points lie inside both images, the output is deterministic, and the
// command line is checked.
#include "DemoProject.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "DemoTerrain.h"
#include "Photogrammetry/AerialPhoto.h"
#include "Platform/Platform.h"
#include "TIN/TINPoints.h"
#include "testing/PlatformTestSupport.h"

namespace fs = std::filesystem;
using namespace demo;

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Reads a LAN image into the photograph and its orientation file; true when both read.
bool LoadPhoto(CAerialPhoto& photo, const std::string& lan, const std::string& orn) {
    if (photo.ReadOrientation(orn) != 1) return false;
    FILE* f = std::fopen(lan.c_str(), "rb");
    if (!f) return false;
    const int rc = photo.m_image.ReadImage(f);
    std::fclose(f);
    return rc == 1;
}

unsigned char Pixel(const CAerialPhoto& photo, int col, int row) {
    const ImageSize s = photo.m_image.GetSize();
    return photo.m_image.GetBands()[0][static_cast<size_t>(row) * s.cx + col];
}

// One generated project shared by the tests of the suite.
class DemoProjectTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = std::make_unique<platformtest::TempDir>("makedemo_test");
        DemoOptions o;
        o.outDir = *s_dir / "sub";  // a folder that does not exist yet
        o.cols = 1100;
        o.rows = 900;
        o.points = 6000;
        o.seed = 7;
        s_options = o;
        s_rc = MakeDemoProject(o, s_result, s_error);
        if (s_rc == 1) {
            s_left = std::make_unique<CAerialPhoto>();
            s_right = std::make_unique<CAerialPhoto>();
            s_loaded = LoadPhoto(*s_left, s_result.leftImage, s_result.leftOrientation) &&
                       LoadPhoto(*s_right, s_result.rightImage, s_result.rightOrientation);
        }
    }
    static void TearDownTestSuite() {
        s_left.reset();
        s_right.reset();
        s_dir.reset();
    }
    void SetUp() override {
        ASSERT_EQ(s_rc, 1) << s_error;
        ASSERT_TRUE(s_loaded);
    }

    static inline std::unique_ptr<platformtest::TempDir> s_dir;
    static inline DemoOptions s_options;
    static inline DemoResult s_result;
    static inline std::string s_error;
    static inline int s_rc = 0;
    static inline bool s_loaded = false;
    static inline std::unique_ptr<CAerialPhoto> s_left, s_right;
};

TEST_F(DemoProjectTest, WritesTheFiveFilesWithTheRequestedSizesAndStarts) {
    for (const char* name :
         {"left.lan", "right.lan", "left.ORN", "right.ORN", "points.pts", "blunders.txt"}) {
        EXPECT_TRUE(fs::exists(fs::path(s_options.outDir) / name)) << name;
    }
    for (const CAerialPhoto* p : {s_left.get(), s_right.get()}) {
        const LanHeader& h = p->m_image.GetHeader();
        EXPECT_EQ(0, std::memcmp(h.magic, "HEAD74", 6));
        EXPECT_EQ(h.packing, 0);
        EXPECT_EQ(h.nbands, 1);
        EXPECT_EQ(h.ncols, 1100);
        EXPECT_EQ(h.nrows, 900);
        // A sub-image cut from a larger scan: non-zero starts within 16 bits.
        EXPECT_GT(p->GetXStart(), 0.0);
        EXPECT_GT(p->GetYStart(), 0.0);
        EXPECT_EQ(p->GetXStart(), h.xstart);
        EXPECT_EQ(p->GetYStart(), h.ystart);
        EXPECT_EQ(fs::file_size(p == s_left.get() ? s_result.leftImage : s_result.rightImage),
                  128u + 1100u * 900u);
        // Near-vertical but not exactly: small non-zero angles.
        for (double a : {p->m_dOmega, p->m_dPhi, p->m_dKappa}) {
            EXPECT_NE(a, 0.0);
            EXPECT_LT(std::fabs(a), 0.05);
        }
    }
    EXPECT_NEAR(s_result.overlapPercent, 60.0, 6.0);
}

TEST_F(DemoProjectTest, OrientationFileHasThreeWordsAndEighteenNumbers) {
    std::istringstream in(ReadFile(s_result.leftOrientation));
    std::vector<std::string> tokens;
    for (std::string t; in >> t;) tokens.push_back(t);
    ASSERT_EQ(tokens.size(), 21u);
    EXPECT_EQ(tokens[0], "ORIENTATION");
    for (size_t i = 3; i < tokens.size(); ++i) {
        char* end = nullptr;
        std::strtod(tokens[i].c_str(), &end);
        EXPECT_EQ(*end, '\0') << tokens[i];
    }
    // The photograph reads it into the camera that was laid out.
    const DemoCamera& c = s_result.layout.left;
    EXPECT_DOUBLE_EQ(s_left->m_dFocalLength, c.focal);
    EXPECT_NEAR(s_left->m_dXs, c.xs, 1e-6);
    EXPECT_NEAR(s_left->m_dKappa, c.kappaDeg / 180.0 * 3.141592653589793, 1e-12);
    // Flipped y: rows run downwards, so the photo y of the row step is negative.
    EXPECT_GT(s_left->m_ppInterior[0][0], 0.0);
    EXPECT_LT(s_left->m_ppInterior[1][1], 0.0);
}

// Every target appears in both images as a white square centred, within a
// pixel, where GroundToImage of the photograph puts its ground position (minus
// the sub-image start), with a black border around it; no other pixel is white.
TEST_F(DemoProjectTest, TargetsAppearWhereTheOrientationProjectsThem) {
    ASSERT_GE(s_result.targets.size(), 3u);
    const double gsd = s_result.layout.groundPixel;
    for (const CAerialPhoto* p : {s_left.get(), s_right.get()}) {
        const ImageSize size = p->m_image.GetSize();
        int64_t whiteInTargets = 0;
        for (const DemoTarget& t : s_result.targets) {
            double col, row;
            ASSERT_EQ(p->GroundToImage(t.x, t.y, t.z, col, row), 1);
            col -= p->GetXStart();
            row -= p->GetYStart();
            ASSERT_GT(col, 10);
            ASSERT_GT(row, 10);
            ASSERT_LT(col, size.cx - 10);
            ASSERT_LT(row, size.cy - 10);
            const int r = static_cast<int>(std::ceil(kTargetBorderHalf / gsd)) + 3;
            double sx = 0, sy = 0, n = 0;
            for (int y = static_cast<int>(row) - r; y <= static_cast<int>(row) + r; ++y) {
                for (int x = static_cast<int>(col) - r; x <= static_cast<int>(col) + r; ++x) {
                    if (Pixel(*p, x, y) == 255) {
                        sx += x;
                        sy += y;
                        n += 1;
                    }
                }
            }
            const double side = 2.0 * kTargetWhiteHalf / gsd;
            ASSERT_GT(n, 0.5 * side * side) << "target at " << t.x << " " << t.y;
            EXPECT_LT(n, 1.6 * side * side);
            EXPECT_NEAR(sx / n, col, 1.0);
            EXPECT_NEAR(sy / n, row, 1.0);
            whiteInTargets += static_cast<int64_t>(n);
            // The black border, half-way between the white square and its outer edge.
            const double mid = 0.5 * (kTargetWhiteHalf + kTargetBorderHalf) / gsd;
            EXPECT_EQ(Pixel(*p, static_cast<int>(std::lround(col + mid)),
                            static_cast<int>(std::lround(row))),
                      0);
            EXPECT_EQ(Pixel(*p, static_cast<int>(std::lround(col)),
                            static_cast<int>(std::lround(row - mid))),
                      0);
        }
        int64_t white = 0;
        const unsigned char* band = p->m_image.GetBands()[0];
        for (int64_t i = 0; i < int64_t{size.cx} * size.cy; ++i) white += band[i] == 255;
        EXPECT_EQ(white, whiteInTargets);
    }
}

// Ordinary ground points look alike in both images: the texture belongs to the
// ground, so the grey values at the two projections of the same points correlate.
TEST_F(DemoProjectTest, BothImagesSeeTheSameTexture) {
    CDemoTerrain terrain(s_options.seed, s_result.layout.originX, s_result.layout.originY,
                         s_result.layout.baseZ, s_result.layout.groundPixel);
    CDemoRandom rng(99);
    std::vector<double> a, b;
    while (a.size() < 400) {
        const double X = rng.Uniform(s_result.overlapMinX, s_result.overlapMaxX);
        const double Y = rng.Uniform(s_result.overlapMinY, s_result.overlapMaxY);
        if (terrain.DistanceToBuilding(X, Y) < 30.0) continue;
        const double Z = terrain.TerrainHeight(X, Y);
        double lc, lr, rc, rr;
        s_left->GroundToImage(X, Y, Z, lc, lr);
        s_right->GroundToImage(X, Y, Z, rc, rr);
        a.push_back(Pixel(*s_left, static_cast<int>(std::lround(lc - s_left->GetXStart())),
                          static_cast<int>(std::lround(lr - s_left->GetYStart()))));
        b.push_back(Pixel(*s_right, static_cast<int>(std::lround(rc - s_right->GetXStart())),
                          static_cast<int>(std::lround(rr - s_right->GetYStart()))));
    }
    double ma = 0, mb = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        ma += a[i];
        mb += b[i];
    }
    ma /= a.size();
    mb /= b.size();
    double sab = 0, saa = 0, sbb = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        sab += (a[i] - ma) * (b[i] - mb);
        saa += (a[i] - ma) * (a[i] - ma);
        sbb += (b[i] - mb) * (b[i] - mb);
    }
    EXPECT_GT(sab / std::sqrt(saa * sbb), 0.85);
    // And there is texture to fuse: a wide spread of grey values.
    EXPECT_GT(std::sqrt(saa / a.size()), 15.0);
}

TEST_F(DemoProjectTest, PointsReadBackAndProjectInsideBothImages) {
    CTINPoints points;
    ASSERT_EQ(points.ReadPts(s_result.pointsFile), 1);
    ASSERT_EQ(points.GetCount(), 6000);
    EXPECT_EQ(fs::file_size(s_result.pointsFile), 52u + 32u * 6000u);
    double sx = 0, sy = 0;
    points.GetSpacing(&sx, &sy);
    EXPECT_DOUBLE_EQ(sx, s_result.spacing);
    EXPECT_DOUBLE_EQ(sy, s_result.spacing);
    EXPECT_GT(points.m_dMaxX, points.m_dMinX);
    EXPECT_GT(points.m_dMaxY, points.m_dMinY);

    CDemoTerrain terrain(s_options.seed, s_result.layout.originX, s_result.layout.originY,
                         s_result.layout.baseZ, s_result.layout.groundPixel);
    std::vector<bool> isBlunder(6000, false);
    for (int64_t i : s_result.blunders) isBlunder[static_cast<size_t>(i)] = true;
    int low = 0, outside = 0, badBlunders = 0, badPoints = 0;
    for (int i = 0; i < points.GetCount(); ++i) {
        const TINPoint* p = points.GetPoint(i);
        const double x = p->x, y = p->y, z = p->z, w = p->weight;
        EXPECT_GE(x, points.m_dMinX);
        EXPECT_LE(x, points.m_dMaxX);
        EXPECT_GE(y, points.m_dMinY);
        EXPECT_LE(y, points.m_dMaxY);
        low += w < 0.95;
        for (const CAerialPhoto* photo : {s_left.get(), s_right.get()}) {
            double c, r;
            photo->GroundToImage(x, y, z, c, r);
            c -= photo->GetXStart();
            r -= photo->GetYStart();
            outside += !(c >= 0 && r >= 0 && c <= 1099 && r <= 899);
        }
        const double dz = z - terrain.SurfaceHeight(x, y);
        if (isBlunder[static_cast<size_t>(i)]) {
            badBlunders += std::fabs(dz) < 4.5;
        } else if (terrain.DistanceToBuilding(x, y) > 2.0) {
            badPoints += std::fabs(dz) > 0.5;
        }
    }
    EXPECT_EQ(outside, 0);
    EXPECT_EQ(badBlunders, 0);
    EXPECT_EQ(badPoints, 0);
    EXPECT_GT(low, 0);
    EXPECT_LT(low, 6000 / 5);
    EXPECT_GE(s_result.blunders.size(), 3u);
    EXPECT_EQ(low, s_result.lowWeightCount);
}

// blunders.txt names exactly the planted errors, with the heights written to
// the points file and the surface beneath them, and reads back.
TEST_F(DemoProjectTest, TruthFileNamesEveryPlantedErrorWithItsHeights) {
    CTINPoints points;
    ASSERT_EQ(points.ReadPts(s_result.pointsFile), 1);
    DemoOptions made;
    std::vector<DemoBlunder> truth;
    ASSERT_EQ(ReadDemoTruth(s_result.truthFile, made, truth), 1);
    EXPECT_EQ(made.seed, s_options.seed);
    EXPECT_EQ(made.cols, s_options.cols);
    EXPECT_EQ(made.rows, s_options.rows);
    EXPECT_EQ(made.points, s_options.points);
    ASSERT_EQ(truth.size(), s_result.blunders.size());
    CDemoTerrain terrain(s_options.seed, s_result.layout.originX, s_result.layout.originY,
                         s_result.layout.baseZ, s_result.layout.groundPixel);
    for (size_t k = 0; k < truth.size(); ++k) {
        const DemoBlunder& b = truth[k];
        EXPECT_EQ(b.id, s_result.blunders[k]);
        const TINPoint* p = points.GetPoint(static_cast<int>(b.id));
        ASSERT_NE(p, nullptr);
        const double x = p->x, y = p->y, z = p->z;
        EXPECT_NEAR(b.x, x, 1e-4);
        EXPECT_NEAR(b.y, y, 1e-4);
        EXPECT_NEAR(b.plantedZ, z, 1e-9);
        EXPECT_NEAR(b.trueZ, terrain.SurfaceHeight(x, y), 1e-4);
        EXPECT_GE(std::fabs(b.plantedZ - b.trueZ), 4.5);
    }
    EXPECT_EQ(ReadDemoTruth(s_result.pointsFile, made, truth), -2);
    EXPECT_EQ(ReadDemoTruth(*s_dir / "none.txt", made, truth), -1);
}

// Away from what ReliefAt reports the surface has no break of slope: its
// height at a point is the mean of the heights a metre to either side, up to
// the gentle curvature of the hills; at reported relief that often fails.
TEST_F(DemoProjectTest, ReliefAtReportsEveryBreakOfSlope) {
    CDemoTerrain terrain(s_options.seed, s_result.layout.originX, s_result.layout.originY,
                         s_result.layout.baseZ, s_result.layout.groundPixel);
    CTINPoints points;
    ASSERT_EQ(points.ReadPts(s_result.pointsFile), 1);
    constexpr double kReach = 2.0, kStep = 1.0;
    int building = 0, road = 0, smoothBreaks = 0, reliefBreaks = 0;
    for (int i = 0; i < points.GetCount(); ++i) {
        const double x = points.GetPoint(i)->x, y = points.GetPoint(i)->y;
        const double h = terrain.SurfaceHeight(x, y);
        double bend = 0.0;
        for (const auto& [dx, dy] : {std::pair{kStep, 0.0}, std::pair{0.0, kStep}}) {
            const double mean = 0.5 * (terrain.SurfaceHeight(x + dx, y + dy) +
                                       terrain.SurfaceHeight(x - dx, y - dy));
            bend = std::max(bend, std::fabs(h - mean));
        }
        const ReliefKind kind = terrain.ReliefAt(x, y, kReach);
        building += kind == ReliefKind::BuildingEdge;
        road += kind == ReliefKind::RoadSlope;
        if (kind == ReliefKind::None) {
            smoothBreaks += bend > 0.03;
        } else {
            reliefBreaks += bend > 0.03;
        }
    }
    EXPECT_EQ(smoothBreaks, 0);
    EXPECT_GT(building, 0);
    EXPECT_GT(road, 0);
    EXPECT_GT(reliefBreaks, 0);
}

// The project loads the way the workstation loads it: the ground set and both
// image-point sets index without a single point outside their grids, and every
// image point lies inside its image.
TEST_F(DemoProjectTest, LoadsThroughTheProjectLoaderPath) {
    Platform::ScopedMessageCapture capture;
    CTINPoints points;
    ASSERT_EQ(points.ReadPts(s_result.pointsFile), 1);
    EXPECT_EQ(points.BuildIndex(1), 0);
    for (CAerialPhoto* photo : {s_left.get(), s_right.get()}) {
        ASSERT_EQ(photo->ProjectAll(points), 1);
        ASSERT_TRUE(photo->m_pImagePoints);
        EXPECT_EQ(photo->m_pImagePoints->BuildIndex(1), 0);
        for (int i = 0; i < photo->m_pImagePoints->GetCount(); ++i) {
            const TINPoint* p = photo->m_pImagePoints->GetPoint(i);
            const double c = p->x, r = p->y;
            ASSERT_TRUE(c >= 0 && c <= 1099 && r >= 0 && r <= 899) << i;
        }
        // Picking finds a point at its own image position.
        const TINPoint* p = photo->m_pImagePoints->GetPoint(1234);
        const int found =
            photo->FindImagePoint(static_cast<int>(p->x), static_cast<int>(p->y), 3.0);
        EXPECT_GE(found, 0);
    }
    EXPECT_TRUE(capture.Texts().empty()) << capture.Texts().front();
}

// Picking as the view picks (integer sub-image positions, tolerance 5 pixels)
// at every position within 4 pixels of a left image point finds a point, and
// one no farther than the clicked one: a click next to a point never misses,
// wherever the grid's cell borders fall.
TEST_F(DemoProjectTest, PickingNearEveryImagePointNeverMisses) {
    CTINPoints points;
    ASSERT_EQ(points.ReadPts(s_result.pointsFile), 1);
    ASSERT_EQ(s_left->ProjectAll(points), 1);
    ASSERT_EQ(s_left->m_pImagePoints->BuildPlacedIndex(1), 0);
    const CTINPoints& image = *s_left->m_pImagePoints;
    int64_t picks = 0;
    int64_t misses = 0;
    int64_t farther = 0;
    for (int i = 0; i < image.GetCount(); ++i) {
        const TINPoint p = *image.GetPoint(i);
        const int cx = static_cast<int>(std::floor(p.x));
        const int cy = static_cast<int>(std::floor(p.y));
        for (int y = cy - 4; y <= cy + 5; ++y) {
            for (int x = cx - 4; x <= cx + 5; ++x) {
                const double d = (x - p.x) * (x - p.x) + (y - p.y) * (y - p.y);
                if (d > 16.0) continue;
                ++picks;
                const int found = s_left->FindImagePoint(x, y, 5.0);
                if (found < 0) {
                    ++misses;
                    continue;
                }
                const TINPoint q = *image.GetPoint(found);
                farther += (x - q.x) * (x - q.x) + (y - q.y) * (y - q.y) > d;
            }
        }
    }
    EXPECT_GT(picks, 6000 * 40);
    EXPECT_EQ(misses, 0);
    EXPECT_EQ(farther, 0);
}

TEST(DemoTerrainTest, RaysMeetTheTerrainOnceFromNadirToSteepCorners) {
    CDemoTerrain terrain(3, 1000.0, 2000.0, 300.0, 0.2);
    CDemoRandom r(5);
    const double cx = 1000.0 - 575.0, cy = 2000.0, cz = 300.0 + 1912.0;
    int checked = 0;
    for (int i = 0; i < 3000; ++i) {
        // Ray slopes up to 0.9 horizontal per vertical metre (a wide frame's corner).
        const double dx = r.Uniform(-0.9, 0.9);
        const double dy = r.Uniform(-0.5, 0.5);
        double z = 300.0 + r.Uniform(-40.0, 40.0);  // a poor start on purpose
        terrain.CastRay(cx, cy, cz, dx, dy, z);
        const double X = cx + (z - cz) * dx;
        const double Y = cy + (z - cz) * dy;
        if (terrain.DistanceToBuilding(X, Y) < 60.0) continue;  // buildings may stop the ray first
        EXPECT_NEAR(z, terrain.TerrainHeight(X, Y), 2e-3) << dx << " " << dy;
        ++checked;
    }
    EXPECT_GT(checked, 2000);
}

// The photographs show the terrain that TerrainHeight gives, the road's
// sharp breaks of slope included: the rendering grid interpolates the hills
// alone (to millimetres) and adds the cut and fill exactly, where a grid of
// the terrain itself would round each break by centimetres.
TEST(DemoTerrainTest, RenderedSurfaceIsTheTerrainAlsoAtTheRoadsBreaks) {
    const double originX = 1000.0, originY = 2000.0;
    CDemoTerrain terrain(3, originX, originY, 300.0, 0.2);
    terrain.BuildRenderGrid(originX - 150.0, originX + 150.0, originY - 150.0, originY + 150.0, 0.5,
                            2);
    CDemoRandom r(8);
    int nearRoad = 0;
    double worst = 0.0;
    for (int i = 0; i < 20000; ++i) {
        const double x = r.Uniform(-140.0, 140.0), y = r.Uniform(-140.0, 140.0);
        if (terrain.ReliefAt(originX + x, originY + y, 0.3) == ReliefKind::RoadSlope) ++nearRoad;
        worst = std::max(worst, std::fabs(terrain.RenderHeight(x, y) -
                                          terrain.TerrainHeight(originX + x, originY + y)));
    }
    EXPECT_GT(nearRoad, 100);
    EXPECT_LT(worst, 0.005);
}

TEST(DemoProjectDeterminism, SameSeedGivesSameBytesWhateverTheThreads) {
    const platformtest::TempDir dir("makedemo_test");
    const fs::path a = dir / "det_a", b = dir / "det_b", c = dir / "det_c";
    DemoOptions o;
    o.cols = 320;
    o.rows = 256;
    o.points = 3000;
    o.seed = 42;
    o.outDir = a.string();
    o.threads = 1;
    DemoResult ra, rb, rc;
    std::string error;
    ASSERT_EQ(MakeDemoProject(o, ra, error), 1) << error;
    o.outDir = b.string();
    o.threads = 3;
    ASSERT_EQ(MakeDemoProject(o, rb, error), 1) << error;
    o.outDir = c.string();
    o.seed = 43;
    ASSERT_EQ(MakeDemoProject(o, rc, error), 1) << error;
    for (const char* name :
         {"left.lan", "right.lan", "left.ORN", "right.ORN", "points.pts", "blunders.txt"}) {
        EXPECT_EQ(ReadFile((a / name).string()), ReadFile((b / name).string())) << name;
    }
    EXPECT_NE(ReadFile((a / "left.lan").string()), ReadFile((c / "left.lan").string()));
    EXPECT_NE(ReadFile((a / "points.pts").string()), ReadFile((c / "points.pts").string()));
    // Writing again over an existing project replaces it with the same bytes.
    o.outDir = a.string();
    o.seed = 42;
    ASSERT_EQ(MakeDemoProject(o, ra, error), 1) << error;
    EXPECT_EQ(ReadFile((a / "left.lan").string()), ReadFile((b / "left.lan").string()));
}

TEST(DemoProjectEdges, OnePointAndSmallestImagesStillMakeALoadableProject) {
    const platformtest::TempDir dir("makedemo_test");
    const fs::path d = dir / "one";
    DemoOptions o;
    o.cols = 256;
    o.rows = 256;
    o.points = 1;
    o.targets = false;
    o.outDir = d.string();
    DemoResult r;
    std::string error;
    ASSERT_EQ(MakeDemoProject(o, r, error), 1) << error;
    CTINPoints points;
    // A single point still gives a header whose max X lies above its min X.
    ASSERT_EQ(points.ReadPts(r.pointsFile), 1);
    EXPECT_EQ(points.GetCount(), 1);
    EXPECT_TRUE(r.blunders.empty());
    EXPECT_TRUE(r.targets.empty());

    // Small images, whose footprints shift by most of their width over the
    // relief: the points, gross errors included, still fall inside both.
    o.cols = 256;
    o.rows = 300;
    o.points = 3000;
    o.seed = 5;
    ASSERT_EQ(MakeDemoProject(o, r, error), 1) << error;
    CAerialPhoto left, right;
    ASSERT_TRUE(LoadPhoto(left, r.leftImage, r.leftOrientation));
    ASSERT_TRUE(LoadPhoto(right, r.rightImage, r.rightOrientation));
    CTINPoints many;
    ASSERT_EQ(many.ReadPts(r.pointsFile), 1);
    int outside = 0;
    for (int i = 0; i < many.GetCount(); ++i) {
        const TINPoint* p = many.GetPoint(i);
        for (const CAerialPhoto* photo : {&left, &right}) {
            double c, rr;
            photo->GroundToImage(p->x, p->y, p->z, c, rr);
            c -= photo->GetXStart();
            rr -= photo->GetYStart();
            outside += !(c >= 0 && rr >= 0 && c <= 255 && rr <= 299);
        }
    }
    EXPECT_EQ(outside, 0);
    EXPECT_FALSE(r.blunders.empty());
}

TEST(DemoProjectEdges, RefusesInvalidOptionsAndAnUnwritableFolder) {
    DemoOptions o;
    DemoResult r;
    std::string error;
    o.outDir = "";
    EXPECT_EQ(MakeDemoProject(o, r, error), -1);
    const platformtest::TempDir dir("makedemo_test");
    o.outDir = dir / "bad";
    o.cols = 255;
    EXPECT_EQ(MakeDemoProject(o, r, error), -1);
    o.cols = 300;
    o.points = 0;
    EXPECT_EQ(MakeDemoProject(o, r, error), -1);
    // A folder path that runs through a regular file.
    const fs::path file = dir / "file";
    std::ofstream(file.string()) << "x";
    o.points = 10;
    o.outDir = (file / "inside").string();
    EXPECT_EQ(MakeDemoProject(o, r, error), -2);
}

TEST(DemoLayoutTest, StartsStayInsideTheScanAndSixteenBitsForEverySize) {
    for (int side : {256, 2000, 10000, 20000}) {
        DemoOptions o;
        o.cols = side;
        o.rows = side;
        const DemoLayout L = MakeDemoLayout(o);
        for (const DemoCamera* c : {&L.left, &L.right}) {
            EXPECT_GT(c->xStart, 0) << side;
            EXPECT_GT(c->yStart, 0) << side;
            EXPECT_LE(c->xStart + c->cols, L.scanSide) << side;
            EXPECT_LE(c->yStart + c->rows, L.scanSide) << side;
            EXPECT_LE(c->xStart, 32767);
            EXPECT_LE(c->yStart, 32767);
        }
        // About 20 micrometres: never coarser, finer only for very large images.
        EXPECT_LE(L.pixelSize, 0.02 + 1e-12);
        EXPECT_GT(L.pixelSize, 0.008);
    }
}

TEST(DemoArgumentsTest, ParsesSizesAndRejectsBadValues) {
    DemoOptions o;
    std::string e;
    ASSERT_EQ(ParseDemoArguments({"out", "--size", "300x260", "--points=1234", "--seed", "9",
                                  "--threads", "2", "--no-targets"},
                                 o, e),
              1)
        << e;
    EXPECT_EQ(o.outDir, "out");
    EXPECT_EQ(o.cols, 300);
    EXPECT_EQ(o.rows, 260);
    EXPECT_EQ(o.points, 1234);
    EXPECT_EQ(o.seed, 9u);
    EXPECT_EQ(o.threads, 2);
    EXPECT_FALSE(o.targets);

    DemoOptions p;
    ASSERT_EQ(ParseDemoArguments({"--cols", "20000", "--rows=256", "dir"}, p, e), 1) << e;
    EXPECT_EQ(p.cols, 20000);
    EXPECT_EQ(p.rows, 256);
    EXPECT_EQ(p.points, 40000);

    const std::vector<std::vector<std::string>> bad = {
        {},
        {"a", "b"},
        {"out", "--size", "300"},
        {"out", "--size", "20001x100"},
        {"out", "--cols", "255"},
        {"out", "--points", "10000001"},
        {"out", "--points", "0"},
        {"out", "--points", "12abc"},
        {"out", "--seed", "-1"},
        {"out", "--threads"},
        {"out", "--frobnicate"},
    };
    for (const auto& args : bad) {
        DemoOptions q;
        EXPECT_EQ(ParseDemoArguments(args, q, e), -1) << (args.empty() ? "(none)" : args.back());
    }
    DemoOptions h;
    EXPECT_EQ(ParseDemoArguments({"out", "--help"}, h, e), 0);
}

}  // namespace

// Images that start at the frame's first pixel show the same scene: the
// points fall on the same sub-image pixels, and the images agree but for the
// odd pixel where the shifted affine origin rounds a ray differently.
TEST(DemoProjectZeroStart, SameSceneWithTheStartInTheOrientation) {
    const platformtest::TempDir dir("makedemo_test");
    const fs::path a = dir / "start_a", b = dir / "start_b";
    DemoOptions o;
    o.cols = 400;
    o.rows = 300;
    o.points = 2000;
    o.seed = 5;
    o.outDir = a.string();
    DemoResult ra, rb;
    std::string error;
    ASSERT_EQ(MakeDemoProject(o, ra, error), 1) << error;
    std::vector<std::string> args = {b.string(), "--zero-start", "--size", "400x300",
                                     "--points", "2000",         "--seed", "5"};
    DemoOptions z;
    ASSERT_EQ(ParseDemoArguments(args, z, error), 1) << error;
    ASSERT_TRUE(z.zeroStart);
    ASSERT_EQ(MakeDemoProject(z, rb, error), 1) << error;

    CTINPoints pa, pb;
    ASSERT_EQ(pa.ReadPts(ra.pointsFile), 1);
    ASSERT_EQ(pb.ReadPts(rb.pointsFile), 1);
    ASSERT_EQ(pa.GetCount(), pb.GetCount());
    for (const char* side : {"left", "right"}) {
        CAerialPhoto shifted, zero;
        ASSERT_TRUE(LoadPhoto(shifted, (a / side).string() + ".lan", (a / side).string() + ".ORN"));
        ASSERT_TRUE(LoadPhoto(zero, (b / side).string() + ".lan", (b / side).string() + ".ORN"));
        EXPECT_GT(shifted.GetXStart(), 0.0);
        EXPECT_EQ(zero.m_image.GetHeader().xstart, 0);
        EXPECT_EQ(zero.m_image.GetHeader().ystart, 0);
        for (int i = 0; i < pa.GetCount(); i += 7) {
            const TINPoint& p = *pa.GetPoint(i);
            const TINPoint& q = *pb.GetPoint(i);
            ASSERT_NEAR(p.x, q.x, 1e-6);
            ASSERT_NEAR(p.y, q.y, 1e-6);
            double c1, r1, c2, r2;
            ASSERT_GE(shifted.GroundToImage(p.x, p.y, p.z, c1, r1), 0);
            ASSERT_GE(zero.GroundToImage(p.x, p.y, p.z, c2, r2), 0);
            EXPECT_NEAR(c1 - shifted.GetXStart(), c2, 1e-6);
            EXPECT_NEAR(r1 - shifted.GetYStart(), r2, 1e-6);
        }
        const size_t n = static_cast<size_t>(o.cols) * o.rows;
        size_t same = 0;
        for (size_t k = 0; k < n; ++k)
            same += shifted.m_image.GetBands()[0][k] == zero.m_image.GetBands()[0][k];
        EXPECT_GE(same, n - n / 1000) << side;
    }
}
