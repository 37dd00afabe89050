// The project document: loading with its checks and messages, saving, the
// weight rule, and saves that fail without harming the user's file.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <csignal>
#include <fstream>
#include <iterator>

#include "testing/OrvaneTestSupport.h"

using namespace orvane_test;
using Platform::ScopedMessageCapture;

namespace {

// Three sets parallel: same count, id == index or -1 in all three.
void ExpectParallel(COrvaneDoc& doc) {
    ASSERT_TRUE(doc.m_leftPhoto.m_pImagePoints);
    ASSERT_TRUE(doc.m_rightPhoto.m_pImagePoints);
    const int n = doc.m_points.GetCount();
    ASSERT_EQ(doc.m_leftPhoto.m_pImagePoints->GetCount(), n);
    ASSERT_EQ(doc.m_rightPhoto.m_pImagePoints->GetCount(), n);
    for (int i = 0; i < n; ++i) {
        const int id = doc.m_points.GetPoint(i)->id;
        ASSERT_TRUE(id == i || id == -1) << i;
        ASSERT_EQ(doc.m_leftPhoto.m_pImagePoints->GetPoint(i)->id, id) << i;
        ASSERT_EQ(doc.m_rightPhoto.m_pImagePoints->GetPoint(i)->id, id) << i;
    }
}

}  // namespace

TEST(OrvaneDocLoad, DemoProjectFillsBothImagePointSetsInParallel) {
    AppHarness h;
    ASSERT_TRUE(h.view);
    ScopedMessageCapture capture;
    ASSERT_EQ(h.Load(), 1);
    EXPECT_TRUE(capture.Messages().empty());
    const demo::DemoResult& d = SmallDemo();
    EXPECT_EQ(h.doc->m_points.GetCount(), d.pointCount);
    ExpectParallel(*h.doc);
    // Every image point is the projection of its ground point into the sub-image.
    for (int i = 0; i < h.doc->m_points.GetCount(); i += 97) {
        const TINPoint* g = h.doc->m_points.GetPoint(i);
        double c = 0, r = 0;
        h.doc->m_leftPhoto.GroundToImage(g->x, g->y, g->z, c, r);
        const TINPoint* l = h.doc->m_leftPhoto.m_pImagePoints->GetPoint(i);
        EXPECT_NEAR(+l->x, c - h.doc->m_leftPhoto.GetXStart(), 1e-6);
        EXPECT_NEAR(+l->y, r - h.doc->m_leftPhoto.GetYStart(), 1e-6);
    }
    EXPECT_TRUE(h.doc->m_points.GetIndex());
    EXPECT_TRUE(h.doc->m_leftPhoto.m_pImagePoints->GetIndex());
    EXPECT_TRUE(h.doc->m_rightPhoto.m_pImagePoints->GetIndex());
    // Scene = left image, Default Z = middle of the heights, path = points file.
    EXPECT_EQ(h.doc->GetSceneSize().cx, 900);
    EXPECT_EQ(h.doc->GetSceneSize().cy, 900);
    EXPECT_DOUBLE_EQ(h.view->m_dDefaultZ, (h.doc->m_points.m_dMinZ + h.doc->m_points.m_dMaxZ) / 2);
    EXPECT_EQ(h.doc->GetPathName().toStdString(), d.pointsFile);
    EXPECT_FALSE(h.doc->IsModified());
}

TEST(OrvaneDocLoad, EachFailingInputNamesItselfAndKeepsTheEarlierProject) {
    AppHarness h;
    ASSERT_EQ(h.Load(), 1);
    const int count = h.doc->m_points.GetCount();
    const double xs = h.doc->m_leftPhoto.m_dXs;
    const double rightXs = h.doc->m_rightPhoto.m_dXs;
    QTemporaryDir dir;
    const std::string bad = dir.path().toStdString() + "/bad.ORN";
    std::ofstream(bad) << "ORIENTATION broken file\n152.0\n1 2\n";
    const std::string otherLeft = dir.path().toStdString() + "/other.ORN";
    std::ofstream(otherLeft) << "ORIENTATION other photo\n100\n5 6 700\n0 0 0\n0 0 0\n"
                                "1 0 0\n0 1 0\n0 0\n";
    struct Case {
        std::string message;
        std::function<void(ProjectPaths&)> spoil;
    };
    const Case cases[] = {
        {"Open Left Image error!", [](ProjectPaths& p) { p.leftImage = "/nonexistent/l.lan"; }},
        {"Open Left Image error!", [](ProjectPaths& p) { p.leftImage.clear(); }},
        {"Open Right Image error!", [](ProjectPaths& p) { p.rightImage += ".missing"; }},
        {"Open Matched Points error!", [](ProjectPaths& p) { p.matchedPoints += ".missing"; }},
        {"Open Left Orientation Parameters File error!",
         [](ProjectPaths& p) { p.leftOrientation.clear(); }},
        // A good left orientation and a broken right one: the left one must
        // not replace the loaded orientation.
        {"Open Right Orientation Parameters File error!\n" + bad,
         [&](ProjectPaths& p) {
             p.leftOrientation = otherLeft;
             p.rightOrientation = bad;
         }},
        // A points file that cannot be read is refused before anything changes.
        {"Open Matched Points error!", [&](ProjectPaths& p) { p.matchedPoints = bad; }},
    };
    for (const Case& c : cases) {
        ProjectPaths paths = DemoPaths();
        c.spoil(paths);
        ScopedMessageCapture capture;
        EXPECT_EQ(h.doc->LoadProject(paths), -1) << c.message;
        ASSERT_FALSE(capture.Messages().empty()) << c.message;
        EXPECT_EQ(capture.Messages().back().text, c.message);
        EXPECT_EQ(capture.Messages().back().kind, Platform::MessageKind::Exclamation);
        EXPECT_EQ(h.doc->m_points.GetCount(), count);
        EXPECT_EQ(h.doc->m_leftPhoto.m_dXs, xs);
        EXPECT_EQ(h.doc->m_rightPhoto.m_dXs, rightXs);
        ExpectParallel(*h.doc);
    }
}

TEST(OrvaneDocLoad, SecondLoadClearsSelectionsAndPolygon) {
    AppHarness h;
    ASSERT_EQ(h.Load(), 1);
    h.doc->SelectPoint(5);
    h.doc->m_leftPhoto.m_polygon.push_back(*h.doc->m_leftPhoto.m_pImagePoints->GetPoint(1));
    ASSERT_EQ(h.Load(), 1);
    EXPECT_TRUE(h.doc->m_leftPhoto.m_selection.empty());
    EXPECT_TRUE(h.doc->m_rightPhoto.m_selection.empty());
    EXPECT_TRUE(h.doc->m_leftPhoto.m_polygon.empty());
    ExpectParallel(*h.doc);
}

// A weight promoted on release is an edit: the document must ask before
// closing; a release that promotes nothing leaves the modified flag (which
// weights are promoted: PointEditorEdits in src/Editing). No window needed.
TEST(OrvaneDocSelection, PromotedWeightsMarkTheDocumentModified) {
    COrvaneDoc::s_bWriteProjectFiles = false;  // the shared demo stays as made
    COrvaneDoc doc;
    ASSERT_EQ(doc.LoadProject(DemoPaths()), 1);
    doc.m_points.GetPoint(1)->weight = 0.5;
    doc.m_points.GetPoint(2)->weight = 0.97;
    doc.SelectPoint(2);
    doc.m_bZEdited = true;
    doc.SetModifiedFlag(false);
    EXPECT_TRUE(doc.ReleaseSelection());
    EXPECT_FALSE(doc.IsModified());
    doc.SelectPoint(1);
    doc.SelectPoint(2);
    EXPECT_EQ(doc.m_rightPhoto.m_selection.size(), 2u);
    doc.m_bZEdited = true;
    EXPECT_TRUE(doc.ReleaseSelection());
    EXPECT_EQ(+doc.m_points.GetPoint(1)->weight, 0.95);
    EXPECT_TRUE(doc.IsModified());
    doc.SetModifiedFlag(false);
}

TEST(OrvaneDocSave, RoundTripWritesRemainingPointsAndKeepsSetsParallel) {
    AppHarness h;
    QTemporaryDir dir;
    const std::string pts = dir.path().toStdString() + "/points.pts";
    ASSERT_EQ(h.LoadWithPointsCopy(pts), 1);
    COrvaneDoc& doc = *h.doc;
    const int n = doc.m_points.GetCount();
    // Delete two points, raise one, keep a selection across the save.
    doc.SelectPoint(10);
    doc.SelectPoint(11);
    h.view->OnDeletePoints();
    const TINPoint before = *doc.m_points.GetPoint(20);
    doc.m_points.GetPoint(20)->z += 5.0;
    doc.SelectPoint(20);
    doc.SetModifiedFlag();

    ScopedMessageCapture capture;
    ASSERT_TRUE(doc.OnSaveDocument(QString::fromStdString(pts)));
    EXPECT_TRUE(capture.Messages().empty());
    EXPECT_FALSE(doc.IsModified());
    EXPECT_EQ(h.frame->GetStatusBar()->GetPaneText(0).toStdString(), "Done writing PTS.");
    ASSERT_EQ(doc.m_points.GetCount(), n - 2);
    ExpectParallel(doc);
    // The selection follows its point to its new index.
    ASSERT_EQ(doc.m_leftPhoto.m_selection.size(), 1u);
    const TINPoint* moved = doc.m_points.GetPoint(doc.m_leftPhoto.m_selection[0].id);
    EXPECT_EQ(+moved->x, +before.x);
    EXPECT_EQ(+moved->z, +before.z + 5.0);

    CTINPoints reread;
    ASSERT_EQ(reread.ReadPts(pts), 1);
    ASSERT_EQ(reread.GetCount(), n - 2);
    for (int i = 0; i < reread.GetCount(); ++i) {
        EXPECT_EQ(+reread.GetPoint(i)->x, +doc.m_points.GetPoint(i)->x);
        EXPECT_EQ(+reread.GetPoint(i)->z, +doc.m_points.GetPoint(i)->z);
        EXPECT_EQ(+reread.GetPoint(i)->weight, +doc.m_points.GetPoint(i)->weight);
    }
}

TEST(OrvaneDocSave, DocumentWithoutProjectRefusesToOverwritePointsFile) {
    AppHarness h;
    QTemporaryDir dir;
    const std::string pts = dir.path().toStdString() + "/points.pts";
    CopyFile(SmallDemo().pointsFile, pts);
    const std::string original = ReadAll(pts);
    h.doc->SetModifiedFlag();
    ScopedMessageCapture capture;
    EXPECT_FALSE(h.doc->OnSaveDocument(QString::fromStdString(pts)));
    ASSERT_EQ(capture.Messages().size(), 1u);
    EXPECT_EQ(ReadAll(pts), original);
    EXPECT_TRUE(h.doc->IsModified());
}

// Saving in a child process under fault injection: the child loads the
// project, edits, saves and reports through its exit status; the parent checks
// the file. The child has no application object, so nothing touches the display.
namespace {

enum ChildResult {
    kChildSaved = 10,
    kRefused = 11,
    kBadMessage = 12,
    kStillModified = 13,
    kNotLoaded = 14
};

// `reason`: the second line the message must carry (the system's reason).
int SaveInChild(const std::string& pts, const std::function<void()>& before,
                const std::string& reason) {
    pid_t pid = fork();
    if (pid == 0) {
        ScopedMessageCapture capture;
        COrvaneDoc doc;
        ProjectPaths paths = DemoPaths();
        paths.matchedPoints = pts;
        if (doc.LoadProject(paths) != 1) _exit(kNotLoaded);
        doc.m_points.GetPoint(0)->z += 1.0;
        doc.SetModifiedFlag();
        before();
        bool saved = doc.OnSaveDocument(QString::fromStdString(pts));
        if (saved) _exit(kChildSaved);
        if (!doc.IsModified()) _exit(kStillModified);
        if (capture.Messages().empty()) _exit(kBadMessage);
        const std::string& text = capture.Messages().back().text;
        if (text != "Write file " + pts + " error!\n" + reason &&
            text != "Open file " + pts + " error!\n" + reason)
            _exit(kBadMessage);
        _exit(kRefused);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFSIGNALED(status)) return -WTERMSIG(status);
    return WEXITSTATUS(status);
}

}  // namespace

TEST(OrvaneDocSaveFaults, FullFileSystemKeepsOldFileMessageAndModifiedFlag) {
    QTemporaryDir dir;
    const std::string pts = dir.path().toStdString() + "/points.pts";
    CopyFile(SmallDemo().pointsFile, pts);
    const std::string original = ReadAll(pts);
    // The file-size limit stops the write half way, like a full disk.
    int result = SaveInChild(
        pts,
        [] {
            std::signal(SIGXFSZ, SIG_IGN);
            struct rlimit limit {
                4096, 4096
            };
            setrlimit(RLIMIT_FSIZE, &limit);
        },
        "The file is larger than this system allows.");
    EXPECT_EQ(result, kRefused);
    EXPECT_EQ(ReadAll(pts), original);
    for (const QString& name : QDir(dir.path()).entryList(QDir::Files))  // no temporary left
        EXPECT_FALSE(name.contains(".orvane-save-")) << name.toStdString();
}

TEST(OrvaneDocSaveFaults, FolderWithoutWritePermissionKeepsOldFile) {
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString() + "/ro";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    const std::string pts = folder + "/points.pts";
    CopyFile(SmallDemo().pointsFile, pts);
    const std::string original = ReadAll(pts);
    chmod(folder.c_str(), 0555);
    int result = SaveInChild(
        pts,
        [] {
            // Root ignores permissions: save as an ordinary user.
            if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(99);
        },
        "The folder cannot be written; use File > Save As to save elsewhere.");
    chmod(folder.c_str(), 0755);
    EXPECT_EQ(result, kRefused);
    EXPECT_EQ(ReadAll(pts), original);
}
