// A project reopened as the operator left it: loading and saving write the
// project file beside the points file; after File > Close, the recent-file
// list opens the points file again with its five inputs, the right image's
// offsets and the stereo mode, and the picker proposes the paths last used.
#include <QMenu>
#include <QMenuBar>

#include "Framework/DocTemplate.h"
#include "Orvane/3DImgInput.h"
#include "Project/ProjectFile.h"
#include "testing/OrvaneTestSupport.h"

using namespace orvane_test;

namespace {

QAction* RecentFileAction(CMainFrame* frame, const QString& path) {
    for (QAction* title : frame->menuBar()->actions()) {
        if (!title->menu() || title->text() != "&File") continue;
        for (QAction* a : title->menu()->actions())
            if (a->text().endsWith(path)) return a;
    }
    return nullptr;
}

}  // namespace

TEST(Reopen, ASavedProjectReopensFromTheRecentFilesWithItsInputsOffsetsAndStereoMode) {
    AppHarness h;
    ASSERT_TRUE(h.view);
    COrvaneDoc::s_bWriteProjectFiles = true;  // the points are a copy of this test's own
    QTemporaryDir dir;
    const std::string pts = dir.path().toStdString() + "/points.pts";
    CopyFile(SmallDemo().pointsFile, pts);
    ProjectPaths paths = DemoPaths();
    paths.matchedPoints = pts;
    // Loaded through TIN > Editing with the picker filled in.
    h.view->m_fnRunDialog = [&](QDialog& d) {
        auto& dlg = dynamic_cast<C3DImgInput&>(d);
        dlg.m_strLeftImage = paths.leftImage;
        dlg.m_strRightImage = paths.rightImage;
        dlg.m_strLeftOrientation = paths.leftOrientation;
        dlg.m_strRightOrientation = paths.rightOrientation;
        dlg.m_strMatchedPoints = paths.matchedPoints;
        return true;
    };
    h.view->OnEditingOrvane();
    ASSERT_TRUE(h.doc->IsProjectLoaded());
    const std::string projectFile = ProjectFilePath(pts);
    ProjectFileData written;
    ASSERT_EQ(ReadProjectFile(projectFile, written), 1);  // written by the load
    EXPECT_EQ(written.xOffset, h.view->m_nXOffset);

    // The operator aligns by hand, switches to side by side, edits and saves.
    h.view->OnKeyDown(VK_RIGHT, 3, 0);
    h.view->OnKeyDown(VK_DOWN, 2, 0);
    ASSERT_TRUE(h.view->SetPresentation(StereoPresentation::SideBySide));
    const int xOffset = h.view->m_nXOffset, yOffset = h.view->m_nYOffset;
    h.doc->SelectPoint(11);
    h.view->OnMouseWheel(0, 120, CPoint());
    const double z = h.doc->m_points.GetPoint(11)->z;
    h.doc->ReleaseSelection();
    ASSERT_TRUE(h.doc->OnSaveDocument(QString::fromStdString(pts)));
    ASSERT_EQ(ReadProjectFile(projectFile, written), 1);
    EXPECT_EQ(written.xOffset, xOffset);
    EXPECT_EQ(written.yOffset, yOffset);
    EXPECT_EQ(written.stereoMode, "side-by-side");
    // Paths relative to the project file's folder.
    const std::string text = ReadAll(projectFile);
    EXPECT_NE(text.find("\npoints=points.pts\n"), std::string::npos) << text;

    // File > Close: no read-out of the closed project stays in the status bar.
    h.frame->FindAction(ID_FILE_CLOSE)->trigger();
    ASSERT_TRUE(WaitFor([&] {
        return h.frame->GetMDIArea()->subWindowList().isEmpty() &&
               h.app->GetDocTemplate()->GetDocuments().empty();
    }));
    h.doc = nullptr;
    h.view = nullptr;
    CStatusBar* bar = h.frame->GetStatusBar();
    EXPECT_EQ(bar->GetPaneText(kPaneSelected), "");
    EXPECT_EQ(bar->GetPaneText(kPaneMark), "");
    EXPECT_EQ(bar->GetPaneText(kPaneMessage), "Ready");

    // The recent-file list opens the whole project again.
    QAction* recent = RecentFileAction(h.frame, QString::fromStdString(pts));
    ASSERT_TRUE(recent);
    recent->trigger();
    ASSERT_TRUE(WaitFor([&] { return h.frame->GetActiveView() != nullptr; }));
    auto* view = dynamic_cast<COrvaneView*>(h.frame->GetActiveView());
    ASSERT_TRUE(view);
    COrvaneDoc* doc = view->GetDocument();
    h.view = view;
    h.doc = doc;
    ASSERT_TRUE(doc->IsProjectLoaded());
    EXPECT_EQ(doc->m_paths.leftImage, paths.leftImage);
    EXPECT_EQ(doc->m_paths.rightImage, paths.rightImage);
    EXPECT_EQ(doc->m_paths.leftOrientation, paths.leftOrientation);
    EXPECT_EQ(doc->m_paths.rightOrientation, paths.rightOrientation);
    EXPECT_EQ(doc->m_paths.matchedPoints, pts);
    EXPECT_EQ(doc->m_leftPhoto.m_strImagePath, paths.leftImage);
    EXPECT_EQ(view->m_strLeftOrientation, paths.leftOrientation);
    EXPECT_EQ(+doc->m_points.GetPoint(11)->z, z);  // the saved edit
    EXPECT_EQ(view->m_nXOffset, xOffset);
    EXPECT_EQ(view->m_nYOffset, yOffset);
    EXPECT_EQ(view->GetPresentation(), StereoPresentation::SideBySide);
    EXPECT_FALSE(doc->IsModified());

    // The picker proposes the paths last used.
    C3DImgInput* shown = nullptr;
    std::string proposed[5];
    view->m_fnRunDialog = [&](QDialog& d) {
        shown = dynamic_cast<C3DImgInput*>(&d);
        proposed[0] = shown->m_strLeftImage;
        proposed[1] = shown->m_strRightImage;
        proposed[2] = shown->m_strLeftOrientation;
        proposed[3] = shown->m_strRightOrientation;
        proposed[4] = shown->m_strMatchedPoints;
        return false;
    };
    view->OnEditingOrvane();
    ASSERT_TRUE(shown);
    EXPECT_EQ(proposed[0], paths.leftImage);
    EXPECT_EQ(proposed[1], paths.rightImage);
    EXPECT_EQ(proposed[2], paths.leftOrientation);
    EXPECT_EQ(proposed[3], paths.rightOrientation);
    EXPECT_EQ(proposed[4], pts);
}
