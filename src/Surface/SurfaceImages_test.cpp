// Where the surface shows in the photographs, on the small demo project: the
// mark draped through a left pixel lies on that pixel's ray and on the
// surface, and the contours' kept image positions equal the projections of
// their 3-D vertices after edits, as they would be taken afresh.
#include "Surface/SurfaceImages.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "Surface/ProjectSurface.h"
#include "testing/DemoTestSupport.h"

namespace {

struct LoadedDemo {
    CProject project;
    CProjectSurface surface{project.m_points};
    LoadedDemo() {
        const demo::DemoResult& d = demo::SmallProject();
        project.SetEventSink(&surface);
        loaded = project
                     .Load({d.leftImage, d.rightImage, d.leftOrientation, d.rightOrientation,
                            d.pointsFile})
                     .Loaded();
    }
    bool loaded = false;
};

}  // namespace

TEST(SurfaceImages, DrapedMarkLiesOnItsRayAndOnTheSurface) {
    LoadedDemo demo;
    ASSERT_TRUE(demo.loaded);
    const CAerialPhoto& left = demo.project.m_leftPhoto;
    const CTINPoints& ground = demo.project.m_points;
    std::mt19937 random(5);
    std::uniform_int_distribution<int> pick(0, ground.GetCount() - 1);
    int found = 0;
    for (int k = 0; k < 300; ++k) {
        // A left pixel near a point's own image position, from a start 20 m off.
        const TINPoint& p = *ground.GetPoint(pick(random));
        double column = 0.0, row = 0.0;
        ASSERT_TRUE(GroundToSubImage(left, p.x, p.y, p.z, column, row));
        column += 0.37;
        row -= 0.21;
        double X = 0.0, Y = 0.0, Z = 0.0;
        const DrapeResult r =
            DrapeOnSurface(demo.surface.Surface(), left, column, row, p.z + 20.0, X, Y, Z);
        if (r != DrapeResult::Found) continue;
        ++found;
        double c = 0.0, w = 0.0, h = 0.0;
        ASSERT_TRUE(GroundToSubImage(left, X, Y, Z, c, w));
        EXPECT_NEAR(c, column, 1e-6);
        EXPECT_NEAR(w, row, 1e-6);
        ASSERT_TRUE(demo.surface.Surface().Height(X, Y, h));
        EXPECT_NEAR(h, Z, 0.001);
    }
    // Steep walls and the hull's edge may leave a few without an answer.
    EXPECT_GT(found, 270);
    // Beyond the photograph's points: outside the surface.
    double X = 0.0, Y = 0.0, Z = 0.0;
    EXPECT_EQ(DrapeOnSurface(demo.surface.Surface(), left, -5000.0, -5000.0, 300.0, X, Y, Z),
              DrapeResult::Outside);
}

TEST(SurfaceImages, ContourImagesFollowEditsAsTheProjectionsSay) {
    LoadedDemo demo;
    ASSERT_TRUE(demo.loaded);
    CContourImages images;
    const CAerialPhoto& left = demo.project.m_leftPhoto;
    const CAerialPhoto& right = demo.project.m_rightPhoto;
    images.Update(demo.surface.Contours(), left, right);
    // Height edits and a delete: new segments, dropped ones.
    CPointEditor& editor = demo.project.m_editor;
    for (int r : {100, 2000, 3000}) {
        editor.SetSelection({r});
        editor.RaiseSelection(12.0, r == 2000);
        editor.ReleaseSelection();
        images.Update(demo.surface.Contours(), left, right);
    }
    editor.SetSelection({4321});
    editor.DeleteSelection();
    images.Update(demo.surface.Contours(), left, right);

    const CContours& contours = demo.surface.Contours();
    const std::vector<ContourSegment>& segments = contours.Segments();
    ASSERT_EQ(images.Images().size(), segments.size());
    int checked = 0;
    for (size_t i = 0; i < segments.size(); ++i) {
        const ContourSegment& s = segments[i];
        if (s.triangle < 0) continue;
        const double z = s.level * contours.Interval();
        const double ends[2][2] = {{s.x0, s.y0}, {s.x1, s.y1}};
        for (int e = 0; e < 2; ++e) {
            double c = 0.0, w = 0.0;
            ASSERT_TRUE(GroundToSubImage(left, ends[e][0], ends[e][1], z, c, w));
            EXPECT_NEAR(images.Images()[i].left[2 * e], c, 0.01);
            EXPECT_NEAR(images.Images()[i].left[2 * e + 1], w, 0.01);
            ASSERT_TRUE(GroundToSubImage(right, ends[e][0], ends[e][1], z, c, w));
            EXPECT_NEAR(images.Images()[i].right[2 * e], c, 0.01);
            EXPECT_NEAR(images.Images()[i].right[2 * e + 1], w, 0.01);
        }
        ++checked;
    }
    EXPECT_EQ(checked, contours.SegmentCount());
    EXPECT_GT(checked, 1000);

    // The grid's query holds every live segment with an end in the rectangle.
    std::mt19937 random(9);
    std::uniform_real_distribution<double> at(0.0, 2000.0);
    std::vector<int32_t> slots;
    for (int k = 0; k < 40; ++k) {
        const int eye = k % 2;
        const double x = at(random), y = at(random), side = 20.0 + at(random) / 4;
        std::vector<bool> listed(segments.size(), false);
        for (bool index : {false, true}) {
            images.SlotsIn(eye, index, x, y, x + side, y + side, slots);
            for (int32_t s : slots) {
                EXPECT_FALSE(listed[static_cast<size_t>(s)]) << "listed twice";
                listed[static_cast<size_t>(s)] = true;
            }
        }
        for (size_t i = 0; i < segments.size(); ++i) {
            if (segments[i].triangle < 0) continue;
            const float* e = eye == 0 ? images.Images()[i].left : images.Images()[i].right;
            for (int end = 0; end < 2; ++end) {
                const bool inside = e[2 * end] >= x && e[2 * end] <= x + side &&
                                    e[2 * end + 1] >= y && e[2 * end + 1] <= y + side;
                EXPECT_TRUE(!inside || listed[i]) << "segment " << i << " not found";
            }
        }
    }
}
