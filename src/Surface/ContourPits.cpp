#include "Surface/ContourPits.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <unordered_map>

#include "TIN/TINPoints.h"

namespace {

// Heights beyond this many intervals from 0 are not contoured (Contours.cpp).
constexpr double kLevelLimit = 2.0e9;

// True when a level k x interval lies in (lo, hi], its height computed as the
// contours compute it.
bool LevelBetween(double lo, double hi, double interval) {
    if (!(hi > lo)) return false;
    auto k = static_cast<int64_t>(std::floor(lo / interval));
    while (static_cast<double>(k) * interval <= lo) ++k;
    while (static_cast<double>(k - 1) * interval > lo) --k;
    return static_cast<double>(k) * interval <= hi;
}

// Per record, what one pass over the triangles learns of its neighbours: the
// highest and the lowest (record indices), the highest and lowest height
// among the others, and whether it lies on the hull.
struct Around {
    std::vector<int32_t> high, low;
    std::vector<double> nextHigh, nextLow;
    std::vector<uint8_t> hull;
};

}  // namespace

std::vector<int> FindContourPits(const CSurface& surface, const CContours& contours,
                                 const CTINPoints& ground) {
    std::vector<int> found;
    const double d = contours.Interval();
    if (!(d > 0.0) || surface.TriangleCount() == 0) return found;
    const auto n = static_cast<size_t>(surface.RecordCount());
    Around a;
    a.high.assign(n, -1), a.low.assign(n, -1);
    a.nextHigh.assign(n, -INFINITY), a.nextLow.assign(n, INFINITY);
    a.hull.assign(n, 0);
    // An edge is seen from both its triangles: a neighbour already taken as
    // the highest (lowest) is not taken again as the next.
    auto see = [&](int v, int w) {
        const auto s = static_cast<size_t>(v);
        const double z = surface.Z(w);
        if (a.high[s] != w) {
            if (a.high[s] < 0 || z > surface.Z(a.high[s])) {
                if (a.high[s] >= 0) a.nextHigh[s] = std::max(a.nextHigh[s], surface.Z(a.high[s]));
                a.high[s] = w;
            } else {
                a.nextHigh[s] = std::max(a.nextHigh[s], z);
            }
        }
        if (a.low[s] != w) {
            if (a.low[s] < 0 || z < surface.Z(a.low[s])) {
                if (a.low[s] >= 0) a.nextLow[s] = std::min(a.nextLow[s], surface.Z(a.low[s]));
                a.low[s] = w;
            } else {
                a.nextLow[s] = std::min(a.nextLow[s], z);
            }
        }
    };
    for (int t = 0; t < surface.Slots(); ++t) {
        if (!surface.IsTriangle(t)) continue;
        const int v[3] = {surface.Vertex(t, 0), surface.Vertex(t, 1), surface.Vertex(t, 2)};
        for (int k = 0; k < 3; ++k) {
            see(v[k], v[(k + 1) % 3]);
            see(v[k], v[(k + 2) % 3]);
            if (surface.Neighbour(t, k) < 0)
                a.hull[static_cast<size_t>(v[(k + 1) % 3])] =
                    a.hull[static_cast<size_t>(v[(k + 2) % 3])] = 1;
        }
    }

    // Live records that are no vertex: hidden behind one at the same X, Y
    // (or waiting on a line, away from every triangle). Usually none.
    std::unordered_map<uint64_t, std::vector<int>> hidden;
    auto key = [&](int r) {
        uint64_t kx = 0, ky = 0;
        const double x = surface.X(r), y = surface.Y(r);
        std::memcpy(&kx, &x, sizeof kx);
        std::memcpy(&ky, &y, sizeof ky);
        return kx * 0x9E3779B97F4A7C15ull ^ ky;
    };
    const int records = std::min(surface.RecordCount(), ground.GetCount());
    for (int r = 0; r < records; ++r) {
        const TINPoint& p = *ground.GetPoint(r);
        if (p.id < 0 || surface.IsVertex(r) || !std::isfinite(p.x) || !std::isfinite(p.y) ||
            !std::isfinite(p.z))
            continue;
        hidden[key(r)].push_back(r);
    }
    // The records at vertex v's position besides it.
    auto behind = [&](int v, std::vector<int>& out) {
        if (hidden.empty()) return;
        const auto it = hidden.find(key(v));
        if (it == hidden.end()) return;
        for (int r : it->second)
            if (surface.X(r) == surface.X(v) && surface.Y(r) == surface.Y(v)) out.push_back(r);
    };
    // Inside the hull, with every height of its star contoured.
    auto usable = [&](int v) {
        const auto s = static_cast<size_t>(v);
        if (!surface.IsVertex(v) || a.hull[s] || a.high[s] < 0) return false;
        const double top = std::max(std::fabs(surface.Z(a.high[s])), std::fabs(surface.Z(v)));
        const double bottom = std::fabs(surface.Z(a.low[s]));
        return std::max(top, bottom) / d <= kLevelLimit;
    };
    std::vector<int> ring;
    auto take = [&](std::initializer_list<int> vertices) {
        ring.assign(vertices.begin(), vertices.end());
        for (int v : vertices) behind(v, ring);
        if (ring.size() <= 2) found.insert(found.end(), ring.begin(), ring.end());
    };
    for (int p = 0; p < surface.RecordCount(); ++p) {
        if (!usable(p)) continue;
        const auto s = static_cast<size_t>(p);
        const double z = surface.Z(p);
        const int hi = a.high[s], lo = a.low[s];
        if (LevelBetween(surface.Z(hi), z, d) || LevelBetween(z, surface.Z(lo), d)) take({p});
        // A pair of peaks: each the other's highest neighbour, both above
        // every other neighbour of either (pits alike). Each pair once.
        const auto h = static_cast<size_t>(hi), l = static_cast<size_t>(lo);
        if (hi > p && a.high[h] == p && usable(hi) &&
            LevelBetween(std::max(a.nextHigh[s], a.nextHigh[h]), std::min(z, surface.Z(hi)), d))
            take({p, hi});
        if (lo > p && a.low[l] == p && usable(lo) &&
            LevelBetween(std::max(z, surface.Z(lo)), std::min(a.nextLow[s], a.nextLow[l]), d))
            take({p, lo});
    }
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    return found;
}
