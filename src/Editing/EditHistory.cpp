#include "Editing/EditHistory.h"

#include <utility>

const char* EditName(EditKind kind) {
    switch (kind) {
        case EditKind::Wheel:
            return "Raise Or Lower";
        case EditKind::SetZ:
            return "Set To A New Z";
        case EditKind::FitToPlane:
            return "Fit To Plane";
        case EditKind::Smooth:
            return "Smooth";
        case EditKind::Delete:
            return "Delete Points";
        case EditKind::AddPoint:
            return "Add Point";
        case EditKind::SetToSurface:
            return "Set To Surface";
        case EditKind::MatchZ:
            return "Match Z";
    }
    return "Edit";
}

size_t EditStep::Bytes() const {
    return sizeof(EditStep) + changes.capacity() * sizeof(RecordChange) +
           appended.capacity() * sizeof(RecordState) +
           (selectionBefore.capacity() + selectionAfter.capacity()) * sizeof(int32_t);
}

size_t CompactionEntry::Bytes() const {
    return sizeof(CompactionEntry) + removed.capacity() * sizeof(removed[0]) +
           selectionBefore.capacity() * sizeof(int32_t);
}

void CEditHistory::Clear() {
    m_entries.clear();
    m_nPosition = 0;
    m_nSaved = 0;
    m_nBytes = 0;
}

void CEditHistory::DropUndone() {
    if (m_nPosition >= m_entries.size()) return;
    // The undone entries can no longer be redone; neither can a save among
    // them be reached again.
    if (m_nSaved > static_cast<long>(m_nPosition)) m_nSaved = -1;
    for (size_t i = m_nPosition; i < m_entries.size(); ++i) m_nBytes -= m_entries[i].countedBytes;
    m_entries.erase(m_entries.begin() + static_cast<std::ptrdiff_t>(m_nPosition), m_entries.end());
}

int CEditHistory::Push(HistoryEntry&& entry) {
    DropUndone();
    entry.countedBytes = entry.Bytes();
    m_nBytes += entry.countedBytes;
    m_entries.push_back(std::move(entry));
    m_nPosition = m_entries.size();
    // The oldest entries go first; the newest step always stays.
    int droppedSteps = 0;
    size_t drop = 0;
    size_t bytes = m_nBytes;
    while (bytes > m_nLimit && drop + 1 < m_entries.size()) {
        bytes -= m_entries[drop].countedBytes;
        if (!m_entries[drop].isCompaction) ++droppedSteps;
        ++drop;
    }
    if (drop > 0) {
        m_entries.erase(m_entries.begin(), m_entries.begin() + static_cast<std::ptrdiff_t>(drop));
        m_nPosition -= drop;
        m_nSaved = m_nSaved >= static_cast<long>(drop) ? m_nSaved - static_cast<long>(drop) : -1;
        m_nBytes = bytes;
    }
    return droppedSteps;
}

HistoryEntry* CEditHistory::Last() {
    return m_nPosition > 0 ? &m_entries[m_nPosition - 1] : nullptr;
}

const EditStep* CEditHistory::StepToUndo() const {
    for (size_t i = m_nPosition; i-- > 0;)
        if (!m_entries[i].isCompaction) return &m_entries[i].step;
    return nullptr;
}

const EditStep* CEditHistory::StepToRedo() const {
    for (size_t i = m_nPosition; i < m_entries.size(); ++i)
        if (!m_entries[i].isCompaction) return &m_entries[i].step;
    return nullptr;
}
