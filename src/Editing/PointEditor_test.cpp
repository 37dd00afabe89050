// The point editor on a generated project: random edit sequences checked
// against snapshots of the three sets, undo and redo exactness, saves that
// always read back, and the history's merging, weights and memory.
#include "Editing/PointEditor.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>

#include "DemoProject.h"
#include "DemoTestSupport.h"
#include "Photogrammetry/AerialPhoto.h"
#include "Platform/Platform.h"
#include "TIN/PointsFileSave.h"
#include "TIN/TINPoints.h"

namespace fs = std::filesystem;

namespace {

// The small demo project of the test run (read-only), or one made once for
// the test program.
const demo::DemoResult& Demo() {
    demo::DemoOptions options;
    options.cols = 900;
    options.rows = 900;
    options.points = 3000;
    options.threads = 2;
    std::string error;
    const demo::DemoResult& d = demo::SharedDemo("small", options, &error);
    if (d.pointsFile.empty()) ADD_FAILURE() << error;
    return d;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The project as the document holds it: ground set, two photographs with
// their image-point sets and indexes, and the editor over them.
struct Project {
    CTINPoints ground;
    CAerialPhoto left, right;
    bool zEdited = false;
    CPointEditor editor{ground, left, right, zEdited};

    explicit Project(const std::string& points = Demo().pointsFile) {
        const demo::DemoResult& d = Demo();
        EXPECT_EQ(left.ReadOrientation(d.leftOrientation), 1);
        EXPECT_EQ(right.ReadOrientation(d.rightOrientation), 1);
        for (auto [photo, path] :
             {std::pair{&left, d.leftImage}, std::pair{&right, d.rightImage}}) {
            FILE* f = std::fopen(path.c_str(), "rb");
            EXPECT_EQ(photo->m_image.ReadImage(f), 1);
            std::fclose(f);
        }
        EXPECT_EQ(ground.ReadPts(points), 1);
        EXPECT_EQ(ground.BuildIndex(1), 0);
        left.ProjectAll(ground);
        right.ProjectAll(ground);
        left.m_pImagePoints->BuildPlacedIndex(1);
        right.m_pImagePoints->BuildPlacedIndex(1);
    }
    // Compacts and writes the points file, as a save does; the bytes written.
    std::string Save(const std::string& path) {
        std::vector<int> map;
        editor.Compact(map);
        EXPECT_EQ(SavePointsFile(ground, path), 1);
        editor.MarkSaved();
        return ReadAll(path);
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
        const std::string redone = ReadAll(file);
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
    // A point far outside the ground index is refused by every set.
    EXPECT_LT(p.editor.AddPointAt(100, 100, 1e7), 0);
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
