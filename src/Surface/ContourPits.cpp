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
// highest and the lowest (record indices, and their heights), the highest
// and lowest height among the others, and whether it lies on the hull. One
// cache line per record: the pass reaches records in the triangles' order.
struct Around {
    int32_t high = -1, low = -1;
    bool hull = false;
    double highZ = -INFINITY, lowZ = INFINITY;
    double nextHigh = -INFINITY, nextLow = INFINITY;
};

}  // namespace

std::vector<int> FindContourPits(const CSurface& surface, const CContours& contours,
                                 const CTINPoints& ground) {
    std::vector<int> found;
    const double d = contours.Interval();
    if (!(d > 0.0) || surface.TriangleCount() == 0) return found;
    const auto n = static_cast<size_t>(surface.RecordCount());
    std::vector<Around> a(n);
    // An edge is seen from both its triangles: a neighbour already taken as
    // the highest (lowest) is not taken again as the next.
    auto see = [&](Around& v, int w, double z) {
        if (v.high != w) {
            if (z > v.highZ) {
                v.nextHigh = std::max(v.nextHigh, v.highZ);
                v.high = w, v.highZ = z;
            } else {
                v.nextHigh = std::max(v.nextHigh, z);
            }
        }
        if (v.low != w) {
            if (z < v.lowZ) {
                v.nextLow = std::min(v.nextLow, v.lowZ);
                v.low = w, v.lowZ = z;
            } else {
                v.nextLow = std::min(v.nextLow, z);
            }
        }
    };
    for (int t = 0; t < surface.Slots(); ++t) {
        if (!surface.IsTriangle(t)) continue;
        const int v[3] = {surface.Vertex(t, 0), surface.Vertex(t, 1), surface.Vertex(t, 2)};
        const double z[3] = {surface.Z(v[0]), surface.Z(v[1]), surface.Z(v[2])};
        for (int k = 0; k < 3; ++k) {
            const int k1 = (k + 1) % 3, k2 = (k + 2) % 3;
            Around& around = a[static_cast<size_t>(v[k])];
            see(around, v[k1], z[k1]);
            see(around, v[k2], z[k2]);
            if (surface.Neighbour(t, k) < 0)
                a[static_cast<size_t>(v[k1])].hull = a[static_cast<size_t>(v[k2])].hull = true;
        }
    }

    // Live records that are no vertex: hidden behind one at the same X, Y.
    // Usually none.
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
        const Around& around = a[static_cast<size_t>(v)];
        if (!surface.IsVertex(v) || around.hull || around.high < 0) return false;
        const double top = std::max(std::fabs(around.highZ), std::fabs(surface.Z(v)));
        return std::max(top, std::fabs(around.lowZ)) / d <= kLevelLimit;
    };
    std::vector<int> ring;
    auto take = [&](std::initializer_list<int> vertices) {
        ring.assign(vertices.begin(), vertices.end());
        for (int v : vertices) behind(v, ring);
        if (ring.size() <= 2) found.insert(found.end(), ring.begin(), ring.end());
    };
    for (int p = 0; p < surface.RecordCount(); ++p) {
        if (!usable(p)) continue;
        const Around& s = a[static_cast<size_t>(p)];
        const double z = surface.Z(p);
        if (LevelBetween(s.highZ, z, d) || LevelBetween(z, s.lowZ, d)) take({p});
        // A pair of peaks: each the other's highest neighbour, both above
        // every other neighbour of either (pits alike). Each pair once.
        if (s.high > p && a[static_cast<size_t>(s.high)].high == p && usable(s.high) &&
            LevelBetween(std::max(s.nextHigh, a[static_cast<size_t>(s.high)].nextHigh),
                         std::min(z, s.highZ), d))
            take({p, s.high});
        if (s.low > p && a[static_cast<size_t>(s.low)].low == p && usable(s.low) &&
            LevelBetween(std::max(z, s.lowZ),
                         std::min(s.nextLow, a[static_cast<size_t>(s.low)].nextLow), d))
            take({p, s.low});
    }
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    return found;
}
