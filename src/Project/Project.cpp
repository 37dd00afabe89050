#include "Project/Project.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <utility>

#include "Checking/SurfaceTargets.h"
#include "GdalImage/GdalImage.h"
#include "Platform/AtomicFile.h"
#include "Platform/FileHandle.h"
#include "TIN/PointsFileSave.h"

namespace {

using Platform::FilePtr;

// Only regular files: a named pipe or a link to a device given as an input
// would block the load or feed it without end.
FilePtr OpenForReading(const std::string& path) {
    if (path.empty()) return nullptr;
    return Platform::OpenRegularFile(path, "rb");
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

ProjectLoadResult Failed(ProjectInput input, std::string path = {}) {
    ProjectLoadResult result;
    result.failed = input;
    result.path = std::move(path);
    return result;
}

}  // namespace

const char* ProjectInputName(ProjectInput input) {
    switch (input) {
        case ProjectInput::LeftImage:
            return "Left Image";
        case ProjectInput::RightImage:
            return "Right Image";
        case ProjectInput::MatchedPoints:
            return "Matched Points";
        case ProjectInput::LeftOrientation:
            return "Left Orientation Parameters File";
        case ProjectInput::RightOrientation:
            return "Right Orientation Parameters File";
        case ProjectInput::None:
            break;
    }
    return "";
}

CProject::CProject() {
    m_editor.SetListener(this);
}

CProject::~CProject() {
    m_editor.SetListener(nullptr);
}

ProjectLoadResult CProject::Load(const ProjectPaths& paths,
                                 const std::function<void()>& beforeReplace) {
    // Checks in the order the operator expects the names; the first failure ends them.
    FilePtr left = OpenForReading(paths.leftImage);
    if (!left) return Failed(ProjectInput::LeftImage);
    FilePtr right = OpenForReading(paths.rightImage);
    if (!right) return Failed(ProjectInput::RightImage);
    FilePtr points = OpenForReading(paths.matchedPoints);
    if (!points) return Failed(ProjectInput::MatchedPoints);
    // Orientations go into temporaries: a failure later must not leave the
    // displayed points projected with one orientation and later edits with another.
    CAerialPhoto newLeft, newRight;
    if (newLeft.ReadOrientation(paths.leftOrientation) < 0)
        return Failed(ProjectInput::LeftOrientation, paths.leftOrientation);
    if (newRight.ReadOrientation(paths.rightOrientation) < 0)
        return Failed(ProjectInput::RightOrientation, paths.rightOrientation);

    // A LAN file (by its magic) goes to the LAN reader, other rasters that
    // GDAL recognises (TIFF, GeoTIFF, ...) to GDAL, into the same band buffers.
    left.reset();
    right.reset();
    if (ReadPhotograph(paths.leftImage, newLeft.m_image) != 1 || !newLeft.m_image.GetBands())
        return Failed(ProjectInput::LeftImage);
    if (ReadPhotograph(paths.rightImage, newRight.m_image) != 1 || !newRight.m_image.GetBands())
        return Failed(ProjectInput::RightImage);
    CTINPoints newPoints;
    if (newPoints.ReadPts(points.get()) != 1 || newPoints.BuildIndex(1) < 0)
        return Failed(ProjectInput::MatchedPoints);
    points.reset();

    // Everything was read: replace the project in one step. What was
    // checked in the last project and not written yet goes to its sidecar
    // first: the queue is about to be reset.
    ProjectLoadResult result;
    result.previousStatuses = SaveCheckStatuses();
    if (beforeReplace) beforeReplace();
    TakeOrientation(m_leftPhoto, newLeft);
    TakeOrientation(m_rightPhoto, newRight);
    m_leftPhoto.m_strImagePath = paths.leftImage;
    m_leftPhoto.m_image.Swap(newLeft.m_image);
    m_leftPhoto.InvalidateWindow();
    m_rightPhoto.m_strImagePath = paths.rightImage;
    m_rightPhoto.m_image.Swap(newRight.m_image);
    m_rightPhoto.InvalidateWindow();
    // Each photograph's contrast comes from its own whole band, so every view
    // (a new window included) draws it the same way from the start.
    m_leftPhoto.ComputeGreyMap();
    m_rightPhoto.ComputeGreyMap();
    m_points.Swap(newPoints);
    m_bProjectLoaded = true;

    RebuildImagePoints();
    for (CAerialPhoto* photo : {&m_leftPhoto, &m_rightPhoto}) {
        photo->ClearSelection();
        photo->m_polygon.clear();
    }
    m_bZEdited = false;
    m_strPointsPath = paths.matchedPoints;
    // The check statuses of this points file, if it has any.
    m_checks.Reset();
    PointsFileIdentity identity;
    result.statuses = m_checks.Statuses().Load(paths.matchedPoints, &identity);
    // The sidecar is written only while the points file is the one read here.
    m_checks.SetPointsFileIdentity(identity);
    m_checks.Statuses().Resize(m_points.GetCount());
    m_checks.MarkSaved();
    // Another project: nothing of the last one can be undone here.
    m_editor.ClearHistory();
    m_editor.MarkSaved();
    m_editor.PrepareSelection();
    ++m_nEditGeneration;
    for (int i = 0; i < m_points.GetCount(); ++i)
        if (m_points.GetPoint(i)->id >= 0) ++result.livePoints;
    result.insideLeft = PointsInside(m_leftPhoto);
    result.insideRight = PointsInside(m_rightPhoto);
    Emit({ProjectChange::Loaded});
    Emit({ProjectChange::HistoryChanged});
    Emit({ProjectChange::ChecksChanged});
    return result;
}

int CProject::PointsInside(const CAerialPhoto& photo) const {
    if (!photo.m_pImagePoints) return 0;
    const ImageSize size = photo.m_image.GetSize();
    int inside = 0;
    for (int i = 0; i < photo.m_pImagePoints->GetCount(); ++i) {
        const TINPoint* p = photo.m_pImagePoints->GetPoint(i);
        const TINPoint* g = m_points.GetPoint(i);
        if (!g || g->id < 0 || !std::isfinite(p->x) || !std::isfinite(p->y)) continue;
        if (p->x >= 0.0 && p->x < size.cx && p->y >= 0.0 && p->y < size.cy) ++inside;
    }
    return inside;
}

void CProject::RebuildImagePoints() {
    m_leftPhoto.ProjectAll(m_points);
    m_rightPhoto.ProjectAll(m_points);
    // A ground point that does not project (NaN image position) stays in
    // step in the image-point set but out of its index: it is never drawn or
    // picked there, and the points after it are indexed as usual.
    if (m_leftPhoto.m_pImagePoints) m_leftPhoto.m_pImagePoints->BuildPlacedIndex(1);
    if (m_rightPhoto.m_pImagePoints) m_rightPhoto.m_pImagePoints->BuildPlacedIndex(1);
}

void CProject::OnEditorChange(EditorChange change) {
    if (change == EditorChange::Selection) return Emit({ProjectChange::SelectionChanged});
    ++m_nEditGeneration;
    // A compaction is made by Save, which reports the renumbering it made.
    if (change == EditorChange::Compaction) return;
    // Undoing past a save puts its dropped records back (redoing drops them
    // again): what keeps record indices follows, as after the save.
    if (change == EditorChange::Undo || change == EditorChange::Redo) {
        if (!m_editor.LastRenumbering().Empty()) Renumbered(m_editor.LastRenumbering());
    }
    ProjectEvent edited{ProjectChange::PointsEdited, &m_editor.LastChanged()};
    // An edit always leaves the file behind; an undo or redo may come back to it.
    edited.atSavedState =
        (change == EditorChange::Undo || change == EditorChange::Redo) && m_editor.AtSavedState();
    // A promoted weight changes no score: the queue is not asked.
    const bool rescore = change != EditorChange::Promotion && !m_editor.LastChanged().empty();
    if (rescore) m_checks.PointsChanged(m_editor.LastChanged());
    Emit(edited);
    if (rescore) Emit({ProjectChange::ChecksChanged});
    Emit({ProjectChange::HistoryChanged});
}

void CProject::Renumbered(const CRenumbering& renumbering) {
    for (CAerialPhoto* photo : {&m_leftPhoto, &m_rightPhoto}) {
        std::vector<TINPoint> kept;
        for (const TINPoint& e : photo->m_polygon) {
            const int id = renumbering.NewIndex(e.id);
            if (id < 0) continue;
            const TINPoint* p =
                photo->m_pImagePoints ? photo->m_pImagePoints->GetPoint(id) : nullptr;
            if (p) kept.push_back(*p);
        }
        photo->m_polygon.swap(kept);
    }
    m_checks.PointsRenumbered(renumbering);
    ProjectEvent renumbered{ProjectChange::RecordsRenumbered};
    renumbered.renumbering = &renumbering;
    Emit(renumbered);
}

int CProject::SaveRefusal(const std::string& path, Platform::SaveFailure* why) const {
    if (!m_bProjectLoaded) return kSaveNoProject;
    // Deleted records are left out of the file; a set with no live point
    // could never be read back, so the old file stays as it is.
    bool anyLive = false;
    for (int i = 0; i < m_points.GetCount() && !anyLive; ++i)
        anyLive = m_points.GetPoint(i)->id >= 0;
    if (!anyLive) return kSaveAllDeleted;
    // A file the user may not write, or a folder where nothing can be
    // created, is refused before anything changes.
    const std::string target = Platform::SaveTarget(path);
    const std::string folder = target.find('/') == std::string::npos
                                   ? std::string(".")
                                   : target.substr(0, std::max<size_t>(1, target.rfind('/')));
    const bool fileRefused = access(target.c_str(), F_OK) == 0 && access(target.c_str(), W_OK) != 0;
    if (fileRefused || access(folder.c_str(), W_OK | X_OK) != 0) {
        if (why) *why = Platform::SaveFailure{errno, false, !fileRefused};
        return kSaveCannotWrite;
    }
    return kSaved;
}

int CProject::Save(const std::string& path) {
    m_lastSaveFailure = Platform::SaveFailure{};
    if (const int refusal = SaveRefusal(path, &m_lastSaveFailure); refusal != kSaved)
        return refusal;
    // Every save compacts: besides dropping deleted records this takes the
    // header bounds from the live records, which moves along a ray may have
    // carried outside the bounds the file was loaded with. The editor
    // records the compaction, so earlier steps stay undoable.
    CRenumbering renumbering;
    m_editor.Compact(renumbering);
    Renumbered(renumbering);
    // A temporary beside the file, renamed over it once complete: a failure
    // at any step leaves the previous file untouched.
    const int written = SavePointsFile(m_points, path, &m_lastSaveFailure);
    if (written == -1) return kSaveOpenFailed;
    if (written != 1) return kSaveWriteFailed;
    // The statuses' sidecar belongs to the file as this program wrote it.
    PointsFileIdentity identity;
    ReadPointsFileIdentity(path, identity);
    m_checks.SetPointsFileIdentity(identity);
    m_editor.MarkSaved();
    m_strPointsPath = path;
    Emit({ProjectChange::HistoryChanged});
    // The statuses follow the renumbered records into their sidecar at once,
    // now with the edits this save made lasting.
    m_checks.MarkSaved();
    m_checks.MarkStatusesChanged();
    Emit({ProjectChange::ChecksChanged});
    return kSaved;
}

int CProject::SaveCheckStatuses(const std::string& pointsPath) {
    if (!m_bProjectLoaded) return 0;
    // Edits not saved yet are not written as edited: they may still be lost.
    // Statuses not written (the points file was replaced by another program)
    // stay pending for this program's next save.
    return m_checks.SaveStatuses(pointsPath.empty() ? m_strPointsPath : pointsPath);
}

int CProject::SetSelectionToSurface(int* without) {
    const std::vector<int> indices = m_editor.SelectionIndices();
    std::vector<SurfaceTarget> targets;
    SurfaceTargetOptions options;
    options.keepXY = m_bFixesKeepXY;
    if (m_checks.Ranking())
        ComputeSurfaceTargets(*m_checks.Ranking(), m_leftPhoto, indices, targets, options);
    else
        ComputeSurfaceTargets(m_points, m_leftPhoto, indices, targets, CheckOptions(), options);
    std::vector<PointTarget> moves;
    int missing = 0;
    for (const SurfaceTarget& t : targets) {
        if (t.status == TargetStatus::Converged)
            moves.push_back({t.index, t.x, t.y, t.z});
        else if (t.status != TargetStatus::NotLive)
            ++missing;
    }
    if (without) *without = missing;
    if (moves.empty() || m_editor.MovePointsTo(moves, EditKind::SetToSurface) < 0) return -1;
    return static_cast<int>(moves.size());
}

int CProject::MatchSelection(int* total, std::vector<MatchResult>* results,
                             const MatchProgress& progress, const std::atomic<bool>* cancel) {
    if (total) *total = 0;
    if (results) results->clear();
    if (!m_bProjectLoaded) return -1;
    const std::vector<int> indices = m_editor.SelectionIndices();
    if (indices.empty()) return -2;
    if (total) *total = static_cast<int>(indices.size());
    MatchOptions options = m_matchOptions;
    options.keepXY = m_bFixesKeepXY;
    std::vector<MatchResult> matches;
    // The neighbours' surface the queue keeps current, rather than one built
    // from every point at each Match Z.
    if (!m_checks.IsRanked()) m_checks.Rank();
    const CLocalSurface* surface = m_checks.Ranking() ? &m_checks.Ranking()->Surface() : nullptr;
    const int matched = MatchPoints(m_points, m_leftPhoto, m_rightPhoto, surface, indices, true,
                                    options, matches, progress, cancel);
    if (matched == -3) return -4;
    if (matched < 0) return -3;
    std::vector<PointTarget> moves;
    std::vector<int> moved, unmatched;
    for (const MatchResult& r : matches) {
        if (r.status == MatchStatus::Matched) {
            moves.push_back({r.index, r.x, r.y, r.z});
            moved.push_back(r.index);
        } else {
            unmatched.push_back(r.index);
        }
    }
    // The weight rule on release: the matched points count as edited; the
    // others only when the selection had been edited before.
    const bool editedBefore = m_bZEdited;
    if (!moves.empty() && m_editor.MovePointsTo(moves, EditKind::MatchZ) < 0) return -3;
    if (!moves.empty() && !editedBefore) m_editor.SetSelection(moved);
    m_editor.ReleaseSelection();
    m_editor.SetSelection(unmatched);
    m_bZEdited = false;
    if (results) *results = std::move(matches);
    return matched;
}

int CProject::NextSuspect() {
    const int index = m_checks.Next();
    Emit({ProjectChange::ChecksChanged});
    return index;
}

int CProject::PreviousSuspect() {
    const int index = m_checks.Previous();
    if (index >= 0) Emit({ProjectChange::ChecksChanged});
    return index;
}

int CProject::AcceptSuspect() {
    const int index = m_checks.Accept();
    if (index >= 0) Emit({ProjectChange::ChecksChanged});
    return index;
}

bool CProject::SelectSuspect(int index) {
    const TINPoint* l =
        m_leftPhoto.m_pImagePoints ? m_leftPhoto.m_pImagePoints->GetPoint(index) : nullptr;
    const TINPoint* r =
        m_rightPhoto.m_pImagePoints ? m_rightPhoto.m_pImagePoints->GetPoint(index) : nullptr;
    if (!l || !r || !std::isfinite(l->x) || !std::isfinite(l->y)) return false;
    // The suspect becomes the selection (the one released first, weight rule).
    m_editor.ReleaseSelection();
    m_editor.Select(index);
    Emit({ProjectChange::ChecksChanged});
    return true;
}
