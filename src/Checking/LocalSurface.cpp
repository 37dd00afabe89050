// Robust local surface of a ground point set. See LocalSurface.h.
#include "Checking/LocalSurface.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

bool IsUsable(const TINPoint& p) {
    return p.id >= 0 && std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

}  // namespace

void CLocalSurface::CopyRecord(const TINPoint& p, int index) {
    m_live[index] = IsUsable(p) ? 1 : 0;
    m_x[index] = p.x;
    m_y[index] = p.y;
    m_z[index] = p.z;
    m_weight[index] = p.weight;
}

int CLocalSurface::Build(const CTINPoints& ground, const CheckOptions& options) {
    if (options.neighbours < 4 || options.neighbours > kMaxPlaneSamples ||
        options.minNeighbours < 4 || options.minNeighbours > options.neighbours ||
        !(options.searchRadius >= 0.0) || !(options.spreadFloor >= 0.0) ||
        !(options.noiseFloor >= 0.0) || !(options.noiseFloorFactor >= 0.0) ||
        !(options.weightGain >= 0.0) || options.threads < 0) {
        return -1;
    }
    const int n = ground.GetCount();
    m_x.assign(n, 0.0);
    m_y.assign(n, 0.0);
    m_z.assign(n, 0.0);
    m_weight.assign(n, 0.0);
    m_live.assign(n, 0);
    ReserveForAdditions(m_x, m_y, m_z, m_weight, m_live);
    double minX = std::numeric_limits<double>::infinity(), minY = minX;
    double maxX = -minX, maxY = -minX;
    int live = 0;
    for (int i = 0; i < n; ++i) {
        CopyRecord(*ground.GetPoint(i), i);
        if (!m_live[i]) continue;
        ++live;
        minX = std::min(minX, m_x[i]);
        maxX = std::max(maxX, m_x[i]);
        minY = std::min(minY, m_y[i]);
        maxY = std::max(maxY, m_y[i]);
    }
    // The spacing comes from the points themselves: a header's spacing may
    // be off by any factor (a tenth would leave every point without
    // neighbours, a hundredfold would put thousands in each grid cell). A
    // first guess from the density lays out a grid, the median distance from
    // a sample of points to their nearest neighbour is the spacing, and the
    // grid is laid out again when the guess was far off.
    double guess = 1.0;
    if (live > 1 && (maxX - minX) * (maxY - minY) > 0.0) {
        guess = std::sqrt((maxX - minX) * (maxY - minY) / live);
    } else if (live > 1 && std::max(maxX - minX, maxY - minY) > 0.0) {
        guess = std::max(maxX - minX, maxY - minY) / (live - 1);  // all on one line
    }
    m_grid.Build(m_x.data(), m_y.data(), m_live.data(), n, std::sqrt(2.0) * guess);
    m_dSpacing = MedianNearestDistance(guess);
    if (m_dSpacing > 2.0 * guess || m_dSpacing < 0.5 * guess)
        m_grid.Build(m_x.data(), m_y.data(), m_live.data(), n, std::sqrt(2.0) * m_dSpacing);
    m_options = options;
    if (m_options.searchRadius == 0.0) m_options.searchRadius = 8.0 * m_dSpacing;
    if (m_options.spreadFloor == 0.0) m_options.spreadFloor = 0.005 * m_dSpacing;
    return 1;
}

double CLocalSurface::MedianNearestDistance(double fallback) const {
    // Up to kSample live points spread evenly over the record order.
    constexpr int kSample = 4096;
    std::vector<int> live;
    for (int i = 0; i < Count(); ++i)
        if (m_live[i]) live.push_back(i);
    if (live.size() < 2) return fallback;
    const size_t step = std::max<size_t>(1, live.size() / kSample);
    std::vector<double> distances;
    distances.reserve(live.size() / step + 1);
    const double unlimited = std::numeric_limits<double>::infinity();
    for (size_t t = 0; t < live.size(); t += step) {
        const int p = live[t];
        NeighbourHit hit[1];
        // Points at the very same position (repeated records) are no spacing.
        const int found = m_grid.Nearest(
            m_x[p], m_y[p], 1, unlimited,
            [&](int i) { return i != p && (m_x[i] != m_x[p] || m_y[i] != m_y[p]); }, hit);
        if (found == 1) distances.push_back(std::sqrt(hit[0].distance2));
    }
    if (distances.empty()) return fallback;
    const size_t mid = distances.size() / 2;
    std::nth_element(distances.begin(), distances.begin() + static_cast<std::ptrdiff_t>(mid),
                     distances.end());
    const double median = distances[mid];
    return median > 0.0 && std::isfinite(median) ? median : fallback;
}

int CLocalSurface::Refresh(const CTINPoints& ground, std::vector<int>& changed,
                           std::vector<Record>& before) {
    const int old = Count();
    const int n = ground.GetCount();
    if (n < old) return -1;
    // Each changed record once, and every record appended since the copy was
    // made.
    std::vector<int> work;
    work.reserve(changed.size() + static_cast<size_t>(n - old));
    for (int i : changed) {
        if (i >= 0 && i < old) work.push_back(i);
    }
    std::sort(work.begin(), work.end());
    work.erase(std::unique(work.begin(), work.end()), work.end());
    for (int i = old; i < n; ++i) work.push_back(i);
    m_x.resize(n, 0.0);
    m_y.resize(n, 0.0);
    m_z.resize(n, 0.0);
    m_weight.resize(n, 0.0);
    m_live.resize(n, 0);
    before.clear();
    before.reserve(work.size());
    for (int i : work) {
        Record r;
        r.live = m_live[i] != 0;
        r.x = m_x[i];
        r.y = m_y[i];
        r.z = m_z[i];
        r.weight = m_weight[i];
        before.push_back(r);
        CopyRecord(*ground.GetPoint(i), i);
        // The grid changes only when the point moved in X/Y, or appeared or
        // disappeared (most edits change heights and weights alone).
        if (r.live && m_live[i] && r.x == m_x[i] && r.y == m_y[i]) continue;
        if (r.live) m_grid.Remove(i, r.x, r.y);
        if (m_live[i]) m_grid.Insert(i, m_x[i], m_y[i]);
    }
    changed.swap(work);
    return 1;
}

SurfaceEstimate CLocalSurface::AtPoint(int index) const {
    if (index < 0 || index >= Count() || !m_live[index]) {
        SurfaceEstimate e;
        e.status = SurfaceStatus::Deleted;
        return e;
    }
    return At(m_x[index], m_y[index], index, nullptr);
}

SurfaceEstimate CLocalSurface::At(double x, double y, int skip, const uint8_t* skipMask) const {
    SurfaceEstimate e;
    const int k = m_options.neighbours;
    const double radius2 = m_options.searchRadius * m_options.searchRadius;
    NeighbourHit hits[kMaxPlaneSamples];
    int found = 0;
    if (skipMask) {
        found = m_grid.Nearest(
            x, y, k, radius2, [&](int i) { return i != skip && !skipMask[i]; }, hits);
    } else {
        found = m_grid.Nearest(
            x, y, k, radius2, [&](int i) { return i != skip; }, hits);
    }
    e.neighbours = found;
    e.reach2 = found == k ? hits[k - 1].distance2 : radius2;
    if (found < m_options.minNeighbours || found > kMaxPlaneSamples) return e;

    double u[kMaxPlaneSamples], v[kMaxPlaneSamples], z[kMaxPlaneSamples];
    for (int t = 0; t < found; ++t) {
        const int i = hits[t].index;
        u[t] = m_x[i] - x;
        v[t] = m_y[i] - y;
        z[t] = m_z[i];
    }
    PlaneCoefficients plane;
    double residuals[kMaxPlaneSamples];
    double spread = 0.0;
    if (FitRobustPlane(u, v, z, found, m_options.spreadFloor, plane, residuals, spread) < 0) {
        return e;
    }
    e.status = SurfaceStatus::Fitted;
    e.height = plane.height;
    e.slopeX = plane.slopeX;
    e.slopeY = plane.slopeY;
    e.spread = spread;
    return e;
}
