#include "Orvane/OrvaneDoc.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDialog>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "Framework/MDIFrame.h"
#include "Framework/Messages.h"
#include "Framework/StatusBar.h"
#include "Framework/WaitCursor.h"
#include "Framework/WinApp.h"
#include "Orvane/3DImgInput.h"
#include "Orvane/OrvaneView.h"

namespace {

struct FileCloser {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

FilePtr OpenForReading(const std::string& path) {
    if (path.empty()) return nullptr;
    return FilePtr(std::fopen(path.c_str(), "rb"));
}

// Moves the orientation of `from` (read into a temporary) into `to`.
void TakeOrientation(CAerialPhoto& to, CAerialPhoto& from) {
    std::swap(to.m_dFocalLength, from.m_dFocalLength);
    std::swap(to.m_dPrincipalX, from.m_dPrincipalX);
    std::swap(to.m_dPrincipalY, from.m_dPrincipalY);
    std::swap(to.m_ppInterior, from.m_ppInterior);
    std::swap(to.m_ppInteriorInv, from.m_ppInteriorInv);
    std::swap(to.m_dOmega, from.m_dOmega);
    std::swap(to.m_dPhi, from.m_dPhi);
    std::swap(to.m_dKappa, from.m_dKappa);
    std::swap(to.m_dXs, from.m_dXs);
    std::swap(to.m_dYs, from.m_dYs);
    std::swap(to.m_dZs, from.m_dZs);
    std::swap(to.m_ppRotation, from.m_ppRotation);
    std::swap(to.m_ppGroundToImage, from.m_ppGroundToImage);
}

// Moves a freshly read image into a photograph's image (the old one goes to `from`).
void TakeImage(CErdasImage& to, CErdasImage& from) {
    to.Swap(from);
}

// Moves a freshly read and indexed point set into the document's set.
void TakePoints(CTINPoints& to, CTINPoints& from) {
    to.Swap(from);
}

void ShowOpenError(const char* name, const std::string& path = std::string()) {
    QString text = QStringLiteral("Open %1 error!").arg(QString::fromLatin1(name));
    // An orientation file is named by the picker, not by the operator: the
    // message says which file was tried.
    if (!path.empty()) text += QStringLiteral("\n") + QString::fromLocal8Bit(path.c_str());
    ReportMessage(text, Platform::MessageKind::Exclamation);
}

}  // namespace

COrvaneDoc::COrvaneDoc() = default;

COrvaneDoc::~COrvaneDoc() {
    m_overview.Cancel();  // its worker reads the left image
}

void COrvaneDoc::OnCloseDocument() {
    m_overview.Cancel();
    COpenGLDoc::OnCloseDocument();
}

bool COrvaneDoc::OnNewDocument() {
    return COpenGLDoc::OnNewDocument();
}

void COrvaneDoc::Serialize(bool /*bStoring*/) {}

void COrvaneDoc::SelectPoint(int index) {
    m_leftPhoto.SelectImagePoint(index);
    m_rightPhoto.SelectImagePoint(index);
}

bool COrvaneDoc::ReleaseSelection() {
    if (m_leftPhoto.m_selection.empty()) return false;
    if (m_bZEdited) {
        bool promoted = false;
        for (const TINPoint& entry : m_leftPhoto.m_selection) {
            TINPoint* p = m_points.GetPoint(entry.id);
            if (p && p->id >= 0 && p->weight < 0.95) {
                p->weight = 0.95;
                promoted = true;
            }
        }
        m_bZEdited = false;
        // A promoted weight is an edit of the points file like any other: it
        // must not be lost when the document closes without asking.
        if (promoted) SetModifiedFlag();
    }
    m_leftPhoto.ClearSelection();
    m_rightPhoto.ClearSelection();
    return true;
}

void COrvaneDoc::LoadProject(COrvaneView* pView) {
    // A second project replaces the points in place: unsaved edits are offered
    // for saving first, as closing the document would (Cancel keeps everything).
    if (m_bProjectLoaded && !SaveModified()) return;
    C3DImgInput dlg(pView);
    if (!pView->RunDialog(dlg)) return;
    // The paths go into the view before the checks, as the operator typed them.
    pView->m_strLeftImage = dlg.m_strLeftImage;
    pView->m_strRightImage = dlg.m_strRightImage;
    pView->m_strLeftOrientation = dlg.m_strLeftOrientation;
    pView->m_strRightOrientation = dlg.m_strRightOrientation;
    pView->m_strMatchedPoints = dlg.m_strMatchedPoints;
    ProjectPaths paths{dlg.m_strLeftImage, dlg.m_strRightImage, dlg.m_strLeftOrientation,
                       dlg.m_strRightOrientation, dlg.m_strMatchedPoints};
    LoadProjectFiles(paths, pView);
}

int COrvaneDoc::LoadProjectFiles(const ProjectPaths& paths, COrvaneView* pView) {
    // Checks in the order the operator expects the names; the first failure ends them.
    FilePtr left = OpenForReading(paths.leftImage);
    if (!left) return ShowOpenError("Left Image"), -1;
    FilePtr right = OpenForReading(paths.rightImage);
    if (!right) return ShowOpenError("Right Image"), -1;
    FilePtr points = OpenForReading(paths.matchedPoints);
    if (!points) return ShowOpenError("Matched Points"), -1;
    // Orientations go into temporaries: a failure later must not leave the
    // displayed points projected with one orientation and later edits with another.
    CAerialPhoto newLeft, newRight;
    if (newLeft.ReadOrientation(paths.leftOrientation) < 0)
        return ShowOpenError("Left Orientation Parameters File", paths.leftOrientation), -1;
    if (newRight.ReadOrientation(paths.rightOrientation) < 0)
        return ShowOpenError("Right Orientation Parameters File", paths.rightOrientation), -1;

    CWaitCursor wait;
    if (newLeft.m_image.ReadImage(left.get()) != 1 || !newLeft.m_image.GetBands()) {
        return ShowOpenError("Left Image"), -1;
    }
    left.reset();
    if (newRight.m_image.ReadImage(right.get()) != 1 || !newRight.m_image.GetBands()) {
        return ShowOpenError("Right Image"), -1;
    }
    right.reset();
    CTINPoints newPoints;
    if (newPoints.ReadPts(points.get()) != 1 || newPoints.BuildIndex(1) < 0) {
        return ShowOpenError("Matched Points"), -1;
    }
    points.reset();

    // Everything was read: replace the project in one step. The overview's
    // worker reads the left image that is about to be replaced.
    m_overview.Cancel();
    TakeOrientation(m_leftPhoto, newLeft);
    TakeOrientation(m_rightPhoto, newRight);
    m_leftPhoto.m_strImagePath = paths.leftImage;
    TakeImage(m_leftPhoto.m_image, newLeft.m_image);
    m_leftPhoto.InvalidateWindow();
    m_rightPhoto.m_strImagePath = paths.rightImage;
    TakeImage(m_rightPhoto.m_image, newRight.m_image);
    m_rightPhoto.InvalidateWindow();
    // Each photograph's contrast comes from its own whole band, so every view
    // (a new window included) draws it the same way from the start.
    m_leftPhoto.ComputeGreyMap();
    m_rightPhoto.ComputeGreyMap();
    TakePoints(m_points, newPoints);
    m_bProjectLoaded = true;

    ImageSize size = m_leftPhoto.m_image.GetSize();
    ExtendSceneSize(size.cx, size.cy);
    RebuildImagePoints();
    for (CAerialPhoto* photo : {&m_leftPhoto, &m_rightPhoto}) {
        photo->ClearSelection();
        photo->m_polygon.clear();
    }
    m_bZEdited = false;

    if (pView) pView->OnProjectLoaded((m_points.m_dMinZ + m_points.m_dMaxZ) / 2.0);
    SetPathName(QString::fromLocal8Bit(paths.matchedPoints.c_str()), true);
    SetModifiedFlag(false);
    m_overview.Start(m_leftPhoto.m_image);
    return 1;
}

void COrvaneDoc::RebuildImagePoints() {
    m_leftPhoto.ProjectAll(m_points);
    m_rightPhoto.ProjectAll(m_points);
    // A ground point that does not project (NaN image position) stays in
    // step in the image-point set but out of its index: it is never drawn or
    // picked there, and the points after it are indexed as usual.
    if (m_leftPhoto.m_pImagePoints) m_leftPhoto.m_pImagePoints->BuildPlacedIndex(1);
    if (m_rightPhoto.m_pImagePoints) m_rightPhoto.m_pImagePoints->BuildPlacedIndex(1);
}

void COrvaneDoc::RenumberAfterCompact(const std::vector<int>& newIndexOfOld) {
    for (int i = 0; i < m_points.GetCount(); ++i) m_points.GetPoint(i)->id = i;
    m_points.BuildIndex(1);
    RebuildImagePoints();
    auto remap = [&](std::vector<TINPoint>& list, CAerialPhoto& photo) {
        std::vector<TINPoint> kept;
        for (const TINPoint& e : list) {
            if (e.id < 0 || e.id >= static_cast<int>(newIndexOfOld.size())) continue;
            int id = newIndexOfOld[e.id];
            if (id < 0) continue;
            const TINPoint* p = photo.m_pImagePoints ? photo.m_pImagePoints->GetPoint(id) : nullptr;
            if (p) kept.push_back(*p);
        }
        list.swap(kept);
    };
    for (CAerialPhoto* photo : {&m_leftPhoto, &m_rightPhoto}) {
        remap(photo->m_selection, *photo);
        remap(photo->m_polygon, *photo);
    }
    for (CScrollView* v : GetViews())
        if (auto* view = dynamic_cast<COrvaneView*>(v)) view->OnPointsRenumbered(newIndexOfOld);
}

void COrvaneDoc::ShowStatus(const QString& text) const {
    CWinApp* app = CWinApp::GetApp();
    if (!app || !app->m_pMainWnd || !app->m_pMainWnd->GetStatusBar()) return;
    app->m_pMainWnd->GetStatusBar()->SetPaneText(0, text);
}

bool COrvaneDoc::OnSaveDocument(const QString& qpath) {
    const std::string path = qpath.toLocal8Bit().toStdString();
    // A document without a loaded project (File > New, or File > Open of a
    // .pts, which reads nothing) must not overwrite a points file with nothing.
    if (!m_bProjectLoaded) {
        ReportMessage(QStringLiteral("There are no points to save: load a project with "
                                     "TIN > Editing (Orvane) first."),
                      Platform::MessageKind::Exclamation);
        return false;
    }
    // Deleted records are left out of the file; a set with no live point
    // could never be read back, so the old file stays as it is.
    bool anyLive = false;
    for (int i = 0; i < m_points.GetCount() && !anyLive; ++i)
        anyLive = m_points.GetPoint(i)->id >= 0;
    if (!anyLive) {
        ReportMessage(QStringLiteral("All points are deleted; the points file was not changed."),
                      Platform::MessageKind::Exclamation);
        return false;
    }
    // The new file is written beside the target and renamed over it only once
    // complete, so a failure at any step leaves the previous file untouched.
    // A link is followed so that the file it names is replaced, not the link;
    // a file the user may not write stays refused as an in-place write would be.
    std::string target = path;
    std::unique_ptr<char, decltype(&std::free)> real(realpath(path.c_str(), nullptr), &std::free);
    if (real) target = real.get();
    if (access(target.c_str(), F_OK) == 0 && access(target.c_str(), W_OK) != 0) {
        ReportMessage(QStringLiteral("Open file %1 error!").arg(qpath),
                      Platform::MessageKind::Exclamation);
        return false;
    }
    std::string tempPath = target + ".XXXXXX";
    std::vector<char> tempName(tempPath.begin(), tempPath.end());
    tempName.push_back('\0');
    int fd = mkstemp(tempName.data());
    if (fd < 0) {
        ReportMessage(QStringLiteral("Open file %1 error!").arg(qpath),
                      Platform::MessageKind::Exclamation);
        return false;
    }
    tempPath = tempName.data();
    struct stat old {};
    if (stat(target.c_str(), &old) == 0) {
        fchmod(fd, old.st_mode & 07777);
    } else {
        mode_t mask = umask(0);
        umask(mask);
        fchmod(fd, 0666 & ~mask);
    }
    FILE* file = fdopen(fd, "wb");
    if (!file) {
        close(fd);
        unlink(tempPath.c_str());
        ReportMessage(QStringLiteral("Open file %1 error!").arg(qpath),
                      Platform::MessageKind::Exclamation);
        return false;
    }
    ShowStatus(QStringLiteral("Writing PTS to %1").arg(qpath));

    bool ok = true;
    {
        CWaitCursor wait;
        std::vector<int> newIndexOfOld(m_points.GetCount(), -1);
        int survivors = 0;
        for (int i = 0; i < m_points.GetCount(); ++i)
            if (m_points.GetPoint(i)->id >= 0) newIndexOfOld[i] = survivors++;
        // Every save compacts: besides dropping deleted records this takes the
        // header bounds from the live records, which moves along a ray may
        // have carried outside the bounds the file was loaded with.
        m_points.Compact();
        RenumberAfterCompact(newIndexOfOld);
        ok = m_points.WritePts(file) == m_points.GetCount();
    }
    ok = (std::fflush(file) == 0) && ok;
    ok = (fsync(fileno(file)) == 0) && ok;
    ok = (std::fclose(file) == 0) && ok;
    ShowStatus(QStringLiteral("Done writing PTS."));
    if (ok && std::rename(tempPath.c_str(), target.c_str()) != 0) ok = false;
    if (!ok) {
        unlink(tempPath.c_str());
        ReportMessage(QStringLiteral("Write file %1 error!").arg(qpath),
                      Platform::MessageKind::Exclamation);
        return false;  // the document stays modified: nothing was saved
    }
    SetModifiedFlag(false);
    return true;
}
