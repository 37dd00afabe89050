// Photographs as GeoTIFF and points out as LAS/XYZ, in the running application.
#include <QDir>

#include "GdalConvert.h"
#include "PointIO/PointIO.h"
#include "testing/OrvaneTestSupport.h"

using namespace orvane_test;
using Platform::ScopedMessageCapture;

namespace {

// The demo written with x/y start 0 (a GeoTIFF carries no sub-image start),
// the test run's (read-only); its folder.
std::string ZeroStartDemo() {
    demo::DemoOptions options;
    options.cols = 700;
    options.rows = 700;
    options.points = 2000;
    options.threads = 2;
    options.zeroStart = true;
    std::string error;
    const demo::DemoResult& d = demo::SharedDemo("zerostart", options, &error);
    if (d.pointsFile.empty()) ADD_FAILURE() << error;
    return d.pointsFile.substr(0, d.pointsFile.rfind('/'));
}

ProjectPaths PathsIn(const std::string& dir, const char* ext) {
    return ProjectPaths{dir + "/left." + ext, dir + "/right." + ext, dir + "/left.ORN",
                        dir + "/right.ORN", dir + "/points.pts"};
}

}  // namespace

// The same project as LAN files and as GeoTIFFs (tiled, striped, three
// bands) draws the same pixels in both eyes.
TEST(Formats, GeoTiffProjectDrawsPixelIdenticalToItsLanOriginal) {
    QTemporaryDir dir;
    const std::string lanDir = ZeroStartDemo();
    AppHarness h;
    auto drawn = [&](const ProjectPaths& paths) {
        EXPECT_EQ(h.Load(paths), 1);
        // The same view state for every load: the first picture of the LAN project.
        h.view->ScrollToPosition(CPoint(37, 23));
        h.view->m_nXOffset = 250;
        h.view->m_nYOffset = 3;
        h.view->m_nParallax = 0;
        h.view->m_bOffsetChanged = true;
        h.Draw();
        const CRect rc = h.view->GetClientRect();
        auto pixels = h.view->ReadBufferPixels(GL_FRONT_LEFT, 0, 0, rc.Width(), rc.Height());
        auto right = h.view->ReadBufferPixels(GL_FRONT_RIGHT, 0, 0, rc.Width(), rc.Height());
        pixels.insert(pixels.end(), right.begin(), right.end());
        return pixels;
    };
    const std::vector<unsigned char> lan = drawn(PathsIn(lanDir, "lan"));
    ASSERT_FALSE(lan.empty());
    struct Case {
        const char* name;
        GeoTiffLayout layout;
        int bands;
    };
    for (const Case& c : {Case{"tiled", TiledGeoTiff(), 1}, Case{"striped", StripedGeoTiff(), 1},
                          Case{"three bands", TiledGeoTiff(), 3}}) {
        const std::string tifDir = dir.path().toStdString() + "/" + c.name;
        std::string error;
        ASSERT_EQ(MakeGeoTiffProject(lanDir, tifDir, c.layout, c.bands, &error), 1) << error;
        EXPECT_EQ(drawn(PathsIn(tifDir, "tif")), lan) << c.name;
    }
}

// Export writes the points with the current edits as LAS and XYZ and leaves
// the points file and the modified flag alone; a failed export leaves nothing.
TEST(Formats, ExportWritesTheEditedPointsAndLeavesThePointsFileAlone) {
    AppHarness h;
    QTemporaryDir dir;
    const std::string pts = dir.path().toStdString() + "/points.pts";
    ASSERT_EQ(h.LoadWithPointsCopy(pts), 1);
    const std::string before = ReadAll(pts);
    h.doc->SelectPoint(3);
    h.view->OnMouseWheel(0, 120, CPoint());  // an edit: point 3 raised
    h.doc->ReleaseSelection();
    h.doc->SelectPoint(4);
    h.view->OnDeletePoints();  // and point 4 deleted
    ASSERT_TRUE(h.doc->IsModified());
    const int live = h.doc->m_points.GetCount() - 1;

    for (const char* ext : {"las", "xyz"}) {
        const std::string out = dir.path().toStdString() + "/out." + ext;
        h.doc->m_fnChooseExportPath = [&] { return out; };
        h.frame->FindAction(32795)->trigger();
        CTINPoints back;
        ASSERT_EQ(ImportPoints(out, back), 1) << ext;
        ASSERT_EQ(back.GetCount(), live);
        const double tolerance = std::string(ext) == "las" ? 0.0005 : 0.0;
        // Record 3 of the set is record 3 of the file (record 4 was left out).
        EXPECT_NEAR(back.GetPoint(3)->z, h.doc->m_points.GetPoint(3)->z, tolerance);
        EXPECT_NEAR(back.GetPoint(4)->x, h.doc->m_points.GetPoint(5)->x, tolerance);
    }
    EXPECT_EQ(ReadAll(pts), before);
    EXPECT_TRUE(h.doc->IsModified());

    // A folder that does not exist: a message, and no file anywhere.
    ScopedMessageCapture capture;
    EXPECT_LT(h.doc->ExportPointsTo(dir.path().toStdString() + "/missing/out.las"), 0);
    EXPECT_FALSE(capture.Texts().empty());
    EXPECT_FALSE(QDir(dir.path() + "/missing").exists());
    // A type that is neither LAS nor XYZ is refused with a message.
    EXPECT_LT(h.doc->ExportPointsTo(dir.path().toStdString() + "/out.txt"), 0);
    EXPECT_FALSE(QFile::exists(dir.path() + "/out.txt"));
}
