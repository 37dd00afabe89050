// Suspicion scores of ground points and their incremental update. See
// CheckRanking.h.
#include "Checking/CheckRanking.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "Platform/Parallel.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kCheckedWeight = 0.95;

// True when (sa, ia) comes before (sb, ib) in the order worst first.
inline bool Before(double sa, int ia, double sb, int ib) {
    return sa > sb || (sa == sb && ia < ib);
}

}  // namespace

CCheckRanking::CCheckRanking(const CTINPoints& ground) : m_ground(ground) {}

void CCheckRanking::ScoreOne(int index) {
    const SurfaceEstimate e = m_surface.AtPoint(index);
    m_status[index] = e.status;
    m_reach2[index] = e.status == SurfaceStatus::Deleted ? 0.0 : e.reach2;
    if (e.status != SurfaceStatus::Fitted) {
        m_score[index] = m_residual[index] = m_spread[index] = m_height[index] = kNaN;
        return;
    }
    m_residual[index] = m_surface.Z(index) - e.height;
    m_spread[index] = e.spread;
    m_height[index] = e.height;
    SetScore(index);
}

void CCheckRanking::SetScore(int index) {
    if (m_status[index] != SurfaceStatus::Fitted) return;
    double w = m_surface.Weight(index);
    w = w >= 0.0 ? std::min(w, kCheckedWeight) : 0.0;  // NaN counts as 0
    const double factor = 1.0 + m_options.weightGain * (kCheckedWeight - w) / kCheckedWeight;
    const double sigma = std::max(m_spread[index], m_options.noiseFloor);
    m_score[index] = factor * std::fabs(m_residual[index]) / sigma;
}

void CCheckRanking::ScoreAll(const std::vector<int>& indices, int64_t threadedFrom) {
    const int64_t n = static_cast<int64_t>(indices.size());
    constexpr int64_t kChunk = 512;
    const int threads = n >= threadedFrom ? Platform::ThreadCount(m_options.threads, 16) : 1;
    Platform::RunParallel((n + kChunk - 1) / kChunk, threads, [&](int64_t chunk) {
        const int64_t end = std::min(n, (chunk + 1) * kChunk);
        for (int64_t t = chunk * kChunk; t < end; ++t) ScoreOne(indices[t]);
    });
}

int CCheckRanking::Rank(const CheckOptions& options) {
    m_bRanked = false;
    ClearRecords();
    if (m_surface.Build(m_ground, options) < 0) return -1;
    m_options = m_surface.Options();
    const int n = m_surface.Count();
    ResizeRecords(n);
    ReserveForAdditions(m_status, m_score, m_residual, m_spread, m_height, m_reach2, m_marked);
    // Live points in the grid's storage order: neighbours of consecutive
    // points overlap, so their records stay in the cache.
    std::vector<int> order;
    m_surface.Grid().StorageOrder(order);
    ScoreAll(order, 1024);
    m_dMaxReach2 = 0.0;
    std::vector<double> spreads;
    spreads.reserve(order.size());
    for (int i = 0; i < n; ++i) {
        m_dMaxReach2 = std::max(m_dMaxReach2, m_reach2[i]);
        if (m_status[i] == SurfaceStatus::Fitted) spreads.push_back(m_spread[i]);
    }
    const int fitted = static_cast<int>(spreads.size());
    if (m_options.noiseFloor == 0.0) {
        // The typical spread of the set, measured once here (the spread floor
        // when nothing could be scored), and kept for every Update.
        double typical = m_options.spreadFloor;
        if (fitted > 0) {
            const size_t mid = spreads.size() / 2;
            std::nth_element(spreads.begin(), spreads.begin() + static_cast<std::ptrdiff_t>(mid),
                             spreads.end());
            typical = spreads[mid];
        }
        m_options.noiseFloor = m_options.noiseFloorFactor * typical;
        for (int i = 0; i < n; ++i) SetScore(i);
    }
    m_bRanked = true;
    return fitted;
}

void CCheckRanking::ClearRecords() {
    for (auto* v : {&m_score, &m_residual, &m_spread, &m_height, &m_reach2}) v->clear();
    m_status.clear();
    m_marked.clear();
}

void CCheckRanking::ResizeRecords(int n) {
    // Records beyond the old count start deleted and unscored.
    const auto size = static_cast<size_t>(n);
    m_status.resize(size, SurfaceStatus::Deleted);
    for (auto* v : {&m_score, &m_residual, &m_spread, &m_height}) v->resize(size, kNaN);
    m_reach2.resize(size, 0.0);
    m_marked.resize(size, 0);
}

int CCheckRanking::Update(const std::vector<int>& changedIds) {
    if (!m_bRanked) return -1;
    std::vector<int> changed = changedIds;
    std::vector<CLocalSurface::Record> before;
    if (m_surface.Refresh(m_ground, changed, before) < 0) return -2;
    const int n = m_surface.Count();
    const int old = GetCount();
    ResizeRecords(n);

    // A point that is not itself changed has, as its old neighbourhood, only
    // unchanged points, all within its reach; they are all still there, so its
    // new neighbourhood differs only if a changed point now lies within that
    // reach. It must be scored again exactly when a changed point lay, or now
    // lies, within its reach.
    std::vector<uint8_t>& marked = m_marked;  // all 0 between updates
    // Each changed point and then those around it, so that points scored one
    // after the other share their neighbours in the cache.
    std::vector<int> affected;
    const double reach = std::sqrt(m_dMaxReach2);
    auto collectNear = [&](double x, double y) {
        m_surface.Grid().ForEachNear(x, y, reach, [&](int p, double px, double py) {
            if (marked[p] || p >= old) return;
            const double dx = px - x, dy = py - y;
            if (dx * dx + dy * dy <= m_reach2[p]) {
                marked[p] = 1;
                affected.push_back(p);
            }
        });
    };
    for (size_t t = 0; t < changed.size(); ++t) {
        const int c = changed[t];
        if (!marked[c]) {
            marked[c] = 1;
            affected.push_back(c);
        }
        const bool live = m_surface.IsLive(c);
        const bool moved = !(live && before[t].live && before[t].x == m_surface.X(c) &&
                             before[t].y == m_surface.Y(c));
        if (before[t].live && moved) collectNear(before[t].x, before[t].y);
        if (live) collectNear(m_surface.X(c), m_surface.Y(c));
    }
    // An edit's update stays on this thread unless it is large: a helper
    // thread that a busy machine starts late would cost more than it saves.
    ScoreAll(affected, 16384);
    for (int p : affected) {
        m_dMaxReach2 = std::max(m_dMaxReach2, m_reach2[p]);
        marked[p] = 0;
    }
    return static_cast<int>(affected.size());
}

PointScore CCheckRanking::Get(int index) const {
    PointScore s;
    if (index < 0 || index >= GetCount()) return s;
    s.status = m_status[index];
    s.score = m_score[index];
    s.residual = m_residual[index];
    s.spread = m_spread[index];
    s.surface = m_height[index];
    return s;
}

double CCheckRanking::Score(int index) const {
    return index >= 0 && index < GetCount() ? m_score[index] : kNaN;
}

SurfaceStatus CCheckRanking::Status(int index) const {
    return index >= 0 && index < GetCount() ? m_status[index] : SurfaceStatus::Deleted;
}

double CCheckRanking::SurfaceHeight(int index) const {
    return index >= 0 && index < GetCount() ? m_height[index] : kNaN;
}

SurfaceEstimate CCheckRanking::SurfaceAt(double x, double y, int skip) const {
    return m_surface.At(x, y, skip, nullptr);
}

int CCheckRanking::Worst(int top, double minScore, std::vector<int>& out) const {
    return Worst(top, minScore, {}, out);
}

int CCheckRanking::Worst(int top, double minScore, const std::vector<int>& also,
                         std::vector<int>& out) const {
    std::vector<int> picked;
    const int n = GetCount();
    for (int i = 0; i < n; ++i) {
        if (m_status[i] == SurfaceStatus::Fitted && m_score[i] >= minScore) picked.push_back(i);
    }
    // The other source's points below the threshold, each once.
    const size_t scored = picked.size();
    for (int i : also) {
        if (i >= 0 && i < n && m_status[i] == SurfaceStatus::Fitted && !(m_score[i] >= minScore))
            picked.push_back(i);
    }
    if (picked.size() > scored) {
        std::sort(picked.begin() + static_cast<std::ptrdiff_t>(scored), picked.end());
        picked.erase(
            std::unique(picked.begin() + static_cast<std::ptrdiff_t>(scored), picked.end()),
            picked.end());
    }
    auto worstFirst = [&](int a, int b) { return Before(m_score[a], a, m_score[b], b); };
    if (top >= 0 && static_cast<size_t>(top) < picked.size()) {
        std::partial_sort(picked.begin(), picked.begin() + top, picked.end(), worstFirst);
        picked.resize(static_cast<size_t>(top));
    } else {
        std::sort(picked.begin(), picked.end(), worstFirst);
    }
    out.insert(out.end(), picked.begin(), picked.end());
    return static_cast<int>(picked.size());
}

int CCheckRanking::Next(double score, int index) const {
    int best = -1;
    const int n = GetCount();
    for (int i = 0; i < n; ++i) {
        if (m_status[i] != SurfaceStatus::Fitted || !Before(score, index, m_score[i], i)) continue;
        if (best < 0 || Before(m_score[i], i, m_score[best], best)) best = i;
    }
    return best;
}

int CCheckRanking::Previous(double score, int index) const {
    int best = -1;
    const int n = GetCount();
    for (int i = 0; i < n; ++i) {
        if (m_status[i] != SurfaceStatus::Fitted || !Before(m_score[i], i, score, index)) continue;
        if (best < 0 || Before(m_score[best], best, m_score[i], i)) best = i;
    }
    return best;
}

int CCheckRanking::InsufficientCount() const {
    return static_cast<int>(
        std::count(m_status.begin(), m_status.end(), SurfaceStatus::Insufficient));
}
