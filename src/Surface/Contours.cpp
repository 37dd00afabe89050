#include "Surface/Contours.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "Checking/LocalSurface.h"
#include "TIN/TINPoints.h"

namespace {

// Levels beyond this many intervals from 0 are not contoured (a 32-bit level
// number); a triangle crossing more than kMostLevels levels gets only the
// lowest of them, so a mistaken tiny interval cannot exhaust memory.
constexpr double kLevelLimit = 2.0e9;
constexpr int64_t kMostLevels = 100000;

}  // namespace

int CContours::Build(CSurface& surface, double interval) {
    if (!(interval > 0.0) || !std::isfinite(interval)) return -1;
    m_dInterval = interval;
    bool all = false;
    surface.TakeTouched(m_touched, all);
    ++m_nLayout;
    m_segments.clear();
    m_first.assign(static_cast<size_t>(surface.Slots()), -1);
    m_count.assign(static_cast<size_t>(surface.Slots()), 0);
    m_nLive = 0;
    for (int t = 0; t < surface.Slots(); ++t)
        if (surface.IsTriangle(t)) ContourTriangle(surface, t);
    return 1;
}

int CContours::Refresh(CSurface& surface) {
    if (m_dInterval <= 0.0) return 0;
    bool all = false;
    surface.TakeTouched(m_touched, all);
    if (all) {
        Build(surface, m_dInterval);
        return surface.TriangleCount();
    }
    m_first.resize(static_cast<size_t>(surface.Slots()), -1);
    m_count.resize(static_cast<size_t>(surface.Slots()), 0);
    std::sort(m_touched.begin(), m_touched.end());
    m_touched.erase(std::unique(m_touched.begin(), m_touched.end()), m_touched.end());
    for (int t : m_touched) {
        Drop(t);
        if (surface.IsTriangle(t)) ContourTriangle(surface, t);
    }
    if (m_segments.size() > 2 * static_cast<size_t>(m_nLive) + 4096) Pack();
    return static_cast<int>(m_touched.size());
}

void CContours::Drop(int t) {
    const auto s = static_cast<size_t>(t);
    if (m_first[s] < 0) return;
    for (int32_t i = m_first[s]; i < m_first[s] + m_count[s]; ++i)
        m_segments[static_cast<size_t>(i)].triangle = -1;
    m_nLive -= m_count[s];
    m_first[s] = -1;
    m_count[s] = 0;
}

void CContours::Pack() {
    ++m_nLayout;
    size_t kept = 0;
    for (size_t i = 0; i < m_segments.size(); ++i) {
        const ContourSegment& s = m_segments[i];
        if (s.triangle < 0) continue;
        const auto t = static_cast<size_t>(s.triangle);
        if (m_first[t] == static_cast<int32_t>(i)) m_first[t] = static_cast<int32_t>(kept);
        m_segments[kept++] = s;
    }
    m_segments.resize(kept);
}

void CContours::ContourTriangle(const CSurface& surface, int t) {
    int v[3];
    double z[3];
    for (int c = 0; c < 3; ++c) {
        v[c] = surface.Vertex(t, c);
        z[c] = surface.Z(v[c]);
    }
    const double zmin = std::min({z[0], z[1], z[2]}), zmax = std::max({z[0], z[1], z[2]});
    const double d = m_dInterval;
    if (!(zmax > zmin) || std::fabs(zmin) / d > kLevelLimit || std::fabs(zmax) / d > kLevelLimit)
        return;
    // The lowest level above zmin and the highest at or below zmax, with the
    // level heights computed as everywhere below (k x d).
    auto k0 = static_cast<int64_t>(std::floor(zmin / d));
    while (static_cast<double>(k0) * d <= zmin) ++k0;
    while (static_cast<double>(k0 - 1) * d > zmin) --k0;
    const int64_t k1 = std::min(k0 + kMostLevels, static_cast<int64_t>(std::floor(zmax / d)) + 1);
    const auto first = static_cast<int32_t>(m_segments.size());
    for (int64_t k = k0; k <= k1; ++k) {
        const double level = static_cast<double>(k) * d;
        if (level > zmax) break;
        const bool above[3] = {z[0] >= level, z[1] >= level, z[2] >= level};
        // The corner on its own side of the level.
        const int j = above[0] == above[1] ? 2 : (above[0] == above[2] ? 1 : 0);
        const int j1 = (j + 1) % 3, j2 = (j + 2) % 3;
        auto cross = [&](int a, int b, double& x, double& y) {
            const int lo = above[a] ? b : a, hi = above[a] ? a : b;
            const double f = (level - z[lo]) / (z[hi] - z[lo]);
            const double xl = surface.X(v[lo]), yl = surface.Y(v[lo]);
            x = xl + f * (surface.X(v[hi]) - xl);
            y = yl + f * (surface.Y(v[hi]) - yl);
        };
        ContourSegment s{t, static_cast<int32_t>(k), 0, 0, 0.0, 0.0, 0.0, 0.0};
        double xa, ya, xb, yb;
        cross(j, j1, xa, ya);  // on the edge opposite corner j2
        cross(j, j2, xb, yb);  // on the edge opposite corner j1
        if (above[j]) {
            s.from = static_cast<uint8_t>(j2), s.to = static_cast<uint8_t>(j1);
            s.x0 = xa, s.y0 = ya, s.x1 = xb, s.y1 = yb;
        } else {
            s.from = static_cast<uint8_t>(j1), s.to = static_cast<uint8_t>(j2);
            s.x0 = xb, s.y0 = yb, s.x1 = xa, s.y1 = ya;
        }
        m_segments.push_back(s);
    }
    const auto count = static_cast<int32_t>(m_segments.size()) - first;
    if (count > 0) {
        m_first[static_cast<size_t>(t)] = first;
        m_count[static_cast<size_t>(t)] = count;
        m_nLive += count;
    }
}

void CContours::Lines(const CSurface& surface, std::vector<ContourLine>& out) const {
    out.clear();
    std::vector<uint8_t> done(m_segments.size(), 0);
    // The segment of `level` in triangle t that ends (end = true) or starts
    // on the edge opposite `corner`; -1 when there is none.
    auto find = [&](int t, int level, int corner, bool end) -> int {
        const auto s = static_cast<size_t>(t);
        if (t < 0 || s >= m_first.size() || m_first[s] < 0) return -1;
        for (int32_t i = m_first[s]; i < m_first[s] + m_count[s]; ++i) {
            const ContourSegment& g = m_segments[static_cast<size_t>(i)];
            if (g.level == level && (end ? g.to : g.from) == corner) return i;
        }
        return -1;
    };
    auto previous = [&](int i) {
        const ContourSegment& g = m_segments[static_cast<size_t>(i)];
        const int n = surface.Neighbour(g.triangle, g.from);
        return n < 0 ? -1 : find(n, g.level, surface.NeighbourCorner(g.triangle, g.from), true);
    };
    auto next = [&](int i) {
        const ContourSegment& g = m_segments[static_cast<size_t>(i)];
        const int n = surface.Neighbour(g.triangle, g.to);
        return n < 0 ? -1 : find(n, g.level, surface.NeighbourCorner(g.triangle, g.to), false);
    };
    auto trace = [&](int start) {
        ContourLine line;
        const ContourSegment& g = m_segments[static_cast<size_t>(start)];
        line.level = g.level;
        line.height = static_cast<double>(g.level) * m_dInterval;
        line.index = IsIndexLevel(g.level);
        line.points.push_back({g.x0, g.y0});
        for (int i = start; i >= 0 && !done[static_cast<size_t>(i)]; i = next(i)) {
            done[static_cast<size_t>(i)] = 1;
            const ContourSegment& s = m_segments[static_cast<size_t>(i)];
            line.points.push_back({s.x1, s.y1});
            if (next(i) == start) line.closed = true;
        }
        out.push_back(std::move(line));
    };
    // Open lines from their first segment, then the closed ones.
    for (size_t i = 0; i < m_segments.size(); ++i)
        if (m_segments[i].triangle >= 0 && !done[i] && previous(static_cast<int>(i)) < 0)
            trace(static_cast<int>(i));
    for (size_t i = 0; i < m_segments.size(); ++i)
        if (m_segments[i].triangle >= 0 && !done[i]) trace(static_cast<int>(i));
    std::stable_sort(out.begin(), out.end(),
                     [](const ContourLine& a, const ContourLine& b) { return a.level < b.level; });
}

double RoundUpOneTwoFive(double value) {
    if (!(value > 0.0) || !std::isfinite(value)) return 1.0;
    const double base = std::pow(10.0, std::floor(std::log10(value)));
    for (double m : {1.0, 2.0, 5.0, 10.0}) {
        // A hair of slack: log10 and pow may round a power of ten just below.
        if (m * base >= value * (1.0 - 1e-12)) return m * base;
    }
    return 10.0 * base;
}

double DefaultContourInterval(std::vector<double> heights, double spread) {
    heights.erase(
        std::remove_if(heights.begin(), heights.end(), [](double z) { return !std::isfinite(z); }),
        heights.end());
    double range = 0.0;
    if (!heights.empty()) {
        const size_t n = heights.size();
        const auto lo = static_cast<std::ptrdiff_t>(std::floor(0.02 * static_cast<double>(n - 1)));
        const auto hi = static_cast<std::ptrdiff_t>(std::ceil(0.98 * static_cast<double>(n - 1)));
        std::nth_element(heights.begin(), heights.begin() + lo, heights.end());
        const double zlo = heights[static_cast<size_t>(lo)];
        std::nth_element(heights.begin(), heights.begin() + hi, heights.end());
        range = heights[static_cast<size_t>(hi)] - zlo;
    }
    const double wanted = std::max(range / 40.0, 2.5 * (std::isfinite(spread) ? spread : 0.0));
    return wanted > 0.0 ? RoundUpOneTwoFive(wanted) : 1.0;
}

double HeightSpread(const CTINPoints& ground, int samples) {
    CLocalSurface local;
    if (local.Build(ground, CheckOptions()) < 0) return 0.0;
    std::vector<int> live;
    for (int i = 0; i < ground.GetCount(); ++i)
        if (local.IsLive(i)) live.push_back(i);
    if (live.empty() || samples <= 0) return 0.0;
    const size_t stride = std::max<size_t>(1, live.size() / static_cast<size_t>(samples));
    std::vector<double> residuals;
    for (size_t i = 0; i < live.size(); i += stride) {
        const SurfaceEstimate e = local.AtPoint(live[i]);
        if (e.status == SurfaceStatus::Fitted)
            residuals.push_back(std::fabs(local.Z(live[i]) - e.height));
    }
    if (residuals.empty()) return 0.0;
    const auto mid = residuals.begin() + static_cast<std::ptrdiff_t>(residuals.size() / 2);
    std::nth_element(residuals.begin(), mid, residuals.end());
    return 1.4826 * *mid;
}

double DefaultContourInterval(const CTINPoints& ground) {
    std::vector<double> heights;
    for (int i = 0; i < ground.GetCount(); ++i) {
        const TINPoint& p = *ground.GetPoint(i);
        if (p.id >= 0) heights.push_back(double{p.z});  // a copy: the record is packed
    }
    return DefaultContourInterval(std::move(heights), HeightSpread(ground));
}
