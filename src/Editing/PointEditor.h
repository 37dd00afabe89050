// The edits of the terrain points, on the ground set and the two
// photographs' image-point sets, with their undo history.
//
// One rule holds after every operation here: the three sets are parallel
// (same count; record i of each describes the same point and carries the id
// i, or -1 in all three once deleted), each photograph's image record holds
// the point's sub-image position in that photograph, and every grid index
// holds each live, placed record in the cell of its position. The edits
// reach the points through the left photograph's selection (record indices
// in its `m_selection`); the right photograph's selection follows it.
//
// Units: ground coordinates (X, Y, Z) in the unit of the points file; image
// positions in sub-image pixels (column, row; row 0 at the top of the loaded
// image). With ORVANE_CHECK_INVARIANTS defined (the sanitizer build) the rule
// above is checked after every edit, undo and redo, and a breach aborts.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "Editing/EditHistory.h"
#include "TIN/Renumbering.h"

class CAerialPhoto;
class CTINPoints;

// What an operation of the editor changed, for whoever follows the sets.
enum class EditorChange {
    Edit,        // an edit recorded (or extended) a step: LastChanged lists its records
    Undo,        // a step was taken back: LastChanged, LastRenumbering
    Redo,        // a step was made again: LastChanged, LastRenumbering
    Compaction,  // a save's compaction renumbered the records
    Promotion,   // releasing the selection raised weights to 0.95: LastChanged lists them
    Selection,   // the selection changed, no record did
};

class IEditorListener {
public:
    virtual void OnEditorChange(EditorChange change) = 0;

protected:
    ~IEditorListener() = default;
};

// A new ground position for one record (Set To Surface).
struct PointTarget {
    int index;
    double x, y, z;
};

class CPointEditor {
public:
    // zEdited is the document's flag: the heights of the current selection
    // were changed since it was made (the weight rule on release reads it).
    CPointEditor(CTINPoints& ground, CAerialPhoto& left, CAerialPhoto& right, bool& zEdited);
    CPointEditor(const CPointEditor&) = delete;
    CPointEditor& operator=(const CPointEditor&) = delete;

    // The one listener told of every change below, after it was made (none: nobody).
    void SetListener(IEditorListener* listener) { m_pListener = listener; }

    // --- Edits of the selection. Results: 1 done (a step recorded), or a
    // negative value with nothing changed and no step.
    // A wheel notch: Z += dZ, or with `alongLeftRay` the point moves along its
    // left ray (its left image position stays). Notches on the same
    // selection merge into one step until the selection changes or another
    // edit runs (CloseMerging). -1 empty selection.
    int RaiseSelection(double dZ, bool alongLeftRay);
    // Every selected point to height z along its left ray. -1 empty selection.
    int SetSelectionZ(double z);
    // The least-squares plane Z = a (X - xmin) + b (Y - ymin) + c through the
    // sample records (xmin, ymin: the ground set's bounds), applied to every
    // selected point. -1 empty selection; -2 the samples define no plane.
    // `report` (optional) receives what the fit did to the heights.
    struct PlaneFitReport {
        int points = 0;              // selected points put on the plane
        double rmsChange = 0.0;      // root mean square of their height changes, ground units
        double largestChange = 0.0;  // largest absolute height change, ground units
    };
    int FitSelectionToPlane(const std::vector<int>& sampleIndices, EditKind kind,
                            PlaneFitReport* report = nullptr);
    // Marks every selected point deleted in the three sets and releases the
    // selection (weight rule). -1 empty selection.
    int DeleteSelection();
    // Appends a point seen at left sub-image (column, row) at height z, with
    // weight 1.0, to the three sets (its right position projected). The new
    // index, or -1/-2/-3 when the ground set, the left or the right set
    // refused it (outside its index): nothing then changes.
    int AddPointAt(double column, double row, double z);
    // Moves records to new ground positions, each re-projected into both
    // photographs (left first). -1 nothing to move.
    int MovePointsTo(const std::vector<PointTarget>& targets, EditKind kind);

    // --- Selection (not steps).
    void Select(int index);  // appends record `index` to both photographs' selections
    // The weight rule: false when the selection is empty; otherwise, when
    // zEdited is set, every selected live point below weight 0.95 gets 0.95
    // (folded into the latest step, so undoing it restores the weights too),
    // zEdited is cleared and both selections emptied.
    // `promoted` (optional) tells whether any weight changed.
    bool ReleaseSelection(bool* promoted = nullptr);
    std::vector<int> SelectionIndices() const;
    // Mean ground height of the selected live points; false when none is.
    bool SelectionMeanZ(double& z) const;
    void SetSelection(const std::vector<int>& indices);
    // Appends every live record whose left sub-image position lies in the
    // rectangle (bounds included) to both selections, in record order.
    void SelectInRect(double left, double top, double right, double bottom);
    // Makes room for a selection of every record at once, so that the first
    // selection over a whole project costs no more than later ones (the
    // memory is taken and touched here, after a load, not during a drag).
    void PrepareSelection();

    // --- Undo and redo.
    bool CanUndo() const { return m_history.StepToUndo() != nullptr; }
    bool CanRedo() const { return m_history.StepToRedo() != nullptr; }
    // Name of the step an undo / redo would take back or do again ("" none).
    std::string UndoName() const;
    std::string RedoName() const;
    // Takes back the last step (and any save's compaction after it): records,
    // image positions, deleted marks, order, indexes, selection and zEdited
    // as before the step. The step's name, or "" when there was none.
    std::string Undo();
    std::string Redo();
    // Ends the merging of wheel notches (another command ran, the selection changed).
    void CloseMerging();
    // True when the sets are as the last save (or load) left them.
    bool AtSavedState() const { return m_history.AtSavedState(); }
    void MarkSaved() { m_history.MarkSaved(); }
    void ClearHistory();
    CEditHistory& History() { return m_history; }
    // Steps dropped by the history's memory limit since the last call.
    int TakeDroppedSteps();
    // Record indices the last edit, undo or redo changed (appended ones included).
    const std::vector<int>& LastChanged() const { return m_lastChanged; }
    // When the last undo or redo took back or made again a save's compaction,
    // the index each record had before it has now (-1: the record was
    // dropped; records put back have no old index); empty when indices did
    // not change. Whatever keeps record indices must follow it, as after Compact.
    const CRenumbering& LastRenumbering() const { return m_lastRenumbering; }

    // --- Saving.
    // Drops deleted records from the three sets, renumbers the rest (ids =
    // indices), recomputes the ground bounds (Compact) and rebuilds the
    // indexes; the selection follows its points. Recorded in the history.
    // `renumbering` receives each old record's new index (-1: removed).
    void Compact(CRenumbering& renumbering);

    // The rule of this editor (see above): true when it holds.
    bool CheckParallel(std::string* why = nullptr) const;

private:
    RecordState Capture(int index) const;
    void Restore(int index, const RecordState& state);
    // Step under construction: records each touched index's before state once.
    struct Recorder;
    void Commit(EditStep&& step);
    // The selection becomes these records, with no change reported.
    void ReplaceSelection(const std::vector<int>& indices);
    void ApplyStep(const EditStep& step, bool forward);
    // Both return the index map of the compaction made or taken back (old
    // index -> new index, -1 for a dropped record).
    CRenumbering ApplyCompaction(CompactionEntry& entry);
    CRenumbering UndoCompaction(const CompactionEntry& entry);
    // Records the weights a release promoted (index now, weight before) in
    // the latest step.
    void FoldPromotions(const std::vector<std::pair<int, double>>& promotedIndices);
    // Follows m_lastRenumbering by one more map (countBefore: the records
    // before the undo or redo began).
    void NoteRenumbering(int countBefore, const CRenumbering& renumbering);
    // Record `index` dZ higher on its left ray (ground units).
    void MoveAlongLeftRay(int index, double dZ);
    void RebuildIndexes();
    void Verify() const;
    void AfterEdit(EditorChange change);
    void Notify(EditorChange change) const {
        if (m_pListener) m_pListener->OnEditorChange(change);
    }
    void NoteChanged(const EditStep& step);

    CTINPoints& m_ground;
    CAerialPhoto& m_left;
    CAerialPhoto& m_right;
    bool& m_bZEdited;
    CEditHistory m_history;
    int m_nDropped = 0;
    std::vector<char> m_touched;     // per record: touched by the step being recorded
    std::vector<int> m_lastChanged;  // records the last edit, undo or redo changed
    CRenumbering m_lastRenumbering;  // see LastRenumbering
    bool m_bOpenStepStale = false;   // notches since the open wheel step's after states
    IEditorListener* m_pListener = nullptr;
};
