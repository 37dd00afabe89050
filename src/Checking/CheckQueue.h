// The check queue: the operator's walk through the suspect points, worst
// first, with what has been done to each.
//
// It joins the ranking (CheckRanking.h) and the statuses (CheckStatuses.h) of
// one ground set and keeps the current suspect. Moving on from a suspect marks
// it checked; an edit that changes a suspect the operator has visited (the
// current one, or one already checked) marks it edited. The ranking is made
// when first needed (it takes about a second for a million points) and kept
// up to date after edits by scoring again only the neighbourhoods they touch.
// Only saved edits count as edited on disk: the sidecar gets StatusesToKeep,
// where a record edited since the last save keeps the status it had then, so
// an edit lost with the session (closing without saving, a crash) never
// leaves its blunder marked as fixed.
// Record indices throughout; the ground set is referenced, not owned.
#pragma once

#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "Checking/CheckRanking.h"
#include "Checking/CheckStatuses.h"

class CCheckQueue {
public:
    explicit CCheckQueue(const CTINPoints& ground);
    CCheckQueue(const CCheckQueue&) = delete;
    CCheckQueue& operator=(const CCheckQueue&) = delete;

    // A new project: no ranking yet, every record unchecked, no current suspect.
    void Reset();
    bool IsRanked() const { return m_ranking != nullptr; }
    // Ranks the set now (again). The number of points scored.
    int Rank();
    // The records an edit changed (moved, re-weighted, deleted, restored,
    // appended): scored again, and marked edited where visited.
    void PointsChanged(const std::vector<int>& indices);
    // The records were renumbered in their order (a save compacted the set,
    // or an undo took a compaction back): statuses follow the records, the
    // ranking is made again unless nothing moved, the current suspect follows
    // its record (or is gone).
    void PointsRenumbered(const CRenumbering& renumbering);

    // The next / previous suspect in the order (ranking first if needed); the
    // suspect left is marked checked unless it was edited. The new current
    // record, or -1 at the end of the order (the current one then stays).
    int Next();
    int Previous();
    // Makes `index` the current suspect (a choice in the table): the one left
    // is marked checked as by Next. -1 for an index that has no score.
    int SetCurrent(int index);
    int Current() const { return m_nCurrent; }

    // Fitted points scoring at least minScore, worst first (at most `top`,
    // top < 0: all), without the visited ones (checked or edited) when hideChecked.
    std::vector<int> Suspects(double minScore, bool hideChecked, int top = -1) const;

    const CCheckRanking* Ranking() const { return m_ranking.get(); }
    CCheckStatuses& Statuses() { return m_statuses; }
    const CCheckStatuses& Statuses() const { return m_statuses; }
    // Statuses changed since the last TakeStatusesChanged (for the sidecar).
    bool TakeStatusesChanged();
    void MarkStatusesChanged() { m_bStatusesChanged = true; }
    // The points file now holds the records as they are (loaded or saved):
    // their statuses become the ones to keep.
    void MarkSaved();
    // The statuses for the sidecar, by the records of the points file as
    // last loaded or saved (renumberings since are followed back): as now,
    // except that a record edited since the last MarkSaved has its status of
    // then; records appended since are left out.
    CCheckStatuses StatusesToKeep() const;
    // The points file as this program just loaded or saved it (taken by
    // CCheckStatuses::Load, or ReadPointsFileIdentity after a save): the
    // sidecar is written only while the file on disk is still that one.
    void SetPointsFileIdentity(const PointsFileIdentity& identity) { m_fileIdentity = identity; }
    const PointsFileIdentity& FileIdentity() const { return m_fileIdentity; }
    // Writes StatusesToKeep to the sidecar of `pointsPath` when statuses
    // changed since the last write: 0 nothing to write, 1 written, or
    // CCheckStatuses::Save's failure (kSidecarPointsReplaced when another
    // program saved the points file since), in which case the statuses stay
    // pending for the next call (after this program's next load or save).
    int SaveStatuses(const std::string& pointsPath);

private:
    void EnsureRanked();
    void LeaveCurrent();
    void MoveTo(int index);

    const CTINPoints& m_ground;
    std::unique_ptr<CCheckRanking> m_ranking;
    CCheckStatuses m_statuses;
    CCheckStatuses m_savedStatuses;  // as at the last MarkSaved (the file's numbering)
    // Index now of each record of the points file (-1: dropped); empty while
    // the numbering is the file's.
    CRenumbering m_fileToCurrent;
    int m_nCurrent = -1;
    // The current suspect's place in the order when it was visited: a fix
    // lowers its score, and the walk must still go on from where it was.
    double m_dCurrentScore = std::numeric_limits<double>::infinity();
    bool m_bStatusesChanged = false;
    PointsFileIdentity m_fileIdentity;
};
