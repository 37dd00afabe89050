// Contours: every vertex on a triangle edge at its level, the lines made of
// every segment once, the same segments kept through edits as contoured
// afresh, through a real project's edits, undos, redos and saves, and the
// default interval's series.
#include "Surface/Contours.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <random>
#include <tuple>

#include "Surface/ProjectSurface.h"
#include "testing/DemoTestSupport.h"
#include "testing/PlatformTestSupport.h"
#include "testing/SurfaceTestSupport.h"

namespace {

using surfacetest::Segment;
using surfacetest::Segments;

// A hilly surface over a jittered grid, heights in metres.
void Hills(CTINPoints& set, int side, uint64_t seed) {
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<std::array<double, 3>> p;
    for (int i = 0; i < side; ++i) {
        for (int j = 0; j < side; ++j) {
            const double x = 5.0 * j + 1.5 * u(random), y = 5.0 * i + 1.5 * u(random);
            p.push_back({x, y, 100.0 + 30.0 * std::sin(x / 40.0) * std::cos(y / 55.0) + u(random)});
        }
    }
    surfacetest::MakeSet(p, set);
}

TEST(SurfaceContours, VerticesLieOnEdgesAtTheirLevelAndLinesUseEverySegment) {
    CTINPoints set;
    Hills(set, 60, 3);
    CSurface s;
    s.Build(set);
    CContours c;
    ASSERT_EQ(c.Build(s, 2.0), 1);
    ASSERT_GT(c.SegmentCount(), 1000);
    int checked = 0;
    c.ForEachSegment([&](const ContourSegment& g) {
        const double level = g.level * 2.0;
        for (int end = 0; end < 2; ++end) {
            const int corner = end ? g.to : g.from;
            const double x = end ? g.x1 : g.x0, y = end ? g.y1 : g.y0;
            const int a = s.Vertex(g.triangle, (corner + 1) % 3),
                      b = s.Vertex(g.triangle, (corner + 2) % 3);
            const double dx = s.X(b) - s.X(a), dy = s.Y(b) - s.Y(a);
            const double f = ((x - s.X(a)) * dx + (y - s.Y(a)) * dy) / (dx * dx + dy * dy);
            // On the segment between the edge's ends...
            ASSERT_GE(f, -1e-12);
            ASSERT_LE(f, 1.0 + 1e-12);
            ASSERT_NEAR(std::fabs((x - s.X(a)) * dy - (y - s.Y(a)) * dx) / std::hypot(dx, dy), 0.0,
                        1e-9);
            // ...where the edge's height is the level, which it spans.
            ASSERT_NEAR(s.Z(a) + f * (s.Z(b) - s.Z(a)), level, 1e-9);
            ASSERT_LE(std::min(s.Z(a), s.Z(b)), level);
            ASSERT_GE(std::max(s.Z(a), s.Z(b)), level);
            ++checked;
        }
        // Higher ground on the left: the triangle's highest corner.
        int high = 0;
        for (int k = 1; k < 3; ++k)
            if (s.Z(s.Vertex(g.triangle, k)) > s.Z(s.Vertex(g.triangle, high))) high = k;
        const int h = s.Vertex(g.triangle, high);
        ASSERT_GT((g.x1 - g.x0) * (s.Y(h) - g.y0) - (g.y1 - g.y0) * (s.X(h) - g.x0), 0.0);
    });
    EXPECT_EQ(checked, 2 * c.SegmentCount());
    std::vector<ContourLine> lines;
    c.Lines(s, lines);
    const std::vector<Segment> all = Segments(c);
    size_t segments = 0;
    int closed = 0, index = 0;
    for (const ContourLine& l : lines) {
        segments += l.points.size() - 1;
        closed += l.closed;
        index += l.index;
        EXPECT_EQ(l.index, l.level % 5 == 0);
        if (l.closed) {
            EXPECT_EQ(l.points.front().x, l.points.back().x);
        }
        // Consecutive vertices are joined by a segment of the line's level.
        for (size_t i = 0; i + 1 < l.points.size(); ++i) {
            EXPECT_TRUE(std::binary_search(all.begin(), all.end(),
                                           Segment{l.level, l.points[i].x, l.points[i].y,
                                                   l.points[i + 1].x, l.points[i + 1].y}))
                << "level " << l.level;
        }
    }
    EXPECT_EQ(segments, static_cast<size_t>(c.SegmentCount()));
    EXPECT_GT(closed, 0);
    EXPECT_GT(index, 0);
}

TEST(SurfaceContours, DefaultIntervalRoundsUpInTheSeriesAboveTheNoise) {
    EXPECT_EQ(RoundUpOneTwoFive(0.7), 1.0);
    EXPECT_EQ(RoundUpOneTwoFive(1.0), 1.0);
    EXPECT_EQ(RoundUpOneTwoFive(1.2), 2.0);
    EXPECT_EQ(RoundUpOneTwoFive(3.0), 5.0);
    EXPECT_NEAR(RoundUpOneTwoFive(0.03), 0.05, 1e-15);
    EXPECT_EQ(RoundUpOneTwoFive(600.0), 1000.0);
    // 0 .. 1000 m evenly: the 2nd to 98th percentiles span 960 m, / 40 = 24 -> 50.
    std::vector<double> z;
    for (int i = 0; i <= 1000; ++i) z.push_back(i);
    z.push_back(1e6);  // a gross error above the 98th percentile changes nothing
    EXPECT_EQ(DefaultContourInterval(z, 0.0), 50.0);
    // Noisy heights: 2.5 x a spread of 30 m = 75 -> 100.
    EXPECT_EQ(DefaultContourInterval(z, 30.0), 100.0);
    // A surface with noise of 1 m standard deviation about smooth hills: the
    // measured spread is about 1 m, so the interval is at least 2.5 m.
    CTINPoints set;
    std::mt19937_64 random(9);
    std::normal_distribution<double> noise(0.0, 1.0);
    std::vector<std::array<double, 3>> p;
    for (int i = 0; i < 80; ++i)
        for (int j = 0; j < 80; ++j) p.push_back({10.0 * j, 10.0 * i, 0.01 * j + noise(random)});
    surfacetest::MakeSet(p, set);
    const double spread = HeightSpread(set);
    EXPECT_GT(spread, 0.8);
    EXPECT_LT(spread, 1.6);
    EXPECT_GE(DefaultContourInterval(set), 2.5 * spread);
    EXPECT_EQ(DefaultContourInterval(set), 5.0);
}

// A real project followed through its events: after every command, undo,
// redo and save, the kept surface and contours equal fresh ones.
TEST(SurfaceFollowsProject, EditsUndosRedosAndSavesEqualARebuild) {
    demo::DemoOptions options;
    options.cols = 900, options.rows = 900, options.points = 3000, options.threads = 2;
    std::string error;
    const demo::DemoResult& d = demo::SharedDemo("small", options, &error);
    ASSERT_FALSE(d.pointsFile.empty()) << error;
    platformtest::TempDir dir("orvane_surface");
    const std::string points = dir / "points.pts";
    std::filesystem::copy_file(d.pointsFile, points);

    CProject project;
    CProjectSurface follower(project.m_points);
    project.SetEventSink(&follower);
    ASSERT_TRUE(
        project.Load({d.leftImage, d.rightImage, d.leftOrientation, d.rightOrientation, points})
            .Loaded());
    ASSERT_GT(follower.Surface().TriangleCount(), 5000);
    ASSERT_GT(follower.Contours().SegmentCount(), 100);
    follower.SetInterval(1.0);

    std::mt19937_64 random(17);
    auto pick = [&](int count) {
        std::vector<int> live;
        for (int i = 0; i < project.m_points.GetCount(); ++i)
            if (project.m_points.GetPoint(i)->id >= 0) live.push_back(i);
        std::shuffle(live.begin(), live.end(), random);
        live.resize(std::min<size_t>(live.size(), static_cast<size_t>(count)));
        return live;
    };
    int saves = 0, renumbered = 0;
    for (int step = 0; step < 48; ++step) {
        CPointEditor& editor = project.m_editor;
        const int kind = static_cast<int>(random() % 9);
        const std::vector<int> chosen = pick(1 + static_cast<int>(random() % 12));
        editor.SetSelection(chosen);
        switch (kind) {
            case 0:
                editor.RaiseSelection(0.7, false);
                break;  // Z only
            case 1:
                editor.RaiseSelection(-1.3, true);
                break;  // along the left ray
            case 2:
                editor.SetSelectionZ(project.MidHeight());
                break;
            case 3:
                editor.FitSelectionToPlane(pick(8), EditKind::FitToPlane);
                break;
            case 4:
                editor.DeleteSelection();
                break;
            case 5:
                editor.AddPointAt(100.0 + random() % 700, 100.0 + random() % 700,
                                  project.MidHeight());
                break;
            case 6:
                project.Undo();
                break;
            case 7:
                project.Redo();
                break;
            default: {
                const int before = project.m_points.GetCount();
                ASSERT_EQ(project.Save(points), kSaved);
                ++saves;
                renumbered += project.m_points.GetCount() != before;
                break;
            }
        }
        editor.ReleaseSelection();
        CSurface fresh;
        fresh.Build(project.m_points);
        ASSERT_EQ(surfacetest::Canonical(follower.Surface()), surfacetest::Canonical(fresh))
            << "step " << step;
        CContours contours;
        contours.Build(fresh, follower.Interval());
        ASSERT_EQ(Segments(follower.Contours()), Segments(contours)) << "step " << step;
    }
    // Undo back past the saves (their compactions put records back).
    while (project.m_editor.CanUndo()) {
        project.Undo();
        CSurface fresh;
        fresh.Build(project.m_points);
        ASSERT_EQ(surfacetest::Canonical(follower.Surface()), surfacetest::Canonical(fresh));
    }
    EXPECT_GT(saves, 0);
    EXPECT_GT(renumbered, 0);
}

}  // namespace
