#include "Checking/CheckQueue.h"

#include <cmath>

CCheckQueue::CCheckQueue(const CTINPoints& ground) : m_ground(ground) {}

void CCheckQueue::Reset() {
    m_ranking.reset();
    m_statuses.Reset(m_ground.GetCount());
    m_savedStatuses.Reset(m_ground.GetCount());
    m_fileToCurrent = CRenumbering();
    m_nCurrent = -1;
    m_dCurrentScore = std::numeric_limits<double>::infinity();
    m_bStatusesChanged = false;
    m_fileIdentity = PointsFileIdentity();
}

int CCheckQueue::Rank() {
    m_ranking = std::make_unique<CCheckRanking>(m_ground);
    const int scored = m_ranking->Rank();
    m_statuses.Resize(m_ground.GetCount());
    return scored;
}

void CCheckQueue::EnsureRanked() {
    if (!m_ranking) Rank();
}

void CCheckQueue::PointsChanged(const std::vector<int>& indices) {
    m_statuses.Resize(m_ground.GetCount());
    for (int i : indices) {
        if (i < 0 || i >= m_statuses.GetCount()) continue;
        if (i == m_nCurrent || m_statuses.Get(i) == CheckState::Checked) {
            if (m_statuses.Get(i) != CheckState::Edited) {
                m_statuses.Set(i, CheckState::Edited);
                m_bStatusesChanged = true;
            }
        }
    }
    if (m_ranking && m_ranking->Update(indices) == -2) Rank();
}

void CCheckQueue::PointsRenumbered(const CRenumbering& renumbering) {
    if (m_statuses.Remap(renumbering) < 0) m_statuses.Reset(m_ground.GetCount());
    m_statuses.Resize(m_ground.GetCount());
    // The points file keeps its numbering until the next save (which may
    // still fail): remember where its records are now.
    m_fileToCurrent.Then(renumbering);
    if (m_nCurrent >= 0) m_nCurrent = renumbering.NewIndex(m_nCurrent);
    // A compaction that dropped nothing leaves every record where it was and
    // every neighbourhood as it was: the scores stand.
    const bool same =
        renumbering.OldCount() == m_ground.GetCount() && renumbering.KeepsEveryIndex();
    if (m_ranking && !same) Rank();
    m_bStatusesChanged = true;
}

void CCheckQueue::MarkSaved() {
    m_savedStatuses = m_statuses;
    m_fileToCurrent = CRenumbering();
}

CCheckStatuses CCheckQueue::StatusesToKeep() const {
    // In the numbering of the points file as last loaded or saved.
    const bool renumbered = !m_fileToCurrent.Empty();
    const int count = renumbered ? m_fileToCurrent.OldCount() : m_statuses.GetCount();
    CCheckStatuses keep(count);
    for (int i = 0; i < count; ++i) {
        const int now = renumbered ? m_fileToCurrent.NewIndex(i) : i;
        const CheckState saved = m_savedStatuses.Get(i);
        CheckState state = now >= 0 ? m_statuses.Get(now) : saved;
        if (state == CheckState::Edited && saved != CheckState::Edited) state = saved;
        keep.Set(i, state);
    }
    return keep;
}

int CCheckQueue::SaveStatuses(const std::string& pointsPath) {
    if (!m_bStatusesChanged) return 0;
    const int result = StatusesToKeep().Save(pointsPath, &m_fileIdentity);
    m_bStatusesChanged = result < 0;
    return result;
}

void CCheckQueue::LeaveCurrent() {
    if (m_nCurrent < 0) return;
    if (m_statuses.Get(m_nCurrent) == CheckState::Unchecked) {
        m_statuses.Set(m_nCurrent, CheckState::Checked);
        m_bStatusesChanged = true;
    }
}

void CCheckQueue::MoveTo(int index) {
    LeaveCurrent();
    m_nCurrent = index;
    m_dCurrentScore = m_ranking->Score(index);
}

int CCheckQueue::Next() {
    EnsureRanked();
    const int next = m_ranking->Next(m_dCurrentScore, m_nCurrent);
    if (next < 0) return -1;
    MoveTo(next);
    return next;
}

int CCheckQueue::Previous() {
    EnsureRanked();
    if (m_nCurrent < 0) return -1;
    const int previous = m_ranking->Previous(m_dCurrentScore, m_nCurrent);
    if (previous < 0) return -1;
    MoveTo(previous);
    return previous;
}

int CCheckQueue::SetCurrent(int index) {
    EnsureRanked();
    if (!std::isfinite(m_ranking->Score(index))) return -1;
    MoveTo(index);
    return index;
}

std::vector<int> CCheckQueue::Suspects(double minScore, bool hideChecked, int top) const {
    std::vector<int> all;
    if (!m_ranking) return all;
    m_ranking->Worst(hideChecked ? -1 : top, minScore, all);
    if (!hideChecked) return all;
    std::vector<int> shown;
    for (int i : all) {
        if (m_statuses.Get(i) != CheckState::Unchecked) continue;
        shown.push_back(i);
        if (top >= 0 && static_cast<int>(shown.size()) >= top) break;
    }
    return shown;
}

bool CCheckQueue::TakeStatusesChanged() {
    const bool changed = m_bStatusesChanged;
    m_bStatusesChanged = false;
    return changed;
}
