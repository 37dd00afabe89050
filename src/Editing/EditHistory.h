// The undo history of the point editor: what each edit changed, so that it
// can be taken back and done again exactly.
//
// A step keeps, for every record an edit touched (each record once), the
// record's state before and after the edit in all three parallel sets: the
// ground point (x, y, z, weight, in ground units), its sub-image positions in
// the left and the right photograph (pixels) and its id (the same in the
// three sets, -1 once deleted). Points added at the end of the sets are kept
// whole. A step also keeps the selection (record indices) before and after.
//
// A save compacts the sets (deleted records leave them, the others are
// renumbered): the history then holds a compaction entry with the removed
// records and the ground bounds before it, so that a step made before the
// save is undone in the numbering it was made in, and a compaction is done
// again when redoing past it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "TIN/TINPoints.h"

// The edits that are steps; their names show in the Undo and Redo prompts.
enum class EditKind {
    Wheel,         // a wheel notch on the selection (consecutive notches merge)
    SetZ,          // Set To A New Z
    FitToPlane,    // Fit To Plane
    Smooth,        // smoothing (both commands)
    Delete,        // Delete Points
    AddPoint,      // a point added at the floating mark
    SetToSurface,  // Set To Surface (the check queue's fix)
    MatchZ,        // Match Z (heights measured from the photographs)
};
const char* EditName(EditKind kind);

// One record in all three sets.
struct RecordState {
    double x, y, z, weight;  // ground
    double lx, ly;           // left sub-image position
    double rx, ry;           // right sub-image position
    int32_t id;              // -1: deleted
};

struct RecordChange {
    int32_t index;
    RecordState before;
    RecordState after;
};

struct EditStep {
    EditKind kind = EditKind::Wheel;
    std::vector<RecordChange> changes;  // each index once, in the order first touched
    int countBefore = 0;                // records before the step (AddPoint appends after it)
    std::vector<RecordState> appended;  // records the step appended, in order
    std::vector<int32_t> selectionBefore;
    std::vector<int32_t> selectionAfter;
    bool zEditedBefore = false;
    bool zEditedAfter = false;
    bool open = false;  // a wheel step that the next notch on the same selection extends
    size_t Bytes() const;
};

// What a save's compaction took away.
struct CompactionEntry {
    std::vector<std::pair<int32_t, RecordState>> removed;  // index before, in order
    TINExtent groundBounds{};                              // ground bounds before
    std::vector<int32_t> selectionBefore;
    size_t Bytes() const;
};

struct HistoryEntry {
    bool isCompaction = false;
    EditStep step;
    CompactionEntry compaction;
    size_t Bytes() const { return isCompaction ? compaction.Bytes() : step.Bytes(); }
    // What the history counted for this entry when it was pushed: taken off
    // again when the entry goes, whatever a later redo or merge made of it.
    size_t countedBytes = 0;
};

// A linear history with a position: entries before it are done, the ones
// after it undone (and redoable until a new step is recorded).
class CEditHistory {
public:
    explicit CEditHistory(size_t limitBytes = size_t(256) << 20) : m_nLimit(limitBytes) {}

    void Clear();
    // Records a new step (or compaction) at the position; the undone entries
    // after it are dropped. Then the oldest entries are dropped while the
    // history holds more than its limit: the number of steps dropped.
    int Push(HistoryEntry&& entry);
    // Drops the undone entries after the position (a change that is no step
    // of its own, such as a weight promotion, makes them unreachable).
    void DropUndone();
    // The last done entry (null when none): a wheel notch extends it.
    HistoryEntry* Last();

    size_t Position() const { return m_nPosition; }
    size_t Size() const { return m_entries.size(); }
    HistoryEntry& At(size_t i) { return m_entries[i]; }
    void SetPosition(size_t position) { m_nPosition = position; }
    // The done step nearest before the position / the undone one nearest after it.
    const EditStep* StepToUndo() const;
    const EditStep* StepToRedo() const;

    // The position of the last save (none: no saved state is reachable).
    void MarkSaved() { m_nSaved = static_cast<long>(m_nPosition); }
    bool AtSavedState() const { return m_nSaved == static_cast<long>(m_nPosition); }

    size_t Bytes() const { return m_nBytes; }
    size_t Limit() const { return m_nLimit; }
    void SetLimit(size_t bytes) { m_nLimit = bytes; }

private:
    std::vector<HistoryEntry> m_entries;
    size_t m_nPosition = 0;
    long m_nSaved = 0;
    size_t m_nBytes = 0;
    size_t m_nLimit;
};
