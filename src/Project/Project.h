// One project of the workstation: a left and a right aerial photograph
// (orientation, image, image-point set, selection, polygon), the ground point
// set the operator edits, the editor that keeps the three sets parallel with
// its undo history, and the check queue of suspect points.
//
// Everything here that changes the project reports the change through one
// events interface (IProjectEvents), whoever started it: an edit through
// the editor, an undo, a save's compaction, a step through the queue. The
// application's document forwards those events to its views and its frame;
// nothing here knows of either.
//
// Units and systems: ground coordinates (X, Y, Z) in the unit of the points
// file; image positions in sub-image pixels of each photograph. Record
// indices throughout (id == index, -1 once deleted).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Checking/CheckQueue.h"
#include "Editing/PointEditor.h"
#include "Matching/Matcher.h"
#include "Photogrammetry/AerialPhoto.h"
#include "Platform/AtomicFile.h"
#include "TIN/TINPoints.h"

// The five inputs of a project, as the image-pair picker gives them.
struct ProjectPaths {
    std::string leftImage;
    std::string rightImage;
    std::string leftOrientation;
    std::string rightOrientation;
    std::string matchedPoints;
};

// The input a load could not take, in the order the inputs are checked.
enum class ProjectInput {
    None,
    LeftImage,
    RightImage,
    MatchedPoints,
    LeftOrientation,
    RightOrientation,
};
// The name the operator knows the input by ("Left Image", ..., "Right
// Orientation Parameters File"); "" for None.
const char* ProjectInputName(ProjectInput input);

struct ProjectLoadResult {
    ProjectInput failed = ProjectInput::None;
    // The file tried, for inputs the operator did not name himself (the
    // orientation files the picker proposed); empty otherwise.
    std::string path;
    // The check statuses' sidecar: CCheckStatuses::Load's result (-2 it
    // belongs to another version of the points file, -3 unreadable).
    int statuses = 0;
    // The last project's statuses not written yet went to its sidecar
    // before the queue was reset: SaveCheckStatuses's result.
    int previousStatuses = 0;
    // Live points of the loaded set, and how many of them project inside
    // each photograph (sub-image positions within its columns and rows): a
    // photograph that lost its sub-image start in a conversion holds none.
    int livePoints = 0;
    int insideLeft = 0;
    int insideRight = 0;
    bool Loaded() const { return failed == ProjectInput::None; }
};

// Results of CProject::Save (and SaveRefusal): 1 saved, or why not.
enum ProjectSaveResult {
    kSaved = 1,
    kSaveNoProject = -1,    // nothing loaded: a points file must not be overwritten with nothing
    kSaveAllDeleted = -2,   // no live point: the file could never be read back
    kSaveCannotWrite = -3,  // the file or its folder may not be written (nothing changed)
    kSaveOpenFailed = -4,   // the temporary beside the file could not be made
    kSaveWriteFailed = -5,  // writing, flushing or renaming failed; the file is as it was
};

enum class ProjectChange {
    Loaded,             // a new project replaced the last one
    PointsEdited,       // records changed: an edit, an undo or a redo (records: the changed ones)
    SelectionChanged,   // the selection changed without an edit
    RecordsRenumbered,  // renumbering: the new index of each old record
    ChecksChanged,      // the queue's statuses, scores or current suspect
    HistoryChanged,     // what Undo and Redo would do
};

struct ProjectEvent {
    ProjectChange change;
    const std::vector<int>* records = nullptr;  // PointsEdited: the changed records
    const CRenumbering* renumbering = nullptr;  // RecordsRenumbered
    // After PointsEdited: the sets are as the last save (or load) left them.
    bool atSavedState = false;
};

class IProjectEvents {
public:
    virtual void OnProjectEvent(const ProjectEvent& event) = 0;

protected:
    ~IProjectEvents() = default;
};

class CProject : private IEditorListener {
public:
    CProject();
    virtual ~CProject();
    CProject(const CProject&) = delete;
    CProject& operator=(const CProject&) = delete;

    // The one receiver of this project's events (none: they are dropped).
    void SetEventSink(IProjectEvents* sink) { m_pEvents = sink; }

    // Loads the five inputs. They are checked in the order of ProjectInput,
    // then read into temporaries; the first failure names the input and
    // leaves the earlier project whole (photographs, points, selection,
    // history, queue). On success the project is replaced in one step:
    // selections and polygons cleared, history cleared, the queue reset with
    // the statuses of the points file's sidecar. `beforeReplace` runs just
    // before (it stops whatever reads the old photographs on a worker).
    ProjectLoadResult Load(const ProjectPaths& paths,
                           const std::function<void()>& beforeReplace = {});
    bool IsProjectLoaded() const { return m_bProjectLoaded; }
    // How many live points project inside the photograph (sub-image
    // positions within its columns and rows).
    int PointsInside(const CAerialPhoto& photo) const;
    // Middle of the points' height range (the view's Default Z after a load).
    double MidHeight() const { return (m_points.m_dMinZ + m_points.m_dMaxZ) / 2.0; }

    // Why a save to `path` would be refused before anything changes
    // (kSaveNoProject, kSaveAllDeleted, kSaveCannotWrite), or kSaved; `why`
    // (optional) receives the system's reason for kSaveCannotWrite.
    int SaveRefusal(const std::string& path, Platform::SaveFailure* why = nullptr) const;
    // Compacts the sets (recorded in the history, so earlier steps stay
    // undoable; everything that keeps record indices follows) and writes the
    // points through a temporary renamed over `path`. On success the history
    // and the queue take this as the saved state and the statuses are
    // written beside `path`. A ProjectSaveResult.
    int Save(const std::string& path);
    // The system's reason for the last refused or failed save (errno and
    // where it failed), for the message's second line.
    const Platform::SaveFailure& LastSaveFailure() const { return m_lastSaveFailure; }

    // Writes the check statuses beside `pointsPath` (empty: the points file
    // as last loaded or saved) when they changed since the last write: 1
    // written, 0 nothing to write, kSidecarPointsReplaced when another
    // program saved the points file since (nothing written, the statuses
    // stay pending), another negative value when the write failed.
    int SaveCheckStatuses(const std::string& pointsPath = {});
    // The points file as last loaded or saved ("" before a load).
    const std::string& PointsPath() const { return m_strPointsPath; }

    // Set To Surface: every selected point to the robust surface of its
    // neighbours along its left ray (its height alone with m_bFixesKeepXY),
    // one step. `without` receives the number of selected points that have
    // no surface to go to. Points moved, or -1.
    int SetSelectionToSurface(int* without = nullptr);

    // Match Z: every selected point to the height the two photographs give
    // (Matching/Matcher.h), along its left ray (its height alone with
    // m_bFixesKeepXY), the search centred on its neighbours' surface. The
    // matched points move as one step ("Match Z"); then the selection is
    // released with the weight rule, the matched points counting as edited,
    // and the points without a match become the selection with m_bZEdited
    // clear. `total` receives the number of selected points and `results`
    // (optional) one result per selected point, in selection order. The
    // number matched (0: nothing changed but the selection); -1 no project
    // loaded, -2 nothing selected, -3 a photograph cannot be matched (no
    // such band or orientation), -4 cancelled through `cancel` (nothing
    // changed). `progress` is called on this thread as points are done.
    int MatchSelection(int* total = nullptr, std::vector<MatchResult>* results = nullptr,
                       const MatchProgress& progress = {},
                       const std::atomic<bool>* cancel = nullptr);
    // How Match Z searches (window, range, thresholds); keepXY follows
    // m_bFixesKeepXY.
    MatchOptions m_matchOptions;
    // Height fixes keep X and Y: Set To Surface and Match Z change Z only
    // (gridded terrain models). Off: points move along their left rays.
    bool m_bFixesKeepXY = false;

    // The check queue's walk (ranking first if needed): the new current
    // suspect, or -1 at the end (nothing changes then). Walking changes no
    // status: Next skips what was accepted or fixed, Previous goes back
    // through this session's visits.
    int NextSuspect();
    int PreviousSuspect();
    // The operator accepts the current suspect as right (key k): checked.
    // The record, or -1 without a current suspect.
    int AcceptSuspect();
    // Makes record `index` the current suspect and the selection (the old
    // selection released first, with the weight rule). False when the record
    // has no finite position in both photographs.
    bool SelectSuspect(int index);
    // The queue's statuses or current suspect were changed from outside
    // (a choice in its table): the event follows.
    void ChecksChangedOutside() { Emit({ProjectChange::ChecksChanged}); }

    // Undo and redo with everything that follows them; the step's name, or
    // "" when there was none.
    std::string Undo() { return m_editor.Undo(); }
    std::string Redo() { return m_editor.Redo(); }

    // Counts every change of the records (edits, undo, redo, compactions,
    // loads): a reader that remembers it knows whether anything changed.
    std::uint64_t EditGeneration() const { return m_nEditGeneration; }

    // Members in the order the project is made and the reverse of the order
    // it goes: whatever reads a photograph on a worker must be declared
    // after the photographs (in a derived class too), so that it is joined
    // before they are freed.
    CAerialPhoto m_leftPhoto;
    CAerialPhoto m_rightPhoto;
    CTINPoints m_points;
    bool m_bZEdited = false;
    // Every edit of the points goes through the editor (and its undo history).
    CPointEditor m_editor{m_points, m_leftPhoto, m_rightPhoto, m_bZEdited};
    // The check queue of the loaded points (ranked when first needed).
    CCheckQueue m_checks{m_points};

private:
    void OnEditorChange(EditorChange change) override;
    void Emit(const ProjectEvent& event) const {
        if (m_pEvents) m_pEvents->OnProjectEvent(event);
    }
    // Projects the ground set into both photographs again and rebuilds the
    // three grid indexes (after the ground set was replaced).
    void RebuildImagePoints();
    // The records were renumbered: the polygons and the queue follow, then
    // the event goes out.
    void Renumbered(const CRenumbering& renumbering);

    IProjectEvents* m_pEvents = nullptr;
    std::string m_strPointsPath;
    Platform::SaveFailure m_lastSaveFailure;
    bool m_bProjectLoaded = false;
    std::uint64_t m_nEditGeneration = 0;
};
