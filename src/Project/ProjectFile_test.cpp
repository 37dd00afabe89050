// The project file beside the points file: written and read back through
// real files, its paths relative so that a project folder can be moved.
#include "Project/ProjectFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "testing/PlatformTestSupport.h"

namespace fs = std::filesystem;

TEST(ProjectFile, RoundTripsAndFollowsItsFolderWhenMoved) {
    platformtest::TempDir dir("orvane_projectfile");
    const fs::path root = fs::path(dir.Path()) / "job";
    fs::create_directories(root / "images");
    const std::string pts = (root / "points.pts").string();
    ProjectFileData data;
    data.paths = {(root / "images/left.lan").string(), (root / "images/right.lan").string(),
                  (root / "images/left.ORN").string(), (root / "images/right.ORN").string(), pts};
    data.xOffset = 647;
    data.yOffset = -12;
    data.stereoMode = "side-by-side";
    const std::string file = ProjectFilePath(pts);
    EXPECT_EQ(file, pts + ".orvane");
    ASSERT_EQ(WriteProjectFile(file, data), 1);
    // Plain text with relative paths.
    std::ifstream in(file);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(text,
              "# orvane-project 1\nleft-image=images/left.lan\nright-image=images/right.lan\n"
              "left-orientation=images/left.ORN\nright-orientation=images/right.ORN\n"
              "points=points.pts\nx-offset=647\ny-offset=-12\nstereo=side-by-side\n");

    ProjectFileData back;
    ASSERT_EQ(ReadProjectFile(file, back), 1);
    EXPECT_EQ(back.paths.leftImage, data.paths.leftImage);
    EXPECT_EQ(back.paths.rightImage, data.paths.rightImage);
    EXPECT_EQ(back.paths.leftOrientation, data.paths.leftOrientation);
    EXPECT_EQ(back.paths.rightOrientation, data.paths.rightOrientation);
    EXPECT_EQ(back.paths.matchedPoints, pts);
    EXPECT_EQ(back.xOffset, 647);
    EXPECT_EQ(back.yOffset, -12);
    EXPECT_EQ(back.stereoMode, "side-by-side");

    // The folder moved: the paths move with it.
    const fs::path moved = fs::path(dir.Path()) / "moved";
    fs::rename(root, moved);
    ProjectFileData there;
    ASSERT_EQ(ReadProjectFile((moved / "points.pts.orvane").string(), there), 1);
    EXPECT_EQ(there.paths.leftImage, (moved / "images/left.lan").string());
    EXPECT_EQ(there.paths.matchedPoints, (moved / "points.pts").string());

    // Not a project file, a bad number, no file: refused, the data as it was.
    const std::string bad = (moved / "bad.orvane").string();
    for (const char* content : {"left-image=a\n", "# orvane-project 1\nx-offset=12px\n",
                                "# orvane-project 1\nno equals sign\n", ""}) {
        std::ofstream(bad, std::ios::trunc) << content;
        ProjectFileData kept = there;
        EXPECT_EQ(ReadProjectFile(bad, kept), kProjectFileMalformed) << content;
        EXPECT_EQ(kept.xOffset, 647);
    }
    EXPECT_EQ(ReadProjectFile((moved / "none.orvane").string(), there), kProjectFileMissing);
}
