// The check queue: the operator's walk through the suspect points, worst
// first, with what has been done to each.
//
// It joins the ranking (CheckRanking.h) and the statuses (CheckStatuses.h) of
// one ground set and keeps the current suspect. Visiting a suspect changes
// nothing: the operator says what it is. Accept marks it checked (looked at
// and right as it is); an edit that changes a suspect the operator has
// visited (the current one, one visited this session, or one already
// checked) marks it edited. Next goes on to the next suspect still
// unchecked; Previous goes back through the suspects visited this session,
// checked and edited ones included. The ranking is made
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

    // The next unchecked suspect after the furthest one the walk reached, in
    // the order (ranking first if needed); statuses stay as they are. The new
    // current record, or -1 at the end of the order (the current one then
    // stays).
    int Next();
    // The suspect visited before the current one this session (checked and
    // edited ones included, deleted ones passed over), or -1 at the start.
    int Previous();
    // Makes `index` the current suspect (a choice in the table); the walk
    // goes on from it. -1 for an index that has no score.
    int SetCurrent(int index);
    int Current() const { return m_nCurrent; }
    // The operator accepts the current suspect as it is: checked (an edited
    // one stays edited). The record, or -1 without a current suspect.
    int Accept();
    // How many of `records` are checked or edited.
    int ReviewedCount(const std::vector<int>& records) const;

    // Fitted points scoring at least minScore and the Fitted ones among the
    // extra suspects, worst first (at most `top`, top < 0: all), without the
    // visited ones (checked or edited) when hideChecked.
    std::vector<int> Suspects(double minScore, bool hideChecked, int top = -1) const;

    // Records another source puts in the queue whatever their score (the
    // surface's pits and peaks, Surface/ContourPits.h), record indices: each
    // takes its place in the order by its own score, and one that has no
    // score (too few neighbours, deleted) is left out. Next already walks
    // every scored point, so they change what Suspects lists above a
    // threshold, not the walk. They follow renumberings; a load (Reset)
    // drops them. The source is not kept current here: its owner hands in a
    // new list whenever it changes (after a load, an edit, a renumbering).
    void SetExtraSuspects(std::vector<int> records);
    const std::vector<int>& ExtraSuspects() const { return m_extra; }

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
    // Makes `index` current and appends it to this session's visits.
    void Visit(int index);
    bool Visited(int index) const;

    const CTINPoints& m_ground;
    std::unique_ptr<CCheckRanking> m_ranking;
    CCheckStatuses m_statuses;
    CCheckStatuses m_savedStatuses;  // as at the last MarkSaved (the file's numbering)
    // Index now of each record of the points file (-1: dropped); empty while
    // the numbering is the file's.
    CRenumbering m_fileToCurrent;
    int m_nCurrent = -1;
    // The furthest place of the walk in the order (record and its score when
    // it was reached): a fix lowers the score, and the walk must still go on
    // from where it was; going back does not move it.
    int m_nWalkIndex = -1;
    double m_dWalkScore = std::numeric_limits<double>::infinity();
    // The records visited this session in the order they were visited, and
    // the current one's place among them (Previous steps back through them).
    std::vector<int> m_visited;
    int m_nVisitPos = -1;
    bool m_bStatusesChanged = false;
    PointsFileIdentity m_fileIdentity;
    std::vector<int> m_extra;  // sorted, unique
};
