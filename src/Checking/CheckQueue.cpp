#include "Checking/CheckQueue.h"

#include <algorithm>
#include <cmath>

CCheckQueue::CCheckQueue(const CTINPoints& ground) : m_ground(ground) {}

void CCheckQueue::Reset() {
    m_ranking.reset();
    m_statuses.Reset(m_ground.GetCount());
    m_savedStatuses.Reset(m_ground.GetCount());
    m_fileToCurrent = CRenumbering();
    m_nCurrent = -1;
    m_nWalkIndex = -1;
    m_dWalkScore = std::numeric_limits<double>::infinity();
    m_visited.clear();
    m_nVisitPos = -1;
    m_bStatusesChanged = false;
    m_fileIdentity = PointsFileIdentity();
    m_extra.clear();
}

void CCheckQueue::SetExtraSuspects(std::vector<int> records) {
    std::sort(records.begin(), records.end());
    records.erase(std::unique(records.begin(), records.end()), records.end());
    m_extra.swap(records);
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
        if (i == m_nCurrent || m_statuses.Get(i) == CheckState::Checked || Visited(i)) {
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
    m_nCurrent = renumbering.NewIndex(m_nCurrent);
    m_nWalkIndex = renumbering.NewIndex(m_nWalkIndex);  // gone: the walk goes on from its score
    // The visits follow their records; dropped ones are forgotten.
    std::vector<int> visited;
    int position = -1;
    for (size_t k = 0; k < m_visited.size(); ++k) {
        const int to = renumbering.NewIndex(m_visited[k]);
        if (to >= 0) visited.push_back(to);
        if (static_cast<int>(k) <= m_nVisitPos) position = static_cast<int>(visited.size()) - 1;
    }
    m_visited.swap(visited);
    m_nVisitPos = position;
    // The extra suspects follow their records (in their order: still sorted).
    renumbering.Apply(m_extra);
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

bool CCheckQueue::Visited(int index) const {
    return std::find(m_visited.begin(), m_visited.end(), index) != m_visited.end();
}

void CCheckQueue::Visit(int index) {
    m_nCurrent = index;
    m_visited.push_back(index);
    m_nVisitPos = static_cast<int>(m_visited.size()) - 1;
}

int CCheckQueue::Next() {
    EnsureRanked();
    // From the walk's furthest place, past what the operator has already
    // accepted or fixed.
    double score = m_dWalkScore;
    int index = m_nWalkIndex;
    for (;;) {
        const int next = m_ranking->Next(score, index);
        if (next < 0) return -1;
        score = m_ranking->Score(next);
        index = next;
        if (m_statuses.Get(next) == CheckState::Unchecked) break;
    }
    m_nWalkIndex = index;
    m_dWalkScore = score;
    Visit(index);
    return index;
}

int CCheckQueue::Previous() {
    EnsureRanked();
    for (int k = m_nVisitPos - 1; k >= 0; --k) {
        const int index = m_visited[static_cast<size_t>(k)];
        const TINPoint* p = m_ground.GetPoint(index);
        if (!p || p->id < 0) continue;  // deleted since
        m_nVisitPos = k;
        m_nCurrent = index;
        return index;
    }
    return -1;
}

int CCheckQueue::SetCurrent(int index) {
    EnsureRanked();
    if (!std::isfinite(m_ranking->Score(index))) return -1;
    m_nWalkIndex = index;
    m_dWalkScore = m_ranking->Score(index);
    Visit(index);
    return index;
}

int CCheckQueue::Accept() {
    if (m_nCurrent < 0 || m_nCurrent >= m_statuses.GetCount()) return -1;
    if (m_statuses.Get(m_nCurrent) == CheckState::Unchecked) {
        m_statuses.Set(m_nCurrent, CheckState::Checked);
        m_bStatusesChanged = true;
    }
    return m_nCurrent;
}

int CCheckQueue::ReviewedCount(const std::vector<int>& records) const {
    int reviewed = 0;
    for (int i : records)
        if (m_statuses.Get(i) != CheckState::Unchecked) ++reviewed;
    return reviewed;
}

std::vector<int> CCheckQueue::Suspects(double minScore, bool hideChecked, int top) const {
    std::vector<int> all;
    if (!m_ranking) return all;
    m_ranking->Worst(hideChecked ? -1 : top, minScore, m_extra, all);
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
