#include "Orvane/OrvaneDoc.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLocale>
#include <QStringList>
#include <QTimer>

#include "Checking/CheckStatuses.h"
#include "Framework/Messages.h"
#include "Framework/StatusBar.h"
#include "Framework/WaitCursor.h"
#include "Framework/WinApp.h"
#include "PointIO/PointIO.h"
#include "Surface/ContourPits.h"

std::function<void(const COrvaneDoc&, const ProjectEvent&)> COrvaneDoc::s_fnFrameEvents;
std::function<bool(const COrvaneDoc&, ProjectFileData&)> COrvaneDoc::s_fnViewState;
std::function<std::string(const char*, const std::string&)> COrvaneDoc::s_fnAskForInput;
bool COrvaneDoc::s_bWriteProjectFiles = true;

namespace {

// Where an input of a reopened project went: a file dialog in the folder it was in.
std::string AskForInput(const char* name, const std::string& gone) {
    if (COrvaneDoc::s_fnAskForInput) return COrvaneDoc::s_fnAskForInput(name, gone);
    const QString path = QFileDialog::getOpenFileName(
        QApplication::activeWindow(),
        QStringLiteral("Where is the %1? (%2 is gone)")
            .arg(QString::fromLatin1(name), QString::fromLocal8Bit(gone.c_str())),
        QFileInfo(QString::fromLocal8Bit(gone.c_str())).absolutePath());
    return QFile::encodeName(path).toStdString();
}

}  // namespace

COrvaneDoc::COrvaneDoc() {
    SetEventSink(this);
    for (COverviewBuilder& levels : m_zoomLevels) {
        levels.SetProgressPrefix("Building the zoom levels:");
        QObject::connect(&levels, &COverviewBuilder::finished, [this] { UpdateAllViews(nullptr); });
    }
}

void COrvaneDoc::CancelImageWorkers() {
    m_overview.Cancel();
    for (COverviewBuilder& levels : m_zoomLevels) levels.Cancel();
    m_bLevelsStarted[0] = m_bLevelsStarted[1] = false;
}

const CImagePyramid* COrvaneDoc::ZoomLevels(int eye) {
    if (eye < 0 || eye > 1 || !IsProjectLoaded()) return nullptr;
    COverviewBuilder& levels = m_zoomLevels[eye];
    if (levels.IsReady()) return &levels.GetPyramid();
    if (!m_bLevelsStarted[eye]) {
        m_bLevelsStarted[eye] = true;
        const CErdasImage& image = (eye == 0 ? m_leftPhoto : m_rightPhoto).m_image;
        // From the first halving down: about a third of band 0's pixels.
        const ImageSize size = image.GetSize();
        const int side = std::max(size.cx, size.cy);
        if (side >= 2) levels.Start(image, (side + 1) / 2);
    }
    return nullptr;
}

COrvaneDoc::~COrvaneDoc() {
    CancelImageWorkers();  // the workers read the photographs
    SetEventSink(nullptr);
}

bool COrvaneDoc::OnNewDocument() {
    return COpenGLDoc::OnNewDocument();
}

void COrvaneDoc::Serialize(bool /*bStoring*/) {}

bool COrvaneDoc::OnOpenDocument(const QString& qpath) {
    if (!COpenGLDoc::OnOpenDocument(qpath)) return false;  // a file that is gone: refused
    const std::string points = QFile::encodeName(qpath).toStdString();
    ProjectFileData data;
    if (ReadProjectFile(ProjectFilePath(points), data) != 1) {
        m_strPointsToPick = points;
        return true;
    }
    // The file opened is the points file, wherever the project file says it was.
    data.paths.matchedPoints = points;
    std::pair<const char*, std::string*> inputs[] = {
        {"Left Image", &data.paths.leftImage},
        {"Right Image", &data.paths.rightImage},
        {"Left Orientation Parameters File", &data.paths.leftOrientation},
        {"Right Orientation Parameters File", &data.paths.rightOrientation}};
    for (auto& [name, path] : inputs) {
        if (QFileInfo::exists(QString::fromLocal8Bit(path->c_str()))) continue;
        const std::string found = AskForInput(name, *path);
        if (found.empty()) {
            // Given up: the picker asks for the whole project.
            m_strPointsToPick = points;
            return true;
        }
        *path = found;
    }
    m_projectFile = data;
    if (LoadProject(data.paths) < 0) {  // the message names the input
        m_strPointsToPick = points;
        return true;
    }
    m_bViewStatePending = true;
    return true;
}

int COrvaneDoc::WriteProjectFile() {
    if (!IsProjectLoaded() || !s_bWriteProjectFiles) return -1;
    ProjectFileData data = m_projectFile;
    if (s_fnViewState) s_fnViewState(*this, data);
    data.paths = m_paths;
    data.paths.matchedPoints = PointsPath();
    const std::string path = ProjectFilePath(data.paths.matchedPoints);
    if (::WriteProjectFile(path, data) != 1) {
        ShowTimedStatus(QStringLiteral("The project file %1 could not be written.")
                            .arg(QString::fromLocal8Bit(path.c_str())));
        return -1;
    }
    m_projectFile = data;
    return 1;
}

void COrvaneDoc::SelectPoint(int index) {
    m_editor.Select(index);
}

bool COrvaneDoc::ReleaseSelection() {
    // A promoted weight is an edit of the points file like any other: the
    // project reports it, and the document is then modified.
    return m_editor.ReleaseSelection();
}

int COrvaneDoc::SetContourInterval(double interval) {
    if (m_surface.SetInterval(interval) < 0) return -1;
    m_contourImages.Clear();
    RefreshContourSuspects();
    UpdateAllViews(nullptr);
    return 1;
}

void COrvaneDoc::EnsureContourSuspects() {
    if (m_bContourSuspectsStale) RefreshContourSuspects();
}

void COrvaneDoc::RefreshContourSuspects() {
    m_bContourSuspectsStale = false;
    if (!IsProjectLoaded()) return;
    m_checks.SetExtraSuspects(FindContourPits(m_surface.Surface(), m_surface.Contours(), m_points));
    ChecksChangedOutside();
}

void COrvaneDoc::OnProjectEvent(const ProjectEvent& event) {
    // The surface first: whatever the views draw next reads it.
    m_surface.OnProjectEvent(event);
    switch (event.change) {
        case ProjectChange::Loaded: {
            const ImageSize size = m_leftPhoto.m_image.GetSize();
            ExtendSceneSize(size.cx, size.cy);
            m_contourImages.Clear();
            m_matchResults.clear();
            m_bContourSuspectsStale = false;
            m_checks.SetExtraSuspects(
                FindContourPits(m_surface.Surface(), m_surface.Contours(), m_points));
            break;
        }
        case ProjectChange::RecordsRenumbered:
            // The kept suspects follow the renumbering; the matches go.
            m_matchResults.clear();
            break;
        case ProjectChange::PointsEdited:
            // The pits and peaks are found again when next asked for (the
            // queue's dock asks after a run of edits).
            m_bContourSuspectsStale = true;
            SetModifiedFlag(!event.atSavedState);
            if (const int dropped = m_editor.TakeDroppedSteps(); dropped > 0)
                ShowTimedStatus(
                    QStringLiteral("The oldest %1 edits can no longer be undone: the "
                                   "undo history keeps at most %2 MB.")
                        .arg(dropped)
                        .arg(static_cast<qulonglong>(m_editor.History().Limit() >> 20)));
            break;
        case ProjectChange::ChecksChanged:
            if (!m_pSidecarTimer) {
                m_pSidecarTimer = std::make_unique<QTimer>();
                m_pSidecarTimer->setSingleShot(true);
                QObject::connect(m_pSidecarTimer.get(), &QTimer::timeout,
                                 [this] { SaveCheckStatuses(); });
            }
            // At most every few seconds: a walk through the queue writes once per pause.
            if (!m_pSidecarTimer->isActive()) m_pSidecarTimer->start(3000);
            break;
        default:
            break;
    }
    // What the project's members look like changed for every view; the hint
    // tells which change it was.
    UpdateAllViews(nullptr, static_cast<long>(event.change), const_cast<ProjectEvent*>(&event));
    if (s_fnFrameEvents) s_fnFrameEvents(*this, event);
}

std::string COrvaneDoc::OnEditUndo() {
    return StepHistory(false);
}

std::string COrvaneDoc::OnEditRedo() {
    return StepHistory(true);
}

std::string COrvaneDoc::StepHistory(bool redo) {
    const std::string name = redo ? Redo() : Undo();
    if (!name.empty())
        ShowTimedStatus((redo ? QStringLiteral("Redone: %1") : QStringLiteral("Undone: %1"))
                            .arg(QString::fromStdString(name)));
    return name;
}

void COrvaneDoc::SaveCheckStatuses(const std::string& pointsPath) {
    const std::string path =
        pointsPath.empty() ? GetPathName().toLocal8Bit().toStdString() : pointsPath;
    const int written = CProject::SaveCheckStatuses(path);
    const QString sidecar = QString::fromStdString(CCheckStatuses::SidecarPath(path));
    if (written == kSidecarPointsReplaced)
        ShowTimedStatus(QStringLiteral("%1 was saved by another program: the check statuses were "
                                       "not written to %2; they are kept for your next save.")
                            .arg(QString::fromStdString(path), sidecar));
    else if (written < 0)
        ShowTimedStatus(
            QStringLiteral("The check statuses could not be written to %1.").arg(sidecar));
}

void COrvaneDoc::OnCloseDocument() {
    CancelImageWorkers();  // stops the workers before the images go
    SaveCheckStatuses();   // what was checked survives closing
    COpenGLDoc::OnCloseDocument();
}

int COrvaneDoc::SetSelectionToSurface() {
    int without = 0;
    int moved = -1;
    {
        CWaitCursor wait;
        moved = CProject::SetSelectionToSurface(&without);
    }
    if (without > 0)
        ShowTimedStatus(QStringLiteral("%1 of the selected points have no surface of neighbours "
                                       "to go to; they were left as they were.")
                            .arg(without));
    return moved;
}

void COrvaneDoc::ShowTimedStatus(const QString& text) const {
    if (CStatusBar* bar = CWinApp::MainStatusBar()) bar->ShowTimedMessage(text);
}

int COrvaneDoc::LoadProject(const ProjectPaths& paths) {
    ProjectLoadResult result;
    {
        CWaitCursor wait;
        // The overview's worker reads the left image that is about to be replaced.
        result = Load(paths, [this] { CancelImageWorkers(); });
    }
    if (result.previousStatuses < 0)
        ShowTimedStatus(QStringLiteral("The check statuses could not be written to %1.")
                            .arg(QString::fromStdString(CCheckStatuses::SidecarPath(
                                GetPathName().toLocal8Bit().toStdString()))));
    if (!result.Loaded()) {
        QString text = QStringLiteral("Open %1 error!")
                           .arg(QString::fromLatin1(ProjectInputName(result.failed)));
        // An orientation file is named by the picker, not by the operator: the
        // message says which file was tried.
        if (!result.path.empty())
            text += QStringLiteral("\n") + QString::fromLocal8Bit(result.path.c_str());
        ReportMessage(text, Platform::MessageKind::Exclamation);
        return -1;
    }
    const QString sidecar =
        QString::fromStdString(CCheckStatuses::SidecarPath(paths.matchedPoints));
    if (result.statuses == -2)
        ShowTimedStatus(QStringLiteral("The check statuses in %1 belong to another version of "
                                       "the points file; they were ignored.")
                            .arg(sidecar));
    else if (result.statuses == -3)
        ShowTimedStatus(
            QStringLiteral("The check statuses in %1 could not be read; they were ignored.")
                .arg(sidecar));
    // Points that miss a photograph are a sign of a wrong input (an image
    // converted without its sub-image start shows no point at all): say so
    // when fewer than half fall inside.
    const QLocale english(QLocale::English);
    QStringList outside;
    for (const auto& [inside, name] :
         {std::pair{result.insideLeft, "left"}, std::pair{result.insideRight, "right"}}) {
        if (2LL * inside < result.livePoints)
            outside << QStringLiteral("%1 of %2 points fall inside the %3 photograph.")
                           .arg(english.toString(inside), english.toString(result.livePoints),
                                QString::fromLatin1(name));
    }
    if (!outside.isEmpty()) {
        if (CStatusBar* bar = CWinApp::MainStatusBar())
            bar->ShowTimedMessage(outside.join(QLatin1Char(' ')), 20000);
    }
    SetPathName(QString::fromLocal8Bit(paths.matchedPoints.c_str()), true);
    SetModifiedFlag(false);
    m_overview.Start(m_leftPhoto.m_image);
    // The reduced levels a zoomed-out view draws from, built while the
    // operator starts at 1:1 (the view draws a subsample until they are ready).
    ZoomLevels(0);
    ZoomLevels(1);
    // Beside the points: what reopens this project from File > Open and the recent files.
    m_paths = paths;
    WriteProjectFile();
    return 1;
}

void COrvaneDoc::ShowStatus(const QString& text) const {
    if (CStatusBar* bar = CWinApp::MainStatusBar()) bar->SetPaneText(0, text);
}

QString COrvaneDoc::WithReason(const QString& message, const Platform::SaveFailure& failure) {
    // The file's message first, as always; the system's reason, when there
    // is one, on a second line.
    const std::string reason = Platform::SaveFailureReason(failure);
    return reason.empty() ? message
                          : message + QStringLiteral("\n") + QString::fromLocal8Bit(reason.c_str());
}

bool COrvaneDoc::OnSaveDocument(const QString& qpath) {
    const std::string path = qpath.toLocal8Bit().toStdString();
    Platform::SaveFailure refused;
    switch (SaveRefusal(path, &refused)) {
        case kSaveNoProject:
            // A document without a loaded project (File > New) must not
            // overwrite a points file with nothing.
            ReportMessage(QStringLiteral("There are no points to save: load a project with "
                                         "TIN > Editing (Orvane) first."),
                          Platform::MessageKind::Exclamation);
            return false;
        case kSaveAllDeleted:
            ReportMessage(
                QStringLiteral("All points are deleted; the points file was not changed."),
                Platform::MessageKind::Exclamation);
            return false;
        case kSaveCannotWrite:
            ReportMessage(WithReason(QStringLiteral("Open file %1 error!").arg(qpath), refused),
                          Platform::MessageKind::Exclamation);
            return false;
        default:
            break;
    }
    ShowStatus(QStringLiteral("Writing PTS to %1").arg(qpath));
    int result = 0;
    {
        CWaitCursor wait;
        result = Save(path);
    }
    ShowStatus(QStringLiteral("Done writing PTS."));
    if (result == kSaveOpenFailed || result == kSaveCannotWrite) {
        ReportMessage(
            WithReason(QStringLiteral("Open file %1 error!").arg(qpath), LastSaveFailure()),
            Platform::MessageKind::Exclamation);
        return false;
    }
    if (result != kSaved) {
        ReportMessage(
            WithReason(QStringLiteral("Write file %1 error!").arg(qpath), LastSaveFailure()),
            Platform::MessageKind::Exclamation);
        return false;  // the document stays modified: nothing was saved
    }
    SetModifiedFlag(false);
    SaveCheckStatuses(path);  // beside the file just written (Save As names it later)
    WriteProjectFile();       // beside it too, with the view as it is now
    return true;
}

void COrvaneDoc::OnExportPoints() {
    if (!IsProjectLoaded() || m_points.GetCount() == 0) {
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
