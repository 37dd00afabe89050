#include "Orvane/OrvaneDoc.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "Checking/SurfaceTargets.h"
#include "Framework/MDIFrame.h"
#include "Framework/Messages.h"
#include "Framework/StatusBar.h"
#include "Framework/WaitCursor.h"
#include "Framework/WinApp.h"
#include "GdalImage/GdalImage.h"
#include "Orvane/3DImgInput.h"
#include "Orvane/MainFrm.h"
#include "Orvane/OrvaneView.h"
#include "Platform/AtomicFile.h"
#include "Platform/FileHandle.h"
#include "PointIO/PointIO.h"
#include "TIN/PointsFileSave.h"

namespace {

using Platform::FilePtr;

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

bool COrvaneDoc::OnNewDocument() {
    return COpenGLDoc::OnNewDocument();
}

void COrvaneDoc::Serialize(bool /*bStoring*/) {}

void COrvaneDoc::SelectPoint(int index) {
    m_editor.Select(index);
}

bool COrvaneDoc::ReleaseSelection() {
    bool promoted = false;
    if (!m_editor.ReleaseSelection(&promoted)) return false;
    // A promoted weight is an edit of the points file like any other: it
    // must not be lost when the document closes without asking.
    if (promoted) SetModifiedFlag();
    return true;
}

void COrvaneDoc::OnPointsEdited() {
    SetModifiedFlag();
    ChecksFollowEdit();
    if (const int dropped = m_editor.TakeDroppedSteps(); dropped > 0)
        ShowTimedStatus(QStringLiteral("The oldest %1 edits can no longer be undone: the undo "
                                       "history keeps at most %2 MB.")
                            .arg(dropped)
                            .arg(static_cast<qulonglong>(m_editor.History().Limit() >> 20)));
    HistoryChanged();
}

std::string COrvaneDoc::OnEditUndo() {
    return StepHistory(false);
}

std::string COrvaneDoc::OnEditRedo() {
    return StepHistory(true);
}

std::string COrvaneDoc::StepHistory(bool redo) {
    const std::string name = redo ? m_editor.Redo() : m_editor.Undo();
    if (name.empty()) return name;
    // Back at the state of the last save (or load): nothing to save.
    SetModifiedFlag(!m_editor.AtSavedState());
    // Undoing past a save puts its dropped records back (redoing drops them
    // again): what keeps record indices follows, as after the save.
    if (const std::vector<int>& map = m_editor.LastRenumbering(); !map.empty()) {
        RenumberAfterCompact(map);
        m_checks.PointsRenumbered(map);
    }
    ChecksFollowEdit();
    for (CScrollView* view : GetViews()) view->Invalidate();
    ShowTimedStatus((redo ? QStringLiteral("Redone: %1") : QStringLiteral("Undone: %1"))
                        .arg(QString::fromStdString(name)));
    HistoryChanged();
    return name;
}

void COrvaneDoc::ChecksFollowEdit() {
    if (!m_editor.LastChanged().empty()) {
        m_checks.PointsChanged(m_editor.LastChanged());
        OnChecksChanged();
    }
}

void COrvaneDoc::OnChecksChanged() {
    CWinApp* app = CWinApp::GetApp();
    if (auto* frame = app ? dynamic_cast<CMainFrame*>(app->m_pMainWnd) : nullptr)
        frame->UpdateCheckQueue();
    for (CScrollView* view : GetViews()) view->Invalidate();
    if (!m_pSidecarTimer) {
        m_pSidecarTimer = std::make_unique<QTimer>();
        m_pSidecarTimer->setSingleShot(true);
        QObject::connect(m_pSidecarTimer.get(), &QTimer::timeout, [this] { SaveCheckStatuses(); });
    }
    // At most every few seconds: a walk through the queue writes once per pause.
    if (!m_pSidecarTimer->isActive()) m_pSidecarTimer->start(3000);
}

void COrvaneDoc::SaveCheckStatuses(const std::string& pointsPath) {
    if (!m_bProjectLoaded || !m_checks.TakeStatusesChanged()) return;
    const std::string path =
        pointsPath.empty() ? GetPathName().toLocal8Bit().toStdString() : pointsPath;
    // Edits not saved yet are not written as edited: they may still be lost.
    if (m_checks.StatusesToKeep().Save(path) < 0)
        ShowTimedStatus(QStringLiteral("The check statuses could not be written to %1.")
                            .arg(QString::fromStdString(CCheckStatuses::SidecarPath(path))));
}

void COrvaneDoc::OnCloseDocument() {
    m_overview.Cancel();  // stops the overview's worker before the images go
    SaveCheckStatuses();  // what was checked survives closing
    COpenGLDoc::OnCloseDocument();
}

int COrvaneDoc::SetSelectionToSurface() {
    const std::vector<int> indices = m_editor.SelectionIndices();
    std::vector<SurfaceTarget> targets;
    {
        CWaitCursor wait;
        if (m_checks.Ranking())
            ComputeSurfaceTargets(*m_checks.Ranking(), m_leftPhoto, indices, targets);
        else
            ComputeSurfaceTargets(m_points, m_leftPhoto, indices, targets);
    }
    std::vector<PointTarget> moves;
    int without = 0;
    for (const SurfaceTarget& t : targets) {
        if (t.status == TargetStatus::Converged)
            moves.push_back({t.index, t.x, t.y, t.z});
        else if (t.status != TargetStatus::NotLive)
            ++without;
    }
    if (without > 0)
        ShowTimedStatus(QStringLiteral("%1 of the selected points have no surface of neighbours "
                                       "to go to; they were left as they were.")
                            .arg(without));
    if (moves.empty() || m_editor.MovePointsTo(moves, EditKind::SetToSurface) < 0) return -1;
    OnPointsEdited();
    return static_cast<int>(moves.size());
}

void COrvaneDoc::HistoryChanged() const {
    CWinApp* app = CWinApp::GetApp();
    if (auto* frame = app ? dynamic_cast<CMainFrame*>(app->m_pMainWnd) : nullptr) {
        frame->UpdateUndoActions();
        frame->OnPointsEdited();
    }
}

void COrvaneDoc::ShowTimedStatus(const QString& text) const {
    if (CStatusBar* bar = CWinApp::MainStatusBar()) bar->ShowTimedMessage(text);
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
    // A LAN file (by its magic) goes to the LAN reader, other rasters that
    // GDAL recognises (TIFF, GeoTIFF, ...) to GDAL, into the same band buffers.
    left.reset();
    right.reset();
    if (ReadPhotograph(paths.leftImage, newLeft.m_image) != 1 || !newLeft.m_image.GetBands()) {
        return ShowOpenError("Left Image"), -1;
    }
    if (ReadPhotograph(paths.rightImage, newRight.m_image) != 1 || !newRight.m_image.GetBands()) {
        return ShowOpenError("Right Image"), -1;
    }
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
    // The check statuses of this points file, if it has any.
    m_checks.Reset();
    switch (m_checks.Statuses().Load(paths.matchedPoints)) {
        case -2:
            ShowTimedStatus(
                QStringLiteral("The check statuses in %1 belong to another version of "
                               "the points file; they were ignored.")
                    .arg(QString::fromStdString(CCheckStatuses::SidecarPath(paths.matchedPoints))));
            break;
        case -3:
            ShowTimedStatus(
                QStringLiteral("The check statuses in %1 could not be read; they were "
                               "ignored.")
                    .arg(QString::fromStdString(CCheckStatuses::SidecarPath(paths.matchedPoints))));
            break;
        default:
            break;
    }
    m_checks.Statuses().Resize(m_points.GetCount());
    m_checks.MarkSaved();
    // Another project: nothing of the last one can be undone here.
    m_editor.ClearHistory();
    m_editor.MarkSaved();
    m_editor.PrepareSelection();
    HistoryChanged();

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
    auto remap = [&](std::vector<TINPoint>& list, CAerialPhoto& photo) {
        std::vector<TINPoint> kept;
        for (const TINPoint& e : list) {
            if (e.id < 0 || e.id >= static_cast<int>(newIndexOfOld.size())) continue;
            const int id = newIndexOfOld[static_cast<size_t>(e.id)];
            if (id < 0) continue;
            const TINPoint* p = photo.m_pImagePoints ? photo.m_pImagePoints->GetPoint(id) : nullptr;
            if (p) kept.push_back(*p);
        }
        list.swap(kept);
    };
    for (CAerialPhoto* photo : {&m_leftPhoto, &m_rightPhoto}) remap(photo->m_polygon, *photo);
    for (CScrollView* v : GetViews())
        if (auto* view = dynamic_cast<COrvaneView*>(v)) view->OnPointsRenumbered(newIndexOfOld);
}

void COrvaneDoc::ShowStatus(const QString& text) const {
    if (CStatusBar* bar = CWinApp::MainStatusBar()) bar->SetPaneText(0, text);
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
    // A file the user may not write, or a folder where nothing can be
    // created, is refused before anything changes.
    const std::string target = Platform::SaveTarget(path);
    const std::string folder = target.find('/') == std::string::npos
                                   ? std::string(".")
                                   : target.substr(0, std::max<size_t>(1, target.rfind('/')));
    if ((access(target.c_str(), F_OK) == 0 && access(target.c_str(), W_OK) != 0) ||
        access(folder.c_str(), W_OK | X_OK) != 0) {
        ReportMessage(QStringLiteral("Open file %1 error!").arg(qpath),
                      Platform::MessageKind::Exclamation);
        return false;
    }
    ShowStatus(QStringLiteral("Writing PTS to %1").arg(qpath));
    int result = 0;
    {
        CWaitCursor wait;
        // Every save compacts: besides dropping deleted records this takes the
        // header bounds from the live records, which moves along a ray may
        // have carried outside the bounds the file was loaded with. The
        // editor records the compaction, so earlier steps stay undoable.
        std::vector<int> newIndexOfOld;
        m_editor.Compact(newIndexOfOld);
        RenumberAfterCompact(newIndexOfOld);
        m_checks.PointsRenumbered(newIndexOfOld);
        // A temporary beside the file, renamed over it once complete: a
        // failure at any step leaves the previous file untouched.
        result = SavePointsFile(m_points, path);
    }
    ShowStatus(QStringLiteral("Done writing PTS."));
    if (result == -1) {
        ReportMessage(QStringLiteral("Open file %1 error!").arg(qpath),
                      Platform::MessageKind::Exclamation);
        return false;
    }
    if (result != 1) {
        ReportMessage(QStringLiteral("Write file %1 error!").arg(qpath),
                      Platform::MessageKind::Exclamation);
        return false;  // the document stays modified: nothing was saved
    }
    m_editor.MarkSaved();
    SetModifiedFlag(false);
    HistoryChanged();
    // The statuses follow the renumbered records into their sidecar at once,
    // now with the edits this save made lasting.
    m_checks.MarkSaved();
    m_checks.MarkStatusesChanged();
    SaveCheckStatuses(path);  // beside the file just written (Save As names it later)
    OnChecksChanged();
    return true;
}

void COrvaneDoc::OnExportPoints() {
    if (!m_bProjectLoaded || m_points.GetCount() == 0) {
        ReportMessage(QStringLiteral("Please load images and points first."),
                      Platform::MessageKind::Plain);
        return;
    }
    std::string path;
    if (m_fnChooseExportPath) {
        path = m_fnChooseExportPath();
    } else {
        QString selected;
        const QString lasFilter = QStringLiteral("LAS Files (*.las)");
        const QString xyzFilter = QStringLiteral("XYZ Text (*.xyz)");
        const QString proposed = QFileInfo(GetPathName()).completeBaseName() + ".las";
        QString chosen = QFileDialog::getSaveFileName(QApplication::activeWindow(),
                                                      QStringLiteral("Export Points"), proposed,
                                                      lasFilter + ";;" + xyzFilter, &selected);
        if (chosen.isEmpty()) return;
        // A name without a known extension takes the one of the chosen type.
        if (PointFileTypeOf(QFile::encodeName(chosen).toStdString()) == PointFileType::Unknown)
            chosen += selected == xyzFilter ? ".xyz" : ".las";
        path = QFile::encodeName(chosen).toStdString();
    }
    if (path.empty()) return;
    ExportPointsTo(path);
}

int COrvaneDoc::ExportPointsTo(const std::string& path) {
    const PointFileType type = PointFileTypeOf(path);
    if (type != PointFileType::Las && type != PointFileType::Xyz) {
        ReportMessage(QStringLiteral("Points can be exported as LAS (.las) or XYZ text (.xyz): %1")
                          .arg(QString::fromLocal8Bit(path.c_str())),
                      Platform::MessageKind::Exclamation);
        return -1;
    }
    int written = 0;
    {
        CWaitCursor wait;
        written = ExportPoints(path, m_points);  // failures are reported by the writer
    }
    if (written >= 0)
        ShowTimedStatus(QStringLiteral("Exported %1 points to %2")
                            .arg(written)
                            .arg(QString::fromLocal8Bit(path.c_str())));
    return written;
}
