// How the records of a point set were renumbered: a save's compaction drops
// the deleted records and closes the gaps, and taking one back (or making it
// again) moves every record after a dropped one. Whatever keeps record
// indices (the selection, the polygon, the check statuses, the current
// point of a view) follows one of these.
//
// Record indices throughout: NewIndex(old) is the record's index now, -1
// when it was dropped.
#pragma once

#include <numeric>
#include <utility>
#include <vector>

class CRenumbering {
public:
    // No renumbering: Empty(), every index stays.
    CRenumbering() = default;
    // From the new index of each old record (-1: dropped).
    CRenumbering(std::vector<int> newIndexOfOld) : m_newIndexOfOld(std::move(newIndexOfOld)) {}

    // Every one of `count` records keeps its index.
    static CRenumbering Identity(int count) {
        std::vector<int> same(static_cast<size_t>(count > 0 ? count : 0));
        std::iota(same.begin(), same.end(), 0);
        return CRenumbering(std::move(same));
    }

    bool Empty() const { return m_newIndexOfOld.empty(); }
    // Records before the renumbering.
    int OldCount() const { return static_cast<int>(m_newIndexOfOld.size()); }
    // The new index of record `oldIndex`; -1 when it was dropped or was not
    // a record before.
    int NewIndex(int oldIndex) const {
        return oldIndex >= 0 && oldIndex < OldCount()
                   ? m_newIndexOfOld[static_cast<size_t>(oldIndex)]
                   : -1;
    }
    // True when no record moved and none was dropped (a compaction of a set
    // without deleted records).
    bool KeepsEveryIndex() const {
        for (int i = 0; i < OldCount(); ++i)
            if (m_newIndexOfOld[static_cast<size_t>(i)] != i) return false;
        return true;
    }
    // This renumbering followed by `next`: old index -> index after both.
    // An empty renumbering is the identity over `next`'s old records.
    void Then(const CRenumbering& next) {
        if (Empty()) {
            *this = next;
            return;
        }
        for (int& to : m_newIndexOfOld) to = next.NewIndex(to);
    }
    // Records that end at index `count` or above are gone again (a step
    // taken back had appended them).
    void DropFrom(int count) {
        for (int& to : m_newIndexOfOld)
            if (to >= count) to = -1;
    }
    // Every index of the list to its new index; dropped records leave it.
    void Apply(std::vector<int>& indices) const {
        size_t kept = 0;
        for (int index : indices)
            if (const int to = NewIndex(index); to >= 0) indices[kept++] = to;
        indices.resize(kept);
    }
    const std::vector<int>& NewIndexOfOld() const { return m_newIndexOfOld; }

private:
    std::vector<int> m_newIndexOfOld;
};
