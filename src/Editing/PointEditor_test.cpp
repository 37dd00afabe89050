// The point editor on a generated project: random edit sequences checked
// against snapshots of the three sets, undo and redo exactness, saves that
// always read back, and the history's merging, weights and memory; each
// edit's geometry against the photographs' own projections, the weight rule
// and saves after moves that leave the loaded bounds or both images.
#include "Editing/PointEditor.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <utility>

#include "DemoProject.h"
#include "Photogrammetry/AerialPhoto.h"
#include "Platform/Platform.h"
#include "Project/Project.h"
#include "TIN/PointsFileSave.h"
#include "TIN/TINPoints.h"
#include "testing/DemoTestSupport.h"
#include "testing/PlatformTestSupport.h"

namespace fs = std::filesystem;

namespace {

// The small demo project of the test run (read-only), or one made once for
// the test program.
const demo::DemoResult& Demo() {
    return demo::SmallProject();
}

// The project as the document holds it (loaded with one call): ground set,
// two photographs with their image-point sets and indexes, and the editor.
struct Project {
    CProject project;
    CTINPoints& ground = project.m_points;
    CAerialPhoto& left = project.m_leftPhoto;
    CAerialPhoto& right = project.m_rightPhoto;
    bool& zEdited = project.m_bZEdited;
    CPointEditor& editor = project.m_editor;

    explicit Project(const std::string& points = Demo().pointsFile) {
        const demo::DemoResult& d = Demo();
        EXPECT_TRUE(
            project.Load({d.leftImage, d.rightImage, d.leftOrientation, d.rightOrientation, points})
                .Loaded());
    }
    // Compacts and writes the points file, as a save does; the bytes written.
    std::string Save(const std::string& path) {
        EXPECT_EQ(project.Save(path), kSaved);
        return platformtest::SlurpText(path);
    }
};

// Everything an undo must give back, bit for bit.
struct Snapshot {
    std::vector<TINPoint> ground, left, right;
    std::vector<int> selection;
    bool zEdited;
    bool operator==(const Snapshot& o) const {
        auto same = [](const std::vector<TINPoint>& a, const std::vector<TINPoint>& b) {
            return a.size() == b.size() &&
                   std::memcmp(a.data(), b.data(), a.size() * sizeof(TINPoint)) == 0;
        };
        return same(ground, o.ground) && same(left, o.left) && same(right, o.right) &&
               selection == o.selection && zEdited == o.zEdited;
    }
};

Snapshot Take(Project& p) {
    Snapshot s;
    auto copy = [](const CTINPoints& set) {
        return std::vector<TINPoint>(set.GetPoint(0), set.GetPoint(0) + set.GetCount());
    };
    s.ground = copy(p.ground);
    s.left = copy(*p.left.m_pImagePoints);
    s.right = copy(*p.right.m_pImagePoints);
    s.selection = p.editor.SelectionIndices();
    s.zEdited = p.zEdited;
    return s;
}

// Nearest live record by brute force, in an image-point set: the index must
// give the same answer after every edit (it follows moved points).
void ExpectIndexesAnswerAsBruteForce(const CTINPoints& set, std::mt19937& rng) {
    std::uniform_int_distribution<int> pick(0, set.GetCount() - 1);
    for (int k = 0; k < 20; ++k) {
        const TINPoint* p = set.GetPoint(pick(rng));
        if (p->id < 0 || !std::isfinite(p->x)) continue;
        const int x = static_cast<int>(p->x) + 1, y = static_cast<int>(p->y) - 1;
        double best = 25.0;
        int expected = -1;
        for (int i = 0; i < set.GetCount(); ++i) {
            const TINPoint* q = set.GetPoint(i);
            if (q->id < 0) continue;
            const double d = (q->x - x) * (q->x - x) + (q->y - y) * (q->y - y);
            if (d < best) best = d, expected = i;
        }
        const int found = set.FindNearest(x, y, 5.0);
        ASSERT_GE(found, 0);
        const TINPoint* f = set.GetPoint(found);
        EXPECT_DOUBLE_EQ((f->x - x) * (f->x - x) + (f->y - y) * (f->y - y), best) << expected;
    }
}

// One random operation on the project; true when it was an edit that the
// history should now be able to undo.
bool RandomOperation(Project& p, std::mt19937& rng, std::string* name) {
    std::uniform_int_distribution<int> op(0, 9);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const int n = p.ground.GetCount();
    auto selectSome = [&] {
        p.editor.ReleaseSelection();
        // A rectangle of left image positions around a random live point.
        const CTINPoints& l = *p.left.m_pImagePoints;
        const TINPoint* c = l.GetPoint(std::uniform_int_distribution<int>(0, n - 1)(rng));
        const double half = 8 + 40 * unit(rng);
        for (int i = 0; i < n; ++i) {
            const TINPoint* q = l.GetPoint(i);
            if (q->id >= 0 && std::fabs(q->x - c->x) <= half && std::fabs(q->y - c->y) <= half)
                p.editor.Select(i);
        }
    };
    switch (op(rng)) {
        case 0:
        case 1:
            selectSome();
            *name = "select";
            return false;
        case 2:
            *name = "wheel";
            return p.editor.RaiseSelection(unit(rng) < 0.5 ? 0.06 : -0.12, unit(rng) < 0.5) > 0;
        case 3:
            *name = "set z";
            return p.editor.SetSelectionZ(p.ground.m_dMinZ + 60 * unit(rng) - 10) > 0;
        case 4: {
            *name = "fit to plane";
            std::vector<int> samples = p.editor.SelectionIndices();
            if (samples.size() > 3) samples.resize(3);
            return p.editor.FitSelectionToPlane(samples, EditKind::FitToPlane) > 0;
        }
        case 5:
            *name = "smooth";
            return p.editor.FitSelectionToPlane(p.editor.SelectionIndices(), EditKind::Smooth) > 0;
        case 6:
            *name = "delete";
            return p.editor.DeleteSelection() > 0;
        case 7: {
            *name = "add";
            const ImageSize size = p.left.m_image.GetSize();
            return p.editor.AddPointAt(size.cx * unit(rng), size.cy * unit(rng),
                                       p.ground.m_dMinZ + 20 * unit(rng)) >= 0;
        }
        case 8:
            *name = "release";
            p.editor.ReleaseSelection();
            return false;
        default:
            *name = "wheel";
            return p.editor.RaiseSelection(0.03, false) > 0;
    }
}

}  // namespace

// After every edit of a random sequence (saves in the middle) the sets obey
// the rule, an undo gives back exactly the state before and a redo exactly
// the state after; every save reads back; undoing everything and saving
// writes the very bytes saved before the edits, redoing everything those
// saved after them.
TEST(PointEditor, RandomEditsUndoAndRedoExactlyAndSavesReadBack) {
    Platform::ScopedMessageCapture quiet;
    const fs::path dir = fs::temp_directory_path() / ("editing-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string file = (dir / "points.pts").string();
    for (unsigned seed : {1u, 2u, 3u}) {
        Project p;
        std::mt19937 rng(seed);
        const std::string first = p.Save(file);
        int edits = 0;
        for (int k = 0; k < 100; ++k) {
            const Snapshot before = Take(p);
            std::string name;
            const bool edited = RandomOperation(p, rng, &name);
            std::string why;
            ASSERT_TRUE(p.editor.CheckParallel(&why)) << name << ": " << why;
            if (!edited) continue;
            ++edits;
            const Snapshot after = Take(p);
            ASSERT_FALSE(p.editor.Undo().empty()) << name;
            ASSERT_TRUE(Take(p) == before) << "undo of " << name << " at " << k;
            ASSERT_FALSE(p.editor.Redo().empty()) << name;
            ASSERT_TRUE(Take(p) == after) << "redo of " << name << " at " << k;
            ExpectIndexesAnswerAsBruteForce(*p.left.m_pImagePoints, rng);
            if (k % 17 == 16) {
                // A save in the middle: the file reads back with these records.
                p.Save(file);
                CTINPoints back;
                ASSERT_EQ(back.ReadPts(file), 1) << "after " << name;
                ASSERT_EQ(back.GetCount(), p.ground.GetCount());
                EXPECT_EQ(std::memcmp(back.GetPoint(0), p.ground.GetPoint(0),
                                      sizeof(TINPoint) * back.GetCount()),
                          0);
            }
        }
        ASSERT_GT(edits, 20);
        p.editor.ReleaseSelection();
        p.Save(file);
        while (!p.editor.Undo().empty()) {
        }
        EXPECT_FALSE(p.editor.AtSavedState());
        EXPECT_TRUE(p.Save(file) == first) << "seed " << seed;
    }
    fs::remove_all(dir);
}

TEST(PointEditor, RedoingEverythingReturnsToTheLastSave) {
    Platform::ScopedMessageCapture quiet;
    const fs::path dir = fs::temp_directory_path() / ("editing-redo-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string file = (dir / "points.pts").string();
    for (unsigned seed : {11u, 12u, 13u, 14u}) {
        Project p;
        std::mt19937 rng(seed);
        p.Save(file);
        for (int k = 0; k < 50; ++k) {
            std::string name;
            RandomOperation(p, rng, &name);
            if (k == 25) p.Save(file);
        }
        p.editor.ReleaseSelection();
        const std::string last = p.Save(file);
        EXPECT_TRUE(p.editor.AtSavedState());
        int undone = 0;
        while (!p.editor.Undo().empty()) ++undone;
        EXPECT_FALSE(p.editor.AtSavedState());
        while (!p.editor.Redo().empty()) --undone;
        EXPECT_EQ(undone, 0);
        EXPECT_TRUE(p.editor.AtSavedState());
        EXPECT_EQ(SavePointsFile(p.ground, file), 1);
        const std::string redone = platformtest::SlurpText(file);
        ASSERT_EQ(redone.size(), last.size());
        for (size_t i = 0; i < redone.size(); ++i)
            if (redone[i] != last[i]) {
                ADD_FAILURE() << "redo all: byte " << i << " (record "
                              << (static_cast<long>(i) - 52) / 32 << ") differs from the last save";
                break;
            }
    }
    fs::remove_all(dir);
}

// Undo and redo across saves renumber records; LastRenumbering says where
// each went: every record the step did not touch is found, unchanged, at the
// index the map gives.
TEST(PointEditor, UndoAndRedoAcrossSavesSayWhereEachRecordWent) {
    Platform::ScopedMessageCapture quiet;
    const fs::path dir =
        fs::temp_directory_path() / ("editing-renumber-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string file = (dir / "points.pts").string();
    int renumbered = 0;
    auto stepAndCheck = [&](Project& p, bool redo) {
        const std::vector<TINPoint> before(p.ground.GetPoint(0),
                                           p.ground.GetPoint(0) + p.ground.GetCount());
        if ((redo ? p.editor.Redo() : p.editor.Undo()).empty()) return false;
        const CRenumbering& map = p.editor.LastRenumbering();
        if (!map.Empty()) {
            ++renumbered;
            EXPECT_EQ(static_cast<size_t>(map.OldCount()), before.size());
        }
        const std::vector<int>& changed = p.editor.LastChanged();
        for (size_t j = 0; j < before.size(); ++j) {
            const int to = map.Empty() ? static_cast<int>(j) : map.NewIndex(static_cast<int>(j));
            if (to < 0 || to >= p.ground.GetCount() ||
                std::find(changed.begin(), changed.end(), to) != changed.end())
                continue;
            const TINPoint& a = before[j];
            const TINPoint& b = *p.ground.GetPoint(to);
            EXPECT_TRUE(std::memcmp(&a.x, &b.x, 4 * sizeof(double)) == 0)
                << (redo ? "redo" : "undo") << ": record " << j << " is not at " << to;
        }
        return true;
    };
    for (unsigned seed : {21u, 22u}) {
        Project p;
        std::mt19937 rng(seed);
        std::string name;
        for (int k = 0; k < 40; ++k) {
            RandomOperation(p, rng, &name);
            if (k % 10 == 9) p.Save(file);
        }
        while (stepAndCheck(p, false)) {
        }
        while (stepAndCheck(p, true)) {
        }
        // Redoing made the saves' compactions again: the history's count of
        // its bytes must still be sound, so a new step drops nothing.
        RandomOperation(p, rng, &name);
        EXPECT_LT(p.editor.History().Bytes(), size_t(64) << 20);
        EXPECT_EQ(p.editor.TakeDroppedSteps(), 0);
    }
    EXPECT_GT(renumbered, 0);
    fs::remove_all(dir);
}

TEST(PointEditor, FailedEditsAreNoStepsAndChangeNothing) {
    Platform::ScopedMessageCapture quiet;
    Project p;
    // Three samples on one line give no plane.
    p.editor.Select(10);
    p.editor.Select(11);
    const Snapshot before = Take(p);
    EXPECT_EQ(p.editor.FitSelectionToPlane({10, 10, 10}, EditKind::FitToPlane), -2);
    EXPECT_TRUE(Take(p) == before);
    EXPECT_FALSE(p.editor.CanUndo());
    // A point far outside the ground index is refused, with one message.
    const size_t messages = quiet.Messages().size();
    EXPECT_EQ(p.editor.AddPointAt(100, 100, 1e7), -1);
    EXPECT_EQ(quiet.Messages().size(), messages + 1);
    EXPECT_TRUE(Take(p) == before);
    EXPECT_FALSE(p.editor.CanUndo());
    // Edits of an empty selection.
    p.editor.ReleaseSelection();
    EXPECT_EQ(p.editor.RaiseSelection(1.0, false), -1);
    EXPECT_EQ(p.editor.DeleteSelection(), -1);
    EXPECT_FALSE(p.editor.CanUndo());
}

TEST(PointEditor, WheelNotchesOnOneSelectionMergeAndPromotedWeightsGoBackWithThem) {
    Project p;
    for (int i = 100; i < 110; ++i) p.editor.Select(i);
    p.ground.GetPoint(100)->weight = 0.4;
    const Snapshot before = Take(p);
    for (int k = 0; k < 40; ++k) p.editor.RaiseSelection(0.03, k % 2 == 0);
    EXPECT_EQ(p.editor.UndoName(), "Raise Or Lower");
    bool promoted = false;
    EXPECT_TRUE(p.editor.ReleaseSelection(&promoted));
    EXPECT_TRUE(promoted);
    EXPECT_EQ(+p.ground.GetPoint(100)->weight, 0.95);
    // One undo takes back all 40 notches and the promotion.
    p.editor.Undo();
    EXPECT_TRUE(Take(p) == before);
    EXPECT_FALSE(p.editor.CanUndo());
    p.editor.Redo();
    EXPECT_EQ(+p.ground.GetPoint(100)->weight, 0.95);
    // A notch after the selection changed is a step of its own.
    p.editor.Undo();
    p.editor.RaiseSelection(0.03, false);
    p.editor.Select(120);
    p.editor.RaiseSelection(0.03, false);
    p.editor.Undo();
    EXPECT_TRUE(p.editor.CanUndo());
}

TEST(PointEditor, StepsKeepLittleAndTheHistoryDropsTheOldestBeyondItsLimit) {
    Project p;
    for (int i = 0; i < 1000; ++i) p.editor.Select(i);
    const size_t base = p.editor.History().Bytes();
    p.editor.SetSelectionZ(p.ground.m_dMinZ);
    const size_t step = p.editor.History().Bytes() - base;
    // Three sets hold 3 x 36 bytes per record.
    EXPECT_LE(step, 2 * 1000 * 3 * sizeof(TINPoint));
    p.editor.History().SetLimit(3 * step);
    for (int k = 0; k < 6; ++k) p.editor.SetSelectionZ(p.ground.m_dMinZ + k);
    EXPECT_GT(p.editor.TakeDroppedSteps(), 0);
    EXPECT_LE(p.editor.History().Bytes(), 3 * step);
    int undos = 0;
    while (!p.editor.Undo().empty()) ++undos;
    EXPECT_GE(undos, 2);
    EXPECT_LT(undos, 7);
}

namespace {

// Sub-image position of a ground point in a photograph, computed here from
// its orientation (the collinearity equations), not from the image-point set.
std::pair<double, double> Projection(const CAerialPhoto& photo, const TINPoint& g) {
    double c = 0, r = 0;
    EXPECT_EQ(photo.GroundToImage(g.x, g.y, g.z, c, r), 1);
    return {c - photo.GetXStart(), r - photo.GetYStart()};
}

// Every record's image positions are its ground point's projections.
void ExpectImagePositionsAreProjections(Project& p, int index, double tolerance) {
    const TINPoint g = *p.ground.GetPoint(index);
    for (CAerialPhoto* photo : {&p.left, &p.right}) {
        const auto [c, r] = Projection(*photo, g);
        const TINPoint* q = photo->m_pImagePoints->GetPoint(index);
        EXPECT_NEAR(+q->x, c, tolerance) << index;
        EXPECT_NEAR(+q->y, r, tolerance) << index;
    }
}

// Random live records, each once.
std::vector<int> RandomRecords(const Project& p, std::mt19937& rng, int count) {
    std::vector<int> all(static_cast<size_t>(p.ground.GetCount()));
    for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<int>(i);
    std::shuffle(all.begin(), all.end(), rng);
    all.resize(static_cast<size_t>(count));
    return all;
}

}  // namespace

// A wheel notch with Shift moves each selected point along its left ray: Z
// changes by the step, the left image position stays (the ground point still
// projects there), the right one follows the new ground point. Without Shift
// X and Y stay and both positions follow. Set To A New Z on a point at 240
// puts it at 250 along its left ray. Points not selected never move; every
// height edit sets the edited flag.
TEST(PointEditorEdits, HeightEditsMoveAlongTheLeftRayOrInPlace) {
    Project p;
    std::mt19937 rng(5);
    const std::vector<int> chosen = RandomRecords(p, rng, 40);
    const Snapshot before = Take(p);
    for (int i : chosen) p.editor.Select(i);
    ASSERT_EQ(p.editor.RaiseSelection(0.03, true), 1);
    EXPECT_TRUE(p.zEdited);
    for (int i : chosen) {
        const TINPoint g0 = before.ground[i], l0 = before.left[i], r0 = before.right[i];
        const TINPoint g = *p.ground.GetPoint(i);
        EXPECT_NEAR(+g.z, +g0.z + 0.03, 1e-9);
        EXPECT_NE(+g.x, +g0.x);
        const TINPoint l = *p.left.m_pImagePoints->GetPoint(i);
        EXPECT_NEAR(+l.x, +l0.x, 1e-9);
        EXPECT_NEAR(+l.y, +l0.y, 1e-9);
        const auto [c, r] = Projection(p.left, g);  // still on its left ray
        EXPECT_NEAR(c, +l0.x, 1e-6);
        EXPECT_NEAR(r, +l0.y, 1e-6);
        EXPECT_GT(std::abs(+p.right.m_pImagePoints->GetPoint(i)->x - +r0.x), 1e-6);
        ExpectImagePositionsAreProjections(p, i, 1e-6);
    }

    const Snapshot raised = Take(p);
    ASSERT_EQ(p.editor.RaiseSelection(-0.06, false), 1);
    for (int i : chosen) {
        const TINPoint g = *p.ground.GetPoint(i), g1 = raised.ground[i];
        EXPECT_EQ(+g.x, +g1.x);
        EXPECT_EQ(+g.y, +g1.y);
        EXPECT_NEAR(+g.z, +g1.z - 0.06, 1e-9);
        EXPECT_NE(+p.left.m_pImagePoints->GetPoint(i)->x, +raised.left[i].x);
        ExpectImagePositionsAreProjections(p, i, 1e-6);
    }
    std::vector<bool> isChosen(static_cast<size_t>(p.ground.GetCount()));
    for (int i : chosen) isChosen[i] = true;
    for (int i = 0; i < p.ground.GetCount(); ++i) {
        if (isChosen[i]) continue;
        ASSERT_EQ(std::memcmp(p.ground.GetPoint(i), &before.ground[i], sizeof(TINPoint)), 0) << i;
        ASSERT_EQ(
            std::memcmp(p.right.m_pImagePoints->GetPoint(i), &before.right[i], sizeof(TINPoint)), 0)
            << i;
    }

    // Set To A New Z: 250 on a point first put at 240 along its ray.
    ASSERT_TRUE(p.editor.ReleaseSelection());
    EXPECT_FALSE(p.zEdited);
    const int i = chosen[0];
    TINPoint at240 = *p.ground.GetPoint(i);
    ASSERT_EQ(p.left.MoveAlongRay(at240, 240.0 - at240.z), 1);
    ASSERT_EQ(p.editor.MovePointsTo({{i, at240.x, at240.y, at240.z}}, EditKind::SetToSurface), 1);
    const TINPoint l0 = *p.left.m_pImagePoints->GetPoint(i);
    const TINPoint r0 = *p.right.m_pImagePoints->GetPoint(i);
    p.editor.Select(i);
    ASSERT_EQ(p.editor.SetSelectionZ(250.0), 1);
    EXPECT_NEAR(+p.ground.GetPoint(i)->z, 250.0, 1e-9);
    EXPECT_EQ(+p.left.m_pImagePoints->GetPoint(i)->x, +l0.x);
    EXPECT_EQ(+p.left.m_pImagePoints->GetPoint(i)->y, +l0.y);
    EXPECT_GT(std::abs(+p.right.m_pImagePoints->GetPoint(i)->x - +r0.x), 1e-3);
    ExpectImagePositionsAreProjections(p, i, 1e-6);
    EXPECT_TRUE(p.zEdited);
}

// Fit To Plane through three corners keeps the corners' heights and puts
// every selected point on the plane through them (computed here from the
// corners with a cross product), a height edit. Smoothing four entries puts
// them on one plane (their 4 x 4 determinant vanishes) and leaves the edited
// flag alone.
TEST(PointEditorEdits, FitToPlaneThroughCornersAndSmoothingOfFourEntries) {
    Project p;
    std::mt19937 rng(9);
    for (int trial = 0; trial < 10; ++trial) {
        const std::vector<int> chosen = RandomRecords(p, rng, 12);
        const std::vector<int> corners(chosen.begin(), chosen.begin() + 3);
        TINPoint c[3];
        for (int k = 0; k < 3; ++k) c[k] = *p.ground.GetPoint(corners[k]);
        p.editor.ReleaseSelection();
        for (int i : chosen) p.editor.Select(i);
        p.zEdited = false;
        ASSERT_EQ(p.editor.FitSelectionToPlane(corners, EditKind::FitToPlane), 1);
        EXPECT_TRUE(p.zEdited);
        // Normal of the corners' plane.
        const double ux = c[1].x - c[0].x, uy = c[1].y - c[0].y, uz = c[1].z - c[0].z;
        const double vx = c[2].x - c[0].x, vy = c[2].y - c[0].y, vz = c[2].z - c[0].z;
        const double nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
        ASSERT_GT(std::abs(nz), 1e-9);
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(+p.ground.GetPoint(corners[k])->z, +c[k].z, 1e-6) << trial;
        for (int i : chosen) {
            const TINPoint* g = p.ground.GetPoint(i);
            const double onPlane = c[0].z - (nx * (g->x - c[0].x) + ny * (g->y - c[0].y)) / nz;
            EXPECT_NEAR(+g->z, onPlane, 1e-6) << trial << " " << i;
            ExpectImagePositionsAreProjections(p, i, 1e-6);
        }
    }

    p.editor.ReleaseSelection();
    const std::vector<int> four = RandomRecords(p, rng, 4);
    for (int i : four) p.editor.Select(i);
    p.zEdited = false;
    ASSERT_EQ(p.editor.FitSelectionToPlane(four, EditKind::Smooth), 1);
    EXPECT_FALSE(p.zEdited);
    // Coplanar: det [x y z 1] of the four points is zero (relative to the first).
    double m[3][3];
    const TINPoint* g0 = p.ground.GetPoint(four[0]);
    for (int k = 1; k < 4; ++k) {
        const TINPoint* g = p.ground.GetPoint(four[k]);
        m[k - 1][0] = g->x - g0->x, m[k - 1][1] = g->y - g0->y, m[k - 1][2] = g->z - g0->z;
    }
    const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                       m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                       m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    const double scale = std::abs(m[0][0] * m[1][1]) + std::abs(m[0][1] * m[1][0]) + 1.0;
    EXPECT_LT(std::abs(det) / scale, 1e-6);
    for (int i : four) ExpectImagePositionsAreProjections(p, i, 1e-6);
}

// Deleted points are gone from all three sets and from the searches; an
// added point sits exactly at its left position with the given height and
// weight 1, its right position the projection; one the indexes refuse
// changes nothing, and a selection over everything then finds every live point.
TEST(PointEditorEdits, DeletedPointsAreNotFoundAddedOnesAreWhereTheyWereSeen) {
    Platform::ScopedMessageCapture quiet;
    Project p;
    std::mt19937 rng(13);
    const int n = p.ground.GetCount();
    const std::vector<int> doomed = RandomRecords(p, rng, 25);
    for (int i : doomed) {
        const TINPoint* l = p.left.m_pImagePoints->GetPoint(i);
        ASSERT_EQ(p.left.FindImagePoint(static_cast<int>(std::lround(+l->x)),
                                        static_cast<int>(std::lround(+l->y)), 0.8),
                  i);
        p.editor.Select(i);
    }
    const std::vector<TINPoint> positions = Take(p).left;
    ASSERT_EQ(p.editor.DeleteSelection(), 1);
    EXPECT_TRUE(p.left.m_selection.empty());
    EXPECT_TRUE(p.right.m_selection.empty());
    for (int i : doomed) {
        EXPECT_EQ(p.ground.GetPoint(i)->id, -1);
        EXPECT_EQ(p.left.m_pImagePoints->GetPoint(i)->id, -1);
        EXPECT_EQ(p.right.m_pImagePoints->GetPoint(i)->id, -1);
        EXPECT_NE(p.left.FindImagePoint(static_cast<int>(std::lround(+positions[i].x)),
                                        static_cast<int>(std::lround(+positions[i].y)), 0.8),
                  i);
    }

    // Seen between a live point and its neighbours, at the middle height.
    const TINPoint* near = p.left.m_pImagePoints->GetPoint(n / 2 + 7);
    ASSERT_GE(near->id, 0);
    const double column = std::floor(+near->x) + 3.25, row = std::floor(+near->y) + 2.5;
    const double z = (p.ground.m_dMinZ + p.ground.m_dMaxZ) / 2;
    ASSERT_EQ(p.editor.AddPointAt(column, row, z), n);
    const TINPoint* g = p.ground.GetPoint(n);
    EXPECT_EQ(g->id, n);
    EXPECT_DOUBLE_EQ(+g->z, z);
    EXPECT_DOUBLE_EQ(+g->weight, 1.0);
    EXPECT_DOUBLE_EQ(+p.left.m_pImagePoints->GetPoint(n)->x, column);
    EXPECT_DOUBLE_EQ(+p.left.m_pImagePoints->GetPoint(n)->y, row);
    ExpectImagePositionsAreProjections(p, n, 1e-6);
    EXPECT_EQ(p.left.FindImagePoint(static_cast<int>(column), static_cast<int>(row), 2.0), n);

    // Far outside the ground extent: refused, nothing changes.
    const Snapshot before = Take(p);
    EXPECT_LT(p.editor.AddPointAt(column, row, 1e7), 0);
    EXPECT_TRUE(Take(p) == before);
    std::string why;
    EXPECT_TRUE(p.editor.CheckParallel(&why)) << why;
    p.editor.SelectInRect(-100000, -100000, 100000, 100000);
    EXPECT_EQ(static_cast<int>(p.left.m_selection.size()), n + 1 - 25);
    EXPECT_EQ(p.right.m_selection.size(), p.left.m_selection.size());
}

// The weight rule on release: only after a height edit, only selected live
// points below 0.95, raised to exactly 0.95; an empty selection keeps the
// flag; `promoted` tells whether a weight changed.
TEST(PointEditorEdits, ReleasePromotesWeightsBelowTheThresholdOnlyAfterAnEdit) {
    Project p;
    p.ground.GetPoint(1)->weight = 0.5;
    p.ground.GetPoint(2)->weight = 0.97;
    p.ground.GetPoint(3)->weight = 0.5;
    p.zEdited = true;
    bool promoted = true;
    EXPECT_FALSE(p.editor.ReleaseSelection(&promoted));
    EXPECT_TRUE(p.zEdited);
    p.editor.Select(1);
    p.editor.Select(2);
    EXPECT_EQ(p.right.m_selection.size(), 2u);
    EXPECT_TRUE(p.editor.ReleaseSelection(&promoted));
    EXPECT_TRUE(promoted);
    EXPECT_EQ(+p.ground.GetPoint(1)->weight, 0.95);
    EXPECT_EQ(+p.ground.GetPoint(2)->weight, 0.97);
    EXPECT_EQ(+p.ground.GetPoint(3)->weight, 0.5);
    EXPECT_FALSE(p.zEdited);
    EXPECT_TRUE(p.left.m_selection.empty());
    EXPECT_TRUE(p.right.m_selection.empty());
    // Without an edit the weights stay; an edit that promotes nothing says so.
    p.editor.Select(3);
    EXPECT_TRUE(p.editor.ReleaseSelection(&promoted));
    EXPECT_FALSE(promoted);
    EXPECT_EQ(+p.ground.GetPoint(3)->weight, 0.5);
    p.editor.Select(2);
    p.zEdited = true;
    EXPECT_TRUE(p.editor.ReleaseSelection(&promoted));
    EXPECT_FALSE(promoted);
    EXPECT_EQ(+p.ground.GetPoint(2)->weight, 0.97);
}

// A point lowered along its ray beyond the bounds the file was loaded with,
// one moved to the left projection centre (no image there) and a deleted
// one: the save compacts, keeps the sets parallel and the rest findable, and
// the file reads back with the moved points in it.
TEST(PointEditorEdits, SaveAfterMovesBeyondTheBoundsAndWithoutAnImageReadsBack) {
    Platform::ScopedMessageCapture quiet;
    const fs::path dir = fs::temp_directory_path() / ("editing-save-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string file = (dir / "points.pts").string();
    Project p;
    const int n = p.ground.GetCount();
    int far = 0;
    for (int i = 1; i < n; ++i)
        if (p.ground.GetPoint(i)->x > p.ground.GetPoint(far)->x) far = i;
    const double loadedMaxX = p.ground.m_dMaxX;
    p.editor.Select(far);
    ASSERT_EQ(p.editor.SetSelectionZ(p.ground.m_dMinZ - 400.0), 1);
    ASSERT_GT(+p.ground.GetPoint(far)->x, loadedMaxX);
    const TINPoint lowered = *p.ground.GetPoint(far);
    p.editor.ReleaseSelection();
    const int blind = far == 0 ? 2 : 0;
    ASSERT_EQ(p.editor.MovePointsTo({{blind, p.left.m_dXs, p.left.m_dYs, p.left.m_dZs}},
                                    EditKind::SetToSurface),
              1);
    int doomed = 1;
    while (doomed == far || doomed == blind) ++doomed;
    p.editor.Select(doomed);
    ASSERT_EQ(p.editor.DeleteSelection(), 1);

    p.Save(file);
    std::string why;
    ASSERT_TRUE(p.editor.CheckParallel(&why)) << why;
    ASSERT_EQ(p.ground.GetCount(), n - 1);
    const int blindNow = blind > doomed ? blind - 1 : blind;
    EXPECT_TRUE(std::isnan(+p.left.m_pImagePoints->GetPoint(blindNow)->x));
    const int last = p.ground.GetCount() - 1;
    const TINPoint* l = p.left.m_pImagePoints->GetPoint(last);
    EXPECT_EQ(p.left.FindImagePoint(static_cast<int>(+l->x), static_cast<int>(+l->y), 3.0), last);

    CTINPoints back;
    ASSERT_EQ(back.ReadPts(file), 1);
    ASSERT_EQ(back.GetCount(), n - 1);
    bool found = false;
    for (int i = 0; i < back.GetCount(); ++i) {
        const TINPoint* q = back.GetPoint(i);
        found |= q->x == lowered.x && q->y == lowered.y && q->z == lowered.z;
    }
    EXPECT_TRUE(found);
    fs::remove_all(dir);
}

namespace {

// The three sets, record for record: what a history position must give back.
struct Sets {
    std::vector<TINPoint> ground, left, right;
    bool operator==(const Sets& o) const {
        auto same = [](const std::vector<TINPoint>& a, const std::vector<TINPoint>& b) {
            return a.size() == b.size() &&
                   std::memcmp(a.data(), b.data(), a.size() * sizeof(TINPoint)) == 0;
        };
        return same(ground, o.ground) && same(left, o.left) && same(right, o.right);
    }
};

Sets TakeSets(Project& p) {
    const Snapshot s = Take(p);
    return {s.ground, s.left, s.right};
}

// The demo points under a header wider than the points by a fifth of their
// extent on every side (ground units): the grid reaches beyond the points,
// so points can be added where the bounds of the last save do not reach.
// Every third point has a matching weight below 0.95, for releases to promote.
std::string WideHeaderCopy(const fs::path& dir) {
    CTINPoints points;
    EXPECT_EQ(points.ReadPts(Demo().pointsFile), 1);
    for (int i = 0; i < points.GetCount(); i += 3)
        points.GetPoint(i)->weight = 0.5 + i % 40 / 100.0;
    const double wx = (points.m_dMaxX - points.m_dMinX) / 5,
                 wy = (points.m_dMaxY - points.m_dMinY) / 5;
    points.m_dMinX -= wx, points.m_dMaxX += wx;
    points.m_dMinY -= wy, points.m_dMaxY += wy;
    const std::string path = (dir / "wide.pts").string();
    EXPECT_EQ(points.WritePts(path), points.GetCount());
    return path;
}

}  // namespace

// A random walk of edits issued the way the view issues them: menu commands
// (Set To A New Z, Fit To Plane, smoothing, Delete Points) after the main
// frame closed the wheel step, keys and the wheel without that (wheel and
// Shift wheel, "A" near the edges of the points and beyond them under the
// wide header, "f" through MovePointsTo), selections and releases, saves
// between. The sets seen at every history position are recorded; after
// every undo and redo the sets equal, bit for bit, those of the position
// reached, obey the editor's rule, hold every live record within the ground
// bounds, and no message was shown.
TEST(PointEditorHistory, RandomWalkReturnsToTheSetsOfEachHistoryPosition) {
    Platform::ScopedMessageCapture messages;
    const fs::path dir = fs::temp_directory_path() / ("editing-walk-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string file = (dir / "points.pts").string();
    Project p(WideHeaderCopy(dir));
    std::mt19937 rng(2024);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<Sets> seen(1, TakeSets(p));  // by history position
    int undos = 0, redos = 0, adds = 0, addsOutside = 0;
    // The header's bounds (ground) and the points' own box within them.
    const TINExtent header{
        p.ground.m_dMinX, p.ground.m_dMaxX, p.ground.m_dMinY, p.ground.m_dMaxY, 0.0, 0.0};
    TINExtent box{1e300, -1e300, 1e300, -1e300, 0.0, 0.0};
    for (int i = 0; i < p.ground.GetCount(); ++i) {
        const TINPoint* g = p.ground.GetPoint(i);
        box.xmin = std::min(box.xmin, +g->x), box.xmax = std::max(box.xmax, +g->x);
        box.ymin = std::min(box.ymin, +g->y), box.ymax = std::max(box.ymax, +g->y);
    }

    auto expectPosition = [&](const char* what, int k) {
        const size_t at = p.editor.History().Position();
        ASSERT_LT(at, seen.size());
        ASSERT_TRUE(TakeSets(p) == seen[at]) << what << " at step " << k << " to position " << at;
        std::string why;
        ASSERT_TRUE(p.editor.CheckParallel(&why)) << what << " at step " << k << ": " << why;
        for (int i = 0; i < p.ground.GetCount(); ++i) {
            const TINPoint* g = p.ground.GetPoint(i);
            if (g->id < 0) continue;
            ASSERT_TRUE(g->x >= p.ground.m_dMinX && g->x <= p.ground.m_dMaxX &&
                        g->y >= p.ground.m_dMinY && g->y <= p.ground.m_dMaxY)
                << what << " at step " << k << ": record " << i << " outside the bounds";
        }
    };
    auto liveLeft = [&]() -> const TINPoint* {
        const CTINPoints& l = *p.left.m_pImagePoints;
        for (int tries = 0; tries < 50; ++tries) {
            const TINPoint* q =
                l.GetPoint(std::uniform_int_distribution<int>(0, l.GetCount() - 1)(rng));
            if (q->id >= 0 && std::isfinite(q->x)) return q;
        }
        return nullptr;
    };
    auto edgePoint = [&]() -> int {  // the live point farthest in a random direction
        const int dir = std::uniform_int_distribution<int>(0, 3)(rng);
        int best = -1;
        for (int i = 0; i < p.ground.GetCount(); ++i) {
            const TINPoint* g = p.ground.GetPoint(i);
            if (g->id < 0) continue;
            if (best < 0) best = i;
            const TINPoint* b = p.ground.GetPoint(best);
            const double v[4] = {-g->x, g->x, -g->y, g->y}, w[4] = {-b->x, b->x, -b->y, b->y};
            if (v[dir] > w[dir]) best = i;
        }
        return best;
    };

    for (int k = 0; k < 600; ++k) {
        // Redo runs mostly follow undo runs, before a new edit drops what they redo.
        const int op = p.editor.CanRedo() && unit(rng) < 0.4
                           ? 14
                           : std::uniform_int_distribution<int>(0, 13)(rng);
        if (op >= 13) {
            // A run of undos or redos, each checked.
            const int run = std::uniform_int_distribution<int>(1, 4)(rng);
            for (int r = 0; r < run; ++r) {
                const size_t before = messages.Messages().size();
                const bool undo = op == 13;
                if ((undo ? p.editor.Undo() : p.editor.Redo()).empty()) break;
                (undo ? undos : redos)++;
                expectPosition(undo ? "undo" : "redo", k);
                ASSERT_EQ(messages.Messages().size(), before) << "message on undo/redo at " << k;
            }
            continue;
        }
        const bool menu = op == 3 || op == 4 || op == 5 || op == 6;
        if (menu) p.editor.CloseMerging();  // as CMainFrame::OnCommand does
        switch (op) {
            case 0: {  // rubber band
                p.editor.ReleaseSelection();
                if (const TINPoint* c = liveLeft()) {
                    const double h = 6 + 30 * unit(rng);
                    p.editor.SelectInRect(c->x - h, c->y - h, c->x + h, c->y + h);
                }
                break;
            }
            case 1:
            case 2:  // wheel notches, Shift now and then
                for (int n = std::uniform_int_distribution<int>(2, 4)(rng); n > 0; --n)
                    p.editor.RaiseSelection(unit(rng) < 0.5 ? 0.05 : -0.1, unit(rng) < 0.3);
                break;
            case 3:
                p.editor.SetSelectionZ(p.ground.m_dMinZ + 40 * unit(rng));
                break;
            case 4: {
                std::vector<int> corners = p.editor.SelectionIndices();
                if (corners.size() > 3) corners.resize(3);
                p.editor.FitSelectionToPlane(corners, EditKind::FitToPlane);
                break;
            }
            case 5:
                p.editor.FitSelectionToPlane(p.editor.SelectionIndices(), EditKind::Smooth);
                break;
            case 6:
                p.editor.DeleteSelection();
                break;
            case 7:
            case 8: {  // "A" beside an edge point, or out in the header's margin
                const int e = edgePoint();
                if (e < 0) break;
                const TINPoint* l = p.left.m_pImagePoints->GetPoint(e);
                double column = +l->x + 20 * unit(rng) - 10, row = +l->y + 20 * unit(rng) - 10;
                const double z = +p.ground.GetPoint(e)->z;
                if (op == 8) {
                    const double gx = header.xmin + (header.xmax - header.xmin) * unit(rng);
                    const double gy = header.ymin + (header.ymax - header.ymin) * unit(rng);
                    if (p.left.GroundToImage(gx, gy, z, column, row) != 1) break;
                    column -= p.left.GetXStart(), row -= p.left.GetYStart();
                }
                if (p.editor.AddPointAt(column, row, z) >= 0) {
                    ++adds;
                    const TINPoint* g = p.ground.GetPoint(p.ground.GetCount() - 1);
                    addsOutside +=
                        g->x < box.xmin || g->x > box.xmax || g->y < box.ymin || g->y > box.ymax;
                }
                break;
            }
            case 9: {  // "f": every selected live point along its left ray to the mean height
                double mean = 0.0;
                if (!p.editor.SelectionMeanZ(mean)) break;
                std::vector<PointTarget> targets;
                for (int i : p.editor.SelectionIndices()) {
                    TINPoint g = *p.ground.GetPoint(i);
                    if (g.id < 0 || p.left.MoveAlongRay(g, mean - g.z) <= 0) continue;
                    targets.push_back({i, g.x, g.y, g.z});
                }
                if (!targets.empty()) p.editor.MovePointsTo(targets, EditKind::SetToSurface);
                break;
            }
            case 10: {  // a neighbour key: release, select one point
                p.editor.ReleaseSelection();
                if (const TINPoint* c = liveLeft()) p.editor.Select(c->id);
                break;
            }
            case 11:
                p.editor.ReleaseSelection();
                break;
            default:
                p.Save(file);
                break;
        }
        seen.resize(p.editor.History().Size() + 1);
        seen[p.editor.History().Position()] = TakeSets(p);
        std::string why;
        ASSERT_TRUE(p.editor.CheckParallel(&why)) << "op " << op << " at " << k << ": " << why;
    }
    EXPECT_EQ(p.editor.TakeDroppedSteps(), 0);
    std::printf("walk: %d undos, %d redos, %d points added (%d beyond the points)\n", undos, redos,
                adds, addsOutside);
    EXPECT_GT(undos, 60);
    EXPECT_GT(redos, 30);
    EXPECT_GT(adds, 10);
    EXPECT_GT(addsOutside, 2);
    // Everything undone, then everything redone, position by position.
    while (!p.editor.Undo().empty()) expectPosition("final undo", -1);
    while (!p.editor.Redo().empty()) expectPosition("final redo", -1);
    fs::remove_all(dir);
}
